#include "signal_view.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "array_io.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

// Reads the elements of type T `stride` bytes apart from `base` as doubles. The elements
// may be unaligned, so each is copied out before it is converted (as numpy's cast does,
// with the C conversion: exact for float32 and the narrower integers, to nearest for
// 64-bit integers).
template <class T>
sample_reader strided_reader(const char* base, py::ssize_t stride) {
  return [base, stride](std::size_t first, std::size_t count, double* out) {
    const char* p = base + static_cast<std::ptrdiff_t>(first) * stride;
    for (std::size_t k = 0; k < count; ++k, p += stride) {
      T v;
      std::memcpy(&v, p, sizeof v);
      out[k] = static_cast<double>(v);
    }
  };
}

// The reader of `a`'s elements when its dtype is T in native byte order.
template <class T>
bool read_as(const py::array& a, sample_source& source) {
  if (!a.dtype().equal(py::dtype::of<T>())) return false;
  source.read = strided_reader<T>(static_cast<const char*>(a.data()), a.strides(0));
  return true;
}

}  // namespace

signal_view view_signal(py::handle x, const char* name) {
  signal_view v;
  v.held = one_dimensional(x, name, "fiu", "an array of real numbers");
  v.source.count = static_cast<std::size_t>(v.held.size());
  if (v.source.count == 0) return v;
  const bool doubles = v.held.dtype().equal(py::dtype::of<double>());
  const bool aligned = reinterpret_cast<std::uintptr_t>(v.held.data()) % alignof(double) == 0;
  if (doubles && aligned &&
      (v.source.count == 1 || v.held.strides(0) == static_cast<py::ssize_t>(sizeof(double)))) {
    v.source.contiguous = static_cast<const double*>(v.held.data());
    return v;
  }
  if (read_as<double>(v.held, v.source) || read_as<float>(v.held, v.source) ||
      read_as<std::int8_t>(v.held, v.source) || read_as<std::int16_t>(v.held, v.source) ||
      read_as<std::int32_t>(v.held, v.source) || read_as<std::int64_t>(v.held, v.source) ||
      read_as<std::uint8_t>(v.held, v.source) || read_as<std::uint16_t>(v.held, v.source) ||
      read_as<std::uint32_t>(v.held, v.source) || read_as<std::uint64_t>(v.held, v.source)) {
    return v;
  }
  // A dtype the readers do not know: numpy converts it, whole.
  v.held = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(v.held);
  if (!v.held) throw py::error_already_set();
  v.source.contiguous = static_cast<const double*>(v.held.data());
  return v;
}

}  // namespace fixfir::python
