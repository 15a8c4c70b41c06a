#pragma once
// How the report writes a number: every figure of the summary, the scan, the search and the
// verdicts goes through figure_text, and every table column through the padding here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fixfir {

/// The digits a kind of figure is written with, the same wherever it appears.
enum class figure_kind : std::uint8_t {
  level,      ///< attenuation, SNR, signal to error and headroom: two decimals ("51.25")
  ripple,     ///< pass-band ripple: four decimals ("0.1333")
  tap_error,  ///< a tap's quantization error: six significant digits ("2.8383e-05")
};

/// `v` written with `format`, a printf format of one double conversion ("%.2f", "%.4f dB"),
/// as the report writes every figure: NaN as "nan" (never "-nan"), and a value that rounds
/// to 0 at the format's digits without a sign ("0.00", never "-0.00").
[[nodiscard]] std::string figure_text(const char* format, double v);

/// `v` with the digits of `kind`, as figure_text writes it.
[[nodiscard]] std::string figure_text(figure_kind kind, double v);

/// `v` with the digits of `kind` and " dB" after it.
[[nodiscard]] std::string decibels_text(figure_kind kind, double v);

/// `text` after spaces to `width` bytes, as a table's right-aligned column ("%*s").
[[nodiscard]] std::string right_column(std::string_view text, std::size_t width);

/// `text` before spaces to `width` bytes, as a table's left-aligned column ("%-*s").
[[nodiscard]] std::string left_column(std::string_view text, std::size_t width);

/// A whole number in a right-aligned column of `width` bytes ("%*d").
[[nodiscard]] std::string right_column(std::int64_t n, std::size_t width);

}  // namespace fixfir
