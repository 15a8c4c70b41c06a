// The one filter maker: fixfir's precision at any P against the console tool's own
// arithmetic, written here, and the figures a filter carries against a fresh computation.
#include "fixfir/coefficients/fixed_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
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
  EXPECT_EQ(wrap_free(f), in_range && overflows == 0 &&
                              static_cast<std::uint64_t>(scale) * sum <= ACCUMULATOR_LIMIT);
  EXPECT_EQ(is_seed_datapath(f.path), in_range);
}

INSTANTIATE_TEST_SUITE_P(any_precision, precision_filter,
                         ::testing::Values(-40, -1, 0, 1, 3, 15, 29, 30, 31, 32, 40, 1000));

TEST(precision_filter_small, IsWrapFreeWhenItsSumsFit) {
  const std::vector<float> small = {0.25f, -0.125f};  // Σ|c| · 2^P = 3/8 · 4^P
  EXPECT_TRUE(wrap_free(make_fixed_filter(small, precision_datapath(15)).value()));
  EXPECT_FALSE(wrap_free(make_fixed_filter(small, precision_datapath(17)).value()));
}

const datapath paths[] = {
    seed_datapath(15),
    seed_datapath(0),
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
      if (is_seed_datapath(from) && !is_seed_datapath(target)) target.precision = target.scale = 0;
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
