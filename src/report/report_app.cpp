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
#include <vector>

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

namespace fixfir {

namespace {

// Reads the tap file as fixfir does and refuses one that fixfir would read with gaps, or
// with a tap that is not a finite number. False with `message` set when the file cannot be
// used; true with `message` set when more numbers follow the taps, which fixfir never reads
// (a count one short, say).
bool read_taps(const std::string& path, tap_list& list, std::string& message) {
  tap_read_facts facts;
  const std::string shown = printable(path);
  switch (read_tap_file_at(path, list, nullptr, facts, true)) {
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
  } else if (const outcome finite = check_finite_taps(
                 std::span<const float>(list.taps.begin(), static_cast<std::size_t>(list.count)));
             !finite) {
    message = shown + ": " + finite.failure().message;
  } else {
    if (facts.numbers_after > 0) {
      const bool one = facts.numbers_after == 1;
      const std::string more = facts.numbers_after >= tap_numbers_after_limit ? "at least " : "";
      message = shown + ": " + more + std::to_string(facts.numbers_after) +
                (one ? " more number follows the " : " more numbers follow the ") +
                (facts.count == 1 ? std::string("tap") : std::to_string(facts.count) + " taps") +
                " its count gives and " + (one ? "is" : "are") + " not used (is the count right?)";
    }
    return true;
  }
  return false;
}

std::string text_of(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
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
  if (!message.empty()) complain(err, message);  // the run goes on
  return true;
}

// The status of a measurement that failed, after saying why on `err`.
int measurement_failed(std::FILE* err, const error& e) {
  complain(err, e.message);
  return exit_status(e.kind);
}

science_options science_options_for(const report_options& options) {
  science_options s;
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

int report(const report_options& options, std::FILE* out, std::FILE* err) {
  std::string taps_path;
  tap_list list;
  if (!read_run_taps(options, err, taps_path, list)) return 1;
  std::string message;
  const std::span<const float> taps(list.taps.begin(), static_cast<std::size_t>(list.count));
  science_options science = science_options_for(options);
  if (datapath_options_given(options.datapath)) {
    result<datapath> chosen = datapath_from_choices(taps, options.datapath);
    if (!chosen) return measurement_failed(err, chosen.failure());
    science.path = chosen.value();
  }
  precision_report r;
  outcome measured = success();
  with_progress(err, science, [&] {
    measured = run_precision_report(taps, science, r);
    return true;
  });
  if (!measured) return measurement_failed(err, measured.failure());

  std::vector<std::string> lines = report_summary_lines(r, science, taps, printable(taps_path));
  if (std::string verdict = verdict_text(options, r); !verdict.empty())
    lines.push_back(std::move(verdict));
  if (!put_out(out, text_of(lines), message)) {
    complain(err, message);
    return 1;
  }
  page_content page;
  page.title = "fixfir-report: " + std::to_string(list.count) +
               (r.on_path.measured ? " taps on " + datapath_words(r.fixed.path)
                                   : " taps at precision " + std::to_string(options.precision));
  page.summary = lines;
  const pictures_outcome drawn = draw_report_pictures(r, list.count, options, page, out, err);
  return drawn == pictures_outcome::done ? 0 : 1;
}

// --scan: every precision, the table, scan.png, and last the recommendation.
int scan(const report_options& options, std::FILE* out, std::FILE* err) {
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
  const pictures_outcome drawn = draw_scan_picture(r, options, page, out, err);
  if (drawn == pictures_outcome::not_written) return 1;
  const int status = drawn == pictures_outcome::done ? 0 : 1;
  if (!put_out(out, text_of(last), message)) {
    complain(err, message);
    return 1;
  }
  return status;
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
  return c;
}

int export_run(const report_options& options, std::FILE* out, std::FILE* err);

// --explore: the search's targets and front, then the recommendation and why; with
// --export, the recommended datapath's coefficient words in FILE.
int explore(const report_options& options, std::FILE* out, std::FILE* err) {
  // A file the words cannot be written as is refused before any work, as --export alone
  // refuses it: status 1, and nothing searched, drawn or written.
  if (!options.export_file.empty()) {
    if (const result<export_format> format = export_format_for(options.export_file); !format) {
      complain(err, printable("--export: " + format.failure().message));
      return 1;
    }
  }
  std::string taps_path;
  tap_list list;
  if (!read_run_taps(options, err, taps_path, list)) return 1;
  const std::span<const float> taps(list.taps.begin(), static_cast<std::size_t>(list.count));
  const science_options science = science_options_for(options);
  const datapath_choices& c = options.datapath;
  const search_axes axes{c.coefficient_bits, c.sample_bits, c.accumulator_bits, c.rounding};
  search_report r;
  const outcome searched =
      run_datapath_search(taps, science, options.targets, axes, options.cost, r);
  if (!searched) return measurement_failed(err, searched.failure());
  std::vector<std::string> lines = search_lines(r);
  const std::vector<std::string> bands = band_lines(r.bands.plan);
  lines.insert(lines.begin() + 1, bands.begin(), bands.end());
  lines.insert(lines.begin(),
               "taps: " + std::to_string(list.count) + " from " + printable(taps_path));
  lines.insert(lines.begin() + 1,
               std::string("cost: ") + (options.cost == cost_model::bits
                                            ? "coefficient bits + sample bits + accumulator bits"
                                            : "coefficient bits × sample bits + accumulator bits"));
  // The recommendation, its options and why (where none, why and the best reached) come
  // last, after the picture's line.
  constexpr std::ptrdiff_t last_lines = 3;
  const std::vector<std::string> last(lines.end() - last_lines, lines.end());
  lines.erase(lines.end() - last_lines, lines.end());
  std::string message;
  if (!put_out(out, text_of(lines), message)) {
    complain(err, message);
    return 1;
  }
  const pictures_outcome drawn = draw_explore_picture(r, options, out, err);
  if (drawn == pictures_outcome::not_written) return 1;
  if (!put_out(out, text_of(last), message)) {
    complain(err, message);
    return 1;
  }
  const int status = drawn == pictures_outcome::done ? 0 : 1;
  if (options.export_file.empty()) return status;
  if (r.recommended < 0) {
    // An earlier file of that name is not the answer: say so, and fail.
    complain(err, printable("--export: nothing written to " + options.export_file +
                            ": no datapath meets the targets"));
    return 1;
  }
  report_options chosen = options;
  chosen.datapath = choices_of(r.front[static_cast<std::size_t>(r.recommended)].path);
  const int exported = export_run(chosen, out, err);
  return exported != 0 ? exported : status;
}

// --export: the coefficient words in FILE, one line that says what they are, and a second
// when some tap did not fit its word.
int export_run(const report_options& options, std::FILE* out, std::FILE* err) {
  std::string taps_path;
  tap_list list;
  if (!read_run_taps(options, err, taps_path, list)) return 1;
  const std::span<const float> taps(list.taps.begin(), static_cast<std::size_t>(list.count));
  std::optional<result<export_facts>> held;
  {
    // A Ctrl-C while the file is written waits until it is in place or its temporary
    // file is gone, then ends the run as it asked.
    const interrupt_guard guard;
    held.emplace(export_coefficients(taps, options.datapath, options.export_file));
  }
  const result<export_facts>& written = *held;
  // A file of no known kind, like a failed write, is a run that failed: status 1.
  if (!written) {
    const error& e = written.failure();
    complain(err, printable(e.message));
    return 1;
  }
  std::string text = "coefficients: " + printable(options.export_file) + " (" +
                     export_words(written.value()) + ")\n";
  if (const std::string overflow = export_overflow_words(written.value()); !overflow.empty())
    text += "overflow: " + overflow + "\n";
  std::string message;
  if (!put_out(out, text, message)) {
    complain(err, message);
    return 1;
  }
  return 0;
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
  if (parsed.value() == option_action::usage) {
    std::string message;
    if (!put_out(err, report_usage, message)) return 1;
    return 2;
  }
  if (parsed.value() == option_action::help || parsed.value() == option_action::version) {
    const std::string text = parsed.value() == option_action::help
                                 ? std::string(report_usage)
                                 : std::string("fixfir-report ") + report_version + "\n";
    std::string message;
    if (!put_out(out, text, message)) {
      complain(err, message);
      return 1;
    }
    return 0;
  }
  try {
    if (options.explore) return explore(options, out, err);
    if (!options.export_file.empty()) return export_run(options, out, err);
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
