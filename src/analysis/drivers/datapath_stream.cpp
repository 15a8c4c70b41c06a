#include "fixfir/drivers/datapath_stream.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "block_stream.h"
#include "datapath_lanes.h"
#include "fixfir/coefficients/datapath.h"
#include "wide_kernel.h"

namespace fixfir {

namespace {

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

// Each worker's buffers beside its window, and what it counted.
struct worker_buffers {
  double* real_sums = nullptr;        // a block of sums of the double kernel
  std::uint32_t* low_sums = nullptr;  // a block of sums modulo 2^32
  std::size_t accumulator_overflows = 0;
  std::size_t output_overflows = 0;
};

// The n accumulators `acc` made output words of `path`'s output stage, in place; returns how
// many did not fit the output word.
std::size_t make_output_words(std::int64_t* acc, std::size_t n, const datapath& path) noexcept {
  std::size_t overflows = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const word_value w = output_word(acc[k], path);
    acc[k] = w.value;
    overflows += w.overflowed ? 1 : 0;
  }
  return overflows;
}

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
    exact_real_convolve(s.real_reversed.data(), taps, c.signal, c.first, outputs, b.real_sums);
    b.accumulator_overflows += narrow_sums(b.real_sums, c.count, bits, saturate, acc);
    return;
  }
  if ((2 * taps + 1) * largest < pow2(82)) {
    // The exact sum from its low 32 bits and an estimate within 2^29 of it. The 32-bit
    // kernel gives the sum modulo 2^32 (its products and sums wrap, and the low bits of a
    // wrapped sum are the exact sum's). The double kernel's estimate rounds at most twice per
    // tap (a product and a sum; once where they are fused, and a mirrored pair's sum of two
    // words is exact), each time by at most 2^-53 of a product or partial sum below
    // `largest`: in all by less than (2 taps + 1) · 2^-53 · largest, below 2^29.
    exact_real_convolve(s.real_reversed.data(), taps, c.signal, c.first, outputs, b.real_sums);
    wrapping_convolve(reversed, taps, signal, c.first, outputs, b.low_sums);
    if (!saturate && !counted) {
      rebuild_wrapped(b.real_sums, b.low_sums, c.count, bits, acc);
    } else {
      b.accumulator_overflows +=
          rebuild_sums(b.real_sums, b.low_sums, c.count, bits, saturate, acc);
    }
    return;
  }
  if (largest < pow2(63) || (!saturate && !counted)) {
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
  b.accumulator_overflows +=
      exact_convolve(s.reversed.data(), taps, c.signal, c.first, c.count, bits, saturate, acc);
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
  heap_array<double> real_sums;
  heap_array<std::uint32_t> low_sums;
  if (x.count > 0) {
    try {
      sample_overflows.assign(plan.workers, 0);
      buffers.assign(plan.workers, worker_buffers{});
    } catch (const std::bad_alloc&) {
      return out_of_memory_error();
    }
    if (!allocate_zeroed(real_sums, plan.workers * plan.block) ||
        !allocate_zeroed(low_sums, plan.workers * plan.block)) {
      return out_of_memory_error();
    }
    for (unsigned w = 0; w < plan.workers; ++w) {
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
        worker_buffers& b = buffers[c.worker];
        filter_chunk(s, c, b, out + c.begin);
        if (s.path.output.bits != 0)
          b.output_overflows += make_output_words(out + c.begin, c.count, s.path);
      });
  if (!done) {
    // stream_blocks fails either when it was stopped or when memory ran out.
    if (keep_going()) return out_of_memory_error();
    return make_error(error_kind::interrupted, "interrupted");
  }
  datapath_stream_counts counts;
  for (const std::size_t o : sample_overflows) counts.sample_overflows += o;
  for (const worker_buffers& b : buffers) counts.output_overflows += b.output_overflows;
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
