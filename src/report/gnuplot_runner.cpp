#include "gnuplot_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

namespace fixfir {

namespace {

// `png_name` is one of the fixed names above, never a user's path.
void append_terminal(std::string& out, int width, int height, const char* png_name) {
  const std::string size = std::to_string(width) + "," + std::to_string(height);
  // Debian's gnuplot-nox has both; the cairo one draws smoother lines.
  out += "if (strstrt(GPVAL_TERMINALS, ' pngcairo ') > 0) {\n";
  out += "  set terminal pngcairo size " + size + " font 'sans,10'\n";
  out += "} else {\n";
  out += "  set terminal png size " + size + "\n";
  out += "}\n";
  out += std::string("set output '") + png_name + "'\n";
}

// The same pictures as SVG for report.html: gnuplot's script for hiding a curve by
// clicking its key entry goes inside the file, and `name` prefixes the element ids so
// that the pictures of one page keep apart.
void append_svg_terminal(std::string& out, int width, int height, const char* name) {
  out += "set terminal svg size " + std::to_string(width) + "," + std::to_string(height) +
         " dynamic font 'sans,10' mouse standalone name '" + name + "'\n";
  out += std::string("set output '") + name + ".svg'\n";
}

}  // namespace

namespace {

// One picture: `append` sets the terminal and the output file after a reset, so nothing set
// for an earlier picture of the same run (labels, arrows, shading) carries over; reset
// leaves the terminal and the output alone.
std::string script_with(void (*append)(std::string&, int, int, const char*), const char* name,
                        int width, int height, const std::string& body) {
  std::string s = "reset\n";
  append(s, width, height, name);
  s += body;
  s += "unset output\n";
  return s;
}

}  // namespace

std::string svg_picture_script(const char* name, int width, int height, const std::string& body) {
  return script_with(append_svg_terminal, name, width, height, body);
}

std::string picture_script(const char* png_name, int width, int height, const std::string& body) {
  return script_with(append_terminal, png_name, width, height, body);
}

std::string find_program(std::string_view program, std::optional<std::string_view> path_list) {
  std::string default_path;
  if (!path_list) {
    default_path.resize(confstr(_CS_PATH, nullptr, 0));
    if (!default_path.empty()) {
      confstr(_CS_PATH, default_path.data(), default_path.size());
      default_path.pop_back();  // the terminating null
    }
  }
  // An empty list, like one of only empty entries, names no folder at all.
  std::string_view path = path_list ? *path_list : default_path;
  while (true) {
    const std::size_t colon = path.find(':');
    const std::string_view dir = path.substr(0, colon);
    // An empty entry would mean the working folder to a shell; here it means nothing, so
    // that a program planted in the folder being worked on is never run by accident.
    if (!dir.empty()) {
      std::string candidate = std::string(dir) + "/" + std::string(program);
      struct stat info {};
      if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
          access(candidate.c_str(), X_OK) == 0) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(candidate, ec);
        return ec ? std::string() : absolute.string();
      }
    }
    if (colon == std::string_view::npos) return {};
    path.remove_prefix(colon + 1);
  }
}

namespace {

// Picture k's script and messages: "plot-k.gp" and "gnuplot-k.log" in the private folder.
std::string script_name(std::size_t k) { return "plot-" + std::to_string(k) + ".gp"; }
std::string log_name(std::size_t k) { return "gnuplot-" + std::to_string(k) + ".log"; }

// gnuplot runs at once, at most: one per picture.
constexpr std::size_t most_runs = 8;

std::string error_text(int error) { return std::strerror(error); }

// An interrupt (Ctrl-C, a hang-up, a plain kill) while pictures are being made is held
// back until the temporary folder and any staged picture are removed: the handler notes
// the signal and passes it on to every gnuplot, and the guard's end raises it again with its
// default action, so the run still ends as the signal asked. A signal ignored when the
// run began (nohup, a background job of a shell) stays ignored, by the run and by gnuplot.
volatile std::sig_atomic_t interrupting_signal = 0;
volatile std::sig_atomic_t gnuplot_pids[most_runs] = {};
constexpr int held_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void hold_interrupt(int sig) {
  const int saved = errno;
  interrupting_signal = sig;
  for (const volatile std::sig_atomic_t& pid : gnuplot_pids) {
    if (pid > 0) kill(static_cast<pid_t>(pid), sig);
  }
  errno = saved;
}

struct interrupt_guard {
  struct sigaction earlier[std::size(held_signals)] = {};
  bool held[std::size(held_signals)] = {};
  interrupt_guard() {
    interrupting_signal = 0;
    struct sigaction hold {};
    hold.sa_handler = hold_interrupt;
    sigemptyset(&hold.sa_mask);
    for (std::size_t i = 0; i < std::size(held_signals); ++i) {
      held[i] = sigaction(held_signals[i], nullptr, &earlier[i]) == 0 &&
                earlier[i].sa_handler != SIG_IGN && sigaction(held_signals[i], &hold, nullptr) == 0;
    }
  }
  interrupt_guard(const interrupt_guard&) = delete;
  interrupt_guard& operator=(const interrupt_guard&) = delete;
  ~interrupt_guard() {
    for (std::size_t i = 0; i < std::size(held_signals); ++i) {
      if (held[i]) sigaction(held_signals[i], &earlier[i], nullptr);
    }
    if (interrupting_signal != 0) {
      std::signal(interrupting_signal, SIG_DFL);
      raise(interrupting_signal);
    }
  }
};

// A private folder under the temporary folder, removed with everything in it at the end.
struct temp_folder {
  std::string path;
  temp_folder() = default;
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;
  ~temp_folder() {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

bool make_temp_folder(temp_folder& folder, std::string& message) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  std::string name = (std::filesystem::path(base) / "fixfir-report-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) {
    message = "cannot make a temporary folder in " + base + ": " + error_text(errno);
    return false;
  }
  folder.path = name;
  return true;
}

// Writes `text` to the new file `path` with `mode` (before the umask); false with errno
// set when any step fails.
bool write_new_file(const std::string& path, std::string_view text, mode_t mode = 0600) {
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

// The last non-blank line of gnuplot's messages, with control characters shown as '?',
// or "" when there are none.
std::string last_log_line(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  std::fseek(f, -2048, SEEK_END);  // fails harmlessly on a shorter file
  char buf[2048];
  const std::size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  std::string_view text(buf, n);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0)
    text.remove_suffix(1);
  const std::size_t start = text.find_last_of('\n');
  if (start != std::string_view::npos) text.remove_prefix(start + 1);
  std::string line(text.substr(0, 200));
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return line;
}

// How long gnuplot has to end after SIGTERM (or the interrupt passed on) before SIGKILL.
constexpr std::chrono::seconds kill_grace{2};

using clock = std::chrono::steady_clock;

// `limit` in seconds, as short as it is exact ("60", "0.3").
std::string seconds_text(std::chrono::milliseconds limit) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(limit.count()) / 1000.0);
  return text;
}

// A gnuplot started on one script, or none (pid 0).
struct gnuplot_run {
  pid_t pid = 0;
  std::size_t slot = 0;  // its place in gnuplot_pids and its file names
  int exec_error = 0;    // why exec failed, or 0
  clock::time_point deadline;
};

// Starts `gnuplot -d plot-k.gp` in `folder` for k = `run.slot`: standard input and output
// on /dev/null (gnuplot writes a picture it cannot store to standard output), its messages
// in gnuplot-k.log. False with `message` set when it could not be started.
bool start_gnuplot(const std::string& gnuplot, const std::string& folder,
                   std::chrono::milliseconds limit, gnuplot_run& run, std::string& message) {
  const std::string log_path = folder + "/" + log_name(run.slot);
  const std::string script = script_name(run.slot);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  int report[2] = {-1, -1};  // tells the parent why exec failed
  if (null_fd < 0 || log_fd < 0 || pipe2(report, O_CLOEXEC) != 0) {
    message = "cannot prepare to run gnuplot: " + error_text(errno);
    if (null_fd >= 0) close(null_fd);
    if (log_fd >= 0) close(log_fd);
    return false;
  }
  // Built before fork: the child may only make async-signal-safe calls.
  const char* const argv[] = {"gnuplot", "-d", script.c_str(), nullptr};
  run.deadline = clock::now() + limit;
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) == 0 && dup2(null_fd, 0) >= 0 && dup2(null_fd, 1) >= 0 &&
        dup2(log_fd, 2) >= 0) {
      execv(gnuplot.c_str(), const_cast<char* const*>(argv));
    }
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = write(report[1], &error, sizeof error);
    _exit(127);
  }
  const int fork_error = errno;
  if (pid > 0) gnuplot_pids[run.slot] = pid;
  if (pid > 0 && interrupting_signal != 0) kill(pid, interrupting_signal);  // came before
  close(null_fd);
  close(log_fd);
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    message = "cannot run " + gnuplot + ": " + error_text(fork_error);
    return false;
  }
  run.pid = pid;
  int exec_error = 0;
  ssize_t got = 0;
  do {
    got = read(report[0], &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof exec_error)) run.exec_error = exec_error;
  return true;
}

// Why the reaped `run`, which ended with wait status `raw`, did not draw its picture, or ""
// when it did.
std::string run_failure(const std::string& gnuplot, const std::string& folder,
                        const gnuplot_run& run, int raw) {
  if (run.exec_error != 0) return "cannot run " + gnuplot + ": " + error_text(run.exec_error);
  if (WIFEXITED(raw) && WEXITSTATUS(raw) == 0) return {};
  std::string message = WIFEXITED(raw)
                            ? "gnuplot failed (status " + std::to_string(WEXITSTATUS(raw)) + ")"
                            : "gnuplot was stopped by signal " + std::to_string(WTERMSIG(raw));
  if (const std::string line = last_log_line(folder + "/" + log_name(run.slot)); !line.empty())
    message += ": " + line;
  return message;
}

// Runs gnuplot on each of `scripts` (written as plot-k.gp in `folder`), all at once, and
// reaps every one of them whatever happens. True when every run succeeded; otherwise
// `message` tells of the first failure in the order of `scripts`, and once one has failed
// the runs still going are ended: SIGTERM, and SIGKILL `kill_grace` later. A run past its
// own time limit is ended the same way, as is every run after an interrupt.
bool run_gnuplots(const std::string& gnuplot, const std::string& folder,
                  const std::vector<std::string>& scripts,
                  std::optional<std::chrono::milliseconds> time_limit, std::string& message) {
  gnuplot_run runs[most_runs];
  std::string failures[most_runs];
  bool failed = false;
  for (std::size_t k = 0; k < scripts.size() && !failed; ++k) {
    runs[k].slot = k;
    failed = !start_gnuplot(gnuplot, folder, time_limit.value_or(gnuplot_time_limit(scripts[k])),
                            runs[k], failures[k]);
  }
  clock::time_point kill_at[most_runs];
  bool terminated[most_runs] = {};
  std::fill(std::begin(kill_at), std::end(kill_at), clock::time_point::max());
  std::chrono::nanoseconds pause = std::chrono::milliseconds(1);
  while (true) {
    bool running = false;
    const clock::time_point now = clock::now();
    for (std::size_t k = 0; k < scripts.size(); ++k) {
      gnuplot_run& run = runs[k];
      if (run.pid == 0) continue;
      int raw = 0;
      const pid_t done = waitpid(run.pid, &raw, WNOHANG);
      const bool lost = done < 0 && errno != EINTR;
      if (lost) {
        failures[k] = "lost track of gnuplot: " + error_text(errno);
      } else if (done == run.pid && !terminated[k]) {
        failures[k] = run_failure(gnuplot, folder, run, raw);
      }
      if (done == run.pid || lost) {
        // One ended for being late keeps that message; one ended for another's failure
        // or an interrupt has none of its own.
        gnuplot_pids[run.slot] = 0;
        run.pid = 0;
        if (!failures[k].empty()) failed = true;
        continue;
      }
      running = true;
      const bool late = now >= run.deadline;
      if (!terminated[k] && (late || failed || interrupting_signal != 0)) {
        terminated[k] = true;
        if (late && !failed) {
          failures[k] = "gnuplot took longer than " +
                        seconds_text(time_limit.value_or(gnuplot_time_limit(scripts[k]))) +
                        " s and was stopped";
        }
        if (late || failed) kill(run.pid, SIGTERM);
        kill_at[k] = now + kill_grace;
      }
      if (now >= kill_at[k]) kill(run.pid, SIGKILL);
    }
    if (!running) break;
    // Short pauses first, as gnuplot is usually done within a second; a signal cuts a
    // pause short.
    const timespec rest{0, static_cast<long>(pause.count())};
    nanosleep(&rest, nullptr);
    pause = std::min<std::chrono::nanoseconds>(pause * 2, std::chrono::milliseconds(50));
  }
  if (interrupting_signal != 0) {
    message = "interrupted";
    return false;
  }
  for (std::size_t k = 0; k < scripts.size(); ++k) {
    if (!failures[k].empty()) {
      message = failures[k];
      return false;
    }
  }
  return true;
}

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

}  // namespace

std::chrono::milliseconds gnuplot_time_limit(std::string_view script) {
  const auto lines = std::count(script.begin(), script.end(), '\n');
  return std::chrono::seconds(60) + std::chrono::milliseconds(lines);
}

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
  namespace fs = std::filesystem;
  const interrupt_guard guard;  // ends last: after the folder and staged files are gone
  temp_folder folder;
  if (!make_temp_folder(folder, message)) return false;
  if (scripts.empty() || scripts.size() > most_runs) {
    message = "cannot draw " + std::to_string(scripts.size()) + " pictures at once";
    return false;
  }
  for (std::size_t k = 0; k < scripts.size(); ++k) {
    if (!write_new_file(folder.path + "/" + script_name(k), scripts[k])) {
      message = "cannot write the plot script in " + folder.path + ": " + error_text(errno);
      return false;
    }
  }
  if (!run_gnuplots(gnuplot, folder.path, scripts, time_limit, message)) return false;
  for (const std::string& name : png_names) {
    const std::string path = folder.path + "/" + name;
    if (const std::string kind = odd_kind(path); !kind.empty()) {
      message = "gnuplot left " + kind + " in place of " + name;
      return false;
    }
    if (!complete_png(path)) {
      message = "gnuplot did not finish " + name;
      return false;
    }
  }
  std::vector<std::string> names = png_names;
  if (extra != nullptr) {
    std::vector<std::string> inputs(extra->inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (!read_plain_file(folder.path + "/" + extra->inputs[i], inputs[i])) {
        message = "gnuplot did not finish " + extra->inputs[i];
        return false;
      }
    }
    std::string text;
    if (!extra->make(inputs, text, message)) return false;
    // 0666 before the umask, as for any file a program writes; it may be renamed into place.
    if (!write_new_file(folder.path + "/" + extra->name, text, 0666)) {
      message = "cannot write " + extra->name + " in " + folder.path + ": " + error_text(errno);
      return false;
    }
    names.push_back(extra->name);
  }
  // A folder in a picture's place would stop the final renames half way; refuse it now,
  // before anything in `dir` changes.
  for (const std::string& name : names) {
    const std::string target = (fs::path(dir) / name).string();
    struct stat info {};
    if (lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      message = "cannot write " + target + ": " + error_text(EISDIR);
      return false;
    }
  }
  if (interrupting_signal != 0) {
    message = "interrupted";
    return false;
  }
  staged_files staged;
  for (const std::string& name : names) {
    if (!stage(folder.path + "/" + name, dir, name, staged, message)) return false;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string target = (fs::path(dir) / names[i]).string();
    if (rename(staged.paths[i].c_str(), target.c_str()) != 0) {
      message = "cannot write " + target + ": " + error_text(errno);
      // Only a change to `dir` since the check above gets here.
      for (std::size_t k = 0; k < i; ++k) message += "; " + names[k] + " is new";
      return false;
    }
    staged.paths[i].clear();
  }
  return true;
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
  if (interrupting_signal != 0) {
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
