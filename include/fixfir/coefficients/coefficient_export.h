#pragma once
// A filter's coefficient words as a file for other tools: a C header, a memory image for
// HDL simulators ($readmemh), or a table of the words and the values they stand for.
//
// Scaling and overflow: a coefficient word c of W bits with F fractional bits stands for
// c ÷ 2^F; the memory image holds its W-bit two's-complement pattern (c mod 2^W). The
// words were made by make_fixed_filter and fit W ≤ 32 bits, so writing them computes
// nothing that can overflow; c ÷ 2^F is exact in double for F within the datapath limits.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// The kinds of file the coefficients are written as.
enum class export_format : std::uint8_t {
  c_header,      ///< ".h": #defines and a static const array of <stdint.h> integers
  memory_image,  ///< ".mem": one two's-complement hexadecimal word a line
  csv,           ///< ".csv": index, integer and value of each tap
  verilog,       ///< ".v": the filter as a Verilog module (filter_export.h)
  testbench,     ///< "_tb.v": a self-checking testbench for that module
  c_source,      ///< ".c": the filter as a C99 step function
};

/// Whether `format` is the whole filter (a module, its testbench, C), not only its words.
[[nodiscard]] bool exports_filter(export_format format) noexcept;

/// The format the extension of `path` names, compared in lower case: ".h", ".mem", ".csv",
/// "_tb.v", ".v" or ".c". bad_input, saying so and quoting `path`, for any other.
[[nodiscard]] result<export_format> export_format_for(std::string_view path);

/// What a file of `format` is, in a word or two: "coefficients", "Verilog module",
/// "Verilog testbench" or "C filter".
[[nodiscard]] const char* export_kind_words(export_format format) noexcept;

/// The file's text: `coefficients` (tap 0 first) as words of `w`. The header names
/// nothing but its fixed identifiers (FIXFIR_COEFFICIENT_COUNT, FIXFIR_COEFFICIENT_SHIFT,
/// FIXFIR_COEFFICIENT_BITS, fixfir_coefficients), and its array has the narrowest of
/// int8_t, int16_t and int32_t that holds a word. Each word must fit `w.bits` (2 to 32).
/// `format` is one of the words' formats (not exports_filter: a filter's file needs the
/// whole filter, filter_export.h).
[[nodiscard]] std::string export_text(export_format format,
                                      std::span<const std::int32_t> coefficients,
                                      const word_format& w);

/// Whether `c` fixes the coefficient word an export needs: a precision or a coefficient
/// width is given.
[[nodiscard]] bool export_word_chosen(const datapath_choices& c) noexcept;

/// An empty text when `c` can be exported (export_word_chosen, and no
/// datapath_choices_fault), else what is wrong in plain words.
[[nodiscard]] std::string export_choices_problem(const datapath_choices& c);

/// What an export wrote.
struct export_facts {
  datapath path;              ///< the datapath the words are made on
  std::size_t count = 0;      ///< taps, one word each
  std::size_t overflows = 0;  ///< taps whose rounded value did not fit the word
  export_format format = export_format::c_header;
  std::int64_t multipliers = 0;  ///< for a filter: the multipliers its folded structure needs
};

/// Asked now and then while a long export is made; false stops it.
using export_check = std::function<bool()>;

/// Quantizes `taps` on the datapath `c` describes (datapath_from_choices) and writes the
/// coefficient words to `file` in the format its extension names, replacing any earlier
/// file only once the new one is complete (replace_file). bad_input for an unknown
/// extension (the message names --export) or choices export_choices_problem refuses (a
/// front end checks them first to name the choice its own way); cannot_write
/// when the file cannot be written (the earlier one is kept); out_of_memory; interrupted,
/// with the earlier file kept, when `go_on` (if given) answers false before the file is
/// replaced.
[[nodiscard]] result<export_facts> export_coefficients(std::span<const float> taps,
                                                       const datapath_choices& c,
                                                       const std::string& file,
                                                       const export_check& go_on = {});

/// What was written in words, for example "63 words of 16 bits, 17 fractional, rounding
/// to nearest, overflow wraps", or for a filter "63 taps, 32 multipliers, samples 14 bits
/// in, output 35 bits, latency 1 clock".
[[nodiscard]] std::string export_words(const export_facts& f);

/// How many taps overflowed their word and what became of them, for example "2 of 63 taps
/// did not fit 16 bits and saturated"; empty when none did.
[[nodiscard]] std::string export_overflow_words(const export_facts& f);

}  // namespace fixfir
