#pragma once
// Every line of the report's summary; with it, the scan's text and the search's.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/figure_text.h"
#include "fixfir/measurement/hardware_facts.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/response_figures.h"
#include "fixfir/measurement/scan_text.h"
#include "fixfir/measurement/search_text.h"

namespace fixfir {

/// What a figure of a filter whose every coefficient is 0 reads in place of a level in dB.
inline constexpr const char* silent_words = "silent (every coefficient is 0)";

/// " (accumulator wraps at K of the N frequencies measured)" beside a figure measured at
/// `frequencies` frequencies of which `wraps` wrapped the accumulator; "" when none did.
[[nodiscard]] std::string wrap_note(std::int64_t wraps, std::int64_t frequencies,
                                    const char* verb = "wraps");

/// Text of the summary lines about the bands: "passbands (...): 0 to 1820 Hz" and the
/// same for the stop bands, in hertz at the plan's rate.
[[nodiscard]] std::vector<std::string> band_lines(const band_plan& plan);

/// Text of the ripple and attenuation lines of the four responses, worst stop band first,
/// then each stop band when there are several. A figure measured at frequencies whose
/// accumulator wrapped says at how many; a steady state that was not measured says why in
/// place of its figures.
[[nodiscard]] std::vector<std::string> response_lines(const band_plan& plan,
                                                      const response_figures& figures);

/// The summary lines of a report after the sweep line: bands, the four responses, wraps,
/// and at a precision the wrap-free limit and headroom and where the waveform test's error
/// comes from; on a datapath the user described, the datapath's own lines instead: sample
/// overflows, the accumulator bits no input can overflow, and the error split three ways.
[[nodiscard]] std::vector<std::string> precision_report_lines(const precision_report& r);

/// The whole summary of a report, as fixfir-report prints it: the taps ("taps: N from
/// `source`", or "taps: N" when `source` is empty), the precision or, on a datapath the user
/// described, the datapath and its coefficient overflows, the hardware facts of the taps
/// (hardware_fact_lines), the largest tap error, the waveform test with
/// its wraps or overflows and SNR, the sweep, then precision_report_lines. `o` and `taps`
/// are what `r` was measured with.
[[nodiscard]] std::vector<std::string> report_summary_lines(const precision_report& r,
                                                            const report_request& o,
                                                            std::span<const float> taps,
                                                            const std::string& source);

/// The summary's lines of what the unquantized taps tell a hardware designer: symmetry and
/// multipliers, group delay (in ms at `rate`), the gains at DC and at half of `rate`, and
/// the largest output with its bits of growth. `taps` is how many there are.
[[nodiscard]] std::vector<std::string> hardware_fact_lines(const hardware_facts& f,
                                                           std::size_t taps,
                                                           double rate = DEFAULT_SAMPLE_RATE);

/// "N of M what", with " (wrapped)" or " (saturated)" as `mode` says when N is not 0.
[[nodiscard]] std::string overflow_count_text(std::size_t overflows, std::size_t of,
                                              const char* what, overflow_mode mode);

/// "accumulator wraps" or "accumulator saturations", as `d` overflows.
[[nodiscard]] std::string accumulator_overflow_label(const datapath& d);

}  // namespace fixfir
