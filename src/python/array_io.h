#pragma once
// Checked copies between numpy arrays and the engine's plain buffers. Every argument is
// copied in before any computation, so a caller's array is never modified and the
// engine can run without the interpreter lock.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "fixfir/common/records.h"

namespace fixfir::python {

/// A one-dimensional numpy view of `obj` (lists and tuples are converted) whose dtype kind
/// is one of `kinds`; else a TypeError saying `name` must be `expected`, or a ValueError
/// for another shape.
pybind11::array one_dimensional(pybind11::handle obj, const char* name, const char* kinds,
                                const char* expected);

/// The taps in single precision, as the tap file reader holds them: a float32 array as
/// it is, any other real or integer array through float64 and then rounded to the
/// nearest float. Raises on a wrong dtype or shape, on an empty array, and on a tap that
/// is not a finite number (NaN, ±inf, or beyond the float range, which rounds to ±inf).
std::vector<float> taps_argument(pybind11::handle taps);

/// A one-dimensional array of real or integer numbers as float64; may be empty.
std::vector<double> signal_argument(pybind11::handle x, const char* name);

/// A one-dimensional integer array whose values fit 32 bits, as int32; may be empty.
std::vector<std::int32_t> int32_argument(pybind11::handle x, const char* name);

/// `value` as a 32-bit integer, or a ValueError naming `name`.
std::int32_t int32_value(long long value, const char* name);

/// A ValueError when the waveform test of `tones` would sum more than MOST_MEASURED_TONES.
void check_tone_count(const frequency_settings& tones);

/// `precision` checked to be in 0..30, the range that gives a usable scale.
std::int32_t precision_argument(long long precision);

/// A fresh numpy array holding a copy of `n` values at `data`.
template <class T>
pybind11::array_t<T> to_array(const T* data, std::size_t n) {
  pybind11::array_t<T> out(static_cast<pybind11::ssize_t>(n));
  if (n != 0) std::copy(data, data + n, out.mutable_data());
  return out;
}

}  // namespace fixfir::python
