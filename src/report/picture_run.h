#pragma once
// What the gnuplot runs and the picture files share while pictures are made: the held
// interrupt, the private folder gnuplot works in, and the new files written there.

#include <signal.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

// gnuplot runs at once, at most: one per picture.
inline constexpr std::size_t most_runs = 8;

// Picture k's script in the private folder: "plot-k.gp".
std::string script_name(std::size_t k);

// The text of the error number `error`.
std::string error_text(int error);

// A cannot_write error "`what`: <the text of `code`>", carrying `code` (by default errno).
error cannot_write_error(const std::string& what, int code = errno);

// An interrupt (Ctrl-C, a hang-up, a plain kill) while pictures are being made is held
// back until the temporary folder and any staged picture are removed: the handler notes
// the signal and passes it on to every gnuplot, and the guard's end raises it again with its
// default action, so the run still ends as the signal asked. A signal ignored when the
// run began (nohup, a background job of a shell) stays ignored, by the run and by gnuplot.
inline constexpr std::size_t held_signal_count = 4;
struct interrupt_guard {
  struct sigaction earlier[held_signal_count] = {};
  bool held[held_signal_count] = {};
  interrupt_guard();
  interrupt_guard(const interrupt_guard&) = delete;
  interrupt_guard& operator=(const interrupt_guard&) = delete;
  ~interrupt_guard();
};

// Whether an interrupt came while the guard holds it back.
bool interrupted();

// A private folder under the temporary folder, removed with everything in it at the end.
struct temp_folder {
  std::string path;
  temp_folder() = default;
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;
  ~temp_folder();
};

// Makes `folder` under $TMPDIR (or /tmp).
outcome make_temp_folder(temp_folder& folder);

// Writes `text` to the new file `path` with `mode` (before the umask); false with errno
// set when any step fails.
bool write_new_file(const std::string& path, std::string_view text, mode_t mode = 0600);

// Runs gnuplot on each of `scripts` (written as plot-k.gp in `folder`), all at once, and
// reaps every one of them whatever happens. Fails (`failed`, or `interrupted`) with the
// first failure in the order of `scripts`, and once one has failed
// the runs still going are ended: SIGTERM, and SIGKILL 2 s later. A run past its own time
// limit is ended the same way, as is every run after an interrupt.
outcome run_gnuplots(const std::string& gnuplot, const std::string& folder,
                     const std::vector<std::string>& scripts,
                     std::optional<std::chrono::milliseconds> time_limit);

}  // namespace fixfir
