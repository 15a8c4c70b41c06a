#pragma once
// What the parts of the module share: the functions the binding table binds, each taking
// its arguments already read from the call.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arguments.h"
#include "datapath_keywords.h"
#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/records.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/recommendation.h"

namespace fixfir::python {

/// Taps checked and copied, with their filter on fixfir's precision.
struct quantized_taps {
  std::vector<float> taps;
  fixed_filter fixed;
};

/// The `taps` and `precision` arguments checked, copied and quantized.
quantized_taps quantize_argument(pybind11::handle taps, long long precision);

/// Adds every function of the module, from the one binding table.
void define_functions(pybind11::module_& m);

/// Adds the class fixfir.Filter, the filter with state, to the module.
void bind_filter_class(pybind11::module_& m);

// ---- The console tool's model (model_bindings.cpp, filter_bindings.cpp) ----

pybind11::tuple quantize(pybind11::handle taps, long long precision, const datapath_keywords& k);
pybind11::array_t<double> output(pybind11::handle acc, double scale);
pybind11::tuple waveform_test(pybind11::handle taps, long long precision, long long initial,
                              long long step, long long ending, const datapath_keywords& k);
pybind11::tuple sweep(pybind11::handle taps, long long precision, long long step,
                      const datapath_keywords& k);
pybind11::object filter(pybind11::handle taps, pybind11::handle x, long long precision,
                        const datapath_keywords& k);

// ---- The coefficients judged alone (response_bindings.cpp) ----

pybind11::tuple taps_dense(pybind11::handle taps);
pybind11::tuple coefficients_dense(pybind11::handle taps, long long precision,
                                   const datapath_keywords& k);
double tap_error(pybind11::handle taps, long long precision, const datapath_keywords& k);
std::int64_t accumulator_wraps(pybind11::handle taps, pybind11::handle x, long long precision,
                               const datapath_keywords& k);
pybind11::dict bound_at(pybind11::handle taps, long long precision);
std::optional<std::int32_t> wrap_free_limit(pybind11::handle taps);

// ---- The report's measurements (report_bindings.cpp, explore_bindings.cpp) ----

using band_list = std::optional<std::vector<std::pair<double, double>>>;

/// The questions every measurement of the report asks, as given: the waveform test's
/// tones, the sweep's step, the bands and the targets (NaN where not given), and the rate
/// they are in hertz at. At the default rate the tones and steps are integers; at any other
/// they are real numbers of hertz, in `tones_hz` and `sweep_step_hz`.
struct run_arguments {
  long long initial = 0;
  long long step = 0;
  long long ending = 0;
  std::optional<long long> sweep_step;
  double sample_rate = DEFAULT_SAMPLE_RATE;
  std::array<double, 3> tones_hz{};
  std::optional<double> sweep_step_hz;
  band_list passbands;
  band_list stopbands;
  precision_targets targets;
};

/// The run arguments of a call, their types checked.
run_arguments run_argument(const bound_call& a);

/// The report's options at `precision` for `q`; a ValueError names a bad value.
report_request options_argument(long long precision, const run_arguments& q);

pybind11::dict report(pybind11::handle taps, long long precision, const run_arguments& q,
                      const datapath_keywords& k);
pybind11::dict scan(pybind11::handle taps, const run_arguments& q);
pybind11::dict explore(pybind11::handle taps, const run_arguments& q, const datapath_keywords& k,
                       const std::string& cost);

// ---- The test vectors (vectors_bindings.cpp) ----

pybind11::dict vectors(pybind11::handle taps, std::optional<long long> precision, long long initial,
                       long long step, long long ending, const datapath_keywords& k);

// ---- The coefficient words as a file (export_bindings.cpp) ----

pybind11::dict export_coefficient_file(pybind11::handle taps, pybind11::handle path,
                                       std::optional<long long> precision,
                                       const datapath_keywords& k);

}  // namespace fixfir::python
