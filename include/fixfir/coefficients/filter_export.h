#pragma once
// The filter as built: a Verilog module, a self-checking testbench for it, and a C99 step
// function, each bit-exact to the datapath's model (datapath_run.h and output_word).
//
// Scaling and overflow: the module and the C code take sample words (quantization happens
// before them) and give the output word: the exact sum Σ c[j] · s[n - j] reduced to the
// accumulator's A bits (its low A bits, or the sum clamped to the A-bit range), then through
// the output stage when there is one. A wrapping sum is computed modulo 2^A, which equals the
// exact sum's low bits; a saturating one is computed wide enough to be exact
// (accumulator_bits_needed, up to 96 bits) before it is clamped. No text of the user's (a
// file name, an option) goes into any of these files: only numbers and fixed words.

#include <cstdint>
#include <string>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// How the taps are arranged around their centre, read from the coefficient words.
enum class word_symmetry : std::uint8_t {
  none,
  symmetric,      ///< c[j] == c[N-1-j]
  antisymmetric,  ///< c[j] == -c[N-1-j] (the centre word of an odd N is then 0)
};

/// The structure the module is built as: its symmetry, the multipliers a folded structure
/// needs (⌈N/2⌉ symmetric, ⌊N/2⌋ antisymmetric, N otherwise) and the width the sum is made
/// in (A for a wrapping accumulator, else the larger of A and the bits the exact sum needs).
struct filter_structure {
  word_symmetry symmetry = word_symmetry::none;
  std::int64_t multipliers = 0;
  std::int32_t sum_bits = 0;
};

/// The clocks from an in_valid sample to its out_valid output in the module.
inline constexpr std::int32_t MODULE_LATENCY = 1;

/// `f`'s structure. All-zero words count as symmetric.
[[nodiscard]] filter_structure structure_of(const fixed_filter& f);

/// The output word's width: the output stage's W_y, else the accumulator's A.
[[nodiscard]] std::int32_t output_word_bits(const datapath& d) noexcept;

/// The Verilog-2001 module `fixfir_filter` for `f` (at least one tap, words within the
/// datapath limits).
[[nodiscard]] std::string verilog_module_text(const fixed_filter& f);

/// A Verilog testbench that drives `fixfir_filter` with the words of input.mem, one a clock,
/// compares each output with the word on the same line of expected.mem, and ends with the
/// line "P passed, F failed" and $finish.
[[nodiscard]] std::string verilog_testbench_text(const fixed_filter& f);

/// The C99 file for `f`: its words, a state struct with its init, and
/// `int64_t fixfir_filter_step(fixfir_filter_state *, int32_t sample)`.
[[nodiscard]] std::string c_filter_text(const fixed_filter& f);

}  // namespace fixfir
