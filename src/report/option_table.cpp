// fixfir-report's options, one table: each option's name, whether it takes a value, and
// what it sets; the reading of the values; and the pass over the arguments through it,
// with the nearest known option offered for one that is not.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "option_parsing.h"

namespace fixfir {

namespace {

// A whole decimal number with an optional sign, nothing else, inside the 32-bit range.
outcome parse_whole(std::string_view name, std::string_view text, std::int32_t& value) {
  std::string_view digits = text;
  const bool plus = digits.starts_with('+');
  if (plus) digits.remove_prefix(1);  // from_chars takes a minus but no plus
  const std::string not_whole =
      std::string(name) + ": '" + std::string(text) + "' is not a whole number";
  if (digits.empty() || (plus && (digits.front() == '-' || digits.front() == '+')))
    return refusal(not_whole);
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (ec == std::errc::result_out_of_range)
    return refusal(std::string(name) + ": " + std::string(text) + " is out of range");
  if (ec != std::errc() || ptr != end) return refusal(not_whole);
  return success();
}

// A decimal number of decibels, nothing else.
outcome parse_decibels(std::string_view name, std::string_view text, double& value) {
  const std::string s(text);
  bool plain = !s.empty() && s.size() < 64;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      plain = false;
  }
  char* end = nullptr;
  if (plain) value = std::strtod(s.c_str(), &end);
  if (!plain || end != s.c_str() + s.size() || !std::isfinite(value))
    return refusal(std::string(name) + ": '" + s + "' is not a number of decibels");
  return success();
}

// A target: decibels, 0 or more (an attenuation, a ripple or a ratio below 0 dB is no
// target a filter is held to).
outcome parse_target(std::string_view name, std::string_view text, double& value) {
  if (outcome read = parse_decibels(name, text, value); !read) return read;
  if (value < 0.0)
    return refusal(std::string(name) + ": '" + std::string(text) + "' is below 0 dB");
  return success();
}

// An option's effect: a refusal when its value is refused. Flags are given an empty value.
using option_handler = outcome (*)(parse_state& s, std::string_view name, std::string_view value);

struct option_spec {
  std::string_view name;
  bool takes_value;
  option_handler apply;  // null for --help, -h and --version
};

outcome add_band(parse_state& s, std::string_view name, std::string_view value, bool pass) {
  const result<band> parsed = parse_band(value, s.options.bands.sample_rate);
  if (!parsed) return refusal(std::string(name) + ": " + parsed.failure().message);
  (pass ? s.options.bands.passbands : s.options.bands.stopbands).push_back(parsed.value());
  (pass ? s.options.bands.passbands_given : s.options.bands.stopbands_given) = true;
  return success();
}

// A whole number into one of the datapath's choices; its range is judged once all are given.
outcome set_choice(std::string_view name, std::string_view value,
                   std::optional<std::int32_t>& choice) {
  std::int32_t v = 0;
  if (outcome read = parse_whole(name, value, v); !read) return read;
  choice = v;
  return success();
}

// A tone, a step or the sweep's step in hertz at the sample rate, as the whole internal
// hertz it stands for; at the default rate a whole number.
outcome parse_frequency(const parse_state& s, std::string_view name, std::string_view value,
                        std::int32_t& field) {
  const double rate = s.options.bands.sample_rate;
  if (rate == DEFAULT_SAMPLE_RATE) return parse_whole(name, value, field);
  const std::optional<double> hz = parse_plain_decimal(value);
  if (!hz)
    return refusal(std::string(name) + ": '" + std::string(value) + "' is not a number of hertz");
  const std::optional<std::int32_t> on_grid = grid_hertz(*hz, rate);
  if (!on_grid) return refusal(std::string(name) + ": " + grid_problem(*hz, rate));
  field = *on_grid;
  return success();
}

// A required option: `k` is its place in parse_state::seen, after the precision a frequency.
outcome set_required(parse_state& s, std::size_t k, std::string_view name, std::string_view value,
                     std::int32_t& field) {
  s.seen[k] = true;
  return k == 0 ? parse_whole(name, value, field) : parse_frequency(s, name, value, field);
}

// The rate every frequency is given and printed at.
outcome set_sample_rate(parse_state& s, std::string_view name, std::string_view value) {
  const std::optional<double> rate = parse_sample_rate(value);
  if (!rate) {
    return refusal(std::string(name) + ": '" + std::string(value) + "' is " + SAMPLE_RATE_WORDS);
  }
  s.options.bands.sample_rate = *rate;
  return success();
}

// A name for a file or folder, which must not be empty.
outcome set_name(std::string_view value, std::string& field, const char* refused) {
  if (value.empty()) return refusal(refused);
  field = std::string(value);
  return success();
}

// One of a few words, as `from_word` reads them; `expected` lists them for the refusal.
template <typename T>
outcome set_word(std::string_view name, std::string_view value,
                 std::optional<T> (*from_word)(std::string_view), std::optional<T>& field,
                 const char* expected) {
  field = from_word(value);
  if (!field)
    return refusal(std::string(name) + ": '" + std::string(value) + "' is not " + expected);
  return success();
}

std::optional<cost_model> cost_from_option(std::string_view v) {
  if (v == "multiplier") return cost_model::multiplier;
  if (v == "bits") return cost_model::bits;
  if (v == "cells") return cost_model::cells;
  return std::nullopt;
}

using sv = std::string_view;

constexpr option_spec option_table[] = {
    {"--precision", true,
     [](parse_state& s, sv n, sv v) { return set_required(s, 0, n, v, s.options.precision); }},
    {"--initial", true,
     [](parse_state& s, sv n, sv v) {
       return set_required(s, 1, n, v, s.options.frequencies.initial_frequency);
     }},
    {"--step", true,
     [](parse_state& s, sv n, sv v) {
       return set_required(s, 2, n, v, s.options.frequencies.frequency_step);
     }},
    {"--ending", true,
     [](parse_state& s, sv n, sv v) {
       return set_required(s, 3, n, v, s.options.frequencies.ending_frequency);
     }},
    {"--sweep-step", true,
     [](parse_state& s, sv n, sv v) {
       s.sweep_step_given = true;
       return parse_frequency(s, n, v, s.options.sweep_step);
     }},
    {"--sample-rate", true, set_sample_rate},
    {"--dir", true,
     [](parse_state& s, sv, sv v) {
       return set_name(v, s.options.dir, "--dir needs a folder name");
     }},
    {"--passband", true, [](parse_state& s, sv n, sv v) { return add_band(s, n, v, true); }},
    {"--stopband", true, [](parse_state& s, sv n, sv v) { return add_band(s, n, v, false); }},
    {"--scan", false,
     [](parse_state& s, sv, sv) {
       s.options.scan = true;
       return success();
     }},
    {"--html", false,
     [](parse_state& s, sv, sv) {
       s.options.html = true;
       return success();
     }},
    {"--explore", false,
     [](parse_state& s, sv, sv) {
       s.options.explore = true;
       return success();
     }},
    {"--cost", true,
     [](parse_state& s, sv n, sv v) {
       s.cost_given = true;
       std::optional<cost_model> cost;
       if (outcome read = set_word(n, v, cost_from_option, cost, "multiplier, bits or cells");
           !read)
         return read;
       s.options.cost = *cost;
       return success();
     }},
    {"--min-attenuation", true,
     [](parse_state& s, sv n, sv v) {
       return parse_target(n, v, s.options.targets.min_attenuation_db);
     }},
    {"--max-ripple", true,
     [](parse_state& s, sv n, sv v) {
       return parse_target(n, v, s.options.targets.max_ripple_db);
     }},
    {"--min-snr", true,
     [](parse_state& s, sv n, sv v) { return parse_target(n, v, s.options.targets.min_snr_db); }},
    {"--coefficient-bits", true,
     [](parse_state& s, sv n, sv v) {
       return set_choice(n, v, s.options.datapath.coefficient_bits);
     }},
    {"--coefficient-precision", true,
     [](parse_state& s, sv n, sv v) {
       return set_choice(n, v, s.options.datapath.coefficient_fraction_bits);
     }},
    {"--sample-bits", true,
     [](parse_state& s, sv n, sv v) { return set_choice(n, v, s.options.datapath.sample_bits); }},
    {"--sample-precision", true,
     [](parse_state& s, sv n, sv v) {
       return set_choice(n, v, s.options.datapath.sample_fraction_bits);
     }},
    {"--accumulator-bits", true,
     [](parse_state& s, sv n, sv v) {
       return set_choice(n, v, s.options.datapath.accumulator_bits);
     }},
    {"--rounding", true,
     [](parse_state& s, sv n, sv v) {
       return set_word(n, v, rounding_from_option, s.options.datapath.rounding,
                       "zero, nearest or floor");
     }},
    {"--overflow", true,
     [](parse_state& s, sv n, sv v) {
       return set_word(n, v, overflow_from_option, s.options.datapath.overflow, "wrap or saturate");
     }},
    {"--output-bits", true,
     [](parse_state& s, sv n, sv v) { return set_choice(n, v, s.options.datapath.output_bits); }},
    {"--output-precision", true,
     [](parse_state& s, sv n, sv v) {
       return set_choice(n, v, s.options.datapath.output_fraction_bits);
     }},
    {"--output-rounding", true,
     [](parse_state& s, sv n, sv v) {
       return set_word(n, v, output_rounding_from_option, s.options.datapath.output_rounding,
                       "zero, nearest, floor or convergent");
     }},
    {"--output-overflow", true,
     [](parse_state& s, sv n, sv v) {
       return set_word(n, v, overflow_from_option, s.options.datapath.output_overflow,
                       "wrap or saturate");
     }},
    {"--vectors", true,
     [](parse_state& s, sv, sv v) {
       return set_name(v, s.options.vectors_dir, "--vectors needs a folder name");
     }},
    {"--export", true,
     [](parse_state& s, sv, sv v) {
       return set_name(v, s.options.export_file, "--export needs a file name");
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

// The refusal of an argument that names no option: with a guess at the option meant.
error unknown_argument(std::string_view arg, std::string_view name) {
  std::string message = arg.starts_with("-") ? "unknown option '" + std::string(name) + "'"
                                             : "unexpected argument '" + std::string(arg) + "'";
  if (const char* meant = arg.starts_with("-") ? nearest_option(name) : nullptr)
    message += std::string("; did you mean ") + meant + "?";
  return refusal(std::move(message));
}

// The options that may be given again, each time adding to what the earlier ones gave.
bool repeatable(std::string_view name) { return name == "--passband" || name == "--stopband"; }

// The options that every frequency is read through, applied before the rest wherever they
// stand.
bool read_first(std::string_view name) { return name == "--sample-rate"; }

// The arguments in order, through the option table; with `first_only`, only the options
// read_first names, stopping quietly where the full pass would refuse.
outcome walk_arguments(std::span<const char* const> args, parse_state& s, bool first_only) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const std::size_t eq = arg.find('=');
    const bool inline_value = arg.starts_with("--") && eq != std::string_view::npos;
    const std::string_view name = inline_value ? arg.substr(0, eq) : arg;
    const option_spec* spec = find_option(name);
    if (spec == nullptr) return first_only ? success() : unknown_argument(arg, name);
    std::string_view value;
    if (!spec->takes_value) {
      if (inline_value)
        return first_only ? success() : refusal(std::string(name) + " takes no value");
      if (spec->apply == nullptr) {
        if (first_only) return success();
        s.help = true;
        return success();
      }
    } else if (inline_value) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return first_only ? success() : refusal(std::string(name) + " needs a value");
    }
    if (first_only && !read_first(name)) continue;
    if (first_only) {
      // Only the first is applied early; the full pass refuses the repetition.
      if (std::find(s.given.begin(), s.given.end(), name) != s.given.end()) continue;
    }
    if (outcome applied = spec->apply(s, name, value); !applied) return applied;
    if (first_only) {
      s.given.push_back(name);
      continue;
    }
    // A second value would silently replace the first: only the bands add up.
    if (!repeatable(name) && std::find(s.given.begin(), s.given.end(), name) != s.given.end())
      return refusal(std::string(name) + " is given more than once");
    s.given.push_back(name);  // as the table spells it: found only whole
  }
  return success();
}

}  // namespace

outcome apply_arguments(std::span<const char* const> args, parse_state& s) {
  if (outcome first = walk_arguments(args, s, true); !first) return first;
  s.given.clear();
  return walk_arguments(args, s, false);
}

}  // namespace fixfir
