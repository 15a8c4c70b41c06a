#pragma once
// A datapath written out in one line, for the tables of datapaths the tests run.

#include <cstdint>

#include "fixfir/coefficients/datapath.h"

namespace fixfir {

/// Coefficient word wc bits (fc fractional), sample word wx bits (fx fractional), an
/// accumulator of `acc` bits; one rounding `r` for both words and one overflow `o` for the
/// words and the accumulator.
inline datapath path_of(std::int32_t wc, std::int32_t fc, std::int32_t wx, std::int32_t fx,
                        std::int32_t acc, rounding_mode r, overflow_mode o) {
  datapath d;
  d.coefficient = {wc, fc, r, o};
  d.sample = {wx, fx, r, o};
  d.accumulator_bits = acc;
  d.accumulator_overflow = o;
  return d;
}

}  // namespace fixfir
