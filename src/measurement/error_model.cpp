#include "fixfir/measurement/error_model.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fixfir/common/checks.h"
#include "fixfir/drivers/integer_filter.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
// Samples between two questions to `keep_going` in the loops over every tap; when it says
// stop they give up with their failure value, as their results are then thrown away.
constexpr std::size_t polled_samples = 64;

double mean_square(std::span<const double> v) noexcept {
  double sum = 0.0;
  for (double x : v) sum += x * x;
  return v.empty() ? not_a_number : sum / static_cast<double>(v.size());
}

double mean_square_difference(std::span<const double> a, std::span<const double> b) noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return n == 0 ? not_a_number : sum / static_cast<double>(n);
}

// The truncation model's sums as integers: for each sample n, the signed sum
// Σ c[j] · sign(x[n - j]) and Σ c[j]² over the taps whose sample is not 0. Where 1 / scale
// is a power of two, each term the model adds tap by tap, c · q · (∓q / 2) or (c · q)², is
// that integer term times q² / 2 or q², and where every partial sum stays below 2^53 in
// those units the sum tap by tap is exact: the same double as the integer sum scaled, in
// whatever order the integers were added. Empty when that does not hold, or memory runs out.
struct truncation_sums {
  std::vector<double> signed_sum;
  std::vector<double> square_sum;
};

std::optional<truncation_sums> exact_truncation_sums(std::span<const std::int32_t> coefficients,
                                                     double scale, std::span<const double> input,
                                                     bool squares) {
  int exponent = 0;
  if (!(scale > 0.0) || std::frexp(scale, &exponent) != 0.5) return std::nullopt;
  if (!integer_filter_exact(coefficients, 1)) return std::nullopt;
  std::vector<std::int32_t> squared;
  if (squares) {
    for (const std::int32_t c : coefficients) {
      // c² below 2^31 keeps the integer filter's coefficients 32-bit words.
      if (std::llabs(c) > 46340) return std::nullopt;
      squared.push_back(c * c);
    }
    if (!integer_filter_exact(squared, 1)) return std::nullopt;
  }
  std::vector<std::int32_t> sign(input.size());
  std::vector<std::int32_t> nonzero(squares ? input.size() : 0);
  for (std::size_t n = 0; n < input.size(); ++n) {
    // As the loops below read a sample: 0 adds nothing, and anything not above 0 (NaN too)
    // counts as negative.
    sign[n] = input[n] == 0.0 ? 0 : input[n] > 0.0 ? 1 : -1;
    if (squares) nonzero[n] = input[n] != 0.0 ? 1 : 0;
  }
  truncation_sums sums;
  if (!integer_filter(coefficients, sign, sums.signed_sum)) return std::nullopt;
  if (squares && !integer_filter(squared, nonzero, sums.square_sum)) return std::nullopt;
  return sums;
}

// The model's mean error from the signed integer sum K: -K · q² / 2, exact. K is negated
// first, so that a sum of 0 gives +0 as the tap-by-tap sum from +0 does, not -0.
double exact_mean(double signed_sum, double q) noexcept {
  const double negated = signed_sum == 0.0 ? 0.0 : -signed_sum;
  return negated * (q * q / 2.0);
}

}  // namespace

outcome run_coefficient_model(std::span<const std::int32_t> coefficients, double scale,
                              std::span<const double> input, std::vector<double>& output) noexcept {
  try {
    std::vector<double> h(coefficients.size());
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
    output.assign(input.size(), 0.0);
    for (std::size_t n = 0; n < input.size(); ++n) {
      if (n % polled_samples == 0 && !keep_going()) return interrupted_error();
      const std::size_t met = std::min(h.size(), n + 1);
      double y = 0.0;
      for (std::size_t j = 0; j < met; ++j) y += h[j] * input[n - j];
      output[n] = y;
    }
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

double predicted_truncation_power(std::span<const std::int32_t> coefficients, double scale,
                                  std::span<const double> input) noexcept {
  if (input.empty()) return not_a_number;
  const double q = 1.0 / scale;
  double total = 0.0;
  if (!keep_going()) return not_a_number;
  if (const auto sums = exact_truncation_sums(coefficients, scale, input, true)) {
    for (std::size_t n = 0; n < input.size(); ++n) {
      const double mean = exact_mean(sums->signed_sum[n], q);
      const double variance = sums->square_sum[n] * (q * q);
      total += mean * mean + variance * q * q / 12.0;
    }
    return total / static_cast<double>(input.size());
  }
  for (std::size_t n = 0; n < input.size(); ++n) {
    if (n % polled_samples == 0 && !keep_going()) return not_a_number;
    const std::size_t met = std::min(coefficients.size(), n + 1);
    double mean = 0.0;
    double variance = 0.0;
    for (std::size_t j = 0; j < met; ++j) {
      const double x = input[n - j];
      if (x == 0.0) continue;
      const double h = static_cast<double>(coefficients[j]) * q;
      mean += h * (x > 0.0 ? -q / 2.0 : q / 2.0);
      variance += h * h;
    }
    total += mean * mean + variance * q * q / 12.0;
  }
  return total / static_cast<double>(input.size());
}

result<double> truncation_model(std::span<const std::int32_t> coefficients, double scale,
                                std::span<const double> input, std::vector<double>& mean) noexcept {
  try {
    const double q = 1.0 / scale;
    mean.assign(input.size(), 0.0);
    std::size_t nonzero = 0;
    if (!keep_going()) return interrupted_error();
    if (const auto sums = exact_truncation_sums(coefficients, scale, input, false)) {
      for (std::size_t n = 0; n < input.size(); ++n) {
        nonzero += input[n] != 0.0 ? 1 : 0;
        mean[n] = exact_mean(sums->signed_sum[n], q);
      }
    } else {
      for (std::size_t n = 0; n < input.size(); ++n) {
        if (n % polled_samples == 0 && !keep_going()) return interrupted_error();
        if (input[n] != 0.0) ++nonzero;
        const std::size_t met = std::min(coefficients.size(), n + 1);
        double m = 0.0;
        for (std::size_t j = 0; j < met; ++j) {
          const double x = input[n - j];
          if (x == 0.0) continue;
          m += static_cast<double>(coefficients[j]) * q * (x > 0.0 ? -q / 2.0 : q / 2.0);
        }
        mean[n] = m;
      }
    }
    if (input.empty()) return 0.0;
    return q * q / 12.0 * static_cast<double>(nonzero) / static_cast<double>(input.size());
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

double power_ratio_db(double signal_power, double error_power) noexcept {
  if (std::isnan(signal_power) || std::isnan(error_power) || signal_power == 0.0)
    return not_a_number;
  if (error_power == 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal_power / error_power);
}

error_split split_error(std::span<const double> reference,
                        std::span<const double> coefficient_model, std::span<const double> fixed,
                        double predicted_power) noexcept {
  error_split split;
  const double signal = mean_square(reference);
  split.arithmetic_power = mean_square_difference(fixed, coefficient_model);
  split.predicted_arithmetic_power = predicted_power;
  split.coefficient_db =
      power_ratio_db(signal, mean_square_difference(coefficient_model, reference));
  split.arithmetic_db = power_ratio_db(signal, split.arithmetic_power);
  split.predicted_arithmetic_db = power_ratio_db(signal, predicted_power);
  return split;
}

outcome predicted_error_spectrum(std::span<const std::int32_t> coefficients, double scale,
                                 std::span<const double> input, std::size_t segment,
                                 std::vector<double>& out) noexcept {
  try {
    std::vector<double> mean;
    result<double> modelled = truncation_model(coefficients, scale, input, mean);
    if (!modelled) return std::move(modelled).failure();
    const double white = modelled.value();
    if (outcome spectrum = averaged_spectrum(mean, segment, out); !spectrum) return spectrum;
    std::vector<double> h(coefficients.size());
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
    for (std::size_t k = 0; k < out.size(); ++k) {
      if (!keep_going()) return interrupted_error();  // each point sums over every tap
      const double f = static_cast<double>(k) * 2.0 * NYQUIST_HZ / static_cast<double>(segment);
      const double gain = magnitude_at(h, f);
      out[k] += 2.0 * white * gain * gain / static_cast<double>(segment);
    }
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

outcome error_spectra(std::span<const double> fixed, std::span<const double> reference,
                      std::span<const double> coefficient_model, std::size_t samples,
                      waveform_spectra& out) noexcept {
  FIXFIR_EXPECTS(samples <= fixed.size() && samples <= reference.size() &&
                 samples <= coefficient_model.size());
  outcome made = out_of_memory_error();
  try {
    std::vector<double> error(samples);
    std::vector<double> coefficient_error(samples);
    for (std::size_t i = 0; i < samples; ++i) {
      error[i] = fixed[i] - reference[i];
      coefficient_error[i] = coefficient_model[i] - reference[i];
    }
    made = averaged_spectrum(error, SPECTRUM_SEGMENT, out.error);
    if (made) made = averaged_spectrum(coefficient_error, SPECTRUM_SEGMENT, out.coefficient_error);
    if (made) made = averaged_spectrum(reference.first(samples), SPECTRUM_SEGMENT, out.signal);
    if (made) return made;
  } catch (const std::bad_alloc&) {
  }
  out = waveform_spectra{};
  return made;
}

}  // namespace fixfir
