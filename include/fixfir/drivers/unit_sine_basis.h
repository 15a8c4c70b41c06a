#pragma once
// The sine and cosine a sweep's steady-state fit is made against: on the engine's sample
// clock, bit for bit the values std::sin and std::cos give there.
#include <cstddef>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// The sine of the sweep at one frequency, and its cosine, on the sweep's clock
/// (t accumulated by t += 6.25e-05, argument (f × t) × 6.283185307179586).
struct sine_basis {
  double frequency = 0.0;
  std::vector<double> sine;
  std::vector<double> cosine;
};

/// Fills `basis` for `samples` samples at `frequency` on the sweep's clock; sines and
/// cosines only from `from` on, where a fit starts (those before are 0). Each is the very
/// double std::sin or std::cos returns for the argument. Fails (out_of_memory) when memory
/// runs out.
[[nodiscard]] outcome make_sine_basis(double frequency, std::size_t samples, sine_basis& basis,
                                      std::size_t from = 0) noexcept;

}  // namespace fixfir
