#pragma once
// The report's pictures, drawn by gnuplot from scripts that carry their data inline, and
// put in place. gnuplot runs in a private temporary folder and writes fixed file names
// there, so no path or other user text ever enters a script; the pictures are checked
// there and moved into place only once all of them are complete.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// A file made from what gnuplot drew, before anything is installed (the page that shows
/// the pictures as SVG): `make` gets the text of each of `inputs`, files gnuplot writes
/// in its private folder (read only when each is a plain file), and returns the file's
/// text, or an error. `name` and `inputs` are fixed names.
struct made_file {
  std::string name;
  std::vector<std::string> inputs;
  std::function<result<std::string>(const std::vector<std::string>& inputs)> make;
};

/// Draws pictures: runs the executable `gnuplot` (an absolute path) on `script` in a new
/// private folder under the temporary folder, with no shell and nothing of the user's in
/// its arguments, then checks that each of `png_names` is a complete PNG there and moves
/// them into `dir`, replacing earlier ones as replace_file does (each keeps the permission
/// bits of the regular file it replaces; anything else in its place is refused). Earlier
/// pictures are left untouched unless all of the new ones are ready in `dir` under
/// temporary names; the temporary folder is removed on every path. A failure's message is
/// one line, which names any picture that was replaced all the same: cannot_write for a
/// file that could not be written (a picture that a file-size limit cut short where gnuplot
/// wrote it is one: "cannot write D/F: File too large"), failed for gnuplot, interrupted
/// after a held interrupt. A gnuplot still running after `time_limit`
/// (by default gnuplot_time_limit(script)) is ended, SIGTERM and 2 s later SIGKILL, and
/// the drawing fails. With `extra`, its file is made once the pictures are complete and is
/// installed with them, on the same terms.
[[nodiscard]] outcome draw_pictures(const std::string& gnuplot, const std::string& script,
                                    const std::vector<std::string>& png_names,
                                    const std::string& dir,
                                    std::optional<std::chrono::milliseconds> time_limit = {},
                                    const made_file* extra = nullptr);

/// As above, with each picture drawn by its own gnuplot from its own script in
/// `scripts` (at most 8), all running at once in the same private folder. Each run has its
/// own time limit; when one fails the others are ended, every one is reaped, and the
/// message tells of the first in `scripts` that failed.
[[nodiscard]] outcome draw_pictures(const std::string& gnuplot,
                                    const std::vector<std::string>& scripts,
                                    const std::vector<std::string>& png_names,
                                    const std::string& dir,
                                    std::optional<std::chrono::milliseconds> time_limit = {},
                                    const made_file* extra = nullptr);

/// Writes `text` to `dir`/`name` (a fixed name) as draw_pictures installs a picture: a
/// complete new file replaces the earlier one, which is otherwise left as it was. Fails as
/// draw_pictures does.
[[nodiscard]] outcome install_file(const std::string& name, std::string_view text,
                                   const std::string& dir);

}  // namespace fixfir
