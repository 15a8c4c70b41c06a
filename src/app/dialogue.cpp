#include "fixfir/app/dialogue.h"

#include <span>
#include <utility>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/coefficients/tap_file.h"
#include "fixfir/common/output_file.h"
#include "fixfir/common/records.h"
#include "fixfir/common/text_scan.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/multitone_waveform.h"

namespace fixfir {

namespace {

// The answers, written once here before any analysis reads them.
frequency_settings settings;

// Writes `prompt`, then reads a decimal answer into `value`; a failed read leaves it.
void ask(char_input& in, std::FILE* console, const char* prompt, std::int32_t& value) {
  say(console, prompt);
  scan_decimal(in, value);
}

std::int32_t out_of_memory(std::FILE* console) {
  say(console, out_of_memory_message);
  return -1;
}

}  // namespace

std::int32_t run_dialogue(std::FILE* input, std::FILE* console) {
  char_input in = stream_input(input);
  std::int32_t precision = 0;
  settings = frequency_settings{};
  ask(in, console, "\nInput precision : ", precision);
  ask(in, console, "\nInput Initial Frequency : ", settings.initial_frequency);
  ask(in, console, "\nInput Frequency Step : ", settings.frequency_step);
  ask(in, console, "\nInput Ending Frequency : ", settings.ending_frequency);

  tap_list taps;
  switch (read_tap_file(taps, console)) {
    case status::failure:
      say(console, file_not_found_message);
      return -1;
    case status::out_of_memory:
      return out_of_memory(console);
    case status::ok:
      break;
  }

  // The count is a 32-bit value, so the only failure is memory.
  result<fixed_filter> made = make_fixed_filter(
      std::span<const float>(taps.taps.data.get(), static_cast<std::size_t>(taps.count)),
      precision_datapath(precision));
  if (!made) return out_of_memory(console);
  const fixed_filter filter = std::move(made).value();

  if (run_waveform_test(filter, settings, console) == status::out_of_memory) {
    return out_of_memory(console);
  }

  say(console, "\n\n\nNOTE ** Calculating the Frequency Response of a filter takes some time \n");
  say(console, "(a few min) and can only changed if you have updated taps.txt.\n\n");
  std::int32_t answer = 0;
  ask(in, console,
      "Enter 1 if you would like to calculate the Frequency Response of the filter : ", answer);
  if (answer == 1) {
    say(console, "Calculating Frequency Response");
    if (run_frequency_sweep(filter, settings, console) == status::out_of_memory) {
      return out_of_memory(console);
    }
  } else {
    say(console, "Skipping Frequency Response");
  }
  return 0;
}

std::int32_t run_dialogue() { return run_dialogue(stdin, stdout); }

}  // namespace fixfir
