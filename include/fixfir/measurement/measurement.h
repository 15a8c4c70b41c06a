#pragma once
// The report's measurements at one precision or at many: the bands, the four responses,
// the sweep, the waveform test, and the figures the summary, the scan and the pictures show.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/precision_sweep.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/response_figures.h"
#include "fixfir/measurement/spectrum.h"
#include "fixfir/measurement/steady_state.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir {

/// What one report or scan is asked for.
struct report_request {
  std::int32_t precision = 0;
  frequency_settings tones;
  std::int32_t sweep_step = 1;
  band_plan given;       ///< bands named on the command line, if any
  unsigned threads = 0;  ///< worker threads; 0 for one per core
  std::function<void(std::size_t, std::size_t)> progress;  ///< told as the sweep goes
  /// The datapath to measure on, as the user described it; unset: fixfir's precision
  /// `precision` (precision_datapath). Either way the run service measures the filter on
  /// its datapath; how it was asked for decides what the report adds (`asked`).
  std::optional<datapath> path;
};

/// What a report asked for as fixfir's precision P says of the 32-bit accumulator.
struct precision_bounds {
  wrap_bound bound;                             ///< the worst case at P (`bound.precision`)
  std::optional<std::int32_t> wrap_free_limit;  ///< none when no precision is wrap-free
};

/// Everything a report on one datapath says and draws.
struct precision_report {
  band_setup bands;
  fixed_filter fixed;      ///< the taps on the report's datapath, quantized once
  double tap_error = 0.0;  ///< largest |tap − coefficient ÷ 2^F_c|
  dense_response coefficient_response;
  response_figures figures;
  precision_sweeps sweeps;  ///< one run: the report's filter
  steady_points extremes;   ///< at the `band_extremes` of the coefficients
  waveform_signal signal;
  std::vector<double> reference;  ///< the unquantized filter on the waveform test
  waveform_figures waveform;
  std::vector<double> predicted_spectrum;  ///< per SPECTRUM_SEGMENT bin; at a precision only
  /// How the datapath was asked for, and what that adds: at fixfir's precision P (the
  /// request's `precision`), the accumulator's bounds at P and the error split with its
  /// prediction (`waveform.split`); as a datapath of its own (the request's `path`), the
  /// waveform test's error three ways and what overflowed.
  std::variant<precision_bounds, datapath_budget> asked;
};

/// Measures `taps` on `options.path`, or at `options.precision` when it has none. Fails with
/// bad_input when given bands (or the datapath) do not make sense, with out_of_memory when
/// memory runs out, and with interrupted when the keep-going check (parallel_chunks.h)
/// stops the run.
[[nodiscard]] outcome run_precision_report(std::span<const float> taps,
                                           const report_request& options, precision_report& out);

/// The report's figures as the scan's row of its precision (or datapath), judged as the
/// scan judges one: the steady state's attenuation and ripple (the quantized coefficients'
/// where it was not measured), the waveform test's SNR, and wraps anywhere.
[[nodiscard]] precision_row report_row(const precision_report& r);

/// The summary's last line when targets are given: "targets: met (...)" or "targets:
/// missed: " and what misses by how much. NaN fields of `asked` take the scan's defaults.
[[nodiscard]] std::string report_verdict_line(const precision_report& r,
                                              const precision_targets& asked);

/// A scan of every precision from 0 to 30.
struct scan_report {
  band_setup bands;
  band_figures_db taps_figures;
  std::vector<precision_row> rows;
  precision_targets targets;
  recommendation choice;
  std::optional<std::int32_t> wrap_free_limit;  ///< none when no precision is wrap-free
  /// Why the fixed-point steady state has no figures ("" when it has): the attenuation and
  /// ripple targets then apply to the quantized coefficients.
  std::string steady_absent;
};

/// Scans `taps`. NaN fields of `asked` take their defaults: the unquantized attenuation
/// less 1 dB, the unquantized ripple plus 0.1 dB, and no SNR target.
/// Fails as `run_precision_report` does.
[[nodiscard]] outcome run_scan(std::span<const float> taps, const report_request& options,
                               const precision_targets& asked, scan_report& out);

}  // namespace fixfir
