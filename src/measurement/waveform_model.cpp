#include "waveform_model.h"

#include <algorithm>
#include <atomic>
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
#include "fast_kernel.h"
#include "fir_engine.h"
#include "multitone_waveform.h"
#include "parallel_chunks.h"
#include "real_kernel.h"

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Samples between two questions to `keep_going` in the loops over every tap.
constexpr std::size_t polled_samples = 64;

// Largest of two values, NaN if either is.
double nan_max(double a, double b) noexcept {
  if (std::isnan(a) || std::isnan(b)) return not_a_number;
  return a > b ? a : b;
}

// A double-precision filter over whole signals, laid out as the engine's kernel wants it:
// the reversed taps, and a signal behind a zero prefix of taps - 1 samples.
struct double_filter {
  std::vector<double> reversed;
  std::size_t outputs = 0;  // the signal length rounded up to CONVOLVE_BLOCK
  std::vector<double> signal;
  std::vector<double> output;
};

double_filter make_double_filter(std::span<const float> taps, std::size_t samples) {
  double_filter f;
  f.reversed.assign(taps.rbegin(), taps.rend());
  f.outputs = (samples + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  const std::size_t prefix = f.reversed.empty() ? 0 : f.reversed.size() - 1;
  f.signal.assign(prefix + f.outputs, 0.0);
  f.output.assign(f.outputs, 0.0);
  return f;
}

// Runs `x` (at most the length it was made for) from rest; the outputs are f.output[0, n).
void run_double(double_filter& f, std::span<const double> x) noexcept {
  if (f.reversed.empty()) {
    std::fill(f.output.begin(), f.output.end(), 0.0);
    return;
  }
  std::copy(x.begin(), x.end(),
            f.signal.begin() + static_cast<std::ptrdiff_t>(f.reversed.size() - 1));
  // A block of outputs at a time, so that a long run can be stopped between them.
  constexpr std::size_t per_block = 64 * CONVOLVE_BLOCK;
  for (std::size_t begin = 0; begin < f.outputs; begin += per_block) {
    if (!keep_going()) return;  // abandoned: the outputs are thrown away
    real_convolve(f.reversed.data(), f.reversed.size(), f.signal.data(), begin,
                  std::min(per_block, f.outputs - begin), f.output.data() + begin);
  }
}

// Σ |c[j]| as an exact 64-bit sum (at most 2^31 terms below 2^31 each).
std::uint64_t coefficient_magnitude_sum(const quantized_filter& filter) noexcept {
  std::uint64_t sum = 0;
  for (std::int32_t j = 0; j < filter.count; ++j) {
    const std::int64_t c = filter.coefficients[j];
    sum += static_cast<std::uint64_t>(c < 0 ? -c : c);
  }
  return sum;
}

// The models below throw std::bad_alloc when memory runs out (or the run is abandoned).
std::vector<double> double_model_or_throw(std::span<const float> taps,
                                          std::span<const double> input) {
  double_filter f = make_double_filter(taps, input.size());
  run_double(f, input);
  f.output.resize(input.size());
  return std::move(f.output);
}

fixed_run fixed_model_or_throw(const quantized_filter& filter, std::span<const double> input) {
  fixed_run run;
  std::vector<std::int32_t> acc(input.size());
  if (!filter_signal(filter, input.data(), input.size(), acc.data(), worker_count())) {
    throw std::bad_alloc();
  }
  const double scale = static_cast<double>(filter.scale);
  run.output.resize(input.size());
  // The samples as the core quantizes them, for the exact sums.
  std::vector<std::int32_t> s(input.size());
  std::uint64_t largest_sample = 0;
  for (std::size_t n = 0; n < input.size(); ++n) {
    run.output[n] = fir_output(scale, acc[n]);
    s[n] = quantize_sample(scale, input[n]);
    const std::int64_t v = s[n];
    largest_sample = std::max(largest_sample, static_cast<std::uint64_t>(v < 0 ? -v : v));
  }
  // When Σ |c[j]| · max |s| fits in 31 bits no sum can wrap, and the exact sums are skipped.
  const std::uint64_t bound = coefficient_magnitude_sum(filter);
  if (largest_sample == 0 || bound <= static_cast<std::uint64_t>(INT32_MAX) / largest_sample) {
    return run;
  }
  const auto count = static_cast<std::size_t>(std::max(filter.count, 0));
  for (std::size_t n = 0; n < input.size(); ++n) {
    if (n % polled_samples == 0 && !keep_going()) break;  // abandoned: thrown away
    wide_sum exact;
    for (std::size_t j = 0; j < count && j <= n; ++j) {
      add_product(exact, static_cast<std::int64_t>(filter.coefficients[j]) * s[n - j]);
    }
    if (!equals_int32(exact, acc[n])) ++run.wraps;
  }
  return run;
}

waveform_signal waveform_signal_or_throw(const frequency_settings& settings, unsigned threads) {
  waveform_signal signal;
  signal.time.resize(static_cast<std::size_t>(WAVEFORM_SAMPLES));
  signal.input.resize(static_cast<std::size_t>(WAVEFORM_SAMPLES));
  double t = 0.0;
  for (double& slot : signal.time) {
    slot = t;
    t = t + SAMPLE_INTERVAL;
  }
  // The waveform test's own inputs; an abandoned run's are thrown away.
  if (!exact_waveform_inputs(settings, signal.time.data(), signal.input.data(), signal.input.size(),
                             std::max(threads, 1U)) &&
      keep_going()) {
    throw std::bad_alloc();
  }
  return signal;
}

}  // namespace

result<std::vector<double>> run_double_model(std::span<const float> taps,
                                             std::span<const double> input) noexcept {
  try {
    return double_model_or_throw(taps, input);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

result<fixed_run> run_fixed_model(const quantized_filter& filter,
                                  std::span<const double> input) noexcept {
  try {
    return fixed_model_or_throw(filter, input);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

result<waveform_signal> make_waveform_signal(const frequency_settings& settings,
                                             unsigned threads) noexcept {
  try {
    return waveform_signal_or_throw(settings, threads);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

double largest_tap_error(std::span<const float> taps, const quantized_filter& filter) noexcept {
  const double scale = static_cast<double>(filter.scale);
  double worst = 0.0;
  const std::size_t count =
      std::min(taps.size(), static_cast<std::size_t>(std::max(filter.count, 0)));
  for (std::size_t j = 0; j < count; ++j) {
    const double error = std::fabs(static_cast<double>(taps[j]) -
                                   static_cast<double>(filter.coefficients[j]) / scale);
    worst = nan_max(worst, error);
  }
  return worst;
}

double snr_db(std::span<const double> reference, std::span<const double> measured) noexcept {
  const std::size_t n = std::min(reference.size(), measured.size());
  double signal = 0.0;
  double noise = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double e = measured[i] - reference[i];
    signal += reference[i] * reference[i];
    noise += e * e;
  }
  if (std::isnan(signal) || std::isnan(noise) || signal == 0.0) return not_a_number;
  if (noise == 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / noise);
}

bool measure_waveform(const quantized_filter& filter, std::span<const double> input,
                      std::span<const double> reference, bool split, waveform_figures& out) {
  try {
    fixed_run run = fixed_model_or_throw(filter, input);
    out.wraps = run.wraps;
    out.snr_db = snr_db(reference, run.output);
    out.fixed_output = std::move(run.output);
    if (split) {
      const std::span<const std::int32_t> c(filter.coefficients,
                                            static_cast<std::size_t>(std::max(filter.count, 0)));
      const auto scale = static_cast<double>(filter.scale);
      if (!run_coefficient_model(c, scale, input, out.coefficient_output)) return false;
      out.split = split_error(reference, out.coefficient_output, out.fixed_output,
                              predicted_truncation_power(c, scale, input));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace fixfir
