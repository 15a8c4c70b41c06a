#include "fixfir/report/printable_text.h"

#include <cstddef>
#include <cstdio>

namespace fixfir {

namespace {

void escape_byte(std::string& out, unsigned char u) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", u);
  out += buf;
}

bool continuation(std::string_view text, std::size_t i) {
  return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xc0) == 0x80;
}

// The length of the well-formed UTF-8 character at `i` (no overlong forms, surrogates or
// code points past U+10FFFF), or 0; `code` receives its code point.
std::size_t utf8_length(std::string_view text, std::size_t i, char32_t& code) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code = lead & 0x1fU;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    code = lead & 0x0fU;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code = lead & 0x07U;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (!continuation(text, i + k)) return 0;
    code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3fU);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xd800 && code <= 0xdfff;
  return overlong || surrogate || code > 0x10ffff ? 0 : length;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      escape_byte(out, u);
    } else if (u < 0x80) {
      out += c;
    } else {
      char32_t code = 0;
      const std::size_t length = utf8_length(text, i, code);
      if (length == 0) {
        escape_byte(out, u);
      } else {
        // C1 controls, and the line and paragraph separators, which the C library counts
        // as control characters and a terminal may take for a line break.
        const bool c1_control = (code >= 0x80 && code <= 0x9f) || code == 0x2028 || code == 0x2029;
        for (std::size_t k = 0; k < length; ++k) {
          if (c1_control)
            escape_byte(out, static_cast<unsigned char>(text[i + k]));
          else
            out += text[i + k];
        }
        i += length;
        continue;
      }
    }
    ++i;
  }
  return out;
}

}  // namespace fixfir
