#include "fixfir/measurement/spectrum.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

namespace {

constexpr double pi = 3.141592653589793;
constexpr std::size_t smallest_grid = 16384;
constexpr std::size_t largest_grid = std::size_t{1} << 20;
constexpr std::size_t points_per_lobe = 16;

// In-place radix-2 FFT (decimation in time) of a power-of-two length.
void fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  // Each twiddle is computed directly rather than by a recurrence, which would drift.
  std::vector<std::complex<double>> twiddle(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double angle = -2.0 * pi * static_cast<double>(k) / static_cast<double>(n);
    twiddle[k] = {std::cos(angle), std::sin(angle)};
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t stride = n / len;
    for (std::size_t i = 0; i < n; i += len) {
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * twiddle[k * stride];
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

}  // namespace

std::size_t dense_grid_size(std::size_t taps) noexcept {
  std::size_t n = smallest_grid;
  while (n < largest_grid && n / points_per_lobe < taps) n <<= 1;
  return n;
}

outcome dense_magnitude(std::span<const double> h, dense_response& out) noexcept {
  try {
    const std::size_t n = dense_grid_size(h.size());
    std::vector<std::complex<double>> a(n);
    // Taps beyond the FFT length fold onto it: e^(-iωj) repeats every n taps at the grid.
    for (std::size_t j = 0; j < h.size(); ++j) a[j % n] += h[j];
    fft(a);
    out.spacing = 2.0 * NYQUIST_HZ / static_cast<double>(n);
    out.magnitude.resize(n / 2 + 1);
    for (std::size_t k = 0; k < out.magnitude.size(); ++k) out.magnitude[k] = std::abs(a[k]);
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

outcome taps_response(std::span<const float> taps, dense_response& out) noexcept {
  try {
    const std::vector<double> h(taps.begin(), taps.end());
    return dense_magnitude(h, out);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

outcome coefficients_response(std::span<const std::int32_t> coefficients, double scale,
                              dense_response& out) noexcept {
  try {
    std::vector<double> h(coefficients.size());
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
    return dense_magnitude(h, out);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

double magnitude_at(std::span<const double> h, double frequency) noexcept {
  // The phase is reduced to one turn before the sine, so long tap sets keep their accuracy.
  const double turns_per_tap = frequency / (2.0 * NYQUIST_HZ);
  double re = 0.0;
  double im = 0.0;
  for (std::size_t j = 0; j < h.size(); ++j) {
    const double turns = turns_per_tap * static_cast<double>(j);
    const double phase = 2.0 * pi * (turns - std::floor(turns));
    re += h[j] * std::cos(phase);
    im -= h[j] * std::sin(phase);
  }
  return std::hypot(re, im);
}

outcome averaged_spectrum(std::span<const double> x, std::size_t segment,
                          std::vector<double>& out) noexcept {
  try {
    std::vector<double> window(segment);
    double window_power = 0.0;
    for (std::size_t i = 0; i < segment; ++i) {
      window[i] =
          0.5 - 0.5 * std::cos(2.0 * pi * static_cast<double>(i) / static_cast<double>(segment));
      window_power += window[i] * window[i];
    }
    out.assign(segment / 2 + 1, 0.0);
    std::vector<std::complex<double>> a(segment);
    std::size_t segments = 0;
    for (std::size_t start = 0; segments == 0 || start + segment <= x.size();
         start += segment / 2) {
      for (std::size_t i = 0; i < segment; ++i)
        a[i] = start + i < x.size() ? window[i] * x[start + i] : 0.0;
      fft(a);
      for (std::size_t k = 0; k < out.size(); ++k) out[k] += std::norm(a[k]);
      ++segments;
    }
    const double norm =
        2.0 / (window_power * static_cast<double>(segment) * static_cast<double>(segments));
    for (double& v : out) v *= norm;
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
