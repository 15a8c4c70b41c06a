#pragma once
// The unit sines on one lane of the engine's workspace (fir_engine.h): samples
// trunc(scale × sin), accumulators wrapping modulo 2^32 in units of scale². The run service
// (sine_service.h) is their one user outside the drivers' tests.

#include <cstdint>

#include "fixfir/drivers/unit_sine_sweep.h"
#include "fixfir/engine/fir_engine.h"

namespace fixfir {

/// Fills lane `worker` of `ws` with trunc(scale × sin((frequency × t) × TWO_PI)) on the
/// workspace's clock (the guarded sines: the values std::sin gives), from the window's
/// first sample, and computes its accumulators from the window's first output on. Returns
/// the lane.
fir_lane run_unit_sine(fir_workspace& ws, unsigned worker, double frequency,
                       sine_window window = {}) noexcept;

/// The same run from another lane's samples: fills lane `worker` of `ws` with the quantized
/// samples `source` (a unit sine's at the scale 2^shift × ws.scale, at least ws.samples of
/// them) divided by 2^shift toward zero, and computes its accumulators over `window` as
/// `run_unit_sine` does. With both scales powers of two from 2^0 to 2^30 the samples are
/// those `run_unit_sine` makes: 2^shift × ws.scale × sin is exact, below 2^31 in
/// magnitude, and trunc(trunc(x) ÷ 2^shift) = trunc(x ÷ 2^shift). Returns the lane.
fir_lane run_rescaled_sine(fir_workspace& ws, unsigned worker, const std::uint32_t* source,
                           unsigned shift, sine_window window = {}) noexcept;

}  // namespace fixfir
