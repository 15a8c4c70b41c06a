#pragma once
// Whether the engine's 32-bit accumulators wrapped: checked against exact sums, against a
// double-precision run of the same input, or judged from an exact run at a lower precision.
#include <cstddef>
#include <cstdint>
#include <span>

namespace fixfir {

/// How many outputs n in [from, size) have an exact sum Σ c[j] · s[n - j] (over j ≤ n)
/// other than `accumulators[n]`, counting at most `limit`. With `polled`, stops early
/// (with the count so far, to be thrown away) when the keep-going check (parallel_chunks.h)
/// answers false. Sums are exact in 64 bits when Σ |c| · max |s| allows, else in 128.
[[nodiscard]] std::int64_t count_wrapped_sums(std::span<const std::int32_t> coefficients,
                                              std::span<const std::int32_t> samples,
                                              std::span<const std::int32_t> accumulators,
                                              std::size_t from, std::int64_t limit,
                                              bool polled) noexcept;

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

}  // namespace fixfir
