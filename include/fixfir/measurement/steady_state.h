#pragma once
// The steady state of a fixed-point filter: whether a run reaches it, the sine fit that
// measures its amplitude, and its amplitude at chosen frequencies (band edges, lobe tops).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/records.h"
#include "fixfir/common/result.h"
#include "fixfir/drivers/sine_service.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/spectrum.h"

namespace fixfir {

/// The samples a steady-state fit uses: the last `STEADY_FIT_SAMPLES` of a run, or all
/// once the history is full if that is later.
inline constexpr std::size_t STEADY_FIT_SAMPLES = 256;

/// The first sample of the fit for a run of `samples` samples through `taps` taps.
[[nodiscard]] std::size_t steady_fit_start(std::size_t taps, std::size_t samples) noexcept;

/// The fewest samples a steady-state fit is made over: a quarter of the usual fit. On a
/// 3000-tap low-pass at precision 15, fits over 64 samples stayed within 0.015 dB of the
/// 256-sample fit at every frequency; over 32 they strayed by up to 0.07 dB, over 3 by
/// 5 dB (near 8000 Hz).
inline constexpr std::size_t STEADY_FIT_MINIMUM = 64;

/// Whether a run of `samples` samples through `taps` taps has a steady state to measure.
/// Its history is full from sample taps - 1 on, and the fit needs STEADY_FIT_MINIMUM
/// samples from there.
enum class steady_reach {
  measured,     ///< taps - 1 + STEADY_FIT_MINIMUM <= samples
  too_short,    ///< the history fills within the run, too late for a fit
  not_reached,  ///< taps - 1 >= samples: the filter is longer than the run
};

[[nodiscard]] steady_reach steady_state_reach(std::size_t taps, std::size_t samples) noexcept;

/// Why the steady state of a run has no figures, as the summary says it ("not reached:
/// the filter is longer than the 4000-sample run"); "" when it is measured.
[[nodiscard]] std::string steady_absence(std::size_t taps, std::size_t samples);

/// The same in a word or two, for a table cell: "not reached", "not measured" or "".
[[nodiscard]] const char* steady_absence_word(steady_reach reach) noexcept;

/// The amplitude of the least-squares fit a · sin + b · cos to `output[first ..]` (the
/// steady state starts once the history is full: first = taps - 1), as √(a² + b²). NaN
/// when fewer than 3 samples remain, or the sine and cosine are not independent there
/// (8000 Hz, where the sweep samples the sine at its zero crossings).
[[nodiscard]] double fitted_amplitude(const sine_basis& basis, std::span<const double> output,
                                      std::size_t first) noexcept;

/// The same for the first `samples` accumulators of a run of the run service, in real
/// units (× `unit`, the filter's output unit).
[[nodiscard]] double fitted_amplitude(const sine_basis& basis, const sine_run& run,
                                      std::size_t samples, std::size_t first, double unit) noexcept;

/// Frequencies where a fixed-point filter's steady state is worst within `plan`'s bands,
/// read from its quantized coefficients' dense response |C(f)| / scale (which the steady
/// state follows up to the truncation noise): every band edge, the `per_band` highest lobe
/// tops of each band and the `per_band` lowest dips of each pass band, kept within the
/// sweep's 4 to 7996 Hz, in rising order without repeats.
[[nodiscard]] std::vector<double> band_extremes(const dense_response& coefficients,
                                                const band_plan& plan, std::size_t per_band = 8);

/// The steady state of a fixed-point filter at chosen frequencies.
struct steady_points {
  std::vector<double> frequency;
  std::vector<double> steady;         ///< the fitted amplitude
  std::vector<std::uint8_t> wrapped;  ///< whether an output of the fit overflowed
  /// Whether some sample of the sine overflowed its word (fixfir's precisions never do).
  std::vector<std::uint8_t> sample_overflowed;
};

/// The steady-state amplitude of `f`, on any datapath, at each of `out.frequency` (Hz, any
/// value from 4 to 7996), fitted exactly as `sweep_filters` fits it: a unit sine from rest
/// on the sweep's clock, over the last STEADY_FIT_SAMPLES of SWEEP_SAMPLES samples; whether
/// any output of that fit overflowed the accumulator (checked exactly unless no input can),
/// and whether some sample the fit's outputs meet overflowed its word. Fails out_of_memory
/// when memory runs out, interrupted when the keep-going check stops it.
[[nodiscard]] outcome steady_amplitudes(const fixed_filter& f, unsigned threads,
                                        steady_points& out) noexcept;

}  // namespace fixfir
