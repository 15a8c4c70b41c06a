#pragma once
// The response sweep on any datapath: at each frequency a unit sine from rest, the very
// values std::sin gives on the sweep's clock, made sample words and run through the
// datapath's coefficients and accumulator.
//
// Scaling and overflow: those of the datapath (fixfir/coefficients/datapath.h). A unit sine
// reaches +1 at some frequencies (4000 Hz for one), which a sample word with W - 1
// fractional bits cannot hold: it wraps to the most negative word or saturates, and the
// sweep counts the frequencies where any sample did.

#include <cstdint>
#include <functional>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/measurement/precision_sweep.h"
#include "fixfir/measurement/steady_state.h"

namespace fixfir {

/// Sweeps `f` from 4 to 8000 Hz in steps of `step` (at least 1) on `threads` threads, as
/// `sweep_precisions` does with peaks: one run in `out.runs`, holding per frequency the
/// peak |accumulator| in real units over the whole run, the steady-state amplitude (NaN
/// when the run never reaches its steady state), whether the accumulator overflowed and
/// whether some sample overflowed its word. `sample_overflows` receives the count of those.
/// `progress(done, total)` is told on the calling thread. False when memory runs out or
/// the run is abandoned.
[[nodiscard]] bool sweep_datapath(
    const fixed_filter& f, std::int32_t step, unsigned threads, precision_sweeps& out,
    std::int32_t& sample_overflows,
    const std::function<void(std::size_t, std::size_t)>& progress = {}) noexcept;

/// The steady-state amplitude of `f` at each of `out.frequency`, fitted as
/// `sweep_datapath` fits it, and whether its accumulator and its samples overflowed in that
/// run. False when memory runs out or the run is abandoned.
[[nodiscard]] bool datapath_steady_amplitudes(const fixed_filter& f, unsigned threads,
                                              steady_points& out) noexcept;

}  // namespace fixfir
