#pragma once
// A bound on the sums a quantized unit sine can drive a filter to, found in time linear in
// the taps and samples, so that a sweep can skip the exact wrap check (or the run at a
// lower precision that settles it) wherever the bound already shows no sum can wrap.

#include <cstddef>
#include <cstdint>
#include <span>

namespace fixfir {

/// What the bound needs of a run's sample clock: its length, its last time, and how far
/// it strays from the straight line m × SAMPLE_INTERVAL (with room for rounding). One clock
/// serves every frequency of a sweep.
struct sine_clock {
  std::size_t samples = 0;
  double last = 0.0;
  double drift = 0.0;
};

/// Measures `times` (a run's sample clock from 0, steps of about SAMPLE_INTERVAL).
[[nodiscard]] sine_clock measure_sine_clock(std::span<const double> times) noexcept;

/// An upper bound on |Σ_j c[j] · q[n - j]| over the outputs n < clock.samples of a run from
/// rest, where q[m] = trunc(scale × sin((frequency × t_m) × TWO_PI)) are the sweep's
/// quantized samples on that clock. Exact integer sums, no wrapping: when the bound is below
/// 2^31 no accumulator of the run wraps. `scale` is at most 2^30; `frequency` is from 0 to
/// 8000 Hz. Rounding in the bound's own arithmetic is covered by margins many times its size.
[[nodiscard]] double sine_sum_bound(std::span<const std::int32_t> coefficients, double scale,
                                    double frequency, const sine_clock& clock) noexcept;

/// True when sine_sum_bound shows that no sum of the run can leave the 32-bit range.
[[nodiscard]] bool sine_sums_cannot_wrap(std::span<const std::int32_t> coefficients, double scale,
                                         double frequency, const sine_clock& clock) noexcept;

}  // namespace fixfir
