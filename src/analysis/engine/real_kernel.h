#pragma once
// The double-precision twin of the fixed-point block kernel, for models that compare the
// fixed-point filter with its unquantized taps.
//
// Rounding: each output is summed tap by tap in rising order of `reversed`, one product
// and one addition at a time (no fused multiply-add), so the result is the same double as
// the plain loop Σ reversed[i] · signal[m + i], whichever clone runs.

#include <cstddef>

namespace fixfir {

/// out[k] = Σ reversed[i] · signal[first + k + i] for i in [0, taps), k in [0, outputs):
/// the same layout as `wrapping_convolve` (signal[0 .. taps - 1) is the zero history before
/// the first sample, and products that only meet it are skipped). `outputs` must be a
/// multiple of `CONVOLVE_BLOCK`, and `signal` readable up to first + outputs + taps - 2.
void real_convolve(const double* reversed, std::size_t taps, const double* signal,
                   std::size_t first, std::size_t outputs, double* out) noexcept;

}  // namespace fixfir
