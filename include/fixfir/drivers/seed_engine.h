#pragma once
// The 32-bit engine's entries for a filter on fixfir's precision (is_precision_datapath):
// the stream, made from the filter itself rather than from the engine's borrowed view of
// its coefficients. (The waveform test and the sweep reach the engine through the run
// service.)
//
// Scaling and overflow are the engine's (fir_engine.h): samples trunc(scale × x), every
// product and sum wrapping modulo 2^32.

#include <cstddef>
#include <cstdint>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"
#include "fixfir/engine/fir_stream.h"

namespace fixfir {

/// Makes `s` a stream of `f` at rest (stream_init). `f` must be on fixfir's precision.
[[nodiscard]] outcome seed_stream_init(fir_stream& s, const fixed_filter& f) noexcept;

/// The accumulators of `f` from rest over `x` (filter_samples). `f` must be on fixfir's
/// precision.
[[nodiscard]] outcome seed_filter_samples(const fixed_filter& f, const sample_source& x,
                                          std::int32_t* out, unsigned threads) noexcept;

}  // namespace fixfir
