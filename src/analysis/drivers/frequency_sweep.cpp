#include "frequency_sweep.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "analysis_file.h"
#include "fast_kernel.h"
#include "guarded_sine.h"
#include "multitone_waveform.h"
#include "output_file.h"
#include "text_format.h"

namespace fixfir {

namespace {

// Frequencies handed to a thread at a time: small enough for steady dots, large enough
// that handing out costs nothing next to 4000 sines each.
constexpr std::int32_t frequencies_per_chunk = 8;

std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

// The unit sine at `frequency` into worker `worker`'s lane, quantized and filtered.
void run_frequency(fir_workspace& ws, unsigned worker, std::int32_t frequency,
                   sweep_inputs inputs) noexcept {
  const fir_lane lane = workspace_lane(ws, worker);
  const double f = static_cast<double>(frequency);
  if (inputs == sweep_inputs::quantized_only) {
    guarded_sine_samples(f, ws.times.begin(), ws.scale, lane.quantized, ws.samples);
  } else {
    for (std::size_t n = 0; n < ws.samples; ++n) {
      lane.input[n] = std::sin((f * ws.times[n]) * TWO_PI);
    }
    workspace_quantize(ws, worker, 0, ws.samples);
  }
  workspace_convolve(ws, worker, 0, ws.outputs);
}

}  // namespace

void append_sweep_line(std::string& out, double scale, std::int32_t frequency, std::int32_t peak) {
  append_decimal(out, frequency);
  out += '\t';
  append_fixed6(out, fir_output(scale, peak));
  out += '\n';
}

std::int32_t sweep_frequency_count(std::int32_t step) noexcept {
  return (SWEEP_LAST_FREQUENCY - SWEEP_FIRST_FREQUENCY) / step + 1;
}

bool sweep_workspace_init(fir_workspace& ws, const quantized_filter& filter,
                          unsigned threads) noexcept {
  return workspace_init(ws, filter, to_size(SWEEP_SAMPLES), threads);
}

bool sweep_run(fir_workspace& ws, std::int32_t step,
               const std::function<void(unsigned, std::int32_t, const fir_lane&)>& measure,
               const std::function<bool(std::int32_t)>& in_order, sweep_inputs inputs) noexcept {
  const std::int32_t frequencies = sweep_frequency_count(step);
  const std::int32_t chunks = (frequencies + frequencies_per_chunk - 1) / frequencies_per_chunk;
  auto chunk_range = [frequencies](std::size_t chunk) {
    const auto begin = static_cast<std::int32_t>(chunk) * frequencies_per_chunk;
    return std::pair{begin, std::min(begin + frequencies_per_chunk, frequencies)};
  };
  return run_chunks_in_order(
      to_size(chunks), ws.lanes,
      [&](unsigned worker, std::size_t chunk) {
        const auto [begin, end] = chunk_range(chunk);
        for (std::int32_t i = begin; i < end; ++i) {
          run_frequency(ws, worker, swept_frequency(step, i), inputs);
          measure(worker, i, workspace_lane(ws, worker));
        }
      },
      [&](std::size_t chunk) {
        const auto [begin, end] = chunk_range(chunk);
        for (std::int32_t i = begin; i < end; ++i) {
          if (!in_order(i)) return false;
        }
        return true;
      });
}

bool sweep_peaks(fir_workspace& ws, std::int32_t step,
                 const std::function<bool(std::int32_t, std::int32_t)>& line) noexcept {
  // One peak per frequency, written by the worker that computes it and read in order once
  // its chunk is reported finished.
  std::vector<std::int32_t> peaks;
  try {
    peaks.resize(to_size(sweep_frequency_count(step)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return sweep_run(
      ws, step,
      [&](unsigned, std::int32_t i, const fir_lane& lane) {
        peaks[to_size(i)] = peak_magnitude(lane.accumulators, ws.samples);
      },
      [&](std::int32_t i) { return line(swept_frequency(step, i), peaks[to_size(i)]); },
      sweep_inputs::quantized_only);
}

status run_frequency_sweep(const quantized_filter& filter, const frequency_settings& settings,
                           std::FILE* console, unsigned threads) {
  const std::int32_t step = settings.frequency_step;
  if (step < 1) {
    say(console, invalid_step_message);
    return status::failure;
  }
  // Everything is allocated before the file is opened (at the first line: the peaks and
  // the threads' bookkeeping come before it), so that a run that cannot complete leaves an
  // earlier "frequency.txt" as it was.
  fir_workspace ws;
  if (!sweep_workspace_init(ws, filter, threads)) return status::out_of_memory;
  std::string text;
  try {
    text.reserve(64);  // one line: a frequency, a tab, a number and a line break
  } catch (const std::bad_alloc&) {
    return status::out_of_memory;
  }
  return write_analysis_file(frequency_file_name, console, [&](const auto& write) {
    return sweep_peaks(ws, step, [&](std::int32_t frequency, std::int32_t peak) {
      // The dot comes as frequency `frequency` is reached, as it does one at a time.
      if (frequency % PROGRESS_INTERVAL == 0) say(console, ".");
      text.clear();
      try {
        append_sweep_line(text, ws.scale, frequency, peak);
      } catch (const std::bad_alloc&) {
        return false;
      }
      return write(text);
    });
  });
}

}  // namespace fixfir
