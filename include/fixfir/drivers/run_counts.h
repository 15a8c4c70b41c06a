#pragma once
// How many tones a waveform test sums and how many frequencies a sweep visits: what a
// summary can say of a run before it is made, without the engine.

#include <cstdint>

#include "fixfir/common/records.h"

namespace fixfir {

/// N = (ending - initial) ÷ step + 1, in wrapping 32-bit arithmetic with truncating
/// division. `frequency_step` must not be 0. N of 0 or less means no tones.
[[nodiscard]] std::int32_t tone_count(const frequency_settings& settings) noexcept;

/// The swept frequencies: 4, 4 + step, … up to 8000. The count never overflows: any step
/// from 7997 up gives only 4. `step` must be at least 1.
[[nodiscard]] std::int32_t sweep_frequency_count(std::int32_t step) noexcept;

}  // namespace fixfir
