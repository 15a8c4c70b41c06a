#include "report_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "printable_text.h"

namespace fixfir {

const char* const report_usage =
    "Usage: fixfir-report --precision P --initial F0 --step DF --ending F1\n"
    "                     [--sweep-step S] [--dir D] [--passband LO:HI]... [--stopband LO:HI]...\n"
    "                     [--html]\n"
    "       fixfir-report --scan --initial F0 --step DF --ending F1 [--sweep-step S] [--dir D]\n"
    "                     [--passband LO:HI]... [--stopband LO:HI]... [--html]\n"
    "                     [--min-attenuation A] [--max-ripple R] [--min-snr S]\n"
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
    "  --min-attenuation A  scan target: stop-band attenuation in dB (default: the\n"
    "                    unquantized taps' own, less 1 dB)\n"
    "  --max-ripple R    scan target: pass-band ripple in dB (default: the unquantized\n"
    "                    taps' own, plus 0.1 dB)\n"
    "  --min-snr S       scan target: SNR of the waveform test in dB (default: none)\n"
    "  --html            also write D/report.html: the summary, the scan's table and\n"
    "                    the pictures in one page that needs no other file\n"
    "  --help            show this text\n"
    "\n"
    "Values may also be given as --option=value.\n";

namespace {

enum class option_id {
  precision,
  initial,
  step,
  ending,
  sweep_step,
  dir,
  passband,
  stopband,
  scan,
  html,
  min_attenuation,
  max_ripple,
  min_snr,
  help,
  unknown
};

option_id identify(std::string_view name) noexcept {
  if (name == "--precision") return option_id::precision;
  if (name == "--initial") return option_id::initial;
  if (name == "--step") return option_id::step;
  if (name == "--ending") return option_id::ending;
  if (name == "--sweep-step") return option_id::sweep_step;
  if (name == "--dir") return option_id::dir;
  if (name == "--passband") return option_id::passband;
  if (name == "--stopband") return option_id::stopband;
  if (name == "--scan") return option_id::scan;
  if (name == "--html") return option_id::html;
  if (name == "--min-attenuation") return option_id::min_attenuation;
  if (name == "--max-ripple") return option_id::max_ripple;
  if (name == "--min-snr") return option_id::min_snr;
  if (name == "--help" || name == "-h") return option_id::help;
  return option_id::unknown;
}

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

option_result parse_options(std::span<const char* const> args, report_options& options,
                            std::string& message) {
  options = report_options{};
  bool seen[4] = {false, false, false, false};  // precision, initial, step, ending
  bool sweep_step_given = false;
  bool targets_given = false;
  // --help wins wherever it is, whatever else is wrong.
  for (const char* arg : args) {
    const std::string_view a = arg;
    if (a == "--help" || a == "-h") return option_result::help;
  }

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const std::size_t eq = arg.find('=');
    const bool inline_value = arg.starts_with("--") && eq != std::string_view::npos;
    const std::string_view name = inline_value ? arg.substr(0, eq) : arg;
    const option_id id = identify(name);

    if (id == option_id::unknown) {
      message = arg.starts_with("-") ? "unknown option '" + std::string(name) + "'"
                                     : "unexpected argument '" + std::string(arg) + "'";
      return option_result::error;
    }
    if (id == option_id::scan || id == option_id::html) {
      if (inline_value) {
        message = std::string(name) + " takes no value";
        return option_result::error;
      }
      (id == option_id::scan ? options.scan : options.html) = true;
      continue;
    }
    if (id == option_id::help) {
      if (inline_value) {
        message = std::string(name) + " takes no value";
        return option_result::error;
      }
      return option_result::help;
    }

    std::string_view value;
    if (inline_value) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      message = std::string(name) + " needs a value";
      return option_result::error;
    }

    std::int32_t* target = nullptr;
    switch (id) {
      case option_id::precision:
        target = &options.precision;
        seen[0] = true;
        break;
      case option_id::initial:
        target = &options.frequencies.initial_frequency;
        seen[1] = true;
        break;
      case option_id::step:
        target = &options.frequencies.frequency_step;
        seen[2] = true;
        break;
      case option_id::ending:
        target = &options.frequencies.ending_frequency;
        seen[3] = true;
        break;
      case option_id::sweep_step:
        target = &options.sweep_step;
        sweep_step_given = true;
        break;
      case option_id::dir:
        if (value.empty()) {
          message = "--dir needs a folder name";
          return option_result::error;
        }
        options.dir = std::string(value);
        continue;
      case option_id::passband:
      case option_id::stopband: {
        band b;
        if (!parse_band(value, b, message)) {
          message = std::string(name) + ": " + message;
          return option_result::error;
        }
        const bool pass = id == option_id::passband;
        (pass ? options.bands.passbands : options.bands.stopbands).push_back(b);
        (pass ? options.bands.passbands_given : options.bands.stopbands_given) = true;
        continue;
      }
      case option_id::min_attenuation:
      case option_id::max_ripple:
      case option_id::min_snr: {
        double& goal = id == option_id::min_attenuation ? options.targets.min_attenuation_db
                       : id == option_id::max_ripple    ? options.targets.max_ripple_db
                                                        : options.targets.min_snr_db;
        if (!parse_decibels(name, value, goal, message)) return option_result::error;
        targets_given = true;
        continue;
      }
      case option_id::scan:
      case option_id::html:
      case option_id::help:
      case option_id::unknown:
        break;
    }
    if (target != nullptr && !parse_whole(name, value, *target, message)) {
      return option_result::error;
    }
  }

  static constexpr const char* required[4] = {"--precision", "--initial", "--step", "--ending"};
  // A scan tries every precision, so it needs none.
  for (std::size_t k = options.scan ? 1 : 0; k < 4; ++k) {
    if (!seen[k]) {
      message = std::string("missing ") + required[k];
      return option_result::error;
    }
  }
  if (targets_given && !options.scan) {
    message = "--min-attenuation, --max-ripple and --min-snr are targets of --scan";
    return option_result::error;
  }
  // Bands of one kind can be judged now; against the other kind only when that is given
  // too (inferred bands are judged once they are known).
  const band_plan& bands = options.bands;
  for (const bool pass : {true, false}) {
    if (!(pass ? bands.passbands_given : bands.stopbands_given)) continue;
    message = band_list_problem(pass ? bands.passbands : bands.stopbands, pass);
    if (!message.empty()) return option_result::error;
  }
  if (bands.passbands_given && bands.stopbands_given) {
    message = band_plan_problem(bands);
    if (!message.empty()) return option_result::error;
  }
  if (options.frequencies.frequency_step == 0) {
    message = "--step must not be 0";
    return option_result::error;
  }
  if (!sweep_step_given) options.sweep_step = options.frequencies.frequency_step;
  if (options.sweep_step < 1) {
    message = "the sweep step must be at least 1 Hz (it is " + std::to_string(options.sweep_step) +
              (sweep_step_given ? ")" : "; give --sweep-step)");
    return option_result::error;
  }
  return option_result::run;
}

}  // namespace

option_result parse_report_options(std::span<const char* const> args, report_options& options,
                                   std::string& message) {
  const option_result result = parse_options(args, options, message);
  // The message quotes what was typed: a line break or a terminal escape in it is shown
  // as an escape, so that the message stays one line and the terminal as it was.
  if (result == option_result::error) message = printable(message);
  return result;
}

}  // namespace fixfir
