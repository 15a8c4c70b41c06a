#pragma once
// The fixed-point filter over a signal of any length, a block at a time, carried from one
// call to the next.
//
// Scaling and overflow are those of fir_engine.h: each sample is quantized once to
// s = trunc(scale × x) (low 32 bits kept), and the accumulator for sample n is
// Σ c[j] · s[n - j], every product and sum wrapping modulo 2^32. Between calls a stream keeps
// only the last taps - 1 quantized samples, so the outputs of any split of a signal into
// pieces, joined, are those of the whole signal from rest.
//
// Memory: each worker holds one block of quantized samples and the taps - 1 before it,
// whatever the signal's length. The samples are read in place where they are contiguous
// doubles, else a block at a time through a reader; the accumulators are written straight
// into the caller's array.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "fixfir/common/heap_array.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// Copies samples [first, first + count) of a signal into `out` as doubles. Must not throw;
/// may be called on any worker thread, for overlapping ranges.
using sample_reader = std::function<void(std::size_t first, std::size_t count, double* out)>;

/// A signal of `count` samples: the doubles at `contiguous` when it is set, else `read`'s.
struct sample_source {
  std::size_t count = 0;
  const double* contiguous = nullptr;
  sample_reader read;
};

/// The `n` doubles at `x` as a source.
[[nodiscard]] inline sample_source contiguous_samples(const double* x, std::size_t n) {
  return sample_source{n, x, {}};
}

/// A 32-bit filter and the last taps - 1 samples it has seen, quantized (zero at rest).
struct fir_stream {
  double scale = 0.0;
  std::size_t taps = 0;                ///< coefficients; 0 sums to 0 forever
  heap_array<std::uint32_t> reversed;  ///< c[taps - 1], …, c[0]
  heap_array<std::uint32_t> history;   ///< taps - 1 samples, oldest first
};

/// Makes `s` a stream of `filter` at rest; fails (out_of_memory) when memory cannot be had.
[[nodiscard]] outcome stream_init(fir_stream& s, const quantized_filter& filter) noexcept;

/// Puts `s` back at rest: its history is forgotten.
void stream_reset(fir_stream& s) noexcept;

/// out[k] is the accumulator for sample k of `x`, the stream's history coming before it;
/// the history then ends with x's samples. Computed on up to `threads` threads; the result
/// does not depend on them. Fails out_of_memory when memory cannot be had, interrupted when
/// the keep-going check (parallel_chunks.h) stopped it: `out` is then partly written and the
/// stream unchanged.
[[nodiscard]] outcome stream_filter(fir_stream& s, const sample_source& x, std::int32_t* out,
                                    unsigned threads) noexcept;

/// The accumulators of `filter` from rest over `x`: `stream_filter` on a fresh stream,
/// skipping the coefficients no sample of so short a signal can meet.
[[nodiscard]] outcome filter_samples(const quantized_filter& filter, const sample_source& x,
                                     std::int32_t* out, unsigned threads) noexcept;

}  // namespace fixfir
