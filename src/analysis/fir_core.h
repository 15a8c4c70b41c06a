#pragma once
// Fixed-point FIR core and the sample clock shared by both analyses.
//
// Scaling and overflow: each input sample x is quantized to s = trunc(scale × x)
// (64-bit truncation, low 32 bits kept). The accumulator is Σ c[j] · s[n - j] with every
// product and sum wrapping modulo 2^32, so it is in units of scale²; `fir_output`
// divides by scale² (a double product) to give real units. Nothing saturates: an
// overflowing sum wraps, which is what the tool exists to show.

#include <cstdint>

#include "conversion.h"
#include "records.h"

namespace fixfir {

/// Seconds between samples: 16,000 samples per second.
inline constexpr double SAMPLE_INTERVAL = 6.25e-05;
/// The sine argument is (frequency × t) × TWO_PI, in that order.
inline constexpr double TWO_PI = 6.283185307179586;

/// Filter state: a ring of the real-valued input samples, newest at `index`.
struct fir_state {
  const std::int32_t* coefficients = nullptr;
  std::int32_t count = 0;
  double scale = 0.0;
  heap_array<double> history;
  std::int32_t index = 0;
};

/// Sets up `state` over `filter` and allocates its history (zeroed). Returns false when
/// the allocation fails. A filter with no taps has no history and always sums to 0.
[[nodiscard]] bool fir_init(fir_state& state, const quantized_filter& filter) noexcept;

/// Fills `times` with the sample clock from 0.0: each time is the one before plus
/// SAMPLE_INTERVAL, a repeated double addition (not n × SAMPLE_INTERVAL).
void fill_sample_times(heap_array<double>& times) noexcept;

/// Clears the history to 0.0 and sets `index` to 0.
void fir_reset(fir_state& state) noexcept;

/// Stores `x` as the newest sample and returns the 32-bit wrapped accumulator
/// Σ c[j] · trunc(scale × x[n - j]). Each history slot is quantized afresh from its
/// real value, the straightforward way; it is the reference for faster kernels.
std::int32_t fir_step(fir_state& state, double x) noexcept;

/// The accumulator `a` in real units: a ÷ (scale × scale).
[[nodiscard]] double fir_output(const fir_state& state, std::int32_t a) noexcept;

/// The sample quantizer: trunc(scale × x) keeping the low 32 bits.
[[nodiscard]] inline std::int32_t quantize_sample(double scale, double x) noexcept {
  return real_to_int32(scale * x);
}

}  // namespace fixfir
