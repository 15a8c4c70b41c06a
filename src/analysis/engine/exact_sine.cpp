#include "exact_sine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/common/checks.h"

#if defined(__x86_64__) && !defined(FIXFIR_PORTABLE_KERNELS)
#include <immintrin.h>
#define FIXFIR_EXACT_SINE_LANES 1
#endif

namespace fixfir {

// What the library's sine returns
// ===============================
// The library does not promise correct rounding, only an error under one ulp. Measured on
// this system's library (glibc 2.36, x86-64 with FMA) against a 113-bit reference, over
// 1.28e8 arguments (f × t) × TWO_PI, f every other whole hertz from 4 to 8000, t every
// sample time of the waveform test: the largest error is 0.51545 ulp, and where the result
// is not the correctly rounded one (178419 times) the true value lies within 0.01545 ulp
// of the midpoint between two doubles (4506 times beyond 0.01, never beyond 0.0155). We
// rely on this with a twofold margin: when sin a is more than library_slack = 1/32 ulp
// from every midpoint, std::sin(a) is sin a rounded to nearest. The library's cosine, over
// the sweep's 3.2e7 arguments (every whole hertz from 4 to 8000, the first 4000 sample
// times), behaves alike: at most 0.51555 ulp off, and wrong only within 0.01555 ulp of a
// midpoint; cos a = sin(a + π/2) is computed as below with the table shifted by a quarter
// turn, under the same bound. `fixfir_long_checks exact_sines` compares both with the
// library bit for bit on every waveform argument of whole-hertz tones of either sign (to
// 16000 Hz for the sine, 8000 Hz for the cosine) and on arguments spread over the range,
// 2.2e9 in all.
//
// The vector sine and its error bound
// ===================================
// u = 2^-53. The arguments are doubles a with |a| <= 2^17.
//
// Reduction by π/32. k = round(a × 32/π), from fl(a × fl(32/π)) by adding and removing
// 1.5 × 2^52, so |k| < 1.4e6 < 2^21, and |r| <= π/64 (1 + 2^-30) < 0.04909 for
// r = a - kπ/32. π/32 = C1 + C2 + γ, C1 of 32 bits, C2 a double, |C2| < 2^-37,
// |γ| < 2^-91.
//   r1 = fma(-k, C1, a) is exact: r1 and k × C1 are multiples of min(ulp(a), 2^-35) and
//        |r1| < 2^-4, so 53 bits hold r1 (for k = 0, r1 = a).
//   k2 = fl(k × C2), |k2| < 2^-16, within 2^-69 of k × C2; r1 - k2 = rh + rl exactly
//        (two_sum), |rh| < 2^-4, |rl| <= 2^-58.
// So r = rh + rl + ρ with |ρ| < 2^-69 + |k γ| < 2^-68.4.
// Table. sin(jπ/32) = sh + sl + β and cos(jπ/32) = ch + cl + β', |β|, |β'| <= 2^-107.
// Series. With z + z_low = rh² exactly (the FMA), |rh| < 0.04909, z < 0.00241:
//   sin r = r + rh³ P(rh²) + τ1, P the Taylor polynomial to r^9, |τ1| < 2^-67 (the
//        truncation, < 2^-73, and rl × the derivative of rh³ P, < 1.3e-3 × 2^-57.9);
//   cos r = 1 - rh²/2 - rh rl + rh⁴ Q(rh²) + τ2, Q to r^10, |τ2| < 2^-70 (the truncation,
//        < 2^-80; rl² and rl × rh³/6).
// sin a = (sh + sl) cos r + (ch + cl) sin r within 2^-68.3 (ρ, β, β'), and with the series
//   sin a = sh + ch rh + sh (-z/2) + S + τ,  |τ| < 2^-65.6,
//   S = sl + cl rh + sl (-z/2) + ch (rl + rh³P) + sh (z² Q - z_low/2 - rh rl)
// (dropped: cl (sin r - rh), < 2^-54 × 2.1e-5, and sl × the rest of cos r - 1, < 2^-73).
// Computation. ch rh = c_r + c_r_low and sh (-z/2) = s_c + s_c_low exactly (-z/2 is exact;
// FMA low parts); sh + c_r = sum1 + e1 and sum1 + s_c = sum2 + e2 exactly (fast_two_sum:
// sh = 0 or |sh| >= sin(π/32) > 0.098 > |c_r|; s_c = 0 or |sum1| > 0.098 - 0.0491 > |s_c|). So
// sin a = sum2 + (e1 + e2 + c_r_low + s_c_low + S) + τ exactly, and the computed `small`
// holds that bracket up to its roundings: every term is below 2^-15.5 (ch × rh³P <
// 0.04909³ / 6 < 2^-15.6; sh (z² Q) < 2^-21; the others < 2^-52), so is every partial sum,
// and its 14 operations round by at most 14 × 2^-15.5 u < 2^-64.7; rh³P itself is computed
// to within 6u relative (z, two products, P with |P| > 0.166 to within 2u), < 2^-66,
// and z² Q, z_low/2, rh rl to within 4u of 2^-21, < 2^-72. Finally sum2 + small =
// high + residual exactly (fast_two_sum) when |high| >= 2^-8, as then |sum2| > 2^-8 -
// 2^-15 > |small|; smaller results fail the test below whatever the residual. Altogether
//   |sin a - (high + residual)| < 2^-65.6 + 2^-64.7 + 2^-66 + 2^-72 < 2^-63.3 < error_bound
//   = 2^-62.
// The decision. `high` is rounded to nearest from sum2 + small, so |residual| <= ulp/2 with
// ulp = ulp(high). When high is not a power of 2, its neighbours lie ulp away, and when
// |residual| + error_bound <= (1/2 - library_slack) ulp, sin a lies within
// (1/2 - library_slack) ulp of high: high is sin a rounded to nearest, sin a is more than
// library_slack ulp from a midpoint, and std::sin(a) = high. The test rounds once, by
// less than 2^-105, which the margin in error_bound covers. Zero, subnormal and tiny results
// fail the test (ulp(high) × 15/32 < error_bound below 2^-8), as do NaN and |a| > 2^17.

namespace {

constexpr double two_pi = TWO_PI;
constexpr double inv_pi_32 = 0x1.45f306dc9c883p+3;
constexpr double round_shift = 0x1.8p52;
constexpr double pi_32_1 = 0x1.921fb544p-4;
constexpr double pi_32_2 = 0x1.0b4611a626331p-38;
constexpr double exact_sine_limit = 0x1p17;
// Taylor coefficients: sin r - r = r³ Σ sine_series[i] r^2i, cos r - 1 + r²/2 =
// r⁴ Σ cosine_series[i] r^2i.
constexpr double sine_series[4] = {-0x1.5555555555555p-3, 0x1.1111111111111p-7,
                                   -0x1.a01a01a01a01ap-13, 0x1.71de3a556c734p-19};
constexpr double cosine_series[4] = {0x1.5555555555555p-5, -0x1.6c16c16c16c17p-10,
                                     0x1.a01a01a01a01ap-16, -0x1.27e4fb7789f5cp-22};
constexpr double error_bound = 0x1p-62;
// (1/2 - library_slack) × 2^-52: times 2^E, the certain part of an ulp of a value in
// [2^E, 2^(E+1)).
constexpr double certain_fraction = 0x1.ep-54;
constexpr std::int64_t sign_bit = INT64_MIN;
constexpr std::int64_t exponent_bits = 0x7ff0000000000000;
constexpr std::int64_t mantissa_bits = 0x000fffffffffffff;

struct double_double {
  double high;
  double low;
};

// sin(jπ/32) for j = 0 … 16, high and low parts.
constexpr double_double first_quadrant[17] = {
    {0x0p+0, 0x0p+0},
    {0x1.917a6bc29b42cp-4, -0x1.e2718d26ed688p-60},
    {0x1.8f8b83c69a60bp-3, -0x1.26d19b9ff8d82p-57},
    {0x1.294062ed59f06p-2, -0x1.5d28da2c4612dp-56},
    {0x1.87de2a6aea963p-2, -0x1.72cedd3d5a61p-57},
    {0x1.e2b5d3806f63bp-2, 0x1.e0d891d3c6841p-58},
    {0x1.1c73b39ae68c8p-1, 0x1.b25dd267f66p-55},
    {0x1.44cf325091dd6p-1, 0x1.8076a2cfdc6b3p-57},
    {0x1.6a09e667f3bcdp-1, -0x1.bdd3413b26456p-55},
    {0x1.8bc806b151741p-1, -0x1.2c5e12ed1336dp-55},
    {0x1.a9b66290ea1a3p-1, 0x1.9f630e8b6dac8p-60},
    {0x1.c38b2f180bdb1p-1, -0x1.6e0b1757c8d07p-56},
    {0x1.d906bcf328d46p-1, 0x1.457e610231ac2p-56},
    {0x1.e9f4156c62ddap-1, 0x1.760b1e2e3f81ep-55},
    {0x1.f6297cff75cbp-1, 0x1.562172a361fd3p-56},
    {0x1.fd88da3d12526p-1, -0x1.87df6378811c7p-55},
    {0x1p+0, 0x0p+0},
};

// Row j = 0 … 63 holds sin(jπ/32) and cos(jπ/32) = sin((j + 16)π/32): sh, ch, sl, cl.
struct alignas(32) table_row {
  double sh;
  double ch;
  double sl;
  double cl;
};

constexpr double_double sine_at(std::size_t j) {
  const std::size_t m = j % 64;
  const std::size_t i = m <= 16 ? m : m <= 32 ? 32 - m : m <= 48 ? m - 32 : 64 - m;
  const double sign = m <= 32 ? 1.0 : -1.0;
  return {sign * first_quadrant[i].high, sign * first_quadrant[i].low};
}

constexpr auto sine_rows = [] {
  struct table {
    table_row row[64];
  } t{};
  for (std::size_t j = 0; j < 64; ++j) {
    const double_double s = sine_at(j);
    const double_double c = sine_at(j + 16);
    t.row[j] = {s.high, c.high, s.low, c.low};
  }
  return t;
}();

enum class wave { sine, cosine };

double library(wave w, double a) noexcept { return w == wave::sine ? std::sin(a) : std::cos(a); }

std::size_t library_sines(const double* a, double* s, std::size_t count, wave w) noexcept {
  for (std::size_t n = 0; n < count; ++n) s[n] = library(w, a[n]);
  return count;
}

std::size_t library_multitones(const tone_set& tones, const double* times, double* x,
                               std::size_t count) noexcept {
  for (std::size_t n = 0; n < count; ++n) x[n] = exact_multitone(tones, times[n]);
  return count * static_cast<std::size_t>(std::max(tones.count, 0));
}

}  // namespace

#ifdef FIXFIR_EXACT_SINE_LANES
namespace {

namespace avx2_lanes {
#define LANES_TARGET [[gnu::target("avx2,fma")]]
constexpr std::size_t lane_count = 4;
using vd [[gnu::vector_size(32)]] = double;
using vl [[gnu::vector_size(32)]] = std::int64_t;
LANES_TARGET inline vd fused(vd a, vd b, vd c) { return _mm256_fmadd_pd(a, b, c); }
LANES_TARGET inline std::uint64_t lane_bits(vl m) {
  return static_cast<std::uint32_t>(_mm256_movemask_pd(reinterpret_cast<__m256d>(m)));
}
// The four lanes' rows, loaded whole and transposed.
LANES_TARGET inline void look_up(vl j, vd& sh, vd& ch, vd& sl, vd& cl) {
  const double* rows = &sine_rows.row[0].sh;
  const __m256d r0 = _mm256_load_pd(rows + 4 * j[0]);
  const __m256d r1 = _mm256_load_pd(rows + 4 * j[1]);
  const __m256d r2 = _mm256_load_pd(rows + 4 * j[2]);
  const __m256d r3 = _mm256_load_pd(rows + 4 * j[3]);
  const __m256d low01 = _mm256_unpacklo_pd(r0, r1);   // sh0 sh1 sl0 sl1
  const __m256d high01 = _mm256_unpackhi_pd(r0, r1);  // ch0 ch1 cl0 cl1
  const __m256d low23 = _mm256_unpacklo_pd(r2, r3);
  const __m256d high23 = _mm256_unpackhi_pd(r2, r3);
  sh = _mm256_permute2f128_pd(low01, low23, 0x20);
  sl = _mm256_permute2f128_pd(low01, low23, 0x31);
  ch = _mm256_permute2f128_pd(high01, high23, 0x20);
  cl = _mm256_permute2f128_pd(high01, high23, 0x31);
}
#include "exact_sine_lanes.inc"
#undef LANES_TARGET
}  // namespace avx2_lanes

// The AVX-512 code's eight lanes on AVX2, one scalar FMA a lane: for the tests only.
namespace avx2_eight_lanes {
#define LANES_TARGET [[gnu::target("avx2,fma")]]
constexpr std::size_t lane_count = 8;
using vd [[gnu::vector_size(64)]] = double;
using vl [[gnu::vector_size(64)]] = std::int64_t;
LANES_TARGET inline vd fused(vd a, vd b, vd c) {
  vd r;
  for (std::size_t l = 0; l < lane_count; ++l) r[l] = __builtin_fma(a[l], b[l], c[l]);
  return r;
}
LANES_TARGET inline std::uint64_t lane_bits(vl m) {
  std::uint64_t bits = 0;
  for (std::size_t l = 0; l < lane_count; ++l) bits |= static_cast<std::uint64_t>(m[l] & 1) << l;
  return bits;
}
LANES_TARGET inline void look_up(vl j, vd& sh, vd& ch, vd& sl, vd& cl) {
  for (std::size_t l = 0; l < lane_count; ++l) {
    const table_row& row = sine_rows.row[static_cast<std::size_t>(j[l])];
    sh[l] = row.sh;
    ch[l] = row.ch;
    sl[l] = row.sl;
    cl[l] = row.cl;
  }
}
#include "exact_sine_lanes.inc"
#undef LANES_TARGET
}  // namespace avx2_eight_lanes

namespace avx512_lanes {
#define LANES_TARGET [[gnu::target("avx512f")]]
constexpr std::size_t lane_count = 8;
using vd [[gnu::vector_size(64)]] = double;
using vl [[gnu::vector_size(64)]] = std::int64_t;
LANES_TARGET inline vd fused(vd a, vd b, vd c) { return _mm512_fmadd_pd(a, b, c); }
LANES_TARGET inline std::uint64_t lane_bits(vl m) {
  const auto v = reinterpret_cast<__m512i>(m);
  return _mm512_test_epi64_mask(v, v);
}
// GCC 12's AVX-512 intrinsics read an undefined vector on purpose, which it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// Rows j and k of sine_rows in one register.
LANES_TARGET inline __m512d row_pair(std::int64_t j, std::int64_t k) {
  const double* rows = &sine_rows.row[0].sh;
  return _mm512_insertf64x4(_mm512_broadcast_f64x4(_mm256_load_pd(rows + 4 * j)),
                            _mm256_load_pd(rows + 4 * k), 1);
}
// The eight lanes' rows, loaded two to a register and transposed.
LANES_TARGET inline void look_up(vl j, vd& sh, vd& ch, vd& sl, vd& cl) {
  const __m512d r01 = row_pair(j[0], j[1]);  // sh0 ch0 sl0 cl0 sh1 ch1 sl1 cl1
  const __m512d r23 = row_pair(j[2], j[3]);
  const __m512d r45 = row_pair(j[4], j[5]);
  const __m512d r67 = row_pair(j[6], j[7]);
  const __m512d low0123 = _mm512_unpacklo_pd(r01, r23);   // sh0 sh2 sl0 sl2 sh1 sh3 sl1 sl3
  const __m512d high0123 = _mm512_unpackhi_pd(r01, r23);  // ch0 ch2 cl0 cl2 ch1 ch3 cl1 cl3
  const __m512d low4567 = _mm512_unpacklo_pd(r45, r67);
  const __m512d high4567 = _mm512_unpackhi_pd(r45, r67);
  const __m512i first = _mm512_set_epi64(13, 9, 12, 8, 5, 1, 4, 0);
  const __m512i second = _mm512_set_epi64(15, 11, 14, 10, 7, 3, 6, 2);
  sh = reinterpret_cast<vd>(_mm512_permutex2var_pd(low0123, first, low4567));
  sl = reinterpret_cast<vd>(_mm512_permutex2var_pd(low0123, second, low4567));
  ch = reinterpret_cast<vd>(_mm512_permutex2var_pd(high0123, first, high4567));
  cl = reinterpret_cast<vd>(_mm512_permutex2var_pd(high0123, second, high4567));
}
#include "exact_sine_lanes.inc"
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#undef LANES_TARGET
}  // namespace avx512_lanes

}  // namespace
#endif

namespace {

std::size_t exact_waves(const double* a, double* s, std::size_t count, wave w,
                        sine_lanes lanes) noexcept {
  FIXFIR_EXPECTS(plausible_count(count));
  if (!sine_lanes_supported(lanes)) lanes = sine_lanes::none;
  switch (lanes) {
#ifdef FIXFIR_EXACT_SINE_LANES
    case sine_lanes::avx2:
      return avx2_lanes::sines(a, s, count, w);
    case sine_lanes::avx2_eight:
      return avx2_eight_lanes::sines(a, s, count, w);
    case sine_lanes::avx512:
      return avx512_lanes::sines(a, s, count, w);
#endif
    default:
      return library_sines(a, s, count, w);
  }
}

}  // namespace

std::size_t exact_sines(const double* a, double* s, std::size_t count, sine_lanes lanes) noexcept {
  return exact_waves(a, s, count, wave::sine, lanes);
}

std::size_t exact_cosines(const double* a, double* c, std::size_t count,
                          sine_lanes lanes) noexcept {
  return exact_waves(a, c, count, wave::cosine, lanes);
}

std::size_t exact_multitones(const tone_set& tones, const double* times, double* x,
                             std::size_t count, sine_lanes lanes) noexcept {
  FIXFIR_EXPECTS(plausible_count(count));
  if (!sine_lanes_supported(lanes)) lanes = sine_lanes::none;
  switch (lanes) {
#ifdef FIXFIR_EXACT_SINE_LANES
    case sine_lanes::avx2:
      return avx2_lanes::multitones(tones, times, x, count);
    case sine_lanes::avx2_eight:
      return avx2_eight_lanes::multitones(tones, times, x, count);
    case sine_lanes::avx512:
      return avx512_lanes::multitones(tones, times, x, count);
#endif
    default:
      return library_multitones(tones, times, x, count);
  }
}

}  // namespace fixfir
