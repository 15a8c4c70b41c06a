// The module's functions in one table: each one's signature as help() and inspect show it,
// its docstring, and how its arguments are read and handed to the function that does the
// work.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python_bindings.h"

namespace py = pybind11;

namespace fixfir::python {

namespace {

using k = datapath_keyword;

// The keywords fixfir.explore fixes an axis of the search with.
constexpr datapath_keyword explore_keywords[] = {k::coefficient_bits, k::sample_bits,
                                                 k::accumulator_bits, k::rounding};

// The report's questions after the taps (and the precision) in the order fixfir.scan and
// fixfir.explore take them; fixfir.report takes the bands before the targets.
const std::vector<parameter> scan_parameters = {{"taps"},
                                                {"initial"},
                                                {"step"},
                                                {"ending"},
                                                {"sweep_step", "None"},
                                                {"min_attenuation_db", "None"},
                                                {"max_ripple_db", "None"},
                                                {"min_snr_db", "None"},
                                                {"passbands", "None"},
                                                {"stopbands", "None"}};

// fixfir.scan's parameters: the report's questions, then the rate they are in hertz at.
std::vector<parameter> scan_with_rate() {
  std::vector<parameter> p = scan_parameters;
  p.push_back({"sample_rate", "None"});
  return p;
}

signature report_signature() {
  signature s = with_datapath_keywords({"report",
                                        {{"taps"},
                                         {"precision"},
                                         {"initial"},
                                         {"step"},
                                         {"ending"},
                                         {"sweep_step", "None"},
                                         {"passbands", "None"},
                                         {"stopbands", "None"}},
                                        8});
  for (const char* name : {"min_attenuation_db", "max_ripple_db", "min_snr_db", "sample_rate"})
    s.parameters.push_back({name, "None"});
  return with_datapath_keywords(std::move(s), OUTPUT_KEYWORDS);
}

signature explore_signature() {
  signature s = with_datapath_keywords({"explore", scan_parameters, 10}, explore_keywords);
  s.parameters.push_back({"cost", "'multiplier'"});
  s.parameters.push_back({"sample_rate", "None"});
  return with_datapath_keywords(std::move(s), OUTPUT_KEYWORDS);
}

py::handle taps_of(const bound_call& a) { return argument(a, "taps"); }
long long precision_of(const bound_call& a) { return integer_named(a, "precision"); }

// Every function but the class fixfir.Filter.
const binding functions[] = {
    {with_datapath_keywords({"quantize", {{"taps"}, {"precision"}}, 2}),
     "(coefficients, scale): the taps as int32 coefficients trunc(scale × tap) and the "
     "scale 2^precision, as the console tool quantizes them. With the datapath keywords "
     "(as fixfir.export's), the coefficient words of that datapath and the float 2^F_c.",
     [](const bound_call& a) -> py::object {
       return quantize(taps_of(a), precision_of(a), datapath_arguments(a));
     }},
    {with_datapath_keywords(with_datapath_keywords({"filter", {{"taps"}, {"x"}, {"precision"}}, 3}),
                            OUTPUT_KEYWORDS),
     "The int32 accumulators of the fixed-point filter over the signal x from rest: "
     "acc[n] = Σ c[j] · trunc(scale × x[n - j]), every product and sum wrapping modulo "
     "2^32 (units of scale²). With the datapath keywords, that datapath's int64 "
     "accumulators (units of 2^-(F_c + F_x)); with output_bits, its int64 output words "
     "(units of 2^-F_y; the output keywords as fixfir.vectors'). x is read where it lies, a "
     "block at a time: beyond the result, the memory used grows with the taps, not with x.",
     [](const bound_call& a) -> py::object {
       return filter(taps_of(a), argument(a, "x"), precision_of(a), datapath_arguments(a));
     }},
    {{"output", {{"acc"}, {"scale"}}, 2},
     "Accumulators in real units: acc ÷ scale² as float64 (a ValueError for a scale whose "
     "square is 0 or not finite).",
     [](const bound_call& a) -> py::object {
       return output(argument(a, "acc"), real_argument(argument(a, "scale"), "scale"));
     }},
    {with_datapath_keywords(
         {"waveform_test", {{"taps"}, {"precision"}, {"initial"}, {"step"}, {"ending"}}, 5}),
     "(time, input, output): the three columns of waves.txt as float64 arrays of "
     "WAVEFORM_SAMPLES values, the multi-tone test from initial to ending Hz in steps of "
     "step Hz (not 0). With the datapath keywords, the output of that datapath on the exact "
     "inputs.",
     [](const bound_call& a) -> py::object {
       return waveform_test(taps_of(a), precision_of(a), integer_named(a, "initial"),
                            integer_named(a, "step"), integer_named(a, "ending"),
                            datapath_arguments(a));
     }},
    {with_datapath_keywords({"sweep", {{"taps"}, {"precision"}, {"step"}}, 3}),
     "(frequencies, peaks): the two columns of frequency.txt, the int32 frequencies from "
     "4 to 8000 Hz in steps of step (at least 1) and the float64 peak output magnitude of "
     "a unit sine at each, from rest over SWEEP_SAMPLES samples. With the datapath "
     "keywords, the peaks of that datapath.",
     [](const bound_call& a) -> py::object {
       return sweep(taps_of(a), precision_of(a), integer_named(a, "step"), datapath_arguments(a));
     }},
    {{"taps_response", {{"taps"}}, 1},
     "(frequency, magnitude): |H(f)| of the unquantized taps on the report's dense grid "
     "from 0 to 8000 Hz (float64).",
     [](const bound_call& a) -> py::object { return taps_dense(taps_of(a)); }},
    {with_datapath_keywords({"coefficients_response", {{"taps"}, {"precision"}}, 2}),
     "(frequency, magnitude): |C(f)| / scale of the quantized coefficients in exact "
     "arithmetic, on the same grid as taps_response; with the datapath keywords, of that "
     "datapath's coefficient words (scale 2^F_c).",
     [](const bound_call& a) -> py::object {
       return coefficients_dense(taps_of(a), precision_of(a), datapath_arguments(a));
     }},
    {with_datapath_keywords({"largest_tap_error", {{"taps"}, {"precision"}}, 2}),
     "The largest |tap - coefficient ÷ scale|, in the taps' units (with the datapath "
     "keywords, of that datapath's coefficient words).",
     [](const bound_call& a) -> py::object {
       return py::float_(tap_error(taps_of(a), precision_of(a), datapath_arguments(a)));
     }},
    {with_datapath_keywords({"accumulator_wraps", {{"taps"}, {"x"}, {"precision"}}, 3}),
     "How many samples of the fixed-point filter over x have a wrapped accumulator: an "
     "exact sum Σ c[j] · s[n - j] that differs from the 32-bit one. With the datapath "
     "keywords, how many exact sums did not fit that datapath's accumulator (wrapped or "
     "saturated).",
     [](const bound_call& a) -> py::object {
       return py::int_(
           accumulator_wraps(taps_of(a), argument(a, "x"), precision_of(a), datapath_arguments(a)));
     }},
    {{"wrap_bound", {{"taps"}, {"precision"}}, 2},
     "The worst case of the accumulator for any input with |x| ≤ 1: a dict of "
     "precision, coefficient_sum (Σ |c|), wrap_free, used_coefficient_sum (Σ |c| of the "
     "coefficients the filter uses), can_wrap and headroom_bits (inf when those are all 0).",
     [](const bound_call& a) -> py::object { return bound_at(taps_of(a), precision_of(a)); }},
    {{"largest_wrap_free_precision", {{"taps"}}, 1},
     "The largest precision at which no input with |x| ≤ 1 can wrap, or None.",
     [](const bound_call& a) -> py::object { return py::cast(wrap_free_limit(taps_of(a))); }},
    {report_signature(),
     "fixfir-report's figures at one precision as a dict: the bands (given as lists of "
     "(low, high) in Hz, else inferred), the ripple and attenuation of the four "
     "responses (figures: taps, coefficients, steady, sweep), the sweep's frequency, "
     "peak and steady arrays and its wraps, the steady state at the band edges and lobe "
     "tops (extreme_frequency, extreme_steady, extreme_wrapped), steady_measured and "
     "steady_reason (why the steady state is NaN for a filter too long for the sweep's run), "
     "the waveform test's wraps, SNR and error_split, the wrap bound, and the summary lines "
     "as fixfir-report prints them (the first says \"taps: N\"). sweep_step defaults to "
     "step. The datapath keywords (as fixfir.export's) measure every figure on that "
     "datapath instead, and add datapath, tap_error, coefficient_overflows, "
     "sample_overflows, sweep_sample_overflows, accumulator_bits_needed and error_budget "
     "(coefficient_db, sample_db, accumulator_db), in place of wrap_bound. A target keyword "
     "(as fixfir.scan's) adds the verdict: targets (those judged, the scan's defaults where "
     "not given), targets_met, and targets_missed (keyword or where it wrapped: how far "
     "short in dB, or how many wrapped), and the verdict's line. sample_rate (Hz, default "
     "16000) is the filter's rate: every frequency given or returned is in Hz at it, the "
     "sweep runs from 4 sample_rate/16000 to sample_rate/2, and the tones and steps are "
     "whole multiples of sample_rate/16000 (real numbers at a rate other than 16000).",
     [](const bound_call& a) -> py::object {
       return report(taps_of(a), precision_of(a), run_argument(a), datapath_arguments(a));
     }},
    {explore_signature(),
     "fixfir-report --explore as a dict: the front (arrays per coefficient word and rounding: "
     "coefficient_bits, coefficient_precision, sample_bits, sample_precision and "
     "accumulator_bits, -1 where the coefficients alone miss a target, rounding, "
     "attenuation_db, ripple_db, snr_db, cost, meets), the targets (for None or NaN the "
     "scan's defaults, and the attenuation target for the SNR; a target must be finite), "
     "recommended (the datapath's keywords, for fixfir.report and fixfir.export, or None), "
     "why, steady_measured and steady_reason (without a steady state the attenuation and "
     "ripple are the coefficients'), the bands and the lines. The given word, accumulator "
     "or rounding ('zero' or 'nearest') keywords fix that axis. sample_rate as "
     "fixfir.report's.",
     [](const bound_call& a) -> py::object {
       const std::optional<std::string> cost = optional_text(argument(a, "cost"), "cost");
       return explore(taps_of(a), run_argument(a), datapath_arguments(a),
                      cost.value_or("multiplier"));
     }},
    {{"scan", scan_with_rate(), 10},
     "fixfir-report's precision scan, 0 to 30, as a dict: rows (one dict per "
     "precision), targets (None or NaN ones default to the unquantized attenuation less "
     "1 dB and ripple plus 0.1 dB, no SNR target; a target must be finite), recommended (a "
     "precision or None), reason, steady_measured and steady_reason (without a steady state "
     "the fixed figures are NaN and the targets apply to the coefficients' figures), the "
     "bands, wrap_free_limit and the scan's lines. sample_rate as fixfir.report's.",
     [](const bound_call& a) -> py::object { return scan(taps_of(a), run_argument(a)); }},
    {with_datapath_keywords(
         with_datapath_keywords(
             {"vectors", {{"taps"}, {"precision"}, {"initial"}, {"step"}, {"ending"}}, 5}),
         OUTPUT_KEYWORDS),
     "The bit-exact test vectors fixfir-report --vectors writes, as a dict: stimulus (each "
     "sample's: 'impulse', 'step', 'max-sum', 'min-sum', 'waveform' or 'random'), and int64 "
     "arrays input (the sample words), accumulator and output (the output words; the "
     "accumulator without output_bits), with input_bits, output_bits and datapath (in "
     "words). The stimuli and their order are the README's; the waveform test is initial to "
     "ending Hz in steps of step Hz. The datapath: precision and the keywords of fixfir.export, "
     "and the output stage's: output_bits (2 to 64), output_precision, output_rounding "
     "('zero', 'nearest', 'floor' or 'convergent') and output_overflow.",
     [](const bound_call& a) -> py::object {
       return vectors(taps_of(a), optional_integer(argument(a, "precision"), "precision"),
                      integer_named(a, "initial"), integer_named(a, "step"),
                      integer_named(a, "ending"), datapath_arguments(a));
     }},
    {with_datapath_keywords(
         with_datapath_keywords({"export", {{"taps"}, {"path"}, {"precision", "None"}}, 3}),
         OUTPUT_KEYWORDS),
     "Writes the coefficient words of taps to path (a str, bytes or os.PathLike, as "
     "open() takes), as fixfir-report --export does, byte for byte: a C header (.h), one "
     "hexadecimal word a line (.mem) or index, integer and value a line (.csv), tap 0 "
     "first; an earlier file is replaced only by a complete one, and is kept when the "
     "write fails (OSError) or Ctrl-C stops it. The datapath: coefficient_bits (2 to 32, "
     "default 32) with coefficient_precision fractional bits (default precision, or with "
     "coefficient_bits the largest at which every tap fits the word), sample_bits and "
     "sample_precision likewise (default W - 1), accumulator_bits (8 to 64, default 32), "
     "rounding 'zero', 'nearest' or 'floor', overflow 'wrap' or 'saturate'; precision or "
     "coefficient_bits is needed. Returns a dict of path (as given, through os.fspath), "
     "count, bits, fraction_bits, overflows (taps that did not fit their word) and words "
     "(the datapath in words).",
     [](const bound_call& a) -> py::object {
       return export_coefficient_file(taps_of(a), argument(a, "path"),
                                      optional_integer(argument(a, "precision"), "precision"),
                                      datapath_arguments(a));
     }},
};

}  // namespace

void define_functions(py::module_& m) {
  for (const binding& b : functions) define(m, b);
}

}  // namespace fixfir::python
