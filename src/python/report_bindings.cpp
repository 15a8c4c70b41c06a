// The figures of fixfir-report, from its own model, as plain Python data.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <span>
#include <vector>

#include "array_io.h"
#include "parallel_chunks.h"
#include "python_bindings.h"
#include "report_model.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

py::array_t<double> ideal_response(py::handle taps, py::handle frequencies) {
  const std::vector<float> t = taps_argument(taps);
  const std::vector<double> f = signal_argument(frequencies, "frequencies");
  std::vector<double> h(f.size());
  {
    py::gil_scoped_release unlocked;
    for (std::size_t i = 0; i < f.size(); ++i) h[i] = ideal_magnitude(t, f[i]);
  }
  return to_array(h.data(), h.size());
}

double tap_error(py::handle taps, long long precision) {
  const quantized_taps q = quantize_argument(taps, precision);
  return largest_tap_error(q.taps, q.filter);
}

std::int64_t accumulator_wraps(py::handle taps, py::handle x, long long precision) {
  const quantized_taps q = quantize_argument(taps, precision);
  const std::vector<double> signal = signal_argument(x, "x");
  py::gil_scoped_release unlocked;
  return run_fixed_model(q.filter, signal).wraps;
}

py::dict response(py::handle taps, long long precision, long long step) {
  const quantized_taps q = quantize_argument(taps, precision);
  const std::int32_t df = int32_value(step, "step");
  if (df < 1) throw py::value_error("step must be at least 1, not " + std::to_string(df));
  std::vector<sweep_point> points;
  {
    py::gil_scoped_release unlocked;
    points = measure_response(q.filter, q.taps, df, worker_count());
  }
  std::vector<std::int32_t> frequency;
  std::vector<double> fixed_peak, double_peak, ideal;
  for (const sweep_point& p : points) {
    frequency.push_back(p.frequency);
    fixed_peak.push_back(p.fixed_peak);
    double_peak.push_back(p.double_peak);
    ideal.push_back(p.ideal);
  }
  py::dict out;
  out["frequency"] = to_array(frequency.data(), frequency.size());
  out["fixed_peak"] = to_array(fixed_peak.data(), fixed_peak.size());
  out["double_peak"] = to_array(double_peak.data(), double_peak.size());
  out["ideal"] = to_array(ideal.data(), ideal.size());
  return out;
}

}  // namespace

void bind_report(py::module_& m) {
  m.def("ideal_response", &ideal_response, py::arg("taps"), py::arg("frequencies"),
        "The steady-state gain |H(f)| of the unquantized taps at each frequency in Hz "
        "(float64).");
  m.def("largest_tap_error", &tap_error, py::arg("taps"), py::arg("precision"),
        "The largest |tap - coefficient ÷ scale|, in the taps' units.");
  m.def("accumulator_wraps", &accumulator_wraps, py::arg("taps"), py::arg("x"),
        py::arg("precision"),
        "How many samples of the fixed-point filter over x have a wrapped accumulator: an "
        "exact sum Σ c[j] · s[n - j] that differs from the 32-bit one.");
  m.def("response", &response, py::arg("taps"), py::arg("precision"), py::arg("step"),
        "The report's sweep as a dict of arrays: frequency, fixed_peak (frequency.txt's "
        "values), double_peak (the same measurement in double precision) and ideal (|H(f)| "
        "of the unquantized taps).");
}

}  // namespace fixfir::python
