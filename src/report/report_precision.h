#pragma once
// Precision: what overflow a precision allows, where the output error comes from, how
// loud a fixed-point filter's steady-state output is, and which precision to choose.
//
// Nothing here throws; functions that allocate report running out of memory as false.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fixfir {

/// Precisions that give a usable scale 2^P.
inline constexpr std::int32_t LOWEST_PRECISION = 0;
inline constexpr std::int32_t HIGHEST_PRECISION = 30;

/// The worst case of the accumulator at one precision, for any input with |x| ≤ 1.
///
/// Samples are s = trunc(2^P · x), so |s| ≤ 2^P, and the exact sum Σ c[j] · s[n - j]
/// reaches at most Σ |c[j]| · 2^P in magnitude (an input of ±1 matching the signs of the
/// coefficients reaches it). Below 2^31 no input can wrap the accumulator.
struct wrap_bound {
  std::int32_t precision = 0;
  /// Σ |trunc(2^P · tap)| over the taps: the quantized coefficients' Σ |c[j]| when none
  /// wraps on conversion, larger when one does (such a filter is never wrap-free)
  std::uint64_t coefficient_sum = 0;
  bool wrap_free = false;  ///< Σ |c[j]| · 2^P ≤ 2^31 - 1, and no coefficient wrapped
  /// The bound of the run as it is: over the coefficients the filter uses (wrapped or
  /// turned to 0 where a tap does not fit, all 0 where the scale is 0: precision 32 and
  /// up, or below 0) and the scale it has, Σ |c[j]| · |scale|.
  std::uint64_t used_coefficient_sum = 0;  ///< Σ |c[j]| of the coefficients used
  bool can_wrap = false;  ///< Σ |c[j]| · |scale| > 2^31 - 1: some input wraps the accumulator
  /// log2((2^31 - 1) / (Σ |c[j]| · |scale|)), below 0 exactly when `can_wrap`; +inf when
  /// every coefficient used is 0 (nothing can wrap)
  double headroom_bits = 0.0;
};

/// The bound for `taps` quantized afresh at `precision` (0 to 30).
[[nodiscard]] wrap_bound wrap_bound_at(std::span<const float> taps,
                                       std::int32_t precision) noexcept;

/// The largest precision from 0 to 30 at which no input can wrap, or -1 if none.
[[nodiscard]] std::int32_t largest_wrap_free_precision(std::span<const float> taps) noexcept;

/// Whether a run from rest wrapped its accumulator: whether any sample n has an exact sum
/// Σ c[j] · s[n - j] other than `accumulators[n]`.
///
/// `reference` (optional, may be empty) is the same run in double precision with the
/// unquantized `taps` and the unquantized input (|x| ≤ 1), in real units. With it, each
/// exact sum is known to lie within
///   Σ |c| + 2^P · taps · d + 2^(2P) · taps · Σ |tap| · 2^-50
/// of 2^(2P) · reference[n], d the largest |c - 2^P · tap| (below 1 unless a coefficient
/// wrapped): sample truncation moves each product by less than |c|, coefficient
/// truncation by less than 2^P · d, and the double sums are off by far less. Whenever
/// that is below 2^30 the sum is the accumulator plus the multiple of 2^32 nearest to the
/// difference: O(1) a sample. Otherwise the sums are formed exactly, stopping at the
/// first wrap.
struct wrap_check {
  std::span<const std::int32_t> coefficients;
  std::span<const std::int32_t> samples;       ///< quantized, oldest first, from rest
  std::span<const std::int32_t> accumulators;  ///< one per sample
  std::span<const double> reference;
  std::span<const float> taps;  ///< the unquantized taps, needed with `reference`
  double scale = 0.0;           ///< 2^P
  /// The first sample checked: earlier samples only feed the sums, and earlier
  /// accumulators (which need not have been computed) are not read.
  std::size_t from = 0;
};

[[nodiscard]] bool run_wrapped(const wrap_check& run) noexcept;

/// Whether a run at precision p wraps, judged from an exact run of the same input at a
/// lower precision p0 (one that cannot wrap). Scaling up by k = p - p0 bits moves each
/// coefficient and each sample by less than 2^k from 2^k times its value at p0, so each
/// exact sum at p lies within 4^k · (Σ |c at p0| + taps · (2^p0 + 1)) of 4^k times the sum
/// at p0. From the largest magnitude of the sums at p0 it follows that no sum at p leaves
/// the 32-bit range, that one does, or neither (then the run at p must be checked). The
/// inputs must satisfy |x| ≤ 1 and the taps |tap| · 2^p < 2^31 (no coefficient wrapped).
enum class wrap_verdict { none, wraps, unknown };

[[nodiscard]] wrap_verdict verdict_from_lower(std::int64_t largest_sum_at_p0,
                                              std::uint64_t coefficient_sum_at_p0, std::size_t taps,
                                              std::int32_t p0, std::int32_t p) noexcept;

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

/// " (accumulator wraps at K of the N frequencies measured)" beside a figure measured at
/// `frequencies` frequencies of which `wraps` wrapped the accumulator; "" when none did.
[[nodiscard]] std::string wrap_note(std::int64_t wraps, std::int64_t frequencies);

/// The sine of the sweep at one frequency, and its cosine, on the sweep's clock
/// (t accumulated by t += 6.25e-05, argument (f × t) × 6.283185307179586).
struct sine_basis {
  double frequency = 0.0;
  std::vector<double> sine;
  std::vector<double> cosine;
};

/// Fills `basis` for `samples` samples at `frequency` on the sweep's clock; sines and
/// cosines only from `from` on, where a fit starts (those before are 0). False when memory
/// runs out.
[[nodiscard]] bool make_sine_basis(double frequency, std::size_t samples, sine_basis& basis,
                                   std::size_t from = 0) noexcept;

/// The amplitude of the least-squares fit a · sin + b · cos to `output[first ..]` (the
/// steady state starts once the history is full: first = taps - 1), as √(a² + b²). NaN
/// when fewer than 3 samples remain, or the sine and cosine are not independent there
/// (8000 Hz, where the sweep samples the sine at its zero crossings).
[[nodiscard]] double fitted_amplitude(const sine_basis& basis, std::span<const double> output,
                                      std::size_t first) noexcept;

/// The same for a run's 32-bit accumulators, in real units (÷ scale²).
[[nodiscard]] double fitted_amplitude(const sine_basis& basis,
                                      std::span<const std::int32_t> accumulators, std::size_t first,
                                      double scale) noexcept;

/// The output of the coefficients taken exactly (c / scale) on the unquantized input,
/// from rest: the filter that coefficient quantization alone leaves. False when memory
/// runs out.
[[nodiscard]] bool run_coefficient_model(std::span<const std::int32_t> coefficients, double scale,
                                         std::span<const double> input,
                                         std::vector<double>& output) noexcept;

/// The output error split into its two causes, as signal-to-error ratios in dB (signal:
/// the unquantized filter's output): the coefficients (coefficient model minus the
/// unquantized filter) and the arithmetic (fixed point minus the coefficient model:
/// sample truncation and wraps). `predicted_arithmetic_db` is the ratio the truncation
/// model predicts (see `predicted_truncation_power`).
struct error_split {
  double coefficient_db = 0.0;
  double arithmetic_db = 0.0;
  double predicted_arithmetic_db = 0.0;
  double arithmetic_power = 0.0;            ///< mean square of the arithmetic error
  double predicted_arithmetic_power = 0.0;  ///< its prediction
};

/// The mean square the truncation model predicts for the arithmetic error of the fixed-
/// point filter over `input` from rest. Each sample is truncated toward zero, so its
/// error is -sign(x) · u with u uniform on [0, q), q = 1 / scale (none for x = 0): a mean
/// of -sign(x) · q / 2, which the coefficients filter like the signal, and a white part
/// of variance q² / 12. The output error's mean square is the square of the filtered mean
/// plus the white variance times Σ (c / scale)² over the taps the sample has met.
[[nodiscard]] double predicted_truncation_power(std::span<const std::int32_t> coefficients,
                                                double scale,
                                                std::span<const double> input) noexcept;

/// The truncation model's prediction as a signal and a white level: `mean` receives the
/// filtered mean error Σ (c[j] / scale) · (-sign(x[n - j]) / (2 · scale)), and the return
/// value is the variance of the white part of each truncated sample, (1 / scale)² / 12
/// times the share of samples that are not 0 (to be filtered by |C(f)| / scale). False
/// (NaN) when memory runs out.
[[nodiscard]] double truncation_model(std::span<const std::int32_t> coefficients, double scale,
                                      std::span<const double> input,
                                      std::vector<double>& mean) noexcept;

/// The split for a waveform test: `reference` the unquantized filter's output,
/// `coefficient_model` that of `run_coefficient_model`, `fixed` the fixed-point output,
/// `predicted_power` that of `predicted_truncation_power`.
[[nodiscard]] error_split split_error(std::span<const double> reference,
                                      std::span<const double> coefficient_model,
                                      std::span<const double> fixed,
                                      double predicted_power) noexcept;

/// 10 · log10(signal_power / error_power): +inf for no error, NaN for no signal or NaN.
[[nodiscard]] double power_ratio_db(double signal_power, double error_power) noexcept;

/// What was measured at one precision.
struct precision_row {
  std::int32_t precision = 0;
  std::int64_t waveform_wraps = 0;  ///< samples of the waveform test that wrapped
  std::int32_t sweep_wraps = 0;     ///< swept frequencies whose run wrapped
  std::int32_t sweep_frequencies = 0;
  bool wrap_free = false;              ///< no input can wrap (see wrap_bound)
  double snr_db = 0.0;                 ///< the waveform test's output SNR
  double coefficient_ripple_db = 0.0;  ///< quantized coefficients, exact arithmetic
  double coefficient_attenuation_db = 0.0;
  double fixed_ripple_db = 0.0;  ///< the fixed-point filter in steady state
  double fixed_attenuation_db = 0.0;
  /// Of the frequencies the fixed-point ripple (pass bands) and attenuation (all bands)
  /// are measured at, how many, and how many of them wrapped the accumulator.
  std::int32_t ripple_frequencies = 0;
  std::int32_t ripple_wraps = 0;
  std::int32_t attenuation_frequencies = 0;
  std::int32_t attenuation_wraps = 0;
  /// Whether the fixed-point figures were measured. When not, they are NaN, and the
  /// attenuation and ripple targets are judged on the quantized coefficients' figures.
  steady_reach steady = steady_reach::measured;
};

/// What the designer asks of a precision. A NaN target is no target.
struct precision_targets {
  double min_attenuation_db = 0.0;
  double max_ripple_db = 0.0;
  double min_snr_db = 0.0;
};

/// The choice and the one line that says why.
struct recommendation {
  std::int32_t precision = -1;  ///< -1: none
  std::string reason;
};

/// The smallest precision whose fixed-point steady state meets the attenuation and
/// ripple targets, whose waveform test meets the SNR target, and that wrapped nowhere
/// (neither the waveform test nor any swept frequency). A NaN figure meets no target. A
/// row whose steady state was not measured is judged on its quantized coefficients'
/// attenuation and ripple instead, and the reason says so.
[[nodiscard]] recommendation recommend_precision(std::span<const precision_row> rows,
                                                 const precision_targets& targets);

}  // namespace fixfir
