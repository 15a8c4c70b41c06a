#include "fixfir/drivers/sine_service.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "engine_view.h"
#include "fast_kernel.h"
#include "fixfir/coefficients/datapath.h"
#include "fixfir/common/checks.h"
#include "fixfir/drivers/accumulator_wraps.h"
#include "fixfir/engine/parallel_chunks.h"
#include "unit_sine_lanes.h"

namespace fixfir {

namespace {

// Thrown inside a signal's run when the keep-going check stopped it.
struct stopped_signal {};

}  // namespace

run_kernel kernel_for(const fixed_filter& f) noexcept {
  if (f.path.output.bits != 0) return run_kernel::exact;  // the engine has no output stage
  if (is_precision_datapath(f.path)) return run_kernel::narrow;
  const word_format& s = f.path.sample;
  // A unit sine's samples reach 2^F_x in magnitude, within the word when F_x ≤ W_x - 2;
  // the sums of any samples of the word then need at most the bits counted.
  const bool samples_fit = s.rounding == rounding_mode::toward_zero && s.fraction_bits >= 0 &&
                           s.fraction_bits <= HIGHEST_PRECISION && s.fraction_bits <= s.bits - 2;
  const bool sums_fit = f.accumulator_bits_needed <= std::min(f.path.accumulator_bits, 31);
  return samples_fit && sums_fit ? run_kernel::narrow : run_kernel::exact;
}

outcome sine_runner_init(sine_runner& r, const fixed_filter& f, std::size_t samples,
                         unsigned lanes) noexcept {
  lanes = std::max(lanes, 1U);
  r.filter = &f;
  r.kernel = kernel_for(f);
  r.samples = samples;
  if (r.kernel == run_kernel::narrow) return workspace_init(r.ws, engine_view(f), samples, lanes);
  try {
    r.runs.assign(lanes, datapath_run{});
    r.sines.assign(lanes, sine_basis{});
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  return success();
}

result<sine_run> run_sine(sine_runner& r, unsigned worker, double frequency,
                          sine_window window) noexcept {
  sine_run run;
  run.kernel = r.kernel;
  if (r.kernel == run_kernel::narrow) {
    run.lane = run_unit_sine(r.ws, worker, frequency, window);
    return run;
  }
  FIXFIR_EXPECTS(worker < r.runs.size() && window.first_sample <= r.samples);
  // The samples before the window's first are left 0: no output read from the window's
  // first on meets them.
  sine_basis& sine = r.sines[worker];
  if (outcome made = make_sine_basis(frequency, r.samples, sine, window.first_sample); !made)
    return std::move(made).failure();
  result<datapath_run> ran = run_datapath(*r.filter, sine.sine, 1, window.first_output);
  if (!ran) return std::move(ran).failure();
  r.runs[worker] = std::move(ran).value();
  const datapath_run& done = r.runs[worker];
  run.exact = done.accumulators;
  run.sample_overflows = done.sample_overflows;
  run.accumulator_overflows = done.accumulator_overflows;
  if (r.filter->path.output.bits != 0) run.staged_output = done.output;
  return run;
}

sine_run run_rescaled(sine_runner& r, unsigned worker, const sine_run& source, unsigned shift,
                      sine_window window) noexcept {
  FIXFIR_EXPECTS(r.kernel == run_kernel::narrow && source.kernel == run_kernel::narrow);
  sine_run run;
  run.lane = run_rescaled_sine(r.ws, worker, source.lane.quantized, shift, window);
  return run;
}

std::uint64_t run_peak(const sine_run& run, std::size_t n) noexcept {
  if (run.kernel == run_kernel::narrow) {
    return static_cast<std::uint64_t>(peak_magnitude(run.lane.accumulators, n));
  }
  std::uint64_t peak = 0;
  for (const std::int64_t a : run.exact.first(std::min(n, run.exact.size()))) {
    const std::uint64_t magnitude =
        a < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(a) : static_cast<std::uint64_t>(a);
    peak = std::max(peak, magnitude);
  }
  return peak;
}

double run_peak_value(const sine_run& run, std::size_t n, double unit) noexcept {
  if (run.staged_output.empty()) return static_cast<double>(run_peak(run, n)) * unit;
  double peak = 0.0;
  for (const double y : run.staged_output.first(std::min(n, run.staged_output.size())))
    peak = std::max(peak, std::fabs(y));
  return peak;
}

std::span<const std::int32_t> narrow_accumulators(const sine_run& run, std::size_t n) noexcept {
  FIXFIR_EXPECTS(run.kernel == run_kernel::narrow);
  // Signed and unsigned forms of one type may alias.
  return {reinterpret_cast<const std::int32_t*>(run.lane.accumulators), n};
}

std::span<const std::int32_t> narrow_samples(const sine_run& run, std::size_t n) noexcept {
  FIXFIR_EXPECTS(run.kernel == run_kernel::narrow);
  return {reinterpret_cast<const std::int32_t*>(run.lane.quantized), n};
}

namespace {

// The engine's run of a signal, its wraps counted against the exact sums.
datapath_run engine_signal_or_throw(const fixed_filter& f, std::span<const double> x,
                                    unsigned threads) {
  const quantized_filter q = engine_view(f);
  std::vector<std::int32_t> acc(x.size());
  if (outcome ran = filter_signal(q, x.data(), x.size(), acc.data(), threads); !ran) {
    if (ran.failure().kind == error_kind::interrupted) throw stopped_signal{};
    throw std::bad_alloc();
  }
  const auto scale = static_cast<double>(q.scale);
  datapath_run run;
  run.accumulators.assign(acc.begin(), acc.end());
  run.output.resize(x.size());
  std::vector<std::int32_t> s(x.size());
  std::uint64_t largest_sample = 0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    run.output[n] = fir_output(scale, acc[n]);
    s[n] = quantize_sample(scale, x[n]);
    const std::int64_t v = s[n];
    largest_sample = std::max(largest_sample, static_cast<std::uint64_t>(v < 0 ? -v : v));
  }
  // When Σ |c[j]| · max |s| fits in 31 bits no sum can wrap, and the exact sums are skipped.
  if (largest_sample <= wrap_free_sample_limit(f.magnitude_sum)) return run;
  run.accumulator_overflows = static_cast<std::size_t>(count_wrapped_sums(
      f.coefficients, s, acc, 0, std::numeric_limits<std::int64_t>::max(), true));
  if (!keep_going()) throw stopped_signal{};
  return run;
}

}  // namespace

result<datapath_run> run_signal(const fixed_filter& f, std::span<const double> x,
                                unsigned threads) noexcept {
  if (!is_precision_datapath(f.path)) return run_datapath(f, x, threads);
  try {
    return engine_signal_or_throw(f, x, std::max(threads, 1U));
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  } catch (const stopped_signal&) {
    return stopped_run_error();
  }
}

}  // namespace fixfir
