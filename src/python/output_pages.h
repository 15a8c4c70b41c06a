#pragma once
// The arrays fixfir.filter and fixfir.Filter return. A long output is laid in pages of the
// module's own, and when its array is freed the pages wait for the next long output instead
// of going back to the system: fresh pages cost the system a fault and a zeroing each (on
// a long signal, more than the filtering itself), where kept pages are written at once.
// At most two regions wait, each marked free-on-demand (MADV_FREE), so the system takes them
// back when it runs short of memory, and a later call then simply faults them in again.

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstdint>

namespace fixfir::python {

/// An uninitialised one-dimensional array of `n` values, in kept pages where it is long;
/// MemoryError when memory runs out.
template <class T>
pybind11::array_t<T> output_array(std::size_t n);

extern template pybind11::array_t<std::int32_t> output_array<std::int32_t>(std::size_t);
extern template pybind11::array_t<std::int64_t> output_array<std::int64_t>(std::size_t);

}  // namespace fixfir::python
