// The fit's sine basis: a basis refilled at one frequency after another, over windows that
// start earlier or later and runs of other lengths, holds what a fresh one holds: zeros
// before the window, and the library's sine and cosine from there on.
#include "fixfir/drivers/unit_sine_basis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "fixfir/common/analysis_constants.h"

namespace fixfir {
namespace {

struct fill {
  double frequency;
  std::size_t samples;
  std::size_t from;
};

struct refill_case {
  const char* name;
  std::vector<fill> fills;
};

class SineBasisRefill : public ::testing::TestWithParam<refill_case> {};

TEST_P(SineBasisRefill, HoldsWhatAFreshBasisHolds) {
  sine_basis reused;
  for (const fill& f : GetParam().fills) {
    ASSERT_TRUE(make_sine_basis(f.frequency, f.samples, reused, f.from).ok());
    ASSERT_EQ(reused.sine.size(), f.samples);
    ASSERT_EQ(reused.cosine.size(), f.samples);
    double t = 0.0;
    for (std::size_t n = 0; n < f.samples; ++n, t = t + SAMPLE_INTERVAL) {
      const double a = (f.frequency * t) * TWO_PI;
      const double s = n < f.from ? 0.0 : std::sin(a);
      const double c = n < f.from ? 0.0 : std::cos(a);
      // Bit for bit, the sign of a zero too.
      ASSERT_EQ(std::signbit(reused.sine[n]), std::signbit(s)) << f.frequency << " " << n;
      ASSERT_EQ(reused.sine[n], s) << f.frequency << " " << n;
      ASSERT_EQ(reused.cosine[n], c) << f.frequency << " " << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SineBasisRefill,
    ::testing::Values(
        refill_case{"same_window", {{1000, 4000, 3744}, {1234, 4000, 3744}, {7996, 4000, 3744}}},
        refill_case{"window_moves_earlier", {{1000, 4000, 3744}, {333, 4000, 100}}},
        refill_case{"window_moves_later", {{1000, 4000, 100}, {333, 4000, 3744}}},
        refill_case{"whole_then_window", {{17, 4000, 0}, {4001, 4000, 3000}, {5, 4000, 0}}},
        refill_case{"shorter_then_longer", {{100, 500, 400}, {200, 4000, 3744}, {300, 300, 299}}},
        refill_case{"window_past_the_run", {{100, 50, 80}, {200, 100, 20}}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fixfir
