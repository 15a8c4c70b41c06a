// The datapath search's steady runs: a candidate's fitted amplitude over the swept
// frequencies, a measurement on the sweep, each frequency's window run on its own datapath.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/unit_sine_sweep.h"
#include "fixfir/engine/parallel_chunks.h"
#include "search_context.h"

namespace fixfir::search {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t frequencies_per_chunk = 16;

}  // namespace

// The exact unit sine and cosine at `frequency` over a run's samples [from, SWEEP_SAMPLES),
// counted from `from`.
bool window_basis(double frequency, std::size_t from, sine_basis& out) {
  sine_basis full;
  const auto samples = static_cast<std::size_t>(SWEEP_SAMPLES);
  if (!make_sine_basis(frequency, samples, full, from)) return false;
  out.frequency = frequency;
  out.sine.assign(full.sine.begin() + static_cast<std::ptrdiff_t>(from), full.sine.end());
  out.cosine.assign(full.cosine.begin() + static_cast<std::ptrdiff_t>(from), full.cosine.end());
  return true;
}

namespace {

// The steady amplitude of `f` on the window `basis` and whether its accumulator overflowed.
outcome steady_on(const search_context& c, const fixed_filter& f, const sine_basis& basis,
                  double& steady, bool& overflowed) {
  // A window's first outputs (before its history is full) are not read, unless the run is
  // whole, where every output's overflow counts.
  const std::size_t first = c.window_start == 0 ? 0 : c.fit_first;
  result<datapath_run> run = run_datapath(f, basis.sine, 1, first);
  if (!run) return std::move(run).failure();
  steady = fitted_amplitude(basis, run.value().output, c.fit_first);
  overflowed = run.value().accumulator_overflows > 0;
  return success();
}

}  // namespace

void keep_error(first_error& f, error e) {
  const std::lock_guard<std::mutex> lock(f.mutex);
  if (!f.held) f.held = std::move(e);
  f.failed.store(true, std::memory_order_relaxed);
}

bool has_failed(const first_error& f) noexcept { return f.failed.load(std::memory_order_relaxed); }

error error_taken(first_error& f) {
  const std::lock_guard<std::mutex> lock(f.mutex);
  return f.held ? std::move(*f.held) : stopped_run_error();
}

// The steady amplitudes of `f` at `frequencies` (windows given, or made as they go), on
// the search's threads: a measurement on the sweep, each frequency's window run on the
// exact kernels from the window's own sine, which the candidates of a search share.
outcome steady_series(const search_context& c, const fixed_filter& f,
                      std::span<const double> frequencies, const std::vector<sine_basis>* given,
                      std::vector<double>& steady, std::int64_t& overflows) {
  const std::size_t n = frequencies.size();
  steady.assign(n, not_a_number);
  std::vector<std::uint8_t> overflowed(n, 0);
  std::vector<sine_basis> scratch(std::max(c.threads, 1U));
  first_error failure;
  unit_sine_sweep sweep;
  sweep.frequencies = frequencies;
  sweep.threads = c.threads;
  sweep.per_chunk = frequencies_per_chunk;
  sweep.in_order = [&](std::size_t) { return !has_failed(failure); };
  const outcome swept = sweep_unit_sines(sweep, [&](const swept_sine& sine) {
    if (has_failed(failure) || !keep_going()) return;
    const std::size_t i = sine.index;
    try {
      sine_basis& own = scratch[sine.worker];
      if (given == nullptr && !window_basis(sine.frequency, c.window_start, own))
        throw std::bad_alloc();
      bool over = false;
      if (outcome ran = steady_on(c, f, given != nullptr ? (*given)[i] : own, steady[i], over);
          !ran) {
        keep_error(failure, std::move(ran).failure());
        return;
      }
      overflowed[i] = over ? 1 : 0;
    } catch (const std::bad_alloc&) {
      keep_error(failure, out_of_memory_error());
    }
  });
  overflows += std::count(overflowed.begin(), overflowed.end(), 1);
  if (!swept || has_failed(failure)) return error_taken(failure);
  return success();
}

}  // namespace fixfir::search
