#pragma once
// A bound on the sums a quantized unit sine can drive a filter to, found in time linear in
// the taps and samples, so that a sweep can skip the exact wrap check (or the run at a
// lower precision that settles it) wherever the bound already shows no sum can wrap.

#include <cstdint>
#include <span>

namespace fixfir {

/// An upper bound on |Σ_j c[j] · q[n - j]| over the outputs n < times.size() of a run from
/// rest, where q[m] = trunc(scale × sin((frequency × times[m]) × TWO_PI)) are the sweep's
/// quantized samples. Exact integer sums, no wrapping: when the bound is below 2^31 no
/// accumulator of the run wraps. `times` is the run's sample clock (steps of about
/// SAMPLE_INTERVAL from 0); `scale` is at most 2^30. Rounding in the bound's own arithmetic
/// is covered by margins many times its size.
[[nodiscard]] double sine_sum_bound(std::span<const std::int32_t> coefficients, double scale,
                                    double frequency, std::span<const double> times) noexcept;

/// True when sine_sum_bound shows that no sum of the run can leave the 32-bit range.
[[nodiscard]] bool sine_sums_cannot_wrap(std::span<const std::int32_t> coefficients, double scale,
                                         double frequency, std::span<const double> times) noexcept;

}  // namespace fixfir
