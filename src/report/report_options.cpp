#include "fixfir/report/report_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "fixfir/coefficients/coefficient_export.h"
#include "fixfir/report/printable_text.h"

namespace fixfir {

const char* const report_version = FIXFIR_VERSION;

const char* const report_usage =
    "Usage: fixfir-report --precision P --initial F0 --step DF --ending F1\n"
    "                     [--sweep-step S] [--dir D] [--passband LO:HI]... [--stopband LO:HI]...\n"
    "                     [--html] [--min-attenuation A] [--max-ripple R] [--min-snr S]\n"
    "       fixfir-report --scan --initial F0 --step DF --ending F1 [--sweep-step S] [--dir D]\n"
    "                     [--passband LO:HI]... [--stopband LO:HI]... [--html]\n"
    "                     [--min-attenuation A] [--max-ripple R] [--min-snr S]\n"
    "       fixfir-report --explore --initial F0 --step DF --ending F1 [--sweep-step S]\n"
    "                     [--dir D] [--passband LO:HI]... [--stopband LO:HI]...\n"
    "                     [--min-attenuation A] [--max-ripple R] [--min-snr S]\n"
    "                     [--coefficient-bits W] [--sample-bits W] [--accumulator-bits A]\n"
    "                     [--rounding zero|nearest] [--cost multiplier|bits] [--export FILE]\n"
    "       fixfir-report --export FILE (--precision P | --coefficient-bits W) [--dir D]\n"
    "                     [--coefficient-precision F] [--sample-bits W] [--sample-precision F]\n"
    "                     [--accumulator-bits A] [--rounding zero|nearest|floor]\n"
    "                     [--overflow wrap|saturate]\n"
    "       fixfir-report --version\n"
    "The summary also takes the datapath options after --export's usage, and then is\n"
    "measured on that datapath (--precision is not needed when both words are given).\n"
    "\n"
    "Runs the fixed-point model of fixfir on D/taps.txt beside a double-precision\n"
    "model of the same measurements, prints a summary of what fixed point did to the\n"
    "filter, and draws D/response.png and D/waves.png with gnuplot.\n"
    "\n"
    "  --precision P     fractional bits of the coefficients and samples (scale 2^P)\n"
    "  --initial F0      first tone of the waveform test, in Hz\n"
    "  --step DF         tone spacing of the waveform test, in Hz (not 0)\n"
    "  --ending F1       last tone of the waveform test, in Hz\n"
    "  --sweep-step S    step of the 4 to 8000 Hz response sweep, in Hz (default DF)\n"
    "  --dir D           folder holding taps.txt and receiving the pictures (default .)\n"
    "  --passband LO:HI  a pass band in Hz (repeatable); without it the pass bands are\n"
    "                    inferred from the unquantized taps\n"
    "  --stopband LO:HI  a stop band in Hz (repeatable); inferred likewise without it\n"
    "  --scan            evaluate every precision from 0 to 30, recommend one and draw\n"
    "                    D/scan.png (--precision is not needed)\n"
    "  --min-attenuation A  target: stop-band attenuation in dB (default: the\n"
    "                    unquantized taps' own, less 1 dB)\n"
    "  --max-ripple R    target: pass-band ripple in dB (default: the unquantized\n"
    "                    taps' own, plus 0.1 dB)\n"
    "  --min-snr S       target: SNR of the waveform test in dB (default: none;\n"
    "                    with --explore, the attenuation target)\n"
    "                    With a target the summary ends with whether its fixed-point\n"
    "                    steady state and waveform test meet them, with no wrap\n"
    "  --explore         search the coefficient and sample words (4 to 32 bits) and the\n"
    "                    rounding for the cheapest datapath that meets the scan's\n"
    "                    targets, and draw D/explore.png; a datapath option given fixes\n"
    "                    its axis; with --export, the recommended words are written\n"
    "  --cost C          what --explore minimises: multiplier (coefficient bits times\n"
    "                    sample bits, plus accumulator bits; the default) or bits (the\n"
    "                    three added)\n"
    "  --html            also write D/report.html: the summary, the scan's table and\n"
    "                    the pictures in one page that needs no other file\n"
    "  --help            show this text (given no arguments, it is shown on standard\n"
    "                    error with status 2)\n"
    "  --version         print the version\n"
    "\n"
    "Choosing the datapath (the summary, --explore and --export):\n"
    "  --export FILE     write the coefficient words of D/taps.txt to FILE and stop (no\n"
    "                    summary, no pictures; the waveform test's, the sweep's, the\n"
    "                    bands' and the targets' options are refused). FILE ending in .h\n"
    "                    is a C header, .mem one hexadecimal word a line ($readmemh), .csv\n"
    "                    index, integer and value a line.\n"
    "  --coefficient-bits W  coefficient word of W bits, 2 to 32 (default 32)\n"
    "  --coefficient-precision F  its fractional bits, -32 to 96 (default P; with\n"
    "                    --coefficient-bits, the most that still hold the largest tap)\n"
    "  --sample-bits W   sample word of W bits, 2 to 32 (default 32)\n"
    "  --sample-precision F  its fractional bits, -32 to 96 (default P; with\n"
    "                    --sample-bits, W - 1)\n"
    "  --accumulator-bits A  accumulator of A bits, 8 to 64 (default 32)\n"
    "  --rounding R      zero (truncation, the default), nearest (ties away from zero)\n"
    "                    or floor; --explore searches zero and nearest, and takes either\n"
    "  --overflow O      wrap (the default) or saturate: coefficients, samples and the\n"
    "                    accumulator\n"
    "\n"
    "With datapath options the summary is measured on that datapath; the scan is of the\n"
    "seed datapath's precisions only.\n"
    "\n"
    "Values may also be given as --option=value.\n";

namespace {

// A whole decimal number with an optional sign, nothing else, inside the 32-bit range.
bool parse_whole(std::string_view name, std::string_view text, std::int32_t& value,
                 std::string& message) {
  std::string_view digits = text;
  const bool plus = digits.starts_with('+');
  if (plus) digits.remove_prefix(1);  // from_chars takes a minus but no plus
  if (digits.empty() || (plus && (digits.front() == '-' || digits.front() == '+'))) {
    message = std::string(name) + ": '" + std::string(text) + "' is not a whole number";
    return false;
  }
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (ec == std::errc::result_out_of_range) {
    message = std::string(name) + ": " + std::string(text) + " is out of range";
    return false;
  }
  if (ec != std::errc() || ptr != end) {
    message = std::string(name) + ": '" + std::string(text) + "' is not a whole number";
    return false;
  }
  return true;
}

// A decimal number of decibels, nothing else.
bool parse_decibels(std::string_view name, std::string_view text, double& value,
                    std::string& message) {
  const std::string s(text);
  bool plain = !s.empty() && s.size() < 64;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      plain = false;
  }
  char* end = nullptr;
  if (plain) value = std::strtod(s.c_str(), &end);
  if (!plain || end != s.c_str() + s.size() || !std::isfinite(value)) {
    message = std::string(name) + ": '" + s + "' is not a number of decibels";
    return false;
  }
  return true;
}

// What the options given so far have set, beside the options themselves.
struct parse_state {
  report_options& options;
  std::vector<std::string_view> given = {};     // the names of the options given, in order
  bool seen[4] = {false, false, false, false};  // precision, initial, step, ending
  bool sweep_step_given = false;
  bool cost_given = false;
};

// An option's effect: false, with `message` set, when its value is refused. Flags are
// given an empty value.
using option_handler = bool (*)(parse_state& s, std::string_view name, std::string_view value,
                                std::string& message);

struct option_spec {
  std::string_view name;
  bool takes_value;
  option_handler apply;  // null for --help
};

bool add_band(parse_state& s, std::string_view name, std::string_view value, bool pass,
              std::string& message) {
  const result<band> parsed = parse_band(value);
  if (!parsed) {
    message = std::string(name) + ": " + parsed.failure().message;
    return false;
  }
  (pass ? s.options.bands.passbands : s.options.bands.stopbands).push_back(parsed.value());
  (pass ? s.options.bands.passbands_given : s.options.bands.stopbands_given) = true;
  return true;
}

// A whole number into one of the datapath's choices; its range is judged once all are given.
bool set_choice(std::string_view name, std::string_view value, std::optional<std::int32_t>& choice,
                std::string& message) {
  std::int32_t v = 0;
  if (!parse_whole(name, value, v, message)) return false;
  choice = v;
  return true;
}

constexpr option_spec option_table[] = {
    {"--precision", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.seen[0] = true;
       return parse_whole(n, v, s.options.precision, m);
     }},
    {"--initial", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.seen[1] = true;
       return parse_whole(n, v, s.options.frequencies.initial_frequency, m);
     }},
    {"--step", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.seen[2] = true;
       return parse_whole(n, v, s.options.frequencies.frequency_step, m);
     }},
    {"--ending", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.seen[3] = true;
       return parse_whole(n, v, s.options.frequencies.ending_frequency, m);
     }},
    {"--sweep-step", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.sweep_step_given = true;
       return parse_whole(n, v, s.options.sweep_step, m);
     }},
    {"--dir", true,
     [](parse_state& s, std::string_view, std::string_view v, std::string& m) {
       if (v.empty()) {
         m = "--dir needs a folder name";
         return false;
       }
       s.options.dir = std::string(v);
       return true;
     }},
    {"--passband", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return add_band(s, n, v, true, m);
     }},
    {"--stopband", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return add_band(s, n, v, false, m);
     }},
    {"--scan", false,
     [](parse_state& s, std::string_view, std::string_view, std::string&) {
       s.options.scan = true;
       return true;
     }},
    {"--html", false,
     [](parse_state& s, std::string_view, std::string_view, std::string&) {
       s.options.html = true;
       return true;
     }},
    {"--explore", false,
     [](parse_state& s, std::string_view, std::string_view, std::string&) {
       s.options.explore = true;
       return true;
     }},
    {"--cost", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.cost_given = true;
       if (v == "multiplier") {
         s.options.cost = cost_model::multiplier;
       } else if (v == "bits") {
         s.options.cost = cost_model::bits;
       } else {
         m = std::string(n) + ": '" + std::string(v) + "' is not multiplier or bits";
         return false;
       }
       return true;
     }},
    {"--min-attenuation", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return parse_decibels(n, v, s.options.targets.min_attenuation_db, m);
     }},
    {"--max-ripple", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return parse_decibels(n, v, s.options.targets.max_ripple_db, m);
     }},
    {"--min-snr", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return parse_decibels(n, v, s.options.targets.min_snr_db, m);
     }},
    {"--coefficient-bits", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return set_choice(n, v, s.options.datapath.coefficient_bits, m);
     }},
    {"--coefficient-precision", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return set_choice(n, v, s.options.datapath.coefficient_fraction_bits, m);
     }},
    {"--sample-bits", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return set_choice(n, v, s.options.datapath.sample_bits, m);
     }},
    {"--sample-precision", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return set_choice(n, v, s.options.datapath.sample_fraction_bits, m);
     }},
    {"--accumulator-bits", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       return set_choice(n, v, s.options.datapath.accumulator_bits, m);
     }},
    {"--rounding", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.options.datapath.rounding = rounding_from_option(v);
       if (!s.options.datapath.rounding)
         m = std::string(n) + ": '" + std::string(v) + "' is not zero, nearest or floor";
       return s.options.datapath.rounding.has_value();
     }},
    {"--overflow", true,
     [](parse_state& s, std::string_view n, std::string_view v, std::string& m) {
       s.options.datapath.overflow = overflow_from_option(v);
       if (!s.options.datapath.overflow)
         m = std::string(n) + ": '" + std::string(v) + "' is not wrap or saturate";
       return s.options.datapath.overflow.has_value();
     }},
    {"--export", true,
     [](parse_state& s, std::string_view, std::string_view v, std::string& m) {
       if (v.empty()) {
         m = "--export needs a file name";
         return false;
       }
       s.options.export_file = std::string(v);
       return true;
     }},
    {"--help", false, nullptr},
    {"-h", false, nullptr},
    {"--version", false, nullptr},
};

// The edits (an insertion, a deletion, a substitution or the swap of two neighbours) that
// turn `a` into `b`.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> before(b.size() + 1);
  std::vector<std::size_t> last(b.size() + 1);
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) last[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        row[j] = std::min(row[j], before[j - 2] + 1);
    }
    std::swap(before, last);
    std::swap(last, row);
  }
  return last[b.size()];
}

// The known option an unknown `typed` one most likely meant: the nearest within a third
// of its length (one edit at least), or else the only one that begins with it. Null when
// none is close.
const char* nearest_option(std::string_view typed) {
  typed.remove_prefix(std::min(typed.find_first_not_of('-'), typed.size()));
  if (typed.empty() || typed.size() > 64) return nullptr;
  const option_spec* nearest = nullptr;
  std::size_t nearest_distance = 0;
  const option_spec* extended = nullptr;
  std::size_t extensions = 0;
  for (const option_spec& known : option_table) {
    if (!known.name.starts_with("--")) continue;
    const std::string_view name = known.name.substr(2);
    const std::size_t d = edit_distance(typed, name);
    if (d <= std::max<std::size_t>(1, name.size() / 3) &&
        (nearest == nullptr || d < nearest_distance)) {
      nearest = &known;
      nearest_distance = d;
    }
    if (typed.size() >= 3 && name.starts_with(typed)) {
      extended = &known;
      ++extensions;
    }
  }
  if (nearest != nullptr) return nearest->name.data();
  return extensions == 1 ? extended->name.data() : nullptr;
}

const option_spec* find_option(std::string_view name) noexcept {
  for (const option_spec& spec : option_table) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

// The datapath choices' first fault named as the options spell it; for an export, first
// whether the coefficient word is fixed.
std::string datapath_choices_message(const datapath_choices& c, bool exporting) {
  static constexpr field_spelling option = [](datapath_field f) noexcept {
    constexpr const char* names[] = {
        "--precision",   "--coefficient-bits", "--coefficient-precision",
        "--sample-bits", "--sample-precision", "--accumulator-bits"};
    return names[static_cast<std::size_t>(f)];
  };
  if (exporting && !export_word_chosen(c))
    return "--export needs --precision or --coefficient-bits";
  const std::optional<datapath_fault> fault = datapath_choices_fault(c);
  return fault ? datapath_fault_text(*fault, option) : std::string();
}

// What the options say together: the required ones given, bands
// that make sense, and usable steps. False, with `message` set, when they do not.
// --export: a datapath the coefficients can be made on; nothing else is run, so what only
// the measurements use (the waveform test, the sweep, the bands, the targets, the cost) is
// refused, as each mode refuses what it does not use. The file's kind is judged when it is
// written.
bool check_export(const parse_state& s, std::string& message) {
  const report_options& options = s.options;
  if (options.scan || options.html) {
    message = "--export writes the coefficients only: leave out --scan and --html";
    return false;
  }
  static constexpr std::string_view unused[] = {
      "--initial",         "--step",       "--ending",  "--sweep-step", "--passband", "--stopband",
      "--min-attenuation", "--max-ripple", "--min-snr", "--cost"};
  for (const std::string_view name : s.given) {
    if (std::find(std::begin(unused), std::end(unused), name) != std::end(unused)) {
      message = "--export writes the coefficients only and does not use " + std::string(name) +
                ": leave it out";
      return false;
    }
  }
  message = datapath_choices_message(options.datapath, true);
  return message.empty();
}

// The datapath options: the summary is measured on the datapath they give; --explore keeps
// the axes they fix; the scan runs on the seed's datapath only.
bool check_datapath_use(const report_options& options, std::string& message) {
  if (!datapath_options_given(options.datapath)) return true;
  message = datapath_choices_message(options.datapath, false);
  if (!message.empty()) return false;
  if (options.scan) {
    message = "--scan scans the precisions of the seed datapath: use --explore to search datapaths";
    return false;
  }
  const datapath_choices& c = options.datapath;
  if (options.explore && (c.coefficient_fraction_bits || c.sample_fraction_bits || c.overflow)) {
    message =
        "--explore sets the fractions and the overflow itself: leave out "
        "--coefficient-precision, --sample-precision and --overflow";
    return false;
  }
  if (options.explore) {
    message =
        search_axes_problem({c.coefficient_bits, c.sample_bits, c.accumulator_bits, c.rounding});
    if (!message.empty()) return false;
  }
  return true;
}

bool check_together(parse_state& s, std::string& message) {
  report_options& options = s.options;
  if (s.seen[0]) options.datapath.precision = options.precision;
  if (options.explore && options.scan) {
    message = "--explore and --scan are two searches: give one";
    return false;
  }
  if (!options.export_file.empty() && !options.explore) return check_export(s, message);
  if (options.explore && options.html) {
    message = "--explore draws explore.png but writes no page: leave out --html";
    return false;
  }
  if (s.cost_given && !options.explore) {
    message = "--cost is what --explore minimises";
    return false;
  }
  static constexpr const char* required[4] = {"--precision", "--initial", "--step", "--ending"};
  // A scan tries every precision and a search every word, so neither needs a precision; nor
  // does a summary whose datapath names both words. Every option missing is named at once.
  const datapath_choices& c = options.datapath;
  const bool words_given = c.coefficient_bits && c.sample_bits;
  std::vector<const char*> missing;
  for (std::size_t k = options.scan || options.explore || words_given ? 1 : 0; k < 4; ++k) {
    if (!s.seen[k]) missing.push_back(required[k]);
  }
  if (!missing.empty()) {
    message = "missing ";
    for (std::size_t k = 0; k < missing.size(); ++k)
      message += std::string(k == 0 ? "" : k + 1 == missing.size() ? " and " : ", ") + missing[k];
    return false;
  }
  if (!check_datapath_use(options, message)) return false;
  // Bands of one kind can be judged now; against the other kind only when that is given
  // too (inferred bands are judged once they are known).
  const band_plan& bands = options.bands;
  for (const bool pass : {true, false}) {
    if (!(pass ? bands.passbands_given : bands.stopbands_given)) continue;
    message = band_list_problem(pass ? bands.passbands : bands.stopbands, pass);
    if (!message.empty()) return false;
  }
  if (bands.passbands_given && bands.stopbands_given) {
    message = band_plan_problem(bands);
    if (!message.empty()) return false;
  }
  if (options.frequencies.frequency_step == 0) {
    message = "--step must not be 0";
    return false;
  }
  if (!s.sweep_step_given) options.sweep_step = options.frequencies.frequency_step;
  if (options.sweep_step < 1) {
    message = "the sweep step must be at least 1 Hz (it is " + std::to_string(options.sweep_step) +
              (s.sweep_step_given ? ")" : "; give --sweep-step)");
    return false;
  }
  return true;
}

// The arguments one by one, in order, through the option table. False, with `message`
// set, at the first that is refused; `help` is set by --help.
bool apply_arguments(std::span<const char* const> args, parse_state& s, bool& help,
                     std::string& message) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const std::size_t eq = arg.find('=');
    const bool inline_value = arg.starts_with("--") && eq != std::string_view::npos;
    const std::string_view name = inline_value ? arg.substr(0, eq) : arg;
    const option_spec* spec = find_option(name);
    if (spec == nullptr) {
      message = arg.starts_with("-") ? "unknown option '" + std::string(name) + "'"
                                     : "unexpected argument '" + std::string(arg) + "'";
      if (const char* meant = arg.starts_with("-") ? nearest_option(name) : nullptr)
        message += std::string("; did you mean ") + meant + "?";
      return false;
    }
    std::string_view value;
    if (!spec->takes_value) {
      if (inline_value) {
        message = std::string(name) + " takes no value";
        return false;
      }
      if (spec->apply == nullptr) {
        help = true;
        return true;
      }
    } else if (inline_value) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      message = std::string(name) + " needs a value";
      return false;
    }
    if (!spec->apply(s, name, value, message)) return false;
    s.given.push_back(name);  // as the table spells it: a name is found only whole
  }
  return true;
}

}  // namespace

result<option_action> parse_report_options(std::span<const char* const> args,
                                           report_options& options) {
  options = report_options{};
  if (args.empty()) return option_action::usage;
  // --help wins wherever it is, whatever else is wrong; then --version.
  for (const char* arg : args) {
    const std::string_view a = arg;
    if (a == "--help" || a == "-h") return option_action::help;
  }
  for (const char* arg : args) {
    if (std::string_view(arg) == "--version") return option_action::version;
  }
  parse_state state{options};
  bool help = false;
  std::string message;
  if (apply_arguments(args, state, help, message) && (help || check_together(state, message)))
    return help ? option_action::help : option_action::run;
  // The message quotes what was typed: a line break or a terminal escape in it is shown
  // as an escape, so that the message stays one line and the terminal as it was.
  return make_error(error_kind::bad_input, printable(message));
}

}  // namespace fixfir
