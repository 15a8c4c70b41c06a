#include "fixfir/measurement/measurement.h"

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
#include <variant>
#include <vector>

#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/sweep_window.h"

namespace fixfir {

namespace {

// The steady-state fits' wraps as a row counts them: the ripple's over the pass bands, the
// attenuation's over the pass and stop bands together.
void set_steady_wraps(precision_row& row, const band_wraps& w) {
  row.ripple_frequencies = w.passband_frequencies;
  row.ripple_wraps = w.passband_wrapped;
  row.attenuation_frequencies = w.passband_frequencies;
  row.attenuation_wraps = w.passband_wrapped;
  for (std::size_t b = 0; b < w.stopband_wrapped.size(); ++b) {
    row.attenuation_frequencies += w.stopband_frequencies[b];
    row.attenuation_wraps += w.stopband_wrapped[b];
  }
}

// The worker threads a run asks for, one per core when it names none.
unsigned threads_for(const report_request& options) noexcept {
  return fixfir::threads_for(options.threads);
}

// The report's filter, `taps` on `path`, and the engine's view of it.
outcome make_report_filter(std::span<const float> taps, const datapath& path,
                           precision_report& out) noexcept {
  result<fixed_filter> made = make_fixed_filter(taps, path);
  if (!made) return std::move(made).failure();
  out.fixed = std::move(made).value();
  return success();
}

// The waveform test's signal and the unquantized filter's output on it.
outcome waveform_reference(std::span<const float> taps, const report_request& options,
                           waveform_signal& signal, std::vector<double>& reference) {
  result<waveform_signal> made = make_waveform_signal(options.tones, threads_for(options));
  if (!made) return std::move(made).failure();
  signal = std::move(made).value();
  result<std::vector<double>> run = run_double_model(taps, signal.input);
  if (!run) return std::move(run).failure();
  reference = std::move(run).value();
  return success();
}

// The waveform test at fixfir's precision: its signal, the unquantized filter's output on
// it, the fixed-point run, the error split and its prediction.
outcome measure_precision_waveform(std::span<const float> taps, const report_request& options,
                                   precision_report& out) noexcept {
  try {
    if (outcome ready = waveform_reference(taps, options, out.signal, out.reference); !ready)
      return ready;
    // The fixed-point run takes every core, as fixfir's waveform test does.
    if (outcome run = measure_waveform(out.fixed, out.signal.input, out.reference, worker_count(),
                                       waveform_parts::split, out.waveform);
        !run)
      return run;
    return predicted_error_spectrum(out.fixed.coefficients, out.fixed.coefficient_scale,
                                    out.signal.input, SPECTRUM_SEGMENT, out.predicted_spectrum);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

// The sweep and the steady state of the report's filter, once its bands are set up: the
// responses, the sweep over the run service and the steady states at the band extremes,
// with where the accumulator and the samples overflowed (fixfir's precisions never
// saturate, and their samples never overflow).
outcome measure_sweep(std::span<const float> taps, const report_request& options,
                      precision_report& out) {
  const fixed_filter& f = out.fixed;
  const unsigned threads = threads_for(options);
  if (outcome figures = taps_figures(taps, out.bands, out.figures.taps); !figures) return figures;
  if (outcome figures = coefficient_figures(f.coefficients, f.coefficient_scale, out.bands.plan,
                                            out.coefficient_response, out.figures.coefficients);
      !figures)
    return figures;
  sweep_request ask;
  ask.taps = taps;
  ask.step = options.sweep_step;
  ask.threads = threads;
  ask.progress = options.progress;
  if (outcome swept = sweep_filters(std::span(&f, 1), ask, out.sweeps); !swept) return swept;
  const swept_precision& run = out.sweeps.runs[0];
  if (outcome steady = steady_figures(f, threads, out.coefficient_response, out.bands.plan,
                                      out.sweeps, run.steady, out.extremes, out.figures.steady);
      !steady)
    return steady;
  out.figures.steady_state = steady_state_reach(taps.size(), to_size(SWEEP_SAMPLES));
  out.figures.steady_absent = steady_absence(taps.size(), to_size(SWEEP_SAMPLES));
  out.figures.sweep = measure_plan(sweep_series_points(out.sweeps, run.peak), out.bands.plan);
  out.figures.sweep_wraps = measured_wraps(out.sweeps, run, nullptr, out.bands.plan);
  out.figures.steady_wraps = measured_wraps(out.sweeps, run, &out.extremes, out.bands.plan);
  out.figures.silent = silent_coefficients(f.coefficients);
  out.figures.saturating = f.path.accumulator_overflow == overflow_mode::saturate;
  out.figures.samples_saturating = f.path.sample.overflow == overflow_mode::saturate;
  out.figures.sweep_sample_overflows =
      measured_sample_overflows(out.sweeps, run, nullptr, out.bands.plan);
  out.figures.steady_sample_overflows =
      measured_sample_overflows(out.sweeps, run, &out.extremes, out.bands.plan);
  return success();
}

// The report on a datapath the user described, once its filter is made and its bands are
// set up: the sweep, then the waveform test's error three ways.
outcome measure_described_datapath(std::span<const float> taps, const report_request& options,
                                   precision_report& out) {
  if (outcome swept = measure_sweep(taps, options, out); !swept) return swept;
  if (outcome ready = waveform_reference(taps, options, out.signal, out.reference); !ready)
    return ready;
  datapath_budget& budget = out.asked.emplace<datapath_budget>();
  return measure_waveform(out.fixed, out.signal.input, out.reference, threads_for(options),
                          waveform_parts::budget, out.waveform, &budget);
}

// The report on a datapath the user described.
outcome run_datapath_report(std::span<const float> taps, const report_request& options,
                            const datapath& path, precision_report& out) {
  if (outcome made = make_report_filter(taps, path, out); !made) return made;
  out.tap_error = largest_tap_error(taps, out.fixed);
  if (outcome bands = setup_bands(taps, options.given, out.bands); !bands) return bands;
  try {
    return measure_described_datapath(taps, options, out);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

// One precision's row of the scan, from the sweep of every precision (`run` is `fixed`'s).
outcome scan_row(std::span<const float> taps, const report_request& options, const band_plan& plan,
                 const precision_sweeps& sweeps, const swept_precision& run,
                 const fixed_filter& fixed, const waveform_signal& signal,
                 std::span<const double> reference, precision_row& row) {
  row.precision = fixed.path.precision;
  dense_response response;
  band_figures_db coefficient;
  if (outcome figures = coefficient_figures(fixed.coefficients, fixed.coefficient_scale, plan,
                                            response, coefficient);
      !figures)
    return figures;
  waveform_figures waveform;
  if (outcome run_waveform = measure_waveform(fixed, signal.input, reference, worker_count(),
                                              waveform_parts::none, waveform);
      !run_waveform)
    return run_waveform;
  steady_points extremes;
  band_figures_db steady;
  if (outcome figures = steady_figures(fixed, threads_for(options), response, plan, sweeps,
                                       run.steady, extremes, steady);
      !figures)
    return figures;
  row.waveform_wraps = waveform.wraps;
  row.sweep_wraps = run.wraps;
  row.sweep_frequencies = static_cast<std::int32_t>(sweeps.frequency.size());
  row.wrap_free = wrap_bound_at(taps, row.precision).wrap_free;
  row.snr_db = waveform.snr_db;
  row.coefficient_ripple_db = coefficient.ripple_db;
  row.coefficient_attenuation_db = coefficient.worst_attenuation_db;
  row.fixed_ripple_db = steady.ripple_db;
  row.fixed_attenuation_db = steady.worst_attenuation_db;
  set_steady_wraps(row, measured_wraps(sweeps, run, &extremes, plan));
  row.steady = steady_state_reach(taps.size(), to_size(SWEEP_SAMPLES));
  row.silent = silent_coefficients(fixed.coefficients);
  return success();
}

// The scan once its bands are set up.
outcome measure_scan(std::span<const float> taps, const report_request& options,
                     const precision_targets& asked, scan_report& out) {
  if (outcome figures = taps_figures(taps, out.bands, out.taps_figures); !figures) return figures;
  out.targets = targets_with_defaults(asked, out.taps_figures.worst_attenuation_db,
                                      out.taps_figures.ripple_db);

  std::vector<std::int32_t> precisions;
  for (std::int32_t p = LOWEST_PRECISION; p <= HIGHEST_PRECISION; ++p) precisions.push_back(p);
  result<std::vector<fixed_filter>> filters = precision_filters(taps, precisions);
  if (!filters) return std::move(filters).failure();
  sweep_request ask;
  ask.taps = taps;
  ask.step = options.sweep_step;
  ask.threads = threads_for(options);
  ask.peaks = false;
  ask.progress = options.progress;
  precision_sweeps sweeps;
  if (outcome swept = sweep_filters(filters.value(), ask, sweeps); !swept) return swept;
  waveform_signal signal;
  std::vector<double> reference;
  if (outcome ready = waveform_reference(taps, options, signal, reference); !ready) return ready;
  out.rows.clear();
  for (std::size_t k = 0; k < sweeps.runs.size(); ++k) {
    precision_row row;
    if (outcome made = scan_row(taps, options, out.bands.plan, sweeps, sweeps.runs[k],
                                filters.value()[k], signal, reference, row);
        !made)
      return made;
    out.rows.push_back(row);
  }
  out.wrap_free_limit = sweeps.wrap_free_limit;
  out.steady_absent = steady_absence(taps.size(), to_size(SWEEP_SAMPLES));
  out.choice = recommend_precision(out.rows, out.targets);
  return success();
}

}  // namespace

outcome run_precision_report(std::span<const float> taps, const report_request& options,
                             precision_report& out) {
  if (options.path) return run_datapath_report(taps, options, *options.path, out);
  if (outcome made = make_report_filter(taps, precision_datapath(options.precision), out); !made)
    return made;
  out.tap_error = largest_tap_error(taps, out.fixed);
  // The waveform test needs neither the bands nor the sweep: it runs beside them, each on
  // its share of the threads (the sweep the larger), so that each one's serial stretches
  // overlap the other's parallel ones.
  const unsigned threads = threads_for(options);
  report_request waveform_options = options;
  waveform_options.threads = std::max(1U, threads / 2);
  report_request sweep_options = options;
  sweep_options.threads = threads;
  outcome waveform = success();
  outcome swept = success();
  const auto measure_swept = [&]() noexcept {
    try {
      swept = setup_bands(taps, options.given, out.bands);
      if (swept) swept = measure_sweep(taps, sweep_options, out);
    } catch (const std::bad_alloc&) {
      swept = out_of_memory_error();
    }
    return swept.ok();
  };
  const bool measured = run_beside(
      [&] { return (waveform = measure_precision_waveform(taps, waveform_options, out)).ok(); },
      measure_swept);
  // The sweep's own failure first (bad bands before all), then the waveform test's; a side
  // that never ran, as its thread could not be started after the sweep failed, has none.
  if (!swept) return swept;
  if (!waveform) return waveform;
  if (!measured) return stopped_run_error();
  precision_bounds& bounds = out.asked.emplace<precision_bounds>();
  bounds.bound = wrap_bound_at(taps, options.precision);
  bounds.wrap_free_limit = out.sweeps.wrap_free_limit;
  return success();
}

precision_row report_row(const precision_report& r) {
  precision_row row;
  const swept_precision& run = r.sweeps.runs.at(0);
  if (const auto* at = std::get_if<precision_bounds>(&r.asked)) {
    row.precision = at->bound.precision;
    row.wrap_free = at->bound.wrap_free;
  }
  row.waveform_wraps = r.waveform.wraps;
  row.sweep_wraps = run.wraps;
  row.sweep_frequencies = static_cast<std::int32_t>(r.sweeps.frequency.size());
  row.snr_db = r.waveform.snr_db;
  row.coefficient_ripple_db = r.figures.coefficients.ripple_db;
  row.coefficient_attenuation_db = r.figures.coefficients.worst_attenuation_db;
  row.fixed_ripple_db = r.figures.steady.ripple_db;
  row.fixed_attenuation_db = r.figures.steady.worst_attenuation_db;
  set_steady_wraps(row, r.figures.steady_wraps);
  row.steady = r.figures.steady_state;
  return row;
}

std::string report_verdict_line(const precision_report& r, const precision_targets& asked) {
  const precision_targets targets =
      targets_with_defaults(asked, r.figures.taps.worst_attenuation_db, r.figures.taps.ripple_db);
  return target_verdict_line(report_row(r), targets, r.figures.saturating);
}

outcome run_scan(std::span<const float> taps, const report_request& options,
                 const precision_targets& asked, scan_report& out) {
  if (outcome bands = setup_bands(taps, options.given, out.bands); !bands) return bands;
  try {
    return measure_scan(taps, options, asked, out);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
