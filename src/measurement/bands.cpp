#include "fixfir/measurement/bands.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

double to_decibels(double v) noexcept { return 20.0 * std::log10(v); }

// Parses a decimal number filling all of `text`.
bool parse_hertz(std::string_view text, double& v) {
  if (text.empty() || text.size() > 64) return false;
  const std::string s(text);
  // strtod would also take "inf", "nan" and hexadecimal; only plain decimals are wanted.
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
  }
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && std::isfinite(v);
}

// The band edges the steady state can be measured at: a unit sine at 0 Hz, or at 8000 Hz
// on its zero crossings, is silent.
constexpr double lowest_measured_hz = SWEEP_FIRST_FREQUENCY;
constexpr double highest_measured_hz = SWEEP_LAST_FREQUENCY - SWEEP_FIRST_FREQUENCY;

const char* kind_name(bool pass) { return pass ? "pass band " : "stop band "; }

// Whether two bands share more than an edge.
bool overlap(const band& a, const band& b) { return a.low < b.high && b.low < a.high; }

// Appends the levels of `points` inside `b`; false when there are none.
void levels_in(const response_points& points, band b, double& low, double& high, bool& any) {
  const auto& f = points.frequency;
  auto it = std::lower_bound(f.begin(), f.end(), b.low);
  for (auto i = static_cast<std::size_t>(it - f.begin()); i < f.size() && f[i] <= b.high; ++i) {
    const double v = points.magnitude[i];
    if (std::isnan(v)) {
      low = high = not_a_number;
      any = true;
      return;
    }
    low = std::min(low, v);
    high = std::max(high, v);
    any = true;
  }
}

}  // namespace

std::string hertz_text(double hertz) {
  char buf[64];
  // to_chars' shortest form reads back as the same double; + 0.0 turns -0 into 0.
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, hertz + 0.0);
  return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

std::string band_text(const band& b, double rate) {
  return rate_hertz_text(b.low, rate) + " to " + rate_hertz_text(b.high, rate) + " Hz";
}

result<band> check_band(band b) {
  if (!(b.low >= 0.0 && b.high <= NYQUIST_HZ && b.low < b.high))
    return make_error(error_kind::bad_input, "not a band within 0 to 8000 Hz with LO below HI");
  b.low += 0.0;  // -0 is 0
  return b;
}

result<band> parse_band(std::string_view text, double rate) {
  const std::size_t colon = text.find(':');
  band b;
  if (colon == std::string_view::npos || !parse_hertz(text.substr(0, colon), b.low) ||
      !parse_hertz(text.substr(colon + 1), b.high)) {
    return make_error(error_kind::bad_input, "'" + std::string(text) + "' is not LO:HI in hertz");
  }
  result<band> checked = check_band({internal_hertz(b.low, rate), internal_hertz(b.high, rate)});
  if (!checked) {
    const std::string within = rate == DEFAULT_SAMPLE_RATE
                                   ? checked.failure().message
                                   : "not a band within 0 to " + rate_hertz_text(NYQUIST_HZ, rate) +
                                         " Hz with LO below HI";
    return make_error(error_kind::bad_input, "'" + std::string(text) + "' is " + within);
  }
  return checked;
}

std::string band_list_problem(const std::vector<band>& bands, bool pass, double rate) {
  for (const band& b : bands) {
    if (b.high < lowest_measured_hz || b.low > highest_measured_hz) {
      return kind_name(pass) + band_text(b, rate) + " holds no frequency from " +
             rate_hertz_text(lowest_measured_hz, rate) + " to " +
             rate_hertz_text(highest_measured_hz, rate) + " Hz, where the steady state is measured";
    }
  }
  for (std::size_t i = 0; i < bands.size(); ++i) {
    for (std::size_t j = i + 1; j < bands.size(); ++j) {
      if (overlap(bands[i], bands[j])) {
        return kind_name(pass) + band_text(bands[i], rate) + " overlaps " + kind_name(pass) +
               band_text(bands[j], rate);
      }
    }
  }
  return {};
}

std::string band_plan_problem(const band_plan& plan) {
  for (const bool pass : {true, false}) {
    if (!(pass ? plan.passbands_given : plan.stopbands_given)) continue;
    std::string problem =
        band_list_problem(pass ? plan.passbands : plan.stopbands, pass, plan.sample_rate);
    if (!problem.empty()) return problem;
  }
  for (const band& p : plan.passbands) {
    for (const band& s : plan.stopbands) {
      if (overlap(p, s))
        return kind_name(true) + band_text(p, plan.sample_rate) + " overlaps " + kind_name(false) +
               band_text(s, plan.sample_rate);
    }
  }
  if (plan.passbands.empty()) return "no pass band";
  return {};
}

outcome band_points(const dense_response& response, std::span<const double> h,
                    const band_plan& plan, response_points& out) noexcept {
  try {
    out.frequency.clear();
    out.magnitude.clear();
    std::vector<std::pair<double, double>> points;
    bool going = true;
    auto add_band = [&](band b) {
      going = going && keep_going();  // each edge sums over every tap
      if (!going) return;
      points.emplace_back(b.low, magnitude_at(h, b.low));
      points.emplace_back(b.high, magnitude_at(h, b.high));
      const auto first = static_cast<std::size_t>(std::ceil(b.low / response.spacing));
      for (std::size_t k = first; k < response.magnitude.size(); ++k) {
        const double f = static_cast<double>(k) * response.spacing;
        if (f > b.high) break;
        points.emplace_back(f, response.magnitude[k]);
      }
    };
    for (const band& b : plan.passbands) add_band(b);
    for (const band& b : plan.stopbands) add_band(b);
    if (!going) return interrupted_error();
    std::sort(points.begin(), points.end());
    for (const auto& [f, v] : points) {
      out.frequency.push_back(f);
      out.magnitude.push_back(v);
    }
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

band_figures_db measure_plan(const response_points& points, const band_plan& plan) {
  band_figures_db fig;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  bool any = false;
  for (const band& b : plan.passbands) levels_in(points, b, low, high, any);
  fig.passbands_measured = any;
  fig.passband_max_db = any ? to_decibels(high) : not_a_number;
  fig.ripple_db = any ? to_decibels(high) - to_decibels(low) : not_a_number;
  fig.worst_attenuation_db =
      plan.stopbands.empty() ? not_a_number : std::numeric_limits<double>::infinity();
  for (const band& b : plan.stopbands) {
    double stop_low = std::numeric_limits<double>::infinity();
    double stop_high = -stop_low;
    bool stop_any = false;
    levels_in(points, b, stop_low, stop_high, stop_any);
    fig.stopbands_measured.push_back(stop_any ? 1 : 0);
    const double a = stop_any ? fig.passband_max_db - to_decibels(stop_high) : not_a_number;
    fig.attenuation_db.push_back(a);
    // NaN wins: a band that cannot be measured leaves the worst unknown.
    if (std::isnan(a) || std::isnan(fig.worst_attenuation_db))
      fig.worst_attenuation_db = not_a_number;
    else
      fig.worst_attenuation_db = std::min(fig.worst_attenuation_db, a);
  }
  return fig;
}

}  // namespace fixfir
