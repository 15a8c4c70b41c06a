#pragma once
// The run service: one fixed-point filter run over unit sines from rest, on the kernel its
// datapath allows, each run handed to the measurement that asked for it.
//
// The 32-bit engine (fir_engine.h) runs a filter whose datapath it computes exactly: the
// seed's (32-bit words of P fractional bits, toward zero, a 32-bit wrapping accumulator),
// and any other whose unit-sine samples are trunc(2^F_x × sin) within their word and whose
// sums never need more than 31 bits, so that no word or sum overflows. Every other datapath
// runs on the exact kernels (datapath_run.h): doubles, 64 or 128 bits as its sums need,
// reduced to its A bits. The sines are the very values std::sin gives on the sweep's clock
// either way, and a run's accumulators stand for accumulator × output_unit in real units.
//
// The sweeps themselves are scheduled by sweep_unit_sines (unit_sine_sweep.h): a measurement
// runs the filters it needs with `run_sine` on the worker it was handed.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/drivers/unit_sine_sweep.h"
#include "fixfir/engine/fir_engine.h"

namespace fixfir {

/// The kernel a filter's runs take.
enum class run_kernel : std::uint8_t {
  narrow,  ///< the 32-bit engine, accumulators wrapping modulo 2^32
  exact,   ///< the exact kernels, accumulators reduced to the datapath's A bits
};

/// The kernel that runs `f` exactly, as the file's note says.
[[nodiscard]] run_kernel kernel_for(const fixed_filter& f) noexcept;

/// One filter made ready for unit sines of a fixed length, one lane per worker. It borrows
/// the filter, which must outlive it unmoved.
struct sine_runner {
  const fixed_filter* filter = nullptr;
  run_kernel kernel = run_kernel::narrow;
  std::size_t samples = 0;
  fir_workspace ws;                ///< the 32-bit engine's lanes (narrow only)
  std::vector<datapath_run> runs;  ///< each lane's last exact run (exact only)
  std::vector<sine_basis> sines;   ///< each lane's sine for its exact run (exact only)
};

/// Makes `r` ready to run `f` over `samples` samples on `lanes` workers (at least 1). Fails
/// out_of_memory when memory cannot be had.
[[nodiscard]] outcome sine_runner_init(sine_runner& r, const fixed_filter& f, std::size_t samples,
                                       unsigned lanes) noexcept;

/// One run of a unit sine as a measurement reads it: on the 32-bit engine its lane, on the
/// exact kernels its reduced accumulators and overflow counts.
struct sine_run {
  run_kernel kernel = run_kernel::narrow;
  /// The 32-bit engine's lane: sample words trunc(2^F_x × sin) and accumulators modulo 2^32.
  fir_lane lane;
  /// The exact kernels' accumulators, one per sample, within A bits (empty on the engine).
  std::span<const std::int64_t> exact;
  /// On the exact kernels: samples of the run that overflowed their word, and outputs from
  /// the window's first block on whose sum did not fit A bits. 0 on the engine, where the
  /// seed's wraps are for the measurement to find (wrap_checks.h) and others cannot happen.
  std::size_t sample_overflows = 0;
  std::size_t accumulator_overflows = 0;
  /// With an output stage (exact kernels only): the output words in real units, which the
  /// measurements read instead of the accumulators; empty without one.
  std::span<const double> staged_output;
};

/// Runs a unit sine at `frequency` from rest through `r`'s filter on lane `worker`, over
/// `window` (sine_window: samples before its first are not generated, accumulators before
/// its first output not computed). The run stays valid until the lane's next run.
/// out_of_memory when an exact run cannot have its memory.
[[nodiscard]] result<sine_run> run_sine(sine_runner& r, unsigned worker, double frequency,
                                        sine_window window = {}) noexcept;

/// On the 32-bit engine, the run of another filter's lane at 2^shift times `r`'s scale
/// made again from that lane's samples (run_rescaled_sine): the same run `run_sine` gives,
/// without the sines. Both runners must be narrow.
[[nodiscard]] sine_run run_rescaled(sine_runner& r, unsigned worker, const sine_run& source,
                                    unsigned shift, sine_window window = {}) noexcept;

/// The largest |accumulator| among the run's first `n`, in accumulator units. On the
/// 32-bit engine -2^31 has none and never counts, as in fixfir's sweep.
[[nodiscard]] std::uint64_t run_peak(const sine_run& run, std::size_t n) noexcept;

/// The largest |output| among the run's first `n` in real units: run_peak × `unit`, or
/// with an output stage the largest output word's.
[[nodiscard]] double run_peak_value(const sine_run& run, std::size_t n, double unit) noexcept;

/// The run's first `n` accumulators as signed 32-bit values (narrow runs only).
[[nodiscard]] std::span<const std::int32_t> narrow_accumulators(const sine_run& run,
                                                                std::size_t n) noexcept;

/// The run's first `n` sample words (narrow runs only).
[[nodiscard]] std::span<const std::int32_t> narrow_samples(const sine_run& run,
                                                           std::size_t n) noexcept;

/// `f` over the signal `x` from rest, on up to `threads` threads: on the 32-bit engine for
/// fixfir's precisions (its accumulators, and as overflows the outputs whose exact sum
/// differs from them, counted only where some sum can wrap; outputs a ÷ scale²), on
/// `run_datapath` for every other datapath. out_of_memory when memory runs out, interrupted
/// when the keep-going check (parallel_chunks.h) stops it.
[[nodiscard]] result<datapath_run> run_signal(const fixed_filter& f, std::span<const double> x,
                                              unsigned threads) noexcept;

}  // namespace fixfir
