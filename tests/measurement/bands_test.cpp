// Bands as the options give them, and the problems of a band plan.

#include "fixfir/measurement/bands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fixfir/common/result.h"

namespace fixfir {
namespace {

struct band_text_case {
  const char* text;
  bool ok;
  band expected;
};

class BandText : public ::testing::TestWithParam<band_text_case> {};

TEST_P(BandText, Parses) {
  const band_text_case& c = GetParam();
  const result<band> parsed = parse_band(c.text);
  ASSERT_EQ(parsed.ok(), c.ok) << (parsed ? "" : parsed.failure().message);
  if (c.ok) {
    const band b = parsed.value();
    EXPECT_EQ(b.low, c.expected.low);
    EXPECT_FALSE(std::signbit(b.low));  // -0 is 0
    EXPECT_EQ(b.high, c.expected.high);
    // Printed, the band reads back as the very same numbers.
    const std::string text = band_text(b);
    const std::size_t to = text.find(" to ");
    const result<band> read_back =
        parse_band(text.substr(0, to) + ":" + text.substr(to + 4, text.size() - to - 7));
    ASSERT_TRUE(read_back.ok()) << text;
    const band again = read_back.value();
    EXPECT_TRUE(again.low == b.low && again.high == b.high) << text;
    EXPECT_NE(text.front(), '-') << text;
  } else {
    EXPECT_EQ(parsed.failure().kind, error_kind::bad_input);
    EXPECT_NE(parsed.failure().message.find(c.text), std::string::npos) << parsed.failure().message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BandText,
    ::testing::Values(band_text_case{"0:1800", true, {0, 1800}},
                      band_text_case{"2212.5:8000", true, {2212.5, 8000}},
                      band_text_case{"-0:1000", true, {0, 1000}},
                      band_text_case{"-1e-400:1000", true, {0, 1000}},
                      band_text_case{"969.7265625:1030.48", true, {969.7265625, 1030.48}},
                      band_text_case{"0.1:1e-300", false, {}},
                      band_text_case{"0:4e-5", true, {0, 4e-5}},
                      band_text_case{"1800:0", false, {}}, band_text_case{"5:5", false, {}},
                      band_text_case{"0:8001", false, {}}, band_text_case{"-1:10", false, {}},
                      band_text_case{"nan:10", false, {}}, band_text_case{"0x10:20", false, {}},
                      band_text_case{"10", false, {}}, band_text_case{":10", false, {}},
                      band_text_case{"10:", false, {}}, band_text_case{"1:2:3", false, {}}));

struct plan_case {
  const char* name;
  band_plan plan;
  const char* problem;  // "" for none
};

class BandPlan : public ::testing::TestWithParam<plan_case> {};

TEST_P(BandPlan, Problems) { EXPECT_EQ(band_plan_problem(GetParam().plan), GetParam().problem); }

INSTANTIATE_TEST_SUITE_P(
    Table, BandPlan,
    ::testing::Values(
        plan_case{"apart", {{{0, 1000}}, {{1500, 8000}}, true, true}, ""},
        plan_case{
            "touching", {{{0, 1000}, {2000, 3000}}, {{1000, 2000}, {3000, 8000}}, true, true}, ""},
        plan_case{"crossing",
                  {{{0, 1000}}, {{900, 8000}}, true, true},
                  "pass band 0 to 1000 Hz overlaps stop band 900 to 8000 Hz"},
        plan_case{"same_kind",
                  {{{0, 1000}}, {{2000, 8000}, {1500, 2000.25}}, true, true},
                  "stop band 2000 to 8000 Hz overlaps stop band 1500 to 2000.25 Hz"},
        plan_case{"duplicate",
                  {{{0, 1000}, {0, 1000}}, {}, true, false},
                  "pass band 0 to 1000 Hz overlaps pass band 0 to 1000 Hz"},
        plan_case{"below_the_sweep",
                  {{{0, 3.5}}, {{2000, 8000}}, true, true},
                  "pass band 0 to 3.5 Hz holds no frequency from 4 to 7996 Hz, where the steady "
                  "state is measured"},
        plan_case{"above_the_sweep",
                  {{{0, 1000}}, {{7996.25, 8000}}, true, true},
                  "stop band 7996.25 to 8000 Hz holds no frequency from 4 to 7996 Hz, where the "
                  "steady state is measured"},
        plan_case{"at_the_sweep_ends", {{{0, 4}}, {{7996, 8000}}, true, true}, ""},
        // Inferred bands are the response's: only a missing pass band is a problem.
        plan_case{"inferred_narrow", {{{0, 1}}, {}, false, false}, ""},
        plan_case{"no_pass_band", {{}, {{900, 8000}}, false, true}, "no pass band"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fixfir
