#include "report_precision.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "exact_sum.h"
#include "fir_engine.h"
#include "parallel_chunks.h"
#include "quantizer.h"
#include "vector_clones.h"

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// Samples between two questions to `keep_going` in the loops over every tap; when it says
// stop they give up with their failure value, as their results are then thrown away.
constexpr std::size_t polled_samples = 64;
constexpr double two_32 = 4294967296.0;
constexpr double largest_int32 = 2147483647.0;

std::uint64_t magnitude(std::int32_t c) noexcept {
  return c < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(c))
               : static_cast<std::uint64_t>(c);
}

// Σ c[j] · s[n - j] over j ≤ n exactly, modulo 2^64. Callers make sure the true sum
// stays within 64 bits, so that this is the sum itself.
FIXFIR_KERNEL_CLONES std::uint64_t dot_64(const std::int32_t* c, const std::int32_t* newest,
                                          std::size_t count) noexcept {
  std::uint64_t sum = 0;
  for (std::size_t j = 0; j < count; ++j) {
    sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(c[j]) *
                                      static_cast<std::int64_t>(*(newest - j)));
  }
  return sum;
}

bool exact_run_wrapped(const wrap_check& run) noexcept {
  const std::span<const std::int32_t> c = run.coefficients;
  const std::span<const std::int32_t> s = run.samples;
  std::uint64_t coefficient_sum = 0;
  for (std::int32_t v : c) coefficient_sum += magnitude(v);
  std::uint64_t largest_sample = 0;
  const std::size_t first_met = run.from >= c.size() ? run.from - (c.size() - 1) : 0;
  for (std::int32_t v : s.subspan(std::min(first_met, s.size())))
    largest_sample = std::max(largest_sample, magnitude(v));
  const bool fits_64 =
      largest_sample == 0 || coefficient_sum <= (std::uint64_t{1} << 63) / largest_sample - 1;
  for (std::size_t n = run.from; n < s.size(); ++n) {
    const std::size_t met = std::min(c.size(), n + 1);
    if (fits_64) {
      const std::uint64_t sum = dot_64(c.data(), s.data() + n, met);
      if (sum != static_cast<std::uint64_t>(static_cast<std::int64_t>(run.accumulators[n])))
        return true;
    } else {
      wide_sum sum;
      for (std::size_t j = 0; j < met; ++j)
        add_product(sum, static_cast<std::int64_t>(c[j]) * s[n - j]);
      if (!equals_int32(sum, run.accumulators[n])) return true;
    }
  }
  return false;
}

double mean_square(std::span<const double> v) noexcept {
  double sum = 0.0;
  for (double x : v) sum += x * x;
  return v.empty() ? not_a_number : sum / static_cast<double>(v.size());
}

double mean_square_difference(std::span<const double> a, std::span<const double> b) noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return n == 0 ? not_a_number : sum / static_cast<double>(n);
}

std::string decibels(double v, const char* format = "%.2f dB") {
  if (std::isnan(v)) return "nan dB";
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// The attenuation and ripple a row is judged on: its steady state's, or its quantized
// coefficients' where the steady state was not measured.
bool steady_measured(const precision_row& row) noexcept {
  return row.steady == steady_reach::measured;
}
double judged_attenuation(const precision_row& row) noexcept {
  return steady_measured(row) ? row.fixed_attenuation_db : row.coefficient_attenuation_db;
}
double judged_ripple(const precision_row& row) noexcept {
  return steady_measured(row) ? row.fixed_ripple_db : row.coefficient_ripple_db;
}

// What keeps `row` from being chosen, "" when nothing does.
std::string shortfalls(const precision_row& row, const precision_targets& t) {
  std::string why;
  auto add = [&why](const std::string& s) { why += (why.empty() ? "" : ", ") + s; };
  if (row.waveform_wraps > 0)
    add("the waveform test wraps (" + std::to_string(row.waveform_wraps) + " samples)");
  if (row.sweep_wraps > 0)
    add("the sweep wraps (" + std::to_string(row.sweep_wraps) + " frequencies)");
  // A swept frequency whose fit wraps wraps the sweep too, so only the fits at band edges
  // and lobe tops are left to say.
  if (row.sweep_wraps == 0 && steady_measured(row) && row.attenuation_wraps > 0)
    add("the steady state at band edges and lobe tops wraps (" +
        std::to_string(row.attenuation_wraps) + " frequencies)");
  if (!std::isnan(t.min_attenuation_db) && !(judged_attenuation(row) >= t.min_attenuation_db))
    add("attenuation " + decibels(judged_attenuation(row)) + " < " +
        decibels(t.min_attenuation_db) +
        (steady_measured(row) ? wrap_note(row.attenuation_wraps, row.attenuation_frequencies)
                              : std::string()));
  if (!std::isnan(t.max_ripple_db) && !(judged_ripple(row) <= t.max_ripple_db))
    add("ripple " + decibels(judged_ripple(row), "%.4f dB") + " > " +
        decibels(t.max_ripple_db, "%.4f dB") +
        (steady_measured(row) ? wrap_note(row.ripple_wraps, row.ripple_frequencies)
                              : std::string()));
  if (!std::isnan(t.min_snr_db) && !(row.snr_db >= t.min_snr_db))
    add("SNR " + decibels(row.snr_db) + " < " + decibels(t.min_snr_db));
  return why;
}

std::string targets_text(const precision_targets& t, steady_reach reach) {
  std::string text;
  auto add = [&text](const std::string& s) { text += (text.empty() ? "" : ", ") + s; };
  if (!std::isnan(t.min_attenuation_db)) add("attenuation >= " + decibels(t.min_attenuation_db));
  if (!std::isnan(t.max_ripple_db)) add("ripple <= " + decibels(t.max_ripple_db, "%.4f dB"));
  if (!text.empty() && reach != steady_reach::measured) {
    text += std::string(" of the quantized coefficients (the fixed-point steady state is ") +
            steady_absence_word(reach) + ")";
  }
  if (!std::isnan(t.min_snr_db)) add("SNR >= " + decibels(t.min_snr_db));
  add("no wrap");
  return text;
}

}  // namespace

std::string wrap_note(std::int64_t wraps, std::int64_t frequencies) {
  if (wraps == 0) return {};
  return " (accumulator wraps at " + std::to_string(wraps) + " of the " +
         std::to_string(frequencies) + " frequencies measured)";
}

wrap_bound wrap_bound_at(std::span<const float> taps, std::int32_t precision) noexcept {
  wrap_bound b;
  b.precision = precision;
  // A tap whose scaled value does not fit 32 bits wraps when it is converted (4.0 at
  // precision 30 becomes 0), so the bound sums the values the taps truncate to, not the
  // wrapped coefficients: a filter whose coefficients wrapped is never called wrap-free.
  const double scale = std::ldexp(1.0, precision);
  double sum = 0.0;
  bool coefficients_wrap = false;
  for (const float& tap : taps) {
    const double truncated = std::trunc(scale * static_cast<double>(tap));  // exact
    if (std::isfinite(truncated)) {
      sum += std::fabs(truncated);
      coefficients_wrap = coefficients_wrap || std::fabs(truncated) > largest_int32 + 1.0;
    } else {
      std::int32_t c = 0;
      quantize_taps(precision, 1, &tap, &c);
      sum += static_cast<double>(magnitude(c));
    }
  }
  // Exact below 2^53; beyond that it is far past every limit anyway.
  b.coefficient_sum =
      sum < 0x1p63 ? static_cast<std::uint64_t>(sum) : std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t limit =
      precision >= 0 && precision < 31 ? (std::uint64_t{0x7FFFFFFF} >> precision) : 0;
  b.wrap_free = !coefficients_wrap && b.coefficient_sum <= limit;

  // The coefficients the run uses, a block at a time through the quantizer itself. Each
  // is at most 2^31 in magnitude, so the sum fits 64 bits for any count below 2^32.
  std::int32_t used[256];
  std::int32_t used_scale = 0;
  for (std::size_t at = 0; at < taps.size(); at += std::size(used)) {
    const std::size_t n = std::min(std::size(used), taps.size() - at);
    used_scale = quantize_taps(precision, static_cast<std::int32_t>(n), taps.data() + at, used);
    for (std::size_t j = 0; j < n; ++j) b.used_coefficient_sum += magnitude(used[j]);
  }
  const std::uint64_t largest_sample = magnitude(used_scale);  // |trunc(scale · x)| for |x| ≤ 1
  b.can_wrap = largest_sample > 0 && b.used_coefficient_sum > 0x7FFFFFFF / largest_sample;
  b.headroom_bits = b.used_coefficient_sum == 0 || largest_sample == 0
                        ? std::numeric_limits<double>::infinity()
                        : std::log2(largest_int32) -
                              std::log2(static_cast<double>(b.used_coefficient_sum)) -
                              std::log2(static_cast<double>(largest_sample));
  return b;
}

std::int32_t largest_wrap_free_precision(std::span<const float> taps) noexcept {
  std::int32_t best = -1;
  for (std::int32_t p = LOWEST_PRECISION; p <= HIGHEST_PRECISION; ++p) {
    if (wrap_bound_at(taps, p).wrap_free) best = p;
  }
  return best;
}

bool run_wrapped(const wrap_check& run) noexcept {
  const std::size_t n = std::min(run.samples.size(), run.accumulators.size());
  const std::size_t count = run.coefficients.size();
  if (n == 0 || count == 0) return false;
  if (run.reference.size() >= n && run.taps.size() == count && run.scale > 0.0 &&
      run.scale <= 1073741824.0) {
    double coefficient_sum = 0.0;
    double taps_sum = 0.0;
    double coefficient_error = 0.0;
    for (std::size_t j = 0; j < count; ++j) {
      const double c = static_cast<double>(run.coefficients[j]);
      const double tap = static_cast<double>(run.taps[j]);
      coefficient_sum += std::fabs(c);
      taps_sum += std::fabs(tap);
      coefficient_error = std::max(coefficient_error, std::fabs(c - run.scale * tap));
    }
    const double taps = static_cast<double>(count);
    const double scale2 = run.scale * run.scale;
    const double bound = coefficient_sum + run.scale * taps * coefficient_error +
                         scale2 * taps * taps_sum * std::ldexp(1.0, -50);
    if (bound < 1073741824.0) {
      for (std::size_t i = run.from; i < n; ++i) {
        const double difference =
            scale2 * run.reference[i] - static_cast<double>(run.accumulators[i]);
        if (std::nearbyint(difference / two_32) != 0.0) return true;
      }
      return false;
    }
  }
  return exact_run_wrapped({run.coefficients,
                            run.samples.first(n),
                            run.accumulators.first(n),
                            {},
                            {},
                            run.scale,
                            run.from});
}

wrap_verdict verdict_from_lower(std::int64_t largest_sum_at_p0, std::uint64_t coefficient_sum_at_p0,
                                std::size_t taps, std::int32_t p0, std::int32_t p) noexcept {
  if (p0 < 0 || p < p0 || largest_sum_at_p0 < 0) return wrap_verdict::unknown;
  const double growth = std::ldexp(1.0, 2 * (p - p0));
  const double spread = growth * (static_cast<double>(coefficient_sum_at_p0) +
                                  static_cast<double>(taps) * (std::ldexp(1.0, p0) + 1.0));
  const double centre = growth * static_cast<double>(largest_sum_at_p0);
  // A hair of slack for the rounding of these doubles.
  const double slack = 1e-12 * (centre + spread);
  if (centre + spread + slack <= largest_int32) return wrap_verdict::none;
  if (centre - spread - slack > largest_int32 + 1.0) return wrap_verdict::wraps;
  return wrap_verdict::unknown;
}

std::size_t steady_fit_start(std::size_t taps, std::size_t samples) noexcept {
  const std::size_t full = taps > 0 ? taps - 1 : 0;
  return samples > STEADY_FIT_SAMPLES ? std::max(full, samples - STEADY_FIT_SAMPLES) : full;
}

steady_reach steady_state_reach(std::size_t taps, std::size_t samples) noexcept {
  const std::size_t history = taps > 0 ? taps - 1 : 0;
  if (history >= samples) return steady_reach::not_reached;
  if (samples - history < STEADY_FIT_MINIMUM) return steady_reach::too_short;
  return steady_reach::measured;
}

std::string steady_absence(std::size_t taps, std::size_t samples) {
  const std::string run = "the " + std::to_string(samples) + "-sample run";
  switch (steady_state_reach(taps, samples)) {
    case steady_reach::measured:
      break;
    case steady_reach::not_reached:
      return "not reached: the filter is longer than " + run;
    case steady_reach::too_short:
      return "not measured: the filter's " + std::to_string(taps - 1) + "-sample history leaves " +
             std::to_string(samples - (taps - 1)) + " of " + run +
             " for the fit, which needs at least " + std::to_string(STEADY_FIT_MINIMUM);
  }
  return "";
}

const char* steady_absence_word(steady_reach reach) noexcept {
  switch (reach) {
    case steady_reach::measured:
      break;
    case steady_reach::not_reached:
      return "not reached";
    case steady_reach::too_short:
      return "not measured";
  }
  return "";
}

bool make_sine_basis(double frequency, std::size_t samples, sine_basis& basis,
                     std::size_t from) noexcept {
  try {
    basis.frequency = frequency;
    basis.sine.resize(samples);
    basis.cosine.resize(samples);
    const double f = frequency;
    double t = 0.0;
    for (std::size_t n = 0; n < samples; ++n) {
      const double argument = (f * t) * TWO_PI;
      basis.sine[n] = n >= from ? std::sin(argument) : 0.0;
      basis.cosine[n] = n >= from ? std::cos(argument) : 0.0;
      t = t + SAMPLE_INTERVAL;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

template <typename T>
double fit(const sine_basis& basis, std::span<const T> output, std::size_t first) noexcept {
  const std::size_t n = std::min({output.size(), basis.sine.size(), basis.cosine.size()});
  if (first >= n || n - first < 3) return not_a_number;
  double ss = 0.0;
  double cc = 0.0;
  double sc = 0.0;
  double ys = 0.0;
  double yc = 0.0;
  for (std::size_t i = first; i < n; ++i) {
    const double s = basis.sine[i];
    const double c = basis.cosine[i];
    const auto y = static_cast<double>(output[i]);
    ss += s * s;
    cc += c * c;
    sc += s * c;
    ys += y * s;
    yc += y * c;
  }
  const double m = static_cast<double>(n - first);
  const double det = ss * cc - sc * sc;
  // Each sum is at most m; a determinant this small means the two do not span a sine
  // (8000 Hz sampled at its zero crossings).
  if (!(det > 1e-6 * m * m)) return not_a_number;
  const double a = (ys * cc - yc * sc) / det;
  const double b = (yc * ss - ys * sc) / det;
  return std::hypot(a, b);
}

}  // namespace

double fitted_amplitude(const sine_basis& basis, std::span<const double> output,
                        std::size_t first) noexcept {
  return fit(basis, output, first);
}

double fitted_amplitude(const sine_basis& basis, std::span<const std::int32_t> accumulators,
                        std::size_t first, double scale) noexcept {
  return fit(basis, accumulators, first) / (scale * scale);
}

bool run_coefficient_model(std::span<const std::int32_t> coefficients, double scale,
                           std::span<const double> input, std::vector<double>& output) noexcept {
  try {
    std::vector<double> h(coefficients.size());
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
    output.assign(input.size(), 0.0);
    for (std::size_t n = 0; n < input.size(); ++n) {
      if (n % polled_samples == 0 && !keep_going()) return false;
      const std::size_t met = std::min(h.size(), n + 1);
      double y = 0.0;
      for (std::size_t j = 0; j < met; ++j) y += h[j] * input[n - j];
      output[n] = y;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

double predicted_truncation_power(std::span<const std::int32_t> coefficients, double scale,
                                  std::span<const double> input) noexcept {
  if (input.empty()) return not_a_number;
  const double q = 1.0 / scale;
  double total = 0.0;
  for (std::size_t n = 0; n < input.size(); ++n) {
    if (n % polled_samples == 0 && !keep_going()) return not_a_number;
    const std::size_t met = std::min(coefficients.size(), n + 1);
    double mean = 0.0;
    double variance = 0.0;
    for (std::size_t j = 0; j < met; ++j) {
      const double x = input[n - j];
      if (x == 0.0) continue;
      const double h = static_cast<double>(coefficients[j]) * q;
      mean += h * (x > 0.0 ? -q / 2.0 : q / 2.0);
      variance += h * h;
    }
    total += mean * mean + variance * q * q / 12.0;
  }
  return total / static_cast<double>(input.size());
}

double truncation_model(std::span<const std::int32_t> coefficients, double scale,
                        std::span<const double> input, std::vector<double>& mean) noexcept {
  try {
    const double q = 1.0 / scale;
    mean.assign(input.size(), 0.0);
    std::size_t nonzero = 0;
    for (std::size_t n = 0; n < input.size(); ++n) {
      if (n % polled_samples == 0 && !keep_going()) return not_a_number;
      if (input[n] != 0.0) ++nonzero;
      const std::size_t met = std::min(coefficients.size(), n + 1);
      double m = 0.0;
      for (std::size_t j = 0; j < met; ++j) {
        const double x = input[n - j];
        if (x == 0.0) continue;
        m += static_cast<double>(coefficients[j]) * q * (x > 0.0 ? -q / 2.0 : q / 2.0);
      }
      mean[n] = m;
    }
    if (input.empty()) return 0.0;
    return q * q / 12.0 * static_cast<double>(nonzero) / static_cast<double>(input.size());
  } catch (const std::bad_alloc&) {
    return not_a_number;
  }
}

double power_ratio_db(double signal_power, double error_power) noexcept {
  if (std::isnan(signal_power) || std::isnan(error_power) || signal_power == 0.0)
    return not_a_number;
  if (error_power == 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal_power / error_power);
}

error_split split_error(std::span<const double> reference,
                        std::span<const double> coefficient_model, std::span<const double> fixed,
                        double predicted_power) noexcept {
  error_split split;
  const double signal = mean_square(reference);
  split.arithmetic_power = mean_square_difference(fixed, coefficient_model);
  split.predicted_arithmetic_power = predicted_power;
  split.coefficient_db =
      power_ratio_db(signal, mean_square_difference(coefficient_model, reference));
  split.arithmetic_db = power_ratio_db(signal, split.arithmetic_power);
  split.predicted_arithmetic_db = power_ratio_db(signal, predicted_power);
  return split;
}

recommendation recommend_precision(std::span<const precision_row> rows,
                                   const precision_targets& targets) {
  recommendation r;
  const precision_row* highest_unwrapped = nullptr;
  for (const precision_row& row : rows) {
    if (row.waveform_wraps == 0 && row.sweep_wraps == 0 &&
        !(steady_measured(row) && row.attenuation_wraps > 0))
      highest_unwrapped = &row;
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!shortfalls(rows[i], targets).empty()) continue;
    r.precision = rows[i].precision;
    r.reason = "the smallest precision with " + targets_text(targets, rows[i].steady);
    if (!rows[i].wrap_free) r.reason += " in the tests (other inputs can wrap it)";
    if (i > 0) {
      r.reason +=
          "; at " + std::to_string(rows[i - 1].precision) + ": " + shortfalls(rows[i - 1], targets);
    }
    return r;
  }
  if (rows.empty()) {
    r.reason = "no precision was measured";
  } else if (highest_unwrapped == nullptr) {
    r.reason = "every precision wraps";
  } else {
    r.reason = "no precision has " + targets_text(targets, highest_unwrapped->steady) + "; at " +
               std::to_string(highest_unwrapped->precision) +
               ", the highest without wraps: " + shortfalls(*highest_unwrapped, targets);
  }
  return r;
}

}  // namespace fixfir
