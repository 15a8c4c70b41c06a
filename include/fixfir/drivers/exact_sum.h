#pragma once
// Exact sums of products of two 32-bit values, for telling whether a 32-bit accumulator
// wrapped. Such a sum can pass the 64-bit range (two products of -2^31 · -2^31 already
// do), so the low 64 bits are kept with a signed count of their carries: the value is
// high · 2^64 + low.

#include <cstdint>

namespace fixfir {

/// An exact sum of up to 2^31 products, high · 2^64 + low.
struct wide_sum {
  std::int64_t high = 0;
  std::uint64_t low = 0;
};

/// Adds one product of two 32-bit values.
inline void add_product(wide_sum& sum, std::int64_t p) noexcept {
  const std::uint64_t before = sum.low;
  sum.low = before + static_cast<std::uint64_t>(p);
  if (p >= 0 && sum.low < before) ++sum.high;
  if (p < 0 && sum.low > before) --sum.high;
}

/// Whether the exact sum is the 32-bit value `a`, that is, nothing wrapped.
[[nodiscard]] inline bool equals_int32(const wide_sum& sum, std::int32_t a) noexcept {
  const auto extended = static_cast<std::int64_t>(a);
  return sum.high == (a < 0 ? -1 : 0) && sum.low == static_cast<std::uint64_t>(extended);
}

}  // namespace fixfir
