#include "fixfir/drivers/unit_sine_sweep.h"

#include <algorithm>
#include <new>

#include "fast_kernel.h"
#include "fixfir/common/checks.h"
#include "fixfir/engine/parallel_chunks.h"
#include "guarded_sine.h"
#include "unit_sine_lanes.h"

namespace fixfir {

std::size_t output_block_floor(std::size_t n) noexcept {
  return n / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
}

std::size_t output_block_ceil(std::size_t n) noexcept {
  return output_block_floor(n + (CONVOLVE_BLOCK - 1));
}

fir_lane run_unit_sine(fir_workspace& ws, unsigned worker, double frequency,
                       sine_window window) noexcept {
  // Every output computed meets only generated samples, or the rest before sample 0.
  const std::size_t history = ws.taps > 0 ? static_cast<std::size_t>(ws.taps) - 1 : 0;
  FIXFIR_EXPECTS(
      worker < ws.lanes && window.first_sample <= ws.samples && window.first_output <= ws.outputs &&
      (window.first_output % CONVOLVE_BLOCK == 0 || window.first_output == ws.outputs) &&
      (window.first_sample == 0 || window.first_sample + history <= window.first_output));
  const fir_lane lane = workspace_lane(ws, worker);
  guarded_sine_samples(frequency, ws.times.begin() + window.first_sample, ws.scale,
                       lane.quantized + window.first_sample, ws.samples - window.first_sample);
  workspace_convolve(ws, worker, window.first_output, ws.outputs);
  return lane;
}

fir_lane run_rescaled_sine(fir_workspace& ws, unsigned worker, const std::uint32_t* source,
                           unsigned shift, sine_window window) noexcept {
  const std::size_t history = ws.taps > 0 ? static_cast<std::size_t>(ws.taps) - 1 : 0;
  FIXFIR_EXPECTS(
      worker < ws.lanes && shift <= 30 && window.first_sample <= ws.samples &&
      window.first_output <= ws.outputs &&
      (window.first_output % CONVOLVE_BLOCK == 0 || window.first_output == ws.outputs) &&
      (window.first_sample == 0 || window.first_sample + history <= window.first_output));
  const fir_lane lane = workspace_lane(ws, worker);
  // v ÷ 2^shift toward zero, as the quantizer truncates: a negative v is raised by
  // 2^shift - 1 before the (arithmetic) shift, which cannot overflow.
  const std::int32_t bias = static_cast<std::int32_t>((std::uint32_t{1} << shift) - 1);
  for (std::size_t n = window.first_sample; n < ws.samples; ++n) {
    const auto v = static_cast<std::int32_t>(source[n]);
    lane.quantized[n] = static_cast<std::uint32_t>((v + ((v >> 31) & bias)) >> shift);
  }
  workspace_convolve(ws, worker, window.first_output, ws.outputs);
  return lane;
}

std::int32_t peak_accumulator(const fir_lane& lane, std::size_t n) noexcept {
  return peak_magnitude(lane.accumulators, n);
}

outcome sweep_unit_sines(const unit_sine_sweep& sweep, const sine_measurement& measure) noexcept {
  const std::size_t count = sweep.frequencies.size();
  // At least 1, and at most the count, so that no chunk bound overflows.
  const std::size_t per_chunk =
      std::clamp<std::size_t>(sweep.per_chunk, 1, std::max<std::size_t>(count, 1));
  const std::size_t chunks = (count + per_chunk - 1) / per_chunk;
  const unsigned threads = std::max(sweep.threads, 1U);
  bool stopped = false;  // in_order said stop
  // The callbacks are made before the run: making one may allocate.
  std::function<void(unsigned, std::size_t)> work;
  std::function<bool(std::size_t)> done;
  try {
    work = [&](unsigned worker, std::size_t chunk) {
      const std::size_t end = std::min(count, (chunk + 1) * per_chunk);
      for (std::size_t i = chunk * per_chunk; i < end; ++i) {
        measure(swept_sine{i, sweep.frequencies[i], worker});
      }
    };
    done = [&](std::size_t chunk) {
      if (!sweep.in_order) return true;
      const std::size_t end = std::min(count, (chunk + 1) * per_chunk);
      for (std::size_t i = chunk * per_chunk; i < end; ++i) {
        if (!sweep.in_order(i)) {
          stopped = true;
          return false;
        }
      }
      return true;
    };
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
  const bool finished = run_chunks_in_order(chunks, threads, work, done);
  if (finished) return success();
  if (stopped || !keep_going()) return make_error(error_kind::interrupted, "interrupted");
  return out_of_memory_error();
}

}  // namespace fixfir
