#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/coefficients/quantizer.h"
#include "fixfir/common/conversion.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/reference/fir_reference.h"

namespace fixfir {
namespace {

struct tone_case {
  std::int32_t initial, step, ending, tones;
};

class ToneCount : public ::testing::TestWithParam<tone_case> {};

TEST_P(ToneCount, DividesTheSpanInWrappingArithmetic) {
  const auto& c = GetParam();
  EXPECT_EQ(tone_count(frequency_settings{c.initial, c.step, c.ending}), c.tones);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToneCount,
    ::testing::Values(tone_case{100, 100, 1000, 10}, tone_case{0, 100, 250, 3},
                      tone_case{100, 10, 95, 1},  // -5 ÷ 10 truncates to 0
                      tone_case{100, 10, 90, 0}, tone_case{100, 10, 0, -9},
                      tone_case{1000, -100, 100, 10},
                      // Spans that leave the 32-bit range wrap instead of trapping.
                      tone_case{0, 1, INT32_MAX, INT32_MIN},
                      tone_case{INT32_MIN, -1, 0, INT32_MIN + 1},
                      tone_case{INT32_MAX, 1, INT32_MIN, 2}));

TEST(MultitoneSample, SumsTonesInRisingOrder) {
  const frequency_settings s{100, 100, 1000};
  EXPECT_EQ(multitone_sample(s, 10, 0.0), 0.0);
  const double t = 0.0123;
  double expected = 0.0;
  double f = 100.0;
  for (int k = 0; k < 10; ++k, f += 100.0) expected += std::sin((f * t) * TWO_PI) / 10.0;
  EXPECT_EQ(multitone_sample(s, 10, t), expected);
  EXPECT_EQ(multitone_sample(s, 0, t), 0.0);
  EXPECT_EQ(multitone_sample(s, -3, t), 0.0);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string waveform_text(const testing::owned_filter& h, const frequency_settings& s) {
  fir_state state;
  EXPECT_TRUE(fir_init(state, h.filter));
  std::string text;
  append_waveform_lines(state, s, text);
  return text;
}

TEST(WaveformLines, ClockAccumulatesByAddition) {
  const testing::owned_filter h = testing::quantized({1.0f}, 15);
  const auto lines = lines_of(waveform_text(h, {100, 100, 1000}));
  ASSERT_EQ(lines.size(), 32000u);
  EXPECT_EQ(lines[0], "0.000000\t0.000000\t0.000000");
  EXPECT_EQ(lines[11].substr(0, 9), "0.000688\t");  // 11 × interval would read 0.000687
  EXPECT_EQ(lines[18805].substr(0, 9), "1.175313\t");
  EXPECT_EQ(lines[31999].substr(0, 9), "1.999938\t");
}

TEST(WaveformLines, UnitTapTruncatesInputToScaleSteps) {
  const testing::owned_filter h = testing::quantized({1.0f}, 15);
  const frequency_settings s{50, 300, 7000};
  const auto lines = lines_of(waveform_text(h, s));
  const std::int32_t tones = tone_count(s);
  double t = 0.0;
  for (std::size_t n = 0; n < lines.size(); ++n, t += SAMPLE_INTERVAL) {
    const double x = multitone_sample(s, tones, t);
    // An integer multiple of 1/32768: a truncated tiny negative is +0.
    const double y = static_cast<double>(real_to_int32(32768.0 * x)) / 32768.0;
    const std::string expected =
        format_fixed6(t) + "\t" + format_fixed6(x) + "\t" + format_fixed6(y);
    ASSERT_EQ(lines[n], expected) << n;
  }
}

TEST(WaveformLines, NoTonesOrNoTapsGiveZeroOutput) {
  const testing::owned_filter descending = testing::quantized({0.5f, 0.5f}, 15);
  for (const auto& line : lines_of(waveform_text(descending, {1000, 100, 100}))) {
    ASSERT_EQ(line.substr(8), "\t0.000000\t0.000000");
  }
  const testing::owned_filter none = testing::quantized({}, 15);
  for (const auto& line : lines_of(waveform_text(none, {100, 100, 1000}))) {
    ASSERT_EQ(line.substr(line.size() - 9), "\t0.000000");
  }
  const testing::owned_filter zero_scale = testing::quantized({0.5f}, 40);  // 0 ÷ 0
  EXPECT_EQ(lines_of(waveform_text(zero_scale, {100, 100, 1000}))[5].substr(18), "nan");
}

struct sweep_count_case {
  std::int32_t step, frequencies;
};

class SweepFrequencyCount : public ::testing::TestWithParam<sweep_count_case> {};

TEST_P(SweepFrequencyCount, CoversFourTo8000) {
  EXPECT_EQ(sweep_frequency_count(GetParam().step), GetParam().frequencies);
}

INSTANTIATE_TEST_SUITE_P(Table, SweepFrequencyCount,
                         ::testing::Values(sweep_count_case{1, 7997}, sweep_count_case{4, 2000},
                                           sweep_count_case{10, 800}, sweep_count_case{7996, 2},
                                           sweep_count_case{7997, 1}, sweep_count_case{8000, 1},
                                           sweep_count_case{INT32_MAX, 1}));

TEST(SweepPeak, UnitTapPeakIsLargestQuantizedSample) {
  const testing::owned_filter h = testing::quantized({1.0f}, 15);
  fir_state state;
  ASSERT_TRUE(fir_init(state, h.filter));
  for (std::int32_t d : {4, 1000, 4000, 7777, 8000}) {
    std::int32_t largest = 0;
    double t = 0.0;
    for (int n = 0; n < SWEEP_SAMPLES; ++n, t += SAMPLE_INTERVAL) {
      const std::int32_t s = real_to_int32(32768.0 * std::sin((d * t) * TWO_PI));
      largest = std::max(largest, std::abs(s));
    }
    const std::int32_t peak = sweep_peak(state, d);
    EXPECT_EQ(peak, largest * 32768) << d;
    EXPECT_LE(fir_output(state.scale, peak), 1.0);
  }
}

TEST(SweepPeak, MostNegativeAccumulatorNeverCounts) {
  // s × c = -2^31 whenever s = -32768: the wrapped product has no magnitude.
  const testing::owned_filter h = testing::quantized({1.0f}, 16);  // coefficient 65536
  fir_state state;
  ASSERT_TRUE(fir_init(state, h.filter));
  EXPECT_EQ(sweep_peak(state, 4000), 0);  // samples 0, ±1 → only 0 and ±2^31·…
}

TEST(SweepLine, FormatsFrequencyAndPeak) {
  const testing::owned_filter h = testing::quantized({1.0f}, 15);
  fir_state state;
  ASSERT_TRUE(fir_init(state, h.filter));
  std::string line;
  append_sweep_line(line, state.scale, 4, 1073741824);
  append_sweep_line(line, state.scale, 8000, 0);
  EXPECT_EQ(line, "4\t1.000000\n8000\t0.000000\n");
}

// The science: the fixed-point sweep agrees with the same measurement in double precision
// (unit sine from rest through the unquantized taps, peak |y| over 4000 samples) within the
// error that quantizing taps and samples can make.
TEST(SweepScience, LowPassAgreesWithDoubleModel) {
  const int count = 31;
  std::vector<float> taps(count);
  double tap_sum = 0.0;
  for (int n = 0; n < count; ++n) {
    const double k = n - (count - 1) / 2.0;
    const double h = k == 0 ? 0.25 : std::sin(M_PI * 0.25 * k) / (M_PI * k);
    taps[static_cast<std::size_t>(n)] =
        static_cast<float>(h * (0.54 - 0.46 * std::cos(2 * M_PI * n / (count - 1))));
    tap_sum += std::fabs(taps[static_cast<std::size_t>(n)]);
  }
  const std::int32_t precision = 14;
  const testing::owned_filter h = testing::quantized(taps, precision);
  const double scale = 16384.0;
  // Each product is off by at most |tap|/scale (sample truncation) + 1/scale (tap
  // truncation) per tap; the peak moves by no more than the largest such error.
  const double bound = (tap_sum + count) / scale;
  fir_state state;
  ASSERT_TRUE(fir_init(state, h.filter));
  double passband = 0.0;
  double stopband = 0.0;
  for (std::int32_t d = 4; d <= 8000; d += 97) {
    double t = 0.0;
    std::vector<double> x(SWEEP_SAMPLES);
    double model_peak = 0.0;
    for (int n = 0; n < SWEEP_SAMPLES; ++n, t += SAMPLE_INTERVAL) {
      x[static_cast<std::size_t>(n)] = std::sin((d * t) * TWO_PI);
      double y = 0.0;
      for (int j = 0; j < count && j <= n; ++j) {
        y += static_cast<double>(taps[static_cast<std::size_t>(j)]) *
             x[static_cast<std::size_t>(n - j)];
      }
      model_peak = std::max(model_peak, std::fabs(y));
    }
    const double fixed_peak = fir_output(state.scale, sweep_peak(state, d));
    ASSERT_NEAR(fixed_peak, model_peak, bound) << d << " Hz";
    if (d < 1500) passband = std::max(passband, fixed_peak);
    if (d > 3500) stopband = std::max(stopband, fixed_peak);
  }
  EXPECT_NEAR(passband, 1.0, 0.05);
  EXPECT_LT(stopband, 0.2);  // the start-up transient keeps the peak above the steady state
}

}  // namespace
}  // namespace fixfir
