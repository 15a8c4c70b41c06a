#include "fixfir/measurement/least_squares.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <utility>

#include "fixfir/common/checks.h"

namespace fixfir {

double euclidean_norm(const std::vector<double>& v) {
  double sum = 0.0;
  for (double x : v) sum += x * x;
  return std::sqrt(sum);
}

result<std::vector<double>> least_squares(std::vector<std::vector<double>> columns,
                                          std::vector<double> target) noexcept {
  const std::size_t n = columns.size();
  const std::size_t rows = target.size();
  if (n == 0 || n > rows)
    return make_error(error_kind::bad_input, "the columns cannot determine a solution");
  for (const std::vector<double>& c : columns) FIXFIR_EXPECTS(c.size() == rows);
  for (std::size_t j = 0; j < n; ++j) {
    std::vector<double>& c = columns[j];
    const double whole = euclidean_norm(c);
    double below = 0.0;
    for (std::size_t i = j; i < rows; ++i) below += c[i] * c[i];
    below = std::sqrt(below);
    if (!(below > 1e-12 * whole))
      return make_error(error_kind::bad_input, "the columns are dependent");
    const double alpha = c[j] > 0.0 ? -below : below;
    std::vector<double> v;
    try {
      v.assign(c.begin() + static_cast<std::ptrdiff_t>(j), c.end());
    } catch (const std::bad_alloc&) {
      return out_of_memory_error();
    }
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
  // The solution overwrites the target's leading entries, which nothing reads again.
  std::vector<double>& x = target;
  for (std::size_t j = n; j-- > 0;) {
    double sum = target[j];
    for (std::size_t l = j + 1; l < n; ++l) sum -= columns[l][j] * x[l];
    x[j] = sum / columns[j][j];
  }
  x.resize(n);
  return std::move(x);
}

}  // namespace fixfir
