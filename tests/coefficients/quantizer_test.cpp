#include "fixfir/coefficients/quantizer.h"

#include <gtest/gtest.h>

#include <vector>

namespace fixfir {
namespace {

struct quantize_case {
  std::int32_t precision;
  std::int32_t scale;
  std::vector<float> taps;
  std::vector<std::int32_t> coefficients;
};

class QuantizeTaps : public ::testing::TestWithParam<quantize_case> {};

TEST_P(QuantizeTaps, TruncatesTowardZeroAndWraps) {
  const auto& c = GetParam();
  std::vector<std::int32_t> out(c.taps.size(), 12345);
  EXPECT_EQ(quantize_taps(c.precision, static_cast<std::int32_t>(c.taps.size()), c.taps.data(),
                          out.data()),
            c.scale);
  EXPECT_EQ(out, c.coefficients);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuantizeTaps,
    ::testing::Values(
        quantize_case{0, 1, {0.9f, -1.7f, 3.0f}, {0, -1, 3}},
        quantize_case{15, 32768, {0.5f, -0.25f, -0.00001f}, {16384, -8192, 0}},
        quantize_case{1, 2, {-1.35f}, {-2}},  // -2.7 moves toward zero
        quantize_case{30, 1073741824, {1.5f, 3.0f}, {1610612736, -1073741824}},
        quantize_case{31, INT32_MIN, {1.0f, 0.5f, -1.0f}, {INT32_MIN, -1073741824, INT32_MIN}},
        quantize_case{32, 0, {1.0f, 1e30f}, {0, 0}}, quantize_case{40, 0, {0.5f}, {0}},
        quantize_case{-1, 0, {0.5f}, {0}}, quantize_case{INT32_MIN, 0, {0.5f}, {0}},
        quantize_case{INT32_MAX, 0, {0.5f}, {0}},
        // Non-finite taps have no integer value: they become 0.
        quantize_case{
            15,
            32768,
            {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()},
            {0, 0}},
        // 2^40 × 2^30 is beyond 64 bits: 0.
        quantize_case{30, 1073741824, {1099511627776.0f}, {0}}));

TEST(ScaleForPrecision, IsExactPowerOfTwoUpTo30) {
  for (std::int32_t p = 0; p <= 30; ++p) EXPECT_EQ(scale_for_precision(p), 1 << p) << p;
  for (std::int32_t p : {32, 33, 62, 63, 64, 1000, -1, -31})
    EXPECT_EQ(scale_for_precision(p), 0) << p;
}

TEST(QuantizeTaps, NoTapsStillGivesScale) {
  EXPECT_EQ(quantize_taps(15, 0, nullptr, nullptr), 32768);
  EXPECT_EQ(quantize_taps(15, -5, nullptr, nullptr), 32768);
}

}  // namespace
}  // namespace fixfir
