#include "fixfir/measurement/precision_sweep.h"

#include <algorithm>
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

// One precision's filter and workspace.
struct precision_run {
  fixed_filter filter;
  fir_workspace ws;
  bool wrap_free = false;
  bool judged = false;  // verdict_from_lower applies
  bool silent = false;  // all coefficients 0
};

// What every frequency of one sweep shares. A run at the largest wrap-free precision
// (`lower`) is exact; it tells whether the runs at the higher precisions wrap (see
// verdict_from_lower), run by run only where it cannot.
struct sweep_setup {
  std::span<const float> taps;
  std::span<const std::int32_t> precisions;
  unsigned threads = 1;
  bool peaks = false;
  run_window window;
  bool fits = false;
  double largest_tap = 0.0;
  std::int32_t lower = -1;
  std::vector<precision_run> run;  // one per precision, and last the lower precision
  bool need_lower = false;
  std::uint64_t lower_sum = 0;
  std::vector<std::vector<bool>> settled;  // per worker: the runs the bound settles
  sine_clock clock;                        // the runs' sample clock, for the bound
  // With peaks every run is whole: the first judged run's samples then give the lower
  // precision's by a shift, and that run is not repeated. Else the number of precisions.
  std::size_t lower_source = 0;
};

bool prepare(const sweep_setup& w, precision_run& r, std::int32_t precision) {
  result<fixed_filter> made = make_fixed_filter(w.taps, precision_datapath(precision));
  if (!made) return false;
  r.filter = std::move(made).value();
  r.wrap_free = wrap_free(r.filter);
  r.silent = r.filter.magnitude_sum == 0;
  r.judged = !r.wrap_free && w.lower >= 0 && precision > w.lower &&
             precision <= HIGHEST_PRECISION &&
             w.largest_tap * std::ldexp(1.0, precision) < 2147483648.0;
  return sweep_workspace_init(r.ws, engine_filter(r.filter), w.threads).ok();
}

// The runs of every precision and their result slots, and the lower precision's run when
// some verdict needs it.
bool prepare_runs(sweep_setup& w, std::size_t frequencies, precision_sweeps& out) {
  const std::size_t runs = w.precisions.size();
  w.run.resize(runs + 1);
  out.frequency.resize(frequencies);
  out.runs.assign(runs, {});
  for (std::size_t k = 0; k < runs; ++k) {
    if (!prepare(w, w.run[k], w.precisions[k])) return false;
    w.need_lower = w.need_lower || w.run[k].judged;
    swept_precision& r = out.runs[k];
    r.precision = w.precisions[k];
    r.peak.assign(frequencies, std::numeric_limits<double>::quiet_NaN());
    r.steady.resize(frequencies);
    r.wrapped.resize(frequencies);
  }
  w.lower_source = runs;
  if (w.peaks) {
    for (std::size_t k = 0; k < runs && w.lower_source == runs; ++k)
      if (w.run[k].judged) w.lower_source = k;
  }
  if (w.need_lower) {
    precision_run& lower = w.run[runs];
    if (!prepare(w, lower, w.lower)) return false;
    // Only the taps that meet a sample count.
    w.lower_sum =
        w.window.met == lower.filter.coefficients.size()
            ? lower.filter.magnitude_sum
            : coefficient_magnitude_sum(std::span(lower.filter.coefficients).first(w.window.met));
  }
  return true;
}

// Precision k's run at frequency index i: its peak, its fitted amplitude and whether it
// wrapped, judged from the lower precision's peak where that can tell.
// `ready`, when set, is this run's whole lane, run already.
// `settled` says the sine-sum bound already shows that no sum of this run can wrap.
void sweep_precision_at(sweep_setup& w, std::size_t k, unsigned worker, const sine_basis& b,
                        std::size_t i, std::int64_t lower_peak, const fir_lane* ready, bool settled,
                        precision_sweeps& out) {
  const double no_fit = std::numeric_limits<double>::quiet_NaN();
  const std::size_t samples = w.window.samples;
  precision_run& r = w.run[k];
  swept_precision& result = out.runs[k];
  if (r.silent) {  // every coefficient is 0, and so is every output
    if (w.peaks) result.peak[i] = 0.0;
    result.steady[i] = w.fits ? 0.0 : no_fit;
    result.wrapped[i] = 0;
    return;
  }
  const double scale = r.ws.scale;
  wrap_verdict verdict = r.wrap_free || settled ? wrap_verdict::none : wrap_verdict::unknown;
  if (r.judged && !settled)
    verdict = verdict_from_lower(lower_peak, w.lower_sum, w.window.met, w.lower, w.precisions[k]);
  const bool whole = w.peaks || verdict == wrap_verdict::unknown;
  if (!whole && !w.fits) {  // nothing to fit, and the wraps are known
    result.steady[i] = no_fit;
    result.wrapped[i] = verdict == wrap_verdict::wraps ? 1 : 0;
    return;
  }
  const sine_window window =
      whole ? sine_window{} : sine_window{w.window.first_sample, w.window.first_output};
  const fir_lane lane =
      ready != nullptr && whole ? *ready : run_unit_sine(r.ws, worker, b.frequency, window);
  if (w.peaks) result.peak[i] = fir_output(scale, peak_accumulator(lane, samples));
  result.steady[i] =
      w.fits ? fitted_amplitude(b, as_signed(lane.accumulators, samples), w.window.fit_start, scale)
             : no_fit;
  if (verdict == wrap_verdict::unknown) {
    wrap_check check;
    check.coefficients = std::span<const std::int32_t>(r.filter.coefficients).first(w.window.met);
    check.samples = as_signed(lane.quantized, samples);
    check.accumulators = as_signed(lane.accumulators, samples);
    check.scale = scale;
    verdict = run_wrapped(check) ? wrap_verdict::wraps : wrap_verdict::none;
  }
  result.wrapped[i] = verdict == wrap_verdict::wraps ? 1 : 0;
}

// The precision runs at one swept frequency: the lower precision's run for its peak, then
// every precision.
void measure_precisions(sweep_setup& w, const swept_sine& sine, sine_basis& b,
                        precision_sweeps& out) {
  out.frequency[sine.index] = static_cast<std::int32_t>(sine.frequency);
  (void)make_sine_basis(sine.frequency, w.window.samples, b, w.window.fit_start);  // sizes kept
  const std::size_t runs = w.precisions.size();
  // Where the sine-sum bound settles every judged run, the lower precision's run is not
  // needed: its peak only serves to judge them. The bound is tried in order and given up
  // at the first run it cannot settle, as the lower run is then made anyway.
  std::vector<bool>& settled = w.settled[sine.worker];
  settled.assign(runs, false);
  bool need_lower = false;
  for (std::size_t k = 0; k < runs && w.need_lower && !need_lower; ++k) {
    const precision_run& r = w.run[k];
    if (!r.judged || r.silent) continue;
    settled[k] = sine_sums_cannot_wrap(r.filter.coefficients, r.ws.scale, b.frequency, w.clock);
    need_lower = !settled[k];
  }
  std::int64_t lower_peak = -1;
  fir_lane source;
  if (need_lower) {
    precision_run& lower = w.run[runs];
    fir_lane lane;
    if (w.lower_source < runs) {
      source = run_unit_sine(w.run[w.lower_source].ws, sine.worker, b.frequency);
      const auto shift = static_cast<unsigned>(w.precisions[w.lower_source] - w.lower);
      lane = run_rescaled_sine(lower.ws, sine.worker, source.quantized, shift);
    } else {
      lane = run_unit_sine(lower.ws, sine.worker, b.frequency);
    }
    lower_peak = peak_accumulator(lane, w.window.samples);
  }
  for (std::size_t k = 0; k < runs; ++k) {
    if (!keep_going()) return;  // the run is abandoned
    const bool ready = need_lower && k == w.lower_source;
    sweep_precision_at(w, k, sine.worker, b, sine.index, lower_peak, ready ? &source : nullptr,
                       settled[k], out);
  }
}

}  // namespace

bool sweep_precisions(std::span<const float> taps, std::span<const std::int32_t> precisions,
                      std::int32_t step, unsigned threads, bool peaks, precision_sweeps& out,
                      const std::function<void(std::size_t, std::size_t)>& progress) noexcept {
  try {
    sweep_setup w;
    w.taps = taps;
    w.precisions = precisions;
    w.threads = std::max(threads, 1U);
    w.peaks = peaks;
    w.window = window_for(taps.size(), peaks);
    w.fits = w.window.reach == steady_reach::measured;
    for (float t : taps) w.largest_tap = std::max(w.largest_tap, std::fabs(static_cast<double>(t)));
    w.lower = largest_wrap_free_precision(taps);
    out.wrap_free_limit = w.lower >= 0 ? std::optional(w.lower) : std::nullopt;
    const std::vector<std::int32_t> grid = sweep_grid(step);
    const std::vector<double> frequencies(grid.begin(), grid.end());
    if (!prepare_runs(w, frequencies.size(), out)) return false;

    std::vector<sine_basis> bases(w.threads);
    w.settled.resize(w.threads);
    if (!w.run.empty()) {
      w.clock = measure_sine_clock(
          std::span<const double>(w.run.front().ws.times.begin(), w.window.samples));
    }
    for (sine_basis& b : bases) {
      if (!make_sine_basis(0, w.window.samples, b, w.window.fit_start)) return false;
    }
    unit_sine_sweep sweep;
    sweep.frequencies = frequencies;
    sweep.threads = w.threads;
    sweep.per_chunk = frequencies_per_chunk;
    const std::size_t n = frequencies.size();
    sweep.in_order = [&](std::size_t i) {
      if (progress && ((i + 1) % frequencies_per_chunk == 0 || i + 1 == n)) progress(i + 1, n);
      return true;
    };
    if (!sweep_unit_sines(sweep, [&](const swept_sine& sine) {
          measure_precisions(w, sine, bases[sine.worker], out);
        }))
      return false;
    for (swept_precision& r : out.runs) {
      r.wraps = static_cast<std::int32_t>(std::count(r.wrapped.begin(), r.wrapped.end(), 1));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
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
