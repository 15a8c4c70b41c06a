#include "fixfir/measurement/any_precision_filter.h"

#include <limits>
#include <new>

#include "fixfir/coefficients/quantizer.h"

namespace fixfir {

result<fixed_filter> filter_at_any_precision(std::span<const float> taps,
                                             std::int32_t precision) noexcept {
  if (precision >= FIXED_LOWEST_PRECISION && precision <= FIXED_HIGHEST_PRECISION)
    return make_fixed_filter(taps, precision);
  if (taps.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    return make_error(error_kind::bad_input, "too many taps");
  try {
    fixed_filter f;
    f.coefficients.resize(taps.size());
    f.path.precision = precision;
    f.path.scale = quantize_taps(precision, static_cast<std::int32_t>(taps.size()), taps.data(),
                                 f.coefficients.data());
    f.path.coefficient.fraction_bits = precision;
    f.path.sample.fraction_bits = precision;
    f.magnitude_sum = coefficient_magnitude_sum(f.coefficients);
    f.wrap_free_sample = wrap_free_sample_limit(f.magnitude_sum);
    return f;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

bool any_precision_wrap_free(const fixed_filter& f) noexcept {
  return f.path.precision >= FIXED_LOWEST_PRECISION &&
         f.path.precision <= FIXED_HIGHEST_PRECISION && wrap_free(f);
}

}  // namespace fixfir
