#pragma once
// A filter of integer coefficients over integer words, summed exactly in doubles: for
// models whose every term is an integer multiple of one power of two, so that a sum taken
// in any order is the sum taken tap by tap.
//
// Scaling and overflow: every product and partial sum is an integer below
// Σ|c| · max|w| in magnitude; where that bound is below 2^53 a double holds each exactly,
// and the order of the additions cannot change a result.

#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// Whether `integer_filter` is exact for these coefficients over words of magnitude at most
/// `largest_word`: Σ|c| · largest_word < 2^53.
[[nodiscard]] bool integer_filter_exact(std::span<const std::int32_t> c,
                                        std::uint64_t largest_word) noexcept;

/// out[n] = Σ c[j] · w[n - j] over j < min(c.size(), n + 1), for n in [0, w.size()): the
/// filter from rest, on the block kernel's doubles. The caller checks `integer_filter_exact`
/// first. out_of_memory when memory runs out.
[[nodiscard]] outcome integer_filter(std::span<const std::int32_t> c,
                                     std::span<const std::int32_t> w,
                                     std::vector<double>& out) noexcept;

}  // namespace fixfir
