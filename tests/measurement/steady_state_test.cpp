// The steady-state fit over the sweep's run, held to |H(f)| of the filter it ran.

#include "fixfir/measurement/steady_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "design_fixtures.h"
#include "fast_test_support.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/spectrum.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir {
namespace {

using testing::as_double;
using testing::fixture_taps;
using testing::owned_filter;

struct fit_case {
  const char* design;
  std::int32_t frequency;
};

class SteadyState : public ::testing::TestWithParam<fit_case> {};

// The fit over the sweep's own run recovers |H(f)| of the double model exactly and that
// of the coefficients in fixed point to within the truncation noise, where the swept peak
// of the same run (start-up transient included) can be far louder.
TEST_P(SteadyState, FitRecoversTheResponse) {
  const fit_case& c = GetParam();
  const std::vector<float> taps = fixture_taps(c.design);
  sine_basis basis;
  ASSERT_TRUE(make_sine_basis(c.frequency, SWEEP_SAMPLES, basis).ok());
  const std::size_t first = taps.size() - 1;
  const std::vector<double> h = as_double(taps);
  const double ideal = magnitude_at(h, c.frequency);
  const std::vector<double> y = run_double_model(taps, basis.sine).value();
  EXPECT_NEAR(fitted_amplitude(basis, y, first), ideal, 1e-12 + 1e-9 * ideal);

  const std::int32_t p = largest_wrap_free_precision(taps).value();
  const owned_filter f = testing::quantized(taps, p);
  const fixed_run run = run_fixed_model(f.fixed, basis.sine).value();
  ASSERT_EQ(run.wraps, 0);
  std::vector<double> coefficients(f.coefficients.begin(), f.coefficients.end());
  for (double& v : coefficients) v /= static_cast<double>(f.filter.scale);
  const double expected = magnitude_at(coefficients, c.frequency);
  // Truncating the samples toward zero moves the amplitude by less than a step.
  EXPECT_NEAR(fitted_amplitude(basis, run.output, first), expected, std::ldexp(1.0, -p));
}

INSTANTIATE_TEST_SUITE_P(
    Frequencies, SteadyState,
    ::testing::Values(fit_case{"kaiser_lp_255", 4}, fit_case{"kaiser_lp_255", 1000},
                      fit_case{"kaiser_lp_255", 3001}, fit_case{"remez_bp_95", 2222},
                      fit_case{"remez_bp_95", 500}, fit_case{"remez_hp_47", 7999}));

// A coarse sweep steps over the lobe tops and band edges where the steady state is worst;
// measured there as well, its figures are those of the finest sweep.
TEST(SteadyState, FiguresDoNotDependOnTheSweepStep) {
  for (const char* design : {"firls_lp_71", "kaiser_bp_119"}) {
    const std::vector<float> taps = fixture_taps(design);
    band_figures_db figures[2];
    const std::int32_t steps[2] = {1, 200};
    for (int i = 0; i < 2; ++i) {
      report_request o;
      o.precision = 10;
      o.tones = {100, 50, 4000};
      o.sweep_step = steps[i];
      o.threads = 2;
      precision_report r;
      const outcome done = run_precision_report(taps, o, r);
      ASSERT_TRUE(done.ok()) << done.failure().message;
      figures[i] = r.figures.steady;
    }
    EXPECT_NEAR(figures[1].ripple_db, figures[0].ripple_db, 0.01) << design;
    EXPECT_NEAR(figures[1].worst_attenuation_db, figures[0].worst_attenuation_db, 0.2) << design;
  }
}

TEST(SteadyState, UndefinedWhereTheSineIsNotSampled) {
  sine_basis basis;
  ASSERT_TRUE(make_sine_basis(8000, SWEEP_SAMPLES, basis).ok());
  const std::vector<double> y(SWEEP_SAMPLES, 1.0);
  EXPECT_TRUE(std::isnan(fitted_amplitude(basis, y, 0)));
  ASSERT_TRUE(make_sine_basis(1000, SWEEP_SAMPLES, basis).ok());
  EXPECT_TRUE(std::isnan(fitted_amplitude(basis, y, SWEEP_SAMPLES - 2)));
}

}  // namespace
}  // namespace fixfir
