// The sweep, steady-state and waveform measurements of a filter against a model written
// here: the sweep's clock and sines, each datapath's words and accumulator in 128-bit
// integers, and a least-squares fit of a sine and a cosine, one output at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "datapath_cases.h"
#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/unit_sine_sweep.h"
#include "fixfir/measurement/precision_sweep.h"
#include "fixfir/measurement/steady_state.h"
#include "fixfir/measurement/waveform_model.h"

namespace fixfir {
namespace {

__extension__ using i128 = __int128;

// v fitted to `bits` bits: its low bits (wrap) or clamped (saturate).
i128 fit(i128 v, int bits, overflow_mode o, std::size_t& overflows) {
  const i128 hi = (i128{1} << (bits - 1)) - 1;
  const i128 lo = -hi - 1;
  if (v >= lo && v <= hi) return v;
  ++overflows;
  if (o == overflow_mode::saturate) return v > hi ? hi : lo;
  const i128 span = i128{1} << bits;
  i128 low = v % span;
  if (low < 0) low += span;
  return low > hi ? low - span : low;
}

// A sample |x| ≤ 2 as a word: x · 2^F rounded, then fitted.
i128 sample_word(double x, const word_format& w, std::size_t& overflows) {
  const double scaled = std::ldexp(x, w.fraction_bits);
  double r = std::trunc(scaled);
  if (w.rounding == rounding_mode::nearest) r = std::round(scaled);
  if (w.rounding == rounding_mode::floor) r = std::floor(scaled);
  return fit(static_cast<i128>(r), w.bits, w.overflow, overflows);
}

struct model_run {
  std::vector<double> output;  // accumulator × 2^-(F_c + F_x)
  std::vector<i128> accumulator;
  std::size_t sample_overflows = 0;
  std::size_t accumulator_overflows = 0;
  std::vector<bool> sample_overflowed;  // per sample
  std::vector<bool> overflowed;         // per output
};

// Whether some flag of `flags` from `first` on is set.
bool any_from(const std::vector<bool>& flags, std::size_t first) {
  for (std::size_t n = first; n < flags.size(); ++n)
    if (flags[n]) return true;
  return false;
}

// `f` over `x` from rest, one product at a time.
model_run run_model(const fixed_filter& f, const std::vector<double>& x) {
  model_run m;
  std::vector<i128> s(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) {
    const std::size_t before = m.sample_overflows;
    s[n] = sample_word(x[n], f.path.sample, m.sample_overflows);
    m.sample_overflowed.push_back(m.sample_overflows > before);
  }
  const double unit =
      std::ldexp(1.0, -(f.path.coefficient.fraction_bits + f.path.sample.fraction_bits));
  for (std::size_t n = 0; n < x.size(); ++n) {
    i128 sum = 0;
    for (std::size_t j = 0; j < f.coefficients.size() && j <= n; ++j)
      sum += i128{f.coefficients[j]} * s[n - j];
    const std::size_t before = m.accumulator_overflows;
    const i128 a =
        fit(sum, f.path.accumulator_bits, f.path.accumulator_overflow, m.accumulator_overflows);
    m.overflowed.push_back(m.accumulator_overflows > before);
    m.accumulator.push_back(a);
    m.output.push_back(static_cast<double>(a) * unit);
  }
  return m;
}

// The sweep's unit sine: t accumulated a sample interval at a time.
std::vector<double> unit_sine(double frequency) {
  std::vector<double> x(static_cast<std::size_t>(SWEEP_SAMPLES));
  double t = 0.0;
  for (double& v : x) {
    v = std::sin((frequency * t) * TWO_PI);
    t += SAMPLE_INTERVAL;
  }
  return x;
}

// √(a² + b²) of the least-squares a · sin + b · cos through y[first ..].
double fitted(double frequency, const std::vector<double>& y, std::size_t first) {
  double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0, t = 0;
  for (std::size_t n = 0; n < y.size(); ++n, t += SAMPLE_INTERVAL) {
    if (n < first) continue;
    const double s = std::sin((frequency * t) * TWO_PI);
    const double c = std::cos((frequency * t) * TWO_PI);
    ss += s * s;
    sc += s * c;
    cc += c * c;
    ys += y[n] * s;
    yc += y[n] * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = (ys * cc - yc * sc) / det;
  const double b = (yc * ss - ys * sc) / det;
  return std::hypot(a, b);
}

std::vector<float> taps_of(std::size_t count, double amplitude, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-amplitude, amplitude);
  std::vector<float> t(count);
  for (float& v : t) v = static_cast<float>(u(rng));
  return t;
}

struct sweep_case {
  const char* name;
  datapath path;
  std::size_t taps;
  double amplitude;  // of the taps
  std::int32_t step;
};

const sweep_case sweep_cases[] = {
    {"seed_15", precision_datapath(15), 9, 0.4, 1000},
    {"seed_30_wraps", precision_datapath(30), 7, 0.9, 1000},
    {"narrow_words_saturate",
     path_of(10, 9, 8, 7, 16, rounding_mode::nearest, overflow_mode::saturate), 11, 0.5, 3996},
    {"narrow_accumulator_wraps",
     path_of(16, 15, 12, 11, 20, rounding_mode::floor, overflow_mode::wrap), 13, 0.9, 3996},
    // Sums within 31 bits and sines within the sample word: run on the 32-bit engine.
    {"small_sums_on_the_engine",
     path_of(12, 10, 16, 14, 32, rounding_mode::toward_zero, overflow_mode::saturate), 9, 0.1, 997},
};

class sweep_measurement : public ::testing::TestWithParam<sweep_case> {};

TEST_P(sweep_measurement, GivesTheModelsPeaksWrapsAndSteadyState) {
  const sweep_case& c = GetParam();
  const fixed_filter f = make_fixed_filter(taps_of(c.taps, c.amplitude, c.taps), c.path).value();
  const std::vector<float> taps = taps_of(c.taps, c.amplitude, c.taps);
  precision_sweeps out;
  ASSERT_TRUE(sweep_filters(std::span(&f, 1), {taps, c.step, 2, true, {}}, out));
  ASSERT_EQ(out.runs.size(), 1U);
  const swept_precision& run = out.runs[0];
  std::int32_t frequencies_overflowed = 0;
  std::int32_t wraps = 0;
  for (std::size_t i = 0; i < out.frequency.size(); ++i) {
    const double frequency = SWEEP_FIRST_FREQUENCY + static_cast<double>(i) * c.step;
    ASSERT_EQ(out.frequency[i], frequency);
    const model_run m = run_model(f, unit_sine(frequency));
    // fixfir's precisions wrap modulo 2^32, where -2^31 has no magnitude and is no peak.
    const bool seed = is_precision_datapath_in_range(f.path);
    i128 peak = 0;
    for (const i128 a : m.accumulator)
      if (!seed || a != -(i128{1} << 31)) peak = std::max(peak, a < 0 ? -a : a);
    const double unit = f.output_unit;
    EXPECT_EQ(run.peak[i], static_cast<double>(peak) * unit) << frequency << " Hz";
    EXPECT_EQ(run.wrapped[i] != 0, m.accumulator_overflows > 0) << frequency << " Hz";
    EXPECT_EQ(run.sample_overflowed[i] != 0, m.sample_overflows > 0) << frequency << " Hz";
    frequencies_overflowed += m.sample_overflows > 0 ? 1 : 0;
    wraps += m.accumulator_overflows > 0 ? 1 : 0;
    const double expected = fitted(frequency, m.output, steady_fit_start(c.taps, m.output.size()));
    if (frequency == SWEEP_LAST_FREQUENCY) {
      EXPECT_TRUE(std::isnan(run.steady[i]));
    } else {
      EXPECT_NEAR(run.steady[i], expected, 1e-9 * (1.0 + expected)) << frequency << " Hz";
    }
  }
  EXPECT_EQ(run.sample_overflows, frequencies_overflowed);
  EXPECT_EQ(run.wraps, wraps);

  // fixfir's precision made from the precision alone gives the same measurements.
  if (!is_precision_datapath_in_range(c.path)) return;
  precision_sweeps by_precision;
  const std::int32_t precision[] = {c.path.precision};
  ASSERT_TRUE(sweep_filters(precision_filters(taps, precision).value(), {taps, c.step, 2, true, {}},
                            by_precision));
  EXPECT_EQ(by_precision.frequency, out.frequency);
  EXPECT_EQ(by_precision.runs[0].wrapped, run.wrapped);
  EXPECT_EQ(by_precision.runs[0].wraps, run.wraps);
  for (std::size_t i = 0; i < out.frequency.size(); ++i) {
    EXPECT_EQ(by_precision.runs[0].peak[i], run.peak[i]) << out.frequency[i] << " Hz";
    if (!std::isnan(run.steady[i])) {
      EXPECT_NEAR(by_precision.runs[0].steady[i], run.steady[i], 1e-9 * (1.0 + run.steady[i]));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(datapaths, sweep_measurement, ::testing::ValuesIn(sweep_cases),
                         [](const ::testing::TestParamInfo<sweep_case>& p) {
                           return std::string(p.param.name);
                         });

class steady_measurement : public ::testing::TestWithParam<sweep_case> {};

// The steady state at chosen frequencies: the fit over the run's last samples, and the
// overflows of the accumulator and of the samples that the fit's outputs meet.
TEST_P(steady_measurement, GivesTheModelsFitAndOverflows) {
  const sweep_case& c = GetParam();
  const fixed_filter f = make_fixed_filter(taps_of(c.taps, c.amplitude, c.taps), c.path).value();
  steady_points out;
  out.frequency = {4.0, 999.5, 2000.25, 4000.0, 6123.0, 7996.0};
  ASSERT_TRUE(steady_amplitudes(f, 2, out).ok());
  ASSERT_EQ(out.steady.size(), out.frequency.size());
  for (std::size_t i = 0; i < out.frequency.size(); ++i) {
    const model_run m = run_model(f, unit_sine(out.frequency[i]));
    const std::size_t first = steady_fit_start(c.taps, m.output.size());
    const double expected = fitted(out.frequency[i], m.output, first);
    EXPECT_NEAR(out.steady[i], expected, 1e-9 * (1.0 + expected)) << out.frequency[i] << " Hz";
    // Outputs from the fit's first are read; the run may start from the block that holds it.
    const std::size_t early = output_block_floor(first);
    const bool wraps_in_fit = any_from(m.overflowed, first);
    const bool wraps_in_block = any_from(m.overflowed, early);
    EXPECT_TRUE(out.wrapped[i] ? wraps_in_block : !wraps_in_fit) << out.frequency[i] << " Hz";
    const bool samples_met = any_from(m.sample_overflowed, first - (c.taps - 1));
    const bool samples_any = any_from(m.sample_overflowed, 0);
    EXPECT_TRUE(out.sample_overflowed[i] ? samples_any : !samples_met) << out.frequency[i];
  }
}

INSTANTIATE_TEST_SUITE_P(datapaths, steady_measurement, ::testing::ValuesIn(sweep_cases),
                         [](const ::testing::TestParamInfo<sweep_case>& p) {
                           return std::string(p.param.name);
                         });

class waveform_measurement : public ::testing::TestWithParam<sweep_case> {};

TEST_P(waveform_measurement, GivesTheModelsOutputsAndOverflows) {
  const sweep_case& c = GetParam();
  const std::vector<float> taps = taps_of(c.taps, c.amplitude, c.taps + 1);
  const fixed_filter f = make_fixed_filter(taps, c.path).value();
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1.2, 1.2);
  std::vector<double> x(3000);
  for (double& v : x) v = u(rng);
  const std::vector<double> reference = run_double_model(taps, x).value();
  const model_run m = run_model(f, x);

  waveform_figures out;
  datapath_budget budget;
  ASSERT_TRUE(measure_waveform(f, x, reference, 2, waveform_parts::budget, out, &budget).ok());
  EXPECT_EQ(out.fixed_output, m.output);
  EXPECT_EQ(budget.sample_overflows, m.sample_overflows);
  EXPECT_EQ(budget.accumulator_overflows, m.accumulator_overflows);
  EXPECT_EQ(out.wraps, static_cast<std::int64_t>(m.accumulator_overflows));

  // On one thread and without the budget, the same run.
  waveform_figures engine;
  ASSERT_TRUE(measure_waveform(f, x, reference, 1, waveform_parts::none, engine).ok());
  EXPECT_EQ(engine.fixed_output, m.output);
  EXPECT_EQ(engine.wraps, static_cast<std::int64_t>(m.accumulator_overflows));
  EXPECT_EQ(engine.snr_db, out.snr_db);
}

INSTANTIATE_TEST_SUITE_P(datapaths, waveform_measurement, ::testing::ValuesIn(sweep_cases),
                         [](const ::testing::TestParamInfo<sweep_case>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace fixfir
