// What kind of failure each measurement entry that can fail reports: a run the caller stopped
// says interrupted (never out of memory), and a problem that has no answer says bad input.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/amplitude_integrals.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/error_model.h"
#include "fixfir/measurement/least_squares.h"
#include "fixfir/measurement/response_figures.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {
namespace {

const std::vector<float> taps = {0.125F, 0.25F, 0.25F, 0.125F};
const std::vector<std::int32_t> coefficients = {128, 256, 256, 128};
const std::vector<double> input(300, 0.5);
const band_plan plan{{{0.0, 1000.0}}, {{3000.0, 8000.0}}, true, true};

struct failure_row {
  const char* name;
  bool stopped;  // run with a keep-going check that answers no
  error_kind expected;
  std::function<error_kind()> run;  // the kind the entry failed with
};

void PrintTo(const failure_row& row, std::ostream* os) { *os << row.name; }

template <typename T>
error_kind kind_of(const result<T>& r) {
  EXPECT_FALSE(r.ok());
  return r.ok() ? error_kind::failed : r.failure().kind;
}

const failure_row rows[] = {
    {"BandPoints", true, error_kind::interrupted,
     [] {
       dense_response r;
       const std::vector<double> h = {0.5, 0.5};
       EXPECT_TRUE(dense_magnitude(h, r).ok());
       response_points points;
       return kind_of(band_points(r, h, plan, points));
     }},
    {"TapsFigures", true, error_kind::interrupted,
     [] {
       band_setup setup;
       setup.plan = plan;
       EXPECT_TRUE(taps_response(taps, setup.response).ok());
       band_figures_db out;
       return kind_of(taps_figures(taps, setup, out));
     }},
    {"CoefficientFigures", true, error_kind::interrupted,
     [] {
       dense_response response;
       band_figures_db out;
       return kind_of(coefficient_figures(coefficients, 1024.0, plan, response, out));
     }},
    {"CoefficientModel", true, error_kind::interrupted,
     [] {
       std::vector<double> out;
       return kind_of(run_coefficient_model(coefficients, 1024.0, input, out));
     }},
    {"PredictedErrorSpectrum", true, error_kind::interrupted,
     [] {
       std::vector<double> out;
       return kind_of(predicted_error_spectrum(coefficients, 1024.0, input, 64, out));
     }},
    {"LeastSquaresOfDependentColumns", false, error_kind::bad_input,
     [] {
       return kind_of(least_squares({{1.0, 2.0, 3.0}, {2.0, 4.0, 6.0}}, {1.0, 0.0, 1.0}));
     }},
    {"LeastSquaresWithMoreColumnsThanRows", false, error_kind::bad_input,
     [] {
       return kind_of(least_squares({{1.0}, {2.0}}, {1.0}));
     }},
    {"AmplitudeOfLopsidedTaps", false, error_kind::bad_input,
     [] {
       return kind_of(symmetric_amplitude(std::vector<float>{0.5F, 0.25F}));
     }},
};

class FailureKind : public ::testing::TestWithParam<failure_row> {};

TEST_P(FailureKind, SaysWhatWentWrong) {
  const failure_row& row = GetParam();
  const keep_going_check no = [] { return false; };
  const keep_going_check yes = [] { return true; };
  const keep_going_guard guard(row.stopped ? no : yes);
  EXPECT_EQ(row.run(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Measurement, FailureKind, ::testing::ValuesIn(rows),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fixfir
