// The output stage: the accumulator word shifted to the output's fractional bits, rounded,
// then fitted to the output word. Every step is exact in 128 bits: the accumulator is at most
// 64 bits, a right shift past 65 bits rounds as one of 65 does, and a left shift past 64 bits
// leaves no bit of a 64-bit word (only its sign matters).
#include <algorithm>

#include "fixfir/coefficients/datapath.h"

namespace fixfir {

namespace {

__extension__ using int128 = __int128;
__extension__ using uint128 = unsigned __int128;

constexpr std::int32_t LONGEST_RIGHT_SHIFT = 65;
constexpr std::int32_t LONGEST_LEFT_SHIFT = 64;

// acc ÷ 2^shift (shift 0 to 65) rounded as `r`.
int128 shifted_right(std::int64_t acc, std::int32_t shift, output_rounding r) noexcept {
  const int128 a = acc;
  const int128 q = a >> shift;  // floor: arithmetic shift of a signed value (C++20)
  const int128 rest = a - static_cast<int128>(static_cast<uint128>(q) << shift);
  if (shift == 0 || rest == 0) return q;
  const int128 half = int128{1} << (shift - 1);
  bool up = false;
  switch (r) {
    case output_rounding::floor:
      break;
    case output_rounding::toward_zero:
      up = q < 0;
      break;
    case output_rounding::nearest:
      up = rest > half || (rest == half && q >= 0);
      break;
    case output_rounding::convergent:
      up = rest > half || (rest == half && (q & 1) != 0);
      break;
  }
  return up ? q + 1 : q;
}

// acc × 2^shift (shift 0 to 64), exact.
int128 shifted_left(std::int64_t acc, std::int32_t shift) noexcept {
  return static_cast<int128>(static_cast<uint128>(int128{acc}) << shift);
}

}  // namespace

word_value output_word(std::int64_t acc, const datapath& d) noexcept {
  const output_stage& o = d.output;
  if (o.bits == 0) return {acc, false};
  const std::int32_t shift = d.coefficient.fraction_bits + d.sample.fraction_bits - o.fraction_bits;
  const int128 v = shift >= 0 ? shifted_right(acc, std::min(shift, LONGEST_RIGHT_SHIFT), o.rounding)
                              : shifted_left(acc, std::min(-shift, LONGEST_LEFT_SHIFT));
  const std::int32_t bits = std::clamp(o.bits, OUTPUT_BITS_MIN, OUTPUT_BITS_MAX);
  const int128 hi = (int128{1} << (bits - 1)) - 1;
  const int128 lo = -hi - 1;
  if (v >= lo && v <= hi) return {static_cast<std::int64_t>(v), false};
  if (o.overflow == overflow_mode::saturate)
    return {static_cast<std::int64_t>(v < 0 ? lo : hi), true};
  // The low W_y bits, as a two's-complement value.
  const std::uint64_t mask = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  std::uint64_t u = static_cast<std::uint64_t>(static_cast<uint128>(v)) & mask;
  if (((u >> (bits - 1)) & 1U) != 0) u |= ~mask;
  return {static_cast<std::int64_t>(u), true};
}

std::int32_t output_fraction_bits(const datapath& d) noexcept {
  return d.output.bits == 0 ? d.coefficient.fraction_bits + d.sample.fraction_bits
                            : d.output.fraction_bits;
}

std::int32_t default_output_fraction(const datapath& d, std::int32_t needed_bits) noexcept {
  // The largest output needs min(needed, A) bits with F_c + F_x fractional: its integer bits
  // are that less 1 (the sign) less the fraction.
  const std::int32_t bits = std::min(needed_bits, d.accumulator_bits);
  const std::int32_t integer_bits = bits - 1 - d.coefficient.fraction_bits - d.sample.fraction_bits;
  return std::clamp(d.output.bits - 1 - integer_bits, FRACTION_BITS_MIN, FRACTION_BITS_MAX);
}

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

const char* output_rounding_option(output_rounding r) noexcept {
  switch (r) {
    case output_rounding::nearest:
      return "nearest";
    case output_rounding::floor:
      return "floor";
    case output_rounding::convergent:
      return "convergent";
    case output_rounding::toward_zero:
      break;
  }
  return "zero";
}

std::optional<output_rounding> output_rounding_from_option(std::string_view text) noexcept {
  for (const output_rounding r : {output_rounding::toward_zero, output_rounding::nearest,
                                  output_rounding::floor, output_rounding::convergent}) {
    if (text == output_rounding_option(r)) return r;
  }
  return std::nullopt;
}

}  // namespace fixfir
