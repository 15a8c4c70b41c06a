#pragma once
// The waveform test on any datapath, and its error split three ways: the coefficients'
// quantization, the samples' quantization and the accumulator's overflow.
//
// Scaling and overflow: those of the datapath (fixfir/coefficients/datapath.h). The three
// models between the unquantized filter and the datapath are: the quantized coefficients in
// double arithmetic on the exact input; the quantized coefficients on the quantized samples
// summed exactly (a 64-bit saturating accumulator, which holds every sum the words of at
// most 32 bits give a filter of fewer than 2^30 taps); and the datapath itself.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/measurement/waveform_model.h"

namespace fixfir {

/// Where a datapath's output error comes from, as signal-to-error ratios in dB (signal: the
/// unquantized filter's output); +inf for a part that adds no error.
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

/// The waveform test of `f` on `input`, whose unquantized output is `reference`: `out`
/// gets the outputs, the overflows (as `wraps`), the SNR and the coefficient and
/// arithmetic split; `budget` the three-way split. False when memory runs out or the run
/// is abandoned.
[[nodiscard]] bool measure_datapath_waveform(const fixed_filter& f, std::span<const double> input,
                                             std::span<const double> reference, unsigned threads,
                                             waveform_figures& out, datapath_budget& budget);

/// The largest |tap − coefficient ÷ 2^F_c| over the taps of `f`, in real units.
[[nodiscard]] double largest_datapath_tap_error(std::span<const float> taps,
                                                const fixed_filter& f) noexcept;

}  // namespace fixfir
