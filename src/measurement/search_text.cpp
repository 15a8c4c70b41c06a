#include "fixfir/measurement/search_text.h"

#include <cmath>
#include <string>
#include <vector>

#include "fixfir/measurement/figure_text.h"
#include "fixfir/measurement/scan_text.h"
#include "fixfir/measurement/summary_text.h"

namespace fixfir {

std::string recommended_words(const datapath& d) { return datapath_words(d); }

namespace {

// The output stage's options, after the others; nothing without one.
std::string output_options(const datapath& d) {
  if (d.output.bits == 0) return {};
  return " --output-bits " + std::to_string(d.output.bits) + " --output-precision " +
         std::to_string(d.output.fraction_bits) + " --output-rounding " +
         output_rounding_option(d.output.rounding) + " --output-overflow " +
         overflow_option(d.output.overflow);
}

}  // namespace

std::string recommended_options(const datapath& d) {
  return "--coefficient-bits " + std::to_string(d.coefficient.bits) + " --coefficient-precision " +
         std::to_string(d.coefficient.fraction_bits) + " --sample-bits " +
         std::to_string(d.sample.bits) + " --sample-precision " +
         std::to_string(d.sample.fraction_bits) + " --accumulator-bits " +
         std::to_string(d.accumulator_bits) + " --rounding " +
         rounding_option(d.coefficient.rounding) + " --overflow " +
         overflow_option(d.accumulator_overflow) + output_options(d);
}

namespace {

// What a band plan lets be measured: attenuation needs a pass band (its level) and a stop
// band, ripple a pass band. A figure the plan cannot have is said in words, as the scan does.
struct band_words {
  const char* attenuation_absent = nullptr;  // "no stopband", "no passband", or null
  const char* ripple_absent = nullptr;
};

band_words absent_in(const band_plan& plan) {
  band_words w;
  if (plan.passbands.empty()) {
    w.attenuation_absent = "no passband";
    w.ripple_absent = "no passband";
  } else if (plan.stopbands.empty()) {
    w.attenuation_absent = "no stopband";
  }
  return w;
}

// "38.00 dB attenuation, 0.1964 dB ripple", leaving out what the plan cannot have.
std::string band_figures_text(const band_words& w, const candidate& k) {
  std::string text;
  if (w.attenuation_absent == nullptr)
    text = figure_text(figure_kind::level, k.attenuation_db) + " dB attenuation";
  if (w.ripple_absent == nullptr)
    text +=
        (text.empty() ? "" : ", ") + figure_text(figure_kind::ripple, k.ripple_db) + " dB ripple";
  return text;
}

// A measured SNR; NaN only where the filter and its reference are both silent (every tap 0).
std::string snr_text(double v) {
  return std::isnan(v) ? "silent" : figure_text(figure_kind::level, v);
}

std::string front_row(const band_words& w, const candidate& k, std::size_t taps) {
  const datapath& d = k.path;
  const std::string head = right_column(d.coefficient.bits, 10) + "  " +
                           left_column(rounding_words(d.coefficient.rounding), 11) + "  ";
  if (k.coefficients_only && k.coefficient_overflows > 0) {
    return head + ("none: " + std::to_string(k.coefficient_overflows) + " of " +
                   std::to_string(taps) + " taps do not fit the coefficient word, even at " +
                   std::to_string(d.coefficient.fraction_bits) + " fractional bits (saturated)");
  }
  const std::string figures = band_figures_text(w, k);
  if (k.coefficients_only) return head + ("none: the coefficients alone reach " + figures);
  if (!k.meets) {
    return head + ("none: at " + std::to_string(d.sample.bits) + " sample bits " + figures +
                   (figures.empty() ? "" : ", ") + "SNR " + snr_text(k.snr_db) +
                   (std::isnan(k.snr_db) ? "" : " dB") + (k.overflows > 0 ? ", overflows" : ""));
  }
  const std::string attenuation = w.attenuation_absent != nullptr
                                      ? std::string(w.attenuation_absent)
                                      : figure_text(figure_kind::level, k.attenuation_db);
  const std::string ripple = w.ripple_absent != nullptr
                                 ? std::string(w.ripple_absent)
                                 : figure_text(figure_kind::ripple, k.ripple_db);
  return head + right_column(d.sample.bits, 11) + "  " + right_column(d.accumulator_bits, 9) +
         "  " + right_column(attenuation, 11) + "  " + right_column(ripple, 11) + "  " +
         right_column(snr_text(k.snr_db), 8) + "  " + right_column(k.cost, 4);
}

std::string targets_line(const search_report& r) {
  // Without a fixed-point steady state the attenuation and ripple targets apply to the
  // quantized coefficients, and the line says why.
  const bool fixed = r.steady == steady_reach::measured;
  const std::string judged = fixed ? "" : "(quantized coefficients) ";
  const target_words words = target_words_of(r.targets, r.bands.plan);
  const bool snr_given = !std::isnan(r.targets.min_snr_db);
  return "targets: stopband attenuation " + judged + words.attenuation + ", passband ripple " +
         judged + words.ripple + ", SNR " + words.snr +
         (snr_given && r.snr_target_is_attenuation ? " (by default the attenuation target)" : "") +
         ", no overflows" + (fixed ? "" : "; the fixed-point steady state is " + r.steady_absent);
}

std::string best_reached_line(const band_words& w, const search_report& r) {
  bool any_run = false;
  for (const candidate& k : r.measured) any_run = any_run || !k.coefficients_only;
  if (!any_run) {
    return "best reached: no datapath was run, as every coefficient word searched misses a "
           "target by far alone or does not hold the taps";
  }
  std::string text = "best reached: ";
  if (w.attenuation_absent == nullptr)
    text +=
        "stopband attenuation " + figure_text(figure_kind::level, r.best_attenuation_db) + " dB, ";
  if (w.ripple_absent == nullptr)
    text += "passband ripple " + figure_text(figure_kind::ripple, r.best_ripple_db) + " dB, ";
  return text + "SNR " + figure_text(figure_kind::level, r.best_snr_db) + " dB";
}

}  // namespace

std::vector<std::string> search_lines(const search_report& r) {
  std::vector<std::string> lines;
  const band_words w = absent_in(r.bands.plan);
  lines.push_back(targets_line(r));
  lines.push_back(
      "front: for each coefficient word and rounding, the narrowest sample word that meets "
      "the targets");
  lines.push_back(
      "coef. bits  rounding     sample bits  acc. bits  atten. (dB)  ripple (dB)  SNR (dB)  "
      "cost");
  for (const candidate& k : r.front) lines.push_back(front_row(w, k, r.tap_count));
  if (r.recommended) {
    const datapath& best = r.front[*r.recommended].path;
    lines.push_back("recommended datapath: " + recommended_words(best));
    lines.push_back("options: " + recommended_options(best));
    lines.push_back("why: " + r.why);
  } else {
    lines.push_back("recommended datapath: none");
    lines.push_back("why: " + r.why);
    lines.push_back(best_reached_line(w, r));
  }
  return lines;
}

}  // namespace fixfir
