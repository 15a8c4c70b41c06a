#include "fixfir/measurement/design_recovery.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fixfir/measurement/amplitude_integrals.h"
#include "fixfir/measurement/least_squares.h"

namespace fixfir {

namespace {

constexpr double pi = 3.141592653589793;

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
  result<std::vector<double>> solved = least_squares(columns, target);
  if (!solved) {
    // The entry alone turns running out of memory into its error.
    if (solved.failure().kind == error_kind::out_of_memory) throw std::bad_alloc();
    return false;
  }
  const std::vector<double>& x = solved.value();
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
  fit.size = euclidean_norm(fit.residual);
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
    largest_terms = std::max(largest_terms, euclidean_norm(terms));
  }
  const double rounding = rounding_bound(p, fit);
  return fit.size <= rounding && rounding <= largest_rounding_share * largest_terms;
}

}  // namespace

result<bool> refine_least_squares_bands(std::span<const float> taps, band_plan& plan) noexcept {
  try {
    if (taps.size() > least_squares_taps_limit) return false;
    band_problem p;
    band_fit fit;
    if (!plan_edges(plan, fit.edges, p.passing)) return false;
    result<amplitude> amp = symmetric_amplitude(taps);
    if (!amp) {
      if (amp.failure().kind == error_kind::out_of_memory) return std::move(amp).failure();
      return false;  // taps that are not symmetric are no such design
    }
    p.amp = std::move(amp).value();
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
    return out_of_memory_error();
  }
}

}  // namespace fixfir
