#pragma once
// The fixed-point filter laid out for speed; same accumulators as `fir_step`.
//
// Each sample is quantized once, when it arrives (the quantized value of a slot depends
// only on the real value stored there), and written twice into a double-length history,
// so the window of the newest `count` samples is always contiguous. With the coefficients
// stored oldest-first the accumulator is a plain dot product of two arrays, which the
// vector kernel computes in 32-bit wrapping lanes. The newest samples are weighted one by
// one instead: they were stored moments ago, and a vector load over a store still in
// flight waits for it to land.

#include <cstdint>

#include "records.h"

namespace fixfir {

/// Streaming filter state for `fast_fir_step`.
struct fast_fir_state {
  std::int32_t count = 0;
  double scale = 0.0;
  std::int32_t index = 0;       ///< slot of the next sample, 0 to count - 1
  std::int32_t newest = 0;      ///< the newest samples, weighted one by one (at most 8)
  std::int32_t padding = 0;     ///< zero coefficients before the first real one
  std::int32_t dot_length = 0;  ///< padding + count - newest, a multiple of `DOT_LANES`
  /// padding zeros, then c[count - 1], …, c[0].
  heap_array<std::uint32_t> reversed;
  /// padding slots (never weighted), then 2 × count quantized samples: the sample of
  /// slot k is stored at k and k + count.
  heap_array<std::uint32_t> history;
};

/// Sets up `state` over `filter` with a zeroed history. Returns false when an allocation
/// fails. A filter with no taps always sums to 0.
[[nodiscard]] bool fast_fir_init(fast_fir_state& state, const quantized_filter& filter) noexcept;

/// Back to rest: every earlier sample counts as 0.
void fast_fir_reset(fast_fir_state& state) noexcept;

/// Stores `x` as the newest sample and returns the accumulator Σ c[j] · trunc(scale ×
/// x[n - j]), wrapped to 32 bits: the value `fir_step` returns for the same samples.
std::int32_t fast_fir_step(fast_fir_state& state, double x) noexcept;

/// `count` coefficients oldest-first as unsigned lanes: out[i] = c[count - 1 - i].
void reverse_coefficients(const std::int32_t* coefficients, std::int32_t count,
                          std::uint32_t* out) noexcept;

}  // namespace fixfir
