// End-to-end fault matrix: the built tool against bad tap files, bad answers, output
// files it cannot write, a read-only directory, failed allocations and a standard input
// that closes early. Every case checks the whole console transcript, the exit status,
// that nothing is written to standard error, and that each file the run must not touch
// is byte-for-byte as it was.
//
// Permission cases: as root, permission bits do not stop a process, so these runs drop
// to the user "nobody" through setpriv (the scratch directory is opened up so that
// "nobody" can work in it). As an ordinary user they run as that user.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "console_text.h"
#include "fault_runner.h"

namespace fixfir_test {
namespace {

const std::string earlier = "from an earlier run\n";

// Two taps; the usual answers give 4 tones and an 8-line sweep (4, 1004, ... 7004).
const std::string two_taps = "2\n0.5\n0.25\n";
const std::string answers_sweep = "15\n100\n1000\n3100\n1\n";
const std::string answers_skip = "15\n100\n1000\n3100\n2\n";
// Step 4: a 2000-line sweep with a dot at each multiple of 500.
const std::string answers_dots = "15\n100\n4\n100\n1\n";
const std::string sixteen_dots(16, '.');

constexpr int kept = -1;  // the file must be as it was before the run
constexpr int cut = -2;   // a file cut short: the row's own check says how
constexpr int waves_lines = 32000;

std::string improper(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "improperly formatted file";
  return s;
}

// The transcript of a run that gets past the tap file.
std::string transcript(const std::string& after_prompts, const std::string& sweep) {
  return questions + after_prompts + note + sweep;
}

using setup_fn = std::function<void(const scratch_dir&)>;
using check_fn = std::function<void(const scratch_dir&)>;

struct fault_case {
  std::string name;
  setup_fn setup;  // runs after "waves.txt" and "frequency.txt" hold `earlier`
  std::string answers;
  std::string console;
  int status = 0;
  int waves = waves_lines;  // expected line count, or `kept`
  int frequency = 8;
  run_conditions conditions = {};
  check_fn check = nullptr;   // further checks on the files
  bool needs_ulimit = false;  // relies on `ulimit -v`, which ASan cannot run under
  // A second acceptable outcome, for allocations that an implementation may not make.
  bool has_alternative = false;
  std::string alternative_console;
  int alternative_waves = kept;
  int alternative_frequency = kept;
  // Run once under each of these memory limits (KiB) instead; at least one must end in
  // the first outcome.
  std::vector<int> memory_limits_kib = {};
};

void PrintTo(const fault_case& c, std::ostream* os) { *os << c.name; }

std::string case_name(const testing::TestParamInfo<fault_case>& info) { return info.param.name; }

setup_fn taps(const std::string& text) {
  return [text](const scratch_dir& d) { write_file(d / "taps.txt", text); };
}

// The setup steps in order.
setup_fn steps(std::vector<setup_fn> all) {
  return [all](const scratch_dir& d) {
    for (const auto& step : all) step(d);
  };
}

setup_fn remove_file(const std::string& name) {
  return [name](const scratch_dir& d) { fs::remove(d / name); };
}

setup_fn make_directory(const std::string& name) {
  return [name](const scratch_dir& d) {
    fs::remove(d / name);
    fs::create_directory(d / name);
  };
}

setup_fn link_to(const std::string& name, const std::string& target) {
  return [name, target](const scratch_dir& d) {
    fs::remove(d / name);
    fs::create_symlink(target, d / name);
  };
}

setup_fn set_mode(const std::string& name, fs::perms mode) {
  return [name, mode](const scratch_dir& d) { fs::permissions(d / name, mode); };
}

// Lets any user work in the directory, for runs as "nobody".
setup_fn open_directory() {
  return [](const scratch_dir& d) { fs::permissions(d.path, fs::perms(0777)); };
}

setup_fn read_only_directory() {
  return [](const scratch_dir& d) { fs::permissions(d.path, fs::perms(0555)); };
}

// Field `index` (from 0, tab-separated) of every line of `file`.
std::vector<std::string> column(const fs::path& file, std::size_t index) {
  std::vector<std::string> values;
  std::istringstream lines(read_file(file));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string field;
    for (std::size_t i = 0; i <= index && std::getline(fields, field, '\t'); ++i) {
    }
    values.push_back(field);
  }
  return values;
}

// Every value of a column of a file is `want`.
check_fn all_values(const std::string& file, std::size_t index, const std::string& want) {
  return [file, index, want](const scratch_dir& d) {
    const auto values = column(d / file, index);
    ASSERT_FALSE(values.empty()) << file;
    std::size_t wrong = 0;
    for (const auto& v : values) wrong += v != want;
    EXPECT_EQ(wrong, 0u) << "values in column " << index << " of " << file << " that are not "
                         << want;
  };
}

check_fn checks(std::vector<check_fn> all) {
  return [all](const scratch_dir& d) {
    for (const auto& c : all) c(d);
  };
}

// Builds a case with every field given; the tables below read as rows.
fault_case row(std::string name, setup_fn setup, std::string answers, std::string console,
               int status, int waves, int frequency, run_conditions conditions = {},
               check_fn check = nullptr) {
  fault_case c;
  c.name = std::move(name);
  c.setup = std::move(setup);
  c.answers = std::move(answers);
  c.console = std::move(console);
  c.status = status;
  c.waves = waves;
  c.frequency = frequency;
  c.conditions = conditions;
  c.check = std::move(check);
  return c;
}

// At most the first few hundred characters of `text`, to keep failure reports readable.
std::string brief(const std::string& text) {
  constexpr std::size_t shown = 300;
  if (text.size() <= shown) return text;
  return text.substr(0, shown) + "... (" + std::to_string(text.size()) + " bytes)";
}

// Equal texts; a mismatch between long ones is reported by their beginnings and sizes.
void expect_text(const std::string& actual, const std::string& expected, const std::string& what) {
  if (actual.size() < 2000 && expected.size() < 2000) {
    EXPECT_EQ(actual, expected) << what;
  } else {
    EXPECT_TRUE(actual == expected)
        << what << " differs\nactual: " << brief(actual) << "\nexpected: " << brief(expected);
  }
}

// A case that may also end as a complete run with `console`: the allocation that fails
// in the straightforward implementation may be one that a leaner one never makes.
fault_case or_completes(fault_case c, std::string console, int waves, int frequency) {
  c.has_alternative = true;
  c.alternative_console = std::move(console);
  c.alternative_waves = waves;
  c.alternative_frequency = frequency;
  return c;
}

// No temporary file of a replacement is left behind.
const check_fn no_stray_files = [](const scratch_dir& d) {
  for (const auto& entry : fs::directory_iterator(d.path)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".fixfir-")) << entry.path();
  }
};

// At t = 0 every sine is 0, so the first line is all zeros whatever the scale.
const check_fn first_line_zeros = [](const scratch_dir& d) {
  const std::string waves = read_file(d / "waves.txt");
  EXPECT_EQ(waves.substr(0, waves.find('\n')), "0.000000\t0.000000\t0.000000");
};

// Runs `c` under `conditions` in a fresh directory and checks everything. Returns whether
// the run ended in the alternative outcome.
bool run_case(const fault_case& c, const run_conditions& conditions) {
  scratch_dir dir;
  write_file(dir / "waves.txt", earlier);
  write_file(dir / "frequency.txt", earlier);
  c.setup(dir);

  const std::vector<std::string> names = {"taps.txt", "waves.txt", "frequency.txt"};
  std::vector<std::string> before;
  for (const auto& n : names) before.push_back(snapshot(dir / n));

  const fault_run r = run_faulted(dir, c.answers, conditions);
  const bool alternative = c.has_alternative && r.console == c.alternative_console;
  expect_text(r.console, alternative ? c.alternative_console : c.console, "console");
  EXPECT_EQ(r.status, alternative ? 0 : c.status);
  if (sanitized_build && conditions.limited_memory) {
    // ASan warns on standard error about each allocation it refuses; nothing else.
    std::istringstream lines(r.errors);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_NE(line.find("AddressSanitizer failed to allocate"), std::string::npos) << line;
    }
  } else {
    EXPECT_EQ(r.errors, "");
  }

  expect_text(snapshot(dir / "taps.txt"), before[0], "taps.txt, which is only ever read");
  const int expected_lines[] = {alternative ? c.alternative_waves : c.waves,
                                alternative ? c.alternative_frequency : c.frequency};
  for (std::size_t i = 1; i < names.size(); ++i) {
    const fs::path p = dir / names[i];
    if (expected_lines[i - 1] == kept) {
      expect_text(snapshot(p), before[i], names[i] + ", which must be left as it was");
    } else if (expected_lines[i - 1] != cut) {
      if (!fs::is_regular_file(p)) {
        ADD_FAILURE() << names[i] << " is not a regular file";
        continue;
      }
      EXPECT_EQ(line_count(read_file(p)), static_cast<std::size_t>(expected_lines[i - 1]))
          << names[i];
    }
  }
  if (c.check) c.check(dir);
  return alternative;
}

class FaultMatrix : public testing::TestWithParam<fault_case> {};

TEST_P(FaultMatrix, ConsoleStatusAndFiles) {
  const fault_case& c = GetParam();
  if (c.needs_ulimit && sanitized_build) {
    GTEST_SKIP() << "the failing allocation here is a std::string; under ASan it is reported "
                    "instead of thrown, and `ulimit -v` cannot be used";
  }
  if (c.conditions.unprivileged && !unprivileged_runs_work()) {
    GTEST_SKIP() << "running as root, and setpriv cannot switch to the user nobody here";
  }
  if (c.memory_limits_kib.empty()) {
    run_case(c, c.conditions);
    return;
  }
  bool ran_out = false;
  for (const int limit : c.memory_limits_kib) {
    SCOPED_TRACE("ulimit -v " + std::to_string(limit));
    run_conditions limited = c.conditions;
    limited.limited_memory = true;
    limited.memory_limit_kib = limit;
    ran_out = !run_case(c, limited) || ran_out;
  }
  EXPECT_TRUE(ran_out) << "no limit ran out of memory: the scan misses what it is for";
}

// ---------------------------------------------------------------------------------------
// "taps.txt" missing, unreadable or malformed.

// With no taps (a count below 1, or one that cannot be read) every accumulator is 0: y is
// 0.000000 at precision 15, and so is every swept peak.
const check_fn zero_filter =
    checks({all_values("waves.txt", 2, "0.000000"), all_values("frequency.txt", 1, "0.000000")});

INSTANTIATE_TEST_SUITE_P(
    TapFile, FaultMatrix,
    testing::Values(row("Missing", remove_file("taps.txt"), answers_sweep, questions + not_found,
                        255, kept, kept),
                    row("MissingCreatesNoOutput",
                        steps({remove_file("waves.txt"), remove_file("frequency.txt")}),
                        answers_sweep, questions + not_found, 255, kept, kept),
                    row("Directory", make_directory("taps.txt"), answers_sweep,
                        questions + not_found, 255, kept, kept),
                    row("DanglingLink", link_to("taps.txt", "no-such-file"), answers_sweep,
                        questions + not_found, 255, kept, kept),
                    // No output is created even though "nobody" could create it.
                    row("Unreadable",
                        steps({taps(two_taps), set_mode("taps.txt", fs::perms::none),
                               open_directory(), remove_file("waves.txt"),
                               remove_file("frequency.txt")}),
                        answers_sweep, questions + not_found, 255, kept, kept,
                        run_conditions{.unprivileged = true}),
                    row("Empty", taps(""), answers_sweep, transcript(improper(1), calculating), 0,
                        waves_lines, 8, {}, zero_filter),
                    row("BlankOnly", taps(" \n\t\r\n"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8, {}, zero_filter),
                    row("CountZero", taps("0\n0.5\n"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8, {}, zero_filter),
                    row("CountNegative", taps("-3\n0.5\n0.25\n0.125\n"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8, {}, zero_filter),
                    row("CountLetters", taps("two\n0.5\n0.25\n"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8, {}, zero_filter),
                    row("CountHexPrefixOnly", taps("0x"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8, {}, zero_filter),
                    row("CountMinusInt32Min", taps("-2147483648\n0.5\n"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8, {}, zero_filter),
                    // Saturates to 2^63 - 1, whose low 32 bits are -1.
                    row("CountBeyond64Bits", taps("99999999999999999999\n0.5\n"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8, {}, zero_filter),
                    row("OneTapMissingAfterLineBreak", taps("5\n0.5\n0.25\n0.125\n"), answers_skip,
                        transcript(improper(1), skipping), 0, waves_lines, kept),
                    row("TwoTapsMissingAtEnd", taps("5\n0.5\n0.25\n0.125"), answers_skip,
                        transcript(improper(2), skipping), 0, waves_lines, kept),
                    row("CountOnly", taps("3"), answers_skip, transcript(improper(3), skipping), 0,
                        waves_lines, kept),
                    // Large, but memory allows it: one message per slot after the end of
                    // the file, up to a bound.
                    row("LargeCountFewTaps", taps("900\n0.5\n"), answers_skip,
                        transcript(improper(898), skipping), 0, waves_lines, kept),
                    row("LargeCountMessagesBounded", taps("5000\n0.5\n"), answers_skip,
                        transcript(improper(1000), skipping), 0, waves_lines, kept),
                    // Reading stops after the count: the endless rest is never read. The
                    // memory limit keeps a run that reads it all from taking the machine.
                    row("EndlessFile", link_to("taps.txt", "/dev/zero"), answers_sweep,
                        transcript(improper(1), calculating), 0, waves_lines, 8,
                        run_conditions{.limited_memory = true}, zero_filter),
                    row("CountLettersStopReading", taps("3\n0.5\nabc\n"), answers_skip,
                        transcript("", skipping), 0, waves_lines, kept)),
    case_name);

// One tap of 40 million digits: gathering them needs more than the memory limit allows.
fault_case long_number_case() {
  fault_case c = row(
      "LongNumber",
      [](const scratch_dir& d) {
        write_file(d / "taps.txt", "1\n" + std::string(40'000'000, '7'));
      },
      answers_skip, questions + out_of_memory, 255, kept, kept,
      run_conditions{.limited_memory = true, .memory_limit_kib = 60000});
  c.needs_ulimit = true;
  return c;
}

// The waveform test's buffers, under limits around the ones at which they no longer fit,
// alone or beside a worker thread's stack; where those lie depends on the build, so ranges
// are scanned. Each run completes or keeps the earlier files whole: the buffers are had
// before "waves.txt" is opened.
fault_case waveform_buffers_case() {
  fault_case c = or_completes(row("WaveformBuffersScan", taps(two_taps), answers_skip,
                                  questions + out_of_memory, 255, kept, kept),
                              transcript("", skipping), waves_lines, kept);
  for (int kib = 6000; kib < 13000; kib += 500) c.memory_limits_kib.push_back(kib);
  for (int kib = 13000; kib <= 18000; kib += 250) c.memory_limits_kib.push_back(kib);
  c.needs_ulimit = true;
  return c;
}

// Counts whose allocation cannot succeed end the run before any message is repeated.
INSTANTIATE_TEST_SUITE_P(
    OutOfMemory, FaultMatrix,
    testing::Values(
        row("CountInt32Max", taps("2147483647\n0.5\n"), answers_sweep, questions + out_of_memory,
            255, kept, kept, run_conditions{.limited_memory = true}),
        // Without a line break the count meets the end of the file: were the slots read
        // first, this would print 2^31 - 1 messages.
        row("HexCountAtEndOfFile", taps("0x7FFFFFFF"), answers_sweep, questions + out_of_memory,
            255, kept, kept, run_conditions{.limited_memory = true}),
        row("OctalCount", taps("017777777777 1"), answers_sweep, questions + out_of_memory, 255,
            kept, kept, run_conditions{.limited_memory = true}),
        // A word keeps the slots unread without meeting the end of the file, so no
        // message is written; the taps fit, then the coefficients (another 80 MB) do not.
        row("CoefficientsDoNotFit", taps("20000000\nx\n"), answers_sweep, questions + out_of_memory,
            255, kept, kept, run_conditions{.limited_memory = true}),
        // Taps and coefficients fit (40 MB each); a history of 10 million doubles does
        // not, and then "waves.txt" is not opened. A waveform test that keeps only the
        // history it can use (32000 samples) completes instead.
        or_completes(row("HistoryDoesNotFit", taps("10000000\nx\n"), answers_skip,
                         questions + out_of_memory, 255, kept, kept,
                         run_conditions{.limited_memory = true}),
                     transcript("", skipping), waves_lines, kept),
        // The digits of one tap are gathered in memory; when that fails the run ends
        // like any other failed allocation, instead of aborting.
        long_number_case(), waveform_buffers_case()),
    case_name);

// ---------------------------------------------------------------------------------------
// Answers: missing, malformed or out of the usable ranges. The taps are two good ones.

const setup_fn good_taps = taps(two_taps);

fault_case answer_case(std::string name, std::string answers, std::string console,
                       int waves = waves_lines, int frequency = 8, check_fn check = nullptr) {
  return row(std::move(name), good_taps, std::move(answers), std::move(console), 0, waves,
             frequency, {}, std::move(check));
}

const std::string no_waves = transcript(invalid_step, skipping);  // step 0, no sweep

INSTANTIATE_TEST_SUITE_P(
    Answers, FaultMatrix,
    testing::Values(
        answer_case("Empty", "", no_waves, kept, kept),
        answer_case("OnlyLineBreaks", "\n\n\n\n\n\n", no_waves, kept, kept),
        answer_case("NonNumericFirst", "x15\n100\n1000\n3100\n1\n", no_waves, kept, kept),
        // A sign alone is taken, so the next read starts after it: the answers shift by one.
        answer_case("SignAlone", "-\n100\n1000\n3100\n1\n", transcript("", calculating)),
        answer_case("EndsAfterTwo", "15\n100", no_waves, kept, kept),
        answer_case("EndsBeforeSweepAnswer", "15\n100\n1000\n3100\n", transcript("", skipping),
                    waves_lines, kept),
        answer_case("Signed", "+15\n+100\n+1000\n+3100\n+1\n", transcript("", calculating)),
        answer_case("LeadingBlanks", "   15\n\t 100\n  1000\n \t3100\n     1\n",
                    transcript("", calculating)),
        answer_case("OneLine", "15 100 1000 3100 1", transcript("", calculating)),
        answer_case("CrLf", "15\r\n100\r\n1000\r\n3100\r\n1\r\n", transcript("", calculating)),
        answer_case("SweepAnswerDecimal", "15\n100\n1000\n3100\n1.5\n",
                    transcript("", calculating)),
        answer_case("SweepAnswerLetter", "15\n100\n1000\n3100\ny\n", transcript("", skipping),
                    waves_lines, kept),
        answer_case("SweepAnswerMinusOne", "15\n100\n1000\n3100\n-1\n", transcript("", skipping),
                    waves_lines, kept),
        // Low 32 bits of 2^32 + 1.
        answer_case("SweepAnswerWrapsToOne", "15\n100\n1000\n3100\n4294967297\n",
                    transcript("", calculating)),
        // A letter in the first answer leaves every read failing on it.
        answer_case("LetterStopsAllReads", "15\n100\nabc\n3100\n1\n", no_waves, kept, kept),
        answer_case("Precision31", "31\n100\n1000\n3100\n1\n", transcript("", calculating),
                    waves_lines, 8, first_line_zeros),
        // A scale of 0: every coefficient and sample is 0, and 0 / 0 prints as nan.
        answer_case(
            "Precision32", "32\n100\n1000\n3100\n1\n", transcript("", calculating), waves_lines, 8,
            checks({all_values("waves.txt", 2, "nan"), all_values("frequency.txt", 1, "nan")})),
        answer_case("PrecisionMinusOne", "-1\n100\n1000\n3100\n1\n", transcript("", calculating),
                    waves_lines, 8,
                    checks({all_values("waves.txt", 2, "nan"),
                            all_values("frequency.txt", 1, "nan")})),
        answer_case("PrecisionBeyond64Bits", "99999999999999999999\n100\n1000\n3100\n1\n",
                    transcript("", calculating), waves_lines, 8, all_values("waves.txt", 2, "nan")),
        answer_case("StepZero", "15\n100\n0\n3100\n1\n",
                    transcript(invalid_step, calculating + invalid_step), kept, kept),
        answer_case("StepNegative", "15\n3100\n-1000\n100\n1\n",
                    transcript("", calculating + invalid_step), waves_lines, kept),
        // 2^31 reads as -2^31: one tone for the waves, an invalid step for the sweep.
        answer_case("StepInt32MinByWrap", "15\n100\n2147483648\n3100\n1\n",
                    transcript("", calculating + invalid_step), waves_lines, kept),
        answer_case("StepInt32Max", "15\n100\n2147483647\n3100\n1\n", transcript("", calculating),
                    waves_lines, 1),
        answer_case("Step7996SweepsTwoWithDot", "15\n100\n7996\n3100\n1\n",
                    transcript("", calculating + "."), waves_lines, 2),
        answer_case("Step4Dots", answers_dots, transcript("", calculating + sixteen_dots),
                    waves_lines, 2000),
        // The span wraps to -1: no tones, so every input sample is 0.
        answer_case("FrequenciesAtLimits", "15\n-2147483648\n1\n2147483647\n2\n",
                    transcript("", skipping), waves_lines, kept,
                    all_values("waves.txt", 1, "0.000000")),
        // -2^31 ÷ -1 has no 32-bit quotient; it wraps instead of trapping.
        answer_case("TonesInt32MinOverMinusOne", "15\n0\n-1\n-2147483648\n2\n",
                    transcript("", skipping), waves_lines, kept,
                    all_values("waves.txt", 1, "0.000000")),
        answer_case("ToneAtInt32Max", "15\n2147483647\n-2147483648\n2147483647\n2\n",
                    transcript("", skipping), waves_lines, kept)),
    case_name);

// ---------------------------------------------------------------------------------------
// Output files that cannot be created or written, and a read-only working directory.

INSTANTIATE_TEST_SUITE_P(
    OutputFiles, FaultMatrix,
    testing::Values(
        row("WavesIsDirectory", steps({good_taps, make_directory("waves.txt")}), answers_sweep,
            transcript(cannot_open, calculating), 0, kept, 8),
        row("FrequencyIsDirectory", steps({good_taps, make_directory("frequency.txt")}),
            answers_dots, transcript("", calculating + cannot_open), 0, waves_lines, kept),
        row("WavesToDevFull", steps({good_taps, link_to("waves.txt", "/dev/full")}), answers_sweep,
            transcript(cannot_write, calculating), 0, kept, 8),
        row("FrequencyToDevFull", steps({good_taps, link_to("frequency.txt", "/dev/full")}),
            answers_dots, transcript("", calculating + sixteen_dots + cannot_write), 0, waves_lines,
            kept),
        // The same setting as the read-only cases, with everything writable: shows that a
        // run as "nobody" works at all.
        row("UnprivilegedControl",
            steps({good_taps, open_directory(), remove_file("waves.txt"),
                   remove_file("frequency.txt")}),
            answers_sweep, transcript("", calculating), 0, waves_lines, 8,
            run_conditions{.unprivileged = true}),
        row("WavesReadOnly",
            steps({good_taps, open_directory(), set_mode("waves.txt", fs::perms(0444)),
                   remove_file("frequency.txt")}),
            answers_sweep, transcript(cannot_open, calculating), 0, kept, 8,
            run_conditions{.unprivileged = true}),
        row("FrequencyReadOnly",
            steps({good_taps, open_directory(), set_mode("frequency.txt", fs::perms(0444)),
                   remove_file("waves.txt")}),
            answers_dots, transcript("", calculating + cannot_open), 0, waves_lines, kept,
            run_conditions{.unprivileged = true}),
        // Past a file-size limit a write fails as on a full disk, and the run goes on: it
        // is not ended by SIGXFSZ. The earlier "waves.txt" is kept whole, and the part
        // that was written is gone.
        row("WavesPastFileSizeLimit", good_taps, answers_sweep,
            transcript(cannot_write, calculating), 0, kept, 8,
            run_conditions{.file_size_limit = 32768}, no_stray_files),
        // Without an earlier file none is left, not even a part.
        row("WavesPastFileSizeLimitNoEarlier", steps({good_taps, remove_file("waves.txt")}),
            answers_sweep, transcript(cannot_write, calculating), 0, kept, 8,
            run_conditions{.file_size_limit = 32768}, no_stray_files),
        // A link to a file: the file it names is replaced, and the link stays a link.
        row("WavesLinkToFile",
            steps({good_taps,
                   [](const scratch_dir& d) { write_file(d / "elsewhere.txt", earlier); },
                   link_to("waves.txt", "elsewhere.txt")}),
            answers_sweep, transcript("", calculating), 0, waves_lines, 8, {},
            [](const scratch_dir& d) {
              EXPECT_TRUE(fs::is_symlink(d / "waves.txt"));
              EXPECT_EQ(line_count(read_file(d / "elsewhere.txt")), 32000U);
            }),
        // The new file takes the earlier one's permission bits.
        row("WavesModeKept", steps({good_taps, set_mode("waves.txt", fs::perms(0640))}),
            answers_sweep, transcript("", calculating), 0, waves_lines, 8, {},
            [](const scratch_dir& d) {
              EXPECT_EQ(fs::status(d / "waves.txt").permissions(), fs::perms(0640));
            }),
        // A link to a device is written in place, as before: /dev/null takes it all.
        row("WavesToDevNull", steps({good_taps, link_to("waves.txt", "/dev/null")}), answers_sweep,
            transcript("", calculating), 0, cut, 8, {},
            [](const scratch_dir& d) { EXPECT_TRUE(fs::is_symlink(d / "waves.txt")); }),
        row("ReadOnlyDirectory",
            steps({good_taps, remove_file("waves.txt"), remove_file("frequency.txt"),
                   read_only_directory()}),
            answers_sweep, transcript(cannot_open, calculating + cannot_open), 0, kept, kept,
            run_conditions{.unprivileged = true})),
    case_name);

// ---------------------------------------------------------------------------------------
// Standard input that closes after each number of answers: the run must still end, with
// the answers given so far and 0 for the rest.

const std::string all_answers[] = {"15\n", "100\n", "1000\n", "3100\n", "1\n"};

fault_case closing_after(int given) {
  std::string answers;
  for (int i = 0; i < given; ++i) answers += all_answers[i];
  // Fewer than three answers leave the step at 0.
  const bool waves = given >= 3;
  const bool sweep = given == 5;
  return row("After" + std::to_string(given), good_taps, answers,
             transcript(waves ? "" : invalid_step, sweep ? calculating : skipping), 0,
             waves ? waves_lines : kept, sweep ? 8 : kept,
             run_conditions{.source = answer_source::closing_pipe, .time_limit_seconds = 20});
}

INSTANTIATE_TEST_SUITE_P(StdinCloses, FaultMatrix,
                         testing::Values(closing_after(0), closing_after(1), closing_after(2),
                                         closing_after(3), closing_after(4), closing_after(5),
                                         row("NoStdinAtAll", good_taps, "", no_waves, 0, kept, kept,
                                             run_conditions{.source = answer_source::closed,
                                                            .time_limit_seconds = 20})),
                         case_name);

// ---------------------------------------------------------------------------------------
// Standard output (and error) closed by the caller: the console text is lost, but none of
// it may land in the files the run writes, which must be those of a run with a console.
// The sweep's progress dots are written while "frequency.txt" is open.

struct closed_output {
  std::string name;
  std::string redirection;
};

void PrintTo(const closed_output& c, std::ostream* os) { *os << c.name; }

class ClosedOutput : public testing::TestWithParam<closed_output> {};

TEST_P(ClosedOutput, LeavesTheFilesAsARunWithAConsole) {
  scratch_dir closed;
  scratch_dir open;
  write_file(closed / "taps.txt", two_taps);
  write_file(open / "taps.txt", two_taps);
  const fault_run a =
      run_faulted(closed, answers_dots, {.output_redirection = GetParam().redirection});
  const fault_run b = run_faulted(open, answers_dots);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(b.console, transcript("", calculating + sixteen_dots));
  EXPECT_EQ(line_count(read_file(open / "frequency.txt")), 2000u);
  for (const char* name : {"waves.txt", "frequency.txt"}) {
    expect_text(read_file(closed / name), read_file(open / name), name);
  }
}

INSTANTIATE_TEST_SUITE_P(Redirections, ClosedOutput,
                         testing::Values(closed_output{"Stdout", ">&-"},
                                         closed_output{"StdoutAndStderr", ">&- 2>&-"},
                                         closed_output{"StderrThenStdout", "2>&- >&-"}),
                         [](const testing::TestParamInfo<closed_output>& p) {
                           return p.param.name;
                         });

// ---------------------------------------------------------------------------------------
// Tap files that must read exactly like a plain one: the same console text and the same
// "waves.txt" and "frequency.txt", byte for byte.

struct equivalent_taps {
  std::string name;
  std::string taps;
  std::string plain;
};

void PrintTo(const equivalent_taps& c, std::ostream* os) { *os << c.name; }

class EquivalentTapFiles : public testing::TestWithParam<equivalent_taps> {};

TEST_P(EquivalentTapFiles, GiveTheSameRun) {
  const equivalent_taps& c = GetParam();
  scratch_dir odd;
  scratch_dir plain;
  write_file(odd / "taps.txt", c.taps);
  write_file(plain / "taps.txt", c.plain);
  const fault_run a = run_faulted(odd, answers_sweep);
  const fault_run b = run_faulted(plain, answers_sweep);
  EXPECT_EQ(a.console, transcript("", calculating));
  EXPECT_EQ(a.console, b.console);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.errors, "");
  EXPECT_EQ(line_count(read_file(plain / "frequency.txt")), 8u);
  EXPECT_TRUE(read_file(odd / "waves.txt") == read_file(plain / "waves.txt"));
  EXPECT_TRUE(read_file(odd / "frequency.txt") == read_file(plain / "frequency.txt"));
}

std::string equivalent_name(const testing::TestParamInfo<equivalent_taps>& p) {
  return p.param.name;
}

const std::string zeros(5000, '0');

INSTANTIATE_TEST_SUITE_P(
    Reading, EquivalentTapFiles,
    testing::Values(
        equivalent_taps{"HexCount", "0x2\n0.5\n0.25\n", two_taps},
        equivalent_taps{"OctalCount", "010\n1 2 3 4 5 6 7 0.5\n", "8\n1 2 3 4 5 6 7 0.5\n"},
        equivalent_taps{"SignedCount", "+2 0.5 0.25", two_taps},
        // 2^32 + 2 keeps its low 32 bits.
        equivalent_taps{"CountWraps", "4294967298\n0.5\n0.25\n", two_taps},
        equivalent_taps{"CrLf", "2\r\n0.5\r\n0.25\r\n", two_taps},
        equivalent_taps{"TabsAndBlanks", " \t2\t\t0.5   0.25", two_taps},
        equivalent_taps{"ExtraTapsIgnored", "2\n0.5\n0.25\n0.125\nabc\n", two_taps},
        equivalent_taps{"ExponentForms", "2\n.5e0\n25E-2\n", two_taps},
        // A word stops the reading; the slots left hold 0.
        equivalent_taps{"LetterLeavesZeros", "3\n0.5\nabc\n0.25\n", "3\n0.5\n0\n0\n"},
        equivalent_taps{"InfIsNotANumber", "2\ninf\n0.25\n", "2\n0\n0\n"},
        equivalent_taps{"NanIsNotANumber", "2\n0.5\nnan\n", "2\n0.5\n0\n"},
        equivalent_taps{"SignedInf", "2\n-inf\n0.25\n", "2\n0\n0\n"},
        // "0x1p-1" reads as 0, then the x stops the reading.
        equivalent_taps{"HexFloat", "2\n0x1p-1\n0.25\n", "2\n0\n0\n"},
        equivalent_taps{"LongFraction", "2\n0.5" + zeros + "1\n0.25\n", two_taps},
        equivalent_taps{"LongLeadingZeros", "2\n" + zeros + "0.5\n0.25" + zeros + "\n", two_taps},
        equivalent_taps{"TinyIsZero", "2\n0." + zeros + "1\n0.25\n", "2\n0\n0.25\n"},
        // A tap too large for a float is infinite, and converts to the coefficient 0.
        equivalent_taps{"HugeIsInfinite", "2\n1" + zeros + "\n0.25\n", "2\n0\n0.25\n"},
        equivalent_taps{"HugeExponent", "2\n1e99999\n0.25\n", "2\n0\n0.25\n"}),
    equivalent_name);

}  // namespace
}  // namespace fixfir_test
