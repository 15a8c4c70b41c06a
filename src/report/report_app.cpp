#include "fixfir/report/report_app.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "cell_cost.h"
#include "fixfir/coefficients/coefficient_export.h"
#include "fixfir/coefficients/tap_file.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/common/records.h"
#include "fixfir/drivers/run_counts.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/summary_text.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/report/printable_text.h"
#include "fixfir/report/report_html.h"
#include "fixfir/report/report_options.h"
#include "fixfir/report/report_output.h"
#include "fixfir/report/report_pictures.h"
#include "fixfir/report/report_progress.h"
#include "picture_run.h"
#include "run_taps.h"
#include "search_page.h"
#include "vectors_run.h"

namespace fixfir {

namespace {

std::string text_of(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

// Runs `work` with a progress bar for the sweep on `err`, cleared on every way out.
template <typename Work>
auto with_progress(std::FILE* err, report_request& options, Work work) {
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

report_request request_for(const report_options& options) {
  report_request s;
  s.precision = options.precision;
  s.tones = options.frequencies;
  s.sweep_step = options.sweep_step;
  s.given = options.bands;
  return s;
}

// The summary's last line, the verdict on the targets, when any is given; "" otherwise.
std::string verdict_text(const report_options& o, const precision_report& r) {
  const precision_targets& t = o.targets;
  if (std::isnan(t.min_attenuation_db) && std::isnan(t.max_ripple_db) && std::isnan(t.min_snr_db))
    return {};
  return report_verdict_line(r, t);
}

// The status of a step: 0 when it went well, else its failure's, said on `err`.
int said_status(std::FILE* err, const outcome& step) {
  return step ? 0 : say_failure(err, step.failure());
}

// Whether a failure of the pictures leaves the run nothing more to say: standard output (or
// the page) could not be written. Pictures not drawn leave the rest to be said.
bool output_lost(const outcome& drawn) {
  return !drawn && drawn.failure().kind == error_kind::cannot_write;
}

int report(const report_options& options, std::FILE* out, std::FILE* err) {
  if (const int refused = refuse_vectors_folder(options, err); refused != 0) return refused;
  const result<run_taps> read = read_run_taps(options, err);
  if (!read) return say_failure(err, read.failure());
  const std::span<const float> taps = taps_of(read.value());
  report_request request = request_for(options);
  if (datapath_options_given(options.datapath)) {
    result<datapath> chosen = datapath_from_choices(taps, options.datapath);
    if (!chosen) return say_failure(err, chosen.failure());
    request.path = chosen.value();
  }
  precision_report r;
  outcome measured = success();
  with_progress(err, request, [&] {
    measured = run_precision_report(taps, request, r);
    return true;
  });
  if (!measured) return say_failure(err, measured.failure());

  std::vector<std::string> lines = report_summary_lines(r, request, taps, read.value().path);
  if (std::string verdict = verdict_text(options, r); !verdict.empty())
    lines.push_back(std::move(verdict));
  if (const outcome put = put_out(out, text_of(lines)); !put)
    return say_failure(err, put.failure());
  const datapath path = request.path ? *request.path : precision_datapath(options.precision);
  if (const int written = write_run_vectors(options, taps, path, out, err); written != 0)
    return written;
  page_content page;
  const std::int32_t count = read.value().list.count;
  page.title = "fixfir-report: " + std::to_string(count) +
               (std::holds_alternative<precision_bounds>(r.asked)
                    ? " taps at precision " + std::to_string(r.fixed.path.precision)
                    : " taps on " + datapath_words(r.fixed.path));
  page.summary = lines;
  return said_status(err, draw_report_pictures(r, count, options, page, out, err));
}

// The scan's page: its summary without the table, which the page shows as a table, and
// the recommendation (`last`).
page_content scan_page(const scan_report& r, std::int32_t count,
                       const std::vector<std::string>& lines,
                       const std::vector<std::string>& last) {
  page_content page;
  page.title = "fixfir-report: which precision for " + std::to_string(count) + " taps";
  page.scan_table = scan_table(r.rows);
  page.summary = lines;
  if (const auto at =
          std::search(lines.begin(), lines.end(), page.scan_table.begin(), page.scan_table.end());
      at != lines.end()) {
    page.summary.erase(page.summary.begin() + (at - lines.begin()),
                       page.summary.begin() + (at - lines.begin()) +
                           static_cast<std::ptrdiff_t>(page.scan_table.size()));
  }
  if (r.choice.precision) page.recommended = std::to_string(*r.choice.precision);
  page.choice = last;
  return page;
}

// How a run's text and picture went: the status so far, and whether all its output was
// written, so that the run can go on.
struct said {
  int status = 0;
  bool written = true;
};

// Says `lines` on `out`, then draws with `draw`, then says `last`: the recommendation comes
// after the picture's line. Pictures not drawn fail the run once everything is said.
template <typename Draw>
said lines_picture_last(const std::vector<std::string>& lines, const std::vector<std::string>& last,
                        Draw draw, std::FILE* out, std::FILE* err) {
  if (const outcome put = put_out(out, text_of(lines)); !put)
    return {say_failure(err, put.failure()), false};
  const outcome drawn = draw();
  const int status = said_status(err, drawn);
  if (output_lost(drawn)) return {status, false};
  if (const outcome put = put_out(out, text_of(last)); !put)
    return {say_failure(err, put.failure()), false};
  return {status, true};
}

// The lines of a run on `read`: "taps: N from D/taps.txt" first.
std::string taps_line(const run_taps& read) {
  return "taps: " + std::to_string(read.list.count) + " from " + read.path;
}

// The last `count` of `lines`, taken from them.
std::vector<std::string> take_last(std::vector<std::string>& lines, std::ptrdiff_t count) {
  std::vector<std::string> last(lines.end() - count, lines.end());
  lines.erase(lines.end() - count, lines.end());
  return last;
}

// --scan: every precision, the table, scan.png, and last the recommendation.
int scan(const report_options& options, std::FILE* out, std::FILE* err) {
  const result<run_taps> read = read_run_taps(options, err);
  if (!read) return say_failure(err, read.failure());
  report_request request = request_for(options);
  scan_report r;
  outcome measured = success();
  with_progress(err, request, [&] {
    measured = run_scan(taps_of(read.value()), request, options.targets, r);
    return true;
  });
  if (!measured) return say_failure(err, measured.failure());
  std::vector<std::string> lines = scan_lines(r);
  const std::vector<std::string> last = take_last(lines, 2);
  lines.insert(lines.begin(), taps_line(read.value()));
  const page_content page = scan_page(r, read.value().list.count, lines, last);
  auto draw = [&] { return draw_scan_picture(r, options, page, out, err); };
  return lines_picture_last(lines, last, draw, out, err).status;
}

// The choices that make `d` again, for the export of a search's recommendation.
datapath_choices choices_of(const datapath& d) {
  datapath_choices c;
  c.coefficient_bits = d.coefficient.bits;
  c.coefficient_fraction_bits = d.coefficient.fraction_bits;
  c.sample_bits = d.sample.bits;
  c.sample_fraction_bits = d.sample.fraction_bits;
  c.accumulator_bits = d.accumulator_bits;
  c.rounding = d.coefficient.rounding;
  c.overflow = d.sample.overflow;
  if (d.output.bits != 0) {
    c.output_bits = d.output.bits;
    c.output_fraction_bits = d.output.fraction_bits;
    c.output_rounding = d.output.rounding;
    c.output_overflow = d.output.overflow;
  }
  return c;
}

int export_run(const report_options& options, std::FILE* out, std::FILE* err);

// The search's lines as the run says them: the taps and the cost first, the bands after the
// targets.
std::vector<std::string> explore_lines(const search_report& r, const run_taps& read,
                                       cost_model cost) {
  std::vector<std::string> lines = search_lines(r);
  const std::vector<std::string> bands = band_lines(r.bands.plan);
  lines.insert(lines.begin() + 1, bands.begin(), bands.end());
  lines.insert(lines.begin(), taps_line(read));
  const char* formula = cost == cost_model::bits
                            ? "coefficient bits + sample bits + accumulator bits"
                            : "coefficient bits × sample bits + accumulator bits";
  lines.insert(lines.begin() + 1, std::string("cost: ") + formula +
                                      (cost == cost_model::cells
                                           ? ", then the cheapest few synthesized: the fewest cells"
                                           : ""));
  return lines;
}

// --export after --explore: the recommended datapath's words, or a failure when there is
// none (an earlier file of that name is not the answer).
int export_recommended(const search_report& r, const report_options& options, std::FILE* out,
                       std::FILE* err) {
  if (!r.recommended) {
    return say_failure(
        err, make_error(error_kind::failed, "--export: nothing written to " + options.export_file +
                                                ": no datapath meets the targets"));
  }
  report_options chosen = options;
  chosen.datapath = choices_of(r.front[*r.recommended].path);
  return export_run(chosen, out, err);
}

// --explore: the search's targets and front, then the recommendation and why; with
// --export, the recommended datapath's coefficient words in FILE.
int explore(const report_options& options, std::FILE* out, std::FILE* err) {
  // A file of no known kind was refused with the other options (status 2), before any work.
  if (const int refused = refuse_vectors_folder(options, err); refused != 0) return refused;
  const result<run_taps> read = read_run_taps(options, err);
  if (!read) return say_failure(err, read.failure());
  const report_request request = request_for(options);
  const datapath_choices& c = options.datapath;
  const search_axes axes{c.coefficient_bits, c.sample_bits, c.accumulator_bits, c.rounding,
                         search_output_stage(taps_of(read.value()), c)};
  search_report r;
  const outcome searched =
      run_datapath_search(taps_of(read.value()), request, options.targets, axes, options.cost, r);
  if (!searched) return say_failure(err, searched.failure());
  std::vector<std::string> cell_lines;
  if (options.cost == cost_model::cells) {
    result<std::vector<std::string>> cells = cells_for_explore(taps_of(read.value()), r, err);
    if (!cells) return say_failure(err, cells.failure());
    cell_lines = std::move(cells.value());
  }
  std::vector<std::string> lines = explore_lines(r, read.value(), options.cost);
  lines.insert(lines.end() - 3, cell_lines.begin(), cell_lines.end());
  // The recommendation, its options and why (where none, why and the best reached) come
  // last, after the picture's line.
  const std::vector<std::string> last = take_last(lines, 3);
  const page_content page = search_page(r, read.value().list.count, lines, last);
  auto draw = [&] { return draw_explore_picture(r, options, page, out, err); };
  const said shown = lines_picture_last(lines, last, draw, out, err);
  if (!shown.written) return shown.status;
  if (!options.vectors_dir.empty()) {
    if (!r.recommended) {
      return say_failure(err, make_error(error_kind::failed,
                                         "--vectors: nothing written to " + options.vectors_dir +
                                             ": no datapath meets the targets"));
    }
    const datapath& best = r.front[*r.recommended].path;
    if (const int written = write_run_vectors(options, taps_of(read.value()), best, out, err);
        written != 0)
      return written;
  }
  if (options.export_file.empty()) return shown.status;
  const int exported = export_recommended(r, options, out, err);
  return exported != 0 ? exported : shown.status;
}

// --export: the coefficient words in FILE, one line that says what they are, and a second
// when some tap did not fit its word.
int export_run(const report_options& options, std::FILE* out, std::FILE* err) {
  const result<run_taps> read = read_run_taps(options, err);
  if (!read) return say_failure(err, read.failure());
  std::optional<result<export_facts>> held;
  {
    // A Ctrl-C while the file is written waits until it is in place or its temporary
    // file is gone, then ends the run as it asked.
    const interrupt_guard guard;
    held.emplace(export_coefficients(taps_of(read.value()), options.datapath, options.export_file));
  }
  const result<export_facts>& written = *held;
  // A file of no known kind, like a failed write, is a run that failed: status 1.
  if (!written) {
    error e = written.failure();
    e.kind = error_kind::failed;
    return say_failure(err, e);
  }
  std::string text = std::string(export_kind_words(written.value().format)) + ": " +
                     printable(options.export_file) + " (" + export_words(written.value()) + ")\n";
  if (const std::string overflow = export_overflow_words(written.value()); !overflow.empty())
    text += "overflow: " + overflow + "\n";
  return said_status(err, put_out(out, text));
}

// --help, --version, or the usage as a refusal when there are no arguments.
int say_usage(option_action action, std::FILE* out, std::FILE* err) {
  if (action == option_action::usage) return put_out(err, report_usage) ? 2 : 1;
  const std::string text = action == option_action::help
                               ? std::string(report_usage)
                               : std::string("fixfir-report ") + report_version + "\n";
  return said_status(err, put_out(out, text));
}

}  // namespace

int run_report(std::span<const char* const> args, std::FILE* out, std::FILE* err) {
  report_options options;
  const result<option_action> parsed = parse_report_options(args, options);
  if (!parsed) {
    error refused = parsed.failure();
    refused.message += " (see --help)";
    return say_failure(err, refused);
  }
  if (parsed.value() != option_action::run) return say_usage(parsed.value(), out, err);
  try {
    if (options.explore) return explore(options, out, err);
    if (!options.export_file.empty()) return export_run(options, out, err);
    return options.scan ? scan(options, out, err) : report(options, out, err);
  } catch (const std::bad_alloc&) {
    return say_failure(err, out_of_memory_error());
  } catch (const std::system_error& e) {
    // A thread that cannot be started (a process limit, too little address space).
    return say_failure(err,
                       make_error(error_kind::failed, std::string("cannot go on: ") + e.what()));
  }
}

}  // namespace fixfir
