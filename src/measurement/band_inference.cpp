#include "fixfir/measurement/band_inference.h"

#include <algorithm>
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
#include <utility>
#include <vector>

namespace fixfir {

namespace {

// How far a last maximum may stand above the middle of the ripple, in half-heights of
// the ripple, before it counts as an overshoot into the transition band. The last ripple
// of a windowed design stands up to about 1.9; the transition overshoot of an
// equiripple band-pass about 2.5.
constexpr double overshoot_ratio = 2.2;

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

}  // namespace

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

}  // namespace fixfir
