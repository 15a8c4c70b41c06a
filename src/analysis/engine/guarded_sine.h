#pragma once
// Quantized sine samples from a fast vector sine, certified against the C library's.
//
// The analyses need q = trunc(scale × sin(a)) (and, for the waveform test, the text of a
// sum of sines), not sin(a) itself. A vector sine with a proven error bound G gives an
// interval that holds the C library's value; when every value in it truncates (or prints)
// the same, that result is certain. Otherwise the sample is computed with std::sin, as
// the straightforward path does, so every result equals the straightforward one.
// guarded_sine.cpp holds the proof of the bound.

#include <cstddef>
#include <cstdint>

namespace fixfir {

/// Where the fast sines run. `none` computes every sample with std::sin.
enum class sine_lanes { none, avx2, avx2_eight, avx512 };

/// The best variant this processor and build can run: AVX-512, else AVX2 with FMA, else
/// `none` (also in a build with FIXFIR_PORTABLE_KERNELS).
[[nodiscard]] sine_lanes best_sine_lanes() noexcept;

/// Whether `lanes` can run here. `avx2_eight` is the AVX-512 variant's eight-lane code
/// compiled for AVX2, so that its logic can be tested on an AVX2 processor.
[[nodiscard]] bool sine_lanes_supported(sine_lanes lanes) noexcept;

/// "none", "avx2", "avx2_eight" or "avx512", for test names and reports.
[[nodiscard]] const char* sine_lanes_name(sine_lanes lanes) noexcept;

/// The largest |argument| the fast sine's bound is proven for; larger ones use std::sin.
inline constexpr double FAST_SINE_LIMIT = 131072.0;

/// Whether `scale` is one of 2^0, …, 2^30, the scales the guards are proven for. Other
/// scales take std::sin for every sample.
[[nodiscard]] bool guarded_scale(double scale) noexcept;

/// q[n] = low 32 bits of trunc(scale × std::sin((frequency × times[n]) × TWO_PI)) for
/// n < count, the argument formed as written. Returns how many samples needed std::sin.
std::size_t guarded_sine_samples(double frequency, const double* times, double scale,
                                 std::uint32_t* q, std::size_t count,
                                 sine_lanes lanes = best_sine_lanes()) noexcept;

/// The tones of a multitone signal: `count` tones from `first` hertz, `step` apart.
struct tone_set {
  double first = 0.0;
  double step = 0.0;
  std::int32_t count = 0;
};

/// The multitone signal at time t: Σ sin((f_k × t) × TWO_PI) ÷ N over the N tones,
/// added in rising k, with f_0 = first and f_(k+1) = f_k + step in double. 0 when N < 1.
[[nodiscard]] double exact_multitone(const tone_set& tones, double t) noexcept;

/// For n < count, with X = exact_multitone(tones, times[n]): q[n] = low 32 bits of
/// trunc(scale × X), and x[n] a value that `append_fixed6` writes exactly as it writes X
/// (X itself where the guard could not prove that). Returns how many samples needed the
/// exact sum.
std::size_t guarded_multitone(const tone_set& tones, double scale, const double* times, double* x,
                              std::uint32_t* q, std::size_t count,
                              sine_lanes lanes = best_sine_lanes()) noexcept;

}  // namespace fixfir
