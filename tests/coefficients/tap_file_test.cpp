#include "fixfir/coefficients/tap_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
  ASSERT_EQ(parse_tap_text(c.text, list, nullptr, messages), status::ok);
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
  ASSERT_EQ(parse_tap_text("6\n1", list, console, messages), status::ok);
  std::rewind(console);
  char buf[256] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, console);
  std::fclose(console);
  std::string expected;
  for (int i = 0; i < 5; ++i) expected += "improperly formatted file";
  EXPECT_EQ(std::string(buf, n), expected);
  EXPECT_EQ(messages, 5u);
}

// However many slots are left when the end is met, the message is written a bounded
// number of times; every one is still counted.
TEST(ParseTapText, BoundsTheMessagesWritten) {
  struct bound_case {
    const char* text;
    std::uint64_t counted;
    std::uint64_t written;
  };
  for (const bound_case& c : {bound_case{"1001\n1", 1000, 1000}, bound_case{"1002\n1", 1001, 1000},
                              bound_case{"0x1000000", 0x1000000, 1000}}) {
    std::FILE* console = std::tmpfile();
    ASSERT_NE(console, nullptr);
    tap_list list;
    std::uint64_t messages = 0;
    ASSERT_EQ(parse_tap_text(c.text, list, console, messages), status::ok) << c.text;
    const long bytes = std::ftell(console);
    std::fclose(console);
    EXPECT_EQ(messages, c.counted) << c.text;
    EXPECT_EQ(static_cast<std::uint64_t>(bytes), c.written * improperly_formatted_message.size())
        << c.text;
  }
}

// The reader at a path tells the report what it needs to refuse a file that fixfir would
// read with gaps: the count as read, and how many taps were numbers before one was not.
struct facts_case {
  const char* name;
  std::string text;  // "@path": read that path instead of a file holding the text
  status result;
  bool count_read;
  std::int32_t count;
  std::int32_t numbers;
  int error;
};

class ReadTapFileAt : public ::testing::TestWithParam<facts_case> {};

TEST_P(ReadTapFileAt, Facts) {
  const facts_case& c = GetParam();
  char folder[] = "/tmp/fixfir-taps-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/taps.txt";
  if (c.text.starts_with('@')) {
    path = c.text.substr(1);
  } else {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(c.text.c_str(), f);
    std::fclose(f);
  }
  tap_list list;
  tap_read_facts facts;
  EXPECT_EQ(read_tap_file_at(path, list, nullptr, facts), c.result);
  std::remove((std::string(folder) + "/taps.txt").c_str());
  rmdir(folder);
  EXPECT_EQ(facts.count_read, c.count_read);
  EXPECT_EQ(facts.count, c.count);
  EXPECT_EQ(facts.numbers, c.numbers);
  EXPECT_EQ(facts.error, c.error);
  EXPECT_EQ(facts.opened, c.error != ENOENT);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadTapFileAt,
    ::testing::Values(
        facts_case{"Whole", "3\n0.5 0.25 0.125\n", status::ok, true, 3, 3, 0},
        facts_case{"NoFinalBreak", "3\n0.5 0.25 0.125", status::ok, true, 3, 3, 0},
        facts_case{"TextAfter", "0x2 1 -2e-3 anything after", status::ok, true, 2, 2, 0},
        facts_case{"Empty", "", status::ok, false, 0, 0, 0},
        facts_case{"Word", "taps: 3", status::ok, false, 0, 0, 0},
        facts_case{"Zero", "0\n", status::ok, true, 0, 0, 0},
        facts_case{"Negative", "-4 1 2 3 4", status::ok, true, -4, 0, 0},
        facts_case{"Short", "5\n1 2 3\n", status::ok, true, 5, 3, 0},
        facts_case{"ShortNoBreak", "4\n1 2 3", status::ok, true, 4, 3, 0},
        facts_case{"Letter", "3 1 x 2", status::ok, true, 3, 1, 0},
        facts_case{"Nan", "2 1 nan", status::ok, true, 2, 1, 0},
        // The lone sign fails; the 5 after it is read, but the file still has a gap.
        facts_case{"SignThenNumber", "3 1 - 5", status::ok, true, 3, 1, 0},
        facts_case{"Missing", "@/nonexistent/taps.txt", status::failure, false, 0, 0, ENOENT},
        facts_case{"Folder", "@/tmp", status::failure, false, 0, 0, EISDIR},
        // Endless: read only as far as the count, which is not there.
        facts_case{"Endless", "@/dev/zero", status::ok, false, 0, 0, 0}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fixfir
