#include "fixfir/drivers/frequency_sweep.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "fixfir/common/output_file.h"
#include "fixfir/common/text_format.h"
#include "fixfir/drivers/analysis_file.h"
#include "fixfir/drivers/multitone_waveform.h"
#include "fixfir/drivers/sine_service.h"
#include "fixfir/drivers/unit_sine_sweep.h"
#include "fixfir/engine/fir_engine.h"

namespace fixfir {

namespace {

// Frequencies handed to a thread at a time: small enough for steady dots, large enough
// that handing out costs nothing next to 4000 sines each.
constexpr std::size_t frequencies_per_chunk = 8;

std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

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

std::vector<std::int32_t> sweep_grid(std::int32_t step) {
  std::vector<std::int32_t> grid;
  if (step < 1) return grid;
  const std::int32_t count = sweep_frequency_count(step);
  grid.resize(to_size(count));
  for (std::int32_t i = 0; i < count; ++i) grid[to_size(i)] = swept_frequency(step, i);
  return grid;
}

outcome sweep_peaks(const fixed_filter& f, std::int32_t step, unsigned threads,
                    const std::function<bool(std::int32_t, std::uint64_t)>& line) noexcept {
  threads = std::max(threads, 1U);
  const auto samples = to_size(SWEEP_SAMPLES);
  sine_runner runner;
  if (outcome made = sine_runner_init(runner, f, samples, threads); !made) return made;
  // One peak per frequency, written by the worker that computes it and read in order once
  // its chunk is reported finished.
  std::vector<std::int32_t> grid;
  std::vector<double> frequencies;
  std::vector<std::uint64_t> peaks;
  std::atomic<bool> failed{false};   // an exact run failed
  std::atomic<bool> stopped{false};  // ... because it was stopped
  unit_sine_sweep sweep;
  sine_measurement peak;
  try {
    grid = sweep_grid(step);
    frequencies.assign(grid.begin(), grid.end());
    peaks.resize(grid.size());
    sweep.in_order = [&](std::size_t i) { return !failed && line(grid[i], peaks[i]); };
    peak = [&](const swept_sine& sine) {
      if (failed) return;
      const result<sine_run> run = run_sine(runner, sine.worker, sine.frequency);
      if (!run) {
        stopped = stopped || run.failure().kind == error_kind::interrupted;
        failed = true;
        return;
      }
      peaks[sine.index] = run_peak(run.value(), samples);
    };
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  sweep.frequencies = frequencies;
  sweep.threads = threads;
  sweep.per_chunk = frequencies_per_chunk;
  const outcome swept = sweep_unit_sines(sweep, peak);
  if (failed) return stopped ? stopped_run_error() : out_of_memory_error();
  return swept;
}

status run_frequency_sweep(const fixed_filter& f, const frequency_settings& settings,
                           std::FILE* console, unsigned threads) {
  const std::int32_t step = settings.frequency_step;
  if (step < 1) {
    say(console, invalid_step_message);
    return status::failure;
  }
  const auto scale = static_cast<double>(f.path.scale);
  // Everything is allocated before the file is opened (at the first line: the runs, the
  // peaks and the threads' bookkeeping come before it), so that a run that cannot complete
  // leaves an earlier "frequency.txt" as it was.
  std::string text;
  try {
    text.reserve(64);  // one line: a frequency, a tab, a number and a line break
  } catch (const std::bad_alloc&) {
    return status::out_of_memory;
  }
  return write_analysis_file(frequency_file_name, console, [&](const auto& write) {
    return sweep_peaks(f, step, threads,
                       [&](std::int32_t frequency, std::uint64_t peak) {
                         // The dot comes as frequency `frequency` is reached, as it does one at a
                         // time.
                         if (frequency % PROGRESS_INTERVAL == 0) say(console, ".");
                         text.clear();
                         try {
                           // On the 32-bit engine a peak is at most 2^31 - 1.
                           append_sweep_line(text, scale, frequency,
                                             static_cast<std::int32_t>(peak));
                         } catch (const std::bad_alloc&) {
                           return false;
                         }
                         return write(text);
                       })
        .ok();
  });
}

}  // namespace fixfir
