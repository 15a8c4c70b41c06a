#include "fixfir/coefficients/tap_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <string>

#include "fixfir/common/text_scan.h"

namespace fixfir {

namespace {

// Writes the message `n` times, but no more than improperly_formatted_shown times: a huge
// count over a short file would otherwise fill the console with gigabytes of it.
void write_messages(std::FILE* console, std::uint64_t n) {
  if (console == nullptr || n == 0) return;
  n = std::min(n, improperly_formatted_shown);
  // Repetitions are written in blocks; a huge count would otherwise cost a call each.
  std::string block;
  const std::uint64_t per_block = n < 4096 ? n : 4096;
  for (std::uint64_t i = 0; i < per_block; ++i) block += improperly_formatted_message;
  for (std::uint64_t left = n; left > 0;) {
    const std::uint64_t k = left < per_block ? left : per_block;
    std::fwrite(block.data(), 1, static_cast<std::size_t>(k) * improperly_formatted_message.size(),
                console);
    left -= k;
  }
  std::fflush(console);
}

// Reads the count and the taps from `in`, as `parse_tap_text` describes; with `look_past`,
// then counts the numbers that follow them.
status parse_taps(char_input& in, tap_list& list, std::FILE* console, tap_read_facts& facts,
                  bool look_past) {
  list = tap_list{};
  std::int32_t count = 0;
  facts.count_read = scan_integer(in, count);  // an unreadable count stays 0
  facts.count = count;
  if (count < 1) {
    facts.messages = 1;
    write_messages(console, 1);
    return status::ok;
  }
  if (!allocate_zeroed(list.taps, static_cast<std::size_t>(count))) return status::out_of_memory;
  list.count = count;
  bool all_numbers = true;
  for (std::int32_t i = 0; i < count; ++i) {
    if (in.eof) {
      // Every remaining slot is met with the indicator set: one message each.
      facts.messages = static_cast<std::uint64_t>(count - i);
      write_messages(console, facts.messages);
      break;
    }
    // A failed read leaves 0.0. Later reads may still succeed ("- 5" reads the 5).
    all_numbers = scan_real(in, list.taps[static_cast<std::size_t>(i)]) && all_numbers;
    if (all_numbers) facts.numbers = i + 1;
  }
  if (look_past && facts.numbers == count) {
    // Bounded, so that an endless source of numbers is not read for ever.
    float ignored = 0.0f;
    while (facts.numbers_after < tap_numbers_after_limit && !in.eof && scan_real(in, ignored))
      ++facts.numbers_after;
  }
  return status::ok;
}

}  // namespace

status parse_tap_text(std::string_view text, tap_list& list, std::FILE* console,
                      std::uint64_t& messages) {
  char_input in = text_input(text);
  tap_read_facts facts;
  const status result = parse_taps(in, list, console, facts, false);
  messages = facts.messages;
  return result;
}

status read_tap_file(tap_list& list, std::FILE* console) {
  tap_read_facts facts;
  return read_tap_file_at(tap_file_name, list, console, facts);
}

status read_tap_file_at(const std::string& path, tap_list& list, std::FILE* console,
                        tap_read_facts& facts, bool look_past) {
  list = tap_list{};
  facts = tap_read_facts{};
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    facts.error = errno;
    return status::failure;
  }
  facts.opened = true;
  // The file is read as a stream, only as far as the taps go: whatever follows them is
  // never looked at, however long it is (even endless, like /dev/zero), unless `look_past`
  // asks for the numbers there, and then only up to a bound. A file that
  // opens but cannot be read, such as a directory, fails on its first character, before
  // any message is written.
  errno = 0;
  const int first = std::getc(file);
  if (first == EOF && std::ferror(file) != 0) {
    facts.error = errno;
    std::fclose(file);
    return status::failure;
  }
  char_input in = stream_input(file);
  put_back(in, first);
  status result = status::ok;
  try {
    // A very long number is gathered into a string as it is read.
    result = parse_taps(in, list, console, facts, look_past);
  } catch (const std::bad_alloc&) {
    list = tap_list{};
    result = status::out_of_memory;
  }
  std::fclose(file);
  return result;
}

outcome check_finite_taps(std::span<const float> taps) {
  for (std::size_t i = 0; i < taps.size(); ++i) {
    const float t = taps[i];
    if (std::isfinite(t)) continue;
    const char* what = std::isnan(t) ? "nan" : t > 0 ? "inf" : "-inf";
    return make_error(error_kind::bad_input,
                      "tap " + std::to_string(i) + " is not a finite number (" + what + ")");
  }
  return success();
}

}  // namespace fixfir
