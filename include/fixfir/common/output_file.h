#pragma once
// Output files that report every write error, including the one that only shows when
// the file is closed (a full disk).

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "fixfir/common/result.h"

namespace fixfir {

inline constexpr const char* cannot_open_message = "Cannot open output file\n";
inline constexpr const char* cannot_write_message = "Cannot write output file\n";

/// A file opened for writing; `failed` records any write that did not go through. When it
/// stands in for a regular file (or for none), it is a new file beside it, under a
/// temporary name, that takes its place only when closed whole.
struct output_file {
  std::FILE* file = nullptr;
  bool failed = false;
  int folder = -1;             ///< the folder of the file replaced, open; -1 when written in place
  std::string temporary;       ///< the new file's name in `folder`
  std::string name;            ///< the name it takes there when closed
  std::optional<mode_t> mode;  ///< the permission bits of the file it replaces
};

/// Opens `name` for writing, to be created or replaced. A regular file (or a link to one),
/// or no file at all, is replaced only by close_output, so that a write that fails part
/// way (a full disk, a file-size limit) leaves the earlier file as it was; anything else (a
/// link to a device such as /dev/null) is written in place, as fopen's "w" writes it.
/// Returns false, with errno set, when it cannot be opened: a folder, a file that may not
/// be written, or a folder where no new file can be made.
[[nodiscard]] bool open_output(output_file& out, const char* name) noexcept;

/// Appends `data` to the file.
void write_output(output_file& out, std::string_view data) noexcept;

/// Closes the file and puts it in place. Returns false if any write, the close or the
/// renaming failed; the new file is then removed and an earlier one left as it was.
[[nodiscard]] bool close_output(output_file& out) noexcept;

/// Closes the file without putting it in place: the new file is removed (a file written in
/// place keeps what it was given).
void discard_output(output_file& out) noexcept;

/// Whether `name` in the folder open as `folder` may be replaced by a new file: "" when
/// nothing is there (`mode` empty) or a regular file is (`mode` its permission bits, which
/// the new file takes). Otherwise what follows "cannot write F: ": "Is a directory", "not a
/// regular file" for a link or a special file, or the error of looking. A link is not
/// followed: replacing it would turn it into a file.
[[nodiscard]] std::string replace_problem(int folder, const std::string& name,
                                          std::optional<mode_t>& mode);

/// Makes a new, empty file in the folder open as `folder` under a temporary name of fixed
/// length (".fixfir-" and six letters or digits, chosen afresh until one is free), so
/// that it fits wherever the file it stands for fits. Returns its descriptor, open for
/// writing, 0666 before the umask, with `name` set; or -1 with errno set.
[[nodiscard]] int make_temporary_file(int folder, std::string& name);

/// Writes `text` to `path` so that a reader finds the earlier file or the whole new one,
/// never a part: the text goes to a new file in the same folder (make_temporary_file),
/// which takes the earlier file's permission bits, is synced and then renamed over
/// `path`. Only a regular file is replaced (replace_problem). On failure the new file is
/// removed, the earlier one is left as it was, and the error (cannot_write) names `path`
/// as given, with the system's words for what went wrong ("File too large").
[[nodiscard]] outcome replace_file(const std::string& path, std::string_view text);

/// One file of a set that replace_files writes: its name in the folder and its text.
struct named_text {
  std::string name;
  std::string text;
};

/// Replaces the files of a set in `folder` together: each is written whole as replace_file
/// writes one, under a temporary name, and only when every one is written are they renamed
/// into place, so that a failure (a full disk, a folder or a link where a file should be)
/// leaves the earlier set as it was, not some files of the new one beside some of the old.
/// The error (cannot_write) names the folder, or the file as `folder / name`.
[[nodiscard]] outcome replace_files(const std::filesystem::path& folder,
                                    std::span<const named_text> files);

/// Removes the new file of an open_output not yet closed, if there is one. Safe in a signal
/// handler: a run ended by a signal leaves no temporary file behind.
void remove_pending_output() noexcept;

/// Writes `message` to `console` and flushes it, so that it shows at once.
void say(std::FILE* console, std::string_view message) noexcept;

}  // namespace fixfir
