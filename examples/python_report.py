#!/usr/bin/env python3
"""An equiripple low-pass filter designed with scipy, measured by fixfir at every precision,
and shown with fixfir.plot: the report and its pictures, in Python.

    python3 examples/python_report.py [FOLDER]   # with the package installed (pip install .)

It saves scan.png, response.png and waves.png in FOLDER (made if need be), or else in a new
temporary folder, and prints where. Cells are separated by `# %%`, so an editor that knows
them runs it a cell at a time. With no display it draws with Agg and only saves the
pictures; with one it also shows them.
"""

# %% Imports: Agg when there is no display to show the figures on.
import argparse
import os
import sys
import tempfile
from pathlib import Path

import matplotlib

if not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")
        or "ipykernel" in sys.modules):
    matplotlib.use("Agg")
import matplotlib.pyplot as plt

try:
    from scipy.signal import remez
except ImportError:
    sys.exit("this example designs its filter with scipy: apt-get install python3-scipy")

import fixfir

# %% Where the pictures go: the folder named on the command line, or a new temporary one.
arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
arguments.add_argument("folder", nargs="?", help="where the pictures go (default: a new "
                       "temporary folder)")
# Run cell by cell in an editor's kernel, the arguments are the kernel's own, not a folder.
folder = arguments.parse_args([] if "ipykernel" in sys.modules else sys.argv[1:]).folder
folder = Path(folder) if folder else Path(tempfile.mkdtemp(prefix="fixfir-report-"))
folder.mkdir(parents=True, exist_ok=True)
print(f"pictures go to {folder}")

# %% Design: 63 taps, pass band to 1600 Hz, stop band from 2300 Hz.
PASSBAND, STOPBAND = (0, 1600), (2300, 8000)
taps = remez(63, [*PASSBAND, *STOPBAND], [1, 0], fs=fixfir.SAMPLE_RATE)
TONES = dict(initial=100, step=50, ending=4000, sweep_step=10)
BANDS = dict(passbands=[PASSBAND], stopbands=[STOPBAND])

# %% Which precision: every one from 0 to 30, against the design's own figures.
scan = fixfir.scan(taps, **TONES, **BANDS)
print("\n".join(scan["lines"][-2:]))
fixfir.plot.scan(scan).savefig(folder / "scan.png", dpi=100)

# %% The report at the recommended precision (the wrap-free limit when none meets the targets).
precision = scan["recommended"]
if precision is None:
    precision = scan["wrap_free_limit"] or 0
report = fixfir.report(taps, precision, **TONES, **BANDS)
print("\n".join(report["lines"]))
fixfir.plot.response(report).savefig(folder / "response.png", dpi=100)
fixfir.plot.waves(report).savefig(folder / "waves.png", dpi=100)
print("pictures: " + ", ".join(str(folder / name) for name in ("scan.png", "response.png",
                                                                "waves.png")))

# %% Show them when there is a display.
if matplotlib.get_backend().lower() != "agg":
    plt.show()
