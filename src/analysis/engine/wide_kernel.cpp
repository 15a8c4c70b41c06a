#include "wide_kernel.h"

#include <cstring>

#include "fixfir/common/checks.h"
#include "vector_clones.h"

namespace fixfir {

namespace {

__extension__ using int128 = __int128;
__extension__ using uint128 = unsigned __int128;

// The range of a `bits`-bit accumulator (8 to 64).
std::int64_t accumulator_min(std::int32_t bits) noexcept {
  return bits >= 64 ? INT64_MIN : -(std::int64_t{1} << (bits - 1));
}
std::int64_t accumulator_max(std::int32_t bits) noexcept {
  return bits >= 64 ? INT64_MAX : (std::int64_t{1} << (bits - 1)) - 1;
}

// The low `bits` bits of `u` as a two's-complement value.
std::int64_t low_bits(std::uint64_t u, std::int32_t bits) noexcept {
  if (bits < 64) {
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    u &= (sign << 1) - 1;
    u = (u ^ sign) - sign;  // sign-extends, modulo 2^64
  }
  return static_cast<std::int64_t>(u);
}

}  // namespace

bool wide_sum_exact(std::uint64_t magnitude_sum, std::uint64_t sample_magnitude) noexcept {
  return static_cast<uint128>(magnitude_sum) * sample_magnitude < (static_cast<uint128>(1) << 63);
}

// Vectorised across the 32 outputs of a block, as the 32-bit kernel is: each tap is
// broadcast and multiplies the consecutive samples those outputs see through it. The
// compiler widens the 32-bit words into 64-bit lanes (a widening signed multiply where the
// instruction set has one); the sums are unsigned, so they wrap.
//
// Mirrored taps (c[i] = c[taps - 1 - i], a linear-phase filter) are folded: the pair's two
// samples are added in 64 bits first and multiplied once, c · a + c · b = c · (a + b)
// modulo 2^64. Pairs are not skipped at the zero prefix; its samples add nothing.
FIXFIR_KERNEL_CLONES void wide_convolve(const std::int32_t* reversed, std::size_t taps,
                                        const std::int32_t* signal, std::size_t first,
                                        std::size_t outputs, std::int64_t* acc) noexcept {
  FIXFIR_EXPECTS(outputs % CONVOLVE_BLOCK == 0 && plausible_count(first) &&
                 plausible_count(outputs) && plausible_count(taps));
  const std::size_t half = taps / 2;
  bool mirrored = taps >= 2;
  for (std::size_t i = 0; i < half && mirrored; ++i) {
    mirrored = reversed[i] == reversed[taps - 1 - i];
  }
  for (std::size_t k = 0; k < outputs; k += CONVOLVE_BLOCK) {
    const std::size_t m = first + k;
    std::uint64_t sum[CONVOLVE_BLOCK] = {};
    if (mirrored) {
      for (std::size_t i = 0; i < half; ++i) {
        const std::int64_t c = reversed[i];
        const std::int32_t* older = signal + m + i;
        const std::int32_t* newer = signal + m + taps - 1 - i;
        for (std::size_t l = 0; l < CONVOLVE_BLOCK; ++l) {
          const std::int64_t pair = std::int64_t{older[l]} + newer[l];
          sum[l] += static_cast<std::uint64_t>(c) * static_cast<std::uint64_t>(pair);
        }
      }
      if (taps % 2 == 1) {
        const std::int64_t c = reversed[half];
        const std::int32_t* s = signal + m + half;
        for (std::size_t l = 0; l < CONVOLVE_BLOCK; ++l) {
          sum[l] += static_cast<std::uint64_t>(c * s[l]);
        }
      }
    } else {
      // Output m + l reads signal[m + l + i]; below taps - 1 it is the zero prefix, so taps
      // whose reads all fall there (m + 31 + i < taps - 1) add nothing.
      const std::size_t last = m + CONVOLVE_BLOCK - 1;
      for (std::size_t i = taps > last + 1 ? taps - 1 - last : 0; i < taps; ++i) {
        const std::int64_t c = reversed[i];
        const std::int32_t* s = signal + m + i;
        for (std::size_t l = 0; l < CONVOLVE_BLOCK; ++l) {
          sum[l] += static_cast<std::uint64_t>(c * s[l]);
        }
      }
    }
    std::memcpy(acc + k, sum, sizeof sum);
  }
}

std::size_t exact_convolve(const std::int32_t* reversed, std::size_t taps,
                           const std::int32_t* signal, std::size_t first, std::size_t outputs,
                           std::int32_t bits, bool saturate, std::int64_t* acc) noexcept {
  FIXFIR_EXPECTS(bits >= 8 && bits <= 64 && plausible_count(first) && plausible_count(outputs) &&
                 plausible_count(taps));
  const std::int64_t lo = accumulator_min(bits);
  const std::int64_t hi = accumulator_max(bits);
  std::size_t overflows = 0;
  for (std::size_t k = 0; k < outputs; ++k) {
    const std::size_t m = first + k;
    int128 sum = 0;
    for (std::size_t i = taps > m + 1 ? taps - 1 - m : 0; i < taps; ++i) {
      sum += static_cast<std::int64_t>(reversed[i]) * signal[m + i];
    }
    const bool fits = sum >= lo && sum <= hi;
    overflows += fits ? 0 : 1;
    if (fits) {
      acc[k] = static_cast<std::int64_t>(sum);
    } else if (saturate) {
      acc[k] = sum < 0 ? lo : hi;
    } else {
      acc[k] = low_bits(static_cast<std::uint64_t>(static_cast<uint128>(sum)), bits);
    }
  }
  return overflows;
}

std::size_t reduce_accumulators(std::int64_t* acc, std::size_t n, std::int32_t bits,
                                bool saturate) noexcept {
  FIXFIR_EXPECTS(bits >= 8 && bits <= 64 && plausible_count(n));
  if (bits >= 64) return 0;  // an exact 64-bit sum always fits
  const std::int64_t lo = accumulator_min(bits);
  const std::int64_t hi = accumulator_max(bits);
  std::size_t overflows = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::int64_t a = acc[k];
    if (a >= lo && a <= hi) continue;
    ++overflows;
    acc[k] = saturate ? (a < 0 ? lo : hi) : low_bits(static_cast<std::uint64_t>(a), bits);
  }
  return overflows;
}

}  // namespace fixfir
