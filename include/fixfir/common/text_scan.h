#pragma once
// Number reading from a character stream, with an end-of-file indicator that is set by
// the first read that runs into the end of the input and stays set.
//
// The readers follow the conventions of formatted input: leading white space is
// skipped, the number is taken greedily, and the first character that cannot continue
// it is put back. A read that fails leaves its variable unchanged.

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace fixfir {

/// A character source: either in-memory text or a C stream (when `file` is not null).
struct char_input {
  std::FILE* file = nullptr;
  std::string_view text;
  std::size_t pos = 0;
  bool eof = false;      ///< set by a read that met the end of the input
  int pushed_back = -1;  ///< one character put back, or -1
};

/// A source over in-memory text.
[[nodiscard]] char_input text_input(std::string_view text) noexcept;
/// A source over a C stream such as stdin.
[[nodiscard]] char_input stream_input(std::FILE* file) noexcept;

/// The next character as an unsigned char value, or EOF (which sets `eof`).
int next_char(char_input& in) noexcept;
/// Puts `c` back so that the next read returns it; EOF is not put back.
void put_back(char_input& in, int c) noexcept;

/// Reads a decimal integer with an optional sign. Out-of-range values saturate to the
/// 64-bit range and keep their low 32 bits.
bool scan_decimal(char_input& in, std::int32_t& value) noexcept;

/// Like `scan_decimal`, but "0x"/"0X" introduces hexadecimal digits and a leading 0
/// octal digits.
bool scan_integer(char_input& in, std::int32_t& value) noexcept;

/// Reads a real: optional sign, digits with an optional decimal point (at least one
/// digit), optional exponent. Words such as inf or nan and hexadecimal floats are not
/// numbers. The value is the single-precision float nearest to the decimal text. The
/// text is gathered in memory, so a very long number can throw std::bad_alloc.
bool scan_real(char_input& in, float& value);

}  // namespace fixfir
