#pragma once
// Coefficient quantizer: taps → 32-bit coefficients at scale 2^precision.
//
// Scaling: coefficient i = trunc(float(scale) × tap i) keeping the low 32 bits. The
// product is exact in double, because both factors are single precision. Precisions 0 to
// 30 give exact powers of two; 31 gives -2^31; 32 and up, and negative precisions, give
// a scale of 0 and so all-zero coefficients. Truncation is toward zero: -2.7 → -2.

#include <cstdint>

namespace fixfir {

/// The scale 2^precision as a 32-bit integer, by the real → 32-bit conversion.
[[nodiscard]] std::int32_t scale_for_precision(std::int32_t precision) noexcept;

/// Fills `coefficients[0 .. count)` from `taps` and returns the scale.
/// A count of 0 or less fills nothing.
std::int32_t quantize_taps(std::int32_t precision, std::int32_t count, const float* taps,
                           std::int32_t* coefficients) noexcept;

}  // namespace fixfir
