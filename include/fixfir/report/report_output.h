#pragma once
// What fixfir-report says on its two streams: lines, complaints under its name, and text
// whose writing is checked.

#include <cstdio>
#include <string>

namespace fixfir {

/// Writes `line` and a newline to `f`.
void say_line(std::FILE* f, const std::string& line);

/// Says "fixfir-report: `message`" on `err`.
void complain(std::FILE* err, const std::string& message);

/// Writes `text` to `out` and flushes it; false with `message` set when that fails (a
/// full disk, /dev/full).
[[nodiscard]] bool put_out(std::FILE* out, const std::string& text, std::string& message);

}  // namespace fixfir
