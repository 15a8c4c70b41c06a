#pragma once
// Pass bands and stop bands, and what a magnitude response does in them.
//
// Frequencies are in hertz from 0 to 8000 (half of 16,000 samples per second). A response
// is either dense (the steady-state magnitude of a tap set on a uniform grid, computed by
// one FFT) or a list of measured points (one per swept frequency). Ripple is the largest
// minus the smallest level (dB) over all pass bands together; the attenuation of a stop
// band is the largest pass-band level minus the largest level in that stop band (dB).
//
// Nothing here throws: functions that allocate report running out of memory as false.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fixfir {

/// Half the sample rate: the highest frequency a response is drawn or measured at.
inline constexpr double NYQUIST_HZ = 8000.0;

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
};

/// A magnitude response on the uniform grid 0, spacing, 2·spacing, … 8000 Hz.
///
/// Accuracy: the grid has `dense_grid_size(taps)` / 2 + 1 points, at least 16 per 1000 Hz
/// and at least 16 per 16000 / taps Hz (the width of one ripple or side lobe) up to 2^20
/// grid points in all. A lobe's top can fall between grid points; with 16 points a lobe
/// the level read is at most about 0.02 dB below it (above 65536 taps, fewer points a
/// lobe). The FFT's rounding is about 1e-15 of the taps' absolute sum, so levels down to
/// some 250 dB below the taps' sum are resolved.
struct dense_response {
  double spacing = 0.0;
  std::vector<double> magnitude;
};

/// Frequencies and levels (real units, not dB), in rising frequency order.
struct response_points {
  std::vector<double> frequency;
  std::vector<double> magnitude;
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

/// The FFT length used for `taps` taps: a power of two, at least 16384 and 16 · taps,
/// at most 2^20 (longer tap sets are folded onto it, which is exact at the grid points).
[[nodiscard]] std::size_t dense_grid_size(std::size_t taps) noexcept;

/// |Σ h[j] e^(-iωj)| on the grid, ω = 2π f / 16000. False when memory runs out.
[[nodiscard]] bool dense_magnitude(std::span<const double> h, dense_response& out) noexcept;

/// The unquantized taps' response |H(f)|.
[[nodiscard]] bool taps_response(std::span<const float> taps, dense_response& out) noexcept;

/// The quantized coefficients' response |C(f)| / scale: the filter that coefficient
/// quantization alone leaves, with exact arithmetic. `scale` must not be 0.
[[nodiscard]] bool coefficients_response(std::span<const std::int32_t> coefficients, double scale,
                                         dense_response& out) noexcept;

/// |Σ h[j] e^(-iωj)| at one frequency, summed directly.
[[nodiscard]] double magnitude_at(std::span<const double> h, double frequency) noexcept;

/// Welch's averaged power spectrum of `x`: Hann-windowed segments of `segment` samples (a
/// power of two) overlapping by half, out[k] for k = 0 … segment / 2 at k · 16000 /
/// segment Hz, scaled so that white noise of variance v reads 2 v / segment at every k
/// (the power in one bin) and a sine of amplitude A about A² / 3 at its bin. With fewer
/// than `segment` samples, `x` is zero-padded to one segment. False when memory runs out.
[[nodiscard]] bool averaged_spectrum(std::span<const double> x, std::size_t segment,
                                     std::vector<double>& out) noexcept;

/// The segment of the waveform test's spectra: the output error's power, its parts and
/// its prediction per bin of this many samples.
inline constexpr std::size_t SPECTRUM_SEGMENT = 1024;

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

/// Moves the inner edges of inferred bands (`infer_bands`) out to the edges of the
/// least-squares design that `taps` are, when they are one; true when it did.
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
/// alternate pass and stop bands from 0 to 8000 Hz, `plan` is left as it is; so it is when
/// memory runs out. Up to 2047 taps this takes well under a second.
bool refine_least_squares_bands(std::span<const float> taps, band_plan& plan) noexcept;

/// `hertz` as the shortest decimal that reads back as the same number: "1561", "1030.48",
/// "1e-05"; never "-0".
[[nodiscard]] std::string hertz_text(double hertz);

/// "LO to HI Hz", with `hertz_text`.
[[nodiscard]] std::string band_text(const band& b);

/// Checks a band given as numbers: 0 ≤ LO < HI ≤ 8000 (-0 is taken as 0). On failure
/// `message` says what is wrong in a few words.
[[nodiscard]] bool check_band(band& b, std::string& message);

/// Reads "LO:HI" in hertz (decimal numbers, 0 ≤ LO < HI ≤ 8000). On failure `message`
/// says what is wrong in a few words.
[[nodiscard]] bool parse_band(std::string_view text, band& out, std::string& message);

/// A problem with given bands of one kind (`pass` or stop), or "": a band that holds no
/// frequency from 4 to 7996 Hz, where the steady state is measured, or two bands that
/// overlap (sharing only an edge is not overlapping). The message names the bands.
[[nodiscard]] std::string band_list_problem(const std::vector<band>& bands, bool pass);

/// A problem with a plan, or "": the `band_list_problem` of each kind that was given, a
/// pass band overlapping a stop band (sharing only an edge is allowed), no pass band.
[[nodiscard]] std::string band_plan_problem(const band_plan& plan);

/// The points of a dense response that lie in the plan's bands, plus each band edge's
/// exact level from `h` (the same tap set), so that a level at an edge is not missed.
/// False when memory runs out or `keep_going` says stop.
[[nodiscard]] bool band_points(const dense_response& response, std::span<const double> h,
                               const band_plan& plan, response_points& out) noexcept;

/// The figures of `points` over `plan`.
[[nodiscard]] band_figures_db measure_plan(const response_points& points, const band_plan& plan);

}  // namespace fixfir
