#pragma once
// What the unquantized taps tell a hardware designer before any word is chosen: their
// symmetry and the multipliers it saves, the group delay, the gains at DC and at half the
// sample rate, and how far the output can grow beyond the input.

#include <cstdint>
#include <span>

namespace fixfir {

/// How the taps mirror about their centre, compared bit for bit.
enum class tap_symmetry : std::uint8_t {
  symmetric,      ///< h[n] == h[N-1-n] for every n
  antisymmetric,  ///< h[n] == -h[N-1-n] for every n, the centre tap of an odd N being 0
  none,           ///< neither
};

/// The facts of a set of taps.
struct hardware_facts {
  tap_symmetry symmetry = tap_symmetry::none;
  /// Multipliers a folded structure needs: ceil(N/2) symmetric, floor(N/2)
  /// antisymmetric, N without symmetry.
  std::int64_t multipliers = 0;
  /// (N-1)/2 samples and the same in milliseconds at 16000 Hz; NaN without symmetry,
  /// where the group delay is not constant.
  double group_delay_samples = 0;
  double group_delay_ms = 0;
  /// Σh and Σ(-1)^n h, as factors and in dB of their magnitude (-inf for a gain of 0).
  double dc_gain = 0;
  double dc_gain_db = 0;
  double nyquist_gain = 0;
  double nyquist_gain_db = 0;
  /// Σ|h|: the largest output any input within full scale makes, in units of full scale.
  double abs_sum = 0;
  /// ceil(log2(Σ|h|)), the bits the output grows beyond the input; 0 when Σ|h| <= 1.
  std::int32_t growth_bits = 0;
};

/// The facts of `taps`.
[[nodiscard]] hardware_facts hardware_facts_of(std::span<const float> taps);

/// "symmetric", "antisymmetric" or "none".
[[nodiscard]] const char* symmetry_name(tap_symmetry s);

}  // namespace fixfir
