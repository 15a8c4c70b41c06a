#pragma once
// The tap file "taps.txt": a tap count ("%i" style: decimal, 0x hexadecimal or 0
// octal), then that many real taps separated by white space. Anything after the last
// tap is ignored.

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "records.h"

namespace fixfir {

inline constexpr const char* tap_file_name = "taps.txt";
inline constexpr std::string_view improperly_formatted_message = "improperly formatted file";

enum class tap_file_status { ok, not_found, out_of_memory };

/// Reads "taps.txt" from the working directory into `list`, writing
/// "improperly formatted file" to `console` as the reading meets problems.
/// `not_found` when the file cannot be opened or read; nothing is allocated then.
tap_file_status read_tap_file(tap_list& list, std::FILE* console = stdout);

/// Parses the text of a tap file. Each slot still to be read once the end of the text
/// has been met gives one "improperly formatted file" (counted in `messages`, and
/// written to `console` unless it is null); a slot that is never read holds 0.0. A count
/// below 1 gives the message once and an empty list.
tap_file_status parse_tap_text(std::string_view text, tap_list& list, std::FILE* console,
                               std::uint64_t& messages);

}  // namespace fixfir
