#include "fixfir/measurement/amplitude_integrals.h"

#include <cmath>
#include <limits>
#include <new>

#include "fixfir/measurement/spectrum.h"

namespace fixfir {

result<amplitude> symmetric_amplitude(std::span<const float> taps) noexcept {
  const std::size_t n = taps.size();
  for (std::size_t j = 0; j < n; ++j) {
    if (!std::isfinite(taps[j])) return make_error(error_kind::bad_input, "a tap is not finite");
    if (taps[j] != taps[n - 1 - j])
      return make_error(error_kind::bad_input, "the taps are not symmetric");
  }
  const std::size_t count = (n + 1) / 2;
  amplitude out;
  out.half_offset = n % 2 == 0 ? 1 : 0;
  try {
    out.a.resize(count);
    out.rounding.resize(count);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  for (std::size_t k = 0; k < count; ++k) {
    const float t = taps[count - 1 - k];
    const float size = std::fabs(t);
    const double half_ulp =
        (static_cast<double>(std::nextafter(size, std::numeric_limits<float>::infinity())) -
         static_cast<double>(size)) /
        2.0;
    const double twice = out.half_offset == 0 && k == 0 ? 1.0 : 2.0;  // the middle tap once
    out.a[k] = twice * static_cast<double>(t);
    out.rounding[k] = twice * half_ulp;
  }
  return out;
}

namespace {

constexpr double pi = 3.141592653589793;

// e^(iπ e / 16000), the turn by which the sines below step from one index to the next.
std::complex<double> half_turn(double e) {
  const double turns = e / (4.0 * NYQUIST_HZ);
  const double angle = 2.0 * pi * (turns - std::floor(turns));
  return {std::cos(angle), std::sin(angle)};
}

// s[q] = ∫_0^e cos(2π f (q / 2) / 16000) df for q = 0 … s.size() − 1. The sines come from
// repeated turns rather than a call each: the error grows by about an ulp a step, far
// below the float rounding of the taps that decides a fit.
void sine_integrals(double e, std::vector<double>& s) {
  s[0] = e;
  const std::complex<double> step = half_turn(e);
  std::complex<double> z = step;
  for (std::size_t q = 1; q < s.size(); ++q, z *= step) {
    const double d = static_cast<double>(q) / 2.0;
    s[q] = z.imag() * (2.0 * NYQUIST_HZ) / (2.0 * pi * d);
  }
}

}  // namespace

// cos x cos y = (cos(x − y) + cos(x + y)) / 2 turns each integral into sine integrals.
void integrate_to(const amplitude& amp, double e, std::size_t rows, edge_terms& out) {
  const std::size_t count = amp.a.size();
  const std::size_t h = amp.half_offset;
  out.sines.resize(4 * count);
  out.area.resize(rows);
  out.basis.resize(rows);
  sine_integrals(e, out.sines);
  for (std::size_t k = 0; k < rows; ++k) {
    double sum = 0.0;
    for (std::size_t m = 0; m < count; ++m) {
      const std::size_t difference = m > k ? m - k : k - m;
      sum += amp.a[m] * (out.sines[2 * difference] + out.sines[2 * (m + k) + 2 * h]);
    }
    out.area[k] = sum / 2.0;
    out.basis[k] = out.sines[2 * k + h];
  }
}

double amplitude_area(const amplitude& amp, double e) {
  double sum = 0.0;
  const std::complex<double> step = half_turn(e);
  const std::complex<double> full = step * step;
  std::complex<double> z = amp.half_offset == 0 ? std::complex<double>(1.0, 0.0) : step;
  for (std::size_t k = 0; k < amp.a.size(); ++k, z *= full) {
    const double d = static_cast<double>(2 * k + amp.half_offset) / 2.0;
    sum += d == 0.0 ? amp.a[k] * e : amp.a[k] * z.imag() * (2.0 * NYQUIST_HZ) / (2.0 * pi * d);
  }
  return sum;
}

}  // namespace fixfir
