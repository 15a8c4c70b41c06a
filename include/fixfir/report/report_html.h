#pragma once
// report.html: the summary, the scan's table or the search's targets and front, the
// recommendation and the pictures as inline SVG, in one file that needs nothing outside itself.
// Every piece of text is escaped when the page is built; only gnuplot's SVG goes in as it is, once
// checked.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

inline constexpr const char* page_name = "report.html";

/// A picture on the page: gnuplot's SVG, checked by `svg_for_page`, and what it shows.
struct page_figure {
  std::string caption;
  std::string svg;
};

/// A datapath search on the page: its targets, and its front as the text prints it.
struct page_search {
  std::vector<std::string> targets;        ///< "label: value" lines, one a target
  std::string front_heading;               ///< what the front is, in a sentence
  std::vector<std::string> front;          ///< the front's text table, header first; may be empty
  std::optional<std::size_t> recommended;  ///< the recommended row of `front` (0: the first
                                           ///< after the header), if any
};

/// What a page shows, as plain text.
struct page_content {
  std::string title;
  std::vector<std::string> summary;     ///< "label: value" lines, as the summary prints them
  std::vector<std::string> scan_table;  ///< the scan's text table, header first; may be empty
  std::string recommended;              ///< the first cell of the recommended row, if any
  page_search search;                   ///< shown when its front is not empty
  std::vector<std::string> choice;      ///< the recommendation and why, "label: value" lines
  std::vector<page_figure> figures;     ///< in the order shown
  std::string note;                     ///< shown where the pictures would be, when set
};

/// `text` with &, <, >, " and ' written as character references.
[[nodiscard]] std::string html_escape(std::string_view text);

/// The `<svg>` element of an SVG file written by gnuplot, without the XML declaration,
/// doctype or comments before it. A failed error when the text is not one `<svg>` element
/// or refers to anything outside itself (a link to a file or a site).
[[nodiscard]] result<std::string> svg_for_page(std::string_view file_text);

/// The whole page.
[[nodiscard]] std::string html_page(const page_content& content);

}  // namespace fixfir
