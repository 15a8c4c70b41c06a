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

bool misses_otherwise(const candidate& k, const precision_targets& t) {
  return k.overflows > 0 || (!std::isnan(t.max_ripple_db) && !(k.ripple_db <= t.max_ripple_db));
}

// One panel's data blocks, named by `tag`, for the candidates of rounding `r`.
void panel_data(std::string& s, const explore_plot& p, rounding_mode r, const std::string& tag) {
  s += "$cells" + tag + " << EOD\n";
  for (const candidate& k : p.measured) {
    if (k.path.coefficient.rounding != r || k.coefficients_only) continue;
    s += std::to_string(k.path.coefficient.bits) + " " + std::to_string(k.path.sample.bits) + " " +
         number(margin_of(k, p.targets)) + " " + (misses_otherwise(k, p.targets) ? "1" : "0") +
         "\n";
  }
  s += "EOD\n$alone" + tag + " << EOD\n";
  for (const candidate& k : p.front) {
    if (k.path.coefficient.rounding == r && k.coefficients_only)
      s += std::to_string(k.path.coefficient.bits) + " 3\n";
  }
  s += "EOD\n$front" + tag + " << EOD\n";
  for (const candidate& k : p.front) {
    if (k.path.coefficient.rounding == r && k.meets)
      s +=
          std::to_string(k.path.coefficient.bits) + " " + std::to_string(k.path.sample.bits) + "\n";
  }
  s += "EOD\n$best" + tag + " << EOD\n";
  if (p.recommended >= 0) {
    const candidate& k = p.front[static_cast<std::size_t>(p.recommended)];
    if (k.path.coefficient.rounding == r)
      s +=
          std::to_string(k.path.coefficient.bits) + " " + std::to_string(k.path.sample.bits) + "\n";
  }
  s += "EOD\n";
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
  plot_body body{static_cast<int>(620 * roundings.size()) + 160, 700, {}};
  std::string& s = body.script;
  for (std::size_t i = 0; i < roundings.size(); ++i)
    panel_data(s, p, roundings[i], std::to_string(i));
  std::string title = "Datapaths searched: colour is the margin to the attenuation";
  title += std::isnan(p.targets.min_snr_db) ? " target" : " and SNR targets";
  title += p.recommended >= 0 ? "" : "; none meets every target";
  s += "set multiplot layout 1," + std::to_string(roundings.size()) + " title '" + title +
       "' noenhanced\n";
  s += "set palette defined (-" + number(margin_reach) + " '#b2182b', 0 '#f7f7f7', " +
       number(margin_reach) + " '#1a9850')\n";
  s += "set cbrange [-" + number(margin_reach) + ":" + number(margin_reach) + "]\n";
  s += "set cblabel 'margin (dB), at most " + number(margin_reach) + "' noenhanced\n";
  s += "set xrange [2.5:32.5]\nset yrange [2.5:32.5]\nset size ratio -1\n";
  s += "set xtics 4, 4, 32\nset ytics 4, 4, 32\nset grid\n";
  s += "set xlabel 'coefficient word (bits)'\nset ylabel 'sample word (bits)'\n";
  s += "set key below\n";
  for (std::size_t i = 0; i < roundings.size(); ++i) {
    const std::string tag = std::to_string(i);
    s += std::string("set title 'rounding ") + rounding_words(roundings[i]) + "' noenhanced\n";
    s += "plot $cells" + tag +
         " using 1:2:3 with points pt 5 ps 2.2 lc palette title 'measured', \\\n"
         "     $cells" +
         tag +
         " using 1:($4 > 0 ? $2 : NaN) with points pt 2 ps 1.6 lc rgb '#000000' "
         "title 'misses the ripple target or overflows', \\\n"
         "     $alone" +
         tag +
         " using 1:2 with points pt 2 ps 1.4 lc rgb '#7f7f7f' "
         "title 'coefficients alone miss a target by far, or do not fit their word', \\\n"
         "     $front" +
         tag +
         " using 1:2 with linespoints pt 6 ps 2.6 lw 2 lc rgb '#000000' "
         "title 'front: the narrowest sample word that meets', \\\n"
         "     $best" +
         tag + " using 1:2 with points pt 3 ps 4 lw 3 lc rgb '#1f3fbf' title 'recommended'\n";
  }
  s += "unset multiplot\n";
  return body;
}

}  // namespace fixfir
