#pragma once
// The report's measurements at one precision or at many: the sweep run once per frequency
// for every precision asked for (the sines, their cosines and the double-precision run of
// the unquantized taps are the same at every precision, so they are made once), the
// waveform test, and the figures the summary, the scan and the pictures show.
//
// Nothing here throws: running out of memory is a false result.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "records.h"
#include "report_bands.h"
#include "report_model.h"
#include "report_precision.h"

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
};

/// The sweeps of several precisions over the same frequencies.
struct precision_sweeps {
  std::vector<std::int32_t> frequency;
  std::vector<swept_precision> runs;
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
/// tops of each band and the `per_band` lowest dips of each pass band, kept within the
/// sweep's 4 to 7996 Hz, in rising order without repeats.
[[nodiscard]] std::vector<double> band_extremes(const dense_response& coefficients,
                                                const band_plan& plan, std::size_t per_band = 8);

/// The steady state of a fixed-point filter at chosen frequencies.
struct steady_points {
  std::vector<double> frequency;
  std::vector<double> steady;         ///< the fitted amplitude
  std::vector<std::uint8_t> wrapped;  ///< whether an output of the fit wrapped
};

/// The steady-state amplitude of the fixed-point `filter` at each of `out.frequency`
/// (Hz, any value from 4 to 7996), fitted exactly as `sweep_precisions` fits it: a unit
/// sine from rest on the sweep's clock, over the last STEADY_FIT_SAMPLES of SWEEP_SAMPLES
/// samples, and whether any output of that fit wrapped (checked exactly unless no input
/// can wrap the filter). False when memory runs out.
[[nodiscard]] bool steady_amplitudes(const quantized_filter& filter, unsigned threads,
                                     steady_points& out) noexcept;

/// The measurable points of one series of a sweep (8000 Hz, sampled at its zero
/// crossings, is left out).
[[nodiscard]] response_points sweep_series_points(const precision_sweeps& sweeps,
                                                  const std::vector<double>& series);

/// The unquantized taps' dense response and the bands the report measures: the given
/// ones, and for a kind not given, those inferred from the response.
struct band_setup {
  dense_response response;
  band_plan plan;
};

/// Fills `setup` for `taps`, taking `given`'s pass bands and stop bands where it has them.
/// On a problem (no pass band, overlapping bands) `message` says what.
[[nodiscard]] bool setup_bands(std::span<const float> taps, const band_plan& given,
                               band_setup& setup, std::string& message);

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
  /// Whether `steady` was measured; when not, its figures are NaN and `steady_absent`
  /// says why (see `steady_absence`).
  steady_reach steady_state = steady_reach::measured;
  std::string steady_absent;
};

/// The figures of the unquantized taps over `setup`'s plan.
[[nodiscard]] bool taps_figures(std::span<const float> taps, const band_setup& setup,
                                band_figures_db& out);

/// The figures of `coefficients` ÷ `scale` over `plan`; `response` receives their dense
/// response.
[[nodiscard]] bool coefficient_figures(std::span<const std::int32_t> coefficients, double scale,
                                       const band_plan& plan, dense_response& response,
                                       band_figures_db& out);

/// The waveform test at one precision: wraps, SNR and, when `split` is set, where the
/// error comes from. `reference` is the unquantized filter's output on `input`.
struct waveform_figures {
  std::int64_t wraps = 0;
  double snr_db = 0.0;
  error_split split;
  std::vector<double> fixed_output;
  std::vector<double> coefficient_output;  ///< only with `split`
};

[[nodiscard]] bool measure_waveform(const quantized_filter& filter, std::span<const double> input,
                                    std::span<const double> reference, bool split,
                                    waveform_figures& out);

/// The truncation model's arithmetic error spectrum on the grid of `averaged_spectrum`
/// with `segment` samples: the spectrum of the filtered mean error plus the white part
/// shaped by |C(f)| / scale. False when memory runs out or `keep_going` says stop.
[[nodiscard]] bool predicted_error_spectrum(std::span<const std::int32_t> coefficients,
                                            double scale, std::span<const double> input,
                                            std::size_t segment, std::vector<double>& out);

/// Text of the summary lines about the bands: "passbands (...): 0 to 1820 Hz" and the
/// same for the stop bands.
[[nodiscard]] std::vector<std::string> band_lines(const band_plan& plan);

/// Text of the ripple and attenuation lines of the four responses, worst stop band first,
/// then each stop band when there are several. A figure measured at frequencies whose
/// accumulator wrapped says at how many; a steady state that was not measured says why in
/// place of its figures.
[[nodiscard]] std::vector<std::string> response_lines(const band_plan& plan,
                                                      const response_figures& figures);

/// The scan's table, one row per precision, with its header. Fixed-point figures that were
/// not measured read "not reached" or "not measured".
[[nodiscard]] std::vector<std::string> scan_table(std::span<const precision_row> rows);

/// What one report or scan is asked for.
struct science_options {
  std::int32_t precision = 0;
  frequency_settings tones;
  std::int32_t sweep_step = 1;
  band_plan given;  ///< bands named on the command line, if any
  unsigned threads = 1;
  std::function<void(std::size_t, std::size_t)> progress;  ///< told as the sweep goes
};

/// Everything a report at one precision says and draws.
struct precision_report {
  band_setup bands;
  std::vector<std::int32_t> coefficients;
  quantized_filter filter;  ///< over `coefficients`
  dense_response coefficient_response;
  response_figures figures;
  precision_sweeps sweeps;  ///< one run: the chosen precision
  steady_points extremes;   ///< at the `band_extremes` of the coefficients
  waveform_signal signal;
  std::vector<double> reference;  ///< the unquantized filter on the waveform test
  waveform_figures waveform;
  std::int32_t wrap_free_limit = -1;
  wrap_bound bound;
  std::vector<double> predicted_spectrum;  ///< per SPECTRUM_SEGMENT bin, for waves.png
};

/// Measures `taps` at `options.precision`. On failure `message` says why (bands that do
/// not make sense, or memory).
[[nodiscard]] bool run_precision_report(std::span<const float> taps, const science_options& options,
                                        precision_report& out, std::string& message);

/// The summary lines of a report after the sweep line: bands, the four responses, wraps,
/// the wrap-free limit and headroom, and where the waveform test's error comes from.
[[nodiscard]] std::vector<std::string> precision_report_lines(const precision_report& r,
                                                              std::int32_t precision);

/// A scan of every precision from 0 to 30.
struct scan_report {
  band_setup bands;
  band_figures_db taps_figures;
  std::vector<precision_row> rows;
  precision_targets targets;
  recommendation choice;
  std::int32_t wrap_free_limit = -1;
  /// Why the fixed-point steady state has no figures ("" when it has): the attenuation and
  /// ripple targets then apply to the quantized coefficients.
  std::string steady_absent;
};

/// Scans `taps`. NaN fields of `asked` take their defaults: the unquantized attenuation
/// less 1 dB, the unquantized ripple plus 0.1 dB, and no SNR target.
[[nodiscard]] bool run_scan(std::span<const float> taps, const science_options& options,
                            const precision_targets& asked, scan_report& out, std::string& message);

/// The scan's text: targets, bands, the table, the wrap-free limit, and last the
/// recommendation and the line that says why.
[[nodiscard]] std::vector<std::string> scan_lines(const scan_report& r);

}  // namespace fixfir
