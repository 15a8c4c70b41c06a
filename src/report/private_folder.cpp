#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "picture_run.h"

namespace fixfir {

std::string error_text(int error) { return std::strerror(error); }

error cannot_write_error(const std::string& what, int code) {
  return error{error_kind::cannot_write, what + ": " + error_text(code), code};
}

temp_folder::~temp_folder() {
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

outcome make_temp_folder(temp_folder& folder) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  std::string name = (std::filesystem::path(base) / "fixfir-report-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr)
    return cannot_write_error("cannot make a temporary folder in " + base);
  folder.path = name;
  return success();
}

// Writes `text` to the new file `path` with `mode` (before the umask); false with errno
// set when any step fails.
bool write_new_file(const std::string& path, std::string_view text, mode_t mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      close(fd);
      errno = error;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return close(fd) == 0;
}

}  // namespace fixfir
