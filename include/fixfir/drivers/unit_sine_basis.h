#pragma once
// The sine and cosine a sweep's steady-state fit is made against: on the engine's sample
// clock, bit for bit the values std::sin and std::cos give there.
#include <cstddef>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// The sine of the sweep at one frequency, and its cosine, on the sweep's clock
/// (t accumulated by t += 6.25e-05, argument (f × t) × 6.283185307179586).
/// Only make_sine_basis writes its vectors; a basis made once and filled again at each
/// frequency keeps its leading zeros, which are then not written again.
struct sine_basis {
  double frequency = 0.0;
  std::vector<double> sine;
  std::vector<double> cosine;
  std::size_t zeros = 0;  ///< leading entries of both vectors known to hold 0
};

/// Fills `basis` for `samples` samples at `frequency` on the sweep's clock; sines and
/// cosines only from `from` on, where a fit starts (those before are 0). Each is the very
/// double std::sin or std::cos returns for the argument. Zeros the basis already holds are
/// not written again, so refilling it at another frequency costs the samples from `from`
/// alone. Fails (out_of_memory) when memory runs out.
[[nodiscard]] outcome make_sine_basis(double frequency, std::size_t samples, sine_basis& basis,
                                      std::size_t from = 0) noexcept;

}  // namespace fixfir
