#pragma once
// Every line of the scan's text (--scan): the targets, the bands, the table of every
// precision, and the recommendation.

#include <span>
#include <string>
#include <vector>

#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/recommendation.h"

namespace fixfir {

/// The scan's table, one row per precision, with its header. Fixed-point figures that were
/// not measured read "not reached" or "not measured", and the figures of a precision whose
/// every coefficient is 0 read "silent".
[[nodiscard]] std::vector<std::string> scan_table(std::span<const precision_row> rows);

/// The words of each target on a targets line: "at least 51.25 dB" (attenuation, SNR), "at
/// most 0.1333 dB" (ripple), or "any" when not set, with why where the bands cannot have
/// it ("any (no passband)", "any (no stopband)", "any (not measurable)").
struct target_words {
  std::string attenuation;
  std::string ripple;
  std::string snr;
};
[[nodiscard]] target_words target_words_of(const precision_targets& t, const band_plan& plan);

/// The scan's text: targets, bands, the table, the precisions whose every coefficient is 0
/// (when there are any), the wrap-free limit, and last the recommendation and the line that
/// says why.
[[nodiscard]] std::vector<std::string> scan_lines(const scan_report& r);

}  // namespace fixfir
