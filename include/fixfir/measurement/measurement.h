#pragma once
// The report's measurements at one precision or at many: the bands, the four responses,
// the sweep, the waveform test, and the figures the summary, the scan and the pictures show.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
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
  /// The datapath to measure on; unset: the seed's at `precision`, measured by the
  /// 32-bit engine. Set, every figure is measured on it (a seed datapath too).
  std::optional<datapath> path;
};

/// What a report on a chosen datapath says besides a seed report's figures.
struct datapath_figures {
  bool measured = false;   ///< the report was made on a chosen datapath
  double tap_error = 0.0;  ///< largest |tap − coefficient ÷ 2^F_c|
  /// Accumulator bits that no input can overflow (accumulator_bits_needed).
  std::int32_t accumulator_bits_needed = 0;
  std::int32_t sweep_sample_overflows = 0;  ///< frequencies where some sample overflowed
  datapath_budget budget;                   ///< the waveform test's error, three ways
};

/// Everything a report at one precision says and draws.
struct precision_report {
  band_setup bands;
  fixed_filter fixed;  ///< the taps on the report's datapath, quantized once
  dense_response coefficient_response;
  response_figures figures;
  precision_sweeps sweeps;  ///< one run: the chosen precision
  steady_points extremes;   ///< at the `band_extremes` of the coefficients
  waveform_signal signal;
  std::vector<double> reference;  ///< the unquantized filter on the waveform test
  waveform_figures waveform;
  std::optional<std::int32_t> wrap_free_limit;  ///< none when no precision is wrap-free
  wrap_bound bound;
  std::vector<double> predicted_spectrum;  ///< per SPECTRUM_SEGMENT bin, for waves.png
  datapath_figures on_path;                ///< with a chosen datapath only
};

/// Measures `taps` at `options.precision`. Fails with bad_input when given bands (or the
/// datapath) do not make sense, with out_of_memory when memory runs out, and with interrupted
/// when the keep-going check (parallel_chunks.h) stops the run.
[[nodiscard]] outcome run_precision_report(std::span<const float> taps,
                                           const report_request& options, precision_report& out);

/// The summary lines of a report after the sweep line: bands, the four responses, wraps,

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

/// The scan's text: targets, bands, the table, the wrap-free limit, and last the

}  // namespace fixfir
