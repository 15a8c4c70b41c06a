#pragma once
// What fixfir-report says on its two streams: lines, complaints under its name, text whose
// writing is checked, and the one place an error becomes its words and the exit status.

#include <cstdio>
#include <string>

#include "fixfir/common/result.h"

namespace fixfir {

/// Writes `line` and a newline to `f`.
void say_line(std::FILE* f, const std::string& line);

/// Says "fixfir-report: `message`" on `err`.
void complain(std::FILE* err, const std::string& message);

/// Writes `text` to `out` and flushes it; a cannot_write error, with the errno, when that
/// fails (a full disk, /dev/full).
[[nodiscard]] outcome put_out(std::FILE* out, const std::string& text);

/// The exit status of a run that failed with an error of `kind`: 2 for options the user must
/// change, 1 for everything else (memory, files, gnuplot, a tap file or an export file name
/// the run cannot use, which are `failed`).
[[nodiscard]] int exit_status(error_kind kind) noexcept;

/// Says `e` on `err` as one complaint (its message with any control character shown as an
/// escape) and returns its exit status: every failure of a run ends here.
[[nodiscard]] int say_failure(std::FILE* err, const error& e);

}  // namespace fixfir
