#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fixfir/common/conversion.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/reference/fir_reference.h"

namespace fixfir {
namespace {

struct filter_fixture {
  std::vector<std::int32_t> coefficients;
  quantized_filter filter;
  fir_state state;

  filter_fixture(std::int32_t scale, std::vector<std::int32_t> c) : coefficients(std::move(c)) {
    filter.scale = scale;
    filter.count = static_cast<std::int32_t>(coefficients.size());
    filter.coefficients = coefficients.data();
    EXPECT_TRUE(fir_init(state, filter));
    fir_reset(state);
  }
};

TEST(FirStep, SingleCoefficientSeesOnlyTheNewSample) {
  filter_fixture f(32768, {32768});
  EXPECT_EQ(fir_step(f.state, 0.5), 16384 * 32768);
  EXPECT_EQ(f.state.index, 0);
  EXPECT_EQ(fir_step(f.state, -0.25), -8192 * 32768);
  EXPECT_EQ(fir_output(f.state.scale, fir_step(f.state, -0.00002)), 0.0);  // truncates to 0
}

TEST(FirStep, ProductOf2To32ContributesNothing) {
  filter_fixture f(65536, {65536});
  EXPECT_EQ(fir_step(f.state, 1.0), 0);
}

TEST(FirStep, WrapTurnsPositiveInputNegative) {
  filter_fixture f(65536, {65536});
  const std::int32_t acc = fir_step(f.state, 0.5);
  EXPECT_EQ(acc, INT32_MIN);
  EXPECT_EQ(fir_output(f.state.scale, acc), -0.5);
}

TEST(FirStep, TwoTapsFromRest) {
  filter_fixture f(32768, {16384, 16384});
  EXPECT_EQ(fir_step(f.state, 0.5), 268435456);
  const std::int32_t second = fir_step(f.state, 0.25);
  EXPECT_EQ(second, 402653184);
  EXPECT_EQ(fir_output(f.state.scale, second), 0.375);
}

TEST(FirStep, ResetForgetsHistory) {
  filter_fixture f(32768, {1, 1, 1});
  fir_step(f.state, 0.5);
  fir_step(f.state, 0.5);
  fir_reset(f.state);
  EXPECT_EQ(f.state.index, 0);
  EXPECT_EQ(fir_step(f.state, 0.25), 8192);
}

TEST(FirStep, NoTapsSumsToZero) {
  filter_fixture f(32768, {});
  EXPECT_EQ(fir_step(f.state, 0.9), 0);
  EXPECT_EQ(fir_output(f.state.scale, 0), 0.0);
}

TEST(FirOutput, DividesByScaleSquared) {
  filter_fixture f(32768, {1});
  EXPECT_EQ(fir_output(f.state.scale, 1073741824), 1.0);
  filter_fixture wide(INT32_MIN, {1});
  EXPECT_EQ(fir_output(wide.state.scale, INT32_MIN), -1.0 / 2147483648.0);
  filter_fixture zero(0, {0});
  EXPECT_TRUE(std::isnan(fir_output(zero.state.scale, 0)));
}

// A deliberately naive convolution over the whole input, as the oracle for the ring.
std::vector<std::int32_t> convolve(const std::vector<std::int32_t>& c, double scale,
                                   const std::vector<double>& x) {
  std::vector<std::int32_t> y(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) {
    std::uint32_t acc = 0;
    for (std::size_t j = 0; j < c.size() && j <= n; ++j) {
      acc += static_cast<std::uint32_t>(real_to_int32(scale * x[n - j])) *
             static_cast<std::uint32_t>(c[j]);
    }
    y[n] = static_cast<std::int32_t>(acc);
  }
  return y;
}

TEST(FirStep, MatchesConvolutionForManyLengths) {
  std::mt19937 rng(7);
  for (int count = 1; count <= 40; ++count) {
    const std::int32_t precision = static_cast<std::int32_t>(rng() % 32);
    const double scale = static_cast<double>(real_to_int32(std::ldexp(1.0, precision)));
    std::vector<std::int32_t> c(static_cast<std::size_t>(count));
    for (auto& v : c) v = static_cast<std::int32_t>(rng());
    std::vector<double> x(200);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (auto& v : x) v = u(rng);
    filter_fixture f(static_cast<std::int32_t>(scale), c);
    const auto expected = convolve(c, scale, x);
    for (std::size_t n = 0; n < x.size(); ++n) {
      ASSERT_EQ(fir_step(f.state, x[n]), expected[n]) << "count " << count << " n " << n;
    }
  }
}

}  // namespace
}  // namespace fixfir
