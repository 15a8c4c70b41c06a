#pragma once
// The one place that knows the rate a filter runs at. The report measures in "internal"
// hertz, those of a filter run at 16000 samples per second (analysis_constants.h); a user's
// filter may run at any rate FS, and every frequency it gives or reads is in hertz at FS.
// A frequency f at FS is f × 16000 / FS internally; these functions make that trip both
// ways, read the rate, and print a frequency so that it reads back as the same one.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fixfir {

/// The rate the report measures at, and the one a user's filter runs at unless told.
inline constexpr double DEFAULT_SAMPLE_RATE = 16000.0;
/// The rates a user may give, in Hz: a sample a day is about 0.0000116 Hz.
inline constexpr double LOWEST_SAMPLE_RATE = 1e-6;
inline constexpr double HIGHEST_SAMPLE_RATE = 1e12;

/// `hz` at `rate` in internal hertz. The identity at DEFAULT_SAMPLE_RATE.
[[nodiscard]] double internal_hertz(double hz, double rate) noexcept;

/// Internal hertz `internal` in hertz at `rate`. The identity at DEFAULT_SAMPLE_RATE.
[[nodiscard]] double hertz_at(double internal, double rate) noexcept;

/// Seconds for `samples` samples at `rate` (SAMPLE_INTERVAL a sample at the default).
[[nodiscard]] double seconds_at(double samples, double rate) noexcept;

/// A time `t` of the 16000-sample clock (seconds) as the time at `rate` of the same sample.
[[nodiscard]] double clock_seconds_at(double t, double rate) noexcept;

/// Internal hertz `internal` written in hertz at `rate` so that reading the text back and
/// taking it to internal hertz gives `internal` again wherever some double does: plain
/// decimals ("3402.75", "50000000"), an exponent only for values too small for 24 places.
/// At DEFAULT_SAMPLE_RATE, hertz_text of `internal`.
[[nodiscard]] std::string rate_hertz_text(double internal, double rate);

/// Whole internal hertz `internal` (a tone, a step) in hertz at `rate`, as rate_hertz_text
/// writes it; at DEFAULT_SAMPLE_RATE the whole number ("100000", never "1e+05").
[[nodiscard]] std::string grid_text(std::int32_t internal, double rate);

/// Reads a sample rate: a plain decimal number (exponent allowed) from LOWEST_SAMPLE_RATE
/// to HIGHEST_SAMPLE_RATE. Otherwise nothing.
[[nodiscard]] std::optional<double> parse_sample_rate(std::string_view text);

/// Whether `rate` is one a user may give: LOWEST_SAMPLE_RATE to HIGHEST_SAMPLE_RATE.
[[nodiscard]] bool good_sample_rate(double rate) noexcept;

/// What a refused sample rate is not, in words.
inline constexpr const char* SAMPLE_RATE_WORDS =
    "not a sample rate from 0.000001 to 1000000000000 Hz";

/// Reads a plain decimal number filling `text` (digits, a point, a sign, an exponent; no
/// "inf", "nan" or hexadecimal), finite. Otherwise nothing.
[[nodiscard]] std::optional<double> parse_plain_decimal(std::string_view text);

/// A tone or step of the waveform test, or the sweep's step, given as `hz` at `rate`: the
/// whole number of internal hertz it stands for. Those tests run on whole internal hertz, so
/// at `rate` the frequencies are whole multiples of rate / 16000; a frequency within a
/// billionth of one is taken as it. Otherwise (or outside the 32-bit range) nothing.
[[nodiscard]] std::optional<std::int32_t> grid_hertz(double hz, double rate) noexcept;

/// Why `hz` at `rate` is not on that grid, naming its spacing and nearest frequencies:
/// "1000 Hz is not a multiple of 3 Hz, the spacing of frequencies at 48000 Hz (nearest: 999
/// or 1002)".
[[nodiscard]] std::string grid_problem(double hz, double rate);

}  // namespace fixfir
