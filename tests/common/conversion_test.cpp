#include "fixfir/common/conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace fixfir {
namespace {

struct real_case {
  double v;
  std::int32_t expected;
};

class RealToInt32 : public ::testing::TestWithParam<real_case> {};

TEST_P(RealToInt32, TruncatesTo64BitsAndKeepsLow32) {
  EXPECT_EQ(real_to_int32(GetParam().v), GetParam().expected) << GetParam().v;
}

constexpr double nan_v = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_v = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, RealToInt32,
    ::testing::Values(real_case{0.0, 0}, real_case{0.999, 0}, real_case{-0.999, 0},
                      real_case{-2.7, -2}, real_case{2.7, 2}, real_case{2147483647.9, INT32_MAX},
                      real_case{2147483648.0, INT32_MIN},  // 2^31 wraps
                      real_case{3221225472.0, -1073741824}, real_case{4294967296.0 + 7.5, 7},
                      real_case{-4294967296.0 - 3.5, -3}, real_case{1099511627779.0, 3},
                      real_case{9223372036854774784.0, -1024},  // 2^63 - 1024
                      real_case{9223372036854775808.0, 0},      // 2^63 is out of range
                      real_case{-9223372036854775808.0, 0},     // -2^63 is in range, low bits 0
                      real_case{1e300, 0}, real_case{-1e300, 0}, real_case{nan_v, 0},
                      real_case{inf_v, 0}, real_case{-inf_v, 0}));

TEST(RealToInt64, OutOfRangeAndNanGiveMinimum) {
  EXPECT_EQ(real_to_int64(nan_v), INT64_MIN);
  EXPECT_EQ(real_to_int64(9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(real_to_int64(-1e19), INT64_MIN);
  EXPECT_EQ(real_to_int64(-9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(real_to_int64(9223372036854774784.0), 9223372036854774784LL);
  EXPECT_EQ(real_to_int64(-5.9), -5);
}

TEST(WrappingArithmetic, WrapsModulo2To32) {
  EXPECT_EQ(wrapping_mul(65536, 65536), 0);
  EXPECT_EQ(wrapping_mul(32768, 65536), INT32_MIN);
  EXPECT_EQ(wrapping_mul(-16384, 16384), -268435456);
  EXPECT_EQ(wrapping_mul(INT32_MIN, -1), INT32_MIN);
  EXPECT_EQ(wrapping_add(INT32_MAX, 1), INT32_MIN);
  EXPECT_EQ(wrapping_add(INT32_MIN, -1), INT32_MAX);
  EXPECT_EQ(wrapping_sub(INT32_MIN, 1), INT32_MAX);
  EXPECT_EQ(wrapping_sub(0, INT32_MIN), INT32_MIN);
}

TEST(WrappingArithmetic, DivisionTruncatesAndNeverTraps) {
  EXPECT_EQ(wrapping_div(-5, 10), 0);
  EXPECT_EQ(wrapping_div(250, 100), 2);
  EXPECT_EQ(wrapping_div(-900, -100), 9);
  EXPECT_EQ(wrapping_div(INT32_MIN, -1), INT32_MIN);
  EXPECT_EQ(wrapping_div(INT32_MIN, 1), INT32_MIN);
}

}  // namespace
}  // namespace fixfir
