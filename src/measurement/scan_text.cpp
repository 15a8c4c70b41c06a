#include "fixfir/measurement/scan_text.h"

#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "fixfir/measurement/figure_text.h"
#include "fixfir/measurement/summary_text.h"

namespace fixfir {

namespace {

// "precision 0", "precisions 0 to 12" or "precisions 0, 3 to 5": the rows whose every
// coefficient is 0; "" when there are none.
std::string silent_precisions(std::span<const precision_row> rows) {
  std::string text;
  std::size_t count = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].silent || (i > 0 && rows[i - 1].silent)) continue;
    std::size_t end = i;
    while (end + 1 < rows.size() && rows[end + 1].silent) ++end;
    text += (text.empty() ? "" : ", ") + std::to_string(rows[i].precision);
    if (end > i) text += " to " + std::to_string(rows[end].precision);
    count += end - i + 1;
  }
  if (count == 0) return {};
  return (count == 1 ? "precision " : "precisions ") + text;
}

}  // namespace

std::vector<std::string> scan_table(std::span<const precision_row> rows) {
  std::vector<std::string> lines;
  lines.push_back(
      "precision  wraps (waveform)  wraps (sweep)  wrap-free  SNR (dB)  "
      "ripple coef. (dB)  atten. coef. (dB)  ripple fixed (dB)  atten. fixed (dB)");
  for (const precision_row& r : rows) {
    const bool fixed = r.steady == steady_reach::measured;
    const std::string absent = steady_absence_word(r.steady);
    // Coefficients that are all 0 have no level in dB: the line after the table says why.
    auto level = [&r](figure_kind kind, double v) {
      return right_column(r.silent && std::isnan(v) ? std::string("silent") : figure_text(kind, v),
                          17);
    };
    const std::string absent_column = right_column(absent, 17);
    lines.push_back(right_column(r.precision, 9) + "  " + right_column(r.waveform_wraps, 16) +
                    "  " + right_column(r.sweep_wraps, 13) + "  " +
                    right_column(r.wrap_free ? "yes" : "no", 9) + "  " +
                    right_column(figure_text(figure_kind::level, r.snr_db), 8) + "  " +
                    level(figure_kind::ripple, r.coefficient_ripple_db) + "  " +
                    level(figure_kind::level, r.coefficient_attenuation_db) + "  " +
                    (fixed ? level(figure_kind::ripple, r.fixed_ripple_db) : absent_column) + "  " +
                    (fixed ? level(figure_kind::level, r.fixed_attenuation_db) : absent_column));
  }
  return lines;
}

target_words target_words_of(const precision_targets& t, const band_plan& plan) {
  // A target the unquantized taps could not give (no band to measure) says why.
  const char* const attenuation_unset = plan.passbands.empty()   ? "any (no passband)"
                                        : plan.stopbands.empty() ? "any (no stopband)"
                                                                 : "any (not measurable)";
  const char* const ripple_unset =
      plan.passbands.empty() ? "any (no passband)" : "any (not measurable)";
  auto words = [](double target, const char* bound, figure_kind kind, const char* unset) {
    return std::isnan(target) ? std::string(unset) : bound + decibels_text(kind, target);
  };
  return {words(t.min_attenuation_db, "at least ", figure_kind::level, attenuation_unset),
          words(t.max_ripple_db, "at most ", figure_kind::ripple, ripple_unset),
          words(t.min_snr_db, "at least ", figure_kind::level, "any")};
}

std::vector<std::string> scan_lines(const scan_report& r) {
  std::vector<std::string> lines;
  lines.push_back("scan: every precision from 0 to 30");
  // Without a fixed-point steady state the attenuation and ripple targets apply to the
  // quantized coefficients, and the line says why.
  const bool fixed = r.steady_absent.empty();
  const target_words words = target_words_of(r.targets, r.bands.plan);
  lines.push_back(std::string("targets: stopband attenuation (") +
                  (fixed ? "fixed point, steady state" : "quantized coefficients") + ") " +
                  words.attenuation + ", passband ripple " +
                  (fixed ? "" : "(quantized coefficients) ") + words.ripple + ", SNR " + words.snr +
                  ", no wraps" +
                  (fixed ? "" : "; the fixed-point steady state is " + r.steady_absent));
  for (std::string& line : band_lines(r.bands.plan)) lines.push_back(line);
  lines.push_back("passband ripple (unquantized taps): " +
                  decibels_text(figure_kind::ripple, r.taps_figures.ripple_db));
  lines.push_back("stopband attenuation (unquantized taps): " +
                  (r.bands.plan.stopbands.empty()
                       ? std::string("no stopband")
                       : decibels_text(figure_kind::level, r.taps_figures.worst_attenuation_db)));
  for (std::string& line : scan_table(r.rows)) lines.push_back(line);
  if (std::string silent = silent_precisions(r.rows); !silent.empty())
    lines.push_back(std::string(silent_words) + ": " + silent);
  lines.push_back("largest precision free of wraps for any input: " +
                  (r.wrap_free_limit ? std::to_string(*r.wrap_free_limit) : std::string("none")));
  lines.push_back("recommended precision: " +
                  (r.choice.precision ? std::to_string(*r.choice.precision) : std::string("none")));
  lines.push_back("why: " + r.choice.reason);
  return lines;
}

}  // namespace fixfir
