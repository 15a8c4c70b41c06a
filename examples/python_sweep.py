#!/usr/bin/env python3
"""A low-pass filter designed in Python, swept by fixfir's fixed-point model at three
precisions.

    PYTHONPATH=build/default/python "$(cat build/default/python/PYTHON)" examples/python_sweep.py [FOLDER]

(build/default/python/PYTHON names the interpreter the package is built for), or with the
package installed, the interpreter it is installed for without PYTHONPATH.

Draws sweep.png in FOLDER (made if need be), or else in a new temporary folder, when
matplotlib is installed, and prints a few figures either way.
"""

import argparse
import tempfile
from pathlib import Path

import numpy as np

import fixfir

TAPS, CUTOFF_HZ = 63, 2000.0

arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
arguments.add_argument("folder", nargs="?", help="where sweep.png goes (default: a new "
                       "temporary folder)")
folder = arguments.parse_args().folder

try:
    from scipy.signal import firwin

    taps = firwin(TAPS, CUTOFF_HZ, fs=fixfir.SAMPLE_RATE)
except ImportError:  # the same Hamming-windowed sinc, scaled to a gain of 1 at 0 Hz
    n = np.arange(TAPS) - (TAPS - 1) / 2
    taps = np.sinc(2 * CUTOFF_HZ / fixfir.SAMPLE_RATE * n) * np.hamming(TAPS)
    taps /= taps.sum()

sweeps = {p: fixfir.sweep(taps, p, 10) for p in (8, 12, 15)}
dense_f, ideal = fixfir.taps_response(taps)  # |H(f)| of the unquantized taps


def db(v):
    with np.errstate(divide="ignore"):
        return 20 * np.log10(v)


# The sweep takes the peak from rest, start-up transient included (as frequency.txt does);
# the steady state after the first TAPS samples shows the quantization alone.
stop = sweeps[15][0] >= 3000
t = np.arange(fixfir.SAMPLE_RATE) / fixfir.SAMPLE_RATE
tone = np.sin(2 * np.pi * 3500.0 * t)
print("above 3 kHz (dB)   swept peak   steady state at 3.5 kHz")
ideal_tone = np.interp(3500.0, dense_f, ideal)
print(f"  ideal |H(f)|    {db(ideal[dense_f >= 3000].max()):9.2f}   {db(ideal_tone):9.2f}")
for precision, (_, peaks) in sweeps.items():
    _, scale = fixfir.quantize(taps, precision)
    y = fixfir.output(fixfir.filter(taps, tone, precision), scale)
    steady = np.abs(y[TAPS:]).max()
    print(f"  precision {precision:2d}    {db(peaks[stop].max()):9.2f}   {db(steady):9.2f}")

scan = fixfir.scan(taps, 100, 50, 4000, sweep_step=10)
print(f"recommended precision: {scan['recommended']} ({scan['reason']})")

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed: no picture")
else:
    for precision, (f, peaks) in sweeps.items():
        plt.plot(f, db(peaks), label=f"fixed point, precision {precision}")
    plt.plot(dense_f, db(ideal), "k--", label="ideal |H(f)|")
    plt.xlabel("frequency (Hz)")
    plt.ylabel("magnitude (dB)")
    plt.ylim(-100, 5)
    plt.legend()
    folder = Path(folder) if folder else Path(tempfile.mkdtemp(prefix="fixfir-sweep-"))
    folder.mkdir(parents=True, exist_ok=True)
    plt.savefig(folder / "sweep.png", dpi=100)
    print(f"picture: {folder / 'sweep.png'}")
