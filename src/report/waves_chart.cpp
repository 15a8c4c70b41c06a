#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "fixfir/measurement/sample_rate.h"
#include "fixfir/report/chart_text.h"
#include "fixfir/report/charts.h"

namespace fixfir {

namespace {

// `v` (a time in ms, a width in Hz) for a title: three significant digits, whole from 1000.
std::string title_number(double v) {
  if (!(v < 1000.0)) return number(std::round(v));
  return short_number(v);
}

// The first `window` samples as $window: time in ms, the input, the fixed-point and the
// double-precision outputs, and the error and its coefficient part in units of `lsb`.
// Widens `top` to the signals and `error_lsb` to the errors.
void append_window(std::string& s, const waves_plot& p, std::size_t window, double lsb, range& top,
                   range& error_lsb) {
  s += "$window << EOD\n";
  for (std::size_t i = 0; i < window; ++i) {
    value(s, clock_seconds_at(p.time[i], p.sample_rate) * 1000.0);
    for (double v : {p.input[i], p.fixed[i], p.reference[i]}) {
      s += ' ';
      value(s, v);
      top.add(v);
    }
    for (double v :
         {(p.fixed[i] - p.reference[i]) / lsb, (p.coefficient_model[i] - p.reference[i]) / lsb}) {
      s += ' ';
      value(s, v);
      error_lsb.add(v);
    }
    s += '\n';
  }
  s += "EOD\n";
}

// The spectra of the whole error and of its coefficient part, the predicted floor, and
// the output signal the error is to be compared with, as $spectrum; widens `bottom` to
// their levels.
void append_spectrum(std::string& s, const waves_plot& p, range& bottom) {
  s += "$spectrum << EOD\n";
  const waveform_spectra& sp = p.spectra;
  if (sp.coefficient_error.size() >= sp.error.size()) {
    for (std::size_t k = 0; k < sp.error.size(); ++k) {
      const double f = static_cast<double>(k) * 16000.0 / static_cast<double>(SPECTRUM_SEGMENT);
      const double levels[4] = {power_decibels(sp.error[k]),
                                power_decibels(sp.coefficient_error[k]),
                                k < p.predicted.size() ? power_decibels(p.predicted[k]) : NAN,
                                k < sp.signal.size() ? power_decibels(sp.signal[k]) : NAN};
      value(s, hertz_at(f, p.sample_rate));
      for (double level : levels) {
        s += ' ';
        value(s, level);
        bottom.add(level);
      }
      s += '\n';
    }
  }
  s += "EOD\n";
}

// The top panel: input and outputs over the first 320 samples (20 ms at 16000 Hz), whose
// length in ms is `window_ms`.
void append_signal_panel(std::string& s, const waves_plot& p, range top, double window_ms) {
  s += "set title 'Waveform test " +
       (p.setting.empty() ? "at precision " + std::to_string(p.precision) : "on " + p.setting) +
       ": the first " + title_number(window_ms) + " ms" +
       (p.wraps > 0 ? std::string(", the accumulator ") + (p.saturating ? "SATURATES" : "WRAPS") +
                          " at " + std::to_string(p.wraps) + " samples"
                    : "") +
       "' noenhanced\n";
  s += "set xlabel 'time (ms)'\nset ylabel 'amplitude'\nset xrange [0:" + number(window_ms) + "]\n";
  if (top.empty()) top = {-1.0, 1.0};
  const double m = std::max(0.05 * (top.high - top.low), 1e-9);
  yrange(s, top.low - m, top.high + m);
  s += "plot $window using 1:2 with lines lc rgb '#7f7f7f' title 'input', \\\n"
       "     $window using 1:3 with lines lw 1.5 lc rgb '#d62728' "
       "title 'fixed-point output (as in waves.txt)', \\\n"
       "     $window using 1:4 with lines dt 2 lw 1.5 lc rgb '#1f77b4' "
       "title 'double-precision output, unquantized taps'\n";
}

// The middle panel: the output error over the same window in units of `lsb`.
void append_error_panel(std::string& s, const waves_plot& p, double lsb, range error_lsb,
                        double window_ms) {
  s += "set title 'Output error over the same " + title_number(window_ms) +
       " ms in least significant bits (2^-" + std::to_string(p.precision) + " = " +
       short_number(lsb) + ")' noenhanced\n";
  s += "set ylabel 'error (LSB)'\n";
  if (error_lsb.empty()) error_lsb = {-1.0, 1.0};
  const double em = std::max(0.05 * (error_lsb.high - error_lsb.low), 0.1);
  yrange(s, error_lsb.low - em, error_lsb.high + em);
  s += "plot $window using 1:5 with lines lw 1.5 lc rgb '#9467bd' "
       "title 'fixed point minus double precision', \\\n"
       "     $window using 1:6 with lines lw 1 lc rgb '#1f77b4' "
       "title 'of which coefficient quantization'\n";
}

// The bottom panel: the spectra, in hertz at `rate`.
void append_spectrum_panel(std::string& s, range bottom, double rate) {
  s += "set title 'Spectra over the whole test (" + std::to_string(SPECTRUM_SEGMENT) +
       "-sample Hann segments): the output error beside the output signal' noenhanced\n";
  // The spectra are powers of sample values: 0 dB is the power of a constant 1.0, and a sine
  // of amplitude A reads about A² / 3 at its bin.
  const double bin = hertz_at(DEFAULT_SAMPLE_RATE / static_cast<double>(SPECTRUM_SEGMENT), rate);
  s += "set xlabel 'frequency (Hz)'\n"
       "set ylabel 'power per " +
       title_number(bin) + " Hz bin (dB relative to 1.0²)'\n";
  s += "set xrange [0:" + number(hertz_at(NYQUIST_HZ, rate)) + "]\n";
  if (bottom.empty()) bottom = {-100.0, 0.0};
  const double high = std::ceil(bottom.high / 10.0) * 10.0 + 5.0;
  yrange(s, std::floor(std::max(bottom.low, high - 240.0) / 10.0) * 10.0, high);
  s += "plot $spectrum using 1:5 with lines lw 1.5 lc rgb '#7f7f7f' "
       "title 'output signal (double precision)', \\\n"
       "     $spectrum using 1:2 with lines lw 1.5 lc rgb '#9467bd' "
       "title 'error: fixed point minus double precision', \\\n"
       "     $spectrum using 1:3 with lines lw 1 lc rgb '#1f77b4' "
       "title 'of which coefficient quantization', \\\n"
       "     $spectrum using 1:4 with lines dt 2 lw 2 lc rgb '#000000' "
       "title 'arithmetic noise predicted by the truncation model'\n";
}

}  // namespace

plot_body waves_body(const waves_plot& p) {
  plot_body body{1100, 1250, {}};
  std::string& s = body.script;
  const std::size_t n = std::min({p.time.size(), p.input.size(), p.fixed.size(), p.reference.size(),
                                  p.coefficient_model.size()});
  const std::size_t window = std::min<std::size_t>(n, 320);  // the first 20 ms
  // The output error in least significant bits of the samples and coefficients, 2^-P.
  const double lsb = std::ldexp(1.0, -p.precision);
  range top;
  range error_lsb;
  append_window(s, p, window, lsb, top, error_lsb);
  range bottom;
  append_spectrum(s, p, bottom);
  s += "set multiplot layout 3,1\nset grid\n";
  // Fixed margins keep the time axes one above the other; keys go below their plots.
  s += "set lmargin 11\nset rmargin 3\nset key below horizontal Left reverse height 1 noenhanced\n";
  // 320 samples: 20 ms at 16000 Hz.
  const double window_ms = seconds_at(320.0, p.sample_rate) * 1000.0;
  append_signal_panel(s, p, top, window_ms);
  append_error_panel(s, p, lsb, error_lsb, window_ms);
  append_spectrum_panel(s, bottom, p.sample_rate);
  s += "unset multiplot\n";
  return body;
}

}  // namespace fixfir
