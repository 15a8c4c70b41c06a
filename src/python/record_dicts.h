#pragma once
// The measurement library's records as Python dicts and lists: one converter per record,
// each the only place its keys are spelled.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <span>

#include "fixfir/measurement/bands.h"
#include "fixfir/measurement/datapath_search.h"
#include "fixfir/measurement/error_model.h"
#include "fixfir/measurement/hardware_facts.h"
#include "fixfir/measurement/recommendation.h"
#include "fixfir/measurement/waveform_model.h"
#include "fixfir/measurement/wrap_checks.h"

namespace fixfir::python {

/// The bound's precision, coefficient_sum, wrap_free, used_coefficient_sum, can_wrap and
/// headroom_bits.
[[nodiscard]] pybind11::dict bound_dict(const wrap_bound& b);

/// passband_max_db, ripple_db, attenuation_db and worst_attenuation_db.
[[nodiscard]] pybind11::dict figures_dict(const band_figures_db& f);

/// min_attenuation_db, max_ripple_db and min_snr_db.
[[nodiscard]] pybind11::dict targets_dict(const precision_targets& t);

/// coefficient_db, arithmetic_db and predicted_arithmetic_db.
[[nodiscard]] pybind11::dict split_dict(const error_split& s);

/// coefficient_db, sample_db and accumulator_db.
[[nodiscard]] pybind11::dict budget_dict(const datapath_budget& b);

/// symmetry, multipliers, group_delay_samples and group_delay_ms (None without symmetry),
/// dc_gain, dc_gain_db, nyquist_gain, nyquist_gain_db, abs_sum and growth_bits; the delay
/// in ms at `rate`.
[[nodiscard]] pybind11::dict facts_dict(const hardware_facts& f, double rate);

/// One precision of a scan.
[[nodiscard]] pybind11::dict row_dict(const precision_row& row);

/// A search's front as arrays, one value per candidate: the words (-1 for the sample word
/// and the accumulator where the coefficients alone were judged), rounding, the figures,
/// cost and meets.
[[nodiscard]] pybind11::dict front_dict(std::span<const candidate> front);

/// The plan's passbands and stopbands as lists of (low, high) in hertz at the plan's rate,
/// and whether each was given, put into `d`.
void put_bands(pybind11::dict& d, const band_plan& plan);

}  // namespace fixfir::python
