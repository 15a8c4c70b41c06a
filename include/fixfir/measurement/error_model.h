#pragma once
// Where the output error comes from: the coefficients' share (an exact-arithmetic model of
// the quantized coefficients) and the arithmetic's (sample truncation and wraps), and the
// truncation model that predicts the latter's power and spectrum.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// The output of the coefficients taken exactly (c / scale) on the unquantized input,
/// from rest: the filter that coefficient quantization alone leaves. An out_of_memory
/// error when memory runs out, interrupted when `keep_going` says stop.
[[nodiscard]] outcome run_coefficient_model(std::span<const std::int32_t> coefficients,
                                            double scale, std::span<const double> input,
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
/// times the share of samples that are not 0 (to be filtered by |C(f)| / scale). Fails as
/// `run_coefficient_model` does.
[[nodiscard]] result<double> truncation_model(std::span<const std::int32_t> coefficients,
                                              double scale, std::span<const double> input,
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

/// The truncation model's arithmetic error spectrum on the grid of `averaged_spectrum`
/// with `segment` samples: the spectrum of the filtered mean error plus the white part
/// shaped by |C(f)| / scale. Fails as `run_coefficient_model` does.
[[nodiscard]] outcome predicted_error_spectrum(std::span<const std::int32_t> coefficients,
                                               double scale, std::span<const double> input,
                                               std::size_t segment,
                                               std::vector<double>& out) noexcept;

/// The waveform test's spectra per SPECTRUM_SEGMENT bin (see `averaged_spectrum`): the
/// output error (fixed point minus the unquantized filter), its coefficient part
/// (coefficient model minus the unquantized filter) and the unquantized output itself.
struct waveform_spectra {
  std::vector<double> error;
  std::vector<double> coefficient_error;
  std::vector<double> signal;
};

/// The spectra over the first `samples` samples of each run. An out_of_memory error (and
/// `out` emptied) when memory runs out.
[[nodiscard]] outcome error_spectra(std::span<const double> fixed,
                                    std::span<const double> reference,
                                    std::span<const double> coefficient_model, std::size_t samples,
                                    waveform_spectra& out) noexcept;

}  // namespace fixfir
