#pragma once
// The report's fixed-point filter at any precision it is asked for: the fixed filter object
// for 0 to 30, and past those the engine's own quantization of the taps (a scale of 2^31
// wraps to -2^31, a negative precision gives 0), so that every precision runs as fixfir's
// engine runs it.
#include <cstdint>
#include <span>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// `taps` quantized at `precision`. Outside 0 to 30 the coefficients and scale are the
/// quantizer's, the magnitude sum and wrap-free sample are computed from them, and
/// `any_precision_wrap_free` answers false. out_of_memory when memory runs out.
[[nodiscard]] result<fixed_filter> filter_at_any_precision(std::span<const float> taps,
                                                           std::int32_t precision) noexcept;

/// Whether no input with |x| ≤ 1 can wrap `f`: `wrap_free(f)` for precisions 0 to 30,
/// false past them.
[[nodiscard]] bool any_precision_wrap_free(const fixed_filter& f) noexcept;

}  // namespace fixfir
