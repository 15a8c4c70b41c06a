#include "real_kernel.h"

#include <cstring>

#include "fast_kernel.h"
#include "vector_clones.h"

namespace fixfir {

namespace {

using doubles8 [[gnu::vector_size(64)]] = double;
constexpr std::size_t lanes = 8;
static_assert(CONVOLVE_BLOCK % lanes == 0);

}  // namespace

// Vectorised across the 32 outputs of a block, as the fixed-point kernel is: each tap is
// broadcast and multiplies the consecutive samples those outputs see through it.
FIXFIR_KERNEL_CLONES void real_convolve(const double* reversed, std::size_t taps,
                                        const double* signal, std::size_t first,
                                        std::size_t outputs, double* out) noexcept {
  constexpr std::size_t groups = CONVOLVE_BLOCK / lanes;
  for (std::size_t k = 0; k < outputs; k += CONVOLVE_BLOCK) {
    const std::size_t m = first + k;
    doubles8 a[groups] = {};
    // Output m + l reads signal[m + l + i]; below taps - 1 it is the zero prefix, so taps
    // whose reads all fall there (m + 31 + i < taps - 1) add nothing.
    const std::size_t last = m + CONVOLVE_BLOCK - 1;
    for (std::size_t i = taps > last + 1 ? taps - 1 - last : 0; i < taps; ++i) {
      const doubles8 c = doubles8{} + reversed[i];
      for (std::size_t g = 0; g < groups; ++g) {
        doubles8 s;
        std::memcpy(&s, signal + m + i + g * lanes, sizeof s);
        a[g] = a[g] + c * s;
      }
    }
    for (std::size_t g = 0; g < groups; ++g) std::memcpy(out + k + g * lanes, &a[g], sizeof a[g]);
  }
}

}  // namespace fixfir
