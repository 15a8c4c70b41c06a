#include "fixfir/measurement/sample_rate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/measurement/bands.h"

namespace fixfir {

namespace {

// Shortest text that reads back as `v`: plain while it fits 24 places, else with an exponent.
std::string shortest_plain(double v) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v + 0.0, std::chars_format::fixed);
  if (ec == std::errc() && end - buf <= 24) return std::string(buf, end);
  return hertz_text(v);
}

}  // namespace

double internal_hertz(double hz, double rate) noexcept {
  return rate == DEFAULT_SAMPLE_RATE ? hz : hz * DEFAULT_SAMPLE_RATE / rate;
}

double hertz_at(double internal, double rate) noexcept {
  return rate == DEFAULT_SAMPLE_RATE ? internal : internal * rate / DEFAULT_SAMPLE_RATE;
}

double seconds_at(double samples, double rate) noexcept {
  return rate == DEFAULT_SAMPLE_RATE ? samples * SAMPLE_INTERVAL : samples / rate;
}

double clock_seconds_at(double t, double rate) noexcept {
  return rate == DEFAULT_SAMPLE_RATE ? t : t * DEFAULT_SAMPLE_RATE / rate;
}

std::string rate_hertz_text(double internal, double rate) {
  if (rate == DEFAULT_SAMPLE_RATE) return hertz_text(internal);
  // The nearest double to the frequency at `rate` may not lead back to `internal`; one of
  // its neighbours usually does, and is written instead.
  const double at = hertz_at(internal, rate);
  double chosen = at;
  for (const double toward :
       {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    if (internal_hertz(chosen, rate) == internal) break;
    double y = at;
    for (int step = 0; step < 4 && internal_hertz(y, rate) != internal; ++step)
      y = std::nextafter(y, toward);
    if (internal_hertz(y, rate) == internal) chosen = y;
  }
  return shortest_plain(chosen);
}

std::string grid_text(std::int32_t internal, double rate) {
  return rate == DEFAULT_SAMPLE_RATE ? std::to_string(internal) : rate_hertz_text(internal, rate);
}

std::optional<double> parse_plain_decimal(std::string_view text) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return std::nullopt;
  }
  const std::string s(text);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

bool good_sample_rate(double rate) noexcept {
  return rate >= LOWEST_SAMPLE_RATE && rate <= HIGHEST_SAMPLE_RATE;
}

std::optional<double> parse_sample_rate(std::string_view text) {
  const std::optional<double> v = parse_plain_decimal(text);
  if (!v || !good_sample_rate(*v)) return std::nullopt;
  return v;
}

std::optional<std::int32_t> grid_hertz(double hz, double rate) noexcept {
  const double q = internal_hertz(hz, rate);
  const double k = std::nearbyint(q);
  if (!std::isfinite(q) || std::abs(q - k) > 1e-9 * std::max(1.0, std::abs(k))) return std::nullopt;
  if (!(k >= -2147483648.0 && k <= 2147483647.0)) return std::nullopt;
  return static_cast<std::int32_t>(k);
}

std::string grid_problem(double hz, double rate) {
  const double q = internal_hertz(hz, rate);
  const std::string given = shortest_plain(hz) + " Hz";
  if (!(std::abs(q) <= 2147483647.0))
    return given + " is out of range at " + shortest_plain(rate) + " Hz";
  return given + " is not a multiple of " + rate_hertz_text(1.0, rate) +
         " Hz, the spacing of frequencies at " + shortest_plain(rate) +
         " Hz (nearest: " + rate_hertz_text(std::floor(q), rate) + " or " +
         rate_hertz_text(std::ceil(q), rate) + ")";
}

}  // namespace fixfir
