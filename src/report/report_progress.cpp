#include "fixfir/report/report_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace fixfir {

namespace {

using clock = std::chrono::steady_clock;

constexpr auto redraw_interval = std::chrono::milliseconds(100);

// "m:ss" (or "h:mm:ss") for a whole number of seconds.
void format_duration(char* buf, std::size_t size, std::int64_t seconds) {
  if (seconds >= 3600) {
    std::snprintf(buf, size, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(buf, size, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
}

void advance_callback(void* context, std::int64_t done, std::int64_t total) noexcept {
  progress_advance(*static_cast<progress_bar*>(context), done, total);
}

}  // namespace

void progress_start(progress_bar& bar, std::FILE* err, const char* label) noexcept {
  bar.out = err != nullptr && isatty(fileno(err)) == 1 ? err : nullptr;
  std::snprintf(bar.label, sizeof bar.label, "%s", label);
  bar.start = clock::now();
  bar.last_draw = bar.start;
  bar.drawn_once = false;
  bar.width = 0;
  bar.busy.clear();
}

void progress_advance(progress_bar& bar, std::int64_t done, std::int64_t total) noexcept {
  if (bar.out == nullptr || total <= 0) return;
  if (bar.busy.test_and_set(std::memory_order_acquire)) return;
  const clock::time_point now = clock::now();
  if (!bar.drawn_once || now - bar.last_draw >= redraw_interval) {
    bar.drawn_once = true;
    bar.last_draw = now;
    done = std::clamp<std::int64_t>(done, 0, total);
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    char left[32] = "--:--";
    if (done > 0) {
      const double elapsed = std::chrono::duration<double>(now - bar.start).count();
      const double remaining =
          elapsed * static_cast<double>(total - done) / static_cast<double>(done);
      // Clamped before the conversion; a day is beyond any report.
      format_duration(left, sizeof left,
                      static_cast<std::int64_t>(std::min(remaining + 0.5, 86400.0)));
    }
    char line[160];
    int n = std::snprintf(line, sizeof line, "\r%s: %lld / %lld (%d%%), %s left", bar.label,
                          static_cast<long long>(done), static_cast<long long>(total),
                          static_cast<int>(fraction * 100.0), left);
    n = std::clamp(n, 1, static_cast<int>(sizeof line) - 1);
    std::fputs(line, bar.out);
    // Blanks over the rest of a longer earlier line.
    for (int i = n - 1; i < bar.width; ++i) std::fputc(' ', bar.out);
    bar.width = std::max(bar.width, n - 1);
    std::fflush(bar.out);
  }
  bar.busy.clear(std::memory_order_release);
}

void progress_finish(progress_bar& bar) noexcept {
  if (bar.out == nullptr || bar.width == 0) return;
  while (bar.busy.test_and_set(std::memory_order_acquire)) {
  }
  std::fputc('\r', bar.out);
  for (int i = 0; i < bar.width; ++i) std::fputc(' ', bar.out);
  std::fputc('\r', bar.out);
  std::fflush(bar.out);
  bar.width = 0;
  bar.busy.clear(std::memory_order_release);
}

progress_callback progress_callback_for(progress_bar& bar) noexcept {
  return {advance_callback, &bar};
}

}  // namespace fixfir
