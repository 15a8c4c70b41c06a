#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "fixfir/report/chart_text.h"
#include "fixfir/report/charts.h"

namespace fixfir {

namespace {

// The colour scale reaches this far either side of the targets, in dB.
constexpr double margin_reach = 20.0;

// Red for a candidate that misses, blue for one that meets; the darker, the further from
// the line. Even the palest red and blue are far apart, so a cell that misses by a tenth of
// a dB never looks like one that meets.
constexpr const char* miss_far = "#99000d";
constexpr const char* miss_near = "#fc9272";
constexpr const char* meet_near = "#9ecae1";
constexpr const char* meet_far = "#08519c";

// How far a candidate clears the attenuation and SNR targets: the smaller margin in dB,
// within ±margin_reach.
double margin_of(const candidate& k, const precision_targets& t) {
  double margin = margin_reach;
  if (!std::isnan(t.min_attenuation_db) && !std::isnan(k.attenuation_db))
    margin = std::min(margin, k.attenuation_db - t.min_attenuation_db);
  if (!std::isnan(t.min_snr_db) && !std::isnan(k.snr_db))
    margin = std::min(margin, k.snr_db - t.min_snr_db);
  return std::clamp(margin, -margin_reach, margin_reach);
}

// The value a cell is coloured by: its margin, on the red side of the scale's break when it
// misses any target (a candidate that misses only the ripple target or overflows sits at
// the palest red) and on the blue side when it meets them all.
double shade_of(const candidate& k, const precision_targets& t) {
  const double margin = margin_of(k, t);
  return k.meets ? std::max(margin, 0.0) : std::min(margin, -0.01);
}

bool misses_otherwise(const candidate& k, const precision_targets& t) {
  return k.overflows > 0 || (!std::isnan(t.max_ripple_db) && !(k.ripple_db <= t.max_ripple_db));
}

// A stretch of more than this many sample words that no candidate measured is drawn as one
// row, so that the axis shows the words measured rather than the empty space between them.
constexpr int widest_gap = 3;

// What the panels share: the coefficient words, and the sample words measured with the row
// each is drawn at (its own number until a wide stretch of words no candidate measured is
// folded into a single row), and the row below them where the coefficient words that were
// not run are marked.
struct plane {
  int coefficient_low = 4;
  int coefficient_high = 32;
  std::vector<int> words{4};  // ascending
  std::vector<int> rows{4};
  std::vector<int> folds;  // the rows standing for stretches of words not measured
  bool measured = false;   // false: `words` holds only a placeholder
  bool not_run = false;
  [[nodiscard]] int not_run_row() const { return rows.front() - 1; }
  [[nodiscard]] int row(int word) const {
    const auto at = std::lower_bound(words.begin(), words.end(), word);
    return at == words.end() ? rows.back() : rows[static_cast<std::size_t>(at - words.begin())];
  }
};

plane plane_of(const explore_plot& p) {
  range coefficient;
  std::vector<int> words;
  plane a;
  for (const auto* list : {&p.measured, &p.front}) {
    for (const candidate& k : *list) {
      coefficient.add(k.path.coefficient.bits);
      if (k.coefficients_only)
        a.not_run = true;
      else
        words.push_back(k.path.sample.bits);
    }
  }
  if (!coefficient.empty()) {
    a.coefficient_low = static_cast<int>(coefficient.low);
    a.coefficient_high = static_cast<int>(coefficient.high);
  }
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  if (words.empty()) return a;
  a.measured = true;
  a.words = words;
  a.rows = {words.front()};
  for (std::size_t i = 1; i < words.size(); ++i) {
    const int gap = words[i] - words[i - 1];
    if (gap > widest_gap) a.folds.push_back(a.rows.back() + 1);
    a.rows.push_back(a.rows.back() + (gap > widest_gap ? 2 : gap));
  }
  return a;
}

// The sample-word axis: each word measured at its row, the folded stretches and the row of
// the words not run.
std::string sample_tics(const plane& a) {
  std::string tics;
  const int span = a.rows.back() - a.rows.front();
  const int step = span > 16 ? 2 : 1;  // every other word where they stand close
  for (std::size_t i = 0; a.measured && i < a.words.size(); ++i) {
    if (i + 1 == a.words.size() || (a.rows[i] - a.rows.front()) % step == 0)
      tics += (tics.empty() ? "" : ", ") + std::string("\"") + std::to_string(a.words[i]) + "\" " +
              std::to_string(a.rows[i]);
  }
  for (int fold : a.folds) tics += ", \"...\" " + std::to_string(fold);
  if (a.not_run)
    tics += (tics.empty() ? "\"not run\" " : ", \"not run\" ") + std::to_string(a.not_run_row());
  return tics;
}

// A candidate's coefficient word and the row of its sample word.
std::string cell(const candidate& k, const plane& a) {
  return std::to_string(k.path.coefficient.bits) + " " + std::to_string(a.row(k.path.sample.bits));
}

// What one panel holds, counted, so that the key names only the marks drawn.
struct panel_counts {
  int meeting = 0;
  int missing = 0;
  int crossed = 0;
  int alone = 0;
  int front = 0;
  bool best = false;
};

// One panel's data blocks, named by `tag`, for the candidates of rounding `r`.
panel_counts panel_data(std::string& s, const explore_plot& p, const plane& a, rounding_mode r,
                        const std::string& tag) {
  panel_counts n;
  s += "$cells" + tag + " << EOD\n";
  for (const candidate& k : p.measured) {
    if (k.path.coefficient.rounding != r || k.coefficients_only) continue;
    const bool crossed = misses_otherwise(k, p.targets);
    s += cell(k, a) + " " + number(shade_of(k, p.targets)) + " " + (crossed ? "1" : "0") + "\n";
    (k.meets ? n.meeting : n.missing) += 1;
    n.crossed += crossed ? 1 : 0;
  }
  s += "EOD\n$alone" + tag + " << EOD\n";
  for (const candidate& k : p.front) {
    if (k.path.coefficient.rounding != r || !k.coefficients_only) continue;
    s += std::to_string(k.path.coefficient.bits) + " " + std::to_string(a.not_run_row()) + "\n";
    ++n.alone;
  }
  s += "EOD\n$front" + tag + " << EOD\n";
  for (const candidate& k : p.front) {
    if (k.path.coefficient.rounding != r || !k.meets) continue;
    s += cell(k, a) + "\n";
    ++n.front;
  }
  s += "EOD\n$best" + tag + " << EOD\n";
  if (p.recommended && *p.recommended < p.front.size()) {
    const candidate& k = p.front[*p.recommended];
    if (k.path.coefficient.rounding == r) {
      s += cell(k, a) + "\n";
      n.best = true;
    }
  }
  s += "EOD\n";
  return n;
}

// The cost of each datapath on rounding `r`'s front, as labels above the panel at its
// coefficient word.
std::string cost_tics(const explore_plot& p, rounding_mode r) {
  std::string tics;
  for (const candidate& k : p.front) {
    if (k.path.coefficient.rounding != r || !k.meets) continue;
    tics += (tics.empty() ? "" : ", ") + std::string("\"") + std::to_string(k.cost) + "\" " +
            std::to_string(k.path.coefficient.bits);
  }
  return tics;
}

// The axes every panel shares.
void set_axes(std::string& s, const plane& a) {
  s += "set palette defined (-" + number(margin_reach) + " '" + miss_far + "', -0.01 '" +
       miss_near + "', 0 '" + meet_near + "', " + number(margin_reach) + " '" + meet_far + "')\n";
  s += "set cbrange [-" + number(margin_reach) + ":" + number(margin_reach) + "]\n";
  s += "set cblabel 'margin to the attenuation and SNR targets (dB), at most " +
       number(margin_reach) + "' offset 1.5,0 noenhanced\n";
  // A word of room either side of the outermost cells keeps every mark off the frame.
  s += "set xrange [" + number(a.coefficient_low - 1.0) + ":" + number(a.coefficient_high + 1.0) +
       "]\n";
  const int bottom = a.not_run ? a.not_run_row() : a.rows.front();
  s += "set yrange [" + number(bottom - 0.8) + ":" + number(a.rows.back() + 0.8) + "]\n";
  const std::string tics = sample_tics(a);
  s += tics.empty() ? "set ytics\n" : "set ytics (" + tics + ")\n";
  // Every fourth coefficient word, or every one where only a few were searched.
  const int span = a.coefficient_high - a.coefficient_low;
  const int step = span > 16 ? 4 : span > 8 ? 2 : 1;
  s += "set xtics " + std::to_string((a.coefficient_low + step - 1) / step * step) + ", " +
       std::to_string(step) + ", " + std::to_string(a.coefficient_high) + " nomirror\n";
  s += "set mxtics " + std::to_string(step) + "\nset grid xtics mxtics ytics\n";
  s += "set xlabel 'coefficient word (bits)'\nset ylabel 'sample word (bits)'\n";
  s += "set link x2\n";
  // Fixed margins keep the panels' frames level whatever their keys hold.
  s += "set tmargin 6\nset bmargin 11\nset key below Left reverse maxcols 1 noenhanced\n";
}

// The plot command of one panel: only the marks it holds, each with its key entry.
std::string panel_plot(const std::string& tag, const panel_counts& n) {
  std::vector<std::string> parts;
  if (n.meeting + n.missing > 0)
    parts.push_back("$cells" + tag +
                    " using 1:2:3 with points pt 5 ps 2.2*mark lc palette notitle");
  // Key entries for the two hues: NaN draws nothing but the entry.
  if (n.meeting > 0)
    parts.push_back(std::string("NaN with points pt 5 ps 2.2*mark lc rgb '") + meet_near +
                    "' title 'meets every target (darker: more margin)'");
  if (n.missing > 0)
    parts.push_back(std::string("NaN with points pt 5 ps 2.2*mark lc rgb '") + miss_near +
                    "' title 'misses a target (darker: further short)'");
  if (n.crossed > 0)
    parts.push_back("$cells" + tag +
                    " using 1:($4 > 0 ? $2 : NaN) with points pt 2 ps 1.6*mark lc rgb '#000000' "
                    "title 'misses the ripple target or overflows'");
  if (n.alone > 0)
    parts.push_back("$alone" + tag +
                    " using 1:2 with points pt 2 ps 1.4*mark lc rgb '#7f7f7f' "
                    "title 'coefficients alone miss by far or do not fit: not run'");
  if (n.front > 0)
    parts.push_back("$front" + tag +
                    " using 1:2 with linespoints pt 6 ps 2.6*mark lw 2 lc rgb '#000000' "
                    "title 'front: the narrowest sample word that meets'");
  if (n.best)
    parts.push_back(
        "$best" + tag +
        " using 1:2 with points pt 3 ps 3*mark lw 3 lc rgb '#e08214' title 'recommended'");
  if (parts.empty()) parts.push_back("NaN notitle");
  std::string plot = "plot ";
  for (std::size_t i = 0; i < parts.size(); ++i) plot += (i == 0 ? "" : ", \\\n     ") + parts[i];
  return plot + "\n";
}

}  // namespace

plot_body explore_body(const explore_plot& p) {
  std::vector<rounding_mode> roundings;
  for (const candidate& k : p.front) {
    if (std::find(roundings.begin(), roundings.end(), k.path.coefficient.rounding) ==
        roundings.end())
      roundings.push_back(k.path.coefficient.rounding);
  }
  if (roundings.empty()) roundings.push_back(rounding_mode::toward_zero);
  plot_body body{static_cast<int>(660 * roundings.size()) + 160, 760, {}};
  std::string& s = body.script;
  const plane a = plane_of(p);
  std::vector<panel_counts> counts;
  for (std::size_t i = 0; i < roundings.size(); ++i)
    counts.push_back(panel_data(s, p, a, roundings[i], std::to_string(i)));
  std::string title = "Datapaths searched: red misses a target, blue meets every one";
  title += p.recommended ? "" : "; none meets every target";
  s += "set multiplot layout 1," + std::to_string(roundings.size()) + " title '" + title +
       "' noenhanced\n";
  // The SVG terminal draws a point of a given size about half as large again as the PNG
  // one; the marks keep the PNG's size, so that neighbouring cells stay apart.
  s += "mark = strstrt(GPVAL_TERM, 'svg') > 0 ? 0.7 : 1.0\n";
  set_axes(s, a);
  for (std::size_t i = 0; i < roundings.size(); ++i) {
    const std::string tics = cost_tics(p, roundings[i]);
    s += tics.empty() ? "unset x2tics\n" : "set x2tics rotate by 90 font ',8' (" + tics + ")\n";
    s += std::string("set title 'rounding ") + rounding_words(roundings[i]) +
         (tics.empty() ? "" : "; above: the cost of the front") + "' noenhanced\n";
    s += panel_plot(std::to_string(i), counts[i]);
  }
  s += "unset multiplot\n";
  return body;
}

}  // namespace fixfir
