#include "fixfir/report/chart_text.h"

#include <cstdio>

namespace fixfir {

void value(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "NaN";
    return;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  out += buf;
}

std::string number(double v) {
  std::string s;
  value(s, v);
  return s;
}

// Three significant digits, for a title.
std::string short_number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3g", v);
  return buf;
}

void yrange(std::string& s, double low, double high) {
  s += "set yrange [" + number(low) + ":" + number(high) + "]\n";
}

}  // namespace fixfir
