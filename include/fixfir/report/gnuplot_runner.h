#pragma once
// Finding gnuplot and the time it is given to draw; the runs themselves, with their time
// limits and the interrupt held back while they go on, serve draw_pictures
// (picture_files.h).

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace fixfir {

/// The first executable file called `program` in the ':'-separated folder list `path`,
/// made absolute, or an empty string. Empty entries are skipped: only an explicit "."
/// names the working folder, and an empty `path` names none. No `path` at all (no PATH
/// in the environment) stands for the system's default list (confstr _CS_PATH, such as
/// /bin:/usr/bin).
[[nodiscard]] std::string find_program(std::string_view program,
                                       std::optional<std::string_view> path);

/// The time gnuplot is given to draw `script`: 60 s plus 1 ms for each of its lines, which
/// carry the plotted points inline, one to a line. gnuplot needs well under 1 % of it.
[[nodiscard]] std::chrono::milliseconds gnuplot_time_limit(std::string_view script);

}  // namespace fixfir
