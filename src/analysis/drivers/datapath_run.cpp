#include "fixfir/drivers/datapath_run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <string>
#include <utility>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/engine/parallel_chunks.h"
#include "real_kernel.h"
#include "wide_kernel.h"

namespace fixfir {

namespace {

// Outputs per chunk of work: long enough to amortise the hand-over, short enough that the
// keep-going check is asked often.
constexpr std::size_t per_chunk = 64 * CONVOLVE_BLOCK;

}  // namespace

result<datapath_run> run_datapath(const fixed_filter& f, std::span<const double> x,
                                  unsigned threads, std::size_t first_output) noexcept {
  try {
    if (std::string problem = datapath_problem(f.path); !problem.empty())
      return make_error(error_kind::bad_input, std::move(problem));
    const std::size_t n = x.size();
    // Coefficient j meets the sample j steps old: in a run of n samples only the first n
    // coefficients matter.
    const std::size_t taps = std::min(f.coefficients.size(), n);
    const std::size_t prefix = taps > 0 ? taps - 1 : 0;
    const std::size_t outputs = (n + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
    std::vector<std::int32_t> reversed(f.coefficients.rend() - static_cast<std::ptrdiff_t>(taps),
                                       f.coefficients.rend());
    std::vector<std::int32_t> signal(prefix + outputs, 0);
    datapath_run run;
    run.accumulators.resize(outputs);
    run.output.resize(n);
    const std::size_t chunks = (outputs + per_chunk - 1) / per_chunk;
    std::vector<std::size_t> overflows(chunks, 0);
    std::vector<std::uint64_t> peaks(chunks, 0);

    // Samples first: every chunk of outputs reads samples up to taps - 1 before it.
    const word_format& word = f.path.sample;
    std::int32_t* samples = signal.data() + prefix;
    if (!run_chunks_in_order(
            chunks, threads,
            [&](unsigned, std::size_t chunk) {
              const std::size_t end = std::min((chunk + 1) * per_chunk, n);
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
            [](std::size_t) { return true; })) {
      // run_chunks_in_order fails either when it was stopped or when its own bookkeeping
      // could not be allocated.
      return stopped_run_error();
    }
    for (const std::size_t o : overflows) run.sample_overflows += o;
    const std::uint64_t peak = chunks > 0 ? *std::max_element(peaks.begin(), peaks.end()) : 0;

    const std::uint64_t magnitude_sum = coefficient_magnitude_sum(reversed);
    const bool exact64 = wide_sum_exact(magnitude_sum, peak);
    // Below 2^53 every product and partial sum is an integer a double holds exactly, and the
    // double kernel is the fastest exact one.
    __extension__ using uint128 = unsigned __int128;
    const bool exact53 =
        static_cast<uint128>(magnitude_sum) * peak < (static_cast<uint128>(1) << 53);
    std::vector<double> real_reversed;
    std::vector<double> real_signal;
    if (exact53) {
      real_reversed.assign(reversed.begin(), reversed.end());
      real_signal.assign(signal.begin(), signal.end());
    }
    const std::int32_t bits = f.path.accumulator_bits;
    const bool saturate = f.path.accumulator_overflow == overflow_mode::saturate;
    // Outputs before the block that holds `first_output` are left 0 and not counted.
    const std::size_t skip = std::min(first_output / CONVOLVE_BLOCK * CONVOLVE_BLOCK, outputs);
    const std::size_t computed_chunks = (outputs - skip + per_chunk - 1) / per_chunk;
    // 2^-(F_c + F_x), at least 2^-192: each output is an exact product, as std::ldexp's.
    const double unit =
        std::ldexp(1.0, -(f.path.coefficient.fraction_bits + f.path.sample.fraction_bits));
    std::fill(overflows.begin(), overflows.end(), 0);
    if (!run_chunks_in_order(
            computed_chunks, threads,
            [&](unsigned, std::size_t chunk) {
              const std::size_t begin = skip + chunk * per_chunk;
              const std::size_t end = std::min(begin + per_chunk, outputs);
              const std::size_t used = std::min(end, n) - begin;  // outputs past n mean nothing
              std::int64_t* acc = run.accumulators.data() + begin;
              if (exact53) {
                thread_local std::vector<double> sums;
                sums.resize(end - begin);
                real_convolve(real_reversed.data(), taps, real_signal.data(), begin, end - begin,
                              sums.data());
                for (std::size_t k = 0; k < end - begin; ++k)
                  acc[k] = static_cast<std::int64_t>(sums[k]);  // an exact integer below 2^53
                overflows[chunk] = reduce_accumulators(acc, used, bits, saturate);
              } else if (exact64) {
                wide_convolve(reversed.data(), taps, signal.data(), begin, end - begin, acc);
                overflows[chunk] = reduce_accumulators(acc, used, bits, saturate);
              } else {
                overflows[chunk] = exact_convolve(reversed.data(), taps, signal.data(), begin, used,
                                                  bits, saturate, acc);
              }
              for (std::size_t k = 0; k < used; ++k) {
                run.output[begin + k] = static_cast<double>(acc[k]) * unit;
              }
            },
            [](std::size_t) { return true; })) {
      return stopped_run_error();
    }
    for (const std::size_t o : overflows) run.accumulator_overflows += o;
    run.accumulators.resize(n);
    return run;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
