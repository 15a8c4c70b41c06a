#include "fixfir/measurement/sweep_window.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fixfir/common/checks.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/unit_sine_sweep.h"

namespace fixfir {

run_window window_for(std::size_t taps, bool peaks) {
  run_window w;
  w.samples = to_size(SWEEP_SAMPLES);
  w.met = std::min(taps, w.samples);
  w.reach = steady_state_reach(taps, w.samples);
  w.outputs = output_block_ceil(w.samples);
  if (w.reach == steady_reach::measured) {
    w.fit_start = steady_fit_start(taps, w.samples);
    w.first_output = peaks ? 0 : output_block_floor(w.fit_start);
    w.first_sample = w.first_output >= w.met ? w.first_output - (w.met - 1) : 0;
  } else {
    w.fit_start = w.samples;
    w.first_output = peaks ? 0 : w.outputs;
    w.first_sample = peaks ? 0 : w.samples;
  }
  // The fit lies in the run; the outputs computed are whole blocks within the workspace's,
  // and every sample they meet from the first sample filled on.
  FIXFIR_EXPECTS(w.fit_start <= w.samples && w.samples <= w.outputs);
  FIXFIR_EXPECTS(w.first_output <= w.outputs &&
                 output_block_floor(w.first_output) == w.first_output);
  FIXFIR_EXPECTS(w.first_sample <= w.samples &&
                 (w.first_output == w.outputs || w.first_sample == 0 ||
                  w.first_sample + (w.met - 1) <= w.first_output));
  FIXFIR_EXPECTS(w.reach != steady_reach::measured || w.first_output <= w.fit_start);
  return w;
}

std::span<const std::int32_t> as_signed(const std::uint32_t* v, std::size_t n) {
  // Signed and unsigned forms of one type may alias.
  return {reinterpret_cast<const std::int32_t*>(v), n};
}

}  // namespace fixfir
