// fixfir.filter and fixfir.Filter: the fixed-point filter over a signal of any length,
// streamed through the engine a block at a time. The signal is read where it lies and the
// accumulators are written straight into the returned array, so the memory a call adds
// beyond that array grows with the taps, not with the signal; a Filter carries the last
// taps - 1 samples from one call to the next.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "fixfir/drivers/datapath_stream.h"
#include "fixfir/drivers/seed_engine.h"
#include "fixfir/engine/fir_stream.h"
#include "fixfir/engine/parallel_chunks.h"
#include "interrupts.h"
#include "output_pages.h"
#include "python_bindings.h"
#include "signal_view.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

// The 32-bit accumulators of `run(source, out)`; its failure is reported as memory running
// out (a stopped run raises the signal handler's exception instead).
template <class Run>
py::array_t<std::int32_t> seed_accumulators(const signal_view& x, Run&& run) {
  py::array_t<std::int32_t> out = output_array<std::int32_t>(x.source.count);
  std::int32_t* const acc = out.mutable_data();
  if (!interruptible([&] { return run(x.source, acc).ok(); })) throw std::bad_alloc();
  return out;
}

// The datapath's accumulators of `run(source, out)`.
template <class Run>
py::array_t<std::int64_t> datapath_accumulators(const signal_view& x, Run&& run) {
  py::array_t<std::int64_t> out = output_array<std::int64_t>(x.source.count);
  std::int64_t* const acc = out.mutable_data();
  result<datapath_stream_counts> counts = out_of_memory_error();
  interruptible([&] {
    counts = run(x.source, acc);
    return true;
  });
  if (!counts) raise(counts.failure());
  return out;
}

}  // namespace

py::object filter(py::handle taps, py::handle x, long long precision, const datapath_keywords& k) {
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    return datapath_accumulators(view_signal(x, "x"), [&](const sample_source& s, auto* acc) {
      return datapath_filter_samples(*f, s, acc, worker_count(), overflow_counting::samples_only);
    });
  }
  const quantized_taps q = quantize_argument(taps, precision);
  return seed_accumulators(view_signal(x, "x"), [&](const sample_source& s, auto* acc) {
    return seed_filter_samples(q.fixed, s, acc, worker_count());
  });
}

namespace {

/// fixfir.Filter: a filter and its state, the last taps - 1 samples it has seen. On a seed
/// datapath `seed` runs; on any other `path`.
struct stateful_filter {
  std::optional<fir_stream> seed;
  std::optional<datapath_stream> path;
  bool busy = false;  // a call is running without the interpreter lock
};

stateful_filter make_filter(py::handle taps, long long precision, const datapath_keywords& k) {
  stateful_filter made;
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    result<datapath_stream> s = make_datapath_stream(*f, overflow_counting::samples_only);
    if (!s) raise(s.failure());
    made.path = std::move(s).value();
    return made;
  }
  const quantized_taps q = quantize_argument(taps, precision);
  made.seed.emplace();
  if (!seed_stream_init(*made.seed, q.fixed).ok()) throw std::bad_alloc();
  return made;
}

// Marks a filter busy while a call runs, so that another thread's call is refused rather
// than interleaved with it.
struct busy_scope {
  explicit busy_scope(stateful_filter& f) : filter(f) {
    if (filter.busy) throw std::runtime_error("this Filter is already running in another thread");
    filter.busy = true;
  }
  ~busy_scope() { filter.busy = false; }
  busy_scope(const busy_scope&) = delete;
  busy_scope& operator=(const busy_scope&) = delete;

  stateful_filter& filter;
};

py::object filter_call(stateful_filter& f, py::handle x) {
  const signal_view v = view_signal(x, "x");
  const busy_scope running(f);
  if (f.path) {
    return datapath_accumulators(v, [&](const sample_source& s, auto* acc) {
      return datapath_stream_filter(*f.path, s, acc, worker_count());
    });
  }
  return seed_accumulators(v, [&](const sample_source& s, auto* acc) {
    return stream_filter(*f.seed, s, acc, worker_count());
  });
}

void filter_reset(stateful_filter& f) {
  const busy_scope running(f);
  if (f.path) datapath_stream_reset(*f.path);
  if (f.seed) stream_reset(*f.seed);
}

}  // namespace

void bind_filter_class(py::module_& m) {
  // The signature outlives the module's definitions: the constructor binds every call to it.
  static const signature init_s = with_datapath_keywords(
      with_datapath_keywords({"Filter", {{"taps"}, {"precision"}}, 2}), OUTPUT_KEYWORDS);
  py::class_<stateful_filter>(m, "Filter",
                              "A fixed-point filter that remembers the last samples it has "
                              "seen: f(x) gives the accumulators of the next samples x, "
                              "continuing from those before, so that the outputs of a signal "
                              "given in pieces, joined, are fixfir.filter's on the whole. "
                              "f.reset() puts it back at rest.")
      .def(py::init([](const py::args& args, const py::kwargs& kwargs) {
             const bound_call a = bind_call(init_s, args, kwargs);
             return make_filter(argument(a, "taps"), integer_named(a, "precision"),
                                datapath_arguments(a));
           }),
           signature_doc(init_s,
                         "The filter of fixfir.filter(taps, x, precision, ...) at rest, taking "
                         "the same datapath keywords.")
               .c_str())
      .def("__call__", &filter_call, py::arg("x"),
           "The accumulators for the samples x (int32, or int64 on a chosen datapath; the "
           "output words with output_bits), the samples given before them coming first.")
      .def("reset", &filter_reset, "Forgets every sample given so far: back at rest.");
}

}  // namespace fixfir::python
