#pragma once
// Which samples and outputs a sweep run computes, shared by the sweep over precisions and
// the steady state at chosen frequencies.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fixfir/measurement/steady_state.h"

namespace fixfir {

/// The number `v` (at least 0) as a size.
inline std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

/// Which samples and outputs a sweep run of `taps` taps computes: every output for its peak,
// or only the steady-state fit's, from a whole block on, and the samples those meet. A
// filter whose steady state is not measured has no fit: its fit starts at the end of the
// run, and without peaks nothing is computed (both windows are empty).
struct run_window {
  std::size_t samples = 0;
  std::size_t met = 0;  // taps that meet a sample
  steady_reach reach = steady_reach::measured;
  std::size_t fit_start = 0;  // == samples when there is no fit
  std::size_t outputs = 0;    // samples rounded up to whole blocks
  std::size_t first_output = 0;
  std::size_t first_sample = 0;
};

/// The window of a run of `taps` taps: every output with `peaks`, else the fit's.
[[nodiscard]] run_window window_for(std::size_t taps, bool peaks);

/// A lane's accumulators as the signed values they stand for.
[[nodiscard]] std::span<const std::int32_t> as_signed(const std::uint32_t* v, std::size_t n);

}  // namespace fixfir
