// The Python module `fixfir`: the console tool's fixed-point model on numpy arrays, computed
// by the same libraries, so every array holds the bits that fixfir prints.
//
// Each function copies its arguments first, then runs the engine without the interpreter
// lock on the machine's threads (Ctrl-C stops it within a fraction of a second), and raises
// an exception for an argument the tool's model cannot take.

#include <pybind11/pybind11.h>

#include "fixfir/common/analysis_constants.h"
#include "python_bindings.h"

PYBIND11_MODULE(_fixfir, m) {
  using namespace fixfir;
  using namespace fixfir::python;
  namespace py = pybind11;
  // Each function's docstring starts with its own signature (signature_doc).
  py::options options;
  options.disable_function_signatures();
  m.doc() =
      "The fixed-point FIR model of the fixfir console tool on numpy arrays.\n\n"
      "Taps are held in single precision as the tap file reader holds them: a float32 array "
      "is taken as it is; any other real or integer array is converted to float64 and each "
      "value rounded to the nearest float32 (the reader rounds the decimal text directly, "
      "which can differ in the last bit for a text that is not exactly a float64). "
      "Precisions are 0 to 30 (scale 2^precision). Arguments are never modified.";
  m.attr("SAMPLE_RATE") = 16000;
  m.attr("WAVEFORM_SAMPLES") = WAVEFORM_SAMPLES;
  m.attr("SWEEP_SAMPLES") = SWEEP_SAMPLES;
  m.attr("__version__") = FIXFIR_VERSION;  // the project's, as fixfir-report --version says
  define_functions(m);
  bind_filter_class(m);
}
