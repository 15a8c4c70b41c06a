#include "parallel_chunks.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace fixfir {

unsigned worker_count() noexcept {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

namespace {

struct chunk_board {
  std::size_t chunks = 0;
  std::atomic<std::size_t> next{0};  // the next chunk nobody has claimed yet
  std::mutex mutex;
  std::condition_variable finished_one;
  std::vector<bool> finished;  // guarded by `mutex`
};

// Claims and runs one chunk. Returns false when none is left.
bool run_one(chunk_board& board, unsigned worker,
             const std::function<void(unsigned, std::size_t)>& work) {
  const std::size_t chunk = board.next.fetch_add(1);
  if (chunk >= board.chunks) return false;
  work(worker, chunk);
  {
    const std::lock_guard lock(board.mutex);
    board.finished[chunk] = true;
  }
  board.finished_one.notify_all();
  return true;
}

}  // namespace

bool run_chunks_in_order(std::size_t chunks, unsigned threads,
                         const std::function<void(unsigned, std::size_t)>& work,
                         const std::function<bool(std::size_t)>& done) noexcept {
  chunk_board board;
  board.chunks = chunks;
  std::vector<std::thread> helpers;
  try {
    board.finished.assign(chunks, false);
    helpers.reserve(threads > 1 ? threads - 1 : 0);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // Stops the helpers after their current chunk and waits for them, on every way out.
  struct joiner {
    chunk_board& board;
    std::vector<std::thread>& helpers;
    ~joiner() {
      board.next.store(board.chunks);
      for (std::thread& h : helpers) h.join();
    }
  } const join_on_exit{board, helpers};

  const unsigned wanted = threads > 0 ? threads - 1 : 0;
  for (unsigned w = 1; w <= wanted && w < chunks; ++w) {
    try {
      helpers.emplace_back([&board, &work, w] {
        while (run_one(board, w, work)) {
        }
      });
    } catch (const std::exception&) {
      break;  // the threads already started, and this one, share the rest
    }
  }

  for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
    for (;;) {
      {
        std::unique_lock lock(board.mutex);
        if (board.finished[chunk]) break;
      }
      // The chunk in turn is still running elsewhere: help with a later one, or wait.
      if (!run_one(board, 0, work)) {
        std::unique_lock lock(board.mutex);
        board.finished_one.wait(lock, [&] { return static_cast<bool>(board.finished[chunk]); });
        break;
      }
    }
    if (!done(chunk)) return false;
  }
  return true;
}

}  // namespace fixfir
