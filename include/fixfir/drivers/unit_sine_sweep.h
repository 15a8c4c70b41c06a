#pragma once
// The sweep: unit sines from rest at a list of frequencies, one frequency per worker at a
// time on the machine's threads, each handed to a measurement as its turn comes; the one
// loop over swept frequencies outside the straightforward reference.
//
// A measurement receives the frequency, its index and the worker it runs on, and runs the
// filters it needs over that frequency's sine on the run service (sine_service.h: `run_sine`
// on the worker's lane); several filters, or one over part of the run only, are the
// measurement's choice. Below the service, the drivers' own lane runs (unit_sine_lanes.h)
// fill a lane of the engine's workspace (fir_engine.h): samples trunc(scale × sin),
// accumulators wrapping modulo 2^32 in units of scale².

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "fixfir/common/result.h"
#include "fixfir/engine/fir_engine.h"

namespace fixfir {

/// The largest multiple of the engine's block of outputs (CONVOLVE_BLOCK) at most `n`, where
/// a window's outputs may start.
[[nodiscard]] std::size_t output_block_floor(std::size_t n) noexcept;

/// The smallest such multiple at least `n`: a workspace's outputs for `n` samples.
[[nodiscard]] std::size_t output_block_ceil(std::size_t n) noexcept;

/// The part of a run a measurement reads. Samples before `first_sample` are not generated
/// (the lane keeps what it held), accumulators before `first_output` are not computed. For
/// a filter of `taps` taps, `first_sample` must be 0 or at most first_output - (taps - 1),
/// so that every computed output meets only generated samples (or the rest before 0).
struct sine_window {
  std::size_t first_sample = 0;
  std::size_t first_output = 0;  ///< a multiple of CONVOLVE_BLOCK
};

/// The largest 32-bit magnitude among the lane's first `n` accumulators, at least 0
/// (-2^31 has none and never counts).
[[nodiscard]] std::int32_t peak_accumulator(const fir_lane& lane, std::size_t n) noexcept;

/// One frequency of a sweep, as its measurement receives it.
struct swept_sine {
  std::size_t index = 0;   ///< in the sweep's list
  double frequency = 0.0;  ///< hertz
  unsigned worker = 0;     ///< the lane this thread owns in every runner
};

/// Called on a worker thread once per frequency; must not throw.
using sine_measurement = std::function<void(const swept_sine&)>;

/// What to sweep.
struct unit_sine_sweep {
  std::span<const double> frequencies;
  /// Threads, of which the caller's is one; every runner a measurement runs needs a lane
  /// for each (at least 1).
  unsigned threads = 1;
  std::size_t per_chunk = 8;  ///< frequencies handed to a thread at a time (at least 1)
  /// When set, called on the calling thread in rising index order, each once its
  /// frequency and every earlier one are measured, while later ones are computed; false
  /// stops the sweep. Unset: frequencies are measured in any order. Must not throw.
  std::function<bool(std::size_t index)> in_order;
};

/// Measures every frequency once. Stops early, with `interrupted`, when `in_order` returns
/// false or the keep-going check (parallel_chunks.h) answers false; `out_of_memory` when
/// the threads' bookkeeping cannot be had (then nothing is measured).
[[nodiscard]] outcome sweep_unit_sines(const unit_sine_sweep& sweep,
                                       const sine_measurement& measure) noexcept;

}  // namespace fixfir
