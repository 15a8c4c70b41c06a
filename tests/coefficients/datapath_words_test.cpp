// The datapath's choices in words and figures: the largest fitting fraction, the
// accumulator a filter needs, and a datapath named in plain words.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "fixfir/coefficients/datapath.h"

namespace fixfir {
namespace {

constexpr auto zero = rounding_mode::toward_zero;
constexpr auto nearest = rounding_mode::nearest;
constexpr auto floor_ = rounding_mode::floor;
constexpr auto wrap = overflow_mode::wrap;
constexpr auto sat = overflow_mode::saturate;

word_format word(std::int32_t bits, std::int32_t fraction, rounding_mode r, overflow_mode o) {
  return word_format{bits, fraction, r, o};
}

TEST(LargestFittingFraction, IsTheLargestThatFits) {
  const std::tuple<std::vector<float>, std::int32_t, rounding_mode, std::int32_t> cases[] = {
      {{0.5f, -0.25f}, 8, zero, 7},
      {{1.0f}, 8, zero, 6},   // 128 does not fit
      {{-1.0f}, 8, zero, 7},  // -128 does
      {{0.999f}, 8, zero, 7},
      {{0.999f}, 8, nearest, 6},  // 127.87 rounds to 128
      {{-0.999f}, 8, floor_, 7},
      {{0.0f, std::numeric_limits<float>::quiet_NaN()}, 8, zero, FRACTION_BITS_MAX},
      {{}, 16, zero, FRACTION_BITS_MAX},
      {{1e20f}, 8, zero, FRACTION_BITS_MIN},
      {{0.75f, std::numeric_limits<float>::infinity()}, 32, zero, 31},
  };
  for (const auto& [taps, bits, rounding, want] : cases) {
    EXPECT_EQ(largest_fitting_fraction(taps, bits, rounding), want) << bits;
  }
}

TEST(AccumulatorBitsNeeded, HoldsTheLargestAndSmallestSums) {
  const std::tuple<std::vector<std::int32_t>, std::int32_t, std::int32_t> cases[] = {
      {{}, 16, 1},
      {{0, 0, 0}, 32, 1},  // every sum is 0
      {{1}, 8, 8},
      {{-1}, 8, 9},  // -1 × -128 = +128
      {{3, -1}, 8, 10},
      {{INT32_MIN}, 32, 64},
      {{INT32_MIN, INT32_MIN}, 32, 65},
      {std::vector<std::int32_t>(300, INT32_MIN), 32, 72},
  };
  for (const auto& [c, sample_bits, want] : cases) {
    EXPECT_EQ(accumulator_bits_needed(c, sample_bits), want) << c.size();
  }
}

TEST(DatapathWords, NameWhatDiffers) {
  datapath mixed;
  mixed.coefficient = word(16, 17, nearest, sat);
  mixed.sample = word(14, 13, nearest, sat);
  mixed.accumulator_bits = 35;
  datapath apart = mixed;
  apart.sample = word(14, 13, floor_, wrap);
  apart.accumulator_overflow = sat;
  const std::pair<datapath, const char*> cases[] = {
      {precision_datapath(15),
       "coefficients 32 bits (15 fractional), samples 32 bits (15 fractional), accumulator 32 "
       "bits, rounding toward zero, overflow wraps"},
      {mixed,
       "coefficients 16 bits (17 fractional), samples 14 bits (13 fractional), accumulator 35 "
       "bits, rounding to nearest, coefficient and sample overflow saturates, accumulator wraps"},
      {apart,
       "coefficients 16 bits (17 fractional), samples 14 bits (13 fractional), accumulator 35 "
       "bits, coefficient rounding to nearest, sample rounding floor, coefficient overflow "
       "saturates, sample overflow wraps, accumulator saturates"},
  };
  for (const auto& [d, want] : cases) EXPECT_EQ(datapath_words(d), want);
}
}  // namespace
}  // namespace fixfir
