#pragma once
// The report's pictures as gnuplot script bodies carrying their data inline: the four
// responses (response.png), the waveform test with its error spectrum (waves.png) and the
// precision scan (scan.png). Each body draws to whatever terminal and output its caller set
// up before it, at the size it asks for; no file name appears in a body.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/error_model.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir {

/// A script body and the picture size it is drawn for.
struct plot_body {
  int width = 0;
  int height = 0;
  std::string script;
};

/// What response.png shows.
struct response_plot {
  std::int32_t taps = 0;
  std::int32_t precision = 0;
  /// What the fixed point runs on, for the title ("16-bit coefficients, 14-bit samples");
  /// empty: "precision P".
  std::string setting;
  bool saturating = false;  ///< the accumulator saturates rather than wraps
  const dense_response* taps_response = nullptr;
  const dense_response* coefficients_response = nullptr;
  std::span<const std::int32_t> frequency;        ///< swept frequencies
  std::span<const double> steady;                 ///< fixed point, steady state
  std::span<const double> sweep;                  ///< fixfir's peaks, transient included
  std::span<const std::uint8_t> wrapped;          ///< per swept frequency
  std::span<const double> extreme_frequency;      ///< band edges and lobe tops of |C(f)|
  std::span<const double> extreme_steady;         ///< fixed point, steady state there
  std::span<const std::uint8_t> extreme_wrapped;  ///< whether the fit there wrapped
  /// "" when the steady state was measured, else why not in a word or two ("not reached").
  std::string steady_absent;
  const band_plan* plan = nullptr;  ///< its rate is the frequency axis's
  band_figures_db taps_figures;     ///< for the ripple and attenuation levels
  /// The figures of every response the summary prints: their levels stay on the axis.
  std::span<const band_figures_db> summary_figures;
};

/// How far the magnitude axis reaches below the lowest stop-band lobe top of |H(f)| and
/// |C(f)|: the levels that matter, not the nulls between the lobes.
inline constexpr double MAGNITUDE_DEPTH_DB = 30.0;

/// The bottom of response.png's magnitude axis in dB: a multiple of 10 at least
/// MAGNITUDE_DEPTH_DB below the lowest stop-band lobe top (below the lowest pass-band level
/// without a stop band), and below every level `summary_figures` stand for.
[[nodiscard]] double magnitude_floor_db(const response_plot& p);

/// Two panels: the four responses in dB over 0 to 8000 Hz with the bands shaded, their
/// edges and the unquantized attenuation level marked; then the pass bands zoomed to
/// fractions of a dB with the unquantized ripple limits. The fixed point's steady state is a
/// curve only where the swept frequencies stand within an eighth of a side lobe
/// (2000 / taps Hz) of each other, and marked point by point elsewhere. Wrapped runs are
/// marked; the zoom leaves them out of its range and its title says when they fall outside
/// it.
[[nodiscard]] plot_body response_body(const response_plot& p);

/// What waves.png shows.
struct waves_plot {
  std::span<const double> time;
  std::span<const double> input;
  std::span<const double> fixed;
  std::span<const double> reference;  ///< the unquantized filter in double precision
  std::span<const double> coefficient_model;
  std::span<const double> predicted;  ///< predicted arithmetic error power per bin
  waveform_spectra spectra;           ///< the error's spectra; none drawn when empty
  std::int64_t wraps = 0;
  std::int32_t precision = 0;                ///< the error's unit is 2^-precision
  std::string setting;                       ///< as response_plot's
  bool saturating = false;                   ///< as response_plot's
  double sample_rate = DEFAULT_SAMPLE_RATE;  ///< the time and frequency axes are at this rate
};

/// Three panels: the first 20 ms of input and outputs; the output error (fixed point minus
/// double precision) over the same time in least significant bits (2^-precision), with its
/// coefficient-quantization part; then the spectrum of the output error in dB beside the
/// output signal's, the truncation model's floor and the coefficient-quantization error's,
/// in dB relative to 1.0² (the power of a constant sample of 1.0).
[[nodiscard]] plot_body waves_body(const waves_plot& p);

/// What scan.png shows.
struct scan_plot {
  std::span<const precision_row> rows;
  std::optional<std::int32_t> wrap_free_limit;
  std::optional<std::int32_t> recommended;
  precision_targets targets;
};

/// SNR and attenuation against precision (top), ripple on a log scale (bottom), with the
/// largest wrap-free precision, the recommendation, the targets and the wrapping
/// precisions marked.
[[nodiscard]] plot_body scan_body(const scan_plot& p);

/// What explore.png shows.
struct explore_plot {
  std::span<const candidate> measured;
  std::span<const candidate> front;
  std::optional<std::size_t> recommended;  ///< index into `front`; none: none meets
  precision_targets targets;
};

/// The coefficient-word × sample-word plane, one panel per rounding searched: each measured
/// candidate red when it misses a target and blue when it meets them all, darker the further
/// its margin to the attenuation and SNR targets (one that misses the ripple target or
/// overflows is crossed); the words whose coefficients alone miss a target in a "not run"
/// row at the bottom; the front, with each datapath's cost above its coefficient word; and
/// the recommendation. The sample-word axis holds the words measured, a wide stretch of
/// words with nothing measured folded into one row. Cells the search did not measure stay
/// empty, and the key names only the marks drawn.
[[nodiscard]] plot_body explore_body(const explore_plot& p);

}  // namespace fixfir
