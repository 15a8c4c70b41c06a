#include "fixfir/drivers/multitone_waveform.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <vector>

#include "exact_sine.h"
#include "fast_kernel.h"
#include "fixfir/common/conversion.h"
#include "fixfir/common/output_file.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/analysis_file.h"
#include "guarded_sine.h"

namespace fixfir {

namespace {

// Samples handed to a thread at a time; a multiple of CONVOLVE_BLOCK.
constexpr std::size_t samples_per_chunk = 1024;
static_assert(samples_per_chunk % CONVOLVE_BLOCK == 0);
// Input samples computed between two questions to `keep_going`.
constexpr std::size_t samples_per_poll = 128;

// The longest line: a time below 2 s ("1.999938"), an input of magnitude at most 1
// ("-1.000000"), an output acc ÷ scale² with |acc| <= 2^31 and scale² 0 or at least 1
// ("-2147483648.000000", or "nan" and "-inf"), two tabs and a line break: 38 characters.
constexpr std::size_t longest_waveform_line = 40;

std::size_t chunk_count(const fir_workspace& ws) noexcept {
  return (ws.outputs + samples_per_chunk - 1) / samples_per_chunk;
}
std::size_t chunk_begin(std::size_t chunk) noexcept { return chunk * samples_per_chunk; }
std::size_t chunk_end(std::size_t chunk, std::size_t limit) noexcept {
  return std::min((chunk + 1) * samples_per_chunk, limit);
}

tone_set tones_of(const frequency_settings& settings) noexcept {
  return tone_set{static_cast<double>(settings.initial_frequency),
                  static_cast<double>(settings.frequency_step), tone_count(settings)};
}

// The exact test inputs of `count` samples, each summing its tones in rising order.
void exact_inputs(const tone_set& tones, const double* times, double* x,
                  std::size_t count) noexcept {
  exact_multitones(tones, times, x, count);
}

// Every input and its quantized value, first: a sample's filter output needs the earlier
// samples, which other threads may be computing. The inputs are independent, so they are
// computed in parallel, each summing its tones in rising order. With `for_text`, an input
// may be any value that prints as the exact sum does (the guarded sums); its quantized
// value is always the exact sum's.
bool generate_signal(fir_workspace& ws, const frequency_settings& settings, unsigned threads,
                     bool for_text) noexcept {
  const tone_set tones = tones_of(settings);
  const fir_lane lane = workspace_lane(ws, 0);
  return run_chunks_in_order(
      chunk_count(ws), threads,
      [&](unsigned, std::size_t chunk) {
        // Thousands of tones make a chunk long: it asks between blocks whether to go on.
        for (std::size_t begin = chunk_begin(chunk); begin < chunk_end(chunk, ws.samples);
             begin += samples_per_poll) {
          if (!keep_going()) return;  // the run is abandoned
          const std::size_t end = std::min(begin + samples_per_poll, chunk_end(chunk, ws.samples));
          if (for_text) {
            guarded_multitone(tones, ws.scale, ws.times.begin() + begin, lane.input + begin,
                              lane.quantized + begin, end - begin);
            continue;
          }
          exact_inputs(tones, ws.times.begin() + begin, lane.input + begin, end - begin);
          workspace_quantize(ws, 0, begin, end);
        }
      },
      [](std::size_t) { return true; });
}

}  // namespace

std::int32_t tone_count(const frequency_settings& settings) noexcept {
  const std::int32_t span = wrapping_sub(settings.ending_frequency, settings.initial_frequency);
  return wrapping_add(wrapping_div(span, settings.frequency_step), 1);
}

double multitone_sample(const frequency_settings& settings, std::int32_t tones, double t) noexcept {
  tone_set set = tones_of(settings);
  set.count = tones;
  return exact_multitone(set, t);
}

outcome exact_waveform_inputs(const frequency_settings& settings, const double* times, double* x,
                              std::size_t count, unsigned threads) noexcept {
  const tone_set tones = tones_of(settings);
  const std::size_t blocks = (count + samples_per_poll - 1) / samples_per_poll;
  const bool done = run_chunks_in_order(
      blocks, threads,
      [&](unsigned, std::size_t block) {
        if (!keep_going()) return;  // the run is abandoned
        const std::size_t begin = block * samples_per_poll;
        exact_inputs(tones, times + begin, x + begin, std::min(samples_per_poll, count - begin));
      },
      [](std::size_t) { return true; });
  return done ? success() : outcome(stopped_run_error());
}

void append_waveform_line(std::string& out, double t, double x, double y) {
  append_fixed6(out, t);
  out += '\t';
  append_fixed6(out, x);
  out += '\t';
  append_fixed6(out, y);
  out += '\n';
}

outcome waveform_workspace_init(fir_workspace& ws, const quantized_filter& filter) noexcept {
  return workspace_init(ws, filter, static_cast<std::size_t>(WAVEFORM_SAMPLES), 1);
}

fir_lane waveform_lane(fir_workspace& ws) noexcept { return workspace_lane(ws, 0); }

outcome waveform_compute(fir_workspace& ws, const frequency_settings& settings,
                         unsigned threads) noexcept {
  if (!generate_signal(ws, settings, threads, false)) return stopped_run_error();
  const bool done = run_chunks_in_order(
      chunk_count(ws), threads,
      [&](unsigned, std::size_t chunk) {
        workspace_convolve(ws, 0, chunk_begin(chunk), chunk_end(chunk, ws.outputs));
      },
      [](std::size_t) { return true; });
  return done ? success() : outcome(stopped_run_error());
}

outcome waveform_text(fir_workspace& ws, const frequency_settings& settings, unsigned threads,
                      const std::function<bool(std::string_view)>& write) noexcept {
  if (!generate_signal(ws, settings, threads, true)) return stopped_run_error();
  // Then the filter and the text, chunk by chunk, written in order.
  // Every chunk's text buffer is allocated before the first piece is written, so that
  // running out of memory cannot end the run once the file is being written.
  const std::size_t chunks = chunk_count(ws);
  std::vector<std::string> texts;
  try {
    texts.resize(chunks);
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
      const std::size_t lines = std::min(chunk_end(chunk, ws.outputs), ws.samples) -
                                std::min(chunk_begin(chunk), ws.samples);
      texts[chunk].reserve(lines * longest_waveform_line);
    }
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  const fir_lane lane = workspace_lane(ws, 0);
  std::atomic<bool> out_of_memory{false};
  bool refused = false;  // `write` said stop
  const bool finished = run_chunks_in_order(
      chunks, threads,
      [&](unsigned, std::size_t chunk) {
        const std::size_t begin = chunk_begin(chunk);
        const std::size_t end = chunk_end(chunk, ws.outputs);
        workspace_convolve(ws, 0, begin, end);
        try {
          std::string& text = texts[chunk];
          for (std::size_t n = begin; n < std::min(end, ws.samples); ++n) {
            const auto acc = static_cast<std::int32_t>(lane.accumulators[n]);
            append_waveform_line(text, ws.times[n], lane.input[n], fir_output(ws.scale, acc));
          }
        } catch (const std::bad_alloc&) {
          out_of_memory.store(true);
        }
      },
      [&](std::size_t chunk) {
        if (out_of_memory.load()) return false;
        try {
          if (!write(texts[chunk])) {
            refused = true;
            return false;
          }
        } catch (const std::bad_alloc&) {
          out_of_memory.store(true);
          return false;
        }
        texts[chunk] = std::string{};
        return true;
      });
  if (out_of_memory.load()) return out_of_memory_error();
  if (finished) return success();
  if (refused) return make_error(error_kind::interrupted, "interrupted");
  return stopped_run_error();
}

status run_waveform_test(const quantized_filter& filter, const frequency_settings& settings,
                         std::FILE* console, unsigned threads) {
  if (settings.frequency_step == 0) {
    say(console, invalid_step_message);
    return status::failure;
  }
  // Everything is allocated before the file is opened (at the first line), so that a run
  // that cannot complete leaves an earlier "waves.txt" as it was.
  fir_workspace ws;
  if (!waveform_workspace_init(ws, filter)) return status::out_of_memory;
  return write_analysis_file(waves_file_name, console, [&](const auto& write) {
    return waveform_text(ws, settings, threads, write).ok();
  });
}

}  // namespace fixfir
