#pragma once
// Pass bands and stop bands: their text, the rules given bands must keep, and what a
// magnitude response does in them. Ripple is the largest minus the smallest level (dB)
// over all pass bands together; the attenuation of a stop band is the largest pass-band
// level minus the largest level in that stop band (dB).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/common/result.h"
#include "fixfir/measurement/sample_rate.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {

/// A band of frequencies, both edges included.
struct band {
  double low = 0.0;
  double high = 0.0;
};

/// The bands a report measures. `*_given` says that the user named them (--passband,
/// --stopband) rather than that they were inferred from the unquantized taps.
struct band_plan {
  std::vector<band> passbands;
  std::vector<band> stopbands;
  bool passbands_given = false;
  bool stopbands_given = false;
  /// The rate the user's filter runs at: the edges are internal hertz (sample_rate.h), and
  /// every text about the plan gives them in hertz at this rate.
  double sample_rate = DEFAULT_SAMPLE_RATE;
};

/// A response's figures over a band plan. NaN where a band holds no point.
struct band_figures_db {
  double passband_max_db = 0.0;                  ///< the largest level over all pass bands
  double ripple_db = 0.0;                        ///< largest minus smallest pass-band level
  std::vector<double> attenuation_db;            ///< one per stop band, in the plan's order
  double worst_attenuation_db = 0.0;             ///< the smallest of them
  bool passbands_measured = false;               ///< some pass band held a point
  std::vector<std::uint8_t> stopbands_measured;  ///< per stop band: it held a point
};

/// `hertz` as the shortest decimal that reads back as the same number: "1561", "1030.48",
/// "1e-05"; never "-0".
[[nodiscard]] std::string hertz_text(double hertz);

/// "LO to HI Hz" at `rate`, with `rate_hertz_text`.
[[nodiscard]] std::string band_text(const band& b, double rate = DEFAULT_SAMPLE_RATE);

/// Checks a band given as numbers: 0 ≤ LO < HI ≤ 8000, and gives it back with -0 taken as 0.
/// Otherwise a bad_input error says what is wrong in a few words.
[[nodiscard]] result<band> check_band(band b);

/// Reads "LO:HI" in hertz at `rate` (decimal numbers, 0 ≤ LO < HI ≤ rate / 2) as a band in
/// internal hertz. Otherwise a bad_input error says what is wrong in a few words.
[[nodiscard]] result<band> parse_band(std::string_view text, double rate = DEFAULT_SAMPLE_RATE);

/// A problem with given bands of one kind (`pass` or stop), or "": a band that holds no
/// frequency from 4 to 7996 Hz, where the steady state is measured, or two bands that
/// overlap (sharing only an edge is not overlapping). The message names the bands in hertz
/// at `rate`.
[[nodiscard]] std::string band_list_problem(const std::vector<band>& bands, bool pass,
                                            double rate = DEFAULT_SAMPLE_RATE);

/// A problem with a plan, or "": the `band_list_problem` of each kind that was given, a
/// pass band overlapping a stop band (sharing only an edge is allowed), no pass band.
[[nodiscard]] std::string band_plan_problem(const band_plan& plan);

/// The points of a dense response that lie in the plan's bands, plus each band edge's
/// exact level from `h` (the same tap set), so that a level at an edge is not missed.
/// An out_of_memory error when memory runs out, interrupted when `keep_going` says stop.
[[nodiscard]] outcome band_points(const dense_response& response, std::span<const double> h,
                                  const band_plan& plan, response_points& out) noexcept;

/// The figures of `points` over `plan`.
[[nodiscard]] band_figures_db measure_plan(const response_points& points, const band_plan& plan);

}  // namespace fixfir
