"""matplotlib views of fixfir.report() and fixfir.scan(): the pictures fixfir-report draws.

    r = fixfir.report(taps, 15, 100, 4, 4000)
    fixfir.plot.response(r)   # the four responses, bands shaded, and the pass bands zoomed
    fixfir.plot.waves(r)      # the waveform test's first 20 ms and its error spectrum
    fixfir.plot.scan(fixfir.scan(taps, 100, 4, 4000))
    fixfir.plot.explore(fixfir.explore(taps, 100, 4, 4000))  # the front, one panel a rounding

Each draws on the axes given as `ax` (one Axes draws the upper panel alone; a pair draws
both) or on a new figure, and returns the figure. matplotlib is imported only here, when a
view is drawn.
"""

import math
import types

import numpy as np

from . import _fixfir
from .plot_models import SPECTRUM_SEGMENT, _error_spectra, _waveform_model  # noqa: F401

NYQUIST_HZ = 8000.0

PASS_GREEN, COEF_BLUE, FIXED_RED, SNR_PURPLE = "#2ca02c", "#1f77b4", "#d62728", "#9467bd"


def _pyplot():
    try:
        import matplotlib.pyplot as plt
    except ImportError as e:
        raise ImportError("fixfir.plot needs matplotlib: apt-get install python3-matplotlib "
                          "(Debian), or pip install matplotlib") from e
    return plt


def _panels(ax, size):
    """(figure, [upper, lower]): a new figure of two panels, or the axes given."""
    plt = _pyplot()
    if ax is None:
        fig, axes = plt.subplots(2, 1, figsize=size, layout="constrained")
        return fig, list(axes)
    axes = list(ax) if isinstance(ax, (list, tuple, np.ndarray)) else [ax]
    return axes[0].figure, (axes + [None])[:2]


def _legend(a, columns):
    """Beneath the panel, where it hides no curve whatever the filter."""
    a.legend(loc="upper center", bbox_to_anchor=(0.5, -0.13), ncols=columns, fontsize="small")


def _db(v, power=False):
    with np.errstate(divide="ignore", invalid="ignore"):
        return (10 if power else 20) * np.log10(np.asarray(v, dtype=float))


def _finite(*arrays):
    values = np.concatenate([np.ravel(np.asarray(a, dtype=float)) for a in arrays])
    return values[np.isfinite(values)]


def _in_bands(bands, f):
    f = np.asarray(f, dtype=float)
    inside = np.zeros(f.shape, bool)
    for low, high in bands:
        inside |= (f >= low) & (f <= high)
    return inside


# What each view reads of its dict, and the function that makes such a dict.
_READS = {
    "response": ("report", ("precision", "passbands", "stopbands", "figures", "frequency",
                            "peak", "steady", "sweep_wrapped", "extreme_frequency",
                            "extreme_steady", "extreme_wrapped")),
    "waves": ("report", ("precision", "waveform_wraps")),
    "scan": ("scan", ("rows", "targets", "wrap_free_limit", "recommended")),
    "explore": ("explore", ("front", "targets", "recommended")),
}
# A key that only one function's dict holds.
_MADE_BY = (("rows", "scan"), ("front", "explore"), ("figures", "report"))


def _check_kind(result, view):
    """A TypeError, rather than a KeyError deep in the drawing, for the wrong dict."""
    maker, keys = _READS[view]
    if isinstance(result, dict):
        missing = [key for key in keys if key not in result]
        if not missing:
            return
        made = next((m for key, m in _MADE_BY if key in result), maker)
        given = (f"a dict of fixfir.{made}()" if made != maker
                 else f"a dict without {missing[0]!r}")
    else:
        given = type(result).__name__
    raise TypeError(f"fixfir.plot.{view} draws a dict of fixfir.{maker}(), not {given}")


def _on_datapath(result, view):
    if "datapath" in result:
        raise ValueError(f"fixfir.plot.{view} draws reports at a precision; this one is on "
                         f"the datapath '{result['datapath']}' (fixfir-report draws it)")


def _arguments(result, view):
    _check_kind(result, view)
    _on_datapath(result, view)
    arguments = result.get("arguments")
    if arguments is None:
        raise ValueError(f"fixfir.plot.{view} draws a dict of fixfir.report(), which holds "
                         "the taps and tones under 'arguments'")
    return arguments


def _rate(result):
    """The filter's sample rate: every frequency of the dict is in Hz at it."""
    return float((result.get("arguments") or {}).get("sample_rate", _fixfir.SAMPLE_RATE))


def _steady_curve(f, steady, taps, rate=_fixfir.SAMPLE_RATE):
    """The steady state where the swept frequencies stand close enough to follow the ripple
    (an eighth of a side lobe, rate / 8 / taps Hz, apart), NaN between such runs, and the
    points that stand further apart, which are marked alone, so no straight line cuts across
    a lobe: ((frequencies, levels) of the curve, (frequencies, levels) of the lone points)."""
    gap = rate / 8.0 / taps if taps else 0.0
    close = np.diff(f) <= gap
    keep = np.zeros(len(f), bool)
    keep[:-1] |= close
    keep[1:] |= close
    xs, ys = [], []
    for i in np.flatnonzero(keep):
        if xs and not (f[i] - xs[-1] <= gap):
            xs.append(np.nan)
            ys.append(np.nan)
        xs.append(f[i])
        ys.append(steady[i])
    return (np.array(xs, dtype=float), np.array(ys, dtype=float)), (f[~keep], steady[~keep])


def _response_data(result):
    """What the two panels of response() draw, read from fixfir.report()'s dict."""
    d = types.SimpleNamespace(passbands=result["passbands"], stopbands=result["stopbands"],
                              figures=result["figures"]["taps"], dense=[], rate=_rate(result))
    d.nyquist = d.rate / 2
    d.f = np.asarray(result["frequency"], dtype=float)
    d.steady, d.peak = _db(result["steady"]), _db(result["peak"])
    d.wrapped = np.asarray(result["sweep_wrapped"], bool)
    d.ef = np.asarray(result["extreme_frequency"], dtype=float)
    d.extreme = _db(result["extreme_steady"])
    d.extreme_wrapped = np.asarray(result["extreme_wrapped"], bool)
    arguments = result.get("arguments")
    d.title = f"precision {result['precision']}"
    taps = None
    if arguments is not None:  # (frequency, dB, colour, width, label) of |H(f)| and |C(f)|
        taps = arguments["taps"]
        fd, h = _fixfir.taps_response(taps)
        fd = fd * (d.rate / _fixfir.SAMPLE_RATE)  # the grid is in Hz at 16000
        _, c = _fixfir.coefficients_response(taps, result["precision"])
        d.dense = [(fd, _db(h), PASS_GREEN, 2, "unquantized taps |H(f)|"),
                   (fd, _db(c), COEF_BLUE, 1.5, "quantized coefficients |C(f)|/scale")]
        d.title = f"{len(taps)} taps at " + d.title
    d.curve, d.dots = _steady_curve(d.f, d.steady, len(taps) if taps is not None else 0,
                                    d.rate)
    if d.wrapped.any():
        d.title += (f": the accumulator WRAPS at {int(d.wrapped.sum())} of {len(d.f)} swept "
                    "frequencies (marked x)")
    return d


def _response_curves(a, d, labelled, dot):
    """The bands, their edges and every response of `d` on the panel `a`."""
    for low, high in d.passbands:
        a.axvspan(low, high, color=PASS_GREEN, alpha=0.08, lw=0)
    for low, high in d.stopbands:
        a.axvspan(low, high, color=FIXED_RED, alpha=0.06, lw=0)
    for low, high in [*d.passbands, *d.stopbands]:
        for edge in (low, high):
            if 0 < edge < d.nyquist:
                a.axvline(edge, ls=":", color="#555555", lw=1)
    a.plot(d.f, d.peak, color="#bbbbbb", lw=1,
           label="sweep peak, start-up transient included (frequency.txt)")
    for fd, level, colour, width, label in d.dense:
        a.plot(fd, level, color=colour, lw=width, label=label)
    # The key names the curve, or the lone points where there is no curve.
    label = "fixed point, steady state (fitted)"
    curve = len(d.curve[0]) > 0
    a.plot(*d.curve, color=FIXED_RED, lw=1.2, label=label if curve else "_nolegend_")
    a.plot(*d.dots, "o", color=FIXED_RED, ms=dot, label="_nolegend_" if curve else label)
    a.plot(d.ef, d.extreme, "o", mfc="none", mec=FIXED_RED, ms=6,
           label="the same at band edges and |C(f)| lobe tops")
    a.plot(np.concatenate([d.f[d.wrapped], d.ef[d.extreme_wrapped]]),
           np.concatenate([d.steady[d.wrapped], d.extreme[d.extreme_wrapped]]), "x",
           color="black", ms=5,
           label="wrapped" if d.wrapped.any() or d.extreme_wrapped.any() else "_nolegend_")
    a.grid(True, alpha=0.4)
    a.set_xlabel("frequency (Hz)")
    a.set_ylabel("magnitude (dB)")
    if labelled:
        _legend(a, 3)


def _magnitude_axes(main, d):
    """The upper panel's range, the unquantized attenuation level and the title."""
    levels = _finite(d.steady, d.peak, d.extreme, *[x[1] for x in d.dense])
    high = math.ceil(levels.max() / 10) * 10 + 5 if levels.size else 10.0
    low = math.floor(max(levels.min(), high - 180) / 10) * 10 if levels.size else -100.0
    main.set_xlim(0, d.nyquist)
    main.set_ylim(low, high)
    floor_level = d.figures["passband_max_db"] - d.figures["worst_attenuation_db"]
    if math.isfinite(floor_level):
        main.axhline(floor_level, ls="--", lw=1.5, color="black")
        main.annotate(f"unquantized attenuation {d.figures['worst_attenuation_db']:.2f} dB",
                      (0.99, floor_level), xycoords=("axes fraction", "data"),
                      xytext=(0, 4), textcoords="offset points", ha="right", va="bottom")
    main.set_title("Magnitude: green pass bands, red stop bands")


def _zoom_axes(zoom, d):
    """The lower panel's range over the pass bands, the unquantized ripple's bounds, title."""
    zoomed = [d.steady[_in_bands(d.passbands, d.f) & ~d.wrapped],
              d.extreme[_in_bands(d.passbands, d.ef) & ~d.extreme_wrapped]]
    zoomed += [x[1][_in_bands(d.passbands, x[0])] for x in d.dense]
    levels = _finite(*zoomed)
    low, high = (levels.min(), levels.max()) if levels.size else (-1.0, 1.0)
    margin = max(0.1 * (high - low), 1e-4)
    zoom.set_ylim(low - margin, high + margin)
    if d.passbands:
        start, end = d.passbands[0][0], d.passbands[-1][1]
        pad = max(0.03 * (end - start), d.rate / 800.0)
        zoom.set_xlim(max(0.0, start - pad), min(d.nyquist, end + pad))
    top = d.figures["passband_max_db"]
    for level in (top, top - d.figures["ripple_db"]):
        if math.isfinite(level):
            zoom.axhline(level, ls="--", lw=1.5, color="black")
    zoom.set_title("Pass bands, zoomed: dashed lines bound the unquantized ripple of "
                   f"{round(d.figures['ripple_db'], 4):g} dB")


def response(result, ax=None):
    """The four responses of fixfir.report()'s dict in dB with the bands shaded, the steady
    state at the band extremes circled and wrapped frequencies marked (x); below, the pass
    bands zoomed. The steady state is marked at each swept frequency and joined only where
    the sweep's points stand close enough to follow the ripple."""
    _check_kind(result, "response")
    _on_datapath(result, "response")
    fig, (main, zoom) = _panels(ax, (11, 10))
    d = _response_data(result)
    _response_curves(main, d, True, 2)
    _magnitude_axes(main, d)
    if zoom is None:
        main.set_title(d.title, loc="left", fontsize="small")
        return fig
    fig.suptitle(d.title)
    _response_curves(zoom, d, False, 3)
    _zoom_axes(zoom, d)
    return fig


def waves(result, ax=None):
    """The waveform test of fixfir.report()'s dict: input and outputs over the first 20 ms;
    below, the spectrum of the output error beside its coefficient part and the arithmetic
    noise the truncation model predicts."""
    arguments = _arguments(result, "waves")
    fig, (upper, lower) = _panels(ax, (11, 9))
    precision = result["precision"]
    taps = arguments["taps"]
    # The tones in whole Hz at 16000, where the test runs; time and frequency back at the rate.
    rate = _rate(result)
    per_hz = _fixfir.SAMPLE_RATE / rate
    tones = [int(round(arguments[k] * per_hz)) for k in ("initial", "step", "ending")]
    time, x, fixed = _fixfir.waveform_test(taps, precision, *tones)
    reference, error, coefficient, predicted = _error_spectra(taps, precision, x, fixed)
    window = slice(0, int(0.02 * _fixfir.SAMPLE_RATE))
    ms = time[window] * 1000 * per_hz
    window_ms = 20 * per_hz
    upper.plot(ms, x[window], color="#7f7f7f", label="input")
    upper.plot(ms, fixed[window], color=FIXED_RED, lw=1.5,
               label="fixed-point output (as in waves.txt)")
    upper.plot(ms, reference[window], "--", color=COEF_BLUE, lw=1.5,
               label="double-precision output, unquantized taps")
    title = f"Waveform test at precision {precision}: the first {window_ms:.3g} ms"
    if result["waveform_wraps"] > 0:
        title += f", the accumulator WRAPS at {result['waveform_wraps']} samples"
    upper.set_title(title)
    upper.set_xlim(0, window_ms)
    upper.set_xlabel("time (ms)")
    upper.set_ylabel("amplitude")
    upper.grid(True, alpha=0.4)
    _legend(upper, 3)
    if lower is None:
        return fig
    f = np.arange(SPECTRUM_SEGMENT // 2 + 1) * rate / SPECTRUM_SEGMENT
    spectra = [_db(s, power=True) for s in (error, coefficient, predicted)]
    lower.plot(f, spectra[0], color=SNR_PURPLE, lw=1.5,
               label="error: fixed point minus double precision")
    lower.plot(f, spectra[1], color=COEF_BLUE, lw=1, label="of which coefficient quantization")
    lower.plot(f, spectra[2], "--", color="black", lw=2,
               label="arithmetic noise predicted by the truncation model")
    levels = _finite(*spectra)
    high = math.ceil(levels.max() / 10) * 10 + 5 if levels.size else 0.0
    low = math.floor(max(levels.min(), high - 200) / 10) * 10 if levels.size else -100.0
    lower.set_ylim(low, high)
    lower.set_xlim(0, rate / 2)
    lower.set_title("Spectrum of the output error over the whole test "
                    f"({SPECTRUM_SEGMENT}-sample Hann segments)")
    lower.set_xlabel("frequency (Hz)")
    # Powers of sample values: 0 dB is the power of a constant 1.0.
    b = rate / SPECTRUM_SEGMENT
    lower.set_ylabel(f"error power per {f'{b:.3g}' if b < 1000 else f'{b:.0f}'} Hz bin "
                     "(dB relative to 1.0²)")
    lower.grid(True, alpha=0.4)
    _legend(lower, 3)
    return fig


def scan(result, ax=None):
    """fixfir.scan()'s dict: SNR and attenuation against precision with the wrap-free limit,
    the recommendation and the targets; below, the pass-band ripple on a log scale."""
    _check_kind(result, "scan")
    fig, (upper, lower) = _panels(ax, (11, 9))
    rows = result["rows"]
    column = lambda key: np.array([row[key] for row in rows], dtype=float)  # noqa: E731
    p = column("precision")
    wrapped = (column("waveform_wraps") > 0) | (column("sweep_wraps") > 0)
    snr, coef_att, fixed_att = column("snr_db"), column("coefficient_attenuation_db"), \
        column("fixed_attenuation_db")
    targets = result["targets"]
    limit, recommended = result["wrap_free_limit"], result["recommended"]
    if ax is None:
        fig.suptitle("Which precision: every precision from 0 to 30")
    upper.plot(p, snr, "o-", color=SNR_PURPLE, label="SNR, waveform test")
    upper.plot(p, coef_att, "s-", color=COEF_BLUE, label="attenuation, quantized coefficients")
    upper.plot(p, fixed_att, "D-", color=FIXED_RED, label="attenuation, fixed point, steady state")
    upper.plot(p[wrapped], fixed_att[wrapped], "x", color="black", ms=10, mew=2,
               label="the accumulator wraps")
    for a in (upper, lower):
        # Named in the key rather than beside the lines, where curves would cross the words.
        if limit is not None:
            a.axvline(limit + 0.5, color="#ff7f0e", lw=2,
                      label=f"wrap-free for any input up to {limit}" if a is upper else None)
        if recommended is not None:
            a.axvline(recommended, color=PASS_GREEN, lw=2, ls="--",
                      label=f"recommended: {recommended}" if a is upper else None)
        a.set_xlim(-0.5, 30.5)
        a.set_xticks(range(0, 31, 2))
        a.set_xlabel("precision (fractional bits)")
        a.grid(True, alpha=0.4)
        if lower is None:
            break
    for key, colour, name in (("min_attenuation_db", FIXED_RED, "attenuation"),
                              ("min_snr_db", SNR_PURPLE, "SNR")):
        if not math.isnan(targets[key]):
            upper.axhline(targets[key], ls=":", color=colour, lw=1.5,
                          label=f"target: {name} at least {targets[key]:.2f} dB")
    levels = _finite(snr, coef_att, fixed_att)
    low = math.floor(max(levels.min(), -20) / 10) * 10 if levels.size else 0.0
    upper.set_ylim(low, math.ceil(levels.max() / 10) * 10 + 10 if levels.size else 100.0)
    upper.set_ylabel("dB")
    upper.set_title("SNR and stop-band attenuation (dotted: targets)")
    _legend(upper, 3)
    if lower is None:
        return fig
    coef_ripple = np.maximum(column("coefficient_ripple_db"), 1e-6)
    fixed_ripple = np.maximum(column("fixed_ripple_db"), 1e-6)
    lower.plot(p, coef_ripple, "s-", color=COEF_BLUE, label="quantized coefficients")
    lower.plot(p, fixed_ripple, "D-", color=FIXED_RED, label="fixed point, steady state")
    lower.set_yscale("log")
    lower.yaxis.set_major_formatter("{x:g}")
    if not math.isnan(targets["max_ripple_db"]):
        lower.axhline(max(targets["max_ripple_db"], 1e-6), ls=":", color=FIXED_RED, lw=1.5,
                      label=f"target: ripple at most {targets['max_ripple_db']:.4f} dB")
    ripples = _finite(coef_ripple, fixed_ripple)
    if ripples.size:
        lower.set_ylim(ripples.min() / 2, ripples.max() * 2)
    lower.set_ylabel("pass-band ripple (dB)")
    lower.set_title("Pass-band ripple (dotted: target)")
    _legend(lower, 3)
    return fig


from .plot_explore import explore  # noqa: E402,F401 (it draws with the helpers above)
