#pragma once
// Frequency-response sweep: for each frequency from 4 Hz to 8000 Hz in steps of the
// frequency step, a unit sine from rest through the fixed-point filter; the peak
// accumulator magnitude over 4000 samples, in real units, goes to "frequency.txt".

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "fir_core.h"
#include "parallel_chunks.h"
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

/// The straightforward sweep: every line of "frequency.txt" for `step` (at least 1), one
/// frequency after another through `fir_step`. It is the reference for the fast sweep.
void append_sweep_lines(fir_state& state, std::int32_t step, std::string& out);

/// What the fast sweep needs, allocated before it starts. Only the first SWEEP_SAMPLES
/// taps can meet a sample within a run from rest, so its size stops growing there: the
/// shared reversed taps and clock, plus per thread one block of sines, of quantized samples
/// and of accumulators.
struct sweep_plan {
  std::int32_t taps = 0;  ///< min(count, SWEEP_SAMPLES)
  double scale = 0.0;
  unsigned threads = 1;
  std::size_t outputs = 0;                 ///< SWEEP_SAMPLES rounded up to CONVOLVE_BLOCK
  std::size_t signal_stride = 0;           ///< taps - 1 zeros, then `outputs` samples
  heap_array<std::uint32_t> reversed;      ///< c[taps - 1], …, c[0]
  heap_array<double> times;                ///< the sample clock t of each sample
  heap_array<double> inputs;               ///< threads × SWEEP_SAMPLES sines
  heap_array<std::uint32_t> signals;       ///< threads × signal_stride
  heap_array<std::uint32_t> accumulators;  ///< threads × outputs
};

/// Prepares a sweep of `filter` on `threads` threads (at least 1). Returns false when
/// memory cannot be had.
[[nodiscard]] bool sweep_plan_init(sweep_plan& plan, const quantized_filter& filter,
                                   unsigned threads) noexcept;

/// The peaks of every swept frequency for `step` (at least 1), the values `sweep_peak`
/// gives, computed on the plan's threads. `line(frequency, peak)` is called on the calling
/// thread in rising frequency order while the later frequencies are still being computed.
void sweep_plan_run(sweep_plan& plan, std::int32_t step,
                    const std::function<void(std::int32_t frequency, std::int32_t peak)>& line);

/// The fast sweep's text: the same bytes as `append_sweep_lines`. Returns false when
/// memory cannot be had.
[[nodiscard]] bool append_sweep_lines_fast(const quantized_filter& filter, std::int32_t step,
                                           unsigned threads, std::string& out);

/// Runs the sweep with `settings.frequency_step` and writes "frequency.txt", with a
/// "." on `console` for every swept multiple of 500 as it goes. A step below 1 gives
/// "Invalid frequency step\n" and leaves the file alone. The frequencies are computed
/// on `threads` threads; the file and the dots come out as from a single thread.
status run_frequency_sweep(const quantized_filter& filter, const frequency_settings& settings,
                           std::FILE* console = stdout, unsigned threads = worker_count());

}  // namespace fixfir
