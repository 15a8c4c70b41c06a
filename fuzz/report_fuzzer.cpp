// Fuzzes the report's measurement: a small random filter (1 to 5000 taps, around the
// sweep's 4000-sample run), a random precision, random bands and a coarse sweep go through
// everything behind a report and, for one input in eight, behind a scan (its sweep of
// several precisions alone beyond 64 taps, where a whole scan would take minutes here).
// Nothing may read or write outside a buffer (the sanitizers and the window checks stop
// the run), and what is printed must be sane: a steady state that cannot be measured says
// why instead of a figure, no figure reads "nan" where a reason belongs, and none of a
// filter whose every coefficient is 0 reads "nan" where "silent" belongs.
// The same taps also run on a datapath drawn from the option bytes, against exact sums, and
// through the streams in pieces drawn from the tap bytes, against the whole run.
//
// Input, byte by byte (missing bytes read as 0):
//   0      flags: bits 0-1 the taps' shape (raw, mirrored raw, windowed low-pass, constant),
//          bit 2 two threads, bit 3 bands given, bits 4-6 all zero: a scan as well, bit 7
//          up to 5000 taps (else up to 300, which run faster)
//   1-2    tap count - 1, modulo 5000 or 300 (big-endian)
//   3      precision + 2, modulo 36 (-2 to 33)
//   4      sweep step: 500 + 30 × byte Hz (at most 17 swept frequencies)
//   5-6    waveform tones: from 32 × byte 5 Hz, 100 + 30 × byte 6 Hz apart, to 8000 Hz
//   7-10   bands: pass band and stop band edges, 32 × byte Hz each
//   11     tap magnitude: 2^-(byte mod 24); 255 gives taps near the float limit
//   12-    tap values, 16-bit big-endian over 32768, repeated as far as the count goes

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <string>
#include <variant>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/datapath_stream.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/engine/fir_stream.h"
#include "fixfir/measurement/hardware_facts.h"
#include "fixfir/measurement/measurement.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/summary_text.h"
#include "fixfir/measurement/wrap_checks.h"

namespace {

constexpr std::size_t most_taps = 5000;

[[noreturn]] void insane(const char* what, const std::string& detail) {
  std::fprintf(stderr, "report fuzzer: %s: %s\n", what, detail.c_str());
  std::abort();
}

struct input_bytes {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t at(std::size_t i) const { return i < size ? data[i] : 0; }
};

std::vector<float> make_taps(const input_bytes& in, std::size_t count) {
  const std::uint8_t shape = in.at(0) & 3U;
  const std::uint8_t magnitude = in.at(11);
  const double scale = magnitude == 255 ? 3.4e38 : std::ldexp(1.0, -(magnitude % 24));
  std::vector<float> taps(count);
  const std::size_t raw = in.size > 12 ? (in.size - 12) / 2 : 0;
  auto value = [&](std::size_t k) {
    if (raw == 0) return 1.0;
    const std::size_t i = 12 + 2 * (k % raw);
    const auto v =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(in.at(i) << 8U | in.at(i + 1)));
    return static_cast<double>(v) / 32768.0;
  };
  const double pi = std::numbers::pi;
  const double centre = static_cast<double>(count - 1) / 2.0;
  const double cut_off = (1.0 + static_cast<double>(in.at(12))) / 512.0;  // of the sample rate
  for (std::size_t k = 0; k < count; ++k) {
    double t = 0.0;
    switch (shape) {
      case 0:
        t = value(k);
        break;
      case 1:  // linear phase: the kernels fold mirrored pairs
        t = value(std::min(k, count - 1 - k));
        break;
      case 2: {
        const double x = static_cast<double>(k) - centre;
        const double sinc = x == 0.0 ? 1.0 : std::sin(2 * pi * cut_off * x) / (pi * x);
        const double window = count > 1 ? 0.54 - 0.46 * std::cos(2 * pi * static_cast<double>(k) /
                                                                 static_cast<double>(count - 1))
                                        : 1.0;
        t = (count > 1 ? sinc : 1.0) * window;
        break;
      }
      default:
        t = 1.0 / static_cast<double>(count);
        break;
    }
    const double largest = std::numeric_limits<float>::max();
    taps[k] = static_cast<float>(std::clamp(t * scale, -largest, largest));
  }
  return taps;
}

fixfir::band edges(const input_bytes& in, std::size_t i) {
  const double a = std::min(32.0 * in.at(i), 8000.0);
  const double b = std::min(32.0 * in.at(i + 1), 8000.0);
  return {std::min(a, b), std::max(a, b)};
}

bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

// The steady-state lines say why they have no figure, and only then.
void check_steady_lines(const std::vector<std::string>& lines, const std::string& absent) {
  for (const std::string& line : lines) {
    if (contains(line, "\n")) insane("a line break inside a line", line);
    if (contains(line, "-nan")) insane("a signed nan", line);
    if (!contains(line, "(fixed point, steady state): ")) continue;
    if (contains(line, "no passband") || contains(line, "no stopband")) continue;
    const bool says_absent = contains(line, "not reached") || contains(line, "not measured");
    if (says_absent == absent.empty())
      insane("the steady state's absence and its line disagree", line);
    if (!absent.empty() && !contains(line, absent)) insane("no reason on the line", line);
  }
}

// The hardware facts of any taps: a folded structure never needs more multipliers than
// taps, growth is never negative, and their lines hold no line break or signed nan.
void check_hardware_facts(const std::vector<float>& taps) {
  const fixfir::hardware_facts f = fixfir::hardware_facts_of(taps);
  if (f.multipliers < 0 || static_cast<std::size_t>(f.multipliers) > taps.size())
    insane("more multipliers than taps", std::to_string(f.multipliers));
  if (f.growth_bits < 0) insane("negative growth", std::to_string(f.growth_bits));
  for (const std::string& line : fixfir::hardware_fact_lines(f, taps.size())) {
    if (contains(line, "\n")) insane("a line break inside a line", line);
    if (contains(line, "-nan")) insane("a signed nan", line);
  }
}

void report(const std::vector<float>& taps, const fixfir::report_request& o) {
  check_hardware_facts(taps);
  fixfir::precision_report r;
  if (const fixfir::outcome done = fixfir::run_precision_report(taps, o, r); !done) {
    const std::string& message = done.failure().message;
    if (message.empty() || contains(message, "\n")) insane("a failure without one line", message);
    return;
  }
  const std::string absent = fixfir::steady_absence(taps.size(), fixfir::SWEEP_SAMPLES);
  if (r.figures.steady_absent != absent) insane("the report's reason", r.figures.steady_absent);
  const std::vector<std::string> lines = fixfir::precision_report_lines(r);
  check_steady_lines(lines, absent);
  if (!absent.empty()) {
    for (double v : r.sweeps.runs.at(0).steady)
      if (!std::isnan(v)) insane("a steady state fitted without a fit", absent);
  }
  // Nothing can wrap where every coefficient is 0, and the headroom says so.
  const bool silent = std::all_of(r.fixed.coefficients.begin(), r.fixed.coefficients.end(),
                                  [](std::int32_t c) { return c == 0; });
  const auto* at = std::get_if<fixfir::precision_bounds>(&r.asked);
  if (silent && (r.waveform.wraps != 0 || r.sweeps.runs.at(0).wraps != 0 ||
                 (at != nullptr && at->bound.can_wrap)))
    insane("wraps without a coefficient", std::to_string(r.waveform.wraps));
  for (const std::string& line : lines) {
    if (contains(line, "headroom") && silent != contains(line, "unbounded"))
      insane("the headroom of silent coefficients", line);
    // Coefficients that are all 0 have no level in dB: their responses say so in words.
    for (const char* label :
         {"quantized coefficients", "fixed point, steady state", "sweep, transient included"}) {
      if (silent && (contains(line, std::string("(") + label + "): nan") ||
                     contains(line, std::string("nan dB (") + label)))
        insane("a silent filter's figure reads nan", line);
    }
  }
}

// The scan's sweep, which filters only what each precision's fit needs.
void scan_sweep(const std::vector<float>& taps, const fixfir::report_request& o) {
  const std::int32_t p = std::clamp(o.precision, 0, 30);
  const std::int32_t precisions[] = {0, p, std::min(p + 3, 30), 30};
  fixfir::precision_sweeps sweeps;
  fixfir::result<std::vector<fixfir::fixed_filter>> filters =
      fixfir::precision_filters(taps, precisions);
  if (!filters) insane("the scan's filters could not be made", std::to_string(taps.size()));
  fixfir::sweep_request ask;
  ask.taps = taps;
  ask.step = o.sweep_step;
  ask.threads = o.threads;
  ask.peaks = false;
  if (!fixfir::sweep_filters(filters.value(), ask, sweeps))
    insane("the scan's sweep ran out of memory", std::to_string(taps.size()));
  const bool fits = fixfir::steady_state_reach(taps.size(), fixfir::SWEEP_SAMPLES) ==
                    fixfir::steady_reach::measured;
  for (const fixfir::swept_precision& run : sweeps.runs) {
    for (std::size_t i = 0; i < run.steady.size(); ++i) {
      const double v = run.steady[i];
      if (!fits && !std::isnan(v)) insane("a steady state fitted without a fit", "");
      // 8000 Hz is sampled at its zero crossings: no fit there.
      if (fits && !(v >= 0.0) && sweeps.frequency.at(i) != fixfir::SWEEP_LAST_FREQUENCY)
        insane("a fit that is not a level", std::to_string(sweeps.frequency.at(i)));
    }
  }
}

void scan(const std::vector<float>& taps, const fixfir::report_request& o) {
  if (taps.size() > 64) return scan_sweep(taps, o);
  fixfir::scan_report r;
  const double none = std::numeric_limits<double>::quiet_NaN();
  if (const fixfir::outcome done = fixfir::run_scan(taps, o, {none, none, none}, r); !done) {
    const std::string& message = done.failure().message;
    if (message.empty() || contains(message, "\n")) insane("a failure without one line", message);
    return;
  }
  if (r.rows.size() != 31) insane("rows", std::to_string(r.rows.size()));
  const std::string absent = fixfir::steady_absence(taps.size(), fixfir::SWEEP_SAMPLES);
  if (r.steady_absent != absent) insane("the scan's reason", r.steady_absent);
  const std::vector<std::string> lines = fixfir::scan_lines(r);
  if (!absent.empty() && !contains(lines.at(1), absent))
    insane("targets without the reason", lines.at(1));
  for (const std::string& line : lines) {
    if (contains(line, "\n") || contains(line, "-nan")) insane("a malformed line", line);
  }
  if (r.choice.precision) {
    const fixfir::precision_row& row = r.rows.at(static_cast<std::size_t>(*r.choice.precision));
    if (row.waveform_wraps != 0 || row.sweep_wraps != 0)
      insane("a wrapping choice", r.choice.reason);
  }
}

// Piece k of a signal fed to a stream: 0 to 2 × taps + 1 samples, drawn from the tap bytes;
// every eighth piece has at least one, so that the signal always comes to its end.
std::size_t piece_size(const input_bytes& in, std::size_t k, std::size_t taps) {
  const std::size_t i = 12 + 2 * (k % 8);
  const std::size_t drawn = static_cast<std::size_t>(in.at(i) << 8U | in.at(i + 1));
  return drawn % (2 * taps + 2) + (k % 8 == 7 ? 1 : 0);
}

// `f` streamed over `x` in pieces (empty ones, single samples, fewer and more than the taps)
// gives `run`'s accumulators and counts, and counting the samples alone the same
// accumulators; on the seed's datapath, so does the 32-bit stream.
void streamed_check(const fixfir::fixed_filter& f, const std::vector<double>& x,
                    const fixfir::datapath_run& run, const input_bytes& in, unsigned threads) {
  const std::size_t taps = f.coefficients.size();
  for (const auto counting :
       {fixfir::overflow_counting::all, fixfir::overflow_counting::samples_only}) {
    const bool all = counting == fixfir::overflow_counting::all;
    auto s = fixfir::make_datapath_stream(f, counting);
    if (!s.ok()) insane("datapath stream", s.failure().message);
    std::vector<std::int64_t> acc(x.size());
    fixfir::datapath_stream_counts total;
    for (std::size_t at = 0, k = 0; at < x.size(); ++k) {
      const std::size_t n = std::min(piece_size(in, k, taps), x.size() - at);
      const auto c = fixfir::datapath_stream_filter(
          s.value(), fixfir::contiguous_samples(x.data() + at, n), acc.data() + at, threads);
      if (!c.ok()) insane("datapath stream", c.failure().message);
      total.sample_overflows += c.value().sample_overflows;
      total.accumulator_overflows += c.value().accumulator_overflows;
      at += n;
    }
    if (acc != run.accumulators || total.sample_overflows != run.sample_overflows ||
        total.accumulator_overflows != (all ? run.accumulator_overflows : 0))
      insane("datapath stream in pieces", fixfir::datapath_words(f.path));
  }
  if (!fixfir::is_precision_datapath_in_range(f.path)) return;
  fixfir::fir_stream seed;
  if (!fixfir::stream_init(seed, fixfir::engine_filter(f)).ok()) insane("stream", "out of memory");
  std::vector<std::int32_t> acc32(x.size());
  for (std::size_t at = 0, k = 0; at < x.size(); ++k) {
    const std::size_t n = std::min(piece_size(in, k, taps), x.size() - at);
    if (!fixfir::stream_filter(seed, fixfir::contiguous_samples(x.data() + at, n),
                               acc32.data() + at, threads)
             .ok())
      insane("stream", "failed");
    at += n;
  }
  if (!std::equal(acc32.begin(), acc32.end(), run.accumulators.begin()))
    insane("32-bit stream in pieces", fixfir::datapath_words(f.path));
}

// The same taps on a datapath drawn from the option bytes (words of 2 to 32 bits, every
// rounding and overflow, an accumulator of 8 to 64 bits), run over a sine that reaches
// exactly ±1 and checked against sums exact in 128 bits: each accumulator, output and count.
void datapath_check(const std::vector<float>& taps, const input_bytes& in, unsigned threads) {
  __extension__ using i128 = __int128;
  fixfir::datapath d;
  const auto rounding = static_cast<fixfir::rounding_mode>(in.at(5) % 3);
  const auto overflow = static_cast<fixfir::overflow_mode>(in.at(6) & 1U);
  d.coefficient.bits = 2 + in.at(3) % 31;
  // One fraction bit past the largest that fits, now and then: a tap overflows.
  d.coefficient.fraction_bits = std::clamp(
      fixfir::largest_fitting_fraction(taps, d.coefficient.bits, rounding) + in.at(4) % 2,
      fixfir::FRACTION_BITS_MIN, fixfir::FRACTION_BITS_MAX);
  d.coefficient.rounding = d.sample.rounding = rounding;
  d.coefficient.overflow = d.sample.overflow = overflow;
  d.sample.bits = 2 + in.at(7) % 31;
  d.sample.fraction_bits = d.sample.bits - 1 - in.at(8) % 3;
  d.accumulator_bits = 8 + in.at(9) % 57;
  d.accumulator_overflow = static_cast<fixfir::overflow_mode>(in.at(10) & 1U);
  const auto f = fixfir::make_fixed_filter(taps, d);
  if (!f.ok()) insane("datapath filter", f.failure().message);
  std::vector<double> x(700);
  for (std::size_t n = 0; n < x.size(); ++n) {
    x[n] = n % 16 == 4 ? 1.0 : n % 16 == 12 ? -1.0 : std::sin(std::numbers::pi * double(n) / 8);
  }
  const auto run = fixfir::run_datapath(f.value(), x, threads);
  if (!run.ok()) insane("datapath run", run.failure().message);
  const std::vector<std::int32_t>& c = f.value().coefficients;
  std::vector<std::int64_t> s(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) s[n] = fixfir::quantize_word(x[n], d.sample).value;
  const i128 lo = -(i128{1} << (d.accumulator_bits - 1));
  const i128 hi = (i128{1} << (d.accumulator_bits - 1)) - 1;
  std::size_t overflows = 0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    i128 sum = 0;
    for (std::size_t j = 0; j < c.size() && j <= n; ++j) sum += i128{c[j]} * s[n - j];
    if (sum < lo || sum > hi) {
      ++overflows;
      if (d.accumulator_overflow == fixfir::overflow_mode::saturate) {
        sum = sum < 0 ? lo : hi;
      } else {
        const i128 m = hi - lo + 1;
        sum = ((sum % m) + m) % m;
        if (sum > hi) sum -= m;
      }
    }
    const std::int64_t a = run.value().accumulators[n];
    if (a != sum) insane("datapath accumulator", fixfir::datapath_words(d));
    const int unit = -(d.coefficient.fraction_bits + d.sample.fraction_bits);
    if (run.value().output[n] != std::ldexp(static_cast<double>(a), unit))
      insane("datapath output", fixfir::datapath_words(d));
  }
  if (run.value().accumulator_overflows != overflows)
    insane("datapath overflow count", fixfir::datapath_words(d));
  streamed_check(f.value(), x, run.value(), in, threads);
  // The seed's datapath at the summary's precision, where it has one.
  const std::int32_t precision = static_cast<std::int32_t>(in.at(3) % 36) - 2;
  if (precision < 0 || precision > 30) return;
  const auto seed = fixfir::make_fixed_filter(taps, fixfir::precision_datapath(precision));
  if (!seed.ok()) insane("seed filter", seed.failure().message);
  const auto seed_run = fixfir::run_datapath(seed.value(), x, threads);
  if (!seed_run.ok()) insane("seed run", seed_run.failure().message);
  streamed_check(seed.value(), x, seed_run.value(), in, threads);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const input_bytes in{data, size};
  const std::size_t count_bytes = static_cast<std::size_t>(in.at(1) << 8U | in.at(2));
  const std::size_t count = 1 + count_bytes % ((in.at(0) & 0x80U) != 0 ? most_taps : 300);
  const std::vector<float> taps = make_taps(in, count);

  fixfir::report_request o;
  o.precision = static_cast<std::int32_t>(in.at(3) % 36) - 2;
  o.sweep_step = 500 + 30 * in.at(4);
  o.tones = {32 * in.at(5), 100 + 30 * in.at(6), 8000};
  o.threads = (in.at(0) & 4U) != 0 ? 2 : 1;
  if ((in.at(0) & 8U) != 0) {
    o.given.passbands = {edges(in, 7)};
    o.given.stopbands = {edges(in, 9)};
    o.given.passbands_given = o.given.stopbands_given = true;
  }
  datapath_check(taps, in, o.threads);
  report(taps, o);
  if ((in.at(0) & 0x70U) == 0) scan(taps, o);
  return 0;
}
