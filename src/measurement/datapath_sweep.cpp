#include "fixfir/measurement/datapath_sweep.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/run_counts.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

namespace {

constexpr std::size_t frequencies_per_chunk = 8;
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

struct sine_outcome {
  double peak = 0.0;
  double steady = not_a_number;
  bool wrapped = false;
  bool sample_overflowed = false;
};

// One unit sine from rest at `frequency` through `f`, over the sweep's run.
bool run_sine(const fixed_filter& f, double frequency, sine_basis& basis, sine_outcome& out) {
  const std::size_t samples = static_cast<std::size_t>(SWEEP_SAMPLES);
  if (!make_sine_basis(frequency, samples, basis)) return false;
  result<datapath_run> made = run_datapath(f, basis.sine, 1);
  if (!made) return false;
  const datapath_run& run = made.value();
  std::uint64_t peak = 0;
  for (const std::int64_t a : run.accumulators) {
    const std::uint64_t magnitude =
        a < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(a) : static_cast<std::uint64_t>(a);
    peak = std::max(peak, magnitude);
  }
  out.peak = static_cast<double>(peak) * f.output_unit;
  if (f.path.output.bits != 0) {  // measured at the output word
    out.peak = 0.0;
    for (const double y : run.output) out.peak = std::max(out.peak, std::fabs(y));
  }
  const std::size_t taps = f.coefficients.size();
  out.steady = steady_state_reach(taps, samples) == steady_reach::measured
                   ? fitted_amplitude(basis, run.output, steady_fit_start(taps, samples))
                   : not_a_number;
  out.wrapped = run.accumulator_overflows > 0;
  out.sample_overflowed = run.sample_overflows > 0;
  return true;
}

// Runs every frequency of `frequencies` on `threads` threads, handing each outcome to
// `keep(i, outcome)` (on a worker thread) and telling `progress` in order.
template <typename Keep>
bool run_sines(const fixed_filter& f, const std::vector<double>& frequencies, unsigned threads,
               Keep keep, const std::function<void(std::size_t, std::size_t)>& progress) {
  threads = std::max(threads, 1U);
  std::vector<sine_basis> bases(threads);
  std::atomic<bool> failed{false};
  const std::size_t n = frequencies.size();
  const std::size_t chunks = (n + frequencies_per_chunk - 1) / frequencies_per_chunk;
  const bool finished = run_chunks_in_order(
      chunks, threads,
      [&](unsigned worker, std::size_t chunk) {
        const std::size_t end = std::min(n, (chunk + 1) * frequencies_per_chunk);
        for (std::size_t i = chunk * frequencies_per_chunk; i < end; ++i) {
          if (failed.load(std::memory_order_relaxed) || !keep_going()) return;
          sine_outcome outcome;
          try {
            if (!run_sine(f, frequencies[i], bases[worker], outcome)) {
              failed = true;
              return;
            }
          } catch (const std::bad_alloc&) {
            failed = true;
            return;
          }
          keep(i, outcome);
        }
      },
      [&](std::size_t chunk) {
        if (progress) progress(std::min(n, (chunk + 1) * frequencies_per_chunk), n);
        return !failed.load(std::memory_order_relaxed);
      });
  return finished && !failed.load();
}

}  // namespace

bool sweep_datapath(const fixed_filter& f, std::int32_t step, unsigned threads,
                    precision_sweeps& out, std::int32_t& sample_overflows,
                    const std::function<void(std::size_t, std::size_t)>& progress) noexcept {
  try {
    out.frequency = sweep_grid(step);
    const std::vector<double> frequencies(out.frequency.begin(), out.frequency.end());
    out.runs.assign(1, swept_precision{});
    swept_precision& run = out.runs[0];
    run.precision = f.path.coefficient.fraction_bits;
    run.peak.assign(frequencies.size(), not_a_number);
    run.steady.assign(frequencies.size(), not_a_number);
    run.wrapped.assign(frequencies.size(), 0);
    run.sample_overflowed.assign(frequencies.size(), 0);
    const bool done = run_sines(
        f, frequencies, threads,
        [&](std::size_t i, const sine_outcome& o) {
          run.peak[i] = o.peak;
          run.steady[i] = o.steady;
          run.wrapped[i] = o.wrapped ? 1 : 0;
          run.sample_overflowed[i] = o.sample_overflowed ? 1 : 0;
        },
        progress);
    if (!done) return false;
    run.wraps = static_cast<std::int32_t>(std::count(run.wrapped.begin(), run.wrapped.end(), 1));
    sample_overflows = static_cast<std::int32_t>(
        std::count(run.sample_overflowed.begin(), run.sample_overflowed.end(), 1));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool datapath_steady_amplitudes(const fixed_filter& f, unsigned threads,
                                steady_points& out) noexcept {
  try {
    out.steady.assign(out.frequency.size(), not_a_number);
    out.wrapped.assign(out.frequency.size(), 0);
    out.sample_overflowed.assign(out.frequency.size(), 0);
    return run_sines(f, out.frequency, threads,
                     [&](std::size_t i, const sine_outcome& o) {
                       out.steady[i] = o.steady;
                       out.wrapped[i] = o.wrapped ? 1 : 0;
                       out.sample_overflowed[i] = o.sample_overflowed ? 1 : 0;
                     },
                     {});
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace fixfir
