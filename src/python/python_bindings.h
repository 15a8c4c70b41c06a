#pragma once
// What the parts of the module share.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"

namespace fixfir::python {

/// Taps checked and copied, with their filter. `filter` borrows the coefficients of
/// `fixed`, which a move hands over, so the record may move but not be copied.
struct quantized_taps {
  quantized_taps() = default;
  quantized_taps(const quantized_taps&) = delete;
  quantized_taps& operator=(const quantized_taps&) = delete;
  quantized_taps(quantized_taps&&) = default;
  quantized_taps& operator=(quantized_taps&&) = default;

  std::vector<float> taps;
  fixed_filter fixed;
  quantized_filter filter;
};

/// The `taps` and `precision` arguments checked, copied and quantized.
quantized_taps quantize_argument(pybind11::handle taps, long long precision);

/// Raises a library's error as Python does: bad_input as ValueError, out_of_memory as
/// MemoryError, cannot_write as OSError (with its errno, and `file` as its filename when
/// given), anything else as RuntimeError, each with the error's message.
[[noreturn]] void raise(const error& e, pybind11::handle file = pybind11::handle());

/// The datapath keyword arguments, as given.
struct datapath_keywords {
  std::optional<long long> coefficient_bits;
  std::optional<long long> coefficient_precision;
  std::optional<long long> sample_bits;
  std::optional<long long> sample_precision;
  std::optional<long long> accumulator_bits;
  std::optional<std::string> rounding;
  std::optional<std::string> overflow;
};

/// The choices `precision` and `k` make; a ValueError names the keyword of a bad one.
datapath_choices choices_argument(std::optional<long long> precision, const datapath_keywords& k);

/// The filter on the datapath `precision` and `k` choose, when they choose anything beyond
/// the precision; a ValueError names the keyword of a bad choice.
std::optional<fixed_filter> chosen_filter(pybind11::handle taps, long long precision,
                                          const datapath_keywords& k);

/// The datapath keywords of a call whose signature has them (with_datapath_keywords).
datapath_keywords datapath_arguments(const bound_call& call);

/// A library's message with the report's option names (--coefficient-bits) given as the
/// keywords (coefficient_bits).
std::string keyword_names(const std::string& message);

/// Adds fixfir.filter and fixfir.Filter, the filter streamed over a signal, to the module.
void bind_filter(pybind11::module_& m);

/// Adds the report's figures to the module.
void bind_report(pybind11::module_& m);

/// Adds fixfir.export, the coefficient words as a file, to the module.
void bind_export(pybind11::module_& m);

}  // namespace fixfir::python
