// The test vectors against an oracle of their own: the stimuli built from their description,
// the sums done by brute force in 128 bits, the output stage by division.
#include "fixfir/measurement/test_vectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fixfir/measurement/datapath_search.h"
#include "word_oracle.h"

namespace fixfir {
namespace {

using fixfir_test::int128;
using i128 = int128;

constexpr auto wrap = overflow_mode::wrap;
constexpr auto sat = overflow_mode::saturate;

i128 fit(i128 v, int bits, overflow_mode o) { return fixfir_test::fit_word(v, bits, o); }

struct vector_case {
  const char* name;
  std::vector<float> taps;
  word_format coefficient;
  word_format sample;
  std::int32_t accumulator_bits;
  overflow_mode accumulator_overflow;
  output_stage output;
};

class Vectors : public ::testing::TestWithParam<vector_case> {};

TEST_P(Vectors, MatchTheOracle) {
  const vector_case& c = GetParam();
  datapath d;
  d.coefficient = c.coefficient;
  d.sample = c.sample;
  d.accumulator_bits = c.accumulator_bits;
  d.accumulator_overflow = c.accumulator_overflow;
  d.output = c.output;
  const result<fixed_filter> made = make_fixed_filter(c.taps, d);
  ASSERT_TRUE(made.ok());
  const fixed_filter& f = made.value();
  const std::vector<double> wave{0.3, -0.71, 0.999, -1.0, 0.0001, 2.5};
  const result<test_vectors> got = make_test_vectors(f, wave, 2);
  ASSERT_TRUE(got.ok());
  const test_vectors& v = got.value();

  // The stimuli, from their description.
  const std::size_t n = c.taps.size();
  const std::int64_t most = (std::int64_t{1} << (c.sample.bits - 1)) - 1;
  std::vector<std::int64_t> x;
  std::vector<stimulus> kind;
  auto add = [&](stimulus s, std::vector<std::int64_t> words) {
    words.resize(words.size() + n - 1, 0);
    x.insert(x.end(), words.begin(), words.end());
    kind.insert(kind.end(), words.size(), s);
  };
  add(stimulus::impulse, {most});
  add(stimulus::step, std::vector<std::int64_t>(n, most));
  std::vector<std::int64_t> up(n);
  std::vector<std::int64_t> down(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::int32_t tap = f.coefficients[n - 1 - k];
    up[k] = tap > 0 ? most : tap < 0 ? -most - 1 : 0;
    down[k] = tap > 0 ? -most - 1 : tap < 0 ? most : 0;
  }
  add(stimulus::max_sum, up);
  add(stimulus::min_sum, down);
  std::vector<std::int64_t> quantized;
  for (const double w : wave) quantized.push_back(quantize_word(w, c.sample).value);
  add(stimulus::waveform, quantized);
  const std::size_t random_from = x.size();
  add(stimulus::random, std::vector<std::int64_t>(RANDOM_VECTOR_WORDS, 0));
  ASSERT_EQ(v.input.size(), x.size());
  EXPECT_EQ(v.kind, kind);
  // The random words are drawn, not checked one by one: within the word, and spread.
  std::copy(v.input.begin() + static_cast<std::ptrdiff_t>(random_from), v.input.end(),
            x.begin() + static_cast<std::ptrdiff_t>(random_from));
  EXPECT_EQ(v.input, x);
  std::int64_t low = 0;
  std::int64_t high = 0;
  for (std::size_t k = random_from; k < random_from + RANDOM_VECTOR_WORDS; ++k) {
    low = std::min(low, x[k]);
    high = std::max(high, x[k]);
  }
  EXPECT_GE(low, -most - 1);
  EXPECT_LE(high, most);
  EXPECT_LT(low, -most / 2);
  EXPECT_GT(high, most / 2);

  // The sums and the output stage, by brute force.
  i128 largest = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    i128 sum = 0;
    for (std::size_t j = 0; j < n && j <= k; ++j) sum += i128{f.coefficients[j]} * x[k - j];
    const i128 acc = fit(sum, c.accumulator_bits, c.accumulator_overflow);
    ASSERT_EQ(v.accumulator[k], static_cast<std::int64_t>(acc)) << k;
    const i128 out = c.output.bits == 0 ? acc : fixfir_test::output_of(acc, f.path);
    ASSERT_EQ(v.output[k], static_cast<std::int64_t>(out)) << k;
    largest = std::max(largest, sum);
  }
  // No input drives the sum higher than the max-sum stimulus does at its last word.
  const std::size_t peak = 1 + (n - 1) + n + (n - 1) + n - 1;
  i128 at_peak = 0;
  for (std::size_t j = 0; j < n; ++j) at_peak += i128{f.coefficients[j]} * x[peak - j];
  EXPECT_EQ(at_peak, largest);
}

const std::vector<float> symmetric{0.1f, -0.3f, 0.7f, -0.3f, 0.1f};
const std::vector<float> even{0.25f, 0.5f, -0.5f, -0.25f};

INSTANTIATE_TEST_SUITE_P(
    Table, Vectors,
    ::testing::Values(
        vector_case{"seed", symmetric, {32, 15}, {32, 15}, 32, wrap, {}},
        vector_case{"one_tap", {0.75f}, {8, 7, rounding_mode::nearest}, {8, 7}, 16, wrap, {}},
        vector_case{"narrow_wrapping",
                    even,
                    {6, 4},
                    {4, 3},
                    8,
                    wrap,
                    {4, 2, output_rounding::nearest, wrap}},
        vector_case{"saturating_everywhere",
                    symmetric,
                    {12, 12, rounding_mode::nearest, sat},
                    {10, 9, rounding_mode::nearest, sat},
                    20,
                    sat,
                    {8, 6, output_rounding::convergent, sat}},
        vector_case{
            "widest", even, {32, 31}, {32, 31}, 64, sat, {64, 62, output_rounding::floor, wrap}},
        vector_case{"output_wider_than_needed",
                    symmetric,
                    {16, 16},
                    {14, 13},
                    40,
                    wrap,
                    {40, 33, output_rounding::toward_zero, sat}},
        vector_case{"output_narrowest",
                    {0.5f, 0.5f, 0.5f},
                    {8, 6},
                    {2, 1},
                    8,
                    wrap,
                    {2, 0, output_rounding::nearest, wrap}}),
    [](const ::testing::TestParamInfo<vector_case>& i) { return std::string(i.param.name); });

struct mem_case {
  std::vector<std::int64_t> words;
  std::int32_t bits;
  const char* text;
};

class MemText : public ::testing::TestWithParam<mem_case> {};

TEST_P(MemText, IsTwosComplementHexOfTheWord) {
  EXPECT_EQ(mem_text(GetParam().words, GetParam().bits), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MemText,
    ::testing::Values(mem_case{{-1, 0, 5, -8192}, 14, "3fff\n0000\n0005\n2000\n"},
                      mem_case{{-2, 1}, 2, "2\n1\n"}, mem_case{{-1, 15}, 5, "1f\n0f\n"},
                      mem_case{{INT64_MIN, -1}, 64, "8000000000000000\nffffffffffffffff\n"},
                      mem_case{{}, 16, ""}));

TEST(VectorFiles, AreWrittenIntoAFolderMadeWhenMissing) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("fixfir-vectors-" + std::to_string(::getpid()));
  std::filesystem::remove_all(root);
  test_vectors v;
  v.kind = {stimulus::impulse, stimulus::random};
  v.input = {3, -4};
  v.accumulator = {300, -400};
  v.output = {3, -4};
  datapath d;
  d.sample.bits = 4;
  d.output.bits = 4;
  const std::string dir = (root / "a" / "b").string();
  ASSERT_TRUE(write_test_vectors(dir, v, d).ok());
  const auto read = [&](const char* name) {
    std::ifstream in(std::filesystem::path(dir) / name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(read("input.mem"), "3\nc\n");
  EXPECT_EQ(read("expected.mem"), "3\nc\n");
  EXPECT_EQ(read("vectors.csv"),
            "index,stimulus,input,accumulator,output\n0,impulse,3,300,3\n1,random,-4,-400,-4\n");
  // A folder where one of the files should be: the set is not written at all, so the
  // earlier files are not left beside some of a new set, and no temporary file stays.
  v.input = {1, 1};
  std::filesystem::remove(std::filesystem::path(dir) / "vectors.csv");
  std::filesystem::create_directory(std::filesystem::path(dir) / "vectors.csv");
  const outcome blocked = write_test_vectors(dir, v, d);
  ASSERT_FALSE(blocked.ok());
  EXPECT_EQ(blocked.failure().message, "cannot write " + dir + "/vectors.csv: Is a directory");
  EXPECT_EQ(read("input.mem"), "3\nc\n");
  EXPECT_EQ(read("expected.mem"), "3\nc\n");
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".fixfir-")) << entry.path();
  std::filesystem::remove(std::filesystem::path(dir) / "vectors.csv");
  v.input = {3, -4};
  // A file where the folder should be is refused, and left alone.
  const std::string file = (root / "a" / "b" / "input.mem").string();
  const outcome refused = write_test_vectors(file, v, d);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.failure().message, file + " is not a folder");
  EXPECT_EQ(read("input.mem"), "3\nc\n");
  std::filesystem::remove_all(root);
}

// The search's output word keeps the fraction the summary's would on any words the search
// picks: Σ|tap| of 1.5, 2.5 and 0.9 needs 1, 2 and 0 integer bits.
TEST(SearchOutputStage, FitsAFullScaleOutputAsTheSummaryDoes) {
  for (const auto& [taps, fraction] : std::vector<std::pair<std::vector<float>, int>>{
           {{0.5f, 1.0f}, 14}, {{-1.25f, 1.25f}, 13}, {{0.3f, -0.3f, 0.3f}, 15}}) {
    datapath_choices c;
    c.output_bits = 16;
    EXPECT_EQ(search_output_stage(taps, c).fraction_bits, fraction);
    c.coefficient_bits = 16;
    c.sample_bits = 14;
    const result<datapath> summary = datapath_from_choices(taps, c);
    ASSERT_TRUE(summary.ok());
    EXPECT_EQ(summary.value().output.fraction_bits, fraction);
  }
  EXPECT_EQ(search_output_stage(std::vector<float>{0.5f}, datapath_choices{}).bits, 0);
}

}  // namespace
}  // namespace fixfir
