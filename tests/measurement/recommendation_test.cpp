// The recommended precision and the verdict on one precision, from tables of rows.

#include "fixfir/measurement/recommendation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace fixfir {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

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
  std::optional<std::int32_t> expected;  // none: no precision meets the targets
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
            std::nullopt,
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
                       std::nullopt,
                       "every precision wraps: try --explore"},
        // None: the targets that no precision without wraps reaches are named with the best
        // reached (a wrapped row's figures do not count), and --explore is suggested.
        recommend_case{"none_names_the_unreached_target",
                       {row(14, 52, 0.1, 70), row(15, 50, 0.1, 80), row(16, 60, 0.1, 90, 3, 0)},
                       {55.0, 0.3, 75.0},
                       std::nullopt,
                       "; no precision without wraps reaches attenuation >= 55.00 dB (at best "
                       "52.00 dB, at 14): try --explore"},
        recommend_case{"none_names_every_unreached_target",
                       {row(14, 52, 0.5, 70), row(15, 50, 0.4, 80)},
                       {55.0, 0.3, 75.0},
                       std::nullopt,
                       "reaches attenuation >= 55.00 dB (at best 52.00 dB, at 14), ripple <= "
                       "0.3000 dB (at best 0.4000 dB, at 15): try --explore"},
        recommend_case{"none_meets_them_together",
                       {row(14, 56, 0.1, 70), row(15, 50, 0.1, 80)},
                       {55.0, 0.3, 75.0},
                       std::nullopt,
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

}  // namespace
}  // namespace fixfir
