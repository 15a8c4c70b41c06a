#include "fixfir/report/picture_files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "fixfir/common/output_file.h"
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

// The folder pictures go to, open to name files in it, and the pictures waiting there
// under temporary names: each is removed again unless it was renamed into place.
struct staged_files {
  int folder = -1;
  std::vector<std::string> names;  // "" once in place
  staged_files() = default;
  staged_files(const staged_files&) = delete;
  staged_files& operator=(const staged_files&) = delete;
  ~staged_files() {
    for (const std::string& name : names) {
      if (!name.empty()) unlinkat(folder, name.c_str(), 0);
    }
    if (folder >= 0) close(folder);
  }
};

// Puts `from` into the destination folder as a new file with a temporary name, made on
// the folder's own file system: renamed when it can be, copied when `from` lies on
// another one. It takes `mode` when there is one (the file it will replace has it). The
// name is added to `staged` as soon as it exists; `target` is the file it will become.
outcome stage(const std::string& from, const std::string& target, std::optional<mode_t> mode,
              staged_files& staged) {
  std::string name;
  const int fd = make_temporary_file(staged.folder, name);
  if (fd < 0) return cannot_write_error("cannot write " + target);
  staged.names.push_back(name);
  // Same file system: the finished picture takes the reserved name at once.
  if (renameat(AT_FDCWD, from.c_str(), staged.folder, name.c_str()) == 0) {
    close(fd);
    if (mode && fchmodat(staged.folder, name.c_str(), *mode, 0) != 0)
      return cannot_write_error("cannot write " + target);
    return success();
  }
  const bool elsewhere = errno == EXDEV;
  if (!elsewhere || (mode && fchmod(fd, *mode) != 0)) {
    error e = cannot_write_error("cannot write " + target);
    close(fd);
    return e;
  }
  if (!copy_into(from, fd)) return cannot_write_error("cannot write " + target);
  return success();
}

// Writes each of `scripts` as plot-k.gp in `folder`.
outcome write_scripts(const std::string& folder, const std::vector<std::string>& scripts) {
  for (std::size_t k = 0; k < scripts.size(); ++k) {
    if (!write_new_file(folder + "/" + script_name(k), scripts[k]))
      return cannot_write_error("cannot write the plot script in " + folder);
  }
  return success();
}

// Whether each of `png_names` is a complete PNG, a plain file, in `folder`.
outcome check_pictures(const std::string& folder, const std::vector<std::string>& png_names) {
  for (const std::string& name : png_names) {
    const std::string path = folder + "/" + name;
    if (const std::string kind = odd_kind(path); !kind.empty())
      return make_error(error_kind::failed, "gnuplot left " + kind + " in place of " + name);
    if (!complete_png(path))
      return make_error(error_kind::failed, "gnuplot did not finish " + name);
  }
  return success();
}

// Makes the text of `extra` from the files gnuplot wrote in `folder`.
result<std::string> make_extra(const std::string& folder, const made_file& extra) {
  std::vector<std::string> inputs(extra.inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (!read_plain_file(folder + "/" + extra.inputs[i], inputs[i]))
      return make_error(error_kind::failed, "gnuplot did not finish " + extra.inputs[i]);
  }
  return extra.make(inputs);
}

// After a drawing that failed: when a file-size limit (ulimit -f) cut one of gnuplot's
// `outputs` in `folder` short, leaving it as long as the limit, says so as the failed write
// of the file in `dir` that it was for. gnuplot does not report that write itself.
error blame_size_limit(const std::string& folder, const std::vector<std::string>& outputs,
                       const std::vector<std::string>& targets, const std::string& dir,
                       error failure) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return failure;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    struct stat info {};
    if (lstat((folder + "/" + outputs[i]).c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<rlim_t>(info.st_size) >= limit.rlim_cur) {
      return cannot_write_error(
          "cannot write " + (std::filesystem::path(dir) / targets[i]).string(), EFBIG);
    }
  }
  return failure;
}

// Moves `names` from `folder` into `dir`, each replacing only a regular file and keeping
// its permission bits: all are checked, then staged there, then renamed into place one
// after another. Nothing in `dir` changes until every one is staged, nor after an
// interrupt.
outcome move_into_place(const std::string& folder, const std::string& dir,
                        const std::vector<std::string>& names) {
  staged_files staged;
  staged.folder = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (staged.folder < 0) return cannot_write_error("cannot write in " + dir);
  std::vector<std::string> targets;
  std::vector<std::optional<mode_t>> modes(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    targets.push_back((std::filesystem::path(dir) / names[i]).string());
    // Something other than a file in a picture's place would stop the final renames half
    // way, or be lost to them; refuse it before anything in `dir` changes.
    if (const std::string problem = replace_problem(staged.folder, names[i], modes[i]);
        !problem.empty()) {
      return make_error(error_kind::cannot_write, "cannot write " + targets[i] + ": " + problem);
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (outcome staged_one = stage(folder + "/" + names[i], targets[i], modes[i], staged);
        !staged_one)
      return staged_one;
  }
  if (interrupted()) return make_error(error_kind::interrupted, "interrupted");
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (renameat(staged.folder, staged.names[i].c_str(), staged.folder, names[i].c_str()) != 0) {
      error e = cannot_write_error("cannot write " + targets[i]);
      // Only a change to `dir` since the check gets here.
      for (std::size_t k = 0; k < i; ++k) e.message += "; " + names[k] + " is new";
      return e;
    }
    staged.names[i].clear();
  }
  return success();
}

}  // namespace

outcome draw_pictures(const std::string& gnuplot, const std::string& script,
                      const std::vector<std::string>& png_names, const std::string& dir,
                      std::optional<std::chrono::milliseconds> time_limit, const made_file* extra) {
  return draw_pictures(gnuplot, std::vector<std::string>{script}, png_names, dir, time_limit,
                       extra);
}

outcome draw_pictures(const std::string& gnuplot, const std::vector<std::string>& scripts,
                      const std::vector<std::string>& png_names, const std::string& dir,
                      std::optional<std::chrono::milliseconds> time_limit, const made_file* extra) {
  const interrupt_guard guard;  // ends last: after the folder and staged files are gone
  temp_folder folder;
  if (outcome made = make_temp_folder(folder); !made) return made;
  if (scripts.empty() || scripts.size() > most_runs) {
    return make_error(error_kind::failed,
                      "cannot draw " + std::to_string(scripts.size()) + " pictures at once");
  }
  // What gnuplot writes, and the file in `dir` each is for.
  std::vector<std::string> outputs = png_names;
  std::vector<std::string> targets = png_names;
  if (extra != nullptr) {
    outputs.insert(outputs.end(), extra->inputs.begin(), extra->inputs.end());
    targets.resize(outputs.size(), extra->name);
  }
  if (outcome written = write_scripts(folder.path, scripts); !written) return written;
  result<std::string> extra_text = std::string();
  outcome drawn = run_gnuplots(gnuplot, folder.path, scripts, time_limit);
  if (drawn) drawn = check_pictures(folder.path, png_names);
  if (drawn && extra != nullptr) {
    extra_text = make_extra(folder.path, *extra);
    if (!extra_text) drawn = std::move(extra_text).failure();
  }
  if (!drawn) {
    if (interrupted()) return drawn;
    return blame_size_limit(folder.path, outputs, targets, dir, std::move(drawn).failure());
  }
  std::vector<std::string> names = png_names;
  if (extra != nullptr) {
    // 0666 before the umask, as for any file a program writes; it may be renamed into place.
    if (!write_new_file(folder.path + "/" + extra->name, extra_text.value(), 0666))
      return cannot_write_error("cannot write " +
                                (std::filesystem::path(dir) / extra->name).string());
    names.push_back(extra->name);
  }
  return move_into_place(folder.path, dir, names);
}

outcome install_file(const std::string& name, std::string_view text, const std::string& dir) {
  const interrupt_guard guard;  // ends last: after the folder and staged file are gone
  temp_folder folder;
  if (outcome made = make_temp_folder(folder); !made) return made;
  if (!write_new_file(folder.path + "/" + name, text, 0666))
    return cannot_write_error("cannot write " + (std::filesystem::path(dir) / name).string());
  return move_into_place(folder.path, dir, {name});
}

}  // namespace fixfir
