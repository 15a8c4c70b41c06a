#pragma once
// The 32-bit engine's view of a fixed filter, for the drivers that hand it to the engine.

#include <cstdint>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/records.h"

namespace fixfir {

/// The engine's view of `f`, whose samples are trunc(2^F_x × x): on fixfir's precisions the
/// quantizer's scale, elsewhere 2^F_x, with the filter's own coefficients (borrowed).
[[nodiscard]] inline quantized_filter engine_view(const fixed_filter& f) noexcept {
  if (is_precision_datapath(f.path)) return engine_filter(f);
  return quantized_filter{std::int32_t{1} << f.path.sample.fraction_bits,
                          static_cast<std::int32_t>(f.coefficients.size()), f.coefficients.data()};
}

}  // namespace fixfir
