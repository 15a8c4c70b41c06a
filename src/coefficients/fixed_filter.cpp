#include "fixfir/coefficients/fixed_filter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "fixfir/coefficients/quantizer.h"

namespace fixfir {

namespace {

// fixfir's quantization at any precision: the quantizer's trunc(float(scale) × tap), and the
// taps whose scaled value did not fit 32 bits and wrapped. The scaled tap before its low 32
// bits are kept is exact in double, as both factors are single precision; a NaN or infinite
// tap gives 0.
void quantize_at_precision(std::span<const float> taps, fixed_filter& f) noexcept {
  const auto count = static_cast<std::int32_t>(taps.size());
  f.path.scale = quantize_taps(f.path.precision, count, taps.data(), f.coefficients.data());
  const double scale = static_cast<double>(f.path.scale);
  for (const float tap : taps) {
    const double scaled = std::trunc(scale * static_cast<double>(tap));
    if (std::isfinite(scaled) && (scaled >= 2147483648.0 || scaled < -2147483648.0))
      ++f.coefficient_overflows;
  }
  f.coefficient_wrapped = f.coefficient_overflows > 0;
}

// Any other datapath: each tap as a coefficient word.
void quantize_on_datapath(std::span<const float> taps, fixed_filter& f) noexcept {
  f.path.precision = 0;
  f.path.scale = 0;
  for (std::size_t j = 0; j < taps.size(); ++j) {
    const word_value w = quantize_word(static_cast<double>(taps[j]), f.path.coefficient);
    // The word is at most 32 bits wide, so its value fits.
    f.coefficients[j] = static_cast<std::int32_t>(w.value);
    if (w.overflowed) ++f.coefficient_overflows;
  }
  f.coefficient_wrapped =
      f.coefficient_overflows > 0 && f.path.coefficient.overflow == overflow_mode::wrap;
}

// The figures that follow the sample word: the output unit and the accumulator bits needed.
void set_sample_figures(fixed_filter& f) noexcept {
  // F_c + F_x is within -64 to 192, so the unit is an exact power of two.
  f.output_unit =
      std::ldexp(1.0, -(f.path.coefficient.fraction_bits + f.path.sample.fraction_bits));
  f.accumulator_bits_needed = accumulator_bits_needed(f.coefficients, f.path.sample.bits);
}

}  // namespace

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

result<fixed_filter> make_fixed_filter(std::span<const float> taps, const datapath& d) noexcept {
  const bool at_precision = is_precision_datapath(d);
  try {
    if (!at_precision) {
      if (std::string problem = datapath_problem(d); !problem.empty())
        return make_error(error_kind::bad_input, std::move(problem));
    }
    if (taps.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
      return make_error(error_kind::bad_input, "too many taps");
    fixed_filter f;
    f.path = d;
    f.coefficients.resize(taps.size());
    if (at_precision) {
      quantize_at_precision(taps, f);
    } else {
      quantize_on_datapath(taps, f);
    }
    f.coefficient_scale = std::ldexp(1.0, f.path.coefficient.fraction_bits);
    f.magnitude_sum = coefficient_magnitude_sum(f.coefficients);
    f.wrap_free_sample = wrap_free_sample_limit(f.magnitude_sum);
    set_sample_figures(f);
    return f;
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

void change_sample_side(fixed_filter& f, const word_format& sample, std::int32_t accumulator_bits,
                        overflow_mode accumulator_overflow) noexcept {
  f.path.sample = sample;
  f.path.accumulator_bits = accumulator_bits;
  f.path.accumulator_overflow = accumulator_overflow;
  // A precision and scale name fixfir's precisions only.
  if (!is_precision_datapath(f.path)) {
    f.path.precision = 0;
    f.path.scale = 0;
  }
  set_sample_figures(f);
}

quantized_filter engine_filter(const fixed_filter& f) noexcept {
  return quantized_filter{f.path.scale, static_cast<std::int32_t>(f.coefficients.size()),
                          f.coefficients.data()};
}

std::uint64_t largest_unit_sample(const word_format& sample) noexcept {
  const word_value up = quantize_word(1.0, sample);
  const word_value down = quantize_word(-1.0, sample);
  if (up.overflowed || down.overflowed) return std::uint64_t{1} << (sample.bits - 1);
  const auto magnitude = [](std::int64_t v) {
    return v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  };
  return std::max(magnitude(up.value), magnitude(down.value));
}

bool no_input_overflows(const fixed_filter& f) noexcept {
  if (f.coefficient_wrapped) return false;
  if (is_precision_datapath(f.path)) {
    if (!is_precision_datapath_in_range(f.path)) return false;
    // scale = 2^P, and wrap_free_sample is the 32-bit accumulator's bound.
    return static_cast<std::uint64_t>(f.path.scale) <= f.wrap_free_sample;
  }
  if (f.magnitude_sum == 0) return true;
  const std::uint64_t limit = (std::uint64_t{1} << (f.path.accumulator_bits - 1)) - 1;
  return largest_unit_sample(f.path.sample) <= limit / f.magnitude_sum;
}

}  // namespace fixfir
