#include "fixfir/drivers/double_filter.h"

#include <algorithm>
#include <new>
#include <utility>

#include "fast_kernel.h"
#include "fixfir/engine/parallel_chunks.h"
#include "real_kernel.h"

namespace fixfir {

namespace {

// A double-precision filter over whole signals, laid out as the engine's kernel wants it:
// the reversed taps, and a signal behind a zero prefix of taps - 1 samples.
struct double_filter {
  std::vector<double> reversed;
  std::size_t outputs = 0;  // the signal length rounded up to CONVOLVE_BLOCK
  std::vector<double> signal;
  std::vector<double> output;
};

double_filter make_double_filter(std::span<const float> taps, std::size_t samples) {
  double_filter f;
  f.reversed.assign(taps.rbegin(), taps.rend());
  f.outputs = (samples + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  const std::size_t prefix = f.reversed.empty() ? 0 : f.reversed.size() - 1;
  f.signal.assign(prefix + f.outputs, 0.0);
  f.output.assign(f.outputs, 0.0);
  return f;
}

// Runs `x` (at most the length it was made for) from rest; the outputs are f.output[0, n).
// False when the run is abandoned.
bool run_double(double_filter& f, std::span<const double> x) noexcept {
  if (f.reversed.empty()) {
    std::fill(f.output.begin(), f.output.end(), 0.0);
    return true;
  }
  std::copy(x.begin(), x.end(),
            f.signal.begin() + static_cast<std::ptrdiff_t>(f.reversed.size() - 1));
  // A block of outputs at a time, so that a long run can be stopped between them.
  constexpr std::size_t per_block = 64 * CONVOLVE_BLOCK;
  for (std::size_t begin = 0; begin < f.outputs; begin += per_block) {
    if (!keep_going()) return false;  // abandoned: the outputs are thrown away
    real_convolve(f.reversed.data(), f.reversed.size(), f.signal.data(), begin,
                  std::min(per_block, f.outputs - begin), f.output.data() + begin);
  }
  return true;
}

}  // namespace

result<std::vector<double>> double_filter_run(std::span<const float> taps,
                                              std::span<const double> input) noexcept {
  try {
    double_filter f = make_double_filter(taps, input.size());
    if (!run_double(f, input)) return make_error(error_kind::interrupted, "interrupted");
    f.output.resize(input.size());
    return std::move(f.output);
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
