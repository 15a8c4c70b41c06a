#pragma once
// Number writing for the output files.

#include <cstdint>
#include <string>

namespace fixfir {

/// Appends `v` in fixed notation with six decimals, rounded in two stages: first to 17
/// significant digits, then at the sixth decimal with halves away from zero.
/// 0.0078125 → "0.007813"; a negative value that rounds to zero keeps its sign
/// ("-0.000000"); non-finite values are "nan", "inf" and "-inf".
/// Fast: |v| × 10^6 is formed exactly and rounded once; only values next to a rounding half
/// (and beyond 10^9) take the digit-by-digit path of `append_fixed6_exact`.
void append_fixed6(std::string& out, double v);

/// `append_fixed6` done digit by digit on the 17 significant digits: the same bytes,
/// slower. The fast path falls back to it, and the checks compare against it.
void append_fixed6_exact(std::string& out, double v);

/// Appends `v` as a decimal integer with a leading minus when negative.
void append_decimal(std::string& out, std::int64_t v);

/// `append_fixed6` into a fresh string.
[[nodiscard]] std::string format_fixed6(double v);

}  // namespace fixfir
