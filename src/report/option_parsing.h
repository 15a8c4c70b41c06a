#pragma once
// What reading fixfir-report's arguments shares between its steps: the state the options
// given so far have set, the pass over the arguments through the option table, and the
// checks of what the options say together.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/common/result.h"
#include "fixfir/report/report_options.h"

namespace fixfir {

// What the options given so far have set, beside the options themselves.
struct parse_state {
  report_options& options;
  std::vector<std::string_view> given = {};     // the names of the options given, in order
  bool seen[4] = {false, false, false, false};  // precision, initial, step, ending
  bool sweep_step_given = false;
  bool cost_given = false;
  bool help = false;  // --help or -h came among the arguments
};

// A refusal of the arguments: a bad_input error with `message`.
[[nodiscard]] inline error refusal(std::string message) {
  return make_error(error_kind::bad_input, std::move(message));
}

// The arguments one by one, in order, through the option table; fails at the first that is
// refused. Stops at --help, setting `s.help`.
[[nodiscard]] outcome apply_arguments(std::span<const char* const> args, parse_state& s);

// What the options say together: the required ones given, bands that make sense, usable
// steps, and each mode without what it does not use. Fills in what follows from the rest
// (the datapath's precision, the sweep step).
[[nodiscard]] outcome check_together(parse_state& s);

}  // namespace fixfir
