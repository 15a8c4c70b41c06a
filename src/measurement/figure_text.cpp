#include "fixfir/measurement/figure_text.h"

#include <cmath>
#include <cstdio>

namespace fixfir {

namespace {

const char* format_of(figure_kind kind) noexcept {
  switch (kind) {
    case figure_kind::level:
      return "%.2f";
    case figure_kind::ripple:
      return "%.4f";
    case figure_kind::tap_error:
      return "%.6g";
  }
  return "%.2f";
}

}  // namespace

std::string figure_text(const char* format, double v) {
  // A huge value in fixed notation runs to hundreds of digits: size the text to fit it,
  // never cut it short.
  const int size = std::snprintf(nullptr, 0, format, v);
  std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) std::snprintf(text.data(), text.size() + 1, format, v);
  // A sign says which side of 0 a figure lies on: NaN has none, and neither has a value
  // that rounds to 0 at the figure's digits.
  const bool zero = std::isfinite(v) && text.find_first_of("123456789") == std::string::npos;
  if (!text.empty() && text[0] == '-' && (std::isnan(v) || zero)) text.erase(0, 1);
  return text;
}

std::string figure_text(figure_kind kind, double v) { return figure_text(format_of(kind), v); }

std::string decibels_text(figure_kind kind, double v) { return figure_text(kind, v) + " dB"; }

std::string right_column(std::string_view text, std::size_t width) {
  std::string out(width > text.size() ? width - text.size() : 0, ' ');
  return out.append(text);
}

std::string left_column(std::string_view text, std::size_t width) {
  std::string out(text);
  if (width > out.size()) out.append(width - out.size(), ' ');
  return out;
}

std::string right_column(std::int64_t n, std::size_t width) {
  return right_column(std::to_string(n), width);
}

}  // namespace fixfir
