#include "report_app.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
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
#include "tap_file.h"
#include "text_scan.h"

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

// Reads the whole file; false with `message` set when it cannot.
bool read_whole_file(const std::string& path, std::string& text, std::string& message) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    message = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  char buf[65536];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) text.append(buf, n);
  const bool failed = std::ferror(file) != 0;  // e.g. a directory
  const int error = errno;
  std::fclose(file);
  if (failed) message = "cannot read " + path + ": " + std::strerror(error);
  return !failed;
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
  lines.push_back("taps: " + std::to_string(f.tap_count) + " from " + taps_path);
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
  std::string text;
  std::string message;
  if (!read_whole_file(taps_path, text, message)) {
    complain(err, message);
    return 1;
  }
  if (const std::string problem = tap_text_problem(text); !problem.empty()) {
    complain(err, taps_path + ": " + problem);
    return 1;
  }
  tap_list list;
  std::uint64_t messages = 0;
  if (parse_tap_text(text, list, nullptr, messages) != tap_file_status::ok) throw std::bad_alloc();
  const std::span<const float> taps(list.taps.begin(), static_cast<std::size_t>(list.count));

  std::vector<std::int32_t> coefficients(taps.size());
  quantized_filter filter;
  filter.count = list.count;
  filter.coefficients = coefficients.data();
  filter.scale = quantize_taps(options.precision, list.count, taps.data(), coefficients.data());

  const waveform_signal signal = make_waveform_signal(options.frequencies);
  const fixed_run fixed = run_fixed_model(filter, signal.input);
  const std::vector<double> reference = run_double_model(taps, signal.input);
  const unsigned threads = worker_count();
  const std::vector<sweep_point> sweep =
      measure_response(filter, taps, options.sweep_step, threads);

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
  std::fputs(summary_text(options, taps_path, facts).c_str(), out);
  std::fflush(out);

  const char* path_variable = std::getenv("PATH");
  const std::string gnuplot =
      find_program("gnuplot", path_variable != nullptr ? path_variable : "");
  if (gnuplot.empty()) {
    say_line(err, "gnuplot not found: install it (apt-get install gnuplot-nox) to draw " +
                      std::string(response_png_name) + " and " + waves_png_name);
    return 0;
  }
  const std::string response_png = (fs::path(options.dir) / response_png_name).string();
  const std::string waves_png = (fs::path(options.dir) / waves_png_name).string();
  // Checked here so that an unwritable folder gives one clear line, not gnuplot's noise.
  for (const std::string& png : {response_png, waves_png}) {
    std::FILE* f = std::fopen(png.c_str(), "wb");
    if (f == nullptr) {
      complain(err, "cannot write " + png + ": " + std::strerror(errno));
      return 1;
    }
    std::fclose(f);
  }
  const std::string script = response_script(sweep, options.precision, response_png) +
                             waves_script(signal, fixed.output, reference, waves_png);
  const int status = run_gnuplot(gnuplot, script);
  if (status != 0) {
    complain(err, "gnuplot failed (status " + std::to_string(status) + "), so " + response_png +
                      " and " + waves_png + " may be missing or incomplete");
    return 1;
  }
  say_line(out, "pictures: " + response_png + ", " + waves_png);
  return 0;
}

}  // namespace

std::string tap_text_problem(std::string_view text) {
  char_input in = text_input(text);
  std::int32_t count = 0;
  if (!scan_integer(in, count)) return "no tap count at the start";
  if (count < 1) return "the tap count is " + std::to_string(count) + ", not at least 1";
  for (std::int32_t i = 0; i < count; ++i) {
    float tap = 0.0F;
    if (!scan_real(in, tap)) {
      return "tap " + std::to_string(i + 1) + " of " + std::to_string(count) +
             " is missing or not a number";
    }
  }
  return {};
}

int run_report(std::span<const char* const> args, std::FILE* out, std::FILE* err) {
  report_options options;
  std::string message;
  switch (parse_report_options(args, options, message)) {
    case option_result::help:
      std::fputs(report_usage, out);
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
  }
}

}  // namespace fixfir
