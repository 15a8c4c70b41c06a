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
#include "fixfir/coefficients/quantizer.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/reference/fir_reference.h"
#include "guarded_sine.h"
#include "wide_kernel.h"

// The filters come from the tests' support, so that the benchmark measures the same kind.
#include "fast_test_support.h"

namespace {

using namespace fixfir;
using fixfir::testing::low_pass_filter;
using fixfir::testing::owned_filter;

constexpr std::int32_t precision = 15;
constexpr std::size_t block_samples = 4096;

std::vector<double> sample_clock(std::int32_t n) {
  heap_array<double> clock;
  if (!allocate_zeroed(clock, static_cast<std::size_t>(n))) return {};
  fill_sample_times(clock);
  return std::vector<double>(clock.begin(), clock.end());
}

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
    if (!fixfir::testing::fast_sweep_text(f.fixed, 1, threads, text))
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

// The sweep's sines as the guarded path computes them: 7997 × 4000 quantized samples on
// one thread, the library's sine only where the guard cannot decide.
void sweep_guarded_sines_only(benchmark::State& state) {
  const std::vector<double> times = sample_clock(SWEEP_SAMPLES);
  std::vector<std::uint32_t> q(times.size());
  const auto scale = static_cast<double>(std::int64_t{1} << precision);
  for (auto _ : state) {
    for (std::int32_t d = SWEEP_FIRST_FREQUENCY; d <= SWEEP_LAST_FREQUENCY; ++d) {
      benchmark::DoNotOptimize(
          guarded_sine_samples(static_cast<double>(d), times.data(), scale, q.data(), q.size()));
    }
    benchmark::DoNotOptimize(q.data());
  }
}

// The waveform test's inputs as the guarded path computes them, on one thread.
void waveform_guarded_sums_only(benchmark::State& state, std::int32_t tone_total) {
  const std::vector<double> times = sample_clock(WAVEFORM_SAMPLES);
  std::vector<double> x(times.size());
  std::vector<std::uint32_t> q(times.size());
  const tone_set set{100.0, 1.0, tone_total};  // as `tones` below
  const auto scale = static_cast<double>(std::int64_t{1} << precision);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        guarded_multitone(set, scale, times.data(), x.data(), q.data(), times.size()));
    benchmark::DoNotOptimize(x.data());
  }
}

// The block convolution of one sweep frequency (4000 outputs from rest) …
constexpr std::size_t sweep_outputs =
    (SWEEP_SAMPLES + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;

void kernel_convolve(benchmark::State& state, std::int32_t taps) {
  const owned_filter f = low_pass_filter(taps, precision);
  const auto count = static_cast<std::size_t>(taps);
  std::vector<std::uint32_t> reversed(count);
  reverse_coefficients(f.filter.coefficients, taps, reversed.data());
  std::vector<std::uint32_t> signal(count - 1 + sweep_outputs, 0u);
  const auto scale = static_cast<double>(f.filter.scale);
  const std::vector<double> x = noise(sweep_outputs);
  for (std::size_t n = 0; n < sweep_outputs; ++n) {
    signal[count - 1 + n] = static_cast<std::uint32_t>(quantize_sample(scale, x[n]));
  }
  std::vector<std::uint32_t> acc(sweep_outputs);
  for (auto _ : state) {
    wrapping_convolve(reversed.data(), count, signal.data(), 0, sweep_outputs, acc.data());
    benchmark::DoNotOptimize(acc.data());
  }
}

// … and its multiplies alone: one per mirrored pair (and middle tap) per output, on the
// same instruction set, in registers.
void kernel_multiply_floor(benchmark::State& state, std::int32_t taps) {
  const std::size_t multiplies = (static_cast<std::size_t>(taps) + 1) / 2 * sweep_outputs;
  for (auto _ : state) benchmark::DoNotOptimize(kernels().multiplies(7u, multiplies));
}

// … and the same multiplies with the two adds each of a folded pair: the arithmetic floor
// where the vector adds compete with the multiplies for the same ports.
void kernel_folded_floor(benchmark::State& state, std::int32_t taps) {
  const std::size_t multiplies = (static_cast<std::size_t>(taps) + 1) / 2 * sweep_outputs;
  for (auto _ : state) benchmark::DoNotOptimize(kernels().folded_steps(7u, multiplies));
}

// The 64-bit accumulating kernel of any datapath against the 32-bit one of the seed's, on
// the same 32-bit words: 32000 samples, reported as time per multiply-accumulate. The
// low-pass filter is mirrored, which the 32-bit kernel folds (half the multiplies) and the
// 64-bit one does not; random taps are not.
constexpr std::size_t datapath_outputs = 32000;

struct datapath_case {
  std::vector<std::int32_t> reversed;
  std::vector<std::int32_t> signal;
};

datapath_case datapath_words_case(std::int32_t taps, bool mirrored) {
  const auto count = static_cast<std::size_t>(taps);
  datapath_case c;
  if (mirrored) {
    const owned_filter f = low_pass_filter(taps, precision);
    c.reversed.assign(f.coefficients.rbegin(), f.coefficients.rend());
  } else {
    std::mt19937_64 rng(7);
    for (std::size_t i = 0; i < count; ++i) c.reversed.push_back(static_cast<std::int32_t>(rng()));
  }
  c.signal.assign(count - 1 + datapath_outputs, 0);
  const std::vector<double> x = noise(datapath_outputs);
  for (std::size_t n = 0; n < datapath_outputs; ++n) {
    c.signal[count - 1 + n] = quantize_sample(double{1 << precision}, x[n]);
  }
  return c;
}

void per_multiply(benchmark::State& state, std::int32_t taps) {
  state.counters["per_mac"] = benchmark::Counter(
      static_cast<double>(taps) * static_cast<double>(datapath_outputs),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void datapath_kernel32(benchmark::State& state, std::int32_t taps, bool mirrored) {
  const datapath_case c = datapath_words_case(taps, mirrored);
  std::vector<std::uint32_t> reversed(c.reversed.begin(), c.reversed.end());
  std::vector<std::uint32_t> signal(c.signal.begin(), c.signal.end());
  std::vector<std::uint32_t> acc(datapath_outputs);
  for (auto _ : state) {
    wrapping_convolve(reversed.data(), reversed.size(), signal.data(), 0, datapath_outputs,
                      acc.data());
    benchmark::DoNotOptimize(acc.data());
  }
  per_multiply(state, taps);
}

void datapath_kernel64(benchmark::State& state, std::int32_t taps, bool mirrored) {
  const datapath_case c = datapath_words_case(taps, mirrored);
  std::vector<std::int64_t> acc(datapath_outputs);
  for (auto _ : state) {
    wide_convolve(c.reversed.data(), c.reversed.size(), c.signal.data(), 0, datapath_outputs,
                  acc.data());
    benchmark::DoNotOptimize(acc.data());
  }
  per_multiply(state, taps);
}

// The 128-bit sums, taken where Σ|c| · max|s| reaches 2^63.
void datapath_kernel128(benchmark::State& state, std::int32_t taps, bool mirrored) {
  const datapath_case c = datapath_words_case(taps, mirrored);
  std::vector<std::int64_t> acc(datapath_outputs);
  for (auto _ : state) {
    benchmark::DoNotOptimize(exact_convolve(c.reversed.data(), c.reversed.size(), c.signal.data(),
                                            0, datapath_outputs, 64, false, acc.data()));
    benchmark::DoNotOptimize(acc.data());
  }
  per_multiply(state, taps);
}

// Numbers as the output files have them: times, sines and filter outputs.
void format_numbers(benchmark::State& state, bool fast) {
  std::vector<double> values = noise(30000);
  const std::vector<double> times = sample_clock(30000);
  for (std::size_t i = 0; i < values.size(); i += 3) values[i] = times[i];
  std::string text;
  for (auto _ : state) {
    text.clear();
    for (const double v : values) {
      if (fast) {
        append_fixed6(text, v);
      } else {
        append_fixed6_exact(text, v);
      }
    }
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
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
    if (!fixfir::testing::fast_waves_text(f.fixed, tones(tone_total), threads, text)) {
      state.SkipWithError("out of memory");
    }
    benchmark::DoNotOptimize(text.data());
  }
  meter.report(state);
}

// The waveform model's fixed-point run: `filter_signal` from rest over the waveform test's
// WAVEFORM_SAMPLES samples, on every core.
void waveform_model_filter(benchmark::State& state, std::int32_t taps, unsigned threads) {
  const owned_filter f = low_pass_filter(taps, precision);
  const std::vector<double> x = noise(static_cast<std::size_t>(WAVEFORM_SAMPLES));
  std::vector<std::int32_t> acc(x.size());
  for (auto _ : state) {
    if (!filter_signal(f.filter, x.data(), x.size(), acc.data(), threads).ok())
      state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(acc.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(x.size()));
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
    std::printf("\nold sweep floor: %.3f ms of std::sin on one thread, %.3f ms over %u threads\n",
                floor->second * 1e3, floor->second * 1e3 / worker_count(), worker_count());
  }
  const double frequencies = SWEEP_LAST_FREQUENCY - SWEEP_FIRST_FREQUENCY + 1;
  const auto sines = seconds.find("sweep_guarded_sines_only");
  for (const char* taps : {"63", "255", "1023"}) {
    const auto kernel = seconds.find(std::string("kernel/convolve/") + taps + "taps");
    const auto multiplies = seconds.find(std::string("kernel/multiply_floor/") + taps + "taps");
    if (kernel == seconds.end() || multiplies == seconds.end()) continue;
    std::printf("kernel, %4s taps: %.2f us a sweep frequency, multiplies alone %.2f us: %.2fx\n",
                taps, kernel->second * 1e6, multiplies->second * 1e6,
                kernel->second / multiplies->second);
    const auto folded = seconds.find(std::string("kernel/folded_floor/") + taps + "taps");
    if (folded != seconds.end()) {
      std::printf(
          "  with each multiply's two folded-pair adds, in registers: %.2f us (%.2fx the "
          "multiplies); the kernel is %.2fx that\n",
          folded->second * 1e6, folded->second / multiplies->second,
          kernel->second / folded->second);
    }
    const auto sweep = seconds.find(std::string("sweep_step1/fast/") + taps + "taps");
    if (sines == seconds.end() || sweep == seconds.end()) continue;
    const double new_floor = (sines->second + frequencies * multiplies->second) / worker_count();
    const auto used = cores.find(sweep->first);
    std::printf(
        "  sweep %.3f ms against its floor %.3f ms (guarded sines %.3f ms + multiplies %.3f ms, "
        "over %u threads): %.2fx",
        sweep->second * 1e3, new_floor * 1e3, sines->second * 1e3,
        frequencies * multiplies->second * 1e3, worker_count(), sweep->second / new_floor);
    if (used != cores.end()) std::printf(" with %.2f cores", used->second);
    std::printf("\n");
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
  benchmark::RegisterBenchmark("sweep_guarded_sines_only", sweep_guarded_sines_only)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  for (const std::int32_t taps : {63, 255, 1023}) {
    const std::string suffix = "/" + std::to_string(taps) + "taps";
    benchmark::RegisterBenchmark(("kernel/convolve" + suffix).c_str(), kernel_convolve, taps)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("kernel/multiply_floor" + suffix).c_str(), kernel_multiply_floor,
                                 taps)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("kernel/folded_floor" + suffix).c_str(), kernel_folded_floor,
                                 taps)
        ->Unit(benchmark::kMicrosecond);
  }
  for (const bool mirrored : {true, false}) {
    const std::string suffix = mirrored ? "/255taps_lowpass" : "/255taps_random";
    benchmark::RegisterBenchmark(("datapath/kernel32" + suffix).c_str(), datapath_kernel32, 255,
                                 mirrored)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("datapath/kernel64" + suffix).c_str(), datapath_kernel64, 255,
                                 mirrored)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("datapath/kernel128/255taps_random", datapath_kernel128, 255, false)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("format/straightforward/30000numbers", format_numbers, false);
  benchmark::RegisterBenchmark("format/fast/30000numbers", format_numbers, true);
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
    benchmark::RegisterBenchmark(("waveform_guarded_sums_only" + suffix).c_str(),
                                 waveform_guarded_sums_only, count)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }

  for (const std::int32_t taps : {63, 255, 4000}) {
    benchmark::RegisterBenchmark(("waveform_model_filter/" + std::to_string(taps) + "taps").c_str(),
                                 waveform_model_filter, taps, threads)
        ->Unit(benchmark::kMicrosecond)
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
