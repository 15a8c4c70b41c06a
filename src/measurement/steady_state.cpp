#include "fixfir/measurement/steady_state.h"

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
#include "fixfir/common/checks.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/sine_service.h"
#include "fixfir/drivers/unit_sine_sweep.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/sweep_window.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

}  // namespace

std::size_t steady_fit_start(std::size_t taps, std::size_t samples) noexcept {
  const std::size_t full = taps > 0 ? taps - 1 : 0;
  return samples > STEADY_FIT_SAMPLES ? std::max(full, samples - STEADY_FIT_SAMPLES) : full;
}

steady_reach steady_state_reach(std::size_t taps, std::size_t samples) noexcept {
  const std::size_t history = taps > 0 ? taps - 1 : 0;
  if (history >= samples) return steady_reach::not_reached;
  if (samples - history < STEADY_FIT_MINIMUM) return steady_reach::too_short;
  return steady_reach::measured;
}

std::string steady_absence(std::size_t taps, std::size_t samples) {
  const std::string run = "the " + std::to_string(samples) + "-sample run";
  switch (steady_state_reach(taps, samples)) {
    case steady_reach::measured:
      break;
    case steady_reach::not_reached:
      return "not reached: the filter is longer than " + run;
    case steady_reach::too_short:
      return "not measured: the filter's " + std::to_string(taps - 1) + "-sample history leaves " +
             std::to_string(samples - (taps - 1)) + " of " + run +
             " for the fit, which needs at least " + std::to_string(STEADY_FIT_MINIMUM);
  }
  return "";
}

const char* steady_absence_word(steady_reach reach) noexcept {
  switch (reach) {
    case steady_reach::measured:
      break;
    case steady_reach::not_reached:
      return "not reached";
    case steady_reach::too_short:
      return "not measured";
  }
  return "";
}

namespace {

template <typename T>
double fit(const sine_basis& basis, std::span<const T> output, std::size_t first) noexcept {
  const std::size_t n = std::min({output.size(), basis.sine.size(), basis.cosine.size()});
  if (first >= n || n - first < 3) return not_a_number;
  double ss = 0.0;
  double cc = 0.0;
  double sc = 0.0;
  double ys = 0.0;
  double yc = 0.0;
  for (std::size_t i = first; i < n; ++i) {
    const double s = basis.sine[i];
    const double c = basis.cosine[i];
    const auto y = static_cast<double>(output[i]);
    ss += s * s;
    cc += c * c;
    sc += s * c;
    ys += y * s;
    yc += y * c;
  }
  const double m = static_cast<double>(n - first);
  const double det = ss * cc - sc * sc;
  // Each sum is at most m; a determinant this small means the two do not span a sine
  // (8000 Hz sampled at its zero crossings).
  if (!(det > 1e-6 * m * m)) return not_a_number;
  const double a = (ys * cc - yc * sc) / det;
  const double b = (yc * ss - ys * sc) / det;
  return std::hypot(a, b);
}

}  // namespace

double fitted_amplitude(const sine_basis& basis, std::span<const double> output,
                        std::size_t first) noexcept {
  return fit(basis, output, first);
}

double fitted_amplitude(const sine_basis& basis, const sine_run& run, std::size_t samples,
                        std::size_t first, double unit) noexcept {
  // The unit is a power of two: scaling the fit by it is exact.
  if (run.kernel == run_kernel::narrow)
    return fit(basis, narrow_accumulators(run, samples), first) * unit;
  if (!run.staged_output.empty())  // measured at the output word
    return fit(basis, run.staged_output.first(std::min(samples, run.staged_output.size())), first);
  return fit(basis, run.exact.first(std::min(samples, run.exact.size())), first) * unit;
}

std::vector<double> band_extremes(const dense_response& coefficients, const band_plan& plan,
                                  std::size_t per_band) {
  const std::vector<double>& m = coefficients.magnitude;
  const double low_limit = SWEEP_FIRST_FREQUENCY;
  const double high_limit = SWEEP_LAST_FREQUENCY - SWEEP_FIRST_FREQUENCY;
  std::vector<double> out;
  auto add = [&](double f) { out.push_back(std::clamp(f, low_limit, high_limit)); };
  auto scan_band = [&](const band& b, bool dips) {
    add(b.low);
    add(b.high);
    if (m.size() < 3 || !(coefficients.spacing > 0.0)) return;
    // Grid points strictly inside the band whose neighbours are both lower (tops) or
    // both higher (dips); a band edge on a slope is covered by the edge itself.
    std::vector<std::pair<double, std::size_t>> tops;
    std::vector<std::pair<double, std::size_t>> bottoms;
    const auto first = static_cast<std::size_t>(std::ceil(b.low / coefficients.spacing));
    for (std::size_t k = std::max<std::size_t>(first, 1); k + 1 < m.size(); ++k) {
      if (static_cast<double>(k) * coefficients.spacing > b.high) break;
      if (m[k] >= m[k - 1] && m[k] >= m[k + 1]) tops.emplace_back(-m[k], k);
      if (dips && m[k] <= m[k - 1] && m[k] <= m[k + 1]) bottoms.emplace_back(m[k], k);
    }
    for (auto* list : {&tops, &bottoms}) {
      const std::size_t keep = std::min(per_band, list->size());
      std::partial_sort(list->begin(), list->begin() + static_cast<std::ptrdiff_t>(keep),
                        list->end());
      for (std::size_t i = 0; i < keep; ++i)
        add(static_cast<double>((*list)[i].second) * coefficients.spacing);
    }
  };
  for (const band& b : plan.passbands) scan_band(b, true);
  for (const band& b : plan.stopbands) scan_band(b, false);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

namespace {

// The steady state at every frequency of `out` once the fit is known to be measured.
outcome steady_runs(const fixed_filter& f, unsigned threads, const run_window& w,
                    steady_points& out) {
  sine_runner runner;
  if (outcome made = sine_runner_init(runner, f, w.samples, threads); !made) return made;
  const bool narrow = runner.kernel == run_kernel::narrow;
  // On fixfir's precisions, samples are at most the scale in magnitude, so below this no
  // sum can wrap; off them the engine runs only what cannot overflow (kernel_for).
  const bool wrap_free = !is_precision_datapath(f.path) ||
                         (f.path.scale > 0 && static_cast<std::uint64_t>(f.path.scale) <=
                                                  wrap_free_sample_limit(f.magnitude_sum));
  std::vector<sine_basis> bases(threads);
  for (sine_basis& b : bases) {
    if (outcome made = make_sine_basis(0.0, w.samples, b, w.fit_start); !made) return made;
  }
  std::atomic<bool> failed{false};   // an exact run failed
  std::atomic<bool> stopped{false};  // ... because it was stopped
  unit_sine_sweep sweep;
  sweep.frequencies = out.frequency;
  sweep.threads = threads;
  sweep.per_chunk = 1;
  const sine_window window{w.first_sample, w.first_output};
  outcome swept = sweep_unit_sines(sweep, [&](const swept_sine& sine) {
    if (failed) return;
    result<sine_run> ran = run_sine(runner, sine.worker, sine.frequency, window);
    if (!ran) {
      stopped = stopped || ran.failure().kind == error_kind::interrupted;
      failed = true;
      return;
    }
    const sine_run& run = ran.value();
    sine_basis& b = bases[sine.worker];
    (void)make_sine_basis(sine.frequency, w.samples, b, w.fit_start);  // sizes kept
    out.steady[sine.index] = fitted_amplitude(b, run, w.samples, w.fit_start, f.output_unit);
    if (!narrow) {
      out.wrapped[sine.index] = run.accumulator_overflows > 0 ? 1 : 0;
      out.sample_overflowed[sine.index] = run.sample_overflows > 0 ? 1 : 0;
    } else if (!wrap_free) {
      wrap_check check;
      check.coefficients = std::span<const std::int32_t>(f.coefficients).first(w.met);
      check.samples = narrow_samples(run, w.samples);
      check.accumulators = narrow_accumulators(run, w.samples);
      check.scale = runner.ws.scale;
      check.from = w.first_output;
      out.wrapped[sine.index] = run_wrapped(check) ? 1 : 0;
    }
  });
  if (failed) return stopped ? interrupted_error() : out_of_memory_error();
  return swept;
}

}  // namespace

outcome steady_amplitudes(const fixed_filter& f, unsigned threads, steady_points& out) noexcept {
  try {
    threads = std::max(threads, 1U);
    const std::size_t n = out.frequency.size();
    const run_window w = window_for(f.coefficients.size(), false);
    out.wrapped.assign(n, 0);
    out.sample_overflowed.assign(n, 0);
    if (w.reach != steady_reach::measured) {  // no fit: nothing to run
      out.steady.assign(n, not_a_number);
      return success();
    }
    out.steady.assign(n, 0.0);
    // Every output of a filter whose coefficients are all 0 is 0; only words off fixfir's
    // precisions can still overflow on the way.
    if (f.magnitude_sum == 0 && kernel_for(f) == run_kernel::narrow) return success();
    return steady_runs(f, threads, w, out);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
