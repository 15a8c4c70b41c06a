#include "fixfir/coefficients/fixed_filter.h"

#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "fixfir/coefficients/quantizer.h"

namespace fixfir {

std::uint64_t coefficient_magnitude_sum(std::span<const std::int32_t> c) noexcept {
  std::uint64_t sum = 0;
  for (const std::int32_t v : c) {
    const std::int64_t wide = v;
    sum += static_cast<std::uint64_t>(wide < 0 ? -wide : wide);
  }
  return sum;
}

std::uint64_t wrap_free_sample_limit(std::uint64_t magnitude_sum) noexcept {
  return magnitude_sum == 0 ? ACCUMULATOR_LIMIT + 1 : ACCUMULATOR_LIMIT / magnitude_sum;
}

result<fixed_filter> make_fixed_filter(std::span<const float> taps,
                                       std::int32_t precision) noexcept {
  if (precision < FIXED_LOWEST_PRECISION || precision > FIXED_HIGHEST_PRECISION) {
    return make_error(error_kind::bad_input, "precision must be " +
                                                 std::to_string(FIXED_LOWEST_PRECISION) + " to " +
                                                 std::to_string(FIXED_HIGHEST_PRECISION) +
                                                 ", not " + std::to_string(precision));
  }
  if (taps.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return make_error(error_kind::bad_input, "too many taps");
  }
  try {
    fixed_filter f;
    f.coefficients.resize(taps.size());
    const auto count = static_cast<std::int32_t>(taps.size());
    f.path.precision = precision;
    f.path.scale = quantize_taps(precision, count, taps.data(), f.coefficients.data());
    f.path.coefficient.fraction_bits = precision;
    f.path.sample.fraction_bits = precision;
    f.magnitude_sum = coefficient_magnitude_sum(f.coefficients);
    f.wrap_free_sample = wrap_free_sample_limit(f.magnitude_sum);
    // The scaled tap before its low 32 bits are kept: exact in double, as both factors are
    // single precision. A finite one beyond ±2^31 wrapped; a NaN or infinite tap gives 0.
    const double scale = static_cast<double>(f.path.scale);
    for (const float tap : taps) {
      const double scaled = std::trunc(scale * static_cast<double>(tap));
      if (std::isfinite(scaled) && (scaled >= 2147483648.0 || scaled < -2147483648.0))
        ++f.coefficient_overflows;
    }
    f.coefficient_wrapped = f.coefficient_overflows > 0;
    return f;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

result<fixed_filter> make_fixed_filter(std::span<const float> taps, const datapath& d) {
  if (is_seed_datapath(d)) return make_fixed_filter(taps, d.precision);
  if (std::string problem = datapath_problem(d); !problem.empty())
    return make_error(error_kind::bad_input, std::move(problem));
  if (taps.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return make_error(error_kind::bad_input, "too many taps");
  }
  try {
    fixed_filter f;
    f.path = d;
    f.path.precision = 0;
    f.path.scale = 0;
    f.coefficients.resize(taps.size());
    for (std::size_t j = 0; j < taps.size(); ++j) {
      const word_value w = quantize_word(static_cast<double>(taps[j]), d.coefficient);
      // The word is at most 32 bits wide, so its value fits.
      f.coefficients[j] = static_cast<std::int32_t>(w.value);
      if (w.overflowed) ++f.coefficient_overflows;
    }
    f.coefficient_wrapped =
        f.coefficient_overflows > 0 && d.coefficient.overflow == overflow_mode::wrap;
    f.magnitude_sum = coefficient_magnitude_sum(f.coefficients);
    f.wrap_free_sample = wrap_free_sample_limit(f.magnitude_sum);
    return f;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

quantized_filter engine_filter(const fixed_filter& f) noexcept {
  return quantized_filter{f.path.scale, static_cast<std::int32_t>(f.coefficients.size()),
                          f.coefficients.data()};
}

bool wrap_free(const fixed_filter& f) noexcept {
  const std::int64_t scale = f.path.scale;
  return !f.coefficient_wrapped &&
         static_cast<std::uint64_t>(scale < 0 ? -scale : scale) <= f.wrap_free_sample;
}

}  // namespace fixfir
