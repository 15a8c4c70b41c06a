#include "fixfir/drivers/datapath_run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/common/checks.h"
#include "fixfir/engine/parallel_chunks.h"
#include "wide_kernel.h"

namespace fixfir {

namespace {

// Outputs per chunk of work: long enough to amortise the hand-over, short enough that the
// keep-going check is asked often.
constexpr std::size_t per_chunk = 64 * CONVOLVE_BLOCK;

// One run's layout: the coefficients that can meet a sample, oldest first, and the samples
// behind their zero history.
struct run_layout {
  std::size_t n = 0;        // input samples
  std::size_t taps = 0;     // min(coefficients, n): only these meet a sample
  std::size_t outputs = 0;  // n rounded up to CONVOLVE_BLOCK
  std::vector<std::int32_t> reversed;
  std::vector<std::int32_t> signal;  // taps - 1 zeros, then the sample words
  std::uint64_t peak = 0;            // the largest sample word magnitude
};

// Quantizes `x` into the layout's signal on `threads` threads, counting the samples that
// overflowed their word into `run` and their largest magnitude into `l.peak`. False when
// the run was stopped or its bookkeeping could not be had.
bool quantize_samples(const fixed_filter& f, std::span<const double> x, unsigned threads,
                      run_layout& l, datapath_run& run) {
  const std::size_t prefix = l.taps > 0 ? l.taps - 1 : 0;
  const std::size_t chunks = (l.outputs + per_chunk - 1) / per_chunk;
  std::vector<std::size_t> overflows(chunks, 0);
  std::vector<std::uint64_t> peaks(chunks, 0);
  const word_format& word = f.path.sample;
  std::int32_t* samples = l.signal.data() + prefix;
  const bool done = run_chunks_in_order(
      chunks, threads,
      [&](unsigned, std::size_t chunk) {
        const std::size_t end = std::min((chunk + 1) * per_chunk, l.n);
        std::uint64_t peak = 0;
        for (std::size_t k = chunk * per_chunk; k < end; ++k) {
          const word_value w = quantize_word(x[k], word);
          // The sample word is at most 32 bits wide, so its value fits.
          samples[k] = static_cast<std::int32_t>(w.value);
          overflows[chunk] += w.overflowed ? 1 : 0;
          peak = std::max(peak, static_cast<std::uint64_t>(w.value < 0 ? -w.value : w.value));
        }
        peaks[chunk] = peak;
      },
      [](std::size_t) { return true; });
  if (!done) return false;
  for (const std::size_t o : overflows) run.sample_overflows += o;
  l.peak = chunks > 0 ? *std::max_element(peaks.begin(), peaks.end()) : 0;
  return true;
}

// The accumulators from output `skip` on, with the fastest kernel that is exact for the
// layout's sums: doubles below 2^53, 64-bit sums below 2^63, else 128 bits. False when the
// run was stopped or its bookkeeping could not be had.
bool accumulate(const fixed_filter& f, unsigned threads, std::size_t skip, const run_layout& l,
                datapath_run& run) {
  const std::uint64_t magnitude_sum = coefficient_magnitude_sum(l.reversed);
  const bool exact64 = wide_sum_exact(magnitude_sum, l.peak);
  // Below 2^53 every product and partial sum is an integer a double holds exactly, and the
  // double kernel is the fastest exact one.
  __extension__ using uint128 = unsigned __int128;
  const bool exact53 =
      static_cast<uint128>(magnitude_sum) * l.peak < (static_cast<uint128>(1) << 53);
  std::vector<double> real_reversed;
  if (exact53) real_reversed.assign(l.reversed.begin(), l.reversed.end());
  const std::int32_t bits = f.path.accumulator_bits;
  const bool saturate = f.path.accumulator_overflow == overflow_mode::saturate;
  const std::size_t chunks = (l.outputs - skip + per_chunk - 1) / per_chunk;
  std::vector<std::size_t> overflows(chunks, 0);
  std::vector<std::size_t> output_overflows(chunks, 0);
  const bool staged = f.path.output.bits != 0;
  // Each output is an exact product by a power of two.
  const double unit = staged ? std::ldexp(1.0, -f.path.output.fraction_bits) : f.output_unit;
  const bool done = run_chunks_in_order(
      chunks, threads,
      [&](unsigned, std::size_t chunk) {
        const std::size_t begin = skip + chunk * per_chunk;
        const std::size_t end = std::min(begin + per_chunk, l.outputs);
        const std::size_t used = std::min(end, l.n) - begin;  // outputs past n mean nothing
        std::int64_t* acc = run.accumulators.data() + begin;
        if (exact53) {
          thread_local std::vector<double> sums;
          sums.resize(end - begin);
          exact_real_convolve(real_reversed.data(), l.taps, l.signal.data(), begin, end - begin,
                              sums.data());
          for (std::size_t k = 0; k < end - begin; ++k)
            acc[k] = static_cast<std::int64_t>(sums[k]);  // an exact integer below 2^53
          overflows[chunk] = reduce_accumulators(acc, used, bits, saturate);
        } else if (exact64) {
          wide_convolve(l.reversed.data(), l.taps, l.signal.data(), begin, end - begin, acc);
          overflows[chunk] = reduce_accumulators(acc, used, bits, saturate);
        } else {
          overflows[chunk] = exact_convolve(l.reversed.data(), l.taps, l.signal.data(), begin, used,
                                            bits, saturate, acc);
        }
        if (staged) {
          for (std::size_t k = 0; k < used; ++k) {
            const word_value w = output_word(acc[k], f.path);
            run.output_words[begin + k] = w.value;
            output_overflows[chunk] += w.overflowed ? 1 : 0;
            run.output[begin + k] = static_cast<double>(w.value) * unit;
          }
        } else {
          for (std::size_t k = 0; k < used; ++k)
            run.output[begin + k] = static_cast<double>(acc[k]) * unit;
        }
      },
      [](std::size_t) { return true; });
  if (!done) return false;
  for (const std::size_t o : overflows) run.accumulator_overflows += o;
  for (const std::size_t o : output_overflows) run.output_overflows += o;
  return true;
}

}  // namespace

result<datapath_run> run_datapath(const fixed_filter& f, std::span<const double> x,
                                  unsigned threads, std::size_t first_output) noexcept {
  // The datapath was checked against its limits when the filter was made.
  FIXFIR_EXPECTS(f.path.accumulator_bits >= ACCUMULATOR_BITS_MIN &&
                 f.path.accumulator_bits <= ACCUMULATOR_BITS_MAX);
  try {
    run_layout l;
    l.n = x.size();
    // Coefficient j meets the sample j steps old: in a run of n samples only the first n
    // coefficients matter.
    l.taps = std::min(f.coefficients.size(), l.n);
    l.outputs = (l.n + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
    l.reversed.assign(f.coefficients.rend() - static_cast<std::ptrdiff_t>(l.taps),
                      f.coefficients.rend());
    l.signal.assign((l.taps > 0 ? l.taps - 1 : 0) + l.outputs, 0);
    datapath_run run;
    run.accumulators.resize(l.outputs);
    run.output.resize(l.n);
    if (f.path.output.bits != 0) run.output_words.resize(l.n);
    // Samples first: every chunk of outputs reads samples up to taps - 1 before it.
    // run_chunks_in_order fails either when it was stopped or when its own bookkeeping
    // could not be had.
    if (!quantize_samples(f, x, threads, l, run)) return stopped_run_error();
    // Outputs before the block that holds `first_output` are left 0 and not counted.
    const std::size_t skip = std::min(first_output / CONVOLVE_BLOCK * CONVOLVE_BLOCK, l.outputs);
    if (!accumulate(f, threads, skip, l, run)) return stopped_run_error();
    run.accumulators.resize(l.n);
    return run;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
