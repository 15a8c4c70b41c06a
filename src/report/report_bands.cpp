#include "report_bands.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <new>
#include <utility>

#include "frequency_sweep.h"
#include "parallel_chunks.h"

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

// ---- Least-squares band edges --------------------------------------------------------

constexpr std::size_t least_squares_taps_limit = 2047;
// Equations beyond the fitted unknowns, so that a fit is a finding rather than a given.
constexpr std::size_t spare_equations = 4;
// The most that rounding the taps may explain of the largest band's terms. A windowed or
// equiripple design leaves a residual of a tenth of its terms or more, a least-squares
// one no more than its rounding: a hundredth keeps the two ten times apart. Long designs
// of some 80 dB and more round by more than that and keep their inferred bands.
constexpr double largest_rounding_share = 0.01;
constexpr int refine_steps = 30;
constexpr int step_halvings = 8;
// Where in its transition each edge starts (the lower edge's share of the way, then the
// upper's): first the inferred bands themselves. Short tap sets have wide transitions
// that the inferred bands say little about; up to `few_equations` equations the fit
// tries the others too.
constexpr double starts_in_gap[][2] = {
    {0.0, 1.0}, {1.0 / 3.0, 2.0 / 3.0}, {1.0 / 6.0, 5.0 / 6.0}, {0.25, 0.5}, {0.5, 0.75}};
constexpr std::size_t few_equations = 64;
// Points an edge's transition is searched at before the crossing is bisected.
constexpr std::size_t edge_search_points = 32;
constexpr int bisections = 40;

// The zero-phase amplitude of symmetric taps, A(f) = Σ a[k] cos(2π f (k + o) / 16000).
struct amplitude {
  std::vector<double> a;
  std::vector<double> rounding;  // the most a[k] moved when its tap was rounded to float
  std::size_t half_offset = 0;   // 2·o: 0 for an odd count, 1 for an even one
};

bool symmetric_amplitude(std::span<const float> taps, amplitude& out) {
  const std::size_t n = taps.size();
  for (std::size_t j = 0; j < n; ++j) {
    if (!std::isfinite(taps[j]) || taps[j] != taps[n - 1 - j]) return false;
  }
  const std::size_t count = (n + 1) / 2;
  out.half_offset = n % 2 == 0 ? 1 : 0;
  out.a.resize(count);
  out.rounding.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    const float t = taps[count - 1 - k];
    const float size = std::fabs(t);
    const double half_ulp =
        (static_cast<double>(std::nextafter(size, std::numeric_limits<float>::infinity())) -
         static_cast<double>(size)) /
        2.0;
    const double twice = out.half_offset == 0 && k == 0 ? 1.0 : 2.0;  // the middle tap once
    out.a[k] = twice * static_cast<double>(t);
    out.rounding[k] = twice * half_ulp;
  }
  return true;
}

// e^(iπ e / 16000), the turn by which the sines below step from one index to the next.
std::complex<double> half_turn(double e) {
  const double turns = e / (4.0 * NYQUIST_HZ);
  const double angle = 2.0 * pi * (turns - std::floor(turns));
  return {std::cos(angle), std::sin(angle)};
}

// s[q] = ∫_0^e cos(2π f (q / 2) / 16000) df for q = 0 … s.size() − 1. The sines come from
// repeated turns rather than a call each: the error grows by about an ulp a step, far
// below the float rounding of the taps that decides a fit.
void sine_integrals(double e, std::vector<double>& s) {
  s[0] = e;
  const std::complex<double> step = half_turn(e);
  std::complex<double> z = step;
  for (std::size_t q = 1; q < s.size(); ++q, z *= step) {
    const double d = static_cast<double>(q) / 2.0;
    s[q] = z.imag() * (2.0 * NYQUIST_HZ) / (2.0 * pi * d);
  }
}

// The normal equations' integrals from 0 to one band edge for k < rows, where
// c_k(f) = cos(2π f (k + o) / 16000).
struct edge_terms {
  std::vector<double> sines;  // sine_integrals at the edge, q up to 4 · a.size()
  std::vector<double> area;   // ∫_0^e A(f) c_k(f) df
  std::vector<double> basis;  // ∫_0^e c_k(f) df
};

// cos x cos y = (cos(x − y) + cos(x + y)) / 2 turns each integral into sine integrals.
void integrate_to(const amplitude& amp, double e, std::size_t rows, edge_terms& out) {
  const std::size_t count = amp.a.size();
  const std::size_t h = amp.half_offset;
  out.sines.resize(4 * count);
  out.area.resize(rows);
  out.basis.resize(rows);
  sine_integrals(e, out.sines);
  for (std::size_t k = 0; k < rows; ++k) {
    double sum = 0.0;
    for (std::size_t m = 0; m < count; ++m) {
      const std::size_t difference = m > k ? m - k : k - m;
      sum += amp.a[m] * (out.sines[2 * difference] + out.sines[2 * (m + k) + 2 * h]);
    }
    out.area[k] = sum / 2.0;
    out.basis[k] = out.sines[2 * k + h];
  }
}

// ∫_0^e A(f) df.
double amplitude_area(const amplitude& amp, double e) {
  double sum = 0.0;
  const std::complex<double> step = half_turn(e);
  const std::complex<double> full = step * step;
  std::complex<double> z = amp.half_offset == 0 ? std::complex<double>(1.0, 0.0) : step;
  for (std::size_t k = 0; k < amp.a.size(); ++k, z *= full) {
    const double d = static_cast<double>(2 * k + amp.half_offset) / 2.0;
    sum += d == 0.0 ? amp.a[k] * e : amp.a[k] * z.imag() * (2.0 * NYQUIST_HZ) / (2.0 * pi * d);
  }
  return sum;
}

double norm(const std::vector<double>& v) {
  double sum = 0.0;
  for (double x : v) sum += x * x;
  return std::sqrt(sum);
}

// x minimising ‖Σ x[i] columns[i] − target‖, by Householder QR. False when the columns
// are (nearly) dependent.
bool least_squares(std::vector<std::vector<double>> columns, std::vector<double> target,
                   std::vector<double>& x) {
  const std::size_t n = columns.size();
  const std::size_t rows = target.size();
  if (n == 0 || n > rows) return false;
  for (std::size_t j = 0; j < n; ++j) {
    std::vector<double>& c = columns[j];
    const double whole = norm(c);
    double below = 0.0;
    for (std::size_t i = j; i < rows; ++i) below += c[i] * c[i];
    below = std::sqrt(below);
    if (!(below > 1e-12 * whole)) {
      return false;
    }
    const double alpha = c[j] > 0.0 ? -below : below;
    std::vector<double> v(c.begin() + static_cast<std::ptrdiff_t>(j), c.end());
    v[0] -= alpha;
    double vv = 0.0;
    for (double e : v) vv += e * e;
    auto reflect = [&](std::vector<double>& y) {
      double dot = 0.0;
      for (std::size_t i = 0; i < v.size(); ++i) dot += v[i] * y[j + i];
      const double tau = 2.0 * dot / vv;
      for (std::size_t i = 0; i < v.size(); ++i) y[j + i] -= tau * v[i];
    };
    for (std::size_t l = j + 1; l < n; ++l) reflect(columns[l]);
    reflect(target);
    c[j] = alpha;
  }
  x.assign(n, 0.0);
  for (std::size_t j = n; j-- > 0;) {
    double sum = target[j];
    for (std::size_t l = j + 1; l < n; ++l) sum -= columns[l][j] * x[l];
    x[j] = sum / columns[j][j];
  }
  return true;
}

// A plan's bands in frequency order as edges (band j spans edges[2j] to edges[2j + 1]),
// when they alternate between pass and stop bands from 0 to 8000 Hz.
bool plan_edges(const band_plan& plan, std::vector<double>& edges, std::vector<bool>& passing) {
  std::vector<std::pair<band, bool>> bands;
  for (const band& b : plan.passbands) bands.emplace_back(b, true);
  for (const band& b : plan.stopbands) bands.emplace_back(b, false);
  std::sort(bands.begin(), bands.end(),
            [](const auto& x, const auto& y) { return x.first.low < y.first.low; });
  if (bands.size() < 2 || bands.front().first.low != 0.0 || bands.back().first.high != NYQUIST_HZ)
    return false;
  for (std::size_t j = 0; j < bands.size(); ++j) {
    if (!(bands[j].first.low < bands[j].first.high)) return false;
    if (j > 0 &&
        (bands[j].second == bands[j - 1].second || !(bands[j - 1].first.high < bands[j].first.low)))
      return false;
    edges.push_back(bands[j].first.low);
    edges.push_back(bands[j].first.high);
    passing.push_back(bands[j].second);
  }
  return true;
}

// A least-squares fit of the bands to the normal equations.
struct band_fit {
  std::vector<double> edges;
  std::vector<edge_terms> terms;  // at each edge
  std::vector<double> weight;     // w_j, 1 for the lowest band
  std::vector<double> level;      // w_j D_j (0 in a stop band)
  std::vector<double> residual;   // Σ_j w_j ∫_{B_j} (A − D_j) c_k
  double size = 0.0;              // ‖residual‖
};

struct band_problem {
  amplitude amp;
  std::vector<bool> passing;
  std::vector<double> lowest;   // each inner edge's range: the transition between the
  std::vector<double> highest;  // inferred bands
  std::size_t rows = 0;         // the equations fitted: k = 0 … rows − 1
};

// Column j of the band terms: ∫_{B_j} A c_k, or ∫_{B_j} c_k with `basis`, k < rows.
std::vector<double> band_integral(const band_fit& fit, std::size_t j, bool basis,
                                  std::size_t rows) {
  const edge_terms& low = fit.terms[2 * j];
  const edge_terms& high = fit.terms[2 * j + 1];
  std::vector<double> v(rows);
  for (std::size_t k = 0; k < v.size(); ++k)
    v[k] = basis ? high.basis[k] - low.basis[k] : high.area[k] - low.area[k];
  return v;
}

// The weights and levels that best fit `fit`'s edges (their terms already computed), with
// one more column per entry of `extra`; the extra columns' coefficients go to `extra_x`.
bool fit_weights(const band_problem& p, band_fit& fit,
                 const std::vector<std::vector<double>>& extra, std::vector<double>& extra_x) {
  const std::size_t bands = p.passing.size();
  std::vector<std::vector<double>> columns;
  for (std::size_t j = 1; j < bands; ++j) columns.push_back(band_integral(fit, j, false, p.rows));
  for (std::size_t j = 0; j < bands; ++j) {
    if (!p.passing[j]) continue;
    std::vector<double> c = band_integral(fit, j, true, p.rows);
    for (double& v : c) v = -v;
    columns.push_back(std::move(c));
  }
  const std::size_t fitted = columns.size();
  columns.insert(columns.end(), extra.begin(), extra.end());
  const std::vector<double> first = band_integral(fit, 0, false, p.rows);
  std::vector<double> target = first;
  for (double& v : target) v = -v;
  std::vector<double> x;
  if (!least_squares(columns, target, x)) return false;
  fit.weight.assign(bands, 1.0);
  fit.level.assign(bands, 0.0);
  std::size_t i = 0;
  for (std::size_t j = 1; j < bands; ++j) fit.weight[j] = x[i++];
  for (std::size_t j = 0; j < bands; ++j) {
    if (p.passing[j]) fit.level[j] = x[i++];
  }
  extra_x.assign(x.begin() + static_cast<std::ptrdiff_t>(fitted), x.end());
  // The residual of the weights and levels alone.
  fit.residual = first;
  for (std::size_t l = 0; l < fitted; ++l) {
    for (std::size_t k = 0; k < target.size(); ++k) fit.residual[k] += x[l] * columns[l][k];
  }
  fit.size = norm(fit.residual);
  return true;
}

// Computes the terms at `fit.edges` and fits the weights to them.
bool fit_at(const band_problem& p, band_fit& fit) {
  fit.terms.resize(fit.edges.size());
  for (std::size_t i = 0; i < fit.edges.size(); ++i) {
    // 0 and 8000 Hz do not move: their terms are computed once.
    const bool outer = i == 0 || i + 1 == fit.edges.size();
    if (!outer || fit.terms[i].area.size() < p.rows)
      integrate_to(p.amp, fit.edges[i], p.rows, fit.terms[i]);
  }
  std::vector<double> unused;
  return fit_weights(p, fit, {}, unused);
}

// The edge in [lowest, highest] nearest `from` where ∫_from^edge (A(f) − level) df = step,
// or where that integral comes nearest to it.
double move_edge(const amplitude& amp, double from, double level, double step, double lowest,
                 double highest) {
  const double target = amplitude_area(amp, from) - level * from + step;
  auto miss = [&](double e) { return amplitude_area(amp, e) - level * e - target; };
  std::vector<double> x(edge_search_points + 1);
  for (std::size_t i = 0; i <= edge_search_points; ++i)
    x[i] = lowest +
           (highest - lowest) * static_cast<double>(i) / static_cast<double>(edge_search_points);
  x.push_back(from);
  std::sort(x.begin(), x.end());
  std::vector<double> m(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) m[i] = x[i] == from ? -step : miss(x[i]);
  // The crossing nearest `from`, else the point that comes nearest.
  std::size_t nearest = x.size();
  double distance = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i + 1 < x.size(); ++i) {
    if ((m[i] <= 0.0) == (m[i + 1] <= 0.0)) continue;
    const double d = from < x[i] ? x[i] - from : from > x[i + 1] ? from - x[i + 1] : 0.0;
    if (d < distance) {
      distance = d;
      nearest = i;
    }
  }
  if (nearest == x.size()) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
      if (std::fabs(m[i]) < std::fabs(m[best])) best = i;
    }
    return x[best];
  }
  double a = x[nearest];
  double b = x[nearest + 1];
  const bool low_side = m[nearest] <= 0.0;
  for (int n = 0; n < bisections; ++n) {
    const double mid = (a + b) / 2.0;
    ((miss(mid) <= 0.0) == low_side ? a : b) = mid;
  }
  return (a + b) / 2.0;
}

// Gauss–Newton steps on the edges. Moving edge e of band j to e' changes the residual by
// ±∫_e^e' (w_j A(f) − level_j) c_k(f) df ≈ ±w_j c_k(e) ∫_e^e' (A(f) − level_j / w_j) df:
// linear in the weights, the levels and that last integral together, so each step solves
// for all of them at once and then finds the edge whose integral it asks for.
bool refine(const band_problem& p, band_fit& fit) {
  if (!fit_at(p, fit)) return false;
  const std::size_t inner = fit.edges.size() - 2;
  for (int step = 0; step < refine_steps; ++step) {
    std::vector<std::vector<double>> edge_columns(inner, std::vector<double>(p.rows));
    for (std::size_t i = 0; i < inner; ++i) {
      const double e = fit.edges[i + 1];
      const double sign = (i + 1) % 2 == 1 ? 1.0 : -1.0;  // a band's high edge, or its low one
      for (std::size_t k = 0; k < p.rows; ++k) {
        const double turns =
            e * static_cast<double>(2 * k + p.amp.half_offset) / (4.0 * NYQUIST_HZ);
        edge_columns[i][k] = sign * std::cos(2.0 * pi * (turns - std::floor(turns)));
      }
    }
    band_fit linear = fit;
    std::vector<double> moves;
    if (!fit_weights(p, linear, edge_columns, moves)) return true;
    bool moved = false;
    double share = 1.0;
    for (int halving = 0; halving < step_halvings && !moved; ++halving, share /= 2.0) {
      band_fit next = fit;
      for (std::size_t i = 0; i < inner; ++i) {
        const std::size_t j = (i + 1) / 2;
        const double w = linear.weight[j];
        if (!(w > 0.0)) continue;
        next.edges[i + 1] = move_edge(p.amp, fit.edges[i + 1], linear.level[j] / w,
                                      share * moves[i] / w, p.lowest[i], p.highest[i]);
      }
      if (!std::is_sorted(next.edges.begin(), next.edges.end()) ||
          std::adjacent_find(next.edges.begin(), next.edges.end()) != next.edges.end())
        continue;
      if (fit_at(p, next) && next.size < fit.size) {
        fit = std::move(next);
        moved = true;
      }
    }
    if (!moved) break;
  }
  return true;
}

// The most that rounding the taps to float can move the residual: ‖|Q| u‖, where
// Q[k][m] = Σ_j w_j ∫_{B_j} c_k c_m is the equations' matrix and u the rounding bounds.
double rounding_bound(const band_problem& p, const band_fit& fit) {
  const std::size_t count = p.amp.a.size();
  const std::size_t h = p.amp.half_offset;
  std::vector<double> weighted(4 * count, 0.0);
  for (std::size_t j = 0; j < p.passing.size(); ++j) {
    for (std::size_t q = 0; q < weighted.size(); ++q)
      weighted[q] += fit.weight[j] * (fit.terms[2 * j + 1].sines[q] - fit.terms[2 * j].sines[q]);
  }
  double sum = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    double row = 0.0;
    for (std::size_t m = 0; m < count; ++m) {
      const std::size_t difference = m > k ? m - k : k - m;
      row += std::fabs(weighted[2 * difference] + weighted[2 * (m + k) + 2 * h]) / 2.0 *
             p.amp.rounding[m];
    }
    sum += row * row;
  }
  return std::sqrt(sum);
}

// Whether the fit is the design: see refine_least_squares_bands.
bool fits_the_design(const band_problem& p, const band_fit& fit) {
  double largest_terms = 0.0;
  for (std::size_t j = 0; j < p.passing.size(); ++j) {
    if (!(fit.weight[j] > 0.0) || (p.passing[j] && !(fit.level[j] > 0.0))) return false;
    std::vector<double> terms = band_integral(fit, j, false, p.rows);
    const std::vector<double> basis = band_integral(fit, j, true, p.rows);
    for (std::size_t k = 0; k < terms.size(); ++k)
      terms[k] = fit.weight[j] * terms[k] - fit.level[j] * basis[k];
    largest_terms = std::max(largest_terms, norm(terms));
  }
  const double rounding = rounding_bound(p, fit);
  return fit.size <= rounding && rounding <= largest_rounding_share * largest_terms;
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

bool refine_least_squares_bands(std::span<const float> taps, band_plan& plan) noexcept {
  try {
    if (taps.size() > least_squares_taps_limit) return false;
    band_problem p;
    band_fit fit;
    if (!plan_edges(plan, fit.edges, p.passing) || !symmetric_amplitude(taps, p.amp)) return false;
    std::size_t levels = 0;
    for (bool passing : p.passing) levels += passing ? 1 : 0;
    const std::size_t unknowns = p.passing.size() - 1 + levels + fit.edges.size() - 2;
    if (p.amp.a.size() < unknowns + spare_equations) return false;
    for (std::size_t i = 1; i + 1 < fit.edges.size(); ++i) {
      const std::size_t transition = (i - 1) / 2;
      p.lowest.push_back(fit.edges[2 * transition + 1]);
      p.highest.push_back(fit.edges[2 * transition + 2]);
    }
    const std::size_t equations = p.amp.a.size();
    bool found = false;
    const std::size_t starts = equations <= few_equations ? std::size(starts_in_gap) : 1;
    for (std::size_t start = 0; start < starts && !found; ++start) {
      for (std::size_t i = 1; i + 1 < fit.edges.size(); ++i) {
        const double share = starts_in_gap[start][(i + 1) % 2];
        fit.edges[i] = p.lowest[i - 1] + share * (p.highest[i - 1] - p.lowest[i - 1]);
      }
      // The first equations vary slowly with the edges and find them from further away;
      // the rest, added a doubling at a time, pin them down.
      bool refined = true;
      for (p.rows = unknowns + spare_equations; refined; p.rows = std::min(equations, 2 * p.rows)) {
        refined = refine(p, fit);
        if (p.rows == equations) break;
      }
      found = refined && fits_the_design(p, fit);
    }
    if (!found) return false;
    std::vector<band> passbands;
    std::vector<band> stopbands;
    for (std::size_t j = 0; j < p.passing.size(); ++j)
      (p.passing[j] ? passbands : stopbands).push_back({fit.edges[2 * j], fit.edges[2 * j + 1]});
    plan.passbands = std::move(passbands);
    plan.stopbands = std::move(stopbands);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::string hertz_text(double hertz) {
  char buf[64];
  // to_chars' shortest form reads back as the same double; + 0.0 turns -0 into 0.
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, hertz + 0.0);
  return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

std::string band_text(const band& b) {
  return hertz_text(b.low) + " to " + hertz_text(b.high) + " Hz";
}

bool check_band(band& b, std::string& message) {
  if (!(b.low >= 0.0 && b.high <= NYQUIST_HZ && b.low < b.high)) {
    message = "not a band within 0 to 8000 Hz with LO below HI";
    return false;
  }
  b.low += 0.0;  // -0 is 0
  return true;
}

bool parse_band(std::string_view text, band& out, std::string& message) {
  const std::size_t colon = text.find(':');
  band b;
  if (colon == std::string_view::npos || !parse_hertz(text.substr(0, colon), b.low) ||
      !parse_hertz(text.substr(colon + 1), b.high)) {
    message = "'" + std::string(text) + "' is not LO:HI in hertz";
    return false;
  }
  if (!check_band(b, message)) {
    message = "'" + std::string(text) + "' is " + message;
    return false;
  }
  out = b;
  return true;
}

std::string band_list_problem(const std::vector<band>& bands, bool pass) {
  for (const band& b : bands) {
    if (b.high < lowest_measured_hz || b.low > highest_measured_hz) {
      return kind_name(pass) + band_text(b) +
             " holds no frequency from 4 to 7996 Hz, where the steady state is measured";
    }
  }
  for (std::size_t i = 0; i < bands.size(); ++i) {
    for (std::size_t j = i + 1; j < bands.size(); ++j) {
      if (overlap(bands[i], bands[j])) {
        return kind_name(pass) + band_text(bands[i]) + " overlaps " + kind_name(pass) +
               band_text(bands[j]);
      }
    }
  }
  return {};
}

std::string band_plan_problem(const band_plan& plan) {
  for (const bool pass : {true, false}) {
    if (!(pass ? plan.passbands_given : plan.stopbands_given)) continue;
    std::string problem = band_list_problem(pass ? plan.passbands : plan.stopbands, pass);
    if (!problem.empty()) return problem;
  }
  for (const band& p : plan.passbands) {
    for (const band& s : plan.stopbands) {
      if (overlap(p, s))
        return kind_name(true) + band_text(p) + " overlaps " + kind_name(false) + band_text(s);
    }
  }
  if (plan.passbands.empty()) return "no pass band";
  return {};
}

bool band_points(const dense_response& response, std::span<const double> h, const band_plan& plan,
                 response_points& out) noexcept {
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
    if (!going) return false;
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
