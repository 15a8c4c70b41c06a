#pragma once
// The fixed numbers of the two analyses and of the files they write: the sample clock,
// the sine's argument, and how many samples and frequencies each analysis covers.

#include <cstdint>

namespace fixfir {

/// Seconds between samples: 16,000 samples per second.
inline constexpr double SAMPLE_INTERVAL = 6.25e-05;
/// The sine argument is (frequency × t) × TWO_PI, in that order.
inline constexpr double TWO_PI = 6.283185307179586;

/// Samples of the waveform test: two seconds, one line each of "waves.txt".
inline constexpr std::int32_t WAVEFORM_SAMPLES = 32000;

/// The sweep's frequencies run from the first to the last in hertz, both included when
/// the step lands on them; each is fed from rest for SWEEP_SAMPLES samples.
inline constexpr std::int32_t SWEEP_FIRST_FREQUENCY = 4;
inline constexpr std::int32_t SWEEP_LAST_FREQUENCY = 8000;
inline constexpr std::int32_t SWEEP_SAMPLES = 4000;

}  // namespace fixfir
