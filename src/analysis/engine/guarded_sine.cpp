#include "guarded_sine.h"

#include <cmath>
#include <cstring>

#include "fixfir/common/checks.h"
#include "fixfir/common/conversion.h"
#include "fixfir/engine/fir_engine.h"

#if defined(__x86_64__) && !defined(FIXFIR_PORTABLE_KERNELS)
#include <immintrin.h>
#define FIXFIR_SINE_LANES 1
#endif

namespace fixfir {

// The fast sine and its error bound
// =================================
// u = 2^-53, the unit roundoff of double. The arguments are doubles a, |a| <= 2^17.
//
// Reduction by π. k = round(a / π), taken from fl(a × fl(1/π)) by adding and removing
// 1.5 × 2^52; so k is an integer, |k| <= 41723 < 2^16, and |a - kπ| <= π/2 + 10^-10
// (the product errs by less than 2^17 × 2^-52). π = P1 + P2 + P3 + δ, where P1 and P2
// have 35 significant bits, P3 is a double and |δ| < 2^-129.
//   r1 = fma(-k, P1, a) is exact. k × P1 has at most 51 bits. For k = 0, r1 = a. Otherwise
//        |a| > 1, so a and k × P1 are both multiples of 2^-52, and |r1| <= |a - kπ| +
//        |k| × |π - P1| < π/2 + 2^-20 < 2: 53 bits hold it.
//   r2 = fma(-k, P2, r1): k × P2 is exact, the result is rounded once and |r2| < 2:
//        error <= u.
//   r3 = fma(-k, P3, r2): rounded once, |r3| < 2: error <= u.
//   |k × δ| < 2^-113.
// So r = r3 is within 2u + 2^-113 of a - kπ, and |r| < 1.5709. As sin(a) = (-1)^k sin(a - kπ)
// and |sin'| <= 1, using r costs at most 2.01u.
//
// Polynomial. sin r = r + r³ T(r²) + e with T(z) = Σ_{j=1..10} c_j z^(j-1),
// c_j = (-1)^j / (2j + 1)!, and |e| <= |r|^23 / 23! < 1.3e-18 < 0.012u. For |r| < 1.5709,
// z = r² < 2.468, Σ |c_j| z^(j-1) = (sinh r - r) / r³ < 0.1886 and |T'(z)| < 0.0094.
// Evaluation: ẑ = fl(r × r) = z (1 + ε), Horner with FMA from c_10 down to c_1 (each c_j
// a double within u relative), p = fl(r × ẑ), v = fma(p, ŝ, r). Then
//   |ŝ - T(z)| <= 0.1886u (coefficients) + γ_9 × 0.1886 (nine FMAs; γ_9 = 9u / (1 - 9u))
//                 + 0.0094 × 2.468u (the error of ẑ) < 1.93u, and |ŝ| < 0.19;
//   p = r³ (1 + ε)(1 + ε'), so |p ŝ - r³ T(z)| <= |r|³ (|ŝ - T(z)| + 2.01u |ŝ|)
//                 < 3.877 × 2.32u < 9.0u;
//   the last FMA rounds once: at most u × |r + p ŝ| <= 1.001u.
// So |v - sin r| < 9.0u + 1.001u + 0.012u < 10.1u, and with the reduction, after the exact
// sign flip, |v - sin a| < 12.2u. FAST_SINE_ERROR = 16u.
//
// The guard. The C library documents its sine as under one ulp from sin a; we budget two
// ulps of a value of at most 1, i.e. 4u. So the library's value s lies within 20u of v.
// v ± sine_guard (32u) is rounded once (<= u), so [fl(v - 32u), fl(v + 32u)] ⊇ [v - 20u,
// v + 20u] holds s. A scale of 2^p (0 <= p <= 30) multiplies exactly, and truncation is
// monotone: when trunc(scale × low) = trunc(scale × high), it is trunc(scale × s), the
// straightforward sample. The vector conversion truncates like `real_to_int32` for these
// values, which stay below 2^31 in magnitude.
//
// Sums of sines (the waveform test). X = Σ fl(s_k / N), added in rising k; the fast sum
// V adds fl(v_k × fl(1/N)) in the same order, with the fast sines v_k, |v_k - s_k| <= 20u.
// The fast quotient rounds twice (the reciprocal and the product), the exact one once, and
// |s_k|, |v_k| <= 1 + 16u, so each term differs by at most (20u + 2.01u + u) / N <
// 23.1u / N. Every partial sum is at most 1.001 in magnitude (N < 2^31), so each addition
// adds at most 2 × 1.001u to the difference: |V - X| <= 23.1u + 2.002u N. The guard
// multitone_guard(N) = 32u + 4uN covers that plus the rounding of V ± guard.
// The printed text of X is sign, then round-half-away(D × 10^6) for D = X rounded to 17
// significant digits (|D - X| < 2^-54 for |X| <= 1.001). When |V| - guard - 2^-40 > 0, X has
// V's sign; and the computed floor(m × 10^6 + 0.5) at m = |V| ∓ (guard + 2^-40) bracket
// D × 10^6 + 0.5 with room: 2^-40 × 10^6 > 9e-7, against 3e-10 of rounding in computing
// them and 2^-54 × 10^6 from D. When both floors agree, every X in the interval prints the
// same millionths as V.
//
// The bound is checked, not only argued: `fixfir_long_checks sines` compares every sweep
// argument at several precisions against std::sin.

namespace {

constexpr double two_pi = TWO_PI;
constexpr double inv_pi = 0x1.45f306dc9c883p-2;
constexpr double round_shift = 0x1.8p52;
constexpr double pi_1 = 0x1.921fb54440000p+1;
constexpr double pi_2 = 0x1.68c234c4c0000p-38;
constexpr double pi_3 = 0x1.98a2e03707345p-76;
// c_1 … c_10 = (-1)^j / (2j + 1)!, rounded to nearest.
constexpr double sine_taylor[10] = {
    -0x1.5555555555555p-3,  0x1.1111111111111p-7,  -0x1.a01a01a01a01ap-13, 0x1.71de3a556c734p-19,
    -0x1.ae64567f544e4p-26, 0x1.6124613a86d09p-33, -0x1.ae7f3e733b81fp-41, 0x1.952c77030ad4ap-49,
    -0x1.2f49b46814157p-57, 0x1.71b8ef6dcf572p-66};
constexpr double sine_guard = 0x1p-48;
constexpr double text_slack = 0x1p-40;
constexpr std::int64_t sign_mask = INT64_MIN;

[[maybe_unused]] double multitone_guard(std::int32_t tones) noexcept {
  return 0x1p-48 + static_cast<double>(tones) * 0x1p-51;
}

std::uint32_t quantize(double scale, double x) noexcept {
  return static_cast<std::uint32_t>(real_to_int32(scale * x));
}

// The straightforward sample of the sweep.
std::uint32_t library_sample(double frequency, double t, double scale) noexcept {
  return quantize(scale, std::sin((frequency * t) * TWO_PI));
}

std::size_t library_sine_samples(double frequency, const double* times, double scale,
                                 std::uint32_t* q, std::size_t count) noexcept {
  for (std::size_t n = 0; n < count; ++n) q[n] = library_sample(frequency, times[n], scale);
  return count;
}

std::size_t exact_multitone_samples(const tone_set& tones, double scale, const double* times,
                                    double* x, std::uint32_t* q, std::size_t count) noexcept {
  for (std::size_t n = 0; n < count; ++n) {
    x[n] = exact_multitone(tones, times[n]);
    q[n] = quantize(scale, x[n]);
  }
  return count;
}

}  // namespace

#ifdef FIXFIR_SINE_LANES
namespace {

namespace avx2_lanes {
#define LANES_TARGET [[gnu::target("avx2,fma")]]
constexpr std::size_t lane_count = 4;
using vd [[gnu::vector_size(32)]] = double;
using vl [[gnu::vector_size(32)]] = std::int64_t;
using vq [[gnu::vector_size(16)]] = std::int32_t;
LANES_TARGET inline vd fused(vd a, vd b, vd c) { return _mm256_fmadd_pd(a, b, c); }
#include "guarded_sine_lanes.inc"
#undef LANES_TARGET
}  // namespace avx2_lanes

// The AVX-512 code's eight lanes on AVX2, one scalar FMA a lane: slow, for the tests only.
// Its 64-byte vectors pass between functions of this file only, so how they would be
// passed without AVX-512 between files does not matter (the build disables -Wpsabi here).
namespace avx2_eight_lanes {
#define LANES_TARGET [[gnu::target("avx2,fma")]]
constexpr std::size_t lane_count = 8;
using vd [[gnu::vector_size(64)]] = double;
using vl [[gnu::vector_size(64)]] = std::int64_t;
using vq [[gnu::vector_size(32)]] = std::int32_t;
LANES_TARGET inline vd fused(vd a, vd b, vd c) {
  vd r;
  for (std::size_t l = 0; l < lane_count; ++l) r[l] = __builtin_fma(a[l], b[l], c[l]);
  return r;
}
#include "guarded_sine_lanes.inc"
#undef LANES_TARGET
}  // namespace avx2_eight_lanes

namespace avx512_lanes {
#define LANES_TARGET [[gnu::target("avx512f")]]
constexpr std::size_t lane_count = 8;
using vd [[gnu::vector_size(64)]] = double;
using vl [[gnu::vector_size(64)]] = std::int64_t;
using vq [[gnu::vector_size(32)]] = std::int32_t;
LANES_TARGET inline vd fused(vd a, vd b, vd c) { return _mm512_fmadd_pd(a, b, c); }
#include "guarded_sine_lanes.inc"
#undef LANES_TARGET
}  // namespace avx512_lanes

}  // namespace
#endif

sine_lanes best_sine_lanes() noexcept {
  if (sine_lanes_supported(sine_lanes::avx512)) return sine_lanes::avx512;
  if (sine_lanes_supported(sine_lanes::avx2)) return sine_lanes::avx2;
  return sine_lanes::none;
}

const char* sine_lanes_name(sine_lanes lanes) noexcept {
  switch (lanes) {
    case sine_lanes::avx2:
      return "avx2";
    case sine_lanes::avx2_eight:
      return "avx2_eight";
    case sine_lanes::avx512:
      return "avx512";
    case sine_lanes::none:
      break;
  }
  return "none";
}

bool sine_lanes_supported(sine_lanes lanes) noexcept {
#ifdef FIXFIR_SINE_LANES
  switch (lanes) {
    case sine_lanes::none:
      return true;
    case sine_lanes::avx2:
    case sine_lanes::avx2_eight:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case sine_lanes::avx512:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
#else
  return lanes == sine_lanes::none;
#endif
}

bool guarded_scale(double scale) noexcept {
  int exponent = 0;
  return std::frexp(scale, &exponent) == 0.5 && exponent >= 1 && exponent <= 31;
}

std::size_t guarded_sine_samples(double frequency, const double* times, double scale,
                                 std::uint32_t* q, std::size_t count, sine_lanes lanes) noexcept {
  FIXFIR_EXPECTS(plausible_count(count));
  if (!guarded_scale(scale) || !sine_lanes_supported(lanes)) lanes = sine_lanes::none;
  switch (lanes) {
#ifdef FIXFIR_SINE_LANES
    case sine_lanes::avx2:
      return avx2_lanes::sine_samples(frequency, times, scale, q, count);
    case sine_lanes::avx2_eight:
      return avx2_eight_lanes::sine_samples(frequency, times, scale, q, count);
    case sine_lanes::avx512:
      return avx512_lanes::sine_samples(frequency, times, scale, q, count);
#endif
    default:
      return library_sine_samples(frequency, times, scale, q, count);
  }
}

double exact_multitone(const tone_set& tones, double t) noexcept {
  const double n = static_cast<double>(tones.count);
  double f = tones.first;
  double x = 0.0;
  for (std::int32_t k = 0; k < tones.count; ++k) {
    x = x + std::sin((f * t) * TWO_PI) / n;
    f = f + tones.step;
  }
  return x;
}

std::size_t guarded_multitone(const tone_set& tones, double scale, const double* times, double* x,
                              std::uint32_t* q, std::size_t count, sine_lanes lanes) noexcept {
  if (!guarded_scale(scale) || tones.count < 1 || !sine_lanes_supported(lanes)) {
    lanes = sine_lanes::none;
  }
  switch (lanes) {
#ifdef FIXFIR_SINE_LANES
    case sine_lanes::avx2:
      return avx2_lanes::multitone(tones, scale, times, x, q, count);
    case sine_lanes::avx2_eight:
      return avx2_eight_lanes::multitone(tones, scale, times, x, q, count);
    case sine_lanes::avx512:
      return avx512_lanes::multitone(tones, scale, times, x, q, count);
#endif
    default:
      return exact_multitone_samples(tones, scale, times, x, q, count);
  }
}

}  // namespace fixfir
