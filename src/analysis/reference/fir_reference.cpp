#include "fixfir/reference/fir_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/common/conversion.h"

namespace fixfir {

namespace {

// An accumulator in real units.
double real_output(double scale, std::int32_t acc) {
  return static_cast<double>(acc) / (scale * scale);
}

// Appends `v` as the files write a number: "nan", "inf", "-inf", or fixed notation with
// six decimals, rounded in two stages: to 17 significant digits, then at the sixth decimal
// with halves away from zero (so 0.0078125 is "0.007813", not printf's "0.007812"). A
// negative value keeps its sign when it rounds to zero ("-0.000000").
void append_number(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "nan";
    return;
  }
  if (std::signbit(v)) out += '-';
  const double a = std::fabs(v);
  if (std::isinf(a)) {
    out += "inf";
    return;
  }
  // Stage 1: a ≈ m × 10^(e - 16), m the 17 significant digits as an integer.
  char sci[32];
  std::snprintf(sci, sizeof sci, "%.16e", a);  // "d.dddddddddddddddde±XX"
  const char* exponent = std::strchr(sci, 'e');
  std::uint64_t m = 0;
  for (const char* p = sci; p < exponent; ++p) {
    if (*p != '.') m = m * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  const int e = std::atoi(exponent + 1);
  // Stage 2: in millionths, m × 10^(e - 10), rounded half up.
  std::string micro;
  if (e >= 10) {
    micro = std::to_string(m) + std::string(static_cast<std::size_t>(e - 10), '0');
  } else if (10 - e > 17) {
    micro = "0";  // below 10^-7: m × 10^(e - 10) < 0.1
  } else {
    std::uint64_t unit = 1;
    for (int i = 0; i < 10 - e; ++i) unit *= 10;
    micro = std::to_string((m + unit / 2) / unit);
  }
  if (micro.size() < 7) micro.insert(0, 7 - micro.size(), '0');
  out.append(micro, 0, micro.size() - 6);
  out += '.';
  out.append(micro, micro.size() - 6, 6);
}

// N = (ending - initial) ÷ step + 1 in wrapping 32-bit arithmetic; no tones when N < 1.
std::int32_t number_of_tones(const frequency_settings& settings) {
  const std::int32_t span = wrapping_sub(settings.ending_frequency, settings.initial_frequency);
  return wrapping_add(wrapping_div(span, settings.frequency_step), 1);
}

// Σ sin((f_k × t) × TWO_PI) ÷ N over the N tones, in rising k, with f_0 the initial
// frequency and f_(k+1) = f_k + step in double.
double multitone_input(const frequency_settings& settings, std::int32_t tones, double t) {
  double f = static_cast<double>(settings.initial_frequency);
  double x = 0.0;
  for (std::int32_t k = 0; k < tones; ++k) {
    x = x + std::sin((f * t) * TWO_PI) / static_cast<double>(tones);
    f = f + static_cast<double>(settings.frequency_step);
  }
  return x;
}

}  // namespace

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
    const std::int32_t s = real_to_int32(state.scale * state.history[static_cast<std::size_t>(k)]);
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
    const std::int32_t acc = fir_step(state, std::sin((f * t) * TWO_PI));
    t = t + SAMPLE_INTERVAL;
    if (acc == INT32_MIN) continue;  // no 32-bit magnitude
    const std::int32_t magnitude = acc < 0 ? -acc : acc;
    if (magnitude > peak) peak = magnitude;
  }
  return peak;
}

void append_sweep_lines(fir_state& state, std::int32_t step, std::string& out) {
  // 64 bits: a step near 2^31 must not wrap back into the range.
  for (std::int64_t f = SWEEP_FIRST_FREQUENCY; f <= SWEEP_LAST_FREQUENCY; f += step) {
    const auto frequency = static_cast<std::int32_t>(f);
    char text[16];
    std::snprintf(text, sizeof text, "%d\t", frequency);
    out += text;
    append_number(out, real_output(state.scale, sweep_peak(state, frequency)));
    out += '\n';
  }
}

void append_waveform_lines(fir_state& state, const frequency_settings& settings, std::string& out) {
  const std::int32_t tones = number_of_tones(settings);
  fir_reset(state);
  double t = 0.0;
  for (std::int32_t n = 0; n < WAVEFORM_SAMPLES; ++n) {
    const double x = multitone_input(settings, tones, t);
    const double y = real_output(state.scale, fir_step(state, x));
    append_number(out, t);
    out += '\t';
    append_number(out, x);
    out += '\t';
    append_number(out, y);
    out += '\n';
    t = t + SAMPLE_INTERVAL;
  }
}

}  // namespace fixfir
