#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "fixfir/report/chart_text.h"
#include "fixfir/report/charts.h"

namespace fixfir {

namespace {

// "0, 1, 16 to 30" for rising precisions.
std::string precision_list(const std::vector<std::int32_t>& v) {
  std::string text;
  for (std::size_t i = 0; i < v.size();) {
    std::size_t j = i;
    while (j + 1 < v.size() && v[j + 1] == v[j] + 1) ++j;
    text += (text.empty() ? "" : ", ") + std::to_string(v[i]);
    if (j > i) text += (j == i + 1 ? ", " : " to ") + std::to_string(v[j]);
    i = j + 1;
  }
  return text;
}

// What the ripple panel's title says of the ripples it cannot draw.
std::string off_scale(const std::vector<std::int32_t>& zero, const std::vector<std::int32_t>& inf) {
  std::string text;
  if (!zero.empty()) text = "0.0000 dB (at precision " + precision_list(zero) + ")";
  if (!inf.empty())
    text += (text.empty() ? "" : " and ") + std::string("inf (at ") +
            (zero.empty() ? "precision " : "") + precision_list(inf) + ")";
  return text.empty() ? text : "; a ripple of " + text + " is off this log scale";
}

// What scan.png's data say about its axes.
struct scan_levels {
  range db;
  range ripple;
  // The precisions whose ripple the table prints as 0.0000 dB or inf: a log scale cannot
  // show them, and a point far below the table's figures would stretch it for nothing.
  std::vector<std::int32_t> zero_ripple;
  std::vector<std::int32_t> infinite_ripple;
};

// The data block of scan.png: one row per precision.
scan_levels scan_data(std::string& s, const scan_plot& p) {
  scan_levels l;
  s += "$scan << EOD\n";
  constexpr double smallest_ripple = 0.00005;
  for (const precision_row& r : p.rows) {
    const bool wrapped = r.waveform_wraps > 0 || r.sweep_wraps > 0;
    auto drawable = [](double v) { return v >= smallest_ripple && std::isfinite(v) ? v : NAN; };
    const double levels[6] = {r.snr_db,
                              r.coefficient_attenuation_db,
                              r.fixed_attenuation_db,
                              wrapped ? r.fixed_attenuation_db : NAN,
                              drawable(r.coefficient_ripple_db),
                              drawable(r.fixed_ripple_db)};
    for (double v : {r.coefficient_ripple_db, r.fixed_ripple_db}) {
      const bool zero = v >= 0.0 && v < smallest_ripple;
      if (!zero && !std::isinf(v)) continue;
      std::vector<std::int32_t>& list = zero ? l.zero_ripple : l.infinite_ripple;
      if (list.empty() || list.back() != r.precision) list.push_back(r.precision);
    }
    s += std::to_string(r.precision);
    for (double v : levels) {
      s += ' ';
      value(s, v);
    }
    s += '\n';
    for (int i = 0; i < 3; ++i) l.db.add(levels[i]);
    l.ripple.add(levels[4]);
    l.ripple.add(levels[5]);
  }
  s += "EOD\n";
  return l;
}

// The vertical lines of the wrap-free limit and the recommendation, with their labels.
void append_precision_lines(std::string& s, const scan_plot& p) {
  // The two vertical lines carry their labels at the top, each on the side away from the
  // other line, so that neither line crosses the other's label.
  const bool both = p.wrap_free_limit && p.recommended;
  const bool recommended_left = !both || *p.recommended <= *p.wrap_free_limit;
  if (p.wrap_free_limit) {
    const double x = *p.wrap_free_limit + 0.5;
    s += "set arrow 1 from " + number(x) + ",graph 0 to " + number(x) +
         ",graph 1 nohead lw 2 lc rgb '#ff7f0e'\n";
    s += "set label 1 'wrap-free for any input up to " + std::to_string(*p.wrap_free_limit) +
         "' at " + number(x) + ",graph 0.94 " +
         (recommended_left ? "left offset 0.5,0" : "right offset -0.5,0") + " tc rgb '#c05000'\n";
  }
  if (p.recommended) {
    const std::int32_t at = *p.recommended;
    s += "set arrow 2 from " + number(at) + ",graph 0 to " + number(at) +
         ",graph 1 nohead lw 2 dt 2 lc rgb '#2ca02c'\n";
    s += "set label 2 'recommended: " + std::to_string(at) + "' at " + number(at) + ",graph 0.94 " +
         (recommended_left ? "right offset -0.5,0" : "left offset 0.5,0") + " tc rgb '#1a7a1a'\n";
  }
}

// A target lies close to the curves it is for (the default attenuation target is 1 dB
// under the plateau), so it is drawn dashed in front of them and named where it is.
void append_target(std::string& s, int tag, double level, const char* colour,
                   const std::string& text, const char* side) {
  s += "set arrow " + std::to_string(tag) + " from graph 0, first " + number(level) +
       " to graph 1, first " + number(level) + " nohead dt 2 lw 2 lc rgb '" + colour + "' front\n";
  s += "set label " + std::to_string(tag) + " '" + text + "' at graph 0.01, first " +
       number(level) + " left offset 0," + side + " tc rgb '" + colour + "' front\n";
}

// The upper panel: SNR and attenuation in dB, with their targets.
void append_db_panel(std::string& s, const scan_plot& p, range db) {
  if (!std::isnan(p.targets.min_attenuation_db)) {
    append_target(s, 3, p.targets.min_attenuation_db, "#8b0000",
                  "attenuation target " +
                      number(std::round(p.targets.min_attenuation_db * 100.0) / 100.0) + " dB",
                  "0.7");
  }
  if (!std::isnan(p.targets.min_snr_db)) {
    append_target(s, 4, p.targets.min_snr_db, "#5b2c8f",
                  "SNR target " + number(std::round(p.targets.min_snr_db * 100.0) / 100.0) + " dB",
                  "-0.7");
  }
  if (db.empty()) db = {0.0, 100.0};
  // Room above the curves for the labels of the vertical lines.
  yrange(s, std::floor(std::max(db.low, -60.0) / 10.0) * 10.0,
         std::ceil(db.high / 10.0) * 10.0 + 20.0);
  s += "set ylabel 'dB'\nset title 'SNR and stop-band attenuation (dashed: targets)'\n";
  s += "plot $scan using 1:2 with linespoints pt 7 lc rgb '#9467bd' "
       "title 'SNR, waveform test', \\\n"
       "     $scan using 1:3 with linespoints pt 5 lc rgb '#1f77b4' "
       "title 'attenuation, quantized coefficients', \\\n"
       "     $scan using 1:4 with linespoints pt 9 lc rgb '#d62728' "
       "title 'attenuation, fixed point, steady state', \\\n"
       "     $scan using 1:5 with points pt 2 ps 2 lw 2 lc rgb '#000000' "
       "title 'the accumulator wraps'\n";
  s += "unset arrow 3\nunset arrow 4\nunset label 1\nunset label 2\nunset label 3\nunset label "
       "4\n";
}

// The lower panel: the ripple on a log scale, with its target; `l` gives its extent and
// the precisions it cannot show.
void append_ripple_panel(std::string& s, const scan_plot& p, scan_levels& l) {
  range& ripple = l.ripple;
  if (!std::isnan(p.targets.max_ripple_db) && p.targets.max_ripple_db > 0.0) {
    append_target(
        s, 3, p.targets.max_ripple_db, "#8b0000",
        "ripple target " + number(std::round(p.targets.max_ripple_db * 1e4) / 1e4) + " dB", "-0.7");
    ripple.add(p.targets.max_ripple_db);
  }
  s += "set logscale y\nset format y '%g'\n";
  if (!ripple.empty()) yrange(s, ripple.low / 2.0, ripple.high * 2.0);
  s += "set ylabel 'pass-band ripple (dB)'\nset title 'Pass-band ripple (dashed: target)" +
       off_scale(l.zero_ripple, l.infinite_ripple) + "' noenhanced\n";
  s += "plot $scan using 1:6 with linespoints pt 5 lc rgb '#1f77b4' "
       "title 'quantized coefficients', \\\n"
       "     $scan using 1:7 with linespoints pt 9 lc rgb '#d62728' "
       "title 'fixed point, steady state'\n";
}

}  // namespace

plot_body scan_body(const scan_plot& p) {
  plot_body body{1100, 1000, {}};
  std::string& s = body.script;
  scan_levels l = scan_data(s, p);
  s += "set multiplot layout 2,1 title 'Which precision: every precision from 0 to 30' "
       "noenhanced\n";
  // Fixed margins keep the precision axes one above the other; keys go below the plots.
  s += "set lmargin 11\nset rmargin 3\n";
  s += "set grid\nset key below horizontal Left reverse height 1 noenhanced\nset xrange "
       "[-0.5:30.5]\n";
  s += "set xlabel 'precision (fractional bits)'\nset xtics 0,2,30\n";
  append_precision_lines(s, p);
  append_db_panel(s, p, l.db);
  append_ripple_panel(s, p, l);
  s += "unset multiplot\n";
  return body;
}

}  // namespace fixfir
