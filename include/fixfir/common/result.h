#pragma once
// A value, or an error kind and a one-line message: what an entry that can fail returns.
// fixfir-report turns an error into its words and exit status in one place (say_failure),
// the Python module into an exception (raise, in its argument helpers); nothing throws
// across a library boundary. The engine's and the drivers' runs return an outcome that
// tells memory running out from a stopped run (stopped_run_error, parallel_chunks.h),
// except the chunk runners themselves (run_chunks_in_order, run_beside), whose callers make
// the error. So do the measurement library's responses, spectra, band figures, error model,
// least squares and band-edge fit. A `bool` an entry returns otherwise answers a question
// (whether a run wrapped, whether sums can wrap, whether every coefficient is 0), except
// for the sweeps, steady states and waveform runs (precision_sweep, datapath_sweep,
// steady_state, steady_figures, waveform_model, datapath_waveform), whose false still means
// out of memory or stopped. Other entries not yet on this convention: the dialogue's tap
// reader and the file-writing drivers return a `status`; some checks return the text of
// what is wrong ("" when nothing is: datapath_problem, band_list_problem,
// search_axes_problem); the wrap-free limit is a std::optional, but
// largest_wrap_free_precision and a recommendation's precision still give -1 for none.

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
