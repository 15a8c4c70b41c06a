// The reader models that the fuzzers trust (input_models.h), held to the documented
// reading rules, and the real readers held to the same rows. A row that the model gets
// wrong would make every fuzzing run compare against the wrong thing.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fixfir/coefficients/tap_file.h"
#include "fixfir/common/text_scan.h"
#include "input_models.h"

namespace fixfir_test {
namespace {

struct tap_row {
  std::string name;
  std::string text;
  std::int32_t count;
  std::vector<float> taps;
  std::uint64_t messages;
};

void PrintTo(const tap_row& r, std::ostream* os) { *os << r.name; }

class TapReading : public testing::TestWithParam<tap_row> {};

TEST_P(TapReading, ModelFollowsTheRules) {
  const tap_row& r = GetParam();
  const tap_model m = model_tap_text(r.text);
  EXPECT_EQ(m.count, r.count);
  EXPECT_EQ(m.taps, r.taps);
  EXPECT_EQ(m.messages, r.messages);
}

TEST_P(TapReading, ReaderFollowsTheRules) {
  const tap_row& r = GetParam();
  fixfir::tap_list list;
  std::uint64_t messages = 0;
  ASSERT_EQ(fixfir::parse_tap_text(r.text, list, nullptr, messages), fixfir::status::ok);
  EXPECT_EQ(list.count, r.count);
  EXPECT_EQ(std::vector<float>(list.taps.begin(), list.taps.end()), r.taps);
  EXPECT_EQ(messages, r.messages);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TapReading,
    testing::Values(
        tap_row{"Plain", "3\n0.5 0.25 0.125\n", 3, {0.5f, 0.25f, 0.125f}, 0},
        tap_row{"HexCount", "0x3 1 2 3", 3, {1, 2, 3}, 0},
        tap_row{"OctalCount", "010 1 2 3 4 5 6 7 8", 8, {1, 2, 3, 4, 5, 6, 7, 8}, 0},
        tap_row{"WrappedCount", "4294967297 7", 1, {7}, 0},
        // "01" is the count; the 8 that stopped it is the first tap.
        tap_row{"OctalStopsAtEight", "018 5", 1, {8}, 0},
        tap_row{"ShortWithLineBreak", "5\n1\n2\n3\n", 5, {1, 2, 3, 0, 0}, 1},
        tap_row{"ShortWithoutLineBreak", "5\n1\n2\n3", 5, {1, 2, 3, 0, 0}, 2},
        tap_row{"OneShortWithLineBreak", "4\n1\n2\n3\n", 4, {1, 2, 3, 0}, 0},
        tap_row{"OneShortWithoutLineBreak", "4\n1\n2\n3", 4, {1, 2, 3, 0}, 1},
        tap_row{"ExactWithoutLineBreak", "3\n1 2 3", 3, {1, 2, 3}, 0},
        tap_row{"CountOnly", "3", 3, {0, 0, 0}, 3}, tap_row{"Empty", "", 0, {}, 1},
        tap_row{"CountZero", "0\n1\n", 0, {}, 1}, tap_row{"CountNegative", "-2\n1 2\n", 0, {}, 1},
        tap_row{"CountBeyond64Bits", "99999999999999999999 1", 0, {}, 1},
        tap_row{"WordStopsReading", "3\n0.5\nabc\n1\n", 3, {0.5f, 0, 0}, 0},
        tap_row{"InfIsAWord", "2\ninf 1", 2, {0, 0}, 0},
        tap_row{"SignThenWord", "2\n-x 3", 2, {0, 0}, 0},
        tap_row{"HexFloatReadsZero", "2\n0x1p3 1", 2, {0, 0}, 0},
        // A dot alone fails, but is taken: the next read starts after it.
        tap_row{"DotAlone", "2\n. 5\n", 2, {0, 5}, 0},
        tap_row{"ExponentWithoutDigits", "2\n1e+ 2", 2, {1, 2}, 0},
        tap_row{"DotAfterExponent", "2\n1e5.5\n", 2, {1e5f, 0.5f}, 0},
        tap_row{"CrLf", "2\r\n0.5\r\n-0.25\r\n", 2, {0.5f, -0.25f}, 0},
        tap_row{"TooLargeForFloat", "1\n1e39", 1, {std::numeric_limits<float>::infinity()}, 0}),
    [](const testing::TestParamInfo<tap_row>& i) { return i.param.name; });

struct answer_row {
  std::string name;
  std::string text;
  std::vector<std::int32_t> values;  // the five answers, 0 where a read failed
};

void PrintTo(const answer_row& r, std::ostream* os) { *os << r.name; }

class AnswerReading : public testing::TestWithParam<answer_row> {};

TEST_P(AnswerReading, ModelAndReaderFollowTheRules) {
  const answer_row& r = GetParam();
  fixfir::char_input in = fixfir::text_input(r.text);
  std::size_t pos = 0;
  bool eof = false;
  for (std::size_t i = 0; i < r.values.size(); ++i) {
    std::int32_t model = 0;
    std::int32_t real = 0;
    model_decimal(r.text, pos, eof, model);
    fixfir::scan_decimal(in, real);
    EXPECT_EQ(model, r.values[i]) << "answer " << i;
    EXPECT_EQ(real, r.values[i]) << "answer " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AnswerReading,
    testing::Values(answer_row{"Plain", "15\n100\n1000\n3100\n1\n", {15, 100, 1000, 3100, 1}},
                    answer_row{"Blanks", " \t\r\n+7 -8\n\n 9", {7, -8, 9, 0, 0}},
                    answer_row{"DecimalStopsAtDot", "1.5 2", {1, 0, 0, 0, 0}},
                    answer_row{"SignAloneIsTaken", "-\n100", {0, 100, 0, 0, 0}},
                    answer_row{"WordStopsAll", "abc 5", {0, 0, 0, 0, 0}},
                    answer_row{"Int32Limits",
                               "2147483647 -2147483648 2147483648 -2147483649 4294967297",
                               {2147483647, INT32_MIN, INT32_MIN, 2147483647, 1}},
                    // Saturated to 2^63 - 1 and -2^63, whose low 32 bits are -1 and 0.
                    answer_row{"Beyond64Bits",
                               "99999999999999999999 -99999999999999999999 1",
                               {-1, 0, 1, 0, 0}}),
    [](const testing::TestParamInfo<answer_row>& i) { return i.param.name; });

}  // namespace
}  // namespace fixfir_test
