"""fixfir.report and fixfir.explore on a chosen datapath, against the report's own lines.

CTest runs this with FIXFIR_REPORT_EXE at the built report.
"""

import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import fixfir

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "taps.txt"
QUESTIONS = (100, 50, 4000, 16)


def example_taps():
    words = EXAMPLE.read_text().split()
    return np.array([float(w) for w in words[1 : 1 + int(words[0])]], dtype=np.float32)


def report_lines(tmp_path, options):
    exe = os.environ.get("FIXFIR_REPORT_EXE")
    if not exe:
        pytest.skip("FIXFIR_REPORT_EXE is not set")
    (tmp_path / "taps.txt").write_text(EXAMPLE.read_text())
    initial, step, ending, sweep = QUESTIONS
    run = subprocess.run([exe, "--initial", str(initial), "--step", str(step), "--ending",
                          str(ending), "--sweep-step", str(sweep), *options],
                         cwd=tmp_path, capture_output=True, text=True,
                         env={**os.environ, "PATH": "/nonexistent"})
    assert run.returncode == 0, run.stderr
    return run.stdout.splitlines()


def test_the_seed_restated_measures_the_seed():
    taps = example_taps()
    seed = fixfir.report(taps, 15, *QUESTIONS)
    chosen = fixfir.report(taps, 15, *QUESTIONS, coefficient_bits=32, coefficient_precision=15,
                           sample_bits=32, sample_precision=15)
    assert chosen["figures"] == seed["figures"]
    assert chosen["snr_db"] == seed["snr_db"]
    np.testing.assert_array_equal(chosen["peak"], seed["peak"])
    assert chosen["error_budget"]["accumulator_db"] == np.inf
    # The 32-bit engine's wrap bound is the seed's alone; a datapath says how many
    # accumulator bits no input can overflow instead.
    assert "wrap_bound" in seed and "wrap_bound" not in chosen


def test_report_and_explore_say_what_the_command_line_says(tmp_path):
    taps = example_taps()
    chosen = fixfir.report(taps, 15, *QUESTIONS, coefficient_bits=16, sample_bits=14,
                           rounding="nearest", overflow="saturate")
    lines = report_lines(tmp_path, ["--coefficient-bits", "16", "--sample-bits", "14",
                                    "--rounding", "nearest", "--overflow", "saturate"])
    assert lines[0] == "datapath: " + chosen["datapath"]
    # The whole summary, but for the tap file, which the module has not got.
    assert lines == [line + " from ./taps.txt" if line.startswith("taps: ") else line
                     for line in chosen["lines"]]
    explored = fixfir.explore(taps, *QUESTIONS, min_snr_db=60, rounding="nearest")
    lines = report_lines(tmp_path, ["--explore", "--min-snr", "60", "--rounding", "nearest"])
    # The command line adds the taps, the cost and the bands before the front.
    def front_on(text):
        return text[next(i for i, line in enumerate(text) if line.startswith("front:")):]
    assert front_on(lines) == front_on(explored["lines"])
    assert explored["lines"][0] in lines
    best = explored["recommended"]
    assert lines[-3] == ("recommended datapath: coefficients %d bits (%d fractional), samples %d "
                         "bits (%d fractional), accumulator %d bits, rounding to nearest, "
                         "overflow saturates"
                         % (best["coefficient_bits"], best["coefficient_precision"],
                            best["sample_bits"], best["sample_precision"],
                            best["accumulator_bits"]))
    assert lines[-2] == "options: " + " ".join(
        "--%s %s" % (key.replace("_", "-"), best[key])
        for key in ("coefficient_bits", "coefficient_precision", "sample_bits",
                    "sample_precision", "accumulator_bits", "rounding", "overflow"))
    # Measured again on the keywords it recommends, the report gives its row's figures.
    front = explored["front"]
    row = next(i for i in range(len(front["cost"]))
               if front["coefficient_bits"][i] == best["coefficient_bits"]
               and front["rounding"][i] == best["rounding"])
    again = fixfir.report(taps, 15, *QUESTIONS, **best)
    assert again["datapath"] == lines[-3][len("recommended datapath: "):]
    assert again["figures"]["steady"]["worst_attenuation_db"] == front["attenuation_db"][row]
    assert again["figures"]["steady"]["ripple_db"] == front["ripple_db"][row]
    assert again["snr_db"] == front["snr_db"][row]
    assert again["coefficient_overflows"] == 0


@pytest.mark.parametrize("call,keywords,message", [
    ("report", {"coefficient_bits": 1}, "coefficient_bits must be 2 to 32"),
    ("report", {"accumulator_bits": 65}, "accumulator_bits must be 8 to 64"),
    ("report", {"rounding": "up"}, "rounding must be 'zero', 'nearest' or 'floor'"),
    ("report", {"overflow": "clip"}, "overflow must be 'wrap' or 'saturate'"),
    ("explore", {"sample_bits": 40}, "sample_bits must be 2 to 32"),
    ("explore", {"cost": "area"}, "cost must be 'multiplier' or 'bits'"),
    ("explore", {"cost": "cells"}, "cost 'cells' needs synthesis: use fixfir-report"),
    ("explore", {"rounding": "floor"}, "rounding must be 'zero' or 'nearest' for explore"),
    ("report", {"output_bits": 65}, "output_bits must be 2 to 64"),
    ("report", {"output_bits": 12, "output_precision": 97}, "output_precision must be -32 to 96"),
    ("report", {"output_bits": 12, "output_rounding": "even"},
     "output_rounding must be 'zero', 'nearest', 'floor' or 'convergent'"),
    ("explore", {"output_bits": 12, "output_overflow": "clip"},
     "output_overflow must be 'wrap' or 'saturate'"),
    ("explore", {"output_rounding": "nearest"}, "output_rounding shapes the output word"),
    ("vectors", {"output_precision": 3}, "output_precision shapes the output word"),
    ("vectors", {}, "vectors needs precision or the datapath keywords"),
])
def test_bad_choices_name_their_keyword(call, keywords, message):
    taps = example_taps()
    with pytest.raises(ValueError, match=message):
        if call == "report":
            fixfir.report(taps, 15, *QUESTIONS, **keywords)
        elif call == "vectors":
            fixfir.vectors(taps, None, *QUESTIONS[:3], **keywords)
        else:
            fixfir.explore(taps, *QUESTIONS, **keywords)


@pytest.mark.parametrize("keywords", [
    {"coefficient_bits": 16, "sample_bits": 14, "rounding": "nearest"},
    {"coefficient_bits": 8, "coefficient_precision": 12, "overflow": "saturate",
     "accumulator_bits": 20},
])
def test_every_function_measures_the_same_datapath(tmp_path, keywords):
    taps = example_taps()
    initial, step, ending, sweep = QUESTIONS
    r = fixfir.report(taps, 15, *QUESTIONS, **keywords)
    frequencies, peaks = fixfir.sweep(taps, 15, sweep, **keywords)
    np.testing.assert_array_equal(frequencies, r["frequency"])
    np.testing.assert_array_equal(peaks, r["peak"])
    coefficients, scale = fixfir.quantize(taps, 15, **keywords)
    fixfir.export(taps, tmp_path / "c.csv", 15, **keywords)
    rows = (tmp_path / "c.csv").read_text().splitlines()[1:]
    assert [int(row.split(",")[1]) for row in rows] == coefficients.tolist()
    _, x, y = fixfir.waveform_test(taps, 15, initial, step, ending, **keywords)
    assert len(y) == len(x) == fixfir.WAVEFORM_SAMPLES
    assert fixfir.accumulator_wraps(taps, x, 15, **keywords) == r["waveform_wraps"]
    assert fixfir.largest_tap_error(taps, 15, **keywords) == r["tap_error"]
    acc = fixfir.filter(taps, x, 15, **keywords)
    assert acc.dtype == np.int64 and len(acc) == len(x)
    _, magnitude = fixfir.coefficients_response(taps, 15, **keywords)
    assert magnitude[0] == pytest.approx(abs(coefficients.sum()) / scale)


# Small, silent and huge filters are searched (no MemoryError): the accumulator is at least
# the 8 bits a datapath has, a target the bands cannot give says so, no recommendation
# overflows, and without an SNR target the attenuation target is the SNR's.
@pytest.mark.parametrize("taps,recommended,targets", [
    ([0.5], True, "targets: stopband attenuation any (no stopband), passband ripple at most "
                  "0.1000 dB, SNR any, no overflows"),
    ([0.25, 0.5, 0.25], True, "stopband attenuation any (no stopband)"),
    ([0.0, 0.0, 0.0], True, "passband ripple any (no passband)"),
    ([3.4e38], False, "stopband attenuation any (no stopband)"),
    ([1e30, -1e30], False, "SNR any, no overflows"),
    (None, True, "dB (by default the attenuation target), no overflows"),
])
def test_explore_searches_every_filter(taps, recommended, targets):
    taps = example_taps() if taps is None else np.array(taps)
    explored = fixfir.explore(taps, 100, 300, 1000, 500)
    assert targets in explored["lines"][0]
    assert explored["steady_measured"] and explored["steady_reason"] == ""
    best = explored["recommended"]
    assert (best is not None) == recommended
    if best is None:
        assert explored["lines"][-3] == "recommended datapath: none"
        return
    assert best["accumulator_bits"] >= 8 and best["overflow"] == "saturate"
    if not np.isnan(explored["targets"]["min_attenuation_db"]):
        assert explored["targets"]["min_snr_db"] == explored["targets"]["min_attenuation_db"]
    report = fixfir.report(taps, 15, 100, 300, 1000, 500, **best)
    assert report["coefficient_overflows"] == 0


STAGE = {"coefficient_bits": 16, "sample_bits": 14, "rounding": "nearest",
         "overflow": "saturate", "output_bits": 16, "output_rounding": "convergent",
         "output_overflow": "saturate"}


def test_the_output_stage_and_vectors_say_what_the_command_line_says(tmp_path):
    taps = example_taps()
    staged = fixfir.report(taps, 15, *QUESTIONS, **STAGE)
    options = []
    for key, value in STAGE.items():
        options += ["--" + key.replace("_", "-"), str(value)]
    lines = report_lines(tmp_path, options + ["--vectors", "v"])
    assert lines[:-1] == [line + " from ./taps.txt" if line.startswith("taps: ") else line
                          for line in staged["lines"]]
    assert "output 16 bits (14 fractional" in staged["datapath"]
    assert staged["output_overflows"] == 0
    v = fixfir.vectors(taps, None, *QUESTIONS[:3], **STAGE)
    assert lines[-1] == "vectors: %d samples in v (input.mem, expected.mem, vectors.csv)" % len(
        v["input"])
    csv = (tmp_path / "v" / "vectors.csv").read_text().splitlines()
    assert csv[0] == "index,stimulus,input,accumulator,output"
    assert [row.split(",")[1] for row in csv[1:]] == v["stimulus"]
    for column, name in ((2, "input"), (3, "accumulator"), (4, "output")):
        assert [int(row.split(",")[column]) for row in csv[1:]] == v[name].tolist()
    expected = (tmp_path / "v" / "expected.mem").read_text().split()
    assert [int(w, 16) - (1 << 16) * (int(w, 16) >> 15) for w in expected] == v["output"].tolist()
    # Without a stage the output is the accumulator.
    bare = fixfir.vectors(taps, 15, *QUESTIONS[:3])
    np.testing.assert_array_equal(bare["output"], bare["accumulator"])
    assert bare["output_bits"] == 32
