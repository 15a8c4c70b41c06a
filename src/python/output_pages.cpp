#include "output_pages.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

namespace py = pybind11;

namespace fixfir::python {

namespace {

// Outputs shorter than this come from numpy's allocator, which keeps short blocks itself.
constexpr std::size_t KEPT_FROM_BYTES = std::size_t{4} << 20;
constexpr std::size_t PAGE_ROUND = std::size_t{2} << 20;  // a huge page
constexpr std::size_t MOST_WAITING = 2;

struct region {
  void* start = nullptr;
  std::size_t bytes = 0;
};

// Regions whose arrays are gone, waiting for the next long output (touched under the
// interpreter lock, but guarded on their own all the same).
std::mutex waiting_lock;
std::vector<region> waiting;

void unmap(const region& r) noexcept { munmap(r.start, r.bytes); }

// A waiting region of at least `bytes` and at most twice that, or a new one.
region take_region(std::size_t bytes) {
  {
    const std::lock_guard<std::mutex> hold(waiting_lock);
    auto best = waiting.end();
    for (auto it = waiting.begin(); it != waiting.end(); ++it) {
      if (it->bytes >= bytes && it->bytes / 2 <= bytes &&
          (best == waiting.end() || it->bytes < best->bytes)) {
        best = it;
      }
    }
    if (best != waiting.end()) {
      const region r = *best;
      waiting.erase(best);
      return r;
    }
  }
  region r;
  r.bytes = (bytes + PAGE_ROUND - 1) / PAGE_ROUND * PAGE_ROUND;
  r.start = mmap(nullptr, r.bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (r.start == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(r.start, r.bytes, MADV_HUGEPAGE);  // a hint: fewer faults where the system allows
#endif
  return r;
}

// The region of an array that is gone: kept, marked free-on-demand, if it can be; the
// largest goes back to the system when more than MOST_WAITING wait.
void give_back(const region& r) noexcept {
#ifdef MADV_FREE
  const bool freeable = madvise(r.start, r.bytes, MADV_FREE) == 0;
#else
  const bool freeable = false;  // kept pages would be the system's to swap, not to drop
#endif
  if (!freeable) {
    unmap(r);
    return;
  }
  region dropped;
  {
    const std::lock_guard<std::mutex> hold(waiting_lock);
    try {
      waiting.push_back(r);
    } catch (const std::bad_alloc&) {
      dropped = r;
    }
    if (waiting.size() > MOST_WAITING) {
      const auto largest =
          std::max_element(waiting.begin(), waiting.end(),
                           [](const region& a, const region& b) { return a.bytes < b.bytes; });
      dropped = *largest;
      waiting.erase(largest);
    }
  }
  if (dropped.start != nullptr) unmap(dropped);
}

}  // namespace

template <class T>
py::array_t<T> output_array(std::size_t n) {
  if (n > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T)) throw std::bad_alloc();
  const std::size_t bytes = n * sizeof(T);
  if (bytes < KEPT_FROM_BYTES) return py::array_t<T>(static_cast<py::ssize_t>(n));
  const region taken = take_region(bytes);
  region* held = nullptr;
  py::capsule owner;
  try {
    held = new region(taken);
    // From here the capsule owns the region, and gives it back when the last array on it
    // is gone (or at once, if making the array fails).
    owner = py::capsule(held, [](void* p) {
      auto* const r = static_cast<region*>(p);
      give_back(*r);
      delete r;
    });
  } catch (...) {
    give_back(taken);
    delete held;
    throw;
  }
  return py::array_t<T>(static_cast<py::ssize_t>(n), static_cast<T*>(held->start), owner);
}

template py::array_t<std::int32_t> output_array<std::int32_t>(std::size_t);
template py::array_t<std::int64_t> output_array<std::int64_t>(std::size_t);

}  // namespace fixfir::python
