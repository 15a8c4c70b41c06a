#include "fixfir/measurement/summary_text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/run_counts.h"
#include "fixfir/measurement/waveform_model.h"

namespace fixfir {

namespace {

std::string band_list(const std::vector<band>& bands, double rate) {
  if (bands.empty()) return "none";
  std::string text;
  for (const band& b : bands) text += (text.empty() ? "" : ", ") + band_text(b, rate);
  return text;
}

std::string ripple_text(double v) { return decibels_text(figure_kind::ripple, v); }

std::string attenuation_text(double v) { return decibels_text(figure_kind::level, v); }

// "accumulator wraps at K of the N frequencies measured", for `what` and `verb`.
std::string overflow_phrase(const char* what, const char* verb, std::int64_t overflowed,
                            std::int64_t frequencies) {
  return std::string(what) + " " + verb + " at " + std::to_string(overflowed) + " of the " +
         std::to_string(frequencies) + " frequencies measured";
}

// The note of a figure measured over the pass bands and the stop bands `from` to `to`
// (exclusive): at how many of those frequencies the accumulator overflowed (`accumulator`)
// and at how many a sample did (`samples`); "" when neither did anywhere.
std::string band_overflow_note(const band_wraps* accumulator, const band_wraps* samples,
                               std::size_t from, std::size_t to, const char* accumulator_verb,
                               const char* sample_verb) {
  std::string inside;
  auto add = [&](const band_wraps* w, const char* what, const char* verb) {
    if (w == nullptr) return;
    std::int64_t measured = w->passband_frequencies;
    std::int64_t overflowed = w->passband_wrapped;
    for (std::size_t b = from; b < to && b < w->stopband_wrapped.size(); ++b) {
      measured += w->stopband_frequencies[b];
      overflowed += w->stopband_wrapped[b];
    }
    if (overflowed == 0) return;
    inside += (inside.empty() ? "" : "; ") + overflow_phrase(what, verb, overflowed, measured);
  };
  add(accumulator, "accumulator", accumulator_verb);
  add(samples, "samples", sample_verb);
  return inside.empty() ? std::string() : " (" + inside + ")";
}

}  // namespace

std::string wrap_note(std::int64_t wraps, std::int64_t frequencies, const char* verb) {
  if (wraps == 0) return {};
  return " (" + overflow_phrase("accumulator", verb, wraps, frequencies) + ")";
}

std::vector<std::string> band_lines(const band_plan& plan) {
  return {std::string("passbands (") +
              (plan.passbands_given ? "given" : "inferred from the unquantized taps") +
              "): " + band_list(plan.passbands, plan.sample_rate),
          std::string("stopbands (") +
              (plan.stopbands_given ? "given" : "inferred from the unquantized taps") +
              "): " + band_list(plan.stopbands, plan.sample_rate)};
}

namespace {

// One of the four responses the lines report: its label, its figures, what a band must hold
// to be measured, and its overflow counts where it has them.
struct labelled {
  const char* label;
  const band_figures_db* figures;
  const char* point;
  const band_wraps* wraps;
  const band_wraps* sample_overflows;
};

// What the response lines are made from: the bands, the figures and the four responses.
struct response_view {
  const band_plan& plan;
  const response_figures& fig;
  labelled all[4];
};

response_view view_of(const band_plan& plan, const response_figures& fig) {
  return {plan,
          fig,
          {{"unquantized taps", &fig.taps, "measured frequency", nullptr, nullptr},
           {"quantized coefficients", &fig.coefficients, "measured frequency", nullptr, nullptr},
           {"fixed point, steady state", &fig.steady, "measured frequency", &fig.steady_wraps,
            &fig.steady_sample_overflows},
           {"sweep, transient included", &fig.sweep, "swept frequency", &fig.sweep_wraps,
            &fig.sweep_sample_overflows}}};
}

// A figure measured where the accumulator or the samples overflowed is the overflow's as
// much as the filter's: its line says at how many frequencies.
std::string note(const response_view& v, const labelled& l, std::size_t from, std::size_t to) {
  return band_overflow_note(l.wraps, l.sample_overflows, from, to,
                            v.fig.saturating ? "saturates" : "wraps",
                            v.fig.samples_saturating ? "saturate" : "wrap");
}

bool stop_measured(const band_figures_db& f, std::size_t b) {
  return b < f.stopbands_measured.size() && f.stopbands_measured[b] != 0;
}

// A band without a point leaves its figures NaN: say so in words.
std::string unmeasured(const response_view& v, const labelled& l, bool stop) {
  const band_figures_db& f = *l.figures;
  if (!f.passbands_measured) return std::string("none, no ") + l.point + " in the pass bands";
  for (std::size_t b = 0; stop && b < v.plan.stopbands.size(); ++b) {
    if (!stop_measured(f, b)) return std::string("none, no ") + l.point + " in a stop band";
  }
  return {};
}

// A steady state that was not measured says why in place of its figures.
bool steady_absent(const response_view& v, const labelled& l) {
  return v.fig.steady_state != steady_reach::measured && l.figures == &v.fig.steady;
}

// Coefficients that are all 0 give every response but the taps' no level in dB.
bool silenced(const response_view& v, const labelled& l, double x) {
  return v.fig.silent && std::isnan(x) && l.figures != &v.fig.taps;
}

// Why figure `x` of `l` is not given, or "" when it is.
std::string why_not(const response_view& v, const labelled& l, double x, bool stop) {
  if (steady_absent(v, l)) return v.fig.steady_absent;
  if (!std::isnan(x)) return {};
  const std::string none = unmeasured(v, l, stop);
  return none.empty() && silenced(v, l, x) ? std::string(silent_words) : none;
}

// With several stop bands, one line for each: its attenuation in the four responses.
std::vector<std::string> each_stopband_lines(const response_view& v) {
  std::vector<std::string> lines;
  for (std::size_t b = 0; v.plan.stopbands.size() > 1 && b < v.plan.stopbands.size(); ++b) {
    std::string line =
        "stopband " + band_text(v.plan.stopbands[b], v.plan.sample_rate) + " attenuation:";
    for (const labelled& l : v.all) {
      const double a = b < l.figures->attenuation_db.size() ? l.figures->attenuation_db[b] : NAN;
      const bool none =
          std::isnan(a) && (!l.figures->passbands_measured || !stop_measured(*l.figures, b));
      std::string inside = note(v, l, b, b + 1);
      if (!inside.empty()) inside = "; " + inside.substr(2, inside.size() - 3);  // the label's
      const std::string figure = steady_absent(v, l) ? steady_absence_word(v.fig.steady_state)
                                 : none              ? std::string("none")
                                 : silenced(v, l, a) ? std::string(silent_words)
                                                     : attenuation_text(a);
      line +=
          std::string(" ") + figure + " (" + l.label + inside + ")" + (&l == &v.all[3] ? "" : ",");
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

std::vector<std::string> response_lines(const band_plan& plan, const response_figures& fig) {
  const response_view v = view_of(plan, fig);
  const std::size_t stops = plan.stopbands.size();
  std::vector<std::string> lines;
  for (const labelled& l : v.all) {
    const double x = l.figures->ripple_db;
    const std::string why = why_not(v, l, x, false);
    lines.push_back(std::string("passband ripple (") + l.label + "): " +
                    (plan.passbands.empty() ? std::string("no passband")
                     : why.empty()          ? ripple_text(x) + note(v, l, 0, 0)
                                            : why));
  }
  for (const labelled& l : v.all) {
    const double x = l.figures->worst_attenuation_db;
    const std::string why = why_not(v, l, x, true);
    lines.push_back(std::string("stopband attenuation (") + l.label + "): " +
                    (plan.stopbands.empty() ? std::string("no stopband")
                     : why.empty()          ? attenuation_text(x) + note(v, l, 0, stops)
                                            : why));
  }
  for (std::string& line : each_stopband_lines(v)) lines.push_back(std::move(line));
  return lines;
}

std::string overflow_count_text(std::size_t overflows, std::size_t of, const char* what,
                                overflow_mode mode) {
  return std::to_string(overflows) + " of " + std::to_string(of) + " " + what +
         (overflows == 0
              ? std::string()
              : std::string(mode == overflow_mode::saturate ? " (saturated)" : " (wrapped)"));
}

std::string accumulator_overflow_label(const datapath& d) {
  return d.accumulator_overflow == overflow_mode::saturate ? "accumulator saturations"
                                                           : "accumulator wraps";
}

namespace {

std::vector<std::string> datapath_report_lines(const precision_report& r,
                                               const datapath_budget& b) {
  const datapath& d = r.fixed.path;
  std::vector<std::string> lines = band_lines(r.bands.plan);
  for (std::string& line : response_lines(r.bands.plan, r.figures)) lines.push_back(line);
  const swept_precision& run = r.sweeps.runs[0];
  const std::size_t swept = r.sweeps.frequency.size();
  lines.push_back(accumulator_overflow_label(d) + " (sweep): " + std::to_string(run.wraps) +
                  " of " + std::to_string(swept) + " frequencies");
  lines.push_back("sample overflows (sweep): " +
                  overflow_count_text(static_cast<std::size_t>(run.sample_overflows), swept,
                                      "frequencies", d.sample.overflow));
  lines.push_back("accumulator bits needed for no wrap with any input: " +
                  std::to_string(r.fixed.accumulator_bits_needed));
  lines.push_back("error from coefficient quantization (waveform test): " +
                  figure_text(figure_kind::level, b.coefficient_db) + " dB signal to error");
  lines.push_back("error from sample quantization (waveform test): " +
                  figure_text(figure_kind::level, b.sample_db) + " dB signal to error");
  lines.push_back(std::string("error from accumulator ") +
                  (d.accumulator_overflow == overflow_mode::saturate ? "saturation" : "overflow") +
                  " (waveform test): " + figure_text(figure_kind::level, b.accumulator_db) +
                  " dB signal to error");
  if (d.output.bits != 0) {
    lines.push_back("error from output quantization (waveform test): " +
                    figure_text(figure_kind::level, b.output_db) + " dB signal to error");
  }
  return lines;
}

std::vector<std::string> precision_lines(const precision_report& r, const precision_bounds& p) {
  std::vector<std::string> lines = band_lines(r.bands.plan);
  for (std::string& line : response_lines(r.bands.plan, r.figures)) lines.push_back(line);
  const swept_precision& run = r.sweeps.runs[0];
  lines.push_back("accumulator wraps (sweep): " + std::to_string(run.wraps) + " of " +
                  std::to_string(r.sweeps.frequency.size()) + " frequencies");
  lines.push_back("largest precision free of wraps for any input: " +
                  (p.wrap_free_limit ? std::to_string(*p.wrap_free_limit) : std::string("none")));
  // Of the coefficients the run uses: with all of them 0 (a scale of 0, or taps too large
  // or too small to quantize) the accumulator stays 0.
  const wrap_bound& bound = p.bound;
  lines.push_back("headroom at precision " + std::to_string(bound.precision) + ": " +
                  (bound.used_coefficient_sum == 0
                       ? std::string("unbounded (every coefficient is 0; nothing can wrap)")
                       : figure_text(figure_kind::level, bound.headroom_bits) + " bits" +
                             (bound.can_wrap ? " (some input can wrap the accumulator)" : "")));
  const error_split& e = r.waveform.split;
  lines.push_back("error from coefficient quantization (waveform test): " +
                  figure_text(figure_kind::level, e.coefficient_db) + " dB signal to error");
  lines.push_back("error from the arithmetic, signal truncation and wraps (waveform test): " +
                  figure_text(figure_kind::level, e.arithmetic_db) + " dB signal to error, " +
                  figure_text(figure_kind::level, e.predicted_arithmetic_db) +
                  " dB predicted by the truncation model");
  return lines;
}

}  // namespace

std::vector<std::string> precision_report_lines(const precision_report& r) {
  if (const auto* budget = std::get_if<datapath_budget>(&r.asked))
    return datapath_report_lines(r, *budget);
  return precision_lines(r, std::get<precision_bounds>(r.asked));
}

namespace {

// A gain as a plain factor and in dB of its magnitude: "1 (0.00 dB)", "0 (-inf dB)".
std::string gain_text(double gain, double db) {
  return figure_text("%.6g", gain) + " (" + decibels_text(figure_kind::level, db) + ")";
}

// "1 tap", "63 taps".
std::string counted(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<std::string> hardware_fact_lines(const hardware_facts& f, std::size_t taps,
                                             double rate) {
  const auto n = static_cast<std::int64_t>(taps);
  std::vector<std::string> lines;
  lines.push_back(std::string("symmetry (unquantized taps, compared bit for bit): ") +
                  symmetry_name(f.symmetry) + "; " +
                  (f.symmetry == tap_symmetry::none
                       ? counted(n, "multiplier", "multipliers") + ", one per tap"
                       : "folded, " + counted(f.multipliers, "multiplier", "multipliers") +
                             " for the " + counted(n, "tap", "taps")));
  lines.push_back(
      "group delay: " +
      (f.symmetry == tap_symmetry::none
           ? std::string("not constant: the taps are not symmetric")
           : figure_text("%.10g", f.group_delay_samples) +
                 (f.group_delay_samples == 1 ? " sample, " : " samples, ") +
                 figure_text("%.10g", seconds_at(f.group_delay_samples, rate) * 1000.0) +
                 " ms at " + rate_hertz_text(DEFAULT_SAMPLE_RATE, rate) + " Hz"));
  lines.push_back("gain at 0 Hz (DC): " + gain_text(f.dc_gain, f.dc_gain_db));
  lines.push_back("gain at " + rate_hertz_text(NYQUIST_HZ, rate) +
                  " Hz (half the sample rate): " + gain_text(f.nyquist_gain, f.nyquist_gain_db));
  lines.push_back("largest output for any input: " + figure_text("%.6g", f.abs_sum) +
                  " times the input's full scale (" +
                  (f.growth_bits > 0 ? counted(f.growth_bits, "bit", "bits") + " of growth"
                                     : std::string("no growth")) +
                  ")");
  return lines;
}

namespace {

// "waveform test: 79 tones from 100 Hz in steps of 50 Hz", or that the input is silent.
std::string waveform_line(const frequency_settings& s, double rate) {
  const std::int32_t tones = tone_count(s);
  return "waveform test: " +
         (tones > 0
              ? std::to_string(tones) + " tones from " + grid_text(s.initial_frequency, rate) +
                    " Hz in steps of " + grid_text(s.frequency_step, rate) + " Hz"
              : std::string("no tones, the input is silent"));
}

// The header's lines up to the hardware facts: at a precision, the taps and the precision;
// on a datapath the user described, the datapath first.
std::vector<std::string> header_lines(const precision_report& r, std::span<const float> taps,
                                      const std::string& source) {
  const bool described = std::holds_alternative<datapath_budget>(r.asked);
  std::vector<std::string> lines;
  if (described) lines.push_back("datapath: " + datapath_words(r.fixed.path));
  lines.push_back("taps: " + std::to_string(taps.size()) +
                  (source.empty() ? std::string() : " from " + source));
  if (!described) {
    lines.push_back("precision: " + std::to_string(r.fixed.path.precision) + " (scale " +
                    std::to_string(r.fixed.path.scale) + ")");
  }
  return lines;
}

// The waveform test's overflow lines: at a precision, its accumulator wraps; on a datapath
// the user described, its samples', accumulator's and output's overflows, as it overflows.
void waveform_overflow_lines(const precision_report& r, std::vector<std::string>& lines) {
  const std::size_t samples = r.signal.input.size();
  const datapath& d = r.fixed.path;
  const auto* b = std::get_if<datapath_budget>(&r.asked);
  if (b == nullptr) {
    lines.push_back("accumulator wraps (waveform test): " + std::to_string(r.waveform.wraps) +
                    " of " + std::to_string(samples) + " samples");
    return;
  }
  lines.push_back("sample overflows (waveform test): " +
                  overflow_count_text(b->sample_overflows, samples, "samples", d.sample.overflow));
  lines.push_back(accumulator_overflow_label(d) +
                  " (waveform test): " + std::to_string(b->accumulator_overflows) + " of " +
                  std::to_string(samples) + " samples");
  if (d.output.bits != 0) {
    lines.push_back("output overflows (waveform test): " + overflow_count_text(b->output_overflows,
                                                                               samples, "samples",
                                                                               d.output.overflow));
  }
}

}  // namespace

std::vector<std::string> report_summary_lines(const precision_report& r, const report_request& o,
                                              std::span<const float> taps,
                                              const std::string& source) {
  std::vector<std::string> lines = header_lines(r, taps, source);
  const double rate = r.bands.plan.sample_rate;
  for (std::string& line : hardware_fact_lines(hardware_facts_of(taps), taps.size(), rate))
    lines.push_back(std::move(line));
  lines.push_back("largest tap quantization error: " +
                  figure_text(figure_kind::tap_error, r.tap_error));
  if (std::holds_alternative<datapath_budget>(r.asked)) {
    lines.push_back("coefficient overflows: " +
                    overflow_count_text(r.fixed.coefficient_overflows, taps.size(), "taps",
                                        r.fixed.path.coefficient.overflow));
  }
  lines.push_back(waveform_line(o.tones, rate));
  waveform_overflow_lines(r, lines);
  lines.push_back(
      "output SNR (waveform test): " + figure_text(figure_kind::level, r.waveform.snr_db) + " dB");
  lines.push_back("sweep: " + std::to_string(r.sweeps.frequency.size()) + " frequencies from " +
                  grid_text(SWEEP_FIRST_FREQUENCY, rate) + " Hz in steps of " +
                  grid_text(o.sweep_step, rate) + " Hz");
  for (std::string& line : precision_report_lines(r)) lines.push_back(line);
  return lines;
}

}  // namespace fixfir
