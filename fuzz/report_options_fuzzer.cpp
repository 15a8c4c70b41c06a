// Fuzzes fixfir-report's command line: the input, split at its NUL bytes, is the list of
// Fuzzes fixfir-report's command line: the input, split at its NUL bytes, is the list of
// arguments (an empty input none at all). Parsing never crashes; a refusal is one line
// without control characters, said as the program says it, with status 2 (no arguments
// print the usage there instead); accepted options are ones a report can run with, and
// their datapath choices make a datapath (a search takes only the axes it fixes, and only
// the roundings it searches) whose coefficient words can be written in the format --export
// names. --export alone takes none of the measurements' options; a file name of no known
// kind is refused with the options. No option but a band is accepted twice, and no target
// below 0 dB.

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "fixfir/coefficients/coefficient_export.h"
#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/filter_export.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/sample_rate.h"
#include "fixfir/report/report_app.h"
#include "fixfir/report/report_options.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "report options: %s: %s\n", what, detail.c_str());
  std::abort();
}

bool utf8_locale = false;

// Read as UTF-8 by the C library: every character is well formed and none is a control
// character (C0, DEL or C1), which a terminal would act on.
bool shows_safely(const std::string& text) {
  if (!utf8_locale) {
    for (const char c : text)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
  }
  std::mbstate_t state{};
  for (std::size_t i = 0; i < text.size();) {
    wchar_t c = 0;
    const std::size_t n = std::mbrtowc(&c, text.data() + i, text.size() - i, &state);
    if (n == 0 || n > text.size() - i || std::iswcntrl(static_cast<std::wint_t>(c))) return false;
    i += n;
  }
  return true;
}

// What run_report writes to `out` and `err`, and its status.
struct run_result {
  int status = -1;
  std::string out;
  std::string err;
};

run_result run(const std::vector<const char*>& args) {
  run_result r;
  char* out_text = nullptr;
  char* err_text = nullptr;
  std::size_t out_size = 0;
  std::size_t err_size = 0;
  std::FILE* out = open_memstream(&out_text, &out_size);
  std::FILE* err = open_memstream(&err_text, &err_size);
  if (out == nullptr || err == nullptr) std::abort();
  r.status = fixfir::run_report(args, out, err);
  std::fclose(out);
  std::fclose(err);
  r.out.assign(out_text, out_size);
  r.err.assign(err_text, err_size);
  std::free(out_text);
  std::free(err_text);
  return r;
}

// Accepted bands are within 0 to 8000 internal hertz and printed at the sample rate so that
// the text, given back, reads as the same band.
void check_bands(const std::vector<fixfir::band>& bands, bool given, bool pass, double rate) {
  if (given == bands.empty()) fail("bands", "given without a band, or a band not given");
  for (const fixfir::band& b : bands) {
    if (!(b.low >= 0.0 && b.low < b.high && b.high <= fixfir::NYQUIST_HZ) || std::signbit(b.low))
      fail("band", fixfir::band_text(b));
    const std::string low = fixfir::rate_hertz_text(b.low, rate);
    const std::string high = fixfir::rate_hertz_text(b.high, rate);
    const fixfir::result<fixfir::band> again = fixfir::parse_band(low + ":" + high, rate);
    if (!again || again.value().low != b.low || again.value().high != b.high)
      fail("a band printed at the rate reads back otherwise", low + ":" + high);
  }
  const std::string problem = fixfir::band_list_problem(bands, pass, rate);
  if (!problem.empty()) fail("accepted bands with a problem", problem);
}

// Accepted tones and steps are printed at the sample rate so that they read back the same.
void check_frequencies(const fixfir::report_options& o) {
  const double rate = o.bands.sample_rate;
  if (!fixfir::good_sample_rate(rate)) fail("accepted sample rate", std::to_string(rate));
  const auto& f = o.frequencies;
  for (const std::int32_t hz :
       {f.initial_frequency, f.frequency_step, f.ending_frequency, o.sweep_step}) {
    const std::string text = fixfir::grid_text(hz, rate);
    const std::optional<double> read = fixfir::parse_plain_decimal(text);
    if (!read || fixfir::grid_hertz(*read, rate) != hz)
      fail("a frequency printed at the rate reads back otherwise", text);
  }
}

// The datapath accepted choices make, on taps that need every kind of fraction: the scan
// takes none, the search none it sets itself; otherwise it is within its limits and its
// filter can be made, and when exported its words go into each format with one word a line.
void check_datapath(const fixfir::report_options& options) {
  const bool exporting = !options.export_file.empty();
  const fixfir::datapath_choices& c = options.datapath;
  // The output stage's shape needs its width; vectors need the waveform test of one datapath.
  if (fixfir::output_choices_without_stage(c)) fail("output options without --output-bits", "");
  if (!options.vectors_dir.empty() && (options.scan || (exporting && !options.explore)))
    fail("vectors accepted without a waveform test", options.vectors_dir);
  if (!fixfir::datapath_options_given(c)) {
    if (!exporting) return;
  } else if (options.scan) {
    fail("a scan accepted datapath options", "");
  }
  if (options.explore) {
    if (c.coefficient_fraction_bits || c.sample_fraction_bits || c.overflow)
      fail("a search accepted a fraction or an overflow", "");
    if (c.rounding == fixfir::rounding_mode::floor) fail("a search accepted floor", "");
    if (!fixfir::search_axes_problem(
             {c.coefficient_bits, c.sample_bits, c.accumulator_bits, c.rounding,
              fixfir::search_output_stage(std::vector<float>{0.5f, -0.25f}, c)})
             .empty())
      fail("a search accepted axes it cannot search", "");
    return;  // the search's recommendation is what it exports
  }
  static const std::vector<float> taps{0.5f, -0.25f, 3.0f, 0.0f, -1e-6f};
  const fixfir::result<fixfir::datapath> d = fixfir::datapath_from_choices(taps, c);
  if (!d) fail("accepted choices that make no datapath", d.failure().message);
  if (const std::string problem = fixfir::datapath_problem(d.value()); !problem.empty())
    fail("accepted a datapath with a problem", problem);
  const fixfir::result<fixfir::fixed_filter> f = fixfir::make_fixed_filter(taps, d.value());
  if (!f) fail("no filter on an accepted datapath", f.failure().message);
  if (!exporting) return;
  if (!fixfir::export_choices_problem(c).empty())
    fail("accepted export choices", fixfir::export_choices_problem(c));
  // A file name of no known kind is refused when the file is written.
  const fixfir::result<fixfir::export_format> format =
      fixfir::export_format_for(options.export_file);
  if (!format) return;
  if (fixfir::exports_filter(format.value())) {
    // The whole filter: fixed names only, whatever the file is called.
    const std::string module = fixfir::verilog_module_text(f.value());
    const std::string bench = fixfir::verilog_testbench_text(f.value());
    const std::string c_text = fixfir::c_filter_text(f.value());
    if (!module.starts_with("// fixfir_filter: ") || !module.ends_with("endmodule\n") ||
        !bench.ends_with("endmodule\n") ||
        c_text.find("int64_t fixfir_filter_step(") == std::string::npos)
      fail("a filter's text", module);
    for (const std::string* text : {&module, &bench, &c_text}) {
      for (const char ch : *text) {
        if ((ch < ' ' || ch > '~') && ch != '\n')
          fail("a filter's text holds a byte beyond ASCII", *text);
      }
    }
    return;
  }
  const std::string text =
      fixfir::export_text(format.value(), f.value().coefficients, f.value().path.coefficient);
  std::size_t lines = 0;
  for (const char ch : text) lines += ch == '\n';
  if (format.value() == fixfir::export_format::memory_image && lines != taps.size())
    fail("memory image lines", text);
  if (format.value() == fixfir::export_format::csv && lines != taps.size() + 1)
    fail("table lines", text);
}

// An accepted command line gives each option once, but for the bands, which add up.
void check_no_repeats(const std::vector<const char*>& args) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name(args[i]);
    if (!name.starts_with("--")) continue;
    const bool inline_value = name.find('=') != std::string::npos;
    name = name.substr(0, name.find('='));
    const bool flag = name == "--scan" || name == "--html" || name == "--explore";
    if (!flag && !inline_value) ++i;  // the next argument is its value
    if (name == "--passband" || name == "--stopband") continue;
    for (const std::string& earlier : names) {
      if (earlier == name) fail("accepted an option twice", name);
    }
    names.push_back(name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  utf8_locale = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(size == 0 ? 0 : 1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back() += static_cast<char>(data[i]);
  }
  std::vector<const char*> args;
  for (const std::string& w : words) args.push_back(w.c_str());

  fixfir::report_options options;
  const fixfir::result<fixfir::option_action> parsed = fixfir::parse_report_options(args, options);
  if (!parsed) {
    const std::string& message = parsed.failure().message;
    if (parsed.failure().kind != fixfir::error_kind::bad_input) fail("refusal kind", message);
    if (message.empty()) fail("refusal", "no message");
    if (!shows_safely(message)) fail("message with a control character", message);
    // A choice beyond its limits is named as its option, never in the library's plain words
    // (which a refusal may quote only from what was typed, after its own words).
    for (const fixfir::datapath_field f :
         {fixfir::datapath_field::precision, fixfir::datapath_field::coefficient_bits,
          fixfir::datapath_field::coefficient_fraction_bits, fixfir::datapath_field::sample_bits,
          fixfir::datapath_field::sample_fraction_bits, fixfir::datapath_field::accumulator_bits,
          fixfir::datapath_field::output_bits, fixfir::datapath_field::output_fraction_bits}) {
      if (message.starts_with(std::string(fixfir::datapath_field_words(f)) + " must"))
        fail("a choice named in plain words", message);
    }
    const run_result r = run(args);
    if (r.status != 2) fail("refusal status", std::to_string(r.status));
    if (!r.out.empty()) fail("refusal wrote to standard output", r.out);
    if (r.err != "fixfir-report: " + message + " (see --help)\n") fail("refusal said", r.err);
    return 0;
  }
  switch (parsed.value()) {
    case fixfir::option_action::help: {
      const run_result r = run(args);
      if (r.status != 0 || r.out != fixfir::report_usage || !r.err.empty()) fail("help", r.err);
      break;
    }
    case fixfir::option_action::usage: {
      if (!args.empty()) fail("usage without a refusal", "arguments given");
      const run_result r = run(args);
      if (r.status != 2 || !r.out.empty() || r.err != fixfir::report_usage) fail("usage", r.out);
      break;
    }
    case fixfir::option_action::version: {
      const run_result r = run(args);
      if (r.status != 0 || r.out != std::string("fixfir-report ") + fixfir::report_version + "\n" ||
          !r.err.empty())
        fail("version", r.out);
      break;
    }
    case fixfir::option_action::run: {
      check_no_repeats(args);
      // Not run: a report reads taps.txt from --dir and draws pictures there, an export
      // writes a file.
      check_datapath(options);
      if (!options.export_file.empty() && !options.explore) {
        // What only the measurements use is refused with --export alone.
        const fixfir::frequency_settings& f = options.frequencies;
        if (f.initial_frequency != 0 || f.frequency_step != 0 || f.ending_frequency != 0 ||
            options.sweep_step != 0 || options.bands.passbands_given ||
            options.bands.stopbands_given || options.cost != fixfir::cost_model::multiplier)
          fail("--export accepted an option it does not use", "");
        for (const double target : {options.targets.min_attenuation_db,
                                    options.targets.max_ripple_db, options.targets.min_snr_db}) {
          if (!std::isnan(target)) fail("--export accepted a target", std::to_string(target));
        }
        break;
      }
      if (!options.export_file.empty() && !fixfir::export_format_for(options.export_file))
        fail("accepted an export of no known kind", options.export_file);
      for (const double target : {options.targets.min_attenuation_db, options.targets.max_ripple_db,
                                  options.targets.min_snr_db}) {
        if (target < 0.0 || std::isinf(target)) fail("accepted a target", std::to_string(target));
      }
      if (options.frequencies.frequency_step == 0 || options.sweep_step < 1)
        fail("accepted steps", std::to_string(options.sweep_step));
      if (options.dir.empty()) fail("accepted folder", "empty");
      check_bands(options.bands.passbands, options.bands.passbands_given, true,
                  options.bands.sample_rate);
      check_bands(options.bands.stopbands, options.bands.stopbands_given, false,
                  options.bands.sample_rate);
      check_frequencies(options);
      if (options.bands.passbands_given && options.bands.stopbands_given) {
        const std::string problem = fixfir::band_plan_problem(options.bands);
        if (!problem.empty()) fail("accepted a plan with a problem", problem);
      }
      // Targets are the summary's, the scan's and the search's alike: decibels, never
      // infinite.
      for (const double target : {options.targets.min_attenuation_db, options.targets.max_ripple_db,
                                  options.targets.min_snr_db}) {
        if (std::isinf(target)) fail("accepted target", std::to_string(target));
      }
      break;
    }
  }
  return 0;
}
