#pragma once
// Running the built tool under adverse conditions: stdout and stderr kept apart, a time
// limit, standard input from a pipe that closes, a memory or file-size limit, and an unprivileged
// user so that permission bits mean something when the suite runs as root.

#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <string>

#include "tool_runner.h"

namespace fixfir_test {

/// The result of one run: exit status and both output streams.
struct fault_run {
  int status = -1;  ///< exit status, or -1 when the process did not exit normally
  std::string console;
  std::string errors;
};

/// How the answers reach the tool.
enum class answer_source {
  file,          ///< standard input is a file holding the answers
  closing_pipe,  ///< a pipe that delivers the answers and then closes, a moment later
  closed         ///< no standard input at all: descriptor 0 is closed
};

/// Limits and identity of a run.
struct run_conditions {
  answer_source source = answer_source::file;
  bool unprivileged = false;  ///< run as "nobody" when the suite itself runs as root
  bool limited_memory = false;
  int memory_limit_kib = 130000;  ///< with `limited_memory`, the `ulimit -v` outside ASan
  int time_limit_seconds = 60;    ///< the run is killed (status 137) when it takes longer
  long file_size_limit = 0;       ///< bytes any file the run writes may hold (0: no limit)
  /// Shell redirections that replace the capture of stdout and stderr (e.g. ">&-").
  std::string output_redirection = {};
};

/// Whether the tool under test was built with AddressSanitizer (which reserves far more
/// address space than any `ulimit -v` allows).
inline constexpr bool sanitized_build =
#ifdef FIXFIR_SANITIZED
    true;
#else
    false;
#endif

/// True when permission bits do not bind this process (root).
inline bool permissions_ignored() { return geteuid() == 0; }

/// Whether a run as "nobody" is possible: always as an ordinary user (who simply runs
/// as themself), and as root when setpriv can switch users here.
inline bool unprivileged_runs_work() {
  static const bool works =
      !permissions_ignored() ||
      std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true >/dev/null 2>&1") == 0;
  return works;
}

/// The shell words that apply `c` to the command that follows them.
inline std::string condition_prefix(const run_conditions& c) {
  std::string prefix = "timeout -s KILL " + std::to_string(c.time_limit_seconds) + " ";
  if (c.limited_memory) {
    if (sanitized_build) {
      // ASan cannot start under `ulimit -v`; make its allocator refuse big requests
      // with a null result instead, as a failed allocation would.
      const char* base = std::getenv("ASAN_OPTIONS");
      prefix = std::string("ASAN_OPTIONS=") +
               shell_quote(std::string(base != nullptr ? base : "") +
                           ":allocator_may_return_null=1:max_allocation_size_mb=64") +
               " " + prefix;
    } else {
      prefix = "ulimit -v " + std::to_string(c.memory_limit_kib) + " && " + prefix;
    }
  }
  if (c.file_size_limit > 0) prefix += "prlimit --fsize=" + std::to_string(c.file_size_limit) + " ";
  if (c.unprivileged && permissions_ignored()) {
    prefix += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  return prefix;
}

/// Runs the tool in `dir` with `answers`. As root, an unprivileged run uses a copy of
/// the executable that "nobody" can reach, and `dir` must be usable by "nobody".
inline fault_run run_faulted(const scratch_dir& dir, const std::string& answers,
                             const run_conditions& c = {}) {
  // Beside the directory, so that the run sees only what the test put in it.
  const std::string base = dir.path.string();
  const fs::path in = base + ".stdin";
  const fs::path out = base + ".stdout";
  const fs::path err = base + ".stderr";
  const fs::path exe_copy = base + ".exe";
  std::string exe = FIXFIR_EXE;
  if (c.unprivileged && permissions_ignored()) {
    fs::copy_file(exe, exe_copy, fs::copy_options::overwrite_existing);
    fs::permissions(exe_copy, fs::perms(0755));
    exe = exe_copy.string();
  }
  write_file(in, answers);
  std::string input;
  if (c.source == answer_source::file) input = " < " + shell_quote(in.string());
  if (c.source == answer_source::closed) input = " <&-";
  std::string cmd = "cd " + shell_quote(dir.path.string()) + " && ";
  if (c.source == answer_source::closing_pipe) {
    cmd += "{ cat " + shell_quote(in.string()) + "; sleep 0.2; } | ";
  }
  const std::string output = c.output_redirection.empty() ? " > " + shell_quote(out.string()) +
                                                                " 2> " + shell_quote(err.string())
                                                          : " " + c.output_redirection;
  cmd += "{ " + condition_prefix(c) + shell_quote(exe) + input + output + "; }";
  const int raw = std::system(cmd.c_str());
  fault_run r;
  if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  r.console = read_file(out);
  r.errors = read_file(err);
  std::error_code ec;
  for (const fs::path& p : {in, out, err, exe_copy}) fs::remove(p, ec);
  return r;
}

/// What is at a path: absent, a directory, a link (with its target) or a regular file
/// (with its bytes and permission bits). Two equal snapshots mean the path was untouched.
inline std::string snapshot(const fs::path& p) {
  std::error_code ec;
  const fs::file_status s = fs::symlink_status(p, ec);
  if (!fs::exists(s)) return "absent";
  const auto mode = std::to_string(static_cast<unsigned>(s.permissions()));
  if (fs::is_symlink(s)) return "link to " + fs::read_symlink(p, ec).string();
  if (fs::is_directory(s)) {
    const auto entries = std::distance(fs::directory_iterator(p, ec), fs::directory_iterator());
    return "directory " + mode + " with " + std::to_string(entries) + " entries";
  }
  return "file " + mode + ": " + read_file(p);
}

}  // namespace fixfir_test
