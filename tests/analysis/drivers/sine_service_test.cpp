// The run service: which kernel a datapath takes, and that either kernel's unit-sine run,
// whole or over a window, gives the accumulators of a plain 128-bit model of the datapath.
#include "fixfir/drivers/sine_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "datapath_cases.h"
#include "fast_test_support.h"
#include "fixfir/common/analysis_constants.h"

namespace fixfir {
namespace {

__extension__ using i128 = __int128;
constexpr auto zero = rounding_mode::toward_zero;
constexpr auto wrap = overflow_mode::wrap;
constexpr auto sat = overflow_mode::saturate;

// v in `bits` bits: its low bits (wrap) or clamped (saturate); `over` counts the misfits.
i128 fit(i128 v, int bits, overflow_mode o, std::size_t& over) {
  const i128 hi = (i128{1} << (bits - 1)) - 1;
  if (v >= -hi - 1 && v <= hi) return v;
  ++over;
  if (o == sat) return v > hi ? hi : -hi - 1;
  const i128 m = i128{1} << bits;
  const i128 r = ((v % m) + m) % m;
  return r > hi ? r - m : r;
}

struct model_run {
  std::vector<i128> acc;
  std::size_t sample_overflows = 0;
  std::size_t accumulator_overflows = 0;
};

// A unit sine at `frequency` from rest through `f`, one product at a time; the sine on the
// sweep's clock, t accumulated a sample interval at a time.
model_run model(const fixed_filter& f, double frequency, std::size_t samples) {
  model_run m;
  std::vector<i128> s;
  double t = 0.0;
  for (std::size_t n = 0; n < samples; ++n, t += SAMPLE_INTERVAL) {
    const double x = std::ldexp(std::sin((frequency * t) * TWO_PI), f.path.sample.fraction_bits);
    const double r = f.path.sample.rounding == zero                     ? std::trunc(x)
                     : f.path.sample.rounding == rounding_mode::nearest ? std::round(x)
                                                                        : std::floor(x);
    s.push_back(
        fit(static_cast<i128>(r), f.path.sample.bits, f.path.sample.overflow, m.sample_overflows));
  }
  for (std::size_t n = 0; n < samples; ++n) {
    i128 sum = 0;
    for (std::size_t j = 0; j < f.coefficients.size() && j <= n; ++j)
      sum += i128{f.coefficients[j]} * s[n - j];
    m.acc.push_back(
        fit(sum, f.path.accumulator_bits, f.path.accumulator_overflow, m.accumulator_overflows));
  }
  return m;
}

struct service_case {
  const char* name;
  datapath path;
  std::size_t taps;
  double amplitude;
  run_kernel kernel;
};

const service_case service_cases[] = {
    {"seed_wraps", precision_datapath(30), 7, 0.9, run_kernel::narrow},
    {"small_sums", path_of(12, 10, 16, 14, 32, zero, sat), 9, 0.1, run_kernel::narrow},
    // The sums may need 32 bits, where the engine's -2^31 would stand for 2^31.
    {"sums_need_32_bits", path_of(16, 15, 16, 14, 40, zero, sat), 9, 0.9, run_kernel::exact},
    {"sine_reaches_the_word", path_of(12, 10, 16, 15, 32, zero, sat), 9, 0.1, run_kernel::exact},
    {"rounded_samples", path_of(12, 10, 16, 14, 32, rounding_mode::nearest, sat), 9, 0.1,
     run_kernel::exact},
    {"narrow_accumulator", path_of(16, 15, 12, 11, 20, rounding_mode::floor, wrap), 13, 0.9,
     run_kernel::exact},
};

class sine_service : public ::testing::TestWithParam<service_case> {};

TEST_P(sine_service, RunsTheModelOnTheKernelItsDatapathAllows) {
  const service_case& c = GetParam();
  const std::vector<float> taps =
      testing::random_taps(static_cast<std::int32_t>(c.taps), c.amplitude, 5);
  const fixed_filter f = make_fixed_filter(taps, c.path).value();
  ASSERT_EQ(kernel_for(f), c.kernel);
  constexpr std::size_t samples = 700;
  sine_runner r;
  ASSERT_TRUE(sine_runner_init(r, f, samples, 2).ok());
  const sine_window windows[] = {{}, {320 - (c.taps - 1), 320}};
  for (const double frequency : {4.0, 1999.5, 4000.0, 7777.0}) {
    const model_run m = model(f, frequency, samples);
    for (const sine_window& w : windows) {
      const sine_run run = run_sine(r, 1, frequency, w).value();
      ASSERT_EQ(run.kernel, c.kernel);
      i128 peak = 0;
      for (std::size_t n = w.first_output; n < samples; ++n) {
        const std::int64_t got =
            c.kernel == run_kernel::narrow ? narrow_accumulators(run, samples)[n] : run.exact[n];
        // The engine's sums wrap modulo 2^32: the model's are within 32 bits there.
        ASSERT_EQ(got, static_cast<std::int64_t>(m.acc[n])) << frequency << " Hz, output " << n;
        peak = std::max(peak, m.acc[n] < 0 ? -m.acc[n] : m.acc[n]);
      }
      if (w.first_output == 0) {
        EXPECT_EQ(run_peak(run, samples), static_cast<std::uint64_t>(peak)) << frequency;
        if (c.kernel == run_kernel::exact) {
          EXPECT_EQ(run.sample_overflows, m.sample_overflows) << frequency;
          EXPECT_EQ(run.accumulator_overflows, m.accumulator_overflows) << frequency;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(datapaths, sine_service, ::testing::ValuesIn(service_cases),
                         [](const ::testing::TestParamInfo<service_case>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace fixfir
