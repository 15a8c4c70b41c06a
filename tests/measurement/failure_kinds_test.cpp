// What kind of failure each measurement entry that can fail reports: a run the caller stopped
// says interrupted (never out of memory), and a problem that has no answer says bad input.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/amplitude_integrals.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/error_model.h"
#include "fixfir/measurement/least_squares.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/response_figures.h"
#include "fixfir/measurement/spectrum.h"
#include "fixfir/measurement/waveform_model.h"

namespace fixfir {
namespace {

const std::vector<float> taps = {0.125F, 0.25F, 0.25F, 0.125F};
const std::vector<std::int32_t> coefficients = {128, 256, 256, 128};
const std::vector<double> input(300, 0.5);
const band_plan plan{{{0.0, 1000.0}}, {{3000.0, 8000.0}}, true, true};

// The keep-going check a row runs under.
enum class check { go, stop, stop_once };

struct failure_row {
  const char* name;
  check asked;  // go: always yes; stop: always no; stop_once: no at first, then yes again
  error_kind expected;
  std::function<error_kind()> run;  // the kind the entry failed with
};

report_request small_request() {
  report_request o;
  o.precision = 12;
  o.tones = {100, 500, 4000};
  o.sweep_step = 400;
  o.threads = 2;
  return o;
}

outcome report_at(const std::optional<datapath>& path) {
  report_request o = small_request();
  o.path = path;
  precision_report r;
  return run_precision_report(taps, o, r);
}

datapath narrow_words() {
  datapath d;
  d.coefficient = {12, 12, rounding_mode::nearest, overflow_mode::saturate};
  d.sample = {12, 11, rounding_mode::nearest, overflow_mode::saturate};
  d.accumulator_bits = 24;
  return d;
}

outcome scan() {
  scan_report r;
  const double none = std::numeric_limits<double>::quiet_NaN();
  return run_scan(taps, small_request(), {none, none, none}, r);
}

void PrintTo(const failure_row& row, std::ostream* os) { *os << row.name; }

template <typename T>
error_kind kind_of(const result<T>& r) {
  EXPECT_FALSE(r.ok());
  return r.ok() ? error_kind::failed : r.failure().kind;
}

const failure_row rows[] = {
    {"BandPoints", check::stop, error_kind::interrupted,
     [] {
       dense_response r;
       const std::vector<double> h = {0.5, 0.5};
       EXPECT_TRUE(dense_magnitude(h, r).ok());
       response_points points;
       return kind_of(band_points(r, h, plan, points));
     }},
    {"TapsFigures", check::stop, error_kind::interrupted,
     [] {
       band_setup setup;
       setup.plan = plan;
       EXPECT_TRUE(taps_response(taps, setup.response).ok());
       band_figures_db out;
       return kind_of(taps_figures(taps, setup, out));
     }},
    {"CoefficientFigures", check::stop, error_kind::interrupted,
     [] {
       dense_response response;
       band_figures_db out;
       return kind_of(coefficient_figures(coefficients, 1024.0, plan, response, out));
     }},
    {"CoefficientModel", check::stop, error_kind::interrupted,
     [] {
       std::vector<double> out;
       return kind_of(run_coefficient_model(coefficients, 1024.0, input, out));
     }},
    {"PredictedErrorSpectrum", check::stop, error_kind::interrupted,
     [] {
       std::vector<double> out;
       return kind_of(predicted_error_spectrum(coefficients, 1024.0, input, 64, out));
     }},
    {"LeastSquaresOfDependentColumns", check::go, error_kind::bad_input,
     [] {
       return kind_of(least_squares({{1.0, 2.0, 3.0}, {2.0, 4.0, 6.0}}, {1.0, 0.0, 1.0}));
     }},
    {"LeastSquaresWithMoreColumnsThanRows", check::go, error_kind::bad_input,
     [] {
       return kind_of(least_squares({{1.0}, {2.0}}, {1.0}));
     }},
    {"AmplitudeOfLopsidedTaps", check::go, error_kind::bad_input,
     [] {
       return kind_of(symmetric_amplitude(std::vector<float>{0.5F, 0.25F}));
     }},
    // The report and the scan carry the kind their parts failed with: a check that says
    // stop once and then yes again still makes the run interrupted, not out of memory.
    {"PrecisionReport", check::stop, error_kind::interrupted,
     [] { return kind_of(report_at(std::nullopt)); }},
    {"PrecisionReportStoppedOnce", check::stop_once, error_kind::interrupted,
     [] { return kind_of(report_at(std::nullopt)); }},
    {"DatapathReportStoppedOnce", check::stop_once, error_kind::interrupted,
     [] { return kind_of(report_at(narrow_words())); }},
    // The waveform model passes on the engine's own kind rather than guessing it afresh.
    {"WaveformSignal", check::stop, error_kind::interrupted,
     [] {
       return kind_of(make_waveform_signal({100, 50, 4000}, 2));
     }},
    {"FixedModel", check::stop, error_kind::interrupted,
     [] {
       const result<fixed_filter> f = make_fixed_filter(taps, precision_datapath(12));
       EXPECT_TRUE(f.ok());
       return kind_of(run_fixed_model(f.value(), std::vector<double>(200'000, 0.5)));
     }},
    {"Scan", check::stop, error_kind::interrupted, [] { return kind_of(scan()); }},
    {"ScanStoppedOnce", check::stop_once, error_kind::interrupted, [] { return kind_of(scan()); }},
};

class FailureKind : public ::testing::TestWithParam<failure_row> {};

TEST_P(FailureKind, SaysWhatWentWrong) {
  const failure_row& row = GetParam();
  std::atomic<int> asked{0};
  const keep_going_check answer = [&] {
    const int n = asked++;
    return row.asked == check::go || (row.asked == check::stop_once && n > 0);
  };
  const keep_going_guard guard(answer);
  EXPECT_EQ(row.run(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Measurement, FailureKind, ::testing::ValuesIn(rows),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fixfir
