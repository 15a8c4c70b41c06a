#include "fixfir/common/text_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace fixfir {
namespace {

// Reads once from `text` and reports the value, whether the read worked, what input is
// left for the next read, and the end-of-file indicator.
template <class T, class Scan>
void check_scan(Scan scan, const std::string& text, bool ok, T value, const std::string& rest,
                bool eof) {
  char_input in = text_input(text);
  T v{};
  EXPECT_EQ(scan(in, v), ok) << '"' << text << '"';
  EXPECT_EQ(v, value) << '"' << text << '"';
  std::string left;
  for (int c = next_char(in); c != EOF; c = next_char(in)) left += static_cast<char>(c);
  EXPECT_EQ(left, rest) << '"' << text << '"';
  char_input again = text_input(text);
  scan(again, v);
  EXPECT_EQ(again.eof, eof) << '"' << text << '"';
}

struct int_case {
  const char* text;
  bool ok;
  std::int32_t value;
  const char* rest;
  bool eof;
};

class ScanDecimal : public ::testing::TestWithParam<int_case> {};

TEST_P(ScanDecimal, ReadsLikeFormattedInput) {
  const auto& c = GetParam();
  check_scan<std::int32_t>(scan_decimal, c.text, c.ok, c.value, c.rest, c.eof);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScanDecimal,
    ::testing::Values(
        int_case{"42\n", true, 42, "\n", false}, int_case{"42", true, 42, "", true},
        int_case{" \t\n -17 x", true, -17, " x", false}, int_case{"+5\n", true, 5, "\n", false},
        int_case{"1.5\n", true, 1, ".5\n", false}, int_case{"007\n", true, 7, "\n", false},
        int_case{"0x10\n", true, 0, "x10\n", false}, int_case{"y\n", false, 0, "y\n", false},
        int_case{"", false, 0, "", true}, int_case{"\n\n", false, 0, "", true},
        int_case{"-\n5", false, 0, "\n5", false},  // the sign is used up
        int_case{"-", false, 0, "", true}, int_case{"2147483647\n", true, INT32_MAX, "\n", false},
        int_case{"-2147483648\n", true, INT32_MIN, "\n", false},
        // Out of range: saturate to 64 bits, keep the low 32.
        int_case{"2147483648\n", true, INT32_MIN, "\n", false},
        int_case{"4294967297\n", true, 1, "\n", false},
        int_case{"99999999999999999999\n", true, -1, "\n", false},
        int_case{"-99999999999999999999\n", true, 0, "\n", false}));

class ScanInteger : public ::testing::TestWithParam<int_case> {};

TEST_P(ScanInteger, DetectsBase) {
  const auto& c = GetParam();
  check_scan<std::int32_t>(scan_integer, c.text, c.ok, c.value, c.rest, c.eof);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScanInteger,
    ::testing::Values(
        int_case{"3\n", true, 3, "\n", false}, int_case{"0x3\n", true, 3, "\n", false},
        int_case{"0X1f ", true, 31, " ", false}, int_case{"010\n", true, 8, "\n", false},
        int_case{"-0x10\n", true, -16, "\n", false},
        int_case{"09\n", true, 0, "9\n", false},  // 9 is not octal
        int_case{"0x\n", true, 0, "\n", false}, int_case{"0xg", true, 0, "g", false},
        int_case{"0", true, 0, "", true}, int_case{"0xFFFFFFFF\n", true, -1, "\n", false},
        int_case{"abc", false, 0, "abc", false}, int_case{"", false, 0, "", true}));

struct real_case {
  const char* text;
  bool ok;
  float value;
  const char* rest;
  bool eof;
};

class ScanReal : public ::testing::TestWithParam<real_case> {};

TEST_P(ScanReal, ReadsDecimalRealsOnly) {
  const auto& c = GetParam();
  check_scan<float>(scan_real, c.text, c.ok, c.value, c.rest, c.eof);
}

constexpr float inf_f = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, ScanReal,
    ::testing::Values(
        real_case{"0.5\n", true, 0.5f, "\n", false}, real_case{"0.125", true, 0.125f, "", true},
        real_case{"  -.25 ", true, -0.25f, " ", false}, real_case{"+3.", true, 3.0f, "", true},
        real_case{"1e3\n", true, 1000.0f, "\n", false},
        real_case{"1E-2\n", true, 0.01f, "\n", false},
        real_case{"1e\n", true, 1.0f, "\n", false},  // the mark is used up
        real_case{"1e+x", true, 1.0f, "x", false}, real_case{"1.5.5", true, 1.5f, ".5", false},
        real_case{"0.1", true, 0.1f, "", true},
        // Rounded once, to the nearest float: through a double it would tie down to 1.0.
        real_case{"1.0000000596046447753906251 ", true, 1.00000011920928955078125f, " ", false},
        real_case{"3.4e39\n", true, inf_f, "\n", false},
        real_case{"-3.4e39\n", true, -inf_f, "\n", false},
        real_case{"1e-50\n", true, 0.0f, "\n", false},
        // Not numbers: words and hexadecimal floats.
        real_case{"inf\n", false, 0.0f, "inf\n", false},
        real_case{"-nan\n", false, 0.0f, "nan\n", false},
        real_case{"infinity", false, 0.0f, "infinity", false},
        real_case{"0x1p-1\n", true, 0.0f, "x1p-1\n", false},
        real_case{".e5", false, 0.0f, "e5", false}, real_case{"-", false, 0.0f, "", true},
        real_case{"", false, 0.0f, "", true}, real_case{" \n", false, 0.0f, "", true}));

TEST(ScanReal, VeryLongDigitString) {
  const std::string text = "0." + std::string(5000, '3') + "\n";
  char_input in = text_input(text);
  float v = 0;
  ASSERT_TRUE(scan_real(in, v));
  EXPECT_EQ(v, 1.0f / 3.0f);
  EXPECT_FALSE(in.eof);
}

TEST(CharInput, StreamSourceSetsIndicatorAtEnd) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs(" 12 7", f);
  std::rewind(f);
  char_input in = stream_input(f);
  std::int32_t a = 0;
  std::int32_t b = 0;
  EXPECT_TRUE(scan_decimal(in, a));
  EXPECT_FALSE(in.eof);
  EXPECT_TRUE(scan_decimal(in, b));
  EXPECT_TRUE(in.eof);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 7);
  std::fclose(f);
}

}  // namespace
}  // namespace fixfir
