#pragma once
// A signal argument read where it lies: the engine streams it a block at a time, so a long
// signal is never copied whole.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "fixfir/engine/fir_stream.h"

namespace fixfir::python {

/// A one-dimensional real or integer array as the engine reads it. `held` keeps the array
/// alive (and unmoved) while `source` reads it, without the interpreter lock.
struct signal_view {
  pybind11::array held;
  sample_source source;
};

/// The signal `x` (named `name` in errors, which are those of `signal_argument`): aligned
/// contiguous float64 in place; other strides and the native float32 and integer dtypes
/// converted to float64 a block at a time, as numpy converts them; any other dtype (float16,
/// long double, another byte order) converted whole first.
[[nodiscard]] signal_view view_signal(pybind11::handle x, const char* name);

}  // namespace fixfir::python
