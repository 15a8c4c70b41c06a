#include "fixfir/common/text_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fixfir {

namespace {

constexpr int significant_digits = 17;
constexpr int decimals = 6;

// Below this the fast path's product a × 10^6 stays under 10^15, so its integer part
// fits a 64-bit integer and its fraction keeps at least 3 bits.
constexpr double fast_limit = 1e9;

// "00" … "99".
constexpr std::array<char, 200> digit_pairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes two digits of `pair` (below 100) at `at`.
void put_pair(char* at, std::uint64_t pair) { std::memcpy(at, digit_pairs.data() + 2 * pair, 2); }

// Appends `sign`, then micro = round(|v| × 10^6) as "<integer part>.<six decimals>".
void append_micro_units(std::string& out, bool negative, std::uint64_t micro) {
  std::array<char, 32> buf{};
  std::size_t i = buf.size() - 7;
  const std::uint64_t fraction = micro % 1000000;
  std::uint64_t whole = micro / 1000000;
  buf[i] = '.';
  put_pair(buf.data() + i + 1, fraction / 10000);
  put_pair(buf.data() + i + 3, fraction / 100 % 100);
  put_pair(buf.data() + i + 5, fraction % 100);
  do {
    buf[--i] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  buf[--i] = '-';
  i += negative ? 0u : 1u;  // no branch: the signs of samples are as good as random
  out.append(buf.data() + i, buf.size() - i);
}

// The fast path, for 0 <= a < fast_limit: the same digits as the two-stage rounding, or
// false when a × 10^6 lies too near a half for this path to be sure.
//
// a × 10^6 is formed exactly as head + tail without FMA: a is split into a high part of
// 26 significant bits and the rest (at most 27), and 10^6 = 15625 × 2^6 has 14
// significant bits, so both partial products are exact; a fast two-sum then gives
// head = fl(a × 10^6) and the exact tail. The fraction of the head is exact (head < 10^15),
// so s = (fraction - 1/2) + tail is within 2^-53 of the distance of a × 10^6 from the
// half above its integer part.
//
// The two-stage rule rounds D × 10^6 half away from zero, where D is a rounded to 17
// significant digits: |D - a| <= 0.5 × 10^(e - 16) <= 5e-17 × a for 10^e <= a. So
// D × 10^6 lies within 5e-17 × a × 10^6 <= head × 2^-52 / 4 of a × 10^6. When |s| exceeds
// head × 2^-52 + 2^-50 both lie strictly on the same side of the same half, and rounding
// a × 10^6 to nearest gives the same integer as the two-stage rule.
bool append_fixed6_fast(std::string& out, bool negative, double a) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &a, sizeof bits);
  bits &= ~((std::uint64_t{1} << 27) - 1);
  double a_high = 0.0;
  std::memcpy(&a_high, &bits, sizeof a_high);
  const double a_low = a - a_high;     // exact: the bits cleared above
  const double p_high = a_high * 1e6;  // exact: 26 + 14 bits
  const double p_low = a_low * 1e6;    // exact: 27 + 14 bits
  const double head = p_high + p_low;
  const double tail = p_low - (head - p_high);  // exact, as |p_high| >= |p_low|
  const auto whole = static_cast<std::uint64_t>(head);
  const double s = ((head - static_cast<double>(whole)) - 0.5) + tail;
  const double margin = head * 0x1p-52 + 0x1p-50;
  if (std::fabs(s) <= margin) return false;
  append_micro_units(out, negative, whole + (s > 0.0 ? 1u : 0u));
  return true;
}

}  // namespace

void append_fixed6(std::string& out, double v) {
  const double a = std::fabs(v);
  // false for NaN and infinities
  if (a < fast_limit && append_fixed6_fast(out, std::signbit(v), a)) return;
  append_fixed6_exact(out, v);
}

void append_fixed6_exact(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "nan";
    return;
  }
  if (std::signbit(v)) out += '-';
  const double a = std::fabs(v);
  if (std::isinf(a)) {
    out += "inf";
    return;
  }

  // Stage 1: 17 significant digits, correctly rounded: "d.dddddddddddddddde±XX".
  std::array<char, 64> sci{};
  const auto [end, ec] = std::to_chars(sci.data(), sci.data() + sci.size(), a,
                                       std::chars_format::scientific, significant_digits - 1);
  (void)ec;  // 64 characters always suffice
  std::array<char, significant_digits> mant{};
  mant[0] = sci[0];
  for (int i = 1; i < significant_digits; ++i)
    mant[static_cast<std::size_t>(i)] = sci[static_cast<std::size_t>(i + 1)];
  const char* e = sci.data() + significant_digits + 1;  // at 'e'
  int exp10 = 0;
  std::from_chars(e + 2, end, exp10);  // past 'e' and its sign
  if (e[1] == '-') exp10 = -exp10;

  // Mantissa digit m carries weight 10^(exp10 - m); beyond the 17th it is 0.
  auto digit_of_weight = [&](int power) -> char {
    const int m = exp10 - power;
    return (m >= 0 && m < significant_digits) ? mant[static_cast<std::size_t>(m)] : '0';
  };

  // Stage 2: integer digits plus six decimals, then round half away from zero on the
  // seventh decimal.
  std::string digits;
  for (int power = exp10 > 0 ? exp10 : 0; power >= -decimals; --power)
    digits += digit_of_weight(power);
  if (digit_of_weight(-decimals - 1) >= '5') {
    std::size_t i = digits.size();
    while (i > 0) {
      --i;
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
      if (i == 0) digits.insert(digits.begin(), '1');
    }
  }
  const std::size_t int_len = digits.size() - decimals;
  out.append(digits, 0, int_len);
  out += '.';
  out.append(digits, int_len, decimals);
}

void append_decimal(std::string& out, std::int64_t v) {
  std::array<char, 24> buf{};
  const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  (void)ec;
  out.append(buf.data(), end);
}

std::string format_fixed6(double v) {
  std::string s;
  append_fixed6(s, v);
  return s;
}

}  // namespace fixfir
