#include "fixfir/measurement/wrap_checks.h"

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

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/coefficients/quantizer.h"
#include "fixfir/common/result.h"
#include "fixfir/engine/fir_engine.h"

namespace fixfir {

namespace {

std::uint64_t magnitude(std::int32_t c) noexcept {
  return c < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(c))
               : static_cast<std::uint64_t>(c);
}

// The sums of a bound the filter object cannot give: a precision past 0 to 30, or a tap
// that wrapped on conversion. Returns the scale the run uses.
std::int32_t bound_sums(std::span<const float> taps, std::int32_t precision,
                        wrap_bound& b) noexcept {
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
      coefficients_wrap =
          coefficients_wrap || std::fabs(truncated) > ACCUMULATOR_LIMIT_DOUBLE + 1.0;
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
      precision >= 0 && precision < 31 ? (ACCUMULATOR_LIMIT >> precision) : 0;
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
  return used_scale;
}

}  // namespace

wrap_bound wrap_bound_at(std::span<const float> taps, std::int32_t precision) noexcept {
  wrap_bound b;
  b.precision = precision;
  std::int32_t used_scale = 0;
  result<fixed_filter> f =
      precision >= FIXED_LOWEST_PRECISION && precision <= FIXED_HIGHEST_PRECISION
          ? make_fixed_filter(taps, precision_datapath(precision))
          : result<fixed_filter>(make_error(error_kind::bad_input, ""));
  if (f && !f.value().coefficient_wrapped) {
    // Every coefficient is the tap's truncation itself: the filter's Σ |c| is the bound's.
    b.coefficient_sum = f.value().magnitude_sum;
    b.wrap_free = no_input_overflows(f.value());
    b.used_coefficient_sum = f.value().magnitude_sum;
    used_scale = f.value().path.scale;
  } else {
    used_scale = bound_sums(taps, precision, b);
  }
  const std::uint64_t largest_sample = magnitude(used_scale);  // |trunc(scale · x)| for |x| ≤ 1
  b.can_wrap = largest_sample > 0 && b.used_coefficient_sum > ACCUMULATOR_LIMIT / largest_sample;
  b.headroom_bits = b.used_coefficient_sum == 0 || largest_sample == 0
                        ? std::numeric_limits<double>::infinity()
                        : std::log2(ACCUMULATOR_LIMIT_DOUBLE) -
                              std::log2(static_cast<double>(b.used_coefficient_sum)) -
                              std::log2(static_cast<double>(largest_sample));
  return b;
}

std::optional<std::int32_t> largest_wrap_free_precision(std::span<const float> taps) noexcept {
  std::optional<std::int32_t> best;
  for (std::int32_t p = LOWEST_PRECISION; p <= HIGHEST_PRECISION; ++p) {
    if (wrap_bound_at(taps, p).wrap_free) best = p;
  }
  return best;
}

}  // namespace fixfir
