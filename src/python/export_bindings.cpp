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

// The export's words as a dict: path (as given, through os.fspath), count, bits,
// fraction_bits, overflows and words.
py::dict export_dict(const export_facts& f, py::handle path) {
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

py::dict export_coefficient_file(py::handle taps, py::handle path,
                                 std::optional<long long> precision, const datapath_keywords& k) {
  const std::vector<float> t = taps_argument(taps);
  const std::string file = file_name_argument(path);
  if (const result<export_format> format = export_format_for(file); !format)
    raise_with(PyExc_ValueError, "path: " + format.failure().message);
  const datapath_choices c = choices_argument(precision, k);
  if (!export_word_chosen(c)) {
    raise_with(PyExc_ValueError, std::string("path needs ") +
                                     field_keyword(datapath_field::precision) + " or " +
                                     field_keyword(datapath_field::coefficient_bits));
  }
  // The words are made and written without the interpreter lock; Ctrl-C stops the export
  // before the earlier file is replaced.
  result<export_facts> written = out_of_memory_error();
  interruptible([&] {
    written = export_coefficients(t, c, file, [] { return keep_going(); });
    return true;
  });
  if (!written) raise(written.failure(), path);
  return export_dict(written.value(), path);
}

}  // namespace fixfir::python
