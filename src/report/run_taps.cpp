#include "run_taps.h"

#include <cstring>
#include <filesystem>
#include <utility>

#include "fixfir/coefficients/tap_file.h"
#include "fixfir/report/printable_text.h"
#include "fixfir/report/report_output.h"

namespace fixfir {

namespace {

// A tap file fixfir reads with gaps, or with a tap that is not a finite number, is refused;
// so is one that cannot be read. A file the run cannot use is a failed run (status 1), so
// every refusal is `failed`.
error unusable_taps(std::string message, int system_errno = 0) {
  return error{error_kind::failed, std::move(message), system_errno};
}

// Whether the taps read can be used: the count at least 1 and every tap a finite number.
outcome check_taps(const std::string& shown, const tap_list& list, const tap_read_facts& facts) {
  if (!facts.count_read) return unusable_taps(shown + ": no tap count at the start");
  if (facts.count < 1) {
    return unusable_taps(shown + ": the tap count is " + std::to_string(facts.count) +
                         ", not at least 1");
  }
  if (facts.numbers < facts.count) {
    // Taps are named by index, tap 0 first, as a tap that is not finite is below.
    return unusable_taps(shown + ": tap " + std::to_string(facts.numbers) +
                         " is missing or not a number (the count gives " +
                         std::to_string(facts.count) + ", tap 0 first)");
  }
  const outcome finite = check_finite_taps(
      std::span<const float>(list.taps.begin(), static_cast<std::size_t>(list.count)));
  if (!finite) return unusable_taps(shown + ": " + finite.failure().message);
  return success();
}

// The note of numbers after the taps, which fixfir never reads (a count one short, say);
// "" when there are none.
std::string numbers_after_note(const std::string& shown, const tap_read_facts& facts) {
  if (facts.numbers_after == 0) return {};
  const bool one = facts.numbers_after == 1;
  const std::string more = facts.numbers_after >= tap_numbers_after_limit ? "at least " : "";
  return shown + ": " + more + std::to_string(facts.numbers_after) +
         (one ? " more number follows the " : " more numbers follow the ") +
         (facts.count == 1 ? std::string("tap") : std::to_string(facts.count) + " taps") +
         " its count gives and " + (one ? "is" : "are") + " not used (is the count right?)";
}

}  // namespace

result<run_taps> read_run_taps(const report_options& options, std::FILE* err) {
  const std::string raw_path = (std::filesystem::path(options.dir) / tap_file_name).string();
  run_taps read;
  read.path = printable(raw_path);
  tap_read_facts facts;
  switch (read_tap_file_at(raw_path, read.list, nullptr, facts, true)) {
    case status::failure:
      return unusable_taps((facts.opened ? "cannot read " : "cannot open ") + read.path + ": " +
                               std::strerror(facts.error),
                           facts.error);
    case status::out_of_memory:
      return error{
          error_kind::out_of_memory,
          read.path + ": the tap count " + std::to_string(facts.count) + " is too large for memory",
          0};
    case status::ok:
      break;
  }
  if (outcome usable = check_taps(read.path, read.list, facts); !usable)
    return std::move(usable).failure();
  if (const std::string note = numbers_after_note(read.path, facts); !note.empty())
    complain(err, note);
  return read;
}

}  // namespace fixfir
