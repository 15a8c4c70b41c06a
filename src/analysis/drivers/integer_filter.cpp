#include "fixfir/drivers/integer_filter.h"

#include <algorithm>
#include <new>

#include "fast_kernel.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "wide_kernel.h"

namespace fixfir {

bool integer_filter_exact(std::span<const std::int32_t> c, std::uint64_t largest_word) noexcept {
  __extension__ using uint128 = unsigned __int128;
  return static_cast<uint128>(coefficient_magnitude_sum(c)) * largest_word <
         (static_cast<uint128>(1) << 53);
}

outcome integer_filter(std::span<const std::int32_t> c, std::span<const std::int32_t> w,
                       std::vector<double>& out) noexcept {
  try {
    if (c.empty() || w.empty()) {
      out.assign(w.size(), 0.0);
      return success();
    }
    // Coefficient j meets the word j steps old: over n words from rest only the first n can.
    const std::size_t taps = std::min(c.size(), w.size());
    const std::size_t outputs = (w.size() + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
    // The kernel's layout: coefficients oldest first, the words behind taps - 1 zeros, and
    // zeros past the last word up to what the last block reads.
    std::vector<double> reversed(c.rend() - static_cast<std::ptrdiff_t>(taps), c.rend());
    std::vector<std::int32_t> signal(taps - 1 + outputs, 0);
    std::copy(w.begin(), w.end(), signal.begin() + static_cast<std::ptrdiff_t>(taps - 1));
    out.assign(outputs, 0.0);
    exact_real_convolve(reversed.data(), taps, signal.data(), 0, outputs, out.data());
    out.resize(w.size());
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
