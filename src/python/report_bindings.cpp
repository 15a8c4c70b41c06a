// fixfir.report and fixfir.scan: the figures of fixfir-report, from its own computations,
// as plain Python data; and the questions every measuring call shares.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "array_io.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/summary_text.h"
#include "interrupts.h"
#include "python_bindings.h"
#include "record_dicts.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

// A target in dB: None or NaN for the default, else a finite number.
double target_argument(const bound_call& a, const char* name) {
  const py::handle given = argument(a, name);
  if (given.is_none()) return std::numeric_limits<double>::quiet_NaN();
  const double v = real_argument(given, name);
  if (std::isinf(v)) {
    raise_with(PyExc_ValueError, std::string(name) +
                                     " must be a finite number of dB, or None "
                                     "for the default target, not " +
                                     (v > 0 ? "inf" : "-inf"));
  }
  return v;
}

std::vector<band> bands_argument(const band_list& given, bool pass) {
  const char* const name = pass ? "passbands" : "stopbands";
  std::vector<band> out;
  if (!given) return out;
  for (const auto& [low, high] : *given) {
    const result<band> b = check_band(band{low, high});
    if (!b) {
      throw py::value_error(std::string(name) +
                            ": a band is (low, high) in hertz within 0 to 8000 with low below "
                            "high, not (" +
                            hertz_text(low) + ", " + hertz_text(high) + ")");
    }
    out.push_back(b.value());
  }
  // The command line's checks: the bands of one kind alone now, the two kinds together
  // once the inferred ones are known.
  const std::string problem = band_list_problem(out, pass);
  if (!problem.empty()) throw py::value_error(std::string(name) + ": " + problem);
  return out;
}

// The verdict on the report's figures, as fixfir-report's summary ends with it: the targets
// judged (the scan's defaults where not given), whether all are met, and each miss by how
// much; its line goes last in `lines`.
void put_verdict(py::dict& d, const precision_report& r, const precision_targets& asked,
                 std::vector<std::string>& lines) {
  const precision_targets judged =
      targets_with_defaults(asked, r.figures.taps.worst_attenuation_db, r.figures.taps.ripple_db);
  d["targets"] = targets_dict(judged);
  py::dict missed;
  for (const target_miss& m : target_misses(report_row(r), judged, r.figures.saturating))
    missed[py::str(m.target)] = m.by;
  d["targets_met"] = missed.empty();
  d["targets_missed"] = missed;
  lines.push_back(report_verdict_line(r, asked));
}

// What a report on a chosen datapath adds.
void put_datapath(py::dict& d, const precision_report& r) {
  d["datapath"] = datapath_words(r.fixed.path);
  d["tap_error"] = r.on_path.tap_error;
  d["coefficient_overflows"] = r.fixed.coefficient_overflows;
  d["sample_overflows"] = r.on_path.budget.sample_overflows;
  d["sweep_sample_overflows"] = r.on_path.sweep_sample_overflows;
  d["accumulator_bits_needed"] = r.on_path.accumulator_bits_needed;
  d["error_budget"] = budget_dict(r.on_path.budget);
}

py::dict report_dict(const precision_report& r, const report_request& o,
                     std::span<const float> taps, const precision_targets& asked) {
  py::dict d;
  d["precision"] = o.precision;
  put_bands(d, r.bands.plan);
  d["hardware"] = facts_dict(hardware_facts_of(taps));
  py::dict figures;
  figures["taps"] = figures_dict(r.figures.taps);
  figures["coefficients"] = figures_dict(r.figures.coefficients);
  figures["steady"] = figures_dict(r.figures.steady);
  figures["sweep"] = figures_dict(r.figures.sweep);
  d["figures"] = figures;
  // A filter too long for the sweep's run has no steady state: its figures and fits are NaN.
  d["steady_measured"] = r.figures.steady_state == steady_reach::measured;
  d["steady_reason"] = r.figures.steady_absent;
  const swept_precision& run = r.sweeps.runs.at(0);
  d["frequency"] = to_array(r.sweeps.frequency.data(), r.sweeps.frequency.size());
  d["peak"] = to_array(run.peak.data(), run.peak.size());
  d["steady"] = to_array(run.steady.data(), run.steady.size());
  // The steady state where it is worst (band edges, lobe tops), which its figures include.
  d["extreme_frequency"] = to_array(r.extremes.frequency.data(), r.extremes.frequency.size());
  d["extreme_steady"] = to_array(r.extremes.steady.data(), r.extremes.steady.size());
  d["extreme_wrapped"] =
      to_array(r.extremes.wrapped.data(), r.extremes.wrapped.size()).attr("astype")("bool");
  d["sweep_wrapped"] = to_array(run.wrapped.data(), run.wrapped.size()).attr("astype")("bool");
  d["sweep_wraps"] = run.wraps;
  d["waveform_wraps"] = r.waveform.wraps;
  d["snr_db"] = r.waveform.snr_db;
  d["error_split"] = split_dict(r.waveform.split);
  d["wrap_free_limit"] = py::cast(r.wrap_free_limit);
  // The bound is the 32-bit engine's at the precision; a chosen datapath has
  // accumulator_bits_needed instead.
  if (!r.on_path.measured) d["wrap_bound"] = bound_dict(r.bound);
  std::vector<std::string> lines = report_summary_lines(r, o, taps, "");
  if (!std::isnan(asked.min_attenuation_db) || !std::isnan(asked.max_ripple_db) ||
      !std::isnan(asked.min_snr_db))
    put_verdict(d, r, asked, lines);
  d["lines"] = lines;
  if (r.on_path.measured) put_datapath(d, r);
  return d;
}

}  // namespace

run_arguments run_argument(const bound_call& a) {
  return {integer_named(a, "initial"),
          integer_named(a, "step"),
          integer_named(a, "ending"),
          optional_integer(argument(a, "sweep_step"), "sweep_step"),
          band_argument(argument(a, "passbands"), "passbands"),
          band_argument(argument(a, "stopbands"), "stopbands"),
          {target_argument(a, "min_attenuation_db"), target_argument(a, "max_ripple_db"),
           target_argument(a, "min_snr_db")}};
}

report_request options_argument(long long precision, const run_arguments& q) {
  report_request o;
  o.precision = precision_argument(precision);
  o.tones = frequency_settings{int32_value(q.initial, "initial"), int32_value(q.step, "step"),
                               int32_value(q.ending, "ending")};
  if (o.tones.frequency_step == 0) throw py::value_error("step must not be 0");
  o.sweep_step = int32_value(q.sweep_step.value_or(q.step), "sweep_step");
  if (o.sweep_step < 1) {
    throw py::value_error("sweep_step must be at least 1, not " + std::to_string(o.sweep_step));
  }
  o.given.passbands = bands_argument(q.passbands, true);
  o.given.stopbands = bands_argument(q.stopbands, false);
  o.given.passbands_given = !o.given.passbands.empty();
  o.given.stopbands_given = !o.given.stopbands.empty();
  o.threads = worker_count();
  return o;
}

py::dict report(py::handle taps, long long precision, const run_arguments& q,
                const datapath_keywords& k) {
  const std::vector<float> t = taps_argument(taps);
  report_request o = options_argument(precision, q);
  const datapath_choices chosen = choices_argument(precision, k);
  if (datapath_options_given(chosen)) {
    result<datapath> d = datapath_from_choices(t, chosen);
    if (!d) raise(d.failure());
    o.path = d.value();
  }
  precision_report r;
  outcome done = success();
  interruptible([&] {
    done = run_precision_report(t, o, r);
    return true;
  });
  if (!done) raise(done.failure());
  return report_dict(r, o, t, q.targets);
}

py::dict scan(py::handle taps, const run_arguments& q) {
  const std::vector<float> t = taps_argument(taps);
  const report_request o = options_argument(0, q);
  scan_report r;
  outcome done = success();
  interruptible([&] {
    done = run_scan(t, o, q.targets, r);
    return true;
  });
  if (!done) raise(done.failure());
  py::dict d;
  put_bands(d, r.bands.plan);
  d["taps_figures"] = figures_dict(r.taps_figures);
  py::list rows;
  for (const precision_row& row : r.rows) rows.append(row_dict(row));
  d["rows"] = rows;
  d["targets"] = targets_dict(r.targets);
  // Without a steady state the attenuation and ripple targets apply to the coefficients.
  d["steady_measured"] = r.steady_absent.empty();
  d["steady_reason"] = r.steady_absent;
  d["recommended"] = none_if_negative(r.choice.precision);
  d["reason"] = r.choice.reason;
  d["wrap_free_limit"] = py::cast(r.wrap_free_limit);
  d["lines"] = scan_lines(r);
  return d;
}

}  // namespace fixfir::python
