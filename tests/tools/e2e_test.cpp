// End-to-end: the built fixfir in a scratch directory, answers piped in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "console_text.h"
#include "tool_runner.h"

namespace fixfir_test {
namespace {

const std::string two_taps = "2\n0.5 0.5\n";

TEST(EndToEnd, MissingTapFileEndsRunAfterQuestions) {
  scratch_dir dir;
  const run_result r = run_tool(dir.path, "15\n100\n100\n1000\n1\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.console, questions + "File Not Found\n");
  EXPECT_FALSE(fs::exists(dir / "waves.txt"));
  EXPECT_FALSE(fs::exists(dir / "frequency.txt"));
}

TEST(EndToEnd, NormalRunWithoutSweep) {
  scratch_dir dir;
  write_file(dir / "taps.txt", two_taps);
  write_file(dir / "frequency.txt", "left alone\n");
  const run_result r = run_tool(dir.path, "15\n100\n100\n1000\n2\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + note + skipping);
  const std::string waves = read_file(dir / "waves.txt");
  EXPECT_EQ(line_count(waves), 32000u);
  EXPECT_EQ(waves.substr(0, 27), "0.000000\t0.000000\t0.000000\n");
  EXPECT_EQ(read_file(dir / "frequency.txt"), "left alone\n");
}

TEST(EndToEnd, SweepAtStepOneWritesAllLinesAndSixteenDots) {
  scratch_dir dir;
  write_file(dir / "taps.txt", "1\n1.0\n");
  const run_result r = run_tool(dir.path, "15\n1000\n1\n1000\n1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + note + calculating + std::string(16, '.'));
  const std::string freq = read_file(dir / "frequency.txt");
  EXPECT_EQ(line_count(freq), 7997u);
  EXPECT_EQ(freq.substr(0, 2), "4\t");
  EXPECT_EQ(freq.substr(freq.size() - 14), "8000\t0.000000\n");  // every sample is 0 at 8000 Hz
}

struct sweep_case {
  const char* answer;  // to the sweep question
  bool sweeps;
};

class SweepAnswer : public ::testing::TestWithParam<sweep_case> {};

TEST_P(SweepAnswer, OnlyOneRunsTheSweep) {
  scratch_dir dir;
  write_file(dir / "taps.txt", two_taps);
  const run_result r = run_tool(dir.path, std::string("15\n100\n8000\n100\n") + GetParam().answer);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + note + (GetParam().sweeps ? calculating : skipping));
  EXPECT_EQ(fs::exists(dir / "frequency.txt"), GetParam().sweeps);
}

INSTANTIATE_TEST_SUITE_P(Table, SweepAnswer,
                         ::testing::Values(sweep_case{"1\n", true}, sweep_case{"   1\n", true},
                                           sweep_case{"1.5\n", true}, sweep_case{"\n\n1", true},
                                           sweep_case{"2\n", false}, sweep_case{"0\n", false},
                                           sweep_case{"y\n", false}, sweep_case{"\n", false},
                                           sweep_case{"", false}, sweep_case{"+1\n", true},
                                           sweep_case{"-1\n", false}));

struct step_case {
  const char* step;
  std::size_t lines;
  std::size_t dots;
  const char* last_line;
};

class SweepStep : public ::testing::TestWithParam<step_case> {};

TEST_P(SweepStep, LinesAndDots) {
  scratch_dir dir;
  write_file(dir / "taps.txt", "1\n0.5\n");
  const run_result r =
      run_tool(dir.path, std::string("15\n100\n") + GetParam().step + "\n100\n1\n");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.console.substr(0, (questions + note + calculating).size()),
            questions + note + calculating);
  EXPECT_EQ(r.console.substr((questions + note + calculating).size()),
            std::string(GetParam().dots, '.'));
  const std::string freq = read_file(dir / "frequency.txt");
  EXPECT_EQ(line_count(freq), GetParam().lines);
  const std::size_t last = freq.rfind('\n', freq.size() - 2);
  EXPECT_EQ(freq.substr(last == std::string::npos ? 0 : last + 1), GetParam().last_line);
}

INSTANTIATE_TEST_SUITE_P(Table, SweepStep,
                         ::testing::Values(step_case{"4", 2000, 16, "8000\t0.000000\n"},
                                           step_case{"10", 800, 0, "7994\t0.500000\n"},
                                           step_case{"8000", 1, 0, "4\t0.500000\n"},
                                           step_case{"7997", 1, 0, "4\t0.500000\n"},
                                           step_case{"2147483647", 1, 0, "4\t0.500000\n"}));

TEST(EndToEnd, ZeroStepSkipsBothAnalysesAndKeepsFiles) {
  scratch_dir dir;
  write_file(dir / "taps.txt", two_taps);
  write_file(dir / "waves.txt", "old waves\n");
  write_file(dir / "frequency.txt", "old sweep\n");
  const run_result r = run_tool(dir.path, "15\n100\n0\n1000\n1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + "Invalid frequency step\n" + note + calculating +
                           "Invalid frequency step\n");
  EXPECT_EQ(read_file(dir / "waves.txt"), "old waves\n");
  EXPECT_EQ(read_file(dir / "frequency.txt"), "old sweep\n");
}

TEST(EndToEnd, NegativeStepRunsWaveformButNotSweep) {
  scratch_dir dir;
  write_file(dir / "taps.txt", two_taps);
  write_file(dir / "frequency.txt", "old sweep\n");
  const run_result r = run_tool(dir.path, "15\n1000\n-100\n100\n1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + note + calculating + "Invalid frequency step\n");
  EXPECT_EQ(line_count(read_file(dir / "waves.txt")), 32000u);
  EXPECT_EQ(read_file(dir / "frequency.txt"), "old sweep\n");
}

TEST(EndToEnd, NonNumericFirstAnswerLeavesAllZero) {
  scratch_dir dir;
  write_file(dir / "taps.txt", two_taps);
  const run_result r = run_tool(dir.path, "abc\n15\n100\n1000\n1\n");
  EXPECT_EQ(r.status, 0);
  // Every answer is 0: a step of 0, and the sweep question is not answered 1.
  EXPECT_EQ(r.console, questions + "Invalid frequency step\n" + note + skipping);
}

TEST(EndToEnd, ShortTapFileReportsAndGoesOn) {
  scratch_dir dir;
  write_file(dir / "taps.txt", "5\n0.5 0.25 0.125");
  const run_result r = run_tool(dir.path, "15\n100\n100\n1000\n0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console,
            questions + "improperly formatted fileimproperly formatted file" + note + skipping);
}

TEST(EndToEnd, NoTapsGivesZeroOutput) {
  scratch_dir dir;
  write_file(dir / "taps.txt", "0\n");
  const run_result r = run_tool(dir.path, "15\n100\n100\n1000\n1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + "improperly formatted file" + note + calculating);
  const std::string waves = read_file(dir / "waves.txt");
  EXPECT_EQ(line_count(waves), 32000u);
  for (std::size_t at = 0; at < waves.size(); at = waves.find('\n', at) + 1) {
    const std::size_t end = waves.find('\n', at);
    ASSERT_EQ(waves.substr(end - 9, 9), "\t0.000000");
  }
  const std::string freq = read_file(dir / "frequency.txt");
  EXPECT_EQ(line_count(freq), 80u);
  EXPECT_EQ(freq.substr(0, 11), "4\t0.000000\n");
}

TEST(EndToEnd, WavesAsDirectoryCannotBeOpened) {
  scratch_dir dir;
  write_file(dir / "taps.txt", two_taps);
  fs::create_directory(dir / "waves.txt");
  const run_result r = run_tool(dir.path, "15\n100\n100\n1000\n2\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + "Cannot open output file\n" + note + skipping);
}

TEST(EndToEnd, FullDiskIsReportedNotSuccess) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  scratch_dir dir;
  write_file(dir / "taps.txt", two_taps);
  fs::create_symlink("/dev/full", dir / "waves.txt");
  fs::create_symlink("/dev/full", dir / "frequency.txt");
  const run_result r = run_tool(dir.path, "15\n100\n1000\n1000\n1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, questions + "Cannot write output file\n" + note + calculating +
                           "Cannot write output file\n");
}

TEST(EndToEnd, ExampleRunMatchesCommittedShape) {
  scratch_dir dir;
  fs::copy_file(fs::path(FIXFIR_EXAMPLES) / "taps.txt", dir / "taps.txt");
  const run_result r = run_tool(dir.path, read_file(fs::path(FIXFIR_EXAMPLES) / "answers.txt"));
  EXPECT_EQ(r.status, 0);
  const std::string waves = read_file(dir / "waves.txt");
  EXPECT_EQ(line_count(waves), 32000u);
  EXPECT_NE(waves.find("\n0.000688\t"), std::string::npos);
  EXPECT_NE(waves.find("\n1.175313\t"), std::string::npos);
  EXPECT_NE(waves.find("\n1.999938\t"), std::string::npos);
}

}  // namespace
}  // namespace fixfir_test
