#pragma once
// Magnitude responses and power spectra: the dense response of a tap set on a uniform grid
// (one FFT), a response at one frequency, and Welch's averaged spectrum of a signal.
//
// Frequencies are in hertz from 0 to 8000 (half of 16,000 samples per second). Nothing here
// throws: functions that allocate return an out_of_memory error when memory runs out.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// Half the sample rate: the highest frequency a response is drawn or measured at.
inline constexpr double NYQUIST_HZ = 8000.0;

/// A magnitude response on the uniform grid 0, spacing, 2·spacing, … 8000 Hz.
///
/// Accuracy: the grid has `dense_grid_size(taps)` / 2 + 1 points, at least 16 per 1000 Hz
/// and at least 16 per 16000 / taps Hz (the width of one ripple or side lobe) up to 2^20
/// grid points in all. A lobe's top can fall between grid points; with 16 points a lobe
/// the level read is at most about 0.02 dB below it (above 65536 taps, fewer points a
/// lobe). The FFT's rounding is about 1e-15 of the taps' absolute sum, so levels down to
/// some 250 dB below the taps' sum are resolved.
struct dense_response {
  double spacing = 0.0;
  std::vector<double> magnitude;
};

/// Frequencies and levels (real units, not dB), in rising frequency order.
struct response_points {
  std::vector<double> frequency;
  std::vector<double> magnitude;
};

/// The FFT length used for `taps` taps: a power of two, at least 16384 and 16 · taps,
/// at most 2^20 (longer tap sets are folded onto it, which is exact at the grid points).
[[nodiscard]] std::size_t dense_grid_size(std::size_t taps) noexcept;

/// |Σ h[j] e^(-iωj)| on the grid, ω = 2π f / 16000.
[[nodiscard]] outcome dense_magnitude(std::span<const double> h, dense_response& out) noexcept;

/// The unquantized taps' response |H(f)|.
[[nodiscard]] outcome taps_response(std::span<const float> taps, dense_response& out) noexcept;

/// The quantized coefficients' response |C(f)| / scale: the filter that coefficient
/// quantization alone leaves, with exact arithmetic. `scale` must not be 0.
[[nodiscard]] outcome coefficients_response(std::span<const std::int32_t> coefficients,
                                            double scale, dense_response& out) noexcept;

/// |Σ h[j] e^(-iωj)| at one frequency, summed directly.
[[nodiscard]] double magnitude_at(std::span<const double> h, double frequency) noexcept;

/// Welch's averaged power spectrum of `x`: Hann-windowed segments of `segment` samples (a
/// power of two) overlapping by half, out[k] for k = 0 … segment / 2 at k · 16000 /
/// segment Hz, scaled so that white noise of variance v reads 2 v / segment at every k
/// (the power in one bin) and a sine of amplitude A about A² / 3 at its bin. With fewer
/// than `segment` samples, `x` is zero-padded to one segment.
[[nodiscard]] outcome averaged_spectrum(std::span<const double> x, std::size_t segment,
                                        std::vector<double>& out) noexcept;

/// The segment of the waveform test's spectra: the output error's power, its parts and
/// its prediction per bin of this many samples.
inline constexpr std::size_t SPECTRUM_SEGMENT = 1024;

}  // namespace fixfir
