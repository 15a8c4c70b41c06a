#include "report_app.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "frequency_sweep.h"
#include "multitone_waveform.h"
#include "parallel_chunks.h"
#include "quantizer.h"
#include "records.h"
#include "report_model.h"
#include "report_options.h"
#include "report_plot.h"
#include "report_progress.h"
#include "tap_file.h"

namespace fixfir {

namespace {

constexpr const char* program_name = "fixfir-report";

void say_line(std::FILE* f, const std::string& line) {
  std::fputs(line.c_str(), f);
  std::fputc('\n', f);
}

void complain(std::FILE* err, const std::string& message) {
  say_line(err, std::string(program_name) + ": " + message);
}

std::string number(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// `text` for display on one line: control characters (a line break in a folder name)
// are written as escapes.
std::string printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

// Writes `text` to `out` and flushes it; false with `message` set when that fails (a
// full disk, /dev/full).
bool put_out(std::FILE* out, const std::string& text, std::string& message) {
  errno = 0;
  std::fputs(text.c_str(), out);
  const bool failed = std::fflush(out) != 0 || std::ferror(out) != 0;
  if (failed) {
    message = std::string("cannot write to standard output: ") +
              (errno != 0 ? std::strerror(errno) : "write error");
  }
  return !failed;
}

// Reads the tap file as fixfir does and refuses one that fixfir would read with gaps.
// False with `message` set when the file cannot be used.
bool read_taps(const std::string& path, tap_list& list, std::string& message) {
  tap_read_facts facts;
  const std::string shown = printable(path);
  switch (read_tap_file_at(path, list, nullptr, facts)) {
    case tap_file_status::not_found:
      message = (facts.opened ? "cannot read " : "cannot open ") + shown + ": " +
                std::strerror(facts.error);
      return false;
    case tap_file_status::out_of_memory:
      message =
          shown + ": the tap count " + std::to_string(facts.count) + " is too large for memory";
      return false;
    case tap_file_status::ok:
      break;
  }
  if (!facts.count_read) {
    message = shown + ": no tap count at the start";
  } else if (facts.count < 1) {
    message = shown + ": the tap count is " + std::to_string(facts.count) + ", not at least 1";
  } else if (facts.numbers < facts.count) {
    message = shown + ": tap " + std::to_string(facts.numbers + 1) + " of " +
              std::to_string(facts.count) + " is missing or not a number";
  } else {
    return true;
  }
  return false;
}

std::string band_extent(std::int32_t count, std::int32_t first, std::int32_t last) {
  if (count == 0) return "none";
  return std::to_string(count) + (count == 1 ? " frequency, " : " frequencies, ") +
         std::to_string(first) + " to " + std::to_string(last) + " Hz";
}

struct report_facts {
  std::int32_t tap_count = 0;
  std::int32_t scale = 0;
  std::int32_t tones = 0;
  double tap_error = 0.0;
  std::int64_t wraps = 0;
  std::size_t samples = 0;
  double snr = 0.0;
  std::size_t frequencies = 0;
  band_figures bands;         // from the fixed-point sweep
  band_figures double_bands;  // from the double-precision sweep
  band_figures ideal_bands;   // from the ideal response
};

std::string ripple_text(const band_figures& b) {
  return b.passband_count > 0 ? number("%.3f", b.ripple_db) + " dB peak to peak" : "no passband";
}

std::string attenuation_text(const band_figures& b) {
  return b.stopband_count > 0 ? number("%.2f", b.attenuation_db) + " dB below the passband maximum"
                              : "no stopband";
}

std::string summary_text(const report_options& o, const std::string& taps_path,
                         const report_facts& f) {
  const frequency_settings& s = o.frequencies;
  std::vector<std::string> lines;
  lines.push_back("taps: " + std::to_string(f.tap_count) + " from " + printable(taps_path));
  lines.push_back("precision: " + std::to_string(o.precision) + " (scale " +
                  std::to_string(f.scale) + ")");
  lines.push_back("largest tap quantization error: " + number("%.6g", f.tap_error));
  lines.push_back("waveform test: " +
                  (f.tones > 0 ? std::to_string(f.tones) + " tones from " +
                                     std::to_string(s.initial_frequency) + " Hz in steps of " +
                                     std::to_string(s.frequency_step) + " Hz"
                               : std::string("no tones, the input is silent")));
  lines.push_back("accumulator wraps (waveform test): " + std::to_string(f.wraps) + " of " +
                  std::to_string(f.samples) + " samples");
  lines.push_back("output SNR (waveform test): " + number("%.2f", f.snr) + " dB");
  lines.push_back("sweep: " + std::to_string(f.frequencies) + " frequencies from " +
                  std::to_string(SWEEP_FIRST_FREQUENCY) + " Hz in steps of " +
                  std::to_string(o.sweep_step) + " Hz");
  const band_figures& b = f.bands;
  lines.push_back("passband (ideal response within 1 dB of its maximum): " +
                  band_extent(b.passband_count, b.passband_first, b.passband_last));
  lines.push_back("passband ripple (fixed-point sweep): " + ripple_text(b));
  lines.push_back("passband ripple (double-precision sweep): " + ripple_text(f.double_bands));
  lines.push_back("passband ripple (ideal response): " + ripple_text(f.ideal_bands));
  lines.push_back("stopband (ideal response at least 40 dB below its maximum): " +
                  band_extent(b.stopband_count, b.stopband_first, b.stopband_last));
  lines.push_back("stopband attenuation (fixed-point sweep): " + attenuation_text(b));
  lines.push_back("stopband attenuation (double-precision sweep): " +
                  attenuation_text(f.double_bands));
  lines.push_back("stopband attenuation (ideal response): " + attenuation_text(f.ideal_bands));
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

int report(const report_options& options, std::FILE* out, std::FILE* err) {
  namespace fs = std::filesystem;
  const std::string taps_path = (fs::path(options.dir) / tap_file_name).string();
  std::string message;
  tap_list list;
  if (!read_taps(taps_path, list, message)) {
    complain(err, message);
    return 1;
  }
  const std::span<const float> taps(list.taps.begin(), static_cast<std::size_t>(list.count));

  std::vector<std::int32_t> coefficients(taps.size());
  quantized_filter filter;
  filter.count = list.count;
  filter.coefficients = coefficients.data();
  filter.scale = quantize_taps(options.precision, list.count, taps.data(), coefficients.data());

  const waveform_signal signal = make_waveform_signal(options.frequencies);
  const fixed_run fixed = run_fixed_model(filter, signal.input);
  const std::vector<double> reference = run_double_model(taps, signal.input);
  progress_bar bar;
  progress_start(bar, err, "sweep");
  // The line is cleared on every way out, before anything else reaches the terminal.
  struct finisher {
    progress_bar& bar;
    ~finisher() { progress_finish(bar); }
  };
  std::vector<sweep_point> sweep;
  {
    const finisher clear_bar{bar};
    sweep = measure_response(filter, taps, options.sweep_step, worker_count(),
                             [&bar](std::size_t done, std::size_t total) {
                               progress_advance(bar, static_cast<std::int64_t>(done),
                                                static_cast<std::int64_t>(total));
                             });
  }

  report_facts facts;
  facts.tap_count = list.count;
  facts.scale = filter.scale;
  facts.tones = tone_count(options.frequencies);
  facts.tap_error = largest_tap_error(taps, filter);
  facts.wraps = fixed.wraps;
  facts.samples = signal.input.size();
  facts.snr = snr_db(reference, fixed.output);
  facts.frequencies = sweep.size();
  facts.bands = measure_bands(sweep);
  facts.double_bands = measure_bands(sweep, &sweep_point::double_peak);
  facts.ideal_bands = measure_bands(sweep, &sweep_point::ideal);
  if (!put_out(out, summary_text(options, taps_path, facts), message)) {
    complain(err, message);
    return 1;
  }

  const char* path_variable = std::getenv("PATH");
  const std::string gnuplot =
      find_program("gnuplot", path_variable != nullptr ? path_variable : "");
  if (gnuplot.empty()) {
    say_line(err, "gnuplot not found: install it (apt-get install gnuplot-nox) to draw " +
                      std::string(response_png_name) + " and " + waves_png_name);
    return 0;
  }
  const std::string script =
      response_script(sweep, options.precision) + waves_script(signal, fixed.output, reference);
  if (!draw_pictures(gnuplot, script, {response_png_name, waves_png_name}, options.dir, message)) {
    complain(err, printable(message));
    return 1;
  }
  const std::string response_png = (fs::path(options.dir) / response_png_name).string();
  const std::string waves_png = (fs::path(options.dir) / waves_png_name).string();
  if (!put_out(out, "pictures: " + printable(response_png) + ", " + printable(waves_png) + "\n",
               message)) {
    complain(err, message);
    return 1;
  }
  return 0;
}

}  // namespace

int run_report(std::span<const char* const> args, std::FILE* out, std::FILE* err) {
  report_options options;
  std::string message;
  switch (parse_report_options(args, options, message)) {
    case option_result::help:
      if (!put_out(out, report_usage, message)) {
        complain(err, message);
        return 1;
      }
      return 0;
    case option_result::error:
      complain(err, message + " (see --help)");
      return 2;
    case option_result::run:
      break;
  }
  try {
    return report(options, out, err);
  } catch (const std::bad_alloc&) {
    complain(err, "out of memory");
    return 1;
  } catch (const std::system_error& e) {
    // A thread that cannot be started (a process limit, too little address space).
    complain(err, std::string("cannot go on: ") + e.what());
    return 1;
  }
}

}  // namespace fixfir
