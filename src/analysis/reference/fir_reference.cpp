#include "fir_reference.h"

#include <algorithm>
#include <cmath>

#include "conversion.h"
#include "frequency_sweep.h"
#include "multitone_waveform.h"

namespace fixfir {

bool fir_init(fir_state& state, const quantized_filter& filter) noexcept {
  state.coefficients = filter.coefficients;
  state.count = filter.count > 0 ? filter.count : 0;
  state.scale = static_cast<double>(filter.scale);
  state.index = 0;
  return allocate_zeroed(state.history, static_cast<std::size_t>(state.count));
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

std::int32_t sweep_peak(fir_state& state, std::int32_t frequency) noexcept {
  fir_reset(state);
  const double f = static_cast<double>(frequency);
  double t = 0.0;
  std::int32_t peak = 0;
  for (std::int32_t n = 0; n < SWEEP_SAMPLES; ++n) {
    const std::int32_t m = accumulator_magnitude(fir_step(state, std::sin((f * t) * TWO_PI)));
    if (m > peak) peak = m;
    t = t + SAMPLE_INTERVAL;
  }
  return peak;
}

void append_sweep_lines(fir_state& state, std::int32_t step, std::string& out) {
  const std::int32_t frequencies = sweep_frequency_count(step);
  for (std::int32_t i = 0; i < frequencies; ++i) {
    const std::int32_t d = SWEEP_FIRST_FREQUENCY + i * step;  // below 8000, so it fits
    append_sweep_line(out, state.scale, d, sweep_peak(state, d));
  }
}

void append_waveform_lines(fir_state& state, const frequency_settings& settings, std::string& out) {
  const std::int32_t tones = tone_count(settings);
  fir_reset(state);
  double t = 0.0;
  for (std::int32_t n = 0; n < WAVEFORM_SAMPLES; ++n) {
    const double x = multitone_sample(settings, tones, t);
    const double y = fir_output(state.scale, fir_step(state, x));
    append_waveform_line(out, t, x, y);
    t = t + SAMPLE_INTERVAL;
  }
}

}  // namespace fixfir
