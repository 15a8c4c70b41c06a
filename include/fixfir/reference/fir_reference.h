#pragma once
// The straightforward fixed-point filter: a ring of real samples, each quantized afresh
// whenever it is weighted, one multiply-add at a time. It is slow on purpose: it is the
// oracle that the fast engine, both analyses and the report are checked against, so it
// shares none of their code: only the numeric conversions, the records and the constants.
//
// Scaling and overflow: s = trunc(scale × x) keeping the low 32 bits, the accumulator
// Σ c[j] · s[n - j] wraps modulo 2^32, and an output is the accumulator ÷ scale².

#include <cstdint>
#include <string>

#include "fixfir/common/records.h"

namespace fixfir {

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

/// Clears the history to 0.0 and sets `index` to 0.
void fir_reset(fir_state& state) noexcept;

/// Stores `x` as the newest sample and returns the 32-bit wrapped accumulator
/// Σ c[j] · trunc(scale × x[n - j]).
std::int32_t fir_step(fir_state& state, double x) noexcept;

/// The largest accumulator magnitude over `SWEEP_SAMPLES` samples of a unit sine at
/// `frequency` hertz, from rest. -2^31 has no 32-bit magnitude and never counts.
[[nodiscard]] std::int32_t sweep_peak(fir_state& state, std::int32_t frequency) noexcept;

/// Every line of "frequency.txt" for `step` (at least 1), one frequency after another.
void append_sweep_lines(fir_state& state, std::int32_t step, std::string& out);

/// Every line of "waves.txt" for `settings` (`frequency_step` not 0), from rest.
void append_waveform_lines(fir_state& state, const frequency_settings& settings, std::string& out);

}  // namespace fixfir
