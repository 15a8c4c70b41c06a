// fixfir-report at other sample rates than its own: a filter run at FS with every frequency
// scaled by FS / 16000 gives the figures it gives at 16000, and the bands it prints at FS,
// given back, give them once more.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

using fixfir_test::read_file;
using fixfir_test::scratch_dir;
using fixfir_test::shell_quote;
using fixfir_test::write_file;
namespace fs = std::filesystem;

struct run_output {
  int status = -1;
  std::string out;
  std::string err;
};

// fixfir-report on the example's taps in `dir`, without gnuplot.
run_output report(const scratch_dir& dir, const std::vector<std::string>& args) {
  std::string cmd = "cd " + shell_quote(dir.path.string()) + " && PATH=/nonexistent " +
                    shell_quote(FIXFIR_REPORT_EXE);
  for (const std::string& a : args) cmd += " " + shell_quote(a);
  const fs::path out = dir.path / "out.txt";
  const fs::path err = dir.path / "err.txt";
  cmd += " < /dev/null > " + shell_quote(out.string()) + " 2> " + shell_quote(err.string());
  const int raw = std::system(cmd.c_str());
  run_output r;
  if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

// `hz` × `rate` / 16000 as an option's value; the rows' values scale to exact decimals.
std::string scaled(double hz, double rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", hz * rate / 16000.0);
  return text;
}

// The options at 16000 Hz, or scaled to `rate` with --sample-rate; `bands` adds given bands.
std::vector<std::string> options(const char* mode, double rate, bool bands) {
  std::vector<std::string> a{mode};
  if (std::string(mode) == "--precision") a.push_back("15");
  const std::pair<const char*, double> frequencies[] = {
      {"--initial", 320}, {"--step", 160}, {"--ending", 3200}, {"--sweep-step", 160}};
  for (const auto& [name, hz] : frequencies) a.insert(a.end(), {name, scaled(hz, rate)});
  if (bands) {
    a.insert(a.end(), {"--passband", scaled(0, rate) + ":" + scaled(1440, rate), "--stopband",
                       scaled(2560, rate) + ":" + scaled(8000, rate)});
  }
  if (rate != 16000) a.insert(a.end(), {"--sample-rate", scaled(16000, rate)});
  return a;
}

// The text with every frequency and time masked: what is left are the figures.
std::string figures_of(const std::string& text) {
  static const std::regex hz("[-+0-9.e]+ (to [-+0-9.e]+ )?(Hz|ms)");
  return std::regex_replace(text, hz, "F");
}

struct rate_case {
  const char* name;
  double rate;
  const char* sweep_line;  // the summary's sweep line at the rate
  const char* delay_line;  // its group delay line
};

class SampleRate : public ::testing::TestWithParam<rate_case> {};

TEST_P(SampleRate, ScaledFrequenciesGiveTheSameFiguresAndPasteBack) {
  const rate_case& c = GetParam();
  scratch_dir dir;
  write_file(dir.path / "taps.txt", read_file(fs::path(FIXFIR_EXAMPLES) / "taps.txt"));
  for (const char* mode : {"--precision", "--scan"}) {
    for (const bool bands : {true, false}) {
      const run_output base = report(dir, options(mode, 16000, bands));
      const run_output at = report(dir, options(mode, c.rate, bands));
      ASSERT_EQ(base.status, 0) << base.err;
      ASSERT_EQ(at.status, 0) << at.err;
      EXPECT_EQ(figures_of(at.out), figures_of(base.out)) << at.out;
      if (std::string(mode) == "--precision") {
        EXPECT_NE(at.out.find(std::string(c.sweep_line) + "\n"), std::string::npos) << at.out;
        EXPECT_NE(at.out.find(std::string(c.delay_line) + "\n"), std::string::npos) << at.out;
      }
      if (bands) continue;
      // The inferred bands as printed at the rate, given back, measure as they were.
      std::vector<std::string> args = options(mode, c.rate, false);
      std::string expected = at.out;
      for (const char* kind : {"pass", "stop"}) {
        const std::string head = std::string(kind) + "bands (inferred from the unquantized taps): ";
        const std::size_t from = expected.find(head);
        ASSERT_NE(from, std::string::npos) << at.out;
        const std::string list =
            expected.substr(from + head.size(), expected.find('\n', from) - from - head.size());
        static const std::regex one("([^ ,]+) to ([^ ,]+) Hz");
        for (std::sregex_iterator b(list.begin(), list.end(), one), end; b != end; ++b)
          args.insert(args.end(),
                      {std::string("--") + kind + "band", (*b)[1].str() + ":" + (*b)[2].str()});
        expected.replace(from, head.size(), std::string(kind) + "bands (given): ");
      }
      const run_output given = report(dir, args);
      EXPECT_EQ(given.status, 0) << given.err;
      EXPECT_EQ(given.out, expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SampleRate,
    ::testing::Values(
        rate_case{"half", 8000, "sweep: 50 frequencies from 2 Hz in steps of 80 Hz",
                  "group delay: 31 samples, 3.875 ms at 8000 Hz"},
        rate_case{"cd", 44100, "sweep: 50 frequencies from 11.025 Hz in steps of 441 Hz",
                  "group delay: 31 samples, 0.7029478458 ms at 44100 Hz"},
        rate_case{"studio", 48000, "sweep: 50 frequencies from 12 Hz in steps of 480 Hz",
                  "group delay: 31 samples, 0.6458333333 ms at 48000 Hz"},
        rate_case{"fpga", 1e8, "sweep: 50 frequencies from 25000 Hz in steps of 1000000 Hz",
                  "group delay: 31 samples, 0.00031 ms at 100000000 Hz"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
