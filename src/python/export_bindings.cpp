// fixfir.export: the coefficient words as a file, written by the same code as
// fixfir-report --export, so that the two write the same bytes.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "array_io.h"
#include "fixfir/coefficients/coefficient_export.h"
#include "interrupts.h"
#include "python_bindings.h"

namespace py = pybind11;

namespace fixfir::python {

// The library names its choices as the report's options ("--coefficient-bits"); Python
// callers know them as keywords ("coefficient_bits"). Its refusals of the choices quote
// nothing the caller typed, so every option name in them is one of its own.
std::string keyword_names(const std::string& message) {
  std::string out;
  for (std::size_t i = 0; i < message.size();) {
    if (message.compare(i, 2, "--") != 0) {
      out += message[i++];
      continue;
    }
    std::size_t end = i + 2;
    while (end < message.size() &&
           ((message[end] >= 'a' && message[end] <= 'z') || message[end] == '-'))
      ++end;
    std::string name = message.substr(i + 2, end - i - 2);
    for (char& c : name) c = c == '-' ? '_' : c;
    out += name == "export" ? "path" : name;
    i = end;
  }
  return out;
}

namespace {

std::optional<std::int32_t> choice(const std::optional<long long>& value, const char* name) {
  if (!value) return std::nullopt;
  return int32_value(*value, name);
}

}  // namespace

datapath_choices choices_argument(std::optional<long long> precision, const datapath_keywords& k) {
  datapath_choices c;
  c.precision = choice(precision, "precision");
  c.coefficient_bits = choice(k.coefficient_bits, "coefficient_bits");
  c.coefficient_fraction_bits = choice(k.coefficient_precision, "coefficient_precision");
  c.sample_bits = choice(k.sample_bits, "sample_bits");
  c.sample_fraction_bits = choice(k.sample_precision, "sample_precision");
  c.accumulator_bits = choice(k.accumulator_bits, "accumulator_bits");
  if (k.rounding) {
    c.rounding = rounding_from_option(*k.rounding);
    if (!c.rounding)
      throw py::value_error("rounding must be 'zero', 'nearest' or 'floor', not '" + *k.rounding +
                            "'");
  }
  if (k.overflow) {
    c.overflow = overflow_from_option(*k.overflow);
    if (!c.overflow)
      throw py::value_error("overflow must be 'wrap' or 'saturate', not '" + *k.overflow + "'");
  }
  if (const std::string problem = datapath_choices_problem(c); !problem.empty())
    throw py::value_error(keyword_names(problem));
  return c;
}

std::optional<fixed_filter> chosen_filter(py::handle taps, long long precision,
                                          const datapath_keywords& k) {
  const datapath_choices c = choices_argument(precision, k);
  if (!datapath_options_given(c)) return std::nullopt;
  const std::vector<float> t = taps_argument(taps);
  result<datapath> d = datapath_from_choices(t, c);
  if (!d) throw py::value_error(keyword_names(d.failure().message));
  result<fixed_filter> f = make_fixed_filter(t, d.value());
  if (!f) raise(f.failure());
  return std::move(f).value();
}

datapath_keywords datapath_arguments(const bound_call& call) {
  const auto integer = [&call](const char* name) {
    return optional_integer(argument(call, name), name);
  };
  const auto text = [&call](const char* name) { return optional_text(argument(call, name), name); };
  return {integer("coefficient_bits"),
          integer("coefficient_precision"),
          integer("sample_bits"),
          integer("sample_precision"),
          integer("accumulator_bits"),
          text("rounding"),
          text("overflow")};
}

namespace {

// The bytes of the file name `path` stands for, as open() takes it: a str, bytes or
// os.PathLike (a str is encoded as the file system encoding does, undecodable bytes kept as
// they were read). A NUL would cut the name short of its extension, so it is refused.
std::string file_name_argument(py::handle path) {
  const py::module_ os = py::module_::import("os");
  py::object name;
  try {
    name = os.attr("fspath")(path);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_TypeError)) throw;
    raise_with(PyExc_TypeError, std::string("path must be a str, bytes or os.PathLike, not ") +
                                    Py_TYPE(path.ptr())->tp_name);
  }
  const std::string bytes = os.attr("fsencode")(name).cast<py::bytes>();
  if (bytes.find('\0') != std::string::npos)
    raise_with(PyExc_ValueError, "path must not hold a NUL character");
  return bytes;
}

py::dict export_coefficient_file(py::handle taps, py::handle path,
                                 std::optional<long long> precision, const datapath_keywords& k) {
  const std::vector<float> t = taps_argument(taps);
  const std::string file = file_name_argument(path);
  if (const result<export_format> format = export_format_for(file); !format)
    raise_with(PyExc_ValueError, "path: " + format.failure().message);
  const datapath_choices c = choices_argument(precision, k);
  // The words are made and written without the interpreter lock; Ctrl-C stops the export
  // before the earlier file is replaced.
  result<export_facts> written = out_of_memory_error();
  interruptible([&] {
    written = export_coefficients(t, c, file, [] { return keep_going(); });
    return true;
  });
  if (!written) {
    error e = std::move(written).failure();
    if (e.kind == error_kind::bad_input) e.message = keyword_names(e.message);
    raise(e, path);
  }
  const export_facts& f = written.value();
  py::dict d;
  d["path"] = py::module_::import("os").attr("fspath")(path);
  d["count"] = f.count;
  d["bits"] = f.path.coefficient.bits;
  d["fraction_bits"] = f.path.coefficient.fraction_bits;
  d["overflows"] = f.overflows;
  d["words"] = datapath_words(f.path);
  return d;
}

}  // namespace

void bind_export(py::module_& m) {
  define(m, with_datapath_keywords({"export", {{"taps"}, {"path"}, {"precision", "None"}}, 3}),
         "Writes the coefficient words of taps to path (a str, bytes or os.PathLike, as "
         "open() takes), as fixfir-report --export does, byte for byte: a C header (.h), one "
         "hexadecimal word a line (.mem) or index, integer and value a line (.csv), tap 0 "
         "first; an earlier file is replaced only by a complete one, and is kept when the "
         "write fails (OSError) or Ctrl-C stops it. The datapath: coefficient_bits (2 to 32, "
         "default 32) with coefficient_precision fractional bits (default precision, or with "
         "coefficient_bits the most that hold the largest tap), sample_bits and "
         "sample_precision likewise (default W - 1), accumulator_bits (8 to 64, default 32), "
         "rounding 'zero', 'nearest' or 'floor', overflow 'wrap' or 'saturate'; precision or "
         "coefficient_bits is needed. Returns a dict of path (as given, through os.fspath), "
         "count, bits, fraction_bits, overflows (taps that did not fit their word) and words "
         "(the datapath in words).",
         [](const bound_call& a) {
           return export_coefficient_file(argument(a, "taps"), argument(a, "path"),
                                          optional_integer(argument(a, "precision"), "precision"),
                                          datapath_arguments(a));
         });
}

}  // namespace fixfir::python
