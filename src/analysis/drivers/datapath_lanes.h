#pragma once
// The datapath stream's passes over a block in vector lanes: its samples made words, their
// bound, and the kernels' sums made accumulators (datapath_stream.cpp says which kernel's).

#include <cstddef>
#include <cstdint>

#include "fixfir/coefficients/datapath.h"

namespace fixfir {

// quantize_word on each of the n samples `x` into `out`; returns how many overflowed.
[[nodiscard]] std::size_t quantize_words(const double* x, std::size_t n, const word_format& w,
                                         std::int32_t* out) noexcept;

// A bound on the magnitudes of the n words `w`: at least the largest, less than twice it.
[[nodiscard]] std::uint64_t magnitude_bound(const std::int32_t* w, std::size_t n) noexcept;

// acc[k] = the low `bits` bits (8 to 32) of low[k], sign-extended.
void extend_low_bits(const std::uint32_t* low, std::size_t n, std::int32_t bits,
                     std::int64_t* acc) noexcept;

// The n exact sums `sums` (integers below 2^51 in magnitude) as accumulators of `bits` bits,
// wrapped or saturated; returns how many did not fit.
[[nodiscard]] std::size_t narrow_sums(const double* sums, std::size_t n, std::int32_t bits,
                                      bool saturate, std::int64_t* acc) noexcept;

// The exact sums whose `estimates` (below 2^82 in magnitude) are within 2^29 of them and
// whose low 32 bits are `low`, as accumulators of `bits` bits, wrapped or saturated; returns
// how many did not fit.
[[nodiscard]] std::size_t rebuild_sums(const double* estimates, const std::uint32_t* low,
                                       std::size_t n, std::int32_t bits, bool saturate,
                                       std::int64_t* acc) noexcept;

// The same sums' low `bits` bits (8 to 64), sign-extended, for estimates below 2^82 in
// magnitude: a wrapping accumulator's, with no overflow counted.
void rebuild_wrapped(const double* estimates, const std::uint32_t* low, std::size_t n,
                     std::int32_t bits, std::int64_t* acc) noexcept;

}  // namespace fixfir
