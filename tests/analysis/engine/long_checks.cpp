// Long checks of the fast paths that are exact by argument, run on far more values than the
// unit tests: every sweep argument at every precision through the guarded sines, whole
// waveform tests through the guarded multitone sums, and tens of millions of numbers through
// the fast "%lf" writer, and 2.2e9 arguments through the exact sines and cosines. Each compares
// against the straightforward computation and exits with 1 on the first difference.
//
//   fixfir_long_checks sines|multitone|format|exact_sines

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "exact_sine.h"
#include "fixfir/common/conversion.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/engine/fir_engine.h"
#include "guarded_sine.h"

namespace {

using namespace fixfir;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<double> sample_times(std::size_t n) {
  heap_array<double> clock;
  if (!allocate_zeroed(clock, n)) return {};
  fill_sample_times(clock);
  return std::vector<double>(clock.begin(), clock.end());
}

std::vector<sine_lanes> variants() {
  std::vector<sine_lanes> out;
  for (const sine_lanes lanes : {sine_lanes::avx2, sine_lanes::avx2_eight, sine_lanes::avx512}) {
    if (sine_lanes_supported(lanes)) out.push_back(lanes);
  }
  if (out.empty()) std::printf("no fast sine on this processor or build: std::sin only\n");
  return out;
}

// All 7997 × 4000 arguments of the step-1 sweep, at every precision 0 … 30 for the
// variants that run in production, at a few for the slow eight-lane test variant.
int check_sines() {
  const auto start = std::chrono::steady_clock::now();
  const auto samples = static_cast<std::size_t>(SWEEP_SAMPLES);
  const std::vector<double> times = sample_times(samples);
  std::vector<double> library(samples);
  std::vector<std::uint32_t> q(samples);
  const std::vector<sine_lanes> lanes = variants();
  std::vector<std::size_t> fallbacks(lanes.size(), 0);
  std::size_t checked = 0;
  for (std::int32_t d = SWEEP_FIRST_FREQUENCY; d <= SWEEP_LAST_FREQUENCY; ++d) {
    const double f = static_cast<double>(d);
    for (std::size_t n = 0; n < samples; ++n) library[n] = std::sin((f * times[n]) * TWO_PI);
    for (std::size_t v = 0; v < lanes.size(); ++v) {
      for (int precision = 0; precision <= 30; ++precision) {
        if (lanes[v] == sine_lanes::avx2_eight && precision % 10 != 0) continue;
        const double scale = std::ldexp(1.0, precision);
        fallbacks[v] += guarded_sine_samples(f, times.data(), scale, q.data(), samples, lanes[v]);
        for (std::size_t n = 0; n < samples; ++n) {
          if (q[n] != static_cast<std::uint32_t>(quantize_sample(scale, library[n]))) {
            std::printf("MISMATCH %s: frequency %d sample %zu precision %d: %u, library %d\n",
                        sine_lanes_name(lanes[v]), d, n, precision, q[n],
                        quantize_sample(scale, library[n]));
            return 1;
          }
        }
        checked += samples;
      }
    }
  }
  for (std::size_t v = 0; v < lanes.size(); ++v) {
    std::printf("%s: fallbacks to std::sin %zu\n", sine_lanes_name(lanes[v]), fallbacks[v]);
  }
  std::printf("sines: %zu guarded samples equal std::sin's (%.1f s)\n", checked,
              seconds_since(start));
  return 0;
}

// Whole waveform tests: the shipped example's tones, tones that cancel, 2000 tones,
// descending and negative tones, each at three precisions.
int check_multitone() {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<double> times = sample_times(32000);
  const tone_set sets[] = {{100, 50, 79}, {100, 100, 10},  {100, 1, 2000},
                           {4000, 1, 1},  {1000, -7, 130}, {-3000, 25, 200}};
  std::vector<double> exact(times.size());
  std::vector<double> x(times.size());
  std::vector<std::uint32_t> q(times.size());
  std::size_t checked = 0;
  for (const tone_set& tones : sets) {
    for (std::size_t n = 0; n < times.size(); ++n) exact[n] = exact_multitone(tones, times[n]);
    for (const sine_lanes lanes : variants()) {
      if (lanes == sine_lanes::avx2_eight && tones.count > 100) continue;  // slow variant
      for (const int precision : {0, 15, 30}) {
        const double scale = std::ldexp(1.0, precision);
        const std::size_t fallbacks =
            guarded_multitone(tones, scale, times.data(), x.data(), q.data(), times.size(), lanes);
        for (std::size_t n = 0; n < times.size(); ++n) {
          if (format_fixed6(x[n]) != format_fixed6(exact[n]) ||
              q[n] != static_cast<std::uint32_t>(quantize_sample(scale, exact[n]))) {
            std::printf("MISMATCH %s: %d tones from %g step %g, sample %zu precision %d\n",
                        sine_lanes_name(lanes), tones.count, tones.first, tones.step, n, precision);
            return 1;
          }
        }
        checked += times.size();
        std::printf("%s: %d tones from %g step %g, precision %d: %zu fallbacks\n",
                    sine_lanes_name(lanes), tones.count, tones.first, tones.step, precision,
                    fallbacks);
      }
    }
  }
  std::printf("multitone: %zu guarded samples print and quantize as the exact sums (%.1f s)\n",
              checked, seconds_since(start));
  return 0;
}

// std::sin's and std::cos's bits from the exact sines and cosines: every argument
// (f × t) × TWO_PI of whole-hertz tones of either sign at every sample time of the waveform
// test, up to 16000 Hz for sines (past the proven range) and 8000 Hz for cosines, and
// doubles spread evenly over the range: 2.2e9 in all.
int check_exact_sines() {
  const auto start = std::chrono::steady_clock::now();
  const std::vector<double> times = sample_times(32000);
  std::vector<double> a(times.size());
  std::vector<double> s(times.size());
  const std::vector<sine_lanes> lanes = variants();
  std::vector<std::size_t> fallbacks(lanes.size(), 0);
  std::size_t checked = 0;
  std::mt19937_64 rng(20261209);
  auto same = [&](bool cosine, sine_lanes variant, std::size_t& count, double label) {
    if (variant == sine_lanes::avx2_eight && static_cast<std::int64_t>(label) % 16 != 1) {
      return true;
    }
    count += cosine ? exact_cosines(a.data(), s.data(), a.size(), variant)
                    : exact_sines(a.data(), s.data(), a.size(), variant);
    checked += a.size();
    for (std::size_t n = 0; n < a.size(); ++n) {
      const double library = cosine ? std::cos(a[n]) : std::sin(a[n]);
      if (std::memcmp(&s[n], &library, sizeof library) == 0) continue;
      std::printf("MISMATCH %s: %s(%a) = %a, library %a (case %g)\n", sine_lanes_name(variant),
                  cosine ? "cos" : "sin", a[n], s[n], library, label);
      return false;
    }
    return true;
  };
  for (const bool cosine : {false, true}) {
    const std::int32_t highest = cosine ? 8000 : 16000;
    for (std::int32_t d = -highest; d <= highest; ++d) {
      if (d == 0) continue;
      const double f = static_cast<double>(d);
      for (std::size_t n = 0; n < times.size(); ++n) a[n] = (f * times[n]) * TWO_PI;
      for (std::size_t v = 0; v < lanes.size(); ++v) {
        if (!same(cosine, lanes[v], fallbacks[v], f)) return 1;
      }
    }
    for (int block = 1; block <= (cosine ? 4000 : 16000); ++block) {
      for (double& x : a) {
        x = std::ldexp(static_cast<double>(static_cast<std::int64_t>(rng() >> 10)) - 0x1p53, -36);
      }
      for (std::size_t v = 0; v < lanes.size(); ++v) {
        if (!same(cosine, lanes[v], fallbacks[v], block)) return 1;
      }
    }
  }
  for (std::size_t v = 0; v < lanes.size(); ++v) {
    std::printf("%s: fallbacks to the library %zu\n", sine_lanes_name(lanes[v]), fallbacks[v]);
  }
  std::printf("exact_sines: %zu values equal the library's bit for bit (%.1f s)\n", checked,
              seconds_since(start));
  return 0;
}

// The fast writer against the digit-by-digit one.
int check_format() {
  const auto start = std::chrono::steady_clock::now();
  std::mt19937_64 rng(20261208);
  std::string fast;
  std::string exact;
  std::size_t checked = 0;
  auto same = [&](double v) {
    fast.clear();
    exact.clear();
    append_fixed6(fast, v);
    append_fixed6_exact(exact, v);
    ++checked;
    if (fast == exact) return true;
    std::printf("MISMATCH %a: fast %s, exact %s\n", v, fast.c_str(), exact.c_str());
    return false;
  };
  auto unit = [&] { return std::ldexp(static_cast<double>(rng() >> 11), -53); };
  // Halves at the seventh decimal and their four nearest neighbours on each side, below
  // 1, below 10^4 and up to beyond the fast path's limit.
  for (int i = 0; i < 2'000'000; ++i) {
    const double limit = i % 3 == 0 ? 1.0 : i % 3 == 1 ? 1e4 : 2e9;
    double v = (std::floor(unit() * limit * 1e6) + 0.5) / 1e6;
    if (i % 2 == 1) v = -v;
    for (int s = 0; s < 4; ++s) v = std::nextafter(v, 0.0);
    for (int s = 0; s < 9; ++s) {
      if (!same(v)) return 1;
      v = std::nextafter(v, v < 0 ? -1e300 : 1e300);
    }
  }
  // What the tool writes: the sample clock, sines, sums of sines and accumulators
  // divided by scale² at every precision.
  for (const double t : sample_times(32000)) {
    if (!same(t)) return 1;
  }
  for (int i = 0; i < 6'000'000; ++i) {
    const double sine = std::sin(unit() * 20000.0);
    const auto acc = static_cast<std::int32_t>(static_cast<std::uint32_t>(rng()));
    const double scale = std::ldexp(1.0, i % 31);
    if (!same(sine) || !same(static_cast<double>(acc) / (scale * scale))) return 1;
  }
  // Uniform in [-2, 2], log-uniform magnitudes from 10^-9 to 10^11, and binary fractions.
  for (int i = 0; i < 6'000'000; ++i) {
    const double sign = (rng() & 1) != 0 ? -1.0 : 1.0;
    if (!same(4.0 * unit() - 2.0) || !same(sign * std::pow(10.0, 20.0 * unit() - 9.0)) ||
        !same(std::ldexp(static_cast<double>(static_cast<std::int64_t>(rng() >> 20) - (1LL << 43)),
                         -static_cast<int>(rng() % 48)))) {
      return 1;
    }
  }
  std::printf("format: %zu numbers written alike by the fast and the exact path (%.1f s)\n",
              checked, seconds_since(start));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc == 2 ? argv[1] : "";
  if (what == "sines") return check_sines();
  if (what == "multitone") return check_multitone();
  if (what == "format") return check_format();
  if (what == "exact_sines") return check_exact_sines();
  std::fprintf(stderr, "usage: fixfir_long_checks sines|multitone|format|exact_sines\n");
  return 2;
}
