#pragma once
// A value, or an error kind and a one-line message: what an entry that can fail returns.
// fixfir-report turns an error into its words and exit status in one place (say_failure),
// the Python module into an exception (raise, in its argument helpers); nothing throws
// across a library boundary. The engine's and the drivers' runs return an outcome that
// tells memory running out from a stopped run (stopped_run_error, parallel_chunks.h),
// except the chunk runners themselves (run_chunks_in_order, run_beside), whose callers make
// the error. So does every entry of the measurement library that can fail, from its
// responses, spectra, band figures, error model and least squares to its sweeps, steady
// states, waveform runs, reports and scan: each carries its parts' error kind up, so a stopped
// run says interrupted even when the check that stopped it would now say go on (but for the
// waveform models, which throw on either and tell the two apart by asking again). A `bool` an
// entry returns answers a question (whether a run wrapped, whether any input can overflow the
// sums, whether every coefficient is 0). Other entries not yet on this convention: the
// dialogue's tap reader and the file-writing drivers return a `status`; some checks return
// the text of what is wrong ("" when nothing is: datapath_problem, band_list_problem,
// search_axes_problem). "None" is a std::optional (the largest wrap-free precision, the
// recommended precision), but for the datapath search's recommended index, -1 when no
// datapath meets the targets.

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace fixfir {

/// What went wrong, as the callers need to tell it apart.
enum class error_kind : std::uint8_t {
  bad_input,      ///< the caller's data or options are refused; the message says why
  out_of_memory,  ///< an allocation failed; nothing was written
  cannot_write,   ///< a file or picture could not be made; earlier outputs are kept
  interrupted,    ///< the caller asked the run to stop (keep_going turned false)
  failed,         ///< a helper program or the system failed; the message says how
};

/// An error kind with the line that explains it to a user.
struct error {
  error_kind kind = error_kind::failed;
  std::string message;
  int system_errno = 0;  ///< the errno of a system call that failed, 0 when none did
};

/// A value of type T, or an error.
template <typename T>
class [[nodiscard]] result {
 public:
  result(T value) : held_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  result(error e) : held_(std::in_place_index<1>, std::move(e)) {}      // NOLINT: implicit

  /// True when the result holds a value.
  [[nodiscard]] bool ok() const noexcept { return held_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  /// The value; only when ok().
  [[nodiscard]] T& value() & noexcept { return *std::get_if<0>(&held_); }
  [[nodiscard]] const T& value() const& noexcept { return *std::get_if<0>(&held_); }
  [[nodiscard]] T&& value() && noexcept { return std::move(*std::get_if<0>(&held_)); }

  /// The error; only when !ok().
  [[nodiscard]] const error& failure() const& noexcept { return *std::get_if<1>(&held_); }
  [[nodiscard]] error&& failure() && noexcept { return std::move(*std::get_if<1>(&held_)); }

 private:
  std::variant<T, error> held_;
};

/// The result of a step that makes no value.
using outcome = result<std::monostate>;

/// A successful outcome.
[[nodiscard]] inline outcome success() { return outcome(std::monostate{}); }

/// An error of `kind` with `message`.
[[nodiscard]] inline error make_error(error_kind kind, std::string message) {
  return error{kind, std::move(message), 0};
}

/// The out-of-memory error every library gives with the same words.
[[nodiscard]] inline error out_of_memory_error() {
  return error{error_kind::out_of_memory, "out of memory", 0};
}

/// The error of a run its caller asked to stop, with the same words everywhere.
[[nodiscard]] inline error interrupted_error() {
  return error{error_kind::interrupted, "interrupted", 0};
}

}  // namespace fixfir
