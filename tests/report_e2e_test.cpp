// fixfir-report run as a program in scratch directories.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "report_plot.h"
#include "tool_runner.h"

namespace {

using fixfir_test::read_file;
using fixfir_test::scratch_dir;
using fixfir_test::shell_quote;
using fixfir_test::write_file;
namespace fs = std::filesystem;

const std::string example_taps = read_file(fs::path(FIXFIR_EXAMPLES) / "taps.txt");

struct report_result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs fixfir-report in `cwd` with `args`; `prefix` goes before it (e.g. "PATH=/x").
report_result run_report(const fs::path& cwd, const std::vector<std::string>& args,
                         const std::string& prefix = "") {
  const fs::path out = cwd.parent_path() / (cwd.filename().string() + ".out");
  const fs::path err = cwd.parent_path() / (cwd.filename().string() + ".err");
  std::string cmd =
      "cd " + shell_quote(cwd.string()) + " && " + prefix + " " + shell_quote(FIXFIR_REPORT_EXE);
  for (const std::string& a : args) cmd += " " + shell_quote(a);
  cmd += " < /dev/null > " + shell_quote(out.string()) + " 2> " + shell_quote(err.string());
  const int raw = std::system(cmd.c_str());
  report_result r;
  if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  r.out = read_file(out);
  r.err = read_file(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

// The example's answers with a coarse sweep, to keep the runs short.
std::vector<std::string> example_args(const std::string& precision = "15") {
  return {"--precision", precision,  "--initial", "100",          "--step",
          "50",          "--ending", "4000",      "--sweep-step", "100"};
}

const char* const no_gnuplot = "PATH=/nonexistent";

bool gnuplot_installed() {
  const char* path = std::getenv("PATH");
  return !fixfir::find_program("gnuplot", path != nullptr ? path : "").empty();
}

bool one_line(const std::string& s) {
  return !s.empty() && s.back() == '\n' && fixfir_test::line_count(s) == 1;
}

// ---- Refusals ---------------------------------------------------------------------------

class RefusedOptions : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RefusedOptions, OneMessageAndStatusTwo) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  const report_result r = run_report(dir.path, GetParam());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(one_line(r.err)) << r.err;
  EXPECT_EQ(r.err.rfind("fixfir-report: ", 0), 0U) << r.err;
  EXPECT_FALSE(fs::exists(dir / "response.png"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedOptions,
    ::testing::Values(std::vector<std::string>{},
                      std::vector<std::string>{"--precision", "15", "--initial", "100", "--step",
                                               "50", "--ending", "4000", "--bogus"},
                      std::vector<std::string>{"--precision=fifteen", "--initial", "100", "--step",
                                               "50", "--ending", "4000"},
                      std::vector<std::string>{"--precision", "15", "--initial", "100", "--step",
                                               "0", "--ending", "4000"}));

TEST(Help, PrintsUsageAndSucceeds) {
  scratch_dir dir;
  const report_result r = run_report(dir.path, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: fixfir-report --precision P", 0), 0U) << r.out;
  EXPECT_TRUE(r.err.empty());
}

struct tap_problem {
  const char* name;
  const char* content;  // nullptr: no taps.txt; "/": taps.txt is a folder
  const char* message;
};

class TapProblems : public ::testing::TestWithParam<tap_problem> {};

TEST_P(TapProblems, OneMessageAndStatusOne) {
  const tap_problem& p = GetParam();
  scratch_dir dir;
  if (p.content != nullptr && std::string(p.content) == "/") {
    fs::create_directory(dir / "taps.txt");
  } else if (p.content != nullptr) {
    write_file(dir / "taps.txt", p.content);
  }
  const report_result r = run_report(dir.path, example_args());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(one_line(r.err)) << r.err;
  EXPECT_NE(r.err.find("taps.txt"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(p.message), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "response.png"));
}

INSTANTIATE_TEST_SUITE_P(Table, TapProblems,
                         ::testing::Values(tap_problem{"missing", nullptr, "cannot open"},
                                           tap_problem{"folder", "/", "cannot read"},
                                           tap_problem{"too_few", "5\n0.1 0.2 0.3\n", "tap 4 of 5"},
                                           tap_problem{"not_a_number", "2\n0.5 half\n",
                                                       "tap 2 of 2"},
                                           tap_problem{"no_taps", "0\n", "tap count is 0"},
                                           tap_problem{"empty", "", "no tap count"}),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- Summary ----------------------------------------------------------------------------

TEST(Summary, ExampleWithoutGnuplotPrintsEveryFactAndSaysHowToGetPictures) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  const report_result r = run_report(dir.path, example_args(), no_gnuplot);
  EXPECT_EQ(r.status, 0);
  const char* const expected[] = {
      R"(taps: 63 from \./taps\.txt)",
      R"(precision: 15 \(scale 32768\))",
      R"(largest tap quantization error: [0-9.e-]+)",
      R"(waveform test: 79 tones from 100 Hz in steps of 50 Hz)",
      R"(accumulator wraps \(waveform test\): 0 of 32000 samples)",
      R"(output SNR \(waveform test\): [0-9]+\.[0-9]{2} dB)",
      R"(sweep: 80 frequencies from 4 Hz in steps of 100 Hz)",
      R"(passband \(ideal response within 1 dB of its maximum\): [0-9]+ frequencies, 4 to 1[0-9]{3} Hz)",
      R"(passband ripple \(fixed-point sweep\): [0-9]+\.[0-9]{3} dB peak to peak)",
      R"(passband ripple \(double-precision sweep\): [0-9]+\.[0-9]{3} dB peak to peak)",
      R"(passband ripple \(ideal response\): [0-9]+\.[0-9]{3} dB peak to peak)",
      R"(stopband \(ideal response at least 40 dB below its maximum\): [0-9]+ frequencies, 2[0-9]{3} to 7904 Hz)",
      R"(stopband attenuation \(fixed-point sweep\): [0-9]+\.[0-9]{2} dB below the passband maximum)",
      R"(stopband attenuation \(double-precision sweep\): [0-9]+\.[0-9]{2} dB below the passband maximum)",
      R"(stopband attenuation \(ideal response\): [0-9]+\.[0-9]{2} dB below the passband maximum)"};
  std::string lines;
  for (const char* e : expected) lines += std::string(e) + "\n";
  EXPECT_TRUE(std::regex_match(r.out, std::regex(lines))) << r.out;
  EXPECT_EQ(r.err,
            "gnuplot not found: install it (apt-get install gnuplot-nox) to draw response.png and "
            "waves.png\n");
  EXPECT_FALSE(fs::exists(dir / "response.png"));
  EXPECT_FALSE(fs::exists(dir / "waves.png"));
}

// Degenerate answers still give a full summary and status 0.
struct odd_run {
  const char* name;
  const char* taps;
  std::vector<std::string> args;
  const char* expected_line;
};

class OddRuns : public ::testing::TestWithParam<odd_run> {};

TEST_P(OddRuns, SummarySaysWhatHappened) {
  const odd_run& o = GetParam();
  scratch_dir dir;
  write_file(dir / "taps.txt", o.taps);
  const report_result r = run_report(dir.path, o.args, no_gnuplot);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixfir_test::line_count(r.out), 15U) << r.out;
  EXPECT_NE(r.out.find(std::string(o.expected_line) + "\n"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OddRuns,
    ::testing::Values(odd_run{"overflowing_precision",
                              "1\n1.0\n",
                              {"--precision", "16", "--initial", "100", "--step", "50", "--ending",
                               "4000", "--sweep-step", "500"},
                              "largest tap quantization error: 0"},
                      odd_run{"zero_scale",
                              "2\n0.5 0.5\n",
                              {"--precision", "40", "--initial", "100", "--step", "100", "--ending",
                               "1000", "--sweep-step", "500"},
                              "output SNR (waveform test): nan dB"},
                      odd_run{"negative_scale",
                              "2\n0.5 0.5\n",
                              {"--precision", "31", "--initial", "100", "--step", "100", "--ending",
                               "1000", "--sweep-step", "500"},
                              "precision: 31 (scale -2147483648)"},
                      odd_run{"no_tones",
                              "1\n1.0\n",
                              {"--precision", "15", "--initial", "1000", "--step", "100",
                               "--ending", "500", "--sweep-step", "500"},
                              "waveform test: no tones, the input is silent"},
                      odd_run{"descending_tones",
                              "1\n1.0\n",
                              {"--precision", "15", "--initial", "1000", "--step", "-100",
                               "--ending", "100", "--sweep-step=7000"},
                              "waveform test: 10 tones from 1000 Hz in steps of -100 Hz"},
                      odd_run{"all_zero_taps",
                              "3\n0 0 0\n",
                              {"--precision", "15", "--initial", "100", "--step", "100", "--ending",
                               "1000", "--sweep-step", "500"},
                              "passband ripple (fixed-point sweep): no passband"},
                      odd_run{"unit_tap",
                              "1\n1.0\n",
                              {"--precision", "15", "--initial", "100", "--step", "100", "--ending",
                               "1000", "--sweep-step", "500"},
                              "stopband attenuation (fixed-point sweep): no stopband"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(Summary, OverflowingPrecisionCountsWraps) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  const report_result r = run_report(dir.path, example_args("20"), no_gnuplot);
  ASSERT_EQ(r.status, 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.out, m, std::regex(R"(accumulator wraps \(waveform test\): ([0-9]+) of 32000 samples)")));
  EXPECT_GT(std::stol(m[1].str()), 1000);
}

// ---- Pictures ---------------------------------------------------------------------------

struct png_size {
  bool valid = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// The PNG signature, then the IHDR chunk (length 13) with the size in big-endian order.
png_size read_png_size(const fs::path& p) {
  const std::string d = read_file(p);
  png_size s;
  if (d.size() < 24 || d.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      d.compare(8, 8, std::string("\0\0\0\x0dIHDR", 8)) != 0) {
    return s;
  }
  auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(d[at + i]);
    return v;
  };
  s.valid = true;
  s.width = be32(16);
  s.height = be32(20);
  return s;
}

TEST(Pictures, BothArePngImagesInTheGivenFolder) {
  if (!gnuplot_installed()) GTEST_SKIP() << "gnuplot is not installed";
  scratch_dir cwd;
  // A folder name that needs quoting both in the shell and in gnuplot.
  const fs::path out = cwd / "out dir's";
  fs::create_directory(out);
  write_file(out / "taps.txt", example_taps);
  std::vector<std::string> args = example_args();
  args.insert(args.end(), {"--dir", out.string()});
  const report_result r = run_report(cwd.path, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("pictures: " + (out / "response.png").string() + ", " +
                       (out / "waves.png").string() + "\n"),
            std::string::npos)
      << r.out;
  const png_size response = read_png_size(out / "response.png");
  const png_size waves = read_png_size(out / "waves.png");
  EXPECT_TRUE(response.valid);
  EXPECT_EQ(response.width, 1100U);
  EXPECT_EQ(response.height, 650U);
  EXPECT_TRUE(waves.valid);
  EXPECT_EQ(waves.width, 1100U);
  EXPECT_EQ(waves.height, 850U);
  EXPECT_FALSE(fs::exists(cwd / "response.png"));
}

TEST(Pictures, AreDrawnEvenWhenEveryOutputIsNan) {
  if (!gnuplot_installed()) GTEST_SKIP() << "gnuplot is not installed";
  scratch_dir dir;
  write_file(dir / "taps.txt", "2\n0.5 0.5\n");
  const report_result r = run_report(dir.path, {"--precision", "40", "--initial", "100", "--step",
                                                "100", "--ending", "1000", "--sweep-step", "500"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(read_png_size(dir / "response.png").valid);
  EXPECT_TRUE(read_png_size(dir / "waves.png").valid);
}

TEST(Pictures, AFailingGnuplotIsReportedAndKeptOffStandardOutput) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  fs::create_directory(dir / "bin");
  // Echoes the script, as gnuplot echoes a picture it cannot store, then fails.
  write_file(dir / "bin" / "gnuplot", "#!/bin/sh\ncat\nexit 3\n");
  fs::permissions(dir / "bin" / "gnuplot", fs::perms::owner_all);
  const report_result r = run_report(dir.path, example_args(), "PATH=\"$PWD/bin:$PATH\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixfir_test::line_count(r.out), 15U) << r.out.substr(0, 2000);
  EXPECT_TRUE(one_line(r.err)) << r.err;
  EXPECT_NE(r.err.find("gnuplot failed (status 3)"), std::string::npos) << r.err;
}

TEST(Pictures, AnUnwritablePictureIsOneMessage) {
  if (!gnuplot_installed()) GTEST_SKIP() << "gnuplot is not installed";
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  fs::create_directory(dir / "waves.png");  // even root cannot open a folder for writing
  const report_result r = run_report(dir.path, example_args());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(one_line(r.err)) << r.err;
  EXPECT_NE(r.err.find("cannot write ./waves.png"), std::string::npos) << r.err;
}

TEST(Pictures, FindProgramSkipsFoldersAndFilesThatCannotRun) {
  scratch_dir dir;
  fs::create_directories(dir / "a" / "tool");  // a folder of that name
  fs::create_directory(dir / "b");
  write_file(dir / "b" / "tool", "#!/bin/sh\n");  // not executable
  fs::create_directory(dir / "c");
  write_file(dir / "c" / "tool", "#!/bin/sh\n");
  fs::permissions(dir / "c" / "tool", fs::perms::owner_all);
  const std::string path =
      (dir / "a").string() + ":" + (dir / "b").string() + "::" + (dir / "c").string();
  EXPECT_EQ(fixfir::find_program("tool", path), (dir / "c" / "tool").string());
  EXPECT_EQ(fixfir::find_program("tool", (dir / "a").string()), "");
  EXPECT_EQ(fixfir::find_program("tool", ""), "");
}

}  // namespace
