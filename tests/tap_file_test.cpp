#include "tap_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fixfir {
namespace {

struct tap_case {
  const char* name;
  std::string text;
  std::int32_t count;
  std::vector<float> taps;
  std::uint64_t messages;
};

class ParseTapText : public ::testing::TestWithParam<tap_case> {};

TEST_P(ParseTapText, CountsTapsAndMessages) {
  const auto& c = GetParam();
  tap_list list;
  std::uint64_t messages = 99;
  ASSERT_EQ(parse_tap_text(c.text, list, nullptr, messages), tap_file_status::ok);
  EXPECT_EQ(list.count, c.count);
  EXPECT_EQ(messages, c.messages);
  ASSERT_EQ(list.taps.size, c.taps.size());
  for (std::size_t i = 0; i < c.taps.size(); ++i) EXPECT_EQ(list.taps[i], c.taps[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseTapText,
    ::testing::Values(
        tap_case{"Exact", "3\n0.5 0.25 0.125\n", 3, {0.5f, 0.25f, 0.125f}, 0},
        tap_case{"ExactNoFinalBreak", "3\n0.5 0.25 0.125", 3, {0.5f, 0.25f, 0.125f}, 0},
        tap_case{"Hex", "0x3 1 2 3", 3, {1, 2, 3}, 0},
        tap_case{"Octal", "010\n1 2 3 4 5 6 7 8\n", 8, {1, 2, 3, 4, 5, 6, 7, 8}, 0},
        // The read for slot 3 skips the break and meets the end; slot 4 alone reports.
        tap_case{"TwoShortWithBreak", "5\n0.5 0.25 0.125\n", 5, {0.5f, 0.25f, 0.125f, 0, 0}, 1},
        // The read of the last tap meets the end: slots 3 and 4 report.
        tap_case{"TwoShortNoBreak", "5\n0.5 0.25 0.125", 5, {0.5f, 0.25f, 0.125f, 0, 0}, 2},
        tap_case{"OneShortWithBreak", "4\n1 2 3\n", 4, {1, 2, 3, 0}, 0},
        tap_case{"OneShortNoBreak", "4\n1 2 3", 4, {1, 2, 3, 0}, 1},
        tap_case{"CountOnly", "3", 3, {0, 0, 0}, 3},
        tap_case{"CountOnlyWithBreak", "3\n", 3, {0, 0, 0}, 2},
        tap_case{"ExtraTapsIgnored", "2 1 2 3 4", 2, {1, 2}, 0},
        // A word stops every later read without reaching the end: no message.
        tap_case{"Letter", "4\n1 x 3 4\n", 4, {1, 0, 0, 0}, 0},
        tap_case{"Inf", "3\n1 inf 2\n", 3, {1, 0, 0}, 0},
        tap_case{"HexFloat", "3\n0x1p-1 2 3\n", 3, {0, 0, 0}, 0},
        tap_case{"Crlf", "3\r\n0.5\r\n0.25\r\n0.125\r\n", 3, {0.5f, 0.25f, 0.125f}, 0},
        tap_case{"Tabs", "\t2\t\t-1e-1\t+2.5e0", 2, {-0.1f, 2.5f}, 0},
        // A count below 1 reports once and leaves no taps.
        tap_case{"Zero", "0\n1 2\n", 0, {}, 1}, tap_case{"Negative", "-3\n1 2 3\n", 0, {}, 1},
        tap_case{"Empty", "", 0, {}, 1}, tap_case{"Word", "taps\n1\n", 0, {}, 1},
        tap_case{"WrapsNegative", "0xFFFFFFFF 1", 0, {}, 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ParseTapText, WritesMessagesWithoutBreaks) {
  std::FILE* console = std::tmpfile();
  ASSERT_NE(console, nullptr);
  tap_list list;
  std::uint64_t messages = 0;
  ASSERT_EQ(parse_tap_text("6\n1", list, console, messages), tap_file_status::ok);
  std::rewind(console);
  char buf[256] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, console);
  std::fclose(console);
  std::string expected;
  for (int i = 0; i < 5; ++i) expected += "improperly formatted file";
  EXPECT_EQ(std::string(buf, n), expected);
  EXPECT_EQ(messages, 5u);
}

}  // namespace
}  // namespace fixfir
