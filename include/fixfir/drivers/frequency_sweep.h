#pragma once
// Frequency-response sweep: for each frequency from 4 Hz to 8000 Hz in steps of the
// frequency step, a unit sine from rest through the fixed-point filter; the peak
// accumulator magnitude over 4000 samples, in real units, goes to "frequency.txt".

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/drivers/run_counts.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

inline constexpr std::int32_t PROGRESS_INTERVAL = 500;
inline constexpr const char* frequency_file_name = "frequency.txt";

/// The 32-bit magnitude of an accumulator; -2^31 has none and stays negative, so it never
/// becomes a peak.
[[nodiscard]] inline std::int32_t accumulator_magnitude(std::int32_t acc) noexcept {
  return acc < 0 && acc != INT32_MIN ? -acc : acc;
}

/// Appends one "%d\t%lf\n" line for `frequency` and its peak at `scale`.
void append_sweep_line(std::string& out, double scale, std::int32_t frequency, std::int32_t peak);

/// The `index`-th swept frequency for `step`.
[[nodiscard]] inline std::int32_t swept_frequency(std::int32_t step, std::int32_t index) noexcept {
  return SWEEP_FIRST_FREQUENCY + index * step;  // at most 8000, so it fits
}

/// Every swept frequency for `step`, from SWEEP_FIRST_FREQUENCY up to SWEEP_LAST_FREQUENCY:
/// the one frequency grid of fixfir's sweep, the report's and the search's. Empty for a
/// step below 1. Throws std::bad_alloc when memory runs out.
[[nodiscard]] std::vector<std::int32_t> sweep_grid(std::int32_t step);

/// The peaks of every swept frequency: a measurement on the run service (sine_service.h),
/// `f`'s unit sines over SWEEP_SAMPLES samples on `threads` threads, the largest
/// |accumulator| of each (run_peak: in accumulator units, × output_unit in real units; on
/// the 32-bit engine -2^31 never counts). `line(frequency, peak)` in rising frequency order
/// on the calling thread. Fails interrupted when `line` returns false or the keep-going
/// check stops it, out_of_memory when memory runs out.
[[nodiscard]] outcome sweep_peaks(
    const fixed_filter& f, std::int32_t step, unsigned threads,
    const std::function<bool(std::int32_t frequency, std::uint64_t peak)>& line) noexcept;

/// Runs the sweep of `f`, on one of fixfir's precisions, with `settings.frequency_step` and
/// writes "frequency.txt" (each peak ÷ scale²), with a "." on `console` for every swept
/// multiple of 500 as it goes. A step below 1 gives "Invalid frequency step\n" and leaves
/// the file alone. The frequencies are computed on `threads` threads; the file and the dots
/// come out as from a single thread.
status run_frequency_sweep(const fixed_filter& f, const frequency_settings& settings,
                           std::FILE* console = stdout, unsigned threads = worker_count());

}  // namespace fixfir
