#pragma once
// Output files that report every write error, including the one that only shows when
// the file is closed (a full disk).

#include <cstdio>
#include <string>
#include <string_view>

#include "fixfir/common/result.h"

namespace fixfir {

inline constexpr const char* cannot_open_message = "Cannot open output file\n";
inline constexpr const char* cannot_write_message = "Cannot write output file\n";

/// A file opened for writing; `failed` records any write that did not go through.
struct output_file {
  std::FILE* file = nullptr;
  bool failed = false;
};

/// Creates or truncates `name` in text mode. Returns false when it cannot be opened.
[[nodiscard]] bool open_output(output_file& out, const char* name) noexcept;

/// Appends `data` to the file.
void write_output(output_file& out, std::string_view data) noexcept;

/// Closes the file. Returns false if any write or the close itself failed.
[[nodiscard]] bool close_output(output_file& out) noexcept;

/// Writes `text` to `path` so that a reader finds the earlier file or the whole new one,
/// never a part: the text goes to a new file in the same folder (".NAME.<pid>-<n>"), which
/// is synced and then renamed over `path`. On failure the new file is removed, the earlier
/// one is left as it was, and the error (cannot_write) names `path` as given.
[[nodiscard]] outcome replace_file(const std::string& path, std::string_view text);

/// Writes `message` to `console` and flushes it, so that it shows at once.
void say(std::FILE* console, std::string_view message) noexcept;

}  // namespace fixfir
