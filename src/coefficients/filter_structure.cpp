#include <algorithm>
#include <cstddef>

#include "fixfir/coefficients/filter_export.h"

namespace fixfir {

namespace {

// Whether word j and its mirror meet `same` (j < N - 1 - j) and, for an odd N, the centre
// word meets `centre`.
template <typename Pair, typename Centre>
bool mirrored(std::span<const std::int32_t> c, Pair same, Centre centre) {
  const std::size_t n = c.size();
  for (std::size_t j = 0; j < n / 2; ++j) {
    if (!same(c[j], c[n - 1 - j])) return false;
  }
  return n % 2 == 0 || centre(c[n / 2]);
}

}  // namespace

filter_structure structure_of(const fixed_filter& f) {
  const std::span<const std::int32_t> c = f.coefficients;
  const auto n = static_cast<std::int64_t>(c.size());
  filter_structure s;
  // Widened to 64 bits, so that -(-2^31) is a value, not an overflow.
  const auto equal = [](std::int64_t a, std::int64_t b) { return a == b; };
  const auto opposite = [](std::int64_t a, std::int64_t b) { return a == -b; };
  if (mirrored(c, equal, [](std::int32_t) { return true; })) {
    s.symmetry = word_symmetry::symmetric;
    s.multipliers = (n + 1) / 2;
  } else if (mirrored(c, opposite, [](std::int32_t w) { return w == 0; })) {
    s.symmetry = word_symmetry::antisymmetric;
    s.multipliers = n / 2;
  } else {
    s.multipliers = n;
  }
  const datapath& d = f.path;
  s.sum_bits = d.accumulator_overflow == overflow_mode::wrap
                   ? d.accumulator_bits
                   : std::max(d.accumulator_bits, f.accumulator_bits_needed);
  return s;
}

std::int32_t output_word_bits(const datapath& d) noexcept {
  return d.output.bits == 0 ? d.accumulator_bits : d.output.bits;
}

}  // namespace fixfir
