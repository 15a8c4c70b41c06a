#pragma once
// The fixed-point filter on any datapath: products of two 32-bit words summed exactly, then
// made to fit an accumulator of 8 to 64 bits.
//
// Scaling and overflow: each product of two 32-bit words is exact in 64 bits (at most 2^62
// in magnitude). `wide_convolve` sums them in 64-bit lanes that wrap modulo 2^64, which is
// the exact sum whenever Σ|c| · max|s| < 2^63 (`wide_sum_exact`); `exact_convolve` sums in
// 128 bits, exact for every filter a 32-bit count of taps holds. Either result is then
// reduced to A bits: wrap keeps the low A bits (sign-extended), saturate clamps the exact
// sum to [-2^(A-1), 2^(A-1) - 1]; an exact sum outside that range counts as an overflow.
// The layout is the 32-bit kernel's (fast_kernel.h): coefficients oldest-first, a signal
// behind a zero prefix of taps - 1 samples, blocks of CONVOLVE_BLOCK outputs.

#include <cstddef>
#include <cstdint>

#include "fast_kernel.h"

namespace fixfir {

/// Whether every sum of products of coefficients with Σ|c| = `magnitude_sum` and samples of
/// magnitude at most `sample_magnitude` lies strictly inside ±2^63, so that the 64-bit
/// wrapping sum of `wide_convolve` is exact.
[[nodiscard]] bool wide_sum_exact(std::uint64_t magnitude_sum,
                                  std::uint64_t sample_magnitude) noexcept;

/// acc[k] = Σ reversed[i] · signal[first + k + i] for i in [0, taps), k in [0, outputs),
/// each product exact and the sum modulo 2^64, with the layout of `wrapping_convolve`
/// (signal[0 .. taps - 1) is zero, `outputs` a multiple of CONVOLVE_BLOCK, `signal` readable
/// up to first + outputs + taps - 2). Vectorised across the outputs of a block.
void wide_convolve(const std::int32_t* reversed, std::size_t taps, const std::int32_t* signal,
                   std::size_t first, std::size_t outputs, std::int64_t* acc) noexcept;

/// The same sums in doubles, over the 32-bit words `signal` (with the layout of
/// `wrapping_convolve`): out[k] = Σ reversed[i] · signal[first + k + i], the coefficients
/// `reversed` being integer-valued doubles. Every product and partial sum below 2^53 in
/// magnitude is exact whatever the order, so the sums are exact where Σ|c| · max|s| < 2^53;
/// beyond, each tap rounds at most twice, by 2^-53 of a value below Σ|c| · max|s|.
/// Mirrored taps take half the multiplies.
void exact_real_convolve(const double* reversed, std::size_t taps, const std::int32_t* signal,
                         std::size_t first, std::size_t outputs, double* out) noexcept;

/// The same sums, exact in 128 bits, each reduced to `bits` bits (8 to 64) as
/// `reduce_accumulators` does; returns how many of them did not fit. Any `outputs`.
[[nodiscard]] std::size_t exact_convolve(const std::int32_t* reversed, std::size_t taps,
                                         const std::int32_t* signal, std::size_t first,
                                         std::size_t outputs, std::int32_t bits, bool saturate,
                                         std::int64_t* acc) noexcept;

/// Reduces the n exact 64-bit sums `acc` to `bits` bits (8 to 64) in place: the low `bits`
/// bits sign-extended, or clamped to the range when `saturate`. Returns how many sums lay
/// outside the range.
[[nodiscard]] std::size_t reduce_accumulators(std::int64_t* acc, std::size_t n, std::int32_t bits,
                                              bool saturate) noexcept;

}  // namespace fixfir
