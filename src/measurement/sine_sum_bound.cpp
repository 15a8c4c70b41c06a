#include "sine_sum_bound.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>

#include "analysis_constants.h"

namespace fixfir {

// Why the bound holds. Let θ_m be the double argument (frequency × t_m) × TWO_PI of sample m
// and ω = frequency × SAMPLE_INTERVAL × TWO_PI (as a double, taken as an exact real). Then
//   q_m = scale · sin(ω m) + r_m,  |r_m| ≤ 1 + scale · (ε + λ),
// where 1 covers the truncation toward zero, ε ≥ max |θ_m − ω m| covers the phase the
// clock's accumulation and the argument's roundings add, and λ covers the C library's sine
// (within 2^-52 of the true one). So for n < samples, with N the taps,
//   Σ_j c_j q_{n-j} = scale · Im(e^{iωn} P_n) + Σ_j c_j r_{n-j},  P_n = Σ_{j ≤ min(n, N-1)} c_j
//   e^{-iωj},
// and |Σ_j c_j q_{n-j}| ≤ scale · max_n |P_n| + Σ|c| · max |r|. The phasors e^{-iωj} are a
// rotation restarted from std::cos/std::sin every `restart` taps; with the prefix sums they
// err by well under 1e-12 · Σ|c|, and the bound adds 1e-9 · Σ|c| (and 1e-9 to ε) instead.

namespace {

constexpr double margin = 1e-9;
constexpr double library_sine_error = 2.3e-16;  // 2^-52, above the library's error on |sin| ≤ 1
constexpr std::size_t restart = 32;

// The largest gap between the run's phases and a straight line of slope ω, with margin.
double phase_gap(double frequency, double omega, std::span<const double> times) noexcept {
  double gap = 0.0;
  for (std::size_t m = 0; m < times.size(); ++m) {
    const double theta = (frequency * times[m]) * TWO_PI;
    gap = std::max(gap, std::fabs(theta - omega * static_cast<double>(m)));
  }
  return gap + margin;
}

// max over n < outputs of |P_n|, P_n the prefix sums of c_j e^{-iωj}.
double largest_prefix(std::span<const std::int32_t> c, double omega, std::size_t outputs) noexcept {
  const std::size_t count = std::min(c.size(), outputs);
  const std::complex<double> step(std::cos(omega), -std::sin(omega));
  std::complex<double> sum(0.0, 0.0);
  std::complex<double> phasor(1.0, 0.0);
  double largest = 0.0;
  for (std::size_t j = 0; j < count; ++j) {
    if (j % restart == 0) {
      const double a = omega * static_cast<double>(j);
      phasor = std::complex<double>(std::cos(a), -std::sin(a));
    }
    sum += static_cast<double>(c[j]) * phasor;
    largest = std::max(largest, std::norm(sum));
    phasor *= step;
  }
  return std::sqrt(largest);
}

}  // namespace

double sine_sum_bound(std::span<const std::int32_t> coefficients, double scale, double frequency,
                      std::span<const double> times) noexcept {
  double magnitude = 0.0;
  for (std::int32_t c : coefficients) magnitude += std::fabs(static_cast<double>(c));
  if (magnitude == 0.0 || times.empty()) return 0.0;
  const double omega = (frequency * SAMPLE_INTERVAL) * TWO_PI;
  const double epsilon = phase_gap(frequency, omega, times);
  const double largest = largest_prefix(coefficients, omega, times.size());
  const double remainder = 1.0 + scale * (epsilon + library_sine_error);
  return scale * (largest + magnitude * margin) + magnitude * remainder;
}

bool sine_sums_cannot_wrap(std::span<const std::int32_t> coefficients, double scale,
                           double frequency, std::span<const double> times) noexcept {
  // The bound is below the largest accumulator with room for its own rounding.
  return sine_sum_bound(coefficients, scale, frequency, times) < 2147483647.0 * (1.0 - margin);
}

}  // namespace fixfir
