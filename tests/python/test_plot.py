"""fixfir.plot: each view drawn to a PNG, and the waveform models it draws against the
report's own figures."""

import os
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import fixfir
from fixfir import plot

EXAMPLE_TAPS = Path(__file__).resolve().parents[2] / "examples" / "taps.txt"
WORDS = EXAMPLE_TAPS.read_text().split()
TAPS = np.array([float(w) for w in WORDS[1 : 1 + int(WORDS[0])]])
TONES = (100, 50, 4000)

# The colours each panel must show, as curves (more pixels than the markers alone give):
# fixed point red, |H| green, |C| and the double-precision output blue, SNR and the error
# purple. The responses are swept every 20 Hz, close enough for the steady state's curve
# over 63 taps.
RED, GREEN, BLUE, PURPLE = (0.839, 0.153, 0.157), (0.173, 0.627, 0.173), \
    (0.122, 0.467, 0.706), (0.580, 0.404, 0.741)
VIEWS = [
    ("response", lambda: plot.response(fixfir.report(TAPS, 15, *TONES, 20)), (1100, 1000),
     [(RED, GREEN, BLUE), (RED, GREEN, BLUE)]),
    ("response, wrapped", lambda: plot.response(fixfir.report(TAPS, 22, *TONES, 20)),
     (1100, 1000), [(RED, BLUE), (BLUE,)]),
    ("waves", lambda: plot.waves(fixfir.report(TAPS, 12, *TONES, 40)), (1100, 900),
     [(RED, BLUE), (PURPLE, BLUE)]),
    ("scan", lambda: plot.scan(fixfir.scan(TAPS, *TONES, 40)), (1100, 900),
     [(RED, PURPLE, BLUE), (RED, BLUE)]),
    ("response on given axes", lambda: plot.response(
        fixfir.report(TAPS, 15, *TONES, 20), ax=_one_axes()), (600, 400), [(RED, GREEN)]),
]


def _one_axes():
    import matplotlib.pyplot as plt

    return plt.figure(figsize=(6, 4)).add_subplot()


@pytest.mark.parametrize("name,draw,size,colours", VIEWS, ids=[v[0] for v in VIEWS])
def test_views_draw_every_panel(tmp_path, name, draw, size, colours):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig = draw()
    png = tmp_path / "view.png"
    fig.savefig(png, dpi=100)
    image = plt.imread(png)[:, :, :3]
    assert (image.shape[1], image.shape[0]) == size
    panels = [a for a in fig.axes if a.has_data()]
    assert len(panels) == len(colours)
    for axes, wanted in zip(panels, colours):
        box = axes.get_window_extent()
        height = image.shape[0]
        inside = image[int(height - box.y1) : int(height - box.y0), int(box.x0) : int(box.x1)]
        for colour in wanted:
            near = np.abs(inside - np.array(colour)).max(axis=2) < 0.06
            assert near.sum() > 200, f"{axes.get_title()!r} lacks {colour}"
    plt.close(fig)


@pytest.mark.parametrize("precision", [9, 15, 22])
def test_waveform_models_give_the_reports_figures(precision):
    result = fixfir.report(TAPS, precision, *TONES, 400)
    _, x, fixed = fixfir.waveform_test(TAPS, precision, *TONES)
    reference, coefficient, mean, white, hc = plot._waveform_model(TAPS, precision, x)
    signal = np.sum(reference**2)
    db = lambda error_power: 10 * np.log10(signal / error_power)  # noqa: E731
    assert db(np.sum((fixed - reference) ** 2)) == pytest.approx(result["snr_db"], abs=1e-6)
    split = result["error_split"]
    assert db(np.sum((coefficient - reference) ** 2)) == pytest.approx(
        split["coefficient_db"], abs=1e-6)
    predicted = (np.sum(mean**2) + len(x) * white * np.sum(hc**2))
    assert db(predicted) == pytest.approx(split["predicted_arithmetic_db"], abs=0.01)


def _labels(fig):
    """Every key entry of the figure, by panel."""
    return [[t.get_text() for t in a.get_legend().get_texts()] if a.get_legend() else []
            for a in fig.axes]


def _explore_keys_have_marks(fig):
    # No key entry without a mark of its own in the panel (the hues' entries stand for the
    # coloured cells).
    for a in fig.axes:
        if a.get_legend() is None:
            continue
        drawn = {line.get_label() for line in a.get_lines() if len(line.get_xdata())}
        cells = [c for c in a.collections if len(c.get_offsets())]
        for label in _labels(fig)[fig.axes.index(a)]:
            assert label in drawn or (label.startswith(("meets", "misses a")) and cells), label


def _explore_two_hues(fig):
    cells = [c for a in fig.axes for c in a.collections if len(c.get_offsets())]
    colours = np.concatenate([c.get_facecolors()[:, :3] for c in cells])
    assert (colours[:, 0] > colours[:, 2] + 0.2).any(), "no red cell"
    assert (colours[:, 2] > colours[:, 0] + 0.2).any(), "no blue cell"


def _explore_measured_range(fig):
    # The axis spans the rows of the sample words on the front and the "not run" row.
    words = np.asarray(EXPLORED["front"]["sample_bits"])
    ticks = {label.get_text() for a in fig.axes for label in a.get_yticklabels()}
    assert {str(w) for w in words[words > 0]} <= ticks and "not run" in ticks
    for a in fig.axes:
        if a.get_legend() is not None:
            low, high = a.get_ylim()
            assert high - low <= len(set(words[words > 0])) + 2 * 4 + 1.6, (low, high)


def _scan_names_lines_and_targets(fig):
    upper, lower = _labels(fig)[:2]
    targets = EXPLORED["targets"]  # the same defaults as the scan's, but for the SNR
    assert f"target: attenuation at least {targets['min_attenuation_db']:.2f} dB" in upper
    assert any(t.startswith("wrap-free for any input up to ") for t in upper)
    assert any(t.startswith("recommended: ") for t in upper)
    assert any(t.startswith("target: ripple at most ") for t in lower)
    # The words stand in the keys, never on the panels where curves cross them.
    assert not [t for a in fig.axes for t in a.texts if "wrap-free" in t.get_text()]


def _steady_never_bridges_a_lobe(fig):
    # At a 50 Hz step over 63 taps (lobes of 254 Hz) the steady state is markers alone, and
    # the key names them.
    for a in fig.axes:
        red = [line for line in a.get_lines() if line.get_color() == plot.FIXED_RED]
        assert not any(line.get_linestyle() != "None" and len(line.get_xdata()) for line in red)
        assert any(line.get_marker() == "o" and len(line.get_xdata()) > 50 for line in red)


def test_steady_curve_joins_only_points_close_enough_to_follow_the_ripple():
    f = np.array([4.0, 8, 500, 532, 540, 4000])
    (cf, cl), (df, dl) = plot._steady_curve(f, f / 10, 63)  # gaps up to 31.7 Hz joined
    assert np.array_equal(cf, [4, 8, np.nan, 532, 540], equal_nan=True)
    assert np.array_equal(cl, [0.4, 0.8, np.nan, 53.2, 54], equal_nan=True)
    assert list(df) == [500, 4000] and list(dl) == [50, 400]


EXPLORED = fixfir.explore(TAPS, *TONES, 40)
# Properties a user reads at a glance, checked on the figure each view draws.
FIGURES = [
    ("explore: pass and fail in two hues", lambda: plot.explore(EXPLORED), _explore_two_hues),
    ("explore: no key entry without a mark", lambda: plot.explore(EXPLORED),
     _explore_keys_have_marks),
    ("explore: only the sample words measured", lambda: plot.explore(EXPLORED),
     _explore_measured_range),
    ("scan: lines and targets named", lambda: plot.scan(fixfir.scan(TAPS, *TONES, 40)),
     _scan_names_lines_and_targets),
    ("waves: the spectrum's dB reference", lambda: plot.waves(fixfir.report(TAPS, 12, *TONES, 40)),
     lambda fig: "dB relative to 1.0²" in fig.axes[1].get_ylabel()),
    ("response: no line across a lobe",
     lambda: plot.response(fixfir.report(TAPS, 15, *TONES, 50)), _steady_never_bridges_a_lobe),
]


@pytest.mark.parametrize("name,draw,check", FIGURES, ids=[f[0] for f in FIGURES])
def test_figures_read_at_a_glance(name, draw, check):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig = draw()
    fig.canvas.draw()
    assert check(fig) is not False
    plt.close(fig)


@pytest.mark.parametrize("attenuation,snr,meets,red", [
    (38.08, 50.0, False, True),   # a miss by 0.27 dB is red, however close
    (38.36, 50.0, True, False),   # a pass by 0.01 dB is blue
    (60.0, 70.0, False, True),    # far past both, yet a miss (the ripple): the palest red
    (38.35, float("nan"), True, False),  # an SNR not measured leaves the attenuation's margin
])
def test_explore_shades_fall_on_the_side_of_the_verdict(attenuation, snr, meets, red):
    from fixfir.plot_explore import shades

    front = {"attenuation_db": [attenuation], "snr_db": [snr], "meets": [meets]}
    shade = shades(front, {"min_attenuation_db": 38.35, "min_snr_db": 40.0})[0]
    assert (shade < 0) == red and abs(shade) <= 20


@pytest.mark.parametrize("words,rows,folds", [
    ([9, 10, 12], {9: 9, 10: 10, 12: 12}, []),      # close words keep their numbers
    ([9, 12, 32], {9: 9, 12: 12, 32: 14}, [13]),     # 13 to 31 take one row
    ([11, 15, 16, 20, 24, 32], {11: 11, 15: 13, 16: 14, 20: 16, 24: 18, 32: 20},
     [12, 15, 17, 19]),
    ([], {4: 4}, []),
])
def test_explore_folds_the_sample_words_not_measured(words, rows, folds):
    from fixfir.plot_explore import sample_rows

    assert sample_rows(words) == (rows, folds)


REPORT = {"precision": 15, "figures": {}}  # a report's keys, as far as the views look
WRONG_DICTS = [
    (plot.response, lambda: fixfir.scan(TAPS, *TONES, 4000), "not a dict of fixfir.scan()"),
    (plot.waves, lambda: {"front": {}}, "not a dict of fixfir.explore()"),
    (plot.scan, lambda: fixfir.report(TAPS, 15, *TONES, 4000), "not a dict of fixfir.report()"),
    (plot.scan, lambda: {"rows": []}, "not a dict without 'targets'"),
    (plot.response, lambda: REPORT, "not a dict without 'passbands'"),
    (plot.waves, lambda: None, "not NoneType"),
    (plot.explore, lambda: fixfir.scan(TAPS, *TONES, 4000), "not a dict of fixfir.scan()"),
    (plot.explore, lambda: {"front": {}}, "not a dict without 'targets'"),
]


@pytest.mark.parametrize("view,given,message", WRONG_DICTS)
def test_a_view_of_the_wrong_dict_says_which_it_draws(view, given, message):
    maker = view.__name__ if view in (plot.scan, plot.explore) else "report"
    with pytest.raises(TypeError, match=r"^fixfir\.plot\.%s draws a dict of fixfir\.%s\(\), %s$"
                       % (view.__name__, maker, re.escape(message))):
        view(given())


def test_missing_matplotlib_names_the_package(monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match="apt-get install python3-matplotlib"):
        plot.scan(fixfir.scan(TAPS, *TONES, 400))


EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
# Each example that draws, and the pictures it draws.
EXAMPLE_PICTURES = [("python_report.py", ["scan.png", "response.png", "waves.png"]),
                    ("python_sweep.py", ["sweep.png"])]


@pytest.mark.parametrize("script,pictures", EXAMPLE_PICTURES, ids=[e[0] for e in EXAMPLE_PICTURES])
@pytest.mark.parametrize("named", [True, False], ids=["folder named", "new temporary folder"])
def test_examples_draw_into_the_folder_named_or_a_new_one(tmp_path, script, pictures, named):
    pytest.importorskip("matplotlib")
    if script == "python_report.py":
        pytest.importorskip("scipy")
    work, temporary = tmp_path / "work", tmp_path / "tmp"
    work.mkdir()
    temporary.mkdir()
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["TMPDIR"] = str(temporary)
    # The same package as this test's, wherever it was imported from.
    package = str(Path(fixfir.__file__).resolve().parents[1])
    env["PYTHONPATH"] = os.pathsep.join([package] + env.get("PYTHONPATH", "").split(os.pathsep))
    folder = tmp_path / "pictures" / "deeper"
    done = subprocess.run([sys.executable, str(EXAMPLES / script)] + ([str(folder)] if named else []),
                          cwd=work, env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    # Nothing lands in the working folder; the last line names every picture where it is.
    assert list(work.iterdir()) == []
    if not named:
        made = list(temporary.iterdir())
        assert len(made) == 1 and made[0].is_dir()
        folder = made[0]
    last = done.stdout.splitlines()[-1]
    assert last.split(": ", 1)[1].split(", ") == [str(folder / p) for p in pictures]
    assert sorted(p.name for p in folder.iterdir()) == sorted(pictures)
    for p in pictures:
        assert (folder / p).read_bytes().startswith(b"\x89PNG")
