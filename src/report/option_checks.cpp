// What fixfir-report's options say together: the options each mode needs, what it refuses,
// and the bands, steps and datapath judged once every option is read.
#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/coefficients/coefficient_export.h"
#include "fixfir/drivers/run_counts.h"
#include "option_parsing.h"

namespace fixfir {

namespace {

// A library's "what is wrong" text as an outcome: "" is none.
outcome refused_if(std::string problem) {
  if (problem.empty()) return success();
  return refusal(std::move(problem));
}

// The datapath choices' first fault named as the options spell it; for an export, first
// whether the coefficient word is fixed.
std::string datapath_choices_message(const datapath_choices& c, bool exporting) {
  static constexpr field_spelling option = [](datapath_field f) noexcept {
    constexpr const char* names[] = {
        "--precision",   "--coefficient-bits", "--coefficient-precision",
        "--sample-bits", "--sample-precision", "--accumulator-bits",
        "--output-bits", "--output-precision"};
    return names[static_cast<std::size_t>(f)];
  };
  if (exporting && !export_word_chosen(c))
    return "--export needs --precision or --coefficient-bits";
  const std::optional<datapath_fault> fault = datapath_choices_fault(c);
  return fault ? datapath_fault_text(*fault, option) : std::string();
}

// --export: a datapath the coefficients can be made on; nothing else is run, so what only
// the measurements use (the waveform test, the sweep, the bands, the targets, the cost) is
// refused, as each mode refuses what it does not use. The file's kind is judged when it is
// written.
outcome check_export(const parse_state& s) {
  const report_options& options = s.options;
  if (options.scan || options.html)
    return refusal("--export writes the coefficients only: leave out --scan and --html");
  static constexpr std::string_view unused[] = {
      "--initial",         "--step",       "--ending",  "--sweep-step", "--passband", "--stopband",
      "--min-attenuation", "--max-ripple", "--min-snr", "--cost"};
  for (const std::string_view name : s.given) {
    if (std::find(std::begin(unused), std::end(unused), name) != std::end(unused)) {
      return refusal("--export writes the coefficients only and does not use " + std::string(name) +
                     ": leave it out");
    }
  }
  return refused_if(datapath_choices_message(options.datapath, true));
}

// The datapath options: the summary is measured on the datapath they give; --explore keeps
// the axes they fix; the scan runs on the seed's datapath only.
outcome check_datapath_use(const report_options& options) {
  if (!datapath_options_given(options.datapath)) return success();
  if (outcome made = refused_if(datapath_choices_message(options.datapath, false)); !made)
    return made;
  if (options.scan)
    return refusal(
        "--scan scans the precisions of the seed datapath: use --explore to search datapaths");
  const datapath_choices& c = options.datapath;
  if (options.explore && (c.coefficient_fraction_bits || c.sample_fraction_bits || c.overflow)) {
    return refusal(
        "--explore sets the fractions and the overflow itself: leave out "
        "--coefficient-precision, --sample-precision and --overflow");
  }
  if (options.explore) {
    return refused_if(search_axes_problem(
        {c.coefficient_bits, c.sample_bits, c.accumulator_bits, c.rounding, {}}));
  }
  return success();
}

// Every required option missing, named at once. A scan tries every precision and a search
// every word, so neither needs a precision; nor does a summary whose datapath names both
// words.
outcome check_required(const parse_state& s) {
  static constexpr const char* required[4] = {"--precision", "--initial", "--step", "--ending"};
  const report_options& options = s.options;
  const datapath_choices& c = options.datapath;
  const bool words_given = c.coefficient_bits && c.sample_bits;
  std::vector<const char*> missing;
  for (std::size_t k = options.scan || options.explore || words_given ? 1 : 0; k < 4; ++k) {
    if (!s.seen[k]) missing.push_back(required[k]);
  }
  if (missing.empty()) return success();
  std::string message = "missing ";
  for (std::size_t k = 0; k < missing.size(); ++k)
    message += std::string(k == 0 ? "" : k + 1 == missing.size() ? " and " : ", ") + missing[k];
  return refusal(std::move(message));
}

// Bands of one kind can be judged now; against the other kind only when that is given too
// (inferred bands are judged once they are known).
outcome check_bands(const band_plan& bands) {
  for (const bool pass : {true, false}) {
    if (!(pass ? bands.passbands_given : bands.stopbands_given)) continue;
    if (outcome listed = refused_if(
            band_list_problem(pass ? bands.passbands : bands.stopbands, pass, bands.sample_rate));
        !listed)
      return listed;
  }
  if (bands.passbands_given && bands.stopbands_given) return refused_if(band_plan_problem(bands));
  return success();
}

// The waveform test's step and the sweep's, which takes the waveform test's unless given.
outcome check_steps(parse_state& s) {
  report_options& options = s.options;
  if (options.frequencies.frequency_step == 0) return refusal("--step must not be 0");
  if (const std::int32_t tones = tone_count(options.frequencies); tones > MOST_MEASURED_TONES) {
    return refusal("the waveform test would sum " + std::to_string(tones) + " tones, more than " +
                   std::to_string(MOST_MEASURED_TONES) +
                   ": give a larger --step or a narrower --initial to --ending");
  }
  if (!s.sweep_step_given) options.sweep_step = options.frequencies.frequency_step;
  if (options.sweep_step < 1) {
    const double rate = options.bands.sample_rate;
    return refusal("the sweep step must be at least " + grid_text(1, rate) + " Hz (it is " +
                   grid_text(options.sweep_step, rate) +
                   (s.sweep_step_given ? ")" : "; give --sweep-step)"));
  }
  return success();
}

// The output stage's options other than its width mean nothing alone; --vectors writes one
// datapath's vectors, with the waveform test's input among them.
outcome check_output_options(const parse_state& s) {
  const report_options& options = s.options;
  if (output_choices_without_stage(options.datapath)) {
    for (const std::string_view name : s.given) {
      if (name.starts_with("--output-"))
        return refusal(std::string(name) + " shapes the output word: give --output-bits too");
    }
  }
  if (options.vectors_dir.empty()) return success();
  if (options.scan) return refusal("--vectors writes one datapath's vectors: leave out --scan");
  if (!options.export_file.empty() && !options.explore)
    return refusal(
        "--vectors needs the waveform test, which --export alone does not run: give it on its "
        "own run");
  return success();
}

}  // namespace

outcome check_together(parse_state& s) {
  report_options& options = s.options;
  if (s.seen[0]) options.datapath.precision = options.precision;
  if (options.explore && options.scan)
    return refusal("--explore and --scan are two searches: give one");
  if (outcome output = check_output_options(s); !output) return output;
  // A file of no known kind is a bad value like any other, refused before any work.
  if (!options.export_file.empty()) {
    if (const result<export_format> format = export_format_for(options.export_file); !format)
      return refusal("--export: " + format.failure().message);
  }
  if (!options.export_file.empty() && !options.explore) return check_export(s);
  if (s.cost_given && !options.explore) return refusal("--cost is what --explore minimises");
  if (outcome given = check_required(s); !given) return given;
  if (outcome datapath = check_datapath_use(options); !datapath) return datapath;
  if (outcome bands = check_bands(options.bands); !bands) return bands;
  return check_steps(s);
}

}  // namespace fixfir
