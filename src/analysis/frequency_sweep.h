#pragma once
// Frequency-response sweep: for each frequency from 4 Hz to 8000 Hz in steps of the
// frequency step, a unit sine from rest through the fixed-point filter; the peak
// accumulator magnitude over 4000 samples, in real units, goes to "frequency.txt".

#include <cstdint>
#include <cstdio>
#include <string>

#include "fir_core.h"
#include "records.h"

namespace fixfir {

inline constexpr std::int32_t SWEEP_FIRST_FREQUENCY = 4;
inline constexpr std::int32_t SWEEP_LAST_FREQUENCY = 8000;
inline constexpr std::int32_t SWEEP_SAMPLES = 4000;
inline constexpr std::int32_t PROGRESS_INTERVAL = 500;
inline constexpr const char* frequency_file_name = "frequency.txt";

/// The largest accumulator magnitude over `SWEEP_SAMPLES` samples of a unit sine at
/// `frequency` hertz, from rest. -2^31 has no 32-bit magnitude and never counts.
[[nodiscard]] std::int32_t sweep_peak(fir_state& state, std::int32_t frequency) noexcept;

/// Appends one "%d\t%lf\n" line for `frequency` and its peak.
void append_sweep_line(std::string& out, const fir_state& state, std::int32_t frequency,
                       std::int32_t peak);

/// The swept frequencies: 4, 4 + step, … up to 8000. The count never overflows: any step
/// from 7997 up gives only 4. `step` must be at least 1.
[[nodiscard]] std::int32_t sweep_frequency_count(std::int32_t step) noexcept;

/// Runs the sweep with `settings.frequency_step` and writes "frequency.txt", with a
/// "." on `console` for every swept multiple of 500 as it goes. A step below 1 gives
/// "Invalid frequency step\n" and leaves the file alone.
status run_frequency_sweep(const quantized_filter& filter, const frequency_settings& settings,
                           std::FILE* console = stdout);

}  // namespace fixfir
