#include "fixfir/coefficients/datapath.h"
namespace fixfir {
const char* output_rounding_words(output_rounding r) noexcept {
  switch (r) {
    case output_rounding::nearest:
      return "to nearest";
    case output_rounding::floor:
      return "floor";
    case output_rounding::convergent:
      return "convergent";
    case output_rounding::toward_zero:
      break;
  }
  return "toward zero";
}
}  // namespace fixfir
