#include "fixfir/drivers/accumulator_wraps.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/drivers/exact_sum.h"
#include "fixfir/engine/parallel_chunks.h"
#include "vector_clones.h"

namespace fixfir {

namespace {

constexpr double two_32 = 4294967296.0;

// Samples between two questions to `keep_going` in a polled count.
constexpr std::size_t polled_samples = 64;

std::uint64_t magnitude(std::int32_t c) noexcept {
  return c < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(c))
               : static_cast<std::uint64_t>(c);
}

// Σ c[j] · s[n - j] over j ≤ n exactly, modulo 2^64. Callers make sure the true sum
// stays within 64 bits, so that this is the sum itself.
FIXFIR_KERNEL_CLONES std::uint64_t dot_64(const std::int32_t* c, const std::int32_t* newest,
                                          std::size_t count) noexcept {
  std::uint64_t sum = 0;
  for (std::size_t j = 0; j < count; ++j) {
    sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(c[j]) *
                                      static_cast<std::int64_t>(*(newest - j)));
  }
  return sum;
}

}  // namespace

std::int64_t count_wrapped_sums(std::span<const std::int32_t> c, std::span<const std::int32_t> s,
                                std::span<const std::int32_t> accumulators, std::size_t from,
                                std::int64_t limit, bool polled) noexcept {
  const std::size_t n_end = std::min(s.size(), accumulators.size());
  std::uint64_t coefficient_sum = 0;
  for (std::int32_t v : c) coefficient_sum += magnitude(v);
  std::uint64_t largest_sample = 0;
  const std::size_t first_met = c.empty() ? from : (from >= c.size() ? from - (c.size() - 1) : 0);
  for (std::int32_t v : s.first(n_end).subspan(std::min(first_met, n_end)))
    largest_sample = std::max(largest_sample, magnitude(v));
  // Every partial sum is at most Σ |c| · max |s| in magnitude: below 2^63 the 64-bit sum
  // wrapping modulo 2^64 is the sum itself.
  const bool fits_64 =
      largest_sample == 0 || coefficient_sum <= (std::uint64_t{1} << 63) / largest_sample - 1;
  std::int64_t wraps = 0;
  for (std::size_t n = from; n < n_end && wraps < limit; ++n) {
    if (polled && (n - from) % polled_samples == 0 && !keep_going()) break;  // thrown away
    const std::size_t met = std::min(c.size(), n + 1);
    if (fits_64) {
      const std::uint64_t sum = dot_64(c.data(), s.data() + n, met);
      if (sum != static_cast<std::uint64_t>(static_cast<std::int64_t>(accumulators[n]))) ++wraps;
    } else {
      wide_sum sum;
      for (std::size_t j = 0; j < met; ++j)
        add_product(sum, static_cast<std::int64_t>(c[j]) * s[n - j]);
      if (!equals_int32(sum, accumulators[n])) ++wraps;
    }
  }
  return wraps;
}

bool run_wrapped(const wrap_check& run) noexcept {
  const std::size_t n = std::min(run.samples.size(), run.accumulators.size());
  const std::size_t count = run.coefficients.size();
  if (n == 0 || count == 0) return false;
  if (run.reference.size() >= n && run.taps.size() == count && run.scale > 0.0 &&
      run.scale <= 1073741824.0) {
    double coefficient_sum = 0.0;
    double taps_sum = 0.0;
    double coefficient_error = 0.0;
    for (std::size_t j = 0; j < count; ++j) {
      const double c = static_cast<double>(run.coefficients[j]);
      const double tap = static_cast<double>(run.taps[j]);
      coefficient_sum += std::fabs(c);
      taps_sum += std::fabs(tap);
      coefficient_error = std::max(coefficient_error, std::fabs(c - run.scale * tap));
    }
    const double taps = static_cast<double>(count);
    const double scale2 = run.scale * run.scale;
    const double bound = coefficient_sum + run.scale * taps * coefficient_error +
                         scale2 * taps * taps_sum * std::ldexp(1.0, -50);
    if (bound < 1073741824.0) {
      for (std::size_t i = run.from; i < n; ++i) {
        const double difference =
            scale2 * run.reference[i] - static_cast<double>(run.accumulators[i]);
        if (std::nearbyint(difference / two_32) != 0.0) return true;
      }
      return false;
    }
  }
  return count_wrapped_sums(run.coefficients, run.samples.first(n), run.accumulators.first(n),
                            run.from, 1, false) > 0;
}

wrap_verdict verdict_from_lower(std::int64_t largest_sum_at_p0, std::uint64_t coefficient_sum_at_p0,
                                std::size_t taps, std::int32_t p0, std::int32_t p) noexcept {
  if (p0 < 0 || p < p0 || largest_sum_at_p0 < 0) return wrap_verdict::unknown;
  const double growth = std::ldexp(1.0, 2 * (p - p0));
  const double spread = growth * (static_cast<double>(coefficient_sum_at_p0) +
                                  static_cast<double>(taps) * (std::ldexp(1.0, p0) + 1.0));
  const double centre = growth * static_cast<double>(largest_sum_at_p0);
  // A hair of slack for the rounding of these doubles.
  const double slack = 1e-12 * (centre + spread);
  if (centre + spread + slack <= ACCUMULATOR_LIMIT_DOUBLE) return wrap_verdict::none;
  if (centre - spread - slack > ACCUMULATOR_LIMIT_DOUBLE + 1.0) return wrap_verdict::wraps;
  return wrap_verdict::unknown;
}

}  // namespace fixfir
