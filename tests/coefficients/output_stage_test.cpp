// The output stage: shift, round, then fit, for every rounding and overflow.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fixfir/coefficients/datapath.h"

namespace fixfir {
namespace {

constexpr auto zero = output_rounding::toward_zero;
constexpr auto nearest = output_rounding::nearest;
constexpr auto floor_ = output_rounding::floor;
constexpr auto conv = output_rounding::convergent;
constexpr auto wrap = overflow_mode::wrap;
constexpr auto sat = overflow_mode::saturate;

struct stage_case {
  std::int32_t accumulator_fraction;  // F_c + F_x, split as evenly as the limits allow
  std::int32_t bits;                  // W_y
  std::int32_t fraction;              // F_y
  output_rounding rounding;
  overflow_mode overflow;
  std::int64_t acc;
  std::int64_t value;
  bool overflowed;
};

datapath stage_path(const stage_case& c) {
  datapath d;
  d.coefficient.fraction_bits = c.accumulator_fraction / 2;
  d.sample.fraction_bits = c.accumulator_fraction - c.accumulator_fraction / 2;
  d.accumulator_bits = 64;
  d.output = {c.bits, c.fraction, c.rounding, c.overflow};
  return d;
}

class OutputWord : public ::testing::TestWithParam<stage_case> {};

TEST_P(OutputWord, ShiftsRoundsThenFits) {
  const stage_case& c = GetParam();
  const word_value w = output_word(c.acc, stage_path(c));
  EXPECT_EQ(w.value, c.value);
  EXPECT_EQ(w.overflowed, c.overflowed);
}

// A shift of 2 (acc ÷ 4) in an 8-bit word, unless the row says otherwise.
INSTANTIATE_TEST_SUITE_P(
    Table, OutputWord,
    ::testing::Values(
        // 1.5, 2.5, -1.5, -2.5: the ties, each rounding.
        stage_case{4, 8, 2, zero, wrap, 6, 1, false},
        stage_case{4, 8, 2, nearest, wrap, 6, 2, false},
        stage_case{4, 8, 2, floor_, wrap, 6, 1, false},
        stage_case{4, 8, 2, conv, wrap, 6, 2, false}, stage_case{4, 8, 2, zero, wrap, 10, 2, false},
        stage_case{4, 8, 2, nearest, wrap, 10, 3, false},
        stage_case{4, 8, 2, floor_, wrap, 10, 2, false},
        stage_case{4, 8, 2, conv, wrap, 10, 2, false},
        stage_case{4, 8, 2, zero, wrap, -6, -1, false},
        stage_case{4, 8, 2, nearest, wrap, -6, -2, false},
        stage_case{4, 8, 2, floor_, wrap, -6, -2, false},
        stage_case{4, 8, 2, conv, wrap, -6, -2, false},
        stage_case{4, 8, 2, zero, wrap, -10, -2, false},
        stage_case{4, 8, 2, nearest, wrap, -10, -3, false},
        stage_case{4, 8, 2, floor_, wrap, -10, -3, false},
        stage_case{4, 8, 2, conv, wrap, -10, -2, false},
        // Not ties: 1.75 and -1.25.
        stage_case{4, 8, 2, zero, wrap, 7, 1, false},
        stage_case{4, 8, 2, nearest, wrap, 7, 2, false},
        stage_case{4, 8, 2, floor_, wrap, 7, 1, false},
        stage_case{4, 8, 2, conv, wrap, 7, 2, false},
        stage_case{4, 8, 2, zero, wrap, -5, -1, false},
        stage_case{4, 8, 2, nearest, wrap, -5, -1, false},
        stage_case{4, 8, 2, floor_, wrap, -5, -2, false},
        stage_case{4, 8, 2, conv, wrap, -5, -1, false},
        // A shift of 0 leaves the word; a negative one multiplies exactly.
        stage_case{3, 32, 3, nearest, wrap, -12345, -12345, false},
        stage_case{2, 16, 5, floor_, wrap, -3, -24, false},
        // Rounding comes before the fit: 7.5 rounds to 8, which a 4-bit word cannot hold.
        stage_case{1, 4, 0, nearest, sat, 15, 7, true},
        stage_case{1, 4, 0, nearest, wrap, 15, -8, true},
        stage_case{1, 4, 0, zero, sat, 15, 7, false},
        // Fits: the low bits or the limit, both signs; the narrowest word.
        stage_case{0, 4, 0, zero, wrap, 9, -7, true}, stage_case{0, 4, 0, zero, sat, 9, 7, true},
        stage_case{0, 4, 0, zero, wrap, -9, 7, true}, stage_case{0, 4, 0, zero, sat, -9, -8, true},
        stage_case{0, 2, 0, zero, wrap, 5, 1, true}, stage_case{0, 2, 0, zero, sat, -5, -2, true},
        // The widest words.
        stage_case{0, 64, 0, zero, wrap, INT64_MIN, INT64_MIN, false},
        stage_case{0, 64, 0, conv, sat, INT64_MAX, INT64_MAX, false},
        stage_case{0, 64, 1, zero, wrap, INT64_MIN, 0, true},
        stage_case{0, 64, 1, zero, sat, INT64_MIN, INT64_MIN, true},
        stage_case{0, 64, 1, zero, wrap, INT64_C(0x4000000000000000), INT64_MIN, true},
        stage_case{0, 64, 1, zero, sat, INT64_C(0x4000000000000000), INT64_MAX, true},
        // -2^63 ÷ 2^63 and ÷ 2^64 (a tie at -0.5).
        stage_case{63, 8, 0, zero, wrap, INT64_MIN, -1, false},
        stage_case{64, 8, 0, zero, wrap, INT64_MIN, 0, false},
        stage_case{64, 8, 0, floor_, wrap, INT64_MIN, -1, false},
        stage_case{64, 8, 0, nearest, wrap, INT64_MIN, -1, false},
        stage_case{64, 8, 0, conv, wrap, INT64_MIN, 0, false},
        // Shifts far past 64 bits, both ways.
        stage_case{192, 8, -32, nearest, wrap, INT64_MAX, 0, false},
        stage_case{192, 8, -32, floor_, wrap, -1, -1, false},
        stage_case{192, 8, -32, zero, wrap, -1, 0, false},
        stage_case{-64, 8, 96, zero, wrap, 1, 0, true},
        stage_case{-64, 8, 96, zero, sat, 1, 127, true},
        stage_case{-64, 64, 96, zero, sat, -1, INT64_MIN, true},
        stage_case{-64, 64, 96, zero, sat, 0, 0, false},
        // No stage: the accumulator word itself.
        stage_case{4, 0, 0, nearest, sat, INT64_MIN, INT64_MIN, false}));

TEST(OutputStage, DefaultFractionFitsTheLargestOutput) {
  // Coefficients 0.5 and 0.75 (F_c 2: 2 and 3) on 8-bit samples with 7 fractional bits: the
  // largest sum is 5 × 127 ≈ 1.24 real, 11 bits; an 8-bit output then keeps 6 fractional bits.
  datapath d;
  d.coefficient = {8, 2};
  d.sample = {8, 7};
  d.accumulator_bits = 32;
  d.output.bits = 8;
  EXPECT_EQ(default_output_fraction(d, accumulator_bits_needed(std::vector{2, 3}, 8)), 6);
  // A 9-bit accumulator holds no more than ±0.5: 2 fractional bits more.
  d.accumulator_bits = 9;
  EXPECT_EQ(default_output_fraction(d, accumulator_bits_needed(std::vector{2, 3}, 8)), 8);
  // From the choices: the same taps and words.
  const std::vector<float> taps{0.5f, 0.75f};
  datapath_choices c;
  c.coefficient_bits = 8;
  c.coefficient_fraction_bits = 2;
  c.sample_bits = 8;
  c.output_bits = 8;
  const result<datapath> made = datapath_from_choices(taps, c);
  ASSERT_TRUE(made.ok());
  EXPECT_EQ(made.value().output.fraction_bits, 6);
}

TEST(OutputStage, ChoicesAreCheckedAndNeedAWidth) {
  datapath_choices c;
  c.output_rounding = output_rounding::convergent;
  EXPECT_TRUE(output_choices_without_stage(c));
  for (const std::int32_t bad : {0, 1, 65}) {
    c.output_bits = bad;
    ASSERT_TRUE(datapath_choices_fault(c).has_value()) << bad;
    EXPECT_EQ(datapath_choices_fault(c)->field, datapath_field::output_bits);
  }
  c.output_bits = 64;
  EXPECT_FALSE(output_choices_without_stage(c));
  EXPECT_FALSE(datapath_choices_fault(c).has_value());
  c.output_fraction_bits = FRACTION_BITS_MAX + 1;
  EXPECT_EQ(datapath_choices_fault(c)->field, datapath_field::output_fraction_bits);
  for (const output_rounding r : {zero, nearest, floor_, conv})
    EXPECT_EQ(output_rounding_from_option(output_rounding_option(r)), r);
  EXPECT_FALSE(output_rounding_from_option("even").has_value());
}

}  // namespace
}  // namespace fixfir
