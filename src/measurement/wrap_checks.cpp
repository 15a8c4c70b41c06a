#include "wrap_checks.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "exact_sum.h"
#include "fir_engine.h"
#include "parallel_chunks.h"
#include "quantizer.h"
#include "vector_clones.h"

namespace fixfir {

namespace {

constexpr double two_32 = 4294967296.0;
constexpr double largest_int32 = 2147483647.0;

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

bool exact_run_wrapped(const wrap_check& run) noexcept {
  const std::span<const std::int32_t> c = run.coefficients;
  const std::span<const std::int32_t> s = run.samples;
  std::uint64_t coefficient_sum = 0;
  for (std::int32_t v : c) coefficient_sum += magnitude(v);
  std::uint64_t largest_sample = 0;
  const std::size_t first_met = run.from >= c.size() ? run.from - (c.size() - 1) : 0;
  for (std::int32_t v : s.subspan(std::min(first_met, s.size())))
    largest_sample = std::max(largest_sample, magnitude(v));
  const bool fits_64 =
      largest_sample == 0 || coefficient_sum <= (std::uint64_t{1} << 63) / largest_sample - 1;
  for (std::size_t n = run.from; n < s.size(); ++n) {
    const std::size_t met = std::min(c.size(), n + 1);
    if (fits_64) {
      const std::uint64_t sum = dot_64(c.data(), s.data() + n, met);
      if (sum != static_cast<std::uint64_t>(static_cast<std::int64_t>(run.accumulators[n])))
        return true;
    } else {
      wide_sum sum;
      for (std::size_t j = 0; j < met; ++j)
        add_product(sum, static_cast<std::int64_t>(c[j]) * s[n - j]);
      if (!equals_int32(sum, run.accumulators[n])) return true;
    }
  }
  return false;
}

}  // namespace

wrap_bound wrap_bound_at(std::span<const float> taps, std::int32_t precision) noexcept {
  wrap_bound b;
  b.precision = precision;
  // A tap whose scaled value does not fit 32 bits wraps when it is converted (4.0 at
  // precision 30 becomes 0), so the bound sums the values the taps truncate to, not the
  // wrapped coefficients: a filter whose coefficients wrapped is never called wrap-free.
  const double scale = std::ldexp(1.0, precision);
  double sum = 0.0;
  bool coefficients_wrap = false;
  for (const float& tap : taps) {
    const double truncated = std::trunc(scale * static_cast<double>(tap));  // exact
    if (std::isfinite(truncated)) {
      sum += std::fabs(truncated);
      coefficients_wrap = coefficients_wrap || std::fabs(truncated) > largest_int32 + 1.0;
    } else {
      std::int32_t c = 0;
      quantize_taps(precision, 1, &tap, &c);
      sum += static_cast<double>(magnitude(c));
    }
  }
  // Exact below 2^53; beyond that it is far past every limit anyway.
  b.coefficient_sum =
      sum < 0x1p63 ? static_cast<std::uint64_t>(sum) : std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t limit =
      precision >= 0 && precision < 31 ? (std::uint64_t{0x7FFFFFFF} >> precision) : 0;
  b.wrap_free = !coefficients_wrap && b.coefficient_sum <= limit;

  // The coefficients the run uses, a block at a time through the quantizer itself. Each
  // is at most 2^31 in magnitude, so the sum fits 64 bits for any count below 2^32.
  std::int32_t used[256];
  std::int32_t used_scale = 0;
  for (std::size_t at = 0; at < taps.size(); at += std::size(used)) {
    const std::size_t n = std::min(std::size(used), taps.size() - at);
    used_scale = quantize_taps(precision, static_cast<std::int32_t>(n), taps.data() + at, used);
    for (std::size_t j = 0; j < n; ++j) b.used_coefficient_sum += magnitude(used[j]);
  }
  const std::uint64_t largest_sample = magnitude(used_scale);  // |trunc(scale · x)| for |x| ≤ 1
  b.can_wrap = largest_sample > 0 && b.used_coefficient_sum > 0x7FFFFFFF / largest_sample;
  b.headroom_bits = b.used_coefficient_sum == 0 || largest_sample == 0
                        ? std::numeric_limits<double>::infinity()
                        : std::log2(largest_int32) -
                              std::log2(static_cast<double>(b.used_coefficient_sum)) -
                              std::log2(static_cast<double>(largest_sample));
  return b;
}

std::int32_t largest_wrap_free_precision(std::span<const float> taps) noexcept {
  std::int32_t best = -1;
  for (std::int32_t p = LOWEST_PRECISION; p <= HIGHEST_PRECISION; ++p) {
    if (wrap_bound_at(taps, p).wrap_free) best = p;
  }
  return best;
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
  return exact_run_wrapped({run.coefficients,
                            run.samples.first(n),
                            run.accumulators.first(n),
                            {},
                            {},
                            run.scale,
                            run.from});
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
  if (centre + spread + slack <= largest_int32) return wrap_verdict::none;
  if (centre - spread - slack > largest_int32 + 1.0) return wrap_verdict::wraps;
  return wrap_verdict::unknown;
}

}  // namespace fixfir
