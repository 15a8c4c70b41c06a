#pragma once
// A one-line progress bar on standard error for the report's long computations: work
// done of the total, percent and time left, redrawn in place with '\r' at most ten times
// a second, and only when it goes to a terminal (nothing at all otherwise, so that logs
// and pipes stay clean).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace fixfir {

/// The state of one bar. Set it up with progress_start; it is neither copied nor moved.
struct progress_bar {
  std::FILE* out = nullptr;  ///< where the bar is drawn; null when it draws nothing
  char label[32] = {};       ///< what is counted, such as "sweep"
  std::chrono::steady_clock::time_point start{};
  std::chrono::steady_clock::time_point last_draw{};
  bool drawn_once = false;
  int width = 0;          ///< characters now on the line, 0 when it is clear
  std::atomic_flag busy;  ///< held while drawing; an overlapping call is skipped
};

/// Starts `bar` on `err` when that is a terminal (isatty), and as a bar that never draws
/// otherwise. `label` names what is counted; longer than 31 bytes, it is cut.
void progress_start(progress_bar& bar, std::FILE* err, const char* label) noexcept;

/// Notes that `done` of `total` units are finished and redraws the line when 100 ms
/// have passed since it was last drawn (the first call always draws). Safe to call from
/// any thread; a call that meets another one drawing is dropped.
void progress_advance(progress_bar& bar, std::int64_t done, std::int64_t total) noexcept;

/// Clears the bar's line, leaving the cursor at its start. Call it once the work is done
/// (or has failed), before anything else is written to the terminal.
void progress_finish(progress_bar& bar) noexcept;

/// The bar as a callback, for code that should not know about it (the sweep calls
/// `advance(context, done, total)` as its results complete in order).
struct progress_callback {
  void (*advance)(void* context, std::int64_t done, std::int64_t total) noexcept = nullptr;
  void* context = nullptr;
};

/// A callback that advances `bar`, which must outlive every call.
[[nodiscard]] progress_callback progress_callback_for(progress_bar& bar) noexcept;

/// Calls `callback.advance` when it is set; does nothing for an empty callback.
inline void progress_report(const progress_callback& callback, std::int64_t done,
                            std::int64_t total) noexcept {
  if (callback.advance != nullptr) callback.advance(callback.context, done, total);
}

}  // namespace fixfir
