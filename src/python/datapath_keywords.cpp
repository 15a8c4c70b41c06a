#include "datapath_keywords.h"

#include <pybind11/stl.h>

#include <utility>
#include <vector>

#include "array_io.h"
#include "python_bindings.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

// Each keyword as Python spells it, in datapath_keyword's order; a width also names its
// field and its choice (the words rounding and overflow have no choice here).
struct keyword_spec {
  const char* name;
  datapath_field field;
  std::optional<std::int32_t> datapath_choices::*choice;
};

constexpr keyword_spec keywords[] = {
    {"coefficient_bits", datapath_field::coefficient_bits, &datapath_choices::coefficient_bits},
    {"coefficient_precision", datapath_field::coefficient_fraction_bits,
     &datapath_choices::coefficient_fraction_bits},
    {"sample_bits", datapath_field::sample_bits, &datapath_choices::sample_bits},
    {"sample_precision", datapath_field::sample_fraction_bits,
     &datapath_choices::sample_fraction_bits},
    {"accumulator_bits", datapath_field::accumulator_bits, &datapath_choices::accumulator_bits},
    {"rounding", datapath_field::precision, nullptr},
    {"overflow", datapath_field::precision, nullptr},
    {"output_bits", datapath_field::output_bits, &datapath_choices::output_bits},
    {"output_precision", datapath_field::output_fraction_bits,
     &datapath_choices::output_fraction_bits},
    {"output_rounding", datapath_field::precision, nullptr},
    {"output_overflow", datapath_field::precision, nullptr},
};

const keyword_spec& spec(datapath_keyword k) noexcept {
  return keywords[static_cast<std::size_t>(k)];
}

// The argument of `k`, or None where the call's signature does not take it.
py::handle given(const bound_call& call, datapath_keyword k) {
  const std::vector<parameter>& p = call.of->parameters;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (std::string_view(p[i].name) == spec(k).name) return call.values[i];
  }
  return py::none();
}

// The output stage's keywords into `c`; a ValueError names a bad one, or one given without
// output_bits.
void set_output_choices(const datapath_keywords& k, datapath_choices& c) {
  if (k.output_bits) c.output_bits = int32_value(*k.output_bits, "output_bits");
  if (k.output_precision)
    c.output_fraction_bits = int32_value(*k.output_precision, "output_precision");
  if (k.output_rounding) {
    c.output_rounding = output_rounding_from_option(*k.output_rounding);
    if (!c.output_rounding) {
      raise_with(PyExc_ValueError,
                 "output_rounding must be 'zero', 'nearest', 'floor' or 'convergent', not " +
                     shown(*k.output_rounding));
    }
  }
  if (k.output_overflow) {
    c.output_overflow = overflow_from_option(*k.output_overflow);
    if (!c.output_overflow)
      raise_with(PyExc_ValueError,
                 "output_overflow must be 'wrap' or 'saturate', not " + shown(*k.output_overflow));
  }
  if (output_choices_without_stage(c)) {
    const char* name = k.output_precision  ? "output_precision"
                       : k.output_rounding ? "output_rounding"
                                           : "output_overflow";
    throw py::value_error(std::string(name) + " shapes the output word: give output_bits too");
  }
}

}  // namespace

const char* keyword_name(datapath_keyword k) noexcept { return spec(k).name; }

const char* field_keyword(datapath_field f) noexcept {
  for (const keyword_spec& k : keywords) {
    if (k.choice != nullptr && k.field == f) return k.name;
  }
  return "precision";
}

signature with_datapath_keywords(signature s, std::span<const datapath_keyword> which) {
  for (const datapath_keyword k : which) s.parameters.push_back({keyword_name(k), "None"});
  return s;
}

datapath_keywords datapath_arguments(const bound_call& call) {
  datapath_keywords k;
  for (std::size_t i = 0; i < WIDTH_KEYWORDS; ++i) {
    const auto w = static_cast<datapath_keyword>(i);
    k.widths[i] = optional_integer(given(call, w), keyword_name(w));
  }
  const auto text = [&call](datapath_keyword w) {
    return optional_text(given(call, w), keyword_name(w));
  };
  k.rounding = text(datapath_keyword::rounding);
  k.overflow = text(datapath_keyword::overflow);
  k.output_bits = optional_integer(given(call, datapath_keyword::output_bits), "output_bits");
  k.output_precision =
      optional_integer(given(call, datapath_keyword::output_precision), "output_precision");
  k.output_rounding = text(datapath_keyword::output_rounding);
  k.output_overflow = text(datapath_keyword::output_overflow);
  return k;
}

datapath_choices choices_argument(std::optional<long long> precision, const datapath_keywords& k) {
  datapath_choices c;
  if (precision) c.precision = int32_value(*precision, "precision");
  for (std::size_t i = 0; i < WIDTH_KEYWORDS; ++i) {
    if (k.widths[i]) c.*keywords[i].choice = int32_value(*k.widths[i], keywords[i].name);
  }
  if (k.rounding) {
    c.rounding = rounding_from_option(*k.rounding);
    if (!c.rounding) {
      raise_with(PyExc_ValueError, std::string(keyword_name(datapath_keyword::rounding)) +
                                       " must be 'zero', 'nearest' or 'floor', not " +
                                       shown(*k.rounding));
    }
  }
  if (k.overflow) {
    c.overflow = overflow_from_option(*k.overflow);
    if (!c.overflow) {
      raise_with(PyExc_ValueError, std::string(keyword_name(datapath_keyword::overflow)) +
                                       " must be 'wrap' or 'saturate', not " + shown(*k.overflow));
    }
  }
  set_output_choices(k, c);
  if (const std::optional<datapath_fault> fault = datapath_choices_fault(c))
    throw py::value_error(datapath_fault_text(*fault, field_keyword));
  return c;
}

std::optional<fixed_filter> chosen_filter(py::handle taps, long long precision,
                                          const datapath_keywords& k) {
  const datapath_choices c = choices_argument(precision, k);
  if (!datapath_options_given(c)) return std::nullopt;
  const std::vector<float> t = taps_argument(taps);
  result<datapath> d = datapath_from_choices(t, c);
  if (!d) raise(d.failure());
  result<fixed_filter> f = make_fixed_filter(t, d.value());
  if (!f) raise(f.failure());
  return std::move(f).value();
}

py::dict keywords_dict(const datapath& d) {
  const std::int32_t widths[WIDTH_KEYWORDS] = {d.coefficient.bits, d.coefficient.fraction_bits,
                                               d.sample.bits, d.sample.fraction_bits,
                                               d.accumulator_bits};
  py::dict out;
  for (std::size_t i = 0; i < WIDTH_KEYWORDS; ++i) out[keywords[i].name] = widths[i];
  out[keyword_name(datapath_keyword::rounding)] = rounding_option(d.coefficient.rounding);
  out[keyword_name(datapath_keyword::overflow)] = overflow_option(d.sample.overflow);
  if (d.output.bits != 0) {
    out["output_bits"] = d.output.bits;
    out["output_precision"] = d.output.fraction_bits;
    out["output_rounding"] = output_rounding_option(d.output.rounding);
    out["output_overflow"] = overflow_option(d.output.overflow);
  }
  return out;
}

}  // namespace fixfir::python
