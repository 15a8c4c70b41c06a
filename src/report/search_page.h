#pragma once
// What report.html shows of a datapath search (--explore --html).

#include <cstdint>
#include <string>
#include <vector>

#include "fixfir/measurement/datapath_search.h"
#include "fixfir/report/report_html.h"

namespace fixfir {

// The page of the search `r` over `count` taps: `lines`, the run's text before the
// recommendation, as the summary but for its targets and front, which the page shows as
// tables; and `last`, the recommendation and why.
[[nodiscard]] page_content search_page(const search_report& r, std::int32_t count,
                                       const std::vector<std::string>& lines,
                                       const std::vector<std::string>& last);

}  // namespace fixfir
