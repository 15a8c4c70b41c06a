#include "fixfir/measurement/waveform_model.h"

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

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/checks.h"
#include "fixfir/drivers/accumulator_wraps.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/double_filter.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/drivers/sine_service.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Largest of two values, NaN if either is.
double nan_max(double a, double b) noexcept {
  if (std::isnan(a) || std::isnan(b)) return not_a_number;
  return a > b ? a : b;
}

// The models below return the engine's failure as it reported it (memory, or the run
// abandoned), and throw std::bad_alloc when their own buffers cannot be had.
result<fixed_run> fixed_model_or_throw(const fixed_filter& f, std::span<const double> input) {
  FIXFIR_EXPECTS(is_precision_datapath(f.path));
  const quantized_filter filter = engine_filter(f);
  fixed_run run;
  std::vector<std::int32_t> acc(input.size());
  if (outcome filtered =
          filter_signal(filter, input.data(), input.size(), acc.data(), worker_count());
      !filtered) {
    return std::move(filtered).failure();
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
  const std::span<const std::int32_t> c(filter.coefficients,
                                        static_cast<std::size_t>(std::max(filter.count, 0)));
  if (largest_sample <= wrap_free_sample_limit(coefficient_magnitude_sum(c))) return run;
  run.wraps = count_wrapped_sums(c, s, acc, 0, std::numeric_limits<std::int64_t>::max(), true);
  return run;
}

result<waveform_signal> waveform_signal_or_throw(const frequency_settings& settings,
                                                 unsigned threads) {
  waveform_signal signal;
  signal.time.resize(static_cast<std::size_t>(WAVEFORM_SAMPLES));
  signal.input.resize(static_cast<std::size_t>(WAVEFORM_SAMPLES));
  double t = 0.0;
  for (double& slot : signal.time) {
    slot = t;
    t = t + SAMPLE_INTERVAL;
  }
  // The waveform test's own inputs.
  if (outcome made = exact_waveform_inputs(settings, signal.time.data(), signal.input.data(),
                                           signal.input.size(), std::max(threads, 1U));
      !made) {
    return std::move(made).failure();
  }
  return signal;
}

}  // namespace

result<std::vector<double>> run_double_model(std::span<const float> taps,
                                             std::span<const double> input) noexcept {
  return double_filter_run(taps, input);
}

result<fixed_run> run_fixed_model(const fixed_filter& f, std::span<const double> input) noexcept {
  try {
    return fixed_model_or_throw(f, input);
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

namespace {

double mean_square_of(std::span<const double> v) noexcept {
  double sum = 0.0;
  for (const double x : v) sum += x * x;
  return v.empty() ? not_a_number : sum / static_cast<double>(v.size());
}

double mean_square_between(std::span<const double> a, std::span<const double> b) noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return n == 0 ? not_a_number : sum / static_cast<double>(n);
}

// The three-way budget of `f` once its own run is in `out`, and the split it gives.
// `accumulated`: with an output stage, the accumulators before it in real units; else empty.
outcome measure_budget(const fixed_filter& f, std::span<const double> input,
                       std::span<const double> reference, unsigned threads, waveform_figures& out,
                       std::span<const double> accumulated, datapath_budget& budget) {
  if (outcome ran =
          run_coefficient_model(f.coefficients, f.coefficient_scale, input, out.coefficient_output);
      !ran)
    return ran;
  fixed_filter exact = f;
  exact.path.accumulator_bits = 64;
  exact.path.accumulator_overflow = overflow_mode::saturate;
  exact.path.output = {};
  result<datapath_run> sums = run_datapath(exact, input, threads);
  if (!sums) return std::move(sums).failure();
  const std::vector<double>& summed = sums.value().output;
  const double signal = mean_square_of(reference);
  budget.coefficient_db =
      power_ratio_db(signal, mean_square_between(out.coefficient_output, reference));
  budget.sample_db = power_ratio_db(signal, mean_square_between(summed, out.coefficient_output));
  const std::span<const double> before_output =
      accumulated.empty() ? std::span<const double>(out.fixed_output) : accumulated;
  budget.accumulator_db = power_ratio_db(signal, mean_square_between(before_output, summed));
  budget.output_db =
      accumulated.empty()
          ? not_a_number
          : power_ratio_db(signal, mean_square_between(out.fixed_output, accumulated));
  out.split.coefficient_db = budget.coefficient_db;
  out.split.arithmetic_power = mean_square_between(out.fixed_output, out.coefficient_output);
  out.split.arithmetic_db = power_ratio_db(signal, out.split.arithmetic_power);
  out.split.predicted_arithmetic_db = not_a_number;
  out.split.predicted_arithmetic_power = not_a_number;
  return success();
}

}  // namespace

double largest_tap_error(std::span<const float> taps, const fixed_filter& f) noexcept {
  double worst = 0.0;
  const std::size_t count = std::min(taps.size(), f.coefficients.size());
  for (std::size_t j = 0; j < count; ++j) {
    const double represented =
        std::ldexp(static_cast<double>(f.coefficients[j]), -f.path.coefficient.fraction_bits);
    worst = nan_max(worst, std::fabs(static_cast<double>(taps[j]) - represented));
  }
  return worst;
}

outcome measure_waveform(const fixed_filter& f, std::span<const double> input,
                         std::span<const double> reference, unsigned threads, waveform_parts parts,
                         waveform_figures& out, datapath_budget* budget) {
  try {
    result<datapath_run> run = run_signal(f, input, threads);
    if (!run) return std::move(run).failure();
    out.wraps = static_cast<std::int64_t>(run.value().accumulator_overflows);
    if (budget != nullptr) {
      budget->sample_overflows = run.value().sample_overflows;
      budget->accumulator_overflows = run.value().accumulator_overflows;
      budget->output_overflows = run.value().output_overflows;
    }
    // With an output stage the accumulators before it, in real units, for the budget.
    std::vector<double> accumulated;
    if (f.path.output.bits != 0 && parts == waveform_parts::budget) {
      accumulated.reserve(run.value().accumulators.size());
      for (const std::int64_t a : run.value().accumulators)
        accumulated.push_back(static_cast<double>(a) * f.output_unit);
    }
    out.fixed_output = std::move(run).value().output;
    out.snr_db = snr_db(reference, out.fixed_output);
    if (parts == waveform_parts::budget) {
      FIXFIR_EXPECTS(budget != nullptr);
      return measure_budget(f, input, reference, threads, out, accumulated, *budget);
    }
    if (parts == waveform_parts::split) {
      const double scale = f.coefficient_scale;
      if (outcome ran = run_coefficient_model(f.coefficients, scale, input, out.coefficient_output);
          !ran)
        return ran;
      out.split = split_error(reference, out.coefficient_output, out.fixed_output,
                              predicted_truncation_power(f.coefficients, scale, input));
    }
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
