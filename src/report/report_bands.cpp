#include "report_bands.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <limits>
#include <new>

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr double pi = 3.141592653589793;
constexpr std::size_t smallest_grid = 16384;
constexpr std::size_t largest_grid = std::size_t{1} << 20;
constexpr std::size_t points_per_lobe = 16;
// How far a last maximum may stand above the middle of the ripple, in half-heights of
// the ripple, before it counts as an overshoot into the transition band. The last ripple
// of a windowed design stands up to about 1.9; the transition overshoot of an
// equiripple band-pass about 2.5.
constexpr double overshoot_ratio = 2.2;

double to_decibels(double v) noexcept { return 20.0 * std::log10(v); }

// In-place radix-2 FFT (decimation in time) of a power-of-two length.
void fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  // Each twiddle is computed directly rather than by a recurrence, which would drift.
  std::vector<std::complex<double>> twiddle(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double angle = -2.0 * pi * static_cast<double>(k) / static_cast<double>(n);
    twiddle[k] = {std::cos(angle), std::sin(angle)};
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t stride = n / len;
    for (std::size_t i = 0; i < n; i += len) {
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * twiddle[k * stride];
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// Local extrema of the grid; the ends are mirror points (the response is even about 0
// and about 8000 Hz), so an end is an extremum when its one neighbour is beyond it.
bool is_max(const std::vector<double>& m, std::size_t k) {
  const double left = k > 0 ? m[k - 1] : m[k + 1];
  const double right = k + 1 < m.size() ? m[k + 1] : m[k - 1];
  return m[k] > left && m[k] >= right;
}
bool is_min(const std::vector<double>& m, std::size_t k) {
  const double left = k > 0 ? m[k - 1] : m[k + 1];
  const double right = k + 1 < m.size() ? m[k + 1] : m[k - 1];
  return m[k] < left && m[k] <= right;
}

struct index_span {
  std::size_t first = 0;
  std::size_t last = 0;
};

// Drops a last (or first) maximum that stands far above the ripple of the others.
void drop_overshoot(const std::vector<double>& m, std::vector<std::size_t>& extrema, bool at_end) {
  if (extrema.size() < 4) return;
  const std::size_t end = at_end ? extrema.back() : extrema.front();
  if (!is_max(m, end)) return;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (std::size_t i = at_end ? 0 : 1; i < extrema.size() - (at_end ? 1 : 0); ++i) {
    low = std::min(low, m[extrema[i]]);
    high = std::max(high, m[extrema[i]]);
  }
  const double middle = (high + low) / 2.0;
  const double half_height = (high - low) / 2.0;
  if (m[end] - middle > overshoot_ratio * half_height) {
    if (at_end)
      extrema.pop_back();
    else
      extrema.erase(extrema.begin());
  }
}

// The pass band inside the high stretch [a, b], if it has one.
bool passband_in(const std::vector<double>& m, index_span stretch, index_span& out) {
  std::vector<std::size_t> extrema;
  for (std::size_t k = stretch.first; k <= stretch.last; ++k) {
    if (is_max(m, k) || is_min(m, k)) extrema.push_back(k);
  }
  drop_overshoot(m, extrema, true);
  drop_overshoot(m, extrema, false);
  if (extrema.size() < 2) {
    // No ripple to go by: the frequencies within 1 dB of the top.
    const auto top = std::max_element(m.begin() + static_cast<std::ptrdiff_t>(stretch.first),
                                      m.begin() + static_cast<std::ptrdiff_t>(stretch.last) + 1);
    const double floor = *top * std::pow(10.0, -1.0 / 20.0);
    std::size_t lo = static_cast<std::size_t>(top - m.begin());
    std::size_t hi = lo;
    while (lo > stretch.first && m[lo - 1] >= floor) --lo;
    while (hi < stretch.last && m[hi + 1] >= floor) ++hi;
    out = {lo, hi};
    return true;
  }
  std::size_t lo = extrema.front();
  std::size_t hi = extrema.back();
  const auto [low, high] = std::minmax_element(m.begin() + static_cast<std::ptrdiff_t>(lo),
                                               m.begin() + static_cast<std::ptrdiff_t>(hi) + 1);
  const double vmin = *low;
  const double vmax = *high;
  while (lo > stretch.first && m[lo - 1] >= vmin && m[lo - 1] <= vmax) --lo;
  while (hi < stretch.last && m[hi + 1] >= vmin && m[hi + 1] <= vmax) ++hi;
  out = {lo, hi};
  return true;
}

// The stop band inside the low stretch [a, b], if it has side lobes.
bool stopband_in(const std::vector<double>& m, index_span stretch, index_span& out) {
  double level = -1.0;
  for (std::size_t k = stretch.first; k <= stretch.last; ++k) {
    if (is_max(m, k)) level = std::max(level, m[k]);
  }
  if (level < 0.0) return false;
  std::size_t lo = stretch.first;
  std::size_t hi = stretch.last;
  // A stretch that ends at 0 or 8000 Hz is a stop band up to there; elsewhere it starts
  // where the transition falls to the highest side lobe.
  if (lo > 0) {
    while (m[lo] > level) ++lo;
  }
  if (hi + 1 < m.size()) {
    while (m[hi] > level) --hi;
  }
  out = {lo, hi};
  return true;
}

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

std::size_t dense_grid_size(std::size_t taps) noexcept {
  std::size_t n = smallest_grid;
  while (n < largest_grid && n / points_per_lobe < taps) n <<= 1;
  return n;
}

bool dense_magnitude(std::span<const double> h, dense_response& out) noexcept {
  try {
    const std::size_t n = dense_grid_size(h.size());
    std::vector<std::complex<double>> a(n);
    // Taps beyond the FFT length fold onto it: e^(-iωj) repeats every n taps at the grid.
    for (std::size_t j = 0; j < h.size(); ++j) a[j % n] += h[j];
    fft(a);
    out.spacing = 2.0 * NYQUIST_HZ / static_cast<double>(n);
    out.magnitude.resize(n / 2 + 1);
    for (std::size_t k = 0; k < out.magnitude.size(); ++k) out.magnitude[k] = std::abs(a[k]);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool taps_response(std::span<const float> taps, dense_response& out) noexcept {
  try {
    const std::vector<double> h(taps.begin(), taps.end());
    return dense_magnitude(h, out);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool coefficients_response(std::span<const std::int32_t> coefficients, double scale,
                           dense_response& out) noexcept {
  try {
    std::vector<double> h(coefficients.size());
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
    return dense_magnitude(h, out);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

double magnitude_at(std::span<const double> h, double frequency) noexcept {
  // The phase is reduced to one turn before the sine, so long tap sets keep their accuracy.
  const double turns_per_tap = frequency / (2.0 * NYQUIST_HZ);
  double re = 0.0;
  double im = 0.0;
  for (std::size_t j = 0; j < h.size(); ++j) {
    const double turns = turns_per_tap * static_cast<double>(j);
    const double phase = 2.0 * pi * (turns - std::floor(turns));
    re += h[j] * std::cos(phase);
    im -= h[j] * std::sin(phase);
  }
  return std::hypot(re, im);
}

bool averaged_spectrum(std::span<const double> x, std::size_t segment,
                       std::vector<double>& out) noexcept {
  try {
    std::vector<double> window(segment);
    double window_power = 0.0;
    for (std::size_t i = 0; i < segment; ++i) {
      window[i] =
          0.5 - 0.5 * std::cos(2.0 * pi * static_cast<double>(i) / static_cast<double>(segment));
      window_power += window[i] * window[i];
    }
    out.assign(segment / 2 + 1, 0.0);
    std::vector<std::complex<double>> a(segment);
    std::size_t segments = 0;
    for (std::size_t start = 0; segments == 0 || start + segment <= x.size();
         start += segment / 2) {
      for (std::size_t i = 0; i < segment; ++i)
        a[i] = start + i < x.size() ? window[i] * x[start + i] : 0.0;
      fft(a);
      for (std::size_t k = 0; k < out.size(); ++k) out[k] += std::norm(a[k]);
      ++segments;
    }
    const double norm =
        2.0 / (window_power * static_cast<double>(segment) * static_cast<double>(segments));
    for (double& v : out) v *= norm;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

band_plan infer_bands(const dense_response& response) {
  band_plan plan;
  const std::vector<double>& m = response.magnitude;
  if (m.size() < 2) return plan;
  const double peak = *std::max_element(m.begin(), m.end());
  if (!(peak > 0.0) || !std::isfinite(peak)) return plan;
  const double high_level = peak / std::sqrt(2.0);
  for (std::size_t a = 0; a < m.size();) {
    const bool high = m[a] >= high_level;
    std::size_t b = a;
    while (b + 1 < m.size() && (m[b + 1] >= high_level) == high) ++b;
    index_span found;
    if (high ? passband_in(m, {a, b}, found) : stopband_in(m, {a, b}, found)) {
      const band edges{static_cast<double>(found.first) * response.spacing,
                       static_cast<double>(found.last) * response.spacing};
      (high ? plan.passbands : plan.stopbands).push_back(edges);
    }
    a = b + 1;
  }
  return plan;
}

bool parse_band(std::string_view text, band& out, std::string& message) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    message = "'" + std::string(text) + "' is not LO:HI in hertz";
    return false;
  }
  band b;
  if (!parse_hertz(text.substr(0, colon), b.low) || !parse_hertz(text.substr(colon + 1), b.high)) {
    message = "'" + std::string(text) + "' is not LO:HI in hertz";
    return false;
  }
  if (!(b.low >= 0.0 && b.high <= NYQUIST_HZ && b.low < b.high)) {
    message = "'" + std::string(text) + "' is not a band within 0 to 8000 Hz with LO below HI";
    return false;
  }
  out = b;
  return true;
}

std::string band_plan_problem(const band_plan& plan) {
  if (plan.passbands.empty()) return "no pass band";
  for (const band& p : plan.passbands) {
    for (const band& s : plan.stopbands) {
      if (p.low <= s.high && s.low <= p.high) return "a pass band overlaps a stop band";
    }
  }
  return {};
}

bool band_points(const dense_response& response, std::span<const double> h, const band_plan& plan,
                 response_points& out) noexcept {
  try {
    out.frequency.clear();
    out.magnitude.clear();
    std::vector<std::pair<double, double>> points;
    auto add_band = [&](band b) {
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
    std::sort(points.begin(), points.end());
    for (const auto& [f, v] : points) {
      out.frequency.push_back(f);
      out.magnitude.push_back(v);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

band_figures_db measure_plan(const response_points& points, const band_plan& plan) {
  band_figures_db fig;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  bool any = false;
  for (const band& b : plan.passbands) levels_in(points, b, low, high, any);
  fig.passband_max_db = any ? to_decibels(high) : not_a_number;
  fig.ripple_db = any ? to_decibels(high) - to_decibels(low) : not_a_number;
  fig.worst_attenuation_db =
      plan.stopbands.empty() ? not_a_number : std::numeric_limits<double>::infinity();
  for (const band& b : plan.stopbands) {
    double stop_low = std::numeric_limits<double>::infinity();
    double stop_high = -stop_low;
    bool stop_any = false;
    levels_in(points, b, stop_low, stop_high, stop_any);
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
