#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "conversion.h"
#include "fir_reference.h"
#include "multitone_waveform.h"
#include "quantizer.h"
#include "report_app.h"
#include "report_model.h"
#include "report_options.h"
#include "report_plot.h"
#include "text_format.h"

namespace fixfir {
namespace {

// The 63-tap low-pass of examples/taps.txt, symmetric about tap 31.
const std::vector<float> example_taps = {
    -0.000581892F, -0.000875436F, -0.000695236F, 0.0F,          0.000979426F,  0.001690077F,
    0.001465178F,  -0.0F,         -0.002186942F, -0.003745856F, -0.003185501F, 0.0F,
    0.004512503F,  0.007523820F,  0.006238494F,  -0.0F,         -0.008467617F, -0.013886288F,
    -0.011366080F, 0.0F,          0.015221769F,  0.024978705F,  0.020583309F,  -0.0F,
    -0.028637266F, -0.048764956F, -0.042489990F, 0.0F,          0.073575406F,  0.157939226F,
    0.224950830F,  0.250448637F,  0.224950830F,  0.157939226F,  0.073575406F,  0.0F,
    -0.042489990F, -0.048764956F, -0.028637266F, -0.0F,         0.020583309F,  0.024978705F,
    0.015221769F,  0.0F,          -0.011366080F, -0.013886288F, -0.008467617F, -0.0F,
    0.006238494F,  0.007523820F,  0.004512503F,  0.0F,          -0.003185501F, -0.003745856F,
    -0.002186942F, -0.0F,         0.001465178F,  0.001690077F,  0.000979426F,  0.0F,
    -0.000695236F, -0.000875436F, -0.000581892F};

const frequency_settings example_tones{100, 50, 4000};  // 79 tones

// A quantized filter that owns its coefficients.
struct owned_filter {
  std::vector<std::int32_t> coefficients;
  quantized_filter filter;
};

owned_filter quantize(const std::vector<float>& taps, std::int32_t precision) {
  owned_filter f;
  f.coefficients.resize(taps.size());
  f.filter.count = static_cast<std::int32_t>(taps.size());
  f.filter.coefficients = f.coefficients.data();
  f.filter.scale = quantize_taps(precision, f.filter.count, taps.data(), f.coefficients.data());
  return f;
}

std::vector<double> sine(double frequency, std::size_t n, double amplitude = 1.0) {
  std::vector<double> x(n);
  double t = 0.0;
  for (double& v : x) {
    v = amplitude * std::sin((frequency * t) * TWO_PI);
    t += SAMPLE_INTERVAL;
  }
  return x;
}

// ---- Accumulator wraps ------------------------------------------------------------------

struct wrap_case {
  const char* name;
  std::vector<float> taps;
  std::int32_t precision;
  std::vector<double> input;
  bool expect_wraps;
};

// Brute force: the exact sum recomputed from scratch for every sample, in 64 bits (the
// cases keep it within range), and compared with the 32-bit range.
std::int64_t brute_force_wraps(const quantized_filter& f, const std::vector<double>& x) {
  const double scale = static_cast<double>(f.scale);
  std::int64_t wraps = 0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    std::int64_t exact = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(f.count) && j <= n; ++j) {
      exact += std::int64_t{f.coefficients[j]} * quantize_sample(scale, x[n - j]);
    }
    if (exact < INT32_MIN || exact > INT32_MAX) ++wraps;
  }
  return wraps;
}

class WrapCount : public ::testing::TestWithParam<wrap_case> {};

TEST_P(WrapCount, MatchesBruteForceAndFixfirOutputs) {
  const wrap_case& c = GetParam();
  const owned_filter f = quantize(c.taps, c.precision);
  const fixed_run run = run_fixed_model(f.filter, c.input);
  const std::int64_t expected = brute_force_wraps(f.filter, c.input);
  EXPECT_EQ(run.wraps, expected);
  if (c.expect_wraps) {
    EXPECT_GT(expected, static_cast<std::int64_t>(c.input.size() / 10));
  } else {
    EXPECT_EQ(expected, 0);
  }
  // The outputs are those of the core, wrap and all.
  fir_state state;
  ASSERT_TRUE(fir_init(state, f.filter));
  ASSERT_EQ(run.output.size(), c.input.size());
  for (std::size_t n = 0; n < c.input.size(); ++n) {
    ASSERT_EQ(run.output[n], fir_output(state.scale, fir_step(state, c.input[n]))) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    SmallFilters, WrapCount,
    ::testing::Values(
        // c · s stays below 2^31 for |x| ≤ 1 at precision 15.
        wrap_case{"unit_tap_safe", {1.0F}, 15, sine(440.0, 2000), false},
        // At 16 the product of a sample of 0.5 or more reaches 2^31.
        wrap_case{"unit_tap_overflowing", {1.0F}, 16, sine(440.0, 2000), true},
        wrap_case{"three_halves_overflowing", {0.5F, 0.5F, 0.5F}, 16, sine(300.0, 2000), true},
        wrap_case{"negative_taps_safe", {-0.5F, 0.25F, -0.125F}, 14, sine(1000.0, 2000), false},
        wrap_case{"example_safe", example_taps, 15, sine(500.0, 2000), false},
        wrap_case{"example_overflowing", example_taps, 20, sine(500.0, 2000), true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WrapCount, ExampleWaveformTestAtSafeAndOverflowingPrecisions) {
  const waveform_signal signal = make_waveform_signal(example_tones);
  const owned_filter safe = quantize(example_taps, 15);
  const owned_filter wrapping = quantize(example_taps, 18);
  EXPECT_EQ(run_fixed_model(safe.filter, signal.input).wraps, 0);
  const fixed_run run = run_fixed_model(wrapping.filter, signal.input);
  EXPECT_EQ(run.wraps, brute_force_wraps(wrapping.filter, signal.input));
  EXPECT_GT(run.wraps, 0);
}

class SameAsFixfir : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(SameAsFixfir, SignalAndFixedOutputsPrintAsWavesTxt) {
  const owned_filter f = quantize(example_taps, GetParam());
  fir_state state;
  ASSERT_TRUE(fir_init(state, f.filter));
  std::string expected;
  append_waveform_lines(state, example_tones, expected);

  const waveform_signal signal = make_waveform_signal(example_tones);
  const fixed_run run = run_fixed_model(f.filter, signal.input);
  std::string actual;
  for (std::size_t n = 0; n < signal.time.size(); ++n) {
    append_fixed6(actual, signal.time[n]);
    actual += '\t';
    append_fixed6(actual, signal.input[n]);
    actual += '\t';
    append_fixed6(actual, run.output[n]);
    actual += '\n';
  }
  EXPECT_TRUE(actual == expected);  // 32000 lines: no diff printed
}

INSTANTIATE_TEST_SUITE_P(SafeAndWrapping, SameAsFixfir, ::testing::Values(15, 18));

TEST(WrapCount, SumsBeyondSixtyFourBitsStillCount) {
  // Four products of (-2^31)·(-2^31) = 2^62 sum to 2^64, whose low 64 bits, like its low
  // 32 bits, are 0: a 64-bit sum would call the fourth sample unwrapped.
  const std::vector<std::int32_t> c(4, INT32_MIN);
  quantized_filter f;
  f.scale = 1 << 30;
  f.count = 4;
  f.coefficients = c.data();
  const std::vector<double> x(6, -2.0);  // quantizes to -2^31
  EXPECT_EQ(run_fixed_model(f, x).wraps, 6);
}

TEST(WrapCount, DegenerateFilters) {
  const std::vector<double> x = sine(100.0, 50);
  quantized_filter none;  // no taps: every output 0, nothing wraps
  none.scale = 1024;
  const fixed_run empty = run_fixed_model(none, x);
  EXPECT_EQ(empty.wraps, 0);
  for (double y : empty.output) EXPECT_EQ(y, 0.0);

  const owned_filter zero_scale = quantize({0.5F, 0.5F}, 40);
  const fixed_run nan_run = run_fixed_model(zero_scale.filter, x);
  EXPECT_EQ(nan_run.wraps, 0);
  for (double y : nan_run.output) EXPECT_TRUE(std::isnan(y));
}

// ---- Double model and ideal response ----------------------------------------------------

TEST(DoubleModel, ImpulseGivesTheTapsAndStartsFromRest) {
  for (const std::vector<float>& taps :
       {std::vector<float>{1.0F}, std::vector<float>{0.5F, -0.25F, 0.125F}, example_taps}) {
    std::vector<double> impulse(taps.size() + 5, 0.0);
    impulse[2] = 1.0;
    const std::vector<double> y = run_double_model(taps, impulse);
    ASSERT_EQ(y.size(), impulse.size());
    EXPECT_EQ(y[0], 0.0);
    EXPECT_EQ(y[1], 0.0);
    for (std::size_t j = 0; j < taps.size(); ++j) EXPECT_EQ(y[j + 2], taps[j]) << j;
    EXPECT_EQ(y.back(), 0.0);
  }
  EXPECT_EQ(run_double_model({}, std::vector<double>{1.0, 2.0}), (std::vector<double>{0.0, 0.0}));
}

class IdealMagnitude : public ::testing::TestWithParam<double> {};

TEST_P(IdealMagnitude, MatchesClosedForms) {
  const double f = GetParam();
  const double w = TWO_PI * f * SAMPLE_INTERVAL;
  EXPECT_NEAR(ideal_magnitude(std::vector<float>{1.0F}, f), 1.0, 1e-12);
  // Two-tap average: |cos(ω/2)|.
  EXPECT_NEAR(ideal_magnitude(std::vector<float>{0.5F, 0.5F}, f), std::fabs(std::cos(w / 2)),
              1e-12);
  // First difference: 2 |sin(ω/2)|.
  EXPECT_NEAR(ideal_magnitude(std::vector<float>{1.0F, -1.0F}, f), 2 * std::fabs(std::sin(w / 2)),
              1e-12);
}

INSTANTIATE_TEST_SUITE_P(Frequencies, IdealMagnitude,
                         ::testing::Values(0.0, 4.0, 1000.0, 2666.0, 4000.0, 7999.0, 8000.0));

TEST(DoubleSweep, PassbandPeakMeetsTheIdealAndStopbandPeakShowsTheTransient) {
  // A unit sine well inside the pass band reaches the steady-state gain, give or take a
  // little overshoot at the start.
  EXPECT_NEAR(double_sweep_peak(example_taps, 500), ideal_magnitude(example_taps, 500.0), 1e-2);
  // Deep in the stop band the start-up transient stands far above the steady state.
  EXPECT_GT(double_sweep_peak(example_taps, 4000), 100 * ideal_magnitude(example_taps, 4000.0));
  EXPECT_EQ(double_sweep_peak({}, 1000), 0.0);
}

// ---- Sweep ------------------------------------------------------------------------------

TEST(Sweep, ThreadsDoNotChangeTheResult) {
  const owned_filter f = quantize(example_taps, 15);
  const std::vector<sweep_point> one = measure_response(f.filter, example_taps, 97, 1);
  for (unsigned threads : {2U, 3U, 200U}) {
    const std::vector<sweep_point> many = measure_response(f.filter, example_taps, 97, threads);
    ASSERT_EQ(many.size(), one.size());
    for (std::size_t i = 0; i < one.size(); ++i) {
      EXPECT_EQ(many[i].frequency, 4 + 97 * static_cast<std::int32_t>(i));
      EXPECT_EQ(many[i].frequency, one[i].frequency);
      EXPECT_EQ(many[i].fixed_peak, one[i].fixed_peak);
      EXPECT_EQ(many[i].double_peak, one[i].double_peak);
      EXPECT_EQ(many[i].ideal, one[i].ideal);
    }
  }
}

TEST(Sweep, UnitTapIsFlatWithTruncationBelowTheDoublePeak) {
  const owned_filter f = quantize({1.0F}, 15);
  const std::vector<sweep_point> sweep = measure_response(f.filter, std::vector<float>{1.0F}, 10);
  ASSERT_EQ(sweep.size(), 800U);
  for (const sweep_point& p : sweep) {
    EXPECT_NEAR(p.ideal, 1.0, 1e-12);
    EXPECT_LE(p.fixed_peak, p.double_peak);
    EXPECT_GT(p.fixed_peak, p.double_peak - 1.0 / 32768);
  }
  const band_figures b = measure_bands(sweep);
  EXPECT_EQ(b.passband_count, 800);
  EXPECT_EQ(b.stopband_count, 0);
  EXPECT_LT(b.ripple_db, 0.01);
  EXPECT_GE(b.ripple_db, 0.0);
}

TEST(Sweep, ExampleStopbandIsSetByTheStartUpTransientNotByQuantization) {
  const owned_filter f = quantize(example_taps, 15);
  const std::vector<sweep_point> sweep = measure_response(f.filter, example_taps, 50, 2);
  const band_figures fixed = measure_bands(sweep);
  const band_figures reference = measure_bands(sweep, &sweep_point::double_peak);
  const band_figures ideal = measure_bands(sweep, &sweep_point::ideal);
  // The bands come from the ideal response whatever the series.
  EXPECT_EQ(fixed.passband_count, ideal.passband_count);
  EXPECT_EQ(reference.stopband_first, ideal.stopband_first);
  EXPECT_GE(ideal.attenuation_db, 40.0);
  EXPECT_LT(fixed.attenuation_db, 20.0);
  EXPECT_NEAR(fixed.attenuation_db, reference.attenuation_db, 0.1);
  EXPECT_LT(ideal.ripple_db, 1.0);
}

// ---- Band figures -----------------------------------------------------------------------

struct band_case {
  const char* name;
  std::vector<sweep_point> sweep;  // frequency, fixed, double, ideal
  std::int32_t passband_count;
  double ripple_db;
  std::int32_t stopband_count;
  double attenuation_db;  // NaN: no stopband
};

class Bands : public ::testing::TestWithParam<band_case> {};

void expect_same(double actual, double expected) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << actual;
  } else if (std::isinf(expected)) {
    EXPECT_EQ(actual, expected);
  } else {
    EXPECT_NEAR(actual, expected, 1e-9);
  }
}

TEST_P(Bands, Figures) {
  const band_case& c = GetParam();
  const band_figures b = measure_bands(c.sweep);
  EXPECT_EQ(b.passband_count, c.passband_count);
  EXPECT_EQ(b.stopband_count, c.stopband_count);
  expect_same(b.ripple_db, c.ripple_db);
  expect_same(b.attenuation_db, c.attenuation_db);
}

const double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Tables, Bands,
    ::testing::Values(
        band_case{"low_pass",
                  {{4, 1.0, 1.0, 1.0},
                   {100, 0.9, 0.9, 0.95},    // within 1 dB of the ideal maximum
                   {200, 0.5, 0.5, 0.5},     // transition: neither band
                   {300, 0.01, 0.01, 0.01},  // exactly 40 dB down: stop band
                   {400, 0.001, 0.002, 0.0001}},
                  2,
                  20 * std::log10(1.0 / 0.9),
                  2,
                  40.0},
        // The measured levels, not the ideal ones, set the figures.
        band_case{"gain_above_one",
                  {{4, 2.0, 2.0, 0.5}, {100, 4.0, 4.0, 0.5}, {200, 0.4, 0.4, 0.001}},
                  2,
                  20 * std::log10(2.0),
                  1,
                  20.0},
        band_case{"flat_no_stopband", {{4, 1.0, 1.0, 1.0}, {14, 1.0, 1.0, 1.0}}, 2, 0.0, 0, nan},
        // 8000 Hz is sampled at the sine's zero crossings; it would make the ripple infinite.
        band_case{"nyquist_left_out",
                  {{4, 1.0, 1.0, 1.0}, {4000, 0.5, 0.5, 1.0}, {8000, 0.0, 0.0, 1.0}},
                  2,
                  20 * std::log10(2.0),
                  0,
                  nan},
        band_case{"silent_stopband",
                  {{4, 1.0, 1.0, 1.0}, {200, 0.0, 0.0, 0.001}},
                  1,
                  0.0,
                  1,
                  std::numeric_limits<double>::infinity()},
        band_case{"all_zero_taps", {{4, 0.0, 0.0, 0.0}, {14, 0.0, 0.0, 0.0}}, 0, nan, 0, nan},
        band_case{"zero_scale", {{4, nan, 1.0, 1.0}, {14, nan, 0.0, 0.001}}, 1, nan, 1, nan},
        band_case{"empty", {}, 0, nan, 0, nan}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- SNR and tap error ------------------------------------------------------------------

class UnitTapSnr : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(UnitTapSnr, IsSetByTheQuantizationStep) {
  // y = trunc(2^p · x) / 2^p: an error of uniform magnitude below q = 2^-p, so a noise
  // power of q²/3, against a signal power of 79 · (1/79)² / 2. (At coarser steps the
  // error is no longer uniform.)
  const std::int32_t p = GetParam();
  const waveform_signal signal = make_waveform_signal(example_tones);
  const owned_filter f = quantize({1.0F}, p);
  const double snr = snr_db(run_double_model(std::vector<float>{1.0F}, signal.input),
                            run_fixed_model(f.filter, signal.input).output);
  const double q = std::ldexp(1.0, -p);
  const double expected = 10 * std::log10((1.0 / 158) / (q * q / 3));
  EXPECT_NEAR(snr, expected, 0.5) << "precision " << p;
}

INSTANTIATE_TEST_SUITE_P(Precisions, UnitTapSnr, ::testing::Values(10, 12, 14, 15));

TEST(Snr, HighPrecisionIdentityIsFarAboveAWrappingOne) {
  const waveform_signal signal = make_waveform_signal(example_tones);
  const std::vector<double> reference = run_double_model(std::vector<float>{1.0F}, signal.input);
  const double safe =
      snr_db(reference, run_fixed_model(quantize({1.0F}, 15).filter, signal.input).output);
  const double wrapping =
      snr_db(reference, run_fixed_model(quantize({1.0F}, 16).filter, signal.input).output);
  EXPECT_GT(safe, 70.0);
  EXPECT_LT(wrapping, 20.0);
}

TEST(Snr, EdgeValues) {
  const std::vector<double> a{0.5, -0.25, 1.0};
  EXPECT_EQ(snr_db(a, a), std::numeric_limits<double>::infinity());
  EXPECT_NEAR(snr_db(a, std::vector<double>{0.5, -0.25, 1.1}), 10 * std::log10(1.3125 / 0.01),
              1e-9);
  EXPECT_TRUE(std::isnan(snr_db(std::vector<double>{0.0, 0.0}, std::vector<double>{0.0, 0.0})));
  EXPECT_TRUE(std::isnan(snr_db(a, std::vector<double>{0.5, nan, 1.0})));
}

TEST(TapError, KnownCases) {
  // Precision 0 truncates 0.9 → 0, -1.7 → -1, 3.0 → 3.
  const std::vector<float> taps{0.9F, -1.7F, 3.0F};
  EXPECT_NEAR(largest_tap_error(taps, quantize(taps, 0).filter), 0.9, 1e-6);
  const double example = largest_tap_error(example_taps, quantize(example_taps, 15).filter);
  EXPECT_GT(example, 0.0);
  EXPECT_LT(example, 1.0 / 32768);
  EXPECT_EQ(largest_tap_error(std::vector<float>{0.5F, -0.25F}, quantize({0.5F, -0.25F}, 3).filter),
            0.0);
  EXPECT_TRUE(std::isnan(largest_tap_error(taps, quantize(taps, 40).filter)));
  EXPECT_EQ(largest_tap_error({}, quantized_filter{}), 0.0);
}

// ---- Options ----------------------------------------------------------------------------

struct option_case {
  std::vector<const char*> args;
  const char* message;  // expected part of the error message
};

class BadOptions : public ::testing::TestWithParam<option_case> {};

TEST_P(BadOptions, AreRefusedWithAMessage) {
  const option_case& c = GetParam();
  report_options o;
  std::string message;
  EXPECT_EQ(parse_report_options(c.args, o, message), option_result::error);
  EXPECT_NE(message.find(c.message), std::string::npos) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos);
}

#define BASE "--precision", "15", "--initial", "100", "--ending", "4000"

INSTANTIATE_TEST_SUITE_P(
    Table, BadOptions,
    ::testing::Values(
        option_case{{}, "missing --precision"},
        option_case{{"--precision", "15", "--step", "50", "--ending", "4000"}, "missing --initial"},
        option_case{{BASE}, "missing --step"},
        option_case{{BASE, "--step"}, "--step needs a value"},
        option_case{{BASE, "--step", "fifty"}, "'fifty' is not a whole number"},
        option_case{{BASE, "--step=5.5"}, "'5.5' is not a whole number"},
        option_case{{BASE, "--step="}, "'' is not a whole number"},
        option_case{{BASE, "--step", "+-5"}, "not a whole number"},
        option_case{{BASE, "--step", "3000000000"}, "out of range"},
        option_case{{BASE, "--step", "0"}, "--step must not be 0"},
        option_case{{BASE, "--step", "-50"}, "give --sweep-step"},
        option_case{{BASE, "--step", "50", "--sweep-step", "0"}, "at least 1"},
        option_case{{BASE, "--step", "50", "--frobnicate"}, "unknown option '--frobnicate'"},
        option_case{{BASE, "--step", "50", "extra"}, "unexpected argument 'extra'"},
        option_case{{BASE, "--step", "50", "--dir="}, "--dir needs a folder"},
        option_case{{"--help=yes"}, "takes no value"}));

TEST(Options, AcceptBothFormsAndDefaultTheSweepStep) {
  const std::vector<const char*> args{"--precision=15", "--initial", "-100",  "--step=+50",
                                      "--ending",       "4000",      "--dir", "some dir"};
  report_options o;
  std::string message;
  ASSERT_EQ(parse_report_options(args, o, message), option_result::run) << message;
  EXPECT_EQ(o.precision, 15);
  EXPECT_EQ(o.frequencies.initial_frequency, -100);
  EXPECT_EQ(o.frequencies.frequency_step, 50);
  EXPECT_EQ(o.frequencies.ending_frequency, 4000);
  EXPECT_EQ(o.sweep_step, 50);
  EXPECT_EQ(o.dir, "some dir");

  const std::vector<const char*> descending{"--precision",  "15",   "--initial", "1000",
                                            "--step",       "-100", "--ending",  "100",
                                            "--sweep-step", "10"};
  ASSERT_EQ(parse_report_options(descending, o, message), option_result::run) << message;
  EXPECT_EQ(o.frequencies.frequency_step, -100);
  EXPECT_EQ(o.sweep_step, 10);
  EXPECT_EQ(o.dir, ".");

  const std::vector<const char*> help{"--precision", "x", "--help"};
  EXPECT_EQ(parse_report_options(help, o, message), option_result::help);
}

// ---- Tap text ---------------------------------------------------------------------------

struct tap_text_case {
  const char* text;
  const char* problem;  // "" when usable
};

class TapText : public ::testing::TestWithParam<tap_text_case> {};

TEST_P(TapText, Problems) {
  const tap_text_case& c = GetParam();
  EXPECT_EQ(tap_text_problem(c.text), c.problem);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TapText,
    ::testing::Values(tap_text_case{"3\n0.5 0.25 0.125\n", ""},
                      tap_text_case{"3\n0.5 0.25 0.125", ""},
                      tap_text_case{"0x2 1 -2e-3 anything after", ""},
                      tap_text_case{"", "no tap count at the start"},
                      tap_text_case{"taps: 3", "no tap count at the start"},
                      tap_text_case{"0\n", "the tap count is 0, not at least 1"},
                      tap_text_case{"-4 1 2 3 4", "the tap count is -4, not at least 1"},
                      tap_text_case{"5\n1 2 3\n", "tap 4 of 5 is missing or not a number"},
                      tap_text_case{"3 1 x 2", "tap 2 of 3 is missing or not a number"},
                      tap_text_case{"2 1 nan", "tap 2 of 2 is missing or not a number"}));

// ---- Plot helpers -----------------------------------------------------------------------

TEST(Plot, QuotingAndRanges) {
  EXPECT_EQ(gnuplot_quote("a dir/it's"), "'a dir/it''s'");
  // Every range is explicit, so gnuplot never autoscales a plot of undefined points.
  const std::vector<sweep_point> silent{{4, nan, nan, 0.0}, {14, nan, nan, 0.0}};
  const std::string script = response_script(silent, 40, "/x/response.png");
  EXPECT_NE(script.find("set yrange [-"), std::string::npos);
  EXPECT_NE(script.find("4 NaN NaN NaN\n"), std::string::npos);
  EXPECT_NE(script.find("set output '/x/response.png'"), std::string::npos);
}

}  // namespace
}  // namespace fixfir
