#include "fixfir/report/report_pictures.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fixfir/measurement/error_model.h"
#include "fixfir/measurement/steady_state.h"
#include "fixfir/report/charts.h"
#include "fixfir/report/gnuplot_runner.h"
#include "fixfir/report/picture_files.h"
#include "fixfir/report/picture_script.h"
#include "fixfir/report/printable_text.h"
#include "fixfir/report/report_output.h"

namespace fixfir {

namespace {

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
  file.make = [page, pictures](const std::vector<std::string>& svgs) -> result<std::string> {
    page_content full = page;
    for (std::size_t i = 0; i < pictures.size() && i < svgs.size(); ++i) {
      result<std::string> svg = svg_for_page(svgs[i]);
      if (!svg) {
        return make_error(error_kind::failed,
                          "gnuplot did not finish " + std::string(pictures[i].name) + ".svg");
      }
      full.figures.push_back(page_figure{pictures[i].caption, std::move(svg).value()});
    }
    return html_page(full);
  };
  return file;
}

std::string page_line(const std::string& dir) {
  return "page: " + printable((std::filesystem::path(dir) / page_name).string()) + "\n";
}

// With --html and no gnuplot: the page without its pictures. Says on `out` where it went;
// a cannot_write error when the page or that line could not be written.
outcome page_without_pictures(page_content page, const std::string& dir, std::FILE* out) {
  page.note = "The pictures need gnuplot: install it (apt-get install gnuplot-nox) and run again.";
  if (outcome installed = install_file(page_name, html_page(page), dir); !installed) {
    error e = std::move(installed).failure();
    e.kind = error_kind::cannot_write;
    return e;
  }
  return put_out(out, page_line(dir));
}

// What a report on a datapath the user described runs on, in a few words for a title; ""
// for a report at a precision.
std::string setting_of(const precision_report& r) {
  if (std::holds_alternative<precision_bounds>(r.asked)) return {};
  const datapath& d = r.fixed.path;
  std::string words = std::to_string(d.coefficient.bits) + "-bit coefficients, " +
                      std::to_string(d.sample.bits) + "-bit samples, " +
                      std::to_string(d.accumulator_bits) + "-bit accumulator";
  if (d.output.bits != 0) words += ", " + std::to_string(d.output.bits) + "-bit output";
  return words;
}

bool saturating(const precision_report& r) {
  return r.fixed.path.accumulator_overflow == overflow_mode::saturate;
}

// response.png's chart of a report of `taps` taps.
plot_body response_chart(const precision_report& r, std::int32_t taps) {
  const swept_precision& run = r.sweeps.runs[0];
  response_plot rp;
  rp.taps = taps;
  rp.precision = r.fixed.path.precision;
  rp.setting = setting_of(r);
  rp.saturating = saturating(r);
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

// waves.png's chart of a report; its least significant bit is the sample word's.
plot_body waves_chart(const precision_report& r) {
  waves_plot wp{r.signal.time,
                r.signal.input,
                r.waveform.fixed_output,
                r.reference,
                r.waveform.coefficient_output,
                r.predicted_spectrum,
                {},
                r.waveform.wraps,
                r.fixed.path.sample.fraction_bits,
                setting_of(r),
                saturating(r),
                r.bands.plan.sample_rate};
  // Drawn without the spectra when they cannot be made.
  (void)error_spectra(
      r.waveform.fixed_output, r.reference, r.waveform.coefficient_output,
      std::min({r.signal.time.size(), r.signal.input.size(), r.waveform.fixed_output.size(),
                r.reference.size(), r.waveform.coefficient_output.size()}),
      wp.spectra);
  return waves_body(wp);
}

// A chart to draw: `png_name`, and with --html the SVG `name` on the page under `caption`.
struct chart_picture {
  const char* name;
  const char* png_name;
  const char* caption;
  plot_body body;
};

// Draws `charts` with `gnuplot`, one gnuplot for each picture, all drawing at once, and
// with --html the page showing them; then says on `out` where they went.
outcome draw_charts(const std::string& gnuplot, const std::vector<chart_picture>& charts,
                    const page_content& page, const report_options& options, std::FILE* out) {
  std::vector<std::string> scripts;
  std::vector<std::string> png_names;
  std::vector<page_picture> on_page;
  for (const chart_picture& c : charts) {
    scripts.push_back(picture_script(c.png_name, c.body.width, c.body.height, c.body.script));
    png_names.emplace_back(c.png_name);
    on_page.push_back({c.name, c.caption});
  }
  if (options.html) {
    for (const chart_picture& c : charts)
      scripts.push_back(svg_picture_script(c.name, c.body.width, c.body.height, c.body.script));
  }
  const made_file html = page_file(page, on_page);
  if (outcome drawn = draw_pictures(gnuplot, scripts, png_names, options.dir, {},
                                    options.html ? &html : nullptr);
      !drawn) {
    error e = std::move(drawn).failure();
    e.kind = error_kind::failed;  // the rest can still be said
    return e;
  }
  std::string said = charts.size() > 1 ? "pictures: " : "picture: ";
  for (std::size_t i = 0; i < png_names.size(); ++i) {
    said += (i > 0 ? ", " : "") +
            printable((std::filesystem::path(options.dir) / png_names[i]).string());
  }
  said += "\n" + (options.html ? page_line(options.dir) : std::string());
  return put_out(out, said);
}

// With no gnuplot: with --html, the page without its pictures.
outcome without_gnuplot(const page_content& page, const report_options& options, std::FILE* out) {
  return options.html ? page_without_pictures(page, options.dir, out) : success();
}

}  // namespace

outcome draw_report_pictures(const precision_report& r, std::int32_t taps,
                             const report_options& options, const page_content& page,
                             std::FILE* out, std::FILE* err) {
  const std::string gnuplot =
      gnuplot_or_say(err, std::string(response_png_name) + " and " + waves_png_name);
  if (gnuplot.empty()) return without_gnuplot(page, options, out);
  return draw_charts(gnuplot,
                     {{"response", response_png_name,
                       "The four responses in dB with the bands shaded; below, the pass bands "
                       "zoomed in (response.png).",
                       response_chart(r, taps)},
                      {"waves", waves_png_name,
                       "The first 20 ms of the waveform test, and the spectrum of the output "
                       "error beside its parts (waves.png).",
                       waves_chart(r)}},
                     page, options, out);
}

outcome draw_scan_picture(const scan_report& r, const report_options& options,
                          const page_content& page, std::FILE* out, std::FILE* err) {
  const std::string gnuplot = gnuplot_or_say(err, scan_png_name);
  if (gnuplot.empty()) return without_gnuplot(page, options, out);
  return draw_charts(gnuplot,
                     {{"scan", scan_png_name,
                       "SNR and attenuation against precision, with the wrap-free limit, the "
                       "recommendation and the targets marked; below, the ripple (scan.png).",
                       scan_body({r.rows, r.wrap_free_limit, r.choice.precision, r.targets})}},
                     page, options, out);
}

outcome draw_explore_picture(const search_report& r, const report_options& options,
                             const page_content& page, std::FILE* out, std::FILE* err) {
  const std::string gnuplot = gnuplot_or_say(err, explore_png_name);
  if (gnuplot.empty()) return without_gnuplot(page, options, out);
  return draw_charts(gnuplot,
                     {{"explore", explore_png_name,
                       "The datapaths searched, coloured by their margin to the targets, with "
                       "the front and the recommendation (explore.png).",
                       explore_body({r.measured, r.front, r.recommended, r.targets})}},
                     page, options, out);
}

}  // namespace fixfir
