#pragma once
// The small pieces every chart's script is written with: numbers as gnuplot reads them,
// levels in dB, and the extent of what a panel shows.

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace fixfir {

/// Appends `v` with 9 significant digits, or "NaN" when it is not finite.
void value(std::string& out, double v);

/// `v` as `value` writes it.
[[nodiscard]] std::string number(double v);

/// Three significant digits, for a title.
[[nodiscard]] std::string short_number(double v);

/// A magnitude in dB.
[[nodiscard]] inline double decibels(double v) { return 20.0 * std::log10(v); }

/// A power in dB.
[[nodiscard]] inline double power_decibels(double v) { return 10.0 * std::log10(v); }

/// The smallest and largest finite value added.
struct range {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  void add(double v) {
    if (!std::isfinite(v)) return;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  [[nodiscard]] bool empty() const { return !(low <= high); }
};

/// "set yrange [low:high]".
void yrange(std::string& s, double low, double high);

}  // namespace fixfir
