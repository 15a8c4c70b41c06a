#include "fixfir/drivers/waveform_run.h"

#include <algorithm>
#include <new>

#include "engine_view.h"
#include "fast_kernel.h"
#include "fixfir/drivers/sine_service.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

namespace {

constexpr std::size_t samples_per_block = waveform_block_samples;
static_assert(samples_per_block % CONVOLVE_BLOCK == 0);

// Block `index` of `ws`'s one lane; its accumulators only when `filtered`.
waveform_block block_of(fir_workspace& ws, std::size_t index, bool filtered) noexcept {
  const fir_lane lane = workspace_lane(ws, 0);
  waveform_block b;
  b.index = index;
  b.begin = std::min(index * samples_per_block, ws.samples);
  b.end = std::min(b.begin + samples_per_block, ws.samples);
  const std::size_t n = b.end - b.begin;
  b.time = {ws.times.begin() + b.begin, n};
  b.input = {lane.input + b.begin, n};
  // Signed and unsigned forms of one type may alias.
  b.words = {reinterpret_cast<std::int32_t*>(lane.quantized + b.begin), n};
  if (filtered)
    b.accumulators = {reinterpret_cast<const std::int32_t*>(lane.accumulators + b.begin), n};
  return b;
}

}  // namespace

outcome run_waveform(const fixed_filter& f, const waveform_request& w) noexcept {
  if (kernel_for(f) != run_kernel::narrow)
    return make_error(error_kind::bad_input, "the waveform run needs the 32-bit engine");
  fir_workspace ws;
  if (outcome made = workspace_init(ws, engine_view(f), w.samples, 1); !made) return made;
  const unsigned threads = std::max(w.threads, 1U);
  // The outputs in blocks; the last may hold outputs past the samples, computed and unread.
  const std::size_t blocks = (ws.outputs + samples_per_block - 1) / samples_per_block;
  // Every sample first: a block's outputs need the samples before it, which other threads
  // may be making.
  const bool made = run_chunks_in_order(
      blocks, threads, [&](unsigned, std::size_t i) { w.make(block_of(ws, i, false)); },
      [](std::size_t) { return true; });
  if (!made || !keep_going()) return stopped_run_error();
  bool refused = false;  // in_order said stop
  const bool finished = run_chunks_in_order(
      blocks, threads,
      [&](unsigned, std::size_t i) {
        workspace_convolve(ws, 0, i * samples_per_block,
                           std::min((i + 1) * samples_per_block, ws.outputs));
        w.measure(block_of(ws, i, true));
      },
      [&](std::size_t i) {
        if (!w.in_order || w.in_order(i)) return true;
        refused = true;
        return false;
      });
  if (finished) return success();
  if (refused) return make_error(error_kind::interrupted, "interrupted");
  return stopped_run_error();
}

}  // namespace fixfir
