// fixfir-report run as a program in scratch directories.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/report/gnuplot_runner.h"
#include "fixfir/report/picture_files.h"
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
// Standard output goes to `stdout_path` when one is given (and is then not captured).
report_result run_report(const fs::path& cwd, const std::vector<std::string>& args,
                         const std::string& prefix = "", const std::string& stdout_path = "") {
  const fs::path out = cwd.parent_path() / (cwd.filename().string() + ".out");
  const fs::path err = cwd.parent_path() / (cwd.filename().string() + ".err");
  std::string cmd =
      "cd " + shell_quote(cwd.string()) + " && " + prefix + " " + shell_quote(FIXFIR_REPORT_EXE);
  for (const std::string& a : args) cmd += " " + shell_quote(a);
  cmd += " < /dev/null > " + shell_quote(stdout_path.empty() ? out.string() : stdout_path) +
         " 2> " + shell_quote(err.string());
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

// PATH as the report reads it: nothing when it is not set.
std::optional<std::string_view> path_variable() {
  const char* path = std::getenv("PATH");
  return path != nullptr ? std::optional<std::string_view>(path) : std::nullopt;
}

bool gnuplot_installed() { return !fixfir::find_program("gnuplot", path_variable()).empty(); }

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
  // Whatever was typed, no control character reaches the terminal.
  for (const char c : r.err.substr(0, r.err.size() - 1))
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << r.err;
  EXPECT_FALSE(fs::exists(dir / "response.png"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedOptions,
    ::testing::Values(
        std::vector<std::string>{"--dir", "."},
        std::vector<std::string>{"--precision", "15", "--initial", "100", "--step", "50",
                                 "--ending", "4000", "--bogus"},
        std::vector<std::string>{"--precision=fifteen", "--initial", "100", "--step", "50",
                                 "--ending", "4000"},
        std::vector<std::string>{"--precision", "15", "--initial", "100", "--step", "0", "--ending",
                                 "4000"},
        std::vector<std::string>{"--precision", "1\nx", "--initial", "100", "--step", "50",
                                 "--ending", "4000"},
        std::vector<std::string>{"--\x1b]0;title\x07", "--precision", "15"},
        std::vector<std::string>{"--precision", "15", "--initial", "100", "--step", "50",
                                 "--ending", "4000", "--passband", "0:1000", "--passband",
                                 "500:1500"},
        std::vector<std::string>{"--precision", "15", "--initial", "100", "--step", "50",
                                 "--ending", "4000", "--passband", "0:1e-300"},
        std::vector<std::string>{"--explore", "--initial", "100", "--step", "50", "--ending",
                                 "4000", "--overflow", "saturate"},
        std::vector<std::string>{"--export", "taps.h", "--precision", "15", "--rounding", "up"},
        std::vector<std::string>{"--export", "taps.h", "--sample-bits", "16"},
        // --export alone refuses what it does not use, as each mode does.
        std::vector<std::string>{"--export", "taps.h", "--precision", "15", "--cost", "bits"},
        std::vector<std::string>{"--export", "taps.h", "--precision", "15", "--min-snr", "60"},
        std::vector<std::string>{"--export", "taps.h", "--precision", "15", "--passband", "0:1000"},
        std::vector<std::string>{"--export", "taps.h", "--precision", "15", "--step", "0"},
        std::vector<std::string>{"--export", "taps.h", "--precision", "15", "--sweep-step", "0"},
        // The search's roundings are toward zero and to nearest.
        std::vector<std::string>{"--explore", "--initial", "100", "--step", "50", "--ending",
                                 "4000", "--rounding", "floor"}));

// The command line as a person meets it: what each stream receives, and the status. The
// taps are the example's unless a row gives its own.
struct command_case {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* out;  // a regular expression for the whole of standard output
  const char* err;  // the same for standard error
  const char* taps = nullptr;
};

// Whether `pattern` matches the whole of `text`. std::regex recurses once a character on a
// leading or trailing `[^]*`, which overflows the stack on a text as long as the usage under
// the sanitizers: those ends are left open in a search instead.
bool matches_whole(const std::string& text, std::string pattern) {
  const std::string any = "[^]*";
  const bool open_start = pattern.starts_with(any);
  if (open_start) pattern.erase(0, any.size());
  const bool open_end = pattern.ends_with(any) && !pattern.ends_with("\\" + any);
  if (open_end) pattern.erase(pattern.size() - any.size());
  return std::regex_search(
      text, std::regex((open_start ? "" : "^") + ("(?:" + pattern + ")") + (open_end ? "" : "$")));
}

class CommandLine : public ::testing::TestWithParam<command_case> {};

TEST_P(CommandLine, SaysWhatItShould) {
  const command_case& c = GetParam();
  scratch_dir dir;
  write_file(dir / "taps.txt", c.taps != nullptr ? std::string(c.taps) : example_taps);
  const report_result r = run_report(dir.path, c.args, no_gnuplot);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_TRUE(matches_whole(r.out, c.out)) << r.out;
  EXPECT_TRUE(matches_whole(r.err, c.err)) << r.err;
}

const char* const gnuplot_missing =
    "gnuplot not found: install it \\(apt-get install gnuplot-nox\\) to draw response\\.png "
    "and waves\\.png\n";

std::vector<std::string> with_example(std::vector<std::string> more) {
  std::vector<std::string> args = example_args();
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLine,
    ::testing::Values(
        command_case{"no_arguments_print_the_usage", {}, 2, "", "Usage: fixfir-report [^]*"},
        command_case{"version", {"--version"}, 0, "fixfir-report " FIXFIR_VERSION "\n", ""},
        command_case{"every_missing_option_in_one_line",
                     {"--sweep-step", "8"},
                     2,
                     "",
                     "fixfir-report: missing --precision, --initial, --step and --ending \\(see "
                     "--help\\)\n"},
        command_case{"did_you_mean", with_example({"--precison", "15"}), 2, "",
                     "fixfir-report: unknown option '--precison'; did you mean --precision\\? "
                     "\\(see --help\\)\n"},
        // The summary's verdict, after every fact.
        command_case{"targets_met", with_example({"--min-snr", "60"}), 0,
                     "taps: 63 [^]*\nerror from the arithmetic[^\n]*\ntargets: met \\("
                     "attenuation >= 51\\.25 dB, ripple <= 0\\.1333 dB, SNR >= 60\\.00 dB, "
                     "no wrap\\)\n",
                     gnuplot_missing},
        // More numbers than the count gives: said on standard error, and the run goes on.
        command_case{"one_number_past_the_count",
                     {"--export", "t.mem", "--precision", "15"},
                     0,
                     "coefficients: t\\.mem [^\n]*\n",
                     "fixfir-report: \\./taps\\.txt: 1 more number follows the 2 taps its "
                     "count gives and is not used \\(is the count right\\?\\)\n",
                     "2\n0.5 0.25\n0.125\n"},
        command_case{"numbers_past_the_count_up_to_a_word",
                     {"--export", "t.mem", "--precision", "15"},
                     0,
                     "coefficients: t\\.mem [^\n]*\n",
                     "fixfir-report: \\./taps\\.txt: 3 more numbers follow the tap its count "
                     "gives and are not used \\(is the count right\\?\\)\n",
                     "1 0.5 -1 +2e-3 .5 end 7\n"},
        // The default fraction is the largest that holds every tap once rounded: 8 would
        // hold the largest |tap| 0.5, but rounds 0.499 to 128, past the word's 127.
        command_case{"default_fraction_holds_every_tap",
                     {"--export", "t.mem", "--coefficient-bits", "8", "--rounding", "nearest"},
                     0,
                     "coefficients: t\\.mem \\(2 words of 8 bits, 7 fractional, [^\n]*\n",
                     "",
                     "2\n-0.5 0.499\n"},
        command_case{"help_says_the_default_fraction_holds_every_tap",
                     {"--help"},
                     0,
                     "[^]*--coefficient-bits, the largest that holds every tap\\)\n[^]*",
                     ""},
        command_case{"words_past_the_count_are_not_numbers",
                     {"--export", "t.mem", "--precision", "15"},
                     0,
                     "coefficients: t\\.mem [^\n]*\n",
                     "",
                     "2\n0.5 0.25\n# designed for 16 kHz\n\n"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(Help, PrintsUsageAndSucceeds) {
  scratch_dir dir;
  const report_result r = run_report(dir.path, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: fixfir-report --precision P", 0), 0U) << r.out;
  EXPECT_TRUE(r.err.empty());
}

TEST(Help, AFailedWriteIsStatusOne) {
  scratch_dir dir;
  const report_result r = run_report(dir.path, {"--help"}, "", "/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "fixfir-report: cannot write to standard output: No space left on device\n");
}

struct tap_problem {
  const char* name;
  const char* content;  // nullptr: no taps.txt; "/": taps.txt is a folder; "@x": a link to x
  const char* message;
};

class TapProblems : public ::testing::TestWithParam<tap_problem> {};

TEST_P(TapProblems, OneMessageAndStatusOne) {
  const tap_problem& p = GetParam();
  scratch_dir dir;
  if (p.content != nullptr && std::string(p.content) == "/") {
    fs::create_directory(dir / "taps.txt");
  } else if (p.content != nullptr && p.content[0] == '@') {
    fs::create_symlink(p.content + 1, dir / "taps.txt");
  } else if (p.content != nullptr) {
    write_file(dir / "taps.txt", p.content);
  }
  // An endless tap file must be read only as far as the taps go; should it be read
  // whole, the limit ends that run early instead of the machine's memory.
#ifdef __SANITIZE_ADDRESS__
  const char* const limit = "";  // the sanitizer's shadow memory needs the whole space
#else
  const char* const limit = "ulimit -v 4000000;";
#endif
  const report_result r = run_report(dir.path, example_args(), limit);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(one_line(r.err)) << r.err;
  EXPECT_NE(r.err.find("taps.txt"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(p.message), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "response.png"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TapProblems,
    ::testing::Values(
        tap_problem{"missing", nullptr, "cannot open"}, tap_problem{"folder", "/", "cannot read"},
        tap_problem{"too_few", "5\n0.1 0.2 0.3\n",
                    "tap 3 is missing or not a number (the count gives 5, tap 0 first)"},
        tap_problem{"not_a_number", "2\n0.5 half\n", "tap 1 is missing or not a number"},
        // A word where a number should be is named by the same index as an infinite tap.
        tap_problem{"nan_word", "3\n0.5 nan 0.25\n", "tap 1 is missing or not a number"},
        tap_problem{"no_taps", "0\n", "tap count is 0"},
        // Beyond the float range a tap reads as infinite.
        tap_problem{"infinite", "3\n0.5 1e39 -1e39\n", "tap 1 is not a finite number (inf)"},
        tap_problem{"negative_infinite", "2\n-1e39 0.5\n", "tap 0 is not a finite number (-inf)"},
        tap_problem{"empty", "", "no tap count"},
        tap_problem{"endless", "@/dev/zero", "no tap count"}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- Exporting the coefficients ---------------------------------------------------------------

// The words of the seed's datapath are the seed's coefficients, trunc(2^P × tap); a
// narrower word says what it is and how many taps did not fit it.
// A chosen datapath: the summary opens with it in words and is measured on it; --explore
// ends with the recommendation and why, and --export then writes the recommended words.
TEST(Datapath, TheSummaryOpensWithItAndTheSearchEndsWithItsChoice) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  report_result r =
      run_report(dir.path,
                 {"--initial", "100", "--step", "50", "--ending", "4000", "--sweep-step", "40",
                  "--coefficient-bits", "16", "--sample-bits", "14", "--overflow", "saturate"},
                 "PATH=/nonexistent ");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("datapath: coefficients 16 bits (16 fractional), samples 14 bits (13 "
                        "fractional), accumulator 32 bits, rounding toward zero, overflow "
                        "saturates\n",
                        0),
            0U)
      << r.out;
  EXPECT_NE(r.out.find("\naccumulator bits needed for no wrap with any input: 31\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\nerror from accumulator saturation (waveform test): inf dB"),
            std::string::npos);
  r = run_report(dir.path, {"--explore", "--initial", "100", "--step", "50", "--ending", "4000",
                            "--sweep-step", "40", "--min-snr", "60", "--rounding", "nearest",
                            "--export", "best.mem"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The recommendation names every choice, and the options that make it follow.
  const std::regex ending(
      "[^]*\nrecommended datapath: (coefficients ([0-9]+) bits \\(([-0-9]+) fractional\\), "
      "samples ([0-9]+) bits \\(([0-9]+) fractional\\), accumulator ([0-9]+) bits, rounding to "
      "nearest, overflow saturates)\noptions: ([^\n]*)\nwhy: the cheapest [^\n]*\n"
      "coefficients: best.mem \\(63 words of ([0-9]+) bits[^\n]*\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.out, m, ending)) << r.out;
  EXPECT_EQ(m[2], m[8]);
  EXPECT_EQ(m[7].str(), "--coefficient-bits " + m[2].str() + " --coefficient-precision " +
                            m[3].str() + " --sample-bits " + m[4].str() + " --sample-precision " +
                            m[5].str() + " --accumulator-bits " + m[6].str() +
                            " --rounding nearest --overflow saturate");
  EXPECT_TRUE(fs::exists(dir / "best.mem"));
  // Its row of the front, and the summary with the options pasted: the same datapath, and
  // the row's figures.
  std::smatch row;
  ASSERT_TRUE(
      std::regex_search(r.out, row,
                        std::regex("\n +" + m[2].str() + "  to nearest +" + m[4].str() + " +" +
                                   m[6].str() + " +([0-9.]+) +([0-9.]+) +([0-9.]+) +[0-9]+\n")))
      << r.out;
  std::vector<std::string> pasted{"--initial", "100",  "--step",       "50",
                                  "--ending",  "4000", "--sweep-step", "40"};
  std::istringstream words(m[7].str());
  for (std::string word; words >> word;) pasted.push_back(word);
  const report_result summary = run_report(dir.path, pasted, no_gnuplot);
  ASSERT_EQ(summary.status, 0) << summary.err;
  EXPECT_EQ(summary.out.rfind("datapath: " + m[1].str() + "\n", 0), 0U) << summary.out;
  for (const std::string& line : std::vector<std::string>{
           "stopband attenuation (fixed point, steady state): " + row[1].str() + " dB",
           "passband ripple (fixed point, steady state): " + row[2].str() + " dB",
           "output SNR (waveform test): " + row[3].str() + " dB",
           "coefficient overflows: 0 of 63 taps",
           "accumulator saturations (waveform test): 0 of 32000 samples"}) {
    // A steady-state figure may be followed by the note that samples saturated at full scale.
    const std::size_t at = summary.out.find("\n" + line);
    ASSERT_NE(at, std::string::npos) << line << "\n" << summary.out;
    const std::size_t end = at + 1 + line.size();
    EXPECT_TRUE(summary.out.compare(end, 1, "\n") == 0 ||
                summary.out.compare(end, 20, " (samples saturate a") == 0)
        << line << "\n"
        << summary.out;
  }
}

TEST(Export, WritesTheWordsAndOneLine) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  report_result r = run_report(dir.path, {"--export", "seed.csv", "--precision", "15"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "coefficients: seed.csv (63 words of 32 bits, 15 fractional, rounding toward zero, "
            "overflow wraps)\n");
  EXPECT_TRUE(r.err.empty()) << r.err;
  const std::string csv = read_file(dir / "seed.csv");
  std::vector<float> taps;
  for (const char* p = example_taps.c_str() + example_taps.find('\n');;) {
    char* end = nullptr;
    const float t = std::strtof(p, &end);
    if (end == p) break;
    taps.push_back(t);
    p = end;
  }
  ASSERT_EQ(taps.size(), 63U);
  ASSERT_EQ(csv.rfind("index,integer,value\n", 0), 0U);
  const char* row = csv.c_str() + csv.find('\n') + 1;
  for (std::size_t j = 0; j < taps.size(); ++j) {
    const auto c = static_cast<std::int32_t>(std::trunc(32768.0 * static_cast<double>(taps[j])));
    char* end = nullptr;
    EXPECT_EQ(std::strtol(row, &end, 10), static_cast<long>(j));
    EXPECT_EQ(std::strtol(end + 1, &end, 10), c) << "tap " << j;
    EXPECT_EQ(std::strtod(end + 1, &end), std::ldexp(c, -15)) << "tap " << j;  // read back exactly
    ASSERT_EQ(*end, '\n');
    row = end + 1;
  }
  EXPECT_EQ(fixfir_test::line_count(csv), 64U);
  EXPECT_FALSE(fs::exists(dir / "response.png"));

  r = run_report(dir.path, {"--export=narrow.mem", "--coefficient-bits=8",
                            "--coefficient-precision=12", "--overflow=saturate"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::regex said(
      R"(coefficients: narrow\.mem \(63 words of 8 bits, 12 fractional, rounding toward zero, )"
      R"(overflow saturates\)\noverflow: [1-9][0-9]* of 63 taps did not fit 8 bits and )"
      R"(saturated\n)");
  EXPECT_TRUE(std::regex_match(r.out, said)) << r.out;
  EXPECT_TRUE(std::regex_match(read_file(dir / "narrow.mem"), std::regex("([0-9a-f]{2}\n){63}")));
}

// A write that fails (a file size limit) is status 1 and one line, and leaves the earlier
// file as it was and no temporary file beside it; so does a file name of no known kind.
TEST(Export, AFailedWriteKeepsTheEarlierFile) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  write_file(dir / "taps.csv", "earlier\n");
  const std::vector<std::string> args{"--export", "taps.csv", "--coefficient-bits", "32"};
  report_result r = run_report(dir.path, args, "prlimit --fsize=512");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(r.err, "fixfir-report: cannot write taps.csv: File too large\n");
  EXPECT_EQ(read_file(dir / "taps.csv"), "earlier\n");
  // Only a regular file is replaced: a pipe (like a device) stays what it is.
  ASSERT_EQ(mkfifo((dir / "dev.h").c_str(), 0600), 0);
  r = run_report(dir.path, {"--export", "dev.h", "--precision", "15"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "fixfir-report: cannot write dev.h: not a regular file\n");
  EXPECT_TRUE(fs::is_fifo(dir / "dev.h"));
  fs::remove(dir / "dev.h");
  // A name of no known kind is a bad option value: status 2, one line.
  r = run_report(dir.path, {"--export", "taps.CSV.txt", "--precision", "15"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "fixfir-report: --export: 'taps.CSV.txt' does not end in .h, .mem, .csv, .v, _tb.v or "
            ".c (see --help)\n");
  r = run_report(dir.path, {"--export", "taps\n.cc", "--precision", "15"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "fixfir-report: --export: 'taps\\n.cc' does not end in .h, .mem, .csv, .v, _tb.v or "
            ".c (see --help)\n");
  // A C filter takes any name: none of it goes into the file.
  r = run_report(dir.path, {"--export", "taps\n.c", "--precision", "15"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("C filter: taps\\n.c (63 taps, 32 multipliers")) << r.out;
  fs::remove(dir / "taps\n.c");
  // After a search likewise, refused before any work: nothing searched, drawn or written.
  const std::vector<std::string> search{"--explore", "--initial", "100",          "--step", "50",
                                        "--ending",  "4000",      "--sweep-step", "40"};
  std::vector<std::string> args_of_search = search;
  args_of_search.insert(args_of_search.end(), {"--export", "taps.CSV.txt"});
  r = run_report(dir.path, args_of_search);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(r.err,
            "fixfir-report: --export: 'taps.CSV.txt' does not end in .h, .mem, .csv, .v, _tb.v or "
            ".c (see --help)\n");
  // A search that recommends nothing writes nothing, says so, and fails: the earlier file
  // is not its answer.
  args_of_search = search;
  args_of_search.insert(args_of_search.end(), {"--coefficient-bits", "8", "--sample-bits", "8",
                                               "--min-snr", "200", "--export", "taps.csv"});
  r = run_report(dir.path, args_of_search, no_gnuplot);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\nrecommended datapath: none\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err,
            "gnuplot not found: install it (apt-get install gnuplot-nox) to draw explore.png\n"
            "fixfir-report: --export: nothing written to taps.csv: no datapath meets the "
            "targets\n");
  EXPECT_EQ(read_file(dir / "taps.csv"), "earlier\n");
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path)) names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"taps.csv", "taps.txt"}));
}

TEST(Summary, AFailedWriteIsStatusOneAndDrawsNothing) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  const report_result r = run_report(dir.path, example_args(), "", "/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "fixfir-report: cannot write to standard output: No space left on device\n");
  EXPECT_FALSE(fs::exists(dir / "response.png"));
}

// ---- Summary ----------------------------------------------------------------------------

TEST(Summary, ExampleWithoutGnuplotPrintsEveryFactAndSaysHowToGetPictures) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  const report_result r = run_report(dir.path, example_args(), no_gnuplot);
  EXPECT_EQ(r.status, 0);
  const char* const expected[] = {
      R"(taps: 63 from \./taps\.txt)",
      R"(precision: 15 \(scale 32768\))",
      R"(symmetry \(unquantized taps, compared bit for bit\): symmetric; folded, 32 multipliers for the 63 taps)",
      R"(group delay: 31 samples, 1\.9375 ms at 16000 Hz)",
      R"(gain at 0 Hz \(DC\): 1 \(0\.00 dB\))",
      R"(gain at 8000 Hz \(half the sample rate\): -0\.000334434 \(-69\.51 dB\))",
      R"(largest output for any input: 1\.65953 times the input's full scale \(1 bit of growth\))",
      R"(largest tap quantization error: [0-9.e-]+)",
      R"(waveform test: 79 tones from 100 Hz in steps of 50 Hz)",
      R"(accumulator wraps \(waveform test\): 0 of 32000 samples)",
      R"(output SNR \(waveform test\): [0-9]+\.[0-9]{2} dB)",
      R"(sweep: 80 frequencies from 4 Hz in steps of 100 Hz)",
      R"(passbands \(inferred from the unquantized taps\): 0 to 1560\.55 Hz)",
      R"(stopbands \(inferred from the unquantized taps\): 2429\.69 to 8000 Hz)",
      R"(passband ripple \(unquantized taps\): 0\.03[0-9]{2} dB)",
      R"(passband ripple \(quantized coefficients\): 0\.0[0-9]{3} dB)",
      R"(passband ripple \(fixed point, steady state\): 0\.0[0-9]{3} dB)",
      R"(passband ripple \(sweep, transient included\): [0-9]+\.[0-9]{4} dB)",
      R"(stopband attenuation \(unquantized taps\): 52\.[0-9]{2} dB)",
      R"(stopband attenuation \(quantized coefficients\): 5[0-9]\.[0-9]{2} dB)",
      R"(stopband attenuation \(fixed point, steady state\): 5[0-9]\.[0-9]{2} dB)",
      R"(stopband attenuation \(sweep, transient included\): [0-9]+\.[0-9]{2} dB)",
      R"(accumulator wraps \(sweep\): 0 of 80 frequencies)",
      R"(largest precision free of wraps for any input: 15)",
      R"(headroom at precision 15: 0\.[0-9]{2} bits)",
      R"(error from coefficient quantization \(waveform test\): [0-9]+\.[0-9]{2} dB signal to error)",
      R"(error from the arithmetic, signal truncation and wraps \(waveform test\): [0-9]+\.[0-9]{2} dB signal to error, [0-9]+\.[0-9]{2} dB predicted by the truncation model)"};
  std::string lines;
  for (const char* e : expected) lines += std::string(e) + "\n";
  EXPECT_TRUE(std::regex_match(r.out, std::regex(lines))) << r.out;
  EXPECT_EQ(r.err,
            "gnuplot not found: install it (apt-get install gnuplot-nox) to draw response.png and "
            "waves.png\n");
  EXPECT_FALSE(fs::exists(dir / "response.png"));
  EXPECT_FALSE(fs::exists(dir / "waves.png"));
}

// The bands a summary or a scan prints, given back as --passband and --stopband, give every
// figure again: inferred edges are rounded to 0.01 Hz before they are measured, and printed
// exactly as measured.
class InferredBands : public ::testing::TestWithParam<std::string> {};

TEST_P(InferredBands, GivenBackReproduceEveryFigure) {
  scratch_dir dir;
  write_file(dir / "taps.txt", read_file(GetParam()));
  std::vector<std::string> scan_args = example_args();
  scan_args.erase(scan_args.begin(), scan_args.begin() + 2);
  scan_args.insert(scan_args.begin(), "--scan");
  for (const std::vector<std::string>& run : {example_args(), scan_args}) {
    const report_result inferred = run_report(dir.path, run, no_gnuplot);
    ASSERT_EQ(inferred.status, 0) << inferred.err;
    std::vector<std::string> args = run;
    const std::string label = " (inferred from the unquantized taps): ";
    std::string expected = inferred.out;
    for (const char* kind : {"pass", "stop"}) {
      const std::string head = std::string(kind) + "bands" + label;
      const std::size_t at = expected.find("\n" + head);
      ASSERT_NE(at, std::string::npos) << inferred.out;
      std::string list = expected.substr(at + 1 + head.size());
      list = list.substr(0, list.find('\n'));
      const std::regex one("([^ ,]+) to ([^ ,]+) Hz");
      const std::regex hundredths("[0-9]+(\\.[0-9]{1,2})?");
      for (std::sregex_iterator b(list.begin(), list.end(), one), end; b != end; ++b) {
        EXPECT_TRUE(std::regex_match((*b)[1].str(), hundredths)) << list;
        EXPECT_TRUE(std::regex_match((*b)[2].str(), hundredths)) << list;
        args.insert(args.end(),
                    {std::string("--") + kind + "band", (*b)[1].str() + ":" + (*b)[2].str()});
      }
      expected.replace(at + 1, head.size() - 2, std::string(kind) + "bands (given)");
    }
    const report_result given = run_report(dir.path, args, no_gnuplot);
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(given.out, expected);
  }
}

std::vector<std::string> shipped_filters() {
  std::vector<std::string> paths{(fs::path(FIXFIR_EXAMPLES) / "taps.txt").string()};
  for (const auto& entry : fs::directory_iterator(FIXFIR_FIXTURES)) {
    if (entry.path().extension() == ".txt") paths.push_back(entry.path().string());
  }
  std::sort(paths.begin() + 1, paths.end());
  return paths;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, InferredBands, ::testing::ValuesIn(shipped_filters()),
                         [](const auto& p) {
                           const fs::path path(p.param);
                           return path.parent_path().filename() == "examples"
                                      ? std::string("example")
                                      : path.stem().string();
                         });

// Degenerate answers still give a full summary (or search) and status 0.
struct odd_run {
  const char* name;
  std::string taps;
  std::vector<std::string> args;
  const char* expected_line;
  std::size_t lines = 27;  // of the summary; 0: a search's, which vary
};

// A Hamming-windowed low-pass of `count` taps, cut-off 1000 Hz, as a tap file.
std::string low_pass_taps(int count) {
  std::string text = std::to_string(count) + "\n";
  const double centre = (count - 1) / 2.0;
  const double pi = std::numbers::pi;
  for (int k = 0; k < count; ++k) {
    const double x = (k - centre) / 8.0;  // 2 × 1000 / 16000 = 1/8
    const double sinc = x == 0.0 ? 1.0 : std::sin(pi * x) / (pi * x);
    const double window = count > 1 ? 0.54 - 0.46 * std::cos(2 * pi * k / (count - 1)) : 1.0;
    char tap[32];
    std::snprintf(tap, sizeof tap, "%.9g\n", sinc * window / 8.0);
    text += tap;
  }
  return text;
}

// A filter longer than the sweep's 4000-sample run, with given bands and a coarse sweep.
odd_run long_filter(const char* name, int count, const char* expected_line) {
  return {name,
          low_pass_taps(count),
          {"--precision", "14", "--initial", "100", "--step", "300", "--ending", "1000",
           "--sweep-step", "2000", "--passband", "0:800", "--stopband", "1500:8000"},
          expected_line};
}

class OddRuns : public ::testing::TestWithParam<odd_run> {};

TEST_P(OddRuns, SummarySaysWhatHappened) {
  const odd_run& o = GetParam();
  scratch_dir dir;
  write_file(dir / "taps.txt", o.taps);
  const report_result r = run_report(dir.path, o.args, no_gnuplot);
  EXPECT_EQ(r.status, 0) << r.err;
  if (o.lines > 0) {
    const bool on_datapath =
        std::find(o.args.begin(), o.args.end(), "--coefficient-bits") != o.args.end();
    EXPECT_EQ(fixfir_test::line_count(r.out), on_datapath ? o.lines + 3 : o.lines) << r.out;
  }
  EXPECT_NE(r.out.find(std::string(o.expected_line) + "\n"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OddRuns,
    ::testing::Values(
        odd_run{"overflowing_precision",
                "1\n1.0\n",
                {"--precision", "16", "--initial", "100", "--step", "50", "--ending", "4000",
                 "--sweep-step", "500"},
                "largest tap quantization error: 0"},
        odd_run{"zero_scale",
                "2\n0.5 0.5\n",
                {"--precision", "40", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "output SNR (waveform test): nan dB"},
        odd_run{"negative_scale",
                "2\n0.5 0.5\n",
                {"--precision", "31", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "precision: 31 (scale -2147483648)"},
        odd_run{"no_tones",
                "1\n1.0\n",
                {"--precision", "15", "--initial", "1000", "--step", "100", "--ending", "500",
                 "--sweep-step", "500"},
                "waveform test: no tones, the input is silent"},
        odd_run{"descending_tones",
                "1\n1.0\n",
                {"--precision", "15", "--initial", "1000", "--step", "-100", "--ending", "100",
                 "--sweep-step=7000"},
                "waveform test: 10 tones from 1000 Hz in steps of -100 Hz"},
        odd_run{"all_zero_taps",
                "3\n0 0 0\n",
                {"--precision", "15", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "passband ripple (fixed point, steady state): no passband"},
        // Between two swept frequencies: the sweep's figure is not measured.
        odd_run{"band_between_swept_frequencies",
                "1\n1.0\n",
                {"--precision", "15", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500", "--passband", "1001:1002"},
                "passband ripple (sweep, transient included): none, no swept "
                "frequency in the pass bands"},
        // Taps too small for the precision: every coefficient is 0.
        odd_run{"silent_coefficients",
                "3\n0.01 0.03 0.01\n",
                {"--precision", "4", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "passband ripple (quantized coefficients): silent (every coefficient "
                "is 0)"},
        odd_run{"silent_sweep",
                "3\n0.01 0.03 0.01\n",
                {"--precision", "4", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500", "--stopband", "6000:8000"},
                "stopband attenuation (sweep, transient included): silent (every "
                "coefficient is 0)"},
        odd_run{"silent_datapath",
                "3\n0.01 0.03 0.01\n",
                {"--coefficient-bits", "8", "--coefficient-precision", "3", "--sample-bits", "16",
                 "--initial", "100", "--step", "100", "--ending", "1000", "--sweep-step", "500",
                 "--stopband", "6000:8000"},
                "stopband attenuation (fixed point, steady state): silent (every "
                "coefficient is 0)"},
        odd_run{"silent_datapath_needs_one_bit",
                "3\n0.01 0.03 0.01\n",
                {"--coefficient-bits", "8", "--coefficient-precision", "3", "--sample-bits", "16",
                 "--initial", "100", "--step", "100", "--ending", "1000", "--sweep-step", "500"},
                "accumulator bits needed for no wrap with any input: 1"},
        // A tap beyond full scale: the output grows a bit over the input's word.
        odd_run{"tap_beyond_full_scale",
                "1\n-1.5\n",
                {"--precision", "15", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "largest output for any input: 1.5 times the input's full scale (1 bit of "
                "growth)"},
        odd_run{"antisymmetric_taps",
                "3\n0.5 0 -0.5\n",
                {"--precision", "15", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "symmetry (unquantized taps, compared bit for bit): antisymmetric; folded, 1 "
                "multiplier for the 3 taps"},
        odd_run{"unit_tap",
                "1\n1.0\n",
                {"--precision", "15", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "stopband attenuation (fixed point, steady state): no stopband"}),
    [](const auto& i) { return std::string(i.param.name); });

// A search of the datapaths on small, silent, huge and long filters: each a search (no
// "out of memory"), whose lines say what the targets are and what holds the taps.
odd_run odd_search(const char* name, std::string taps, const char* expected_line,
                   std::vector<std::string> more = {}) {
  std::vector<std::string> args{"--explore", "--initial", "100",          "--step", "300",
                                "--ending",  "1000",      "--sweep-step", "500"};
  args.insert(args.end(), more.begin(), more.end());
  return {name, std::move(taps), std::move(args), expected_line, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Searches, OddRuns,
    ::testing::Values(
        // The narrowest accumulator a datapath takes is 8 bits, though fewer would hold the
        // sums; with no stop band the attenuation is no target, and says so.
        odd_search("one_tap", "1\n0.5\n",
                   "targets: stopband attenuation any (no stopband), passband ripple at most "
                   "0.1000 dB, SNR any, no overflows"),
        odd_search("three_taps", "3\n0.25 0.5 0.25\n",
                   "options: --coefficient-bits 4 --coefficient-precision 3 --sample-bits 5 "
                   "--sample-precision 4 --accumulator-bits 8 --rounding nearest --overflow "
                   "saturate",
                   {"--passband", "0:1710.9375"}),
        odd_search("all_zero_taps", "3\n0 0 0\n",
                   "targets: stopband attenuation any (no passband), passband ripple any (no "
                   "passband), SNR any, no overflows"),
        // Nothing to measure the SNR of: the front says so in words.
        odd_search("all_zero_taps_front", "3\n0 0 0\n",
                   "         4  toward zero            4          8  no passband  no passband "
                   "   silent    24"),
        // A tap no coefficient word holds, even with its fraction at -32, is an overflow:
        // nothing is recommended.
        odd_search("tap_beyond_every_word", "1\n3.4e38\n",
                   "         4  toward zero  none: 1 of 1 taps do not fit the coefficient word, "
                   "even at -32 fractional bits (saturated)"),
        odd_search("taps_that_saturate", "2\n1e30 -1e30\n", "recommended datapath: none"),
        // The default SNR target is the attenuation target (the bands given, so that the
        // targets are those of these very edges).
        odd_search("default_snr_target", example_taps,
                   "targets: stopband attenuation at least 51.25 dB, passband ripple at most "
                   "0.1333 dB, SNR at least 51.25 dB (by default the attenuation target), no "
                   "overflows",
                   {"--coefficient-bits", "12", "--passband", "0:1560.546875", "--stopband",
                    "2429.6875:8000"}),
        // Without a steady state the targets are the coefficients', and the lines say so;
        // the SNR is still measured, and a target.
        odd_search("long_filter", low_pass_taps(3938),
                   "targets: stopband attenuation (quantized coefficients) at least 83.87 dB, "
                   "passband ripple (quantized coefficients) at most 0.1030 dB, SNR at least "
                   "83.87 dB (by default the attenuation target), no overflows; the fixed-point "
                   "steady state is not measured: the filter's 3937-sample history leaves 63 of "
                   "the 4000-sample run for the fit, which needs at least 64",
                   {"--passband", "0:800", "--stopband", "1500:8000", "--coefficient-bits", "21",
                    "--sample-bits", "4"})),
    [](const auto& i) { return std::string(i.param.name); });

// The headroom of the coefficients the run uses, and the steady state of filters too long
// for a fit in the sweep's run.
INSTANTIATE_TEST_SUITE_P(
    LongFiltersAndHeadroom, OddRuns,
    ::testing::Values(
        // Nothing can wrap when every coefficient is 0: a scale of 0, or taps
        // out of the 64-bit range.
        odd_run{"coefficients_of_zero_scale",
                "2\n0.5 0.5\n",
                {"--precision", "32", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "headroom at precision 32: unbounded (every coefficient is 0; nothing "
                "can wrap)"},
        odd_run{"coefficients_out_of_range",
                "2\n3.4e38 -3.4e38\n",
                {"--precision", "15", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "headroom at precision 15: unbounded (every coefficient is 0; nothing "
                "can wrap)"},
        odd_run{"some_input_can_wrap",
                "2\n1.0 1.0\n",
                {"--precision", "16", "--initial", "100", "--step", "100", "--ending", "1000",
                 "--sweep-step", "500"},
                "headroom at precision 16: -2.00 bits (some input can wrap the "
                "accumulator)"},
        // The steady state is fitted over at least 64 samples after the
        // history is full; longer filters say why they have no figures.
        long_filter("taps_3937", 3937,
                    "stopband attenuation (fixed point, steady state): 38.04 dB"),
        long_filter("taps_3938", 3938,
                    "passband ripple (fixed point, steady state): not measured: the filter's "
                    "3937-sample history leaves 63 of the 4000-sample run for the fit, "
                    "which needs at least 64"),
        long_filter("taps_3998", 3998,
                    "stopband attenuation (fixed point, steady state): not measured: the filter's "
                    "3997-sample history leaves 3 of the 4000-sample run for the fit, "
                    "which needs at least 64"),
        long_filter("taps_3999", 3999,
                    "passband ripple (fixed point, steady state): not measured: the filter's "
                    "3998-sample history leaves 2 of the 4000-sample run for the fit, "
                    "which needs at least 64"),
        long_filter("taps_4000", 4000,
                    "passband ripple (fixed point, steady state): not measured: the filter's "
                    "3999-sample history leaves 1 of the 4000-sample run for the fit, "
                    "which needs at least 64"),
        long_filter("taps_4001", 4001,
                    "passband ripple (fixed point, steady state): not reached: the "
                    "filter is longer than the 4000-sample run"),
        long_filter("taps_4032", 4032,
                    "stopband attenuation (fixed point, steady state): not reached: "
                    "the filter is longer than the 4000-sample run"),
        long_filter("taps_4033", 4033,
                    "passband ripple (fixed point, steady state): not reached: the "
                    "filter is longer than the 4000-sample run"),
        long_filter("taps_4096", 4096,
                    "stopband attenuation (fixed point, steady state): not reached: "
                    "the filter is longer than the 4000-sample run"),
        long_filter("taps_100000", 100000,
                    "passband ripple (fixed point, steady state): not reached: the "
                    "filter is longer than the 4000-sample run")),
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
  // The figures measured where the accumulator wrapped say so; the others (and every line
  // of the example at precision 15, above) stay as they were.
  const std::regex noted(
      R"((fixed point, steady state|sweep, transient included)\): -?[0-9.]+ dB)"
      R"( \(accumulator wraps at [1-9][0-9]* of the [0-9]+ frequencies measured\)\n)");
  EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), noted),
                          std::sregex_iterator()),
            4)
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\(quantized coefficients\): [0-9.]+ dB\n)")));
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

// Every file and folder below `root`, relative to it.
std::set<std::string> tree(const fs::path& root) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root))
    names.insert(fs::relative(e.path(), root).string());
  return names;
}

struct picture_run {
  const char* name;
  std::string dir;      // --dir, a folder made in the working folder for the run
  const char* gnuplot;  // a stand-in put in ./bin and in the working folder itself, or null
  const char* env;      // before the command; "@" is the working folder, "$T" the temp folder
  const char* tmp;      // where the temporary folder lies: "" /tmp, "shm" /dev/shm, or a path
  int status;
  bool drawn;                 // new pictures replace the earlier ones
  const char* message;        // the one line on standard error, in part; "" for none
  unsigned earlier_mode = 0;  // the earlier pictures' permission bits, which new ones keep
};

class PictureRuns : public ::testing::TestWithParam<picture_run> {};

TEST_P(PictureRuns, PicturesAreNewAndCompleteOrLeftAsTheyWere) {
  const picture_run& p = GetParam();
  const std::string gnuplot = fixfir::find_program("gnuplot", path_variable());
  if (gnuplot.empty() &&
      (p.drawn || (p.gnuplot != nullptr && std::strstr(p.gnuplot, "GNUPLOT") != nullptr))) {
    GTEST_SKIP() << "needs gnuplot";
  }
  if (std::string(p.tmp) == "shm" && !fs::is_directory("/dev/shm")) GTEST_SKIP();
  scratch_dir cwd;
  const fs::path out = cwd / p.dir;
  fs::create_directory(out);
  write_file(out / "taps.txt", example_taps);
  write_file(out / "response.png", "earlier response\n");
  write_file(out / "waves.png", "earlier waves\n");
  if (p.earlier_mode != 0) {
    for (const char* name : {"response.png", "waves.png"})
      fs::permissions(out / name, static_cast<fs::perms>(p.earlier_mode));
  }
  if (p.gnuplot != nullptr) {
    std::string body = p.gnuplot;
    for (std::size_t at; (at = body.find("GNUPLOT")) != std::string::npos;)
      body.replace(at, 7, gnuplot);
    fs::create_directory(cwd / "bin");
    for (const fs::path& f : {cwd / "bin" / "gnuplot", cwd / "gnuplot"}) {
      write_file(f, body);
      fs::permissions(f, fs::perms::owner_all);
    }
  }
  std::string tmp_path = p.tmp;
  std::unique_ptr<scratch_dir> tmp;
  if (tmp_path.empty() || tmp_path == "shm") {
    tmp = std::make_unique<scratch_dir>();
    if (tmp_path == "shm") {
      fs::remove(tmp->path);
      tmp->path = fs::path("/dev/shm") / tmp->path.filename();
      fs::create_directory(tmp->path);
    }
    tmp_path = tmp->path.string();
  }
  std::string env = p.env;
  for (std::size_t at; (at = env.find('@')) != std::string::npos;)
    env.replace(at, 1, cwd.path.string());
  const std::set<std::string> before = tree(cwd.path);
  std::vector<std::string> args = example_args();
  args.insert(args.end(), {"--dir", out.string()});
  const report_result r = run_report(cwd.path, args, "TMPDIR=" + shell_quote(tmp_path) + " " + env);

  EXPECT_EQ(r.status, p.status) << r.err;
  EXPECT_EQ(fixfir_test::line_count(r.out), p.drawn ? 28U : 27U) << r.out.substr(0, 2000);
  if (*p.message == '\0') {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_TRUE(one_line(r.err)) << r.err;
    EXPECT_NE(r.err.find(p.message), std::string::npos) << r.err;
  }
  // Nothing new anywhere: no file made by a command hidden in the folder's name, no
  // half-moved picture, no leftover temporary folder.
  EXPECT_EQ(tree(cwd.path), before);
  if (tmp) {
    EXPECT_TRUE(fs::is_empty(tmp->path));
  }
  if (p.drawn) {
    const png_size response = read_png_size(out / "response.png");
    const png_size waves = read_png_size(out / "waves.png");
    EXPECT_TRUE(response.valid && response.width == 1100U && response.height == 1050U);
    EXPECT_TRUE(waves.valid && waves.width == 1100U && waves.height == 1250U);
    if (p.earlier_mode != 0) {
      for (const char* name : {"response.png", "waves.png"})
        EXPECT_EQ(static_cast<unsigned>(fs::status(out / name).permissions()), p.earlier_mode);
    }
  } else {
    EXPECT_EQ(read_file(out / "response.png"), "earlier response\n");
    EXPECT_EQ(read_file(out / "waves.png"), "earlier waves\n");
  }
}

// ---- Scan ------------------------------------------------------------------------------

// A scan needs no precision, prints one row per precision and ends with its choice and
// why; scan.png is drawn through the same private folder as the other pictures.
TEST(Scan, TableThenTheRecommendationLast) {
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  const std::vector<std::string> args{"--scan", "--initial", "100",  "--step",
                                      "50",     "--ending",  "4000", "--sweep-step",
                                      "100",    "--min-snr", "60"};
  const report_result r = run_report(dir.path, args, no_gnuplot);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "gnuplot not found: install it (apt-get install gnuplot-nox) to draw scan.png\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n +30 +[0-9]+ +[0-9]+ +no "))) << r.out;
  EXPECT_NE(r.out.find("largest precision free of wraps for any input: 15\n"), std::string::npos);
  // The SNR target of 60 dB needs 14 bits (57 dB at 13), and 15 is the last without wraps.
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("recommended precision: 14\nwhy: the smallest precision with [^\n]*"
                        "SNR >= 60\\.00 dB[^\n]*\n$")))
      << r.out;

  const std::string gnuplot = fixfir::find_program("gnuplot", path_variable());
  if (gnuplot.empty()) GTEST_SKIP() << "needs gnuplot";
  const report_result drawn = run_report(dir.path, args, "");
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_NE(drawn.out.find("picture: ./scan.png\n"), std::string::npos) << drawn.out;
  const png_size scan = read_png_size(dir / "scan.png");
  EXPECT_TRUE(scan.valid && scan.width == 1100U && scan.height == 1000U);
}

// Each picture has its own gnuplot run, with the script as its last argument: a stand-in
// spoils a picture in the run that draws it, and the other runs end as they are.
#define DRAWS(png) "grep -q \"set output '" png "'\" \"$2\" || exit 0\n"

// A stand-in that writes the start of a picture and complains, as a crashing one would.
const char* const partial_then_fail =
    "#!/bin/sh\nprintf '\\211PNG\\r\\n\\032\\n' > response.png\necho chatter\n"
    "echo 'plot.gp line 9: something broke' >&2\nexit 3\n";

INSTANTIATE_TEST_SUITE_P(
    Table, PictureRuns,
    ::testing::Values(
        picture_run{"quotes", "out dir's \"x\" \\ `y` $(z)", nullptr, "", "", 0, true, ""},
        picture_run{"command_in_name", "evil\nsystem(\"echo pwned > INJECTED.txt\")\n#", nullptr,
                    "", "", 0, true, ""},
        picture_run{"line_break", "my\nrun", nullptr, "", "", 0, true, ""},
        picture_run{"other_file_system", "out", nullptr, "", "shm", 0, true, ""},
        picture_run{"no_temporary_folder", "out", nullptr, "", "/nonexistent", 1, false,
                    "cannot make a temporary folder in /nonexistent"},
        picture_run{"gnuplot_fails", "out", partial_then_fail, "PATH=\"@/bin:$PATH\"", "", 1, false,
                    "gnuplot failed (status 3): plot.gp line 9: something broke"},
        picture_run{"truncated_picture", "out",
                    "#!/bin/sh\nGNUPLOT \"$@\" || exit\n" DRAWS(
                        "waves.png") "head -c 3000 waves.png > w && mv w waves.png\n",
                    "PATH=\"@/bin:$PATH\"", "", 1, false, "gnuplot did not finish waves.png"},
        picture_run{"one_picture_missing", "out",
                    "#!/bin/sh\nGNUPLOT \"$@\" || exit\n" DRAWS("waves.png") "rm waves.png\n",
                    "PATH=\"@/bin:$PATH\"", "", 1, false, "gnuplot did not finish waves.png"},
        // Only plain files are pictures: a link would dangle once the folder is gone, and
        // a pipe would be waited on for ever.
        picture_run{"link_for_picture", "out",
                    "#!/bin/sh\nGNUPLOT \"$@\" || exit\n" DRAWS(
                        "response.png") "mv response.png r && ln -s r response.png\n",
                    "PATH=\"@/bin:$PATH\"", "", 1, false,
                    "gnuplot left a link in place of response.png"},
        picture_run{"pipe_for_picture", "out",
                    "#!/bin/sh\nGNUPLOT \"$@\" || exit\n" DRAWS(
                        "waves.png") "rm waves.png && mkfifo waves.png\n",
                    "PATH=\"@/bin:$PATH\"", "", 1, false,
                    "gnuplot left a special file in place of waves.png"},
        // The pictures are drawn at once: one run failing ends the others, which are reaped.
        picture_run{"one_fails_another_hangs", "out",
                    "#!/bin/sh\nif grep -q \"set output 'waves.png'\" \"$2\"; then\n"
                    "echo broken >&2; exit 4; fi\nexec sleep 60\n",
                    "PATH=\"@/bin:$PATH\"", "", 1, false, "gnuplot failed (status 4): broken"},
        // Ctrl-C while gnuplot runs: the run still ends by the signal, with nothing left.
        picture_run{"interrupted", "out", "#!/bin/sh\nkill -INT $PPID\nexec sleep 5\n",
                    "PATH=\"@/bin:$PATH\"", "", 128 + SIGINT, false, ""},
        // Signals ignored at the start (nohup; a shell's background job) stay ignored,
        // by the run and by gnuplot: each signal goes to both.
        picture_run{"ignored_hangup", "out", "#!/bin/sh\nkill -HUP $PPID $$\nexec GNUPLOT \"$@\"\n",
                    "PATH=\"@/bin:$PATH\" nohup", "", 0, true, ""},
        picture_run{"ignored_interrupt", "out",
                    "#!/bin/sh\nkill -INT $PPID $$\nkill -QUIT $PPID $$\nexec GNUPLOT \"$@\"\n",
                    "; trap '' INT QUIT; TMPDIR=\"$TMPDIR\" PATH=\"@/bin:$PATH\"", "", 0, true, ""},
        // Empty PATH entries do not stand for the working folder and its gnuplot.
        picture_run{"empty_path_entries", "out", partial_then_fail, "PATH=:/nonexistent:", "", 0,
                    false, "gnuplot not found"},
        // An empty PATH, like one of only empty entries, names no folder.
        picture_run{"empty_path", "out", partial_then_fail, "PATH=", "", 0, false,
                    "gnuplot not found"},
        // No PATH at all: the system's default folders.
        picture_run{"no_path", "out", partial_then_fail, "env -u PATH", "", 0, true, ""},
        // New pictures keep the earlier ones' permission bits, renamed or copied into place.
        picture_run{"private_pictures", "out", nullptr, "", "", 0, true, "", 0600},
        picture_run{"group_pictures_other_file_system", "out", nullptr, "", "shm", 0, true, "",
                    0640},
        // Under a file-size limit each failed write is one line, and no temporary stays:
        // the plot scripts (about 380 kB) are larger than 100 kB ...
        picture_run{"size_limit_scripts", "out", nullptr, "prlimit --fsize=100000", "", 1, false,
                    "cannot write the plot script in"},
        // ... and a picture larger than the limit is cut short where gnuplot writes it.
        picture_run{"size_limit_picture", "out",
                    "#!/bin/sh\nGNUPLOT \"$@\" || exit\n" DRAWS(
                        "waves.png") "cat waves.png waves.png waves.png > w; mv w waves.png\n",
                    "PATH=\"@/bin:$PATH\" prlimit --fsize=450000", "", 1, false,
                    "out/waves.png: File too large"}),
    [](const auto& i) { return std::string(i.param.name); });

// A gnuplot that never ends is ended once its time is up: SIGTERM, then SIGKILL for one
// that ignores it. It is reaped, the private folder goes, the earlier pictures stay.
struct hung_gnuplot {
  const char* name;
  const char* body;  // after a line that writes its process id to ./pid
};

class HungGnuplot : public ::testing::TestWithParam<hung_gnuplot> {};

TEST_P(HungGnuplot, IsEndedAndTheEarlierPicturesStay) {
  scratch_dir dir;
  scratch_dir tmp;
  const fs::path fake = dir / "gnuplot";
  write_file(
      fake, "#!/bin/sh\necho $$ > " + shell_quote((dir / "pid").string()) + "\n" + GetParam().body);
  fs::permissions(fake, fs::perms::owner_all);
  write_file(dir / "scan.png", "earlier scan\n");
  const char* const earlier_tmpdir = std::getenv("TMPDIR");
  const std::string saved = earlier_tmpdir != nullptr ? earlier_tmpdir : "";
  setenv("TMPDIR", tmp.path.c_str(), 1);
  const auto start = std::chrono::steady_clock::now();
  const fixfir::outcome drawn = fixfir::draw_pictures(
      fake.string(), "plot 1\n", {"scan.png"}, dir.path.string(), std::chrono::milliseconds(300));
  const auto took = std::chrono::steady_clock::now() - start;
  if (earlier_tmpdir != nullptr) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  ASSERT_FALSE(drawn);
  EXPECT_EQ(drawn.failure().kind, fixfir::error_kind::failed);
  EXPECT_EQ(drawn.failure().message, "gnuplot took longer than 0.3 s and was stopped");
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_EQ(read_file(dir / "scan.png"), "earlier scan\n");
  EXPECT_TRUE(fs::is_empty(tmp.path));
  // Neither running nor a zombie: kill finds no such process.
  const pid_t pid = std::stoi(read_file(dir / "pid"));
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HungGnuplot,
    ::testing::Values(hung_gnuplot{"sleeps", "exec sleep 60\n"},
                      hung_gnuplot{"ignores_sigterm", "trap '' TERM\nwhile sleep 1; do :; done\n"}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- The page ---------------------------------------------------------------------------

// Whether `page` needs nothing outside itself: every src and href is a '#' fragment or a
// data: URL, and "http" stands only in the SVG namespace names, which are never fetched.
bool self_contained(std::string page) {
  for (const std::string key : {"src=", "href=", "url("}) {
    for (std::size_t at = page.find(key); at != std::string::npos; at = page.find(key, at + 1)) {
      std::string target = page.substr(at + key.size(), 6);
      if (!target.empty() && (target[0] == '"' || target[0] == '\'')) target.erase(0, 1);
      if (!target.starts_with('#') && !target.starts_with("data:")) return false;
    }
  }
  for (const char* name : {"http://www.w3.org/2000/svg", "http://www.w3.org/1999/xlink"}) {
    for (std::size_t at; (at = page.find(name)) != std::string::npos;) page.erase(at, 4);
  }
  return page.find("http") == std::string::npos && page.find("<link") == std::string::npos;
}

enum class page_of : std::uint8_t { report, scan, explore };

struct page_run {
  const char* name;
  page_of mode;
  const char* gnuplot;  // "" the installed one, nullptr none, else a stand-in as above
  int status;
  int pictures;  // on the new page; -1: the earlier page is left as it was
  const char* message;
  const char* env = "";  // before the command
};

class PageRuns : public ::testing::TestWithParam<page_run> {};

TEST_P(PageRuns, PageIsSelfContainedAndEscapedOrLeftAsItWas) {
  const page_run& p = GetParam();
  const std::string gnuplot = fixfir::find_program("gnuplot", path_variable());
  if (gnuplot.empty() && p.gnuplot != nullptr) GTEST_SKIP() << "needs gnuplot";
  scratch_dir cwd;
  const std::string name = "page <&> \"it's\" $(x)";
  const fs::path out = cwd / name;
  fs::create_directory(out);
  write_file(out / "taps.txt", example_taps);
  write_file(out / "report.html", "earlier page\n");
  std::string env = p.gnuplot == nullptr ? no_gnuplot : "";
  if (p.gnuplot != nullptr && *p.gnuplot != '\0') {
    std::string body = p.gnuplot;
    for (std::size_t at; (at = body.find("GNUPLOT")) != std::string::npos;)
      body.replace(at, 7, gnuplot);
    fs::create_directory(cwd / "bin");
    write_file(cwd / "bin" / "gnuplot", body);
    fs::permissions(cwd / "bin" / "gnuplot", fs::perms::owner_all);
    env = "PATH=" + shell_quote((cwd / "bin").string()) + ":\"$PATH\"";
  }
  std::vector<std::string> args{"--initial", "100",  "--step",       "50",
                                "--ending",  "4000", "--sweep-step", "100"};
  if (p.mode == page_of::report) args = example_args();
  if (p.mode == page_of::scan) args.insert(args.begin(), "--scan");
  if (p.mode == page_of::explore) args.insert(args.begin(), "--explore");
  args.insert(args.end(), {"--dir", name, "--html"});
  const report_result r = run_report(cwd.path, args, env + " " + p.env);

  EXPECT_EQ(r.status, p.status) << r.err;
  EXPECT_EQ(r.err.find(p.message), 0U) << r.err;
  const std::string page = read_file(out / "report.html");
  const bool announced = r.out.find("\npage: " + name + "/report.html\n") != std::string::npos;
  if (p.pictures < 0) {
    EXPECT_EQ(page, "earlier page\n");
    EXPECT_FALSE(announced) << r.out;
    return;
  }
  EXPECT_TRUE(announced) << r.out;
  EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n")) << page.substr(0, 200);
  EXPECT_NE(page.find("<title>fixfir-report: "), std::string::npos);
  EXPECT_TRUE(self_contained(page));
  EXPECT_NE(page.find("page &lt;&amp;&gt; &quot;it&#39;s&quot; $(x)/taps.txt"), std::string::npos);
  EXPECT_EQ(page.find(name), std::string::npos);
  int svgs = 0;
  for (std::size_t at = 0; (at = page.find("<svg ", at)) != std::string::npos; ++at) ++svgs;
  EXPECT_EQ(svgs, p.pictures);
  EXPECT_EQ(page.find("table class=\"scan\"") != std::string::npos, p.mode == page_of::scan);
  // The search's targets, and its front with the recommendation marked.
  const bool search = p.mode == page_of::explore;
  EXPECT_EQ(
      page.find("<th scope=\"row\">SNR (waveform test)</th><td>at least ") != std::string::npos,
      search);
  EXPECT_EQ(page.find("<table class=\"scan front\">") != std::string::npos, search);
  EXPECT_EQ(page.find("<tr class=\"chosen\" title=\"recommended\">") != std::string::npos, search);
  EXPECT_EQ(page.find("<p>recommended datapath: coefficients ") != std::string::npos, search);
  EXPECT_EQ(page.find("The pictures need gnuplot") != std::string::npos, p.gnuplot == nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PageRuns,
    ::testing::Values(page_run{"report", page_of::report, "", 0, 2, ""},
                      page_run{"scan", page_of::scan, "", 0, 1, ""},
                      page_run{"explore", page_of::explore, "", 0, 1, ""},
                      page_run{"no_gnuplot", page_of::report, nullptr, 0, 0, "gnuplot not found"},
                      page_run{"explore_no_gnuplot", page_of::explore, nullptr, 0, 0,
                               "gnuplot not found"},
                      page_run{"explore_gnuplot_fails", page_of::explore, partial_then_fail, 1, -1,
                               "fixfir-report: gnuplot failed (status 3)"},
                      page_run{"gnuplot_fails", page_of::report, partial_then_fail, 1, -1,
                               "fixfir-report: gnuplot failed (status 3)"},
                      page_run{"svg_cut_short", page_of::report,
                               "#!/bin/sh\nGNUPLOT \"$@\" || exit\n" DRAWS(
                                   "waves.svg") "head -c 3000 waves.svg > w && mv w waves.svg\n",
                               1, -1, "fixfir-report: gnuplot did not finish waves.svg"},
                      // A pipe in a picture's place is not waited on.
                      page_run{"svg_is_a_pipe", page_of::report,
                               "#!/bin/sh\nGNUPLOT \"$@\" || exit\n" DRAWS(
                                   "waves.svg") "rm waves.svg && mkfifo waves.svg\n",
                               1, -1, "fixfir-report: gnuplot did not finish waves.svg"},
                      page_run{"scan_gnuplot_fails", page_of::scan, partial_then_fail, 1, -1,
                               "fixfir-report: gnuplot failed (status 3)"},
                      // Under a file-size limit: scan.png (about 100 kB) is cut short where
                      // gnuplot writes it, and the page (about 540 kB) is too large to write.
                      page_run{"scan_size_limit", page_of::scan, "", 1, -1,
                               "fixfir-report: cannot write page <&> \"it's\" $(x)/scan.png: "
                               "File too large\n",
                               "prlimit --fsize=50000"},
                      page_run{"page_size_limit", page_of::report, "", 1, -1,
                               "fixfir-report: cannot write page <&> \"it's\" $(x)/report.html: "
                               "File too large\n",
                               "prlimit --fsize=450000"}),
    [](const auto& i) { return std::string(i.param.name); });

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

// Only a regular file is replaced by a picture: anything else in its place stays as it was,
// and so do the other pictures.
struct picture_place {
  const char* name;
  const char* make;  // a shell command that puts something in place of waves.png
  const char* message;
};

class PicturePlaces : public ::testing::TestWithParam<picture_place> {};

TEST_P(PicturePlaces, OnlyAFileIsReplacedAndTheRestIsOneMessage) {
  if (!gnuplot_installed()) GTEST_SKIP() << "gnuplot is not installed";
  const picture_place& p = GetParam();
  scratch_dir dir;
  write_file(dir / "taps.txt", example_taps);
  write_file(dir / "response.png", "earlier response\n");
  ASSERT_EQ(std::system(("cd " + shell_quote(dir.path.string()) + " && " + p.make).c_str()), 0);
  const auto before = fs::symlink_status(dir / "waves.png").type();
  const std::set<std::string> names = tree(dir.path);
  const report_result r = run_report(dir.path, example_args());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(one_line(r.err)) << r.err;
  EXPECT_NE(r.err.find(std::string("cannot write ./waves.png: ") + p.message), std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(dir / "response.png"), "earlier response\n");
  EXPECT_EQ(fs::symlink_status(dir / "waves.png").type(), before);
  EXPECT_EQ(tree(dir.path), names);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PicturePlaces,
    ::testing::Values(
        // Even root cannot replace a folder by a file.
        picture_place{"folder", "mkdir waves.png", "Is a directory"},
        picture_place{"pipe", "mkfifo waves.png", "not a regular file"},
        // Replacing a link would turn it into a file; writing through it is not asked for.
        picture_place{"link", "echo earlier > w.png && ln -s w.png waves.png",
                      "not a regular file"},
        picture_place{"device", "mknod waves.png c 1 3 2>/dev/null || mkfifo waves.png",
                      "not a regular file"}),
    [](const auto& i) { return std::string(i.param.name); });

struct lookup_case {
  const char* name;
  const char* program;
  const char* path;      // "@" is a folder holding a/tool (a folder), b/tool (not
                         // executable), c/tool and ./tool; it is also the working folder.
                         // nullptr: no PATH at all
  const char* expected;  // "@" as above
};

class FindProgram : public ::testing::TestWithParam<lookup_case> {};

TEST_P(FindProgram, FindsOnlyRunnableFilesInNamedFolders) {
  const lookup_case& c = GetParam();
  scratch_dir dir;
  fs::create_directories(dir / "a" / "tool");
  fs::create_directory(dir / "b");
  write_file(dir / "b" / "tool", "#!/bin/sh\n");
  fs::create_directory(dir / "c");
  for (const fs::path& f : {dir / "c" / "tool", dir / "tool"}) {
    write_file(f, "#!/bin/sh\n");
    fs::permissions(f, fs::perms::owner_all);
  }
  const auto expand = [&](std::string text) {
    for (std::size_t at; (at = text.find('@')) != std::string::npos;)
      text.replace(at, 1, dir.path.string());
    return text;
  };
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path);
  const std::string path = c.path != nullptr ? expand(c.path) : "";
  const std::string found = fixfir::find_program(
      c.program, c.path != nullptr ? std::optional<std::string_view>(path) : std::nullopt);
  fs::current_path(previous);
  EXPECT_EQ(found, expand(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindProgram,
    ::testing::Values(lookup_case{"skips_what_cannot_run", "tool", "@/a:@/b:@/c", "@/c/tool"},
                      lookup_case{"folder_only", "tool", "@/a", ""},
                      // An empty entry is not the working folder, which holds ./tool.
                      lookup_case{"empty_entries", "tool", ":@/a::@/b:", ""},
                      lookup_case{"only_colons", "tool", "::", ""},
                      lookup_case{"dot_is_explicit", "tool", "@/a:.", "@/./tool"},
                      lookup_case{"relative_made_absolute", "tool", "c", "@/c/tool"},
                      lookup_case{"empty_is_no_folder", "sh", "", ""},
                      // No PATH: the system's default folders, /bin first.
                      lookup_case{"unset_is_default", "sh", nullptr, "/bin/sh"}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace
