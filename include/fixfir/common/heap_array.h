#pragma once
// A zero-filled heap array whose allocation failure is a value, not an exception.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <type_traits>

namespace fixfir {

struct free_deleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

/// An owned array of `size` trivially copyable elements, all bits zero at creation.
template <class T>
struct heap_array {
  static_assert(std::is_trivially_copyable_v<T>);
  std::unique_ptr<T[], free_deleter> data;
  std::size_t size = 0;

  T* begin() const noexcept { return data.get(); }
  T* end() const noexcept { return data.get() + size; }
  T& operator[](std::size_t i) const noexcept { return data[i]; }
};

/// Allocates `n` zeroed elements. On failure returns `false` and leaves `out` empty.
/// Large requests are zero pages from the system, so an unused tail costs no memory.
template <class T>
[[nodiscard]] bool allocate_zeroed(heap_array<T>& out, std::size_t n) noexcept {
  out.data.reset();
  out.size = 0;
  if (n == 0) return true;
  void* p = std::calloc(n, sizeof(T));
  if (p == nullptr) return false;
  out.data.reset(static_cast<T*>(p));
  out.size = n;
  return true;
}

}  // namespace fixfir
