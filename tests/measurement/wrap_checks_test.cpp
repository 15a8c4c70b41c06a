// Overflow: the wrap-free bound is sharp, the headroom is that of the coefficients used,
// and the quick wrap check agrees with the exact sums.

#include "fixfir/measurement/wrap_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "design_fixtures.h"
#include "fast_test_support.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/accumulator_wraps.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/measurement/steady_state.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/reference/fir_reference.h"

namespace fixfir {
namespace {

using testing::design_row;
using testing::designs;
using testing::fixture_taps;
using testing::owned_filter;

// The worst input for the newest sample: ±1 matching the sign of each coefficient.
std::vector<double> worst_input(const owned_filter& f) {
  std::vector<double> x(f.coefficients.size());
  for (std::size_t j = 0; j < x.size(); ++j)
    x[x.size() - 1 - j] = f.coefficients[j] < 0 ? -1.0 : 1.0;
  return x;
}

class WrapFree : public ::testing::TestWithParam<design_row> {};

// The bound is sharp: the worst input wraps one precision above it and not at it.
TEST_P(WrapFree, LimitIsSharp) {
  const std::vector<float> taps = fixture_taps(GetParam().name);
  ASSERT_TRUE(largest_wrap_free_precision(taps).has_value());
  const std::int32_t limit = *largest_wrap_free_precision(taps);
  ASSERT_LT(limit, HIGHEST_PRECISION);
  EXPECT_TRUE(wrap_bound_at(taps, limit).wrap_free);
  EXPECT_GE(wrap_bound_at(taps, limit).headroom_bits, 0.0);
  EXPECT_FALSE(wrap_bound_at(taps, limit + 1).wrap_free);
  EXPECT_LT(wrap_bound_at(taps, limit + 1).headroom_bits, 0.0);
  const owned_filter safe = testing::quantized(taps, limit);
  EXPECT_EQ(run_fixed_model(safe.fixed, worst_input(safe)).value().wraps, 0);
  const owned_filter wrapping = testing::quantized(taps, limit + 1);
  EXPECT_GT(run_fixed_model(wrapping.fixed, worst_input(wrapping)).value().wraps, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, WrapFree, ::testing::ValuesIn(designs),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WrapFree, KnownCases) {
  // Σ|c| = 2^P: 2^(2P) ≤ 2^31 - 1 up to 15.
  EXPECT_EQ(largest_wrap_free_precision(std::vector<float>{0.5F, -0.5F}), 15);
  EXPECT_EQ(largest_wrap_free_precision(std::vector<float>{0.0F}), HIGHEST_PRECISION);
  EXPECT_EQ(largest_wrap_free_precision(std::vector<float>{2.0F, -2.0F}), 14);
  // From precision 29 on, 4.0 does not fit a coefficient (at 30 it wraps to 0).
  EXPECT_EQ(largest_wrap_free_precision(std::vector<float>{4.0F, 4.0F}), 13);
  // Σ|c| passes 2^31 - 1 already at precision 0, and a tap that wraps its word is never
  // wrap-free: no precision is.
  EXPECT_EQ(largest_wrap_free_precision(std::vector<float>{2.0e9F, 2.0e9F}), std::nullopt);
  EXPECT_EQ(largest_wrap_free_precision(std::vector<float>{3.0e9F}), std::nullopt);
  EXPECT_FALSE(wrap_bound_at(std::vector<float>{4.0F, 4.0F}, 30).wrap_free);
  EXPECT_NEAR(wrap_bound_at(std::vector<float>{0.5F, 0.5F}, 10).headroom_bits, 11.0, 1e-6);
}

struct headroom_case {
  const char* name;
  std::vector<float> taps;
  std::int32_t precision;
  double headroom_bits;  // of the coefficients the run uses
  bool can_wrap;
  bool wrap_free;  // the limit's verdict: never where a coefficient wrapped
};

class Headroom : public ::testing::TestWithParam<headroom_case> {};

// The filter object's stored figures say the same as the bound computed from the taps.
TEST_P(Headroom, IsThatOfTheCoefficientsUsed) {
  const headroom_case& c = GetParam();
  const wrap_bound b = wrap_bound_at(c.taps, c.precision);
  if (std::isinf(c.headroom_bits))
    EXPECT_EQ(b.headroom_bits, c.headroom_bits);
  else
    EXPECT_NEAR(b.headroom_bits, c.headroom_bits, 1e-6);
  EXPECT_EQ(b.can_wrap, c.can_wrap);
  EXPECT_EQ(b.wrap_free, c.wrap_free);
  const owned_filter f = testing::quantized(c.taps, c.precision);
  std::uint64_t sum = 0;
  for (std::int32_t v : f.coefficients) sum += static_cast<std::uint64_t>(std::llabs(v));
  EXPECT_EQ(b.used_coefficient_sum, sum);
  EXPECT_EQ(f.fixed.magnitude_sum, sum);
  const std::int64_t scale = f.filter.scale;
  EXPECT_EQ(static_cast<std::uint64_t>(std::llabs(scale)) > f.fixed.wrap_free_sample, c.can_wrap);
  if (c.precision >= FIXED_LOWEST_PRECISION && c.precision <= FIXED_HIGHEST_PRECISION) {
    EXPECT_EQ(no_input_overflows(f.fixed), c.wrap_free);
  }
}

constexpr double unbounded = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, Headroom,
    ::testing::Values(
        headroom_case{"within", {0.5F, 0.5F}, 10, 11.0, false, true},
        headroom_case{"over", {1.0F, 1.0F}, 16, -2.0, true, false},
        // Σ|c| · scale = 2^31 exactly: one past the largest sum that cannot wrap.
        headroom_case{"one_past_the_edge", {1.0F, -1.0F}, 15, 0.0, true, false},
        // A scale of 0: every coefficient is 0 and nothing can wrap.
        headroom_case{"zero_scale", {0.5F, 0.5F}, 32, unbounded, false, false},
        headroom_case{"far_zero_scale", {0.5F, 0.5F}, 1000, unbounded, false, false},
        // Taps out of the 64-bit range convert to 0.
        headroom_case{"taps_out_of_range", {3.4e38F, -3.4e38F}, 15, unbounded, false, false},
        // 4.0 at precision 30 wraps to 0 on conversion; the other coefficient is 2^30.
        headroom_case{"wrapped_coefficient", {4.0F, 1.0F}, 30, -29.0, true, false},
        headroom_case{"all_wrapped_to_zero", {4.0F, 4.0F}, 30, unbounded, false, false},
        // -2^31: samples reach 2^31 in magnitude.
        headroom_case{"negative_scale", {0.5F, 0.5F}, 31, -31.0, true, false}),
    [](const auto& p) { return std::string(p.param.name); });

struct sweep_wrap_case {
  const char* design;
  std::int32_t above_limit;  // precision minus the wrap-free limit
  std::int32_t frequency;
};

class SweepWraps : public ::testing::TestWithParam<sweep_wrap_case> {};

// The quick check from the double reference and the exact sums agree with the core.
TEST_P(SweepWraps, AgreeWithExactSums) {
  const sweep_wrap_case& c = GetParam();
  const std::vector<float> taps = fixture_taps(c.design);
  const std::int32_t p = largest_wrap_free_precision(taps).value() + c.above_limit;
  const owned_filter f = testing::quantized(taps, p);
  sine_basis basis;
  ASSERT_TRUE(make_sine_basis(c.frequency, SWEEP_SAMPLES, basis).ok());
  fir_state state;
  ASSERT_TRUE(fir_init(state, f.filter));
  std::vector<std::int32_t> samples;
  std::vector<std::int32_t> accumulators;
  for (double x : basis.sine) {
    accumulators.push_back(fir_step(state, x));
    samples.push_back(quantize_sample(state.scale, x));
  }
  const bool expected = run_fixed_model(f.fixed, basis.sine).value().wraps > 0;
  const std::vector<double> reference = run_double_model(taps, basis.sine).value();
  wrap_check check{f.coefficients, samples, accumulators, reference, taps, state.scale};
  EXPECT_EQ(run_wrapped(check), expected);
  check.reference = {};
  EXPECT_EQ(run_wrapped(check), expected);
  // From a later sample on, as the steady-state fit checks it: the accumulators before it
  // are never read (here they are spoiled), both ways, and a wrap there is one of the run's.
  check.from = samples.size() - STEADY_FIT_SAMPLES;
  const bool tail = run_wrapped(check);
  EXPECT_TRUE(!tail || expected);
  for (std::size_t n = 0; n < check.from; ++n) accumulators[n] ^= 0x40000000;
  EXPECT_EQ(run_wrapped(check), tail);
  check.reference = reference;
  EXPECT_EQ(run_wrapped(check), tail);
}

INSTANTIATE_TEST_SUITE_P(AroundTheLimit, SweepWraps,
                         ::testing::Values(sweep_wrap_case{"remez_lp_63", 0, 1000},
                                           sweep_wrap_case{"remez_lp_63", 1, 1000},
                                           sweep_wrap_case{"remez_lp_63", 1, 5000},
                                           sweep_wrap_case{"remez_lp_63", 3, 5000},
                                           sweep_wrap_case{"remez_lp_63", 6, 5000},
                                           sweep_wrap_case{"kaiser_lp_255", 1, 1500},
                                           sweep_wrap_case{"kaiser_lp_255", 2, 4000},
                                           sweep_wrap_case{"kaiser_lp_255", 9, 7000},
                                           sweep_wrap_case{"remez_bp_95", 2, 2500}));

}  // namespace
}  // namespace fixfir
