#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "fixfir/measurement/sample_rate.h"
#include "fixfir/report/chart_text.h"
#include "fixfir/report/charts.h"

namespace fixfir {

namespace {

constexpr std::size_t most_plotted_points = 8193;

// A dense response as "f dB" lines, f in hertz at `rate`; past `most_plotted_points` each
// group of grid points gives its lowest and its highest, so neither ripples nor side lobes
// vanish.
void dense_block(std::string& s, const char* name, const dense_response& r, double rate) {
  s += std::string("$") + name + " << EOD\n";
  const std::size_t n = r.magnitude.size();
  const std::size_t group =
      std::max<std::size_t>(1, (n + most_plotted_points - 1) / most_plotted_points);
  for (std::size_t start = 0; start < n; start += group) {
    const std::size_t end = std::min(n, start + group);
    std::size_t lo = start;
    std::size_t hi = start;
    for (std::size_t k = start; k < end; ++k) {
      if (r.magnitude[k] < r.magnitude[lo]) lo = k;
      if (r.magnitude[k] > r.magnitude[hi]) hi = k;
    }
    for (std::size_t k : {std::min(lo, hi), std::max(lo, hi)}) {
      value(s, hertz_at(static_cast<double>(k) * r.spacing, rate));
      s += ' ';
      value(s, decibels(r.magnitude[k]));
      s += '\n';
      if (lo == hi) break;
    }
  }
  s += "EOD\n";
}

bool in_bands(const std::vector<band>& bands, double f) {
  return std::any_of(bands.begin(), bands.end(),
                     [f](const band& b) { return f >= b.low && f <= b.high; });
}

void shade_bands(std::string& s, const band_plan& plan) {
  const double rate = plan.sample_rate;
  int object = 1;
  for (const band& b : plan.passbands) {
    s += "set object " + std::to_string(object++) + " rect from " + number(hertz_at(b.low, rate)) +
         ",graph 0 to " + number(hertz_at(b.high, rate)) +
         ",graph 1 behind fc rgb '#2ca02c' fs transparent solid 0.08 noborder\n";
  }
  for (const band& b : plan.stopbands) {
    s += "set object " + std::to_string(object++) + " rect from " + number(hertz_at(b.low, rate)) +
         ",graph 0 to " + number(hertz_at(b.high, rate)) +
         ",graph 1 behind fc rgb '#d62728' fs transparent solid 0.06 noborder\n";
  }
}

// The lowest lobe top of `r` inside `plan`'s stop bands in dB, or +inf when there is none.
// A lobe top is the highest level within half a lobe's width (`half_lobe` Hz) either side,
// so that a small bump between two close nulls does not count; a band without one gives
// its highest level.
double lowest_stop_lobe_top(const dense_response& r, const band_plan& plan, double half_lobe) {
  const std::vector<double>& m = r.magnitude;
  double lowest = std::numeric_limits<double>::infinity();
  if (m.empty() || !(r.spacing > 0.0)) return lowest;
  const auto reach = static_cast<std::size_t>(std::clamp(half_lobe / r.spacing, 1.0, 4096.0));
  for (const band& b : plan.stopbands) {
    const auto first = static_cast<std::size_t>(
        std::clamp(std::ceil(b.low / r.spacing), 0.0, static_cast<double>(m.size())));
    const auto last = static_cast<std::size_t>(std::clamp(std::floor(b.high / r.spacing), -1.0,
                                                          static_cast<double>(m.size()) - 1.0) +
                                               1.0);  // one past
    double highest = 0.0;
    bool top = false;
    for (std::size_t k = first; k < last; ++k) {
      if (!std::isfinite(m[k])) continue;
      highest = std::max(highest, m[k]);
      if (k == first || k + 1 == last || !(m[k] > 0.0)) continue;
      bool is_top = true;
      for (std::size_t j = k > first + reach ? k - reach : first;
           is_top && j <= k + reach && j < last; ++j)
        is_top = j == k || !(m[j] > m[k]);
      if (!is_top) continue;
      lowest = std::min(lowest, decibels(m[k]));
      top = true;
    }
    if (!top && highest > 0.0) lowest = std::min(lowest, decibels(highest));
  }
  return lowest;
}

}  // namespace

double magnitude_floor_db(const response_plot& p) {
  const band_plan& plan = *p.plan;
  double lowest = std::numeric_limits<double>::infinity();
  // A side lobe is about 16000 / taps Hz wide.
  const double half_lobe = 8000.0 / std::max(p.taps, 1);
  for (const dense_response* r : {p.taps_response, p.coefficients_response})
    lowest = std::min(lowest, lowest_stop_lobe_top(*r, plan, half_lobe) - MAGNITUDE_DEPTH_DB);
  // Every level the summary's figures stand for: the lowest and highest pass-band levels
  // and each stop band's highest.
  double reported = std::numeric_limits<double>::infinity();
  for (const band_figures_db& f : p.summary_figures) {
    for (double level : {f.passband_max_db, f.passband_max_db - f.ripple_db})
      if (std::isfinite(level)) reported = std::min(reported, level);
    for (double a : f.attenuation_db)
      if (std::isfinite(f.passband_max_db - a))
        reported = std::min(reported, f.passband_max_db - a);
  }
  if (!std::isfinite(lowest)) lowest = reported - MAGNITUDE_DEPTH_DB;  // no stop-band lobe
  lowest = std::min(lowest, reported - 5.0);
  return std::isfinite(lowest) ? std::floor(lowest / 10.0) * 10.0 : -100.0;
}

namespace {

// The widest gap between swept frequencies that a curve through the steady state may
// bridge: an eighth of a side lobe (about 16000 / taps Hz), so that the curve follows the
// ripple rather than cutting across a lobe.
double curve_gap(const response_plot& p) { return 2000.0 / std::max(p.taps, 1); }

// The steady state as $curve: the runs of swept frequencies close enough together for a
// curve, each a block of its own (gnuplot joins no points across a blank line); and as $dots
// the points that stand further apart, which are marked alone. True when $curve has points.
bool steady_curve(std::string& s, const response_plot& p) {
  std::string dots;
  s += "$curve << EOD\n";
  const double gap = curve_gap(p);
  bool any = false;
  for (std::size_t i = 0; i < p.frequency.size(); ++i) {
    const double f = p.frequency[i];
    const bool after = i > 0 && f - p.frequency[i - 1] <= gap;
    const bool before = i + 1 < p.frequency.size() && p.frequency[i + 1] - f <= gap;
    std::string& to = after || before ? s : dots;
    if (&to == &s && !after) s += '\n';
    any = any || &to == &s;
    value(to, hertz_at(f, p.plan->sample_rate));
    to += ' ';
    value(to, decibels(p.steady[i]));
    to += '\n';
  }
  s += "EOD\n$dots << EOD\n" + dots + "EOD\n";
  return any;
}

// What response.png's data say about its axes and titles.
struct response_levels {
  std::int32_t wraps = 0;          // swept frequencies whose run wrapped
  std::int32_t extreme_wraps = 0;  // band edges and lobe tops whose fit wrapped
  range all;
  range zoom;
  range wrapped_in_passbands;  // the fixed point's levels there
  bool curve = false;          // some swept frequencies stand close enough for a curve
};

// The data blocks of response.png: the dense responses, the sweep and the extremes.
response_levels response_data(std::string& s, const response_plot& p) {
  response_levels l;
  const band_plan& plan = *p.plan;
  dense_block(s, "taps", *p.taps_response, plan.sample_rate);
  dense_block(s, "coefficients", *p.coefficients_response, plan.sample_rate);
  s += "$swept << EOD\n";
  for (std::size_t i = 0; i < p.frequency.size(); ++i) {
    const double f = p.frequency[i];
    const bool wrapped = i < p.wrapped.size() && p.wrapped[i] != 0;
    l.wraps += wrapped ? 1 : 0;
    value(s, hertz_at(f, plan.sample_rate));
    s += ' ';
    value(s, decibels(p.steady[i]));
    s += ' ';
    value(s, decibels(p.sweep[i]));
    s += ' ';
    value(s, wrapped ? decibels(p.steady[i]) : NAN);
    s += '\n';
    l.all.add(decibels(p.steady[i]));
    l.all.add(decibels(p.sweep[i]));
    if (in_bands(plan.passbands, f))
      (wrapped ? l.wrapped_in_passbands : l.zoom).add(decibels(p.steady[i]));
  }
  s += "EOD\n";
  l.curve = steady_curve(s, p);
  s += "$extremes << EOD\n";
  for (std::size_t i = 0; i < p.extreme_frequency.size() && i < p.extreme_steady.size(); ++i) {
    const double level = decibels(p.extreme_steady[i]);
    const bool wrapped = i < p.extreme_wrapped.size() && p.extreme_wrapped[i] != 0;
    l.extreme_wraps += wrapped ? 1 : 0;
    value(s, hertz_at(p.extreme_frequency[i], plan.sample_rate));
    s += ' ';
    value(s, level);
    s += ' ';
    value(s, wrapped ? level : NAN);
    s += '\n';
    l.all.add(level);
    if (in_bands(plan.passbands, p.extreme_frequency[i]))
      (wrapped ? l.wrapped_in_passbands : l.zoom).add(level);
  }
  s += "EOD\n";
  for (const dense_response* r : {p.taps_response, p.coefficients_response}) {
    for (std::size_t k = 0; k < r->magnitude.size(); ++k) {
      const double level = decibels(r->magnitude[k]);
      l.all.add(level);
      if (in_bands(plan.passbands, static_cast<double>(k) * r->spacing)) l.zoom.add(level);
    }
  }
  return l;
}

// Dotted lines at the band edges strictly between `from` and `to`, drawn in hertz at `rate`.
void mark_edges(std::string& s, const std::vector<double>& edges, double from, double to,
                double rate) {
  int tag = 10;
  for (double edge : edges) {
    if (edge <= from || edge >= to) continue;
    s += "set arrow " + std::to_string(tag++) + " from " + number(hertz_at(edge, rate)) +
         ",graph 0 to " + number(hertz_at(edge, rate)) + ",graph 1 nohead dt 3 lc rgb '#555555'\n";
  }
}

// The band edges inside 0 to 8000 Hz.
std::vector<double> band_edges(const band_plan& plan) {
  std::vector<double> edges;
  for (const auto* bands : {&plan.passbands, &plan.stopbands}) {
    for (const band& b : *bands) {
      for (double edge : {b.low, b.high}) {
        if (edge > 0.0 && edge < 8000.0) edges.push_back(edge);
      }
    }
  }
  return edges;
}

// The upper panel: the four responses in dB over 0 to 8000 Hz.
void magnitude_panel(std::string& s, const response_plot& p, const response_levels& l,
                     const std::vector<double>& edges) {
  mark_edges(s, edges, 0.0, 8000.0, p.plan->sample_rate);
  const double top = p.taps_figures.passband_max_db;
  const double floor_level = top - p.taps_figures.worst_attenuation_db;
  const double high = l.all.empty() ? 10.0 : std::ceil(l.all.high / 10.0) * 10.0 + 5.0;
  yrange(s, std::min(magnitude_floor_db(p), high - 20.0), high);
  if (std::isfinite(floor_level)) {
    s += "set arrow 100 from graph 0, first " + number(floor_level) + " to graph 1, first " +
         number(floor_level) + " nohead dt 2 lw 1.5 lc rgb '#000000' front\n";
    s += "set label 100 'unquantized attenuation " +
         number(std::round(p.taps_figures.worst_attenuation_db * 100.0) / 100.0) +
         " dB' at graph 0.99, first " + number(floor_level) + " right offset 0,0.7 front\n";
  }
  const bool any_wrap = l.wraps > 0 || l.extreme_wraps > 0;
  s += "set title 'Magnitude: green pass bands, red stop bands' noenhanced\n";
  // The steady state's curve and its lone points; the key names the curve, or the points
  // where they all stand apart.
  const std::string curve = "$curve using 1:2 with lines lw 1.2 lc rgb '#d62728' ";
  const std::string dots = "$dots using 1:2 with points pt 7 ps 0.5 lc rgb '#d62728' ";
  s += "plot $swept using 1:3 with lines lw 1 lc rgb '#bbbbbb' "
       "title 'sweep peak, start-up transient included (frequency.txt)', \\\n"
       "     $taps using 1:2 with lines lw 2 lc rgb '#2ca02c' title 'unquantized taps |H(f)|', \\\n"
       "     $coefficients using 1:2 with lines lw 1.5 lc rgb '#1f77b4' "
       "title 'quantized coefficients |C(f)|/scale', \\\n"
       "     " +
       (l.curve ? dots : curve) + "notitle, \\\n     " + (l.curve ? curve : dots);
  // A steady state the run could not reach has no curve; its key says so.
  s += p.steady_absent.empty()
           ? "title 'fixed point, steady state (fitted)', \\\n"
             "     $extremes using 1:2 with points pt 6 ps 0.9 lc rgb '#d62728' "
             "title 'the same at band edges and |C(f)| lobe tops', \\\n"
           : "title 'fixed point, steady state: " + p.steady_absent + " (see the summary)', \\\n";
  s += "     $swept using 1:4 with points pt 2 ps 0.6 lc rgb '#000000' " +
       std::string(!any_wrap      ? "notitle"
                   : p.saturating ? "title 'the accumulator saturates'"
                                  : "title 'the accumulator wraps'") +
       ", \\\n"
       "     $extremes using 1:3 with points pt 2 ps 0.6 lc rgb '#000000' notitle\n";
}

// The lower panel: the pass bands zoomed to fractions of a dB.
void zoom_panel(std::string& s, const response_plot& p, const response_levels& l,
                const std::vector<double>& edges) {
  const band_plan& plan = *p.plan;
  const double top = p.taps_figures.passband_max_db;
  // The zoomed pass bands.
  s += "unset arrow\nunset label 100\nunset key\n";
  double zoom_low = l.zoom.empty() ? -1.0 : l.zoom.low;
  double zoom_high = l.zoom.empty() ? 1.0 : l.zoom.high;
  const double margin = std::max(0.1 * (zoom_high - zoom_low), 1e-4);
  zoom_low -= margin;
  zoom_high += margin;
  double from = 0.0;
  double to = 8000.0;
  if (!plan.passbands.empty()) {
    const double pad =
        std::max(0.03 * (plan.passbands.back().high - plan.passbands.front().low), 20.0);
    from = std::max(0.0, plan.passbands.front().low - pad);
    to = std::min(8000.0, plan.passbands.back().high + pad);
    s += "set xrange [" + number(hertz_at(from, plan.sample_rate)) + ":" +
         number(hertz_at(to, plan.sample_rate)) + "]\n";
  }
  mark_edges(s, edges, from, to, plan.sample_rate);
  yrange(s, zoom_low, zoom_high);
  for (int i = 0; i < 2; ++i) {
    const double level = i == 0 ? top : top - p.taps_figures.ripple_db;
    if (!std::isfinite(level)) continue;
    s += "set arrow " + std::to_string(101 + i) + " from graph 0, first " + number(level) +
         " to graph 1, first " + number(level) + " nohead dt 2 lw 1.5 lc rgb '#000000' front\n";
  }
  s += "set ylabel 'magnitude (dB)'\n";
  std::string zoom_title = "Pass bands, zoomed: dashed lines bound the unquantized ripple of " +
                           number(std::round(p.taps_figures.ripple_db * 1e4) / 1e4) + " dB";
  // Wrapped runs are left out of the range; when they fall outside it, the title says so
  // and their marks sit on the frame.
  if (!l.wrapped_in_passbands.empty() &&
      (l.wrapped_in_passbands.low < zoom_low || l.wrapped_in_passbands.high > zoom_high)) {
    auto db = [](double v) { return number(std::round(v * 100.0) / 100.0) + " dB"; };
    std::string extent;
    if (l.wrapped_in_passbands.low < zoom_low) extent = "down to " + db(l.wrapped_in_passbands.low);
    if (l.wrapped_in_passbands.high > zoom_high)
      extent += (extent.empty() ? "up to " : " and up to ") + db(l.wrapped_in_passbands.high);
    zoom_title += std::string("\\nwhere the accumulator ") +
                  (p.saturating ? "saturates" : "wraps") +
                  " (x on the frame) the fixed point leaves this range, " + extent;
  }
  s += "set title \"" + zoom_title + "\" noenhanced\n";
  const std::string pinned = "(($C < " + number(zoom_low) + ") ? " + number(zoom_low) +
                             " : (($C > " + number(zoom_high) + ") ? " + number(zoom_high) +
                             " : $C))";
  auto pin = [&pinned](const char* column) {
    std::string text = pinned;
    for (std::size_t at; (at = text.find("$C")) != std::string::npos;) text.replace(at, 2, column);
    return text;
  };
  s += "plot $swept using 1:3 with lines lw 1 lc rgb '#bbbbbb' notitle, \\\n"
       "     $taps using 1:2 with lines lw 2 lc rgb '#2ca02c' notitle, \\\n"
       "     $coefficients using 1:2 with lines lw 1.5 lc rgb '#1f77b4' notitle, \\\n"
       "     $curve using 1:2 with lines lw 1.2 lc rgb '#d62728' notitle, \\\n"
       "     $dots using 1:2 with points pt 7 ps 0.6 lc rgb '#d62728' notitle, \\\n"
       "     $extremes using 1:2 with points pt 6 ps 0.9 lc rgb '#d62728' notitle, \\\n"
       "     $swept using 1:" +
       pin("$4") +
       " with points pt 2 ps 0.8 lc rgb '#000000' notitle, \\\n"
       "     $extremes using 1:" +
       pin("$3") + " with points pt 2 ps 0.8 lc rgb '#000000' notitle\n";
}

}  // namespace

plot_body response_body(const response_plot& p) {
  plot_body body{1100, 1050, {}};
  std::string& s = body.script;
  const band_plan& plan = *p.plan;
  const response_levels l = response_data(s, p);
  std::string title =
      std::to_string(p.taps) + " taps " +
      (p.setting.empty() ? "at precision " + std::to_string(p.precision) : "on " + p.setting);
  const std::string overflows = p.saturating ? "SATURATES" : "WRAPS";
  if (l.wraps > 0) {
    title += ": the accumulator " + overflows + " at " + std::to_string(l.wraps) + " of " +
             std::to_string(p.frequency.size()) + " swept frequencies (marked x)";
  } else if (l.extreme_wraps > 0) {
    title += ": the accumulator " + overflows + " at " + std::to_string(l.extreme_wraps) +
             " band edges and lobe tops (marked x)";
  }
  s += "set multiplot layout 2,1 title '" + title + "' noenhanced\n";
  // Fixed margins keep the two panels' frequency axes one above the other; the key goes
  // below the plot, where it hides no curve.
  s += "set lmargin 10\nset rmargin 3\n";
  s += "set grid\nset key below horizontal Left reverse maxcols 3 height 1 noenhanced\nset xrange "
       "[0:" +
       number(hertz_at(8000.0, plan.sample_rate)) + "]\n";
  s += "set xlabel 'frequency (Hz)'\nset ylabel 'magnitude (dB)'\n";
  shade_bands(s, plan);
  const std::vector<double> edges = band_edges(plan);
  magnitude_panel(s, p, l, edges);
  zoom_panel(s, p, l, edges);
  s += "unset multiplot\n";
  return body;
}

}  // namespace fixfir
