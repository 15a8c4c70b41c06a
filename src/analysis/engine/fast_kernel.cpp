#include "fast_kernel.h"

#include <cstring>
#include <type_traits>
#include <utility>

#include "fixfir/common/checks.h"
#include "fixfir/common/conversion.h"
#include "wide_kernel.h"

namespace fixfir {

// Each kernel is compiled for AVX-512, for AVX2 and for plain x86-64 (SSE2), each on
// vectors of its registers' width, and the best the processor has is chosen once. The
// variants differ only in the instructions they use; the arithmetic is the same wrapping
// arithmetic, so every variant gives the same result (the double kernel's sums are exact
// below 2^53 in every variant, and beyond it within the same bound). Defining
// FIXFIR_PORTABLE_KERNELS builds the plain variant alone, so that the tests can exercise it on a
// machine that would otherwise pick a vector variant; other processors get the plain variant too.
#if defined(__x86_64__) && !defined(FIXFIR_PORTABLE_KERNELS)
#define FIXFIR_VECTOR_VARIANTS 1
#endif

#ifdef FIXFIR_VECTOR_VARIANTS
#include <immintrin.h>
#endif

namespace {

namespace plain_lanes {
#define LANES_TARGET
constexpr std::size_t lane_count = 4;
using vu [[gnu::vector_size(16)]] = std::uint32_t;
using vs [[gnu::vector_size(16)]] = std::int32_t;
using vd [[gnu::vector_size(16)]] = double;
using vb [[gnu::vector_size(16)]] = std::uint64_t;
using vq [[gnu::vector_size(8)]] = std::int32_t;
#include "fast_kernel_lanes.inc"
#undef LANES_TARGET
}  // namespace plain_lanes

#ifdef FIXFIR_VECTOR_VARIANTS
namespace avx2_lanes {
#define LANES_TARGET [[gnu::target("avx2")]]
constexpr std::size_t lane_count = 8;
using vu [[gnu::vector_size(32)]] = std::uint32_t;
using vs [[gnu::vector_size(32)]] = std::int32_t;
using vd [[gnu::vector_size(32)]] = double;
using vb [[gnu::vector_size(32)]] = std::uint64_t;
using vq [[gnu::vector_size(16)]] = std::int32_t;
#include "fast_kernel_lanes.inc"
#undef LANES_TARGET
}  // namespace avx2_lanes

namespace avx512_lanes {
#define LANES_TARGET [[gnu::target("avx512f")]]
constexpr std::size_t lane_count = 16;
using vu [[gnu::vector_size(64)]] = std::uint32_t;
using vs [[gnu::vector_size(64)]] = std::int32_t;
using vd [[gnu::vector_size(64)]] = double;
using vb [[gnu::vector_size(64)]] = std::uint64_t;
using vq [[gnu::vector_size(32)]] = std::int32_t;
#include "fast_kernel_lanes.inc"
#undef LANES_TARGET
}  // namespace avx512_lanes
#endif

}  // namespace

bool kernel_variant_supported(kernel_variant variant) noexcept {
  switch (variant) {
    case kernel_variant::plain:
      return true;
#ifdef FIXFIR_VECTOR_VARIANTS
    case kernel_variant::avx2:
      return __builtin_cpu_supports("avx2");
    case kernel_variant::avx512:
      return __builtin_cpu_supports("avx512f");
#else
    default:
      return false;
#endif
  }
  return false;
}

kernel_variant best_kernel_variant() noexcept {
  static const kernel_variant best =
      kernel_variant_supported(kernel_variant::avx512) ? kernel_variant::avx512
      : kernel_variant_supported(kernel_variant::avx2) ? kernel_variant::avx2
                                                       : kernel_variant::plain;
  return best;
}

const kernel_table& kernels(kernel_variant variant) noexcept {
  static constexpr kernel_table plain = {plain_lanes::convolve,   plain_lanes::convolve_real,
                                         plain_lanes::quantize,   plain_lanes::peak,
                                         plain_lanes::multiplies, plain_lanes::folded_steps};
#ifdef FIXFIR_VECTOR_VARIANTS
  static constexpr kernel_table avx2 = {avx2_lanes::convolve,   avx2_lanes::convolve_real,
                                        avx2_lanes::quantize,   avx2_lanes::peak,
                                        avx2_lanes::multiplies, avx2_lanes::folded_steps};
  static constexpr kernel_table avx512 = {avx512_lanes::convolve,   avx512_lanes::convolve_real,
                                          avx512_lanes::quantize,   avx512_lanes::peak,
                                          avx512_lanes::multiplies, avx512_lanes::folded_steps};
  if (kernel_variant_supported(variant)) {
    if (variant == kernel_variant::avx512) return avx512;
    if (variant == kernel_variant::avx2) return avx2;
  }
#else
  (void)variant;
#endif
  return plain;
}

void wrapping_convolve(const std::uint32_t* reversed, std::size_t taps, const std::uint32_t* signal,
                       std::size_t first, std::size_t outputs, std::uint32_t* acc) noexcept {
  FIXFIR_EXPECTS(outputs % CONVOLVE_BLOCK == 0 && plausible_count(first) &&
                 plausible_count(outputs) && plausible_count(taps));
  kernels().convolve(reversed, taps, signal, first, outputs, acc);
}

void exact_real_convolve(const double* reversed, std::size_t taps, const std::int32_t* signal,
                         std::size_t first, std::size_t outputs, double* out) noexcept {
  FIXFIR_EXPECTS(outputs % CONVOLVE_BLOCK == 0 && plausible_count(first) &&
                 plausible_count(outputs) && plausible_count(taps));
  kernels().convolve_real(reversed, taps, signal, first, outputs, out);
}

void quantize_block(double scale, const double* x, std::uint32_t* out, std::size_t n) noexcept {
  kernels().quantize(scale, x, out, n);
}

std::int32_t peak_magnitude(const std::uint32_t* acc, std::size_t n) noexcept {
  return kernels().peak(acc, n);
}

}  // namespace fixfir
