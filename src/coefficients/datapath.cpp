#include "fixfir/coefficients/datapath.h"

#include <bit>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "fixfir/coefficients/quantizer.h"
#include "fixfir/common/checks.h"
#include "fixfir/common/conversion.h"

namespace fixfir {

namespace {

__extension__ using int128 = __int128;

constexpr double two_63 = 9223372036854775808.0;

// The smallest and largest values of a word of `bits` bits (2 to 64).
std::int64_t word_min(std::int32_t bits) noexcept {
  return bits >= 64 ? INT64_MIN : -(std::int64_t{1} << (bits - 1));
}
std::int64_t word_max(std::int32_t bits) noexcept {
  return bits >= 64 ? INT64_MAX : (std::int64_t{1} << (bits - 1)) - 1;
}

// The low `bits` bits of `v` as a two's-complement value.
std::int64_t low_bits(std::int64_t v, std::int32_t bits) noexcept {
  if (bits >= 64) return v;
  const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
  std::uint64_t u = static_cast<std::uint64_t>(v) & mask;
  if ((u >> (bits - 1)) & 1U) u |= ~mask;
  return static_cast<std::int64_t>(u);
}

double rounded(double scaled, rounding_mode r) noexcept {
  switch (r) {
    case rounding_mode::nearest:
      return std::round(scaled);
    case rounding_mode::floor:
      return std::floor(scaled);
    case rounding_mode::toward_zero:
      break;
  }
  return std::trunc(scaled);
}

bool word_bits_valid(std::int32_t bits) noexcept {
  return bits >= WORD_BITS_MIN && bits <= WORD_BITS_MAX;
}
bool fraction_valid(std::int32_t f) noexcept {
  return f >= FRACTION_BITS_MIN && f <= FRACTION_BITS_MAX;
}

// The output stage `c` gives to `d`, its fraction worked out from the taps when not given.
void set_output_stage(datapath& d, std::span<const float> taps, const datapath_choices& c) {
  d.output.bits = *c.output_bits;
  d.output.rounding = c.output_rounding.value_or(output_rounding::toward_zero);
  d.output.overflow = c.output_overflow.value_or(overflow_mode::wrap);
  if (c.output_fraction_bits) {
    d.output.fraction_bits = *c.output_fraction_bits;
    return;
  }
  std::vector<std::int32_t> coefficients;
  coefficients.reserve(taps.size());
  for (const float tap : taps)
    coefficients.push_back(static_cast<std::int32_t>(quantize_word(tap, d.coefficient).value));
  d.output.fraction_bits =
      default_output_fraction(d, accumulator_bits_needed(coefficients, d.sample.bits));
}

}  // namespace

datapath precision_datapath(std::int32_t precision) noexcept {
  datapath d;
  d.precision = precision;
  d.scale = scale_for_precision(precision);
  d.coefficient.fraction_bits = precision;
  d.sample.fraction_bits = precision;
  return d;
}

bool is_precision_datapath_in_range(const datapath& d) noexcept {
  const auto precision_word = [&](const word_format& w) {
    return w.bits == 32 && w.fraction_bits == d.precision &&
           w.rounding == rounding_mode::toward_zero && w.overflow == overflow_mode::wrap;
  };
  return d.precision >= LOWEST_PRECISION && d.precision <= HIGHEST_PRECISION &&
         d.scale == (std::int32_t{1} << d.precision) && precision_word(d.coefficient) &&
         precision_word(d.sample) && d.accumulator_bits == 32 &&
         d.accumulator_overflow == overflow_mode::wrap && d.output.bits == 0;
}

bool is_precision_datapath(const datapath& d) noexcept {
  if (is_precision_datapath_in_range(d)) return true;
  if (d.precision >= LOWEST_PRECISION && d.precision <= HIGHEST_PRECISION) return false;
  const datapath shape = precision_datapath(d.precision);
  const auto same_word = [](const word_format& a, const word_format& b) {
    return a.bits == b.bits && a.fraction_bits == b.fraction_bits && a.rounding == b.rounding &&
           a.overflow == b.overflow;
  };
  return d.output.bits == 0 && d.scale == shape.scale &&
         same_word(d.coefficient, shape.coefficient) && same_word(d.sample, shape.sample) &&
         d.accumulator_bits == shape.accumulator_bits &&
         d.accumulator_overflow == shape.accumulator_overflow;
}

const char* datapath_field_words(datapath_field f) noexcept {
  switch (f) {
    case datapath_field::coefficient_bits:
      return "coefficient bits";
    case datapath_field::coefficient_fraction_bits:
      return "coefficient fraction bits";
    case datapath_field::sample_bits:
      return "sample bits";
    case datapath_field::sample_fraction_bits:
      return "sample fraction bits";
    case datapath_field::accumulator_bits:
      return "accumulator bits";
    case datapath_field::output_bits:
      return "output bits";
    case datapath_field::output_fraction_bits:
      return "output fraction bits";
    case datapath_field::precision:
      break;
  }
  return "precision";
}

std::string datapath_fault_text(const datapath_fault& f, field_spelling spell) {
  return std::string(spell(f.field)) + " must be " + std::to_string(f.least) + " to " +
         std::to_string(f.most);
}

std::optional<datapath_fault> datapath_fault_of(const datapath& d) noexcept {
  using enum datapath_field;
  if (!word_bits_valid(d.coefficient.bits))
    return datapath_fault{coefficient_bits, WORD_BITS_MIN, WORD_BITS_MAX};
  if (!fraction_valid(d.coefficient.fraction_bits))
    return datapath_fault{coefficient_fraction_bits, FRACTION_BITS_MIN, FRACTION_BITS_MAX};
  if (!word_bits_valid(d.sample.bits))
    return datapath_fault{sample_bits, WORD_BITS_MIN, WORD_BITS_MAX};
  if (!fraction_valid(d.sample.fraction_bits))
    return datapath_fault{sample_fraction_bits, FRACTION_BITS_MIN, FRACTION_BITS_MAX};
  if (d.accumulator_bits < ACCUMULATOR_BITS_MIN || d.accumulator_bits > ACCUMULATOR_BITS_MAX)
    return datapath_fault{accumulator_bits, ACCUMULATOR_BITS_MIN, ACCUMULATOR_BITS_MAX};
  if (d.output.bits != 0 && (d.output.bits < OUTPUT_BITS_MIN || d.output.bits > OUTPUT_BITS_MAX))
    return datapath_fault{output_bits, OUTPUT_BITS_MIN, OUTPUT_BITS_MAX};
  if (d.output.bits != 0 && !fraction_valid(d.output.fraction_bits))
    return datapath_fault{output_fraction_bits, FRACTION_BITS_MIN, FRACTION_BITS_MAX};
  return std::nullopt;
}

std::string datapath_problem(const datapath& d) {
  const std::optional<datapath_fault> fault = datapath_fault_of(d);
  return fault ? datapath_fault_text(*fault) : std::string();
}

word_value quantize_word(double v, const word_format& w) noexcept {
  if (std::isnan(v)) return {};
  FIXFIR_EXPECTS(fraction_valid(w.fraction_bits));
  // v × 2^F: a product by a power of two rounds as std::ldexp does, and the power itself
  // is built from its exponent bits (F is within -32 to 96).
  const double power =
      std::bit_cast<double>(static_cast<std::uint64_t>(w.fraction_bits + 1023) << 52);
  const double r = rounded(v * power, w.rounding);
  const std::int64_t lo = word_min(w.bits);
  const std::int64_t hi = word_max(w.bits);
  if (r >= -two_63 && r < two_63) {
    const auto i = static_cast<std::int64_t>(r);
    if (i >= lo && i <= hi) return {i, false};
    if (w.overflow == overflow_mode::wrap) return {low_bits(i, w.bits), true};
  } else if (w.overflow == overflow_mode::wrap) {
    return {low_bits(INT64_MIN, w.bits), true};
  }
  return {r > 0.0 ? hi : lo, true};
}

std::int32_t largest_fitting_fraction(std::span<const float> taps, std::int32_t bits,
                                      rounding_mode rounding) noexcept {
  for (std::int32_t f = FRACTION_BITS_MAX; f > FRACTION_BITS_MIN; --f) {
    const word_format w{bits, f, rounding, overflow_mode::saturate};
    bool fits = true;
    for (const float tap : taps) {
      if (std::isfinite(tap) && quantize_word(tap, w).overflowed) {
        fits = false;
        break;
      }
    }
    if (fits) return f;
  }
  return FRACTION_BITS_MIN;
}

std::int32_t accumulator_bits_needed(std::span<const std::int32_t> coefficients,
                                     std::int32_t sample_bits) noexcept {
  // The largest sum takes each product's largest value, the smallest its smallest: a
  // positive coefficient meets the largest or the smallest sample, a negative one the other.
  const int128 s_max = word_max(sample_bits);
  const int128 s_min = word_min(sample_bits);
  int128 most = 0;
  int128 least = 0;
  for (const std::int32_t c : coefficients) {
    most += c > 0 ? c * s_max : c * s_min;
    least += c > 0 ? c * s_min : c * s_max;
  }
  // Sums that are all 0 (every coefficient is) fit one bit.
  std::int32_t bits = 1;
  while (bits < 127 && (most > (int128{1} << (bits - 1)) - 1 || least < -(int128{1} << (bits - 1))))
    ++bits;
  return bits;
}

const char* rounding_words(rounding_mode r) noexcept {
  switch (r) {
    case rounding_mode::nearest:
      return "to nearest";
    case rounding_mode::floor:
      return "floor";
    case rounding_mode::toward_zero:
      break;
  }
  return "toward zero";
}

const char* rounding_option(rounding_mode r) noexcept {
  switch (r) {
    case rounding_mode::nearest:
      return "nearest";
    case rounding_mode::floor:
      return "floor";
    case rounding_mode::toward_zero:
      break;
  }
  return "zero";
}

const char* overflow_words(overflow_mode o) noexcept {
  return o == overflow_mode::saturate ? "saturates" : "wraps";
}

const char* overflow_option(overflow_mode o) noexcept {
  return o == overflow_mode::saturate ? "saturate" : "wrap";
}

std::optional<rounding_mode> rounding_from_option(std::string_view text) noexcept {
  for (const rounding_mode r :
       {rounding_mode::toward_zero, rounding_mode::nearest, rounding_mode::floor}) {
    if (text == rounding_option(r)) return r;
  }
  return std::nullopt;
}

std::optional<overflow_mode> overflow_from_option(std::string_view text) noexcept {
  for (const overflow_mode o : {overflow_mode::wrap, overflow_mode::saturate}) {
    if (text == overflow_option(o)) return o;
  }
  return std::nullopt;
}

bool datapath_options_given(const datapath_choices& c) noexcept {
  return c.coefficient_bits || c.coefficient_fraction_bits || c.sample_bits ||
         c.sample_fraction_bits || c.accumulator_bits || c.rounding || c.overflow || c.output_bits;
}

bool output_choices_without_stage(const datapath_choices& c) noexcept {
  return !c.output_bits && (c.output_fraction_bits || c.output_rounding || c.output_overflow);
}

std::optional<datapath_fault> datapath_choices_fault(const datapath_choices& c) noexcept {
  if (c.precision && (*c.precision < LOWEST_PRECISION || *c.precision > HIGHEST_PRECISION))
    return datapath_fault{datapath_field::precision, LOWEST_PRECISION, HIGHEST_PRECISION};
  // The given choices, and valid ones in place of the others, judged as a datapath.
  datapath d;
  d.coefficient.bits = c.coefficient_bits.value_or(d.coefficient.bits);
  d.coefficient.fraction_bits = c.coefficient_fraction_bits.value_or(0);
  d.sample.bits = c.sample_bits.value_or(d.sample.bits);
  d.sample.fraction_bits = c.sample_fraction_bits.value_or(0);
  d.accumulator_bits = c.accumulator_bits.value_or(d.accumulator_bits);
  if (c.output_bits) {
    d.output.bits = *c.output_bits;
    d.output.fraction_bits = c.output_fraction_bits.value_or(0);
    // 0 is "no stage" in a datapath, but a given width of 0 is beyond the limits.
    if (d.output.bits == 0)
      return datapath_fault{datapath_field::output_bits, OUTPUT_BITS_MIN, OUTPUT_BITS_MAX};
  }
  return datapath_fault_of(d);
}

result<datapath> datapath_from_choices(std::span<const float> taps, const datapath_choices& c) {
  if (const std::optional<datapath_fault> fault = datapath_choices_fault(c))
    return make_error(error_kind::bad_input, datapath_fault_text(*fault));
  datapath d;
  // Each choice not given is the datapath's own default (datapath.h).
  const rounding_mode rounding = c.rounding.value_or(d.coefficient.rounding);
  const overflow_mode overflow = c.overflow.value_or(d.accumulator_overflow);
  d.coefficient = {c.coefficient_bits.value_or(d.coefficient.bits), 0, rounding, overflow};
  if (c.coefficient_fraction_bits) {
    d.coefficient.fraction_bits = *c.coefficient_fraction_bits;
  } else if (c.precision && !c.coefficient_bits) {
    d.coefficient.fraction_bits = *c.precision;
  } else {
    d.coefficient.fraction_bits = largest_fitting_fraction(taps, d.coefficient.bits, rounding);
  }
  d.sample = {c.sample_bits.value_or(d.sample.bits), 0, rounding, overflow};
  if (c.sample_fraction_bits) {
    d.sample.fraction_bits = *c.sample_fraction_bits;
  } else if (c.precision && !c.sample_bits) {
    d.sample.fraction_bits = *c.precision;
  } else {
    d.sample.fraction_bits = d.sample.bits - 1;
  }
  d.accumulator_bits = c.accumulator_bits.value_or(d.accumulator_bits);
  d.accumulator_overflow = overflow;
  if (c.output_bits) set_output_stage(d, taps, c);
  // Choices that restate fixfir's precision are that datapath, precision and scale set.
  const datapath at_precision = precision_datapath(d.coefficient.fraction_bits);
  d.precision = at_precision.precision;
  d.scale = at_precision.scale;
  if (is_precision_datapath_in_range(d)) return d;
  d.precision = 0;
  d.scale = 0;
  return d;
}

std::string datapath_words(const datapath& d) {
  const auto word = [](const char* name, const word_format& w) {
    return std::string(name) + " " + std::to_string(w.bits) + " bits (" +
           std::to_string(w.fraction_bits) + " fractional)";
  };
  std::string text = word("coefficients", d.coefficient) + ", " + word("samples", d.sample) +
                     ", accumulator " + std::to_string(d.accumulator_bits) + " bits, ";
  if (d.coefficient.rounding == d.sample.rounding) {
    text += std::string("rounding ") + rounding_words(d.coefficient.rounding);
  } else {
    text += std::string("coefficient rounding ") + rounding_words(d.coefficient.rounding) +
            ", sample rounding " + rounding_words(d.sample.rounding);
  }
  if (d.coefficient.overflow == d.sample.overflow && d.sample.overflow == d.accumulator_overflow) {
    text += std::string(", overflow ") + overflow_words(d.accumulator_overflow);
  } else if (d.coefficient.overflow == d.sample.overflow) {
    text += std::string(", coefficient and sample overflow ") + overflow_words(d.sample.overflow) +
            ", accumulator " + overflow_words(d.accumulator_overflow);
  } else {
    text += std::string(", coefficient overflow ") + overflow_words(d.coefficient.overflow) +
            ", sample overflow " + overflow_words(d.sample.overflow) + ", accumulator " +
            overflow_words(d.accumulator_overflow);
  }
  if (d.output.bits != 0) {
    text += ", output " + std::to_string(d.output.bits) + " bits (" +
            std::to_string(d.output.fraction_bits) + " fractional, rounding " +
            output_rounding_words(d.output.rounding) + ", overflow " +
            overflow_words(d.output.overflow) + ")";
  }
  return text;
}

}  // namespace fixfir
