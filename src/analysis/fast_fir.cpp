#include "fast_fir.h"

#include <algorithm>
#include <cstddef>

#include "fast_kernel.h"
#include "fir_core.h"

namespace fixfir {

namespace {

constexpr std::int32_t lanes = static_cast<std::int32_t>(DOT_LANES);
// Samples stored within the last few steps may still be on their way to memory; weighting
// the 8 newest one by one keeps vector loads off them. Measured: at 8 taps a step costs
// 3 times as much when its vector load covers them.
constexpr std::int32_t newest_one_by_one = 8;

std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

}  // namespace

void reverse_coefficients(const std::int32_t* coefficients, std::int32_t count,
                          std::uint32_t* out) noexcept {
  for (std::int32_t i = 0; i < count; ++i) {
    out[i] = static_cast<std::uint32_t>(coefficients[count - 1 - i]);
  }
}

bool fast_fir_init(fast_fir_state& state, const quantized_filter& filter) noexcept {
  state.count = filter.count > 0 ? filter.count : 0;
  state.scale = static_cast<double>(filter.scale);
  state.index = 0;
  // Leading zero coefficients make the vector part a whole number of vectors. The
  // rounding cannot overflow: count < 2^31 - 15 is checked first.
  if (state.count > INT32_MAX - lanes) return false;
  state.newest = std::min(state.count, newest_one_by_one);
  const std::int32_t older = state.count - state.newest;
  state.dot_length = (older + lanes - 1) / lanes * lanes;
  state.padding = state.dot_length - older;
  if (!allocate_zeroed(state.reversed, to_size(state.padding) + to_size(state.count))) return false;
  if (!allocate_zeroed(state.history, to_size(state.padding) + 2 * to_size(state.count))) {
    state.reversed = {};
    return false;
  }
  reverse_coefficients(filter.coefficients, state.count, state.reversed.begin() + state.padding);
  return true;
}

void fast_fir_reset(fast_fir_state& state) noexcept {
  std::fill(state.history.begin(), state.history.end(), 0u);
  state.index = 0;
}

std::int32_t fast_fir_step(fast_fir_state& state, double x) noexcept {
  if (state.count < 1) return 0;  // a sum over no taps
  const auto s = static_cast<std::uint32_t>(quantize_sample(state.scale, x));
  const std::size_t slot = to_size(state.padding) + to_size(state.index);
  state.history[slot] = s;
  state.history[slot + to_size(state.count)] = s;
  // The newest sample is at slot + count and the oldest at slot + 1. The vector part
  // starts `padding` earlier, where the zero coefficients make any stored value harmless,
  // and stops before the `newest` samples.
  const std::uint32_t* window = state.history.begin() + state.index + 1;
  const std::uint32_t* weights = state.reversed.begin();
  const std::size_t vector_part = to_size(state.dot_length);
  std::uint32_t acc = vector_part > 0 ? wrapping_dot(weights, window, vector_part) : 0u;
  for (std::size_t i = vector_part; i < vector_part + to_size(state.newest); ++i) {
    acc += weights[i] * window[i];
  }
  state.index = state.index + 1 == state.count ? 0 : state.index + 1;
  return static_cast<std::int32_t>(acc);
}

}  // namespace fixfir
