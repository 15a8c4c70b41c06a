#pragma once
// The pieces report.html is built of that more than one of its sections uses.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/report/report_html.h"

namespace fixfir {

// The cells of a printed table's `line`: the text between runs of at least `gap` blanks.
[[nodiscard]] std::vector<std::string> page_cells(std::string_view line, std::size_t gap);

// "label: value" lines as the rows of a two-column table, a line without ": " across both.
void add_label_rows(std::string& s, const std::vector<std::string>& lines);

// The search's targets and its front, each under its heading.
void add_search_section(std::string& s, const page_search& search);

}  // namespace fixfir
