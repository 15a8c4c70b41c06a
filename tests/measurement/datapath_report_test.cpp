// The report on a chosen datapath: on the seed's datapath it measures what the 32-bit
// engine measures, and on others it says where samples and sums overflowed and how.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <span>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "design_fixtures.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/summary_text.h"

namespace fixfir {
namespace {

using testing::fixture_taps;

report_request options_at(std::int32_t precision) {
  report_request o;
  o.precision = precision;
  o.tones = {100, 50, 4000};
  o.sweep_step = 16;
  return o;
}

bool has_line(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

// The seed's datapath given as a datapath is measured by the datapath path (unit sines
// quantized as samples, 64-bit sums) and must agree with the 32-bit engine's report.
class SeedDatapath : public ::testing::TestWithParam<std::tuple<const char*, std::int32_t>> {};

TEST_P(SeedDatapath, MeasuresWhatTheSeedReportMeasures) {
  const std::vector<float> taps = fixture_taps(std::get<0>(GetParam()));
  report_request o = options_at(std::get<1>(GetParam()));
  precision_report seed;
  ASSERT_TRUE(run_precision_report(taps, o, seed));
  o.path = precision_datapath(o.precision);
  precision_report chosen;
  ASSERT_TRUE(run_precision_report(taps, o, chosen));
  EXPECT_EQ(response_lines(seed.bands.plan, seed.figures),
            response_lines(chosen.bands.plan, chosen.figures));
  EXPECT_EQ(seed.sweeps.runs[0].peak, chosen.sweeps.runs[0].peak);
  EXPECT_EQ(seed.sweeps.runs[0].wrapped, chosen.sweeps.runs[0].wrapped);
  EXPECT_EQ(seed.waveform.wraps, chosen.waveform.wraps);
  EXPECT_EQ(seed.waveform.fixed_output, chosen.waveform.fixed_output);
  ASSERT_TRUE(std::holds_alternative<precision_bounds>(seed.asked));
  ASSERT_TRUE(std::holds_alternative<datapath_budget>(chosen.asked));
  EXPECT_DOUBLE_EQ(seed.waveform.split.coefficient_db,
                   std::get<datapath_budget>(chosen.asked).coefficient_db);
  EXPECT_EQ(seed.tap_error, chosen.tap_error);
  EXPECT_DOUBLE_EQ(seed.waveform.split.arithmetic_db, chosen.waveform.split.arithmetic_db);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SeedDatapath,
                         ::testing::Combine(::testing::Values("remez_lp_63", "kaiser_bs_71"),
                                            ::testing::Values(8, 15, 22)));

// Datapaths a designer builds, and what the report must say of each.
struct path_case {
  const char* name;
  std::int32_t coefficient_bits;
  std::int32_t sample_bits;  // with sample_bits - 1 fractional bits
  std::int32_t accumulator_bits;
  rounding_mode rounding;
  overflow_mode overflow;
  bool samples_overflow;  // a unit sine's +1 does not fit its word
  bool accumulator_overflows;
  const char* says;  // a line that must appear
};

const path_case path_cases[] = {
    {"plus_one_wraps", 16, 14, 40, rounding_mode::nearest, overflow_mode::wrap, true, false,
     "sample overflows (sweep): "},
    {"plus_one_saturates", 16, 14, 40, rounding_mode::nearest, overflow_mode::saturate, true, false,
     "frequencies (saturated)"},
    // std::sin gives exactly 1 near a quarter turn, which truncation keeps.
    {"truncated_samples_reach_plus_one", 18, 16, 40, rounding_mode::toward_zero,
     overflow_mode::saturate, true, false, "frequencies (saturated)"},
    {"narrow_accumulator_saturates", 16, 14, 20, rounding_mode::floor, overflow_mode::saturate,
     true, true, "accumulator saturations (sweep): "},
    {"narrow_accumulator_wraps", 16, 14, 20, rounding_mode::toward_zero, overflow_mode::wrap, true,
     true, "error from accumulator overflow (waveform test): "},
    // A unit sine's +1 wraps to -1: the steady state is the wraps', and its lines say so.
    {"truncated_plus_one_wraps", 16, 16, 40, rounding_mode::toward_zero, overflow_mode::wrap, true,
     false, "(fixed point, steady state): "},
};

class ChosenDatapath : public ::testing::TestWithParam<path_case> {};

TEST_P(ChosenDatapath, SaysWhatOverflowedAndHow) {
  const path_case c = GetParam();
  const std::vector<float> taps = fixture_taps("remez_lp_63");
  report_request o = options_at(15);
  datapath d;
  d.coefficient = {c.coefficient_bits,
                   largest_fitting_fraction(taps, c.coefficient_bits, c.rounding), c.rounding,
                   c.overflow};
  d.sample = {c.sample_bits, c.sample_bits - 1, c.rounding, c.overflow};
  d.accumulator_bits = c.accumulator_bits;
  d.accumulator_overflow = c.overflow;
  o.path = d;
  precision_report r;
  ASSERT_TRUE(run_precision_report(taps, o, r));
  ASSERT_TRUE(std::holds_alternative<datapath_budget>(r.asked));
  const datapath_budget& budget = std::get<datapath_budget>(r.asked);
  EXPECT_EQ(r.sweeps.runs[0].sample_overflows > 0, c.samples_overflow);
  EXPECT_EQ(r.sweeps.runs[0].wraps > 0 || budget.accumulator_overflows > 0,
            c.accumulator_overflows);
  EXPECT_EQ(std::isinf(budget.accumulator_db), budget.accumulator_overflows == 0);
  EXPECT_EQ(r.fixed.accumulator_bits_needed,
            accumulator_bits_needed(r.fixed.coefficients, c.sample_bits));
  const std::vector<std::string> lines = precision_report_lines(r);
  EXPECT_TRUE(has_line(lines, c.says)) << c.says;
  EXPECT_TRUE(has_line(lines, "accumulator bits needed for no wrap with any input: "));
  // A steady-state or sweep figure measured where samples overflowed says at how many
  // frequencies, as it does for the accumulator.
  const std::string sample_note = std::string("samples ") +
                                  (c.overflow == overflow_mode::saturate ? "saturate" : "wrap") +
                                  " at ";
  const std::string accumulator_note =
      std::string("accumulator ") +
      (c.overflow == overflow_mode::saturate ? "saturates" : "wraps") + " at ";
  for (const std::string& line : lines) {
    if (line.find("(fixed point, steady state)") == std::string::npos &&
        line.find("(sweep, transient included)") == std::string::npos)
      continue;
    EXPECT_EQ(line.find(sample_note) != std::string::npos, c.samples_overflow) << line;
    if (!c.accumulator_overflows) {
      EXPECT_EQ(line.find(accumulator_note), std::string::npos) << line;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Designs, ChosenDatapath, ::testing::ValuesIn(path_cases),
                         [](const auto& test) { return std::string(test.param.name); });

// On every committed design, the search's recommendation, measured again by the report on
// whole runs, meets every target, and a sample word one bit narrower, or a coefficient word
// one bit narrower (its fraction refitted), misses one unless the word is at the search's
// lower limit; where nothing meets the targets the lines say what each reached. The report
// on the datapath its options line names gives the very figures of its row. Without an SNR
// target the attenuation target is the SNR's.
struct search_case {
  const char* fixture;
  double min_snr_db;  // NaN: the default, the attenuation target
};

class DatapathSearch : public ::testing::TestWithParam<search_case> {};

precision_report report_on(std::span<const float> taps, const datapath& d) {
  report_request o = options_at(15);
  o.path = d;
  precision_report r;
  EXPECT_TRUE(run_precision_report(taps, o, r));
  return r;
}

bool report_meets(std::span<const float> taps, const datapath& d, const precision_targets& t) {
  const precision_report r = report_on(taps, d);
  return r.figures.steady.worst_attenuation_db >= t.min_attenuation_db &&
         r.figures.steady.ripple_db <= t.max_ripple_db && r.waveform.snr_db >= t.min_snr_db &&
         std::get<datapath_budget>(r.asked).accumulator_overflows == 0 &&
         r.sweeps.runs[0].wraps == 0 && r.fixed.coefficient_overflows == 0;
}

// The choices an options line ("options: --coefficient-bits 16 ...") names.
datapath_choices choices_named(const std::string& line) {
  datapath_choices c;
  std::istringstream words(line.substr(line.find(' ') + 1));
  std::string name;
  std::string value;
  while (words >> name >> value) {
    if (name == "--coefficient-bits") {
      c.coefficient_bits = std::stoi(value);
    } else if (name == "--coefficient-precision") {
      c.coefficient_fraction_bits = std::stoi(value);
    } else if (name == "--sample-bits") {
      c.sample_bits = std::stoi(value);
    } else if (name == "--sample-precision") {
      c.sample_fraction_bits = std::stoi(value);
    } else if (name == "--accumulator-bits") {
      c.accumulator_bits = std::stoi(value);
    } else if (name == "--rounding") {
      c.rounding = rounding_from_option(value);
    } else if (name == "--overflow") {
      c.overflow = overflow_from_option(value);
    } else {
      ADD_FAILURE() << "unknown option " << name;
    }
  }
  return c;
}

TEST_P(DatapathSearch, MeetsTheTargetsAndNoNarrowerWordDoes) {
  const search_case c = GetParam();
  const std::vector<float> taps = fixture_taps(c.fixture);
  const report_request o = options_at(15);
  const precision_targets asked{std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::quiet_NaN(), c.min_snr_db};
  search_report r;
  ASSERT_TRUE(run_datapath_search(taps, o, asked, {}, cost_model::multiplier, r));
  const std::vector<std::string> lines = search_lines(r);
  if (!r.recommended) {
    // Nothing meets the targets: the lines say so and what each target reached.
    EXPECT_EQ(lines[lines.size() - 3], "recommended datapath: none");
    EXPECT_EQ(lines.back().rfind("best reached: stopband attenuation ", 0), 0U);
    return;
  }
  if (std::isnan(c.min_snr_db)) {
    EXPECT_EQ(r.targets.min_snr_db, r.targets.min_attenuation_db);
    EXPECT_TRUE(r.snr_target_is_attenuation);
  }
  const candidate& row = r.front[*r.recommended];
  const datapath best = row.path;
  EXPECT_TRUE(report_meets(taps, best, r.targets));
  // The options line makes the very datapath, and the report on it gives the row's figures.
  const result<datapath> named =
      datapath_from_choices(taps, choices_named(lines[lines.size() - 2]));
  ASSERT_TRUE(named.ok());
  EXPECT_EQ(datapath_words(named.value()), datapath_words(best));
  const precision_report again = report_on(taps, named.value());
  EXPECT_EQ(again.figures.steady.worst_attenuation_db, row.attenuation_db);
  EXPECT_EQ(again.figures.steady.ripple_db, row.ripple_db);
  EXPECT_EQ(again.waveform.snr_db, row.snr_db);
  if (best.sample.bits > SEARCH_BITS_MIN) {
    datapath narrower = best;
    narrower.sample = {best.sample.bits - 1, best.sample.bits - 2, best.sample.rounding,
                       best.sample.overflow};
    EXPECT_FALSE(report_meets(taps, narrower, r.targets)) << "sample word";
  }
  if (best.coefficient.bits > SEARCH_BITS_MIN) {
    datapath narrower = best;
    narrower.coefficient.bits = best.coefficient.bits - 1;
    narrower.coefficient.fraction_bits =
        largest_fitting_fraction(taps, narrower.coefficient.bits, best.coefficient.rounding);
    EXPECT_FALSE(report_meets(taps, narrower, r.targets)) << "coefficient word";
  }
  EXPECT_EQ(lines[lines.size() - 3], "recommended datapath: " + datapath_words(best));
  EXPECT_EQ(lines[lines.size() - 2], "options: " + recommended_options(best));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, DatapathSearch,
    ::testing::Values(search_case{"remez_lp_63", 60.0}, search_case{"kaiser_bs_71", 50.0},
                      search_case{"firls_bs_81", 50.0}, search_case{"firls_lp_71", 50.0},
                      search_case{"kaiser_bp_119", 50.0}, search_case{"kaiser_hp_119", 50.0},
                      search_case{"kaiser_lp_255", 50.0}, search_case{"remez_bp_95", 50.0},
                      search_case{"remez_hp_47", 50.0},
                      search_case{"remez_lp_63", std::numeric_limits<double>::quiet_NaN()},
                      search_case{"kaiser_bp_119", std::numeric_limits<double>::quiet_NaN()}),
    [](const auto& test) {
      return std::string(test.param.fixture) +
             (std::isnan(test.param.min_snr_db) ? "_default_snr" : "");
    });

// A run stopped by its keep-going check (Ctrl-C in Python) is interrupted, never "out of
// memory": at once, or after some of its work, each measurement that can be stopped says so.
struct stopped_case {
  const char* name;
  int answers_before_stop;  // the check's true answers before its first false
};

class StoppedReport : public ::testing::TestWithParam<stopped_case> {};

TEST_P(StoppedReport, IsInterruptedInEveryMeasurement) {
  const std::vector<float> taps = fixture_taps("remez_lp_63");
  const precision_targets none{std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::quiet_NaN()};
  datapath d = precision_datapath(15);
  d.coefficient.bits = 16;
  d.coefficient.fraction_bits = 16;
  const std::function<outcome()> runs[] = {
      [&] {
        precision_report r;
        return run_precision_report(taps, options_at(15), r);
      },
      [&] {
        report_request o = options_at(15);
        o.path = d;
        precision_report r;
        return run_precision_report(taps, o, r);
      },
      [&] {
        scan_report r;
        return run_scan(taps, options_at(15), none, r);
      },
      [&] {
        search_report r;
        return run_datapath_search(taps, options_at(15), none, {}, cost_model::multiplier, r);
      }};
  for (std::size_t i = 0; i < std::size(runs); ++i) {
    std::atomic<int> answers{0};
    const keep_going_check check = [&] { return answers++ < GetParam().answers_before_stop; };
    const keep_going_guard guard(check);
    const outcome done = runs[i]();
    if (done.ok()) {
      EXPECT_GT(GetParam().answers_before_stop, 0) << "run " << i;
      continue;
    }
    EXPECT_EQ(done.failure().kind, error_kind::interrupted) << "run " << i;
    EXPECT_EQ(done.failure().message, "interrupted") << "run " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Checks, StoppedReport,
                         ::testing::Values(stopped_case{"at_once", 0}, stopped_case{"after_3", 3},
                                           stopped_case{"after_40", 40}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace fixfir
