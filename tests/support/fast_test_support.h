#pragma once
// Random filters and signals shared by the tests of the fast paths.

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/coefficients/quantizer.h"
#include "fixfir/common/records.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/multitone_waveform.h"

namespace fixfir::testing {

/// A filter that owns its coefficients, with the engine's view of it. May move, not copy.
struct owned_filter {
  owned_filter() = default;
  owned_filter(const owned_filter&) = delete;
  owned_filter& operator=(const owned_filter&) = delete;
  owned_filter(owned_filter&&) = default;
  owned_filter& operator=(owned_filter&&) = default;

  fixed_filter fixed;
  std::span<const std::int32_t> coefficients;  ///< fixed's
  quantized_filter filter;                     ///< borrows fixed's coefficients
};

/// `taps` quantized at `precision`, any the console tool takes (scale -2^31 at 31, 0 from
/// 32 on), as its dialogue does.
inline owned_filter quantized(const std::vector<float>& taps, std::int32_t precision) {
  owned_filter out;
  out.fixed = make_fixed_filter(taps, precision_datapath(precision)).value();
  out.coefficients = out.fixed.coefficients;
  out.filter = engine_filter(out.fixed);
  return out;
}

/// `count` taps in [-amplitude, amplitude).
inline std::vector<float> random_taps(std::int32_t count, double amplitude, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<float> tap(static_cast<float>(-amplitude),
                                            static_cast<float>(amplitude));
  std::vector<float> taps(static_cast<std::size_t>(count));
  for (float& t : taps) t = tap(rng);
  return taps;
}

/// `count` taps in [-amplitude, amplitude) quantized at `precision`.
inline owned_filter random_filter(std::int32_t count, std::int32_t precision, double amplitude,
                                  std::uint64_t seed) {
  return quantized(random_taps(count, amplitude, seed), precision);
}

/// Like `random_taps`, mirrored (tap j = tap count - 1 - j): a linear-phase filter, whose
/// pairs the kernels fold.
inline std::vector<float> mirrored_taps(std::int32_t count, double amplitude, std::uint64_t seed) {
  std::vector<float> taps = random_taps(count, amplitude, seed);
  for (std::int32_t j = 0; j < count / 2; ++j) {
    taps[static_cast<std::size_t>(count - 1 - j)] = taps[static_cast<std::size_t>(j)];
  }
  return taps;
}

/// `mirrored_taps` quantized at `precision`.
inline owned_filter mirrored_filter(std::int32_t count, std::int32_t precision, double amplitude,
                                    std::uint64_t seed) {
  return quantized(mirrored_taps(count, amplitude, seed), precision);
}

/// A linear-phase windowed-sinc low-pass at a quarter of the sample rate.
inline owned_filter low_pass_filter(std::int32_t count, std::int32_t precision) {
  std::vector<float> taps(static_cast<std::size_t>(count));
  const double middle = (count - 1) / 2.0;
  for (std::int32_t i = 0; i < count; ++i) {
    const double u = i - middle;
    const double sinc = u == 0.0 ? 0.5 : std::sin(0.5 * M_PI * u) / (M_PI * u);
    const double window = 0.54 - 0.46 * std::cos(2.0 * M_PI * i / std::max(count - 1, 1));
    taps[static_cast<std::size_t>(i)] = static_cast<float>(sinc * window);
  }
  // Exactly linear phase, as a designer would ship it: the second half mirrors the first.
  for (std::int32_t i = 0; i < count / 2; ++i) {
    taps[static_cast<std::size_t>(count - 1 - i)] = taps[static_cast<std::size_t>(i)];
  }
  return quantized(taps, precision);
}

/// `n` samples: mostly uniform in [-amplitude, amplitude), with some values that sit on
/// truncation edges or leave the 64-bit range (±0, ±1, huge, infinite, NaN).
inline std::vector<double> random_signal(std::size_t n, double amplitude, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-amplitude, amplitude);
  std::uniform_int_distribution<int> pick(0, 31);
  const double specials[] = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             0.5,
                             -0.5,
                             1e30,
                             -1e30,
                             std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
  std::vector<double> out(n);
  for (double& x : out) {
    const int p = pick(rng);
    x = p < 10 ? specials[p] : value(rng);
  }
  return out;
}

/// `n` samples uniform in [-amplitude, amplitude), nothing special mixed in.
inline std::vector<double> uniform_signal(std::size_t n, double amplitude, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-amplitude, amplitude);
  std::vector<double> out(n);
  for (double& x : out) x = value(rng);
  return out;
}

/// The text of "frequency.txt" for `step` from the run service on `threads` threads. False
/// when memory cannot be had.
inline bool fast_sweep_text(const fixed_filter& filter, std::int32_t step, unsigned threads,
                            std::string& out) {
  const auto scale = static_cast<double>(filter.path.scale);
  return sweep_peaks(filter, step, threads,
                     [&](std::int32_t frequency, std::uint64_t peak) {
                       append_sweep_line(out, scale, frequency, static_cast<std::int32_t>(peak));
                       return true;
                     })
      .ok();
}

/// The text of "waves.txt" for `settings` from the run service on `threads` threads. False
/// when memory cannot be had.
inline bool fast_waves_text(const fixed_filter& filter, const frequency_settings& settings,
                            unsigned threads, std::string& out) {
  return waveform_text(filter, settings, threads,
                       [&out](std::string_view text) {
                         out += text;
                         return true;
                       })
      .ok();
}

}  // namespace fixfir::testing
