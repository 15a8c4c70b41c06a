#pragma once
// Accumulator wraps: the bound that says whether any input can wrap a precision. The exact
// check of one run and the verdict a run at a lower precision gives are the drivers'
// (accumulator_wraps.h).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/drivers/accumulator_wraps.h"

namespace fixfir {

/// The worst case of the accumulator at one precision, for any input with |x| ≤ 1.
///
/// Samples are s = trunc(2^P · x), so |s| ≤ 2^P, and the exact sum Σ c[j] · s[n - j]
/// reaches at most Σ |c[j]| · 2^P in magnitude (an input of ±1 matching the signs of the
/// coefficients reaches it). Below 2^31 no input can wrap the accumulator.
struct wrap_bound {
  std::int32_t precision = 0;
  /// Σ |trunc(2^P · tap)| over the taps: the quantized coefficients' Σ |c[j]| when none
  /// wraps on conversion, larger when one does (such a filter is never wrap-free)
  std::uint64_t coefficient_sum = 0;
  bool wrap_free = false;  ///< Σ |c[j]| · 2^P ≤ 2^31 - 1, and no coefficient wrapped
  /// The bound of the run as it is: over the coefficients the filter uses (wrapped or
  /// turned to 0 where a tap does not fit, all 0 where the scale is 0: precision 32 and
  /// up, or below 0) and the scale it has, Σ |c[j]| · |scale|.
  std::uint64_t used_coefficient_sum = 0;  ///< Σ |c[j]| of the coefficients used
  bool can_wrap = false;  ///< Σ |c[j]| · |scale| > 2^31 - 1: some input wraps the accumulator
  /// log2((2^31 - 1) / (Σ |c[j]| · |scale|)), below 0 exactly when `can_wrap`; +inf when
  /// every coefficient used is 0 (nothing can wrap)
  double headroom_bits = 0.0;
};

/// The bound for `taps` quantized afresh at `precision` (0 to 30).
[[nodiscard]] wrap_bound wrap_bound_at(std::span<const float> taps,
                                       std::int32_t precision) noexcept;

/// The largest precision from 0 to 30 at which no input can wrap; none when there is none.
[[nodiscard]] std::optional<std::int32_t> largest_wrap_free_precision(
    std::span<const float> taps) noexcept;

/// The samples a steady-state fit uses: the last `STEADY_FIT_SAMPLES` of a run, or all

}  // namespace fixfir
