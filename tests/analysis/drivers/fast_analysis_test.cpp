// The parallel analyses against the straightforward ones: the generated text must be the
// same bytes, whatever the filter, the step or the number of threads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "fast_test_support.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/drivers/waveform_run.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/reference/fir_reference.h"

namespace fixfir {
namespace {

using testing::low_pass_filter;
using testing::owned_filter;
using testing::random_filter;

std::string reference_sweep(const quantized_filter& filter, std::int32_t step) {
  fir_state state;
  EXPECT_TRUE(fir_init(state, filter));
  std::string text;
  append_sweep_lines(state, step, text);
  return text;
}

std::string reference_waves(const quantized_filter& filter, const frequency_settings& settings) {
  fir_state state;
  EXPECT_TRUE(fir_init(state, filter));
  std::string text;
  append_waveform_lines(state, settings, text);
  return text;
}

struct filter_case {
  const char* name;
  owned_filter (*make)();
};

// A shipped-style low-pass, an overflowing random filter, degenerate sizes, scales of
// -2^31 and 0 (non-finite outputs), outputs in the millions on exact halves of the sixth
// decimal (acc ÷ 256, rounded away from zero), and more taps than a sweep has samples.
const filter_case filters[] = {
    {"low_pass_63_p15", [] { return low_pass_filter(63, 15); }},
    {"random_255_p20_overflowing", [] { return random_filter(255, 20, 8.0, 1); }},
    {"mirrored_64_p30_overflowing", [] { return testing::mirrored_filter(64, 30, 2.0, 10); }},
    {"single_tap_p30", [] { return random_filter(1, 30, 1.5, 2); }},
    {"no_taps", [] { return random_filter(0, 15, 1.0, 3); }},
    {"p31", [] { return random_filter(33, 31, 1.0, 4); }},
    {"p32_zero_scale", [] { return random_filter(17, 32, 1.0, 5); }},
    {"p4_halves_in_the_millions", [] { return random_filter(31, 4, 1e6, 11); }},
    {"taps_beyond_sweep_length", [] { return random_filter(4100, 12, 0.01, 6); }},
};

class SweepText : public ::testing::TestWithParam<std::tuple<filter_case, std::int32_t, unsigned>> {
};

TEST_P(SweepText, MatchesTheReferenceByteForByte) {
  const auto [kind, step, threads] = GetParam();
  const owned_filter owned = kind.make();
  std::string fast;
  ASSERT_TRUE(testing::fast_sweep_text(owned.fixed, step, threads, fast));
  EXPECT_EQ(fast, reference_sweep(owned.filter, step));
}

INSTANTIATE_TEST_SUITE_P(FiltersStepsThreads, SweepText,
                         ::testing::Combine(::testing::ValuesIn(filters),
                                            ::testing::Values(499, 2000, 8000),
                                            ::testing::Values(1u, 2u, 3u)),
                         [](const auto& test) {
                           return std::string(std::get<0>(test.param).name) + "_step" +
                                  std::to_string(std::get<1>(test.param)) + "_threads" +
                                  std::to_string(std::get<2>(test.param));
                         });

// Many frequencies in small chunks across threads: the lines stay in rising order.
TEST(SweepText, StepOneOnAShortFilterMatchesTheReference) {
  const owned_filter owned = random_filter(5, 15, 1.0, 8);
  std::string fast;
  ASSERT_TRUE(testing::fast_sweep_text(owned.fixed, 1, 4, fast));
  EXPECT_EQ(fast, reference_sweep(owned.filter, 1));
}

TEST(SweepPeaks, ReportEveryFrequencyOnceInRisingOrder) {
  const owned_filter owned = random_filter(3, 15, 1.0, 9);
  std::vector<std::int32_t> seen;
  ASSERT_TRUE(sweep_peaks(owned.fixed, 7, 3, [&](std::int32_t frequency, std::uint64_t) {
                seen.push_back(frequency);
                return true;
              }).ok());
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(sweep_frequency_count(7)));
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i], SWEEP_FIRST_FREQUENCY + static_cast<std::int32_t>(i) * 7);
  }
}

// Each driver stopped partway says why: a keep-going check that answers false, or a
// `line`/`write` that refuses, is an interruption, never memory running out.
struct stop_case {
  const char* name;
  bool check_refuses;  // otherwise the driver's own callback refuses
  outcome (*run)(const fixed_filter& filter);
};

const frequency_settings stop_settings{100, 100, 1000};

// A waveform run of silence, whose `in_order` answers `go`.
outcome silent_waveform(const fixed_filter& filter, bool go) {
  waveform_request w;
  w.samples = 5000;
  w.threads = 2;
  w.make = [](const waveform_block&) {};
  w.measure = [](const waveform_block&) {};
  w.in_order = [go](std::size_t) { return go; };
  return run_waveform(filter, w);
}

const stop_case stop_cases[] = {
    {"sweep_stopped_by_the_check", true,
     [](const fixed_filter& f) {
       return sweep_peaks(f, 7, 2, [](std::int32_t, std::uint64_t) { return true; });
     }},
    {"sweep_stopped_by_its_line", false,
     [](const fixed_filter& f) {
       return sweep_peaks(f, 7, 2, [](std::int32_t, std::uint64_t) { return false; });
     }},
    {"waveform_stopped_by_the_check", true,
     [](const fixed_filter& f) { return silent_waveform(f, true); }},
    {"waveform_stopped_by_its_measurement", false,
     [](const fixed_filter& f) { return silent_waveform(f, false); }},
    {"waves_text_stopped_by_the_check", true,
     [](const fixed_filter& f) {
       return waveform_text(f, stop_settings, 2, [](std::string_view) { return true; });
     }},
    {"waves_text_stopped_by_its_writer", false,
     [](const fixed_filter& f) {
       return waveform_text(f, stop_settings, 2, [](std::string_view) { return false; });
     }},
    {"waveform_inputs_stopped_by_the_check", true,
     [](const fixed_filter&) {
       std::vector<double> times(WAVEFORM_SAMPLES, 0.0);
       std::vector<double> x(times.size());
       return exact_waveform_inputs(stop_settings, times.data(), x.data(), x.size(), 2);
     }},
};

class StoppedDriver : public ::testing::TestWithParam<stop_case> {};

TEST_P(StoppedDriver, SaysItWasInterrupted) {
  const stop_case c = GetParam();
  const owned_filter owned = random_filter(40, 15, 1.0, 5);
  const keep_going_check refuse = [] { return false; };
  std::optional<keep_going_guard> guard;
  if (c.check_refuses) guard.emplace(refuse);
  const outcome stopped = c.run(owned.fixed);
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.failure().kind, error_kind::interrupted);
  EXPECT_EQ(stopped.failure().message, "interrupted");
}

INSTANTIATE_TEST_SUITE_P(Cases, StoppedDriver, ::testing::ValuesIn(stop_cases),
                         [](const auto& test) { return std::string(test.param.name); });

struct waves_case {
  const char* name;
  frequency_settings settings;
};

// Ten tones, a single tone (negative span), no tones at all, descending tones, and a
// tone count that wraps past 2^31 into "no tones".
const waves_case waves_cases[] = {
    {"ten_tones", {100, 100, 1000}},
    {"one_tone", {100, 10, 95}},
    {"no_tones", {1000, 100, 100}},
    {"descending", {1000, -100, 100}},
    {"wrapping_count", {-2147483647, 1, 2147483647}},
};

class WavesText : public ::testing::TestWithParam<std::tuple<filter_case, waves_case, unsigned>> {};

TEST_P(WavesText, MatchesTheReferenceByteForByte) {
  const auto [kind, waves, threads] = GetParam();
  const owned_filter owned = kind.make();
  std::string fast;
  ASSERT_TRUE(testing::fast_waves_text(owned.fixed, waves.settings, threads, fast));
  EXPECT_EQ(fast, reference_waves(owned.filter, waves.settings));
}

INSTANTIATE_TEST_SUITE_P(
    FiltersSettingsThreads, WavesText,
    // Not the longest filter: its reference run takes too long.
    ::testing::Combine(::testing::ValuesIn(std::begin(filters), std::end(filters) - 1),
                       ::testing::ValuesIn(waves_cases), ::testing::Values(1u, 2u)),
    [](const auto& test) {
      return std::string(std::get<0>(test.param).name) + "_" + std::get<1>(test.param).name +
             "_threads" + std::to_string(std::get<2>(test.param));
    });

class ChunksInOrder : public ::testing::TestWithParam<std::tuple<std::size_t, unsigned>> {};

TEST_P(ChunksInOrder, EveryChunkRunsOnceAndIsDoneInOrder) {
  // Plain variables: lambdas cannot capture structured bindings everywhere.
  const std::size_t chunks = std::get<0>(GetParam());
  const unsigned threads = std::get<1>(GetParam());
  std::vector<std::atomic<int>> runs(chunks);
  std::vector<std::size_t> done;
  std::atomic<bool> worker_in_range{true};
  const bool finished = run_chunks_in_order(
      chunks, threads,
      [&](unsigned worker, std::size_t chunk) {
        if (worker >= std::max(threads, 1u)) worker_in_range = false;
        runs[chunk].fetch_add(1);
      },
      [&](std::size_t chunk) {
        // A chunk is only reported after it has run.
        EXPECT_EQ(runs[chunk].load(), 1);
        done.push_back(chunk);
        return true;
      });
  EXPECT_TRUE(finished);
  EXPECT_TRUE(worker_in_range);
  ASSERT_EQ(done.size(), chunks);
  for (std::size_t i = 0; i < chunks; ++i) {
    EXPECT_EQ(done[i], i);
    EXPECT_EQ(runs[i].load(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(CountsAndThreads, ChunksInOrder,
                         ::testing::Combine(::testing::Values(0u, 1u, 2u, 37u, 500u),
                                            ::testing::Values(0u, 1u, 2u, 5u)));

TEST(ChunksInOrder, ARefusalWhileReportingStopsTheRun) {
  std::atomic<int> runs{0};
  std::size_t reported = 0;
  EXPECT_FALSE(run_chunks_in_order(
      1000, 3,
      [&](unsigned, std::size_t chunk) {
        // Later chunks take a while, so the run is far from over at chunk 3.
        if (chunk > 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        runs.fetch_add(1);
      },
      [&](std::size_t chunk) {
        ++reported;
        return chunk != 3;  // the disk filled up
      }));
  EXPECT_EQ(reported, 4u);
  EXPECT_LT(runs.load(), 1000);
}

// What run_beside returns for each pair of results, and that a failed `work` stops a `side`
// that would otherwise wait for keep_going() to turn false, and an installed check that
// turns false does too.
struct beside_case {
  const char* name;
  bool work_result;
  bool side_waits;     // side runs until keep_going() is false, then fails
  bool check_refuses;  // the calling thread's installed check answers false
  bool expected;
};

class RunBeside : public ::testing::TestWithParam<beside_case> {};

TEST_P(RunBeside, ReturnsBothResultsAndStopsTheSide) {
  const beside_case c = GetParam();
  std::atomic<bool> side_ran{false};
  const keep_going_check refuse = [&] { return !c.check_refuses; };
  std::optional<keep_going_guard> guard;
  if (c.check_refuses) guard.emplace(refuse);
  const bool both = run_beside(
      [&] {
        side_ran = true;
        if (!c.side_waits) return true;
        while (keep_going()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return false;
      },
      [&] { return c.work_result; });
  EXPECT_EQ(both, c.expected);
  EXPECT_TRUE(side_ran || !c.work_result);
}

const beside_case beside_cases[] = {
    {"both_succeed", true, false, false, true},
    {"work_fails", false, false, false, false},
    {"work_fails_and_stops_a_waiting_side", false, true, false, false},
    {"the_check_stops_a_waiting_side", true, true, true, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, RunBeside, ::testing::ValuesIn(beside_cases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace fixfir
