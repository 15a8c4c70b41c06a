#include "report_plot.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace fixfir {

namespace {

// Plot values: non-finite ones become gnuplot's undefined "NaN", so that they leave a gap.
void append_value(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "NaN";
    return;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  out += buf;
}

// The finite range of some values.
struct value_range {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
};

void widen(value_range& r, double v) {
  if (!std::isfinite(v)) return;
  r.low = std::min(r.low, v);
  r.high = std::max(r.high, v);
}

// "set yrange" with a margin. Every range is set explicitly: gnuplot refuses to
// autoscale a plot whose points are all undefined, as they are with a scale of 0.
void append_yrange(std::string& out, value_range r) {
  if (!(r.low <= r.high)) r = {-1.0, 1.0};
  const double margin = r.high > r.low ? 0.05 * (r.high - r.low) : 1.0;
  out += "set yrange [";
  append_value(out, r.low - margin);
  out += ':';
  append_value(out, r.high + margin);
  out += "]\n";
}

void append_terminal(std::string& out, int width, int height, const std::string& png_path) {
  const std::string size = std::to_string(width) + "," + std::to_string(height);
  // Debian's gnuplot-nox has both; the cairo one draws smoother lines.
  out += "if (strstrt(GPVAL_TERMINALS, ' pngcairo ') > 0) {\n";
  out += "  set terminal pngcairo size " + size + " font 'sans,10'\n";
  out += "} else {\n";
  out += "  set terminal png size " + size + "\n";
  out += "}\n";
  out += "set output " + gnuplot_quote(png_path) + "\n";
}

}  // namespace

std::string gnuplot_quote(std::string_view text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'')
      q += "''";
    else
      q += c;
  }
  return q + "'";
}

std::string response_script(std::span<const sweep_point> sweep, std::int32_t precision,
                            const std::string& png_path) {
  std::string s = "$response << EOD\n";
  value_range r;
  for (const sweep_point& p : sweep) {
    const double levels[3] = {to_db(p.fixed_peak), to_db(p.double_peak), to_db(p.ideal)};
    s += std::to_string(p.frequency);
    for (double level : levels) {
      s += ' ';
      append_value(s, level);
      widen(r, level);
    }
    s += '\n';
  }
  s += "EOD\n";
  // Deep nulls of the ideal response would squash the rest; 160 dB below the top is
  // below anything a 32-bit model resolves.
  if (r.low <= r.high) {
    r.high = std::ceil(r.high / 10.0) * 10.0;
    r.low = std::floor(std::max(r.low, r.high - 160.0) / 10.0) * 10.0;
  }
  append_terminal(s, 1100, 650, png_path);
  s += "set title 'Magnitude response at precision " + std::to_string(precision) + "' noenhanced\n";
  s += "set xlabel 'frequency (Hz)'\nset ylabel 'magnitude (dB)'\n";
  s += "set xrange [0:8000]\n";
  append_yrange(s, r);
  s += "set grid\nset key top right box opaque\n";
  // The fixed-point curve goes last so that it stays visible where the others meet it.
  s += "plot $response using 1:4 with lines lw 1.5 dt 2 lc rgb '#2ca02c' "
       "title 'ideal steady state |H(f)|, unquantized taps', \\\n"
       "     $response using 1:3 with lines lw 2.5 lc rgb '#1f77b4' "
       "title 'double precision: swept peak, unquantized taps', \\\n"
       "     $response using 1:2 with lines lw 1 lc rgb '#d62728' "
       "title 'fixed point: swept peak (as in frequency.txt)'\n";
  s += "unset output\n";
  return s;
}

std::string waves_script(const waveform_signal& signal, std::span<const double> fixed_output,
                         std::span<const double> double_output, const std::string& png_path) {
  const std::size_t n = std::min(
      {signal.time.size(), signal.input.size(), fixed_output.size(), double_output.size()});
  const std::size_t window = std::min(n, static_cast<std::size_t>(WAVES_WINDOW_SAMPLES));

  std::string s = "$window << EOD\n";
  value_range top;
  for (std::size_t i = 0; i < window; ++i) {
    append_value(s, signal.time[i] * 1000.0);
    for (double v : {signal.input[i], fixed_output[i], double_output[i]}) {
      s += ' ';
      append_value(s, v);
      widen(top, v);
    }
    s += '\n';
  }
  s += "EOD\n$error << EOD\n";
  value_range bottom;
  for (std::size_t i = 0; i < n; ++i) {
    const double e = fixed_output[i] - double_output[i];
    append_value(s, signal.time[i]);
    s += ' ';
    append_value(s, e);
    s += '\n';
    widen(bottom, e);
  }
  s += "EOD\n";

  append_terminal(s, 1100, 850, png_path);
  s += "set multiplot layout 2,1\nset grid\nset key top right box opaque\n";
  s += "set title 'Waveform test: the first 20 ms'\n";
  s += "set xlabel 'time (ms)'\nset ylabel 'amplitude'\nset xrange [0:20]\n";
  append_yrange(s, top);
  s += "plot $window using 1:2 with lines lc rgb '#7f7f7f' title 'input', \\\n"
       "     $window using 1:3 with lines lw 1.5 lc rgb '#d62728' "
       "title 'fixed-point output (as in waves.txt)', \\\n"
       "     $window using 1:4 with lines dt 2 lw 1.5 lc rgb '#1f77b4' "
       "title 'double-precision output'\n";
  s += "set title 'Output error over the whole test: fixed point minus double precision'\n";
  s += "set xlabel 'time (s)'\nset ylabel 'error'\nset xrange [0:2]\n";
  append_yrange(s, bottom);
  s += "plot $error using 1:2 with lines lc rgb '#9467bd' title 'error'\n";
  s += "unset multiplot\nunset output\n";
  return s;
}

std::string find_program(std::string_view program, std::string_view path) {
  while (true) {
    const std::size_t colon = path.find(':');
    std::string_view dir = path.substr(0, colon);
    // An empty entry means the working directory.
    std::string candidate = (dir.empty() ? std::string(".") : std::string(dir)) + "/";
    candidate += program;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string_view::npos) return {};
    path.remove_prefix(colon + 1);
  }
}

int run_gnuplot(const std::string& gnuplot, const std::string& script) {
  std::string command = "'";
  for (char c : gnuplot) {
    if (c == '\'')
      command += "'\\''";
    else
      command += c;
  }
  // gnuplot writes a picture that it cannot put in its file to standard output instead.
  command += "' >/dev/null";
  // A gnuplot that stops early must not end this process with SIGPIPE.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previous);
  std::FILE* pipe = popen(command.c_str(), "w");
  bool written = false;
  int raw = -1;
  if (pipe != nullptr) {
    written = std::fwrite(script.data(), 1, script.size(), pipe) == script.size();
    raw = pclose(pipe);
  }
  sigaction(SIGPIPE, &previous, nullptr);
  if (raw == -1 || !WIFEXITED(raw)) return -1;
  const int status = WEXITSTATUS(raw);
  return status == 0 && !written ? -1 : status;
}

}  // namespace fixfir
