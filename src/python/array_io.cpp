#include "array_io.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "fixfir/coefficients/tap_file.h"
#include "fixfir/drivers/run_counts.h"

namespace py = pybind11;

namespace fixfir::python {

py::array one_dimensional(py::handle obj, const char* name, const char* kinds,
                          const char* expected) {
  py::array a = py::array::ensure(obj);
  const std::string what = std::string(name) + " must be " + expected;
  if (!a) throw py::type_error(what);
  if (std::string(kinds).find(a.dtype().kind()) == std::string::npos) {
    throw py::type_error(what + ", not an array of dtype " +
                         py::str(a.dtype()).cast<std::string>());
  }
  if (a.ndim() != 1) {
    throw py::value_error(std::string(name) + " must be one-dimensional, not of shape " +
                          py::str(py::tuple(a.attr("shape"))).cast<std::string>());
  }
  return a;
}

namespace {

template <class T>
std::vector<T> copy_as(const py::array& a) {
  const auto typed = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(a);
  if (!typed) throw py::error_already_set();
  return std::vector<T>(typed.data(), typed.data() + typed.size());
}

// Round to nearest, as the hardware conversion does, without converting a value that is
// out of the float range (which C++ leaves undefined): half an ulp above FLT_MAX and
// beyond goes to infinity, ties going to the even neighbour.
float to_single(double v) noexcept {
  constexpr double overflow = 0x1.ffffffp127;
  if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
  if (v >= overflow) return std::numeric_limits<float>::infinity();
  if (v <= -overflow) return -std::numeric_limits<float>::infinity();
  if (v > FLT_MAX) return FLT_MAX;
  if (v < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(v);
}

std::vector<float> single_taps(py::handle taps) {
  const py::array a = one_dimensional(taps, "taps", "fiu", "an array of real numbers");
  if (a.size() == 0) throw py::value_error("taps must not be empty");
  if (a.size() > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error("taps has more entries than a 32-bit count can hold");
  }
  if (a.dtype().equal(py::dtype::of<float>())) return copy_as<float>(a);
  const std::vector<double> wide = copy_as<double>(a);
  std::vector<float> out(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) out[i] = to_single(wide[i]);
  return out;
}

}  // namespace

std::vector<float> taps_argument(py::handle taps) {
  std::vector<float> out = single_taps(taps);
  if (const outcome finite = check_finite_taps(out); !finite)
    throw py::value_error(finite.failure().message);
  return out;
}

std::vector<double> signal_argument(py::handle x, const char* name) {
  return copy_as<double>(one_dimensional(x, name, "fiu", "an array of real numbers"));
}

std::vector<std::int32_t> int32_argument(py::handle x, const char* name) {
  const py::array a = one_dimensional(x, name, "iu", "an array of integers");
  const std::string too_wide = std::string(name) + " holds a value that does not fit 32 bits";
  std::vector<std::int32_t> out;
  out.reserve(static_cast<std::size_t>(a.size()));
  if (a.dtype().kind() == 'u') {
    for (const std::uint64_t v : copy_as<std::uint64_t>(a)) {
      if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw py::value_error(too_wide);
      }
      out.push_back(static_cast<std::int32_t>(v));
    }
  } else {
    for (const std::int64_t v : copy_as<std::int64_t>(a)) {
      if (v > std::numeric_limits<std::int32_t>::max() ||
          v < std::numeric_limits<std::int32_t>::min()) {
        throw py::value_error(too_wide);
      }
      out.push_back(static_cast<std::int32_t>(v));
    }
  }
  return out;
}

std::int32_t int32_value(long long value, const char* name) {
  if (value > std::numeric_limits<std::int32_t>::max() ||
      value < std::numeric_limits<std::int32_t>::min()) {
    throw py::value_error(std::string(name) + " must fit 32 bits, not " + std::to_string(value));
  }
  return static_cast<std::int32_t>(value);
}

void check_tone_count(const frequency_settings& tones) {
  if (const std::int32_t n = tone_count(tones); n > MOST_MEASURED_TONES) {
    throw py::value_error("the waveform test would sum " + std::to_string(n) +
                          " tones, more than " + std::to_string(MOST_MEASURED_TONES) +
                          ": give a larger step or a narrower initial to ending");
  }
}

std::int32_t precision_argument(long long precision) {
  if (precision < 0 || precision > 30) {
    throw py::value_error("precision must be 0 to 30 (a scale of 2^precision), not " +
                          std::to_string(precision));
  }
  return static_cast<std::int32_t>(precision);
}

}  // namespace fixfir::python
