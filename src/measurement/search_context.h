#pragma once
// The datapath search's own parts, shared by its files: what every candidate of one search
// shares, the steady amplitudes of one candidate over the swept frequencies, and the
// candidates of one coefficient word.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "fixfir/coefficients/datapath.h"
#include "fixfir/coefficients/fixed_filter.h"
#include "fixfir/common/result.h"
#include "fixfir/drivers/unit_sine_basis.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/precision_sweep.h"
#include "fixfir/measurement/response_figures.h"
#include "fixfir/measurement/steady_state.h"
#include "fixfir/measurement/waveform_model.h"

namespace fixfir::search {

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
  output_stage output;  // every candidate's, fixed
};

// The first error of work spread over threads.
struct first_error {
  std::mutex mutex;
  std::optional<error> held;
  std::atomic<bool> failed{false};
};

// Keeps `e` unless an error is held already, and marks the work failed.
void keep_error(first_error& f, error e);

// Whether some error was kept.
[[nodiscard]] bool has_failed(const first_error& f) noexcept;

// The error kept; when none was, the work was stopped (or its bookkeeping failed).
[[nodiscard]] error error_taken(first_error& f);

// The exact unit sine and cosine at `frequency` over a run's samples [from, SWEEP_SAMPLES),
// counted from `from`.
[[nodiscard]] bool window_basis(double frequency, std::size_t from, sine_basis& out);

// The steady amplitudes of `f` at `frequencies` (windows given, or made as they go), on
// the search's threads; the frequencies whose accumulator overflowed are added to
// `overflows`.
[[nodiscard]] outcome steady_series(const search_context& c, const fixed_filter& f,
                                    std::span<const double> frequencies,
                                    const std::vector<sine_basis>* given,
                                    std::vector<double>& steady, std::int64_t& overflows);

// A datapath's cost under `model`.
[[nodiscard]] std::int64_t cost_of(const datapath& d, cost_model model) noexcept;

// Whether `k` meets every target that is set, without any overflow.
[[nodiscard]] bool meets_targets(const precision_targets& t, const candidate& k) noexcept;

// The word formats of a candidate: saturating, as the report's --overflow saturate makes
// them, the accumulator's too (a candidate whose sums reach its limits meets no target).
[[nodiscard]] word_format saturating_word(std::int32_t bits, std::int32_t fraction,
                                          rounding_mode r) noexcept;

// What every candidate of one coefficient word and rounding shares: the coefficients, their
// response and figures, and the sines at the band extremes of that response.
struct coefficient_side {
  fixed_filter filter;
  band_figures_db figures;
  steady_points extremes;
  std::vector<sine_basis> extreme_windows;  // empty when the runs are measured whole
  bool misses = false;  // the coefficients alone miss the attenuation or ripple target
};

// The coefficients of word `wc` and rounding `r` with their figures. With `always_run`,
// the word is run whatever its coefficients alone say.
[[nodiscard]] outcome make_coefficient_side(const search_context& c, std::int32_t wc,
                                            rounding_mode r, coefficient_side& out,
                                            bool always_run = false);

// Measures the candidate of `side`'s coefficients with a sample word of `wx` bits (W_x - 1
// fractional, saturating) and the narrowest accumulator no input can overflow, unless the
// designer fixed it.
[[nodiscard]] outcome measure_candidate(search_context& c, const search_axes& axes,
                                        coefficient_side& side, std::int32_t wx, candidate& out);

// The narrowest sample word with coefficient word `wc` and rounding `r` that meets the
// targets, starting at `hint`: `front` gets it, or the widest tried when none does. Every
// candidate measured joins `measured`.
[[nodiscard]] outcome narrowest_sample_word(search_context& c, const search_axes& axes,
                                            std::int32_t wc, rounding_mode r, std::int32_t& hint,
                                            candidate& front, std::vector<candidate>& measured);

}  // namespace fixfir::search
