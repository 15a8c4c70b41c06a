// The console tool's fixed-point model on numpy arrays: its coefficients, its waveform test
// and its sweep, computed by the same libraries, so every array holds the bits that fixfir
// prints.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "array_io.h"
#include "fixfir/common/records.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/drivers/sine_service.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/precision_sweep.h"
#include "fixfir/measurement/waveform_model.h"
#include "interrupts.h"
#include "python_bindings.h"

namespace py = pybind11;

namespace fixfir::python {

quantized_taps quantize_argument(py::handle taps, long long precision) {
  quantized_taps q;
  q.taps = taps_argument(taps);
  result<fixed_filter> made =
      make_fixed_filter(q.taps, precision_datapath(precision_argument(precision)));
  if (!made) {
    if (made.failure().kind == error_kind::out_of_memory) throw std::bad_alloc();
    throw py::value_error(made.failure().message);
  }
  q.fixed = std::move(made).value();
  return q;
}

py::tuple quantize(py::handle taps, long long precision, const datapath_keywords& k) {
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    return py::make_tuple(to_array(f->coefficients.data(), f->coefficients.size()),
                          std::ldexp(1.0, f->path.coefficient.fraction_bits));
  }
  const quantized_taps q = quantize_argument(taps, precision);
  return py::make_tuple(to_array(q.fixed.coefficients.data(), q.fixed.coefficients.size()),
                        q.fixed.path.scale);
}

py::array_t<double> output(py::handle acc, double scale) {
  const std::vector<std::int32_t> a = int32_argument(acc, "acc");
  // A scale whose square is 0, infinite or NaN would give infinities or NaN for every word.
  if (const double square = scale * scale; !std::isfinite(square) || square == 0.0) {
    raise_with(PyExc_ValueError,
               "scale must be a number whose square is finite and not 0 (as 2^precision), not " +
                   py::repr(py::float_(scale)).cast<std::string>());
  }
  py::array_t<double> out(static_cast<py::ssize_t>(a.size()));
  double* y = out.mutable_data();
  for (std::size_t i = 0; i < a.size(); ++i) y[i] = fir_output(scale, a[i]);
  return out;
}

namespace {

// The waveform test: its exact inputs through the filter on the run service.
py::tuple datapath_waveform_test(const fixed_filter& f, const frequency_settings& settings) {
  result<waveform_signal> signal = out_of_memory_error();
  result<datapath_run> run = out_of_memory_error();
  const bool ok = interruptible([&] {
    signal = make_waveform_signal(settings, worker_count());
    if (!signal) return false;
    run = run_signal(f, signal.value().input, worker_count());
    return static_cast<bool>(run);
  });
  if (!ok) raise(!signal ? signal.failure() : run.failure());
  const waveform_signal& w = signal.value();
  const std::vector<double>& y = run.value().output;
  return py::make_tuple(to_array(w.time.data(), w.time.size()),
                        to_array(w.input.data(), w.input.size()), to_array(y.data(), y.size()));
}

}  // namespace

py::tuple waveform_test(py::handle taps, long long precision, long long initial, long long step,
                        long long ending, const datapath_keywords& k) {
  const frequency_settings settings{int32_value(initial, "initial"), int32_value(step, "step"),
                                    int32_value(ending, "ending")};
  if (settings.frequency_step == 0) throw py::value_error("step must not be 0");
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k))
    return datapath_waveform_test(*f, settings);
  const quantized_taps q = quantize_argument(taps, precision);
  return datapath_waveform_test(q.fixed, settings);
}

py::tuple sweep(py::handle taps, long long precision, long long step, const datapath_keywords& k) {
  const std::int32_t df = int32_value(step, "step");
  if (df < 1) throw py::value_error("step must be at least 1, not " + std::to_string(df));
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    const std::vector<float> given = taps_argument(taps);
    sweep_request ask;
    ask.taps = given;
    ask.step = df;
    ask.threads = worker_count();
    precision_sweeps sweeps;
    if (!interruptible([&] { return sweep_filters(std::span(&*f, 1), ask, sweeps).ok(); }))
      throw std::bad_alloc();
    const std::vector<double>& peak = sweeps.runs.at(0).peak;
    return py::make_tuple(to_array(sweeps.frequency.data(), sweeps.frequency.size()),
                          to_array(peak.data(), peak.size()));
  }
  const quantized_taps q = quantize_argument(taps, precision);
  const auto n = static_cast<std::size_t>(sweep_frequency_count(df));
  py::array_t<std::int32_t> frequencies(static_cast<py::ssize_t>(n));
  py::array_t<double> peaks(static_cast<py::ssize_t>(n));
  std::int32_t* f_out = frequencies.mutable_data();
  double* peak_out = peaks.mutable_data();
  const bool ok = interruptible([&] {
    std::size_t i = 0;
    return sweep_peaks(q.fixed, df, worker_count(),
                       [&](std::int32_t frequency, std::uint64_t peak) {
                         f_out[i] = frequency;
                         // On the 32-bit engine a peak is at most 2^31 - 1.
                         peak_out[i] = fir_output(static_cast<double>(q.fixed.path.scale),
                                                  static_cast<std::int32_t>(peak));
                         ++i;
                         return true;
                       })
        .ok();
  });
  if (!ok) throw std::bad_alloc();
  return py::make_tuple(frequencies, peaks);
}

}  // namespace fixfir::python
