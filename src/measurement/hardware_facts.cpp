#include "fixfir/measurement/hardware_facts.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "fixfir/common/analysis_constants.h"

namespace fixfir {

namespace {

std::uint32_t bits_of(float v) { return std::bit_cast<std::uint32_t>(v); }

// The taps as given, bit for bit: -0 and +0 differ, as do NaNs of different payloads. The
// centre tap of an odd antisymmetric filter is 0 of either sign.
tap_symmetry symmetry_of(std::span<const float> h) {
  bool symmetric = true;
  bool antisymmetric = true;
  const std::size_t n = h.size();
  for (std::size_t i = 0; i < n / 2; ++i) {
    const float a = h[i];
    const float b = h[n - 1 - i];
    symmetric = symmetric && bits_of(a) == bits_of(b);
    antisymmetric = antisymmetric && bits_of(a) == bits_of(-b);
  }
  if (n % 2 == 1) antisymmetric = antisymmetric && h[n / 2] == 0.0F;
  if (symmetric) return tap_symmetry::symmetric;
  return antisymmetric ? tap_symmetry::antisymmetric : tap_symmetry::none;
}

// Σ sign(n)·h[n] summed a mirrored pair at a time: the two floats of a pair add exactly in
// double, so the gains a symmetry makes 0 come out exactly 0.
double folded_sum(std::span<const float> h, bool alternate) {
  const std::size_t n = h.size();
  auto term = [&](std::size_t i) {
    const double v = h[i];
    return alternate && i % 2 == 1 ? -v : v;
  };
  double sum = 0;
  for (std::size_t i = 0; i < n / 2; ++i) sum += term(i) + term(n - 1 - i);
  if (n % 2 == 1) sum += term(n / 2);
  return sum;
}

double decibels(double gain) { return 20.0 * std::log10(std::fabs(gain)); }

}  // namespace

hardware_facts hardware_facts_of(std::span<const float> taps) {
  hardware_facts f;
  const auto n = static_cast<std::int64_t>(taps.size());
  f.symmetry = symmetry_of(taps);
  f.multipliers = f.symmetry == tap_symmetry::symmetric       ? (n + 1) / 2
                  : f.symmetry == tap_symmetry::antisymmetric ? n / 2
                                                              : n;
  if (f.symmetry == tap_symmetry::none) {
    f.group_delay_samples = std::numeric_limits<double>::quiet_NaN();
    f.group_delay_ms = f.group_delay_samples;
  } else {
    f.group_delay_samples = n > 0 ? static_cast<double>(n - 1) / 2.0 : 0.0;
    f.group_delay_ms = f.group_delay_samples * SAMPLE_INTERVAL * 1000.0;
  }
  f.dc_gain = folded_sum(taps, false);
  f.dc_gain_db = decibels(f.dc_gain);
  f.nyquist_gain = folded_sum(taps, true);
  f.nyquist_gain_db = decibels(f.nyquist_gain);
  for (const float t : taps) f.abs_sum += std::fabs(static_cast<double>(t));
  if (f.abs_sum > 1.0 && std::isfinite(f.abs_sum))
    f.growth_bits = static_cast<std::int32_t>(std::ceil(std::log2(f.abs_sum)));
  return f;
}

const char* symmetry_name(tap_symmetry s) {
  switch (s) {
    case tap_symmetry::symmetric:
      return "symmetric";
    case tap_symmetry::antisymmetric:
      return "antisymmetric";
    case tap_symmetry::none:
      return "none";
  }
  return "none";
}

}  // namespace fixfir
