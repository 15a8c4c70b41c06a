#include "fixfir/measurement/sine_sum_bound.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/analysis_constants.h"

namespace fixfir {

// Why the bound holds. Let θ_m be the double argument (frequency × t_m) × TWO_PI of sample m
// and ω = frequency × SAMPLE_INTERVAL × TWO_PI (as a double, taken as an exact real). Then
//   q_m = scale · sin(ω m) + r_m,  |r_m| ≤ 1 + scale · (ε + λ),
// where 1 covers the truncation toward zero, ε ≥ max |θ_m − ω m| covers the phase the
// clock's accumulation and the argument's roundings add (phase_gap), and λ covers the C library's
// sine (within 2^-52 of the true one). So for n < samples, with N the taps,
//   Σ_j c_j q_{n-j} = scale · Im(e^{iωn} P_n) + Σ_j c_j r_{n-j},  P_n = Σ_{j ≤ min(n, N-1)} c_j
//   e^{-iωj},
// and |Σ_j c_j q_{n-j}| ≤ scale · max_n |P_n| + Σ|c| · max |r|. The phasors e^{-iωj} are a
// rotation restarted from std::cos/std::sin every `restart` taps; with the prefix sums they
// err by well under 1e-12 · Σ|c|, and the bound adds 1e-9 · Σ|c| (and 1e-9 to ε) instead.

namespace {

constexpr double margin = 1e-9;
constexpr double library_sine_error = 2.3e-16;  // 2^-52, above the library's error on |sin| ≤ 1
constexpr std::size_t restart = 32;

constexpr double unit_roundoff = 0x1p-53;

// A bound on max |θ_m − ω m| over the clock: the argument's two roundings, the clock's
// drift from m × SAMPLE_INTERVAL scaled to radians, ω's own rounding times m, and a margin.
double phase_gap(double frequency, double omega, const sine_clock& clock) noexcept {
  const double radians_per_second = frequency * TWO_PI * (1.0 + 4.0 * unit_roundoff);
  const double largest_argument = radians_per_second * clock.last;
  const double largest_line = omega * static_cast<double>(clock.samples);
  return radians_per_second * clock.drift +
         (largest_argument + largest_line) * 4.0 * unit_roundoff + margin;
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

sine_clock measure_sine_clock(std::span<const double> times) noexcept {
  sine_clock clock;
  clock.samples = times.size();
  for (std::size_t m = 0; m < times.size(); ++m) {
    const double line = static_cast<double>(m) * SAMPLE_INTERVAL;
    clock.drift = std::max(clock.drift, std::fabs(times[m] - line));
    clock.last = std::max(clock.last, std::fabs(times[m]));
  }
  // The line's and the difference's roundings, each within a unit roundoff of the times.
  clock.drift += 4.0 * unit_roundoff * clock.last;
  return clock;
}

double sine_sum_bound(std::span<const std::int32_t> coefficients, double scale, double frequency,
                      const sine_clock& clock) noexcept {
  // Σ|c| exactly, then as a double: its rounding is far inside the margins below.
  const auto magnitude = static_cast<double>(coefficient_magnitude_sum(coefficients));
  if (magnitude == 0.0 || clock.samples == 0) return 0.0;
  const double omega = (frequency * SAMPLE_INTERVAL) * TWO_PI;
  const double epsilon = phase_gap(frequency, omega, clock);
  const double largest = largest_prefix(coefficients, omega, clock.samples);
  const double remainder = 1.0 + scale * (epsilon + library_sine_error);
  return scale * (largest + magnitude * margin) + magnitude * remainder;
}

bool sine_sums_cannot_wrap(std::span<const std::int32_t> coefficients, double scale,
                           double frequency, const sine_clock& clock) noexcept {
  // The bound is below the largest accumulator with room for its own rounding.
  return sine_sum_bound(coefficients, scale, frequency, clock) <
         ACCUMULATOR_LIMIT_DOUBLE * (1.0 - margin);
}

}  // namespace fixfir
