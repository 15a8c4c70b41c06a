#pragma once
// The two pictures of fixfir-report, drawn by gnuplot from scripts that carry their data
// inline. gnuplot runs in a private temporary folder and writes fixed file names there,
// so no path or other user text ever enters a script; the pictures are moved into place
// only once both are complete.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fixfir {

inline constexpr const char* response_png_name = "response.png";
inline constexpr const char* waves_png_name = "waves.png";
inline constexpr const char* scan_png_name = "scan.png";
/// The part of the waveform test drawn sample by sample: the first 20 ms.
inline constexpr std::int32_t WAVES_WINDOW_SAMPLES = 320;

/// The script that draws `body` (gnuplot commands that plot, with their data inline) to
/// the fixed name `png_name` in gnuplot's working folder at `width` × `height`.
[[nodiscard]] std::string picture_script(const char* png_name, int width, int height,
                                         const std::string& body);

/// The script that draws `body` as SVG, for a page, to "`name`.svg" in gnuplot's working
/// folder; `name` is a fixed word (such as "response") that also prefixes the SVG's ids.
[[nodiscard]] std::string svg_picture_script(const char* name, int width, int height,
                                             const std::string& body);

/// The first executable file called `program` in the ':'-separated folder list `path`,
/// made absolute, or an empty string. Empty entries are skipped: only an explicit "."
/// names the working folder, and an empty `path` names none. No `path` at all (no PATH
/// in the environment) stands for the system's default list (confstr _CS_PATH, such as
/// /bin:/usr/bin).
[[nodiscard]] std::string find_program(std::string_view program,
                                       std::optional<std::string_view> path);

/// A file made from what gnuplot drew, before anything is installed (the page that shows
/// the pictures as SVG): `make` gets the text of each of `inputs`, files gnuplot writes
/// in its private folder (read only when each is a plain file), and returns the file's
/// text, or false with `message` set. `name` and `inputs` are fixed names.
struct made_file {
  std::string name;
  std::vector<std::string> inputs;
  std::function<bool(const std::vector<std::string>& inputs, std::string& text,
                     std::string& message)>
      make;
};

/// Draws pictures: runs the executable `gnuplot` (an absolute path) on `script` in a new
/// private folder under the temporary folder, with no shell and nothing of the user's in
/// its arguments, then checks that each of `png_names` is a complete PNG there and moves
/// them into `dir`, replacing earlier ones. Earlier pictures are left untouched unless all
/// of the new ones are ready in `dir` under temporary names; the temporary folder is
/// removed on every path. On failure returns false with `message` set to one line, which
/// names any picture that was replaced all the same. A gnuplot still running after
/// `time_limit` (by default gnuplot_time_limit(script)) is ended, SIGTERM and 2 s later
/// SIGKILL, and the drawing fails. With `extra`, its file is made once the pictures are
/// complete and is installed with them, on the same terms.
[[nodiscard]] bool draw_pictures(const std::string& gnuplot, const std::string& script,
                                 const std::vector<std::string>& png_names, const std::string& dir,
                                 std::string& message,
                                 std::optional<std::chrono::milliseconds> time_limit = {},
                                 const made_file* extra = nullptr);

/// As above, with each picture drawn by its own gnuplot from its own script in
/// `scripts` (at most 8), all running at once in the same private folder. Each run has its
/// own time limit; when one fails the others are ended, every one is reaped, and the
/// message tells of the first in `scripts` that failed.
[[nodiscard]] bool draw_pictures(const std::string& gnuplot,
                                 const std::vector<std::string>& scripts,
                                 const std::vector<std::string>& png_names, const std::string& dir,
                                 std::string& message,
                                 std::optional<std::chrono::milliseconds> time_limit = {},
                                 const made_file* extra = nullptr);

/// The time gnuplot is given to draw `script`: 60 s plus 1 ms for each of its lines, which
/// carry the plotted points inline, one to a line. gnuplot needs well under 1 % of it.
[[nodiscard]] std::chrono::milliseconds gnuplot_time_limit(std::string_view script);

/// Writes `text` to `dir`/`name` (a fixed name) as draw_pictures installs a picture: a
/// complete new file replaces the earlier one, which is otherwise left as it was. False
/// with `message` set to one line on failure.
[[nodiscard]] bool install_file(const std::string& name, std::string_view text,
                                const std::string& dir, std::string& message);

}  // namespace fixfir
