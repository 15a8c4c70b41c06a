#pragma once
// The fixed-point filter as one object: its quantized coefficients, how they were made, and
// the figures every analysis needs of them, computed once.
//
// Scaling and overflow: coefficient j = quantize_word(tap j, coefficient word) (datapath.h).
// On fixfir's precision P (precision_datapath) it is trunc(2^P × tap j), low 32 bits kept,
// by the quantizer itself (quantizer.h), for any P the dialogue takes: 2^31 wraps to a scale
// of -2^31, and past that or below 0 the scale is 0. Σ |c| is exact in 64 bits: at most
// 2^31 terms of at most 2^31 each.

#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// The precisions whose scale 2^P is a positive 32-bit value (datapath.h's range).
inline constexpr std::int32_t FIXED_LOWEST_PRECISION = LOWEST_PRECISION;
inline constexpr std::int32_t FIXED_HIGHEST_PRECISION = HIGHEST_PRECISION;

/// A quantized filter that owns its coefficients. Move it freely; `engine_filter` borrows
/// the coefficients, which a move hands over.
struct fixed_filter {
  datapath path;
  std::vector<std::int32_t> coefficients;  ///< tap 0 multiplies the newest sample
  double coefficient_scale = 1.0;          ///< 2^F_c: a coefficient stands for c ÷ this
  double output_unit = 1.0;                ///< 2^-(F_c + F_x): an accumulator's real unit
  std::uint64_t magnitude_sum = 0;         ///< Σ |c[j]|, exact
  /// The accumulator bits no sample of the sample word can overflow
  /// (accumulator_bits_needed of the coefficients and the sample width).
  std::int32_t accumulator_bits_needed = 1;
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

/// `taps` quantized on datapath `d`: each coefficient is quantize_word(tap, d.coefficient),
/// and on fixfir's precision (is_precision_datapath) the quantizer's trunc(scale × tap) at
/// any precision, with the quantizer's scale in `path.scale`. The only way a filter is made.
/// bad_input for another datapath outside its limits (datapath_problem) or too many taps;
/// out_of_memory when the coefficients cannot be had. Σ|c| and the wrap-free bound are
/// those of the 32-bit accumulator; `accumulator_bits_needed` is the filter's own.
[[nodiscard]] result<fixed_filter> make_fixed_filter(std::span<const float> taps,
                                                     const datapath& d) noexcept;

/// `f`'s coefficients on another sample word and accumulator: the datapath, its output unit
/// and the accumulator bits needed follow, the coefficients stay. The coefficient word is
/// not changed, so no word is checked against its limits again; `sample` must be within them.
void change_sample_side(fixed_filter& f, const word_format& sample, std::int32_t accumulator_bits,
                        overflow_mode accumulator_overflow) noexcept;

/// The engine's view of `f`, borrowing its coefficients: valid while `f` lives unmoved-from.
[[nodiscard]] quantized_filter engine_filter(const fixed_filter& f) noexcept;

/// The largest |s| a sample word makes of an input |x| ≤ 1: the larger of its words for 1
/// and -1 where neither overflows (rounding is monotonic, so no smaller |x| gives more),
/// else 2^(bits - 1), which some x then wraps or clamps to.
[[nodiscard]] std::uint64_t largest_unit_sample(const word_format& sample) noexcept;

/// Whether no input with |x| ≤ 1 can overflow (wrap or saturate) any of `f`'s sums:
/// Σ |c| × largest_unit_sample fits the accumulator, and no coefficient wrapped on
/// conversion. On fixfir's precisions the samples are the quantizer's trunc(scale × x), at
/// most the scale in magnitude, into the 32-bit accumulator; past 0 to 30, where the scale is
/// not 2^P, no input is claimed safe (false).
[[nodiscard]] bool no_input_overflows(const fixed_filter& f) noexcept;

}  // namespace fixfir
