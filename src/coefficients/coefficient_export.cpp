#include "fixfir/coefficients/coefficient_export.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "fixfir/coefficients/filter_export.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/checks.h"
#include "fixfir/common/output_file.h"

namespace fixfir {

namespace {

// The words a line of the header's array holds.
constexpr std::size_t header_words_per_line = 8;

// Words between two questions whether to go on: millions of taps take seconds to write.
constexpr std::size_t words_between_checks = std::size_t{1} << 16;

// Whether the text should stop being made before word `j`: `go_on` (when given) is asked
// every words_between_checks words.
bool stop_before(std::size_t j, const export_check& go_on) {
  return go_on && j % words_between_checks == 0 && j > 0 && !go_on();
}

char lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// `c` as a C integer constant of its type: the 32-bit minimum is written as an expression,
// since 2147483648 alone is a constant of a wider type.
std::string c_integer(std::int32_t c) {
  if (c == INT32_MIN) return "(-2147483647 - 1)";
  return std::to_string(c);
}

// "2^F", with the scale's value when that is a whole number a 64-bit integer holds.
std::string scale_text(std::int32_t f) {
  std::string text = "2^" + std::to_string(f);
  if (f >= 0 && f < 64) text += " (scale " + std::to_string(std::uint64_t{1} << f) + ")";
  return text;
}

std::optional<std::string> header_text(std::span<const std::int32_t> coefficients,
                                       const word_format& w, const export_check& go_on) {
  const char* const type = w.bits <= 8 ? "int8_t" : w.bits <= 16 ? "int16_t" : "int32_t";
  const std::string f = std::to_string(w.fraction_bits);
  std::string text;
  text += "/* Coefficient words of a fixfir filter: " + std::to_string(coefficients.size()) +
          " taps, tap 0 first.\n";
  text += " * Each word has " + std::to_string(w.bits) + " bits, " + f +
          " of them fractional: a word c stands for c / " + scale_text(w.fraction_bits) + ".\n";
  text += std::string(" * Rounding ") + rounding_words(w.rounding) + "; overflow " +
          overflow_words(w.overflow) + ".\n */\n";
  text += "#ifndef FIXFIR_COEFFICIENTS_H\n#define FIXFIR_COEFFICIENTS_H\n\n";
  text += "#include <stdint.h>\n\n";
  text += "#define FIXFIR_COEFFICIENT_COUNT " + std::to_string(coefficients.size()) + "\n";
  text += "#define FIXFIR_COEFFICIENT_BITS " + std::to_string(w.bits) + "\n";
  text += "#define FIXFIR_COEFFICIENT_SHIFT " + (w.fraction_bits < 0 ? "(" + f + ")" : f) + "\n\n";
  text +=
      std::string("static const ") + type + " fixfir_coefficients[FIXFIR_COEFFICIENT_COUNT] = {\n";
  for (std::size_t j = 0; j < coefficients.size(); ++j) {
    if (stop_before(j, go_on)) return std::nullopt;
    text += j % header_words_per_line == 0 ? "    " : " ";
    text += c_integer(coefficients[j]) + ",";
    if (j % header_words_per_line == header_words_per_line - 1 || j + 1 == coefficients.size())
      text += "\n";
  }
  text += "};\n\n#endif /* FIXFIR_COEFFICIENTS_H */\n";
  return text;
}

std::optional<std::string> memory_text(std::span<const std::int32_t> coefficients,
                                       const word_format& w, const export_check& go_on) {
  static constexpr char digits[] = "0123456789abcdef";
  const auto width = static_cast<std::size_t>((w.bits + 3) / 4);
  const std::uint64_t mask = (std::uint64_t{1} << w.bits) - 1;
  std::string text;
  text.reserve(coefficients.size() * (width + 1));
  for (std::size_t j = 0; j < coefficients.size(); ++j) {
    if (stop_before(j, go_on)) return std::nullopt;
    // The word's two's-complement pattern: the low W bits of c.
    std::uint64_t pattern =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(coefficients[j])) & mask;
    std::string word(width, '0');
    for (std::size_t k = width; k-- > 0; pattern >>= 4) word[k] = digits[pattern & 0xF];
    text += word + "\n";
  }
  return text;
}

std::optional<std::string> csv_text(std::span<const std::int32_t> coefficients,
                                    const word_format& w, const export_check& go_on) {
  std::string text = "index,integer,value\n";
  for (std::size_t j = 0; j < coefficients.size(); ++j) {
    if (stop_before(j, go_on)) return std::nullopt;
    // c × 2^-F is exact: a 32-bit c and F within -32 to 96 stay among normal doubles. The
    // shortest text that reads back as that double.
    const double value = std::ldexp(static_cast<double>(coefficients[j]), -w.fraction_bits);
    char buf[32];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value);
    FIXFIR_EXPECTS(r.ec == std::errc());
    text += std::to_string(j) + "," + std::to_string(coefficients[j]) + "," +
            std::string(buf, r.ptr) + "\n";
  }
  return text;
}

// The whole filter as a file of `format` (exports_filter).
std::string filter_text(export_format format, const fixed_filter& f) {
  if (format == export_format::verilog) return verilog_module_text(f);
  if (format == export_format::testbench) return verilog_testbench_text(f);
  return c_filter_text(f);
}

}  // namespace

result<export_format> export_format_for(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  std::string extension;
  // A name that is only an extension (".h") is a hidden file without one.
  if (dot != std::string_view::npos && dot > 0) {
    for (const char c : name.substr(dot)) extension += lower(c);
  }
  if (extension == ".h") return export_format::c_header;
  if (extension == ".mem") return export_format::memory_image;
  if (extension == ".csv") return export_format::csv;
  if (extension == ".c") return export_format::c_source;
  if (extension == ".v") {
    std::string stem;
    for (const char c : name.substr(0, dot)) stem += lower(c);
    return stem.ends_with("_tb") ? export_format::testbench : export_format::verilog;
  }
  return make_error(error_kind::bad_input,
                    "'" + std::string(path) + "' does not end in .h, .mem, .csv, .v, _tb.v or .c");
}

bool exports_filter(export_format format) noexcept {
  return format == export_format::verilog || format == export_format::testbench ||
         format == export_format::c_source;
}

const char* export_kind_words(export_format format) noexcept {
  switch (format) {
    case export_format::verilog:
      return "Verilog module";
    case export_format::testbench:
      return "Verilog testbench";
    case export_format::c_source:
      return "C filter";
    case export_format::c_header:
    case export_format::memory_image:
    case export_format::csv:
      break;
  }
  return "coefficients";
}

namespace {

// The file's text, or nothing when `go_on` answered false before it was whole.
std::optional<std::string> text_until_stopped(export_format format,
                                              std::span<const std::int32_t> coefficients,
                                              const word_format& w, const export_check& go_on) {
  FIXFIR_EXPECTS(w.bits >= WORD_BITS_MIN && w.bits <= WORD_BITS_MAX);
  FIXFIR_EXPECTS(!exports_filter(format));  // the words alone do not make a filter
  switch (format) {
    case export_format::memory_image:
      return memory_text(coefficients, w, go_on);
    case export_format::csv:
      return csv_text(coefficients, w, go_on);
    case export_format::c_header:
    case export_format::verilog:
    case export_format::testbench:
    case export_format::c_source:
      break;
  }
  return header_text(coefficients, w, go_on);
}

}  // namespace

std::string export_text(export_format format, std::span<const std::int32_t> coefficients,
                        const word_format& w) {
  return *text_until_stopped(format, coefficients, w, export_check());
}

bool export_word_chosen(const datapath_choices& c) noexcept {
  return c.precision || c.coefficient_bits;
}

std::string export_choices_problem(const datapath_choices& c) {
  if (!export_word_chosen(c)) return "an export needs a precision or a coefficient width";
  const std::optional<datapath_fault> fault = datapath_choices_fault(c);
  return fault ? datapath_fault_text(*fault) : std::string();
}

result<export_facts> export_coefficients(std::span<const float> taps, const datapath_choices& c,
                                         const std::string& file, const export_check& go_on) {
  const result<export_format> format = export_format_for(file);
  if (!format) return make_error(error_kind::bad_input, "--export: " + format.failure().message);
  if (std::string problem = export_choices_problem(c); !problem.empty())
    return make_error(error_kind::bad_input, std::move(problem));
  const result<datapath> path = datapath_from_choices(taps, c);
  if (!path) return path.failure();
  result<fixed_filter> made = make_fixed_filter(taps, path.value());
  if (!made) return std::move(made).failure();
  const fixed_filter& f = made.value();
  try {
    const std::optional<std::string> text =
        exports_filter(format.value())
            ? std::optional<std::string>(filter_text(format.value(), f))
            : text_until_stopped(format.value(), f.coefficients, f.path.coefficient, go_on);
    // Asked once more before the earlier file is replaced.
    if (!text || (go_on && !go_on())) return make_error(error_kind::interrupted, "interrupted");
    const outcome written = replace_file(file, *text);
    if (!written) return written.failure();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  return export_facts{f.path, f.coefficients.size(), f.coefficient_overflows, format.value(),
                      structure_of(f).multipliers};
}

std::string export_words(const export_facts& f) {
  if (exports_filter(f.format)) {
    return std::to_string(f.count) + (f.count == 1 ? " tap, " : " taps, ") +
           std::to_string(f.multipliers) + (f.multipliers == 1 ? " multiplier" : " multipliers") +
           ", samples " + std::to_string(f.path.sample.bits) + " bits in, output " +
           std::to_string(output_word_bits(f.path)) + " bits, latency " +
           std::to_string(MODULE_LATENCY) + " clock";
  }
  const word_format& w = f.path.coefficient;
  return std::to_string(f.count) + (f.count == 1 ? " word of " : " words of ") +
         std::to_string(w.bits) + " bits, " + std::to_string(w.fraction_bits) +
         " fractional, rounding " + rounding_words(w.rounding) + ", overflow " +
         overflow_words(w.overflow);
}

std::string export_overflow_words(const export_facts& f) {
  if (f.overflows == 0) return {};
  const word_format& w = f.path.coefficient;
  return std::to_string(f.overflows) + " of " + std::to_string(f.count) +
         (f.count == 1 ? " tap" : " taps") + " did not fit " + std::to_string(w.bits) +
         " bits and " + (w.overflow == overflow_mode::saturate ? "saturated" : "wrapped");
}

}  // namespace fixfir
