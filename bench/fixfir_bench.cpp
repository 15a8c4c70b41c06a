// Throughput of the straightforward and the fast fixed-point filter, side by side.
//
// Every fast benchmark "family/fast…/size" has a straightforward twin
// "family/straightforward/size"; after the run a summary prints both times and their ratio.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fast_kernel.h"
#include "fir_engine.h"
#include "fir_reference.h"
#include "frequency_sweep.h"
#include "multitone_waveform.h"
#include "parallel_chunks.h"
#include "quantizer.h"

// The filters come from the tests' support, so that the benchmark measures the same kind.
#include "fast_test_support.h"

namespace {

using namespace fixfir;
using fixfir::testing::low_pass_filter;
using fixfir::testing::owned_filter;

constexpr std::int32_t precision = 15;
constexpr std::size_t block_samples = 4096;

std::vector<double> noise(std::size_t n) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> out(n);
  for (double& x : out) x = value(rng);
  return out;
}

void fir_step_straightforward(benchmark::State& state, std::int32_t taps) {
  const owned_filter f = low_pass_filter(taps, precision);
  const std::vector<double> x = noise(block_samples);
  fir_state fir;
  if (!fir_init(fir, f.filter)) state.SkipWithError("out of memory");
  for (auto _ : state) {
    for (const double v : x) benchmark::DoNotOptimize(fir_step(fir, v));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(block_samples));
}

// The block kernel the analyses use: quantize a block of samples once, then filter it
// from rest in one pass.
void fir_block_fast(benchmark::State& state, std::int32_t taps) {
  const owned_filter f = low_pass_filter(taps, precision);
  const std::vector<double> x = noise(block_samples);
  const auto count = static_cast<std::size_t>(taps);
  std::vector<std::uint32_t> reversed(count);
  reverse_coefficients(f.filter.coefficients, taps, reversed.data());
  std::vector<std::uint32_t> signal(count - 1 + block_samples, 0u);
  std::vector<std::uint32_t> acc(block_samples);
  const auto scale = static_cast<double>(f.filter.scale);
  for (auto _ : state) {
    for (std::size_t n = 0; n < block_samples; ++n) {
      signal[count - 1 + n] = static_cast<std::uint32_t>(quantize_sample(scale, x[n]));
    }
    wrapping_convolve(reversed.data(), count, signal.data(), 0, block_samples, acc.data());
    benchmark::DoNotOptimize(acc.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(block_samples));
}

void sweep_straightforward(benchmark::State& state, std::int32_t taps) {
  const owned_filter f = low_pass_filter(taps, precision);
  fir_state fir;
  if (!fir_init(fir, f.filter)) state.SkipWithError("out of memory");
  for (auto _ : state) {
    std::string text;
    append_sweep_lines(fir, 1, text);
    benchmark::DoNotOptimize(text.data());
  }
}

// CPU time of every thread of the process, in seconds.
double process_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double wall_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Records how many cores the run actually had: CPU time of all threads over wall time.
// Below the thread count, other processes were using the machine.
struct core_meter {
  double cpu = process_cpu_seconds();
  double wall = wall_seconds();
  void report(benchmark::State& state) const {
    state.counters["cores_used"] = (process_cpu_seconds() - cpu) / (wall_seconds() - wall);
  }
};

void sweep_fast(benchmark::State& state, std::int32_t taps, unsigned threads) {
  const owned_filter f = low_pass_filter(taps, precision);
  const core_meter meter;
  for (auto _ : state) {
    std::string text;
    if (!fixfir::testing::fast_sweep_text(f.filter, 1, threads, text))
      state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(text.data());
  }
  meter.report(state);
}

// The sweep's floor: its 7997 × 4000 double sines on one thread, nothing else.
void sweep_sines_only(benchmark::State& state) {
  for (auto _ : state) {
    double sum = 0.0;
    for (std::int32_t d = SWEEP_FIRST_FREQUENCY; d <= SWEEP_LAST_FREQUENCY; ++d) {
      double t = 0.0;
      for (std::int32_t n = 0; n < SWEEP_SAMPLES; ++n) {
        sum += std::sin((static_cast<double>(d) * t) * TWO_PI);
        t = t + SAMPLE_INTERVAL;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
}

frequency_settings tones(std::int32_t count) {
  // `count` tones 1 Hz apart from 100 Hz.
  return frequency_settings{100, 1, 100 + count - 1};
}

void waveform_straightforward(benchmark::State& state, std::int32_t tone_total) {
  const owned_filter f = low_pass_filter(63, precision);
  fir_state fir;
  if (!fir_init(fir, f.filter)) state.SkipWithError("out of memory");
  for (auto _ : state) {
    std::string text;
    append_waveform_lines(fir, tones(tone_total), text);
    benchmark::DoNotOptimize(text.data());
  }
}

void waveform_fast(benchmark::State& state, std::int32_t tone_total, unsigned threads) {
  const owned_filter f = low_pass_filter(63, precision);
  const core_meter meter;
  for (auto _ : state) {
    std::string text;
    if (!fixfir::testing::fast_waves_text(f.filter, tones(tone_total), threads, text)) {
      state.SkipWithError("out of memory");
    }
    benchmark::DoNotOptimize(text.data());
  }
  meter.report(state);
}

// Console output as usual, plus each run's real time per iteration, for the summary.
class recording_reporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  std::map<std::string, double> cores;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double per_iteration = run.real_accumulated_time / static_cast<double>(run.iterations);
      seconds[run.run_name.function_name] = per_iteration;  // the registered name
      const auto used = run.counters.find("cores_used");
      if (used != run.counters.end()) cores[run.run_name.function_name] = used->second.value;
    }
  }
};

// "family/variant/size" → "family/straightforward/size".
std::string straightforward_twin(const std::string& name) {
  const std::size_t first = name.find('/');
  const std::size_t second = name.find('/', first + 1);
  if (first == std::string::npos || second == std::string::npos) return {};
  return name.substr(0, first + 1) + "straightforward" + name.substr(second);
}

void print_summary(const std::map<std::string, double>& seconds,
                   const std::map<std::string, double>& cores) {
  std::printf("\n%-36s %16s %16s %9s %11s\n", "benchmark", "straightforward", "fast", "ratio",
              "cores used");
  for (const auto& [name, fast] : seconds) {
    if (name.find("/fast") == std::string::npos) continue;
    const auto reference = seconds.find(straightforward_twin(name));
    if (reference == seconds.end()) continue;
    const auto used = cores.find(name);
    std::printf("%-36s %14.3f ms %14.3f ms %8.1fx", name.c_str(), reference->second * 1e3,
                fast * 1e3, reference->second / fast);
    if (used != cores.end()) std::printf(" %11.2f", used->second);
    std::printf("\n");
  }
  const auto floor = seconds.find("sweep_sines_only");
  if (floor != seconds.end()) {
    std::printf("\nsweep floor: %.3f ms of sines on one thread, %.3f ms over %u threads\n",
                floor->second * 1e3, floor->second * 1e3 / worker_count(), worker_count());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned threads = worker_count();
  for (const std::int32_t taps : {1, 8, 63, 255, 1023}) {
    const std::string suffix = "/" + std::to_string(taps) + "taps";
    benchmark::RegisterBenchmark(("fir_step/straightforward" + suffix).c_str(),
                                 fir_step_straightforward, taps);
    benchmark::RegisterBenchmark(("fir_step/fast_block" + suffix).c_str(), fir_block_fast, taps);
  }
  for (const std::int32_t taps : {63, 255}) {
    const std::string suffix = "/" + std::to_string(taps) + "taps";
    benchmark::RegisterBenchmark(("sweep_step1/straightforward" + suffix).c_str(),
                                 sweep_straightforward, taps)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("sweep_step1/fast_1thread" + suffix).c_str(), sweep_fast, taps,
                                 1u)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("sweep_step1/fast" + suffix).c_str(), sweep_fast, taps, threads)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("sweep_sines_only", sweep_sines_only)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  for (const std::int32_t count : {10, 2000}) {
    const std::string suffix = "/" + std::to_string(count) + "tones";
    benchmark::RegisterBenchmark(("waveform/straightforward" + suffix).c_str(),
                                 waveform_straightforward, count)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("waveform/fast_1thread" + suffix).c_str(), waveform_fast, count,
                                 1u)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("waveform/fast" + suffix).c_str(), waveform_fast, count, threads)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  recording_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_summary(reporter.seconds, reporter.cores);
  benchmark::Shutdown();
  return 0;
}
