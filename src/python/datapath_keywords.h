#pragma once
// The datapath keywords (coefficient_bits to overflow), spelled here once: added to a
// signature, read from a call, checked, and made the datapath every function and
// fixfir.Filter run on.

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "arguments.h"
#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"

namespace fixfir::python {

/// One datapath keyword; the five widths come first.
enum class datapath_keyword : std::uint8_t {
  coefficient_bits,
  coefficient_precision,
  sample_bits,
  sample_precision,
  accumulator_bits,
  rounding,
  overflow,
  output_bits,  ///< the output stage's four, taken where the output word is measured
  output_precision,
  output_rounding,
  output_overflow,
};

/// The keywords that take an integer: coefficient_bits to accumulator_bits.
inline constexpr std::size_t WIDTH_KEYWORDS = 5;

/// Every datapath keyword, in the order a signature lists them.
inline constexpr datapath_keyword EVERY_DATAPATH_KEYWORD[] = {
    datapath_keyword::coefficient_bits, datapath_keyword::coefficient_precision,
    datapath_keyword::sample_bits,      datapath_keyword::sample_precision,
    datapath_keyword::accumulator_bits, datapath_keyword::rounding,
    datapath_keyword::overflow};

/// The output stage's keywords, for the functions that measure at the output word.
inline constexpr datapath_keyword OUTPUT_KEYWORDS[] = {
    datapath_keyword::output_bits, datapath_keyword::output_precision,
    datapath_keyword::output_rounding, datapath_keyword::output_overflow};

/// How Python spells `k`.
[[nodiscard]] const char* keyword_name(datapath_keyword k) noexcept;

/// How Python spells a field: its keyword, or "precision".
[[nodiscard]] const char* field_keyword(datapath_field f) noexcept;

/// `s` followed by the keywords `which`, keyword-only, each None by default.
[[nodiscard]] signature with_datapath_keywords(
    signature s, std::span<const datapath_keyword> which = EVERY_DATAPATH_KEYWORD);

/// The datapath keywords of a call as given, their types checked; a keyword the call's
/// signature lacks is not given.
struct datapath_keywords {
  std::array<std::optional<long long>, WIDTH_KEYWORDS> widths;
  std::optional<std::string> rounding;
  std::optional<std::string> overflow;
  std::optional<long long> output_bits;
  std::optional<long long> output_precision;
  std::optional<std::string> output_rounding;
  std::optional<std::string> output_overflow;
};

/// The datapath keywords of `call`: a TypeError names one of the wrong type.
[[nodiscard]] datapath_keywords datapath_arguments(const bound_call& call);

/// The choices `precision` and `k` make; a ValueError names the keyword of a bad one.
[[nodiscard]] datapath_choices choices_argument(std::optional<long long> precision,
                                                const datapath_keywords& k);

/// The filter on the datapath `precision` and `k` choose, when they choose anything beyond
/// the precision; a ValueError names the keyword of a bad choice.
[[nodiscard]] std::optional<fixed_filter> chosen_filter(pybind11::handle taps, long long precision,
                                                        const datapath_keywords& k);

/// The keywords that choose `d`, every one given, as a dict.
[[nodiscard]] pybind11::dict keywords_dict(const datapath& d);

}  // namespace fixfir::python
