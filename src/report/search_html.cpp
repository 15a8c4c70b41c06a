// The datapath search on report.html: its targets as a table, and its front as the text
// prints it, one row a coefficient word and rounding, with the recommendation starred.
#include <cstddef>
#include <string>
#include <vector>

#include "page_parts.h"

namespace fixfir {

namespace {

// A row of the front: every column, or the coefficient word, the rounding and why no sample
// word meets the targets ("none: ..."), which spans the other columns.
bool is_whole_row(const std::vector<std::string>& row, std::size_t columns) {
  return row.size() == columns;
}

bool is_none_row(const std::vector<std::string>& row, std::size_t columns) {
  return columns > 3 && row.size() == 3 && row[2].starts_with("none");
}

void add_front_as_printed(std::string& s, const std::vector<std::string>& front) {
  s += "<pre>";
  for (const std::string& line : front) s += html_escape(line) + "\n";
  s += "</pre>\n";
}

// The front's text table as an HTML table; one that does not split into its columns is
// shown as it is printed.
void add_front_table(std::string& s, const page_search& search) {
  const std::vector<std::string> header = page_cells(search.front.front(), 2);
  std::vector<std::vector<std::string>> rows;
  for (std::size_t i = 1; i < search.front.size(); ++i) {
    rows.push_back(page_cells(search.front[i], 2));
    if (!is_whole_row(rows.back(), header.size()) && !is_none_row(rows.back(), header.size())) {
      add_front_as_printed(s, search.front);
      return;
    }
  }
  s += "<table class=\"scan front\">\n<thead><tr>";
  for (const std::string& h : header) s += "<th scope=\"col\">" + html_escape(h) + "</th>";
  s += "</tr></thead>\n<tbody>\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::vector<std::string>& row = rows[i];
    const bool chosen = search.recommended == i && is_whole_row(row, header.size());
    s += chosen ? "<tr class=\"chosen\" title=\"recommended\">" : "<tr>";
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (row.size() < header.size() && c + 1 == row.size()) {
        s += "<td class=\"none\" colspan=\"" + std::to_string(header.size() - c) + "\">" +
             html_escape(row[c]) + "</td>";
      } else {
        s += "<td>" + html_escape(row[c]) + "</td>";
      }
    }
    s += "</tr>\n";
  }
  s += "</tbody>\n</table>\n";
}

}  // namespace

void add_search_section(std::string& s, const page_search& search) {
  if (!search.targets.empty()) {
    s += "<h2>Targets</h2>\n<table class=\"summary\">\n";
    add_label_rows(s, search.targets);
    s += "</table>\n";
  }
  if (search.front.empty()) return;
  s += "<h2>The front</h2>\n<p>" + html_escape(search.front_heading);
  s += search.recommended ? "; the recommendation is starred.</p>\n" : ".</p>\n";
  add_front_table(s, search);
}

}  // namespace fixfir
