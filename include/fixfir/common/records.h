#pragma once
// Records shared by the dialogue, the coefficient preparation and the analyses.

#include <cstdint>

#include "fixfir/common/heap_array.h"

namespace fixfir {

/// Result of the steps of fixfir's dialogue and of the readers, writers and analyses it
/// calls, which its answers are built on: 0 for success, -1 for failure (a file
/// that cannot be opened, read or written), and `out_of_memory`, which tells the dialogue
/// that the run cannot go on. Other entries return `result<T>` / `outcome` (result.h), the
/// convention for new and reworked library entries (the report's measurement library's
/// are); steps whose only way to fail is memory (the engine's workspaces and runs) return
/// a plain `bool`, true when it could be had. Nothing throws from one library into another.
enum class status : std::int32_t { ok = 0, failure = -1, out_of_memory = -2 };

/// The three frequency answers, in hertz. Written once by the dialogue, then read-only.
struct frequency_settings {
  std::int32_t initial_frequency = 0;
  std::int32_t frequency_step = 0;
  std::int32_t ending_frequency = 0;
};

/// The taps as read from the tap file; tap 0 multiplies the newest sample.
/// A slot that the file did not fill holds 0.0.
struct tap_list {
  std::int32_t count = 0;
  heap_array<float> taps;
};

/// The fixed-point filter: `count` 32-bit coefficients at `scale` = 2^precision.
/// The coefficients are borrowed from whoever owns them (the dialogue).
struct quantized_filter {
  std::int32_t scale = 0;
  std::int32_t count = 0;
  const std::int32_t* coefficients = nullptr;
};

}  // namespace fixfir
