#include "fixfir/common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fixfir {

namespace {

// Writes the whole of `text` to `fd` and syncs it; false with errno set.
bool write_all(int fd, std::string_view text) noexcept {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return fsync(fd) == 0;
}

}  // namespace

outcome replace_file(const std::string& path, std::string_view text) {
  const auto failed = [&path](int error) {
    return fixfir::error{error_kind::cannot_write,
                         "cannot write " + path + ": " + std::strerror(error), error};
  };
  const std::filesystem::path target(path);
  const std::string name = target.filename().string();
  if (name.empty() || name == "." || name == "..") return failed(EISDIR);
  // A folder in the file's place would only show at the rename; say so before writing.
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return failed(EISDIR);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  const std::string base = (folder / ("." + name + ".")).string() + std::to_string(getpid()) + "-";
  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = base + std::to_string(attempt);
    // 0666 before the umask, as for any file a program writes.
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return failed(errno);
  bool ok = write_all(fd, text);
  int error = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (ok) return success();
  unlink(temporary.c_str());
  return failed(error);
}

bool open_output(output_file& out, const char* name) noexcept {
  out.file = std::fopen(name, "w");
  out.failed = false;
  return out.file != nullptr;
}

void write_output(output_file& out, std::string_view data) noexcept {
  if (out.file == nullptr || data.empty()) return;
  if (std::fwrite(data.data(), 1, data.size(), out.file) != data.size()) out.failed = true;
}

bool close_output(output_file& out) noexcept {
  if (out.file == nullptr) return false;
  if (std::ferror(out.file) != 0) out.failed = true;
  if (std::fclose(out.file) != 0) out.failed = true;
  out.file = nullptr;
  return !out.failed;
}

void say(std::FILE* console, std::string_view message) noexcept {
  std::fwrite(message.data(), 1, message.size(), console);
  std::fflush(console);
}

}  // namespace fixfir
