#include "fixfir/measurement/datapath_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "fixfir/common/analysis_constants.h"
#include "fixfir/drivers/datapath_run.h"
#include "fixfir/drivers/frequency_sweep.h"
#include "fixfir/drivers/run_counts.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/engine/parallel_chunks.h"
#include "fixfir/measurement/response_figures.h"
#include "fixfir/measurement/summary_text.h"
#include "search_context.h"

namespace fixfir {
namespace {

using search::coefficient_side;
using search::error_taken;
using search::first_error;
using search::has_failed;
using search::keep_error;
using search::make_coefficient_side;
using search::measure_candidate;
using search::narrowest_sample_word;
using search::search_context;
using search::window_basis;

// The search's shared parts: bands, targets, windows and the waveform test.
outcome prepare(std::span<const float> taps, const report_request& options,
                const precision_targets& asked, search_context& c, search_report& out) {
  c.taps = taps;
  c.threads = threads_for(options.threads);
  if (outcome figures = taps_figures(taps, c.bands, out.taps_figures); !figures) return figures;
  out.bands = c.bands;
  out.tap_count = taps.size();
  c.targets = targets_with_defaults(asked, out.taps_figures.worst_attenuation_db,
                                    out.taps_figures.ripple_db);
  // The quantization noise no louder than what the stop band lets through.
  if (std::isnan(c.targets.min_snr_db) && !std::isnan(c.targets.min_attenuation_db)) {
    c.targets.min_snr_db = c.targets.min_attenuation_db;
    out.snr_target_is_attenuation = true;
  }
  out.targets = c.targets;
  const auto samples = static_cast<std::size_t>(SWEEP_SAMPLES);
  out.steady = steady_state_reach(taps.size(), samples);
  c.steady = out.steady == steady_reach::measured;
  out.steady_absent = steady_absence(taps.size(), samples);
  const std::size_t fit = steady_fit_start(taps.size(), samples);
  c.window_start = fit >= taps.size() - 1 ? fit - (taps.size() - 1) : 0;
  c.fit_first = fit - c.window_start;
  c.grid.frequency = sweep_grid(options.sweep_step);
  c.grid.runs.assign(1, swept_precision{});
  c.swept.assign(c.grid.frequency.begin(), c.grid.frequency.end());
  if (c.steady) {
    auto windows = std::make_shared<std::vector<sine_basis>>(c.grid.frequency.size());
    for (std::size_t i = 0; i < windows->size(); ++i) {
      if (!keep_going() || !window_basis(c.grid.frequency[i], c.window_start, (*windows)[i]))
        return stopped_run_error();
    }
    c.windows = std::move(windows);
  }
  result<waveform_signal> signal = make_waveform_signal(options.tones, c.threads);
  if (!signal) return std::move(signal).failure();
  c.signal = std::move(signal).value();
  result<std::vector<double>> reference = run_double_model(taps, c.signal.input);
  if (!reference) return std::move(reference).failure();
  c.reference = std::move(reference).value();
  return success();
}

void recommend(search_report& out) {
  for (std::size_t i = 0; i < out.front.size(); ++i) {
    const candidate& k = out.front[i];
    if (!k.meets) continue;
    if (!out.recommended || k.cost < out.front[*out.recommended].cost) out.recommended = i;
  }
  std::size_t meeting = 0;
  for (const candidate& k : out.front) meeting += k.meets ? 1 : 0;
  out.best_attenuation_db = -std::numeric_limits<double>::infinity();
  out.best_ripple_db = std::numeric_limits<double>::infinity();
  out.best_snr_db = -std::numeric_limits<double>::infinity();
  for (const candidate& k : out.measured) {
    if (k.coefficients_only) continue;
    if (!std::isnan(k.attenuation_db))
      out.best_attenuation_db = std::max(out.best_attenuation_db, k.attenuation_db);
    if (!std::isnan(k.ripple_db)) out.best_ripple_db = std::min(out.best_ripple_db, k.ripple_db);
    if (!std::isnan(k.snr_db)) out.best_snr_db = std::max(out.best_snr_db, k.snr_db);
  }
  if (!out.recommended) {
    out.why = "no datapath searched meets every target";
    return;
  }
  const candidate& k = out.front[*out.recommended];
  // Without a fixed-point steady state the attenuation and ripple are the coefficients'.
  const std::string judged =
      out.steady == steady_reach::measured
          ? std::string()
          : std::string(
                "; attenuation and ripple of the quantized coefficients, as the "
                "fixed-point steady state is ") +
                steady_absence_word(out.steady);
  out.why = "the cheapest of the " + std::to_string(meeting) +
            " datapaths on the front that meet every target (cost " + std::to_string(k.cost) +
            judged + "); one bit less in either word misses a target" +
            (k.path.sample.bits == SEARCH_BITS_MIN || k.path.coefficient.bits == SEARCH_BITS_MIN
                 ? " or is below the search"
                 : "");
}

// The samples' noise can lift a figure a little, so a coefficient word one bit narrower
// than the recommendation's may still meet the targets with its sample word even though
// its own row of the front says otherwise. Each such narrower word is tried; one that
// meets is cheaper, takes its row's place with its own narrowest sample word, and is tried
// in turn.
outcome confirm_coefficient_word(search_context& c, const search_axes& axes, search_report& out) {
  while (out.recommended) {
    const candidate best = out.front[*out.recommended];
    const std::int32_t wc = best.path.coefficient.bits - 1;
    const rounding_mode r = best.path.coefficient.rounding;
    if (wc < SEARCH_BITS_MIN) return success();
    coefficient_side side;
    if (outcome made = make_coefficient_side(c, wc, r, side, true); !made) return made;
    candidate narrower;
    if (outcome done = measure_candidate(c, axes, side, best.path.sample.bits, narrower); !done)
      return done;
    out.measured.push_back(narrower);
    if (!narrower.meets) return success();
    // Its own narrowest sample word, from there down.
    candidate row = narrower;
    for (std::int32_t wx = best.path.sample.bits - 1; wx >= SEARCH_BITS_MIN; --wx) {
      candidate k;
      if (outcome done = measure_candidate(c, axes, side, wx, k); !done) return done;
      out.measured.push_back(k);
      if (!k.meets) break;
      row = k;
    }
    for (candidate& k : out.front) {
      if (k.path.coefficient.bits == wc && k.path.coefficient.rounding == r) k = row;
    }
    out.recommended.reset();
    recommend(out);
  }
  return success();
}

}  // namespace

output_stage search_output_stage(std::span<const float> taps, const datapath_choices& c) {
  if (!c.output_bits) return {};
  // 24-bit words hold the taps and full scale closely, and their sums fit 64 bits up to
  // 2^15 taps, so the accumulator does not bound the largest output.
  datapath_choices k;
  k.coefficient_bits = 24;
  k.sample_bits = 24;
  k.accumulator_bits = ACCUMULATOR_BITS_MAX;
  k.output_bits = c.output_bits;
  k.output_fraction_bits = c.output_fraction_bits;
  k.output_rounding = c.output_rounding;
  k.output_overflow = c.output_overflow;
  const result<datapath> d = datapath_from_choices(taps, k);
  return d ? d.value().output : output_stage{};
}

std::string search_axes_problem(const search_axes& axes) {
  datapath d;
  d.coefficient.bits = axes.coefficient_bits.value_or(WORD_BITS_MAX);
  d.sample.bits = axes.sample_bits.value_or(WORD_BITS_MAX);
  d.accumulator_bits = axes.accumulator_bits.value_or(ACCUMULATOR_BITS_MAX);
  d.output = axes.output;
  if (std::string problem = datapath_problem(d); !problem.empty()) return problem;
  if (axes.rounding == rounding_mode::floor)
    return "--explore searches rounding toward zero and to nearest: give --rounding zero or "
           "nearest";
  return {};
}

outcome run_datapath_search(std::span<const float> taps, const report_request& options,
                            const precision_targets& asked, const search_axes& axes,
                            cost_model cost, search_report& out) {
  if (std::string problem = search_axes_problem(axes); !problem.empty())
    return make_error(error_kind::bad_input, std::move(problem));
  search_context c;
  c.cost = cost;
  c.output = axes.output;
  if (outcome bands = setup_bands(taps, options.given, c.bands); !bands) return bands;
  try {
    if (outcome prepared = prepare(taps, options, asked, c, out); !prepared) return prepared;
    std::vector<rounding_mode> roundings = {rounding_mode::toward_zero, rounding_mode::nearest};
    if (axes.rounding) roundings = {*axes.rounding};
    std::int32_t first = SEARCH_BITS_MIN;
    std::int32_t last = SEARCH_BITS_MAX;
    if (axes.coefficient_bits) first = last = *axes.coefficient_bits;
    // The roundings are searched at once, each on its share of the threads; along one
    // rounding each coefficient word starts where the one before it ended.
    const std::size_t lanes = roundings.size();
    std::vector<search_context> lane(lanes, c);
    for (search_context& l : lane)
      l.threads = std::max(1U, c.threads / static_cast<unsigned>(lanes));
    std::vector<std::vector<candidate>> fronts(lanes);
    std::vector<std::vector<candidate>> measured(lanes);
    first_error failure;
    const bool finished = run_chunks_in_order(
        lanes, c.threads,
        [&](unsigned, std::size_t i) {
          try {
            std::int32_t hint = 16;
            for (std::int32_t wc = first; wc <= last && !has_failed(failure); ++wc) {
              if (!keep_going()) return;
              candidate front;
              outcome done =
                  narrowest_sample_word(lane[i], axes, wc, roundings[i], hint, front, measured[i]);
              if (!done) {
                keep_error(failure, std::move(done).failure());
                return;
              }
              fronts[i].push_back(front);
            }
          } catch (const std::bad_alloc&) {
            keep_error(failure, out_of_memory_error());
          }
        },
        [&](std::size_t) { return !has_failed(failure); });
    if (!finished || has_failed(failure)) return error_taken(failure);
    for (std::size_t i = 0; i < lanes; ++i) {
      out.front.insert(out.front.end(), fronts[i].begin(), fronts[i].end());
      out.measured.insert(out.measured.end(), measured[i].begin(), measured[i].end());
    }
    recommend(out);
    if (!axes.coefficient_bits) {
      if (outcome confirmed = confirm_coefficient_word(c, axes, out); !confirmed) return confirmed;
    }
    return success();
  } catch (const std::bad_alloc&) {
    return out_of_memory_error();
  }
}

}  // namespace fixfir
