#include "report_model.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <thread>

#include "fir_core.h"
#include "frequency_sweep.h"
#include "waveform_test.h"

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// An exact sum of up to 2^31 products of two 32-bit values. Such a sum can pass the
// 64-bit range (two products of -2^31 · -2^31 already do), so the low 64 bits are kept
// with a signed count of their carries: the value is high · 2^64 + low.
struct wide_sum {
  std::int64_t high = 0;
  std::uint64_t low = 0;
};

void add_product(wide_sum& sum, std::int64_t p) noexcept {
  const std::uint64_t before = sum.low;
  sum.low = before + static_cast<std::uint64_t>(p);
  if (p >= 0 && sum.low < before) ++sum.high;
  if (p < 0 && sum.low > before) --sum.high;
}

bool equals_int32(const wide_sum& sum, std::int32_t a) noexcept {
  const auto extended = static_cast<std::int64_t>(a);
  return sum.high == (a < 0 ? -1 : 0) && sum.low == static_cast<std::uint64_t>(extended);
}

// Largest of two values, NaN if either is.
double nan_max(double a, double b) noexcept {
  if (std::isnan(a) || std::isnan(b)) return not_a_number;
  return a > b ? a : b;
}
double nan_min(double a, double b) noexcept {
  if (std::isnan(a) || std::isnan(b)) return not_a_number;
  return a < b ? a : b;
}

// The largest |y| of the double model over `x`. `padded` is scratch space.
double double_peak(const std::vector<double>& reversed_taps, std::span<const double> x,
                   std::vector<double>& padded) {
  const std::size_t count = reversed_taps.size();
  if (count == 0) return 0.0;
  padded.assign(count - 1, 0.0);  // the filter starts from rest
  padded.insert(padded.end(), x.begin(), x.end());
  double peak = 0.0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    const double* window = padded.data() + n;
    double y = 0.0;
    for (std::size_t k = 0; k < count; ++k) y += reversed_taps[k] * window[k];
    peak = nan_max(peak, std::fabs(y));
  }
  return peak;
}

std::vector<double> reversed_as_double(std::span<const float> taps) {
  std::vector<double> r(taps.rbegin(), taps.rend());
  return r;
}

// The unit sine of the sweep at `frequency`, on the sweep's clock.
void sweep_sine(std::int32_t frequency, std::vector<double>& x) {
  x.resize(static_cast<std::size_t>(SWEEP_SAMPLES));
  const double f = static_cast<double>(frequency);
  double t = 0.0;
  for (double& v : x) {
    v = std::sin((f * t) * TWO_PI);
    t = t + SAMPLE_INTERVAL;
  }
}

}  // namespace

double ideal_magnitude(std::span<const float> taps, double frequency) noexcept {
  const double omega = TWO_PI * frequency * SAMPLE_INTERVAL;
  double re = 0.0;
  double im = 0.0;
  for (std::size_t j = 0; j < taps.size(); ++j) {
    const double phase = omega * static_cast<double>(j);
    re += static_cast<double>(taps[j]) * std::cos(phase);
    im -= static_cast<double>(taps[j]) * std::sin(phase);
  }
  return std::hypot(re, im);
}

std::vector<double> run_double_model(std::span<const float> taps, std::span<const double> input) {
  const std::vector<double> reversed = reversed_as_double(taps);
  std::vector<double> output(input.size(), 0.0);
  if (reversed.empty()) return output;
  std::vector<double> padded(reversed.size() - 1, 0.0);
  padded.insert(padded.end(), input.begin(), input.end());
  for (std::size_t n = 0; n < input.size(); ++n) {
    double y = 0.0;
    for (std::size_t k = 0; k < reversed.size(); ++k) y += reversed[k] * padded[n + k];
    output[n] = y;
  }
  return output;
}

fixed_run run_fixed_model(const quantized_filter& filter, std::span<const double> input) {
  fir_state state;
  if (!fir_init(state, filter)) throw std::bad_alloc();
  fir_reset(state);
  fixed_run run;
  run.output.resize(input.size());
  // The samples as the core quantizes them, for the exact sums.
  std::vector<std::int32_t> s(input.size());
  const std::size_t count = static_cast<std::size_t>(state.count);
  for (std::size_t n = 0; n < input.size(); ++n) {
    const std::int32_t acc = fir_step(state, input[n]);
    run.output[n] = fir_output(state, acc);
    s[n] = quantize_sample(state.scale, input[n]);
    wide_sum exact;
    for (std::size_t j = 0; j < count && j <= n; ++j) {
      add_product(exact, static_cast<std::int64_t>(filter.coefficients[j]) * s[n - j]);
    }
    if (!equals_int32(exact, acc)) ++run.wraps;
  }
  return run;
}

waveform_signal make_waveform_signal(const frequency_settings& settings) {
  const std::int32_t tones = tone_count(settings);
  waveform_signal signal;
  signal.time.resize(static_cast<std::size_t>(WAVEFORM_SAMPLES));
  signal.input.resize(static_cast<std::size_t>(WAVEFORM_SAMPLES));
  double t = 0.0;
  for (std::size_t n = 0; n < signal.time.size(); ++n) {
    signal.time[n] = t;
    signal.input[n] = multitone_sample(settings, tones, t);
    t = t + SAMPLE_INTERVAL;
  }
  return signal;
}

double double_sweep_peak(std::span<const float> taps, std::int32_t frequency) {
  std::vector<double> x;
  std::vector<double> padded;
  sweep_sine(frequency, x);
  return double_peak(reversed_as_double(taps), x, padded);
}

std::vector<sweep_point> measure_response(const quantized_filter& filter,
                                          std::span<const float> taps, std::int32_t step,
                                          unsigned threads) {
  const std::int32_t frequencies = sweep_frequency_count(step);
  std::vector<sweep_point> sweep(static_cast<std::size_t>(frequencies));
  const std::vector<double> reversed = reversed_as_double(taps);
  std::atomic<bool> out_of_memory{false};

  // Worker `w` of `workers` takes every workers-th frequency; each has its own state.
  auto work = [&](std::size_t w, std::size_t workers) {
    try {
      fir_state state;
      if (!fir_init(state, filter)) throw std::bad_alloc();
      std::vector<double> x;
      std::vector<double> padded;
      for (std::size_t i = w; i < sweep.size(); i += workers) {
        // Below 8000, so the product fits.
        const std::int32_t f = SWEEP_FIRST_FREQUENCY + static_cast<std::int32_t>(i) * step;
        sweep_point& p = sweep[i];
        p.frequency = f;
        p.fixed_peak = fir_output(state, sweep_peak(state, f));
        sweep_sine(f, x);
        p.double_peak = double_peak(reversed, x, padded);
        p.ideal = ideal_magnitude(taps, static_cast<double>(f));
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  };

  const std::size_t workers = std::clamp<std::size_t>(threads, 1, sweep.size());
  std::vector<std::thread> pool;
  for (std::size_t w = 1; w < workers; ++w) pool.emplace_back(work, w, workers);
  work(0, workers);
  for (std::thread& t : pool) t.join();
  if (out_of_memory) throw std::bad_alloc();
  return sweep;
}

double largest_tap_error(std::span<const float> taps, const quantized_filter& filter) noexcept {
  const double scale = static_cast<double>(filter.scale);
  double worst = 0.0;
  const std::size_t count =
      std::min(taps.size(), static_cast<std::size_t>(std::max(filter.count, 0)));
  for (std::size_t j = 0; j < count; ++j) {
    const double error = std::fabs(static_cast<double>(taps[j]) -
                                   static_cast<double>(filter.coefficients[j]) / scale);
    worst = nan_max(worst, error);
  }
  return worst;
}

double snr_db(std::span<const double> reference, std::span<const double> measured) noexcept {
  const std::size_t n = std::min(reference.size(), measured.size());
  double signal = 0.0;
  double noise = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double e = measured[i] - reference[i];
    signal += reference[i] * reference[i];
    noise += e * e;
  }
  if (std::isnan(signal) || std::isnan(noise) || signal == 0.0) return not_a_number;
  if (noise == 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / noise);
}

double to_db(double v) noexcept { return 20.0 * std::log10(v); }

band_figures measure_bands(std::span<const sweep_point> sweep, sweep_series levels) noexcept {
  band_figures b;
  b.passband_max_db = b.ripple_db = b.attenuation_db = not_a_number;
  auto measurable = [](const sweep_point& p) { return p.frequency != SWEEP_LAST_FREQUENCY; };

  double ideal_max = 0.0;
  for (const sweep_point& p : sweep) {
    if (measurable(p) && p.ideal > ideal_max) ideal_max = p.ideal;
  }
  if (!(ideal_max > 0.0) || !std::isfinite(ideal_max)) return b;
  const double ideal_max_db = to_db(ideal_max);

  double pass_min = std::numeric_limits<double>::infinity();
  double pass_max = -std::numeric_limits<double>::infinity();
  double stop_max = -std::numeric_limits<double>::infinity();
  for (const sweep_point& p : sweep) {
    if (!measurable(p)) continue;
    const double ideal_db = to_db(p.ideal);
    const double level = to_db(p.*levels);
    if (ideal_db >= ideal_max_db - PASSBAND_TOLERANCE_DB) {
      if (b.passband_count++ == 0) b.passband_first = p.frequency;
      b.passband_last = p.frequency;
      pass_min = nan_min(pass_min, level);
      pass_max = nan_max(pass_max, level);
    } else if (ideal_db <= ideal_max_db - STOPBAND_DEPTH_DB) {
      if (b.stopband_count++ == 0) b.stopband_first = p.frequency;
      b.stopband_last = p.frequency;
      stop_max = nan_max(stop_max, level);
    }
  }
  b.passband_max_db = pass_max;
  b.ripple_db = pass_max - pass_min;
  if (b.stopband_count > 0) b.attenuation_db = pass_max - stop_max;
  return b;
}

}  // namespace fixfir
