#include "fixfir/measurement/datapath_search.h"

#include <algorithm>
#include <atomic>
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

namespace fixfir {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t frequencies_per_chunk = 16;
// How far short of the attenuation target a word's coefficients may be and still be run.
constexpr double coefficient_slack_db = 1.0;

// What every candidate of one search shares: the bands, the targets, the sweep's sines over
// the part of each run a fit reads, and the waveform test's signal and reference.
struct search_context {
  std::span<const float> taps;
  unsigned threads = 1;
  band_setup bands;
  precision_targets targets;
  bool steady = false;           // the runs reach a steady state to fit
  std::size_t window_start = 0;  // the first sample of a run's window
  std::size_t fit_first = 0;     // the fit's first sample, counted from the window's
  precision_sweeps grid;         // the swept frequencies; one run for the steady series
  std::vector<double> swept;     // the same frequencies as doubles
  // Per swept frequency, from `window_start` on; shared by the searches that run at once.
  std::shared_ptr<const std::vector<sine_basis>> windows;
  waveform_signal signal;
  std::vector<double> reference;
  cost_model cost = cost_model::multiplier;
};

// The exact unit sine and cosine at `frequency` over a run's samples [from, SWEEP_SAMPLES),
// counted from `from`.
bool window_basis(double frequency, std::size_t from, sine_basis& out) {
  sine_basis full;
  const auto samples = static_cast<std::size_t>(SWEEP_SAMPLES);
  if (!make_sine_basis(frequency, samples, full, from)) return false;
  out.frequency = frequency;
  out.sine.assign(full.sine.begin() + static_cast<std::ptrdiff_t>(from), full.sine.end());
  out.cosine.assign(full.cosine.begin() + static_cast<std::ptrdiff_t>(from), full.cosine.end());
  return true;
}

// The steady amplitude of `f` on the window `basis` and whether its accumulator overflowed.
outcome steady_on(const search_context& c, const fixed_filter& f, const sine_basis& basis,
                  double& steady, bool& overflowed) {
  // A window's first outputs (before its history is full) are not read, unless the run is
  // whole, where every output's overflow counts.
  const std::size_t first = c.window_start == 0 ? 0 : c.fit_first;
  result<datapath_run> run = run_datapath(f, basis.sine, 1, first);
  if (!run) return std::move(run).failure();
  steady = fitted_amplitude(basis, run.value().output, c.fit_first);
  overflowed = run.value().accumulator_overflows > 0;
  return success();
}

// The first error of work spread over threads.
struct first_error {
  std::mutex mutex;
  std::optional<error> held;
  std::atomic<bool> failed{false};
};

void keep_error(first_error& f, error e) {
  const std::lock_guard<std::mutex> lock(f.mutex);
  if (!f.held) f.held = std::move(e);
  f.failed.store(true, std::memory_order_relaxed);
}

bool has_failed(const first_error& f) noexcept { return f.failed.load(std::memory_order_relaxed); }

// The error kept; when none was, the work was stopped (or its bookkeeping failed).
error error_taken(first_error& f) {
  const std::lock_guard<std::mutex> lock(f.mutex);
  return f.held ? std::move(*f.held) : stopped_run_error();
}

// The steady amplitudes of `f` at `frequencies` (windows given, or made as they go), on
// the search's threads.
outcome steady_series(const search_context& c, const fixed_filter& f,
                      std::span<const double> frequencies, const std::vector<sine_basis>* given,
                      std::vector<double>& steady, std::int64_t& overflows) {
  const std::size_t n = frequencies.size();
  steady.assign(n, not_a_number);
  std::vector<std::uint8_t> overflowed(n, 0);
  std::vector<sine_basis> scratch(std::max(c.threads, 1U));
  first_error failure;
  const bool finished = run_chunks_in_order(
      (n + frequencies_per_chunk - 1) / frequencies_per_chunk, c.threads,
      [&](unsigned worker, std::size_t chunk) {
        const std::size_t end = std::min(n, (chunk + 1) * frequencies_per_chunk);
        for (std::size_t i = chunk * frequencies_per_chunk; i < end; ++i) {
          if (has_failed(failure) || !keep_going()) return;
          try {
            const sine_basis* basis = given != nullptr ? &(*given)[i] : &scratch[worker];
            if (given == nullptr && !window_basis(frequencies[i], c.window_start, scratch[worker]))
              throw std::bad_alloc();
            bool over = false;
            if (outcome ran = steady_on(c, f, *basis, steady[i], over); !ran) {
              keep_error(failure, std::move(ran).failure());
              return;
            }
            overflowed[i] = over ? 1 : 0;
          } catch (const std::bad_alloc&) {
            keep_error(failure, out_of_memory_error());
            return;
          }
        }
      },
      [&](std::size_t) { return !has_failed(failure); });
  overflows += std::count(overflowed.begin(), overflowed.end(), 1);
  if (!finished || has_failed(failure)) return error_taken(failure);
  return success();
}

std::int64_t cost_of(const datapath& d, cost_model model) noexcept {
  const std::int64_t c = d.coefficient.bits;
  const std::int64_t x = d.sample.bits;
  return model == cost_model::bits ? c + x + d.accumulator_bits : c * x + d.accumulator_bits;
}

bool meets_targets(const precision_targets& t, const candidate& k) noexcept {
  const bool attenuation =
      std::isnan(t.min_attenuation_db) || k.attenuation_db >= t.min_attenuation_db;
  const bool ripple = std::isnan(t.max_ripple_db) || k.ripple_db <= t.max_ripple_db;
  const bool snr = std::isnan(t.min_snr_db) || k.snr_db >= t.min_snr_db;
  return attenuation && ripple && snr && k.overflows == 0;
}

// The word formats of a candidate: saturating, as the report's --overflow saturate makes
// them, the accumulator's too (a candidate whose sums reach its limits meets no target).
word_format saturating_word(std::int32_t bits, std::int32_t fraction, rounding_mode r) noexcept {
  return {bits, fraction, r, overflow_mode::saturate};
}

// What every candidate of one coefficient word and rounding shares: the coefficients, their
// response and figures, and the sines at the band extremes of that response.
struct coefficient_side {
  fixed_filter filter;
  band_figures_db figures;
  steady_points extremes;
  std::vector<sine_basis> extreme_windows;  // empty when the runs are measured whole
  bool misses = false;  // the coefficients alone miss the attenuation or ripple target
};

// With `always_run`, the word is run whatever its coefficients alone say.
outcome make_coefficient_side(const search_context& c, std::int32_t wc, rounding_mode r,
                              coefficient_side& out, bool always_run = false) {
  datapath d;
  d.coefficient = saturating_word(wc, largest_fitting_fraction(c.taps, wc, r), r);
  d.sample = saturating_word(SEARCH_BITS_MAX, SEARCH_BITS_MAX - 1, r);
  d.accumulator_bits = ACCUMULATOR_BITS_MAX;
  d.accumulator_overflow = overflow_mode::saturate;
  result<fixed_filter> made = make_fixed_filter(c.taps, d);
  if (!made) return std::move(made).failure();
  out.filter = std::move(made).value();
  dense_response response;
  if (!coefficient_figures(out.filter.coefficients,
                           std::ldexp(1.0, out.filter.path.coefficient.fraction_bits), c.bands.plan,
                           response, out.figures))
    return stopped_run_error();
  // The fixed-point steady state follows the coefficients' response up to the samples'
  // noise, which can lift a figure a little: a word is left unrun only when its coefficients
  // miss by far (coefficient_slack_db short of the attenuation target, or over twice the
  // ripple target), or when some tap does not fit it (even at the lowest fraction), which
  // no sample word mends.
  candidate alone;
  alone.attenuation_db = out.figures.worst_attenuation_db + coefficient_slack_db;
  alone.ripple_db = out.figures.ripple_db / 2.0;
  alone.snr_db = std::numeric_limits<double>::infinity();
  alone.overflows = static_cast<std::int64_t>(out.filter.coefficient_overflows);
  out.misses = !always_run && !meets_targets(c.targets, alone);
  if (!c.steady || out.misses) return success();
  out.extremes.frequency = band_extremes(response, c.bands.plan);
  out.extreme_windows.resize(out.extremes.frequency.size());
  for (std::size_t i = 0; i < out.extreme_windows.size(); ++i) {
    if (!window_basis(out.extremes.frequency[i], c.window_start, out.extreme_windows[i]))
      return stopped_run_error();
  }
  return success();
}

// Measures the candidate of `side`'s coefficients with a sample word of `wx` bits (W_x - 1
// fractional, saturating) and the narrowest accumulator no input can overflow (8 bits at
// least, as a datapath has), unless the designer fixed it. A word whose coefficients alone
// miss a target is not run.
outcome measure_candidate(search_context& c, const search_axes& axes, coefficient_side& side,
                          std::int32_t wx, candidate& out) {
  fixed_filter& f = side.filter;
  const rounding_mode r = f.path.coefficient.rounding;
  f.path.sample = saturating_word(wx, wx - 1, r);
  const std::int32_t needed = accumulator_bits_needed(f.coefficients, wx);
  f.path.accumulator_bits = axes.accumulator_bits.value_or(
      std::clamp(needed, ACCUMULATOR_BITS_MIN, ACCUMULATOR_BITS_MAX));
  f.path.accumulator_overflow = overflow_mode::saturate;
  out = candidate{};
  out.path = f.path;
  out.cost = cost_of(f.path, c.cost);
  out.attenuation_db = side.figures.worst_attenuation_db;
  out.ripple_db = side.figures.ripple_db;
  out.snr_db = not_a_number;
  out.coefficient_overflows = static_cast<std::int64_t>(f.coefficient_overflows);
  out.overflows = out.coefficient_overflows;
  if (side.misses) {
    out.coefficients_only = true;
    return success();
  }
  // Runs whose accumulator some input can overflow are measured whole: a window from
  // sample 0, the fit as far into it as before.
  const bool whole = f.path.accumulator_bits < needed;
  if (c.steady) {
    const std::size_t saved_start = c.window_start;
    const std::size_t saved_first = c.fit_first;
    if (whole) {
      c.fit_first = saved_first + saved_start;
      c.window_start = 0;
    }
    outcome ran = steady_series(c, f, c.swept, whole ? nullptr : c.windows.get(),
                                c.grid.runs[0].steady, out.overflows);
    if (ran) {
      ran = steady_series(c, f, side.extremes.frequency, whole ? nullptr : &side.extreme_windows,
                          side.extremes.steady, out.overflows);
    }
    c.window_start = saved_start;
    c.fit_first = saved_first;
    if (!ran) return ran;
    side.extremes.wrapped.assign(side.extremes.frequency.size(), 0);
    const band_figures_db fixed =
        steady_band_figures(c.grid, c.grid.runs[0].steady, side.extremes, c.bands.plan);
    out.attenuation_db = fixed.worst_attenuation_db;
    out.ripple_db = fixed.ripple_db;
  }
  result<datapath_run> run = run_datapath(f, c.signal.input, c.threads);
  if (!run) return std::move(run).failure();
  out.snr_db = snr_db(c.reference, run.value().output);
  out.overflows += static_cast<std::int64_t>(run.value().accumulator_overflows);
  out.meets = meets_targets(c.targets, out);
  return success();
}

// The narrowest sample word with coefficient word `wc` and rounding `r` that meets the
// targets, starting the search at `hint`: `front` gets it, or the widest tried when none
// does. Every candidate measured joins `measured`.
outcome narrowest_sample_word(search_context& c, const search_axes& axes, std::int32_t wc,
                              rounding_mode r, std::int32_t& hint, candidate& front,
                              std::vector<candidate>& measured) {
  coefficient_side side;
  if (outcome made = make_coefficient_side(c, wc, r, side); !made) return made;
  auto probe = [&](std::int32_t wx, candidate& k) {
    outcome done = measure_candidate(c, axes, side, wx, k);
    if (done) measured.push_back(k);
    return done;
  };
  if (axes.sample_bits) return probe(*axes.sample_bits, front);
  candidate k;
  if (outcome done = probe(hint, k); !done) return done;
  if (k.coefficients_only) {
    front = k;
    return success();
  }
  std::int32_t low = SEARCH_BITS_MIN;  // the answer is at least this
  std::int32_t high = hint;            // and at most this, which meets
  candidate best = k;
  if (!k.meets) {
    candidate widest;
    if (outcome done = probe(SEARCH_BITS_MAX, widest); !done) return done;
    if (!widest.meets) {
      front = widest;
      return success();
    }
    low = hint + 1;
    high = SEARCH_BITS_MAX;
    best = widest;
  }
  while (low < high) {
    const std::int32_t mid = low + (high - low) / 2;
    candidate m;
    if (outcome done = probe(mid, m); !done) return done;
    if (m.meets) {
      high = mid;
      best = m;
    } else {
      low = mid + 1;
    }
  }
  front = best;
  hint = high;
  return success();
}

// The search's shared parts: bands, targets, windows and the waveform test.
outcome prepare(std::span<const float> taps, const science_options& options,
                const precision_targets& asked, search_context& c, search_report& out) {
  c.taps = taps;
  c.threads = options.threads == 0 ? worker_count() : options.threads;
  if (!taps_figures(taps, c.bands, out.taps_figures)) return stopped_run_error();
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
  const std::int32_t count = sweep_frequency_count(options.sweep_step);
  c.grid.frequency.resize(static_cast<std::size_t>(std::max(count, 0)));
  for (std::size_t i = 0; i < c.grid.frequency.size(); ++i)
    c.grid.frequency[i] = swept_frequency(options.sweep_step, static_cast<std::int32_t>(i));
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
    if (out.recommended < 0) {
      out.recommended = static_cast<std::int32_t>(i);
      continue;
    }
    const candidate& best = out.front[static_cast<std::size_t>(out.recommended)];
    if (k.cost < best.cost) out.recommended = static_cast<std::int32_t>(i);
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
  if (out.recommended < 0) {
    out.why = "no datapath searched meets every target";
    return;
  }
  const candidate& k = out.front[static_cast<std::size_t>(out.recommended)];
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
  while (out.recommended >= 0) {
    const candidate best = out.front[static_cast<std::size_t>(out.recommended)];
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
    out.recommended = -1;
    recommend(out);
  }
  return success();
}

}  // namespace

std::string search_axes_problem(const search_axes& axes) {
  datapath d;
  d.coefficient.bits = axes.coefficient_bits.value_or(WORD_BITS_MAX);
  d.sample.bits = axes.sample_bits.value_or(WORD_BITS_MAX);
  d.accumulator_bits = axes.accumulator_bits.value_or(ACCUMULATOR_BITS_MAX);
  if (std::string problem = datapath_problem(d); !problem.empty()) return problem;
  if (axes.rounding == rounding_mode::floor)
    return "--explore searches rounding toward zero and to nearest: give --rounding zero or "
           "nearest";
  return {};
}

outcome run_datapath_search(std::span<const float> taps, const science_options& options,
                            const precision_targets& asked, const search_axes& axes,
                            cost_model cost, search_report& out) {
  if (std::string problem = search_axes_problem(axes); !problem.empty())
    return make_error(error_kind::bad_input, std::move(problem));
  search_context c;
  c.cost = cost;
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
