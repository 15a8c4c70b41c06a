#include "search_page.h"

#include <cctype>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "fixfir/measurement/scan_text.h"

namespace fixfir {

namespace {

// The targets one a row, in the words of the run's targets: line. Without a fixed-point
// steady state the attenuation and ripple targets apply to the quantized coefficients.
std::vector<std::string> target_rows(const search_report& r) {
  const bool fixed = r.steady == steady_reach::measured;
  const std::string judged = fixed ? "" : "(quantized coefficients) ";
  const target_words words = target_words_of(r.targets, r.bands.plan);
  const bool snr_default = !std::isnan(r.targets.min_snr_db) && r.snr_target_is_attenuation;
  std::vector<std::string> rows{"stopband attenuation: " + judged + words.attenuation,
                                "passband ripple: " + judged + words.ripple,
                                "SNR (waveform test): " + words.snr +
                                    (snr_default ? " (by default the attenuation target)" : ""),
                                "overflows: none"};
  if (!fixed) rows.push_back("fixed-point steady state: " + r.steady_absent);
  return rows;
}

}  // namespace

page_content search_page(const search_report& r, std::int32_t count,
                         const std::vector<std::string>& lines,
                         const std::vector<std::string>& last) {
  page_content page;
  page.title = "fixfir-report: which datapath for " + std::to_string(count) + " taps";
  page.search.targets = target_rows(r);
  page.search.recommended = r.recommended;
  page.choice = last;
  // The text ends with the front: its line, the table's header, a row for each datapath.
  const std::size_t front_lines = r.front.size() + 2;
  const std::size_t front_at = lines.size() >= front_lines ? lines.size() - front_lines : 0;
  for (std::size_t i = 0; i < front_at; ++i) {
    if (!lines[i].starts_with("targets: ")) page.summary.push_back(lines[i]);
  }
  if (lines.size() < front_lines || !lines[front_at].starts_with("front: ")) {
    // Not the text this page knows: shown whole, as printed.
    page.summary = lines;
    page.search = {};
    return page;
  }
  page.search.front_heading = lines[front_at].substr(7);
  if (!page.search.front_heading.empty()) {
    page.search.front_heading[0] =
        static_cast<char>(std::toupper(static_cast<unsigned char>(page.search.front_heading[0])));
  }
  page.search.front.assign(lines.begin() + static_cast<std::ptrdiff_t>(front_at + 1), lines.end());
  return page;
}

}  // namespace fixfir
