#include "fixfir/common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <vector>

namespace fixfir {

namespace {

// Writes the whole of `text` to `fd`; false with errno set. A file-size limit shows here
// as EFBIG (the tools ignore SIGXFSZ, which would otherwise end them).
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
  return true;
}

// Writes `text` whole to the new file `fd`, taking `mode` when given, syncs and closes it;
// false with errno set to what failed first.
bool fill_new_file(int fd, std::string_view text, const std::optional<mode_t>& mode) noexcept {
  const bool ok = write_all(fd, text) && (!mode || fchmod(fd, *mode) == 0) && fsync(fd) == 0;
  const int error = errno;
  if (close(fd) != 0 && ok) return false;
  errno = error;
  return ok;
}

// The next number of a splitmix64 sequence.
std::uint64_t next_number(std::uint64_t& state) noexcept {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15U);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
  return z ^ (z >> 31);
}

// A descriptor closed at the end of its scope.
struct descriptor {
  int fd = -1;
  descriptor() = default;
  explicit descriptor(int opened) : fd(opened) {}
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  ~descriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::string replace_problem(int folder, const std::string& name, std::optional<mode_t>& mode) {
  mode.reset();
  struct stat info {};
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? std::string() : std::strerror(errno);
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return std::strerror(EISDIR);
  }
  if (!S_ISREG(info.st_mode)) {
    errno = 0;  // no call failed: the file is of a kind that is not replaced
    return "not a regular file";
  }
  mode = static_cast<mode_t>(info.st_mode & 0777);
  return {};
}

int make_temporary_file(int folder, std::string& name) {
  static constexpr char letters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr std::uint64_t letter_count = sizeof letters - 1;
  static std::atomic<std::uint64_t> calls{0};
  // Names differ between processes (the time and the process id) and between calls in one.
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t call = calls.fetch_add(1);
  std::uint64_t state = static_cast<std::uint64_t>(now.tv_nsec) ^
                        (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                        (static_cast<std::uint64_t>(getpid()) << 40) ^ next_number(call);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t bits = next_number(state);
    name = ".fixfir-";
    for (int k = 0; k < 6; ++k, bits /= letter_count) name += letters[bits % letter_count];
    // 0666 before the umask, as for any file a program writes.
    const int fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

outcome replace_file(const std::string& path, std::string_view text) {
  // `error` is the errno of the call that failed (0 where none did), kept for the callers
  // that raise their own kind of error.
  const auto failed = [&path](int error, const std::string& why) {
    return fixfir::error{error_kind::cannot_write, "cannot write " + path + ": " + why, error};
  };
  const auto failed_with = [&failed](int error) { return failed(error, std::strerror(error)); };
  const std::filesystem::path target(path);
  const std::string name = target.filename().string();
  if (name.empty() || name == "." || name == "..") return failed_with(EISDIR);
  // Every step below names the file within its folder, so the temporary name's length
  // never counts against the path's.
  const std::string folder_path = target.has_parent_path() ? target.parent_path().string() : ".";
  const descriptor folder(open(folder_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (folder.fd < 0) return failed_with(errno);
  std::optional<mode_t> mode;
  errno = 0;
  if (std::string problem = replace_problem(folder.fd, name, mode); !problem.empty())
    return failed(errno, problem);
  std::string temporary;
  const int fd = make_temporary_file(folder.fd, temporary);
  if (fd < 0) return failed_with(errno);
  bool ok = fill_new_file(fd, text, mode);
  int error = ok ? 0 : errno;
  if (ok && renameat(folder.fd, temporary.c_str(), folder.fd, name.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (ok) return success();
  unlinkat(folder.fd, temporary.c_str(), 0);
  return failed_with(error);
}

outcome replace_files(const std::filesystem::path& folder, std::span<const named_text> files) {
  const descriptor at(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (at.fd < 0)
    return fixfir::error{error_kind::cannot_write,
                         "cannot write " + folder.string() + ": " + std::strerror(errno), errno};
  std::vector<std::string> temporaries;
  const auto fail = [&](const std::string& name, int code, const std::string& why) {
    for (const std::string& t : temporaries) unlinkat(at.fd, t.c_str(), 0);
    return fixfir::error{error_kind::cannot_write,
                         "cannot write " + (folder / name).string() + ": " + why, code};
  };
  for (const named_text& f : files) {
    std::optional<mode_t> mode;
    errno = 0;
    if (const std::string problem = replace_problem(at.fd, f.name, mode); !problem.empty())
      return fail(f.name, errno, problem);
    std::string temporary;
    const int fd = make_temporary_file(at.fd, temporary);
    if (fd < 0) return fail(f.name, errno, std::strerror(errno));
    temporaries.push_back(temporary);
    if (!fill_new_file(fd, f.text, mode)) return fail(f.name, errno, std::strerror(errno));
  }
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (renameat(at.fd, temporaries[k].c_str(), at.fd, files[k].name.c_str()) != 0) {
      const int error = errno;
      // Those before are in place now; only the rest are removed.
      temporaries.erase(temporaries.begin(), temporaries.begin() + static_cast<std::ptrdiff_t>(k));
      return fail(files[k].name, error, std::strerror(error));
    }
  }
  return success();
}

namespace {

// Whether `name` is to be replaced by a new file rather than written in place, and the path
// of the file replaced: `name` itself when nothing is there or a regular file is, the file
// it links to when that is a regular file. Anything else (a folder, a device, a link to
// one, a link to nothing, a name that cannot be looked at) is left to fopen.
bool replacement_target(const char* name, std::string& target) {
  target = name;
  struct stat info {};
  if (lstat(name, &info) != 0) return errno == ENOENT;
  if (S_ISLNK(info.st_mode)) {
    char* real = realpath(name, nullptr);
    if (real == nullptr) return false;
    target = real;
    std::free(real);
    if (stat(target.c_str(), &info) != 0) return false;
  }
  return S_ISREG(info.st_mode);
}

// The new file not yet in place, for remove_pending_output: its folder and its name, which
// is of fixed length (make_temporary_file).
volatile std::sig_atomic_t pending_folder = -1;
char pending_name[32] = {};

void hold_pending(const output_file& out) noexcept {
  pending_folder = -1;
  const std::size_t n = std::min(out.temporary.size(), sizeof pending_name - 1);
  std::memcpy(pending_name, out.temporary.data(), n);
  pending_name[n] = '\0';
  pending_folder = out.folder;
}

// Opens the new file that will replace `target` (replacement_target); false with errno set.
bool open_replacement(output_file& out, const std::string& target) {
  // A file that may not be written is not replaced, even where the folder would let a new
  // one take its place.
  if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) return false;
  const std::filesystem::path path(target);
  out.name = path.filename().string();
  const std::string folder_path = path.has_parent_path() ? path.parent_path().string() : ".";
  out.folder = open(folder_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (out.folder < 0) return false;
  if (!replace_problem(out.folder, out.name, out.mode).empty()) {
    if (errno == 0) errno = EINVAL;
    return false;
  }
  const int fd = make_temporary_file(out.folder, out.temporary);
  if (fd < 0) return false;
  out.file = fdopen(fd, "w");
  if (out.file != nullptr) {
    hold_pending(out);
    return true;
  }
  const int error = errno;
  close(fd);
  unlinkat(out.folder, out.temporary.c_str(), 0);
  errno = error;
  return false;
}

// Lets go of the folder, removing the new file first unless it was put in place.
void release_folder(output_file& out, bool remove) noexcept {
  if (out.folder < 0) return;
  pending_folder = -1;
  const int error = errno;
  if (remove) unlinkat(out.folder, out.temporary.c_str(), 0);
  close(out.folder);
  out.folder = -1;
  errno = error;
}

}  // namespace

bool open_output(output_file& out, const char* name) noexcept {
  out.file = nullptr;
  out.failed = false;
  out.folder = -1;
  try {
    std::string target;
    if (!replacement_target(name, target)) {
      out.file = std::fopen(name, "w");
      return out.file != nullptr;
    }
    if (open_replacement(out, target)) return true;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
  }
  release_folder(out, false);
  return false;
}

void write_output(output_file& out, std::string_view data) noexcept {
  if (out.file == nullptr || data.empty()) return;
  if (std::fwrite(data.data(), 1, data.size(), out.file) != data.size()) out.failed = true;
}

bool close_output(output_file& out) noexcept {
  if (out.file == nullptr) return false;
  if (std::fflush(out.file) != 0 || std::ferror(out.file) != 0) out.failed = true;
  // The new file takes the earlier one's permission bits. It is not synced: a failed write
  // shows without that, and syncing would cost the run more than the writing does.
  if (out.folder >= 0 && !out.failed && out.mode && fchmod(fileno(out.file), *out.mode) != 0)
    out.failed = true;
  if (std::fclose(out.file) != 0) out.failed = true;
  out.file = nullptr;
  if (out.folder >= 0 && !out.failed &&
      renameat(out.folder, out.temporary.c_str(), out.folder, out.name.c_str()) != 0)
    out.failed = true;
  release_folder(out, out.failed);
  return !out.failed;
}

void discard_output(output_file& out) noexcept {
  if (out.file != nullptr) std::fclose(out.file);
  out.file = nullptr;
  release_folder(out, true);
}

void remove_pending_output() noexcept {
  const int folder = pending_folder;
  if (folder >= 0) unlinkat(folder, pending_name, 0);
}

void say(std::FILE* console, std::string_view message) noexcept {
  std::fwrite(message.data(), 1, message.size(), console);
  std::fflush(console);
}

}  // namespace fixfir
