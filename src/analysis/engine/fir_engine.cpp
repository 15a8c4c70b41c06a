#include "fixfir/engine/fir_engine.h"

#include <algorithm>

#include "fast_kernel.h"
#include "fixfir/common/checks.h"
#include "fixfir/engine/fir_stream.h"

namespace fixfir {

void fill_sample_times(heap_array<double>& times) noexcept {
  double t = 0.0;
  for (double& slot : times) {
    slot = t;
    t = t + SAMPLE_INTERVAL;
  }
}

void reverse_coefficients(const std::int32_t* coefficients, std::int32_t count,
                          std::uint32_t* out) noexcept {
  for (std::int32_t i = 0; i < count; ++i) {
    out[i] = static_cast<std::uint32_t>(coefficients[count - 1 - i]);
  }
}

outcome workspace_init(fir_workspace& ws, const quantized_filter& filter, std::size_t samples,
                       unsigned lanes) noexcept {
  ws = fir_workspace{};
  // Coefficient j meets the sample j steps old, so in a run of `samples` samples from rest
  // only the first `samples` coefficients can matter.
  const auto count = static_cast<std::size_t>(std::max(filter.count, 0));
  const std::size_t taps = std::min(count, samples);
  ws.taps = static_cast<std::int32_t>(taps);
  ws.scale = static_cast<double>(filter.scale);
  ws.lanes = std::max(lanes, 1u);
  ws.samples = samples;
  ws.outputs = (samples + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  ws.signal_stride = (taps > 0 ? taps - 1 : 0) + ws.outputs;
  if (!allocate_zeroed(ws.reversed, taps) || !allocate_zeroed(ws.times, samples) ||
      !allocate_zeroed(ws.inputs, ws.lanes * samples) ||
      !allocate_zeroed(ws.signals, ws.lanes * ws.signal_stride) ||
      !allocate_zeroed(ws.accumulators, ws.lanes * ws.outputs)) {
    ws = fir_workspace{};
    return out_of_memory_error();
  }
  reverse_coefficients(filter.coefficients, ws.taps, ws.reversed.begin());
  fill_sample_times(ws.times);
  return success();
}

fir_lane workspace_lane(fir_workspace& ws, unsigned lane) noexcept {
  const std::size_t prefix = ws.taps > 0 ? static_cast<std::size_t>(ws.taps) - 1 : 0;
  return fir_lane{ws.inputs.begin() + lane * ws.samples,
                  ws.signals.begin() + lane * ws.signal_stride + prefix,
                  ws.accumulators.begin() + lane * ws.outputs};
}

void workspace_quantize(fir_workspace& ws, unsigned lane, std::size_t begin,
                        std::size_t end) noexcept {
  FIXFIR_EXPECTS(lane < ws.lanes && begin <= end && end <= ws.samples);
  const fir_lane l = workspace_lane(ws, lane);
  quantize_block(ws.scale, l.input + begin, l.quantized + begin, end - begin);
}

void workspace_convolve(fir_workspace& ws, unsigned lane, std::size_t begin,
                        std::size_t end) noexcept {
  // The signal behind the lane's prefix holds `outputs` samples: outputs up to ws.outputs
  // read no further.
  FIXFIR_EXPECTS(lane < ws.lanes && begin <= end && end <= ws.outputs &&
                 begin % CONVOLVE_BLOCK == 0 && end % CONVOLVE_BLOCK == 0);
  wrapping_convolve(ws.reversed.begin(), static_cast<std::size_t>(ws.taps),
                    ws.signals.begin() + lane * ws.signal_stride, begin, end - begin,
                    workspace_lane(ws, lane).accumulators + begin);
}

outcome filter_signal(const quantized_filter& filter, const double* x, std::size_t n,
                      std::int32_t* out, unsigned threads) noexcept {
  return filter_samples(filter, contiguous_samples(x, n), out, threads);
}

}  // namespace fixfir
