#pragma once
// The unquantized filter in double precision over a whole signal, on the engine's
// double-precision kernel, for models that compare the fixed-point filter with its taps.
//
// Rounding: y[n] = Σ tap[j] · x[n - j] from rest, summed one product and one addition at a
// time in the kernel's order (real_kernel.h), so each output is the same double whichever
// kernel variant runs. Nothing overflows short of infinities in the input.
#include <span>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// The outputs of `taps` over `input` from rest, one per input sample. out_of_memory when
/// memory runs out; interrupted when the keep-going check (parallel_chunks.h) stops it.
[[nodiscard]] result<std::vector<double>> double_filter_run(std::span<const float> taps,
                                                            std::span<const double> input) noexcept;

}  // namespace fixfir
