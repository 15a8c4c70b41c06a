#include "report_app.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "charts.h"
#include "frequency_sweep.h"
#include "gnuplot_runner.h"
#include "measurement.h"
#include "multitone_waveform.h"
#include "parallel_chunks.h"
#include "picture_files.h"
#include "picture_script.h"
#include "printable_text.h"
#include "records.h"
#include "report_html.h"
#include "report_options.h"
#include "report_progress.h"
#include "summary_text.h"
#include "tap_file.h"
#include "waveform_model.h"

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
    case status::failure:
      message = (facts.opened ? "cannot read " : "cannot open ") + shown + ": " +
                std::strerror(facts.error);
      return false;
    case status::out_of_memory:
      message =
          shown + ": the tap count " + std::to_string(facts.count) + " is too large for memory";
      return false;
    case status::ok:
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

struct report_facts {
  std::int32_t tap_count = 0;
  std::int32_t scale = 0;
  std::int32_t tones = 0;
  double tap_error = 0.0;
  std::int64_t wraps = 0;
  std::size_t samples = 0;
  double snr = 0.0;
  std::size_t frequencies = 0;
};

std::string summary_text(const report_options& o, const std::string& taps_path,
                         const report_facts& f, const std::vector<std::string>& more) {
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
  lines.insert(lines.end(), more.begin(), more.end());
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

std::string text_of(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

// The gnuplot to draw with, or "" after saying on `err` that there is none.
std::string gnuplot_or_say(std::FILE* err, const std::string& pictures) {
  const char* path_variable = std::getenv("PATH");
  std::string gnuplot = find_program("gnuplot", path_variable != nullptr
                                                    ? std::optional<std::string_view>(path_variable)
                                                    : std::nullopt);
  if (gnuplot.empty()) {
    say_line(err,
             "gnuplot not found: install it (apt-get install gnuplot-nox) to draw " + pictures);
  }
  return gnuplot;
}

// Runs `work` with a progress bar for the sweep on `err`, cleared on every way out.
template <typename Work>
auto with_progress(std::FILE* err, science_options& options, Work work) {
  progress_bar bar;
  progress_start(bar, err, "sweep");
  struct finisher {
    progress_bar& bar;
    ~finisher() { progress_finish(bar); }
  };
  const finisher clear_bar{bar};
  options.progress = [&bar](std::size_t done, std::size_t total) {
    progress_advance(bar, static_cast<std::int64_t>(done), static_cast<std::int64_t>(total));
  };
  auto result = work();
  options.progress = nullptr;
  return result;
}

// Reads D/taps.txt for a report or a scan into `list`; false after saying on `err` why it
// cannot be used.
bool read_run_taps(const report_options& options, std::FILE* err, std::string& taps_path,
                   tap_list& list) {
  taps_path = (std::filesystem::path(options.dir) / tap_file_name).string();
  std::string message;
  if (!read_taps(taps_path, list, message)) {
    complain(err, message);
    return false;
  }
  return true;
}

// The status of a measurement that failed, after saying why on `err`.
int measurement_failed(std::FILE* err, const error& e) {
  complain(err, e.message);
  return exit_status(e.kind);
}

// A picture of the page: gnuplot writes `name`.svg beside the PNG.
struct page_picture {
  const char* name;
  const char* caption;
};

// report.html, made from `page` and gnuplot's SVG of `pictures` once they are drawn.
made_file page_file(const page_content& page, const std::vector<page_picture>& pictures) {
  made_file file;
  file.name = page_name;
  for (const page_picture& p : pictures) file.inputs.push_back(std::string(p.name) + ".svg");
  file.make = [page, pictures](const std::vector<std::string>& svgs, std::string& text,
                               std::string& message) {
    page_content full = page;
    for (std::size_t i = 0; i < pictures.size() && i < svgs.size(); ++i) {
      page_figure figure{pictures[i].caption, {}};
      if (!svg_for_page(svgs[i], figure.svg, message)) {
        message = "gnuplot did not finish " + std::string(pictures[i].name) + ".svg";
        return false;
      }
      full.figures.push_back(std::move(figure));
    }
    text = html_page(full);
    return true;
  };
  return file;
}

std::string page_line(const std::string& dir) {
  return "page: " + printable((std::filesystem::path(dir) / page_name).string()) + "\n";
}

// With --html and no gnuplot: the page without its pictures. Says on `out` where it went;
// false after saying on `err` why it could not be written.
bool page_without_pictures(page_content page, const std::string& dir, std::FILE* out,
                           std::FILE* err) {
  page.note = "The pictures need gnuplot: install it (apt-get install gnuplot-nox) and run again.";
  std::string message;
  if (!install_file(page_name, html_page(page), dir, message) ||
      !put_out(out, page_line(dir), message)) {
    complain(err, printable(message));
    return false;
  }
  return true;
}

// The lines of `text`, one a line.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

science_options science_options_for(const report_options& options) {
  science_options s;
  s.precision = options.precision;
  s.tones = options.frequencies;
  s.sweep_step = options.sweep_step;
  s.given = options.bands;
  s.threads = worker_count();
  return s;
}

// response.png's chart of a report at `precision` of `taps` taps.
plot_body response_chart(const precision_report& r, std::int32_t taps, std::int32_t precision) {
  const swept_precision& run = r.sweeps.runs[0];
  response_plot rp;
  rp.taps = taps;
  rp.precision = precision;
  rp.taps_response = &r.bands.response;
  rp.coefficients_response = &r.coefficient_response;
  rp.frequency = r.sweeps.frequency;
  rp.steady = run.steady;
  rp.sweep = run.peak;
  rp.wrapped = run.wrapped;
  rp.extreme_frequency = r.extremes.frequency;
  rp.extreme_steady = r.extremes.steady;
  rp.extreme_wrapped = r.extremes.wrapped;
  if (r.figures.steady_state != steady_reach::measured)
    rp.steady_absent = steady_absence_word(r.figures.steady_state);
  rp.plan = &r.bands.plan;
  rp.taps_figures = r.figures.taps;
  const band_figures_db summary_figures[] = {r.figures.taps, r.figures.coefficients,
                                             r.figures.steady, r.figures.sweep};
  rp.summary_figures = summary_figures;
  return response_body(rp);
}

// waves.png's chart of a report at `precision`.
plot_body waves_chart(const precision_report& r, std::int32_t precision) {
  waves_plot wp{r.signal.time,
                r.signal.input,
                r.waveform.fixed_output,
                r.reference,
                r.waveform.coefficient_output,
                r.predicted_spectrum,
                {},
                r.waveform.wraps,
                precision};
  // Drawn without the spectra when they cannot be made.
  (void)error_spectra(
      r.waveform.fixed_output, r.reference, r.waveform.coefficient_output,
      std::min({r.signal.time.size(), r.signal.input.size(), r.waveform.fixed_output.size(),
                r.reference.size(), r.waveform.coefficient_output.size()}),
      wp.spectra);
  return waves_body(wp);
}

int report(const report_options& options, std::FILE* out, std::FILE* err) {
  namespace fs = std::filesystem;
  std::string taps_path;
  tap_list list;
  if (!read_run_taps(options, err, taps_path, list)) return 1;
  std::string message;
  const std::span<const float> taps(list.taps.begin(), static_cast<std::size_t>(list.count));
  science_options science = science_options_for(options);
  precision_report r;
  outcome measured = success();
  with_progress(err, science, [&] {
    measured = run_precision_report(taps, science, r);
    return true;
  });
  if (!measured) return measurement_failed(err, measured.failure());

  report_facts facts;
  facts.tap_count = list.count;
  facts.scale = r.filter.scale;
  facts.tones = tone_count(options.frequencies);
  facts.tap_error = largest_tap_error(taps, r.filter);
  facts.wraps = r.waveform.wraps;
  facts.samples = r.signal.input.size();
  facts.snr = r.waveform.snr_db;
  facts.frequencies = r.sweeps.frequency.size();
  const std::string summary =
      summary_text(options, taps_path, facts, precision_report_lines(r, options.precision));
  if (!put_out(out, summary, message)) {
    complain(err, message);
    return 1;
  }
  page_content page;
  page.title = "fixfir-report: " + std::to_string(list.count) + " taps at precision " +
               std::to_string(options.precision);
  page.summary = lines_of(summary);

  const std::string gnuplot =
      gnuplot_or_say(err, std::string(response_png_name) + " and " + waves_png_name);
  if (gnuplot.empty()) {
    return options.html && !page_without_pictures(page, options.dir, out, err) ? 1 : 0;
  }
  const plot_body response = response_chart(r, list.count, options.precision);
  const plot_body waves = waves_chart(r, options.precision);
  // One gnuplot for each picture, all drawing at once.
  std::vector<std::string> scripts = {
      picture_script(response_png_name, response.width, response.height, response.script),
      picture_script(waves_png_name, waves.width, waves.height, waves.script)};
  if (options.html) {
    scripts.push_back(
        svg_picture_script("response", response.width, response.height, response.script));
    scripts.push_back(svg_picture_script("waves", waves.width, waves.height, waves.script));
  }
  const made_file html =
      page_file(page, {{"response",
                        "The four responses in dB with the bands shaded; below, the pass bands "
                        "zoomed in (response.png)."},
                       {"waves",
                        "The first 20 ms of the waveform test, and the spectrum of the output "
                        "error beside its parts (waves.png)."}});
  if (!draw_pictures(gnuplot, scripts, {response_png_name, waves_png_name}, options.dir, message,
                     {}, options.html ? &html : nullptr)) {
    complain(err, printable(message));
    return 1;
  }
  const std::string response_png = (fs::path(options.dir) / response_png_name).string();
  const std::string waves_png = (fs::path(options.dir) / waves_png_name).string();
  if (!put_out(out,
               "pictures: " + printable(response_png) + ", " + printable(waves_png) + "\n" +
                   (options.html ? page_line(options.dir) : ""),
               message)) {
    complain(err, message);
    return 1;
  }
  return 0;
}

// --scan: every precision, the table, scan.png, and last the recommendation.
int scan(const report_options& options, std::FILE* out, std::FILE* err) {
  namespace fs = std::filesystem;
  std::string taps_path;
  tap_list list;
  if (!read_run_taps(options, err, taps_path, list)) return 1;
  std::string message;
  const std::span<const float> taps(list.taps.begin(), static_cast<std::size_t>(list.count));
  science_options science = science_options_for(options);
  scan_report r;
  outcome measured = success();
  with_progress(err, science, [&] {
    measured = run_scan(taps, science, options.targets, r);
    return true;
  });
  if (!measured) return measurement_failed(err, measured.failure());
  std::vector<std::string> lines = scan_lines(r);
  const std::vector<std::string> last(lines.end() - 2, lines.end());
  lines.erase(lines.end() - 2, lines.end());
  lines.insert(lines.begin(),
               "taps: " + std::to_string(list.count) + " from " + printable(taps_path));
  if (!put_out(out, text_of(lines), message)) {
    complain(err, message);
    return 1;
  }
  page_content page;
  page.title = "fixfir-report: which precision for " + std::to_string(list.count) + " taps";
  page.scan_table = scan_table(r.rows);
  page.summary = lines;
  if (const auto at =
          std::search(lines.begin(), lines.end(), page.scan_table.begin(), page.scan_table.end());
      at != lines.end()) {
    page.summary.erase(page.summary.begin() + (at - lines.begin()),
                       page.summary.begin() + (at - lines.begin()) +
                           static_cast<std::ptrdiff_t>(page.scan_table.size()));
  }
  if (r.choice.precision >= 0) page.recommended = std::to_string(r.choice.precision);
  page.choice = last;
  int status = 0;
  const std::string gnuplot = gnuplot_or_say(err, scan_png_name);
  if (gnuplot.empty()) {
    if (options.html && !page_without_pictures(page, options.dir, out, err)) return 1;
  } else {
    const plot_body body = scan_body({r.rows, r.wrap_free_limit, r.choice.precision, r.targets});
    std::vector<std::string> scripts = {
        picture_script(scan_png_name, body.width, body.height, body.script)};
    if (options.html)
      scripts.push_back(svg_picture_script("scan", body.width, body.height, body.script));
    const made_file html =
        page_file(page, {{"scan",
                          "SNR and attenuation against precision, with the wrap-free limit, the "
                          "recommendation and the targets marked; below, the ripple (scan.png)."}});
    if (draw_pictures(gnuplot, scripts, {scan_png_name}, options.dir, message, {},
                      options.html ? &html : nullptr)) {
      if (!put_out(out,
                   "picture: " + printable((fs::path(options.dir) / scan_png_name).string()) +
                       "\n" + (options.html ? page_line(options.dir) : ""),
                   message)) {
        complain(err, message);
        return 1;
      }
    } else {
      complain(err, printable(message));
      status = 1;
    }
  }
  if (!put_out(out, text_of(last), message)) {
    complain(err, message);
    return 1;
  }
  return status;
}

}  // namespace

int exit_status(error_kind kind) noexcept {
  switch (kind) {
    case error_kind::bad_input:
      return 2;
    case error_kind::out_of_memory:
    case error_kind::cannot_write:
    case error_kind::interrupted:
    case error_kind::failed:
      break;
  }
  return 1;
}

int run_report(std::span<const char* const> args, std::FILE* out, std::FILE* err) {
  report_options options;
  const result<option_action> parsed = parse_report_options(args, options);
  if (!parsed) {
    complain(err, parsed.failure().message + " (see --help)");
    return exit_status(parsed.failure().kind);
  }
  if (parsed.value() == option_action::help) {
    std::string message;
    if (!put_out(out, report_usage, message)) {
      complain(err, message);
      return 1;
    }
    return 0;
  }
  try {
    return options.scan ? scan(options, out, err) : report(options, out, err);
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
