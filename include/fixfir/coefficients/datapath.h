#pragma once
// The datapath a filter is built on: a coefficient word, a sample word, how a real value
// becomes a word (rounding, then overflow), and the accumulator the products are summed in.
//
// Scaling and overflow: a real v becomes the integer round(v × 2^F) in a word of W bits
// with F fractional bits; a result beyond the word's range [-2^(W-1), 2^(W-1) - 1] keeps
// its low W bits (wrap, as a 64-bit truncation that is then narrowed) or is clamped to the
// range (saturate). Products of two words are exact in 64 bits. The accumulator of A bits
// holds the exact sum of the products modulo 2^A (wrap), or the exact sum clamped to the
// A-bit range (saturate): what a register with enough guard bits and a saturating output
// stage gives. An accumulator value a stands for a ÷ 2^(F_c + F_x).
//
// fixfir's precision P, `precision_datapath(P)`, is 32-bit words with P fractional bits,
// truncated toward zero and wrapped, into a 32-bit accumulator that wraps: what fixfir models.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "fixfir/common/result.h"

namespace fixfir {

/// How a value that does not fit its word is made to fit.
enum class overflow_mode : std::uint8_t {
  wrap,      ///< the low bits are kept (two's complement)
  saturate,  ///< clamped to the word's largest or smallest value
};

/// How a real value is made an integer.
enum class rounding_mode : std::uint8_t {
  toward_zero,  ///< truncation: -2.7 → -2
  nearest,      ///< to the nearest integer, ties away from zero: 2.5 → 3, -2.5 → -3
  floor,        ///< toward −∞: -2.1 → -3
};

/// One fixed-point word: its width and its fractional bits.
struct word_format {
  std::int32_t bits = 32;
  std::int32_t fraction_bits = 0;
  rounding_mode rounding = rounding_mode::toward_zero;
  overflow_mode overflow = overflow_mode::wrap;
};

/// How the output stage rounds the accumulator's dropped bits.
enum class output_rounding : std::uint8_t {
  toward_zero,  ///< truncation
  nearest,      ///< ties away from zero
  floor,        ///< toward −∞
  convergent,   ///< ties to even
};

/// The output stage: the accumulator word reduced to the output word. bits == 0: none
/// (the output is the accumulator word, with F_c + F_x fractional bits).
struct output_stage {
  std::int32_t bits = 0;           ///< W_y, 2 to 64, or 0 for no stage
  std::int32_t fraction_bits = 0;  ///< F_y (resolved: the default is worked out from the taps)
  output_rounding rounding = output_rounding::toward_zero;
  overflow_mode overflow = overflow_mode::wrap;
};

/// The datapath a filter runs on.
struct datapath {
  /// fixfir's precision P and the quantizer's scale at P (2^P from 0 to 30); meaningful on
  /// fixfir's precisions only (`is_precision_datapath`), 0 otherwise.
  std::int32_t precision = 0;
  std::int32_t scale = 0;
  word_format coefficient;
  word_format sample;
  std::int32_t accumulator_bits = 32;
  overflow_mode accumulator_overflow = overflow_mode::wrap;
  output_stage output;
};

/// fixfir's precisions: those whose scale 2^P is a positive 32-bit value.
inline constexpr std::int32_t LOWEST_PRECISION = 0;
inline constexpr std::int32_t HIGHEST_PRECISION = 30;

/// The largest magnitude a 32-bit accumulator holds without wrapping: 2^31 - 1.
inline constexpr std::uint64_t ACCUMULATOR_LIMIT = 0x7FFFFFFF;

/// ACCUMULATOR_LIMIT as a double, which holds it exactly, for bounds reckoned in doubles.
inline constexpr double ACCUMULATOR_LIMIT_DOUBLE = static_cast<double>(ACCUMULATOR_LIMIT);

/// The limits of each choice.
inline constexpr std::int32_t WORD_BITS_MIN = 2;
inline constexpr std::int32_t WORD_BITS_MAX = 32;
inline constexpr std::int32_t FRACTION_BITS_MIN = -32;
inline constexpr std::int32_t FRACTION_BITS_MAX = 96;
inline constexpr std::int32_t ACCUMULATOR_BITS_MIN = 8;
inline constexpr std::int32_t ACCUMULATOR_BITS_MAX = 64;
inline constexpr std::int32_t OUTPUT_BITS_MIN = 2;
inline constexpr std::int32_t OUTPUT_BITS_MAX = 64;

/// fixfir's precision `precision`, any value the dialogue reads: 32-bit words with
/// `precision` fractional bits, toward zero, wrap, into a 32-bit wrapping accumulator, with
/// the quantizer's scale (2^P from 0 to 30; past those 2^31 wraps to -2^31 and the rest give
/// 0), which make_fixed_filter takes as the dialogue's engine does.
[[nodiscard]] datapath precision_datapath(std::int32_t precision) noexcept;

/// Whether `d` is fixfir's precision P from 0 to 30: 32-bit words of P fractional bits,
/// toward zero, wrap, a 32-bit wrapping accumulator, and `precision`/`scale` set to match.
[[nodiscard]] bool is_precision_datapath_in_range(const datapath& d) noexcept;

/// Whether `d` is fixfir's precision at any P: precision_datapath(P) for some P.
[[nodiscard]] bool is_precision_datapath(const datapath& d) noexcept;

/// A datapath choice, as a refusal names it; each front end spells it its own way (an
/// option, a keyword).
enum class datapath_field : std::uint8_t {
  precision,
  coefficient_bits,
  coefficient_fraction_bits,
  sample_bits,
  sample_fraction_bits,
  accumulator_bits,
  output_bits,
  output_fraction_bits,
};

/// A choice beyond its limits: which, and the range it must be within.
struct datapath_fault {
  datapath_field field = datapath_field::precision;
  std::int32_t least = 0;
  std::int32_t most = 0;
};

/// How a front end spells a field.
using field_spelling = const char* (*)(datapath_field) noexcept;

/// A field in plain words: "coefficient bits", "coefficient fraction bits", ...
[[nodiscard]] const char* datapath_field_words(datapath_field f) noexcept;

/// "NAME must be LEAST to MOST", the field named as `spell` says.
[[nodiscard]] std::string datapath_fault_text(const datapath_fault& f,
                                              field_spelling spell = datapath_field_words);

/// The first of `d`'s choices beyond its limits, or nothing.
[[nodiscard]] std::optional<datapath_fault> datapath_fault_of(const datapath& d) noexcept;

/// An empty text when `d`'s choices are within their limits, else what is wrong in plain
/// words (datapath_fault_text: "coefficient bits must be 2 to 32").
[[nodiscard]] std::string datapath_problem(const datapath& d);

/// A real value as a word: `value` holds the word (within its W bits), `overflowed` says
/// the rounded value did not fit and was wrapped or saturated.
struct word_value {
  std::int64_t value = 0;
  bool overflowed = false;
};

/// `v` as a word of format `w` (bits 2 to 64, fraction bits within the limits above).
/// NaN becomes 0; a rounded value beyond ±2^63 wraps to 0 (the 64-bit truncation's -2^63,
/// whose low bits are 0) or saturates to the word's limit of its sign.
[[nodiscard]] word_value quantize_word(double v, const word_format& w) noexcept;

/// The accumulator word `acc` (within A bits) through the output stage of `d`: shifted right by
/// F_c + F_x − F_y (left, exactly, when negative) and rounded as the stage says, then fitted
/// to W_y bits as it says. `overflowed` says the fit wrapped or clamped. Without a stage
/// (bits 0) `acc` itself, never overflowed.
[[nodiscard]] word_value output_word(std::int64_t acc, const datapath& d) noexcept;

/// The fractional bits of the output word: F_y with a stage, else F_c + F_x.
[[nodiscard]] std::int32_t output_fraction_bits(const datapath& d) noexcept;

/// The default F_y of a W_y-bit output after an accumulator of F_c + F_x fractional bits
/// whose largest output for any input needs `needed_bits` (within A bits, the accumulator's
/// whole range): W_y − 1 − its integer bits, so that a full-scale output fits; kept within
/// FRACTION_BITS_MIN to FRACTION_BITS_MAX.
[[nodiscard]] std::int32_t default_output_fraction(const datapath& d,
                                                   std::int32_t needed_bits) noexcept;

/// The largest fraction bits F (down to FRACTION_BITS_MIN) at which every tap, rounded as
/// `rounding` says, fits a word of `bits` bits without overflow; FRACTION_BITS_MAX when every
/// tap is 0 or not finite.
[[nodiscard]] std::int32_t largest_fitting_fraction(std::span<const float> taps, std::int32_t bits,
                                                    rounding_mode rounding) noexcept;

/// The accumulator bits that no input can overflow: the smallest A whose range holds every
/// sum of the products of `coefficients` with samples anywhere in a word of `sample_bits`
/// bits. 1 when every coefficient is 0 (every sum is), else at least 2; up to 96 for the
/// widest words and longest filters.
[[nodiscard]] std::int32_t accumulator_bits_needed(std::span<const std::int32_t> coefficients,
                                                   std::int32_t sample_bits) noexcept;

/// The words of a rounding mode: "toward zero", "to nearest" or "floor".
[[nodiscard]] const char* rounding_words(rounding_mode r) noexcept;

/// The command-line spelling of a rounding mode: "zero", "nearest" or "floor".
[[nodiscard]] const char* rounding_option(rounding_mode r) noexcept;

/// "wraps" or "saturates".
[[nodiscard]] const char* overflow_words(overflow_mode o) noexcept;

/// The command-line spelling of an overflow mode: "wrap" or "saturate".
[[nodiscard]] const char* overflow_option(overflow_mode o) noexcept;

/// The words of an output rounding: "toward zero", "to nearest", "floor" or "convergent".
[[nodiscard]] const char* output_rounding_words(output_rounding r) noexcept;

/// The command-line spelling: "zero", "nearest", "floor" or "convergent".
[[nodiscard]] const char* output_rounding_option(output_rounding r) noexcept;

/// The output rounding spelt `text`, or nothing.
[[nodiscard]] std::optional<output_rounding> output_rounding_from_option(
    std::string_view text) noexcept;

/// The rounding mode spelt `text` ("zero", "nearest" or "floor"), or nothing.
[[nodiscard]] std::optional<rounding_mode> rounding_from_option(std::string_view text) noexcept;

/// The overflow mode spelt `text` ("wrap" or "saturate"), or nothing.
[[nodiscard]] std::optional<overflow_mode> overflow_from_option(std::string_view text) noexcept;

/// A datapath as a user chooses it: each choice given or left to its default.
struct datapath_choices {
  std::optional<std::int32_t> precision;  ///< fixfir's precision (0 to 30)
  std::optional<std::int32_t> coefficient_bits;
  std::optional<std::int32_t> coefficient_fraction_bits;
  std::optional<std::int32_t> sample_bits;
  std::optional<std::int32_t> sample_fraction_bits;
  std::optional<std::int32_t> accumulator_bits;
  std::optional<rounding_mode> rounding;    ///< of coefficients and samples
  std::optional<overflow_mode> overflow;    ///< of coefficients, samples and the accumulator
  std::optional<std::int32_t> output_bits;  ///< W_y: an output stage
  std::optional<std::int32_t> output_fraction_bits;
  std::optional<fixfir::output_rounding> output_rounding;
  std::optional<overflow_mode> output_overflow;
};

/// Whether an output choice is given without `output_bits` (they mean nothing alone).
[[nodiscard]] bool output_choices_without_stage(const datapath_choices& c) noexcept;

/// Whether any choice beyond fixfir's precision is given.
[[nodiscard]] bool datapath_options_given(const datapath_choices& c) noexcept;

/// The first given choice beyond its limits (the precision 0 to 30, the others as
/// datapath_fault_of says), or nothing.
[[nodiscard]] std::optional<datapath_fault> datapath_choices_fault(
    const datapath_choices& c) noexcept;

/// The datapath `c` describes for `taps`. Coefficient word: `coefficient_bits` or 32 bits;
/// its fraction `coefficient_fraction_bits`, else the precision when no coefficient width is
/// given, else the largest that holds every tap (largest_fitting_fraction). Sample word:
/// `sample_bits` or 32 bits; its fraction `sample_fraction_bits`, else the precision when
/// no sample width is given, else W - 1. Accumulator `accumulator_bits` or 32. Rounding
/// and overflow as chosen, else toward zero and wrap. With nothing but a precision P this
/// is precision_datapath(P), and any choices that come to fixfir's precision give that datapath.
/// bad_input, with datapath_fault_text's plain words, for a choice beyond its limits (a
/// front end checks datapath_choices_fault first to name the choice its own way).
[[nodiscard]] result<datapath> datapath_from_choices(std::span<const float> taps,
                                                     const datapath_choices& c);

/// Every choice of `d` in words, for example "coefficients 16 bits (17 fractional),
/// samples 14 bits (13 fractional), accumulator 35 bits, rounding to nearest, coefficient
/// and sample overflow saturates, accumulator wraps". Coefficient and sample rounding or
/// overflow that differ are named apart.
[[nodiscard]] std::string datapath_words(const datapath& d);

}  // namespace fixfir
