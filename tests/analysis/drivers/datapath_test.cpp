// The datapath's word conversions, and run_datapath against a brute-force integer model.
#include "fixfir/coefficients/datapath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/datapath_stream.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {
namespace {

__extension__ using i128 = __int128;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr auto zero = rounding_mode::toward_zero;
constexpr auto nearest = rounding_mode::nearest;
constexpr auto floor_ = rounding_mode::floor;
constexpr auto wrap = overflow_mode::wrap;
constexpr auto sat = overflow_mode::saturate;

using testing::mirrored_taps;
using testing::random_taps;
using testing::uniform_signal;

// ---- The model: its own quantizer and a plain double loop over n and j in 128 bits. ----

i128 pow2(int e) { return i128{1} << e; }

// v into `bits` bits: the low bits (wrap) or clamped (saturate).
i128 fit(i128 v, int bits, overflow_mode o, std::size_t& overflows) {
  const i128 lo = -pow2(bits - 1);
  const i128 hi = pow2(bits - 1) - 1;
  if (v >= lo && v <= hi) return v;
  ++overflows;
  if (o == sat) return v < 0 ? lo : hi;
  const i128 m = pow2(bits);
  i128 r = ((v % m) + m) % m;
  return r > hi ? r - m : r;
}

i128 model_word(double v, const word_format& w, std::size_t& overflows) {
  if (std::isnan(v)) return 0;
  double r = std::ldexp(v, w.fraction_bits);
  r = w.rounding == zero ? std::trunc(r) : w.rounding == nearest ? std::round(r) : std::floor(r);
  if (r >= 0x1p63 || r < -0x1p63) {  // past 64 bits: the low bits of -2^63 (datapath.h)
    ++overflows;
    if (w.overflow == sat) return r > 0 ? pow2(w.bits - 1) - 1 : -pow2(w.bits - 1);
    return w.bits == 64 ? -pow2(63) : 0;
  }
  return fit(static_cast<i128>(r), w.bits, w.overflow, overflows);
}

struct model_run {
  std::vector<i128> exact;  // the unreduced sums
  std::size_t sample_overflows = 0;
};

model_run model(const std::vector<std::int32_t>& c, const std::vector<double>& x,
                const word_format& sample) {
  model_run m;
  std::vector<i128> s;
  for (const double v : x) s.push_back(model_word(v, sample, m.sample_overflows));
  for (std::size_t n = 0; n < x.size(); ++n) {
    i128 sum = 0;
    for (std::size_t j = 0; j < c.size() && j <= n; ++j) sum += i128{c[j]} * s[n - j];
    m.exact.push_back(sum);
  }
  return m;
}

// The stream of `f` fed `x` in pieces of 1, 2, taps - 1, 37 and 200 samples in turn, read
// through a reader, gives `run`'s accumulators and counts; counting the samples alone, it
// gives the same accumulators by its fastest kernels.
void expect_streamed(const fixed_filter& f, const std::vector<double>& x, const datapath_run& run,
                     unsigned threads) {
  for (const overflow_counting counting :
       {overflow_counting::all, overflow_counting::samples_only}) {
    datapath_stream s = make_datapath_stream(f, counting).value();
    const std::size_t sizes[] = {1, 2, std::max<std::size_t>(f.coefficients.size(), 2) - 1, 37,
                                 200};
    std::vector<std::int64_t> got(x.size());
    datapath_stream_counts total;
    for (std::size_t at = 0, piece = 0; at < x.size(); ++piece) {
      const std::size_t n = std::min(sizes[piece % std::size(sizes)], x.size() - at);
      const double* from = x.data() + at;
      const sample_source source{n, nullptr, [from](std::size_t first, std::size_t m, double* out) {
                                   std::copy(from + first, from + first + m, out);
                                 }};
      const result<datapath_stream_counts> c =
          datapath_stream_filter(s, source, got.data() + at, threads);
      ASSERT_TRUE(c.ok());
      total.sample_overflows += c.value().sample_overflows;
      total.accumulator_overflows += c.value().accumulator_overflows;
      total.output_overflows += c.value().output_overflows;
      at += n;
    }
    EXPECT_EQ(got, f.path.output.bits != 0 ? run.output_words : run.accumulators);
    EXPECT_EQ(total.output_overflows, run.output_overflows);
    EXPECT_EQ(total.sample_overflows, run.sample_overflows);
    EXPECT_EQ(total.accumulator_overflows,
              counting == overflow_counting::all ? run.accumulator_overflows : 0);
  }
}

// run_datapath on `d` against the model, for each accumulator width in `widths`, and the
// stream of the same filter in pieces against run_datapath.
void expect_model(const std::vector<float>& taps, const std::vector<double>& x, datapath d,
                  std::initializer_list<std::int32_t> widths, unsigned threads = 2) {
  const fixed_filter f0 = make_fixed_filter(taps, d).value();
  for (std::size_t j = 0; j < taps.size(); ++j) {
    std::size_t ignored = 0;
    ASSERT_EQ(f0.coefficients[j], model_word(taps[j], d.coefficient, ignored)) << j;
  }
  const model_run m = model(f0.coefficients, x, d.sample);
  for (const std::int32_t a : widths) {
    for (const overflow_mode o : {wrap, sat}) {
      fixed_filter f = f0;
      f.path.accumulator_bits = a;
      f.path.accumulator_overflow = o;
      SCOPED_TRACE(datapath_words(f.path));
      const result<datapath_run> r = run_datapath(f, x, threads);
      ASSERT_TRUE(r.ok());
      const datapath_run& run = r.value();
      ASSERT_EQ(run.accumulators.size(), x.size());
      EXPECT_EQ(run.sample_overflows, m.sample_overflows);
      // A run read from its middle on gives the same accumulators there.
      const std::size_t from = x.size() / 2;
      const result<datapath_run> tail = run_datapath(f, x, threads, from);
      ASSERT_TRUE(tail.ok());
      for (std::size_t n = from; n < x.size(); ++n)
        ASSERT_EQ(tail.value().accumulators[n], run.accumulators[n]) << "from " << from;
      std::size_t overflows = 0;
      for (std::size_t n = 0; n < x.size(); ++n) {
        const i128 want = fit(m.exact[n], a, o, overflows);
        ASSERT_TRUE(run.accumulators[n] == want) << "n " << n << " a " << a;
        ASSERT_EQ(run.output[n],
                  std::ldexp(static_cast<double>(static_cast<std::int64_t>(want)),
                             -(d.coefficient.fraction_bits + d.sample.fraction_bits)));
      }
      EXPECT_EQ(run.accumulator_overflows, overflows);
      expect_streamed(f, x, run, threads);
    }
  }
}

// A unit sine of period 16 that reaches exactly +1 and -1.
std::vector<double> unit_sine(std::size_t count) {
  std::vector<double> x(count);
  for (std::size_t n = 0; n < count; ++n) {
    x[n] = n % 16 == 4 ? 1.0 : n % 16 == 12 ? -1.0 : std::sin(std::numbers::pi * double(n) / 8);
  }
  return x;
}

word_format word(std::int32_t bits, std::int32_t fraction, rounding_mode r, overflow_mode o) {
  return word_format{bits, fraction, r, o};
}

// ---- The grid: word widths × rounding × overflow, every accumulator width on each. ----

using grid = std::tuple<std::int32_t, std::int32_t, rounding_mode, overflow_mode>;
class DatapathRun : public ::testing::TestWithParam<grid> {};

TEST_P(DatapathRun, MatchesTheIntegerModel) {
  const auto [wc, wx, rounding, overflow] = GetParam();
  const std::vector<std::vector<float>> tap_sets = {
      random_taps(31, 0.6, 7), random_taps(300, 0.6, 8), mirrored_taps(65, 0.6, 6)};
  const std::vector<std::vector<double>> inputs = {uniform_signal(400, 1.0, 9), unit_sine(250)};
  for (const auto& taps : tap_sets) {
    datapath d;
    d.coefficient = word(wc, largest_fitting_fraction(taps, wc, rounding), rounding, overflow);
    // Samples of exactly ±1 at W - 1 fractional bits: +1 overflows its word.
    d.sample = word(wx, wx - 1, rounding, overflow);
    for (const auto& x : inputs) expect_model(taps, x, d, {8, 16, 32, 40, 64});
  }
}

INSTANTIATE_TEST_SUITE_P(Words, DatapathRun,
                         ::testing::Combine(::testing::Values(2, 8, 16, 18, 32),
                                            ::testing::Values(2, 12, 16, 24, 32),
                                            ::testing::Values(zero, nearest, floor_),
                                            ::testing::Values(wrap, sat)));

// ---- The corners the grid reaches only by chance. ----

TEST(DatapathRunCorners, MatchTheIntegerModel) {
  datapath widest;  // coefficients -2^31 and samples -2^31: each product 2^62
  widest.coefficient = word(32, 31, zero, wrap);
  widest.sample = word(32, 31, zero, wrap);
  const std::vector<float> minus_ones(100, -1.0f);
  expect_model(minus_ones, std::vector<double>(200, -1.0), widest, {64, 40});
  // Past the 64-bit bound only for the outputs that meet many of the largest samples.
  std::vector<double> mixed = uniform_signal(300, 1.0, 3);
  mixed[150] = -1.0;
  expect_model(random_taps(40, 0.6, 4), mixed, widest, {64, 32});

  datapath over;  // a tap of 1.0 at W - 1 fractional bits does not fit its word
  over.coefficient = word(12, 11, nearest, wrap);
  over.sample = word(8, 7, floor_, sat);
  const std::vector<float> with_one = {0.25f, 1.0f, -1.0f, 0.999f};
  expect_model(with_one, unit_sine(64), over, {8, 16});
  over.coefficient.overflow = sat;
  expect_model(with_one, unit_sine(64), over, {8, 16});
}

TEST(DatapathRunCorners, TheLargestSumsWrapAndSaturateAt64Bits) {
  datapath d;
  d.coefficient = word(32, 31, zero, wrap);
  d.sample = word(32, 31, zero, wrap);
  d.accumulator_bits = 64;
  fixed_filter f = make_fixed_filter(std::vector<float>(5, -1.0f), d).value();
  const std::vector<double> x(6, -1.0);
  // Output n sums min(n + 1, 5) products of 2^62.
  const std::int64_t wrapped[] = {INT64_C(1) << 62, INT64_MIN,       -(INT64_C(1) << 62), 0,
                                  INT64_C(1) << 62, INT64_C(1) << 62};
  datapath_run run = run_datapath(f, x, 1).value();
  EXPECT_EQ(run.accumulator_overflows, 5u);
  for (std::size_t n = 0; n < x.size(); ++n) EXPECT_EQ(run.accumulators[n], wrapped[n]) << n;
  f.path.accumulator_overflow = sat;
  run = run_datapath(f, x, 1).value();
  EXPECT_EQ(run.accumulators[0], INT64_C(1) << 62);
  for (std::size_t n = 1; n < x.size(); ++n) EXPECT_EQ(run.accumulators[n], INT64_MAX) << n;
}

// ---- The output stage: the stream's output words are the run's. ----

TEST(DatapathStreamOutput, GivesTheRunsOutputWords) {
  const std::vector<float> taps = mirrored_taps(45, 0.6, 12);
  const std::vector<double> x = uniform_signal(900, 1.0, 13);
  const output_stage stages[] = {
      {12, 14, output_rounding::convergent, overflow_mode::saturate},  // clamps the largest
      {12, 14, output_rounding::floor, overflow_mode::wrap},
      {20, 22, output_rounding::nearest, overflow_mode::wrap},
      {64, 40, output_rounding::toward_zero, overflow_mode::wrap},  // shifted left
  };
  std::size_t overflowed = 0;
  for (const output_stage& stage : stages) {
    for (const std::int32_t a : {24, 32, 64}) {
      datapath d;
      d.coefficient = word(16, largest_fitting_fraction(taps, 16, zero), zero, wrap);
      d.sample = word(16, 15, zero, wrap);
      d.accumulator_bits = a;
      d.output = stage;
      const fixed_filter f = make_fixed_filter(taps, d).value();
      SCOPED_TRACE(datapath_words(f.path) + ", output " + std::to_string(stage.bits));
      const datapath_run run = run_datapath(f, x, 2).value();
      ASSERT_EQ(run.output_words.size(), x.size());
      overflowed += run.output_overflows;
      expect_streamed(f, x, run, 2);
    }
  }
  EXPECT_GT(overflowed, 0U);  // some output words were clamped or wrapped
}

// ---- The seed datapath: the 32-bit engine's accumulators, on any thread count. ----

TEST(DatapathRunSeed, GivesThe32BitEnginesAccumulators) {
  std::vector<double> x = uniform_signal(5000, 1.0, 11);
  for (std::size_t n = 0; n < x.size(); n += 97) x[n] *= 3000.0;  // wraps at high precisions
  x[10] = nan;
  x[20] = 1e30;
  x[30] = -1.0;
  const std::pair<int, int> filters[] = {{1, 0}, {63, 15}, {254, 24}, {17, 30}, {40, 12}};
  for (const auto& [count, precision] : filters) {
    const std::vector<float> taps =
        count % 2 == 0 ? mirrored_taps(count, 0.6, 5) : random_taps(count, 0.6, 5);
    const fixed_filter f = make_fixed_filter(taps, precision_datapath(precision)).value();
    ASSERT_TRUE(is_precision_datapath_in_range(f.path));
    std::vector<std::int32_t> engine(x.size());
    ASSERT_TRUE(filter_signal(engine_filter(f), x.data(), x.size(), engine.data(), 2).ok());
    const datapath_run one = run_datapath(f, x, 1).value();
    const datapath_run three = run_datapath(f, x, 3).value();
    for (std::size_t n = 0; n < x.size(); ++n) {
      ASSERT_EQ(one.accumulators[n], engine[n]) << "precision " << precision << " n " << n;
    }
    EXPECT_EQ(one.accumulators, three.accumulators);
    EXPECT_EQ(one.accumulator_overflows, three.accumulator_overflows);
    EXPECT_EQ(one.sample_overflows, three.sample_overflows);
  }
}

TEST(DatapathRunSeed, StopsWhenAsked) {
  const fixed_filter f = make_fixed_filter(random_taps(31, 0.6, 1), precision_datapath(12)).value();
  const keep_going_check no = [] { return false; };
  const keep_going_guard guard(no);
  const std::vector<double> x = uniform_signal(10000, 1.0, 2);
  const result<datapath_run> r = run_datapath(f, x, 2);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.failure().kind, error_kind::interrupted);
  // A stopped stream is left at rest, as it was.
  datapath_stream s = make_datapath_stream(f).value();
  std::vector<std::int64_t> out(x.size());
  const auto streamed =
      datapath_stream_filter(s, contiguous_samples(x.data(), x.size()), out.data(), 2);
  ASSERT_FALSE(streamed.ok());
  EXPECT_EQ(streamed.failure().kind, error_kind::interrupted);
  EXPECT_EQ(s.history, std::vector<std::int32_t>(30, 0));
}

// ---- The conversions of datapath.h. ----

struct quantize_case {
  double v;
  word_format w;
  std::int64_t value;
  bool overflowed;
};

TEST(QuantizeWord, RoundsAndFitsAsDocumented) {
  const quantize_case cases[] = {
      {2.5, word(8, 0, nearest, wrap), 3, false},  // ties away from zero
      {-2.5, word(8, 0, nearest, wrap), -3, false},
      {-0.5, word(8, 0, nearest, wrap), -1, false},
      {-2.1, word(8, 0, floor_, wrap), -3, false},
      {-2.1, word(8, 0, zero, wrap), -2, false},
      {-0.25, word(8, 1, floor_, wrap), -1, false},
      {1.0, word(16, 15, zero, wrap), -32768, true},  // +1 at W - 1 fractional bits
      {1.0, word(16, 15, zero, sat), 32767, true},
      {-1.0, word(16, 15, zero, wrap), -32768, false},
      {1.0, word(2, 1, nearest, wrap), -2, true},
      {0.75, word(2, 1, nearest, sat), 1, true},   // rounds to 2
      {-1.25, word(2, 1, floor_, sat), -2, true},  // floors to -3
      {40000.0, word(16, 0, zero, wrap), -25536, true},
      {1000.0, word(8, -3, zero, wrap), 125, false},
      {1004.0, word(8, -3, nearest, wrap), 126, false},
      {1.0, word(64, 63, zero, wrap), INT64_MIN, true},  // 2^63 is past a 64-bit word
      {1.0, word(64, 63, zero, sat), INT64_MAX, true},
      {-1.0, word(64, 63, zero, sat), INT64_MIN, false},
      {0.75, word(64, 63, zero, wrap), INT64_C(3) << 61, false},
      {1e30, word(16, 0, zero, wrap), 0, true},
      {-1e30, word(16, 0, zero, sat), -32768, true},
      {nan, word(16, 0, zero, sat), 0, false},
  };
  for (const quantize_case& c : cases) {
    const word_value got = quantize_word(c.v, c.w);
    std::size_t overflows = 0;
    const i128 model = model_word(c.v, c.w, overflows);
    EXPECT_EQ(got.value, c.value) << c.v << " in " << c.w.bits << "." << c.w.fraction_bits;
    EXPECT_EQ(got.overflowed, c.overflowed) << c.v;
    EXPECT_TRUE(model == c.value && (overflows > 0) == c.overflowed) << c.v;  // the model too
  }
}

}  // namespace
}  // namespace fixfir
