// fixfir-report's bands, responses and precision figures, held to filters designed with a
// standard design tool (tests/fixtures/design_fixtures.py) and to their true figures.

#include "fixfir/measurement/measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/coefficients/quantizer.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/measurement/band_inference.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/design_recovery.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/summary_text.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/measurement/wrap_checks.h"
#include "fixfir/reference/fir_reference.h"

namespace fixfir {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

struct design_row {
  const char* name;
  int taps;
  std::vector<band> passbands;
  std::vector<band> stopbands;
  double ripple_db;
  std::vector<double> attenuation_db;
};

const std::vector<design_row> designs = {
#include "fixtures/design_figures.inc"
};

std::vector<float> load_taps(const std::string& name) {
  std::ifstream in(std::string(FIXFIR_FIXTURES) + "/" + name + ".txt");
  int count = 0;
  in >> count;
  std::vector<float> taps(static_cast<std::size_t>(count));
  for (float& t : taps) in >> t;
  EXPECT_TRUE(in) << name;
  return taps;
}

std::vector<double> as_double(const std::vector<float>& taps) { return {taps.begin(), taps.end()}; }

using testing::owned_filter;

band_figures_db dense_figures(const std::vector<double>& h, const band_plan& plan) {
  dense_response r;
  EXPECT_TRUE(dense_magnitude(h, r));
  response_points points;
  EXPECT_TRUE(band_points(r, h, plan, points));
  return measure_plan(points, plan);
}

bool least_squares(const design_row& d) { return std::string(d.name).rfind("firls", 0) == 0; }

// ---- Bands of real designs --------------------------------------------------------------

class Design : public ::testing::TestWithParam<design_row> {};

TEST_P(Design, GivenBandsGiveTheTrueFigures) {
  const design_row& d = GetParam();
  const std::vector<float> taps = load_taps(d.name);
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
  const std::vector<float> taps = load_taps(d.name);
  const std::vector<double> h = as_double(taps);
  dense_response r;
  ASSERT_TRUE(dense_magnitude(h, r));
  band_plan plan = infer_bands(r);
  EXPECT_EQ(refine_least_squares_bands(taps, plan), least_squares(d));
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
  const std::vector<float> taps = load_taps(d.name);
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
  const std::vector<float> taps = load_taps(d.name);
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

// ---- Dense responses --------------------------------------------------------------------

struct grid_case {
  const char* name;
  std::size_t taps;
};

class DenseGrid : public ::testing::TestWithParam<grid_case> {};

// Every grid point agrees with the direct sum, also when taps fold onto a shorter FFT.
TEST_P(DenseGrid, MatchesTheDirectSum) {
  const std::size_t n = GetParam().taps;
  std::vector<double> h(n);
  std::uint32_t state = 12345;
  for (double& v : h) {
    state = state * 1664525U + 1013904223U;
    v = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
  }
  dense_response r;
  ASSERT_TRUE(dense_magnitude(h, r));
  EXPECT_EQ(r.magnitude.size(), dense_grid_size(n) / 2 + 1);
  EXPECT_DOUBLE_EQ(r.spacing * static_cast<double>(r.magnitude.size() - 1), NYQUIST_HZ);
  const std::size_t last = r.magnitude.size() - 1;
  for (std::size_t k : {std::size_t{0}, std::size_t{1}, last / 3, last - 1, last}) {
    const double f = static_cast<double>(k) * r.spacing;
    EXPECT_NEAR(r.magnitude[k], magnitude_at(h, f), 1e-9 * std::sqrt(static_cast<double>(n)))
        << "at " << f << " Hz";
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, DenseGrid,
                         ::testing::Values(grid_case{"one", 1}, grid_case{"short", 63},
                                           grid_case{"long", 4000},
                                           grid_case{"folded", (std::size_t{1} << 20) + 7}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Band options -----------------------------------------------------------------------

struct band_text_case {
  const char* text;
  bool ok;
  band expected;
};

class BandText : public ::testing::TestWithParam<band_text_case> {};

TEST_P(BandText, Parses) {
  const band_text_case& c = GetParam();
  const result<band> parsed = parse_band(c.text);
  ASSERT_EQ(parsed.ok(), c.ok) << (parsed ? "" : parsed.failure().message);
  if (c.ok) {
    const band b = parsed.value();
    EXPECT_EQ(b.low, c.expected.low);
    EXPECT_FALSE(std::signbit(b.low));  // -0 is 0
    EXPECT_EQ(b.high, c.expected.high);
    // Printed, the band reads back as the very same numbers.
    const std::string text = band_text(b);
    const std::size_t to = text.find(" to ");
    const result<band> read_back =
        parse_band(text.substr(0, to) + ":" + text.substr(to + 4, text.size() - to - 7));
    ASSERT_TRUE(read_back.ok()) << text;
    const band again = read_back.value();
    EXPECT_TRUE(again.low == b.low && again.high == b.high) << text;
    EXPECT_NE(text.front(), '-') << text;
  } else {
    EXPECT_EQ(parsed.failure().kind, error_kind::bad_input);
    EXPECT_NE(parsed.failure().message.find(c.text), std::string::npos) << parsed.failure().message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BandText,
    ::testing::Values(band_text_case{"0:1800", true, {0, 1800}},
                      band_text_case{"2212.5:8000", true, {2212.5, 8000}},
                      band_text_case{"-0:1000", true, {0, 1000}},
                      band_text_case{"-1e-400:1000", true, {0, 1000}},
                      band_text_case{"969.7265625:1030.48", true, {969.7265625, 1030.48}},
                      band_text_case{"0.1:1e-300", false, {}},
                      band_text_case{"0:4e-5", true, {0, 4e-5}},
                      band_text_case{"1800:0", false, {}}, band_text_case{"5:5", false, {}},
                      band_text_case{"0:8001", false, {}}, band_text_case{"-1:10", false, {}},
                      band_text_case{"nan:10", false, {}}, band_text_case{"0x10:20", false, {}},
                      band_text_case{"10", false, {}}, band_text_case{":10", false, {}},
                      band_text_case{"10:", false, {}}, band_text_case{"1:2:3", false, {}}));

struct plan_case {
  const char* name;
  band_plan plan;
  const char* problem;  // "" for none
};

class BandPlan : public ::testing::TestWithParam<plan_case> {};

TEST_P(BandPlan, Problems) { EXPECT_EQ(band_plan_problem(GetParam().plan), GetParam().problem); }

INSTANTIATE_TEST_SUITE_P(
    Table, BandPlan,
    ::testing::Values(
        plan_case{"apart", {{{0, 1000}}, {{1500, 8000}}, true, true}, ""},
        plan_case{
            "touching", {{{0, 1000}, {2000, 3000}}, {{1000, 2000}, {3000, 8000}}, true, true}, ""},
        plan_case{"crossing",
                  {{{0, 1000}}, {{900, 8000}}, true, true},
                  "pass band 0 to 1000 Hz overlaps stop band 900 to 8000 Hz"},
        plan_case{"same_kind",
                  {{{0, 1000}}, {{2000, 8000}, {1500, 2000.25}}, true, true},
                  "stop band 2000 to 8000 Hz overlaps stop band 1500 to 2000.25 Hz"},
        plan_case{"duplicate",
                  {{{0, 1000}, {0, 1000}}, {}, true, false},
                  "pass band 0 to 1000 Hz overlaps pass band 0 to 1000 Hz"},
        plan_case{"below_the_sweep",
                  {{{0, 3.5}}, {{2000, 8000}}, true, true},
                  "pass band 0 to 3.5 Hz holds no frequency from 4 to 7996 Hz, where the steady "
                  "state is measured"},
        plan_case{"above_the_sweep",
                  {{{0, 1000}}, {{7996.25, 8000}}, true, true},
                  "stop band 7996.25 to 8000 Hz holds no frequency from 4 to 7996 Hz, where the "
                  "steady state is measured"},
        plan_case{"at_the_sweep_ends", {{{0, 4}}, {{7996, 8000}}, true, true}, ""},
        // Inferred bands are the response's: only a missing pass band is a problem.
        plan_case{"inferred_narrow", {{{0, 1}}, {}, false, false}, ""},
        plan_case{"no_pass_band", {{}, {{900, 8000}}, false, true}, "no pass band"}),
    [](const auto& p) { return std::string(p.param.name); });

// Edges print as the shortest decimal that reads back as the same edge, inferred or given.
TEST(BandPlan, EdgesPrintAsMeasured) {
  band_plan plan{{{0, 1560.546875}}, {{2429.6875, 8000}, {0.004, 0.006}}, false, false};
  EXPECT_EQ(band_lines(plan),
            (std::vector<std::string>{
                "passbands (inferred from the unquantized taps): 0 to 1560.546875 Hz",
                "stopbands (inferred from the unquantized taps): 2429.6875 to 8000 Hz, 0.004 to "
                "0.006 Hz"}));
  plan = {{{1030.48, 1561}}, {{969.7265625, 8000}}, true, true};
  EXPECT_EQ(band_lines(plan),
            (std::vector<std::string>{"passbands (given): 1030.48 to 1561 Hz",
                                      "stopbands (given): 969.7265625 to 8000 Hz"}));
}

// Every figure is written by one formatter: no sign on NaN or on a value that rounds to 0.
TEST(FigureText, SignsOnlyWhatIsNotZero) {
  const std::tuple<const char*, double, const char*> table[] = {
      {"%.2f", -0.004, "0.00"},
      {"%.2f", -0.0, "0.00"},
      {"%.4f dB", -0.00004, "0.0000 dB"},
      {"%.2f", -0.005, "-0.01"},  // rounds away from 0: the sign stays
      {"%.2f", -1e-300, "0.00"},
      {"%.6g", -0.0, "0"},
      {"%.6g", -1e-300, "-1e-300"},
      {"%.2f", -nan_value, "nan"},
      {"%.2f dB", -nan_value, "nan dB"},
      {"%.2f", -std::numeric_limits<double>::infinity(), "-inf"},
      {"%.2f", 12.345, "12.35"},
  };
  for (const auto& [format, v, want] : table) EXPECT_EQ(figure_text(format, v), want) << v;
}

// A table's columns pad as printf's widths do: to the width, and never cutting a text that
// is wider (a count of wraps past the header's width, a long word in place of a figure).
TEST(FigureText, ColumnsPadButNeverCut) {
  const std::tuple<std::string, std::string, std::string> table[] = {
      {right_column("yes", 9), "      yes", "%9s"},
      {right_column("not measured", 8), "not measured", "%8s, wider"},
      {left_column("to nearest", 11), "to nearest ", "%-11s"},
      {left_column("toward zero!", 11), "toward zero!", "%-11s, wider"},
      {right_column(std::int64_t{-12}, 4), " -12", "%4lld"},
      {right_column(std::int64_t{12345678901234}, 4), "12345678901234", "%4lld, wider"},
      {right_column("", 3), "   ", "%3s of nothing"},
  };
  for (const auto& [got, want, what] : table) EXPECT_EQ(got, want) << what;
}

// ---- Steady state -----------------------------------------------------------------------

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
  const std::vector<float> taps = load_taps(c.design);
  sine_basis basis;
  ASSERT_TRUE(make_sine_basis(c.frequency, SWEEP_SAMPLES, basis));
  const std::size_t first = taps.size() - 1;
  const std::vector<double> h = as_double(taps);
  const double ideal = magnitude_at(h, c.frequency);
  const std::vector<double> y = run_double_model(taps, basis.sine).value();
  EXPECT_NEAR(fitted_amplitude(basis, y, first), ideal, 1e-12 + 1e-9 * ideal);

  const std::int32_t p = largest_wrap_free_precision(taps);
  const owned_filter f = testing::quantized(taps, p);
  const fixed_run run = run_fixed_model(f.filter, basis.sine).value();
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
    const std::vector<float> taps = load_taps(design);
    band_figures_db figures[2];
    const std::int32_t steps[2] = {1, 200};
    for (int i = 0; i < 2; ++i) {
      science_options o;
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
  ASSERT_TRUE(make_sine_basis(8000, SWEEP_SAMPLES, basis));
  const std::vector<double> y(SWEEP_SAMPLES, 1.0);
  EXPECT_TRUE(std::isnan(fitted_amplitude(basis, y, 0)));
  ASSERT_TRUE(make_sine_basis(1000, SWEEP_SAMPLES, basis));
  EXPECT_TRUE(std::isnan(fitted_amplitude(basis, y, SWEEP_SAMPLES - 2)));
}

// ---- Overflow -----------------------------------------------------------------------------

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
  const std::vector<float> taps = load_taps(GetParam().name);
  const std::int32_t limit = largest_wrap_free_precision(taps);
  ASSERT_GE(limit, 0);
  ASSERT_LT(limit, HIGHEST_PRECISION);
  EXPECT_TRUE(wrap_bound_at(taps, limit).wrap_free);
  EXPECT_GE(wrap_bound_at(taps, limit).headroom_bits, 0.0);
  EXPECT_FALSE(wrap_bound_at(taps, limit + 1).wrap_free);
  EXPECT_LT(wrap_bound_at(taps, limit + 1).headroom_bits, 0.0);
  const owned_filter safe = testing::quantized(taps, limit);
  EXPECT_EQ(run_fixed_model(safe.filter, worst_input(safe)).value().wraps, 0);
  const owned_filter wrapping = testing::quantized(taps, limit + 1);
  EXPECT_GT(run_fixed_model(wrapping.filter, worst_input(wrapping)).value().wraps, 0);
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
    EXPECT_EQ(wrap_free(f.fixed), c.wrap_free);
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
  const std::vector<float> taps = load_taps(c.design);
  const std::int32_t p = largest_wrap_free_precision(taps) + c.above_limit;
  const owned_filter f = testing::quantized(taps, p);
  sine_basis basis;
  ASSERT_TRUE(make_sine_basis(c.frequency, SWEEP_SAMPLES, basis));
  fir_state state;
  ASSERT_TRUE(fir_init(state, f.filter));
  std::vector<std::int32_t> samples;
  std::vector<std::int32_t> accumulators;
  for (double x : basis.sine) {
    accumulators.push_back(fir_step(state, x));
    samples.push_back(quantize_sample(state.scale, x));
  }
  const bool expected = run_fixed_model(f.filter, basis.sine).value().wraps > 0;
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

// ---- Every precision in one sweep --------------------------------------------------------

// One pass over the frequencies for several precisions gives each precision's own sweep:
// fixfir's peaks exactly, the wraps the core makes, and the steady state of its
// coefficients.
TEST(PrecisionSweeps, EachPrecisionIsItsOwnSweep) {
  const std::vector<float> taps = load_taps("remez_bp_95");
  const std::int32_t limit = largest_wrap_free_precision(taps);
  const std::vector<std::int32_t> precisions = {limit - 4, limit, limit + 1, limit + 5};
  constexpr std::int32_t step = 211;
  precision_sweeps sweeps;
  ASSERT_TRUE(sweep_precisions(taps, precisions, step, 2, true, sweeps));
  // Without peaks each run filters only the fit's samples, and judges wraps from the
  // wrap-free precision: the same figures.
  precision_sweeps quick;
  ASSERT_TRUE(sweep_precisions(taps, precisions, step, 2, false, quick));
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
      ASSERT_TRUE(make_sine_basis(frequency, SWEEP_SAMPLES, basis));
      const bool wrapped = run_fixed_model(f.filter, basis.sine).value().wraps > 0;
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

// ---- Where the error comes from -----------------------------------------------------------

class ErrorSplit : public ::testing::TestWithParam<std::int32_t> {};

// With no wraps, the arithmetic error is what the truncation model predicts, and the
// coefficient error is that of the coefficients alone.
TEST_P(ErrorSplit, TruncationModelPredictsTheArithmeticError) {
  const std::vector<float> taps = load_taps("remez_lp_63");
  const owned_filter f = testing::quantized(taps, GetParam());
  const waveform_signal signal = make_waveform_signal({100, 50, 4000}).value();
  const fixed_run fixed = run_fixed_model(f.filter, signal.input).value();
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

// ---- The recommendation -------------------------------------------------------------------

precision_row row(std::int32_t p, double attenuation, double ripple, double snr,
                  std::int64_t waveform_wraps = 0, std::int32_t sweep_wraps = 0) {
  precision_row r;
  r.precision = p;
  r.fixed_attenuation_db = attenuation;
  r.fixed_ripple_db = ripple;
  r.snr_db = snr;
  r.waveform_wraps = waveform_wraps;
  r.sweep_wraps = sweep_wraps;
  return r;
}

// A row of a filter too long for the sweep's run: no fixed-point figures.
precision_row coefficients_only(std::int32_t p, double attenuation, double ripple, double snr) {
  precision_row r = row(p, nan_value, nan_value, snr);
  r.coefficient_attenuation_db = attenuation;
  r.coefficient_ripple_db = ripple;
  r.steady = steady_reach::not_reached;
  return r;
}

struct recommend_case {
  const char* name;
  std::vector<precision_row> rows;
  precision_targets targets;
  std::int32_t expected;
  const char* reason_part;
};

class Recommend : public ::testing::TestWithParam<recommend_case> {};

TEST_P(Recommend, ChoosesTheSmallestThatMeetsEveryTarget) {
  const recommend_case& c = GetParam();
  const recommendation r = recommend_precision(c.rows, c.targets);
  EXPECT_EQ(r.precision, c.expected);
  EXPECT_NE(r.reason.find(c.reason_part), std::string::npos) << r.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, Recommend,
    ::testing::Values(
        recommend_case{"first_that_meets",
                       {row(10, 30, 0.2, 40), row(11, 41, 0.2, 45), row(12, 50, 0.1, 50)},
                       {40.0, 0.3, nan_value},
                       11,
                       "at 10: attenuation 30.00 dB < 40.00 dB"},
        recommend_case{"snr_target",
                       {row(10, 50, 0.1, 40), row(11, 50, 0.1, 45), row(12, 50, 0.1, 50)},
                       {40.0, 0.3, 44.0},
                       11,
                       "SNR 40.00 dB < 44.00 dB"},
        recommend_case{"ripple_target",
                       {row(10, 50, 0.5, 40), row(11, 50, 0.31, 45), row(12, 50, 0.29, 50)},
                       {40.0, 0.3, nan_value},
                       12,
                       "ripple 0.3100 dB > 0.3000 dB"},
        recommend_case{
            "wraps_exclude",
            {row(15, 50, 0.1, 60), row(16, 60, 0.1, 20, 5, 0), row(17, 60, 0.1, 10, 0, 3)},
            {55.0, 0.3, nan_value},
            -1,
            "at 15, the highest without wraps: attenuation 50.00 dB < 55.00 dB"},
        // A figure measured where the accumulator wrapped says so where it is quoted.
        recommend_case{"wrapped_fit_is_named",
                       {[] {
                          precision_row r = row(15, 50, 0.1, 60);
                          r.attenuation_wraps = 2;
                          r.attenuation_frequencies = 90;
                          return r;
                        }(),
                        row(16, 60, 0.1, 20)},
                       {55.0, 0.3, nan_value},
                       16,
                       "attenuation 50.00 dB < 55.00 dB (accumulator wraps at 2 of the 90 "
                       "frequencies measured)"},
        // "No wrap" covers the steady state's fits at band edges and lobe tops too.
        recommend_case{"wrapped_extreme_fit_excludes",
                       {row(15, 50, 0.1, 60),
                        [] {
                          precision_row r = row(16, 60, 0.1, 60);
                          r.attenuation_wraps = 3;
                          r.attenuation_frequencies = 90;
                          return r;
                        }(),
                        row(17, 60, 0.1, 60)},
                       {55.0, 0.3, nan_value},
                       17,
                       "at 16: the steady state at band edges and lobe tops wraps (3 frequencies)"},
        recommend_case{"nan_meets_nothing",
                       {row(10, nan_value, 0.1, 40), row(11, 45, 0.1, 40)},
                       {40.0, 0.3, nan_value},
                       11,
                       "attenuation nan dB"},
        // Without a steady state the coefficients' figures are judged, and the reason says so.
        recommend_case{"steady_state_not_reached",
                       {coefficients_only(10, 30, 0.2, 40), coefficients_only(11, 41, 0.2, 45)},
                       {40.0, 0.3, nan_value},
                       11,
                       "ripple <= 0.3000 dB of the quantized coefficients (the fixed-point steady "
                       "state is not reached), no wrap"},
        // Coefficients that are all 0 have no level to judge: the reason says so in words.
        recommend_case{"silent_row_is_named",
                       {[] {
                          precision_row r = row(12, nan_value, nan_value, 0);
                          r.silent = true;
                          return r;
                        }(),
                        row(13, 45, 0.1, 40)},
                       {40.0, 0.3, nan_value},
                       13,
                       "; at 12: silent (every coefficient is 0)"},
        recommend_case{"everything_wraps",
                       {row(10, 60, 0.1, 40, 1, 0)},
                       {40.0, 0.3, nan_value},
                       -1,
                       "every precision wraps: try --explore"},
        // None: the targets that no precision without wraps reaches are named with the best
        // reached (a wrapped row's figures do not count), and --explore is suggested.
        recommend_case{"none_names_the_unreached_target",
                       {row(14, 52, 0.1, 70), row(15, 50, 0.1, 80), row(16, 60, 0.1, 90, 3, 0)},
                       {55.0, 0.3, 75.0},
                       -1,
                       "; no precision without wraps reaches attenuation >= 55.00 dB (at best "
                       "52.00 dB, at 14): try --explore"},
        recommend_case{"none_names_every_unreached_target",
                       {row(14, 52, 0.5, 70), row(15, 50, 0.4, 80)},
                       {55.0, 0.3, 75.0},
                       -1,
                       "reaches attenuation >= 55.00 dB (at best 52.00 dB, at 14), ripple <= "
                       "0.3000 dB (at best 0.4000 dB, at 15): try --explore"},
        recommend_case{"none_meets_them_together",
                       {row(14, 56, 0.1, 70), row(15, 50, 0.1, 80)},
                       {55.0, 0.3, 75.0},
                       -1,
                       "; each target is reached, but not together: try --explore"}),
    [](const auto& p) { return std::string(p.param.name); });

// The summary's verdict on one precision: met, with the targets judged, or each miss with
// how far it falls short, and wraps as misses.
struct verdict_case {
  const char* name;
  precision_row row;
  precision_targets targets;
  bool saturates;
  const char* line;
  std::vector<std::string> missed;  // the keywords of the misses, in order
};

class Verdict : public ::testing::TestWithParam<verdict_case> {};

TEST_P(Verdict, SaysMetOrWhatMissesByHowMuch) {
  const verdict_case& c = GetParam();
  EXPECT_EQ(target_verdict_line(c.row, c.targets, c.saturates), c.line);
  std::vector<std::string> missed;
  for (const target_miss& m : target_misses(c.row, c.targets, c.saturates)) {
    missed.push_back(m.target);
    if (m.target.ends_with("_db") && !std::isnan(m.by)) {
      EXPECT_GT(m.by, 0.0) << m.text;
    }
  }
  EXPECT_EQ(missed, c.missed);
}

precision_row with_wrapped_fits(precision_row r, std::int32_t wrapped, std::int32_t of) {
  r.attenuation_wraps = r.ripple_wraps = wrapped;
  r.attenuation_frequencies = r.ripple_frequencies = of;
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Verdict,
    ::testing::Values(
        verdict_case{"met",
                     row(15, 52.17, 0.0336, 74.3),
                     {51.25, 0.1333, 60.0},
                     false,
                     "targets: met (attenuation >= 51.25 dB, ripple <= 0.1333 dB, SNR >= 60.00 dB, "
                     "no wrap)",
                     {}},
        verdict_case{"met_exactly_at_each_target",
                     row(15, 50.0, 0.1, 60.0),
                     {50.0, 0.1, 60.0},
                     false,
                     "targets: met (attenuation >= 50.00 dB, ripple <= 0.1000 dB, SNR >= 60.00 dB, "
                     "no wrap)",
                     {}},
        verdict_case{"each_figure_short",
                     row(12, 50.64, 0.2, 57.41),
                     {51.25, 0.1333, 60.0},
                     false,
                     "targets: missed: attenuation 50.64 dB < 51.25 dB (0.61 dB short), ripple "
                     "0.2000 dB > 0.1333 dB (0.0667 dB over), SNR 57.41 dB < 60.00 dB (2.59 dB "
                     "short)",
                     {"min_attenuation_db", "max_ripple_db", "min_snr_db"}},
        verdict_case{"wraps_miss_whatever_the_figures",
                     row(17, 60.0, 0.01, 80.0, 997, 43),
                     {51.25, 0.1333, nan_value},
                     false,
                     "targets: missed: the waveform test wraps (997 samples), the sweep wraps (43 "
                     "frequencies)",
                     {"waveform_wraps", "sweep_wraps"}},
        verdict_case{"wrapped_figure_says_where",
                     with_wrapped_fits(row(17, 34.12, 0.01, 80.0), 2, 89),
                     {51.25, 0.1333, nan_value},
                     false,
                     "targets: missed: the steady state at band edges and lobe tops wraps (2 "
                     "frequencies), attenuation 34.12 dB < 51.25 dB (17.13 dB short; accumulator "
                     "wraps at 2 of the 89 frequencies measured)",
                     {"steady_wraps", "min_attenuation_db"}},
        verdict_case{"a_saturating_accumulator_saturates",
                     with_wrapped_fits(row(17, 46.84, 0.01, 13.21, 598, 0), 30, 89),
                     {51.25, 0.1333, 70.0},
                     true,
                     "targets: missed: the waveform test saturates (598 samples), the steady state "
                     "at band edges and lobe tops saturates (30 frequencies), attenuation 46.84 dB "
                     "< 51.25 dB (4.41 dB short; accumulator saturates at 30 of the 89 frequencies "
                     "measured), SNR 13.21 dB < 70.00 dB (56.79 dB short)",
                     {"waveform_wraps", "steady_wraps", "min_attenuation_db", "min_snr_db"}},
        verdict_case{"nan_figure_misses_without_a_distance",
                     row(40, 52.0, 0.01, nan_value),
                     {51.25, 0.1333, 60.0},
                     false,
                     "targets: missed: SNR nan dB < 60.00 dB",
                     {"min_snr_db"}},
        // Without a steady state the coefficients' figures are judged, and it says so.
        verdict_case{"steady_state_not_reached",
                     coefficients_only(14, 38.0, 0.2, 70.0),
                     {39.0, 0.3, nan_value},
                     false,
                     "targets: missed: attenuation 38.00 dB < 39.00 dB (1.00 dB short)",
                     {"min_attenuation_db"}},
        verdict_case{"steady_state_not_reached_met",
                     coefficients_only(14, 40.0, 0.2, 70.0),
                     {39.0, 0.3, nan_value},
                     false,
                     "targets: met (attenuation >= 39.00 dB, ripple <= 0.3000 dB of the quantized "
                     "coefficients (the fixed-point steady state is not reached), no wrap)",
                     {}}),
    [](const auto& p) { return std::string(p.param.name); });

// A summary at one precision is judged on exactly the figures the scan's row of that
// precision has, so its verdict is the scan's: met exactly where the scan could choose it.
TEST(Verdict, TheSummaryJudgesAsTheScanDoes) {
  const std::vector<float> taps = load_taps("remez_lp_63");
  science_options o;
  o.tones = {100, 50, 4000};
  o.sweep_step = 100;
  o.threads = 2;
  const precision_targets asked{nan_value, nan_value, 60.0};
  scan_report scan;
  ASSERT_TRUE(run_scan(taps, o, asked, scan).ok());
  for (const std::int32_t p : {11, 12, 15, 16, 20}) {
    o.precision = p;
    precision_report r;
    ASSERT_TRUE(run_precision_report(taps, o, r).ok());
    const precision_row mine = report_row(r);
    const precision_row& theirs = scan.rows[static_cast<std::size_t>(p)];
    EXPECT_EQ(mine.waveform_wraps, theirs.waveform_wraps) << p;
    EXPECT_EQ(mine.sweep_wraps, theirs.sweep_wraps) << p;
    EXPECT_EQ(mine.snr_db, theirs.snr_db) << p;
    EXPECT_EQ(mine.fixed_attenuation_db, theirs.fixed_attenuation_db) << p;
    EXPECT_EQ(mine.fixed_ripple_db, theirs.fixed_ripple_db) << p;
    EXPECT_EQ(mine.attenuation_wraps, theirs.attenuation_wraps) << p;
    EXPECT_EQ(mine.attenuation_frequencies, theirs.attenuation_frequencies) << p;
    const std::string line = report_verdict_line(r, asked);
    EXPECT_EQ(line.starts_with("targets: met"), target_misses(theirs, scan.targets).empty())
        << p << ": " << line;
    EXPECT_EQ(line, target_verdict_line(theirs, scan.targets)) << p;
  }
}

struct scan_case {
  const char* design;
  std::int32_t recommended;  // with the default targets
};

class ScanDesign : public ::testing::TestWithParam<scan_case> {};

// The scan over real designs: its own figures at the recommendation meet the targets,
// the precision below does not, and the choice is the expected one.
TEST_P(ScanDesign, RecommendsTheSmallestPrecisionThatKeepsTheDesign) {
  const scan_case& c = GetParam();
  const std::vector<float> taps = load_taps(c.design);
  science_options o;
  o.tones = {100, 50, 4000};
  o.sweep_step = 100;
  o.threads = 2;
  scan_report r;
  const precision_targets defaults{nan_value, nan_value, nan_value};
  const outcome done = run_scan(taps, o, defaults, r);
  ASSERT_TRUE(done.ok()) << done.failure().message;
  ASSERT_EQ(r.rows.size(), 31U);
  EXPECT_NEAR(r.targets.min_attenuation_db, r.taps_figures.worst_attenuation_db - 1.0, 1e-9);
  EXPECT_EQ(r.choice.precision, c.recommended) << r.choice.reason;
  EXPECT_EQ(r.wrap_free_limit, largest_wrap_free_precision(taps));
  for (const precision_row& row : r.rows) {
    EXPECT_EQ(row.wrap_free, row.precision <= r.wrap_free_limit) << row.precision;
    if (row.wrap_free) {
      EXPECT_EQ(row.waveform_wraps, 0) << row.precision;
      EXPECT_EQ(row.sweep_wraps, 0) << row.precision;
    }
  }
  const std::vector<std::string> lines = scan_lines(r);
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[lines.size() - 2],
            "recommended precision: " +
                (c.recommended >= 0 ? std::to_string(c.recommended) : std::string("none")));
  // The lowest precisions quantize every tap to 0: their cells read "silent", not nan, and a
  // line after the table names them.
  for (const std::string& line : lines) EXPECT_EQ(line.find("nan"), std::string::npos) << line;
  std::int32_t silent = 0;
  while (r.rows[static_cast<std::size_t>(silent)].silent) ++silent;
  ASSERT_GT(silent, 0);
  const std::string named = "silent (every coefficient is 0): precision" +
                            (silent == 1 ? " 0" : "s 0 to " + std::to_string(silent - 1));
  EXPECT_NE(std::find(lines.begin(), lines.end(), named), lines.end()) << named;
}

struct targets_case {
  const char* name;
  std::vector<float> taps;
  const char* expected;  // part of the targets line
};

class ScanTargets : public ::testing::TestWithParam<targets_case> {};

// A target the taps cannot give says why instead of printing nan.
TEST_P(ScanTargets, SayWhyATargetIsMissing) {
  const targets_case& c = GetParam();
  science_options o;
  o.tones = {100, 500, 4000};
  o.sweep_step = 1000;
  scan_report r;
  const outcome done = run_scan(c.taps, o, {nan_value, nan_value, nan_value}, r);
  ASSERT_TRUE(done.ok()) << done.failure().message;
  const std::vector<std::string> lines = scan_lines(r);
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[1].find("nan"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find(c.expected), std::string::npos) << lines[1];
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScanTargets,
    ::testing::Values(targets_case{"unit_tap",
                                   {1.0F},
                                   "attenuation (fixed point, steady state) any (no stopband), "
                                   "passband ripple at most 0.1000 dB"},
                      targets_case{"silent",
                                   {0.0F, 0.0F},
                                   "attenuation (fixed point, steady state) any (no passband), "
                                   "passband ripple any (no passband)"}),
    [](const auto& p) { return std::string(p.param.name); });

// A Hamming-windowed low-pass of `count` taps, cut-off 1000 Hz.
std::vector<float> low_pass(std::size_t count) {
  std::vector<float> taps(count);
  const double centre = static_cast<double>(count - 1) / 2.0;
  const double pi = std::numbers::pi;
  for (std::size_t k = 0; k < count; ++k) {
    const double x = (static_cast<double>(k) - centre) / 8.0;
    const double window =
        0.54 - 0.46 * std::cos(2.0 * pi * static_cast<double>(k) / static_cast<double>(count - 1));
    taps[k] = static_cast<float>((x == 0.0 ? 1.0 : std::sin(pi * x) / (pi * x)) * window / 8.0);
  }
  return taps;
}

struct long_scan_case {
  std::size_t taps;
  steady_reach reach;
};

class LongFilterScan : public ::testing::TestWithParam<long_scan_case> {};

// A filter too long for a steady-state fit in the sweep's run: no fixed-point figure, the
// table and the targets say why, and the choice is judged on the quantized coefficients.
TEST_P(LongFilterScan, SaysWhyAndJudgesTheCoefficients) {
  const long_scan_case& c = GetParam();
  const std::vector<float> taps = low_pass(c.taps);
  science_options o;
  o.tones = {100, 300, 1000};
  o.sweep_step = 2000;
  o.threads = 2;
  o.given.passbands = {{0.0, 800.0}};
  o.given.stopbands = {{1500.0, 8000.0}};
  o.given.passbands_given = o.given.stopbands_given = true;
  scan_report r;
  const outcome done = run_scan(taps, o, {40.0, nan_value, nan_value}, r);
  ASSERT_TRUE(done.ok()) << done.failure().message;
  ASSERT_EQ(r.rows.size(), 31U);
  EXPECT_EQ(r.steady_absent, steady_absence(c.taps, SWEEP_SAMPLES));
  for (const precision_row& row : r.rows) {
    EXPECT_EQ(row.steady, c.reach);
    EXPECT_TRUE(std::isnan(row.fixed_attenuation_db) && std::isnan(row.fixed_ripple_db));
  }
  const std::vector<std::string> lines = scan_lines(r);
  EXPECT_NE(lines[1].find("stopband attenuation (quantized coefficients) at least 40.00 dB"),
            std::string::npos)
      << lines[1];
  EXPECT_NE(lines[1].find("; the fixed-point steady state is " + r.steady_absent),
            std::string::npos)
      << lines[1];
  // The table's last row (precision 30): its fixed-point cells say why they are empty.
  EXPECT_NE(lines[37].find(steady_absence_word(c.reach)), std::string::npos) << lines[37];
  EXPECT_EQ(lines[37].find("nan"), std::string::npos) << lines[37];
  ASSERT_GE(r.choice.precision, 0) << r.choice.reason;
  const precision_row& chosen = r.rows[static_cast<std::size_t>(r.choice.precision)];
  EXPECT_GE(chosen.coefficient_attenuation_db, 40.0);
  EXPECT_LT(r.rows[static_cast<std::size_t>(r.choice.precision - 1)].coefficient_attenuation_db,
            40.0);
  EXPECT_NE(r.choice.reason.find("of the quantized coefficients"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(TapCounts, LongFilterScan,
                         ::testing::Values(long_scan_case{3998, steady_reach::too_short},
                                           long_scan_case{4033, steady_reach::not_reached}),
                         [](const auto& p) { return std::to_string(p.param.taps); });

INSTANTIATE_TEST_SUITE_P(Fixtures, ScanDesign,
                         ::testing::Values(scan_case{"kaiser_lp_255", -1},
                                           scan_case{"kaiser_bp_119", -1},
                                           scan_case{"remez_lp_63", 14},
                                           scan_case{"remez_bp_95", 14},
                                           scan_case{"firls_bs_81", 13}),
                         [](const auto& p) { return std::string(p.param.design); });

}  // namespace
}  // namespace fixfir
