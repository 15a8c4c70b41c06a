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

#include "fixfir/coefficients/fixed_filter.h"
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

/// Runs `input` through the 32-bit engine from rest and counts the samples whose
/// accumulator wrapped. `f` is on fixfir's precision (is_precision_datapath).
[[nodiscard]] result<fixed_run> run_fixed_model(const fixed_filter& f,
                                                std::span<const double> input) noexcept;

/// The multi-tone test signal for `settings`, exactly as the waveform test builds it,
/// computed on `threads` threads. `frequency_step` must not be 0.
[[nodiscard]] result<waveform_signal> make_waveform_signal(const frequency_settings& settings,
                                                           unsigned threads = 1) noexcept;

/// 10 · log10(Σ reference² ÷ Σ (measured - reference)²) over the common length: +inf when
/// the two agree exactly and the reference is not all zero, NaN when the reference is all
/// zero or a value is NaN.
[[nodiscard]] double snr_db(std::span<const double> reference,
                            std::span<const double> measured) noexcept;

/// The largest |tap − coefficient ÷ 2^F_c| over the taps of `f`, in real units.
[[nodiscard]] double largest_tap_error(std::span<const float> taps, const fixed_filter& f) noexcept;

/// The waveform test of one filter: overflows (as wraps), SNR and, when asked, where the
/// error comes from.
struct waveform_figures {
  std::int64_t wraps = 0;
  double snr_db = 0.0;
  error_split split;
  std::vector<double> fixed_output;
  std::vector<double> coefficient_output;  ///< only with the split or the budget
};

/// Where a datapath's output error comes from, as signal-to-error ratios in dB (signal: the
/// unquantized filter's output); +inf for a part that adds no error. The three models
/// between the unquantized filter and the datapath are: the quantized coefficients in
/// double arithmetic on the exact input; the quantized coefficients on the quantized
/// samples summed exactly (a 64-bit saturating accumulator, which holds every sum the
/// words of at most 32 bits give a filter of fewer than 2^30 taps); and the datapath itself.
struct datapath_budget {
  double coefficient_db = 0.0;            ///< coefficient model − unquantized filter
  double sample_db = 0.0;                 ///< exact sums of the words − coefficient model
  double accumulator_db = 0.0;            ///< the datapath − exact sums: overflow or saturation
  std::size_t sample_overflows = 0;       ///< samples that did not fit their word
  std::size_t accumulator_overflows = 0;  ///< outputs whose exact sum did not fit A bits
  /// With an output stage: the output words − the accumulators (rounding and the fit), and
  /// how many output words did not fit W_y bits; NaN and 0 without one.
  double output_db = 0.0;
  std::size_t output_overflows = 0;
};

/// What the waveform test tells besides the outputs, the overflows and the SNR.
enum class waveform_parts : std::uint8_t {
  none,
  split,   ///< the coefficient and arithmetic split with the predicted truncation noise
  budget,  ///< the three-way budget, and the split it gives (nothing predicted)
};

/// The waveform test of `f` (any datapath, run by the run service's `run_signal` on up to
/// `threads` threads) on `input`, whose unquantized output is `reference`. `budget` is
/// filled when `parts` asks for it. Fails out_of_memory or interrupted as run_signal does.
[[nodiscard]] outcome measure_waveform(const fixed_filter& f, std::span<const double> input,
                                       std::span<const double> reference, unsigned threads,
                                       waveform_parts parts, waveform_figures& out,
                                       datapath_budget* budget = nullptr);

}  // namespace fixfir
