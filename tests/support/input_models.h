#pragma once
// Straightforward models of the tool's two readers, written independently of
// src/common/text_scan.cpp: the tap file ("%i" count, then "%f" taps) and the "%d"
// answers. The fuzzers and the model tests compare the real readers against these.
//
// The models work on positions in a string: a read skips white space, consumes the
// longest run of characters that can still begin a number, and sets the end-of-input
// flag when that run (or the white space) reaches the end of the text.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fixfir_test {

/// What reading a tap file's text should give.
struct tap_model {
  std::int32_t count = 0;  ///< the list's count: 0 when the file states fewer than 1
  std::vector<float> taps;
  std::uint64_t messages = 0;  ///< "improperly formatted file" repetitions
  /// The numbers after the last tap, up to the first that is not one, when every tap is a
  /// number (what the report reads past the taps).
  std::int64_t numbers_after = 0;
};

/// The low 32 bits of a 64-bit value, as two's complement.
inline std::int32_t model_low_32(long long v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long long>(v)));
}

inline bool model_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
inline bool model_digit(char c) { return c >= '0' && c <= '9'; }

/// The tap count as "%i" reads it, and where that read stops; `stated` keeps the value
/// before the below-1 rule.
inline std::int32_t model_tap_count(const std::string& s, std::size_t& end) {
  char* stop = nullptr;
  const long long n = std::strtoll(s.c_str(), &stop, 0);  // saturates, like the reader
  end = static_cast<std::size_t>(stop - s.c_str());
  return model_low_32(n);
}

/// One "%f" read from `pos`. Returns whether a number was read; `eof` is set when the
/// read ran into the end of the text.
inline bool model_real(const std::string& s, std::size_t& pos, bool& eof, float& value) {
  const std::size_t n = s.size();
  while (pos < n && model_space(s[pos])) ++pos;
  const std::size_t start = pos;
  if (pos < n && (s[pos] == '+' || s[pos] == '-')) ++pos;
  std::size_t digits = 0;
  while (pos < n && model_digit(s[pos])) ++pos, ++digits;
  if (pos < n && s[pos] == '.') {
    ++pos;
    while (pos < n && model_digit(s[pos])) ++pos, ++digits;
  }
  if (digits > 0 && pos < n && (s[pos] == 'e' || s[pos] == 'E')) {
    ++pos;
    if (pos < n && (s[pos] == '+' || s[pos] == '-')) ++pos;
    while (pos < n && model_digit(s[pos])) ++pos;
  }
  if (pos == n) eof = true;
  if (digits == 0) return false;
  value = std::strtof(s.substr(start, pos - start).c_str(), nullptr);
  return true;
}

/// The tap list and message count that the text of a tap file should give.
inline tap_model model_tap_text(std::string_view text) {
  const std::string s(text);
  tap_model r;
  std::size_t pos = 0;
  const std::int32_t stated = model_tap_count(s, pos);
  if (stated < 1) {
    r.messages = 1;
    return r;
  }
  r.count = stated;
  r.taps.assign(static_cast<std::size_t>(stated), 0.0f);
  // A count that ends the text has already met its end.
  bool eof = pos == s.size();
  bool all_numbers = true;
  for (std::int32_t i = 0; i < stated; ++i) {
    if (eof) {
      ++r.messages;
      all_numbers = false;
      continue;
    }
    all_numbers = model_real(s, pos, eof, r.taps[static_cast<std::size_t>(i)]) && all_numbers;
  }
  float after = 0.0f;
  while (all_numbers && !eof && model_real(s, pos, eof, after)) ++r.numbers_after;
  return r;
}

/// Only the count a tap file states (after the 32-bit wrap), to bound work cheaply.
inline std::int32_t model_stated_count(std::string_view text) {
  std::size_t end = 0;
  return model_tap_count(std::string(text), end);
}

/// One "%d" read from `pos` into `value`, which a failed read leaves as it was.
inline bool model_decimal(const std::string& s, std::size_t& pos, bool& eof, std::int32_t& value) {
  const std::size_t n = s.size();
  while (pos < n && model_space(s[pos])) ++pos;
  const std::size_t start = pos;
  if (pos < n && (s[pos] == '+' || s[pos] == '-')) ++pos;
  const std::size_t first_digit = pos;
  while (pos < n && model_digit(s[pos])) ++pos;
  if (pos == n) eof = true;
  if (pos == first_digit) return false;
  value = model_low_32(std::strtoll(s.substr(start, pos - start).c_str(), nullptr, 10));
  return true;
}

}  // namespace fixfir_test
