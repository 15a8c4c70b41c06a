#pragma once
// Independent chunks of work spread over threads, finished in order on the caller's thread.

#include <cstddef>
#include <functional>

namespace fixfir {

/// The number of threads to use: the hardware's count, at least 1.
[[nodiscard]] unsigned worker_count() noexcept;

/// Runs `work(worker, chunk)` once for every chunk in [0, chunks), on up to `threads`
/// threads of which the calling thread is one (worker 0); `worker` is below `threads`,
/// and no two calls with the same worker run at once. `done(chunk)` is called on the
/// calling thread in rising chunk order, each as soon as that chunk and all before it are
/// finished, so output can be written in order while later chunks are computed. When a
/// thread cannot be started the others do its share, with the same results. Neither
/// callback may throw. When `done` returns false the remaining chunks are abandoned, and
/// the call returns false once every thread has stopped; it also returns false, having run
/// nothing, when its own bookkeeping cannot be allocated.
[[nodiscard]] bool run_chunks_in_order(
    std::size_t chunks, unsigned threads,
    const std::function<void(unsigned worker, std::size_t chunk)>& work,
    const std::function<bool(std::size_t chunk)>& done) noexcept;

}  // namespace fixfir
