#pragma once
// The report's pictures and its page: the charts drawn from a measurement by gnuplot,
// report.html showing them, and what the run says of where they went.

#include <cstdint>
#include <cstdio>

#include "fixfir/common/result.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/report/report_html.h"
#include "fixfir/report/report_options.h"

namespace fixfir {

// Drawing the pictures succeeds also when there is no gnuplot (said on `err`). It fails
// `failed` when gnuplot or a picture failed, and the run can still say the rest, or
// `cannot_write` when standard output or the page without pictures could not be written.
// The caller says the failure.

/// Draws response.png and waves.png of `r`, a report of `taps` taps at options.precision,
/// into options.dir, and with --html report.html showing them under `page`; says on `out`
/// where they went. With no gnuplot, and --html, writes the page without its pictures.
[[nodiscard]] outcome draw_report_pictures(const precision_report& r, std::int32_t taps,
                                           const report_options& options, const page_content& page,
                                           std::FILE* out, std::FILE* err);

/// Draws scan.png of `r` as draw_report_pictures draws its pictures.
[[nodiscard]] outcome draw_scan_picture(const scan_report& r, const report_options& options,
                                        const page_content& page, std::FILE* out, std::FILE* err);

/// Draws D/explore.png for a datapath search, as draw_scan_picture draws scan.png.
[[nodiscard]] outcome draw_explore_picture(const search_report& r, const report_options& options,
                                           const page_content& page, std::FILE* out,
                                           std::FILE* err);

}  // namespace fixfir
