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

std::string decibels(double v, const char* format = "%.2f dB") { return figure_text(format, v); }

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
  auto add = [&why](const std::string& s) { why += (why.empty() ? "" : ", ") + s; };
  if (row.waveform_wraps > 0)
    add("the waveform test wraps (" + std::to_string(row.waveform_wraps) + " samples)");
  if (row.sweep_wraps > 0)
    add("the sweep wraps (" + std::to_string(row.sweep_wraps) + " frequencies)");
  // A swept frequency whose fit wraps wraps the sweep too, so only the fits at band edges
  // and lobe tops are left to say.
  if (row.sweep_wraps == 0 && steady_measured(row) && row.attenuation_wraps > 0)
    add("the steady state at band edges and lobe tops wraps (" +
        std::to_string(row.attenuation_wraps) + " frequencies)");
  // Coefficients that are all 0 have no level in dB to set against a target.
  if (row.silent && !(std::isnan(t.min_attenuation_db) && std::isnan(t.max_ripple_db)))
    add(silent_words);
  if (!row.silent && !std::isnan(t.min_attenuation_db) &&
      !(judged_attenuation(row) >= t.min_attenuation_db))
    add("attenuation " + decibels(judged_attenuation(row)) + " < " +
        decibels(t.min_attenuation_db) +
        (steady_measured(row) ? wrap_note(row.attenuation_wraps, row.attenuation_frequencies)
                              : std::string()));
  if (!row.silent && !std::isnan(t.max_ripple_db) && !(judged_ripple(row) <= t.max_ripple_db))
    add("ripple " + decibels(judged_ripple(row), "%.4f dB") + " > " +
        decibels(t.max_ripple_db, "%.4f dB") +
        (steady_measured(row) ? wrap_note(row.ripple_wraps, row.ripple_frequencies)
                              : std::string()));
  if (!std::isnan(t.min_snr_db) && !(row.snr_db >= t.min_snr_db))
    add("SNR " + decibels(row.snr_db) + " < " + decibels(t.min_snr_db));
  return why;
}

std::string targets_text(const precision_targets& t, steady_reach reach) {
  std::string text;
  auto add = [&text](const std::string& s) { text += (text.empty() ? "" : ", ") + s; };
  if (!std::isnan(t.min_attenuation_db)) add("attenuation >= " + decibels(t.min_attenuation_db));
  if (!std::isnan(t.max_ripple_db)) add("ripple <= " + decibels(t.max_ripple_db, "%.4f dB"));
  if (!text.empty() && reach != steady_reach::measured) {
    text += std::string(" of the quantized coefficients (the fixed-point steady state is ") +
            steady_absence_word(reach) + ")";
  }
  if (!std::isnan(t.min_snr_db)) add("SNR >= " + decibels(t.min_snr_db));
  add("no wrap");
  return text;
}

}  // namespace

recommendation recommend_precision(std::span<const precision_row> rows,
                                   const precision_targets& targets) {
  recommendation r;
  const precision_row* highest_unwrapped = nullptr;
  for (const precision_row& row : rows) {
    if (row.waveform_wraps == 0 && row.sweep_wraps == 0 &&
        !(steady_measured(row) && row.attenuation_wraps > 0))
      highest_unwrapped = &row;
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
    r.reason = "every precision wraps";
  } else {
    r.reason = "no precision has " + targets_text(targets, highest_unwrapped->steady) + "; at " +
               std::to_string(highest_unwrapped->precision) +
               ", the highest without wraps: " + shortfalls(*highest_unwrapped, targets);
  }
  return r;
}

}  // namespace fixfir
