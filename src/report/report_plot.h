#pragma once
// The two pictures of fixfir-report, drawn by gnuplot from scripts that carry their data
// inline, so that nothing but the pictures is left behind.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "report_model.h"

namespace fixfir {

inline constexpr const char* response_png_name = "response.png";
inline constexpr const char* waves_png_name = "waves.png";
/// The part of the waveform test drawn sample by sample: the first 20 ms.
inline constexpr std::int32_t WAVES_WINDOW_SAMPLES = 320;

/// A gnuplot string literal holding `text`.
[[nodiscard]] std::string gnuplot_quote(std::string_view text);

/// A script that draws the three sweep curves in dB to the PNG file `png_path`.
[[nodiscard]] std::string response_script(std::span<const sweep_point> sweep,
                                          std::int32_t precision, const std::string& png_path);

/// A script that draws the waveform test to `png_path`: input, fixed-point and
/// double-precision outputs over the first 20 ms, and the output error over the whole
/// test. The three series have one value per entry of `signal.time`.
[[nodiscard]] std::string waves_script(const waveform_signal& signal,
                                       std::span<const double> fixed_output,
                                       std::span<const double> double_output,
                                       const std::string& png_path);

/// The first executable file called `program` in the ':'-separated folder list `path`,
/// or an empty string.
[[nodiscard]] std::string find_program(std::string_view program, std::string_view path);

/// Runs `gnuplot` on `script` and returns its exit status (-1 if it could not be run or
/// did not exit).
[[nodiscard]] int run_gnuplot(const std::string& gnuplot, const std::string& script);

}  // namespace fixfir
