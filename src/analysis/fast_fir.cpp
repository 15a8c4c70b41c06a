#include "fast_fir.h"

#include <algorithm>
#include <cstddef>

#include "fast_kernel.h"
#include "fir_core.h"

namespace fixfir {

namespace {

constexpr std::int32_t lanes = static_cast<std::int32_t>(DOT_LANES);

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
  // Leading zero coefficients make the dot product a whole number of vectors. The
  // rounding cannot overflow: count < 2^31 - 15 is checked first.
  if (state.count > INT32_MAX - lanes) return false;
  state.dot_length = (state.count + lanes - 1) / lanes * lanes;
  state.padding = state.dot_length - state.count;
  if (!allocate_zeroed(state.reversed, to_size(state.dot_length))) return false;
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
  // The newest sample is at slot + count and the oldest at slot + 1; the window starts
  // `padding` earlier, where the zero coefficients make any stored value harmless.
  const std::uint32_t* window = state.history.begin() + state.index + 1;
  const std::uint32_t acc = wrapping_dot(state.reversed.begin(), window, to_size(state.dot_length));
  state.index = state.index + 1 == state.count ? 0 : state.index + 1;
  return static_cast<std::int32_t>(acc);
}

}  // namespace fixfir
