#include "fixfir/engine/fir_stream.h"

#include <algorithm>
#include <cstring>

#include "block_stream.h"
#include "fast_kernel.h"
#include "fixfir/engine/fir_engine.h"
#include "fixfir/engine/parallel_chunks.h"

namespace fixfir {

outcome stream_init(fir_stream& s, const quantized_filter& filter) noexcept {
  s = fir_stream{};
  const auto taps = static_cast<std::size_t>(std::max(filter.count, 0));
  if (!allocate_zeroed(s.reversed, taps) || !allocate_zeroed(s.history, taps > 0 ? taps - 1 : 0)) {
    s = fir_stream{};
    return out_of_memory_error();
  }
  s.scale = static_cast<double>(filter.scale);
  s.taps = taps;
  reverse_coefficients(filter.coefficients, filter.count, s.reversed.begin());
  return success();
}

void stream_reset(fir_stream& s) noexcept { std::fill(s.history.begin(), s.history.end(), 0U); }

outcome stream_filter(fir_stream& s, const sample_source& x, std::int32_t* out,
                      unsigned threads) noexcept {
  if (s.taps == 0) {
    std::fill(out, out + x.count, 0);
    return success();
  }
  const stream_plan plan = plan_stream(s.taps, x.count, threads);
  // The accumulators are the int32 values of the kernel's unsigned sums, written in place.
  auto* const acc = reinterpret_cast<std::uint32_t*>(out);
  const bool done = stream_blocks(
      plan, s.history.begin(), x,
      [&](unsigned, const double* reals, std::uint32_t* words, std::size_t count, bool) {
        quantize_block(s.scale, reals, words, count);
      },
      [&](const stream_chunk<std::uint32_t>& c) {
        const std::size_t whole = c.count / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
        if (whole > 0) {
          wrapping_convolve(s.reversed.begin(), s.taps, c.signal, c.first, whole, acc + c.begin);
        }
        if (whole < c.count) {
          std::uint32_t tail[CONVOLVE_BLOCK];
          wrapping_convolve(s.reversed.begin(), s.taps, c.signal, c.first + whole, CONVOLVE_BLOCK,
                            tail);
          std::memcpy(acc + c.begin + whole, tail, (c.count - whole) * sizeof tail[0]);
        }
      });
  return done ? success() : outcome(stopped_run_error());
}

outcome filter_samples(const quantized_filter& filter, const sample_source& x, std::int32_t* out,
                       unsigned threads) noexcept {
  // Coefficient j meets the sample j steps old: over n samples from rest only the first n
  // can matter.
  quantized_filter used = filter;
  used.count = static_cast<std::int32_t>(
      std::min<std::size_t>(static_cast<std::size_t>(std::max(filter.count, 0)), x.count));
  fir_stream s;
  outcome made = stream_init(s, used);
  if (!made) return made;
  return stream_filter(s, x, out, threads);
}

}  // namespace fixfir
