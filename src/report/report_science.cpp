#include "report_science.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "fast_kernel.h"
#include "fir_engine.h"
#include "frequency_sweep.h"
#include "parallel_chunks.h"
#include "quantizer.h"
#include "real_kernel.h"
#include "report_model.h"

namespace fixfir {

namespace {

// Frequencies handed to a worker at a time.
constexpr std::int32_t frequencies_per_chunk = 8;

std::size_t to_size(std::int32_t v) noexcept { return static_cast<std::size_t>(v); }

// One worker's buffers: the sweep's sine with its cosine, and the double-precision run
// of the unquantized taps over it (taps - 1 zeros of history, then the sine).
struct worker_scratch {
  sine_basis basis;
  std::vector<double> signal;
  std::vector<double> reference;
};

std::string format(const char* f, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

std::string hertz_range(const band& b) {
  return format("%.0f", b.low) + " to " + format("%.0f", b.high) + " Hz";
}

std::string band_list(const std::vector<band>& bands) {
  if (bands.empty()) return "none";
  std::string text;
  for (const band& b : bands) text += (text.empty() ? "" : ", ") + hertz_range(b);
  return text;
}

std::string ripple_text(double v) { return format("%.4f", v) + " dB"; }
std::string attenuation_text(double v) { return format("%.2f", v) + " dB"; }

}  // namespace

bool sweep_precisions(std::span<const float> taps, std::span<const std::int32_t> precisions,
                      std::int32_t step, unsigned threads, precision_sweeps& out,
                      const std::function<void(std::size_t, std::size_t)>& progress) noexcept {
  try {
    threads = std::max(threads, 1U);
    const std::int32_t frequencies = sweep_frequency_count(step);
    const std::size_t runs = precisions.size();
    const auto count = static_cast<std::int32_t>(taps.size());
    std::vector<std::vector<std::int32_t>> coefficients(runs);
    std::vector<fir_workspace> ws(runs);
    std::vector<std::uint8_t> wrap_free(runs);
    out.frequency.resize(to_size(frequencies));
    out.runs.assign(runs, {});
    for (std::size_t k = 0; k < runs; ++k) {
      coefficients[k].resize(taps.size());
      quantized_filter filter;
      filter.count = count;
      filter.coefficients = coefficients[k].data();
      filter.scale = quantize_taps(precisions[k], count, taps.data(), coefficients[k].data());
      if (!sweep_workspace_init(ws[k], filter, threads)) return false;
      wrap_free[k] = wrap_bound_at(taps, precisions[k]).wrap_free ? 1 : 0;
      swept_precision& run = out.runs[k];
      run.precision = precisions[k];
      run.peak.resize(to_size(frequencies));
      run.steady.resize(to_size(frequencies));
      run.wrapped.resize(to_size(frequencies));
    }
    const bool any_can_wrap = std::count(wrap_free.begin(), wrap_free.end(), 0) > 0;

    // Only the first SWEEP_SAMPLES taps meet a sample within a run from rest.
    const std::size_t samples = to_size(SWEEP_SAMPLES);
    const std::size_t met = std::min(taps.size(), samples);
    const std::size_t outputs = (samples + CONVOLVE_BLOCK - 1) / CONVOLVE_BLOCK * CONVOLVE_BLOCK;
    const std::size_t prefix = met > 0 ? met - 1 : 0;
    std::vector<double> reversed(met);
    for (std::size_t i = 0; i < met; ++i) reversed[i] = static_cast<double>(taps[met - 1 - i]);
    std::vector<worker_scratch> scratch(threads);
    for (worker_scratch& s : scratch) {
      if (!make_sine_basis(0, samples, s.basis)) return false;
      s.signal.assign(prefix + outputs, 0.0);
      s.reference.assign(outputs, 0.0);
    }
    // The steady state starts once the history is full.
    const std::size_t first_steady = taps.empty() ? 0 : taps.size() - 1;

    const std::int32_t chunks = (frequencies + frequencies_per_chunk - 1) / frequencies_per_chunk;
    auto range = [frequencies](std::size_t chunk) {
      const auto begin = static_cast<std::int32_t>(chunk) * frequencies_per_chunk;
      return std::pair{begin, std::min(begin + frequencies_per_chunk, frequencies)};
    };
    bool out_of_memory = false;
    const bool finished = run_chunks_in_order(
        to_size(chunks), threads,
        [&](unsigned worker, std::size_t chunk) {
          worker_scratch& s = scratch[worker];
          const auto [begin, end] = range(chunk);
          for (std::int32_t i = begin; i < end; ++i) {
            const std::int32_t f = swept_frequency(step, i);
            out.frequency[to_size(i)] = f;
            if (!make_sine_basis(f, samples, s.basis)) {  // sizes are kept: no allocation
              out_of_memory = true;
              return;
            }
            if (any_can_wrap && met > 0) {
              std::copy(s.basis.sine.begin(), s.basis.sine.end(),
                        s.signal.begin() + static_cast<std::ptrdiff_t>(prefix));
              real_convolve(reversed.data(), met, s.signal.data(), 0, outputs, s.reference.data());
            }
            for (std::size_t k = 0; k < runs; ++k) {
              const fir_lane lane = workspace_lane(ws[k], worker);
              std::copy(s.basis.sine.begin(), s.basis.sine.end(), lane.input);
              workspace_quantize(ws[k], worker, 0, ws[k].samples);
              workspace_convolve(ws[k], worker, 0, ws[k].outputs);
              // Signed and unsigned forms of one type may alias.
              const std::span<const std::int32_t> acc(
                  reinterpret_cast<const std::int32_t*>(lane.accumulators), samples);
              const std::span<const std::int32_t> quantized(
                  reinterpret_cast<const std::int32_t*>(lane.quantized), samples);
              swept_precision& run = out.runs[k];
              const double scale = ws[k].scale;
              run.peak[to_size(i)] = fir_output(scale, peak_magnitude(lane.accumulators, samples));
              run.steady[to_size(i)] = fitted_amplitude(s.basis, acc, first_steady, scale);
              bool wrapped = false;
              if (wrap_free[k] == 0) {
                wrap_check check;
                check.coefficients = std::span<const std::int32_t>(coefficients[k]).first(met);
                check.samples = quantized;
                check.accumulators = acc;
                check.reference = std::span<const double>(s.reference).first(samples);
                check.taps = taps.first(met);
                check.scale = scale;
                wrapped = run_wrapped(check);
              }
              run.wrapped[to_size(i)] = wrapped ? 1 : 0;
            }
          }
        },
        [&](std::size_t chunk) {
          if (progress) progress(to_size(range(chunk).second), to_size(frequencies));
          return true;
        });
    if (!finished || out_of_memory) return false;
    for (swept_precision& run : out.runs) {
      run.wraps = static_cast<std::int32_t>(std::count(run.wrapped.begin(), run.wrapped.end(), 1));
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
  const band_plan inferred = infer_bands(setup.response);
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

std::vector<std::string> band_lines(const band_plan& plan) {
  return {std::string("passbands (") +
              (plan.passbands_given ? "given" : "inferred from the unquantized taps") +
              "): " + band_list(plan.passbands),
          std::string("stopbands (") +
              (plan.stopbands_given ? "given" : "inferred from the unquantized taps") +
              "): " + band_list(plan.stopbands)};
}

std::vector<std::string> response_lines(const band_plan& plan, const response_figures& fig) {
  struct labelled {
    const char* label;
    const band_figures_db* figures;
  };
  const labelled all[] = {{"unquantized taps", &fig.taps},
                          {"quantized coefficients", &fig.coefficients},
                          {"fixed point, steady state", &fig.steady},
                          {"sweep, transient included", &fig.sweep}};
  std::vector<std::string> lines;
  for (const labelled& l : all) {
    lines.push_back(std::string("passband ripple (") + l.label +
                    "): " + ripple_text(l.figures->ripple_db));
  }
  for (const labelled& l : all) {
    lines.push_back(std::string("stopband attenuation (") + l.label + "): " +
                    (plan.stopbands.empty() ? std::string("no stopband")
                                            : attenuation_text(l.figures->worst_attenuation_db)));
  }
  if (plan.stopbands.size() > 1) {
    for (std::size_t b = 0; b < plan.stopbands.size(); ++b) {
      std::string line = "stopband " + hertz_range(plan.stopbands[b]) + " attenuation:";
      for (const labelled& l : all) {
        const double a = b < l.figures->attenuation_db.size() ? l.figures->attenuation_db[b] : NAN;
        line += std::string(" ") + attenuation_text(a) + " (" + l.label + ")" +
                (&l == &all[3] ? "" : ",");
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
    char buf[256];
    std::snprintf(buf, sizeof buf, "%9d  %16lld  %13d  %9s  %8.2f  %17.4f  %17.2f  %17.4f  %17.2f",
                  r.precision, static_cast<long long>(r.waveform_wraps), r.sweep_wraps,
                  r.wrap_free ? "yes" : "no", r.snr_db, r.coefficient_ripple_db,
                  r.coefficient_attenuation_db, r.fixed_ripple_db, r.fixed_attenuation_db);
    lines.emplace_back(buf);
  }
  return lines;
}

}  // namespace fixfir
