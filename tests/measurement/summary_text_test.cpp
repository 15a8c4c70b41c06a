// The summary's text: band lines and the one formatter of every figure.

#include "fixfir/measurement/summary_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "fixfir/measurement/bands.h"

namespace fixfir {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

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

}  // namespace
}  // namespace fixfir
