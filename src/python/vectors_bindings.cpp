// fixfir.vectors: the bit-exact test vectors fixfir-report --vectors writes, as arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "array_io.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/test_vectors.h"
#include "fixfir/measurement/waveform_model.h"
#include "interrupts.h"
#include "python_bindings.h"

namespace py = pybind11;

namespace fixfir::python {

py::dict vectors(py::handle taps, std::optional<long long> precision, long long initial,
                 long long step, long long ending, const datapath_keywords& k) {
  const frequency_settings settings{int32_value(initial, "initial"), int32_value(step, "step"),
                                    int32_value(ending, "ending")};
  if (settings.frequency_step == 0) throw py::value_error("step must not be 0");
  check_tone_count(settings);
  const datapath_choices c = choices_argument(precision, k);
  if (!precision && !datapath_options_given(c))
    throw py::value_error("vectors needs precision or the datapath keywords");
  const std::vector<float> t = taps_argument(taps);
  result<datapath> d = datapath_from_choices(t, c);
  if (!d) raise(d.failure());
  result<fixed_filter> f = make_fixed_filter(t, d.value());
  if (!f) raise(f.failure());
  result<waveform_signal> signal = out_of_memory_error();
  result<test_vectors> v = out_of_memory_error();
  const bool ok = interruptible([&] {
    signal = make_waveform_signal(settings, worker_count());
    if (!signal) return false;
    v = make_test_vectors(f.value(), signal.value().input, worker_count());
    return static_cast<bool>(v);
  });
  if (!ok) raise(!signal ? signal.failure() : v.failure());
  const test_vectors& w = v.value();
  py::list kind;
  for (const stimulus s : w.kind) kind.append(stimulus_name(s));
  const datapath& p = f.value().path;
  py::dict out;
  out["stimulus"] = kind;
  out["input"] = to_array(w.input.data(), w.input.size());
  out["accumulator"] = to_array(w.accumulator.data(), w.accumulator.size());
  out["output"] = to_array(w.output.data(), w.output.size());
  out["input_bits"] = p.sample.bits;
  out["output_bits"] = p.output.bits != 0 ? p.output.bits : p.accumulator_bits;
  out["datapath"] = datapath_words(p);
  return out;
}

}  // namespace fixfir::python
