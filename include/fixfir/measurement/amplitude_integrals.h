#pragma once
// The zero-phase amplitude of symmetric taps and its integrals from 0 to a band edge, in
// closed form: the terms of the normal equations that design recovery fits band edges to.

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// The zero-phase amplitude of symmetric taps, A(f) = Σ a[k] cos(2π f (k + o) / 16000).
struct amplitude {
  std::vector<double> a;
  std::vector<double> rounding;  // the most a[k] moved when its tap was rounded to float
  std::size_t half_offset = 0;   // 2·o: 0 for an odd count, 1 for an even one
};

/// The amplitude of `taps` and the most rounding each tap to float moved its term. A
/// bad_input error when `taps` are not symmetric or not all finite, out_of_memory when
/// memory runs out. The terms are at most twice the largest tap; nothing overflows for
/// finite taps.
[[nodiscard]] result<amplitude> symmetric_amplitude(std::span<const float> taps) noexcept;

/// The normal equations' integrals from 0 to one band edge for k < rows, where
/// c_k(f) = cos(2π f (k + o) / 16000).
struct edge_terms {
  std::vector<double> sines;  // sine_integrals at the edge, q up to 4 · a.size()
  std::vector<double> area;   // ∫_0^e A(f) c_k(f) df
  std::vector<double> basis;  // ∫_0^e c_k(f) df
};

/// Sets `out` to the integrals from 0 to `e` Hz (0 ≤ e ≤ 8000) for k < `rows`; the sines
/// come from repeated turns, their error growing by about an ulp a step.
void integrate_to(const amplitude& amp, double e, std::size_t rows, edge_terms& out);

/// ∫_0^e A(f) df.
[[nodiscard]] double amplitude_area(const amplitude& amp, double e);

}  // namespace fixfir
