#pragma once
// Multi-tone waveform test: a two-second sum of equal-amplitude tones through the
// fixed-point filter, written to "waves.txt" as "t\tx\ty" lines.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "fir_core.h"
#include "parallel_chunks.h"
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

/// What the fast waveform test needs, allocated before it starts. Only the first
/// WAVEFORM_SAMPLES taps can meet a sample of the test, so its size stops growing there.
struct waveform_plan {
  std::int32_t taps = 0;  ///< min(count, WAVEFORM_SAMPLES)
  double scale = 0.0;
  unsigned threads = 1;
  std::size_t outputs = 0;                 ///< WAVEFORM_SAMPLES rounded up to CONVOLVE_BLOCK
  heap_array<std::uint32_t> reversed;      ///< c[taps - 1], …, c[0]
  heap_array<double> times;                ///< the sample clock t of each sample
  heap_array<double> inputs;               ///< x of each sample
  heap_array<std::uint32_t> signal;        ///< taps - 1 zeros, then `outputs` samples
  heap_array<std::uint32_t> accumulators;  ///< `outputs` accumulators
};

/// Prepares the test of `filter` on `threads` threads (at least 1). Returns false when
/// memory cannot be had.
[[nodiscard]] bool waveform_plan_init(waveform_plan& plan, const quantized_filter& filter,
                                      unsigned threads) noexcept;

/// Computes the test on the plan's threads and hands the text, the same bytes as
/// `append_waveform_lines`, to `write` piece by piece in order on the calling thread.
/// The samples' inputs are independent, so they are computed in parallel, each summing
/// its tones in rising order. `frequency_step` must not be 0. Returns false, having
/// written nothing more, when memory runs out.
[[nodiscard]] bool waveform_plan_run(waveform_plan& plan, const frequency_settings& settings,
                                     const std::function<void(std::string_view)>& write);

/// The fast test's text, appended to `out`. Returns false when memory cannot be had.
[[nodiscard]] bool append_waveform_lines_fast(const quantized_filter& filter,
                                              const frequency_settings& settings, unsigned threads,
                                              std::string& out);

/// Runs the test and writes "waves.txt". A step of 0 gives "Invalid frequency step\n";
/// a file that cannot be opened "Cannot open output file\n"; a failed write "Cannot
/// write output file\n"; each returns `failure` and leaves any earlier file alone where
/// it was not yet opened.
status run_waveform_test(const quantized_filter& filter, const frequency_settings& settings,
                         std::FILE* console = stdout, unsigned threads = worker_count());

}  // namespace fixfir
