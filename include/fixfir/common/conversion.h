#pragma once
// Numeric conversions of the fixed-point model.
//
// A real number becomes an integer by truncation toward zero to 64 bits, keeping the
// low 32 bits. Products and sums of 32-bit integers wrap modulo 2^32; they are computed
// in unsigned arithmetic so that the wrap is defined behaviour.

#include <cmath>
#include <cstdint>

namespace fixfir {

/// Truncates `v` toward zero to a signed 64-bit integer. NaN and values outside the
/// 64-bit range give -2^63.
constexpr std::int64_t real_to_int64(double v) noexcept {
  // 2^63 is exact in double; -2^63 itself is in range.
  constexpr double two_63 = 9223372036854775808.0;
  if (!(v < two_63 && v >= -two_63)) return INT64_MIN;  // also catches NaN
  return static_cast<std::int64_t>(v);
}

/// The 32-bit two's-complement value of the low 32 bits of `v`.
constexpr std::int32_t low_32_bits(std::int64_t v) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

/// Real → 32-bit conversion: truncate to 64 bits, keep the low 32 bits.
constexpr std::int32_t real_to_int32(double v) noexcept { return low_32_bits(real_to_int64(v)); }

/// a × b keeping the low 32 bits.
constexpr std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

/// a + b modulo 2^32.
constexpr std::int32_t wrapping_add(std::int32_t a, std::int32_t b) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

/// a - b modulo 2^32.
constexpr std::int32_t wrapping_sub(std::int32_t a, std::int32_t b) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

/// a ÷ b truncated toward zero, with INT32_MIN ÷ -1 wrapping to INT32_MIN instead of
/// trapping. `b` must not be 0.
constexpr std::int32_t wrapping_div(std::int32_t a, std::int32_t b) noexcept {
  if (b == -1) return wrapping_sub(0, a);
  return a / b;
}

}  // namespace fixfir
