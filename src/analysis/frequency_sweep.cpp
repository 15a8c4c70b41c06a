#include "frequency_sweep.h"

#include <cmath>
#include <new>

#include "output_file.h"
#include "text_format.h"
#include "waveform_test.h"

namespace fixfir {

std::int32_t sweep_peak(fir_state& state, std::int32_t frequency) noexcept {
  fir_reset(state);
  const double f = static_cast<double>(frequency);
  double t = 0.0;
  std::int32_t peak = 0;
  for (std::int32_t n = 0; n < SWEEP_SAMPLES; ++n) {
    const std::int32_t acc = fir_step(state, std::sin((f * t) * TWO_PI));
    const std::int32_t m = acc < 0 && acc != INT32_MIN ? -acc : acc;
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

status run_frequency_sweep(const quantized_filter& filter, const frequency_settings& settings,
                           std::FILE* console) {
  const std::int32_t step = settings.frequency_step;
  if (step < 1) {
    say(console, invalid_step_message);
    return status::failure;
  }
  fir_state state;
  if (!fir_init(state, filter)) return status::out_of_memory;
  output_file file;
  if (!open_output(file, frequency_file_name)) {
    say(console, cannot_open_message);
    return status::failure;
  }
  std::string line;
  const std::int32_t frequencies = sweep_frequency_count(step);
  for (std::int32_t i = 0; i < frequencies; ++i) {
    // Below 8000, so the product fits.
    const std::int32_t d = SWEEP_FIRST_FREQUENCY + i * step;
    if (d % PROGRESS_INTERVAL == 0) say(console, ".");
    const std::int32_t peak = sweep_peak(state, d);
    line.clear();
    append_sweep_line(line, state, d, peak);
    write_output(file, line);
  }
  if (!close_output(file)) {
    say(console, cannot_write_message);
    return status::failure;
  }
  return status::ok;
}

}  // namespace fixfir
