#include "fixfir/drivers/unit_sine_sweep.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/engine/parallel_chunks.h"
#include "unit_sine_lanes.h"

namespace fixfir {
namespace {

struct order_case {
  const char* name;
  std::size_t frequencies;
  std::size_t per_chunk;
  unsigned threads;
  bool ordered;
};

class UnitSineSweep : public ::testing::TestWithParam<order_case> {};

// Each frequency is measured once, with its own frequency, on a worker below the thread
// count; when asked, in_order sees every index once, rising, only after it was measured.
TEST_P(UnitSineSweep, MeasuresEachFrequencyOnceAndReportsInOrder) {
  const order_case& c = GetParam();
  std::vector<double> frequencies(c.frequencies);
  for (std::size_t i = 0; i < frequencies.size(); ++i) frequencies[i] = 4.0 + 3.0 * double(i);
  const auto measured = std::make_unique<std::atomic<int>[]>(c.frequencies + 1);
  std::atomic<bool> wrong{false};
  std::vector<std::size_t> order;
  unit_sine_sweep sweep;
  sweep.frequencies = frequencies;
  sweep.threads = c.threads;
  sweep.per_chunk = c.per_chunk;
  if (c.ordered) {
    sweep.in_order = [&](std::size_t i) {
      if (measured[i].load() != 1) wrong = true;
      order.push_back(i);
      return true;
    };
  }
  const outcome done = sweep_unit_sines(sweep, [&](const swept_sine& s) {
    if (s.frequency != frequencies[s.index] || s.worker >= c.threads) wrong = true;
    measured[s.index].fetch_add(1);
  });
  ASSERT_TRUE(done.ok());
  EXPECT_FALSE(wrong.load());
  for (std::size_t i = 0; i < c.frequencies; ++i) EXPECT_EQ(measured[i].load(), 1) << i;
  std::vector<std::size_t> rising(c.ordered ? c.frequencies : 0);
  for (std::size_t i = 0; i < rising.size(); ++i) rising[i] = i;
  EXPECT_EQ(order, rising);
}

INSTANTIATE_TEST_SUITE_P(Table, UnitSineSweep,
                         ::testing::Values(order_case{"none", 0, 8, 2, true},
                                           order_case{"one_thread_ordered", 37, 8, 1, true},
                                           order_case{"ragged_last_chunk_ordered", 37, 8, 3, true},
                                           order_case{"one_per_chunk_ordered", 20, 1, 4, true},
                                           order_case{"chunk_of_zero_taken_as_one", 9, 0, 2, true},
                                           order_case{"chunk_larger_than_any_count", 9, SIZE_MAX, 2,
                                                      true},
                                           order_case{"more_threads_than_chunks", 5, 8, 4, false},
                                           order_case{"unordered", 200, 3, 4, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// A run over part of the window gives the whole run's accumulators there.
TEST(RunUnitSine, WindowGivesTheWholeRunsOutputsFromItsStart) {
  const testing::owned_filter f = testing::random_filter(40, 15, 1.0, 21);
  fir_workspace ws;
  ASSERT_TRUE(workspace_init(ws, f.filter, static_cast<std::size_t>(SWEEP_SAMPLES), 2).ok());
  const fir_lane whole = run_unit_sine(ws, 0, 1234.0);
  for (const sine_window w : {sine_window{0, 3200}, sine_window{3200 - 39, 3200}}) {
    const fir_lane part = run_unit_sine(ws, 1, 1234.0, w);
    for (std::size_t n = w.first_output; n < ws.samples; ++n)
      ASSERT_EQ(part.accumulators[n], whole.accumulators[n]) << w.first_sample << " " << n;
  }
}

// Samples of a larger scale, shifted toward zero, are the smaller scale's own: the run from
// them equals the run from fresh sines, samples and accumulators, at every power-of-two
// scale pair, and over a window.
TEST(RunRescaledSine, EqualsTheRunFromFreshSinesAtTheSmallerScale) {
  struct rescale_case {
    std::int32_t low;
    std::int32_t high;
    double frequency;
    sine_window window;
  };
  for (const rescale_case c : {rescale_case{14, 15, 1234.0, {}}, rescale_case{0, 30, 7.0, {}},
                               rescale_case{3, 17, 7999.0, {}}, rescale_case{20, 20, 4001.0, {}},
                               rescale_case{10, 29, 333.0, {3200 - 39, 3200}}}) {
    const testing::owned_filter low = testing::random_filter(40, c.low, 1.0, 5);
    const testing::owned_filter high = testing::random_filter(40, c.high, 1.0, 6);
    fir_workspace low_ws;
    fir_workspace high_ws;
    ASSERT_TRUE(
        workspace_init(low_ws, low.filter, static_cast<std::size_t>(SWEEP_SAMPLES), 2).ok());
    ASSERT_TRUE(
        workspace_init(high_ws, high.filter, static_cast<std::size_t>(SWEEP_SAMPLES), 1).ok());
    const fir_lane fresh = run_unit_sine(low_ws, 0, c.frequency, c.window);
    const fir_lane source = run_unit_sine(high_ws, 0, c.frequency);
    const fir_lane shifted = run_rescaled_sine(low_ws, 1, source.quantized,
                                               static_cast<unsigned>(c.high - c.low), c.window);
    for (std::size_t n = c.window.first_sample; n < low_ws.samples; ++n)
      ASSERT_EQ(shifted.quantized[n], fresh.quantized[n]) << c.low << " " << c.high << " " << n;
    for (std::size_t n = c.window.first_output; n < low_ws.samples; ++n)
      ASSERT_EQ(shifted.accumulators[n], fresh.accumulators[n]) << c.low << " " << n;
  }
}

TEST(SweepUnitSines, StopsWhenToldAndSaysSo) {
  const std::vector<double> frequencies(50, 100.0);
  unit_sine_sweep sweep;
  sweep.frequencies = frequencies;
  sweep.threads = 2;
  std::size_t last = 0;
  sweep.in_order = [&](std::size_t i) {
    last = i;
    return i < 10;
  };
  const outcome stopped = sweep_unit_sines(sweep, [](const swept_sine&) {});
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.failure().kind, error_kind::interrupted);
  EXPECT_EQ(last, 10U);

  sweep.in_order = nullptr;
  const keep_going_check no = [] { return false; };
  const keep_going_guard guard(no);
  const outcome abandoned = sweep_unit_sines(sweep, [](const swept_sine&) {});
  ASSERT_FALSE(abandoned.ok());
  EXPECT_EQ(abandoned.failure().kind, error_kind::interrupted);
}

}  // namespace
}  // namespace fixfir
