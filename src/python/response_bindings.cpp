// The quantized coefficients judged alone: their response, their error, and the wraps
// their sums can reach.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

#include "array_io.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/measurement/wrap_checks.h"
#include "interrupts.h"
#include "python_bindings.h"
#include "record_dicts.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

py::tuple dense_arrays(const dense_response& r) {
  std::vector<double> f(r.magnitude.size());
  for (std::size_t k = 0; k < f.size(); ++k) f[k] = r.spacing * static_cast<double>(k);
  return py::make_tuple(to_array(f.data(), f.size()),
                        to_array(r.magnitude.data(), r.magnitude.size()));
}

}  // namespace

py::tuple taps_dense(py::handle taps) {
  const std::vector<float> t = taps_argument(taps);
  dense_response r;
  const outcome made = interruptible([&] { return taps_response(t, r); });
  if (!made) raise(made.failure());
  return dense_arrays(r);
}

py::tuple coefficients_dense(py::handle taps, long long precision, const datapath_keywords& k) {
  dense_response r;
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    const double scale = std::ldexp(1.0, f->path.coefficient.fraction_bits);
    const outcome made =
        interruptible([&] { return coefficients_response(f->coefficients, scale, r); });
    if (!made) raise(made.failure());
    return dense_arrays(r);
  }
  const quantized_taps q = quantize_argument(taps, precision);
  const outcome made = interruptible([&] {
    return coefficients_response(q.fixed.coefficients, static_cast<double>(q.fixed.path.scale), r);
  });
  if (!made) raise(made.failure());
  return dense_arrays(r);
}

double tap_error(py::handle taps, long long precision, const datapath_keywords& k) {
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k))
    return largest_tap_error(taps_argument(taps), *f);
  const quantized_taps q = quantize_argument(taps, precision);
  return largest_tap_error(q.taps, q.fixed);
}

std::int64_t accumulator_wraps(py::handle taps, py::handle x, long long precision,
                               const datapath_keywords& k) {
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    const std::vector<double> signal = signal_argument(x, "x");
    result<datapath_run> run = out_of_memory_error();
    interruptible([&] {
      run = run_datapath(*f, signal, worker_count());
      return true;
    });
    if (!run) raise(run.failure());
    return static_cast<std::int64_t>(run.value().accumulator_overflows);
  }
  const quantized_taps q = quantize_argument(taps, precision);
  const std::vector<double> signal = signal_argument(x, "x");
  std::optional<result<fixed_run>> run;
  interruptible([&] {
    run = run_fixed_model(q.fixed, signal);
    return true;
  });
  if (!run->ok()) raise(run->failure());
  return run->value().wraps;
}

py::dict bound_at(py::handle taps, long long precision) {
  const std::vector<float> t = taps_argument(taps);
  return bound_dict(wrap_bound_at(t, precision_argument(precision)));
}

std::optional<std::int32_t> wrap_free_limit(py::handle taps) {
  return largest_wrap_free_precision(taps_argument(taps));
}

}  // namespace fixfir::python
