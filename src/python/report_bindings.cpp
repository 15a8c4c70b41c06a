// The figures of fixfir-report, from its own computations, as plain Python data.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "array_io.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/datapath_waveform.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/summary_text.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/measurement/wrap_checks.h"
#include "interrupts.h"
#include "python_bindings.h"

namespace py = pybind11;

namespace fixfir::python {

void raise(const error& e, py::handle file) {
  switch (e.kind) {
    case error_kind::bad_input:
      raise_with(PyExc_ValueError, e.message);
    case error_kind::out_of_memory:
      throw std::bad_alloc();  // MemoryError
    case error_kind::cannot_write:
      break;
    case error_kind::interrupted:
    case error_kind::failed:
      raise_with(PyExc_RuntimeError, e.message);
  }
  // As open() raises it: OSError(errno, strerror, filename), which Python makes the
  // subclass the errno names (FileNotFoundError, PermissionError, ...).
  if (e.system_errno == 0) raise_with(PyExc_OSError, e.message);
  const py::str reason(std::strerror(e.system_errno));
  const py::object raised = file
                                ? py::handle(PyExc_OSError)(e.system_errno, reason, file)
                                : py::handle(PyExc_OSError)(e.system_errno, python_text(e.message));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr())), raised.ptr());
  throw py::error_already_set();
}

namespace {

using band_list = std::optional<std::vector<std::pair<double, double>>>;

py::tuple dense_arrays(const dense_response& r) {
  std::vector<double> f(r.magnitude.size());
  for (std::size_t k = 0; k < f.size(); ++k) f[k] = r.spacing * static_cast<double>(k);
  return py::make_tuple(to_array(f.data(), f.size()),
                        to_array(r.magnitude.data(), r.magnitude.size()));
}

py::tuple taps_dense(py::handle taps) {
  const std::vector<float> t = taps_argument(taps);
  dense_response r;
  const bool ok = interruptible([&] { return taps_response(t, r); });
  if (!ok) throw std::bad_alloc();
  return dense_arrays(r);
}

py::tuple coefficients_dense(py::handle taps, long long precision, const datapath_keywords& k) {
  dense_response r;
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    const double scale = std::ldexp(1.0, f->path.coefficient.fraction_bits);
    if (!interruptible([&] { return coefficients_response(f->coefficients, scale, r); }))
      throw std::bad_alloc();
    return dense_arrays(r);
  }
  const quantized_taps q = quantize_argument(taps, precision);
  const bool ok = interruptible([&] {
    return coefficients_response(q.fixed.coefficients, static_cast<double>(q.filter.scale), r);
  });
  if (!ok) throw std::bad_alloc();
  return dense_arrays(r);
}

double tap_error(py::handle taps, long long precision, const datapath_keywords& k) {
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k))
    return largest_datapath_tap_error(taps_argument(taps), *f);
  const quantized_taps q = quantize_argument(taps, precision);
  return largest_tap_error(q.taps, q.filter);
}

std::int64_t accumulator_wraps(py::handle taps, py::handle x, long long precision,
                               const datapath_keywords& k) {
  if (const std::optional<fixed_filter> f = chosen_filter(taps, precision, k)) {
    const std::vector<double> signal = signal_argument(x, "x");
    result<datapath_run> run = out_of_memory_error();
    interruptible([&] {
      run = run_datapath(*f, signal, worker_count());
      return true;
    });
    if (!run) raise(run.failure());
    return static_cast<std::int64_t>(run.value().accumulator_overflows);
  }
  const quantized_taps q = quantize_argument(taps, precision);
  const std::vector<double> signal = signal_argument(x, "x");
  std::optional<result<fixed_run>> run;
  interruptible([&] {
    run = run_fixed_model(q.filter, signal);
    return true;
  });
  if (!run->ok()) raise(run->failure());
  return run->value().wraps;
}

py::dict bound_dict(const wrap_bound& b) {
  py::dict d;
  d["precision"] = b.precision;
  d["coefficient_sum"] = b.coefficient_sum;
  d["wrap_free"] = b.wrap_free;
  d["used_coefficient_sum"] = b.used_coefficient_sum;
  d["can_wrap"] = b.can_wrap;
  d["headroom_bits"] = b.headroom_bits;
  return d;
}

py::dict bound_at(py::handle taps, long long precision) {
  const std::vector<float> t = taps_argument(taps);
  return bound_dict(wrap_bound_at(t, precision_argument(precision)));
}

std::optional<std::int32_t> wrap_free_limit(py::handle taps) {
  const std::int32_t p = largest_wrap_free_precision(taps_argument(taps));
  if (p < 0) return std::nullopt;
  return p;
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

science_options options_argument(long long precision, long long initial, long long step,
                                 long long ending, std::optional<long long> sweep_step,
                                 const band_list& passbands, const band_list& stopbands) {
  science_options o;
  o.precision = precision_argument(precision);
  o.tones = frequency_settings{int32_value(initial, "initial"), int32_value(step, "step"),
                               int32_value(ending, "ending")};
  if (o.tones.frequency_step == 0) throw py::value_error("step must not be 0");
  o.sweep_step = int32_value(sweep_step.value_or(step), "sweep_step");
  if (o.sweep_step < 1) {
    throw py::value_error("sweep_step must be at least 1, not " + std::to_string(o.sweep_step));
  }
  o.given.passbands = bands_argument(passbands, true);
  o.given.stopbands = bands_argument(stopbands, false);
  o.given.passbands_given = !o.given.passbands.empty();
  o.given.stopbands_given = !o.given.stopbands.empty();
  o.threads = worker_count();
  return o;
}

py::list band_tuples(const std::vector<band>& bands) {
  py::list out;
  for (const band& b : bands) out.append(py::make_tuple(b.low, b.high));
  return out;
}

void put_bands(py::dict& d, const band_plan& plan) {
  d["passbands"] = band_tuples(plan.passbands);
  d["stopbands"] = band_tuples(plan.stopbands);
  d["passbands_given"] = plan.passbands_given;
  d["stopbands_given"] = plan.stopbands_given;
}

py::dict figures_dict(const band_figures_db& f) {
  py::dict d;
  d["passband_max_db"] = f.passband_max_db;
  d["ripple_db"] = f.ripple_db;
  d["attenuation_db"] = f.attenuation_db;
  d["worst_attenuation_db"] = f.worst_attenuation_db;
  return d;
}

py::dict report(py::handle taps, long long precision, long long initial, long long step,
                long long ending, std::optional<long long> sweep_step, const band_list& passbands,
                const band_list& stopbands, const datapath_keywords& k, double min_attenuation_db,
                double max_ripple_db, double min_snr_db) {
  const std::vector<float> t = taps_argument(taps);
  science_options o =
      options_argument(precision, initial, step, ending, sweep_step, passbands, stopbands);
  const datapath_choices chosen = choices_argument(precision, k);
  if (datapath_options_given(chosen)) {
    result<datapath> d = datapath_from_choices(t, chosen);
    if (!d) throw py::value_error(keyword_names(d.failure().message));
    o.path = d.value();
  }
  precision_report r;
  outcome done = success();
  interruptible([&] {
    done = run_precision_report(t, o, r);
    return true;
  });
  if (!done) raise(done.failure());
  py::dict d;
  d["precision"] = o.precision;
  put_bands(d, r.bands.plan);
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
  py::dict split;
  split["coefficient_db"] = r.waveform.split.coefficient_db;
  split["arithmetic_db"] = r.waveform.split.arithmetic_db;
  split["predicted_arithmetic_db"] = r.waveform.split.predicted_arithmetic_db;
  d["error_split"] = split;
  d["wrap_free_limit"] =
      r.wrap_free_limit < 0 ? py::object(py::none()) : py::object(py::int_(r.wrap_free_limit));
  // The bound is the 32-bit engine's at the precision; a chosen datapath has
  // accumulator_bits_needed instead.
  if (!r.on_path.measured) d["wrap_bound"] = bound_dict(r.bound);
  std::vector<std::string> lines = report_summary_lines(r, o, t, "");
  // With a target, the verdict as fixfir-report's summary ends with it: the targets judged
  // (the scan's defaults where not given), whether all are met, and each miss by how much.
  const precision_targets asked{min_attenuation_db, max_ripple_db, min_snr_db};
  if (!std::isnan(min_attenuation_db) || !std::isnan(max_ripple_db) || !std::isnan(min_snr_db)) {
    const precision_targets judged =
        targets_with_defaults(asked, r.figures.taps.worst_attenuation_db, r.figures.taps.ripple_db);
    py::dict targets;
    targets["min_attenuation_db"] = judged.min_attenuation_db;
    targets["max_ripple_db"] = judged.max_ripple_db;
    targets["min_snr_db"] = judged.min_snr_db;
    d["targets"] = targets;
    py::dict missed;
    for (const target_miss& m : target_misses(report_row(r), judged, r.figures.saturating))
      missed[py::str(m.target)] = m.by;
    d["targets_met"] = missed.empty();
    d["targets_missed"] = missed;
    lines.push_back(report_verdict_line(r, asked));
  }
  d["lines"] = lines;
  if (r.on_path.measured) {
    const datapath_budget& b = r.on_path.budget;
    d["datapath"] = datapath_words(r.fixed.path);
    d["tap_error"] = r.on_path.tap_error;
    d["coefficient_overflows"] = r.fixed.coefficient_overflows;
    d["sample_overflows"] = b.sample_overflows;
    d["sweep_sample_overflows"] = r.on_path.sweep_sample_overflows;
    d["accumulator_bits_needed"] = r.on_path.accumulator_bits_needed;
    py::dict budget;
    budget["coefficient_db"] = b.coefficient_db;
    budget["sample_db"] = b.sample_db;
    budget["accumulator_db"] = b.accumulator_db;
    d["error_budget"] = budget;
  }
  return d;
}

py::dict row_dict(const precision_row& row) {
  py::dict d;
  d["precision"] = row.precision;
  d["waveform_wraps"] = row.waveform_wraps;
  d["sweep_wraps"] = row.sweep_wraps;
  d["sweep_frequencies"] = row.sweep_frequencies;
  d["wrap_free"] = row.wrap_free;
  d["snr_db"] = row.snr_db;
  d["coefficient_ripple_db"] = row.coefficient_ripple_db;
  d["coefficient_attenuation_db"] = row.coefficient_attenuation_db;
  d["fixed_ripple_db"] = row.fixed_ripple_db;
  d["fixed_attenuation_db"] = row.fixed_attenuation_db;
  return d;
}

py::dict scan(py::handle taps, long long initial, long long step, long long ending,
              std::optional<long long> sweep_step, double min_attenuation_db, double max_ripple_db,
              double min_snr_db, const band_list& passbands, const band_list& stopbands) {
  const std::vector<float> t = taps_argument(taps);
  const science_options o =
      options_argument(0, initial, step, ending, sweep_step, passbands, stopbands);
  const precision_targets asked{min_attenuation_db, max_ripple_db, min_snr_db};
  scan_report r;
  outcome done = success();
  interruptible([&] {
    done = run_scan(t, o, asked, r);
    return true;
  });
  if (!done) raise(done.failure());
  py::dict d;
  put_bands(d, r.bands.plan);
  d["taps_figures"] = figures_dict(r.taps_figures);
  py::list rows;
  for (const precision_row& row : r.rows) rows.append(row_dict(row));
  d["rows"] = rows;
  py::dict targets;
  targets["min_attenuation_db"] = r.targets.min_attenuation_db;
  targets["max_ripple_db"] = r.targets.max_ripple_db;
  targets["min_snr_db"] = r.targets.min_snr_db;
  d["targets"] = targets;
  // Without a steady state the attenuation and ripple targets apply to the coefficients.
  d["steady_measured"] = r.steady_absent.empty();
  d["steady_reason"] = r.steady_absent;
  d["recommended"] =
      r.choice.precision < 0 ? py::object(py::none()) : py::object(py::int_(r.choice.precision));
  d["reason"] = r.choice.reason;
  d["wrap_free_limit"] =
      r.wrap_free_limit < 0 ? py::object(py::none()) : py::object(py::int_(r.wrap_free_limit));
  d["lines"] = scan_lines(r);
  return d;
}

}  // namespace

py::dict explore(py::handle taps, long long initial, long long step, long long ending,
                 std::optional<long long> sweep_step, double min_attenuation_db,
                 double max_ripple_db, double min_snr_db, const band_list& passbands,
                 const band_list& stopbands, std::optional<long long> coefficient_bits,
                 std::optional<long long> sample_bits, std::optional<long long> accumulator_bits,
                 const std::optional<std::string>& rounding, const std::string& cost) {
  const std::vector<float> t = taps_argument(taps);
  const science_options o =
      options_argument(0, initial, step, ending, sweep_step, passbands, stopbands);
  const datapath_choices c =
      choices_argument(std::nullopt, {coefficient_bits, std::nullopt, sample_bits, std::nullopt,
                                      accumulator_bits, rounding, std::nullopt});
  if (cost != "multiplier" && cost != "bits")
    throw py::value_error("cost must be 'multiplier' or 'bits', not '" + cost + "'");
  if (c.rounding == rounding_mode::floor)
    throw py::value_error("rounding must be 'zero' or 'nearest' for explore, not 'floor'");
  const search_axes axes{c.coefficient_bits, c.sample_bits, c.accumulator_bits, c.rounding};
  const precision_targets asked{min_attenuation_db, max_ripple_db, min_snr_db};
  search_report r;
  outcome done = success();
  interruptible([&] {
    done = run_datapath_search(t, o, asked, axes,
                               cost == "bits" ? cost_model::bits : cost_model::multiplier, r);
    return true;
  });
  if (!done) raise(done.failure());
  const std::size_t n = r.front.size();
  std::vector<std::int32_t> wc(n), wx(n), fc(n), fx(n), acc(n);
  std::vector<double> attenuation(n), ripple(n), snr(n);
  std::vector<std::int64_t> costs(n);
  std::vector<std::uint8_t> meets(n);
  py::list roundings;
  for (std::size_t i = 0; i < n; ++i) {
    const candidate& k = r.front[i];
    wc[i] = k.path.coefficient.bits;
    fc[i] = k.path.coefficient.fraction_bits;
    wx[i] = k.coefficients_only ? -1 : k.path.sample.bits;
    fx[i] = k.coefficients_only ? -1 : k.path.sample.fraction_bits;
    acc[i] = k.coefficients_only ? -1 : k.path.accumulator_bits;
    attenuation[i] = k.attenuation_db;
    ripple[i] = k.ripple_db;
    snr[i] = k.snr_db;
    costs[i] = k.cost;
    meets[i] = k.meets ? 1 : 0;
    roundings.append(rounding_option(k.path.coefficient.rounding));
  }
  py::dict front;
  front["coefficient_bits"] = to_array(wc.data(), n);
  front["coefficient_precision"] = to_array(fc.data(), n);
  front["sample_bits"] = to_array(wx.data(), n);
  front["sample_precision"] = to_array(fx.data(), n);
  front["accumulator_bits"] = to_array(acc.data(), n);
  front["rounding"] = roundings;
  front["attenuation_db"] = to_array(attenuation.data(), n);
  front["ripple_db"] = to_array(ripple.data(), n);
  front["snr_db"] = to_array(snr.data(), n);
  front["cost"] = to_array(costs.data(), n);
  front["meets"] = to_array(meets.data(), n).attr("astype")("bool");
  py::dict d;
  put_bands(d, r.bands.plan);
  d["front"] = front;
  py::dict targets;
  targets["min_attenuation_db"] = r.targets.min_attenuation_db;
  targets["max_ripple_db"] = r.targets.max_ripple_db;
  targets["min_snr_db"] = r.targets.min_snr_db;
  d["targets"] = targets;
  if (r.recommended >= 0) {
    const datapath& p = r.front[static_cast<std::size_t>(r.recommended)].path;
    py::dict best;
    best["coefficient_bits"] = p.coefficient.bits;
    best["coefficient_precision"] = p.coefficient.fraction_bits;
    best["sample_bits"] = p.sample.bits;
    best["sample_precision"] = p.sample.fraction_bits;
    best["accumulator_bits"] = p.accumulator_bits;
    best["rounding"] = rounding_option(p.coefficient.rounding);
    best["overflow"] = overflow_option(p.sample.overflow);
    d["recommended"] = best;
  } else {
    d["recommended"] = py::none();
  }
  d["why"] = r.why;
  // Without a steady state the attenuation and ripple are the coefficients'.
  d["steady_measured"] = r.steady_absent.empty();
  d["steady_reason"] = r.steady_absent;
  d["lines"] = search_lines(r);
  return d;
}

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

std::optional<long long> sweep_step_argument(const bound_call& a) {
  return optional_integer(argument(a, "sweep_step"), "sweep_step");
}

long long integer_named(const bound_call& a, const char* name) {
  return integer_argument(argument(a, name), name);
}

}  // namespace

void bind_report(py::module_& m) {
  define(m, {"taps_response", {{"taps"}}, 1},
         "(frequency, magnitude): |H(f)| of the unquantized taps on the report's dense grid "
         "from 0 to 8000 Hz (float64).",
         [](const bound_call& a) { return taps_dense(argument(a, "taps")); });
  define(m, with_datapath_keywords({"coefficients_response", {{"taps"}, {"precision"}}, 2}),
         "(frequency, magnitude): |C(f)| / scale of the quantized coefficients in exact "
         "arithmetic, on the same grid as taps_response; with the datapath keywords, of that "
         "datapath's coefficient words (scale 2^F_c).",
         [](const bound_call& a) {
           return coefficients_dense(argument(a, "taps"), integer_named(a, "precision"),
                                     datapath_arguments(a));
         });
  define(m, with_datapath_keywords({"largest_tap_error", {{"taps"}, {"precision"}}, 2}),
         "The largest |tap - coefficient ÷ scale|, in the taps' units (with the datapath "
         "keywords, of that datapath's coefficient words).",
         [](const bound_call& a) {
           return tap_error(argument(a, "taps"), integer_named(a, "precision"),
                            datapath_arguments(a));
         });
  define(m, with_datapath_keywords({"accumulator_wraps", {{"taps"}, {"x"}, {"precision"}}, 3}),
         "How many samples of the fixed-point filter over x have a wrapped accumulator: an "
         "exact sum Σ c[j] · s[n - j] that differs from the 32-bit one. With the datapath "
         "keywords, how many exact sums did not fit that datapath's accumulator (wrapped or "
         "saturated).",
         [](const bound_call& a) {
           return accumulator_wraps(argument(a, "taps"), argument(a, "x"),
                                    integer_named(a, "precision"), datapath_arguments(a));
         });
  define(m, {"wrap_bound", {{"taps"}, {"precision"}}, 2},
         "The worst case of the accumulator for any input with |x| ≤ 1: a dict of "
         "precision, coefficient_sum (Σ |c|), wrap_free, used_coefficient_sum (Σ |c| of the "
         "coefficients the filter uses), can_wrap and headroom_bits (inf when those are all 0).",
         [](const bound_call& a) {
           return bound_at(argument(a, "taps"), integer_named(a, "precision"));
         });
  define(m, {"largest_wrap_free_precision", {{"taps"}}, 1},
         "The largest precision at which no input with |x| ≤ 1 can wrap, or None.",
         [](const bound_call& a) { return wrap_free_limit(argument(a, "taps")); });
  signature report_s = with_datapath_keywords({"report",
                                               {{"taps"},
                                                {"precision"},
                                                {"initial"},
                                                {"step"},
                                                {"ending"},
                                                {"sweep_step", "None"},
                                                {"passbands", "None"},
                                                {"stopbands", "None"}},
                                               8});
  for (const char* name : {"min_attenuation_db", "max_ripple_db", "min_snr_db"})
    report_s.parameters.push_back({name, "None"});
  define(m, report_s,
         "fixfir-report's figures at one precision as a dict: the bands (given as lists of "
         "(low, high) in Hz, else inferred), the ripple and attenuation of the four "
         "responses (figures: taps, coefficients, steady, sweep), the sweep's frequency, "
         "peak and steady arrays and its wraps, the steady state at the band edges and lobe "
         "tops (extreme_frequency, extreme_steady, extreme_wrapped), steady_measured and "
         "steady_reason (why the steady state is NaN for a filter too long for the sweep's run), "
         "the waveform test's wraps, SNR and error_split, the wrap bound, and the summary lines "
         "as fixfir-report prints them (the first says \"taps: N\"). sweep_step defaults to "
         "step. The datapath keywords (as fixfir.export's) measure every figure on that "
         "datapath instead, and add datapath, tap_error, coefficient_overflows, "
         "sample_overflows, sweep_sample_overflows, accumulator_bits_needed and error_budget "
         "(coefficient_db, sample_db, accumulator_db), in place of wrap_bound. A target keyword "
         "(as fixfir.scan's) adds the verdict: targets (those judged, the scan's defaults where "
         "not given), targets_met, and targets_missed (keyword or where it wrapped: how far "
         "short in dB, or how many wrapped), and the verdict's line.",
         [](const bound_call& a) {
           return report(argument(a, "taps"), integer_named(a, "precision"),
                         integer_named(a, "initial"), integer_named(a, "step"),
                         integer_named(a, "ending"), sweep_step_argument(a),
                         band_argument(argument(a, "passbands"), "passbands"),
                         band_argument(argument(a, "stopbands"), "stopbands"),
                         datapath_arguments(a), target_argument(a, "min_attenuation_db"),
                         target_argument(a, "max_ripple_db"), target_argument(a, "min_snr_db"));
         });
  const std::vector<parameter> scan_parameters = {{"taps"},
                                                  {"initial"},
                                                  {"step"},
                                                  {"ending"},
                                                  {"sweep_step", "None"},
                                                  {"min_attenuation_db", "None"},
                                                  {"max_ripple_db", "None"},
                                                  {"min_snr_db", "None"},
                                                  {"passbands", "None"},
                                                  {"stopbands", "None"}};
  signature explore_s{"explore", scan_parameters, 10};
  for (const char* name : {"coefficient_bits", "sample_bits", "accumulator_bits", "rounding"})
    explore_s.parameters.push_back({name, "None"});
  explore_s.parameters.push_back({"cost", "'multiplier'"});
  define(m, explore_s,
         "fixfir-report --explore as a dict: the front (arrays per coefficient word and rounding: "
         "coefficient_bits, coefficient_precision, sample_bits, sample_precision and "
         "accumulator_bits, -1 where the coefficients alone miss a target, rounding, "
         "attenuation_db, ripple_db, snr_db, cost, meets), the targets (for None or NaN the "
         "scan's defaults, and the attenuation target for the SNR; a target must be finite), "
         "recommended (the datapath's keywords, for fixfir.report and fixfir.export, or None), "
         "why, steady_measured and steady_reason (without a steady state the attenuation and "
         "ripple are the coefficients'), the bands and the lines. The given word, accumulator "
         "or rounding ('zero' or 'nearest') keywords fix that axis.",
         [](const bound_call& a) {
           const std::optional<std::string> cost = optional_text(argument(a, "cost"), "cost");
           return explore(argument(a, "taps"), integer_named(a, "initial"),
                          integer_named(a, "step"), integer_named(a, "ending"),
                          sweep_step_argument(a), target_argument(a, "min_attenuation_db"),
                          target_argument(a, "max_ripple_db"), target_argument(a, "min_snr_db"),
                          band_argument(argument(a, "passbands"), "passbands"),
                          band_argument(argument(a, "stopbands"), "stopbands"),
                          optional_integer(argument(a, "coefficient_bits"), "coefficient_bits"),
                          optional_integer(argument(a, "sample_bits"), "sample_bits"),
                          optional_integer(argument(a, "accumulator_bits"), "accumulator_bits"),
                          optional_text(argument(a, "rounding"), "rounding"),
                          cost.value_or("multiplier"));
         });
  define(m, {"scan", scan_parameters, 10},
         "fixfir-report's precision scan, 0 to 30, as a dict: rows (one dict per "
         "precision), targets (None or NaN ones default to the unquantized attenuation less "
         "1 dB and ripple plus 0.1 dB, no SNR target; a target must be finite), recommended (a "
         "precision or None), reason, steady_measured and steady_reason (without a steady state "
         "the fixed figures are NaN and the targets apply to the coefficients' figures), the "
         "bands, wrap_free_limit and the scan's lines.",
         [](const bound_call& a) {
           return scan(argument(a, "taps"), integer_named(a, "initial"), integer_named(a, "step"),
                       integer_named(a, "ending"), sweep_step_argument(a),
                       target_argument(a, "min_attenuation_db"),
                       target_argument(a, "max_ripple_db"), target_argument(a, "min_snr_db"),
                       band_argument(argument(a, "passbands"), "passbands"),
                       band_argument(argument(a, "stopbands"), "stopbands"));
         });
}

}  // namespace fixfir::python
