// The sine-sum bound against the exact sums of the sweep's own quantized samples.

#include "fixfir/measurement/sine_sum_bound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/common/conversion.h"

namespace fixfir {
namespace {

struct bound_row {
  const char* name;
  int taps;
  double gain;  // the windowed sinc's taps times this
  int precision;
  std::vector<double> frequencies;
  bool settled;  // the bound shows at every frequency that no sum can wrap
};

// A Hamming-windowed sinc low-pass (cutoff a quarter of the way to 8000 Hz), times `gain`.
std::vector<double> sinc_taps(int n, double gain) {
  std::vector<double> taps(static_cast<std::size_t>(n));
  const double m = (n - 1) / 2.0;
  for (int i = 0; i < n; ++i) {
    const double u = std::fabs(i - m);
    const double s = u == 0 ? 0.25 : std::sin(0.25 * std::numbers::pi * u) / (std::numbers::pi * u);
    const double w = 0.54 - 0.46 * std::cos(2 * std::numbers::pi * (m - u) / (n > 1 ? n - 1 : 1));
    taps[static_cast<std::size_t>(i)] = gain * s * w;
  }
  return taps;
}

// The largest |exact sum| of a run from rest over SWEEP_SAMPLES samples, computed plainly.
double largest_exact_sum(const std::vector<std::int32_t>& c, double scale, double frequency,
                         const std::vector<double>& times) {
  std::vector<std::int64_t> q(times.size());
  for (std::size_t m = 0; m < times.size(); ++m) {
    q[m] = static_cast<std::int64_t>(std::trunc(scale * std::sin((frequency * times[m]) * TWO_PI)));
  }
  std::int64_t largest = 0;
  for (std::size_t n = 0; n < times.size(); ++n) {
    std::int64_t sum = 0;
    for (std::size_t j = 0; j < c.size() && j <= n; ++j) sum += c[j] * q[n - j];
    largest = std::max(largest, sum < 0 ? -sum : sum);
  }
  return static_cast<double>(largest);
}

class SineSumBound : public testing::TestWithParam<bound_row> {};

TEST_P(SineSumBound, HoldsTheExactSumsAndStaysClose) {
  const bound_row& row = GetParam();
  const double scale = std::ldexp(1.0, row.precision);
  std::vector<std::int32_t> c;
  double magnitude = 0.0;
  for (double tap : sinc_taps(row.taps, row.gain)) {
    c.push_back(static_cast<std::int32_t>(std::trunc(tap * scale)));
    magnitude += std::fabs(static_cast<double>(c.back()));
  }
  // Rows meant to be settled are ones the plain bound Σ|c| · scale cannot settle.
  if (row.settled && row.taps > 1) {
    EXPECT_GT(magnitude * scale, 2147483647.0);
  }
  std::vector<double> times(static_cast<std::size_t>(SWEEP_SAMPLES));
  double t = 0.0;
  for (double& slot : times) {
    slot = t;
    t = t + SAMPLE_INTERVAL;
  }
  const sine_clock clock = measure_sine_clock(times);
  for (double f : row.frequencies) {
    const double exact = largest_exact_sum(c, scale, f, times);
    const double bound = sine_sum_bound(c, scale, f, clock);
    EXPECT_LE(exact, bound) << f << " Hz";
    if (row.settled) {
      EXPECT_TRUE(sine_sums_cannot_wrap(c, scale, f, clock)) << f << " Hz";
    }
    if (exact > 2147483647.0) {
      EXPECT_FALSE(sine_sums_cannot_wrap(c, scale, f, clock)) << f << " Hz";
    }
  }
}

const std::vector<double> frequencies = {4, 100, 1000, 1996, 2004, 4000, 6000, 7996};

INSTANTIATE_TEST_SUITE_P(
    Rows, SineSumBound,
    testing::Values(bound_row{"short", 63, 1.7, 15, frequencies, true},
                    bound_row{"long_near_the_edge", 1023, 1.7, 15, frequencies, true},
                    bound_row{"gain_that_wraps", 255, 3.0, 15, frequencies, false},
                    bound_row{"fine_scale", 31, 1.0, 30, frequencies, false},
                    bound_row{"one_tap", 1, -1.0, 15, {4, 4000, 7996}, true}),
    [](const testing::TestParamInfo<bound_row>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace fixfir
