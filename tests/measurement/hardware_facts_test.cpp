// The facts of the unquantized taps: symmetry bit for bit, multipliers folded, group delay,
// the gains at DC and at half the sample rate, and the growth of the output; and their text.

#include "fixfir/measurement/hardware_facts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fixfir/measurement/summary_text.h"

namespace fixfir {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct facts_row {
  const char* name;
  std::vector<float> taps;
  tap_symmetry symmetry;
  std::int64_t multipliers;
  double delay_samples;  // NaN: not constant
  double delay_ms;
  double dc_gain;
  double nyquist_gain;
  double abs_sum;
  std::int32_t growth_bits;
};

const double nan_delay = std::numeric_limits<double>::quiet_NaN();

// clang-format off
const facts_row facts_rows[] = {
    // name, taps, symmetry, multipliers, delay (samples, ms), DC gain, FS/2 gain, Σ|h|, growth
    {"SymmetricOdd", {0.25F, 0.5F, 0.25F}, tap_symmetry::symmetric, 2, 1, 0.0625, 1, 0, 1, 0},
    {"SymmetricEven", {0.5F, 1.0F, 1.0F, 0.5F}, tap_symmetry::symmetric, 2, 1.5, 0.09375, 3, 0, 3, 2},
    {"AntisymmetricOdd", {0.5F, 0.0F, -0.5F}, tap_symmetry::antisymmetric, 1, 1, 0.0625, 0, 0, 1, 0},
    {"AntisymmetricOddNegativeZeroCentre", {0.5F, -0.0F, -0.5F}, tap_symmetry::antisymmetric, 1, 1, 0.0625, 0, 0, 1, 0},
    {"AntisymmetricEven", {0.25F, 0.5F, -0.5F, -0.25F}, tap_symmetry::antisymmetric, 2, 1.5, 0.09375, 0, -0.5, 1.5, 1},
    {"None", {1.0F, 0.5F}, tap_symmetry::none, 2, nan_delay, nan_delay, 1.5, 0.5, 1.5, 1},
    // A centre tap other than 0 spoils antisymmetry; -0 against +0 spoils symmetry.
    {"OddCentreNotZero", {0.5F, 0.125F, -0.5F}, tap_symmetry::none, 3, nan_delay, nan_delay, 0.125, -0.125, 1.125, 1},
    {"SignedZerosDiffer", {0.0F, 1.0F, 1.0F, -0.0F}, tap_symmetry::none, 4, nan_delay, nan_delay, 2, 0, 2, 1},
    {"AllZeros", {0.0F, 0.0F, 0.0F, 0.0F}, tap_symmetry::symmetric, 2, 1.5, 0.09375, 0, 0, 0, 0},
    {"OneTap", {0.75F}, tap_symmetry::symmetric, 1, 0, 0, 0.75, 0.75, 0.75, 0},
    {"OneTapGrows", {-1.5F}, tap_symmetry::symmetric, 1, 0, 0, -1.5, -1.5, 1.5, 1},
    {"ExactlyTwoIsOneBit", {1.0F, 1.0F}, tap_symmetry::symmetric, 1, 0.5, 0.03125, 2, 0, 2, 1},
};
// clang-format on

class HardwareFacts : public testing::TestWithParam<facts_row> {};

TEST_P(HardwareFacts, MatchHandWorkedValues) {
  const facts_row& row = GetParam();
  const hardware_facts f = hardware_facts_of(row.taps);
  EXPECT_EQ(f.symmetry, row.symmetry);
  EXPECT_EQ(f.multipliers, row.multipliers);
  if (std::isnan(row.delay_samples)) {
    EXPECT_TRUE(std::isnan(f.group_delay_samples));
    EXPECT_TRUE(std::isnan(f.group_delay_ms));
  } else {
    EXPECT_EQ(f.group_delay_samples, row.delay_samples);
    EXPECT_EQ(f.group_delay_ms, row.delay_ms);
  }
  // Every value here is exact in binary: the gains a symmetry zeroes must be exactly 0.
  EXPECT_EQ(f.dc_gain, row.dc_gain);
  EXPECT_EQ(f.nyquist_gain, row.nyquist_gain);
  EXPECT_EQ(f.dc_gain_db, row.dc_gain == 0 ? -inf : 20 * std::log10(std::fabs(row.dc_gain)));
  EXPECT_EQ(f.abs_sum, row.abs_sum);
  EXPECT_EQ(f.growth_bits, row.growth_bits);
}

INSTANTIATE_TEST_SUITE_P(Taps, HardwareFacts, testing::ValuesIn(facts_rows),
                         [](const testing::TestParamInfo<facts_row>& i) { return i.param.name; });

// Taps that are not exact in binary still cancel exactly when they mirror each other.
TEST(HardwareFacts, MirroredTapsCancelExactly) {
  const std::vector<float> taps{0.1F, -0.3F, 0.7F, 0.0F, -0.7F, 0.3F, -0.1F};
  EXPECT_EQ(hardware_facts_of(taps).dc_gain, 0.0);
  const std::vector<float> even{0.1F, 0.3F, 0.7F, 0.7F, 0.3F, 0.1F};
  EXPECT_EQ(hardware_facts_of(even).nyquist_gain, 0.0);
}

TEST(HardwareFactLines, SayWhatADesignerReads) {
  const std::vector<float> symmetric{0.5F, 1.0F, 1.0F, 0.5F};
  EXPECT_EQ(hardware_fact_lines(hardware_facts_of(symmetric), symmetric.size()),
            (std::vector<std::string>{
                "symmetry (unquantized taps, compared bit for bit): symmetric; folded, 2 "
                "multipliers for the 4 taps",
                "group delay: 1.5 samples, 0.09375 ms at 16000 Hz",
                "gain at 0 Hz (DC): 3 (9.54 dB)",
                "gain at 8000 Hz (half the sample rate): 0 (-inf dB)",
                "largest output for any input: 3 times the input's full scale (2 bits of growth)",
            }));
  const std::vector<float> none{0.25F, 0.5F};
  const std::vector<std::string> lines = hardware_fact_lines(hardware_facts_of(none), 2);
  EXPECT_EQ(lines[0],
            "symmetry (unquantized taps, compared bit for bit): none; 2 multipliers, one per tap");
  EXPECT_EQ(lines[1], "group delay: not constant: the taps are not symmetric");
  EXPECT_EQ(lines[3], "gain at 8000 Hz (half the sample rate): -0.25 (-12.04 dB)");
  EXPECT_EQ(lines[4],
            "largest output for any input: 0.75 times the input's full scale (no growth)");
}

}  // namespace
}  // namespace fixfir
