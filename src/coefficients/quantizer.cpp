#include "fixfir/coefficients/quantizer.h"

#include <cmath>

#include "fixfir/common/conversion.h"

namespace fixfir {

std::int32_t scale_for_precision(std::int32_t precision) noexcept {
  return real_to_int32(std::pow(2.0, static_cast<double>(precision)));
}

std::int32_t quantize_taps(std::int32_t precision, std::int32_t count, const float* taps,
                           std::int32_t* coefficients) noexcept {
  const std::int32_t scale = scale_for_precision(precision);
  const auto float_scale = static_cast<float>(scale);
  for (std::int32_t i = 0; i < count; ++i) {
    coefficients[i] =
        real_to_int32(static_cast<double>(float_scale) * static_cast<double>(taps[i]));
  }
  return scale;
}

}  // namespace fixfir
