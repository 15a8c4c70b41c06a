// The one filter maker: fixfir's precision at any P against the console tool's own
// arithmetic, written here, and the figures a filter carries against a fresh computation.
#include "fixfir/coefficients/fixed_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "datapath_cases.h"
#include "fixfir/coefficients/datapath.h"

namespace fixfir {
namespace {

// The low 32 bits of v as a two's-complement value.
std::int32_t low32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// The console tool's scale at precision p: 2^p kept to its low 32 bits, 0 below 1.
std::int32_t tool_scale(std::int32_t p) {
  return p >= 0 && p <= 62 ? low32(std::int64_t{1} << p) : 0;
}

// trunc(float(scale) × tap), low 32 bits; a value past 64 bits (or NaN) leaves 0 bits.
std::int32_t tool_coefficient(std::int32_t scale, float tap) {
  const double v = std::trunc(static_cast<double>(static_cast<float>(scale)) * tap);
  if (!(v > -9223372036854775808.0 && v < 9223372036854775808.0)) return 0;
  return low32(static_cast<std::int64_t>(v));
}

const std::vector<float> taps = {0.5f, -0.25f, 1.5f, -2.75f, 4.0f, 1e-3f, -1.0f, 0.0f};

class precision_filter : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(precision_filter, IsTheConsoleToolsQuantization) {
  const std::int32_t p = GetParam();
  const result<fixed_filter> made = make_fixed_filter(taps, precision_datapath(p));
  ASSERT_TRUE(made.ok()) << "precision " << p;
  const fixed_filter& f = made.value();
  const std::int32_t scale = tool_scale(p);
  EXPECT_EQ(f.path.scale, scale);
  std::uint64_t sum = 0;
  std::size_t overflows = 0;
  for (std::size_t j = 0; j < taps.size(); ++j) {
    EXPECT_EQ(f.coefficients[j], tool_coefficient(scale, taps[j])) << "tap " << j;
    const double exact = std::trunc(static_cast<double>(scale) * taps[j]);
    if (exact >= 2147483648.0 || exact < -2147483648.0) ++overflows;
    sum += static_cast<std::uint64_t>(std::llabs(f.coefficients[j]));
  }
  EXPECT_EQ(f.coefficient_overflows, overflows);
  EXPECT_EQ(f.coefficient_wrapped, overflows > 0);
  EXPECT_EQ(f.magnitude_sum, sum);
  // Only 0 to 30 give a scale that bounds the samples: past them nothing is wrap-free.
  const bool in_range = p >= LOWEST_PRECISION && p <= HIGHEST_PRECISION;
  EXPECT_EQ(
      no_input_overflows(f),
      in_range && overflows == 0 && static_cast<std::uint64_t>(scale) * sum <= ACCUMULATOR_LIMIT);
  EXPECT_EQ(is_precision_datapath_in_range(f.path), in_range);
}

INSTANTIATE_TEST_SUITE_P(any_precision, precision_filter,
                         ::testing::Values(-40, -1, 0, 1, 3, 15, 29, 30, 31, 32, 40, 1000));

TEST(precision_filter_small, IsWrapFreeWhenItsSumsFit) {
  const std::vector<float> small = {0.25f, -0.125f};  // Σ|c| · 2^P = 3/8 · 4^P
  EXPECT_TRUE(no_input_overflows(make_fixed_filter(small, precision_datapath(15)).value()));
  EXPECT_FALSE(no_input_overflows(make_fixed_filter(small, precision_datapath(17)).value()));
}

// Whether an input |x| ≤ 1 can overflow a datapath's sums, worked out by hand: the largest
// sample |s| of ±1 on the sample word, times Σ|c|, against the accumulator's 2^(A-1) - 1.
struct overflow_case {
  const char* name;
  std::vector<float> taps;
  datapath path;
  std::uint64_t largest_sample;
  bool no_input_overflows;
};

const overflow_case overflow_cases[] = {
    // c = 64, 64; 1.0 is 128 on 8 bits F 7, which wraps to -128: 128 × 128 = 2^14.
    {"sums_fit_16_bits",
     {0.5F, 0.5F},
     path_of(8, 7, 8, 7, 16, rounding_mode::toward_zero, overflow_mode::wrap),
     128,
     true},
    {"sums_pass_15_bits",
     {0.5F, 0.5F},
     path_of(8, 7, 8, 7, 15, rounding_mode::toward_zero, overflow_mode::wrap),
     128,
     false},
    {"half_samples_pass_14_bits",
     {0.5F, 0.5F},
     path_of(8, 7, 8, 6, 14, rounding_mode::toward_zero, overflow_mode::wrap),
     64,
     false},
    {"half_samples_fit_15_bits",
     {0.5F, 0.5F},
     path_of(8, 7, 8, 6, 15, rounding_mode::toward_zero, overflow_mode::wrap),
     64,
     true},
    // F_x = -1: ±0.5 rounds away from zero to ±1, so 128 × 1 needs 9 bits.
    {"nearest_rounds_half_up",
     {0.5F, 0.5F},
     path_of(8, 7, 8, -1, 9, rounding_mode::nearest, overflow_mode::wrap),
     1,
     true},
    {"nearest_passes_8_bits",
     {0.5F, 0.5F},
     path_of(8, 7, 8, -1, 8, rounding_mode::nearest, overflow_mode::wrap),
     1,
     false},
    // F_x = -2: ±0.25 truncates to 0, but floor takes -0.25 to -1.
    {"truncated_samples_are_0",
     {0.5F, 0.5F},
     path_of(8, 7, 8, -2, 8, rounding_mode::toward_zero, overflow_mode::wrap),
     0,
     true},
    {"floor_reaches_minus_1",
     {0.5F, 0.5F},
     path_of(8, 7, 8, -2, 8, rounding_mode::floor, overflow_mode::wrap),
     1,
     false},
    // 1.0 saturates to c = 127 (not wrapped); -1.0 is -128: 127 × 128 = 16256 fits 15 bits.
    {"saturated_coefficient",
     {1.0F},
     path_of(8, 7, 8, 7, 15, rounding_mode::toward_zero, overflow_mode::saturate),
     128,
     true},
    // 1.0 wraps to c = -128: the taps' own bound is past it, whatever the accumulator.
    {"wrapped_coefficient",
     {1.0F},
     path_of(8, 7, 8, 7, 64, rounding_mode::toward_zero, overflow_mode::wrap),
     128,
     false},
    {"silent_coefficients",
     {0.001F},
     path_of(8, 7, 32, 31, 8, rounding_mode::toward_zero, overflow_mode::wrap),
     std::uint64_t{1} << 31,
     true},
};

class InputOverflow : public ::testing::TestWithParam<overflow_case> {};

TEST_P(InputOverflow, IsTheLargestSampleTimesTheCoefficientSum) {
  const overflow_case& c = GetParam();
  EXPECT_EQ(largest_unit_sample(c.path.sample), c.largest_sample);
  EXPECT_EQ(no_input_overflows(make_fixed_filter(c.taps, c.path).value()), c.no_input_overflows);
}

INSTANTIATE_TEST_SUITE_P(datapaths, InputOverflow, ::testing::ValuesIn(overflow_cases),
                         [](const auto& p) { return std::string(p.param.name); });

const datapath paths[] = {
    precision_datapath(15),
    precision_datapath(0),
    path_of(16, 15, 14, 13, 40, rounding_mode::nearest, overflow_mode::saturate),
    path_of(8, 9, 32, 31, 64, rounding_mode::floor, overflow_mode::wrap),
    path_of(2, -3, 2, 96, 8, rounding_mode::toward_zero, overflow_mode::saturate),
};

TEST(fixed_filter_figures, AreThoseOfItsCoefficientsAndDatapath) {
  for (const datapath& d : paths) {
    const fixed_filter f = make_fixed_filter(taps, d).value();
    const std::int32_t fc = d.coefficient.fraction_bits;
    const std::int32_t fx = d.sample.fraction_bits;
    EXPECT_EQ(f.coefficient_scale, std::pow(2.0, fc)) << datapath_words(d);
    EXPECT_EQ(f.output_unit, std::pow(2.0, -(fc + fx))) << datapath_words(d);
    EXPECT_EQ(f.accumulator_bits_needed, accumulator_bits_needed(f.coefficients, d.sample.bits));
    std::uint64_t sum = 0;
    for (const std::int32_t c : f.coefficients) sum += static_cast<std::uint64_t>(std::llabs(c));
    EXPECT_EQ(f.magnitude_sum, sum) << datapath_words(d);
  }
}

TEST(fixed_filter_figures, FollowAChangedSampleSide) {
  // A filter whose sample word and accumulator change is the filter made on the new datapath.
  for (const datapath& from : paths) {
    for (const datapath& to : paths) {
      datapath target = from;
      target.sample = to.sample;
      target.accumulator_bits = to.accumulator_bits;
      target.accumulator_overflow = to.accumulator_overflow;
      if (is_precision_datapath_in_range(from) && !is_precision_datapath_in_range(target))
        target.precision = target.scale = 0;
      if (!is_precision_datapath(from) || is_precision_datapath(target)) {
        fixed_filter changed = make_fixed_filter(taps, from).value();
        change_sample_side(changed, to.sample, to.accumulator_bits, to.accumulator_overflow);
        const fixed_filter made = make_fixed_filter(taps, target).value();
        EXPECT_EQ(changed.coefficients, made.coefficients);
        EXPECT_EQ(changed.output_unit, made.output_unit) << datapath_words(target);
        EXPECT_EQ(changed.accumulator_bits_needed, made.accumulator_bits_needed)
            << datapath_words(target);
        EXPECT_EQ(datapath_words(changed.path), datapath_words(made.path));
      }
    }
  }
}

TEST(fixed_filter_limits, RefuseADatapathPastThemButNotAPrecision) {
  datapath d = path_of(33, 0, 16, 15, 32, rounding_mode::toward_zero, overflow_mode::wrap);
  const result<fixed_filter> wide = make_fixed_filter(taps, d);
  ASSERT_FALSE(wide.ok());
  EXPECT_EQ(wide.failure().kind, error_kind::bad_input);
  // Fraction bits of -40 are past a datapath's limits, yet fixfir's precision -40 is a
  // precision the console tool takes (scale 0).
  EXPECT_TRUE(make_fixed_filter(taps, precision_datapath(-40)).ok());
  d = precision_datapath(-40);
  d.scale = 5;  // not the quantizer's scale: no longer fixfir's precision
  EXPECT_FALSE(make_fixed_filter(taps, d).ok());
}

}  // namespace
}  // namespace fixfir
