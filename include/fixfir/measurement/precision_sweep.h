#pragma once
// The sweep run once per frequency for every precision asked for: the sines, their cosines
// and the quantized samples' clock are the same at every precision, so they are made once.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {

/// One precision's sweep: per swept frequency, fixfir's peak (the value of frequency.txt,
/// start-up transient included), the steady-state amplitude fitted once the history is
/// full (over the last STEADY_FIT_SAMPLES samples), and whether the run wrapped its
/// accumulator.
struct swept_precision {
  std::int32_t precision = 0;
  std::vector<double> peak;
  std::vector<double> steady;
  std::vector<std::uint8_t> wrapped;
  std::int32_t wraps = 0;  ///< frequencies whose run wrapped
  /// On a chosen datapath, whether some sample of each frequency's sine overflowed its
  /// word; empty for a precision's run, whose samples always fit.
  std::vector<std::uint8_t> sample_overflowed;
};

/// The sweeps of several precisions over the same frequencies.
struct precision_sweeps {
  std::vector<std::int32_t> frequency;
  std::vector<swept_precision> runs;
  /// The largest wrap-free precision of the taps (largest_wrap_free_precision), which the
  /// sweep judges its wraps by; none when no precision is.
  std::optional<std::int32_t> wrap_free_limit;
};

/// Sweeps `taps` quantized at each of `precisions`, 4 to 8000 Hz in steps of `step` (at
/// least 1), on `threads` threads. Without `peaks` the peaks are NaN and each run filters
/// only what its steady-state fit needs (wraps are still judged over whole runs).
/// `progress(done, total)` is told on the calling thread as frequencies finish in order.
[[nodiscard]] bool sweep_precisions(
    std::span<const float> taps, std::span<const std::int32_t> precisions, std::int32_t step,
    unsigned threads, bool peaks, precision_sweeps& out,
    const std::function<void(std::size_t, std::size_t)>& progress = {}) noexcept;

/// Frequencies where a fixed-point filter's steady state is worst within `plan`'s bands,
/// read from its quantized coefficients' dense response |C(f)| / scale (which the steady
/// state follows up to the truncation noise): every band edge, the `per_band` highest lobe

/// The measurable points of one series of a sweep (8000 Hz, sampled at its zero
/// crossings, is left out).
[[nodiscard]] response_points sweep_series_points(const precision_sweeps& sweeps,
                                                  const std::vector<double>& series);

}  // namespace fixfir
