// The datapath search's candidates: the coefficients of one word, each sample word's
// candidate measured on them, and the narrowest sample word that meets the targets.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "fixfir/drivers/datapath_run.h"
#include "fixfir/engine/parallel_chunks.h"
#include "search_context.h"

namespace fixfir::search {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
// How far short of the attenuation target a word's coefficients may be and still be run.
constexpr double coefficient_slack_db = 1.0;

}  // namespace

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

outcome make_coefficient_side(const search_context& c, std::int32_t wc, rounding_mode r,
                              coefficient_side& out, bool always_run) {
  datapath d;
  d.coefficient = saturating_word(wc, largest_fitting_fraction(c.taps, wc, r), r);
  d.sample = saturating_word(SEARCH_BITS_MAX, SEARCH_BITS_MAX - 1, r);
  d.accumulator_bits = ACCUMULATOR_BITS_MAX;
  d.accumulator_overflow = overflow_mode::saturate;
  d.output = c.output;
  result<fixed_filter> made = make_fixed_filter(c.taps, d);
  if (!made) return std::move(made).failure();
  out.filter = std::move(made).value();
  dense_response response;
  if (outcome figures = coefficient_figures(out.filter.coefficients, out.filter.coefficient_scale,
                                            c.bands.plan, response, out.figures);
      !figures)
    return figures;
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
  change_sample_side(f, saturating_word(wx, wx - 1, r), ACCUMULATOR_BITS_MAX,
                     overflow_mode::saturate);
  // The accumulator bits needed follow the sample word, so they are known only now.
  const std::int32_t needed = f.accumulator_bits_needed;
  f.path.accumulator_bits = axes.accumulator_bits.value_or(
      std::clamp(needed, ACCUMULATOR_BITS_MIN, ACCUMULATOR_BITS_MAX));
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

}  // namespace fixfir::search
