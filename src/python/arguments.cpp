#include "arguments.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace py = pybind11;

namespace fixfir::python {

namespace {

[[noreturn]] void type_error(const std::string& message) { raise_with(PyExc_TypeError, message); }

std::string type_name(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

// A bool is an int to Python, and numpy's bool an index; neither is a count or a width.
bool is_bool(py::handle value) {
  if (PyBool_Check(value.ptr())) return true;
  const py::module_ numpy = py::module_::import("numpy");
  return py::isinstance(value, numpy.attr("bool_"));
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": Python's list of missing arguments.
std::string quoted_list(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() == 2 ? " and " : i + 1 == names.size() ? ", and " : ", ";
    text += "'" + names[i] + "'";
  }
  return text;
}

// The UTF-8 bytes of the str `value`, or nothing for one that UTF-8 cannot encode (a lone
// surrogate, as os.fsdecode makes of a file name's stray byte).
std::optional<std::string> utf8_text(py::handle value) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
  if (data == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::string repr_text(py::handle value) { return py::repr(value).cast<std::string>(); }

}  // namespace

std::string shown(const std::string& text) { return repr_text(python_text(text)); }

py::str python_text(const std::string& text) {
  auto decoded = py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace"));
  if (!decoded) throw py::error_already_set();
  return decoded;
}

[[noreturn]] void raise_with(PyObject* type, const std::string& message) {
  PyErr_SetObject(type, python_text(message).ptr());
  throw py::error_already_set();
}

bound_call bind_call(const signature& s, const py::args& args, const py::kwargs& kwargs) {
  const std::string& f = s.function;
  const std::size_t n = s.parameters.size();
  std::size_t required = 0;
  while (required < n && s.parameters[required].default_text == nullptr) ++required;
  if (args.size() > s.positional) {
    const std::string given = std::to_string(args.size());
    const std::string takes = required == s.positional ? std::to_string(required)
                                                       : "from " + std::to_string(required) +
                                                             " to " + std::to_string(s.positional);
    type_error(f + "() takes " + takes + " positional argument" + (s.positional == 1 ? "" : "s") +
               " but " + given + (args.size() == 1 ? " was" : " were") + " given");
  }
  bound_call call{&s, std::vector<py::object>(n)};
  for (std::size_t i = 0; i < args.size(); ++i)
    call.values[i] = py::reinterpret_borrow<py::object>(args[i]);
  for (const auto& [key, value] : kwargs) {
    const std::optional<std::string> text = utf8_text(key);
    if (!text) type_error(f + "() got an unexpected keyword argument " + repr_text(key));
    const std::string& name = *text;
    std::size_t i = 0;
    while (i < n && name != s.parameters[i].name) ++i;
    if (i == n) type_error(f + "() got an unexpected keyword argument '" + name + "'");
    if (call.values[i]) type_error(f + "() got multiple values for argument '" + name + "'");
    call.values[i] = py::reinterpret_borrow<py::object>(value);
  }
  std::vector<std::string> missing;
  for (std::size_t i = 0; i < required; ++i) {
    if (!call.values[i]) missing.emplace_back(s.parameters[i].name);
  }
  if (!missing.empty()) {
    type_error(f + "() missing " + std::to_string(missing.size()) +
               " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
               quoted_list(missing));
  }
  for (py::object& value : call.values) {
    if (!value) value = py::none();
  }
  return call;
}

py::handle argument(const bound_call& call, std::string_view name) {
  for (std::size_t i = 0; i < call.values.size(); ++i) {
    if (name == call.of->parameters[i].name) return call.values[i];
  }
  throw std::logic_error("no parameter " + std::string(name));
}

long long integer_argument(py::handle value, const char* name) {
  const std::string must = std::string(name) + " must be an integer, not ";
  if (is_bool(value) || PyFloat_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
    type_error(must + type_name(value));
  const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow != 0) {
    raise_with(PyExc_ValueError,
               std::string(name) + " must fit 32 bits, not " + py::str(index).cast<std::string>());
  }
  if (v == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return v;
}

long long integer_named(const bound_call& call, const char* name) {
  return integer_argument(argument(call, name), name);
}

std::optional<long long> optional_integer(py::handle value, const char* name) {
  if (value.is_none()) return std::nullopt;
  return integer_argument(value, name);
}

double real_argument(py::handle value, const char* name) {
  const std::string must = std::string(name) + " must be a real number, not " + type_name(value);
  // A str's % formatting makes it a "number" to the C API; a bool is an int.
  if (value.is_none() || is_bool(value) || PyUnicode_Check(value.ptr()) ||
      PyBytes_Check(value.ptr()))
    type_error(must);
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred() != nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
    PyErr_Clear();
    type_error(must);
  }
  return v;
}

std::optional<std::string> optional_text(py::handle value, const char* name) {
  if (value.is_none()) return std::nullopt;
  if (!PyUnicode_Check(value.ptr()))
    type_error(std::string(name) + " must be a str, not " + type_name(value));
  std::optional<std::string> text = utf8_text(value);
  if (!text) {
    raise_with(PyExc_ValueError,
               std::string(name) + " must be text UTF-8 can encode, not " + repr_text(value));
  }
  return text;
}

std::optional<std::vector<std::pair<double, double>>> band_argument(py::handle value,
                                                                    const char* name) {
  if (value.is_none()) return std::nullopt;
  const std::string must =
      std::string(name) + " must be a list of (low, high) pairs in hertz, not ";
  if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) || !PySequence_Check(value.ptr()))
    type_error(must + type_name(value));
  std::vector<std::pair<double, double>> bands;
  for (const py::handle item : py::reinterpret_borrow<py::sequence>(value)) {
    if (PyUnicode_Check(item.ptr()) || !PySequence_Check(item.ptr()) ||
        PySequence_Size(item.ptr()) != 2) {
      PyErr_Clear();
      type_error(must + "a " + type_name(value) + " holding " + type_name(item));
    }
    const auto pair = py::reinterpret_borrow<py::sequence>(item);
    const py::object low = pair[0];
    const py::object high = pair[1];
    for (const py::handle edge : {low, high}) {
      if (edge.is_none() || is_bool(edge) || PyUnicode_Check(edge.ptr()) ||
          PyBytes_Check(edge.ptr()))
        type_error(must + "a pair holding " + type_name(edge));
    }
    bands.emplace_back(real_argument(low, name), real_argument(high, name));
  }
  return bands;
}

std::string signature_doc(const signature& s, const char* text) {
  std::string line = s.function + "(";
  for (std::size_t i = 0; i < s.parameters.size(); ++i) {
    if (i > 0) line += ", ";
    if (i == s.positional) line += "*, ";
    line += s.parameters[i].name;
    if (s.parameters[i].default_text != nullptr)
      line += std::string("=") + s.parameters[i].default_text;
  }
  // Python's help and inspect.signature take "name(...)\n--\n\n" at the head of a built-in's
  // docstring as its signature.
  return line + ")\n--\n\n" + text;
}

void define(py::module_& m, const binding& b) {
  m.def(
      b.of.function.c_str(),
      [s = b.of, body = b.body](const py::args& args, const py::kwargs& kwargs) {
        return body(bind_call(s, args, kwargs));
      },
      signature_doc(b.of, b.text).c_str());
}

void raise(const error& e, py::handle file) {
  switch (e.kind) {
    case error_kind::bad_input:
      raise_with(PyExc_ValueError, e.message);
    case error_kind::out_of_memory:
      throw std::bad_alloc();  // MemoryError
    case error_kind::cannot_write:
      break;
    case error_kind::interrupted:
    case error_kind::failed:
      raise_with(PyExc_RuntimeError, e.message);
  }
  // As open() raises it: OSError(errno, strerror, filename), which Python makes the
  // subclass the errno names (FileNotFoundError, PermissionError, ...).
  if (e.system_errno == 0) raise_with(PyExc_OSError, e.message);
  const py::str reason(std::strerror(e.system_errno));
  const py::object raised = file
                                ? py::handle(PyExc_OSError)(e.system_errno, reason, file)
                                : py::handle(PyExc_OSError)(e.system_errno, python_text(e.message));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr())), raised.ptr());
  throw py::error_already_set();
}

}  // namespace fixfir::python
