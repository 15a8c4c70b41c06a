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
  const std::tuple<const char*, double, std::string> table[] = {
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
      // 2^256, longer than a small fixed buffer: every digit is written
      {"%.2f", 0x1p256,
       "115792089237316195423570985008687907853269984665640564039457584007913129639936.00"},
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

}  // namespace
}  // namespace fixfir
