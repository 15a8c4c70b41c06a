// The run service's waveform: every block made once before any is filtered, each measured
// once with its own span of the clock, and its accumulators those of a wrapping sum written
// here, whatever the run's length and threads; a filter the 32-bit engine cannot run is
// refused.
#include "fixfir/drivers/waveform_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "datapath_cases.h"
#include "fast_test_support.h"
#include "fixfir/engine/fir_engine.h"

namespace fixfir {
namespace {

struct block_case {
  const char* name;
  std::size_t samples;
  unsigned threads;
  std::int32_t taps;
};

class WaveformRun : public ::testing::TestWithParam<block_case> {};

// A word for sample n that reaches both ends of the 32-bit range.
std::int32_t word_at(std::size_t n) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(n * 2654435761U));
}

TEST_P(WaveformRun, MakesEveryBlockFirstAndMeasuresTheWrappingSums) {
  const block_case& c = GetParam();
  const testing::owned_filter f = testing::random_filter(c.taps, 30, 1.0, 11);
  heap_array<double> clock;
  ASSERT_TRUE(allocate_zeroed(clock, c.samples));
  fill_sample_times(clock);
  std::vector<std::int32_t> acc(c.samples, 0);
  const auto made = std::make_unique<std::atomic<int>[]>(c.samples + 1);
  std::atomic<bool> wrong{false};
  std::atomic<bool> measuring{false};
  std::vector<std::size_t> order;
  waveform_request w;
  w.samples = c.samples;
  w.threads = c.threads;
  w.make = [&](const waveform_block& b) {
    if (measuring || !b.accumulators.empty() || b.begin != b.index * waveform_block_samples)
      wrong = true;
    for (std::size_t k = 0; k < b.words.size(); ++k) {
      if (b.time[k] != clock[b.begin + k]) wrong = true;
      b.words[k] = word_at(b.begin + k);
      made[b.begin + k].fetch_add(1);
    }
  };
  w.measure = [&](const waveform_block& b) {
    measuring = true;
    if (b.accumulators.size() != b.end - b.begin) wrong = true;
    for (std::size_t k = 0; k < b.accumulators.size(); ++k) acc[b.begin + k] = b.accumulators[k];
  };
  w.in_order = [&](std::size_t i) {
    order.push_back(i);
    return true;
  };
  ASSERT_TRUE(run_waveform(f.fixed, w).ok());
  EXPECT_FALSE(wrong.load());
  for (std::size_t n = 0; n < c.samples; ++n) ASSERT_EQ(made[n].load(), 1) << n;
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
  const std::vector<std::int32_t>& coefficients = f.fixed.coefficients;
  for (std::size_t n = 0; n < c.samples; ++n) {
    std::uint32_t sum = 0;
    for (std::size_t j = 0; j < coefficients.size() && j <= n; ++j)
      sum +=
          static_cast<std::uint32_t>(coefficients[j]) * static_cast<std::uint32_t>(word_at(n - j));
    ASSERT_EQ(acc[n], static_cast<std::int32_t>(sum)) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, WaveformRun,
                         ::testing::Values(block_case{"empty", 0, 2, 5},
                                           block_case{"one_sample", 1, 1, 5},
                                           block_case{"short_of_a_block", 1023, 2, 40},
                                           block_case{"one_block", 1024, 3, 40},
                                           block_case{"a_block_and_one", 1025, 2, 40},
                                           block_case{"taps_longer_than_a_block", 3000, 2, 1500},
                                           block_case{"many_blocks_one_thread", 5000, 1, 63}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WaveformRun, RefusesAFilterTheEngineCannotRun) {
  // 16-bit samples with 15 fractional bits: a unit sine's ±1 overflows the word.
  const auto made = make_fixed_filter(
      std::vector<float>{0.5f, 0.25f},
      path_of(16, 14, 16, 15, 40, rounding_mode::toward_zero, overflow_mode::saturate));
  ASSERT_TRUE(made);
  waveform_request w;
  w.samples = 100;
  w.make = [](const waveform_block&) {};
  w.measure = [](const waveform_block&) {};
  const outcome refused = run_waveform(made.value(), w);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.failure().kind, error_kind::bad_input);
}

}  // namespace
}  // namespace fixfir
