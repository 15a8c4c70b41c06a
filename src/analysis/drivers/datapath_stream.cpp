#include "fixfir/drivers/datapath_stream.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "block_stream.h"
#include "fixfir/coefficients/datapath.h"
#include "real_kernel.h"
#include "wide_kernel.h"

namespace fixfir {

namespace {

__extension__ using uint128 = unsigned __int128;

// A stream of the first `taps` coefficients of `f`.
result<datapath_stream> make_stream(const fixed_filter& f, std::size_t taps) noexcept {
  try {
    if (std::string problem = datapath_problem(f.path); !problem.empty())
      return make_error(error_kind::bad_input, std::move(problem));
    datapath_stream s;
    s.path = f.path;
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

// The largest magnitude among `n` words.
std::uint64_t largest_magnitude(const std::int32_t* w, std::size_t n) noexcept {
  std::uint64_t peak = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::int64_t v = w[k];
    peak = std::max(peak, static_cast<std::uint64_t>(v < 0 ? -v : v));
  }
  return peak;
}

}  // namespace

result<datapath_stream> make_datapath_stream(const fixed_filter& f) noexcept {
  return make_stream(f, f.coefficients.size());
}

void datapath_stream_reset(datapath_stream& s) noexcept {
  std::fill(s.history.begin(), s.history.end(), 0);
}

result<datapath_stream_counts> datapath_stream_filter(datapath_stream& s, const sample_source& x,
                                                      std::int64_t* out,
                                                      unsigned threads) noexcept {
  datapath_stream_counts counts;
  const std::size_t taps = s.reversed.size();
  const stream_plan plan = plan_stream(taps, x.count, threads);
  std::vector<std::size_t> sample_overflows;
  std::vector<std::size_t> accumulator_overflows;
  // Each worker's window as doubles and its sums, for the double kernel.
  std::vector<double> real_windows;
  std::vector<double> real_sums;
  try {
    sample_overflows.assign(plan.workers, 0);
    accumulator_overflows.assign(plan.workers, 0);
    real_windows.assign(plan.workers * plan.window_words(), 0.0);
    real_sums.assign(plan.workers * plan.block, 0.0);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  const word_format& word = s.path.sample;
  const std::int32_t bits = s.path.accumulator_bits;
  const bool saturate = s.path.accumulator_overflow == overflow_mode::saturate;
  const bool done = stream_blocks(
      plan, s.history.data(), x,
      [&](unsigned w, const double* reals, std::int32_t* words, std::size_t n, bool own) {
        std::size_t over = 0;
        for (std::size_t k = 0; k < n; ++k) {
          const word_value v = quantize_word(reals[k], word);
          // The sample word is at most 32 bits wide, so its value fits.
          words[k] = static_cast<std::int32_t>(v.value);
          over += v.overflowed ? 1 : 0;
        }
        if (own) sample_overflows[w] += over;
      },
      [&](const stream_chunk<std::int32_t>& c) {
        std::int64_t* const acc = out + c.begin;
        // The fastest kernel whose sums are exact for this window's samples.
        const std::uint64_t peak = largest_magnitude(c.window, taps - 1 + c.count);
        const uint128 largest = static_cast<uint128>(s.magnitude_sum) * peak;
        const std::size_t outputs =
            (c.count + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
        if (largest < (static_cast<uint128>(1) << 53)) {
          // Below 2^53 every product and partial sum is an integer a double holds exactly.
          double* const window = real_windows.data() + c.worker * plan.window_words() + plan.pad;
          std::copy(c.window, c.window + taps - 1 + c.count, window);
          double* const sums = real_sums.data() + c.worker * plan.block;
          real_convolve(s.real_reversed.data(), taps, window - c.first, c.first, outputs, sums);
          for (std::size_t k = 0; k < c.count; ++k) acc[k] = static_cast<std::int64_t>(sums[k]);
          accumulator_overflows[c.worker] += reduce_accumulators(acc, c.count, bits, saturate);
        } else if (largest < (static_cast<uint128>(1) << 63)) {
          const std::size_t whole = c.count / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
          if (whole > 0) wide_convolve(s.reversed.data(), taps, c.signal, c.first, whole, acc);
          if (whole < c.count) {
            std::int64_t tail[CONVOLVE_BLOCK];
            wide_convolve(s.reversed.data(), taps, c.signal, c.first + whole, CONVOLVE_BLOCK, tail);
            std::copy(tail, tail + (c.count - whole), acc + whole);
          }
          accumulator_overflows[c.worker] += reduce_accumulators(acc, c.count, bits, saturate);
        } else {
          accumulator_overflows[c.worker] += exact_convolve(s.reversed.data(), taps, c.signal,
                                                            c.first, c.count, bits, saturate, acc);
        }
      });
  if (!done) {
    // stream_blocks fails either when it was stopped or when memory ran out.
    if (keep_going()) return out_of_memory_error();
    return make_error(error_kind::interrupted, "interrupted");
  }
  for (const std::size_t o : sample_overflows) counts.sample_overflows += o;
  for (const std::size_t o : accumulator_overflows) counts.accumulator_overflows += o;
  return counts;
}

result<datapath_stream_counts> datapath_filter_samples(const fixed_filter& f,
                                                       const sample_source& x, std::int64_t* out,
                                                       unsigned threads) noexcept {
  // Coefficient j meets the sample j steps old: over n samples from rest only the first n
  // can matter.
  result<datapath_stream> s = make_stream(f, std::min(f.coefficients.size(), x.count));
  if (!s) return s.failure();
  return datapath_stream_filter(s.value(), x, out, threads);
}

}  // namespace fixfir
