#pragma once
// Accumulator wraps: the bound that says whether any input can wrap a precision, the
// exact check of one run, and the verdict a run at a lower precision gives.
#include <cstddef>
#include <cstdint>
#include <span>

namespace fixfir {

/// Precisions that give a usable scale 2^P.
inline constexpr std::int32_t LOWEST_PRECISION = 0;
inline constexpr std::int32_t HIGHEST_PRECISION = 30;

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

/// The largest precision from 0 to 30 at which no input can wrap, or -1 if none.
[[nodiscard]] std::int32_t largest_wrap_free_precision(std::span<const float> taps) noexcept;

/// Whether a run from rest wrapped its accumulator: whether any sample n has an exact sum
/// Σ c[j] · s[n - j] other than `accumulators[n]`.
///
/// `reference` (optional, may be empty) is the same run in double precision with the
/// unquantized `taps` and the unquantized input (|x| ≤ 1), in real units. With it, each
/// exact sum is known to lie within
///   Σ |c| + 2^P · taps · d + 2^(2P) · taps · Σ |tap| · 2^-50
/// of 2^(2P) · reference[n], d the largest |c - 2^P · tap| (below 1 unless a coefficient
/// wrapped): sample truncation moves each product by less than |c|, coefficient
/// truncation by less than 2^P · d, and the double sums are off by far less. Whenever
/// that is below 2^30 the sum is the accumulator plus the multiple of 2^32 nearest to the
/// difference: O(1) a sample. Otherwise the sums are formed exactly, stopping at the
/// first wrap.
struct wrap_check {
  std::span<const std::int32_t> coefficients;
  std::span<const std::int32_t> samples;       ///< quantized, oldest first, from rest
  std::span<const std::int32_t> accumulators;  ///< one per sample
  std::span<const double> reference;
  std::span<const float> taps;  ///< the unquantized taps, needed with `reference`
  double scale = 0.0;           ///< 2^P
  /// The first sample checked: earlier samples only feed the sums, and earlier
  /// accumulators (which need not have been computed) are not read.
  std::size_t from = 0;
};

[[nodiscard]] bool run_wrapped(const wrap_check& run) noexcept;

/// Whether a run at precision p wraps, judged from an exact run of the same input at a
/// lower precision p0 (one that cannot wrap). Scaling up by k = p - p0 bits moves each
/// coefficient and each sample by less than 2^k from 2^k times its value at p0, so each
/// exact sum at p lies within 4^k · (Σ |c at p0| + taps · (2^p0 + 1)) of 4^k times the sum
/// at p0. From the largest magnitude of the sums at p0 it follows that no sum at p leaves
/// the 32-bit range, that one does, or neither (then the run at p must be checked). The
/// inputs must satisfy |x| ≤ 1 and the taps |tap| · 2^p < 2^31 (no coefficient wrapped).
enum class wrap_verdict { none, wraps, unknown };

[[nodiscard]] wrap_verdict verdict_from_lower(std::int64_t largest_sum_at_p0,
                                              std::uint64_t coefficient_sum_at_p0, std::size_t taps,
                                              std::int32_t p0, std::int32_t p) noexcept;

/// The samples a steady-state fit uses: the last `STEADY_FIT_SAMPLES` of a run, or all

}  // namespace fixfir
