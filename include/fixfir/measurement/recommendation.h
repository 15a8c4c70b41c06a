#pragma once
// Which precision to choose: what was measured at each precision, the designer's
// targets, and the smallest precision that meets them.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fixfir/measurement/steady_state.h"

namespace fixfir {

/// What was measured at one precision.
struct precision_row {
  std::int32_t precision = 0;
  std::int64_t waveform_wraps = 0;  ///< samples of the waveform test that wrapped
  std::int32_t sweep_wraps = 0;     ///< swept frequencies whose run wrapped
  std::int32_t sweep_frequencies = 0;
  bool wrap_free = false;              ///< no input can wrap (see wrap_bound)
  double snr_db = 0.0;                 ///< the waveform test's output SNR
  double coefficient_ripple_db = 0.0;  ///< quantized coefficients, exact arithmetic
  double coefficient_attenuation_db = 0.0;
  double fixed_ripple_db = 0.0;  ///< the fixed-point filter in steady state
  double fixed_attenuation_db = 0.0;
  /// Of the frequencies the fixed-point ripple (pass bands) and attenuation (all bands)
  /// are measured at, how many, and how many of them wrapped the accumulator.
  std::int32_t ripple_frequencies = 0;
  std::int32_t ripple_wraps = 0;
  std::int32_t attenuation_frequencies = 0;
  std::int32_t attenuation_wraps = 0;
  /// Whether the fixed-point figures were measured. When not, they are NaN, and the
  /// attenuation and ripple targets are judged on the quantized coefficients' figures.
  steady_reach steady = steady_reach::measured;
  /// Every coefficient is 0: the ripple and attenuation are NaN (no level in dB), and the
  /// table and the reasons say "silent".
  bool silent = false;
};

/// What the designer asks of a precision. A NaN target is no target.
struct precision_targets {
  double min_attenuation_db = 0.0;
  double max_ripple_db = 0.0;
  double min_snr_db = 0.0;
};

/// `asked` with a scan's defaults where a target is NaN: the unquantized taps' attenuation
/// less 1 dB and their ripple plus 0.1 dB (still NaN where the taps have no such figure).
/// The SNR has no default.
[[nodiscard]] precision_targets targets_with_defaults(const precision_targets& asked,
                                                      double taps_attenuation_db,
                                                      double taps_ripple_db) noexcept;

/// One thing that keeps a precision from meeting the targets.
struct target_miss {
  /// The keyword of the target missed ("min_attenuation_db", "max_ripple_db",
  /// "min_snr_db"), or where the accumulator wrapped ("waveform_wraps", "sweep_wraps",
  /// "steady_wraps").
  std::string target;
  double by = 0.0;   ///< how far the figure falls short, in dB (NaN when it is NaN); or the wraps
  std::string text;  ///< "attenuation 50.64 dB < 51.25 dB", as the scan's why says it
  /// " (accumulator wraps at K of the N frequencies measured)" after `text` when the figure
  /// was measured where the accumulator wrapped; "" otherwise.
  std::string note;
};

/// What keeps `row` from meeting `targets`, judged as the scan judges it (wraps anywhere
/// are misses too); empty when it meets them all. `saturates`: the accumulator saturates
/// rather than wraps, and the texts say so.
[[nodiscard]] std::vector<target_miss> target_misses(const precision_row& row,
                                                     const precision_targets& targets,
                                                     bool saturates = false);

/// The verdict on `row`: "targets: met (attenuation >= 51.25 dB, ..., no wrap)" or
/// "targets: missed: " and each miss with how far it falls short ("attenuation 50.64 dB <
/// 51.25 dB (0.61 dB short)"), and where it wrapped.
[[nodiscard]] std::string target_verdict_line(const precision_row& row,
                                              const precision_targets& targets,
                                              bool saturates = false);

/// The choice and the one line that says why.
struct recommendation {
  std::optional<std::int32_t> precision;  ///< none when no precision meets the targets
  std::string reason;
};

/// The smallest precision whose fixed-point steady state meets the attenuation and
/// ripple targets, whose waveform test meets the SNR target, and that wrapped nowhere
/// (neither the waveform test nor any swept frequency). A NaN figure meets no target. A
/// row whose steady state was not measured is judged on its quantized coefficients'
/// attenuation and ripple instead, and the reason says so. When none meets them, the
/// reason names the target that no precision without wraps reaches (or says that none
/// meets them together) and suggests --explore, whose wider words and accumulators may.
[[nodiscard]] recommendation recommend_precision(std::span<const precision_row> rows,
                                                 const precision_targets& targets);

}  // namespace fixfir
