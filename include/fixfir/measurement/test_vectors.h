#pragma once
// Bit-exact test vectors for a filter built on its datapath: known stimuli as sample words,
// and the accumulator and output word the model gives for each, from one run of
// run_datapath (datapath_run.h) over all of them.
//
// The stimuli, in this order, each followed by N − 1 zeros (N the tap count, at least 1)
// so that the next starts from an empty delay line:
//   impulse   the largest positive sample word, once;
//   step      the largest positive word, N times;
//   max-sum   N words: sample n meets tap N − 1 − n at the last of them, and is the largest
//             word where that tap is positive, the smallest where it is negative, else 0;
//   min-sum   the same with the signs swapped;
//   waveform  the waveform test's input, quantized to the sample word;
//   random    4096 words over the whole range: the low W_x bits of successive splitmix64
//             draws from the seed VECTOR_SEED.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// The pseudo-random words' seed.
inline constexpr std::uint64_t VECTOR_SEED = 0x5EED0F1F0F1F0F1FULL;
/// How many pseudo-random words there are.
inline constexpr std::size_t RANDOM_VECTOR_WORDS = 4096;

/// The stimuli, in their order.
enum class stimulus : std::uint8_t { impulse, step, max_sum, min_sum, waveform, random };

/// Its name in vectors.csv: "impulse", "step", "max-sum", "min-sum", "waveform", "random".
[[nodiscard]] const char* stimulus_name(stimulus s) noexcept;

/// One row per sample: which stimulus, the sample word, the accumulator word (within A
/// bits) and the output word (within W_y bits; the accumulator without an output stage).
struct test_vectors {
  std::vector<stimulus> kind;
  std::vector<std::int64_t> input;
  std::vector<std::int64_t> accumulator;
  std::vector<std::int64_t> output;
};

/// The sample words of every stimulus of `f` in order, `waveform` (real values) quantized
/// to the sample word; `kind` gets each word's stimulus.
[[nodiscard]] std::vector<std::int64_t> stimulus_words(const fixed_filter& f,
                                                       std::span<const double> waveform,
                                                       std::vector<stimulus>& kind);

/// The vectors of `f`: stimulus_words run through run_datapath on up to `threads` threads.
/// out_of_memory or interrupted as run_datapath fails.
[[nodiscard]] result<test_vectors> make_test_vectors(const fixed_filter& f,
                                                     std::span<const double> waveform,
                                                     unsigned threads) noexcept;

/// `words` one a line, two's complement in lower-case hexadecimal of ⌈bits/4⌉ digits.
[[nodiscard]] std::string mem_text(std::span<const std::int64_t> words, std::int32_t bits);

/// "index,stimulus,input,accumulator,output" and a line per sample, the words in decimal.
[[nodiscard]] std::string vectors_csv(const test_vectors& v);

/// Writes DIR/input.mem, DIR/expected.mem and DIR/vectors.csv for `v` made on `d` as one
/// set (replace_files), making `dir` (and its parents) when missing. bad_input when
/// `dir` is there and is not a folder; cannot_write naming the file that failed.
[[nodiscard]] outcome write_test_vectors(const std::string& dir, const test_vectors& v,
                                         const datapath& d);

}  // namespace fixfir
