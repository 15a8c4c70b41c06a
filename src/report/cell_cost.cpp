#include "cell_cost.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "fixfir/coefficients/filter_export.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/measurement/search_text.h"
#include "fixfir/report/gnuplot_runner.h"
#include "fixfir/report/printable_text.h"
#include "fixfir/report/report_progress.h"
#include "picture_run.h"

namespace fixfir {

std::int64_t cells_in_stat(const std::string& text) {
  static constexpr std::string_view label = "Number of cells:";
  const std::size_t at = text.rfind(label);
  if (at == std::string::npos) return -1;
  std::size_t i = at + label.size();
  while (i < text.size() && text[i] == ' ') ++i;
  std::int64_t n = -1;
  // More than 15 digits is no count yosys gives; stopping there keeps n from overflowing.
  for (std::size_t digits = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (++digits > 15) return -1;
    n = (n < 0 ? 0 : n * 10) + (text[i] - '0');
  }
  return n;
}

namespace {

using clock = std::chrono::steady_clock;

// The time one synthesis is given; a 63-tap filter with 14-bit samples takes about 15 s.
constexpr std::chrono::seconds synthesis_limit{300};

// The script yosys runs in its own folder; it holds no user text.
constexpr const char* synthesis_script = "read_verilog filter.v; synth -top fixfir_filter; stat";

struct yosys_run {
  pid_t pid = 0;
  std::string folder;
  clock::time_point deadline;
};

// Starts yosys in `folder` (which holds filter.v), its log in yosys.log there, standard
// input, output and error on /dev/null.
bool start_yosys(const std::string& yosys, yosys_run& run) {
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) return false;
  const char* const argv[] = {"yosys", "-q", "-l", "yosys.log", "-p", synthesis_script, nullptr};
  run.deadline = clock::now() + synthesis_limit;
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(run.folder.c_str()) == 0 && dup2(null_fd, 0) >= 0 && dup2(null_fd, 1) >= 0 &&
        dup2(null_fd, 2) >= 0)
      execv(yosys.c_str(), const_cast<char* const*>(argv));
    _exit(127);
  }
  close(null_fd);
  run.pid = pid > 0 ? pid : 0;
  return pid > 0;
}

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits for `run` to end, ending it when late or interrupted; its cells, or why none.
std::int64_t finish_yosys(yosys_run& run, std::string& problem) {
  bool terminated = false;
  int raw = 0;
  while (waitpid(run.pid, &raw, WNOHANG) == 0) {
    if (!terminated && (clock::now() >= run.deadline || interrupted())) {
      terminated = true;
      kill(run.pid, SIGKILL);
    }
    const timespec rest{0, 20'000'000};
    nanosleep(&rest, nullptr);
  }
  run.pid = 0;
  if (terminated) {
    problem = interrupted() ? "interrupted" : "yosys took longer than 300 s and was stopped";
    return -1;
  }
  if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) {
    problem = WIFEXITED(raw) ? "yosys failed (status " + std::to_string(WEXITSTATUS(raw)) + ")"
                             : "yosys was stopped by signal " + std::to_string(WTERMSIG(raw));
    return -1;
  }
  const std::int64_t cells = cells_in_stat(read_whole(run.folder + "/yosys.log"));
  if (cells < 0) problem = "yosys gave no cell count";
  return cells;
}

// The front's datapaths that meet the targets, cheapest by the formula first.
std::vector<std::size_t> cheapest_meeting(const search_report& r) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < r.front.size(); ++i) {
    if (r.front[i].meets) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return r.front[a].cost < r.front[b].cost; });
  if (order.size() > most_synthesized) order.resize(most_synthesized);
  return order;
}

// Writes each datapath's module as filter.v in its own folder under `base`.
bool write_modules(std::span<const float> taps, const search_report& r,
                   const std::vector<std::size_t>& chosen, const std::string& base,
                   std::vector<yosys_run>& runs, std::string& problem) {
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    const result<fixed_filter> f = make_fixed_filter(taps, r.front[chosen[k]].path);
    if (!f) {
      problem = f.failure().message;
      return false;
    }
    runs[k].folder = base + "/run-" + std::to_string(k);
    if (mkdir(runs[k].folder.c_str(), 0700) != 0 ||
        !write_new_file(runs[k].folder + "/filter.v", verilog_module_text(f.value()))) {
      problem = "cannot write the module to synthesize: " + error_text(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

cell_costs synthesize_front(std::span<const float> taps, const search_report& r,
                            const std::string& yosys, std::FILE* err) {
  cell_costs costs;
  const std::vector<std::size_t> chosen = cheapest_meeting(r);
  if (chosen.empty()) return costs;
  interrupt_guard guard;
  temp_folder folder;
  if (const outcome made = make_temp_folder(folder); !made) {
    costs.problem = made.failure().message;
    return costs;
  }
  std::vector<yosys_run> runs(chosen.size());
  if (!write_modules(taps, r, chosen, folder.path, runs, costs.problem)) return costs;
  progress_bar bar;
  progress_start(bar, err, "synthesis");
  const auto total = static_cast<std::int64_t>(chosen.size());
  progress_advance(bar, 0, total);
  for (std::size_t first = 0; first < runs.size() && costs.problem.empty();
       first += synthesis_runs_at_once) {
    const std::size_t last = std::min(runs.size(), first + synthesis_runs_at_once);
    for (std::size_t k = first; k < last; ++k) {
      if (!start_yosys(yosys, runs[k])) costs.problem = "cannot run " + yosys;
    }
    for (std::size_t k = first; k < last; ++k) {
      if (runs[k].pid == 0) continue;
      std::string problem;
      const std::int64_t cells = finish_yosys(runs[k], problem);
      if (cells >= 0) costs.counts.push_back({chosen[k], cells});
      if (costs.problem.empty()) costs.problem = problem;
      progress_advance(bar, static_cast<std::int64_t>(k + 1), total);
    }
  }
  progress_finish(bar);
  costs.interrupted = interrupted();
  if (!costs.problem.empty()) costs.counts.clear();
  return costs;
}

std::vector<std::string> recommend_by_cells(const cell_costs& costs, search_report& r) {
  std::vector<std::string> lines;
  if (costs.counts.empty()) return lines;
  const cell_count* best = &costs.counts.front();
  for (const cell_count& c : costs.counts) {
    if (c.cells < best->cells) best = &c;
  }
  lines.push_back("cells: the " + std::to_string(costs.counts.size()) +
                  " cheapest by the formula that meet the targets, synthesized with yosys");
  for (const cell_count& c : costs.counts) {
    lines.push_back("  " + std::to_string(c.cells) +
                    " cells: " + recommended_words(r.front[c.front_index].path));
  }
  r.recommended = best->front_index;
  r.why = "the fewest cells (" + std::to_string(best->cells) + ") of the " +
          std::to_string(costs.counts.size()) +
          " cheapest by the formula that meet every target, synthesized";
  return lines;
}

result<std::vector<std::string>> cells_for_explore(std::span<const float> taps, search_report& r,
                                                   std::FILE* err) {
  // Nothing meets the targets: there is nothing to synthesize, so yosys is not looked for.
  if (cheapest_meeting(r).empty()) return std::vector<std::string>{};
  const char* path = std::getenv("PATH");
  const std::string yosys =
      find_program("yosys", path != nullptr ? std::optional<std::string_view>(path) : std::nullopt);
  if (yosys.empty()) {
    std::fputs(
        "yosys not found: install it (apt-get install yosys) to count cells; the "
        "recommendation is by the formula\n",
        err);
    return std::vector<std::string>{};
  }
  const cell_costs costs = synthesize_front(taps, r, yosys, err);
  if (costs.interrupted) return make_error(error_kind::interrupted, "interrupted");
  if (!costs.problem.empty()) {
    std::fprintf(err, "%s; the recommendation is by the formula\n",
                 printable(costs.problem).c_str());
    return std::vector<std::string>{};
  }
  return recommend_by_cells(costs, r);
}

}  // namespace fixfir
