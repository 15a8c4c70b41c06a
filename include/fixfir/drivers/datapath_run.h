#pragma once
// A filter run from rest on its own datapath: samples quantized to the sample word, products
// summed exactly and made to fit the accumulator.
//
// Scaling and overflow: sample n is quantize_word(x[n], sample word) (datapath.h), rounded
// and then wrapped or saturated to its word. The accumulator for sample n is the exact sum
// Σ c[j] · s[n - j] reduced to the datapath's A bits: its low A bits (wrap) or the sum
// clamped to the A-bit range (saturate). It stands for accumulator × 2^-(F_c + F_x) in real
// units. On a seed datapath it is the 32-bit engine's accumulator (fir_engine.h). With an
// output stage each accumulator then becomes an output word (output_word, datapath.h), which
// stands for word × 2^-F_y: the run's outputs are those words.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// One run's accumulators, outputs and overflow counts.
struct datapath_run {
  std::vector<std::int64_t> accumulators;  ///< one per input sample, within A bits
  /// With an output stage, the output word of each accumulator (within W_y bits); empty
  /// without one, where the accumulator is the output word.
  std::vector<std::int64_t> output_words;
  /// accumulator × 2^-(F_c + F_x), or with an output stage output word × 2^-F_y
  std::vector<double> output;
  std::size_t sample_overflows = 0;       ///< samples that did not fit their word
  std::size_t accumulator_overflows = 0;  ///< outputs whose exact sum did not fit A bits
  std::size_t output_overflows = 0;       ///< output words that did not fit W_y bits
};

/// `f` over `x` from rest on `f.path`, on up to `threads` threads; the result does not
/// depend on `threads`. Outputs before `first_output` (rounded down to the engine's block)
/// may be left 0 and are then not counted as overflows: a run read only from there on need
/// not compute them. `f`'s datapath was checked against its limits when it was made
/// (make_fixed_filter), so it is not checked again. out_of_memory when memory runs out;
/// interrupted when the keep-going check (parallel_chunks.h) answers false.
[[nodiscard]] result<datapath_run> run_datapath(const fixed_filter& f, std::span<const double> x,
                                                unsigned threads,
                                                std::size_t first_output = 0) noexcept;

}  // namespace fixfir
