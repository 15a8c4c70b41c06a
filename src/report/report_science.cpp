#include "report_science.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "checks.h"
#include "fast_kernel.h"
#include "fir_engine.h"
#include "frequency_sweep.h"
#include "guarded_sine.h"
#include "parallel_chunks.h"
#include "quantizer.h"
#include "report_model.h"

namespace fixfir {

namespace {

// Frequencies handed to a worker at a time.
constexpr std::int32_t frequencies_per_chunk = 8;

std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

std::string format(const char* f, double v) {
  if (std::isnan(v)) return "nan";  // never "-nan"
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

std::string hertz_range(const band& b) { return band_text(b); }

std::string band_list(const std::vector<band>& bands) {
  if (bands.empty()) return "none";
  std::string text;
  for (const band& b : bands) text += (text.empty() ? "" : ", ") + hertz_range(b);
  return text;
}

std::string ripple_text(double v) { return format("%.4f", v) + " dB"; }

// Which samples and outputs a sweep run of `taps` taps computes: every output for its peak,
// or only the steady-state fit's, from a whole block on, and the samples those meet. A
// filter whose steady state is not measured has no fit: its fit starts at the end of the
// run, and without peaks nothing is computed (both windows are empty).
struct run_window {
  std::size_t samples = 0;
  std::size_t met = 0;  // taps that meet a sample
  steady_reach reach = steady_reach::measured;
  std::size_t fit_start = 0;  // == samples when there is no fit
  std::size_t outputs = 0;    // samples rounded up to whole blocks
  std::size_t first_output = 0;
  std::size_t first_sample = 0;
};

run_window window_for(std::size_t taps, bool peaks) {
  run_window w;
  w.samples = to_size(SWEEP_SAMPLES);
  w.met = std::min(taps, w.samples);
  w.reach = steady_state_reach(taps, w.samples);
  w.outputs = (w.samples + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
  if (w.reach == steady_reach::measured) {
    w.fit_start = steady_fit_start(taps, w.samples);
    w.first_output = peaks ? 0 : w.fit_start / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
    w.first_sample = w.first_output >= w.met ? w.first_output - (w.met - 1) : 0;
  } else {
    w.fit_start = w.samples;
    w.first_output = peaks ? 0 : w.outputs;
    w.first_sample = peaks ? 0 : w.samples;
  }
  // The fit lies in the run; the outputs computed are whole blocks within the workspace's,
  // and every sample they meet from the first sample filled on.
  FIXFIR_EXPECTS(w.fit_start <= w.samples && w.samples <= w.outputs);
  FIXFIR_EXPECTS(w.first_output <= w.outputs && w.first_output % CONVOLVE_BLOCK == 0);
  FIXFIR_EXPECTS(w.first_sample <= w.samples &&
                 (w.first_output == w.outputs || w.first_sample == 0 ||
                  w.first_sample + (w.met - 1) <= w.first_output));
  FIXFIR_EXPECTS(w.reach != steady_reach::measured || w.first_output <= w.fit_start);
  return w;
}

// A lane's accumulators as the signed values they stand for.
std::span<const std::int32_t> as_signed(const std::uint32_t* v, std::size_t n) {
  // Signed and unsigned forms of one type may alias.
  return {reinterpret_cast<const std::int32_t*>(v), n};
}
std::string attenuation_text(double v) { return format("%.2f", v) + " dB"; }

}  // namespace

bool sweep_precisions(std::span<const float> taps, std::span<const std::int32_t> precisions,
                      std::int32_t step, unsigned threads, bool peaks, precision_sweeps& out,
                      const std::function<void(std::size_t, std::size_t)>& progress) noexcept {
  try {
    threads = std::max(threads, 1U);
    const std::int32_t frequencies = sweep_frequency_count(step);
    const run_window window = window_for(taps.size(), peaks);
    const std::size_t samples = window.samples;
    const std::size_t met = window.met;
    const std::size_t fit_start = window.fit_start;
    const std::size_t outputs = window.outputs;
    const std::size_t first_output = window.first_output;
    const std::size_t first_sample = window.first_sample;
    const bool fits = window.reach == steady_reach::measured;
    const double no_fit = std::numeric_limits<double>::quiet_NaN();
    double largest_tap = 0.0;
    for (float t : taps) largest_tap = std::max(largest_tap, std::fabs(static_cast<double>(t)));

    // A run at the largest wrap-free precision is exact; it tells whether the runs at the
    // higher precisions wrap (see verdict_from_lower), run by run only where it cannot.
    const std::int32_t lower = largest_wrap_free_precision(taps);
    const std::size_t runs = precisions.size();
    struct precision_run {
      std::vector<std::int32_t> coefficients;
      fir_workspace ws;
      bool wrap_free = false;
      bool judged = false;  // verdict_from_lower applies
      bool silent = false;  // all coefficients 0
    };
    std::vector<precision_run> run(runs + 1);  // the last: the lower precision
    out.frequency.resize(to_size(frequencies));
    out.runs.assign(runs, {});
    bool need_lower = false;
    auto prepare = [&](precision_run& r, std::int32_t precision) {
      r.coefficients.resize(taps.size());
      quantized_filter filter;
      filter.count = static_cast<std::int32_t>(taps.size());
      filter.coefficients = r.coefficients.data();
      filter.scale = quantize_taps(precision, filter.count, taps.data(), r.coefficients.data());
      r.wrap_free = wrap_bound_at(taps, precision).wrap_free;
      r.silent = std::all_of(r.coefficients.begin(), r.coefficients.end(),
                             [](std::int32_t c) { return c == 0; });
      r.judged = !r.wrap_free && lower >= 0 && precision > lower &&
                 precision <= HIGHEST_PRECISION &&
                 largest_tap * std::ldexp(1.0, precision) < 2147483648.0;
      return sweep_workspace_init(r.ws, filter, threads);
    };
    for (std::size_t k = 0; k < runs; ++k) {
      if (!prepare(run[k], precisions[k])) return false;
      need_lower = need_lower || run[k].judged;
      swept_precision& r = out.runs[k];
      r.precision = precisions[k];
      r.peak.assign(to_size(frequencies), std::numeric_limits<double>::quiet_NaN());
      r.steady.resize(to_size(frequencies));
      r.wrapped.resize(to_size(frequencies));
    }
    std::uint64_t lower_sum = 0;
    if (need_lower) {
      if (!prepare(run[runs], lower)) return false;
      for (std::int32_t c : std::span(run[runs].coefficients).first(met))
        lower_sum += static_cast<std::uint64_t>(c < 0 ? -static_cast<std::int64_t>(c) : c);
    }

    std::vector<sine_basis> bases(threads);
    for (sine_basis& b : bases) {
      if (!make_sine_basis(0, samples, b, fit_start)) return false;
    }
    const std::int32_t chunks = (frequencies + frequencies_per_chunk - 1) / frequencies_per_chunk;
    auto range = [frequencies](std::size_t chunk) {
      const auto begin = static_cast<std::int32_t>(chunk) * frequencies_per_chunk;
      return std::pair{begin, std::min(begin + frequencies_per_chunk, frequencies)};
    };
    // Fills a lane from sample `from` on and computes its outputs from `output` on.
    auto filter_lane = [&](precision_run& r, unsigned worker, const sine_basis& b, std::size_t from,
                           std::size_t output) {
      // Only the quantized samples are needed: the guarded sines give them without a
      // std::sin call for nearly every sample, and exactly.
      FIXFIR_EXPECTS(from <= samples && samples <= r.ws.samples && output <= outputs &&
                     outputs == r.ws.outputs && (from == 0 || from + (met - 1) <= output));
      const fir_lane lane = workspace_lane(r.ws, worker);
      guarded_sine_samples(b.frequency, r.ws.times.begin() + from, r.ws.scale,
                           lane.quantized + from, samples - from);
      workspace_convolve(r.ws, worker, output, outputs);
      return lane;
    };
    const bool finished = run_chunks_in_order(
        to_size(chunks), threads,
        [&](unsigned worker, std::size_t chunk) {
          sine_basis& b = bases[worker];
          const auto [begin, end] = range(chunk);
          for (std::int32_t i = begin; i < end; ++i) {
            const std::int32_t f = swept_frequency(step, i);
            out.frequency[to_size(i)] = f;
            (void)make_sine_basis(f, samples, b, fit_start);  // sizes kept: cannot fail
            std::int64_t lower_peak = -1;
            if (need_lower) {
              const fir_lane lane = filter_lane(run[runs], worker, b, 0, 0);
              lower_peak = peak_magnitude(lane.accumulators, samples);
            }
            for (std::size_t k = 0; k < runs; ++k) {
              if (!keep_going()) return;  // the run is abandoned
              precision_run& r = run[k];
              swept_precision& result = out.runs[k];
              if (r.silent) {  // every coefficient is 0, and so is every output
                if (peaks) result.peak[to_size(i)] = 0.0;
                result.steady[to_size(i)] = fits ? 0.0 : no_fit;
                result.wrapped[to_size(i)] = 0;
                continue;
              }
              const double scale = r.ws.scale;
              wrap_verdict verdict = r.wrap_free ? wrap_verdict::none : wrap_verdict::unknown;
              if (r.judged)
                verdict = verdict_from_lower(lower_peak, lower_sum, met, lower, precisions[k]);
              const bool whole = peaks || verdict == wrap_verdict::unknown;
              if (!whole && !fits) {  // nothing to fit, and the wraps are known
                result.steady[to_size(i)] = no_fit;
                result.wrapped[to_size(i)] = verdict == wrap_verdict::wraps ? 1 : 0;
                continue;
              }
              const fir_lane lane =
                  filter_lane(r, worker, b, whole ? 0 : first_sample, whole ? 0 : first_output);
              if (peaks) {
                result.peak[to_size(i)] =
                    fir_output(scale, peak_magnitude(lane.accumulators, samples));
              }
              result.steady[to_size(i)] =
                  fits
                      ? fitted_amplitude(b, as_signed(lane.accumulators, samples), fit_start, scale)
                      : no_fit;
              if (verdict == wrap_verdict::unknown) {
                wrap_check check;
                check.coefficients = std::span<const std::int32_t>(r.coefficients).first(met);
                check.samples = as_signed(lane.quantized, samples);
                check.accumulators = as_signed(lane.accumulators, samples);
                check.scale = scale;
                verdict = run_wrapped(check) ? wrap_verdict::wraps : wrap_verdict::none;
              }
              result.wrapped[to_size(i)] = verdict == wrap_verdict::wraps ? 1 : 0;
            }
          }
        },
        [&](std::size_t chunk) {
          if (progress) progress(to_size(range(chunk).second), to_size(frequencies));
          return true;
        });
    if (!finished) return false;
    for (swept_precision& r : out.runs) {
      r.wraps = static_cast<std::int32_t>(std::count(r.wrapped.begin(), r.wrapped.end(), 1));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

response_points sweep_series_points(const precision_sweeps& sweeps,
                                    const std::vector<double>& series) {
  response_points points;
  for (std::size_t i = 0; i < sweeps.frequency.size() && i < series.size(); ++i) {
    if (sweeps.frequency[i] == SWEEP_LAST_FREQUENCY) continue;
    points.frequency.push_back(static_cast<double>(sweeps.frequency[i]));
    points.magnitude.push_back(series[i]);
  }
  return points;
}

bool setup_bands(std::span<const float> taps, const band_plan& given, band_setup& setup,
                 std::string& message) {
  if (!taps_response(taps, setup.response)) {
    message = "out of memory";
    return false;
  }
  band_plan inferred = infer_bands(setup.response);
  // A least-squares design's edges lie outside the bands its response shows.
  if (!given.passbands_given || !given.stopbands_given) refine_least_squares_bands(taps, inferred);
  setup.plan = inferred;
  if (given.passbands_given) {
    setup.plan.passbands = given.passbands;
    setup.plan.passbands_given = true;
  }
  if (given.stopbands_given) {
    setup.plan.stopbands = given.stopbands;
    setup.plan.stopbands_given = true;
  }
  message = band_plan_problem(setup.plan);
  // Inferred bands may be missing (taps that are all zero have no pass band); only bands
  // the user gave can be wrong.
  if (!given.passbands_given && !given.stopbands_given) message.clear();
  return message.empty();
}

bool taps_figures(std::span<const float> taps, const band_setup& setup, band_figures_db& out) {
  const std::vector<double> h(taps.begin(), taps.end());
  response_points points;
  if (!band_points(setup.response, h, setup.plan, points)) return false;
  out = measure_plan(points, setup.plan);
  return true;
}

bool coefficient_figures(std::span<const std::int32_t> coefficients, double scale,
                         const band_plan& plan, dense_response& response, band_figures_db& out) {
  if (!coefficients_response(coefficients, scale, response)) return false;
  std::vector<double> h(coefficients.size());
  for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
  response_points points;
  if (!band_points(response, h, plan, points)) return false;
  out = measure_plan(points, plan);
  return true;
}

bool measure_waveform(const quantized_filter& filter, std::span<const double> input,
                      std::span<const double> reference, bool split, waveform_figures& out) {
  try {
    fixed_run run = run_fixed_model(filter, input);
    out.wraps = run.wraps;
    out.snr_db = snr_db(reference, run.output);
    out.fixed_output = std::move(run.output);
    if (split) {
      const std::span<const std::int32_t> c(filter.coefficients,
                                            static_cast<std::size_t>(std::max(filter.count, 0)));
      const auto scale = static_cast<double>(filter.scale);
      if (!run_coefficient_model(c, scale, input, out.coefficient_output)) return false;
      out.split = split_error(reference, out.coefficient_output, out.fixed_output,
                              predicted_truncation_power(c, scale, input));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool predicted_error_spectrum(std::span<const std::int32_t> coefficients, double scale,
                              std::span<const double> input, std::size_t segment,
                              std::vector<double>& out) {
  std::vector<double> mean;
  const double white = truncation_model(coefficients, scale, input, mean);
  if (std::isnan(white) || !averaged_spectrum(mean, segment, out)) return false;
  std::vector<double> h(coefficients.size());
  for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
  for (std::size_t k = 0; k < out.size(); ++k) {
    if (!keep_going()) return false;  // each point sums over every tap
    const double f = static_cast<double>(k) * 2.0 * NYQUIST_HZ / static_cast<double>(segment);
    const double gain = magnitude_at(h, f);
    out[k] += 2.0 * white * gain * gain / static_cast<double>(segment);
  }
  return true;
}

std::vector<std::string> band_lines(const band_plan& plan) {
  return {std::string("passbands (") +
              (plan.passbands_given ? "given" : "inferred from the unquantized taps") +
              "): " + band_list(plan.passbands),
          std::string("stopbands (") +
              (plan.stopbands_given ? "given" : "inferred from the unquantized taps") +
              "): " + band_list(plan.stopbands)};
}

band_wraps count_band_wraps(std::span<const double> frequency,
                            std::span<const std::uint8_t> wrapped, const band_plan& plan) {
  band_wraps w;
  w.stopband_frequencies.assign(plan.stopbands.size(), 0);
  w.stopband_wrapped.assign(plan.stopbands.size(), 0);
  auto inside = [](const band& b, double f) { return f >= b.low && f <= b.high; };
  // A frequency measured twice (a band edge on the sweep's grid) counts once, as wrapped
  // when either run wrapped.
  std::vector<std::pair<double, bool>> points;
  for (std::size_t i = 0; i < frequency.size(); ++i)
    points.emplace_back(frequency[i], i < wrapped.size() && wrapped[i] != 0);
  std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) {
    return a.first < b.first || (a.first == b.first && a.second > b.second);
  });
  points.erase(std::unique(points.begin(), points.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }),
               points.end());
  for (const auto& [f, any_wrap] : points) {
    const std::int32_t wraps = any_wrap ? 1 : 0;
    if (std::any_of(plan.passbands.begin(), plan.passbands.end(),
                    [&, g = f](const band& b) { return inside(b, g); })) {
      ++w.passband_frequencies;
      w.passband_wrapped += wraps;
    }
    for (std::size_t b = 0; b < plan.stopbands.size(); ++b) {
      if (!inside(plan.stopbands[b], f)) continue;
      ++w.stopband_frequencies[b];
      w.stopband_wrapped[b] += wraps;
    }
  }
  return w;
}

namespace {

// The wrap note of a figure measured over the pass bands and the stop bands `from` to `to`
// (exclusive) of `w`; "" when none wrapped.
std::string band_wrap_note(const band_wraps* w, std::size_t from, std::size_t to) {
  if (w == nullptr) return {};
  std::int64_t measured = w->passband_frequencies;
  std::int64_t wrapped = w->passband_wrapped;
  for (std::size_t b = from; b < to && b < w->stopband_wrapped.size(); ++b) {
    measured += w->stopband_frequencies[b];
    wrapped += w->stopband_wrapped[b];
  }
  return wrap_note(wrapped, measured);
}

}  // namespace

std::vector<std::string> response_lines(const band_plan& plan, const response_figures& fig) {
  struct labelled {
    const char* label;
    const band_figures_db* figures;
    const char* point;  // what a band must hold to be measured
    const band_wraps* wraps;
  };
  const labelled all[] = {
      {"unquantized taps", &fig.taps, "measured frequency", nullptr},
      {"quantized coefficients", &fig.coefficients, "measured frequency", nullptr},
      {"fixed point, steady state", &fig.steady, "measured frequency", &fig.steady_wraps},
      {"sweep, transient included", &fig.sweep, "swept frequency", &fig.sweep_wraps}};
  const std::size_t stops = plan.stopbands.size();
  // A band without a point leaves its figures NaN: say so in words.
  auto stop_measured = [](const band_figures_db& f, std::size_t b) {
    return b < f.stopbands_measured.size() && f.stopbands_measured[b] != 0;
  };
  auto unmeasured = [&](const labelled& l, bool stop) -> std::string {
    const band_figures_db& f = *l.figures;
    if (!f.passbands_measured) return std::string("none, no ") + l.point + " in the pass bands";
    for (std::size_t b = 0; stop && b < plan.stopbands.size(); ++b) {
      if (!stop_measured(f, b)) return std::string("none, no ") + l.point + " in a stop band";
    }
    return {};
  };
  // A steady state that was not measured says why in place of its figures; a band without
  // a point says so too.
  const bool absent = fig.steady_state != steady_reach::measured;
  auto why_not = [&](const labelled& l, double v, bool stop) -> std::string {
    if (absent && l.figures == &fig.steady) return fig.steady_absent;
    return std::isnan(v) ? unmeasured(l, stop) : std::string();
  };
  std::vector<std::string> lines;
  for (const labelled& l : all) {
    const double v = l.figures->ripple_db;
    const std::string why = why_not(l, v, false);
    lines.push_back(std::string("passband ripple (") + l.label + "): " +
                    (plan.passbands.empty() ? std::string("no passband")
                     : why.empty()          ? ripple_text(v) + band_wrap_note(l.wraps, 0, 0)
                                            : why));
  }
  for (const labelled& l : all) {
    const double v = l.figures->worst_attenuation_db;
    const std::string why = why_not(l, v, true);
    lines.push_back(std::string("stopband attenuation (") + l.label + "): " +
                    (plan.stopbands.empty() ? std::string("no stopband")
                     : why.empty() ? attenuation_text(v) + band_wrap_note(l.wraps, 0, stops)
                                   : why));
  }
  if (plan.stopbands.size() > 1) {
    for (std::size_t b = 0; b < plan.stopbands.size(); ++b) {
      std::string line = "stopband " + hertz_range(plan.stopbands[b]) + " attenuation:";
      for (const labelled& l : all) {
        const double a = b < l.figures->attenuation_db.size() ? l.figures->attenuation_db[b] : NAN;
        const bool none =
            std::isnan(a) && (!l.figures->passbands_measured || !stop_measured(*l.figures, b));
        std::string note = band_wrap_note(l.wraps, b, b + 1);
        if (!note.empty()) note = "; " + note.substr(2, note.size() - 3);  // inside the label's
        const std::string figure = absent && l.figures == &fig.steady
                                       ? steady_absence_word(fig.steady_state)
                                   : none ? std::string("none")
                                          : attenuation_text(a);
        line +=
            std::string(" ") + figure + " (" + l.label + note + ")" + (&l == &all[3] ? "" : ",");
      }
      lines.push_back(line);
    }
  }
  return lines;
}

std::vector<std::string> scan_table(std::span<const precision_row> rows) {
  std::vector<std::string> lines;
  lines.push_back(
      "precision  wraps (waveform)  wraps (sweep)  wrap-free  SNR (dB)  "
      "ripple coef. (dB)  atten. coef. (dB)  ripple fixed (dB)  atten. fixed (dB)");
  for (const precision_row& r : rows) {
    const bool fixed = r.steady == steady_reach::measured;
    const std::string absent = steady_absence_word(r.steady);
    char buf[256];
    std::snprintf(buf, sizeof buf, "%9d  %16lld  %13d  %9s  %8s  %17s  %17s  %17s  %17s",
                  r.precision, static_cast<long long>(r.waveform_wraps), r.sweep_wraps,
                  r.wrap_free ? "yes" : "no", format("%.2f", r.snr_db).c_str(),
                  format("%.4f", r.coefficient_ripple_db).c_str(),
                  format("%.2f", r.coefficient_attenuation_db).c_str(),
                  (fixed ? format("%.4f", r.fixed_ripple_db) : absent).c_str(),
                  (fixed ? format("%.2f", r.fixed_attenuation_db) : absent).c_str());
    lines.emplace_back(buf);
  }
  return lines;
}

namespace {

bool quantize_into(std::span<const float> taps, std::int32_t precision,
                   std::vector<std::int32_t>& coefficients, quantized_filter& filter) {
  coefficients.resize(taps.size());
  filter.count = static_cast<std::int32_t>(taps.size());
  filter.coefficients = coefficients.data();
  filter.scale = quantize_taps(precision, filter.count, taps.data(), coefficients.data());
  return true;
}

std::string signed_text(const char* f, double v) { return format(f, v); }

// The points of a series of the sweep, with `extra` points (frequency, level) among them.
response_points merged_points(const precision_sweeps& sweeps, const std::vector<double>& series,
                              std::span<const double> extra_frequency,
                              std::span<const double> extra_level) {
  const response_points swept = sweep_series_points(sweeps, series);
  std::vector<std::pair<double, double>> all;
  for (std::size_t i = 0; i < swept.frequency.size(); ++i)
    all.emplace_back(swept.frequency[i], swept.magnitude[i]);
  for (std::size_t i = 0; i < extra_frequency.size() && i < extra_level.size(); ++i)
    all.emplace_back(extra_frequency[i], extra_level[i]);
  std::sort(all.begin(), all.end());
  response_points points;
  for (const auto& [f, v] : all) {
    points.frequency.push_back(f);
    points.magnitude.push_back(v);
  }
  return points;
}

// The steady state of one precision over the plan: at the swept frequencies and where its
// quantized coefficients' response is worst in each band.
bool steady_figures(const quantized_filter& filter, unsigned threads,
                    const dense_response& coefficients, const band_plan& plan,
                    const precision_sweeps& sweeps, const std::vector<double>& swept_steady,
                    steady_points& extremes, band_figures_db& out) {
  extremes.frequency = band_extremes(coefficients, plan);
  if (!steady_amplitudes(filter, threads, extremes)) return false;
  out =
      measure_plan(merged_points(sweeps, swept_steady, extremes.frequency, extremes.steady), plan);
  return true;
}

// The wraps where one precision's sweep series is measured (8000 Hz is not), and with
// `extremes` also where its steady state is measured besides.
band_wraps measured_wraps(const precision_sweeps& sweeps, const swept_precision& run,
                          const steady_points* extremes, const band_plan& plan) {
  std::vector<double> frequency;
  std::vector<std::uint8_t> wrapped;
  for (std::size_t i = 0; i < sweeps.frequency.size() && i < run.wrapped.size(); ++i) {
    if (sweeps.frequency[i] == SWEEP_LAST_FREQUENCY) continue;
    frequency.push_back(sweeps.frequency[i]);
    wrapped.push_back(run.wrapped[i]);
  }
  if (extremes != nullptr) {
    frequency.insert(frequency.end(), extremes->frequency.begin(), extremes->frequency.end());
    wrapped.insert(wrapped.end(), extremes->wrapped.begin(), extremes->wrapped.end());
  }
  return count_band_wraps(frequency, wrapped, plan);
}

}  // namespace

std::vector<double> band_extremes(const dense_response& coefficients, const band_plan& plan,
                                  std::size_t per_band) {
  const std::vector<double>& m = coefficients.magnitude;
  const double low_limit = SWEEP_FIRST_FREQUENCY;
  const double high_limit = SWEEP_LAST_FREQUENCY - SWEEP_FIRST_FREQUENCY;
  std::vector<double> out;
  auto add = [&](double f) { out.push_back(std::clamp(f, low_limit, high_limit)); };
  auto scan_band = [&](const band& b, bool dips) {
    add(b.low);
    add(b.high);
    if (m.size() < 3 || !(coefficients.spacing > 0.0)) return;
    // Grid points strictly inside the band whose neighbours are both lower (tops) or
    // both higher (dips); a band edge on a slope is covered by the edge itself.
    std::vector<std::pair<double, std::size_t>> tops;
    std::vector<std::pair<double, std::size_t>> bottoms;
    const auto first = static_cast<std::size_t>(std::ceil(b.low / coefficients.spacing));
    for (std::size_t k = std::max<std::size_t>(first, 1); k + 1 < m.size(); ++k) {
      if (static_cast<double>(k) * coefficients.spacing > b.high) break;
      if (m[k] >= m[k - 1] && m[k] >= m[k + 1]) tops.emplace_back(-m[k], k);
      if (dips && m[k] <= m[k - 1] && m[k] <= m[k + 1]) bottoms.emplace_back(m[k], k);
    }
    for (auto* list : {&tops, &bottoms}) {
      const std::size_t keep = std::min(per_band, list->size());
      std::partial_sort(list->begin(), list->begin() + static_cast<std::ptrdiff_t>(keep),
                        list->end());
      for (std::size_t i = 0; i < keep; ++i)
        add(static_cast<double>((*list)[i].second) * coefficients.spacing);
    }
  };
  for (const band& b : plan.passbands) scan_band(b, true);
  for (const band& b : plan.stopbands) scan_band(b, false);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool steady_amplitudes(const quantized_filter& filter, unsigned threads,
                       steady_points& out) noexcept {
  try {
    threads = std::max(threads, 1U);
    const std::span<const double> frequencies = out.frequency;
    const std::span<const std::int32_t> coefficients(filter.coefficients,
                                                     to_size(std::max(filter.count, 0)));
    const run_window w = window_for(coefficients.size(), false);
    out.wrapped.assign(frequencies.size(), 0);
    if (w.reach != steady_reach::measured) {  // no fit: nothing to run
      out.steady.assign(frequencies.size(), std::numeric_limits<double>::quiet_NaN());
      return true;
    }
    out.steady.assign(frequencies.size(), 0.0);
    std::uint64_t coefficient_sum = 0;
    for (std::int32_t c : coefficients)
      coefficient_sum += static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(c)));
    if (coefficient_sum == 0) return true;  // every output is 0
    // Samples are at most the scale in magnitude, so below this no sum can wrap.
    const bool wrap_free =
        filter.scale > 0 &&
        coefficient_sum <= std::uint64_t{0x7FFFFFFF} / static_cast<std::uint64_t>(filter.scale);
    fir_workspace ws;
    if (!sweep_workspace_init(ws, filter, threads)) return false;
    // The fit's run: its samples and whole blocks of outputs within the workspace's.
    FIXFIR_EXPECTS(w.samples == ws.samples && w.outputs == ws.outputs &&
                   w.first_sample < w.samples && w.first_output < w.outputs);
    std::vector<sine_basis> bases(threads);
    for (sine_basis& b : bases) {
      if (!make_sine_basis(0.0, w.samples, b, w.fit_start)) return false;
    }
    return run_chunks_in_order(
        frequencies.size(), threads,
        [&](unsigned worker, std::size_t i) {
          sine_basis& b = bases[worker];
          (void)make_sine_basis(frequencies[i], w.samples, b, w.fit_start);  // sizes kept
          const fir_lane lane = workspace_lane(ws, worker);
          guarded_sine_samples(b.frequency, ws.times.begin() + w.first_sample, ws.scale,
                               lane.quantized + w.first_sample, w.samples - w.first_sample);
          workspace_convolve(ws, worker, w.first_output, w.outputs);
          out.steady[i] =
              fitted_amplitude(b, as_signed(lane.accumulators, w.samples), w.fit_start, ws.scale);
          if (!wrap_free) {
            wrap_check check;
            check.coefficients = coefficients.first(w.met);
            check.samples = as_signed(lane.quantized, w.samples);
            check.accumulators = as_signed(lane.accumulators, w.samples);
            check.scale = ws.scale;
            check.from = w.first_output;
            out.wrapped[i] = run_wrapped(check) ? 1 : 0;
          }
        },
        [](std::size_t) { return true; });
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool run_precision_report(std::span<const float> taps, const science_options& options,
                          precision_report& out, std::string& message) {
  if (!setup_bands(taps, options.given, out.bands, message)) return false;
  message = "out of memory";
  try {
    quantize_into(taps, options.precision, out.coefficients, out.filter);
    const auto scale = static_cast<double>(out.filter.scale);
    if (!taps_figures(taps, out.bands, out.figures.taps)) return false;
    if (!coefficient_figures(out.coefficients, scale, out.bands.plan, out.coefficient_response,
                             out.figures.coefficients))
      return false;
    const std::int32_t precisions[1] = {options.precision};
    if (!sweep_precisions(taps, precisions, options.sweep_step, options.threads, true, out.sweeps,
                          options.progress))
      return false;
    const swept_precision& run = out.sweeps.runs[0];
    if (!steady_figures(out.filter, options.threads, out.coefficient_response, out.bands.plan,
                        out.sweeps, run.steady, out.extremes, out.figures.steady))
      return false;
    out.figures.steady_state = steady_state_reach(taps.size(), to_size(SWEEP_SAMPLES));
    out.figures.steady_absent = steady_absence(taps.size(), to_size(SWEEP_SAMPLES));
    out.figures.sweep = measure_plan(sweep_series_points(out.sweeps, run.peak), out.bands.plan);
    out.figures.sweep_wraps = measured_wraps(out.sweeps, run, nullptr, out.bands.plan);
    out.figures.steady_wraps = measured_wraps(out.sweeps, run, &out.extremes, out.bands.plan);
    out.signal = make_waveform_signal(options.tones, options.threads);
    out.reference = run_double_model(taps, out.signal.input);
    if (!measure_waveform(out.filter, out.signal.input, out.reference, true, out.waveform))
      return false;
    out.wrap_free_limit = largest_wrap_free_precision(taps);
    out.bound = wrap_bound_at(taps, options.precision);
    if (!predicted_error_spectrum(out.coefficients, scale, out.signal.input, SPECTRUM_SEGMENT,
                                  out.predicted_spectrum))
      return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  message.clear();
  return true;
}

std::vector<std::string> precision_report_lines(const precision_report& r, std::int32_t precision) {
  std::vector<std::string> lines = band_lines(r.bands.plan);
  for (std::string& line : response_lines(r.bands.plan, r.figures)) lines.push_back(line);
  const swept_precision& run = r.sweeps.runs[0];
  lines.push_back("accumulator wraps (sweep): " + std::to_string(run.wraps) + " of " +
                  std::to_string(r.sweeps.frequency.size()) + " frequencies");
  lines.push_back(
      "largest precision free of wraps for any input: " +
      (r.wrap_free_limit >= 0 ? std::to_string(r.wrap_free_limit) : std::string("none")));
  // Of the coefficients the run uses: with all of them 0 (a scale of 0, or taps too large
  // or too small to quantize) the accumulator stays 0.
  lines.push_back("headroom at precision " + std::to_string(precision) + ": " +
                  (r.bound.used_coefficient_sum == 0
                       ? std::string("unbounded (every coefficient is 0; nothing can wrap)")
                       : signed_text("%.2f", r.bound.headroom_bits) + " bits" +
                             (r.bound.can_wrap ? " (some input can wrap the accumulator)" : "")));
  const error_split& e = r.waveform.split;
  lines.push_back("error from coefficient quantization (waveform test): " +
                  format("%.2f", e.coefficient_db) + " dB signal to error");
  lines.push_back("error from the arithmetic, signal truncation and wraps (waveform test): " +
                  format("%.2f", e.arithmetic_db) + " dB signal to error, " +
                  format("%.2f", e.predicted_arithmetic_db) +
                  " dB predicted by the truncation model");
  return lines;
}

bool run_scan(std::span<const float> taps, const science_options& options,
              const precision_targets& asked, scan_report& out, std::string& message) {
  if (!setup_bands(taps, options.given, out.bands, message)) return false;
  message = "out of memory";
  try {
    if (!taps_figures(taps, out.bands, out.taps_figures)) return false;
    out.targets = asked;
    if (std::isnan(out.targets.min_attenuation_db))
      out.targets.min_attenuation_db = out.taps_figures.worst_attenuation_db - 1.0;
    if (std::isnan(out.targets.max_ripple_db))
      out.targets.max_ripple_db = out.taps_figures.ripple_db + 0.1;

    std::vector<std::int32_t> precisions;
    for (std::int32_t p = LOWEST_PRECISION; p <= HIGHEST_PRECISION; ++p) precisions.push_back(p);
    precision_sweeps sweeps;
    if (!sweep_precisions(taps, precisions, options.sweep_step, options.threads, false, sweeps,
                          options.progress))
      return false;
    const waveform_signal signal = make_waveform_signal(options.tones, options.threads);
    const std::vector<double> reference = run_double_model(taps, signal.input);
    out.rows.clear();
    for (std::size_t k = 0; k < precisions.size(); ++k) {
      precision_row row;
      row.precision = precisions[k];
      std::vector<std::int32_t> coefficients;
      quantized_filter filter;
      quantize_into(taps, row.precision, coefficients, filter);
      dense_response response;
      band_figures_db coefficient;
      if (!coefficient_figures(coefficients, static_cast<double>(filter.scale), out.bands.plan,
                               response, coefficient))
        return false;
      waveform_figures waveform;
      if (!measure_waveform(filter, signal.input, reference, false, waveform)) return false;
      const swept_precision& run = sweeps.runs[k];
      steady_points extremes;
      band_figures_db steady;
      if (!steady_figures(filter, options.threads, response, out.bands.plan, sweeps, run.steady,
                          extremes, steady))
        return false;
      row.waveform_wraps = waveform.wraps;
      row.sweep_wraps = run.wraps;
      row.sweep_frequencies = static_cast<std::int32_t>(sweeps.frequency.size());
      row.wrap_free = wrap_bound_at(taps, row.precision).wrap_free;
      row.snr_db = waveform.snr_db;
      row.coefficient_ripple_db = coefficient.ripple_db;
      row.coefficient_attenuation_db = coefficient.worst_attenuation_db;
      row.fixed_ripple_db = steady.ripple_db;
      row.fixed_attenuation_db = steady.worst_attenuation_db;
      const band_wraps w = measured_wraps(sweeps, run, &extremes, out.bands.plan);
      row.ripple_frequencies = w.passband_frequencies;
      row.ripple_wraps = w.passband_wrapped;
      row.attenuation_frequencies = w.passband_frequencies;
      row.attenuation_wraps = w.passband_wrapped;
      for (std::size_t b = 0; b < w.stopband_wrapped.size(); ++b) {
        row.attenuation_frequencies += w.stopband_frequencies[b];
        row.attenuation_wraps += w.stopband_wrapped[b];
      }
      row.steady = steady_state_reach(taps.size(), to_size(SWEEP_SAMPLES));
      out.rows.push_back(row);
    }
    out.wrap_free_limit = largest_wrap_free_precision(taps);
    out.steady_absent = steady_absence(taps.size(), to_size(SWEEP_SAMPLES));
    out.choice = recommend_precision(out.rows, out.targets);
  } catch (const std::bad_alloc&) {
    return false;
  }
  message.clear();
  return true;
}

std::vector<std::string> scan_lines(const scan_report& r) {
  std::vector<std::string> lines;
  const precision_targets& t = r.targets;
  lines.push_back("scan: every precision from 0 to 30");
  const band_plan& plan = r.bands.plan;
  // A target the unquantized taps could not give (no band to measure) says why. Without a
  // fixed-point steady state the attenuation and ripple targets apply to the quantized
  // coefficients, and the line says why.
  const std::string unmeasurable = plan.passbands.empty()   ? "any (no passband)"
                                   : plan.stopbands.empty() ? "any (no stopband)"
                                                            : "any (not measurable)";
  const bool fixed = r.steady_absent.empty();
  lines.push_back(
      std::string("targets: stopband attenuation (") +
      (fixed ? "fixed point, steady state" : "quantized coefficients") + ") " +
      (std::isnan(t.min_attenuation_db)
           ? unmeasurable
           : "at least " + format("%.2f", t.min_attenuation_db) + " dB") +
      ", passband ripple " + (fixed ? "" : "(quantized coefficients) ") +
      (std::isnan(t.max_ripple_db)
           ? std::string(plan.passbands.empty() ? "any (no passband)" : "any (not measurable)")
           : "at most " + format("%.4f", t.max_ripple_db) + " dB") +
      ", SNR " +
      (std::isnan(t.min_snr_db) ? std::string("any")
                                : "at least " + format("%.2f", t.min_snr_db) + " dB") +
      ", no wraps" + (fixed ? "" : "; the fixed-point steady state is " + r.steady_absent));
  for (std::string& line : band_lines(r.bands.plan)) lines.push_back(line);
  lines.push_back("passband ripple (unquantized taps): " + ripple_text(r.taps_figures.ripple_db));
  lines.push_back("stopband attenuation (unquantized taps): " +
                  (r.bands.plan.stopbands.empty()
                       ? std::string("no stopband")
                       : attenuation_text(r.taps_figures.worst_attenuation_db)));
  for (std::string& line : scan_table(r.rows)) lines.push_back(line);
  lines.push_back(
      "largest precision free of wraps for any input: " +
      (r.wrap_free_limit >= 0 ? std::to_string(r.wrap_free_limit) : std::string("none")));
  lines.push_back("recommended precision: " + (r.choice.precision >= 0
                                                   ? std::to_string(r.choice.precision)
                                                   : std::string("none")));
  lines.push_back("why: " + r.choice.reason);
  return lines;
}

}  // namespace fixfir
