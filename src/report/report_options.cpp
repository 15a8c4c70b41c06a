#include "fixfir/report/report_options.h"

#include <string_view>

#include "fixfir/report/printable_text.h"
#include "option_parsing.h"

namespace fixfir {

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
  outcome read = apply_arguments(args, state);
  if (read && state.help) return option_action::help;
  if (read) read = check_together(state);
  if (read) return option_action::run;
  // The message quotes what was typed: a line break or a terminal escape in it is shown
  // as an escape, so that the message stays one line and the terminal as it was.
  return refusal(printable(read.failure().message));
}

}  // namespace fixfir
