#include "datapath_lanes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "vector_clones.h"
#include "wide_kernel.h"

namespace fixfir {

namespace {

__extension__ using int128 = __int128;

using doubles8 [[gnu::vector_size(64)]] = double;
using longs8 [[gnu::vector_size(64)]] = std::int64_t;
using ulongs8 [[gnu::vector_size(64)]] = std::uint64_t;
using ints8 [[gnu::vector_size(32)]] = std::int32_t;
using uints8 [[gnu::vector_size(32)]] = std::uint32_t;

// Adding 1.5 × 2^52 to a double below 2^51 in magnitude rounds it to an integer and leaves
// that integer, as two's complement, in the low bits of the sum's bits less these.
constexpr double magic = 0x1.8p52;
constexpr std::uint64_t magic_bits = std::bit_cast<std::uint64_t>(magic);

// Whether no lane of a run's flags is set: every value of the run took the vector path.
inline bool none_flagged(const longs8& flags) noexcept {
  bool none = true;
  for (std::size_t l = 0; l < 8; ++l) none = none && flags[l] == 0;
  return none;
}

}  // namespace

// quantize_word on each of the n samples `x` into `out`; returns how many overflowed. The
// samples go through vector lanes 256 at a time, on arithmetic alone (no lane comparisons,
// which some instruction sets can only do one lane at a time):
//  - v = x × 2^F is taken only where |v| ≤ 2^(W-1) - 1, checked on its bits (the bits of a
//    magnitude, NaN's above infinity's, order as the magnitudes do). Every rounding of such a
//    v fits the word; any other lane (a value at or beyond the word's edge, NaN, infinity) is
//    zeroed before its conversion, and sends its run of 256 samples to quantize_word itself.
//  - t = trunc(v) by the integer conversion; d = v - t is exact, and +0 when v is an integer.
//  - floor: t - 1 where d < 0, read from d's sign bit.
//  - to nearest, ties away from zero: t + 1 where d - 1/2 ≥ 0, t - 1 where -d - 1/2 ≥ 0, read
//    from their sign bits (each difference is exact or keeps its sign, and is +0 at a tie).
FIXFIR_KERNEL_CLONES std::size_t quantize_words(const double* x, std::size_t n,
                                                const word_format& w, std::int32_t* out) noexcept {
  constexpr std::size_t lanes = 8;
  constexpr std::size_t run = 256;
  const double power = std::ldexp(1.0, w.fraction_bits);
  const auto limit = std::bit_cast<std::int64_t>(std::ldexp(1.0, w.bits - 1) - 1.0);
  constexpr std::int64_t magnitude_bits = INT64_MAX;
  const rounding_mode rounding = w.rounding;  // read once, not again after every store
  const std::size_t vector_part = n / lanes * lanes;
  std::size_t overflows = 0;
  auto one_by_one = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      const word_value q = quantize_word(x[i], w);
      // The sample word is at most 32 bits wide, so its value fits.
      out[i] = static_cast<std::int32_t>(q.value);
      overflows += q.overflowed ? 1 : 0;
    }
  };
  for (std::size_t from = 0; from < vector_part; from += run) {
    const std::size_t to = std::min(from + run, vector_part);
    longs8 outside{};
    for (std::size_t i = from; i < to; i += lanes) {
      doubles8 v;
      std::memcpy(&v, x + i, sizeof v);
      v = v * power;
      // All ones where |v| is beyond the limit (or NaN), else 0.
      const longs8 beyond = (limit - (reinterpret_cast<longs8>(v) & magnitude_bits)) >> 63;
      outside |= beyond;
      v = reinterpret_cast<doubles8>(reinterpret_cast<longs8>(v) & ~beyond);
      ints8 words = __builtin_convertvector(v, ints8);
      if (rounding != rounding_mode::toward_zero) {
        const doubles8 d = v - __builtin_convertvector(words, doubles8);
        // The sign bit of each lane of a difference, as 0 or 1.
#define FIXFIR_SIGN_BITS(e) __builtin_convertvector(reinterpret_cast<ulongs8>(e) >> 63, ints8)
        if (rounding == rounding_mode::floor) {
          words -= FIXFIR_SIGN_BITS(d);
        } else {
          words += FIXFIR_SIGN_BITS(-d - 0.5) - FIXFIR_SIGN_BITS(d - 0.5);
        }
#undef FIXFIR_SIGN_BITS
      }
      std::memcpy(out + i, &words, sizeof words);
    }
    if (!none_flagged(outside)) one_by_one(from, to);
  }
  one_by_one(vector_part, n);
  return overflows;
}

// A bound on the magnitudes of the n words `w`: the bitwise or of them, which is at least
// the largest and less than twice it.
FIXFIR_KERNEL_CLONES std::uint64_t magnitude_bound(const std::int32_t* w, std::size_t n) noexcept {
  constexpr std::size_t lanes = 8;
  uints8 any{};
  std::size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    ints8 v;
    std::memcpy(&v, w + i, sizeof v);
    // |v| in unsigned lanes, which wrap: -2^31 becomes 2^31.
    const auto sign = reinterpret_cast<uints8>(v >> 31);
    any |= (reinterpret_cast<uints8>(v) ^ sign) - sign;
  }
  std::uint32_t bound = 0;
  for (std::size_t l = 0; l < lanes; ++l) bound |= any[l];
  for (; i < n; ++i) {
    const std::int64_t v = w[i];
    bound |= static_cast<std::uint32_t>(v < 0 ? -v : v);
  }
  return bound;
}

// acc[k] = the low `bits` bits (8 to 32) of the 32-bit sum low[k], sign-extended: what a
// wrapping accumulator of that width keeps of any sum whose low 32 bits those are.
FIXFIR_KERNEL_CLONES void extend_low_bits(const std::uint32_t* low, std::size_t n,
                                          std::int32_t bits, std::int64_t* acc) noexcept {
  constexpr std::size_t lanes = 8;
  const auto shift = static_cast<std::uint32_t>(32 - bits);
  std::size_t k = 0;
  for (; k + lanes <= n; k += lanes) {
    uints8 v;
    std::memcpy(&v, low + k, sizeof v);
    // Up by the shift in unsigned lanes, back down in signed ones: the sign bit is copied.
    const ints8 extended = reinterpret_cast<ints8>(v << shift) >> static_cast<std::int32_t>(shift);
    const longs8 a = __builtin_convertvector(extended, longs8);
    std::memcpy(acc + k, &a, sizeof a);
  }
  for (; k < n; ++k) acc[k] = static_cast<std::int32_t>(low[k] << shift) >> shift;
}

// The n exact sums `sums` (integers below 2^51 in magnitude) as accumulators of `bits` bits,
// reduced as `reduce_accumulators` does; returns how many did not fit. Each converts exactly
// by adding 1.5 × 2^52, which leaves the integer in the low bits of the sum's bits; a run of
// 256 whose every value fits (v + 2^(bits-1) shifted down by `bits` is 0) needs no reduction.
FIXFIR_KERNEL_CLONES std::size_t narrow_sums(const double* sums, std::size_t n, std::int32_t bits,
                                             bool saturate, std::int64_t* acc) noexcept {
  constexpr std::size_t lanes = 8;
  constexpr std::size_t run = 256;
  // From 52 bits on every sum below 2^51 fits.
  const bool checked = bits < 52;
  const std::int64_t half = checked ? std::int64_t{1} << (bits - 1) : 0;
  const std::size_t vector_part = n / lanes * lanes;
  std::size_t overflows = 0;
  for (std::size_t from = 0; from < vector_part; from += run) {
    const std::size_t to = std::min(from + run, vector_part);
    longs8 outside{};
    for (std::size_t i = from; i < to; i += lanes) {
      doubles8 d;
      std::memcpy(&d, sums + i, sizeof d);
      const auto v = reinterpret_cast<longs8>(reinterpret_cast<ulongs8>(d + magic) - magic_bits);
      std::memcpy(acc + i, &v, sizeof v);
      if (checked) outside |= (v + half) >> bits;
    }
    if (!none_flagged(outside)) {
      overflows += reduce_accumulators(acc + from, to - from, bits, saturate);
    }
  }
  for (std::size_t i = vector_part; i < n; ++i) acc[i] = static_cast<std::int64_t>(sums[i]);
  return overflows + reduce_accumulators(acc + vector_part, n - vector_part, bits, saturate);
}

namespace {

constexpr int128 pow2_64 = int128{1} << 64;

// The sum S with low 32 bits `low` whose estimate `e` (below 2^82 in magnitude) is within
// 2^29 of it, modulo 2^64. k = (S - low) / 2^32 is an integer; (e - low) / 2^32 rounds once
// (the subtraction, by at most 2^-53 · 2^82 = 2^29) and so lies within (2^29 + 2^29) / 2^32
// = 1/4 of it, below 2^51 in magnitude: adding 1.5 × 2^52 rounds it to k and leaves k in
// the low bits of the sum's bits, as two's complement.
inline std::uint64_t rebuilt_sum(double e, std::uint32_t low) noexcept {
  const double t = (e - static_cast<double>(low)) * 0x1p-32;
  const std::uint64_t k = std::bit_cast<std::uint64_t>(t + magic) - magic_bits;
  return (k << 32) + low;
}

}  // namespace

// The exact sums whose `estimates` (below 2^82) are within 2^29 of them and whose low 32
// bits are `low`, as accumulators of `bits` bits, wrapped or saturated as
// `reduce_accumulators` does; returns how many did not fit. The sum modulo 2^64 is
// `rebuilt_sum`'s, and its high bits (from 2^64 up, a multiple of 2^64 within 2^63 of the
// estimate) follow from the estimate.
std::size_t rebuild_sums(const double* estimates, const std::uint32_t* low, std::size_t n,
                         std::int32_t bits, bool saturate, std::int64_t* acc) noexcept {
  const int128 lo = bits >= 64 ? int128{INT64_MIN} : -(int128{1} << (bits - 1));
  const int128 hi = bits >= 64 ? int128{INT64_MAX} : (int128{1} << (bits - 1)) - 1;
  std::size_t overflows = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double e = estimates[k];
    const auto wrapped = static_cast<std::int64_t>(rebuilt_sum(e, low[k]));
    // The whole sum: the wrapped value plus the multiple of 2^64 nearest to e - wrapped
    // (both below 2^83, so the difference is within 2^31 of the multiple).
    const double turns = std::nearbyint((e - static_cast<double>(wrapped)) * 0x1p-64);
    const int128 sum = int128{wrapped} + int128{static_cast<std::int64_t>(turns)} * pow2_64;
    if (sum >= lo && sum <= hi) {
      acc[k] = static_cast<std::int64_t>(sum);
      continue;
    }
    ++overflows;
    if (saturate) {
      acc[k] = static_cast<std::int64_t>(sum < 0 ? lo : hi);
    } else {
      // The low `bits` bits, sign-extended.
      const auto shift = 64 - bits;
      acc[k] = static_cast<std::int64_t>(static_cast<std::uint64_t>(sum) << shift) >> shift;
    }
  }
  return overflows;
}

// The low `bits` bits (8 to 64) of the sums whose `estimates` (below 2^82 in magnitude) are
// within 2^29 of them and whose low 32 bits are `low`, sign-extended: `rebuilt_sum` in
// vector lanes, for a wrapping accumulator. No overflow is counted.
FIXFIR_KERNEL_CLONES void rebuild_wrapped(const double* estimates, const std::uint32_t* low,
                                          std::size_t n, std::int32_t bits,
                                          std::int64_t* acc) noexcept {
  constexpr std::size_t lanes = 8;
  const auto shift = static_cast<std::uint64_t>(64 - bits);
  std::size_t k = 0;
  for (; k + lanes <= n; k += lanes) {
    doubles8 e;
    uints8 l;
    std::memcpy(&e, estimates + k, sizeof e);
    std::memcpy(&l, low + k, sizeof l);
    const ulongs8 wide_low = __builtin_convertvector(l, ulongs8);
    // low as a double: 1.5 × 2^52 with low in its bits, less 1.5 × 2^52 (exact).
    const doubles8 real_low = reinterpret_cast<doubles8>(wide_low | magic_bits) - magic;
    const doubles8 t = (e - real_low) * 0x1p-32;
    const ulongs8 turns = reinterpret_cast<ulongs8>(t + magic) - magic_bits;
    const ulongs8 sum = (turns << 32) + wide_low;
    const longs8 a = reinterpret_cast<longs8>(sum << shift) >> static_cast<std::int64_t>(shift);
    std::memcpy(acc + k, &a, sizeof a);
  }
  for (; k < n; ++k) {
    acc[k] = static_cast<std::int64_t>(rebuilt_sum(estimates[k], low[k]) << shift) >>
             static_cast<std::int64_t>(shift);
  }
}

}  // namespace fixfir
