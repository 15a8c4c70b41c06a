#include "record_dicts.h"

#include <pybind11/numpy.h>

#include <vector>

#include "array_io.h"
#include "datapath_keywords.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

py::list band_tuples(const std::vector<band>& bands, double rate) {
  py::list out;
  for (const band& b : bands)
    out.append(py::make_tuple(hertz_at(b.low, rate), hertz_at(b.high, rate)));
  return out;
}

// One column of the front: `field` of every candidate, or -1 where `coefficients_only`
// leaves it out and `whole` is false.
template <class T, class Field>
py::array_t<T> column(std::span<const candidate> front, bool whole, Field field) {
  std::vector<T> values(front.size());
  for (std::size_t i = 0; i < front.size(); ++i)
    values[i] =
        !whole && front[i].coefficients_only ? static_cast<T>(-1) : static_cast<T>(field(front[i]));
  return to_array(values.data(), values.size());
}

}  // namespace

py::dict bound_dict(const wrap_bound& b) {
  py::dict d;
  d["precision"] = b.precision;
  d["coefficient_sum"] = b.coefficient_sum;
  d["wrap_free"] = b.wrap_free;
  d["used_coefficient_sum"] = b.used_coefficient_sum;
  d["can_wrap"] = b.can_wrap;
  d["headroom_bits"] = b.headroom_bits;
  return d;
}

py::dict figures_dict(const band_figures_db& f) {
  py::dict d;
  d["passband_max_db"] = f.passband_max_db;
  d["ripple_db"] = f.ripple_db;
  d["attenuation_db"] = f.attenuation_db;
  d["worst_attenuation_db"] = f.worst_attenuation_db;
  return d;
}

py::dict targets_dict(const precision_targets& t) {
  py::dict d;
  d["min_attenuation_db"] = t.min_attenuation_db;
  d["max_ripple_db"] = t.max_ripple_db;
  d["min_snr_db"] = t.min_snr_db;
  return d;
}

py::dict split_dict(const error_split& s) {
  py::dict d;
  d["coefficient_db"] = s.coefficient_db;
  d["arithmetic_db"] = s.arithmetic_db;
  d["predicted_arithmetic_db"] = s.predicted_arithmetic_db;
  return d;
}

py::dict budget_dict(const datapath_budget& b) {
  py::dict d;
  d["coefficient_db"] = b.coefficient_db;
  d["sample_db"] = b.sample_db;
  d["accumulator_db"] = b.accumulator_db;
  return d;
}

py::dict facts_dict(const hardware_facts& f, double rate) {
  py::dict d;
  d["symmetry"] = symmetry_name(f.symmetry);
  d["multipliers"] = f.multipliers;
  // Without symmetry the group delay is not constant: None rather than a number.
  const bool linear = f.symmetry != tap_symmetry::none;
  d["group_delay_samples"] = linear ? py::object(py::float_(f.group_delay_samples)) : py::none();
  const double ms = seconds_at(f.group_delay_samples, rate) * 1000.0;
  d["group_delay_ms"] = linear ? py::object(py::float_(ms)) : py::none();
  d["dc_gain"] = f.dc_gain;
  d["dc_gain_db"] = f.dc_gain_db;
  d["nyquist_gain"] = f.nyquist_gain;
  d["nyquist_gain_db"] = f.nyquist_gain_db;
  d["abs_sum"] = f.abs_sum;
  d["growth_bits"] = f.growth_bits;
  return d;
}

py::dict row_dict(const precision_row& row) {
  py::dict d;
  d["precision"] = row.precision;
  d["waveform_wraps"] = row.waveform_wraps;
  d["sweep_wraps"] = row.sweep_wraps;
  d["sweep_frequencies"] = row.sweep_frequencies;
  d["wrap_free"] = row.wrap_free;
  d["snr_db"] = row.snr_db;
  d["coefficient_ripple_db"] = row.coefficient_ripple_db;
  d["coefficient_attenuation_db"] = row.coefficient_attenuation_db;
  d["fixed_ripple_db"] = row.fixed_ripple_db;
  d["fixed_attenuation_db"] = row.fixed_attenuation_db;
  return d;
}

py::dict front_dict(std::span<const candidate> front) {
  using k = datapath_keyword;
  py::dict d;
  d[keyword_name(k::coefficient_bits)] =
      column<std::int32_t>(front, true, [](const candidate& c) { return c.path.coefficient.bits; });
  d[keyword_name(k::coefficient_precision)] = column<std::int32_t>(
      front, true, [](const candidate& c) { return c.path.coefficient.fraction_bits; });
  d[keyword_name(k::sample_bits)] =
      column<std::int32_t>(front, false, [](const candidate& c) { return c.path.sample.bits; });
  d[keyword_name(k::sample_precision)] = column<std::int32_t>(
      front, false, [](const candidate& c) { return c.path.sample.fraction_bits; });
  d[keyword_name(k::accumulator_bits)] = column<std::int32_t>(
      front, false, [](const candidate& c) { return c.path.accumulator_bits; });
  py::list roundings;
  for (const candidate& c : front) roundings.append(rounding_option(c.path.coefficient.rounding));
  d[keyword_name(k::rounding)] = roundings;
  d["attenuation_db"] =
      column<double>(front, true, [](const candidate& c) { return c.attenuation_db; });
  d["ripple_db"] = column<double>(front, true, [](const candidate& c) { return c.ripple_db; });
  d["snr_db"] = column<double>(front, true, [](const candidate& c) { return c.snr_db; });
  d["cost"] = column<std::int64_t>(front, true, [](const candidate& c) { return c.cost; });
  d["meets"] = column<std::uint8_t>(front, true, [](const candidate& c) {
                 return c.meets ? 1 : 0;
               }).attr("astype")("bool");
  return d;
}

void put_bands(py::dict& d, const band_plan& plan) {
  d["passbands"] = band_tuples(plan.passbands, plan.sample_rate);
  d["stopbands"] = band_tuples(plan.stopbands, plan.sample_rate);
  d["passbands_given"] = plan.passbands_given;
  d["stopbands_given"] = plan.stopbands_given;
}

}  // namespace fixfir::python
