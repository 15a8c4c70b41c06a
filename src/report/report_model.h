#pragma once
// The measurements behind fixfir-report: the project's fixed-point model run through the
// analysis library, beside a double-precision model of the same measurements with the
// unquantized taps, and the figures that compare them.
//
// The double model is y[n] = Σ tap[j] · x[n - j] in double arithmetic, from rest, on the
// same input samples and the same sample clock as the fixed-point model. Functions that
// build vectors throw std::bad_alloc when memory runs out.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "records.h"

namespace fixfir {

/// One swept frequency: the fixed-point peak (the value fixfir writes to
/// "frequency.txt"), the same peak measured in double precision, and the ideal steady-state
/// magnitude |H(f)| of the unquantized taps. All in real units, not dB.
struct sweep_point {
  std::int32_t frequency = 0;
  double fixed_peak = 0.0;
  double double_peak = 0.0;
  double ideal = 0.0;
};

/// The waveform test's input: the sample times (the accumulated clock) and the
/// multi-tone samples, `WAVEFORM_SAMPLES` of each.
struct waveform_signal {
  std::vector<double> time;
  std::vector<double> input;
};

/// The fixed-point filter's outputs in real units, and how many samples had an exact sum
/// Σ c[j] · s[n - j] that differs from the wrapped 32-bit accumulator.
struct fixed_run {
  std::vector<double> output;
  std::int64_t wraps = 0;
};

/// |Σ tap[j] · e^(-i ω j)| with ω = 2π · frequency / 16000: the steady-state gain.
[[nodiscard]] double ideal_magnitude(std::span<const float> taps, double frequency) noexcept;

/// The double model over `input` from rest.
[[nodiscard]] std::vector<double> run_double_model(std::span<const float> taps,
                                                   std::span<const double> input);

/// Runs `input` through the fixed-point engine from rest and counts the samples whose
/// accumulator wrapped.
[[nodiscard]] fixed_run run_fixed_model(const quantized_filter& filter,
                                        std::span<const double> input);

/// The multi-tone test signal for `settings`, exactly as the waveform test builds it.
/// `frequency_step` must not be 0.
[[nodiscard]] waveform_signal make_waveform_signal(const frequency_settings& settings);

/// The double model's sweep measurement: the largest |y| over `SWEEP_SAMPLES` of a unit
/// sine at `frequency` from rest, with the sweep's clock.
[[nodiscard]] double double_sweep_peak(std::span<const float> taps, std::int32_t frequency);

/// Told how many of the swept frequencies are done, of how many, as they finish in order.
using sweep_progress = std::function<void(std::size_t done, std::size_t total)>;

/// The three curves at 4, 4 + step, … up to 8000 Hz. `step` must be at least 1. The
/// frequencies are shared out between up to `threads` threads (at least one) on the
/// engine, and `progress` (if set) is told as they finish.
[[nodiscard]] std::vector<sweep_point> measure_response(const quantized_filter& filter,
                                                        std::span<const float> taps,
                                                        std::int32_t step, unsigned threads = 1,
                                                        const sweep_progress& progress = {});

/// The largest |tap - coefficient ÷ scale| over the taps, in real units; 0 without taps
/// and NaN when the scale is 0.
[[nodiscard]] double largest_tap_error(std::span<const float> taps,
                                       const quantized_filter& filter) noexcept;

/// 10 · log10(Σ reference² ÷ Σ (measured - reference)²) over the common length: +inf when
/// the two agree exactly and the reference is not all zero, NaN when the reference is all
/// zero or a value is NaN.
[[nodiscard]] double snr_db(std::span<const double> reference,
                            std::span<const double> measured) noexcept;

/// What a sweep says about the pass band and the stop band.
///
/// The pass band is where the ideal response is within 1 dB of its largest swept value;
/// the stop band where it is at least 40 dB below it. 8000 Hz, where the test sine is
/// sampled at its zero crossings and so cannot be measured, belongs to neither.
struct band_figures {
  std::int32_t passband_count = 0;  ///< swept frequencies in the pass band
  std::int32_t passband_first = 0;  ///< lowest of them, in hertz
  std::int32_t passband_last = 0;   ///< highest of them, in hertz
  double passband_max_db = 0.0;     ///< largest measured level in the pass band
  double ripple_db = 0.0;           ///< largest minus smallest measured level there
  std::int32_t stopband_count = 0;
  std::int32_t stopband_first = 0;
  std::int32_t stopband_last = 0;
  double attenuation_db = 0.0;  ///< passband_max_db minus the largest stop-band level
};

inline constexpr double PASSBAND_TOLERANCE_DB = 1.0;
inline constexpr double STOPBAND_DEPTH_DB = 40.0;

/// 20 · log10(v): -inf for 0, NaN for NaN.
[[nodiscard]] double to_db(double v) noexcept;

/// One of the measurements in a sweep_point.
using sweep_series = double sweep_point::*;

/// The band figures of the `levels` measurements of a sweep; the bands themselves always
/// come from the ideal response. With no pass band (no taps, or all zero), both counts
/// are 0 and the figures are NaN.
[[nodiscard]] band_figures measure_bands(std::span<const sweep_point> sweep,
                                         sweep_series levels = &sweep_point::fixed_peak) noexcept;

}  // namespace fixfir
