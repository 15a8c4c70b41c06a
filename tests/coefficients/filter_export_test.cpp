// The Verilog module, its testbench and the C step, each run on sample words and compared
// with an exact oracle written here: under iverilog, compiled by the C compiler, and linted.
// Skipped where iverilog, vvp or verilator is missing (CI installs them).
#include "fixfir/coefficients/filter_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "datapath_cases.h"
#include "fixfir/coefficients/coefficient_export.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/measurement/test_vectors.h"
#include "tool_runner.h"
#include "word_oracle.h"

namespace fixfir {
namespace {

using fixfir_test::read_file;
using fixfir_test::scratch_dir;
using fixfir_test::write_file;
namespace fs = std::filesystem;
using fixfir_test::int128;

// ---- The oracle: tests/support/word_oracle.h ---------------------------------------------

using fixfir_test::output_words;

// ---- Stimuli and files -------------------------------------------------------------------------

// Impulses and steps of both extreme words, the words that drive the sum to its largest and
// smallest values, and random words over the whole range; each followed by N - 1 zeros.
std::vector<std::int64_t> stimuli(const fixed_filter& f) {
  const std::int32_t w = f.path.sample.bits;
  const std::int64_t top = (std::int64_t{1} << (w - 1)) - 1;
  const std::size_t n = f.coefficients.size();
  std::vector<std::int64_t> x;
  const auto rest = [&] { x.insert(x.end(), n - 1, 0); };
  for (const std::int64_t v : {top, -top - 1}) {
    x.push_back(v);
    rest();
    x.insert(x.end(), n + 2, v);
    rest();
  }
  for (const int sign : {1, -1}) {
    for (std::size_t j = n; j-- > 0;)
      x.push_back((f.coefficients[j] < 0) == (sign > 0) ? -top - 1 : top);
    rest();
  }
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::int64_t> any(-top - 1, top);
  for (int k = 0; k < 600; ++k) x.push_back(any(random));
  rest();
  return x;
}

// The command's exit status and its output (standard error joined).
struct shell_run {
  int status = -1;
  std::string out;
};

shell_run shell(const std::string& command) {
  shell_run r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, got);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool have(const char* tool) {
  return shell(std::string("command -v ") + tool + " >/dev/null").status == 0;
}

// ---- The table ---------------------------------------------------------------------------------

// Taps of `n` with a shape: a symmetric low-pass-like bell, its antisymmetric twin, or
// uneven values. `scale` stretches them toward (or past) full scale.
std::vector<float> taps_of(const char* shape, std::size_t n, float scale = 0.9f) {
  std::vector<float> t(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double u = (static_cast<double>(j) + 0.5) / static_cast<double>(n) - 0.5;  // -½ to ½
    const double bell = std::cos(3.0 * u) * (1.0 - std::fabs(u));
    double v = bell;
    if (shape[0] == 'a') v = (u < 0 ? 1 : -1) * bell * (std::fabs(u) < 1e-9 ? 0 : 1);
    if (shape[0] == 'u') v = std::sin(7.3 * static_cast<double>(j) + 0.4) * bell;
    t[j] = static_cast<float>(v * scale);
  }
  return t;
}

output_stage stage(std::int32_t bits, std::int32_t fraction, output_rounding r, overflow_mode o) {
  return output_stage{bits, fraction, r, o};
}

struct build_case {
  const char* name;
  std::vector<float> taps;
  datapath path;
  output_stage output;
  word_symmetry symmetry;
  std::int64_t multipliers;
  std::size_t least_distinct = 100;  // outputs of the oracle that differ, at least
};

constexpr auto zero = rounding_mode::toward_zero;
constexpr auto nearest = rounding_mode::nearest;
constexpr auto floor_ = rounding_mode::floor;
constexpr auto wrap = overflow_mode::wrap;
constexpr auto sat = overflow_mode::saturate;
constexpr auto sym = word_symmetry::symmetric;
constexpr auto anti = word_symmetry::antisymmetric;
constexpr auto none = word_symmetry::none;

const build_case build_cases[] = {
    {"odd_symmetric_wide_accumulator",
     taps_of("s", 15),
     path_of(16, 15, 14, 13, 35, nearest, wrap),
     {},
     sym,
     8},
    {"even_symmetric_accumulator_wraps",
     taps_of("s", 16, 2.5f),
     path_of(12, 10, 12, 11, 18, zero, wrap),
     {},
     sym,
     8},
    {"odd_symmetric_accumulator_saturates",
     taps_of("s", 15, 2.5f),
     path_of(12, 10, 12, 11, 22, nearest, sat),
     {},
     sym,
     8},
    {"odd_antisymmetric_convergent_saturating_output", taps_of("a", 9),
     path_of(12, 11, 12, 11, 24, nearest, sat), stage(10, 9, output_rounding::convergent, sat),
     anti, 4},
    {"even_antisymmetric_nearest_output_narrower_wraps", taps_of("a", 10),
     path_of(12, 11, 12, 11, 24, zero, wrap), stage(6, 5, output_rounding::nearest, wrap), anti, 5,
     60},
    {"two_bit_words_floor_output_wider", taps_of("u", 7, 0.6f), path_of(2, 1, 2, 1, 8, floor_, sat),
     stage(16, 9, output_rounding::floor, wrap), none, 7, 8},
    {"widest_words_64_bit_wrap", taps_of("u", 6, 0.99f), path_of(32, 31, 32, 31, 64, nearest, wrap),
     stage(64, 62, output_rounding::toward_zero, sat), none, 6},
    {"widest_words_64_bit_saturate_sum_past_64_bits", taps_of("s", 8, 0.99f),
     path_of(32, 31, 32, 31, 64, nearest, sat), stage(24, 20, output_rounding::convergent, sat),
     sym, 4},
    {"coefficients_saturate_toward_zero_output", taps_of("u", 11, 3.0f),
     path_of(10, 9, 16, 15, 20, zero, sat), stage(12, 11, output_rounding::toward_zero, wrap), none,
     11, 20},
    {"one_tap", {0.75f}, path_of(8, 7, 8, 7, 12, nearest, sat), {}, sym, 1, 20},
    {"shift_past_the_accumulator", taps_of("s", 5), path_of(16, 15, 16, 15, 20, zero, wrap),
     stage(8, -32, output_rounding::floor, sat), sym, 3, 2},
    {"left_shift_past_the_output_saturates", taps_of("u", 4), path_of(8, 4, 8, 0, 16, zero, wrap),
     stage(12, 20, output_rounding::nearest, sat), none, 4, 2},
    {"left_shift_wraps", taps_of("u", 4, 0.3f), path_of(8, 7, 8, 7, 16, zero, wrap),
     stage(16, 16, output_rounding::nearest, wrap), none, 4},
};

// ---- Files ---------------------------------------------------------------------------------

// A file name with quotes, a line break and a comment's end is not in the text: the file is
// byte for byte the one a plain name gets, and all of it printable ASCII.
TEST(FilterFiles, NeverHoldTheirName) {
  const std::vector<float> taps = taps_of("s", 9);
  datapath_choices c;
  c.coefficient_bits = 12;
  c.sample_bits = 10;
  c.output_bits = 8;
  scratch_dir dir;
  // The comment's end needs a folder: "*" ends its name, "/" follows.
  const fs::path odd_folder = dir / "q\"'\n*";
  fs::create_directory(odd_folder);
  for (const char* extension : {".v", "_tb.v", ".c"}) {
    const std::string odd = (odd_folder / ("a\"b'\n* \\" + std::string(extension))).string();
    const std::string plain = (dir / ("plain" + std::string(extension))).string();
    const result<export_facts> written = export_coefficients(taps, c, odd);
    ASSERT_TRUE(written) << written.failure().message;
    ASSERT_TRUE(export_coefficients(taps, c, plain));
    EXPECT_TRUE(exports_filter(written.value().format));
    EXPECT_EQ(written.value().multipliers, 5);
    const std::string text = read_file(odd);
    EXPECT_EQ(text, read_file(plain)) << extension;
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char ch) {
      return ch == '\n' || (ch >= ' ' && ch <= '~');
    })) << text;
  }
}

void PrintTo(const build_case& c, std::ostream* os) { *os << c.name; }

class BuiltFilter : public ::testing::TestWithParam<build_case> {};

TEST_P(BuiltFilter, IsBitExactInVerilogAndC) {
  const build_case& c = GetParam();
  datapath d = c.path;
  d.output = c.output;
  const result<fixed_filter> made = make_fixed_filter(c.taps, d);
  ASSERT_TRUE(made) << made.failure().message;
  const fixed_filter& f = made.value();
  const filter_structure s = structure_of(f);
  EXPECT_EQ(s.symmetry, c.symmetry);
  EXPECT_EQ(s.multipliers, c.multipliers);

  // The model's vectors first, each word checked against the oracle, then more stimuli.
  const std::vector<double> wave{0.5, -0.25, 0.999, -1.0, 0.125, 0.0, -0.6};
  const result<test_vectors> v = make_test_vectors(f, wave, 2);
  ASSERT_TRUE(v) << v.failure().message;
  const std::vector<std::int64_t> model = output_words(f, v.value().input);
  EXPECT_TRUE(model == v.value().output);
  std::vector<std::int64_t> x = v.value().input;
  const std::vector<std::int64_t> more = stimuli(f);
  x.insert(x.end(), more.begin(), more.end());
  const std::vector<std::int64_t> y = output_words(f, x);
  // A row whose outputs take few values proves little.
  EXPECT_GE(std::set<std::int64_t>(y.begin(), y.end()).size(), c.least_distinct);
  const std::int32_t out_bits = output_word_bits(f.path);
  scratch_dir dir;
  write_file(dir / "input.mem", mem_text(x, f.path.sample.bits));
  write_file(dir / "expected.mem", mem_text(y, out_bits));
  write_file(dir / "fixfir_filter.v", verilog_module_text(f));
  write_file(dir / "fixfir_filter_tb.v", verilog_testbench_text(f));
  write_file(dir / "fixfir_filter.c", c_filter_text(f));
  const std::string cd = "cd " + fixfir_test::shell_quote(dir.path.string()) + " && ";

  // The C step, compiled strictly, on the same words.
  const shell_run cc = shell(cd + "cc -std=c99 -Wall -Wextra -pedantic -Werror -I . " +
                             FIXFIR_EXAMPLES "/filter_driver.c -o run");
  ASSERT_EQ(cc.status, 0) << cc.out;
  const shell_run ran = shell(cd + "./run < input.mem > output.mem");
  ASSERT_EQ(ran.status, 0) << ran.out;
  EXPECT_TRUE(read_file(dir / "output.mem") == read_file(dir / "expected.mem"));

  if (!have("iverilog") || !have("vvp") || !have("verilator"))
    GTEST_SKIP() << "iverilog, vvp or verilator is not installed";
  const shell_run lint = shell(cd + "verilator --lint-only -Wall fixfir_filter.v");
  EXPECT_EQ(lint.status, 0) << lint.out;
  const shell_run built =
      shell(cd + "iverilog -g2001 -Wall -o sim fixfir_filter.v fixfir_filter_tb.v");
  ASSERT_EQ(built.status, 0) << built.out;
  EXPECT_EQ(built.out, "");
  const shell_run sim = shell(cd + "vvp -n sim");
  EXPECT_NE(("\n" + sim.out).find("\n" + std::to_string(x.size()) + " passed, 0 failed\n"),
            std::string::npos)
      << sim.out;
}

INSTANTIATE_TEST_SUITE_P(Table, BuiltFilter, ::testing::ValuesIn(build_cases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace fixfir
