#include "fast_kernel.h"

#include <cstring>

namespace fixfir {

namespace {

// Sixteen 32-bit lanes: one AVX-512 register, two AVX2 registers, four SSE2 registers.
using lanes16 [[gnu::vector_size(64)]] = std::uint32_t;
constexpr std::size_t lane_count = 16;
static_assert(CONVOLVE_BLOCK == 2 * lane_count && DOT_LANES == lane_count);

}  // namespace

// The clones differ only in the instructions the compiler may use; the arithmetic is the
// same wrapping arithmetic, so every clone gives the same result.
[[gnu::target_clones("avx512f", "avx2", "default")]] std::uint32_t wrapping_dot(
    const std::uint32_t* a, const std::uint32_t* b, std::size_t n) noexcept {
  lanes16 sum{};
  std::size_t i = 0;
  for (; i + lane_count <= n; i += lane_count) {
    lanes16 va;
    lanes16 vb;
    std::memcpy(&va, a + i, sizeof va);  // unaligned loads
    std::memcpy(&vb, b + i, sizeof vb);
    sum += va * vb;
  }
  std::uint32_t total = 0;
  for (std::size_t l = 0; l < lane_count; ++l) total += sum[l];
  for (; i < n; ++i) total += a[i] * b[i];
  return total;
}

// Vectorised across outputs rather than across taps: each tap is broadcast and multiplies
// the 32 consecutive samples that the 32 outputs of a block see through it. No horizontal
// sums are needed, and a block costs `taps` broadcasts, 2 × `taps` vector multiply-adds.
[[gnu::target_clones("avx512f", "avx2", "default")]] void wrapping_convolve(
    const std::uint32_t* reversed, std::size_t taps, const std::uint32_t* signal, std::size_t first,
    std::size_t outputs, std::uint32_t* acc) noexcept {
  for (std::size_t k = 0; k < outputs; k += CONVOLVE_BLOCK) {
    const std::size_t m = first + k;
    lanes16 a0{};
    lanes16 a1{};
    // Output m + l reads signal[m + l + i]; below taps - 1 it is the zero prefix, so taps
    // whose reads all fall there (m + 31 + i < taps - 1) add nothing.
    const std::size_t last = m + CONVOLVE_BLOCK - 1;
    std::size_t i = taps > last + 1 ? taps - 1 - last : 0;
    for (; i < taps; ++i) {
      const lanes16 c = lanes16{} + reversed[i];
      lanes16 s0;
      lanes16 s1;
      std::memcpy(&s0, signal + m + i, sizeof s0);
      std::memcpy(&s1, signal + m + i + lane_count, sizeof s1);
      a0 += c * s0;
      a1 += c * s1;
    }
    std::memcpy(acc + k, &a0, sizeof a0);
    std::memcpy(acc + k + lane_count, &a1, sizeof a1);
  }
}

}  // namespace fixfir
