#pragma once
// The frame the streaming filters share (fir_stream.h, datapath_stream.h): a signal cut into
// chunks of samples, each filtered on a worker from a window of quantized samples that holds
// the chunk's own samples behind the taps - 1 before them; before the signal's first sample
// those come from the stream's history.
//
// A worker's window sits behind `pad` zero words that are never written. The kernels
// (fast_kernel.h) skip the products that meet their zero prefix signal[0 .. taps - 1) only for
// outputs below taps + CONVOLVE_BLOCK, so a window read from `first` = pad ≥ taps is summed
// in full, history and all; a stream at rest is read from first = the chunk's own position
// instead (below pad), so that the zero history in front of the signal is skipped exactly as
// a run from rest skips it.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fast_kernel.h"
#include "fixfir/common/heap_array.h"
#include "fixfir/engine/fir_stream.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

/// How a call cuts its signal.
struct stream_plan {
  std::size_t taps = 0;     ///< coefficients, at least 1
  std::size_t samples = 0;  ///< in the signal
  std::size_t block = 0;    ///< samples per chunk, a multiple of CONVOLVE_BLOCK
  std::size_t chunks = 0;
  unsigned workers = 1;  ///< at most max(chunks, 1)
  std::size_t pad = 0;   ///< zero words in front of each window: taps
  /// Words of one worker's window buffer: the pad, the history, a block.
  [[nodiscard]] std::size_t window_words() const noexcept { return pad + taps - 1 + block; }
};

/// The plan for `samples` samples through `taps` (at least 1) coefficients on up to
/// `threads` threads. A chunk is near 2^24 multiply-adds: long enough that handing it over
/// costs little, short enough that a stop is seen within milliseconds, and the taps - 1
/// samples each window repeats are a small part of its work. A short signal is cut so that
/// every worker has several chunks.
[[nodiscard]] inline stream_plan plan_stream(std::size_t taps, std::size_t samples,
                                             unsigned threads) noexcept {
  stream_plan p;
  p.taps = taps;
  p.samples = samples;
  std::size_t block = std::clamp<std::size_t>((std::size_t{1} << 24) / taps, 256, 32768);
  const std::size_t share = samples / (4 * std::size_t{std::max(threads, 1U)});
  block = std::min(block, std::max<std::size_t>(share, 256));
  p.block = (block + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  p.chunks = (samples + p.block - 1) / p.block;
  p.workers = static_cast<unsigned>(
      std::clamp<std::size_t>(p.chunks, 1, std::size_t{std::max(threads, 1U)}));
  p.pad = taps;
  return p;
}

/// One chunk as its worker sees it.
template <class Word>
struct stream_chunk {
  unsigned worker = 0;
  std::size_t begin = 0;  ///< the chunk's first sample in the signal
  std::size_t count = 0;  ///< its samples, at most a block
  /// taps - 1 + count samples: the taps - 1 before the chunk's first, then its own.
  const Word* window = nullptr;
  /// The kernels' view: signal[first + k + i] is window[k + i], which coefficient
  /// reversed[i] meets at the chunk's output k; signal[0 .. taps - 1) is zero, and readable
  /// up to first + block + taps - 2.
  const Word* signal = nullptr;
  std::size_t first = 0;
};

/// Runs `plan` over `x`: for each chunk, on some worker, quantizes its window with
/// `quantize(worker, reals, words, n, own)` (`own` is true once for each sample of the
/// signal, false for the samples a window repeats and for the history) and hands it to
/// `filter(const stream_chunk<Word>&)`; then `history` (taps - 1 words, oldest first) ends
/// with x's last samples. Neither callback may throw. False when memory cannot be had or
/// the run was stopped; `history` is then unchanged.
template <class Word, class Quantize, class Filter>
[[nodiscard]] bool stream_blocks(const stream_plan& plan, Word* history, const sample_source& x,
                                 Quantize&& quantize, Filter&& filter) noexcept {
  const std::size_t keep = plan.taps - 1;
  const std::size_t n = plan.samples;
  if (n == 0) return true;
  const std::size_t reals_per_worker = keep + plan.block;
  heap_array<Word> windows;
  heap_array<double> reals;
  if (!allocate_zeroed(windows, plan.workers * plan.window_words()) ||
      (x.contiguous == nullptr && !allocate_zeroed(reals, plan.workers * reals_per_worker))) {
    return false;
  }
  // At rest the history is zero, and the kernels may skip it.
  const bool at_rest = std::all_of(history, history + keep, [](Word w) { return w == 0; });
  // Samples [from, to) of x as doubles, read on worker w.
  auto reals_of = [&](unsigned w, std::size_t from, std::size_t to) -> const double* {
    if (x.contiguous != nullptr) return x.contiguous + from;
    double* r = reals.begin() + w * reals_per_worker;
    x.read(from, to - from, r);
    return r;
  };
  auto work = [&](unsigned w, std::size_t chunk) {
    const std::size_t begin = chunk * plan.block;
    const std::size_t count = std::min(plan.block, n - begin);
    Word* const base = windows.begin() + w * plan.window_words();
    Word* const window = base + plan.pad;
    // window[j] is the sample at begin - keep + j; history[i] the one at i - keep.
    const std::size_t held = keep > begin ? keep - begin : 0;
    std::copy(history + keep - held, history + keep, window);
    const std::size_t from = begin + held - keep;  // the window's first sample of x
    const double* r = reals_of(w, from, begin + count);
    quantize(w, r, window + held, begin - from, false);
    quantize(w, r + (begin - from), window + keep, count, true);
    const std::size_t first = at_rest ? std::min(begin, plan.pad) : plan.pad;
    filter(stream_chunk<Word>{w, begin, count, window, base + plan.pad - first, first});
  };
  if (!run_chunks_in_order(plan.chunks, plan.workers, work, [](std::size_t) { return true; })) {
    return false;
  }
  if (n >= keep) {
    quantize(0U, reals_of(0, n - keep, n), history, keep, false);
  } else {
    std::copy(history + n, history + keep, history);
    quantize(0U, reals_of(0, 0, n), history + keep - n, n, false);
  }
  return true;
}

}  // namespace fixfir
