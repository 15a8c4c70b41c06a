#pragma once
// Independent chunks of work spread over threads, finished in order on the caller's thread.

#include <cstddef>
#include <functional>

#include "fixfir/common/result.h"

namespace fixfir {

/// The number of threads to use: the hardware's count, at least 1.
[[nodiscard]] unsigned worker_count() noexcept;

/// The threads a run asks for: `asked`, or worker_count() when it names none (0).
[[nodiscard]] unsigned threads_for(unsigned asked) noexcept;

/// Asked whether a long computation should go on; false stops it. Must not throw.
using keep_going_check = std::function<bool()>;

/// While it lives, runs started on the thread that made it ask `check`, on that thread,
/// between chunks and every few milliseconds while waiting for one; when it answers false
/// the run is abandoned like one whose `done` returned false. Without one (the default)
/// nothing is asked. Guards nest; `check` must outlive the guard.
struct keep_going_guard {
  explicit keep_going_guard(const keep_going_check& check) noexcept;
  ~keep_going_guard();
  keep_going_guard(const keep_going_guard&) = delete;
  keep_going_guard& operator=(const keep_going_guard&) = delete;

  const keep_going_check* previous;
};

/// Whether a long computation should go on; loops that can take more than a few
/// milliseconds ask it now and then and stop early when it answers false, as their results
/// are then thrown away. Inside a chunk's work: false once the run is being abandoned (on
/// the calling thread it also asks the installed check, and a false answer abandons the
/// run). Elsewhere: the installed check's answer, or true when there is none.
[[nodiscard]] bool keep_going() noexcept;

/// The error of a computation that stopped short without an error of its own (a run that
/// returned false): `interrupted` when keep_going() answers false, as the caller asked it to
/// stop, else `out_of_memory`, the only other way such a run stops short.
[[nodiscard]] error stopped_run_error();

/// Runs `work(worker, chunk)` once for every chunk in [0, chunks), on up to `threads`
/// threads of which the calling thread is one (worker 0); `worker` is below `threads`,
/// and no two calls with the same worker run at once. `done(chunk)` is called on the
/// calling thread in rising chunk order, each as soon as that chunk and all before it are
/// finished, so output can be written in order while later chunks are computed. When a
/// thread cannot be started the others do its share, with the same results. Neither
/// callback may throw. When `done` returns false the remaining chunks are abandoned, and
/// the call returns false once every thread has stopped; it also returns false, having run
/// nothing, when its own bookkeeping cannot be allocated. A `keep_going_guard` on the
/// calling thread can stop it in the same way.
[[nodiscard]] bool run_chunks_in_order(
    std::size_t chunks, unsigned threads,
    const std::function<void(unsigned worker, std::size_t chunk)>& work,
    const std::function<bool(std::size_t chunk)>& done) noexcept;

/// Runs `side` on a thread of its own while `work` runs on the calling thread, and returns
/// whether both returned true. Inside `side`, `keep_going()` turns false once `work` has
/// returned false or the calling thread's installed check has; the calling thread asks
/// that check while it waits for `side`. When the thread cannot be started, `side` runs
/// after `work` on the calling thread (not at all when `work` failed). Neither may throw.
[[nodiscard]] bool run_beside(const std::function<bool()>& side,
                              const std::function<bool()>& work) noexcept;

}  // namespace fixfir
