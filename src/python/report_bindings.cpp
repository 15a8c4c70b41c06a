// fixfir.report and fixfir.scan: the figures of fixfir-report, from its own computations,
// as plain Python data; and the questions every measuring call shares.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "array_io.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/sample_rate.h"
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
  if (v < 0) raise_with(PyExc_ValueError, std::string(name) + " must be 0 dB or more");
  return v;
}

std::vector<band> bands_argument(const band_list& given, bool pass, double rate) {
  const char* const name = pass ? "passbands" : "stopbands";
  std::vector<band> out;
  if (!given) return out;
  for (const auto& [low, high] : *given) {
    const result<band> b = check_band(band{internal_hertz(low, rate), internal_hertz(high, rate)});
    if (!b) {
      throw py::value_error(std::string(name) + ": a band is (low, high) in hertz within 0 to " +
                            rate_hertz_text(NYQUIST_HZ, rate) + " with low below high, not (" +
                            hertz_text(low) + ", " + hertz_text(high) + ")");
    }
    out.push_back(b.value());
  }
  // The command line's checks: the bands of one kind alone now, the two kinds together
  // once the inferred ones are known.
  const std::string problem = band_list_problem(out, pass, rate);
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

// What a report on a datapath the user described adds.
void put_datapath(py::dict& d, const precision_report& r, const datapath_budget& b) {
  d["datapath"] = datapath_words(r.fixed.path);
  d["tap_error"] = r.tap_error;
  d["coefficient_overflows"] = r.fixed.coefficient_overflows;
  d["sample_overflows"] = b.sample_overflows;
  d["sweep_sample_overflows"] = r.sweeps.runs.at(0).sample_overflows;
  d["accumulator_bits_needed"] = r.fixed.accumulator_bits_needed;
  d["error_budget"] = budget_dict(b);
  if (r.fixed.path.output.bits != 0) {  // measured at the output word
    d["output_overflows"] = b.output_overflows;
    py::dict budget = d["error_budget"];
    budget["output_db"] = b.output_db;
  }
}

// Frequencies in hertz at `rate`; at the default rate the array as it is (int32 for the
// sweep's), elsewhere float64.
template <class T>
py::object frequency_array(const std::vector<T>& f, double rate) {
  if (rate == DEFAULT_SAMPLE_RATE) return to_array(f.data(), f.size());
  std::vector<double> at(f.size());
  for (std::size_t i = 0; i < f.size(); ++i) at[i] = hertz_at(static_cast<double>(f[i]), rate);
  return to_array(at.data(), at.size());
}

py::dict report_dict(const precision_report& r, const report_request& o,
                     std::span<const float> taps, const precision_targets& asked) {
  py::dict d;
  d["precision"] = o.precision;
  put_bands(d, r.bands.plan);
  const double rate = r.bands.plan.sample_rate;
  d["hardware"] = facts_dict(hardware_facts_of(taps), rate);
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
  d["frequency"] = frequency_array(r.sweeps.frequency, rate);
  d["peak"] = to_array(run.peak.data(), run.peak.size());
  d["steady"] = to_array(run.steady.data(), run.steady.size());
  // The steady state where it is worst (band edges, lobe tops), which its figures include.
  d["extreme_frequency"] = frequency_array(r.extremes.frequency, rate);
  d["extreme_steady"] = to_array(r.extremes.steady.data(), r.extremes.steady.size());
  d["extreme_wrapped"] =
      to_array(r.extremes.wrapped.data(), r.extremes.wrapped.size()).attr("astype")("bool");
  d["sweep_wrapped"] = to_array(run.wrapped.data(), run.wrapped.size()).attr("astype")("bool");
  d["sweep_wraps"] = run.wraps;
  d["waveform_wraps"] = r.waveform.wraps;
  d["snr_db"] = r.waveform.snr_db;
  d["error_split"] = split_dict(r.waveform.split);
  // The bound is the 32-bit engine's at the precision; a datapath the user described has
  // accumulator_bits_needed instead, and a wrap-free limit of -1, as it always had.
  const auto* at = std::get_if<precision_bounds>(&r.asked);
  d["wrap_free_limit"] = at != nullptr ? py::cast(at->wrap_free_limit) : py::int_(-1);
  if (at != nullptr) d["wrap_bound"] = bound_dict(at->bound);
  std::vector<std::string> lines = report_summary_lines(r, o, taps, "");
  if (!std::isnan(asked.min_attenuation_db) || !std::isnan(asked.max_ripple_db) ||
      !std::isnan(asked.min_snr_db))
    put_verdict(d, r, asked, lines);
  d["lines"] = lines;
  if (const auto* budget = std::get_if<datapath_budget>(&r.asked)) put_datapath(d, r, *budget);
  return d;
}

// sample_rate: None for the default, else a number of hertz in the range a rate may take.
double rate_argument(const bound_call& a) {
  const py::handle given = argument(a, "sample_rate");
  if (given.is_none()) return DEFAULT_SAMPLE_RATE;
  const double rate = real_argument(given, "sample_rate");
  if (!good_sample_rate(rate)) {
    throw py::value_error(std::string("sample_rate: ") + hertz_text(rate) + " Hz is " +
                          SAMPLE_RATE_WORDS);
  }
  return rate;
}

// A tone or step given in hertz at a rate other than the default, as whole internal hertz.
std::int32_t grid_argument(double hz, double rate, const char* name) {
  const std::optional<std::int32_t> on_grid = grid_hertz(hz, rate);
  if (!on_grid) throw py::value_error(std::string(name) + ": " + grid_problem(hz, rate));
  return *on_grid;
}

// The tones and the sweep's step of `q` as whole internal hertz.
void put_frequencies(const run_arguments& q, report_request& o) {
  const double rate = q.sample_rate;
  if (rate == DEFAULT_SAMPLE_RATE) {
    o.tones = frequency_settings{int32_value(q.initial, "initial"), int32_value(q.step, "step"),
                                 int32_value(q.ending, "ending")};
  } else {
    o.tones = frequency_settings{grid_argument(q.tones_hz[0], rate, "initial"),
                                 grid_argument(q.tones_hz[1], rate, "step"),
                                 grid_argument(q.tones_hz[2], rate, "ending")};
  }
  if (o.tones.frequency_step == 0) throw py::value_error("step must not be 0");
  check_tone_count(o.tones);
  if (rate == DEFAULT_SAMPLE_RATE)
    o.sweep_step = int32_value(q.sweep_step.value_or(q.step), "sweep_step");
  else
    o.sweep_step = grid_argument(q.sweep_step_hz.value_or(q.tones_hz[1]), rate, "sweep_step");
  if (o.sweep_step < 1) {
    throw py::value_error("sweep_step must be at least " + grid_text(1, rate) + ", not " +
                          grid_text(o.sweep_step, rate));
  }
}

}  // namespace

run_arguments run_argument(const bound_call& a) {
  run_arguments q;
  q.sample_rate = rate_argument(a);
  if (q.sample_rate == DEFAULT_SAMPLE_RATE) {
    q.initial = integer_named(a, "initial");
    q.step = integer_named(a, "step");
    q.ending = integer_named(a, "ending");
    q.sweep_step = optional_integer(argument(a, "sweep_step"), "sweep_step");
  } else {
    const char* const tones[3] = {"initial", "step", "ending"};
    for (std::size_t k = 0; k < 3; ++k)
      q.tones_hz[k] = real_argument(argument(a, tones[k]), tones[k]);
    const py::handle sweep_step = argument(a, "sweep_step");
    if (!sweep_step.is_none()) q.sweep_step_hz = real_argument(sweep_step, "sweep_step");
  }
  q.passbands = band_argument(argument(a, "passbands"), "passbands");
  q.stopbands = band_argument(argument(a, "stopbands"), "stopbands");
  q.targets = {target_argument(a, "min_attenuation_db"), target_argument(a, "max_ripple_db"),
               target_argument(a, "min_snr_db")};
  return q;
}

report_request options_argument(long long precision, const run_arguments& q) {
  report_request o;
  o.precision = precision_argument(precision);
  put_frequencies(q, o);
  o.given.sample_rate = q.sample_rate;
  o.given.passbands = bands_argument(q.passbands, true, q.sample_rate);
  o.given.stopbands = bands_argument(q.stopbands, false, q.sample_rate);
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
  d["recommended"] = py::cast(r.choice.precision);
  d["reason"] = r.choice.reason;
  d["wrap_free_limit"] = py::cast(r.wrap_free_limit);
  d["lines"] = scan_lines(r);
  return d;
}

}  // namespace fixfir::python
