#pragma once
// Preconditions of buffer windows, checked in debug builds and in the sanitizer and fuzz
// builds (which define FIXFIR_CHECKS). A broken one is a fault in the program, never in
// its input: it names the condition and where it failed on standard error and stops at
// once, before anything reads or writes outside a buffer. Optimised builds compile the
// checks away (the condition is then not evaluated).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fixfir {

[[noreturn]] inline void precondition_failed(const char* condition, const char* file,
                                             int line) noexcept {
  std::fprintf(stderr, "%s:%d: precondition failed: %s\n", file, line, condition);
  std::abort();
}

/// Whether `n` can count elements of a buffer: a count computed as a difference that went
/// below 0 wraps to near 2^64 and is not.
[[nodiscard]] constexpr bool plausible_count(std::size_t n) noexcept {
  return n <= static_cast<std::size_t>(PTRDIFF_MAX) / 8;
}

}  // namespace fixfir

#if !defined(NDEBUG) || defined(FIXFIR_CHECKS)
#define FIXFIR_EXPECTS(condition) \
  ((condition) ? void(0) : ::fixfir::precondition_failed(#condition, __FILE__, __LINE__))
#else
#define FIXFIR_EXPECTS(condition) ((void)sizeof((condition) ? 1 : 0))
#endif
