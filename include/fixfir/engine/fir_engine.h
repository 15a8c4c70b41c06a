#pragma once
// The fixed-point filter laid out for speed, shared by both analyses and both tools.
//
// Scaling and overflow: each input sample x is quantized once, when it arrives, to
// s = trunc(scale × x) (64-bit truncation, low 32 bits kept). The accumulator is
// Σ c[j] · s[n - j] with every product and sum wrapping modulo 2^32, so it is in units of
// scale²; `fir_output` divides by scale² (a double product) to give real units. Nothing
// saturates: an overflowing sum wraps, which is what the tool exists to show.
//
// A workspace holds one or more lanes, each an independent run of the filter from rest over
// `samples` samples: its real inputs, its quantized signal behind a zero prefix (the history
// at rest) and its accumulators. The coefficients are stored oldest-first, so that each block
// of outputs is a sum of broadcast coefficients times consecutive samples.

#include <cstddef>
#include <cstdint>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/common/conversion.h"
#include "fixfir/common/heap_array.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"

namespace fixfir {

/// Fills `times` with the sample clock from 0.0: each time is the one before plus
/// SAMPLE_INTERVAL, a repeated double addition (not n × SAMPLE_INTERVAL).
void fill_sample_times(heap_array<double>& times) noexcept;

/// The sample quantizer: trunc(scale × x) keeping the low 32 bits.
[[nodiscard]] inline std::int32_t quantize_sample(double scale, double x) noexcept {
  return real_to_int32(scale * x);
}

/// The accumulator `a` (or a peak magnitude) in real units: a ÷ (scale × scale).
[[nodiscard]] inline double fir_output(double scale, std::int32_t a) noexcept {
  return static_cast<double>(a) / (scale * scale);
}

/// `count` coefficients oldest-first as unsigned lanes: out[i] = c[count - 1 - i].
void reverse_coefficients(const std::int32_t* coefficients, std::int32_t count,
                          std::uint32_t* out) noexcept;

/// One filter, several independent runs of it from rest.
struct fir_workspace {
  std::int32_t taps = 0;                   ///< min(count, samples): only these can meet a sample
  double scale = 0.0;                      ///< the filter's scale as a double
  unsigned lanes = 0;                      ///< runs held at once, one per worker
  std::size_t samples = 0;                 ///< samples in a run
  std::size_t outputs = 0;                 ///< `samples` rounded up to CONVOLVE_BLOCK
  std::size_t signal_stride = 0;           ///< taps - 1 zeros, then `outputs` samples
  heap_array<std::uint32_t> reversed;      ///< c[taps - 1], …, c[0]
  heap_array<double> times;                ///< the sample clock t of each sample
  heap_array<double> inputs;               ///< lanes × samples real inputs
  heap_array<std::uint32_t> signals;       ///< lanes × signal_stride quantized samples
  heap_array<std::uint32_t> accumulators;  ///< lanes × outputs accumulators
};

/// Prepares `lanes` (at least 1) runs of `samples` samples over `filter`, zeroed; fails
/// (out_of_memory) when memory cannot be had. A filter with no taps always sums to 0.
[[nodiscard]] outcome workspace_init(fir_workspace& ws, const quantized_filter& filter,
                                     std::size_t samples, unsigned lanes) noexcept;

/// One lane's buffers: `input` and `quantized` have `samples` entries, `accumulators`
/// `outputs`.
struct fir_lane {
  double* input = nullptr;
  std::uint32_t* quantized = nullptr;
  std::uint32_t* accumulators = nullptr;
};

/// The buffers of lane `lane`.
[[nodiscard]] fir_lane workspace_lane(fir_workspace& ws, unsigned lane) noexcept;

/// Quantizes lane `lane`'s inputs [begin, end) into its signal.
void workspace_quantize(fir_workspace& ws, unsigned lane, std::size_t begin,
                        std::size_t end) noexcept;

/// Computes lane `lane`'s accumulators [begin, end); `begin` and `end` are multiples of
/// CONVOLVE_BLOCK (or `end` is `outputs`), and every sample up to end - 1 is quantized.
/// Accumulators past `samples` are computed over zero samples and mean nothing.
void workspace_convolve(fir_workspace& ws, unsigned lane, std::size_t begin,
                        std::size_t end) noexcept;

/// The accumulators of `filter` from rest over the `n` samples `x`, any number of them:
/// out[k] is the filter's accumulator for sample k, the value `fir_step` gives. Computed on
/// up to `threads` threads, a block at a time (fir_stream.h): beyond `out`, the memory used
/// grows with the taps, not with `n`. Fails out_of_memory when memory cannot be had,
/// interrupted when the keep-going check stopped it.
[[nodiscard]] outcome filter_signal(const quantized_filter& filter, const double* x, std::size_t n,
                                    std::int32_t* out, unsigned threads) noexcept;

}  // namespace fixfir
