#pragma once
// The sweep of one filter or of many over the same frequencies, as measurements on the run
// service: the sines, their cosines and the quantized samples' clock are the same for every
// filter, so they are made once per frequency.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {

/// One filter's sweep, at the filter's place in the list swept: per swept frequency,
/// fixfir's peak (the value of frequency.txt, start-up transient included), the
/// steady-state amplitude fitted once the history is full (over the last STEADY_FIT_SAMPLES
/// samples; NaN where the run has no steady state), whether the run overflowed its
/// accumulator, and whether some sample of the sine overflowed its word (which fixfir's
/// precisions never do).
struct swept_precision {
  std::vector<double> peak;
  std::vector<double> steady;
  std::vector<std::uint8_t> wrapped;
  std::int32_t wraps = 0;  ///< frequencies whose run wrapped
  std::vector<std::uint8_t> sample_overflowed;
  std::int32_t sample_overflows = 0;  ///< frequencies where some sample overflowed
};

/// The sweeps of several filters over the same frequencies.
struct precision_sweeps {
  std::vector<std::int32_t> frequency;
  std::vector<swept_precision> runs;
  /// The largest wrap-free precision of the taps (largest_wrap_free_precision), which the
  /// sweep judges its wraps by; none when no precision is.
  std::optional<std::int32_t> wrap_free_limit;
};

/// What one sweep is asked for.
struct sweep_request {
  std::span<const float> taps;  ///< the taps the filters were made of
  std::int32_t step = 1;        ///< from 4 to 8000 Hz in steps of this (at least 1)
  unsigned threads = 1;
  /// Without peaks the peaks are NaN and each run filters only what its steady-state fit
  /// needs (wraps are still judged over whole runs).
  bool peaks = true;
  /// Told (done, total) on the calling thread as frequencies finish in order.
  std::function<void(std::size_t, std::size_t)> progress;
};

/// Sweeps every one of `filters` (made of `ask.taps`, on any datapath) through the run
/// service (sine_service.h), one run per filter in `out.runs`. Fails out_of_memory when
/// memory runs out, interrupted when the keep-going check stops it.
[[nodiscard]] outcome sweep_filters(std::span<const fixed_filter> filters, const sweep_request& ask,
                                    precision_sweeps& out) noexcept;

/// The filters of `taps` at each of `precisions` (fixfir's precision datapaths), in order.
/// Fails as make_fixed_filter does.
[[nodiscard]] result<std::vector<fixed_filter>> precision_filters(
    std::span<const float> taps, std::span<const std::int32_t> precisions) noexcept;

/// The measurable points of one series of a sweep (8000 Hz, sampled at its zero
/// crossings, is left out).
[[nodiscard]] response_points sweep_series_points(const precision_sweeps& sweeps,
                                                  const std::vector<double>& series);

}  // namespace fixfir
