// Where the error comes from: the truncation model and the coefficients' share.

#include "fixfir/measurement/error_model.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "design_fixtures.h"
#include "fast_test_support.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/measurement/waveform_model.h"

namespace fixfir {
namespace {

using testing::fixture_taps;
using testing::owned_filter;

class ErrorSplit : public ::testing::TestWithParam<std::int32_t> {};

// With no wraps, the arithmetic error is what the truncation model predicts, and the
// coefficient error is that of the coefficients alone.
TEST_P(ErrorSplit, TruncationModelPredictsTheArithmeticError) {
  const std::vector<float> taps = fixture_taps("remez_lp_63");
  const owned_filter f = testing::quantized(taps, GetParam());
  const waveform_signal signal = make_waveform_signal({100, 50, 4000}).value();
  const fixed_run fixed = run_fixed_model(f.fixed, signal.input).value();
  ASSERT_EQ(fixed.wraps, 0);
  const std::vector<double> reference = run_double_model(taps, signal.input).value();
  std::vector<double> coefficient_model;
  const double scale = static_cast<double>(f.filter.scale);
  ASSERT_TRUE(run_coefficient_model(f.coefficients, scale, signal.input, coefficient_model));
  const error_split split =
      split_error(reference, coefficient_model, fixed.output,
                  predicted_truncation_power(f.coefficients, scale, signal.input));
  EXPECT_NEAR(split.arithmetic_db, split.predicted_arithmetic_db, 1.0);
  // The two parts add up to the whole (they are nearly uncorrelated).
  const double total = snr_db(reference, fixed.output);
  const double combined = -10.0 * std::log10(std::pow(10.0, -split.coefficient_db / 10.0) +
                                             std::pow(10.0, -split.arithmetic_db / 10.0));
  EXPECT_NEAR(total, combined, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Precisions, ErrorSplit, ::testing::Values(8, 12, 15));

// The truncation model tap by tap, as written down: the oracle for the sums the model may
// take in another order where they are exact.
struct tap_by_tap {
  std::vector<double> mean;
  double power = 0.0;
};

tap_by_tap truncation_by_taps(const std::vector<std::int32_t>& c, double scale,
                              const std::vector<double>& x) {
  const double q = 1.0 / scale;
  tap_by_tap out;
  for (std::size_t n = 0; n < x.size(); ++n) {
    double mean = 0.0;
    double variance = 0.0;
    for (std::size_t j = 0; j < c.size() && j <= n; ++j) {
      if (x[n - j] == 0.0) continue;
      const double h = static_cast<double>(c[j]) * q;
      mean += h * (x[n - j] > 0.0 ? -q / 2.0 : q / 2.0);
      variance += h * h;
    }
    out.mean.push_back(mean);
    out.power += mean * mean + variance * q * q / 12.0;
  }
  out.power /= static_cast<double>(x.size());
  return out;
}

// (taps, scale, coefficient range): power-of-two scales whose sums are exact, a coefficient
// too large to square in 31 bits, and a scale that is not a power of two.
class TruncationModel
    : public ::testing::TestWithParam<std::tuple<std::size_t, double, std::int32_t>> {};

TEST_P(TruncationModel, GivesTheTapByTapDoublesBitForBit) {
  const auto [count, scale, range] = GetParam();
  std::mt19937 random(static_cast<std::uint32_t>(count) * 7u + 1u);
  std::uniform_int_distribution<std::int32_t> coefficient(-range, range);
  std::vector<std::int32_t> c(count);
  for (std::int32_t& v : c) v = coefficient(random);
  if (count > 2) c[count / 2] = range;  // the largest magnitude is met
  std::uniform_real_distribution<double> sample(-1.0, 1.0);
  std::vector<double> x(1000);
  for (std::size_t n = 0; n < x.size(); ++n) x[n] = n % 7 == 3 ? 0.0 : sample(random);
  x[5] = -0.0;
  const tap_by_tap want = truncation_by_taps(c, scale, x);
  std::vector<double> mean;
  ASSERT_TRUE(truncation_model(c, scale, x, mean));
  ASSERT_EQ(mean.size(), want.mean.size());
  for (std::size_t n = 0; n < mean.size(); ++n) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(mean[n]), std::bit_cast<std::uint64_t>(want.mean[n]))
        << "sample " << n;
  }
  EXPECT_EQ(std::bit_cast<std::uint64_t>(predicted_truncation_power(c, scale, x)),
            std::bit_cast<std::uint64_t>(want.power));
}

INSTANTIATE_TEST_SUITE_P(ScalesAndRanges, TruncationModel,
                         ::testing::Values(std::make_tuple(1, 32768.0, 32768),
                                           std::make_tuple(63, 32768.0, 32768),
                                           std::make_tuple(64, 256.0, 300),
                                           std::make_tuple(255, 1073741824.0, 46340),
                                           std::make_tuple(97, 1073741824.0, 46341),
                                           std::make_tuple(300, 2147483648.0, 2147483647),
                                           std::make_tuple(63, 1000.0, 1000)));

}  // namespace
}  // namespace fixfir
