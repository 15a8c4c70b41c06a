#include "waveform_test.h"

#include <cmath>
#include <new>

#include "conversion.h"
#include "fir_core.h"
#include "output_file.h"
#include "text_format.h"

namespace fixfir {

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
    append_fixed6(out, t);
    out += '\t';
    append_fixed6(out, x);
    out += '\t';
    append_fixed6(out, y);
    out += '\n';
    t = t + SAMPLE_INTERVAL;
  }
}

status run_waveform_test(const quantized_filter& filter, const frequency_settings& settings,
                         std::FILE* console) {
  if (settings.frequency_step == 0) {
    say(console, invalid_step_message);
    return status::failure;
  }
  // The history is allocated before the file is opened, so that a run that cannot
  // proceed leaves an earlier "waves.txt" as it was.
  fir_state state;
  if (!fir_init(state, filter)) return status::out_of_memory;

  output_file file;
  if (!open_output(file, waves_file_name)) {
    say(console, cannot_open_message);
    return status::failure;
  }
  std::string text;
  status result = status::ok;
  try {
    append_waveform_lines(state, settings, text);
  } catch (const std::bad_alloc&) {
    result = status::out_of_memory;
  }
  if (result == status::ok) write_output(file, text);
  if (!close_output(file) && result == status::ok) {
    say(console, cannot_write_message);
    return status::failure;
  }
  return result;
}

}  // namespace fixfir
