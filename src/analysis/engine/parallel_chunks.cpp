#include "fixfir/engine/parallel_chunks.h"

#include <atomic>
#include <chrono>
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

unsigned threads_for(unsigned asked) noexcept { return asked == 0 ? worker_count() : asked; }

namespace {

// The check of the innermost guard on this thread.
thread_local const keep_going_check* installed_check = nullptr;

// How long the calling thread waits for a chunk before it asks the check again.
constexpr std::chrono::milliseconds check_interval{10};

struct chunk_board {
  std::size_t chunks = 0;
  std::atomic<std::size_t> next{0};   // the next chunk nobody has claimed yet
  std::atomic<bool> stopping{false};  // the run is abandoned: chunks may end early
  std::mutex mutex;
  std::condition_variable finished_one;
  std::vector<bool> finished;  // guarded by `mutex`
};

// The run this thread takes part in, if any.
thread_local chunk_board* current_board = nullptr;

// Makes `board` the current run of this thread while it lives.
struct board_scope {
  explicit board_scope(chunk_board& board) noexcept : previous(current_board) {
    current_board = &board;
  }
  ~board_scope() { current_board = previous; }
  board_scope(const board_scope&) = delete;
  board_scope& operator=(const board_scope&) = delete;

  chunk_board* previous;
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

keep_going_guard::keep_going_guard(const keep_going_check& check) noexcept
    : previous(installed_check) {
  installed_check = &check;
}

keep_going_guard::~keep_going_guard() { installed_check = previous; }

error stopped_run_error() { return keep_going() ? out_of_memory_error() : interrupted_error(); }

bool keep_going() noexcept {
  chunk_board* const board = current_board;
  if (board != nullptr && board->stopping.load(std::memory_order_relaxed)) return false;
  if (installed_check == nullptr || (*installed_check)()) return true;
  if (board != nullptr) board->stopping.store(true, std::memory_order_relaxed);
  return false;
}

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
      board.stopping.store(true, std::memory_order_relaxed);
      for (std::thread& h : helpers) h.join();
    }
  } const join_on_exit{board, helpers};
  const board_scope taking_part(board);

  const unsigned wanted = threads > 0 ? threads - 1 : 0;
  for (unsigned w = 1; w <= wanted && w < chunks; ++w) {
    try {
      helpers.emplace_back([&board, &work, w] {
        const board_scope helping(board);
        while (run_one(board, w, work)) {
        }
      });
    } catch (const std::exception&) {
      break;  // the threads already started, and this one, share the rest
    }
  }

  const bool checked = installed_check != nullptr;
  for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
    for (;;) {
      {
        std::unique_lock lock(board.mutex);
        if (board.finished[chunk]) break;
      }
      if (checked && !keep_going()) return false;
      // The chunk in turn is still running elsewhere: help with a later one, or wait.
      if (!run_one(board, 0, work)) {
        std::unique_lock lock(board.mutex);
        auto finished = [&] { return static_cast<bool>(board.finished[chunk]); };
        if (!checked) {
          board.finished_one.wait(lock, finished);
          break;
        }
        while (!board.finished_one.wait_for(lock, check_interval, finished)) {
          lock.unlock();
          if (!keep_going()) return false;
          lock.lock();
        }
        break;
      }
    }
    if (checked && !keep_going()) return false;
    if (!done(chunk)) return false;
  }
  return true;
}

bool run_beside(const std::function<bool()>& side, const std::function<bool()>& work) noexcept {
  struct shared_state {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished_side;
    bool side_finished = false;  // guarded by `mutex`
    bool side_result = false;    // guarded by `mutex`
  } state;
  const keep_going_check side_check = [&state] {
    return !state.stop.load(std::memory_order_relaxed);
  };
  std::thread helper;
  try {
    helper = std::thread([&] {
      const keep_going_guard guard(side_check);
      const bool result = side();
      const std::lock_guard lock(state.mutex);
      state.side_result = result;
      state.side_finished = true;
      state.finished_side.notify_all();
    });
  } catch (const std::exception&) {
    return work() && side();  // no thread: one after the other
  }
  const bool worked = work();
  if (!worked) state.stop.store(true, std::memory_order_relaxed);
  std::unique_lock lock(state.mutex);
  while (!state.finished_side.wait_for(lock, check_interval, [&] { return state.side_finished; })) {
    lock.unlock();
    if (installed_check != nullptr && !keep_going())
      state.stop.store(true, std::memory_order_relaxed);
    lock.lock();
  }
  const bool side_result = state.side_result;
  lock.unlock();
  helper.join();
  return worked && side_result;
}

}  // namespace fixfir
