#include "fixfir/measurement/precision_sweep.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/sine_service.h"
#include "fixfir/drivers/unit_sine_sweep.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/sine_sum_bound.h"
#include "fixfir/measurement/steady_state.h"
#include "fixfir/measurement/sweep_window.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir {

namespace {

// Frequencies handed to a worker at a time, and between two progress reports.
constexpr std::size_t frequencies_per_chunk = 8;
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// One filter's runner and what its runs' wraps are known by.
struct filter_run {
  const fixed_filter* filter = nullptr;
  sine_runner runner;
  bool at_precision = false;  // fixfir's precision: its wraps are checked on the engine
  bool wrap_free = false;     // no sum of a unit sine can overflow
  bool judged = false;        // verdict_from_lower applies
  bool silent = false;        // all coefficients 0
};

// What every frequency of one sweep shares. A run at the largest wrap-free precision
// (`lower`) is exact; it tells whether the runs at the higher precisions wrap (see
// verdict_from_lower), run by run only where it cannot.
struct sweep_setup {
  std::span<const fixed_filter> filters;
  bool peaks = false;
  run_window window;
  bool fits = false;
  double largest_tap = 0.0;
  std::optional<std::int32_t> lower;  // none when no precision is wrap-free
  fixed_filter lower_filter;
  std::vector<filter_run> run;  // one per filter, and last the lower precision's
  bool need_lower = false;
  std::uint64_t lower_sum = 0;
  std::vector<std::vector<bool>> settled;  // per worker: the runs the bound settles
  sine_clock clock;                        // the runs' sample clock, for the bound
  // With peaks every run is whole: the first judged run's samples then give the lower
  // precision's by a shift, and that run is not repeated. Else the number of filters.
  std::size_t lower_source = 0;
  std::atomic<bool> failed{false};   // an exact run failed
  std::atomic<bool> stopped{false};  // ... because it was stopped
};

outcome prepare(const sweep_setup& w, filter_run& r, const fixed_filter& f, unsigned threads) {
  r.filter = &f;
  r.at_precision = is_precision_datapath(f.path);
  r.silent = f.magnitude_sum == 0;
  // Off fixfir's precisions, a run on the engine cannot overflow (kernel_for), and one on
  // the exact kernels counts its own overflows.
  r.wrap_free = r.at_precision ? no_input_overflows(f) : kernel_for(f) == run_kernel::narrow;
  const std::int32_t p = f.path.precision;
  r.judged = r.at_precision && !r.wrap_free && w.lower && p > *w.lower && p <= HIGHEST_PRECISION &&
             w.largest_tap * std::ldexp(1.0, p) < 2147483648.0;
  return sine_runner_init(r.runner, f, w.window.samples, threads);
}

// The runs of every filter and their result slots, and the lower precision's run when
// some verdict needs it.
outcome prepare_runs(sweep_setup& w, const sweep_request& ask, std::size_t frequencies,
                     precision_sweeps& out) {
  const std::size_t runs = w.filters.size();
  w.run.resize(runs + 1);
  out.frequency.resize(frequencies);
  out.runs.assign(runs, {});
  for (std::size_t k = 0; k < runs; ++k) {
    const fixed_filter& f = w.filters[k];
    if (outcome made = prepare(w, w.run[k], f, ask.threads); !made) return made;
    w.need_lower = w.need_lower || w.run[k].judged;
    swept_precision& r = out.runs[k];
    r.peak.assign(frequencies, not_a_number);
    r.steady.resize(frequencies);
    r.wrapped.resize(frequencies);
    r.sample_overflowed.assign(frequencies, 0);
  }
  w.lower_source = runs;
  if (w.peaks) {
    for (std::size_t k = 0; k < runs && w.lower_source == runs; ++k)
      if (w.run[k].judged) w.lower_source = k;
  }
  if (!w.need_lower) return success();
  result<fixed_filter> made = make_fixed_filter(ask.taps, precision_datapath(*w.lower));
  if (!made) return std::move(made).failure();
  w.lower_filter = std::move(made).value();
  filter_run& lower = w.run[runs];
  if (outcome ready = prepare(w, lower, w.lower_filter, ask.threads); !ready) return ready;
  // Only the taps that meet a sample count.
  const std::vector<std::int32_t>& c = w.lower_filter.coefficients;
  w.lower_sum = w.window.met == c.size()
                    ? w.lower_filter.magnitude_sum
                    : coefficient_magnitude_sum(std::span(c).first(w.window.met));
  // Every judged run is on the engine, whose clock the sine-sum bound reads.
  w.clock =
      measure_sine_clock(std::span<const double>(lower.runner.ws.times.begin(), w.window.samples));
  return success();
}

// Filter k's run at frequency index i: its peak, its fitted amplitude and whether it
// wrapped, judged from the lower precision's peak where that can tell.
// `ready`, when set, is this run's whole lane, run already.
// `settled` says the sine-sum bound already shows that no sum of this run can wrap.
void sweep_filter_at(sweep_setup& w, std::size_t k, unsigned worker, const sine_basis& b,
                     std::size_t i, std::int64_t lower_peak, const sine_run* ready, bool settled,
                     precision_sweeps& out) {
  const std::size_t samples = w.window.samples;
  filter_run& r = w.run[k];
  swept_precision& slot = out.runs[k];
  if (r.silent) {  // every coefficient is 0, and so is every output
    if (w.peaks) slot.peak[i] = 0.0;
    slot.steady[i] = w.fits ? 0.0 : not_a_number;
    slot.wrapped[i] = 0;
    return;
  }
  const bool exact = r.runner.kernel == run_kernel::exact;
  wrap_verdict verdict = r.wrap_free || settled ? wrap_verdict::none : wrap_verdict::unknown;
  if (r.judged && !settled)  // a judged run has a lower precision
    verdict = verdict_from_lower(lower_peak, w.lower_sum, w.window.met, *w.lower,
                                 r.filter->path.precision);
  const bool whole = w.peaks || exact || verdict == wrap_verdict::unknown;
  if (!whole && !w.fits) {  // nothing to fit, and the wraps are known
    slot.steady[i] = not_a_number;
    slot.wrapped[i] = verdict == wrap_verdict::wraps ? 1 : 0;
    return;
  }
  const sine_window window =
      whole ? sine_window{} : sine_window{w.window.first_sample, w.window.first_output};
  sine_run run;
  if (ready != nullptr && whole) {
    run = *ready;
  } else {
    result<sine_run> ran = run_sine(r.runner, worker, b.frequency, window);
    if (!ran) {
      w.stopped = w.stopped || ran.failure().kind == error_kind::interrupted;
      w.failed = true;
      return;
    }
    run = ran.value();
  }
  const double unit = r.filter->output_unit;
  if (w.peaks) slot.peak[i] = run_peak_value(run, samples, unit);
  slot.steady[i] =
      w.fits ? fitted_amplitude(b, run, samples, w.window.fit_start, unit) : not_a_number;
  if (exact) {
    verdict = run.accumulator_overflows > 0 ? wrap_verdict::wraps : wrap_verdict::none;
    slot.sample_overflowed[i] = run.sample_overflows > 0 ? 1 : 0;
  } else if (verdict == wrap_verdict::unknown) {
    wrap_check check;
    check.coefficients = std::span<const std::int32_t>(r.filter->coefficients).first(w.window.met);
    check.samples = narrow_samples(run, samples);
    check.accumulators = narrow_accumulators(run, samples);
    check.scale = r.runner.ws.scale;
    verdict = run_wrapped(check) ? wrap_verdict::wraps : wrap_verdict::none;
  }
  slot.wrapped[i] = verdict == wrap_verdict::wraps ? 1 : 0;
}

// The lower precision's peak at one frequency, its run made from `source` (the first
// judged run's, run whole) where there is one.
std::int64_t lower_peak_at(sweep_setup& w, unsigned worker, double frequency, sine_run& source) {
  const std::size_t runs = w.filters.size();
  filter_run& lower = w.run[runs];
  if (w.lower_source < runs) {
    // Judged runs are on the engine, which never fails.
    source = run_sine(w.run[w.lower_source].runner, worker, frequency).value();
    const auto shift = static_cast<unsigned>(w.filters[w.lower_source].path.precision - *w.lower);
    return static_cast<std::int64_t>(
        run_peak(run_rescaled(lower.runner, worker, source, shift), w.window.samples));
  }
  return static_cast<std::int64_t>(
      run_peak(run_sine(lower.runner, worker, frequency).value(), w.window.samples));
}

// The runs at one swept frequency: the lower precision's run for its peak, then every
// filter's.
void measure_filters(sweep_setup& w, const swept_sine& sine, sine_basis& b, precision_sweeps& out) {
  out.frequency[sine.index] = static_cast<std::int32_t>(sine.frequency);
  (void)make_sine_basis(sine.frequency, w.window.samples, b, w.window.fit_start);  // sizes kept
  const std::size_t runs = w.filters.size();
  // Where the sine-sum bound settles every judged run, the lower precision's run is not
  // needed: its peak only serves to judge them. The bound is tried in order and given up
  // at the first run it cannot settle, as the lower run is then made anyway.
  std::vector<bool>& settled = w.settled[sine.worker];
  settled.assign(runs, false);
  bool need_lower = false;
  for (std::size_t k = 0; k < runs && w.need_lower && !need_lower; ++k) {
    const filter_run& r = w.run[k];
    if (!r.judged || r.silent) continue;
    settled[k] =
        sine_sums_cannot_wrap(r.filter->coefficients, r.runner.ws.scale, b.frequency, w.clock);
    need_lower = !settled[k];
  }
  std::int64_t lower_peak = -1;
  sine_run source;
  if (need_lower) lower_peak = lower_peak_at(w, sine.worker, b.frequency, source);
  for (std::size_t k = 0; k < runs; ++k) {
    if (!keep_going() || w.failed) return;  // the run is abandoned
    const bool ready = need_lower && k == w.lower_source;
    sweep_filter_at(w, k, sine.worker, b, sine.index, lower_peak, ready ? &source : nullptr,
                    settled[k], out);
  }
}

// The sweep once its request is read: false when memory ran out.
outcome sweep_with(sweep_setup& w, const sweep_request& ask, precision_sweeps& out) {
  const unsigned threads = std::max(ask.threads, 1U);
  const std::vector<std::int32_t> grid = sweep_grid(ask.step);
  const std::vector<double> frequencies(grid.begin(), grid.end());
  if (outcome made = prepare_runs(w, ask, frequencies.size(), out); !made) return made;
  std::vector<sine_basis> bases(threads);
  w.settled.resize(threads);
  for (sine_basis& b : bases) {
    if (outcome made = make_sine_basis(0, w.window.samples, b, w.window.fit_start); !made)
      return made;
  }
  unit_sine_sweep sweep;
  sweep.frequencies = frequencies;
  sweep.threads = threads;
  sweep.per_chunk = frequencies_per_chunk;
  const std::size_t n = frequencies.size();
  sweep.in_order = [&](std::size_t i) {
    if (ask.progress && ((i + 1) % frequencies_per_chunk == 0 || i + 1 == n))
      ask.progress(i + 1, n);
    return !w.failed;
  };
  outcome swept = sweep_unit_sines(sweep, [&](const swept_sine& sine) {
    if (!w.failed) measure_filters(w, sine, bases[sine.worker], out);
  });
  if (w.failed) return w.stopped ? interrupted_error() : out_of_memory_error();
  if (!swept) return swept;
  for (swept_precision& r : out.runs) {
    r.wraps = static_cast<std::int32_t>(std::count(r.wrapped.begin(), r.wrapped.end(), 1));
    r.sample_overflows = static_cast<std::int32_t>(
        std::count(r.sample_overflowed.begin(), r.sample_overflowed.end(), 1));
  }
  return success();
}

}  // namespace

outcome sweep_filters(std::span<const fixed_filter> filters, const sweep_request& ask,
                      precision_sweeps& out) noexcept {
  try {
    sweep_setup w;
    w.filters = filters;
    w.peaks = ask.peaks;
    w.window = window_for(filters.empty() ? ask.taps.size() : filters.front().coefficients.size(),
                          ask.peaks);
    w.fits = w.window.reach == steady_reach::measured;
    for (float t : ask.taps)
      w.largest_tap = std::max(w.largest_tap, std::fabs(static_cast<double>(t)));
    w.lower = largest_wrap_free_precision(ask.taps);
    out.wrap_free_limit = w.lower;
    return sweep_with(w, ask, out);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

result<std::vector<fixed_filter>> precision_filters(
    std::span<const float> taps, std::span<const std::int32_t> precisions) noexcept {
  try {
    std::vector<fixed_filter> filters;
    filters.reserve(precisions.size());
    for (const std::int32_t p : precisions) {
      result<fixed_filter> made = make_fixed_filter(taps, precision_datapath(p));
      if (!made) return std::move(made).failure();
      filters.push_back(std::move(made).value());
    }
    return filters;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

response_points sweep_series_points(const precision_sweeps& sweeps,
                                    const std::vector<double>& series) {
  response_points points;
  for (std::size_t i = 0; i < sweeps.frequency.size() && i < series.size(); ++i) {
    if (sweeps.frequency[i] == SWEEP_LAST_FREQUENCY) continue;
    points.frequency.push_back(static_cast<double>(sweeps.frequency[i]));
    points.magnitude.push_back(series[i]);
  }
  return points;
}

}  // namespace fixfir
