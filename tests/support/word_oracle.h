#pragma once
// A word-level model of a datapath, written for tests and sharing nothing with the library's
// kernels: sums by brute force in 128 bits, words fitted by remainder or clamp, and the output
// stage's rounding by truncating division and a correction.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"

namespace fixfir_test {

__extension__ using int128 = __int128;

/// `v` fitted to a word of `bits` bits: its low bits (wrap) or clamped (saturate).
inline int128 fit_word(int128 v, std::int32_t bits, fixfir::overflow_mode o) {
  const int128 hi = (int128{1} << (bits - 1)) - 1;
  if (o == fixfir::overflow_mode::saturate) return std::clamp(v, -hi - 1, hi);
  const int128 m = int128{1} << bits;
  const int128 r = ((v % m) + m) % m;
  return r > hi ? r - m : r;
}

/// `acc` × 2^-shift rounded as `r` (a negative shift multiplies, exactly).
inline int128 rescale_word(int128 acc, std::int32_t shift, fixfir::output_rounding r) {
  using fixfir::output_rounding;
  if (shift <= 0) return acc * (int128{1} << std::min(-shift, 64));
  const int128 unit = int128{1} << std::min(shift, 100);  // past 2^100 every |acc| is tiny
  const int128 q = acc / unit;                            // toward zero
  const int128 rest = acc - q * unit;                     // the sign of acc
  const int128 twice = (rest < 0 ? -rest : rest) * 2;
  const int128 away = q + (acc < 0 ? -1 : 1);
  switch (r) {
    case output_rounding::toward_zero:
      return q;
    case output_rounding::floor:
      return rest < 0 ? q - 1 : q;
    case output_rounding::nearest:
      return twice >= unit && rest != 0 ? away : q;
    case output_rounding::convergent:
      return twice > unit || (twice == unit && q % 2 != 0) ? away : q;
  }
  return q;
}

/// The accumulator word `acc` through `d`'s output stage (itself when there is none).
inline int128 output_of(int128 acc, const fixfir::datapath& d) {
  if (d.output.bits == 0) return acc;
  const std::int32_t shift =
      d.coefficient.fraction_bits + d.sample.fraction_bits - d.output.fraction_bits;
  return fit_word(rescale_word(acc, shift, d.output.rounding), d.output.bits, d.output.overflow);
}

/// The accumulator word for each of the sample words `x`, from rest.
inline std::vector<std::int64_t> accumulator_words(const fixfir::fixed_filter& f,
                                                   const std::vector<std::int64_t>& x) {
  std::vector<std::int64_t> out;
  for (std::size_t n = 0; n < x.size(); ++n) {
    int128 sum = 0;
    for (std::size_t j = 0; j < f.coefficients.size() && j <= n; ++j)
      sum += int128{f.coefficients[j]} * x[n - j];
    out.push_back(static_cast<std::int64_t>(
        fit_word(sum, f.path.accumulator_bits, f.path.accumulator_overflow)));
  }
  return out;
}

/// The output word for each of the sample words `x`, from rest.
inline std::vector<std::int64_t> output_words(const fixfir::fixed_filter& f,
                                              const std::vector<std::int64_t>& x) {
  std::vector<std::int64_t> y = accumulator_words(f, x);
  for (std::int64_t& v : y) v = static_cast<std::int64_t>(output_of(v, f.path));
  return y;
}

}  // namespace fixfir_test
