#include "fixfir/common/text_format.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace fixfir {
namespace {

struct format_case {
  double v;
  const char* expected;
};

class Fixed6 : public ::testing::TestWithParam<format_case> {};

TEST_P(Fixed6, MatchesTable) { EXPECT_EQ(format_fixed6(GetParam().v), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, Fixed6,
    ::testing::Values(format_case{0.0, "0.000000"}, format_case{-0.0, "-0.000000"},
                      format_case{0.0078125, "0.007813"},  // a half goes away from zero
                      format_case{-0.0078125, "-0.007813"},
                      format_case{1.1753125, "1.175313"},  // 17 digits first, then the half
                      format_case{0.0000004, "0.000000"}, format_case{-0.0000004, "-0.000000"},
                      // The double nearest 5e-7 lies below it, and so do its 17 digits.
                      format_case{0.0000005, "0.000000"}, format_case{-0.0000005, "-0.000000"},
                      format_case{0.9999995, "1.000000"}, format_case{999.9999996, "1000.000000"},
                      format_case{6.25e-05, "0.000063"}, format_case{1.0, "1.000000"},
                      format_case{-0.5, "-0.500000"},
                      format_case{2147483648.0, "2147483648.000000"},
                      format_case{-2147483648.0, "-2147483648.000000"},
                      format_case{1e20, "100000000000000000000.000000"},
                      // Beyond 17 significant digits only zeros follow.
                      format_case{123456789012345678901.0, "123456789012345680000.000000"},
                      format_case{1e-300, "0.000000"}, format_case{5e-324, "0.000000"},
                      format_case{std::numeric_limits<double>::quiet_NaN(), "nan"},
                      format_case{-std::numeric_limits<double>::quiet_NaN(), "nan"},
                      format_case{std::numeric_limits<double>::infinity(), "inf"},
                      format_case{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(Fixed6, LargestDoublePrintsAllIntegerDigits) {
  const std::string s = format_fixed6(std::numeric_limits<double>::max());
  EXPECT_EQ(s.size(), 309u + 7u);
  EXPECT_EQ(s.substr(0, 17), "17976931348623157");
  EXPECT_EQ(s.substr(17, 292), std::string(292, '0'));
  EXPECT_EQ(s.substr(309), ".000000");
}

// An independent model: 17 significant digits from the C library's exact "%.16e", then
// integer arithmetic on the 17-digit mantissa for the rounding at the sixth decimal.
std::string model_fixed6(double v) {
  char sci[64];
  std::snprintf(sci, sizeof sci, "%.16e", std::fabs(v));
  std::uint64_t mantissa = 0;
  for (const char* p = sci; *p != 'e'; ++p) {
    if (*p != '.') mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  const int exp10 = std::atoi(std::strchr(sci, 'e') + 1);
  // value × 10^6 = mantissa × 10^(exp10 - 16 + 6)
  const int shift = exp10 - 10;
  std::uint64_t micro = 0;
  if (shift >= 0) {
    micro = mantissa;
    for (int i = 0; i < shift; ++i) micro *= 10;
  } else if (shift > -19) {
    std::uint64_t div = 1;
    for (int i = 0; i < -shift; ++i) div *= 10;
    micro = mantissa / div + (2 * (mantissa % div) >= div ? 1 : 0);
  }
  char out[64];
  std::snprintf(out, sizeof out, "%s%" PRIu64 ".%06" PRIu64, std::signbit(v) ? "-" : "",
                micro / 1000000, micro % 1000000);
  return out;
}

TEST(Fixed6, AgreesWithIntegerModelOnRandomValues) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> log_mag(-9.0, 11.0);
  std::uniform_int_distribution<std::int64_t> ticks(-(1LL << 40), 1LL << 40);
  std::uniform_int_distribution<int> bits(0, 40);
  for (int i = 0; i < 200000; ++i) {
    double v = 0;
    if (i % 2 == 0) {
      v = std::pow(10.0, log_mag(rng)) * (rng() % 2 ? 1 : -1);
    } else {
      // Binary fractions: many sit exactly on a half at the seventh decimal.
      v = std::ldexp(static_cast<double>(ticks(rng)), -bits(rng));
    }
    ASSERT_EQ(format_fixed6(v), model_fixed6(v)) << std::hexfloat << v;
  }
}

std::string exact_fixed6(double v) {
  std::string s;
  append_fixed6_exact(s, v);
  return s;
}

// The fast path decides on its own only away from halves: the values on a half at the
// seventh decimal and their nearest neighbours, over the magnitudes the tool prints, must
// come out as the digit-by-digit path writes them (both sides of the fast path's limit too).
TEST(Fixed6, FastPathAgreesWithDigitPathNextToHalves) {
  std::mt19937_64 rng(777);
  for (int i = 0; i < 20000; ++i) {
    const double limit = i % 4 == 0 ? 2e9 : i % 4 == 1 ? 3e4 : 2.5;
    const auto micro =
        static_cast<std::int64_t>(std::ldexp(static_cast<double>(rng() >> 11), -53) * limit * 1e6);
    double v = (static_cast<double>(micro) + 0.5) / 1e6;
    if (i % 2 == 1) v = -v;
    for (int step = 0; step < 4; ++step) v = std::nextafter(v, 0.0);
    for (int step = 0; step < 9; ++step) {
      ASSERT_EQ(format_fixed6(v), exact_fixed6(v)) << std::hexfloat << v;
      v = std::nextafter(v, v < 0 ? -1e300 : 1e300);
    }
  }
}

TEST(AppendDecimal, WritesSignedIntegers) {
  std::string s;
  append_decimal(s, 4);
  s += ' ';
  append_decimal(s, -2147483648LL);
  s += ' ';
  append_decimal(s, 8000);
  EXPECT_EQ(s, "4 -2147483648 8000");
}

}  // namespace
}  // namespace fixfir
