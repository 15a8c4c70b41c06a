// fixfir.explore: fixfir-report --explore's search of datapaths as plain Python data.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "array_io.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/search_text.h"
#include "interrupts.h"
#include "python_bindings.h"
#include "record_dicts.h"

namespace py = pybind11;

namespace fixfir::python {

py::dict explore(py::handle taps, const run_arguments& q, const datapath_keywords& k,
                 const std::string& cost) {
  const std::vector<float> t = taps_argument(taps);
  const report_request o = options_argument(0, q);
  const datapath_choices c = choices_argument(std::nullopt, k);
  if (cost == "cells")
    throw py::value_error("cost 'cells' needs synthesis: use fixfir-report --explore --cost cells");
  if (cost != "multiplier" && cost != "bits")
    raise_with(PyExc_ValueError, "cost must be 'multiplier' or 'bits', not " + shown(cost));
  if (c.rounding == rounding_mode::floor)
    throw py::value_error(std::string(keyword_name(datapath_keyword::rounding)) +
                          " must be 'zero' or 'nearest' for explore, not 'floor'");
  const search_axes axes{c.coefficient_bits, c.sample_bits, c.accumulator_bits, c.rounding,
                         search_output_stage(t, c)};
  search_report r;
  outcome done = success();
  interruptible([&] {
    done = run_datapath_search(t, o, q.targets, axes,
                               cost == "bits" ? cost_model::bits : cost_model::multiplier, r);
    return true;
  });
  if (!done) raise(done.failure());
  py::dict d;
  put_bands(d, r.bands.plan);
  d["front"] = front_dict(r.front);
  d["targets"] = targets_dict(r.targets);
  d["recommended"] = !r.recommended ? py::object(py::none())
                                    : py::object(keywords_dict(r.front[*r.recommended].path));
  d["why"] = r.why;
  // Without a steady state the attenuation and ripple are the coefficients'.
  d["steady_measured"] = r.steady_absent.empty();
  d["steady_reason"] = r.steady_absent;
  d["lines"] = search_lines(r);
  return d;
}

}  // namespace fixfir::python
