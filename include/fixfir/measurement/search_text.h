#pragma once
// Every line of the datapath search's text (--explore): the targets, the front, and the
// recommendation with the options that make it and why.

#include <string>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/measurement/datapath_search.h"

namespace fixfir {

/// The search's text: the targets, the front (one line per coefficient word and rounding),
/// then "recommended datapath: …", "options: …" (those that make it) and "why: …", or where
/// nothing meets the targets "recommended datapath: none", "why: …" and the best each target
/// reached. The last three lines are the recommendation's.
[[nodiscard]] std::vector<std::string> search_lines(const search_report& r);

/// Every choice of a candidate in words (datapath_words): "coefficients 16 bits (17
/// fractional), samples 14 bits (13 fractional), accumulator 35 bits, rounding to nearest,
/// overflow saturates".
[[nodiscard]] std::string recommended_words(const datapath& d);

/// The report's options that make a candidate `d` again, ready to paste: "--coefficient-bits
/// 16 --coefficient-precision 17 --sample-bits 14 --sample-precision 13 --accumulator-bits 35
/// --rounding nearest --overflow saturate".
[[nodiscard]] std::string recommended_options(const datapath& d);

}  // namespace fixfir
