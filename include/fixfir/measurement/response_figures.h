#pragma once
// The figures of the four responses over a band plan: the unquantized taps, the quantized
// coefficients, the fixed-point steady state and fixfir's sweep, and where they wrapped.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/precision_sweep.h"
#include "fixfir/measurement/spectrum.h"
#include "fixfir/measurement/steady_state.h"

namespace fixfir {

/// The unquantized taps' dense response and the bands the report measures: the given
/// ones, and for a kind not given, those inferred from the response.
struct band_setup {
  dense_response response;
  band_plan plan;
};

/// Fills `setup` for `taps`, taking `given`'s pass bands and stop bands where it has them.
/// Inferred edges are rounded to 0.01 Hz before anything is measured over them. A problem with
/// given bands (no pass band, overlapping bands) is a bad_input error that says what; running out
/// of memory is out_of_memory.
[[nodiscard]] outcome setup_bands(std::span<const float> taps, const band_plan& given,
                                  band_setup& setup);

/// Of the frequencies a response is measured at, how many lie in the pass bands and in
/// each stop band, and how many of those wrapped the accumulator.
struct band_wraps {
  std::int32_t passband_frequencies = 0;
  std::int32_t passband_wrapped = 0;
  std::vector<std::int32_t> stopband_frequencies;  ///< one per stop band, in the plan's order
  std::vector<std::int32_t> stopband_wrapped;
};

/// `frequency` (any order; a repeated one counts once, wrapped if any of its runs wrapped)
/// counted over `plan`'s bands, with `wrapped` flags beside them.
[[nodiscard]] band_wraps count_band_wraps(std::span<const double> frequency,
                                          std::span<const std::uint8_t> wrapped,
                                          const band_plan& plan);

/// The four responses over one band plan.
struct response_figures {
  band_figures_db taps;          ///< unquantized taps, dense grid
  band_figures_db coefficients;  ///< quantized coefficients, exact arithmetic, dense grid
  band_figures_db steady;        ///< fixed point in steady state, swept and at `band_extremes`
  band_figures_db sweep;         ///< fixfir's sweep, start-up transient included
  band_wraps steady_wraps;       ///< where `steady` was measured
  band_wraps sweep_wraps;        ///< where `sweep` was measured
  /// On a chosen datapath, the frequencies whose sine overflowed its sample word, counted
  /// where `steady` and `sweep` were measured; all 0 where samples always fit.
  band_wraps steady_sample_overflows;
  band_wraps sweep_sample_overflows;
  /// Whether `steady` was measured; when not, its figures are NaN and `steady_absent`
  /// says why (see `steady_absence`).
  steady_reach steady_state = steady_reach::measured;
  std::string steady_absent;
  /// The accumulator saturates rather than wraps: the notes say "saturates".
  bool saturating = false;
  /// The samples saturate rather than wrap: their notes say "saturate".
  bool samples_saturating = false;
  /// Every coefficient is 0: the quantized coefficients, the steady state and the sweep are
  /// silent, and their lines say so in words where a level in dB cannot be had.
  bool silent = false;
};

/// Whether every one of `coefficients` is 0 (none at all counts too).
[[nodiscard]] bool silent_coefficients(std::span<const std::int32_t> coefficients) noexcept;

/// The figures of the unquantized taps over `setup`'s plan. An out_of_memory error when
/// memory runs out, interrupted when `keep_going` says stop.
[[nodiscard]] outcome taps_figures(std::span<const float> taps, const band_setup& setup,
                                   band_figures_db& out) noexcept;

/// The figures of `coefficients` ÷ `scale` over `plan`; `response` receives their dense
/// response. Fails as `taps_figures` does.
[[nodiscard]] outcome coefficient_figures(std::span<const std::int32_t> coefficients, double scale,
                                          const band_plan& plan, dense_response& response,
                                          band_figures_db& out) noexcept;

/// The points of a series of the sweep, with `extra` points (frequency, level) among them,
/// in rising frequency order.
[[nodiscard]] response_points merged_points(const precision_sweeps& sweeps,
                                            const std::vector<double>& series,
                                            std::span<const double> extra_frequency,
                                            std::span<const double> extra_level);

/// The steady state of one precision over the plan: at the swept frequencies and where its
/// quantized coefficients' response is worst in each band (`extremes` receives those).
/// Fails as steady_amplitudes does.
[[nodiscard]] outcome steady_figures(const fixed_filter& filter, unsigned threads,
                                     const dense_response& coefficients, const band_plan& plan,
                                     const precision_sweeps& sweeps,
                                     const std::vector<double>& swept_steady,
                                     steady_points& extremes, band_figures_db& out);

/// The steady state over the plan from the swept steady amplitudes and those at
/// `extremes` (frequencies and amplitudes already measured).
[[nodiscard]] band_figures_db steady_band_figures(const precision_sweeps& sweeps,
                                                  const std::vector<double>& swept_steady,
                                                  const steady_points& extremes,
                                                  const band_plan& plan);

/// The wraps where one precision's sweep series is measured (8000 Hz is not), and with
/// `extremes` also where its steady state is measured besides.
[[nodiscard]] band_wraps measured_wraps(const precision_sweeps& sweeps, const swept_precision& run,
                                        const steady_points* extremes, const band_plan& plan);

/// The same count of the frequencies whose sine overflowed its sample word (the
/// `sample_overflowed` flags of `run` and `extremes`).
[[nodiscard]] band_wraps measured_sample_overflows(const precision_sweeps& sweeps,
                                                   const swept_precision& run,
                                                   const steady_points* extremes,
                                                   const band_plan& plan);

}  // namespace fixfir
