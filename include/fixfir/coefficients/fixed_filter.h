#pragma once
// The fixed-point filter as one object: its quantized coefficients, how they were made, and
// the figures every analysis needs of them, computed once.
//
// Scaling and overflow: coefficient j = trunc(2^P × tap j), low 32 bits kept (see
// quantizer.h); samples are quantized the same way at run time, and every product and sum
// wraps in a 32-bit accumulator. Σ |c| is exact in 64 bits: at most 2^31 terms of at most
// 2^31 each.

#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// The precisions a fixed_filter is made at: those whose scale 2^P is a positive 32-bit value.
inline constexpr std::int32_t FIXED_LOWEST_PRECISION = 0;
inline constexpr std::int32_t FIXED_HIGHEST_PRECISION = 30;

/// The largest accumulator magnitude that cannot have wrapped: 2^31 - 1.
inline constexpr std::uint64_t ACCUMULATOR_LIMIT = 0x7FFFFFFF;

/// A quantized filter that owns its coefficients. Move it freely; `engine_filter` borrows
/// the coefficients, which a move hands over.
struct fixed_filter {
  datapath path;
  std::vector<std::int32_t> coefficients;  ///< tap 0 multiplies the newest sample
  std::uint64_t magnitude_sum = 0;         ///< Σ |c[j]|, exact
  /// The largest sample magnitude |s| with Σ |c[j]| · |s| ≤ 2^31 - 1: no sum of samples
  /// that are all at most this large can wrap. 2^31 (every sample) when all coefficients
  /// are 0.
  std::uint64_t wrap_free_sample = 0;
  /// Some tap's scaled value did not fit its word and wrapped on conversion.
  bool coefficient_wrapped = false;
  /// The taps whose rounded value did not fit the coefficient word (wrapped or saturated).
  std::size_t coefficient_overflows = 0;
};

/// Σ |c[j]| as an exact 64-bit sum.
[[nodiscard]] std::uint64_t coefficient_magnitude_sum(std::span<const std::int32_t> c) noexcept;

/// The largest |s| with `magnitude_sum` · |s| ≤ 2^31 - 1; 2^31 when `magnitude_sum` is 0.
[[nodiscard]] std::uint64_t wrap_free_sample_limit(std::uint64_t magnitude_sum) noexcept;

/// `taps` quantized at `precision` (0 to 30). bad_input for another precision or more taps
/// than a 32-bit count holds; out_of_memory when the coefficients cannot be had.
[[nodiscard]] result<fixed_filter> make_fixed_filter(std::span<const float> taps,
                                                     std::int32_t precision) noexcept;

/// `taps` quantized on datapath `d`: each coefficient is quantize_word(tap, d.coefficient).
/// On a seed datapath, the very filter `make_fixed_filter(taps, d.precision)` makes.
/// bad_input for a datapath outside its limits (datapath_problem) or too many taps;
/// out_of_memory when the coefficients cannot be had. Σ|c| and the wrap-free bound are
/// those of the 32-bit accumulator; `accumulator_bits_needed` gives any other's.
[[nodiscard]] result<fixed_filter> make_fixed_filter(std::span<const float> taps,
                                                     const datapath& d);

/// The engine's view of `f`, borrowing its coefficients: valid while `f` lives unmoved-from.
[[nodiscard]] quantized_filter engine_filter(const fixed_filter& f) noexcept;

/// Whether no input with |x| ≤ 1 can wrap any sum: every sample is then at most the scale
/// in magnitude, and no coefficient wrapped on conversion.
[[nodiscard]] bool wrap_free(const fixed_filter& f) noexcept;

}  // namespace fixfir
