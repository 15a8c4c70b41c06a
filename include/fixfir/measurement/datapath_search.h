#pragma once
// The cheapest datapath that meets the design: a search over the coefficient word, the
// sample word and the rounding, each candidate built as a designer builds it and measured.
//
// A candidate has a coefficient word of W_c bits whose fraction is the largest that holds
// the largest |tap|, samples of W_x bits with W_x - 1 fractional bits that saturate at full
// scale as a converter does, and the narrowest accumulator no input can overflow (within the
// 8 to 64 bits a datapath has). Everything saturates, as the report's --overflow saturate
// makes it, so the options recommended_options names make the very datapath again. Its
// figures are measured as the report measures them on a datapath: the fixed-point steady
// state over the sweep's frequencies and the coefficients' band extremes, and the waveform
// test's SNR. The targets are the scan's, but for the SNR's default: the attenuation target.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/common/result.h"
#include "fixfir/measurement/measurement.h"

namespace fixfir {

/// The words searched: 4 to 32 bits each.
inline constexpr std::int32_t SEARCH_BITS_MIN = 4;
inline constexpr std::int32_t SEARCH_BITS_MAX = 32;

/// The axes the designer has fixed; an unset one is searched (rounding: toward zero and to
/// nearest).
struct search_axes {
  std::optional<std::int32_t> coefficient_bits;
  std::optional<std::int32_t> sample_bits;
  std::optional<std::int32_t> accumulator_bits;
  std::optional<rounding_mode> rounding;
  /// The system's output word, fixed for every candidate (bits 0: none).
  output_stage output;
};

/// The output stage `c` chooses for a search of `taps` (none without `output_bits`): its
/// fraction, when not given, worked out on 24-bit words and an accumulator that holds every
/// sum, so that a full-scale output fits whatever words the search picks.
[[nodiscard]] output_stage search_output_stage(std::span<const float> taps,
                                               const datapath_choices& c);

/// An empty text when `axes` can be searched, else what is wrong, naming the report's option
/// as datapath_problem does: words of 2 to 32 bits, an accumulator of 8 to 64, and a
/// rounding the search tries (toward zero or to nearest; floor is not one).
[[nodiscard]] std::string search_axes_problem(const search_axes& axes);

/// What a candidate costs: multiplier bits W_c × W_x plus accumulator bits A (`multiplier`),
/// or the bits of the words and the accumulator W_c + W_x + A (`bits`).
/// What the search minimises. `cells` searches with the `multiplier` formula; the report then
/// synthesizes the front's cheapest and recommends the one with the fewest cells.
enum class cost_model : std::uint8_t { multiplier, bits, cells };

/// One measured candidate.
struct candidate {
  datapath path;
  double attenuation_db = 0.0;  ///< fixed point, steady state (or the coefficients', below)
  double ripple_db = 0.0;
  double snr_db = 0.0;  ///< waveform test; NaN when not measured
  /// Taps that do not fit the coefficient word, plus the accumulator overflows in the runs
  /// measured: a candidate that overflows meets no target.
  std::int64_t overflows = 0;
  std::int64_t coefficient_overflows = 0;  ///< taps that do not fit the coefficient word
  /// Its coefficients alone miss a target by far, or do not fit their word: not run.
  bool coefficients_only = false;
  bool meets = false;
  std::int64_t cost = 0;
};

/// The search's result.
struct search_report {
  band_setup bands;
  band_figures_db taps_figures;
  precision_targets targets;
  /// The SNR target was not asked for: it is the attenuation target, the quantization noise
  /// no louder than what the stop band lets through.
  bool snr_target_is_attenuation = false;
  std::size_t tap_count = 0;
  /// Per coefficient word and rounding, the narrowest sample word that meets the targets
  /// (`meets`), or the best tried when none does.
  std::vector<candidate> front;
  std::vector<candidate> measured;         ///< every candidate measured, for the picture
  std::optional<std::size_t> recommended;  ///< index into `front`; none: none meets the targets
  std::string why;
  /// Where nothing meets the targets: the best any measured candidate reached.
  double best_attenuation_db = 0.0;
  double best_ripple_db = 0.0;
  double best_snr_db = 0.0;
  /// Why the fixed-point steady state has no figures ("" when it has): the attenuation and
  /// ripple targets then apply to the quantized coefficients, and the lines say so.
  steady_reach steady = steady_reach::measured;
  std::string steady_absent;
};

/// Searches the datapaths of `taps` for the cheapest that meets `asked`, within `axes`,
/// measuring the waveform test `options.tones` and the sweep at `options.sweep_step`. NaN
/// fields of `asked` take the scan's defaults for the attenuation and the ripple, and the
/// attenuation target for the SNR. Fails as `run_precision_report` does: bad_input for given
/// bands or axes that make no sense (search_axes_problem), out_of_memory, or interrupted when
/// the keep-going check (parallel_chunks.h) stops it.
[[nodiscard]] outcome run_datapath_search(std::span<const float> taps,
                                          const report_request& options,
                                          const precision_targets& asked, const search_axes& axes,
                                          cost_model cost, search_report& out);

}  // namespace fixfir
