#include "report_model.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "fast_kernel.h"
#include "fir_engine.h"
#include "frequency_sweep.h"
#include "multitone_waveform.h"
#include "real_kernel.h"

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

// A double-precision filter over whole signals, laid out as the engine's kernel wants it:
// the reversed taps, and a signal behind a zero prefix of taps - 1 samples.
struct double_filter {
  std::vector<double> reversed;
  std::size_t outputs = 0;  // the signal length rounded up to CONVOLVE_BLOCK
  std::vector<double> signal;
  std::vector<double> output;
};

double_filter make_double_filter(std::span<const float> taps, std::size_t samples) {
  double_filter f;
  f.reversed.assign(taps.rbegin(), taps.rend());
  f.outputs = (samples + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  const std::size_t prefix = f.reversed.empty() ? 0 : f.reversed.size() - 1;
  f.signal.assign(prefix + f.outputs, 0.0);
  f.output.assign(f.outputs, 0.0);
  return f;
}

// Runs `x` (at most the length it was made for) from rest; the outputs are f.output[0, n).
void run_double(double_filter& f, std::span<const double> x) noexcept {
  if (f.reversed.empty()) {
    std::fill(f.output.begin(), f.output.end(), 0.0);
    return;
  }
  std::copy(x.begin(), x.end(),
            f.signal.begin() + static_cast<std::ptrdiff_t>(f.reversed.size() - 1));
  real_convolve(f.reversed.data(), f.reversed.size(), f.signal.data(), 0, f.outputs,
                f.output.data());
}

double largest_magnitude(std::span<const double> y) noexcept {
  double peak = 0.0;
  for (const double v : y) peak = nan_max(peak, std::fabs(v));
  return peak;
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

// Σ |c[j]| as an exact 64-bit sum (at most 2^31 terms below 2^31 each).
std::uint64_t coefficient_magnitude_sum(const quantized_filter& filter) noexcept {
  std::uint64_t sum = 0;
  for (std::int32_t j = 0; j < filter.count; ++j) {
    const std::int64_t c = filter.coefficients[j];
    sum += static_cast<std::uint64_t>(c < 0 ? -c : c);
  }
  return sum;
}

}  // namespace

double ideal_magnitude(std::span<const float> taps, double frequency) noexcept {
  const double omega = TWO_PI * frequency * SAMPLE_INTERVAL;
  // e^(-i ω j) by repeated rotation, re-anchored on exact values every 64 taps so that the
  // rounding of the rotations cannot build up (cos and sin cost as much as 64 rotations).
  constexpr std::size_t anchor = 64;
  const double step_re = std::cos(omega);
  const double step_im = -std::sin(omega);
  double re = 0.0;
  double im = 0.0;
  double rot_re = 1.0;
  double rot_im = 0.0;
  for (std::size_t j = 0; j < taps.size(); ++j) {
    if (j % anchor == 0) {
      const double phase = omega * static_cast<double>(j);
      rot_re = std::cos(phase);
      rot_im = -std::sin(phase);
    }
    const auto tap = static_cast<double>(taps[j]);
    re += tap * rot_re;
    im += tap * rot_im;
    const double next_re = rot_re * step_re - rot_im * step_im;
    rot_im = rot_re * step_im + rot_im * step_re;
    rot_re = next_re;
  }
  return std::hypot(re, im);
}

std::vector<double> run_double_model(std::span<const float> taps, std::span<const double> input) {
  double_filter f = make_double_filter(taps, input.size());
  run_double(f, input);
  f.output.resize(input.size());
  return std::move(f.output);
}

fixed_run run_fixed_model(const quantized_filter& filter, std::span<const double> input) {
  fixed_run run;
  std::vector<std::int32_t> acc(input.size());
  if (!filter_signal(filter, input.data(), input.size(), acc.data(), worker_count())) {
    throw std::bad_alloc();
  }
  const double scale = static_cast<double>(filter.scale);
  run.output.resize(input.size());
  // The samples as the core quantizes them, for the exact sums.
  std::vector<std::int32_t> s(input.size());
  std::uint64_t largest_sample = 0;
  for (std::size_t n = 0; n < input.size(); ++n) {
    run.output[n] = fir_output(scale, acc[n]);
    s[n] = quantize_sample(scale, input[n]);
    const std::int64_t v = s[n];
    largest_sample = std::max(largest_sample, static_cast<std::uint64_t>(v < 0 ? -v : v));
  }
  // When Σ |c[j]| · max |s| fits in 31 bits no sum can wrap, and the exact sums are skipped.
  const std::uint64_t bound = coefficient_magnitude_sum(filter);
  if (largest_sample == 0 || bound <= static_cast<std::uint64_t>(INT32_MAX) / largest_sample) {
    return run;
  }
  const auto count = static_cast<std::size_t>(std::max(filter.count, 0));
  for (std::size_t n = 0; n < input.size(); ++n) {
    wide_sum exact;
    for (std::size_t j = 0; j < count && j <= n; ++j) {
      add_product(exact, static_cast<std::int64_t>(filter.coefficients[j]) * s[n - j]);
    }
    if (!equals_int32(exact, acc[n])) ++run.wraps;
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
  sweep_sine(frequency, x);
  double_filter f = make_double_filter(taps, x.size());
  run_double(f, x);
  return largest_magnitude(std::span(f.output).first(x.size()));
}

std::vector<sweep_point> measure_response(const quantized_filter& filter,
                                          std::span<const float> taps, std::int32_t step,
                                          unsigned threads, const sweep_progress& progress) {
  const std::int32_t frequencies = sweep_frequency_count(step);
  std::vector<sweep_point> sweep(static_cast<std::size_t>(frequencies));
  fir_workspace ws;
  if (!sweep_workspace_init(ws, filter, std::max(threads, 1u))) throw std::bad_alloc();
  // Each worker runs the double model on its lane's sines, in its own buffers.
  std::vector<double_filter> doubles;
  for (unsigned w = 0; w < ws.lanes; ++w) doubles.push_back(make_double_filter(taps, ws.samples));
  const bool finished = sweep_run(
      ws, step,
      [&](unsigned worker, std::int32_t i, const fir_lane& lane) {
        sweep_point& p = sweep[static_cast<std::size_t>(i)];
        p.frequency = swept_frequency(step, i);
        p.fixed_peak = fir_output(ws.scale, peak_magnitude(lane.accumulators, ws.samples));
        double_filter& d = doubles[worker];
        run_double(d, std::span(lane.input, ws.samples));
        p.double_peak = largest_magnitude(std::span(d.output).first(ws.samples));
        p.ideal = ideal_magnitude(taps, static_cast<double>(p.frequency));
      },
      [&](std::int32_t i) {
        if (progress) progress(static_cast<std::size_t>(i) + 1, sweep.size());
        return true;
      });
  if (!finished) throw std::bad_alloc();
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
