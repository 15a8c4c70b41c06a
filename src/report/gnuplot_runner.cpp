#include "fixfir/report/gnuplot_runner.h"

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
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "picture_run.h"

namespace fixfir {

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

std::chrono::milliseconds gnuplot_time_limit(std::string_view script) {
  const auto lines = std::count(script.begin(), script.end(), '\n');
  return std::chrono::seconds(60) + std::chrono::milliseconds(lines);
}

std::string script_name(std::size_t k) { return "plot-" + std::to_string(k) + ".gp"; }

namespace {

// Picture k's messages: "gnuplot-k.log" in the private folder.
std::string log_name(std::size_t k) { return "gnuplot-" + std::to_string(k) + ".log"; }

// See interrupt_guard.
volatile std::sig_atomic_t interrupting_signal = 0;
volatile std::sig_atomic_t gnuplot_pids[most_runs] = {};
constexpr int held_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
static_assert(std::size(held_signals) == held_signal_count);

extern "C" void hold_interrupt(int sig) {
  const int saved = errno;
  interrupting_signal = sig;
  for (const volatile std::sig_atomic_t& pid : gnuplot_pids) {
    if (pid > 0) kill(static_cast<pid_t>(pid), sig);
  }
  errno = saved;
}

}  // namespace

interrupt_guard::interrupt_guard() {
  interrupting_signal = 0;
  struct sigaction hold {};
  hold.sa_handler = hold_interrupt;
  sigemptyset(&hold.sa_mask);
  for (std::size_t i = 0; i < std::size(held_signals); ++i) {
    held[i] = sigaction(held_signals[i], nullptr, &earlier[i]) == 0 &&
              earlier[i].sa_handler != SIG_IGN && sigaction(held_signals[i], &hold, nullptr) == 0;
  }
}

interrupt_guard::~interrupt_guard() {
  for (std::size_t i = 0; i < std::size(held_signals); ++i) {
    if (held[i]) sigaction(held_signals[i], &earlier[i], nullptr);
  }
  if (interrupted()) {
    std::signal(interrupting_signal, SIG_DFL);
    raise(interrupting_signal);
  }
}

bool interrupted() { return interrupting_signal != 0; }

namespace {

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
// in gnuplot-k.log. Fails when it could not be started.
outcome start_gnuplot(const std::string& gnuplot, const std::string& folder,
                      std::chrono::milliseconds limit, gnuplot_run& run) {
  const std::string log_path = folder + "/" + log_name(run.slot);
  const std::string script = script_name(run.slot);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  int report[2] = {-1, -1};  // tells the parent why exec failed
  if (null_fd < 0 || log_fd < 0 || pipe2(report, O_CLOEXEC) != 0) {
    const int code = errno;
    if (null_fd >= 0) close(null_fd);
    if (log_fd >= 0) close(log_fd);
    return error{error_kind::failed, "cannot prepare to run gnuplot: " + error_text(code), code};
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
    return error{error_kind::failed, "cannot run " + gnuplot + ": " + error_text(fork_error),
                 fork_error};
  }
  run.pid = pid;
  int exec_error = 0;
  ssize_t got = 0;
  do {
    got = read(report[0], &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof exec_error)) run.exec_error = exec_error;
  return success();
}

// Whether the reaped `run`, which ended with wait status `raw`, drew its picture; if not,
// why.
outcome run_outcome(const std::string& gnuplot, const std::string& folder, const gnuplot_run& run,
                    int raw) {
  if (run.exec_error != 0) {
    return error{error_kind::failed, "cannot run " + gnuplot + ": " + error_text(run.exec_error),
                 run.exec_error};
  }
  if (WIFEXITED(raw) && WEXITSTATUS(raw) == 0) return success();
  std::string message = WIFEXITED(raw)
                            ? "gnuplot failed (status " + std::to_string(WEXITSTATUS(raw)) + ")"
                            : "gnuplot was stopped by signal " + std::to_string(WTERMSIG(raw));
  if (const std::string line = last_log_line(folder + "/" + log_name(run.slot)); !line.empty())
    message += ": " + line;
  return make_error(error_kind::failed, std::move(message));
}

}  // namespace

outcome run_gnuplots(const std::string& gnuplot, const std::string& folder,
                     const std::vector<std::string>& scripts,
                     std::optional<std::chrono::milliseconds> time_limit) {
  gnuplot_run runs[most_runs];
  std::vector<outcome> outcomes(scripts.size(), success());
  bool failed = false;
  for (std::size_t k = 0; k < scripts.size() && !failed; ++k) {
    runs[k].slot = k;
    outcomes[k] = start_gnuplot(gnuplot, folder,
                                time_limit.value_or(gnuplot_time_limit(scripts[k])), runs[k]);
    failed = !outcomes[k];
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
        outcomes[k] =
            error{error_kind::failed, "lost track of gnuplot: " + error_text(errno), errno};
      } else if (done == run.pid && !terminated[k]) {
        outcomes[k] = run_outcome(gnuplot, folder, run, raw);
      }
      if (done == run.pid || lost) {
        // One ended for being late keeps that message; one ended for another's failure
        // or an interrupt has none of its own.
        gnuplot_pids[run.slot] = 0;
        run.pid = 0;
        if (!outcomes[k]) failed = true;
        continue;
      }
      running = true;
      const bool late = now >= run.deadline;
      if (!terminated[k] && (late || failed || interrupting_signal != 0)) {
        terminated[k] = true;
        if (late && !failed) {
          outcomes[k] =
              make_error(error_kind::failed,
                         "gnuplot took longer than " +
                             seconds_text(time_limit.value_or(gnuplot_time_limit(scripts[k]))) +
                             " s and was stopped");
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
  if (interrupted()) return make_error(error_kind::interrupted, "interrupted");
  for (outcome& o : outcomes) {
    if (!o) return o;
  }
  return success();
}

}  // namespace fixfir
