#pragma once
// Arguments bound as Python binds them, with Python's own errors for a missing, repeated or
// unknown one, and conversions that name the argument they refuse. pybind11's own binding
// would answer any of these with one error that prints every argument, arrays included.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir::python {

/// One parameter: its name, and the text of its default (nullptr when it has none).
struct parameter {
  const char* name = nullptr;
  const char* default_text = nullptr;
};

/// A function's parameters as its `def` line lists them: the first `positional` may be
/// given by position, the rest only by keyword; those without a default come first.
struct signature {
  std::string function;
  std::vector<parameter> parameters;
  std::size_t positional = 0;
};

/// The arguments of one call, in the order of the signature's parameters; None where one
/// was not given.
struct bound_call {
  const signature* of = nullptr;
  std::vector<pybind11::object> values;
};

/// `args` and `kwargs` bound to `s`, or the TypeError Python raises for the call (a
/// missing, repeated or unexpected argument, or too many positional ones).
[[nodiscard]] bound_call bind_call(const signature& s, const pybind11::args& args,
                                   const pybind11::kwargs& kwargs);

/// The argument of the parameter `name` (None when it was not given).
[[nodiscard]] pybind11::handle argument(const bound_call& call, std::string_view name);

/// An integer (int, or anything with __index__ such as numpy's integers), or a TypeError
/// naming `name` for a bool, a float or anything else; a ValueError past 64 bits.
[[nodiscard]] long long integer_argument(pybind11::handle value, const char* name);

/// The integer argument of the parameter `name`.
[[nodiscard]] long long integer_named(const bound_call& call, const char* name);

/// None as no value, else as integer_argument.
[[nodiscard]] std::optional<long long> optional_integer(pybind11::handle value, const char* name);

/// A real number (int, float, numpy's), or a TypeError naming `name` for None, a bool or
/// anything else.
[[nodiscard]] double real_argument(pybind11::handle value, const char* name);

/// None as no value, a str as it is (a ValueError naming `name` for one holding a lone
/// surrogate), anything else a TypeError naming `name`.
[[nodiscard]] std::optional<std::string> optional_text(pybind11::handle value, const char* name);

/// None as no bands, else a sequence of (low, high) pairs of real numbers; a TypeError
/// naming `name` for anything else.
[[nodiscard]] std::optional<std::vector<std::pair<double, double>>> band_argument(
    pybind11::handle value, const char* name);

/// The docstring of a function: its `def` line as Python's help and inspect read it, then
/// `text`.
[[nodiscard]] std::string signature_doc(const signature& s, const char* text);

/// `text` as a Python str, the bytes that are not UTF-8 (a file name's) as \xNN escapes.
[[nodiscard]] pybind11::str python_text(const std::string& text);

/// `text` quoted as Python's repr quotes it, so that a line break or a NUL byte in it shows
/// as its escape rather than breaking or ending the message it goes in.
[[nodiscard]] std::string shown(const std::string& text);

/// Raises `type` with `message` as its text, the bytes that are not UTF-8 (a file name's)
/// shown as \xNN escapes.
[[noreturn]] void raise_with(PyObject* type, const std::string& message);

/// Raises a library's error as Python does: bad_input as ValueError, out_of_memory as
/// MemoryError, cannot_write as OSError (with its errno, and `file` as its filename when
/// given), anything else as RuntimeError, each with the error's message.
[[noreturn]] void raise(const error& e, pybind11::handle file = pybind11::handle());

/// One function of the module: its signature, the text of its docstring after the
/// signature, and its body, which reads the bound call's arguments.
struct binding {
  signature of;
  const char* text = nullptr;
  pybind11::object (*body)(const bound_call&) = nullptr;
};

/// Defines `b.of.function` in `m`: each call is bound to `b.of` and handed to `b.body`.
void define(pybind11::module_& m, const binding& b);

}  // namespace fixfir::python
