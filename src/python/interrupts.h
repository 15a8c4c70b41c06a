#pragma once
// Ctrl-C during a long computation: the engine runs without the interpreter lock, and the
// thread that called in takes it back now and then to let Python's signal handlers run.

#include <pybind11/pybind11.h>

#include <chrono>
#include <optional>
#include <type_traits>
#include <utility>

#include "fixfir/engine/parallel_chunks.h"

namespace fixfir::python {

/// What a computation without the interpreter lock knows of Python's signals.
struct signal_watch {
  std::chrono::steady_clock::time_point last_asked = std::chrono::steady_clock::now();
  bool interrupted = false;  ///< a handler raised, and its exception is pending
};

/// Whether the computation may go on. At most every 50 ms it takes the interpreter lock on
/// the calling thread and runs Python's signal handlers; once one raises (Ctrl-C raises
/// KeyboardInterrupt) the answer is false from then on.
inline bool python_keeps_going(signal_watch& watch) noexcept {
  if (watch.interrupted) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - watch.last_asked < std::chrono::milliseconds(50)) return true;
  watch.last_asked = now;
  try {
    const pybind11::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) watch.interrupted = true;
  } catch (...) {
    // The lock could not be taken back: carry on, as without the check.
  }
  return !watch.interrupted;
}

/// Runs `compute()` without the interpreter lock, stoppable by a signal: the engine asks
/// `python_keeps_going` between its chunks, and when a handler raised, that exception
/// (KeyboardInterrupt) is raised here instead of anything `compute` returned or threw.
template <class Compute>
std::invoke_result_t<Compute> interruptible(Compute&& compute) {
  signal_watch watch;
  const keep_going_check check = [&watch] { return python_keeps_going(watch); };
  std::optional<std::invoke_result_t<Compute>> result;
  try {
    const pybind11::gil_scoped_release unlocked;
    const keep_going_guard guard(check);
    result.emplace(compute());
  } catch (...) {
    if (!watch.interrupted) throw;
  }
  if (watch.interrupted) throw pybind11::error_already_set();
  return std::move(*result);
}

}  // namespace fixfir::python
