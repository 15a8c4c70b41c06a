#include "fixfir/measurement/recommendation.h"

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

#include "fixfir/measurement/summary_text.h"

namespace fixfir {

namespace {

std::string decibels(double v, figure_kind kind = figure_kind::level) {
  return decibels_text(kind, v);
}

// The attenuation and ripple a row is judged on: its steady state's, or its quantized
// coefficients' where the steady state was not measured.
bool steady_measured(const precision_row& row) noexcept {
  return row.steady == steady_reach::measured;
}
double judged_attenuation(const precision_row& row) noexcept {
  return steady_measured(row) ? row.fixed_attenuation_db : row.coefficient_attenuation_db;
}
double judged_ripple(const precision_row& row) noexcept {
  return steady_measured(row) ? row.fixed_ripple_db : row.coefficient_ripple_db;
}

// What keeps `row` from being chosen, "" when nothing does.
std::string shortfalls(const precision_row& row, const precision_targets& t) {
  std::string why;
  for (const target_miss& m : target_misses(row, t))
    why += (why.empty() ? "" : ", ") + m.text + m.note;
  return why;
}

// Whether `row` wrapped anywhere: the waveform test, the sweep or the steady state's fits.
bool wraps_anywhere(const precision_row& row) noexcept {
  return row.waveform_wraps > 0 || row.sweep_wraps > 0 ||
         (steady_measured(row) && row.attenuation_wraps > 0);
}

// The targets that no row without wraps reaches on its own, each with the best reached
// and where ("attenuation >= 89.15 dB (at best 66.10 dB, at 15)"); "" when each is reached
// somewhere.
std::string unreached_targets(std::span<const precision_row> rows, const precision_targets& t) {
  struct target_check {
    double target;
    bool higher_is_better;
    double (*figure)(const precision_row&);
    const char* name;
    const char* operation;
    figure_kind format;
  };
  const target_check checks[] = {
      {t.min_attenuation_db, true, judged_attenuation, "attenuation", " >= ", figure_kind::level},
      {t.max_ripple_db, false, judged_ripple, "ripple", " <= ", figure_kind::ripple},
      {t.min_snr_db, true, [](const precision_row& r) { return r.snr_db; }, "SNR",
       " >= ", figure_kind::level}};
  std::string text;
  for (const target_check& c : checks) {
    if (std::isnan(c.target)) continue;
    const precision_row* best = nullptr;
    bool reached = false;
    for (const precision_row& row : rows) {
      const double v = c.figure(row);
      if (wraps_anywhere(row) || std::isnan(v)) continue;
      reached = reached || (c.higher_is_better ? v >= c.target : v <= c.target);
      if (best == nullptr || (c.higher_is_better ? v > c.figure(*best) : v < c.figure(*best)))
        best = &row;
    }
    if (reached) continue;
    text += (text.empty() ? "" : ", ") + std::string(c.name) + c.operation +
            decibels(c.target, c.format) +
            (best == nullptr ? std::string(" (never measured without wraps)")
                             : " (at best " + decibels(c.figure(*best), c.format) + ", at " +
                                   std::to_string(best->precision) + ")");
  }
  return text;
}

std::string targets_text(const precision_targets& t, steady_reach reach) {
  std::string text;
  auto add = [&text](const std::string& s) { text += (text.empty() ? "" : ", ") + s; };
  if (!std::isnan(t.min_attenuation_db)) add("attenuation >= " + decibels(t.min_attenuation_db));
  if (!std::isnan(t.max_ripple_db))
    add("ripple <= " + decibels(t.max_ripple_db, figure_kind::ripple));
  if (!text.empty() && reach != steady_reach::measured) {
    text += std::string(" of the quantized coefficients (the fixed-point steady state is ") +
            steady_absence_word(reach) + ")";
  }
  if (!std::isnan(t.min_snr_db)) add("SNR >= " + decibels(t.min_snr_db));
  add("no wrap");
  return text;
}

}  // namespace

precision_targets targets_with_defaults(const precision_targets& asked, double taps_attenuation_db,
                                        double taps_ripple_db) noexcept {
  precision_targets t = asked;
  if (std::isnan(t.min_attenuation_db)) t.min_attenuation_db = taps_attenuation_db - 1.0;
  if (std::isnan(t.max_ripple_db)) t.max_ripple_db = taps_ripple_db + 0.1;
  return t;
}

std::vector<target_miss> target_misses(const precision_row& row, const precision_targets& t,
                                       bool saturates) {
  std::vector<target_miss> misses;
  const char* verb = saturates ? "saturates" : "wraps";
  if (row.waveform_wraps > 0)
    misses.push_back({"waveform_wraps", static_cast<double>(row.waveform_wraps),
                      std::string("the waveform test ") + verb + " (" +
                          std::to_string(row.waveform_wraps) + " samples)",
                      ""});
  if (row.sweep_wraps > 0)
    misses.push_back({"sweep_wraps", static_cast<double>(row.sweep_wraps),
                      std::string("the sweep ") + verb + " (" + std::to_string(row.sweep_wraps) +
                          " frequencies)",
                      ""});
  // A swept frequency whose fit wraps wraps the sweep too, so only the fits at band edges
  // and lobe tops are left to say.
  if (row.sweep_wraps == 0 && steady_measured(row) && row.attenuation_wraps > 0)
    misses.push_back({"steady_wraps", static_cast<double>(row.attenuation_wraps),
                      std::string("the steady state at band edges and lobe tops ") + verb + " (" +
                          std::to_string(row.attenuation_wraps) + " frequencies)",
                      ""});
  // Coefficients that are all 0 have no level in dB to set against a target.
  if (row.silent && !(std::isnan(t.min_attenuation_db) && std::isnan(t.max_ripple_db)))
    misses.push_back({"silent", std::numeric_limits<double>::quiet_NaN(), silent_words, ""});
  const double attenuation = judged_attenuation(row);
  if (!row.silent && !std::isnan(t.min_attenuation_db) && !(attenuation >= t.min_attenuation_db))
    misses.push_back(
        {"min_attenuation_db", t.min_attenuation_db - attenuation,
         "attenuation " + decibels(attenuation) + " < " + decibels(t.min_attenuation_db),
         steady_measured(row) ? wrap_note(row.attenuation_wraps, row.attenuation_frequencies, verb)
                              : std::string()});
  const double ripple = judged_ripple(row);
  if (!row.silent && !std::isnan(t.max_ripple_db) && !(ripple <= t.max_ripple_db))
    misses.push_back({"max_ripple_db", ripple - t.max_ripple_db,
                      "ripple " + decibels(ripple, figure_kind::ripple) + " > " +
                          decibels(t.max_ripple_db, figure_kind::ripple),
                      steady_measured(row)
                          ? wrap_note(row.ripple_wraps, row.ripple_frequencies, verb)
                          : std::string()});
  if (!std::isnan(t.min_snr_db) && !(row.snr_db >= t.min_snr_db))
    misses.push_back({"min_snr_db", t.min_snr_db - row.snr_db,
                      "SNR " + decibels(row.snr_db) + " < " + decibels(t.min_snr_db), ""});
  return misses;
}

std::string target_verdict_line(const precision_row& row, const precision_targets& targets,
                                bool saturates) {
  const std::vector<target_miss> misses = target_misses(row, targets, saturates);
  if (misses.empty()) return "targets: met (" + targets_text(targets, row.steady) + ")";
  std::string line = "targets: missed: ";
  for (std::size_t i = 0; i < misses.size(); ++i) {
    const target_miss& m = misses[i];
    line += (i == 0 ? "" : ", ") + m.text;
    // How far a figure falls short, and where it wrapped, in one parenthesis; a count of
    // wraps says its own size.
    std::string aside;
    if (m.target.ends_with("_db") && !std::isnan(m.by)) {
      const bool ripple = m.target == "max_ripple_db";
      aside = decibels(m.by, ripple ? figure_kind::ripple : figure_kind::level) +
              (ripple ? " over" : " short");
    }
    if (!m.note.empty()) aside += (aside.empty() ? "" : "; ") + m.note.substr(2, m.note.size() - 3);
    if (!aside.empty()) line += " (" + aside + ")";
  }
  return line;
}

recommendation recommend_precision(std::span<const precision_row> rows,
                                   const precision_targets& targets) {
  recommendation r;
  const precision_row* highest_unwrapped = nullptr;
  for (const precision_row& row : rows) {
    if (!wraps_anywhere(row)) highest_unwrapped = &row;
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!shortfalls(rows[i], targets).empty()) continue;
    r.precision = rows[i].precision;
    r.reason = "the smallest precision with " + targets_text(targets, rows[i].steady);
    if (!rows[i].wrap_free) r.reason += " in the tests (other inputs can wrap it)";
    if (i > 0) {
      r.reason +=
          "; at " + std::to_string(rows[i - 1].precision) + ": " + shortfalls(rows[i - 1], targets);
    }
    return r;
  }
  if (rows.empty()) {
    r.reason = "no precision was measured";
  } else if (highest_unwrapped == nullptr) {
    r.reason = "every precision wraps: try --explore, which searches wider accumulators";
  } else {
    const std::string unreached = unreached_targets(rows, targets);
    r.reason = "no precision has " + targets_text(targets, highest_unwrapped->steady) + "; at " +
               std::to_string(highest_unwrapped->precision) +
               ", the highest without wraps: " + shortfalls(*highest_unwrapped, targets) + "; " +
               (unreached.empty() ? "each target is reached, but not together"
                                  : "no precision without wraps reaches " + unreached) +
               ": try --explore, which searches wider words and accumulators";
  }
  return r;
}

}  // namespace fixfir
