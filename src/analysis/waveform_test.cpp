#include "waveform_test.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <vector>

#include "conversion.h"
#include "fast_fir.h"
#include "fast_kernel.h"
#include "fir_core.h"
#include "output_file.h"
#include "text_format.h"

namespace fixfir {

namespace {

// Samples handed to a thread at a time; a multiple of CONVOLVE_BLOCK.
constexpr std::size_t samples_per_chunk = 1024;
static_assert(samples_per_chunk % CONVOLVE_BLOCK == 0);

std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

void append_line(std::string& out, double t, double x, double y) {
  append_fixed6(out, t);
  out += '\t';
  append_fixed6(out, x);
  out += '\t';
  append_fixed6(out, y);
  out += '\n';
}

}  // namespace

std::int32_t tone_count(const frequency_settings& settings) noexcept {
  const std::int32_t span = wrapping_sub(settings.ending_frequency, settings.initial_frequency);
  return wrapping_add(wrapping_div(span, settings.frequency_step), 1);
}

double multitone_sample(const frequency_settings& settings, std::int32_t tones, double t) noexcept {
  const double n = static_cast<double>(tones);
  const double step = static_cast<double>(settings.frequency_step);
  double f = static_cast<double>(settings.initial_frequency);
  double x = 0.0;
  for (std::int32_t k = 0; k < tones; ++k) {
    x = x + std::sin((f * t) * TWO_PI) / n;
    f = f + step;
  }
  return x;
}

void append_waveform_lines(fir_state& state, const frequency_settings& settings, std::string& out) {
  const std::int32_t tones = tone_count(settings);
  fir_reset(state);
  double t = 0.0;
  for (std::int32_t n = 0; n < WAVEFORM_SAMPLES; ++n) {
    const double x = multitone_sample(settings, tones, t);
    const double y = fir_output(state, fir_step(state, x));
    append_line(out, t, x, y);
    t = t + SAMPLE_INTERVAL;
  }
}

bool waveform_plan_init(waveform_plan& plan, const quantized_filter& filter,
                        unsigned threads) noexcept {
  plan.taps = std::clamp(filter.count, 0, WAVEFORM_SAMPLES);
  plan.scale = static_cast<double>(filter.scale);
  plan.threads = std::max(threads, 1u);
  const std::size_t taps = to_size(plan.taps);
  plan.outputs = (to_size(WAVEFORM_SAMPLES) + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  if (!allocate_zeroed(plan.reversed, taps) ||
      !allocate_zeroed(plan.times, to_size(WAVEFORM_SAMPLES)) ||
      !allocate_zeroed(plan.inputs, to_size(WAVEFORM_SAMPLES)) ||
      !allocate_zeroed(plan.signal, (taps > 0 ? taps - 1 : 0) + plan.outputs) ||
      !allocate_zeroed(plan.accumulators, plan.outputs)) {
    return false;
  }
  // Coefficient j meets the sample j steps old, so only the first `taps` can matter.
  reverse_coefficients(filter.coefficients, plan.taps, plan.reversed.begin());
  fill_sample_times(plan.times);
  return true;
}

bool waveform_plan_run(waveform_plan& plan, const frequency_settings& settings,
                       const std::function<void(std::string_view)>& write) {
  const std::int32_t tones = tone_count(settings);
  const std::size_t taps = to_size(plan.taps);
  std::uint32_t* samples = plan.signal.begin() + (taps > 0 ? taps - 1 : 0);
  const std::size_t chunks = (plan.outputs + samples_per_chunk - 1) / samples_per_chunk;
  auto chunk_begin = [](std::size_t chunk) { return chunk * samples_per_chunk; };
  auto chunk_end = [](std::size_t chunk, std::size_t limit) {
    return std::min((chunk + 1) * samples_per_chunk, limit);
  };

  // First every input and its quantized value: a sample's filter output needs the
  // earlier samples, which other threads may be computing.
  run_chunks_in_order(
      chunks, plan.threads,
      [&](unsigned, std::size_t chunk) {
        for (std::size_t n = chunk_begin(chunk); n < chunk_end(chunk, plan.inputs.size); ++n) {
          const double x = multitone_sample(settings, tones, plan.times[n]);
          plan.inputs[n] = x;
          samples[n] = static_cast<std::uint32_t>(quantize_sample(plan.scale, x));
        }
      },
      [](std::size_t) {});

  // Then the filter and the text, chunk by chunk, written in order.
  fir_state view;
  view.scale = plan.scale;
  std::vector<std::string> texts(chunks);
  std::atomic<bool> out_of_memory{false};
  run_chunks_in_order(
      chunks, plan.threads,
      [&](unsigned, std::size_t chunk) {
        const std::size_t begin = chunk_begin(chunk);
        const std::size_t end = chunk_end(chunk, plan.outputs);
        wrapping_convolve(plan.reversed.begin(), taps, plan.signal.begin(), begin, end - begin,
                          plan.accumulators.begin() + begin);
        try {
          std::string& text = texts[chunk];
          text.reserve((end - begin) * 40);  // a line is at most about 40 characters
          for (std::size_t n = begin; n < std::min(end, plan.inputs.size); ++n) {
            const auto acc = static_cast<std::int32_t>(plan.accumulators[n]);
            append_line(text, plan.times[n], plan.inputs[n], fir_output(view, acc));
          }
        } catch (const std::bad_alloc&) {
          out_of_memory.store(true);
        }
      },
      [&](std::size_t chunk) {
        if (!out_of_memory.load()) write(texts[chunk]);
        texts[chunk] = std::string{};
      });
  return !out_of_memory.load();
}

bool append_waveform_lines_fast(const quantized_filter& filter, const frequency_settings& settings,
                                unsigned threads, std::string& out) {
  waveform_plan plan;
  if (!waveform_plan_init(plan, filter, threads)) return false;
  return waveform_plan_run(plan, settings, [&out](std::string_view text) { out += text; });
}

status run_waveform_test(const quantized_filter& filter, const frequency_settings& settings,
                         std::FILE* console, unsigned threads) {
  if (settings.frequency_step == 0) {
    say(console, invalid_step_message);
    return status::failure;
  }
  // The buffers are allocated before the file is opened, so that a run that cannot
  // proceed leaves an earlier "waves.txt" as it was.
  waveform_plan plan;
  if (!waveform_plan_init(plan, filter, threads)) return status::out_of_memory;

  output_file file;
  if (!open_output(file, waves_file_name)) {
    say(console, cannot_open_message);
    return status::failure;
  }
  status result = status::ok;
  try {
    if (!waveform_plan_run(plan, settings,
                           [&file](std::string_view text) { write_output(file, text); })) {
      result = status::out_of_memory;
    }
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
