#include "fixfir/common/text_scan.h"

#include <cstdlib>
#include <string>

#include "fixfir/common/conversion.h"

namespace fixfir {

namespace {

bool is_space(int c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }

int digit_value(int c, int base) noexcept {
  int d = 99;
  if (c >= '0' && c <= '9')
    d = c - '0';
  else if (c >= 'a' && c <= 'f')
    d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    d = c - 'A' + 10;
  return d < base ? d : -1;
}

int skip_space(char_input& in) noexcept {
  int c = next_char(in);
  while (is_space(c)) c = next_char(in);
  return c;
}

// Reads digits of `base` starting with `c`, saturating the magnitude at 2^64 - 1.
// Returns the first character that is not a digit; `any` tells whether one was read.
int read_magnitude(char_input& in, int c, int base, std::uint64_t& magnitude, bool& any) noexcept {
  for (int d = digit_value(c, base); d >= 0; d = digit_value(c, base)) {
    any = true;
    const auto b = static_cast<std::uint64_t>(base);
    const auto u = static_cast<std::uint64_t>(d);
    magnitude = magnitude > (UINT64_MAX - u) / b ? UINT64_MAX : magnitude * b + u;
    c = next_char(in);
  }
  return c;
}

// Saturates a signed magnitude to the 64-bit range and keeps the low 32 bits.
std::int32_t to_int32(bool negative, std::uint64_t magnitude) noexcept {
  constexpr std::uint64_t max_positive = static_cast<std::uint64_t>(INT64_MAX);
  std::int64_t v = 0;
  if (negative) {
    v = magnitude > max_positive ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  } else {
    v = magnitude > max_positive ? INT64_MAX : static_cast<std::int64_t>(magnitude);
  }
  return low_32_bits(v);
}

bool scan_int(char_input& in, std::int32_t& value, bool detect_base) noexcept {
  int c = skip_space(in);
  if (c == EOF) return false;
  const bool negative = c == '-';
  if (c == '-' || c == '+') {
    c = next_char(in);
    if (c == EOF) return false;
  }
  int base = 10;
  bool any = false;
  std::uint64_t magnitude = 0;
  if (detect_base && c == '0') {
    any = true;  // the 0 alone is a number
    c = next_char(in);
    if (c == 'x' || c == 'X') {
      base = 16;
      c = next_char(in);
    } else {
      base = 8;
    }
  }
  c = read_magnitude(in, c, base, magnitude, any);
  put_back(in, c);
  if (!any) return false;
  value = to_int32(negative, magnitude);
  return true;
}

}  // namespace

char_input text_input(std::string_view text) noexcept {
  char_input in;
  in.text = text;
  return in;
}

char_input stream_input(std::FILE* file) noexcept {
  char_input in;
  in.file = file;
  return in;
}

int next_char(char_input& in) noexcept {
  if (in.pushed_back >= 0) {
    const int c = in.pushed_back;
    in.pushed_back = -1;
    return c;
  }
  int c = EOF;
  if (in.file != nullptr) {
    c = std::getc(in.file);
  } else if (in.pos < in.text.size()) {
    c = static_cast<unsigned char>(in.text[in.pos++]);
  }
  if (c == EOF) in.eof = true;
  return c;
}

void put_back(char_input& in, int c) noexcept {
  if (c != EOF) in.pushed_back = c;
}

bool scan_decimal(char_input& in, std::int32_t& value) noexcept {
  return scan_int(in, value, false);
}

bool scan_integer(char_input& in, std::int32_t& value) noexcept {
  return scan_int(in, value, true);
}

bool scan_real(char_input& in, float& value) {
  std::string text;
  int c = skip_space(in);
  if (c == EOF) return false;
  if (c == '-' || c == '+') {
    if (c == '-') text += '-';
    c = next_char(in);
    if (c == EOF) return false;
  }
  bool got_digit = false;
  bool got_dot = false;
  bool got_exp = false;
  // The text is taken greedily, as formatted input does: an exponent mark, or its
  // sign, is consumed even when no digit follows it; the value is then that of the
  // longest prefix that forms a number ("1e+" reads as 1).
  for (;; c = next_char(in)) {
    if (is_digit(c)) {
      got_digit = true;
    } else if (got_exp && (c == '+' || c == '-') && (text.back() == 'e')) {
    } else if (got_digit && !got_exp && (c == 'e' || c == 'E')) {
      got_exp = got_dot = true;
      c = 'e';
    } else if (!got_dot && c == '.') {
      got_dot = true;
    } else {
      put_back(in, c);
      break;
    }
    text += static_cast<char>(c);
  }
  if (!got_digit) return false;
  // Only digits, one dot, one exponent: nothing the C conversion would read as a word
  // or a hexadecimal float. No locale is set, so the decimal point is '.'.
  value = std::strtof(text.c_str(), nullptr);
  return true;
}

}  // namespace fixfir
