#include "fixfir/drivers/datapath_stream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "block_stream.h"
#include "fixfir/coefficients/datapath.h"
#include "vector_clones.h"
#include "wide_kernel.h"

namespace fixfir {

namespace {

__extension__ using int128 = __int128;
__extension__ using uint128 = unsigned __int128;

// A stream of the first `taps` coefficients of `f`.
result<datapath_stream> make_stream(const fixed_filter& f, std::size_t taps,
                                    overflow_counting counting) noexcept {
  try {
    if (std::string problem = datapath_problem(f.path); !problem.empty())
      return make_error(error_kind::bad_input, std::move(problem));
    datapath_stream s;
    s.path = f.path;
    s.counting = counting;
    s.reversed.assign(f.coefficients.rend() - static_cast<std::ptrdiff_t>(taps),
                      f.coefficients.rend());
    // Without coefficients every sum is 0, as one zero coefficient gives it, and the samples
    // are still quantized and counted.
    if (taps == 0) s.reversed.push_back(0);
    s.real_reversed.assign(s.reversed.begin(), s.reversed.end());
    s.magnitude_sum = coefficient_magnitude_sum(s.reversed);
    s.history.assign(s.reversed.size() - 1, 0);
    return s;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

using doubles8 [[gnu::vector_size(64)]] = double;
using longs8 [[gnu::vector_size(64)]] = std::int64_t;
using ulongs8 [[gnu::vector_size(64)]] = std::uint64_t;
using ints8 [[gnu::vector_size(32)]] = std::int32_t;
using uints8 [[gnu::vector_size(32)]] = std::uint32_t;

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
      const doubles8 d = v - __builtin_convertvector(words, doubles8);
      // The sign bit of each lane of a difference, as 0 or 1.
#define FIXFIR_SIGN_BITS(e) __builtin_convertvector(reinterpret_cast<ulongs8>(e) >> 63, ints8)
      if (w.rounding == rounding_mode::floor) {
        words -= FIXFIR_SIGN_BITS(d);
      } else if (w.rounding == rounding_mode::nearest) {
        words += FIXFIR_SIGN_BITS(-d - 0.5) - FIXFIR_SIGN_BITS(d - 0.5);
      }
#undef FIXFIR_SIGN_BITS
      std::memcpy(out + i, &words, sizeof words);
    }
    bool fits = true;
    for (std::size_t l = 0; l < lanes; ++l) fits = fits && outside[l] == 0;
    if (!fits) one_by_one(from, to);
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

// out[k] = w[k] as doubles.
FIXFIR_KERNEL_CLONES void widen_words(const std::int32_t* w, std::size_t n, double* out) noexcept {
  for (std::size_t i = 0; i < n; ++i) out[i] = w[i];
}

// acc[k] = the low `bits` bits (8 to 32) of the 32-bit sum low[k], sign-extended: what a
// wrapping accumulator of that width keeps of any sum whose low 32 bits those are.
FIXFIR_KERNEL_CLONES void extend_low_bits(const std::uint32_t* low, std::size_t n,
                                          std::int32_t bits, std::int64_t* acc) noexcept {
  const auto shift = static_cast<std::uint32_t>(32 - bits);
  for (std::size_t k = 0; k < n; ++k) {
    acc[k] = static_cast<std::int32_t>(low[k] << shift) >> shift;
  }
}

// The n exact sums `sums` (integers below 2^51 in magnitude) as accumulators of `bits` bits,
// reduced as `reduce_accumulators` does; returns how many did not fit. Each converts exactly
// by adding 1.5 × 2^52, which leaves the integer in the low bits of the sum's bits; a run of
// 256 whose every value fits (v + 2^(bits-1) shifted down by `bits` is 0) needs no reduction.
FIXFIR_KERNEL_CLONES std::size_t narrow_sums(const double* sums, std::size_t n, std::int32_t bits,
                                             bool saturate, std::int64_t* acc) noexcept {
  constexpr std::size_t lanes = 8;
  constexpr std::size_t run = 256;
  constexpr double magic = 0x1.8p52;
  const auto magic_bits = std::bit_cast<std::int64_t>(magic);
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
      const longs8 v = reinterpret_cast<longs8>(d + magic) - magic_bits;
      std::memcpy(acc + i, &v, sizeof v);
      if (checked) outside |= (v + half) >> bits;
    }
    bool fits = true;
    for (std::size_t l = 0; l < lanes; ++l) fits = fits && outside[l] == 0;
    if (!fits) overflows += reduce_accumulators(acc + from, to - from, bits, saturate);
  }
  for (std::size_t i = vector_part; i < n; ++i) acc[i] = static_cast<std::int64_t>(sums[i]);
  return overflows + reduce_accumulators(acc + vector_part, n - vector_part, bits, saturate);
}

// The exact sums whose `estimates` are within 2^29 of them and whose low 32 bits are `low`,
// as accumulators of `bits` bits, wrapped or saturated as `reduce_accumulators` does; returns
// how many did not fit. An estimate below 2^90 in magnitude is split exactly into 2^32 × hi +
// rest (hi = trunc(e / 2^32); a power of two scales exactly, and the rest is below 2^32);
// truncated, it is within 2^29 + 1 of the sum, and of the integers that near it exactly one
// has those low bits.
std::size_t rebuild_sums(const double* estimates, const std::uint32_t* low, std::size_t n,
                         std::int32_t bits, bool saturate, std::int64_t* acc) noexcept {
  const int128 lo = bits >= 64 ? int128{INT64_MIN} : -(int128{1} << (bits - 1));
  const int128 hi = bits >= 64 ? int128{INT64_MAX} : (int128{1} << (bits - 1)) - 1;
  std::size_t overflows = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double e = estimates[k];
    const double high = std::trunc(e * 0x1p-32);
    const int128 truncated = int128{static_cast<std::int64_t>(high)} * (int128{1} << 32) +
                             static_cast<std::int64_t>(e - high * 0x1p32);
    const auto offset = static_cast<std::int32_t>(low[k] - static_cast<std::uint32_t>(truncated));
    const int128 sum = truncated + offset;
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
// within 2^29 of them and whose low 32 bits are `low`, sign-extended: rebuild_sums for a
// wrapping accumulator, whose bits are those of the sum modulo 2^64. No overflow is counted.
// An estimate (an integer) splits exactly into 2^32 × high + rest with rest in [0, 2^32), and
// each part below 2^51 converts exactly by adding 1.5 × 2^52, which leaves it in the low bits;
// so every lane stays in vector arithmetic.
FIXFIR_KERNEL_CLONES void rebuild_wrapped(const double* estimates, const std::uint32_t* low,
                                          std::size_t n, std::int32_t bits,
                                          std::int64_t* acc) noexcept {
  constexpr std::size_t lanes = 8;
  constexpr double magic = 0x1.8p52;
  const auto magic_bits = std::bit_cast<std::uint64_t>(magic);
  const auto shift = static_cast<std::uint64_t>(64 - bits);
  // The sum is the one integer within 2^29 of 2^32 × high + rest whose low 32 bits are low[k].
  auto one = [&](double e, std::uint32_t l) {
    const double high = std::floor(e * 0x1p-32);
    const double rest = e - high * 0x1p32;
    const std::uint64_t h = std::bit_cast<std::uint64_t>(high + magic) - magic_bits;
    const std::uint64_t r = std::bit_cast<std::uint64_t>(rest + magic) - magic_bits;
    const auto offset = static_cast<std::int32_t>(l - static_cast<std::uint32_t>(r));
    const std::uint64_t sum = (h << 32) + r + static_cast<std::uint64_t>(std::int64_t{offset});
    return static_cast<std::int64_t>(sum << shift) >> shift;
  };
  std::size_t k = 0;
  for (; k + lanes <= n; k += lanes) {
    doubles8 e;
    uints8 l;
    std::memcpy(&e, estimates + k, sizeof e);
    std::memcpy(&l, low + k, sizeof l);
    doubles8 high = e * 0x1p-32;
    for (std::size_t i = 0; i < lanes; ++i) high[i] = std::floor(high[i]);
    const doubles8 rest = e - high * 0x1p32;
    const auto h = reinterpret_cast<ulongs8>(high + magic) - magic_bits;
    const auto r = reinterpret_cast<ulongs8>(rest + magic) - magic_bits;
    // low - r modulo 2^32, sign-extended: shifted up and back in 64-bit lanes.
    const auto d = reinterpret_cast<longs8>((__builtin_convertvector(l, ulongs8) - r) << 32) >> 32;
    const auto sum = (h << 32) + r + reinterpret_cast<ulongs8>(d);
    const longs8 a = reinterpret_cast<longs8>(sum << shift) >> static_cast<std::int64_t>(shift);
    std::memcpy(acc + k, &a, sizeof a);
  }
  for (; k < n; ++k) acc[k] = one(estimates[k], low[k]);
}

// Each worker's buffers beside its window, and what it counted.
struct worker_buffers {
  double* real_window = nullptr;      // the window as doubles, behind the plan's pad
  double* real_sums = nullptr;        // a block of sums of the double kernel
  std::uint32_t* low_sums = nullptr;  // a block of sums modulo 2^32
  std::size_t accumulator_overflows = 0;
};

constexpr uint128 pow2(int e) { return static_cast<uint128>(1) << e; }

// The accumulators of chunk `c` into `acc`, by the fastest kernel whose sums are right for
// this window's samples: exact sums where they are counted or saturate, else the low bits a
// wrapping accumulator keeps.
void filter_chunk(const datapath_stream& s, const stream_chunk<std::int32_t>& c, worker_buffers& b,
                  std::int64_t* acc) noexcept {
  const std::size_t taps = s.reversed.size();
  const std::int32_t bits = s.path.accumulator_bits;
  const bool saturate = s.path.accumulator_overflow == overflow_mode::saturate;
  const bool counted = s.counting == overflow_counting::all;
  const std::size_t outputs = (c.count + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  const auto* const reversed = reinterpret_cast<const std::uint32_t*>(s.reversed.data());
  const auto* const signal = reinterpret_cast<const std::uint32_t*>(c.signal);
  // The 32-bit kernel's sums modulo 2^32: the low bits of a wrapping accumulator of at most
  // 32 bits, whatever the sums.
  if (!saturate && !counted && bits <= 32) {
    wrapping_convolve(reversed, taps, signal, c.first, outputs, b.low_sums);
    extend_low_bits(b.low_sums, c.count, bits, acc);
    return;
  }
  const std::size_t held = taps - 1 + c.count;
  const uint128 largest = static_cast<uint128>(s.magnitude_sum) * magnitude_bound(c.window, held);
  if (largest < pow2(31)) {
    // No product or partial sum reaches 2^31: the 32-bit kernel's sums are exact.
    wrapping_convolve(reversed, taps, signal, c.first, outputs, b.low_sums);
    extend_low_bits(b.low_sums, c.count, 32, acc);
    b.accumulator_overflows += reduce_accumulators(acc, c.count, bits, saturate);
    return;
  }
  if (largest < pow2(51)) {
    // Every product and partial sum is an integer a double holds exactly.
    widen_words(c.window, held, b.real_window);
    exact_real_convolve(s.real_reversed.data(), taps, b.real_window - c.first, c.first, outputs,
                        b.real_sums);
    b.accumulator_overflows += narrow_sums(b.real_sums, c.count, bits, saturate, acc);
    return;
  }
  const bool rebuilt = (2 * taps + 1) * largest < pow2(82);
  if (largest < pow2(63) || (!saturate && !counted && !rebuilt)) {
    // 64-bit sums, exact below 2^63, and modulo 2^64 in any case: their low A bits are a
    // wrapping accumulator's (the count is then not kept).
    const std::size_t whole = c.count / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
    if (whole > 0) wide_convolve(s.reversed.data(), taps, c.signal, c.first, whole, acc);
    if (whole < c.count) {
      std::int64_t tail[CONVOLVE_BLOCK];
      wide_convolve(s.reversed.data(), taps, c.signal, c.first + whole, CONVOLVE_BLOCK, tail);
      std::copy(tail, tail + (c.count - whole), acc + whole);
    }
    b.accumulator_overflows += reduce_accumulators(acc, c.count, bits, saturate);
    return;
  }
  if (!rebuilt) {
    b.accumulator_overflows +=
        exact_convolve(s.reversed.data(), taps, c.signal, c.first, c.count, bits, saturate, acc);
    return;
  }
  // The exact sum from its low 32 bits and an estimate within 2^29 of it. The 32-bit kernel
  // gives the sum modulo 2^32 (its products and sums wrap, and the low bits of a wrapped sum
  // are the exact sum's). The double kernel's estimate rounds at most twice per tap (a
  // product and a sum; once where they are fused, and a mirrored pair's sum of two words is
  // exact), each time by at most 2^-53 of a product or partial sum below `largest`: in all
  // by less than (2 taps + 1) · 2^-53 · largest, below 2^29.
  widen_words(c.window, held, b.real_window);
  exact_real_convolve(s.real_reversed.data(), taps, b.real_window - c.first, c.first, outputs,
                      b.real_sums);
  wrapping_convolve(reversed, taps, signal, c.first, outputs, b.low_sums);
  if (!saturate && !counted) {
    rebuild_wrapped(b.real_sums, b.low_sums, c.count, bits, acc);
  } else {
    b.accumulator_overflows += rebuild_sums(b.real_sums, b.low_sums, c.count, bits, saturate, acc);
  }
}

}  // namespace

result<datapath_stream> make_datapath_stream(const fixed_filter& f,
                                             overflow_counting counting) noexcept {
  return make_stream(f, f.coefficients.size(), counting);
}

void datapath_stream_reset(datapath_stream& s) noexcept {
  std::fill(s.history.begin(), s.history.end(), 0);
}

result<datapath_stream_counts> datapath_stream_filter(datapath_stream& s, const sample_source& x,
                                                      std::int64_t* out,
                                                      unsigned threads) noexcept {
  const std::size_t taps = s.reversed.size();
  const stream_plan plan = plan_stream(taps, x.count, threads);
  std::vector<std::size_t> sample_overflows;
  std::vector<worker_buffers> buffers;
  heap_array<double> real_windows;  // each worker's window as doubles, for the double kernel
  heap_array<double> real_sums;
  heap_array<std::uint32_t> low_sums;
  if (x.count > 0) {
    try {
      sample_overflows.assign(plan.workers, 0);
      buffers.assign(plan.workers, worker_buffers{});
    } catch (const std::bad_alloc&) {
      return out_of_memory_error();
    }
    if (!allocate_zeroed(real_windows, plan.workers * plan.window_words()) ||
        !allocate_zeroed(real_sums, plan.workers * plan.block) ||
        !allocate_zeroed(low_sums, plan.workers * plan.block)) {
      return out_of_memory_error();
    }
    for (unsigned w = 0; w < plan.workers; ++w) {
      buffers[w].real_window = real_windows.begin() + w * plan.window_words() + plan.pad;
      buffers[w].real_sums = real_sums.begin() + w * plan.block;
      buffers[w].low_sums = low_sums.begin() + w * plan.block;
    }
  }
  const word_format& word = s.path.sample;
  const bool done = stream_blocks(
      plan, s.history.data(), x,
      [&](unsigned w, const double* reals, std::int32_t* words, std::size_t n, bool own) {
        const std::size_t over = quantize_words(reals, n, word, words);
        if (own) sample_overflows[w] += over;
      },
      [&](const stream_chunk<std::int32_t>& c) {
        filter_chunk(s, c, buffers[c.worker], out + c.begin);
      });
  if (!done) {
    // stream_blocks fails either when it was stopped or when memory ran out.
    if (keep_going()) return out_of_memory_error();
    return make_error(error_kind::interrupted, "interrupted");
  }
  datapath_stream_counts counts;
  for (const std::size_t o : sample_overflows) counts.sample_overflows += o;
  if (s.counting == overflow_counting::all) {
    for (const worker_buffers& b : buffers) counts.accumulator_overflows += b.accumulator_overflows;
  }
  return counts;
}

result<datapath_stream_counts> datapath_filter_samples(const fixed_filter& f,
                                                       const sample_source& x, std::int64_t* out,
                                                       unsigned threads,
                                                       overflow_counting counting) noexcept {
  // Coefficient j meets the sample j steps old: over n samples from rest only the first n
  // can matter.
  result<datapath_stream> s = make_stream(f, std::min(f.coefficients.size(), x.count), counting);
  if (!s) return s.failure();
  return datapath_stream_filter(s.value(), x, out, threads);
}

}  // namespace fixfir
