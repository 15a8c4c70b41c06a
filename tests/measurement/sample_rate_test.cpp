// Frequencies at a sample rate: the text a frequency is printed as reads back as the same
// internal frequency, and tones off the rate's grid are told apart from those on it.

#include "fixfir/measurement/sample_rate.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace fixfir {
namespace {

struct printed_case {
  double internal;
  double rate;
  const char* text;
};

// Plain decimals at any rate (never "5e+07", which a tone's option would refuse), the
// default rate's text as it always was, and every text reading back as its frequency.
TEST(RateHertzText, ReadsBackAsTheSameFrequency) {
  const printed_case table[] = {
      {8000, 1e8, "50000000"},          {4, 1e8, "25000"},           {1, 44100, "2.75625"},
      {1560.55, 44100, "4301.2659375"}, {2429.69, 48000, "7289.07"}, {0.004, 8000, "0.002"},
      {1e-300, 48000, "3e-300"},        {0.1, 16000, "0.1"},         {1e-05, 16000, "1e-05"},
      {1.0 / 3.0, 48000, "1"},
  };
  for (const printed_case& c : table) {
    const std::string text = rate_hertz_text(c.internal, c.rate);
    EXPECT_EQ(text, c.text) << c.internal << " at " << c.rate;
    const std::optional<double> read = parse_plain_decimal(text);
    ASSERT_TRUE(read.has_value()) << text;
    EXPECT_EQ(internal_hertz(*read, c.rate), c.internal) << text;
  }
}

struct grid_case {
  double hz;
  double rate;
  std::optional<std::int32_t> internal;
};

// Tones and steps lie on whole internal hertz: a whole multiple of rate / 16000, give or take
// a printed value's rounding, within the 32-bit range.
TEST(GridHertz, TakesOnlyWholeMultiplesOfTheSpacing) {
  const grid_case table[] = {
      {150, 48000, 50},
      {100, 48000, std::nullopt},
      {826.875, 44100, 300},
      {826.8750000001, 44100, 300},
      {826.88, 44100, std::nullopt},
      {-441, 44100, -160},
      {312500, 1e8, 50},
      {3125, 1e8, std::nullopt},
      {0, 48000, 0},
      {6.5e12, 48000, std::nullopt},
      {2147483647, 16000, 2147483647},
  };
  for (const grid_case& c : table)
    EXPECT_EQ(grid_hertz(c.hz, c.rate), c.internal) << c.hz << " at " << c.rate;
  EXPECT_EQ(grid_problem(100, 48000),
            "100 Hz is not a multiple of 3 Hz, the spacing of frequencies at 48000 Hz "
            "(nearest: 99 or 102)");
  EXPECT_EQ(grid_text(100000, DEFAULT_SAMPLE_RATE), "100000");
}

// Only plain decimals within the range are rates.
TEST(SampleRate, OnlyPlainDecimalsInRange) {
  for (const char* good : {"16000", "44100", "4.41e4", "1e8", "0.000001", "1e12", "+48000"})
    EXPECT_TRUE(parse_sample_rate(good).has_value()) << good;
  for (const char* bad : {"0", "-48000", "nan", "inf", "0x10", "48k", "", "1e300", "1e12.5", "9e-7",
                          "1e13", " 48000"})
    EXPECT_FALSE(parse_sample_rate(bad).has_value()) << bad;
}

}  // namespace
}  // namespace fixfir
