#pragma once
// The measurements behind fixfir-report: the project's fixed-point model run through the
// analysis library, beside a double-precision model of the same measurements with the
// unquantized taps, and the figures that compare them.
//
// The double model is y[n] = Σ tap[j] · x[n - j] in double arithmetic, from rest, on the
// same input samples and the same sample clock as the fixed-point model. Functions that
// build vectors return out_of_memory_error() when memory runs out, and an interrupted error
// when the run is abandoned (stopped_run_error, parallel_chunks.h).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/measurement/error_model.h"

namespace fixfir {

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

/// The double model over `input` from rest.
[[nodiscard]] result<std::vector<double>> run_double_model(std::span<const float> taps,
                                                           std::span<const double> input) noexcept;

/// Runs `input` through the fixed-point engine from rest and counts the samples whose
/// accumulator wrapped.
[[nodiscard]] result<fixed_run> run_fixed_model(const quantized_filter& filter,
                                                std::span<const double> input) noexcept;

/// The multi-tone test signal for `settings`, exactly as the waveform test builds it,
/// computed on `threads` threads. `frequency_step` must not be 0.
[[nodiscard]] result<waveform_signal> make_waveform_signal(const frequency_settings& settings,
                                                           unsigned threads = 1) noexcept;

/// The largest |tap - coefficient ÷ scale| over the taps, in real units; 0 without taps
/// and NaN when the scale is 0.
[[nodiscard]] double largest_tap_error(std::span<const float> taps,
                                       const quantized_filter& filter) noexcept;

/// 10 · log10(Σ reference² ÷ Σ (measured - reference)²) over the common length: +inf when
/// the two agree exactly and the reference is not all zero, NaN when the reference is all
/// zero or a value is NaN.
[[nodiscard]] double snr_db(std::span<const double> reference,
                            std::span<const double> measured) noexcept;

/// The waveform test at one precision: wraps, SNR and, when `split` is set, where the
/// error comes from. `reference` is the unquantized filter's output on `input`.
struct waveform_figures {
  std::int64_t wraps = 0;
  double snr_db = 0.0;
  error_split split;
  std::vector<double> fixed_output;
  std::vector<double> coefficient_output;  ///< only with `split`
};

[[nodiscard]] bool measure_waveform(const quantized_filter& filter, std::span<const double> input,
                                    std::span<const double> reference, bool split,
                                    waveform_figures& out);

}  // namespace fixfir
