#include "fixfir/drivers/unit_sine_basis.h"

#include <algorithm>
#include <new>

#include "exact_sine.h"
#include "fixfir/common/analysis_constants.h"

namespace fixfir {

outcome make_sine_basis(double frequency, std::size_t samples, sine_basis& basis,
                        std::size_t from) noexcept {
  try {
    basis.frequency = frequency;
    if (basis.sine.size() != samples || basis.cosine.size() != samples) {
      basis.sine.resize(samples);
      basis.cosine.resize(samples);
      basis.zeros = std::min(basis.zeros, samples);  // a longer basis adds entries past them
    }
    // The sample clock once per thread (t = t + SAMPLE_INTERVAL, as the engine's), the
    // arguments, then std::sin's and std::cos's bits from the exact vector sines.
    thread_local std::vector<double> clock;
    thread_local std::vector<double> arguments;
    if (clock.size() < samples) {
      clock.resize(samples);
      double t = 0.0;
      for (double& slot : clock) {
        slot = t;
        t = t + SAMPLE_INTERVAL;
      }
    }
    arguments.resize(samples);
    const double f = frequency;
    const std::size_t first = std::min(from, samples);
    for (std::size_t n = first; n < samples; ++n) arguments[n] = (f * clock[n]) * TWO_PI;
    // Only the zeros not already held are written; from `first` on come the sines.
    if (basis.zeros < first) {
      const auto held = static_cast<std::ptrdiff_t>(basis.zeros);
      std::fill(basis.sine.begin() + held, basis.sine.begin() + static_cast<std::ptrdiff_t>(first),
                0.0);
      std::fill(basis.cosine.begin() + held,
                basis.cosine.begin() + static_cast<std::ptrdiff_t>(first), 0.0);
    }
    basis.zeros = first;
    exact_sines(arguments.data() + first, basis.sine.data() + first, samples - first);
    exact_cosines(arguments.data() + first, basis.cosine.data() + first, samples - first);
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
