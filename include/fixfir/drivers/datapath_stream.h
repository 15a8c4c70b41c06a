#pragma once
// A filter on its own datapath over a signal of any length, a block at a time, carried from
// one call to the next: the streaming form of `run_datapath` (datapath_run.h).
//
// Scaling and overflow are those of datapath_run.h: sample n is quantize_word(x[n], sample
// word), and its accumulator is the exact sum Σ c[j] · s[n - j] reduced to the datapath's
// A bits (wrapped or saturated). Between calls a stream keeps only the last taps - 1 sample
// words, so the outputs of any split of a signal into pieces, joined, are those of the whole
// signal from rest, and each equals `run_datapath`'s accumulator. Memory, as for the 32-bit
// stream (fir_stream.h): a block and the taps - 1 samples before it per worker.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"
#include "fixfir/engine/fir_stream.h"

namespace fixfir {

/// Which overflows a stream counts.
enum class overflow_counting : std::uint8_t {
  all,           ///< samples and accumulators
  samples_only,  ///< samples alone: the accumulator count is left 0, and a wrapping
                 ///< accumulator takes the fastest kernel whose low bits are right
};

/// A filter on its datapath and the last taps - 1 sample words it has seen (zero at rest).
struct datapath_stream {
  datapath path;
  overflow_counting counting = overflow_counting::all;
  std::vector<std::int32_t> reversed;  ///< c[taps - 1], …, c[0]; {0} for a filter without taps
  std::vector<double> real_reversed;   ///< the same, as doubles
  std::uint64_t magnitude_sum = 0;     ///< Σ |c|
  std::vector<std::int32_t> history;   ///< taps - 1 sample words, oldest first
};

/// How many values did not fit their words over one call.
struct datapath_stream_counts {
  std::size_t sample_overflows = 0;       ///< samples that did not fit the sample word
  std::size_t accumulator_overflows = 0;  ///< outputs whose exact sum did not fit A bits
  std::size_t output_overflows = 0;       ///< output words that did not fit W_y bits
};

/// A stream of `f` on `f.path` at rest, counting as `counting` says. bad_input for a datapath
/// outside its limits (datapath_problem); out_of_memory when memory runs out.
[[nodiscard]] result<datapath_stream> make_datapath_stream(
    const fixed_filter& f, overflow_counting counting = overflow_counting::all) noexcept;

/// Puts `s` back at rest: its history is forgotten.
void datapath_stream_reset(datapath_stream& s) noexcept;

/// out[k] is the accumulator for sample k of `x`, the stream's history coming before it, or
/// with an output stage its output word (output_word, datapath.h); the history then ends with
/// x's samples. Computed on up to `threads` threads; the result
/// does not depend on them. out_of_memory when memory runs out, interrupted when the
/// keep-going check (parallel_chunks.h) answers false: `out` is then partly written and the
/// stream unchanged.
[[nodiscard]] result<datapath_stream_counts> datapath_stream_filter(datapath_stream& s,
                                                                    const sample_source& x,
                                                                    std::int64_t* out,
                                                                    unsigned threads) noexcept;

/// The accumulators of `f` from rest over `x`, as `run_datapath` gives them:
/// `datapath_stream_filter` on a fresh stream, skipping the coefficients no sample of so
/// short a signal can meet.
[[nodiscard]] result<datapath_stream_counts> datapath_filter_samples(
    const fixed_filter& f, const sample_source& x, std::int64_t* out, unsigned threads,
    overflow_counting counting = overflow_counting::all) noexcept;

}  // namespace fixfir
