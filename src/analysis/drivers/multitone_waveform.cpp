#include "fixfir/drivers/multitone_waveform.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <vector>

#include "exact_sine.h"
#include "fixfir/common/conversion.h"
#include "fixfir/common/output_file.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/analysis_file.h"
#include "fixfir/drivers/waveform_run.h"
#include "fixfir/engine/fir_engine.h"
#include "guarded_sine.h"

namespace fixfir {

namespace {

// Input samples computed between two questions to `keep_going`.
constexpr std::size_t samples_per_poll = 128;

// The longest line: a time below 2 s ("1.999938"), an input of magnitude at most 1
// ("-1.000000"), an output acc ÷ scale² with |acc| <= 2^31 and scale² 0 or at least 1
// ("-2147483648.000000", or "nan" and "-inf"), two tabs and a line break: 38 characters.
constexpr std::size_t longest_waveform_line = 40;

tone_set tones_of(const frequency_settings& settings) noexcept {
  return tone_set{static_cast<double>(settings.initial_frequency),
                  static_cast<double>(settings.frequency_step), tone_count(settings)};
}

// The exact test inputs of `count` samples, each summing its tones in rising order.
void exact_inputs(const tone_set& tones, const double* times, double* x,
                  std::size_t count) noexcept {
  exact_multitones(tones, times, x, count);
}

// A block's inputs, each summing its tones in rising order, and their samples: an input
// may be any value that prints as the exact sum does (the guarded sums); its sample is
// always the exact sum's. Thousands of tones make a block long: it asks between parts
// whether to go on.
void make_inputs(const tone_set& tones, double scale, const waveform_block& b) noexcept {
  for (std::size_t begin = 0; begin < b.input.size(); begin += samples_per_poll) {
    if (!keep_going()) return;  // the run is abandoned
    const std::size_t n = std::min(samples_per_poll, b.input.size() - begin);
    // Signed and unsigned forms of one type may alias.
    guarded_multitone(tones, scale, b.time.data() + begin, b.input.data() + begin,
                      reinterpret_cast<std::uint32_t*>(b.words.data() + begin), n);
  }
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

outcome waveform_text(const fixed_filter& f, const frequency_settings& settings, unsigned threads,
                      const std::function<bool(std::string_view)>& write) noexcept {
  const tone_set tones = tones_of(settings);
  const auto scale = static_cast<double>(f.path.scale);
  const auto samples = static_cast<std::size_t>(WAVEFORM_SAMPLES);
  // Every block's text buffer is allocated before the first piece is written, so that
  // running out of memory cannot end the run once the file is being written.
  std::vector<std::string> texts;
  std::atomic<bool> out_of_memory{false};
  waveform_request run;
  try {
    texts.resize((samples + waveform_block_samples - 1) / waveform_block_samples);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const std::size_t begin = i * waveform_block_samples;
      texts[i].reserve(std::min(waveform_block_samples, samples - begin) * longest_waveform_line);
    }
    run.samples = samples;
    run.threads = threads;
    run.make = [&](const waveform_block& b) { make_inputs(tones, scale, b); };
    run.measure = [&](const waveform_block& b) {
      try {
        std::string& text = texts[b.index];
        for (std::size_t k = 0; k < b.input.size(); ++k)
          append_waveform_line(text, b.time[k], b.input[k], fir_output(scale, b.accumulators[k]));
      } catch (const std::bad_alloc&) {
        out_of_memory.store(true);
      }
    };
    run.in_order = [&](std::size_t i) {
      if (out_of_memory.load()) return false;
      try {
        if (!write(texts[i])) return false;
      } catch (const std::bad_alloc&) {
        out_of_memory.store(true);
        return false;
      }
      texts[i] = std::string{};
      return true;
    };
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  const outcome ran = run_waveform(f, run);
  if (out_of_memory.load()) return out_of_memory_error();
  return ran;
}

status run_waveform_test(const fixed_filter& f, const frequency_settings& settings,
                         std::FILE* console, unsigned threads) {
  if (settings.frequency_step == 0) {
    say(console, invalid_step_message);
    return status::failure;
  }
  // Everything is allocated before the file is opened (at the first line), so that a run
  // that cannot complete leaves an earlier "waves.txt" as it was.
  return write_analysis_file(waves_file_name, console, [&](const auto& write) {
    return waveform_text(f, settings, threads, write).ok();
  });
}

}  // namespace fixfir
