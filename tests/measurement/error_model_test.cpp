// Where the error comes from: the truncation model and the coefficients' share.

#include "fixfir/measurement/error_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

}  // namespace
}  // namespace fixfir
