#include "fir_core.h"

#include <algorithm>

#include "conversion.h"

namespace fixfir {

bool fir_init(fir_state& state, const quantized_filter& filter) noexcept {
  state.coefficients = filter.coefficients;
  state.count = filter.count > 0 ? filter.count : 0;
  state.scale = static_cast<double>(filter.scale);
  state.index = 0;
  return allocate_zeroed(state.history, static_cast<std::size_t>(state.count));
}

void fill_sample_times(heap_array<double>& times) noexcept {
  double t = 0.0;
  for (double& slot : times) {
    slot = t;
    t = t + SAMPLE_INTERVAL;
  }
}

void fir_reset(fir_state& state) noexcept {
  std::fill(state.history.begin(), state.history.end(), 0.0);
  state.index = 0;
}

std::int32_t fir_step(fir_state& state, double x) noexcept {
  const std::int32_t count = state.count;
  if (count < 1) return 0;  // a sum over no taps
  state.history[static_cast<std::size_t>(state.index)] = x;
  std::int32_t acc = 0;
  for (std::int32_t j = 0; j < count; ++j) {
    // (index + count - j) mod count, without forming a sum that could overflow.
    const std::int32_t k = state.index >= j ? state.index - j : state.index - j + count;
    const std::int32_t s = quantize_sample(state.scale, state.history[static_cast<std::size_t>(k)]);
    acc = wrapping_add(acc, wrapping_mul(s, state.coefficients[j]));
  }
  state.index = state.index + 1 == count ? 0 : state.index + 1;
  return acc;
}

double fir_output(const fir_state& state, std::int32_t a) noexcept {
  return static_cast<double>(a) / (state.scale * state.scale);
}

}  // namespace fixfir
