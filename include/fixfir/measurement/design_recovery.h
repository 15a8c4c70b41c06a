#pragma once
// Recovering the band edges of a least-squares design from its taps.
#include <span>

#include "fixfir/measurement/bands.h"

namespace fixfir {

/// Moves the inner edges of inferred bands (`infer_bands`) out to the edges of the
/// least-squares design that `taps` are, when they are one; true when it did, false when
/// `plan` is left as it is, and an out_of_memory error (with `plan` as it was) when memory
/// runs out.
///
/// Symmetric taps of zero-phase amplitude A(f) = Σ a[k] cos(2π f (k + o) / 16000) are the
/// weighted least-squares optimum over bands B_j of levels D_j (a pass band's own level,
/// 0 in a stop band) and weights w_j exactly when, for every k,
///   Σ_j w_j ∫_{B_j} (A(f) − D_j) cos(2π f (k + o) / 16000) df = 0.
/// The edges inside each transition (0 and 8000 Hz stay), the weights (the lowest band's
/// is 1) and the levels are fitted to these equations, starting from `plan`'s edges (for
/// short tap sets also from points further into each transition). The fit is taken only
/// when every weight and level is positive, its residual is no larger than rounding the
/// taps to single precision can make it, and that rounding is at most a hundredth of the
/// largest band's terms Σ w_j ∫_{B_j} (A − D_j) cos(…). Otherwise, and for taps that are
/// not symmetric, more than 2047 taps, too few taps for the bands, or a plan that does not
/// alternate pass and stop bands from 0 to 8000 Hz, `plan` is left as it is. Up to 2047
/// taps this takes well under a second.
[[nodiscard]] result<bool> refine_least_squares_bands(std::span<const float> taps,
                                                      band_plan& plan) noexcept;

}  // namespace fixfir
