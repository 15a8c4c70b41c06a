#include "fixfir/measurement/datapath_waveform.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "fixfir/drivers/datapath_run.h"
#include "fixfir/measurement/error_model.h"

namespace fixfir {

namespace {

double mean_square_of(std::span<const double> v) noexcept {
  double sum = 0.0;
  for (const double x : v) sum += x * x;
  return v.empty() ? std::numeric_limits<double>::quiet_NaN() : sum / static_cast<double>(v.size());
}

double mean_square_between(std::span<const double> a, std::span<const double> b) noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return n == 0 ? std::numeric_limits<double>::quiet_NaN() : sum / static_cast<double>(n);
}

}  // namespace

bool measure_datapath_waveform(const fixed_filter& f, std::span<const double> input,
                               std::span<const double> reference, unsigned threads,
                               waveform_figures& out, datapath_budget& budget) {
  try {
    result<datapath_run> run = run_datapath(f, input, threads);
    if (!run) return false;
    budget.sample_overflows = run.value().sample_overflows;
    budget.accumulator_overflows = run.value().accumulator_overflows;
    budget.output_overflows = run.value().output_overflows;
    out.wraps = static_cast<std::int64_t>(budget.accumulator_overflows);
    // With an output stage the accumulators before it, in real units.
    std::vector<double> accumulated;
    if (f.path.output.bits != 0) {
      accumulated.reserve(run.value().accumulators.size());
      for (const std::int64_t a : run.value().accumulators)
        accumulated.push_back(static_cast<double>(a) * f.output_unit);
    }
    out.fixed_output = std::move(run).value().output;
    out.snr_db = snr_db(reference, out.fixed_output);

    if (!run_coefficient_model(f.coefficients, f.coefficient_scale, input, out.coefficient_output))
      return false;
    fixed_filter exact = f;
    exact.path.accumulator_bits = 64;
    exact.path.accumulator_overflow = overflow_mode::saturate;
    exact.path.output = {};
    result<datapath_run> sums = run_datapath(exact, input, threads);
    if (!sums) return false;
    const std::vector<double>& summed = sums.value().output;

    const double signal = mean_square_of(reference);
    budget.coefficient_db =
        power_ratio_db(signal, mean_square_between(out.coefficient_output, reference));
    budget.sample_db = power_ratio_db(signal, mean_square_between(summed, out.coefficient_output));
    const std::vector<double>& before_output = accumulated.empty() ? out.fixed_output : accumulated;
    budget.accumulator_db = power_ratio_db(signal, mean_square_between(before_output, summed));
    budget.output_db =
        accumulated.empty()
            ? std::numeric_limits<double>::quiet_NaN()
            : power_ratio_db(signal, mean_square_between(out.fixed_output, accumulated));
    out.split.coefficient_db = budget.coefficient_db;
    out.split.arithmetic_power = mean_square_between(out.fixed_output, out.coefficient_output);
    out.split.arithmetic_db = power_ratio_db(signal, out.split.arithmetic_power);
    out.split.predicted_arithmetic_db = std::numeric_limits<double>::quiet_NaN();
    out.split.predicted_arithmetic_power = std::numeric_limits<double>::quiet_NaN();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

double largest_datapath_tap_error(std::span<const float> taps, const fixed_filter& f) noexcept {
  double worst = 0.0;
  const std::size_t count = std::min(taps.size(), f.coefficients.size());
  for (std::size_t j = 0; j < count; ++j) {
    const double represented =
        std::ldexp(static_cast<double>(f.coefficients[j]), -f.path.coefficient.fraction_bits);
    const double error = std::fabs(static_cast<double>(taps[j]) - represented);
    if (std::isnan(error) || error > worst) worst = error;
  }
  return worst;
}

}  // namespace fixfir
