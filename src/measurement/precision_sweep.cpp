#include "precision_sweep.h"

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

#include "checks.h"
#include "fast_kernel.h"
#include "fir_engine.h"
#include "frequency_sweep.h"
#include "guarded_sine.h"
#include "parallel_chunks.h"
#include "quantizer.h"
#include "steady_state.h"
#include "sweep_window.h"
#include "wrap_checks.h"

namespace fixfir {

namespace {

// Frequencies handed to a worker at a time.
constexpr std::int32_t frequencies_per_chunk = 8;

// One precision's coefficients and workspace.
struct precision_run {
  std::vector<std::int32_t> coefficients;
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
  std::int32_t step = 1;
  unsigned threads = 1;
  bool peaks = false;
  std::int32_t frequencies = 0;
  run_window window;
  bool fits = false;
  double largest_tap = 0.0;
  std::int32_t lower = -1;
  std::vector<precision_run> run;  // one per precision, and last the lower precision
  bool need_lower = false;
  std::uint64_t lower_sum = 0;
};

bool prepare(const sweep_setup& w, precision_run& r, std::int32_t precision) {
  const std::span<const float> taps = w.taps;
  r.coefficients.resize(taps.size());
  quantized_filter filter;
  filter.count = static_cast<std::int32_t>(taps.size());
  filter.coefficients = r.coefficients.data();
  filter.scale = quantize_taps(precision, filter.count, taps.data(), r.coefficients.data());
  r.wrap_free = wrap_bound_at(taps, precision).wrap_free;
  r.silent = std::all_of(r.coefficients.begin(), r.coefficients.end(),
                         [](std::int32_t c) { return c == 0; });
  r.judged = !r.wrap_free && w.lower >= 0 && precision > w.lower &&
             precision <= HIGHEST_PRECISION &&
             w.largest_tap * std::ldexp(1.0, precision) < 2147483648.0;
  return sweep_workspace_init(r.ws, filter, w.threads);
}

// The runs of every precision and their result slots, and the lower precision's run when
// some verdict needs it.
bool prepare_runs(sweep_setup& w, precision_sweeps& out) {
  const std::size_t runs = w.precisions.size();
  const std::size_t frequencies = to_size(w.frequencies);
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
  if (w.need_lower) {
    if (!prepare(w, w.run[runs], w.lower)) return false;
    for (std::int32_t c : std::span(w.run[runs].coefficients).first(w.window.met))
      w.lower_sum += static_cast<std::uint64_t>(c < 0 ? -static_cast<std::int64_t>(c) : c);
  }
  return true;
}

// Fills a lane from sample `from` on and computes its outputs from `output` on.
fir_lane filter_lane(const sweep_setup& w, precision_run& r, unsigned worker, const sine_basis& b,
                     std::size_t from, std::size_t output) {
  const std::size_t samples = w.window.samples;
  const std::size_t outputs = w.window.outputs;
  // Only the quantized samples are needed: the guarded sines give them without a
  // std::sin call for nearly every sample, and exactly.
  FIXFIR_EXPECTS(from <= samples && samples <= r.ws.samples && output <= outputs &&
                 outputs == r.ws.outputs && (from == 0 || from + (w.window.met - 1) <= output));
  const fir_lane lane = workspace_lane(r.ws, worker);
  guarded_sine_samples(b.frequency, r.ws.times.begin() + from, r.ws.scale, lane.quantized + from,
                       samples - from);
  workspace_convolve(r.ws, worker, output, outputs);
  return lane;
}

// Precision k's run at frequency index i: its peak, its fitted amplitude and whether it
// wrapped, judged from the lower precision's peak where that can tell.
void sweep_precision_at(sweep_setup& w, std::size_t k, unsigned worker, const sine_basis& b,
                        std::int32_t i, std::int64_t lower_peak, precision_sweeps& out) {
  const double no_fit = std::numeric_limits<double>::quiet_NaN();
  const std::size_t samples = w.window.samples;
  const std::size_t fit_start = w.window.fit_start;
  precision_run& r = w.run[k];
  swept_precision& result = out.runs[k];
  if (r.silent) {  // every coefficient is 0, and so is every output
    if (w.peaks) result.peak[to_size(i)] = 0.0;
    result.steady[to_size(i)] = w.fits ? 0.0 : no_fit;
    result.wrapped[to_size(i)] = 0;
    return;
  }
  const double scale = r.ws.scale;
  wrap_verdict verdict = r.wrap_free ? wrap_verdict::none : wrap_verdict::unknown;
  if (r.judged)
    verdict = verdict_from_lower(lower_peak, w.lower_sum, w.window.met, w.lower, w.precisions[k]);
  const bool whole = w.peaks || verdict == wrap_verdict::unknown;
  if (!whole && !w.fits) {  // nothing to fit, and the wraps are known
    result.steady[to_size(i)] = no_fit;
    result.wrapped[to_size(i)] = verdict == wrap_verdict::wraps ? 1 : 0;
    return;
  }
  const fir_lane lane = filter_lane(w, r, worker, b, whole ? 0 : w.window.first_sample,
                                    whole ? 0 : w.window.first_output);
  if (w.peaks) {
    result.peak[to_size(i)] = fir_output(scale, peak_magnitude(lane.accumulators, samples));
  }
  result.steady[to_size(i)] =
      w.fits ? fitted_amplitude(b, as_signed(lane.accumulators, samples), fit_start, scale)
             : no_fit;
  if (verdict == wrap_verdict::unknown) {
    wrap_check check;
    check.coefficients = std::span<const std::int32_t>(r.coefficients).first(w.window.met);
    check.samples = as_signed(lane.quantized, samples);
    check.accumulators = as_signed(lane.accumulators, samples);
    check.scale = scale;
    verdict = run_wrapped(check) ? wrap_verdict::wraps : wrap_verdict::none;
  }
  result.wrapped[to_size(i)] = verdict == wrap_verdict::wraps ? 1 : 0;
}

// The frequency indices a chunk covers.
std::pair<std::int32_t, std::int32_t> chunk_range(std::int32_t frequencies, std::size_t chunk) {
  const auto begin = static_cast<std::int32_t>(chunk) * frequencies_per_chunk;
  return std::pair{begin, std::min(begin + frequencies_per_chunk, frequencies)};
}

// Every precision at the frequencies of one chunk, on one worker.
void sweep_chunk(sweep_setup& w, unsigned worker, std::size_t chunk, sine_basis& b,
                 precision_sweeps& out) {
  const std::size_t runs = w.precisions.size();
  const auto [begin, end] = chunk_range(w.frequencies, chunk);
  for (std::int32_t i = begin; i < end; ++i) {
    const std::int32_t f = swept_frequency(w.step, i);
    out.frequency[to_size(i)] = f;
    (void)make_sine_basis(f, w.window.samples, b, w.window.fit_start);  // sizes kept: cannot fail
    std::int64_t lower_peak = -1;
    if (w.need_lower) {
      const fir_lane lane = filter_lane(w, w.run[runs], worker, b, 0, 0);
      lower_peak = peak_magnitude(lane.accumulators, w.window.samples);
    }
    for (std::size_t k = 0; k < runs; ++k) {
      if (!keep_going()) return;  // the run is abandoned
      sweep_precision_at(w, k, worker, b, i, lower_peak, out);
    }
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
    w.step = step;
    w.threads = std::max(threads, 1U);
    w.peaks = peaks;
    w.frequencies = sweep_frequency_count(step);
    w.window = window_for(taps.size(), peaks);
    w.fits = w.window.reach == steady_reach::measured;
    for (float t : taps) w.largest_tap = std::max(w.largest_tap, std::fabs(static_cast<double>(t)));
    w.lower = largest_wrap_free_precision(taps);
    if (!prepare_runs(w, out)) return false;

    std::vector<sine_basis> bases(w.threads);
    for (sine_basis& b : bases) {
      if (!make_sine_basis(0, w.window.samples, b, w.window.fit_start)) return false;
    }
    const std::int32_t chunks = (w.frequencies + frequencies_per_chunk - 1) / frequencies_per_chunk;
    const bool finished = run_chunks_in_order(
        to_size(chunks), w.threads,
        [&](unsigned worker, std::size_t chunk) {
          sweep_chunk(w, worker, chunk, bases[worker], out);
        },
        [&](std::size_t chunk) {
          if (progress)
            progress(to_size(chunk_range(w.frequencies, chunk).second), to_size(w.frequencies));
          return true;
        });
    if (!finished) return false;
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
