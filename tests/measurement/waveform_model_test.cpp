#include "fixfir/measurement/waveform_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/coefficients/quantizer.h"
#include "fixfir/common/conversion.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/reference/fir_reference.h"

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

using testing::owned_filter;

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
  const owned_filter f = testing::quantized(c.taps, c.precision);
  const fixed_run run = run_fixed_model(f.fixed, c.input).value();
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
  const waveform_signal signal = make_waveform_signal(example_tones).value();
  const owned_filter safe = testing::quantized(example_taps, 15);
  const owned_filter wrapping = testing::quantized(example_taps, 18);
  EXPECT_EQ(run_fixed_model(safe.fixed, signal.input).value().wraps, 0);
  const fixed_run run = run_fixed_model(wrapping.fixed, signal.input).value();
  EXPECT_EQ(run.wraps, brute_force_wraps(wrapping.filter, signal.input));
  EXPECT_GT(run.wraps, 0);
}

class SameAsFixfir : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(SameAsFixfir, SignalAndFixedOutputsPrintAsWavesTxt) {
  const owned_filter f = testing::quantized(example_taps, GetParam());
  fir_state state;
  ASSERT_TRUE(fir_init(state, f.filter));
  std::string expected;
  append_waveform_lines(state, example_tones, expected);

  const waveform_signal signal = make_waveform_signal(example_tones).value();
  const fixed_run run = run_fixed_model(f.fixed, signal.input).value();
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

struct signal_case {
  const char* name;
  frequency_settings tones;
  unsigned threads;
};

class WaveformSignal : public ::testing::TestWithParam<signal_case> {};

// The signal is computed on several threads: every sample must be the one the plain
// loop over the accumulated clock gives, to the last bit, for the report's figures.
TEST_P(WaveformSignal, IsTheSequentialLoopBitForBit) {
  const signal_case& c = GetParam();
  const waveform_signal signal = make_waveform_signal(c.tones, c.threads).value();
  const std::int32_t tones = tone_count(c.tones);
  ASSERT_EQ(signal.input.size(), static_cast<std::size_t>(WAVEFORM_SAMPLES));
  double t = 0.0;
  for (std::size_t n = 0; n < signal.input.size(); ++n) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(signal.time[n]), std::bit_cast<std::uint64_t>(t)) << n;
    const double x = multitone_sample(c.tones, tones, t);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(signal.input[n]), std::bit_cast<std::uint64_t>(x)) << n;
    t = t + SAMPLE_INTERVAL;
  }
}

INSTANTIATE_TEST_SUITE_P(ToneSets, WaveformSignal,
                         ::testing::Values(signal_case{"example_one_thread", example_tones, 1},
                                           signal_case{"example_three_threads", example_tones, 3},
                                           signal_case{
                                               "every_hertz_100_to_1000", {100, 1, 1000}, 2},
                                           signal_case{"falling_tones", {3000, -70, 50}, 2},
                                           signal_case{"no_tones", {500, 10, 100}, 2}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WrapCount, SumsBeyondSixtyFourBitsStillCount) {
  // Four products of (-2^31)·(-2^31) = 2^62 sum to 2^64, whose low 64 bits, like its low
  // 32 bits, are 0: a 64-bit sum would call the fourth sample unwrapped.
  const owned_filter f = testing::quantized(std::vector<float>(4, -2.0F), 30);
  ASSERT_EQ(f.fixed.coefficients, std::vector<std::int32_t>(4, INT32_MIN));
  const std::vector<double> x(6, -2.0);  // quantizes to -2^31
  EXPECT_EQ(run_fixed_model(f.fixed, x).value().wraps, 6);
}

TEST(WrapCount, DegenerateFilters) {
  const std::vector<double> x = sine(100.0, 50);
  // No taps: every output 0, nothing wraps.
  const fixed_run empty = run_fixed_model(testing::quantized({}, 10).fixed, x).value();
  EXPECT_EQ(empty.wraps, 0);
  for (double y : empty.output) EXPECT_EQ(y, 0.0);

  const owned_filter zero_scale = testing::quantized({0.5F, 0.5F}, 40);
  const fixed_run nan_run = run_fixed_model(zero_scale.fixed, x).value();
  EXPECT_EQ(nan_run.wraps, 0);
  for (double y : nan_run.output) EXPECT_TRUE(std::isnan(y));
}

// ---- Double model and ideal response ----------------------------------------------------

TEST(DoubleModel, ImpulseGivesTheTapsAndStartsFromRest) {
  for (const std::vector<float>& taps :
       {std::vector<float>{1.0F}, std::vector<float>{0.5F, -0.25F, 0.125F}, example_taps}) {
    std::vector<double> impulse(taps.size() + 5, 0.0);
    impulse[2] = 1.0;
    const std::vector<double> y = run_double_model(taps, impulse).value();
    ASSERT_EQ(y.size(), impulse.size());
    EXPECT_EQ(y[0], 0.0);
    EXPECT_EQ(y[1], 0.0);
    for (std::size_t j = 0; j < taps.size(); ++j) EXPECT_EQ(y[j + 2], taps[j]) << j;
    EXPECT_EQ(y.back(), 0.0);
  }
  EXPECT_EQ(run_double_model({}, std::vector<double>{1.0, 2.0}).value(),
            (std::vector<double>{0.0, 0.0}));
}

// ---- SNR and tap error ------------------------------------------------------------------

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

class UnitTapSnr : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(UnitTapSnr, IsSetByTheQuantizationStep) {
  // y = trunc(2^p · x) / 2^p: an error of uniform magnitude below q = 2^-p, so a noise
  // power of q²/3, against a signal power of 79 · (1/79)² / 2. (At coarser steps the
  // error is no longer uniform.)
  const std::int32_t p = GetParam();
  const waveform_signal signal = make_waveform_signal(example_tones).value();
  const owned_filter f = testing::quantized({1.0F}, p);
  const double snr = snr_db(run_double_model(std::vector<float>{1.0F}, signal.input).value(),
                            run_fixed_model(f.fixed, signal.input).value().output);
  const double q = std::ldexp(1.0, -p);
  const double expected = 10 * std::log10((1.0 / 158) / (q * q / 3));
  EXPECT_NEAR(snr, expected, 0.5) << "precision " << p;
}

INSTANTIATE_TEST_SUITE_P(Precisions, UnitTapSnr, ::testing::Values(10, 12, 14, 15));

TEST(Snr, HighPrecisionIdentityIsFarAboveAWrappingOne) {
  const waveform_signal signal = make_waveform_signal(example_tones).value();
  const std::vector<double> reference =
      run_double_model(std::vector<float>{1.0F}, signal.input).value();
  const double safe =
      snr_db(reference,
             run_fixed_model(testing::quantized({1.0F}, 15).fixed, signal.input).value().output);
  const double wrapping =
      snr_db(reference,
             run_fixed_model(testing::quantized({1.0F}, 16).fixed, signal.input).value().output);
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
  EXPECT_NEAR(largest_tap_error(taps, testing::quantized(taps, 0).fixed), 0.9, 1e-6);
  const double example =
      largest_tap_error(example_taps, testing::quantized(example_taps, 15).fixed);
  EXPECT_GT(example, 0.0);
  EXPECT_LT(example, 1.0 / 32768);
  EXPECT_EQ(largest_tap_error(std::vector<float>{0.5F, -0.25F},
                              testing::quantized({0.5F, -0.25F}, 3).fixed),
            0.0);
  EXPECT_EQ(largest_tap_error({}, testing::quantized({}, 15).fixed), 0.0);
}
}  // namespace
}  // namespace fixfir
