#include "fixfir/report/report_html.h"

#include <cctype>
#include <cstddef>

#include "page_parts.h"

namespace fixfir {

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void trim_front(std::string_view& s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
}

// Drops a leading construct that opens with `open` and closes with `close`; false when
// there is none, or it never closes.
bool drop_leading(std::string_view& s, std::string_view open, std::string_view close) {
  if (!s.starts_with(open)) return false;
  const std::size_t end = s.find(close, open.size());
  if (end == std::string_view::npos) return false;
  s.remove_prefix(end + close.size());
  trim_front(s);
  return true;
}

// Whether the text refers to something outside the document: an href or src attribute,
// or a CSS url(), whose target is neither a '#' fragment nor a data: URL.
bool refers_outside(std::string_view svg) {
  for (const std::string_view key : {"href", "src", "url("}) {
    for (std::size_t at = svg.find(key); at != std::string_view::npos; at = svg.find(key, at + 1)) {
      std::size_t k = at + key.size();
      if (key != "url(") {
        // An attribute: the name, optional blanks, '=', optional blanks, a quote.
        while (k < svg.size() && is_space(svg[k])) ++k;
        if (k >= svg.size() || svg[k] != '=') continue;
        ++k;
        while (k < svg.size() && is_space(svg[k])) ++k;
        if (k >= svg.size() || (svg[k] != '"' && svg[k] != '\'')) continue;
        ++k;
      } else if (k < svg.size() && (svg[k] == '"' || svg[k] == '\'')) {
        ++k;
      }
      const std::string_view target = svg.substr(k);
      if (!target.starts_with('#') && !target.starts_with("data:")) return true;
    }
  }
  return false;
}

// The scan's text table as an HTML table: the header's columns are parted by two blanks
// or more, a row's by any; a table that does not split evenly is shown as it is printed.
void add_scan_table(std::string& s, const std::vector<std::string>& table,
                    const std::string& recommended) {
  const std::vector<std::string> header = page_cells(table.front(), 2);
  std::vector<std::vector<std::string>> rows;
  for (std::size_t i = 1; i < table.size(); ++i) {
    rows.push_back(page_cells(table[i], 1));
    if (rows.back().size() != header.size()) {
      s += "<pre>";
      for (const std::string& line : table) s += html_escape(line) + "\n";
      s += "</pre>\n";
      return;
    }
  }
  s += "<table class=\"scan\">\n<thead><tr>";
  for (const std::string& h : header) s += "<th scope=\"col\">" + html_escape(h) + "</th>";
  s += "</tr></thead>\n<tbody>\n";
  for (const std::vector<std::string>& row : rows) {
    const bool chosen = !recommended.empty() && row.front() == recommended;
    s += chosen ? "<tr class=\"chosen\">" : "<tr>";
    for (const std::string& c : row) s += "<td>" + html_escape(c) + "</td>";
    s += "</tr>\n";
  }
  s += "</tbody>\n</table>\n";
}

constexpr const char* style =
    "body{font-family:sans-serif;font-size:15px;color:#222;background:#fff;margin:0 auto;"
    "max-width:1140px;padding:16px 20px}\n"
    "h1{font-size:24px;margin:8px 0 16px}h2{font-size:19px;margin:28px 0 10px}\n"
    "table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:3px 8px}\n"
    "table.summary th{text-align:left;font-weight:normal;background:#f4f4f4}\n"
    "table.scan td{text-align:right;font-variant-numeric:tabular-nums}\n"
    "table.scan th{background:#f4f4f4;font-size:13px}\n"
    "tr.chosen td{background:#e4f2e4;font-weight:bold}\n"
    "table.front td.none{text-align:left;color:#555}\n"
    "table.front tr.chosen td:first-child::before{content:\"\\2605\\a0\";color:#e07000}\n"
    "div.choice{border-left:4px solid #3a8a3a;background:#f3f9f3;padding:8px 14px}\n"
    "div.choice p{margin:4px 0}div.choice p:first-child{font-weight:bold;font-size:17px}\n"
    "figure{margin:18px 0}figcaption{color:#555;margin:4px 0 8px}\n"
    "figure svg{display:block;width:100%;height:auto;border:1px solid #ddd}\n"
    "p.note{background:#fff6e0;border:1px solid #e8c870;padding:8px 14px}\n";

// gnuplot's script zooms a picture on the mouse wheel and pans every picture on the arrow
// keys; on a page of several pictures those scroll the page instead. Clicking a key entry
// still hides or shows its curve.
constexpr const char* script =
    "for(const t of['wheel','keydown'])window.addEventListener(t,e=>e.stopPropagation(),true);\n";

}  // namespace

void add_label_rows(std::string& s, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      s += "<tr><td colspan=\"2\">" + html_escape(line) + "</td></tr>\n";
    } else {
      s += "<tr><th scope=\"row\">" + html_escape(line.substr(0, colon)) + "</th><td>" +
           html_escape(line.substr(colon + 2)) + "</td></tr>\n";
    }
  }
}

std::vector<std::string> page_cells(std::string_view line, std::size_t gap) {
  std::vector<std::string> out;
  const std::string separator(gap, ' ');
  trim_front(line);
  while (!line.empty() && is_space(line.back())) line.remove_suffix(1);
  while (!line.empty()) {
    const std::size_t end = line.find(separator);
    out.emplace_back(line.substr(0, end));
    if (end == std::string_view::npos) break;
    line.remove_prefix(end);
    trim_front(line);
  }
  return out;
}

result<std::string> svg_for_page(std::string_view file_text) {
  std::string_view s = file_text;
  trim_front(s);
  while (drop_leading(s, "<?", "?>") || drop_leading(s, "<!--", "-->") ||
         drop_leading(s, "<!DOCTYPE", ">")) {
  }
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  if (!s.starts_with("<svg") || s.size() < 5 || !(is_space(s[4]) || s[4] == '>') ||
      !s.ends_with("</svg>")) {
    return make_error(error_kind::failed, "gnuplot did not write an SVG picture");
  }
  if (refers_outside(s))
    return make_error(error_kind::failed, "gnuplot's SVG picture refers to something outside it");
  return std::string(s);
}

std::string html_page(const page_content& c) {
  std::string s;
  s += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  s += "<title>" + html_escape(c.title) + "</title>\n";
  s += std::string("<style>\n") + style + "</style>\n";
  s += std::string("<script>\n") + script + "</script>\n";
  s += "</head>\n<body>\n";
  s += "<h1>" + html_escape(c.title) + "</h1>\n";
  s += "<h2>Summary</h2>\n<table class=\"summary\">\n";
  add_label_rows(s, c.summary);
  s += "</table>\n";
  if (!c.scan_table.empty()) {
    s += "<h2>Every precision</h2>\n";
    add_scan_table(s, c.scan_table, c.recommended);
  }
  if (!c.search.targets.empty() || !c.search.front.empty()) add_search_section(s, c.search);
  if (!c.choice.empty()) {
    s += "<h2>Recommendation</h2>\n<div class=\"choice\">\n";
    for (const std::string& line : c.choice) s += "<p>" + html_escape(line) + "</p>\n";
    s += "</div>\n";
  }
  if (!c.figures.empty() || !c.note.empty()) s += "<h2>Pictures</h2>\n";
  if (!c.note.empty()) s += "<p class=\"note\">" + html_escape(c.note) + "</p>\n";
  if (!c.figures.empty()) {
    s += "<p>Click an entry of a picture's key to hide or show its curve.</p>\n";
  }
  for (const page_figure& f : c.figures) {
    s += "<figure>\n<figcaption>" + html_escape(f.caption) + "</figcaption>\n";
    s += f.svg;
    s += "\n</figure>\n";
  }
  s += "</body>\n</html>\n";
  return s;
}

}  // namespace fixfir
