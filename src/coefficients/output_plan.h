#pragma once
// The output stage as the generated module and C code carry it out: the accumulator word
// shifted right (rounded) or left (exactly), then fitted to the output word.
//
// Scaling and overflow: a right shift past A + 1 bits gives what one of A + 1 does (the
// value is then within ±1/4, so every rounding gives 0, or -1 for floor of a negative), and
// a left shift past W_y bits what one of W_y does (no bit of the value is left in the word),
// so the shifts are capped there and every width stays within A + W_y + 1 bits.

#include <algorithm>
#include <cstdint>

#include "fixfir/coefficients/datapath.h"

namespace fixfir {

struct output_plan {
  bool staged = false;     // false: the output is the accumulator word
  std::int32_t bits = 0;   // the output word's width
  std::int32_t right = 0;  // bits shifted out, rounded (0 to A + 1)
  std::int32_t left = 0;   // bits shifted in (0 to W_y)
  output_rounding rounding = output_rounding::toward_zero;
  overflow_mode overflow = overflow_mode::wrap;
};

inline output_plan output_plan_of(const datapath& d) noexcept {
  output_plan p;
  p.bits = d.output.bits == 0 ? d.accumulator_bits : d.output.bits;
  if (d.output.bits == 0) return p;
  p.staged = true;
  const std::int32_t shift =
      d.coefficient.fraction_bits + d.sample.fraction_bits - d.output.fraction_bits;
  p.right = std::clamp(shift, 0, d.accumulator_bits + 1);
  p.left = std::clamp(-shift, 0, d.output.bits);
  p.rounding = d.output.rounding;
  p.overflow = d.output.overflow;
  return p;
}

}  // namespace fixfir
