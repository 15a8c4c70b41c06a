#pragma once
// The bands of a response read from its shape: pass bands where it is near its peak,
// stop bands where it holds side lobes.

#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {

/// The bands of the response of some unquantized taps, read from the shape of `taps`:
///
/// - a pass band lies in each stretch where the response is within 3 dB of its peak: it
///   spans the stretch's ripples (its local extrema) and goes on from the outermost ones
///   as long as the level stays between the lowest and the highest of them. A last
///   maximum standing more than 2.2 times the ripple's half-height above the ripple's
///   middle is an overshoot into the transition band, not a ripple, and is left out.
///   A stretch without two extrema gives the frequencies within 1 dB of its top.
/// - a stop band lies in each stretch more than 3 dB down that holds side lobes (local
///   maxima): it starts where the transition first falls to the highest side lobe.
///
/// For windowed and equiripple designs these are the design's bands to within a grid
/// step or so, and the figures over them its true ripple and attenuation. A least-squares
/// design has its worst error on the transition slope at its band edges, which the shape
/// does not reveal: its bands found here lie a little inside the design's, and
/// `refine_least_squares_bands` moves them out to the design's own edges.
[[nodiscard]] band_plan infer_bands(const dense_response& taps_response);

}  // namespace fixfir
