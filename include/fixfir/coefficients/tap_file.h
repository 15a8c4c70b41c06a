#pragma once
// The tap file "taps.txt": a tap count ("%i" style: decimal, 0x hexadecimal or 0
// octal), then that many real taps separated by white space. Anything after the last
// tap is ignored.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "fixfir/common/records.h"
#include "fixfir/common/result.h"

namespace fixfir {

inline constexpr const char* tap_file_name = "taps.txt";
inline constexpr std::string_view improperly_formatted_message = "improperly formatted file";
/// The most times the message is written in one reading; every one is still counted.
inline constexpr std::uint64_t improperly_formatted_shown = 1000;
/// The most numbers after the taps that a reader looking past them counts.
inline constexpr std::int64_t tap_numbers_after_limit = 1 << 20;

/// What reading a tap file found besides the taps: enough to tell a file that fixfir
/// reads in full from one that it reads with gaps.
struct tap_read_facts {
  bool opened = false;         ///< the file opened (a `failure` after that is a failed read)
  int error = 0;               ///< errno of the failed open or read behind a `failure`
  bool count_read = false;     ///< the text began with a number
  std::int32_t count = 0;      ///< that number, also when below 1; 0 when there was none
  std::int32_t numbers = 0;    ///< taps read as numbers before the first that was not
  std::uint64_t messages = 0;  ///< "improperly formatted file" messages
  /// When looked for: the numbers that follow the last tap, up to the first word or the end
  /// (at most tap_numbers_after_limit); 0 unless every tap was a number.
  std::int64_t numbers_after = 0;
};

/// Reads "taps.txt" from the working directory into `list`, writing
/// "improperly formatted file" to `console` as the reading meets problems (at most
/// improperly_formatted_shown times).
/// `failure` when the file cannot be opened or read; nothing is allocated then.
status read_tap_file(tap_list& list, std::FILE* console = stdout);

/// Reads the tap file at `path` as `read_tap_file` reads "taps.txt": as a stream, only as
/// far as the taps go, so that whatever follows them (even an endless /dev/zero) is never
/// read. `facts` says what was found; messages go to `console` unless it is null. With
/// `look_past`, the numbers after the taps are counted too (`facts.numbers_after`), which
/// fixfir itself never reads.
status read_tap_file_at(const std::string& path, tap_list& list, std::FILE* console,
                        tap_read_facts& facts, bool look_past = false);

/// Parses the text of a tap file. Each slot still to be read once the end of the text
/// has been met gives one "improperly formatted file" (counted in `messages`, and
/// written to `console` unless it is null, at most improperly_formatted_shown times); a slot that
/// is never read holds 0.0. A count below 1 gives the message once and an empty list.
status parse_tap_text(std::string_view text, tap_list& list, std::FILE* console,
                      std::uint64_t& messages);

/// Whether every tap is a finite number: a bad_input error naming the first that is not,
/// counted from tap 0 ("tap 3 is not a finite number (inf)"). A tap written beyond the float
/// range (1e39) reads as infinite. The report and the Python module refuse such taps; fixfir's
/// own dialogue reads them as they are.
[[nodiscard]] outcome check_finite_taps(std::span<const float> taps);

}  // namespace fixfir
