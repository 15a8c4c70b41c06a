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

}  // namespace

bool sweep_precisions(std::span<const float> taps, std::span<const std::int32_t> precisions,
                      std::int32_t step, unsigned threads, bool peaks, precision_sweeps& out,
                      const std::function<void(std::size_t, std::size_t)>& progress) noexcept {
  try {
    threads = std::max(threads, 1U);
    const std::int32_t frequencies = sweep_frequency_count(step);
    const run_window window = window_for(taps.size(), peaks);
    const std::size_t samples = window.samples;
    const std::size_t met = window.met;
    const std::size_t fit_start = window.fit_start;
    const std::size_t outputs = window.outputs;
    const std::size_t first_output = window.first_output;
    const std::size_t first_sample = window.first_sample;
    const bool fits = window.reach == steady_reach::measured;
    const double no_fit = std::numeric_limits<double>::quiet_NaN();
    double largest_tap = 0.0;
    for (float t : taps) largest_tap = std::max(largest_tap, std::fabs(static_cast<double>(t)));

    // A run at the largest wrap-free precision is exact; it tells whether the runs at the
    // higher precisions wrap (see verdict_from_lower), run by run only where it cannot.
    const std::int32_t lower = largest_wrap_free_precision(taps);
    const std::size_t runs = precisions.size();
    struct precision_run {
      std::vector<std::int32_t> coefficients;
      fir_workspace ws;
      bool wrap_free = false;
      bool judged = false;  // verdict_from_lower applies
      bool silent = false;  // all coefficients 0
    };
    std::vector<precision_run> run(runs + 1);  // the last: the lower precision
    out.frequency.resize(to_size(frequencies));
    out.runs.assign(runs, {});
    bool need_lower = false;
    auto prepare = [&](precision_run& r, std::int32_t precision) {
      r.coefficients.resize(taps.size());
      quantized_filter filter;
      filter.count = static_cast<std::int32_t>(taps.size());
      filter.coefficients = r.coefficients.data();
      filter.scale = quantize_taps(precision, filter.count, taps.data(), r.coefficients.data());
      r.wrap_free = wrap_bound_at(taps, precision).wrap_free;
      r.silent = std::all_of(r.coefficients.begin(), r.coefficients.end(),
                             [](std::int32_t c) { return c == 0; });
      r.judged = !r.wrap_free && lower >= 0 && precision > lower &&
                 precision <= HIGHEST_PRECISION &&
                 largest_tap * std::ldexp(1.0, precision) < 2147483648.0;
      return sweep_workspace_init(r.ws, filter, threads);
    };
    for (std::size_t k = 0; k < runs; ++k) {
      if (!prepare(run[k], precisions[k])) return false;
      need_lower = need_lower || run[k].judged;
      swept_precision& r = out.runs[k];
      r.precision = precisions[k];
      r.peak.assign(to_size(frequencies), std::numeric_limits<double>::quiet_NaN());
      r.steady.resize(to_size(frequencies));
      r.wrapped.resize(to_size(frequencies));
    }
    std::uint64_t lower_sum = 0;
    if (need_lower) {
      if (!prepare(run[runs], lower)) return false;
      for (std::int32_t c : std::span(run[runs].coefficients).first(met))
        lower_sum += static_cast<std::uint64_t>(c < 0 ? -static_cast<std::int64_t>(c) : c);
    }

    std::vector<sine_basis> bases(threads);
    for (sine_basis& b : bases) {
      if (!make_sine_basis(0, samples, b, fit_start)) return false;
    }
    const std::int32_t chunks = (frequencies + frequencies_per_chunk - 1) / frequencies_per_chunk;
    auto range = [frequencies](std::size_t chunk) {
      const auto begin = static_cast<std::int32_t>(chunk) * frequencies_per_chunk;
      return std::pair{begin, std::min(begin + frequencies_per_chunk, frequencies)};
    };
    // Fills a lane from sample `from` on and computes its outputs from `output` on.
    auto filter_lane = [&](precision_run& r, unsigned worker, const sine_basis& b, std::size_t from,
                           std::size_t output) {
      // Only the quantized samples are needed: the guarded sines give them without a
      // std::sin call for nearly every sample, and exactly.
      FIXFIR_EXPECTS(from <= samples && samples <= r.ws.samples && output <= outputs &&
                     outputs == r.ws.outputs && (from == 0 || from + (met - 1) <= output));
      const fir_lane lane = workspace_lane(r.ws, worker);
      guarded_sine_samples(b.frequency, r.ws.times.begin() + from, r.ws.scale,
                           lane.quantized + from, samples - from);
      workspace_convolve(r.ws, worker, output, outputs);
      return lane;
    };
    const bool finished = run_chunks_in_order(
        to_size(chunks), threads,
        [&](unsigned worker, std::size_t chunk) {
          sine_basis& b = bases[worker];
          const auto [begin, end] = range(chunk);
          for (std::int32_t i = begin; i < end; ++i) {
            const std::int32_t f = swept_frequency(step, i);
            out.frequency[to_size(i)] = f;
            (void)make_sine_basis(f, samples, b, fit_start);  // sizes kept: cannot fail
            std::int64_t lower_peak = -1;
            if (need_lower) {
              const fir_lane lane = filter_lane(run[runs], worker, b, 0, 0);
              lower_peak = peak_magnitude(lane.accumulators, samples);
            }
            for (std::size_t k = 0; k < runs; ++k) {
              if (!keep_going()) return;  // the run is abandoned
              precision_run& r = run[k];
              swept_precision& result = out.runs[k];
              if (r.silent) {  // every coefficient is 0, and so is every output
                if (peaks) result.peak[to_size(i)] = 0.0;
                result.steady[to_size(i)] = fits ? 0.0 : no_fit;
                result.wrapped[to_size(i)] = 0;
                continue;
              }
              const double scale = r.ws.scale;
              wrap_verdict verdict = r.wrap_free ? wrap_verdict::none : wrap_verdict::unknown;
              if (r.judged)
                verdict = verdict_from_lower(lower_peak, lower_sum, met, lower, precisions[k]);
              const bool whole = peaks || verdict == wrap_verdict::unknown;
              if (!whole && !fits) {  // nothing to fit, and the wraps are known
                result.steady[to_size(i)] = no_fit;
                result.wrapped[to_size(i)] = verdict == wrap_verdict::wraps ? 1 : 0;
                continue;
              }
              const fir_lane lane =
                  filter_lane(r, worker, b, whole ? 0 : first_sample, whole ? 0 : first_output);
              if (peaks) {
                result.peak[to_size(i)] =
                    fir_output(scale, peak_magnitude(lane.accumulators, samples));
              }
              result.steady[to_size(i)] =
                  fits
                      ? fitted_amplitude(b, as_signed(lane.accumulators, samples), fit_start, scale)
                      : no_fit;
              if (verdict == wrap_verdict::unknown) {
                wrap_check check;
                check.coefficients = std::span<const std::int32_t>(r.coefficients).first(met);
                check.samples = as_signed(lane.quantized, samples);
                check.accumulators = as_signed(lane.accumulators, samples);
                check.scale = scale;
                verdict = run_wrapped(check) ? wrap_verdict::wraps : wrap_verdict::none;
              }
              result.wrapped[to_size(i)] = verdict == wrap_verdict::wraps ? 1 : 0;
            }
          }
        },
        [&](std::size_t chunk) {
          if (progress) progress(to_size(range(chunk).second), to_size(frequencies));
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
