// The scan and the summary over real designs (tests/fixtures/) and made filters: the
// summary judges as the scan does, the recommendation keeps the design, and a target or a
// figure the taps cannot give says why.

#include "fixfir/measurement/measurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "design_fixtures.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/response_figures.h"
#include "fixfir/measurement/summary_text.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir {
namespace {

using testing::fixture_taps;

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

// A summary at one precision is judged on exactly the figures the scan's row of that
// precision has, so its verdict is the scan's: met exactly where the scan could choose it.
TEST(Verdict, TheSummaryJudgesAsTheScanDoes) {
  const std::vector<float> taps = fixture_taps("remez_lp_63");
  report_request o;
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
  std::optional<std::int32_t> recommended;  // with the default targets; none: no precision
};

class ScanDesign : public ::testing::TestWithParam<scan_case> {};

// The scan over real designs: its own figures at the recommendation meet the targets,
// the precision below does not, and the choice is the expected one.
TEST_P(ScanDesign, RecommendsTheSmallestPrecisionThatKeepsTheDesign) {
  const scan_case& c = GetParam();
  const std::vector<float> taps = fixture_taps(c.design);
  report_request o;
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
    EXPECT_EQ(row.wrap_free, r.wrap_free_limit && row.precision <= *r.wrap_free_limit)
        << row.precision;
    if (row.wrap_free) {
      EXPECT_EQ(row.waveform_wraps, 0) << row.precision;
      EXPECT_EQ(row.sweep_wraps, 0) << row.precision;
    }
  }
  const std::vector<std::string> lines = scan_lines(r);
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[lines.size() - 2],
            "recommended precision: " +
                (c.recommended ? std::to_string(*c.recommended) : std::string("none")));
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
  report_request o;
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
  report_request o;
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
  ASSERT_GT(r.choice.precision.value_or(0), 0) << r.choice.reason;
  const precision_row& chosen = r.rows[static_cast<std::size_t>(*r.choice.precision)];
  EXPECT_GE(chosen.coefficient_attenuation_db, 40.0);
  EXPECT_LT(r.rows[static_cast<std::size_t>(*r.choice.precision - 1)].coefficient_attenuation_db,
            40.0);
  EXPECT_NE(r.choice.reason.find("of the quantized coefficients"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(TapCounts, LongFilterScan,
                         ::testing::Values(long_scan_case{3998, steady_reach::too_short},
                                           long_scan_case{4033, steady_reach::not_reached}),
                         [](const auto& p) { return std::to_string(p.param.taps); });

INSTANTIATE_TEST_SUITE_P(Fixtures, ScanDesign,
                         ::testing::Values(scan_case{"kaiser_lp_255", std::nullopt},
                                           scan_case{"kaiser_bp_119", std::nullopt},
                                           scan_case{"remez_lp_63", 14},
                                           scan_case{"remez_bp_95", 14},
                                           scan_case{"firls_bs_81", 13}),
                         [](const auto& p) { return std::string(p.param.design); });

}  // namespace
}  // namespace fixfir
