#pragma once
// PLACEHOLDER until the engine's 64-bit path lands: the API the measurement is written to.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"

namespace fixfir {

struct datapath_run {
  std::vector<std::int64_t> accumulators;
  std::vector<double> output;
  std::size_t sample_overflows = 0;
  std::size_t accumulator_overflows = 0;
};

[[nodiscard]] result<datapath_run> run_datapath(const fixed_filter& f, std::span<const double> x,
                                                unsigned threads) noexcept;

}  // namespace fixfir
