#include "unit_sine_sweep.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fast_test_support.h"
#include "parallel_chunks.h"

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
    if (s.frequency != frequencies[s.index] || s.worker >= c.threads || s.lane.accumulators)
      wrong = true;
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
  ASSERT_TRUE(sweep_workspace_init(ws, f.filter, 2));
  const fir_lane whole = run_unit_sine(ws, 0, 1234.0);
  for (const sine_window w : {sine_window{0, 3200}, sine_window{3200 - 39, 3200}}) {
    const fir_lane part = run_unit_sine(ws, 1, 1234.0, w);
    for (std::size_t n = w.first_output; n < ws.samples; ++n)
      ASSERT_EQ(part.accumulators[n], whole.accumulators[n]) << w.first_sample << " " << n;
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
