#pragma once
// Multi-tone waveform test: a two-second sum of equal-amplitude tones through the
// fixed-point filter, written to "waves.txt" as "t\tx\ty" lines.

#include <cstdint>
#include <cstdio>
#include <string>

#include "fir_core.h"
#include "records.h"

namespace fixfir {

inline constexpr std::int32_t WAVEFORM_SAMPLES = 32000;
inline constexpr const char* waves_file_name = "waves.txt";
inline constexpr const char* invalid_step_message = "Invalid frequency step\n";

/// N = (ending - initial) ÷ step + 1, in wrapping 32-bit arithmetic with truncating
/// division. `frequency_step` must not be 0. N of 0 or less means no tones.
[[nodiscard]] std::int32_t tone_count(const frequency_settings& settings) noexcept;

/// The input sample at time `t`: Σ sin((f_k × t) × TWO_PI) ÷ N over the N tones
/// f_k = initial + k × step (accumulated in double), added in rising k.
[[nodiscard]] double multitone_sample(const frequency_settings& settings, std::int32_t tones,
                                      double t) noexcept;

/// Runs the filter in `state` from rest over the test signal and appends the 32000
/// lines to `out`. `frequency_step` must not be 0.
void append_waveform_lines(fir_state& state, const frequency_settings& settings, std::string& out);

/// Runs the test and writes "waves.txt". A step of 0 gives "Invalid frequency step\n";
/// a file that cannot be opened "Cannot open output file\n"; a failed write "Cannot
/// write output file\n"; each returns `failure` and leaves any earlier file alone where
/// it was not yet opened.
status run_waveform_test(const quantized_filter& filter, const frequency_settings& settings,
                         std::FILE* console = stdout);

}  // namespace fixfir
