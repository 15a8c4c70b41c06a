// The dense magnitude response against the direct sum.

#include "fixfir/measurement/spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fixfir {
namespace {

struct grid_case {
  const char* name;
  std::size_t taps;
};

class DenseGrid : public ::testing::TestWithParam<grid_case> {};

// Every grid point agrees with the direct sum, also when taps fold onto a shorter FFT.
TEST_P(DenseGrid, MatchesTheDirectSum) {
  const std::size_t n = GetParam().taps;
  std::vector<double> h(n);
  std::uint32_t state = 12345;
  for (double& v : h) {
    state = state * 1664525U + 1013904223U;
    v = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
  }
  dense_response r;
  ASSERT_TRUE(dense_magnitude(h, r));
  EXPECT_EQ(r.magnitude.size(), dense_grid_size(n) / 2 + 1);
  EXPECT_DOUBLE_EQ(r.spacing * static_cast<double>(r.magnitude.size() - 1), NYQUIST_HZ);
  const std::size_t last = r.magnitude.size() - 1;
  for (std::size_t k : {std::size_t{0}, std::size_t{1}, last / 3, last - 1, last}) {
    const double f = static_cast<double>(k) * r.spacing;
    EXPECT_NEAR(r.magnitude[k], magnitude_at(h, f), 1e-9 * std::sqrt(static_cast<double>(n)))
        << "at " << f << " Hz";
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, DenseGrid,
                         ::testing::Values(grid_case{"one", 1}, grid_case{"short", 63},
                                           grid_case{"long", 4000},
                                           grid_case{"folded", (std::size_t{1} << 20) + 7}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fixfir
