#include "fast_kernel.h"

#include <cstring>

#include "conversion.h"

namespace fixfir {

namespace {

// Sixteen 32-bit lanes: one AVX-512 register, two AVX2 registers, four SSE2 registers.
using lanes16 [[gnu::vector_size(64)]] = std::uint32_t;
using signed16 [[gnu::vector_size(64)]] = std::int32_t;
using doubles8 [[gnu::vector_size(64)]] = double;
using bits8 [[gnu::vector_size(64)]] = std::uint64_t;
using signed8 [[gnu::vector_size(32)]] = std::int32_t;
constexpr std::size_t lane_count = 16;
static_assert(CONVOLVE_BLOCK == 2 * lane_count);

}  // namespace

// Each kernel is compiled for AVX-512, for AVX2 and for plain x86-64, and the loader picks
// the best the processor has. The clones differ only in the instructions the compiler may
// use; the arithmetic is the same wrapping arithmetic, so every clone gives the same
// result. Defining FIXFIR_PORTABLE_KERNELS builds the plain version alone, so that the
// tests can exercise it on a machine that would otherwise pick a vector clone; other
// processors get the plain version too.
#if defined(FIXFIR_PORTABLE_KERNELS) || !defined(__x86_64__)
#define FIXFIR_VECTOR_CLONES
#else
#define FIXFIR_VECTOR_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#endif

// Vectorised across outputs rather than across taps: each tap is broadcast and multiplies
// the 32 consecutive samples that the 32 outputs of a block see through it. No horizontal
// sums are needed, and a block costs `taps` broadcasts, 2 × `taps` vector multiply-adds.
//
// A linear-phase filter has mirrored taps (c[j] = c[taps - 1 - j]). Then, because
// c · a + c · b = c · (a + b) holds modulo 2^32 as it does for integers, the two samples a
// mirrored pair weights are added first and multiplied once: half the multiplies, which
// are what bounds the loop.
FIXFIR_VECTOR_CLONES void wrapping_convolve(const std::uint32_t* reversed, std::size_t taps,
                                            const std::uint32_t* signal, std::size_t first,
                                            std::size_t outputs, std::uint32_t* acc) noexcept {
  const std::size_t half = taps / 2;
  bool mirrored = taps >= 2;
  for (std::size_t i = 0; i < half && mirrored; ++i) {
    mirrored = reversed[i] == reversed[taps - 1 - i];
  }
  for (std::size_t k = 0; k < outputs; k += CONVOLVE_BLOCK) {
    const std::size_t m = first + k;
    lanes16 a0{};
    lanes16 a1{};
    if (mirrored) {
      // Pair i weights signal[m + l + i] and signal[m + l + taps - 1 - i]; from i = m + 32
      // on, both lie in the zero prefix for every output of the block.
      const std::size_t pairs = half < m + CONVOLVE_BLOCK ? half : m + CONVOLVE_BLOCK;
      for (std::size_t i = 0; i < pairs; ++i) {
        const lanes16 c = lanes16{} + reversed[i];
        const std::uint32_t* older = signal + m + i;
        const std::uint32_t* newer = signal + m + (taps - 1 - i);
        lanes16 o0;
        lanes16 o1;
        lanes16 n0;
        lanes16 n1;
        std::memcpy(&o0, older, sizeof o0);
        std::memcpy(&o1, older + lane_count, sizeof o1);
        std::memcpy(&n0, newer, sizeof n0);
        std::memcpy(&n1, newer + lane_count, sizeof n1);
        a0 += c * (o0 + n0);
        a1 += c * (o1 + n1);
      }
      if (taps % 2 == 1) {  // the middle tap has no mirror
        const lanes16 c = lanes16{} + reversed[half];
        lanes16 s0;
        lanes16 s1;
        std::memcpy(&s0, signal + m + half, sizeof s0);
        std::memcpy(&s1, signal + m + half + lane_count, sizeof s1);
        a0 += c * s0;
        a1 += c * s1;
      }
    } else {
      // Output m + l reads signal[m + l + i]; below taps - 1 it is the zero prefix, so
      // taps whose reads all fall there (m + 31 + i < taps - 1) add nothing.
      const std::size_t last = m + CONVOLVE_BLOCK - 1;
      for (std::size_t i = taps > last + 1 ? taps - 1 - last : 0; i < taps; ++i) {
        const lanes16 c = lanes16{} + reversed[i];
        lanes16 s0;
        lanes16 s1;
        std::memcpy(&s0, signal + m + i, sizeof s0);
        std::memcpy(&s1, signal + m + i + lane_count, sizeof s1);
        a0 += c * s0;
        a1 += c * s1;
      }
    }
    std::memcpy(acc + k, &a0, sizeof a0);
    std::memcpy(acc + k + lane_count, &a1, sizeof a1);
  }
}

// Scaling: a product below 2^31 in magnitude truncates to a 32-bit value, so its 64-bit
// truncation and the low 32 bits of that agree, and the vector conversion gives it
// directly. A first pass checks every product's exponent, in integer lanes: if any is
// 2^31 or more in magnitude, infinite or NaN, the whole block takes the scalar conversion,
// which handles the full range.
FIXFIR_VECTOR_CLONES void quantize_block(double scale, const double* x, std::uint32_t* out,
                                         std::size_t n) noexcept {
  constexpr std::uint64_t exponent_of_2_31 = 1023 + 31;
  // Adding this sets bit 11 exactly for biased exponents from that of 2^31 up to 2047.
  constexpr std::uint64_t flag_offset = 2048 - exponent_of_2_31;
  std::size_t vector_part = n / 8 * 8;
  bits8 flags{};
  for (std::size_t i = 0; i < vector_part; i += 8) {
    doubles8 v;
    std::memcpy(&v, x + i, sizeof v);
    v = v * scale;  // scale × x: the same double product whichever side scale is on
    bits8 b;
    std::memcpy(&b, &v, sizeof b);
    flags |= ((b >> 52) & 0x7ffu) + flag_offset;
  }
  std::uint64_t any = 0;
  for (std::size_t l = 0; l < 8; ++l) any |= flags[l];
  if ((any & 2048u) != 0) vector_part = 0;
  for (std::size_t i = 0; i < vector_part; i += 8) {
    doubles8 v;
    std::memcpy(&v, x + i, sizeof v);
    v = v * scale;
    const signed8 q = __builtin_convertvector(v, signed8);
    std::memcpy(out + i, &q, sizeof q);
  }
  for (std::size_t i = vector_part; i < n; ++i) {
    out[i] = static_cast<std::uint32_t>(real_to_int32(scale * x[i]));
  }
}

// Overflow: the negation is done in unsigned lanes, where -2^31 maps to itself and so
// stays negative; the maximum starts at 0, so it never wins.
FIXFIR_VECTOR_CLONES std::int32_t peak_magnitude(const std::uint32_t* acc, std::size_t n) noexcept {
  signed16 best{};
  std::size_t i = 0;
  for (; i + lane_count <= n; i += lane_count) {
    lanes16 a;
    std::memcpy(&a, acc + i, sizeof a);
    const auto value = reinterpret_cast<signed16>(a);
    const auto negated = reinterpret_cast<signed16>(lanes16{} - a);
    const signed16 negative = value < 0;  // all ones where negative
    const signed16 magnitude = (negative & negated) | (~negative & value);
    const signed16 larger = magnitude > best;
    best = (larger & magnitude) | (~larger & best);
  }
  std::int32_t peak = 0;
  for (std::size_t l = 0; l < lane_count; ++l) peak = best[l] > peak ? best[l] : peak;
  for (; i < n; ++i) {
    const auto a = static_cast<std::int32_t>(acc[i]);
    const std::int32_t magnitude = a < 0 && a != INT32_MIN ? -a : a;
    peak = magnitude > peak ? magnitude : peak;
  }
  return peak;
}

}  // namespace fixfir
