// The guarded sines against the C library's: every variant this processor runs must give
// the straightforward samples exactly, also where the guard has to fall back.

#include "guarded_sine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "exact_sine.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/engine/fir_engine.h"

namespace fixfir {
namespace {

const sine_lanes all_lanes[] = {sine_lanes::none, sine_lanes::avx2, sine_lanes::avx2_eight,
                                sine_lanes::avx512};

std::vector<double> sample_times(std::size_t n) {
  heap_array<double> clock;
  EXPECT_TRUE(allocate_zeroed(clock, n));
  fill_sample_times(clock);
  return std::vector<double>(clock.begin(), clock.end());
}

std::uint32_t library_q(double scale, double x) {
  return static_cast<std::uint32_t>(quantize_sample(scale, x));
}

std::uint64_t bits(double x) {
  std::uint64_t b = 0;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

class GuardedSines : public ::testing::TestWithParam<sine_lanes> {
 protected:
  void SetUp() override {
    if (!sine_lanes_supported(GetParam())) GTEST_SKIP() << "not on this processor";
  }
};

// Frequencies whose samples sit on ±1 and 0 (4000 Hz, 8000 Hz, 2000 Hz), where the library
// returns exact values the fast sine misses by an ulp, beside ordinary ones; the largest
// scale, the shipped precision and the smallest; an odd count leaves a scalar tail.
TEST_P(GuardedSines, SweepSamplesEqualTheLibrarySines) {
  const std::vector<double> times = sample_times(4001);
  std::vector<std::uint32_t> q(times.size());
  std::size_t fallbacks = 0;
  for (const double scale : {1.0, 32768.0, 1073741824.0}) {
    for (const double frequency : {4.0, 1000.0, 1999.0, 2000.0, 3777.0, 4000.0, 7993.0, 8000.0}) {
      fallbacks +=
          guarded_sine_samples(frequency, times.data(), scale, q.data(), q.size(), GetParam());
      for (std::size_t n = 0; n < times.size(); ++n) {
        ASSERT_EQ(q[n], library_q(scale, std::sin((frequency * times[n]) * TWO_PI)))
            << "scale " << scale << " frequency " << frequency << " sample " << n;
      }
    }
  }
  // The exact ±1 of the library at 2000 and 4000 Hz cannot be decided by the fast sine.
  if (GetParam() != sine_lanes::none) {
    EXPECT_GT(fallbacks, 0u);
  }
}

// Scales the bound does not cover (2^31 wraps to -2^31, 0, a non-power), and arguments
// beyond its range: the library's samples all the same.
TEST_P(GuardedSines, UnprovenScalesAndArgumentsTakeTheLibrarySine) {
  const std::vector<double> times = sample_times(64);
  std::vector<std::uint32_t> q(times.size());
  for (const double scale : {-2147483648.0, 0.0, 3.0, 2147483648.0}) {
    EXPECT_EQ(guarded_sine_samples(440.0, times.data(), scale, q.data(), q.size(), GetParam()),
              q.size());
    for (std::size_t n = 0; n < times.size(); ++n) {
      ASSERT_EQ(q[n], library_q(scale, std::sin((440.0 * times[n]) * TWO_PI)));
    }
  }
  const double far = 1e9;  // (far × t) × 2π leaves the proven range after the first sample
  guarded_sine_samples(far, times.data(), 32768.0, q.data(), q.size(), GetParam());
  for (std::size_t n = 0; n < times.size(); ++n) {
    ASSERT_EQ(q[n], library_q(32768.0, std::sin((far * times[n]) * TWO_PI))) << n;
  }
}

// Signed zeros, results of ±1 and ±1/2 and tiny ones, the ends of the proven range and
// beyond, NaN and infinities, multiples of π/32, and a stretch of waveform arguments: the
// library's bits everywhere, an odd count leaving a scalar tail.
TEST_P(GuardedSines, ExactSinesAndCosinesEqualTheLibraryOnes) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> a = {0.0,
                           -0.0,
                           1e-300,
                           -4.9e-324,
                           1.5707963267948966,
                           -4.71238898038469,
                           0.5235987755982989,
                           3.141592653589793,
                           131072.0,
                           -131072.0,
                           131072.00000000003,
                           1e22,
                           inf,
                           -inf,
                           std::numeric_limits<double>::quiet_NaN()};
  for (int j = -70; j <= 70; ++j) a.push_back(j * 0.09817477042468103);
  const std::vector<double> times = sample_times(2001);
  for (const double t : times) a.push_back((7993.0 * t) * TWO_PI);
  std::vector<double> s(a.size());
  std::vector<double> c(a.size());
  const std::size_t fallbacks = exact_sines(a.data(), s.data(), a.size(), GetParam()) +
                                exact_cosines(a.data(), c.data(), a.size(), GetParam());
  for (std::size_t n = 0; n < a.size(); ++n) {
    ASSERT_EQ(bits(s[n]), bits(std::sin(a[n]))) << "sin(" << a[n] << ")";
    ASSERT_EQ(bits(c[n]), bits(std::cos(a[n]))) << "cos(" << a[n] << ")";
  }
  if (GetParam() != sine_lanes::none) {
    EXPECT_LT(fallbacks, 2 * a.size() / 3);
  }
}

struct tone_case {
  const char* name;
  frequency_settings settings;
  std::size_t first_sample;
  std::size_t samples;
};

// Zero sums at t = 0 (and -0 from negative tones), sums of exactly ±1 and ±1/2 (a quarter
// of the sample rate), cancelling tones near whole seconds, many tones, and tones beyond
// the proven range.
const tone_case tone_cases[] = {
    {"one_tone", {440, 1, 440}, 0, 3000},
    {"quarter_rate", {4000, 1, 4000}, 0, 400},
    {"ten_tones_start", {100, 100, 1000}, 0, 2000},
    {"ten_tones_whole_second", {100, 100, 1000}, 15990, 40},
    {"negative_tones", {-1000, 100, -100}, 0, 400},
    {"descending", {1000, -100, 100}, 7990, 30},
    {"many_tones", {100, 1, 599}, 15980, 64},
    {"beyond_range", {100000, 100000, 2000000}, 0, 200},
};

class GuardedTones : public ::testing::TestWithParam<std::tuple<sine_lanes, tone_case>> {};

TEST_P(GuardedTones, ExactAndGuardedSumsEqualTheExactSum) {
  const auto [lanes, tc] = GetParam();
  if (!sine_lanes_supported(lanes)) GTEST_SKIP() << "not on this processor";
  const std::vector<double> clock = sample_times(tc.first_sample + tc.samples);
  const std::vector<double> times(clock.begin() + static_cast<std::ptrdiff_t>(tc.first_sample),
                                  clock.end());
  const std::int32_t count = tone_count(tc.settings);
  const tone_set tones{static_cast<double>(tc.settings.initial_frequency),
                       static_cast<double>(tc.settings.frequency_step), count};
  std::vector<double> x(times.size());
  std::vector<std::uint32_t> q(times.size());
  exact_multitones(tones, times.data(), x.data(), times.size(), lanes);
  for (std::size_t n = 0; n < times.size(); ++n) {
    ASSERT_EQ(bits(x[n]), bits(exact_multitone(tones, times[n]))) << "exact n " << n;
  }
  for (const double scale : {1.0, 32768.0, 1073741824.0}) {
    guarded_multitone(tones, scale, times.data(), x.data(), q.data(), times.size(), lanes);
    for (std::size_t n = 0; n < times.size(); ++n) {
      const double exact = multitone_sample(tc.settings, count, times[n]);
      ASSERT_EQ(exact_multitone(tones, times[n]), exact);
      ASSERT_EQ(format_fixed6(x[n]), format_fixed6(exact)) << "scale " << scale << " n " << n;
      ASSERT_EQ(q[n], library_q(scale, exact)) << "scale " << scale << " n " << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, GuardedSines, ::testing::ValuesIn(all_lanes),
                         [](const auto& test) { return std::string(sine_lanes_name(test.param)); });

INSTANTIATE_TEST_SUITE_P(VariantsAndTones, GuardedTones,
                         ::testing::Combine(::testing::ValuesIn(all_lanes),
                                            ::testing::ValuesIn(tone_cases)),
                         [](const auto& test) {
                           return std::string(sine_lanes_name(std::get<0>(test.param))) + "_" +
                                  std::get<1>(test.param).name;
                         });

TEST(GuardedScale, OnlyPowersOfTwoFrom1To2To30) {
  for (int p = 0; p <= 30; ++p) EXPECT_TRUE(guarded_scale(std::ldexp(1.0, p))) << p;
  for (const double scale : {0.0, -1.0, 0.5, 3.0, 2147483648.0, -2147483648.0, 1e300}) {
    EXPECT_FALSE(guarded_scale(scale)) << scale;
  }
}

}  // namespace
}  // namespace fixfir
