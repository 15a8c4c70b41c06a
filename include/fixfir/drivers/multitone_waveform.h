#pragma once
// Multi-tone waveform test: a two-second sum of equal-amplitude tones through the
// fixed-point filter, written to "waves.txt" as "t\tx\ty" lines.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/drivers/run_counts.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

inline constexpr const char* waves_file_name = "waves.txt";
inline constexpr const char* invalid_step_message = "Invalid frequency step\n";

/// The input sample at time `t`: Σ sin((f_k × t) × TWO_PI) ÷ N over the N tones
/// f_k = initial + k × step (accumulated in double), added in rising k.
[[nodiscard]] double multitone_sample(const frequency_settings& settings, std::int32_t tones,
                                      double t) noexcept;

/// x[n] = multitone_sample(settings, tone_count(settings), times[n]) for n < count, bit for
/// bit, computed on `threads` threads: the input the test quantizes, and the one the
/// report's double model filters. `frequency_step` must not be 0. Fails interrupted when the
/// run is abandoned (`keep_going`), out_of_memory when its bookkeeping cannot be allocated.
[[nodiscard]] outcome exact_waveform_inputs(const frequency_settings& settings, const double* times,
                                            double* x, std::size_t count,
                                            unsigned threads) noexcept;

/// Appends one "%lf\t%lf\t%lf\n" line.
void append_waveform_line(std::string& out, double t, double x, double y);

/// Computes the test through `f` on `threads` threads, a measurement on the run service's
/// waveform (waveform_run.h), and hands its text, the lines of "waves.txt", to `write`
/// piece by piece in order on the calling thread while later pieces are computed. The
/// inputs come from the guarded sums: they print as the exact sums do (they may differ in
/// the last bits), and their samples are the exact sums'. The outputs print as
/// accumulator ÷ scale². Every buffer is allocated before the first piece is written.
/// `frequency_step` must not be 0, and `f` is on one of fixfir's precisions. Fails, having
/// written nothing more, out_of_memory when memory runs out and interrupted when `write`
/// returns false or the keep-going check stops it.
[[nodiscard]] outcome waveform_text(const fixed_filter& f, const frequency_settings& settings,
                                    unsigned threads,
                                    const std::function<bool(std::string_view)>& write) noexcept;

/// Runs the test and writes "waves.txt". A step of 0 gives "Invalid frequency step\n";
/// a file that cannot be opened "Cannot open output file\n"; a failed write "Cannot
/// write output file\n"; each returns `failure` and leaves any earlier file alone where
/// it was not yet opened.
status run_waveform_test(const fixed_filter& f, const frequency_settings& settings,
                         std::FILE* console = stdout, unsigned threads = worker_count());

}  // namespace fixfir
