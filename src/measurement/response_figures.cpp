#include "fixfir/measurement/response_figures.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/measurement/band_inference.h"
#include "fixfir/measurement/design_recovery.h"

namespace fixfir {

namespace {

// Inferred edges to 0.01 Hz, so that the summary prints them short and what it prints is what
// is measured. A band narrower than that keeps its edges (printed as exactly, only longer).
void round_edges(std::vector<band>& bands) {
  for (band& b : bands) {
    const band rounded{std::round(b.low * 100.0) / 100.0, std::round(b.high * 100.0) / 100.0};
    if (rounded.low < rounded.high) b = rounded;
  }
}

}  // namespace

outcome setup_bands(std::span<const float> taps, const band_plan& given, band_setup& setup) {
  if (outcome made = taps_response(taps, setup.response); !made) return made;
  band_plan inferred = infer_bands(setup.response);
  // A least-squares design's edges lie outside the bands its response shows.
  if (!given.passbands_given || !given.stopbands_given) {
    if (result<bool> refined = refine_least_squares_bands(taps, inferred); !refined.ok())
      return std::move(refined).failure();
  }
  round_edges(inferred.passbands);
  round_edges(inferred.stopbands);
  setup.plan = inferred;
  setup.plan.sample_rate = given.sample_rate;
  if (given.passbands_given) {
    setup.plan.passbands = given.passbands;
    setup.plan.passbands_given = true;
  }
  if (given.stopbands_given) {
    setup.plan.stopbands = given.stopbands;
    setup.plan.stopbands_given = true;
  }
  // Inferred bands may be missing (taps that are all zero have no pass band); only bands
  // the user gave can be wrong.
  if (!given.passbands_given && !given.stopbands_given) return success();
  std::string problem = band_plan_problem(setup.plan);
  if (!problem.empty()) return make_error(error_kind::bad_input, std::move(problem));
  return success();
}

bool silent_coefficients(std::span<const std::int32_t> coefficients) noexcept {
  return std::all_of(coefficients.begin(), coefficients.end(),
                     [](std::int32_t c) { return c == 0; });
}

outcome taps_figures(std::span<const float> taps, const band_setup& setup,
                     band_figures_db& out) noexcept {
  try {
    const std::vector<double> h(taps.begin(), taps.end());
    response_points points;
    if (outcome found = band_points(setup.response, h, setup.plan, points); !found) return found;
    out = measure_plan(points, setup.plan);
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

outcome coefficient_figures(std::span<const std::int32_t> coefficients, double scale,
                            const band_plan& plan, dense_response& response,
                            band_figures_db& out) noexcept {
  try {
    if (outcome made = coefficients_response(coefficients, scale, response); !made) return made;
    std::vector<double> h(coefficients.size());
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(coefficients[j]) / scale;
    response_points points;
    if (outcome found = band_points(response, h, plan, points); !found) return found;
    out = measure_plan(points, plan);
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
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
outcome steady_figures(const fixed_filter& filter, unsigned threads,
                       const dense_response& coefficients, const band_plan& plan,
                       const precision_sweeps& sweeps, const std::vector<double>& swept_steady,
                       steady_points& extremes, band_figures_db& out) {
  extremes.frequency = band_extremes(coefficients, plan);
  if (outcome measured = steady_amplitudes(filter, threads, extremes); !measured) return measured;
  out = steady_band_figures(sweeps, swept_steady, extremes, plan);
  return success();
}

band_figures_db steady_band_figures(const precision_sweeps& sweeps,
                                    const std::vector<double>& swept_steady,
                                    const steady_points& extremes, const band_plan& plan) {
  return measure_plan(merged_points(sweeps, swept_steady, extremes.frequency, extremes.steady),
                      plan);
}

namespace {

// The flags `swept` (beside the sweep's frequencies) and `extra` (beside `extremes`'
// frequencies, when given) counted over the plan where the sweep series is measured (8000 Hz
// is not).
band_wraps measured_flags(const precision_sweeps& sweeps, const std::vector<std::uint8_t>& swept,
                          const steady_points* extremes, const std::vector<std::uint8_t>* extra,
                          const band_plan& plan) {
  std::vector<double> frequency;
  std::vector<std::uint8_t> flags;
  for (std::size_t i = 0; i < sweeps.frequency.size() && i < swept.size(); ++i) {
    if (sweeps.frequency[i] == SWEEP_LAST_FREQUENCY) continue;
    frequency.push_back(sweeps.frequency[i]);
    flags.push_back(swept[i]);
  }
  if (extremes != nullptr) {
    for (std::size_t i = 0; i < extremes->frequency.size(); ++i) {
      frequency.push_back(extremes->frequency[i]);
      flags.push_back(i < extra->size() ? (*extra)[i] : 0);
    }
  }
  return count_band_wraps(frequency, flags, plan);
}

}  // namespace

// The wraps where one precision's sweep series is measured (8000 Hz is not), and with
// `extremes` also where its steady state is measured besides.
band_wraps measured_wraps(const precision_sweeps& sweeps, const swept_precision& run,
                          const steady_points* extremes, const band_plan& plan) {
  return measured_flags(sweeps, run.wrapped, extremes,
                        extremes != nullptr ? &extremes->wrapped : nullptr, plan);
}

band_wraps measured_sample_overflows(const precision_sweeps& sweeps, const swept_precision& run,
                                     const steady_points* extremes, const band_plan& plan) {
  return measured_flags(sweeps, run.sample_overflowed, extremes,
                        extremes != nullptr ? &extremes->sample_overflowed : nullptr, plan);
}

}  // namespace fixfir
