// Bands and figures of real designs (tests/fixtures/): given, their bands give the true
// figures; inferred from the taps alone, the bands are the design's; and quantized
// coefficients approach the design as the precision rises.

#include "fixfir/measurement/design_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "design_fixtures.h"
#include "fast_test_support.h"
#include "fixfir/measurement/band_inference.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {
namespace {

using testing::as_double;
using testing::design_row;
using testing::designs;
using testing::fixture_taps;
using testing::owned_filter;

band_figures_db dense_figures(const std::vector<double>& h, const band_plan& plan) {
  dense_response r;
  EXPECT_TRUE(dense_magnitude(h, r));
  response_points points;
  EXPECT_TRUE(band_points(r, h, plan, points));
  return measure_plan(points, plan);
}

bool least_squares(const design_row& d) { return std::string(d.name).rfind("firls", 0) == 0; }

class Design : public ::testing::TestWithParam<design_row> {};

TEST_P(Design, GivenBandsGiveTheTrueFigures) {
  const design_row& d = GetParam();
  const std::vector<float> taps = fixture_taps(d.name);
  ASSERT_EQ(taps.size(), static_cast<std::size_t>(d.taps));
  band_plan plan{d.passbands, d.stopbands, true, true};
  const band_figures_db fig = dense_figures(as_double(taps), plan);
  EXPECT_NEAR(fig.ripple_db, d.ripple_db, 0.002);
  ASSERT_EQ(fig.attenuation_db.size(), d.attenuation_db.size());
  double worst = d.attenuation_db[0];
  for (std::size_t i = 0; i < d.attenuation_db.size(); ++i) {
    EXPECT_NEAR(fig.attenuation_db[i], d.attenuation_db[i], 0.05) << "stop band " << i;
    worst = std::min(worst, d.attenuation_db[i]);
  }
  EXPECT_NEAR(fig.worst_attenuation_db, worst, 0.05);
}

// A least-squares design's edges do not show in its response's shape; its taps, the
// solution of its normal equations, give them. Windowed and equiripple designs are not
// taken for least-squares ones.
TEST_P(Design, InferredBandsAreTheDesignsAndGiveItsFigures) {
  const design_row& d = GetParam();
  const std::vector<float> taps = fixture_taps(d.name);
  const std::vector<double> h = as_double(taps);
  dense_response r;
  ASSERT_TRUE(dense_magnitude(h, r));
  band_plan plan = infer_bands(r);
  const result<bool> refined = refine_least_squares_bands(taps, plan);
  ASSERT_TRUE(refined.ok());
  EXPECT_EQ(refined.value(), least_squares(d));
  ASSERT_EQ(plan.passbands.size(), d.passbands.size());
  ASSERT_EQ(plan.stopbands.size(), d.stopbands.size());
  EXPECT_FALSE(plan.passbands_given || plan.stopbands_given);
  EXPECT_EQ(band_plan_problem(plan), "");
  for (std::size_t i = 0; i < d.passbands.size(); ++i) {
    EXPECT_NEAR(plan.passbands[i].low, d.passbands[i].low, 25.0) << "pass band " << i;
    EXPECT_NEAR(plan.passbands[i].high, d.passbands[i].high, 25.0) << "pass band " << i;
  }
  for (std::size_t i = 0; i < d.stopbands.size(); ++i) {
    EXPECT_NEAR(plan.stopbands[i].low, d.stopbands[i].low, 25.0) << "stop band " << i;
    EXPECT_NEAR(plan.stopbands[i].high, d.stopbands[i].high, 25.0) << "stop band " << i;
  }
  const band_figures_db fig = dense_figures(h, plan);
  EXPECT_NEAR(fig.ripple_db, d.ripple_db, 0.05);
  for (std::size_t i = 0; i < d.attenuation_db.size(); ++i)
    EXPECT_NEAR(fig.attenuation_db[i], d.attenuation_db[i], 0.5) << "stop band " << i;
}

// Coefficient quantization alone: near the design at high precision, and its stop band
// rising about 6 dB a bit until the design's own level.
TEST_P(Design, QuantizedCoefficientsApproachTheDesignWithPrecision) {
  const design_row& d = GetParam();
  const std::vector<float> taps = fixture_taps(d.name);
  const band_plan plan{d.passbands, d.stopbands, true, true};
  double design_worst = d.attenuation_db[0];
  for (double a : d.attenuation_db) design_worst = std::min(design_worst, a);
  double previous = 0.0;
  for (std::int32_t p : {8, 12, 16, 24}) {
    const owned_filter f = testing::quantized(taps, p);
    std::vector<double> h(f.coefficients.begin(), f.coefficients.end());
    for (double& v : h) v /= static_cast<double>(f.filter.scale);
    const band_figures_db fig = dense_figures(h, plan);
    // The quantization error of N truncated taps is below N · 2^-P; so is its leak.
    const double leak_db =
        20.0 * std::log10(static_cast<double>(taps.size()) * std::ldexp(1.0, -p));
    EXPECT_GE(fig.worst_attenuation_db, std::min(design_worst, -leak_db) - 1.0) << "P=" << p;
    EXPECT_GE(fig.worst_attenuation_db, previous - 3.0) << "P=" << p;
    previous = fig.worst_attenuation_db;
    if (p == 24) {
      EXPECT_NEAR(fig.worst_attenuation_db, design_worst, 0.5);
      EXPECT_NEAR(fig.ripple_db, d.ripple_db, 0.01);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Design, ::testing::ValuesIn(designs),
                         [](const auto& p) { return std::string(p.param.name); });

// The Kaiser design needs more bits than the 16 that its coefficients would suggest: at
// 10 its coefficients alone leak far above its 90 dB.
TEST(Design, KaiserLowPassLosesItsStopBandToCoefficientQuantization) {
  const design_row& d = designs[0];
  ASSERT_EQ(std::string(d.name), "kaiser_lp_255");
  const std::vector<float> taps = fixture_taps(d.name);
  const band_plan plan{d.passbands, d.stopbands, true, true};
  auto attenuation = [&](std::int32_t p) {
    const owned_filter f = testing::quantized(taps, p);
    std::vector<double> h(f.coefficients.begin(), f.coefficients.end());
    for (double& v : h) v /= static_cast<double>(f.filter.scale);
    return dense_figures(h, plan).worst_attenuation_db;
  };
  EXPECT_LT(attenuation(10), 50.0);
  EXPECT_GT(attenuation(15), attenuation(10) + 15.0);
  EXPECT_LT(attenuation(15), 80.0);
}

}  // namespace
}  // namespace fixfir
