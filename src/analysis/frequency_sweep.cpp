#include "frequency_sweep.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "fast_fir.h"
#include "fast_kernel.h"
#include "output_file.h"
#include "text_format.h"
#include "waveform_test.h"

namespace fixfir {

namespace {

// Frequencies handed to a thread at a time: small enough for steady dots, large enough
// that handing out costs nothing next to 4000 sines each.
constexpr std::int32_t frequencies_per_chunk = 8;

std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

// The magnitude of an accumulator; -2^31 has none and stays negative.
std::int32_t magnitude(std::int32_t acc) noexcept {
  return acc < 0 && acc != INT32_MIN ? -acc : acc;
}

// A state that only carries the scale, for `append_sweep_line`.
fir_state scale_only(double scale) noexcept {
  fir_state state;
  state.scale = scale;
  return state;
}

// The peak at `frequency` through worker `worker`'s buffers: the 4000 sines first, then
// they are quantized and filtered, each in one pass.
std::int32_t fast_sweep_peak(sweep_plan& plan, unsigned worker, std::int32_t frequency) noexcept {
  const std::size_t taps = to_size(plan.taps);
  const std::size_t samples = to_size(SWEEP_SAMPLES);
  double* x = plan.inputs.begin() + worker * samples;
  std::uint32_t* signal = plan.signals.begin() + worker * plan.signal_stride;
  std::uint32_t* acc = plan.accumulators.begin() + worker * plan.outputs;
  const double f = static_cast<double>(frequency);
  for (std::size_t n = 0; n < samples; ++n) x[n] = std::sin((f * plan.times[n]) * TWO_PI);
  // Samples go after the zero prefix of taps - 1 slots: the history at rest.
  quantize_block(plan.scale, x, signal + (taps > 0 ? taps - 1 : 0), samples);
  wrapping_convolve(plan.reversed.begin(), taps, signal, 0, plan.outputs, acc);
  return peak_magnitude(acc, samples);
}

}  // namespace

std::int32_t sweep_peak(fir_state& state, std::int32_t frequency) noexcept {
  fir_reset(state);
  const double f = static_cast<double>(frequency);
  double t = 0.0;
  std::int32_t peak = 0;
  for (std::int32_t n = 0; n < SWEEP_SAMPLES; ++n) {
    const std::int32_t acc = fir_step(state, std::sin((f * t) * TWO_PI));
    const std::int32_t m = magnitude(acc);
    if (m > peak) peak = m;
    t = t + SAMPLE_INTERVAL;
  }
  return peak;
}

void append_sweep_line(std::string& out, const fir_state& state, std::int32_t frequency,
                       std::int32_t peak) {
  append_decimal(out, frequency);
  out += '\t';
  append_fixed6(out, fir_output(state, peak));
  out += '\n';
}

std::int32_t sweep_frequency_count(std::int32_t step) noexcept {
  return (SWEEP_LAST_FREQUENCY - SWEEP_FIRST_FREQUENCY) / step + 1;
}

void append_sweep_lines(fir_state& state, std::int32_t step, std::string& out) {
  const std::int32_t frequencies = sweep_frequency_count(step);
  for (std::int32_t i = 0; i < frequencies; ++i) {
    const std::int32_t d = SWEEP_FIRST_FREQUENCY + i * step;  // below 8000, so it fits
    append_sweep_line(out, state, d, sweep_peak(state, d));
  }
}

bool sweep_plan_init(sweep_plan& plan, const quantized_filter& filter, unsigned threads) noexcept {
  plan.taps = std::clamp(filter.count, 0, SWEEP_SAMPLES);
  plan.scale = static_cast<double>(filter.scale);
  plan.threads = std::max(threads, 1u);
  const std::size_t taps = to_size(plan.taps);
  plan.outputs = (to_size(SWEEP_SAMPLES) + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  plan.signal_stride = (taps > 0 ? taps - 1 : 0) + plan.outputs;
  if (!allocate_zeroed(plan.reversed, taps) ||
      !allocate_zeroed(plan.times, to_size(SWEEP_SAMPLES)) ||
      !allocate_zeroed(plan.inputs, plan.threads * to_size(SWEEP_SAMPLES)) ||
      !allocate_zeroed(plan.signals, plan.threads * plan.signal_stride) ||
      !allocate_zeroed(plan.accumulators, plan.threads * plan.outputs)) {
    return false;
  }
  // Coefficient j meets the sample j steps old, so only the first `taps` can matter.
  reverse_coefficients(filter.coefficients, plan.taps, plan.reversed.begin());
  fill_sample_times(plan.times);
  return true;
}

void sweep_plan_run(sweep_plan& plan, std::int32_t step,
                    const std::function<void(std::int32_t, std::int32_t)>& line) {
  const std::int32_t frequencies = sweep_frequency_count(step);
  const std::int32_t chunks = (frequencies + frequencies_per_chunk - 1) / frequencies_per_chunk;
  // One peak per frequency, written by the worker that computes it and read in order
  // once its chunk is reported finished.
  std::vector<std::int32_t> peaks(to_size(frequencies));
  auto frequency_of = [step](std::int32_t i) { return SWEEP_FIRST_FREQUENCY + i * step; };
  auto chunk_range = [frequencies](std::size_t chunk) {
    const auto begin = static_cast<std::int32_t>(chunk) * frequencies_per_chunk;
    return std::pair{begin, std::min(begin + frequencies_per_chunk, frequencies)};
  };
  run_chunks_in_order(
      to_size(chunks), plan.threads,
      [&](unsigned worker, std::size_t chunk) {
        const auto [begin, end] = chunk_range(chunk);
        for (std::int32_t i = begin; i < end; ++i) {
          peaks[to_size(i)] = fast_sweep_peak(plan, worker, frequency_of(i));
        }
      },
      [&](std::size_t chunk) {
        const auto [begin, end] = chunk_range(chunk);
        for (std::int32_t i = begin; i < end; ++i) line(frequency_of(i), peaks[to_size(i)]);
      });
}

bool append_sweep_lines_fast(const quantized_filter& filter, std::int32_t step, unsigned threads,
                             std::string& out) {
  sweep_plan plan;
  if (!sweep_plan_init(plan, filter, threads)) return false;
  const fir_state view = scale_only(plan.scale);
  sweep_plan_run(plan, step, [&](std::int32_t frequency, std::int32_t peak) {
    append_sweep_line(out, view, frequency, peak);
  });
  return true;
}

status run_frequency_sweep(const quantized_filter& filter, const frequency_settings& settings,
                           std::FILE* console, unsigned threads) {
  const std::int32_t step = settings.frequency_step;
  if (step < 1) {
    say(console, invalid_step_message);
    return status::failure;
  }
  sweep_plan plan;
  if (!sweep_plan_init(plan, filter, threads)) return status::out_of_memory;
  output_file file;
  if (!open_output(file, frequency_file_name)) {
    say(console, cannot_open_message);
    return status::failure;
  }
  const fir_state view = scale_only(plan.scale);
  std::string text;
  status result = status::ok;
  try {
    sweep_plan_run(plan, step, [&](std::int32_t frequency, std::int32_t peak) {
      // The dot comes as frequency `frequency` is reached, as it does one at a time.
      if (frequency % PROGRESS_INTERVAL == 0) say(console, ".");
      text.clear();
      append_sweep_line(text, view, frequency, peak);
      write_output(file, text);
    });
  } catch (const std::bad_alloc&) {
    result = status::out_of_memory;
  }
  if (!close_output(file) && result == status::ok) {
    say(console, cannot_write_message);
    return status::failure;
  }
  return result;
}

}  // namespace fixfir
