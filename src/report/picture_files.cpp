#include "fixfir/report/picture_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "picture_run.h"

namespace fixfir {

namespace {

// What lies at `path` when it is not a plain file ("a link", ...), or "" when it is one or
// there is nothing.
std::string odd_kind(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return {};
  if (S_ISLNK(info.st_mode)) return "a link";
  return S_ISDIR(info.st_mode) ? "a folder" : "a special file";
}

// Reads the whole of the plain file at `path` into `text`; false for anything else (a
// link is not followed, a pipe is not waited on) or when reading fails.
bool read_plain_file(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  text.clear();
  char buf[65536];
  while (ok) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return ok;
}

// The signature opens a PNG file and the IEND chunk (empty, with a fixed CRC) closes it.
// Only a plain file counts: a link is not followed, and a pipe is not waited on.
bool complete_png(const std::string& path) {
  static constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  static constexpr unsigned char iend[12] = {0,   0,   0,    0,    'I',  'E',
                                             'N', 'D', 0xae, 0x42, 0x60, 0x82};
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  std::FILE* f = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(fd, "rb") : nullptr;
  if (f == nullptr) {
    close(fd);
    return false;
  }
  unsigned char head[8] = {};
  unsigned char tail[12] = {};
  const bool ok = std::fread(head, 1, sizeof head, f) == sizeof head &&
                  std::fseek(f, -static_cast<long>(sizeof tail), SEEK_END) == 0 &&
                  std::fread(tail, 1, sizeof tail, f) == sizeof tail &&
                  std::memcmp(head, signature, sizeof head) == 0 &&
                  std::memcmp(tail, iend, sizeof tail) == 0;
  std::fclose(f);
  return ok;
}

// Copies the file `from` into the open file `fd`, then syncs and closes it. Closes `fd`
// on every path; false with errno set on failure.
bool copy_into(const std::string& from, int fd) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = in >= 0;
  int error = ok ? 0 : errno;
  char buf[65536];
  while (ok) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      if (!ok) error = errno;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = write(fd, buf + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        error = w < 0 ? errno : EIO;
      } else {
        done += w;
      }
    }
  }
  if (in >= 0) close(in);
  if (ok && fsync(fd) != 0) {
    ok = false;
    error = errno;
  }
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  errno = error;
  return ok;
}

// Pictures waiting in `dir` under temporary names; removed again unless moved into place.
struct staged_files {
  std::vector<std::string> paths;
  staged_files() = default;
  staged_files(const staged_files&) = delete;
  staged_files& operator=(const staged_files&) = delete;
  ~staged_files() {
    for (const std::string& p : paths) {
      if (!p.empty()) unlink(p.c_str());
    }
  }
};

// Puts `from` into `dir` as a new file with a temporary name ("." + name + a number),
// made on the folder's own file system: renamed when it can be, copied when `from` lies
// on another one. The name is added to `staged` as soon as it exists.
bool stage(const std::string& from, const std::string& dir, const std::string& name,
           staged_files& staged, std::string& message) {
  const std::string base = (std::filesystem::path(dir) / ("." + name + ".")).string();
  int fd = -1;
  std::string path;
  for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    path = base + std::to_string(getpid()) + "-" + std::to_string(attempt);
    // 0666 before the umask, as for any file a program writes.
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  const std::string target = (std::filesystem::path(dir) / name).string();
  if (fd < 0) {
    message = "cannot write " + target + ": " + error_text(errno);
    return false;
  }
  staged.paths.push_back(path);
  // Same file system: the finished picture takes the reserved name at once.
  if (rename(from.c_str(), path.c_str()) == 0) {
    close(fd);
    return true;
  }
  if (errno != EXDEV) {
    message = "cannot write " + target + ": " + error_text(errno);
    close(fd);
    return false;
  }
  if (!copy_into(from, fd)) {
    message = "cannot write " + target + ": " + error_text(errno);
    return false;
  }
  return true;
}

// Writes each of `scripts` as plot-k.gp in `folder`.
bool write_scripts(const std::string& folder, const std::vector<std::string>& scripts,
                   std::string& message) {
  for (std::size_t k = 0; k < scripts.size(); ++k) {
    if (!write_new_file(folder + "/" + script_name(k), scripts[k])) {
      message = "cannot write the plot script in " + folder + ": " + error_text(errno);
      return false;
    }
  }
  return true;
}

// Whether each of `png_names` is a complete PNG, a plain file, in `folder`.
bool check_pictures(const std::string& folder, const std::vector<std::string>& png_names,
                    std::string& message) {
  for (const std::string& name : png_names) {
    const std::string path = folder + "/" + name;
    if (const std::string kind = odd_kind(path); !kind.empty()) {
      message = "gnuplot left " + kind + " in place of " + name;
      return false;
    }
    if (!complete_png(path)) {
      message = "gnuplot did not finish " + name;
      return false;
    }
  }
  return true;
}

// Makes `extra` in `folder` from the files gnuplot wrote there.
bool make_extra(const std::string& folder, const made_file& extra, std::string& message) {
  std::vector<std::string> inputs(extra.inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (!read_plain_file(folder + "/" + extra.inputs[i], inputs[i])) {
      message = "gnuplot did not finish " + extra.inputs[i];
      return false;
    }
  }
  std::string text;
  if (!extra.make(inputs, text, message)) return false;
  // 0666 before the umask, as for any file a program writes; it may be renamed into place.
  if (!write_new_file(folder + "/" + extra.name, text, 0666)) {
    message = "cannot write " + extra.name + " in " + folder + ": " + error_text(errno);
    return false;
  }
  return true;
}

// A folder in a file's place would stop the final renames half way; refuse it before
// anything in `dir` changes.
bool no_folder_in_place(const std::string& dir, const std::vector<std::string>& names,
                        std::string& message) {
  for (const std::string& name : names) {
    const std::string target = (std::filesystem::path(dir) / name).string();
    struct stat info {};
    if (lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      message = "cannot write " + target + ": " + error_text(EISDIR);
      return false;
    }
  }
  return true;
}

// Moves `names` from `folder` into `dir`: all are staged there first, then renamed into
// place one after another.
bool move_into_place(const std::string& folder, const std::string& dir,
                     const std::vector<std::string>& names, std::string& message) {
  staged_files staged;
  for (const std::string& name : names) {
    if (!stage(folder + "/" + name, dir, name, staged, message)) return false;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string target = (std::filesystem::path(dir) / names[i]).string();
    if (rename(staged.paths[i].c_str(), target.c_str()) != 0) {
      message = "cannot write " + target + ": " + error_text(errno);
      // Only a change to `dir` since no_folder_in_place gets here.
      for (std::size_t k = 0; k < i; ++k) message += "; " + names[k] + " is new";
      return false;
    }
    staged.paths[i].clear();
  }
  return true;
}

}  // namespace

bool draw_pictures(const std::string& gnuplot, const std::string& script,
                   const std::vector<std::string>& png_names, const std::string& dir,
                   std::string& message, std::optional<std::chrono::milliseconds> time_limit,
                   const made_file* extra) {
  return draw_pictures(gnuplot, std::vector<std::string>{script}, png_names, dir, message,
                       time_limit, extra);
}

bool draw_pictures(const std::string& gnuplot, const std::vector<std::string>& scripts,
                   const std::vector<std::string>& png_names, const std::string& dir,
                   std::string& message, std::optional<std::chrono::milliseconds> time_limit,
                   const made_file* extra) {
  const interrupt_guard guard;  // ends last: after the folder and staged files are gone
  temp_folder folder;
  if (!make_temp_folder(folder, message)) return false;
  if (scripts.empty() || scripts.size() > most_runs) {
    message = "cannot draw " + std::to_string(scripts.size()) + " pictures at once";
    return false;
  }
  if (!write_scripts(folder.path, scripts, message) ||
      !run_gnuplots(gnuplot, folder.path, scripts, time_limit, message) ||
      !check_pictures(folder.path, png_names, message))
    return false;
  std::vector<std::string> names = png_names;
  if (extra != nullptr) {
    if (!make_extra(folder.path, *extra, message)) return false;
    names.push_back(extra->name);
  }
  if (!no_folder_in_place(dir, names, message)) return false;
  if (interrupted()) {
    message = "interrupted";
    return false;
  }
  return move_into_place(folder.path, dir, names, message);
}

bool install_file(const std::string& name, std::string_view text, const std::string& dir,
                  std::string& message) {
  const interrupt_guard guard;  // ends last: after the folder and staged file are gone
  temp_folder folder;
  if (!make_temp_folder(folder, message)) return false;
  const std::string made = folder.path + "/" + name;
  if (!write_new_file(made, text, 0666)) {
    message = "cannot write " + name + " in " + folder.path + ": " + error_text(errno);
    return false;
  }
  const std::string target = (std::filesystem::path(dir) / name).string();
  struct stat info {};
  if (lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    message = "cannot write " + target + ": " + error_text(EISDIR);
    return false;
  }
  staged_files staged;
  if (!stage(made, dir, name, staged, message)) return false;
  if (interrupted()) {
    message = "interrupted";
    return false;
  }
  if (rename(staged.paths[0].c_str(), target.c_str()) != 0) {
    message = "cannot write " + target + ": " + error_text(errno);
    return false;
  }
  staged.paths[0].clear();
  return true;
}

}  // namespace fixfir
