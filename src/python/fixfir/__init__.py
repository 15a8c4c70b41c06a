"""The fixed-point FIR model of the fixfir console tool on numpy arrays.

Every name of the compiled module fixfir._fixfir is here; fixfir.plot draws the dicts of
report() and scan() with matplotlib, which it imports only when it draws.
"""

import numpy as _np

from . import _fixfir
from ._fixfir import *  # noqa: F401,F403 (every public name of the compiled module)
from ._fixfir import export  # noqa: F401 (the coefficient words as a file)
from ._fixfir import __version__  # noqa: F401 (the project's, as fixfir-report --version)
from . import plot  # noqa: F401

__doc__ = _fixfir.__doc__ + "\n\n" + __doc__


def report(taps, precision, initial, step, ending, sweep_step=None, passbands=None,
           stopbands=None, **datapath):
    result = _fixfir.report(taps, precision, initial, step, ending, sweep_step, passbands,
                            stopbands, **datapath)
    # What the figures were made from, for fixfir.plot to draw the curves the dict lacks.
    result["arguments"] = {
        "taps": _np.array(taps, copy=True),
        "initial": initial,
        "step": step,
        "ending": ending,
        "sweep_step": step if sweep_step is None else sweep_step,
        "sample_rate": SAMPLE_RATE if datapath.get("sample_rate") is None
        else datapath["sample_rate"],
    }
    return result


report.__doc__ = (_fixfir.report.__doc__ + "\n\nThe dict also holds its arguments under "
                  "'arguments' (taps, initial, step, ending, sweep_step, sample_rate), which "
                  "fixfir.plot.response and fixfir.plot.waves draw from.")
