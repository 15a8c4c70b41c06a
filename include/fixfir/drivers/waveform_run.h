#pragma once
// The run service's waveform: one signal from rest through a fixed-point filter on the
// 32-bit engine, its samples made and its outputs measured a block at a time on the
// machine's threads.
//
// The signal's maker writes each block's real inputs and their sample words
// trunc(2^F_x × x) (on fixfir's precisions, quantize_sample at the filter's scale); once
// every block is made, the blocks are filtered, each handed to the measurement as its
// accumulators are ready (Σ c[j] · s[n - j] modulo 2^32, in units of output_unit, or of
// scale² on fixfir's precisions), and reported in order on the calling thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// The samples of a block, handed to a thread at a time (the last block may be shorter).
inline constexpr std::size_t waveform_block_samples = 1024;

/// The samples of a waveform run a block spans: [begin, end) of the run.
struct waveform_block {
  std::size_t index = 0;  ///< blocks rise with time from 0
  std::size_t begin = 0;
  std::size_t end = 0;
  std::span<const double> time;   ///< the sample clock (fill_sample_times) over the block
  std::span<double> input;        ///< the real inputs, written by the maker
  std::span<std::int32_t> words;  ///< their sample words, written by the maker
  /// The accumulators, once the block is filtered (empty while it is made).
  std::span<const std::int32_t> accumulators;
};

/// What to run and how it is measured. The callbacks run on worker threads, a block at a
/// time each, and must not throw.
struct waveform_request {
  std::size_t samples = 0;
  unsigned threads = 1;  ///< of which the caller's is one (at least 1)
  /// Writes a block's inputs and words; every block is made before any is filtered. A long
  /// maker asks keep_going() now and then and returns early when it answers false.
  std::function<void(const waveform_block&)> make;
  /// Reads a block once filtered.
  std::function<void(const waveform_block&)> measure;
  /// When set, called on the calling thread in rising block order, each once that block
  /// and every earlier one are measured, while later ones are filtered; false stops the run.
  std::function<bool(std::size_t block)> in_order;
};

/// Runs `w`'s signal through `f`, which must take the 32-bit engine (kernel_for). Fails
/// bad_input for a filter that does not, out_of_memory when memory runs out, interrupted
/// when `in_order` returns false or the keep-going check (parallel_chunks.h) stops it.
[[nodiscard]] outcome run_waveform(const fixed_filter& f, const waveform_request& w) noexcept;

}  // namespace fixfir
