"""The Python module against the console tool's files and a plain-Python model.

CTest runs this with PYTHONPATH at the built module and FIXFIR_EXE at the built tool.
"""

import inspect
import math
import os
import re
import signal
import subprocess
import threading
import time
from decimal import ROUND_HALF_UP, Decimal
from functools import partial
from pathlib import Path

import numpy as np
import pytest

import fixfir

EXAMPLE_TAPS = Path(__file__).resolve().parents[2] / "examples" / "taps.txt"


def example_taps():
    words = EXAMPLE_TAPS.read_text().split()
    return np.array([float(w) for w in words[1 : 1 + int(words[0])]], dtype=np.float32)


def fixed6(v):
    """A float64 as fixfir writes it: 17 significant digits, then six decimals with halves
    rounded away from zero; the sign is kept on a value that rounds to zero."""
    if math.isnan(v):
        return "nan"
    if math.isinf(v):
        return "-inf" if v < 0 else "inf"
    d = Decimal("%.16e" % v).quantize(Decimal("0.000001"), rounding=ROUND_HALF_UP)
    text = format(d, "f")
    return "-" + text if math.copysign(1.0, v) < 0 and not text.startswith("-") else text


def run_console_tool(tmp_path, taps, answers):
    exe = os.environ.get("FIXFIR_EXE")
    if not exe:
        pytest.skip("FIXFIR_EXE is not set (CTest sets it to the built fixfir)")
    # repr of a float32 value widened to float64 reads back as that float32 exactly.
    text = "%d\n%s\n" % (len(taps), "\n".join(repr(float(t)) for t in taps))
    (tmp_path / "taps.txt").write_text(text)
    subprocess.run([exe], cwd=tmp_path, input="\n".join(map(str, answers)) + "\n",
                   capture_output=True, text=True, check=True)
    waves = [line.split("\t") for line in (tmp_path / "waves.txt").read_text().splitlines()]
    sweep_file = tmp_path / "frequency.txt"  # not written when the step is below 1
    lines = sweep_file.read_text().splitlines() if sweep_file.exists() else []
    sweep = [line.split("\t") for line in lines]
    return waves, sweep


# Taps, then the tool's answers: precision, initial, step, ending, and the sweep step.
CONSOLE_CASES = [
    ("example", example_taps(), (15, 100, 50, 4000, 50)),
    ("wraps at 30 bits", np.array([0.9, -0.7, 0.8, 0.95], np.float32), (30, 3000, -250, 200, 97)),
    ("precision 1", np.array([1.5, -2.0, 3.0], np.float32), (1, 1000, 700, 7000, 997)),
    ("one tone, odd taps", np.array([1.5, -2.25, 1e-3, 0.1], np.float32), (22, 440, 7, 440, 401)),
]


@pytest.mark.parametrize("name,taps,answers", CONSOLE_CASES, ids=[c[0] for c in CONSOLE_CASES])
def test_arrays_print_as_the_console_tools_files(tmp_path, name, taps, answers):
    precision, initial, step, ending, sweep_step = answers
    waves, sweep = run_console_tool(tmp_path, taps, (precision, initial, step, ending, 1))
    if sweep_step != step:  # the tool sweeps with the waveform step
        _, sweep = run_console_tool(tmp_path, taps, (precision, initial, sweep_step, ending, 1))
    # float64 taps holding float32 values go through the same single-precision taps.
    columns = fixfir.waveform_test(taps.astype(np.float64), precision, initial, step, ending)
    assert [c.dtype for c in columns] == [np.float64] * 3
    assert len(waves) == fixfir.WAVEFORM_SAMPLES
    for n, line in enumerate(waves):
        assert line == [fixed6(c[n]) for c in columns], f"line {n + 1}"
    frequencies, peaks = fixfir.sweep(taps, precision, sweep_step)
    assert frequencies.dtype == np.int32
    assert [[str(f), fixed6(p)] for f, p in zip(frequencies, peaks)] == sweep


def real_to_int32(v):
    v = float(v)
    wide = int(v) if -(2.0**63) <= v < 2.0**63 else -(2**63)
    wide &= 0xFFFFFFFF
    return wide - 2**32 if wide >= 2**31 else wide


def reference_accumulators(taps, x, precision):
    scale = float(2**precision)
    c = [real_to_int32(float(np.float32(scale)) * float(np.float32(t))) for t in taps]
    s = [real_to_int32(scale * v) for v in x]
    acc = [sum(c[j] * s[n - j] for j in range(min(len(c), n + 1))) for n in range(len(s))]
    return c, [real_to_int32(a % 2**32) for a in acc]


RNG = np.random.default_rng(7)
# Taps, input and precision, chosen to wrap, to truncate negative values toward zero, and to
# meet values beyond 32 and 64 bits and not-a-number.
BIT_CASES = [
    ([0.25, 0.5, 0.25], [1.0, 0.5, -1.0, 0.0, -0.3], 15),
    ([0.9, -0.7, 0.8, 0.95], [1.0, 1.0, -1.0, 1.0, 0.999, -0.5], 30),
    ([-2.7, 3.3], [1.0, -1.0, 0.1, 2.0], 0),
    ([1.0, 1e-9], [1e12, -5e9, 1e30, float("nan"), float("inf"), 0.5], 20),
    (RNG.uniform(-1, 1, 45), RNG.uniform(-1.5, 1.5, 3000), 24),  # spans the engine's chunks
    # Read block by block rather than in place: float32, a reversed stride, int16.
    (RNG.uniform(-1, 1, 45), RNG.uniform(-1.5, 1.5, 3000).astype(np.float32), 24),
    (RNG.uniform(-1, 1, 45), RNG.uniform(-1.5, 1.5, 6000)[::-2], 24),
    ([0.5, -0.25, 0.125], np.arange(-3000, 3000, 7, dtype=np.int16), 3),
]


@pytest.mark.parametrize("taps,x,precision", BIT_CASES)
def test_quantize_and_filter_match_the_plain_model(taps, x, precision):
    coefficients, accumulators = reference_accumulators(taps, x, precision)
    c, scale = fixfir.quantize(taps, precision)
    assert scale == 2**precision and c.dtype == np.int32 and c.tolist() == coefficients
    acc = fixfir.filter(taps, np.asarray(x), precision)
    assert acc.dtype == np.int32 and acc.tolist() == accumulators
    y = fixfir.output(acc, scale)
    assert y.tolist() == [a / (float(scale) * scale) for a in accumulators]


def fit(v, bits, overflow):
    """v in a word of `bits` bits: its low bits, or clamped."""
    lo, hi = -(2 ** (bits - 1)), 2 ** (bits - 1) - 1
    if overflow == "saturate":
        return min(max(v, lo), hi)
    return (v - lo) % 2**bits + lo


# Datapaths whose sums reach past their accumulators, each summed by a different kernel:
# 16-bit words into a 32-bit accumulator; 32-bit words whose sums pass 2^63, short (their
# estimate is rebuilt) and long (summed modulo 2^64); saturating; a 40-bit accumulator.
WORDS_32 = {"coefficient_bits": 32, "sample_bits": 32}
DATAPATH_CASES = [
    ("16-bit words", 40, {"coefficient_bits": 16, "sample_bits": 16}),
    ("32-bit words, A 64", 9, {**WORDS_32, "accumulator_bits": 64}),
    ("32-bit words, A 64, long", 2100, {**WORDS_32, "accumulator_bits": 64}),
    ("32-bit words, A 64 saturates", 9, {**WORDS_32, "accumulator_bits": 64,
                                         "overflow": "saturate"}),
    ("32-bit words, A 40", 300, {**WORDS_32, "accumulator_bits": 40}),
    ("16-bit words, A 24 saturates", 40, {"coefficient_bits": 16, "sample_bits": 16,
                                          "accumulator_bits": 24, "overflow": "saturate"}),
]


@pytest.mark.parametrize("name,count,keywords", DATAPATH_CASES, ids=[c[0] for c in DATAPATH_CASES])
def test_filter_on_a_datapath_matches_the_plain_model(name, count, keywords):
    taps = np.full(count, -0.999)
    taps[::3] = 0.9
    x = np.concatenate([np.full(40, -1.0), RNG.uniform(-1, 1, 400), np.full(40, 0.999)])
    overflow = keywords.get("overflow", "wrap")
    c = [int(v) for v in fixfir.quantize(taps, 15, **keywords)[0]]
    bits = keywords["sample_bits"]
    s = [fit(int(np.trunc(v * 2.0 ** (bits - 1))), bits, overflow) for v in x]
    a = keywords.get("accumulator_bits", 32)
    want = [fit(sum(c[j] * s[n - j] for j in range(min(count, n + 1))), a, overflow)
            for n in range(len(x))]
    got = fixfir.filter(taps, x, 15, **keywords)
    assert got.dtype == np.int64 and got.tolist() == want
    f = fixfir.Filter(taps, 15, **keywords)
    assert np.concatenate([f(x[:7]), f(x[7:300]), f(x[300:])]).tolist() == want


@pytest.mark.parametrize("output", [
    {"output_bits": 10, "output_precision": 12, "output_overflow": "saturate"},
    {"output_bits": 10, "output_precision": 12},
    {"output_bits": 40, "output_precision": 36},  # shifted left, exactly
])
def test_filter_gives_the_output_words_of_its_accumulators(output):
    taps = np.hanning(31) * 0.3
    x = RNG.uniform(-1, 1, 3000)
    words = {"coefficient_bits": 16, "coefficient_precision": 16, "sample_bits": 16,
             "accumulator_bits": 40}
    acc = fixfir.filter(taps, x, 15, **words)
    shift = 16 + 15 - output["output_precision"]  # F_c + F_x - F_y
    # Rounded toward -inf (floor), the word is the accumulator shifted; then fitted.
    want = [fit(a >> shift if shift >= 0 else a << -shift, output["output_bits"],
                output.get("output_overflow", "wrap")) for a in acc.tolist()]
    got = fixfir.filter(taps, x, 15, **words, **output, output_rounding="floor")
    assert got.dtype == np.int64 and got.tolist() == want
    assert got.tolist() != acc.tolist()


# A capture given to a Filter in pieces: the pieces joined are one fixfir.filter call on the
# whole, on the seed's datapath (int32) and on a chosen one (int64).
PIECES = [
    ("one sample", lambda taps, n: [1] * n),
    ("fewer than the taps", lambda taps, n: [len(taps) - 1] * n),
    ("random sizes", lambda taps, n: RNG.integers(0, 3 * len(taps), n)),
]
DATAPATHS = [{}, {"coefficient_bits": 16, "sample_bits": 12, "rounding": "nearest",
                  "accumulator_bits": 24, "overflow": "saturate"},
             {"coefficient_bits": 16, "sample_bits": 16, "output_bits": 12,
              "output_rounding": "convergent", "output_overflow": "saturate"}]


@pytest.mark.parametrize("name,sizes", PIECES, ids=[p[0] for p in PIECES])
@pytest.mark.parametrize("datapath", DATAPATHS, ids=["seed", "datapath", "output stage"])
def test_a_filter_in_pieces_is_one_filter_call(name, sizes, datapath):
    taps = np.hanning(41)[1:-1] * 0.9  # mirrored, as a designed filter's are
    x = RNG.uniform(-2, 2, 2500)
    whole = fixfir.filter(taps, x, 18, **datapath)
    f = fixfir.Filter(taps, 18, **datapath)
    for _ in range(2):  # and again after a reset
        parts, at = [], 0
        for size in sizes(taps, len(x)):
            parts.append(f(x[at : at + size]))
            at += size
            if at >= len(x):
                break
        parts.append(f(x[at:]))
        assert all(p.dtype == whole.dtype for p in parts)
        np.testing.assert_array_equal(np.concatenate(parts), whole)
        f.reset()


@pytest.mark.parametrize("datapath", [{}, {"coefficient_bits": 16, "sample_bits": 16}],
                         ids=["seed", "datapath"])
def test_long_outputs_in_kept_pages_stay_whole_while_any_view_lives(datapath):
    # Outputs of 4 MiB and more lie in pages the module keeps for the next long output once
    # their array is gone: an array or view still alive must never get them.
    taps = np.hanning(17)[1:-1]
    signals = [RNG.uniform(-1, 1, 1_100_000 + 1000 * k) for k in range(5)]
    want = [fixfir.filter(taps, x[:3000], 15, **datapath) for x in signals]
    first = fixfir.filter(taps, signals[0], 15, **datapath)
    view = fixfir.filter(taps, signals[1], 15, **datapath)[:3000]  # its array is only a base
    for k in (2, 3, 4, 2, 3):
        y = fixfir.filter(taps, signals[k], 15, **datapath)
        np.testing.assert_array_equal(y[:3000], want[k])
        del y
    f = fixfir.Filter(taps, 15, **datapath)
    np.testing.assert_array_equal(f(signals[4])[:3000], want[4])
    np.testing.assert_array_equal(first[:3000], want[0])
    np.testing.assert_array_equal(view, want[1])


def unaligned(x):
    buffer = np.zeros(8 * len(x) + 1, np.uint8)
    out = np.frombuffer(buffer.data, np.float64, len(x), offset=1)
    out[:] = x
    return out


SIGNAL = RNG.uniform(-3, 3, 5001)
# Each way a signal can lie: read in place, through a reader of its dtype and stride, or
# converted whole; each must give the bits of the same values as a contiguous float64 array.
SIGNAL_LAYOUTS = [
    ("float64 reversed", SIGNAL[::-1]), ("float64 unaligned", unaligned(SIGNAL)),
    ("float32 strided", SIGNAL.astype(np.float32)[::3]),
    ("int8", (SIGNAL * 40).astype(np.int8)), ("uint16", (np.abs(SIGNAL) * 20000).astype(np.uint16)),
    ("int32 strided", (SIGNAL * 1e8).astype(np.int32)[1::2]),
    ("int64 past 2^53", (SIGNAL * 3e18).astype(np.int64)),
    ("uint64 past 2^63", (np.abs(SIGNAL) * 6e18).astype(np.uint64)),
    ("big-endian float64", SIGNAL.astype(">f8")), ("float16", SIGNAL.astype(np.float16)),
    ("long double", SIGNAL.astype(np.longdouble)), ("list", SIGNAL[:50].tolist()),
]


@pytest.mark.parametrize("name,x", SIGNAL_LAYOUTS, ids=[c[0] for c in SIGNAL_LAYOUTS])
def test_every_signal_layout_reads_as_its_float64_values(name, x):
    taps = RNG.uniform(-1, 1, 37)
    as_float64 = np.array(x, dtype=np.float64)
    np.testing.assert_array_equal(fixfir.filter(taps, x, 4), fixfir.filter(taps, as_float64, 4))
    keywords = {"coefficient_bits": 12, "sample_bits": 20, "sample_precision": 2}
    np.testing.assert_array_equal(fixfir.Filter(taps, 4, **keywords)(x),
                                  fixfir.filter(taps, as_float64, 4, **keywords))


def test_a_filter_busy_in_another_thread_refuses_rather_than_mixing_states():
    taps = RNG.uniform(-1e-4, 1e-4, 30_000)
    f = fixfir.Filter(taps, 15)
    long_call = threading.Thread(target=f, args=(RNG.uniform(-1, 1, 200_000),))
    refused = False
    long_call.start()
    while long_call.is_alive() and not refused:
        try:
            f([0.5])
        except RuntimeError as e:
            refused = "already running in another thread" in str(e)
    long_call.join()
    assert refused
    f.reset()
    assert f([0.5, 1.0]).tolist() == fixfir.filter(taps, [0.5, 1.0], 15).tolist()


def report_stdout(tmp_path, taps, options):
    exe = os.environ.get("FIXFIR_REPORT_EXE")
    if not exe:
        pytest.skip("FIXFIR_REPORT_EXE is not set (CTest sets it to the built fixfir-report)")
    (tmp_path / "taps.txt").write_text("%d\n%s\n" % (len(taps), "\n".join(map(repr, taps))))
    done = subprocess.run([exe, *options], cwd=tmp_path, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


TONES = ["--initial", "100", "--step", "50", "--ending", "4000", "--sweep-step", "100"]
REPORT_CASES = [
    ("report", ["--precision", "15", *TONES],
     lambda t: fixfir.report(t, 15, 100, 50, 4000, sweep_step=100)),
    ("report, bands given", ["--precision", "9", *TONES, "--passband", "0:1500",
                             "--stopband", "2500:8000"],
     lambda t: fixfir.report(t, 9, 100, 50, 4000, 100, [(0, 1500)], [(2500, 8000)])),
    ("report, touching bands", ["--precision", "9", *TONES, "--passband", "-0:1500",
                                "--stopband", "1500:8000"],
     lambda t: fixfir.report(t, 9, 100, 50, 4000, 100, [(-0.0, 1500)], [(1500, 8000)])),
    ("report on a datapath", ["--coefficient-bits", "16", "--sample-bits", "14", *TONES],
     lambda t: fixfir.report(t, 15, 100, 50, 4000, 100, coefficient_bits=16, sample_bits=14)),
    ("scan", ["--scan", *TONES], lambda t: fixfir.scan(t, 100, 50, 4000, sweep_step=100)),
    # The verdict ends both the summary and the module's lines.
    ("report, targets met", ["--precision", "15", *TONES, "--min-snr", "60"],
     lambda t: fixfir.report(t, 15, 100, 50, 4000, 100, min_snr_db=60)),
    ("report, targets missed", ["--precision", "12", *TONES, "--max-ripple", "0.01",
                                "--min-attenuation", "50"],
     lambda t: fixfir.report(t, 12, 100, 50, 4000, 100, min_attenuation_db=50,
                             max_ripple_db=0.01)),
]


@pytest.mark.parametrize("name,options,call", REPORT_CASES, ids=[c[0] for c in REPORT_CASES])
def test_report_figures_are_fixfir_reports(tmp_path, name, options, call):
    taps = [float(t) for t in example_taps()]
    # The tool names its pictures between the lines; the module draws none.
    printed = [line for line in report_stdout(tmp_path, taps, options)
               if not line.startswith("picture")]
    lines = call(np.array(taps))["lines"]
    if name.startswith("report"):
        # The whole summary; the module has no tap file to name.
        taps_line = next(i for i, line in enumerate(lines) if line.startswith("taps: "))
        lines[taps_line] += " from ./taps.txt"
        assert printed == lines
    first = printed.index(lines[0])
    assert printed[first : first + len(lines)] == lines


# The verdict as keys: the targets judged (the scan's defaults where not given), whether all
# are met, and each miss by how much (dB short or over, or how many wrapped).
VERDICT_CASES = [
    ("no target: no verdict", 15, {}, None, None),
    ("met", 15, dict(min_snr_db=60), True, {}),
    ("snr short", 13, dict(min_snr_db=70), False, {"min_snr_db": (0, 20)}),
    ("wraps miss", 20, dict(max_ripple_db=10), False,
     {"waveform_wraps": (1000, 32000), "sweep_wraps": (1, 80), "min_attenuation_db": (1, 100),
      "max_ripple_db": (0, 100)}),
]


@pytest.mark.parametrize("name,precision,targets,met,missed", VERDICT_CASES,
                         ids=[c[0] for c in VERDICT_CASES])
def test_report_verdict_keys(name, precision, targets, met, missed):
    r = fixfir.report(example_taps(), precision, 100, 50, 4000, 100, **targets)
    if met is None:
        assert not {"targets", "targets_met", "targets_missed"} & r.keys()
        assert not r["lines"][-1].startswith("targets:")
        return
    assert r["targets_met"] is met
    assert r["lines"][-1].startswith("targets: met" if met else "targets: missed: ")
    assert r["targets"]["min_attenuation_db"] == targets.get(
        "min_attenuation_db", r["figures"]["taps"]["worst_attenuation_db"] - 1.0)
    assert r["targets"]["max_ripple_db"] == targets.get(
        "max_ripple_db", r["figures"]["taps"]["ripple_db"] + 0.1)
    assert list(r["targets_missed"]) == list(missed)
    for key, (low, high) in missed.items():
        assert low < r["targets_missed"][key] <= high, key


# The report's hardware facts, the summary's lines as numbers: a group delay only with
# symmetry, gains a symmetry zeroes exactly 0, and growth counted in whole bits.
HARDWARE_CASES = [
    ("antisymmetric", [0.5, 0.0, -0.5],
     {"symmetry": "antisymmetric", "multipliers": 1, "group_delay_samples": 1.0,
      "group_delay_ms": 0.0625, "dc_gain": 0.0, "nyquist_gain": 0.0, "abs_sum": 1.0,
      "growth_bits": 0}),
    ("none", [1.0, 0.5],
     {"symmetry": "none", "multipliers": 2, "group_delay_samples": None,
      "group_delay_ms": None, "dc_gain": 1.5, "nyquist_gain": 0.5, "abs_sum": 1.5,
      "growth_bits": 1}),
    ("symmetric_growth", [-1.5, 2.0, -1.5],
     {"symmetry": "symmetric", "multipliers": 2, "group_delay_samples": 1.0,
      "dc_gain": -1.0, "nyquist_gain": -5.0, "abs_sum": 5.0, "growth_bits": 3}),
]


@pytest.mark.parametrize("name,taps,expected", HARDWARE_CASES, ids=[c[0] for c in HARDWARE_CASES])
def test_report_hardware_keys(name, taps, expected):
    r = fixfir.report(np.array(taps), 15, 100, 300, 1000, 2000)
    facts = r["hardware"]
    for key, value in expected.items():
        assert facts[key] == value, key
    assert facts["dc_gain_db"] == (-math.inf if facts["dc_gain"] == 0
                                   else 20 * math.log10(abs(facts["dc_gain"])))
    assert f"symmetry (unquantized taps, compared bit for bit): {facts['symmetry']}" in \
        "\n".join(r["lines"])


# A filter run at a rate with its tones, steps and bands scaled by rate / 16000 gives the
# figures it gives at 16000, and every frequency it returns is the one at 16000 scaled.
@pytest.mark.parametrize("rate", [8000, 44100, 48000, 1e8])
def test_sample_rate_scales_frequencies_and_keeps_figures(rate):
    k = rate / 16000
    base = fixfir.report(example_taps(), 15, 320, 160, 3200, 160, [(0, 1440)], [(2560, 8000)])
    at = fixfir.report(example_taps(), 15, 320 * k, 160 * k, 3200 * k, 160 * k, [(0, 1440 * k)],
                       [(2560 * k, 8000 * k)], sample_rate=rate)
    assert at["figures"] == base["figures"] and at["snr_db"] == base["snr_db"]
    for key in ("peak", "steady", "extreme_steady"):
        np.testing.assert_array_equal(at[key], base[key])
    for key in ("frequency", "extreme_frequency"):
        np.testing.assert_allclose(at[key], base[key] * k, rtol=1e-15)
    assert at["passbands"] == [(0, 1440 * k)] and at["stopbands"] == [(2560 * k, 8000 * k)]
    assert at["hardware"]["group_delay_ms"] == pytest.approx(base["hardware"]["group_delay_ms"] / k)
    hz = re.compile(r"[-+0-9.e]+ (to [-+0-9.e]+ )?(Hz|ms)")
    assert [hz.sub("F", line) for line in at["lines"]] == [hz.sub("F", x) for x in base["lines"]]
    assert at["arguments"]["sample_rate"] == rate


def test_version_is_the_tools():
    exe = os.environ.get("FIXFIR_REPORT_EXE")
    if not exe:
        pytest.skip("FIXFIR_REPORT_EXE is not set (CTest sets it to the built fixfir-report)")
    done = subprocess.run([exe, "--version"], capture_output=True, text=True)
    assert done.returncode == 0 and done.stdout == "fixfir-report %s\n" % fixfir.__version__
    # Installed by pip, the package's own version is the same.
    from importlib import metadata
    try:
        dist = metadata.distribution("fixfir")
    except metadata.PackageNotFoundError:
        return
    if Path(dist.locate_file("fixfir/__init__.py")).resolve() == Path(fixfir.__file__).resolve():
        assert dist.version == fixfir.__version__


def test_responses_and_wraps():
    taps = example_taps().astype(np.float64)
    f, h = fixfir.taps_response(taps)
    assert f[0] == 0 and f[-1] == 8000
    phases = np.exp(-1j * np.outer(2 * np.pi * f[::97] / 16000, np.arange(63)))
    direct = lambda w: np.abs(phases @ w)
    np.testing.assert_allclose(h[::97], direct(taps), atol=1e-12)
    c, scale = fixfir.quantize(taps, 9)
    np.testing.assert_allclose(fixfir.coefficients_response(taps, 9)[1][::97], direct(c / scale),
                               atol=1e-12)
    # At precision 15 an accumulator of 2^31 is 2 in real units: taps summing to 2.7 wrap
    # once the full input has reached all three, taps summing to 0.9 never do.
    loud = np.ones(400)
    assert fixfir.accumulator_wraps([0.9, 0.9, 0.9], loud, 15) == 398
    assert fixfir.accumulator_wraps([0.45, 0.45], loud, 15) == 0
    # Wrap-free while Σ |c| · 2^P ≤ 2^31 - 1: 2.7 · 4^P, and 3 · 4^P.
    assert fixfir.largest_wrap_free_precision([0.9, 0.9, 0.9]) == 14
    assert fixfir.largest_wrap_free_precision([1.5, 1.5]) == 14
    assert fixfir.wrap_bound([1.5, 1.5], 15)["wrap_free"] is False
    # Taps out of the 64-bit range quantize to 0: nothing can wrap.
    out_of_range = fixfir.wrap_bound([3.4e38], 15)
    assert out_of_range["headroom_bits"] == float("inf") and out_of_range["can_wrap"] is False


LONG_FILTER_CASES = [
    (3998, "not measured: the filter's 3997-sample history leaves 3 of the 4000-sample run"),
    (4033, "not reached: the filter is longer than the 4000-sample run"),
]


@pytest.mark.parametrize("count,reason", LONG_FILTER_CASES)
def test_a_filter_too_long_for_the_sweep_has_no_steady_state_and_says_why(count, reason):
    taps = np.hamming(count) * np.sinc((np.arange(count) - (count - 1) / 2) / 8) / 8
    bands = dict(passbands=[(0, 800)], stopbands=[(1500, 8000)])
    r = fixfir.report(taps, 14, 100, 300, 1000, 2000, **bands)
    assert r["steady_measured"] is False and r["steady_reason"].startswith(reason)
    assert np.isnan(r["figures"]["steady"]["ripple_db"]) and np.isnan(r["steady"]).all()
    assert "passband ripple (fixed point, steady state): " + r["steady_reason"] in r["lines"]
    s = fixfir.scan(taps, 100, 300, 1000, 2000, **bands)
    assert s["steady_measured"] is False and s["steady_reason"] == r["steady_reason"]
    assert all(np.isnan(row["fixed_attenuation_db"]) for row in s["rows"])
    assert "of the quantized coefficients" in s["reason"]


ONE = np.array([1.0])
BAD_ARGUMENTS = [
    (fixfir.quantize, ([], 15), ValueError, "taps must not be empty"),
    (fixfir.quantize, (np.ones((2, 2)), 15), ValueError, "one-dimensional"),
    (fixfir.quantize, (np.array([1 + 1j]), 15), TypeError, "complex128"),
    (fixfir.quantize, (["0.5"], 15), TypeError, "real numbers"),
    (fixfir.quantize, (ONE, 31), ValueError, "precision must be 0 to 30"),
    (fixfir.quantize, (ONE, -1), ValueError, "precision must be 0 to 30"),
    (fixfir.filter, (ONE, np.array(1.0), 15), ValueError, "x must be one-dimensional"),
    (fixfir.Filter, (ONE, 31), ValueError, "precision must be 0 to 30"),
    (fixfir.Filter(ONE, 15), (np.ones((2, 2)),), ValueError, "x must be one-dimensional"),
    (fixfir.Filter(ONE, 15), (np.array(["1"]),), TypeError, "x must be an array of real"),
    (fixfir.output, (np.array([0.5]), 2.0), TypeError, "acc must be an array of integers"),
    (fixfir.output, (np.array([2**31]), 2.0), ValueError, "does not fit 32 bits"),
    (fixfir.waveform_test, (ONE, 15, 100, 0, 400), ValueError, "step must not be 0"),
    (fixfir.waveform_test, (ONE, 15, 2**31, 1, 400), ValueError, "initial must fit 32 bits"),
    (fixfir.sweep, (ONE, 15, 0), ValueError, "step must be at least 1"),
    (fixfir.report, (ONE, 15, 100, 50, 400, 0), ValueError, "sweep_step must be at least 1"),
    (fixfir.report, (ONE, 15, 100, 50, 400, 9, [(10, 5)]), ValueError, "passbands: a band"),
    (fixfir.scan, (ONE, 100, 50, 400, 9, *[float("nan")] * 3, [(0, 900)], [(800, 8000)]),
     ValueError, "pass band 0 to 900 Hz overlaps stop band 800 to 8000 Hz"),
    (fixfir.report, (ONE, 15, 100, 50, 400, 9, [(0, 900)], [(800, 8000)]), ValueError,
     "pass band 0 to 900 Hz overlaps stop band 800 to 8000 Hz"),
    (fixfir.report, (ONE, 15, 100, 50, 400, 9, [(0, 1000), (500, 1500)]), ValueError,
     "passbands: pass band 0 to 1000 Hz overlaps pass band 500 to 1500 Hz"),
    (fixfir.report, (ONE, 15, 100, 50, 400, 9, None, [(0, 1e-300)]), ValueError,
     "stopbands: stop band 0 to 1e-300 Hz holds no frequency from 4 to 7996 Hz"),
    # At a sample rate the tones, steps and bands are in Hz at it.
    (partial(fixfir.report, sample_rate=48000), (ONE, 15, 100, 150, 900), ValueError,
     r"^initial: 100 Hz is not a multiple of 3 Hz, the spacing of frequencies at 48000 Hz "
     r"\(nearest: 99 or 102\)$"),
    (partial(fixfir.scan, sample_rate=48000), (ONE, 300, 150, 900, None, None, None, None,
                                               [(0, 30000)]), ValueError,
     r"^passbands: a band is \(low, high\) in hertz within 0 to 24000 with low below high"),
    (partial(fixfir.report, sample_rate=1e8), (ONE, 15, 312500, 312500, 3125000, 0), ValueError,
     "^sweep_step must be at least 6250, not 0$"),
    # More tones than the measurements sum: refused at once rather than hours of sines.
    (fixfir.report, (ONE, 15, 100, 100, 2**31 - 1), ValueError,
     "^the waveform test would sum 21474836 tones, more than 32768: give a larger step"),
    (fixfir.scan, (ONE, 1, 1, 32769), ValueError, "would sum 32769 tones"),
    (partial(fixfir.explore, sample_rate=48000), (ONE, 3, 3, 300000), ValueError,
     "would sum 100000 tones"),
    (fixfir.vectors, (ONE, 15, -10**9, 3, 10**9), ValueError, "would sum 666666667 tones"),
    (fixfir.quantize, (ONE, True), TypeError, "^precision must be an integer, not bool$"),
    (fixfir.sweep, (ONE, 15.0, 10), TypeError, "^precision must be an integer, not float$"),
    (fixfir.waveform_test, (ONE, 15, 100, 2**64, 400), ValueError,
     "^step must fit 32 bits, not 18446744073709551616$"),
    (fixfir.explore, (ONE, 100, 50, 400, None, None, None, float("inf")), ValueError,
     "^min_snr_db must be a finite number of dB"),
    (fixfir.scan, (ONE, 100, 50, 400, None, -float("inf")), ValueError,
     "^min_attenuation_db must be a finite number of dB"),
    (partial(fixfir.report, max_ripple_db=-1), (ONE, 15, 100, 50, 400), ValueError,
     "^max_ripple_db must be 0 dB or more$"),
    (fixfir.scan, (ONE, 100, 50, 400, None, -0.5), ValueError,
     "^min_attenuation_db must be 0 dB or more$"),
    (partial(fixfir.explore, min_snr_db=-1e-300), (ONE, 100, 50, 400), ValueError,
     "^min_snr_db must be 0 dB or more$"),
    (fixfir.report, (ONE, 15, 100, 50, 400, 9, [(0, "900")]), TypeError,
     r"^passbands must be a list of \(low, high\) pairs in hertz, not a pair holding str$"),
    # A tap that is not a finite number, or beyond the float range, is refused by its index.
    (fixfir.quantize, ([0.5, float("nan")], 15), ValueError,
     r"^tap 1 is not a finite number \(nan\)$"),
    (fixfir.explore, ([0.5, float("inf")], 100, 50, 400), ValueError,
     r"^tap 1 is not a finite number \(inf\)$"),
    (fixfir.report, ([-1e39, 0.5], 15, 100, 50, 400), ValueError,
     r"^tap 0 is not a finite number \(-inf\)$"),
    (fixfir.wrap_bound, (np.array([0.5, 0.25, np.inf], dtype=np.float32), 15), ValueError,
     r"^tap 2 is not a finite number \(inf\)$"),
    # The datapath keywords are read by one parser for every function and for the class:
    # keyword-only, typed and checked alike, and only those a function takes.
    (partial(fixfir.Filter, coefficient_bits=2.5), (ONE, 15), TypeError,
     "^coefficient_bits must be an integer, not float$"),
    (partial(fixfir.Filter, sample_bits=40), (ONE, 15), ValueError, "^sample_bits must be 2 to 32$"),
    (partial(fixfir.sweep, rounding=0), (ONE, 15, 10), TypeError, "^rounding must be a str, not int$"),
    (partial(fixfir.quantize, coefficient_precision=2**40), (ONE, 15), ValueError,
     "^coefficient_precision must fit 32 bits"),
    (partial(fixfir.largest_tap_error, overflow="clip"), (ONE, 15), ValueError,
     "^overflow must be 'wrap' or 'saturate', not 'clip'$"),
    (fixfir.quantize, (ONE, 15, 16), TypeError,
     r"^quantize\(\) takes 2 positional arguments but 3 were given$"),
    (partial(fixfir.sweep, precision=15), (ONE, 15, 10), TypeError,
     r"^sweep\(\) got multiple values for argument 'precision'$"),
    (partial(fixfir.explore, overflow="wrap"), (ONE, 100, 50, 400), TypeError,
     r"^explore\(\) got an unexpected keyword argument 'overflow'$"),
    (partial(fixfir.explore, sample_precision=3), (ONE, 100, 50, 400), TypeError,
     r"^explore\(\) got an unexpected keyword argument 'sample_precision'$"),
]


@pytest.mark.parametrize("function,args,error,message", BAD_ARGUMENTS)
def test_bad_arguments_raise(function, args, error, message):
    with pytest.raises(error, match=message):
        function(*args)


# Every function's parameters by kind: a valid argument (for the required ones), and wrong
# ones, each of which must raise TypeError or ValueError in one line that names the
# parameter, before any work is done and without echoing the other arguments.
INTEGER = [True, np.bool_(True), 2.5, "15", 2**70]
PARAMETER_KINDS = {
    "taps": ([0.5], ["0.5", True, [], [[0.5]]]),
    "x": ([0.5, -0.5], ["0.5", True, [[1.0]]]),
    "acc": ([1], [[0.5], "1"]),
    "scale": (2.0, [True, "2", None, 0, float("nan"), float("inf"), 1e-200, 1e200]),
    "path": ("c.h", [3, "keep.txt\x00.h", b"keep.txt\x00.h", "c.txt"]),
    # A word is shown quoted as repr quotes it: no line break or NUL reaches the message, and
    # a lone surrogate (UTF-8 cannot encode it) is a ValueError, not a failed conversion.
    **{name: (None, [3, True, b"zero", "up", "zero\n", "wrap\x00", "\ud800"])
       for name in ("rounding", "overflow", "cost", "output_rounding", "output_overflow")},
    "sample_rate": (None, [True, "48000", 0, -48000, float("nan"), float("inf"), 1e300]),
    "passbands": (None, ["0:100", [3], [(0, "1")], [(None, 5)], [(0, True)]]),
    "stopbands": (None, ["0:100", [(9000, 8000)]]),
    **{name: (None, [True, float("inf"), "60"])
       for name in ("min_attenuation_db", "max_ripple_db", "min_snr_db")},
    **{name: ({"precision": 15, "initial": 100, "step": 1000, "ending": 400}.get(name), INTEGER)
       for name in ("precision", "initial", "step", "ending", "sweep_step", "coefficient_bits",
                    "coefficient_precision", "sample_bits", "sample_precision",
                    "accumulator_bits", "output_bits", "output_precision")},
}
FUNCTIONS = sorted(name for name in dir(fixfir._fixfir)
                   if callable(getattr(fixfir._fixfir, name)) and not name.startswith("_")
                   and not isinstance(getattr(fixfir._fixfir, name), type))


def test_filter_class_refuses_its_arguments_by_name():
    with pytest.raises(TypeError, match=r"^Filter\(\) got an unexpected keyword argument 'precison'$"):
        fixfir.Filter([0.5], precison=15)
    with pytest.raises(TypeError, match=r"^precision must be an integer, not bool$"):
        fixfir.Filter([0.5], True)
    with pytest.raises(ValueError, match=r"^tap 0 is not a finite number \(nan\)$"):
        fixfir.Filter([float("nan")], 15)


DATAPATH = ("coefficient_bits=None, coefficient_precision=None, sample_bits=None, "
            "sample_precision=None, accumulator_bits=None, rounding=None, overflow=None")
OUTPUT = "output_bits=None, output_precision=None, output_rounding=None, output_overflow=None"
QUESTIONS_AND_TARGETS = ("taps, initial, step, ending, sweep_step=None, min_attenuation_db=None, "
                         "max_ripple_db=None, min_snr_db=None, passbands=None, stopbands=None")
SIGNATURES = {
    "quantize": "taps, precision, *, " + DATAPATH,
    "filter": "taps, x, precision, *, " + DATAPATH + ", " + OUTPUT,
    "output": "acc, scale",
    "waveform_test": "taps, precision, initial, step, ending, *, " + DATAPATH,
    "sweep": "taps, precision, step, *, " + DATAPATH,
    "taps_response": "taps",
    "coefficients_response": "taps, precision, *, " + DATAPATH,
    "largest_tap_error": "taps, precision, *, " + DATAPATH,
    "accumulator_wraps": "taps, x, precision, *, " + DATAPATH,
    "wrap_bound": "taps, precision",
    "largest_wrap_free_precision": "taps",
    "report": "taps, precision, initial, step, ending, sweep_step=None, passbands=None, "
              "stopbands=None, *, " + DATAPATH
              + ", min_attenuation_db=None, max_ripple_db=None, min_snr_db=None, sample_rate=None, "
              + OUTPUT,
    "scan": QUESTIONS_AND_TARGETS + ", *, sample_rate=None",
    "explore": QUESTIONS_AND_TARGETS + ", *, coefficient_bits=None, sample_bits=None, "
               "accumulator_bits=None, rounding=None, cost='multiplier', sample_rate=None, " + OUTPUT,
    "export": "taps, path, precision=None, *, " + DATAPATH + ", " + OUTPUT,
    "vectors": "taps, precision, initial, step, ending, *, " + DATAPATH + ", " + OUTPUT,
}


def test_every_function_has_its_signature():
    assert sorted(SIGNATURES) == FUNCTIONS
    for name, parameters in SIGNATURES.items():
        function = getattr(fixfir._fixfir, name)
        assert str(inspect.signature(function)) == "(%s)" % parameters, name
    assert fixfir.Filter.__init__.__doc__.startswith(
        "Filter(taps, precision, *, %s, %s)\n--\n\n" % (DATAPATH, OUTPUT))


def valid_arguments(parameters, tmp_path):
    arguments = {}
    for p in parameters:
        if p.default is inspect.Parameter.empty:
            value = PARAMETER_KINDS[p.name][0]
            arguments[p.name] = tmp_path / value if p.name == "path" else value
    return arguments


@pytest.mark.parametrize("name", FUNCTIONS)
def test_every_argument_is_refused_by_name(tmp_path, name):
    function = getattr(fixfir, name)
    parameters = inspect.signature(getattr(fixfir._fixfir, name)).parameters.values()
    base = valid_arguments(parameters, tmp_path)
    with pytest.raises(TypeError) as raised:
        function(**base, precison=15)
    assert str(raised.value) == "%s() got an unexpected keyword argument 'precison'" % name
    with pytest.raises(TypeError, match=r"unexpected keyword argument '\\ud800'$"):
        function(**base, **{"\ud800": 15})
    wrong = [(p, v) for p in parameters for v in PARAMETER_KINDS[p.name][1]
             + ([None] if p.default is inspect.Parameter.empty else [])]
    for p, value in wrong:
        with pytest.raises((TypeError, ValueError)) as raised:
            function(**{**base, p.name: value})
        message = str(raised.value)
        assert p.name in message and not {"\n", "\x00"} & set(message), (
            "%s(%s=%r): %s" % (name, p.name, value, message))
        assert "array(" not in message
    assert list(tmp_path.iterdir()) == []  # nothing written by a refused export


def test_arguments_are_left_as_they_were():
    taps = RNG.uniform(-1, 1, 9)
    x = RNG.uniform(-2, 2, 200)
    acc = np.arange(-5, 5, dtype=np.int32)
    kept = [a.copy() for a in (taps, x, acc)]
    strided = x[::2]  # not contiguous: copied in, as a contiguous array would be
    contiguous = strided.copy()
    assert fixfir.filter(taps, strided, 20).tolist() == fixfir.filter(taps, contiguous, 20).tolist()
    fixfir.quantize(taps, 20)
    fixfir.output(acc, 8.0)
    fixfir.accumulator_wraps(taps, x, 20)
    fixfir.waveform_test(taps, 20, 100, 100, 300)
    for before, after in zip(kept, (taps, x, acc)):
        assert before.dtype == after.dtype and np.array_equal(before, after)


# Calls that take many seconds uninterrupted: Ctrl-C must end each within a fraction of one.
SMALL_TAPS = RNG.uniform(-1e-3, 1e-3, 4000)
LONG_CALLS = [
    ("filter", lambda d: fixfir.filter(RNG.uniform(-1e-5, 1e-5, 100_000),
                                     RNG.uniform(-1, 1, 2_000_000), 15)),
    ("filter on a datapath", lambda d: fixfir.filter(RNG.uniform(-1e-5, 1e-5, 100_000),
                                                   RNG.uniform(-1, 1, 2_000_000), 15,
                                                   coefficient_bits=32, sample_bits=32)),
    ("Filter", lambda d: fixfir.Filter(RNG.uniform(-1e-5, 1e-5, 100_000), 15)(
        RNG.uniform(-1, 1, 2_000_000)[::2])),
    ("waveform_test", lambda d: fixfir.waveform_test(ONE, 15, 1, 1, 100_000)),
    ("sweep", lambda d: fixfir.sweep(SMALL_TAPS, 15, 1)),
    ("report", lambda d: fixfir.report(SMALL_TAPS, 15, 100, 100, 1000, sweep_step=1)),
    ("scan", lambda d: fixfir.scan(SMALL_TAPS, 100, 100, 1000, sweep_step=1)),
    # Taps summing to far more than 1 at precision 30: every sample's exact sum is checked.
    ("accumulator_wraps", lambda d: fixfir.accumulator_wraps(
        RNG.uniform(0.4, 0.5, 4000), RNG.uniform(0.5, 1, 1_000_000), 30)),
    # 2^23 taps are 260 MB of text: the earlier file must be kept whole.
    ("export", lambda d: fixfir.export(np.full(2**23, 0.25), d / "earlier.csv", 15)),
]


@pytest.mark.parametrize("name,call", LONG_CALLS, ids=[c[0] for c in LONG_CALLS])
def test_ctrl_c_stops_a_long_call(tmp_path, name, call):
    (tmp_path / "earlier.csv").write_text("earlier")
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

    timer = threading.Timer(0.3, interrupt)
    try:
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            call(tmp_path)
        # Generous, for a loaded machine; uninterrupted, each call takes far longer.
        assert time.monotonic() - sent[0] < 2.0
    finally:
        timer.cancel()
        timer.join()
        signal.signal(signal.SIGINT, previous)
    # Nothing of the interrupted call is left to stop the next one, or in the folder.
    assert fixfir.filter([1.0], [0.5], 1).tolist() == [2]
    assert os.listdir(tmp_path) == ["earlier.csv"]
    assert (tmp_path / "earlier.csv").read_text() == "earlier"
