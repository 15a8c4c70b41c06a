#pragma once
// How many tones a waveform test sums and how many frequencies a sweep visits: what a
// summary can say of a run before it is made, without the engine.

#include <cstdint>

#include "fixfir/common/records.h"

namespace fixfir {

/// N = (ending - initial) ÷ step + 1, in wrapping 32-bit arithmetic with truncating
/// division. `frequency_step` must not be 0. N of 0 or less means no tones.
[[nodiscard]] std::int32_t tone_count(const frequency_settings& settings) noexcept;

/// The most tones the report's measurements sum (fixfir itself sums any number). Each tone
/// costs a sine per sample of the test, and tones 16000 Hz apart meet the sample instants at
/// the same phase (up to the clock's rounding), so more than 16001 tones only repeat tones:
/// the bound keeps every useful test to seconds of work, and refuses one that would run
/// silently for hours.
inline constexpr std::int32_t MOST_MEASURED_TONES = 1 << 15;

/// The swept frequencies: 4, 4 + step, … up to 8000. The count never overflows: any step
/// from 7997 up gives only 4. `step` must be at least 1.
[[nodiscard]] std::int32_t sweep_frequency_count(std::int32_t step) noexcept;

}  // namespace fixfir
