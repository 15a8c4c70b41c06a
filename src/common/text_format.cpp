#include "text_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace fixfir {

namespace {

constexpr int significant_digits = 17;
constexpr int decimals = 6;

}  // namespace

void append_fixed6(std::string& out, double v) {
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
