#pragma once
// Vector kernels of the fixed-point filter.
//
// Overflow: every product keeps its low 32 bits and every sum wraps modulo 2^32, so the
// lanes are unsigned and the order of the additions cannot change a result. The
// instruction set (AVX-512, AVX2 or plain x86-64) is chosen once, at the first call, so
// one binary runs everywhere.

#include <cstddef>
#include <cstdint>

namespace fixfir {

/// Outputs computed together by `wrapping_convolve`; its output counts are multiples of this.
inline constexpr std::size_t CONVOLVE_BLOCK = 32;
/// The accumulators of a filter over a quantized signal:
///   acc[k] = Σ reversed[i] · signal[first + k + i] for i in [0, taps), k in [0, outputs),
/// wrapping modulo 2^32. `reversed` holds the coefficients oldest-first (reversed[i] =
/// c[taps - 1 - i]), so output m = first + k is the filter's output for the sample at
/// signal[m + taps - 1]. signal[0 .. taps - 1) must be zero (the history before the first
/// sample): products that only meet that prefix are skipped. `outputs` must be a multiple of
/// `CONVOLVE_BLOCK`, and `signal` readable up to index first + outputs + taps - 2.
/// Mirrored taps (a linear-phase filter) take half the multiplies.
void wrapping_convolve(const std::uint32_t* reversed, std::size_t taps, const std::uint32_t* signal,
                       std::size_t first, std::size_t outputs, std::uint32_t* acc) noexcept;

/// out[i] = trunc(scale × x[i]) keeping the low 32 bits: `quantize_sample` on each of
/// the n samples.
void quantize_block(double scale, const double* x, std::uint32_t* out, std::size_t n) noexcept;

/// The largest 32-bit magnitude among the n accumulators, at least 0. -2^31 has no
/// magnitude and never counts.
[[nodiscard]] std::int32_t peak_magnitude(const std::uint32_t* acc, std::size_t n) noexcept;

/// The instruction sets the kernels are built for. A build with FIXFIR_PORTABLE_KERNELS has
/// the plain one alone.
enum class kernel_variant { plain, avx2, avx512 };

/// Whether `variant` is built and runs on this processor.
[[nodiscard]] bool kernel_variant_supported(kernel_variant variant) noexcept;

/// The variant the functions above use: the widest supported.
[[nodiscard]] kernel_variant best_kernel_variant() noexcept;

/// One variant's kernels, for the tests and the benchmark; the functions above call those
/// of `best_kernel_variant()`.
struct kernel_table {
  void (*convolve)(const std::uint32_t*, std::size_t, const std::uint32_t*, std::size_t,
                   std::size_t, std::uint32_t*) noexcept;
  /// `exact_real_convolve` (wide_kernel.h).
  void (*convolve_real)(const double*, std::size_t, const std::int32_t*, std::size_t, std::size_t,
                        double*) noexcept;
  void (*quantize)(double, const double*, std::uint32_t*, std::size_t) noexcept;
  std::int32_t (*peak)(const std::uint32_t*, std::size_t) noexcept;
  /// `count` 32-bit lane multiplies and nothing else, in independent chains: the floor
  /// under `convolve`, which needs one per tap (per mirrored pair) per output.
  std::uint32_t (*multiplies)(std::uint32_t seed, std::size_t count) noexcept;
  /// `count` multiplies, each with the two adds of a folded mirrored pair, in registers:
  /// the floor of `convolve`'s arithmetic where the processor's vector adds share ports
  /// with its multiplies.
  std::uint32_t (*folded_steps)(std::uint32_t seed, std::size_t count) noexcept;
};

/// The kernels of `variant`, or the plain ones when it is not supported.
[[nodiscard]] const kernel_table& kernels(kernel_variant variant = best_kernel_variant()) noexcept;

}  // namespace fixfir
