#include <cstring>

#include "fast_kernel.h"
#include "vector_clones.h"
#include "wide_kernel.h"

namespace fixfir {

namespace {

using doubles8 [[gnu::vector_size(64)]] = double;
constexpr std::size_t lanes = 8;
constexpr std::size_t groups = CONVOLVE_BLOCK / lanes;
static_assert(CONVOLVE_BLOCK % lanes == 0);

}  // namespace

// Vectorised across the 32 outputs of a block, as the fixed-point kernel is. Every value is
// an integer and every product and partial sum lies below 2^53, so each operation is exact:
// mirrored taps are folded (c · a + c · b = c · (a + b)) and products may be fused into the
// sums (this file is built with contraction) without changing any result.
FIXFIR_KERNEL_CLONES void exact_real_convolve(const double* reversed, std::size_t taps,
                                              const double* signal, std::size_t first,
                                              std::size_t outputs, double* out) noexcept {
  const std::size_t half = taps / 2;
  bool mirrored = taps >= 2;
  for (std::size_t i = 0; i < half && mirrored; ++i) {
    mirrored = reversed[i] == reversed[taps - 1 - i];
  }
  for (std::size_t k = 0; k < outputs; k += CONVOLVE_BLOCK) {
    const std::size_t m = first + k;
    doubles8 a[groups] = {};
    if (mirrored) {
      // Pair i weights signal[m + l + i] and signal[m + l + taps - 1 - i]; from i = m + 32
      // on, both lie in the zero prefix for every output of the block.
      const std::size_t pairs = half < m + CONVOLVE_BLOCK ? half : m + CONVOLVE_BLOCK;
      for (std::size_t i = 0; i < pairs; ++i) {
        const doubles8 c = doubles8{} + reversed[i];
        const double* older = signal + m + i;
        const double* newer = signal + m + taps - 1 - i;
#pragma GCC unroll 8
        for (std::size_t g = 0; g < groups; ++g) {
          doubles8 o;
          doubles8 n;
          std::memcpy(&o, older + g * lanes, sizeof o);
          std::memcpy(&n, newer + g * lanes, sizeof n);
          a[g] = a[g] + c * (o + n);
        }
      }
      if (taps % 2 == 1) {
        const doubles8 c = doubles8{} + reversed[half];
#pragma GCC unroll 8
        for (std::size_t g = 0; g < groups; ++g) {
          doubles8 s;
          std::memcpy(&s, signal + m + half + g * lanes, sizeof s);
          a[g] = a[g] + c * s;
        }
      }
    } else {
      // Output m + l reads signal[m + l + i]; below taps - 1 it is the zero prefix, so taps
      // whose reads all fall there (m + 31 + i < taps - 1) add nothing.
      const std::size_t last = m + CONVOLVE_BLOCK - 1;
      for (std::size_t i = taps > last + 1 ? taps - 1 - last : 0; i < taps; ++i) {
        const doubles8 c = doubles8{} + reversed[i];
#pragma GCC unroll 8
        for (std::size_t g = 0; g < groups; ++g) {
          doubles8 s;
          std::memcpy(&s, signal + m + i + g * lanes, sizeof s);
          a[g] = a[g] + c * s;
        }
      }
    }
#pragma GCC unroll 8
    for (std::size_t g = 0; g < groups; ++g) std::memcpy(out + k + g * lanes, &a[g], sizeof a[g]);
  }
}

}  // namespace fixfir
