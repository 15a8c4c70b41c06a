// The search's section of report.html: the targets and the front as tables, the
// recommended row starred, and every text escaped.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fixfir/report/report_html.h"

namespace fixfir {
namespace {

const char* const header =
    "coef. bits  rounding     sample bits  acc. bits  atten. (dB)  ripple (dB)  SNR (dB)  cost";
const char* const met =
    "        13  to nearest            15         30        39.16       "
    "0.1925     71.57   225";
const char* const missed =
    "         4  toward zero  none: the coefficients alone reach 8.74 dB attenuation, 2.4184 dB "
    "ripple";

struct search_case {
  const char* name;
  std::vector<std::string> targets;
  std::vector<std::string> front;
  std::optional<std::size_t> recommended;
  std::vector<const char*> shown;   // each found on the page
  std::vector<const char*> absent;  // none found
};

class SearchSection : public ::testing::TestWithParam<search_case> {};

TEST_P(SearchSection, ShowsTheTargetsAndTheFrontAsTables) {
  const search_case& c = GetParam();
  page_content content;
  content.title = "t";
  content.search = {c.targets, "The narrowest sample word", c.front, c.recommended};
  const std::string page = html_page(content);
  for (const char* s : c.shown) EXPECT_NE(page.find(s), std::string::npos) << s << "\n" << page;
  for (const char* s : c.absent) EXPECT_EQ(page.find(s), std::string::npos) << s << "\n" << page;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SearchSection,
    ::testing::Values(
        search_case{"recommended_row_starred",
                    {"SNR (waveform test): at least 70.00 dB"},
                    {header, missed, met},
                    1,
                    {"<h2>Targets</h2>", "<th scope=\"row\">SNR (waveform test)</th>",
                     "<th scope=\"col\">sample bits</th>",
                     "<tr><td>4</td><td>toward zero</td><td class=\"none\" colspan=\"6\">none: "
                     "the coefficients alone reach 8.74 dB attenuation, 2.4184 dB ripple</td>",
                     "<tr class=\"chosen\" title=\"recommended\"><td>13</td><td>to "
                     "nearest</td><td>15</td><td>30</td><td>39.16</td><td>0.1925</td>"
                     "<td>71.57</td><td>225</td></tr>",
                     "the recommendation is starred"},
                    {"<pre>"}},
        search_case{"none_recommended",
                    {},
                    {header, missed, met},
                    std::nullopt,
                    {"<h2>The front</h2>"},
                    {"class=\"chosen\"", "starred", "<h2>Targets</h2>"}},
        // A recommendation that is no whole row (a text this page does not know) marks none.
        search_case{"recommended_row_is_a_miss", {}, {header, missed}, 0, {}, {"class=\"chosen\""}},
        // A row that splits into neither every column nor a miss is shown as printed.
        search_case{"unknown_row_as_printed",
                    {},
                    {header, "13  to nearest  15 <b>"},
                    std::nullopt,
                    {"<pre>", "13  to nearest  15 &lt;b&gt;\n"},
                    {"<table class=\"scan front\">", "<b>"}},
        search_case{"text_escaped",
                    {"stopband attenuation: <&> \"it's\""},
                    {header, "         4  toward zero  none: <script>"},
                    std::nullopt,
                    {"<td>&lt;&amp;&gt; &quot;it&#39;s&quot;</td>", "none: &lt;script&gt;"},
                    {"none: <script>", "\"it's\""}},
        search_case{"no_search_no_section", {}, {}, -1, {}, {"Targets", "The front"}}),
    [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace fixfir
