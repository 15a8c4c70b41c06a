// One pass over the frequencies for several precisions, against each precision swept on
// its own.

#include "fixfir/measurement/precision_sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "design_fixtures.h"
#include "fast_test_support.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/measurement/spectrum.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/measurement/wrap_checks.h"
#include "fixfir/reference/fir_reference.h"

namespace fixfir {
namespace {

using testing::fixture_taps;
using testing::owned_filter;

// One pass over the frequencies for several precisions gives each precision's own sweep:
// fixfir's peaks exactly, the wraps the core makes, and the steady state of its
// coefficients.
TEST(PrecisionSweeps, EachPrecisionIsItsOwnSweep) {
  const std::vector<float> taps = fixture_taps("remez_bp_95");
  const std::int32_t limit = largest_wrap_free_precision(taps).value();
  const std::vector<std::int32_t> precisions = {limit - 4, limit, limit + 1, limit + 5};
  constexpr std::int32_t step = 211;
  const std::vector<fixed_filter> filters = precision_filters(taps, precisions).value();
  precision_sweeps sweeps;
  ASSERT_TRUE(sweep_filters(filters, {taps, step, 2, true, {}}, sweeps).ok());
  // Without peaks each run filters only the fit's samples, and judges wraps from the
  // wrap-free precision: the same figures.
  precision_sweeps quick;
  ASSERT_TRUE(sweep_filters(filters, {taps, step, 2, false, {}}, quick).ok());
  for (std::size_t k = 0; k < precisions.size(); ++k) {
    EXPECT_EQ(quick.runs[k].steady, sweeps.runs[k].steady);
    EXPECT_EQ(quick.runs[k].wrapped, sweeps.runs[k].wrapped);
  }
  ASSERT_EQ(sweeps.runs.size(), precisions.size());
  ASSERT_EQ(sweeps.frequency.size(), static_cast<std::size_t>(sweep_frequency_count(step)));
  for (std::size_t k = 0; k < precisions.size(); ++k) {
    const swept_precision& run = sweeps.runs[k];
    const owned_filter f = testing::quantized(taps, precisions[k]);
    fir_state state;
    ASSERT_TRUE(fir_init(state, f.filter));
    std::vector<double> h(f.coefficients.begin(), f.coefficients.end());
    for (double& v : h) v /= static_cast<double>(f.filter.scale);
    std::int32_t wraps = 0;
    for (std::size_t i = 0; i < sweeps.frequency.size(); ++i) {
      const std::int32_t frequency = sweeps.frequency[i];
      EXPECT_EQ(run.peak[i], fir_output(state.scale, sweep_peak(state, frequency)))
          << precisions[k] << " " << frequency;
      sine_basis basis;
      ASSERT_TRUE(make_sine_basis(frequency, SWEEP_SAMPLES, basis).ok());
      const bool wrapped = run_fixed_model(f.fixed, basis.sine).value().wraps > 0;
      EXPECT_EQ(run.wrapped[i] != 0, wrapped) << precisions[k] << " " << frequency;
      wraps += wrapped ? 1 : 0;
      if (!wrapped && frequency != SWEEP_LAST_FREQUENCY) {
        // (truncation noise over the fit's samples stays well below a step)
        EXPECT_NEAR(run.steady[i], magnitude_at(h, frequency), std::ldexp(1.0, -precisions[k]));
      }
    }
    EXPECT_EQ(run.wraps, wraps);
    if (k < 2) {
      EXPECT_EQ(wraps, 0);
    }
  }
  EXPECT_GT(sweeps.runs.back().wraps, 0);
}

}  // namespace
}  // namespace fixfir
