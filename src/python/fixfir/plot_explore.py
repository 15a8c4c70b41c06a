"""fixfir.plot.explore: the datapath search of fixfir.explore() as fixfir-report's
explore.png draws it, from the front the dict holds."""

import numpy as np

from .plot import _check_kind, _pyplot

# The margin's colour scale reaches this far either side of the targets, in dB. Red misses,
# blue meets; the palest of each are far apart, so a miss by a tenth of a dB never looks
# like a pass.
MARGIN_REACH = 20.0
MISS_FAR, MISS_NEAR, MEET_NEAR, MEET_FAR = "#99000d", "#fc9272", "#9ecae1", "#08519c"
ROUNDING_WORDS = {"zero": "toward zero", "nearest": "to nearest", "floor": "floor"}


def margin_colours():
    """The colour map and norm of the margin: red below 0 dB, blue from 0 dB up."""
    from matplotlib.colors import LinearSegmentedColormap, Normalize

    just_below = 0.5 - 0.01 / (2 * MARGIN_REACH)
    cmap = LinearSegmentedColormap.from_list(
        "fixfir_margin", [(0.0, MISS_FAR), (just_below, MISS_NEAR), (0.5, MEET_NEAR),
                          (1.0, MEET_FAR)])
    return cmap, Normalize(-MARGIN_REACH, MARGIN_REACH)


def shades(front, targets):
    """The value each row of the front is coloured by: its smaller margin to the attenuation
    and SNR targets within ±MARGIN_REACH, on the red side when it misses any target (one
    that misses only the ripple target sits at the palest red) and the blue side when it
    meets them all."""
    margin = np.full(len(front["meets"]), MARGIN_REACH)
    for key, target in (("attenuation_db", "min_attenuation_db"), ("snr_db", "min_snr_db")):
        gap = np.asarray(front[key], dtype=float) - targets[target]
        margin = np.where(np.isnan(gap), margin, np.minimum(margin, gap))
    margin = np.clip(margin, -MARGIN_REACH, MARGIN_REACH)
    meets = np.asarray(front["meets"], bool)
    return np.where(meets, np.maximum(margin, 0.0), np.minimum(margin, -0.01))


def sample_rows(words, widest_gap=3):
    """The row each sample word in `words` (the words measured) is drawn at: its own number
    until a stretch of more than `widest_gap` words that none was measured at is folded into
    a single row, so that the axis shows the words measured. Returns {word: row} and the rows
    standing for the folded stretches."""
    words = sorted(set(int(w) for w in words)) or [4]
    rows, folds = {words[0]: words[0]}, []
    for before, word in zip(words, words[1:]):
        gap = word - before
        if gap > widest_gap:
            folds.append(rows[before] + 1)
        rows[word] = rows[before] + (2 if gap > widest_gap else gap)
    return rows, folds


def _sample_axis(a, rows, folds, not_run):
    """Ticks at every word measured (every other one where they stand close), "..." at each
    folded stretch and "not run" at `not_run` (None: no such row); the range off the frame."""
    ordered = sorted(rows.items())
    first, last = ordered[0][1], ordered[-1][1]
    step = 2 if last - first > 16 else 1
    ticks = [(row, str(word)) for i, (word, row) in enumerate(ordered)
             if (row - first) % step == 0 or i + 1 == len(ordered)]
    ticks += [(fold, "...") for fold in folds]
    if not_run is not None:
        ticks.append((not_run, "not run"))
    a.set_yticks([t[0] for t in ticks], [t[1] for t in ticks])
    a.set_ylim((first if not_run is None else not_run) - 0.8, last + 0.8)


def _axes(ax, count):
    plt = _pyplot()
    if ax is None:
        fig, axes = plt.subplots(1, count, figsize=(7.5 * count, 7), layout="constrained",
                                 squeeze=False)
        return fig, list(axes[0])
    axes = list(ax) if isinstance(ax, (list, tuple, np.ndarray)) else [ax]
    return axes[0].figure, axes[:count]


def _panel(a, front, rows, shade, result, plane):
    """One rounding's panel: the front's rows coloured by margin, the words whose coefficients
    alone miss in the "not run" row, the front's line, its costs on top and the
    recommendation."""
    from matplotlib.ticker import MaxNLocator

    cmap, norm = margin_colours()
    wc = np.asarray(front["coefficient_bits"])[rows]
    wx = np.asarray(front["sample_bits"])[rows]
    meets = np.asarray(front["meets"], bool)[rows]
    ripple = np.asarray(front["ripple_db"], dtype=float)[rows]
    run, alone = wx > 0, wx < 0
    at, folds = plane
    y = np.array([at.get(int(w), np.nan) for w in wx], dtype=float)
    not_run = min(at.values()) - 1
    cells = a.scatter(wc[run], y[run], c=shade[rows][run], cmap=cmap, norm=norm, marker="s",
                      s=110, zorder=2)
    if (meets & run).any():
        a.scatter([], [], marker="s", s=110, color=MEET_NEAR,
                  label="meets every target (darker: more margin)")
    if (~meets & run).any():
        a.scatter([], [], marker="s", s=110, color=MISS_NEAR,
                  label="misses a target (darker: further short)")
    limit = result["targets"]["max_ripple_db"]
    crossed = run & ~(ripple <= limit) if not np.isnan(limit) else np.zeros_like(run)
    if crossed.any():
        a.plot(wc[crossed], y[crossed], "x", color="black", ms=8, zorder=3,
               label="misses the ripple target")
    if alone.any():
        a.plot(wc[alone], np.full(alone.sum(), not_run), "x", color="#7f7f7f", ms=7,
               label="coefficients alone miss by far or do not fit: not run")
    if meets.any():
        a.plot(wc[meets], y[meets], "o-", mfc="none", mec="black", color="black", ms=12, lw=2,
               zorder=3, label="front: the narrowest sample word that meets")
        top = a.secondary_xaxis("top")
        top.set_xticks(wc[meets], [str(c) for c in np.asarray(front["cost"])[rows][meets]],
                       rotation=90, fontsize="x-small")
    a.set_xlim(wc.min() - 1, wc.max() + 1)
    a.xaxis.set_major_locator(MaxNLocator(integer=True))  # words, never half a word
    _sample_axis(a, at, folds, not_run if alone.any() else None)
    return cells


def _recommend(a, result, rounding, rows):
    chosen = result["recommended"]
    if chosen is None or chosen["rounding"] != rounding:
        return
    a.plot([chosen["coefficient_bits"]], [rows[chosen["sample_bits"]]], "*", color="#e08214",
           ms=18, mec="black", zorder=4, label="recommended")


def explore(result, ax=None):
    """fixfir.explore()'s dict as fixfir-report's explore.png, one panel per rounding searched:
    each datapath on the front at its coefficient and sample words, coloured by its margin to
    the attenuation and SNR targets (red misses, blue meets every target; darker, further
    from the line), the words whose coefficients alone miss in a "not run" row, the front's
    line with each datapath's cost above its coefficient word, and the recommendation
    starred. As in explore.png, a wide stretch of sample words with nothing measured takes
    one row ("..."). The dict holds the front alone, so the other candidates the search measured
    (which explore.png shows too) are not drawn. `ax`: one Axes per rounding."""
    _check_kind(result, "explore")
    front = result["front"]
    rounding = list(front["rounding"])
    kinds = list(dict.fromkeys(rounding)) or ["zero"]
    fig, axes = _axes(ax, len(kinds))
    shade = shades(front, result["targets"])
    words = np.asarray(front["sample_bits"])
    plane = sample_rows(words[words > 0])
    title = "Datapaths on the front: red misses a target, blue meets every one"
    if result["recommended"] is None:
        title += "; none meets every target"
    fig.suptitle(title)
    for a, kind in zip(axes, kinds):
        rows = np.array([r == kind for r in rounding], bool)
        cells = _panel(a, front, rows, shade, result, plane)
        _recommend(a, result, kind, plane[0])
        a.set_title(f"rounding {ROUNDING_WORDS.get(kind, kind)}; above: the cost of the front",
                    fontsize="medium")
        a.set_xlabel("coefficient word (bits)")
        a.set_ylabel("sample word (bits)")
        a.grid(True, alpha=0.4)
        fig.colorbar(cells, ax=a, label="margin to the attenuation and SNR targets (dB), "
                     f"at most {MARGIN_REACH:g}")
        a.legend(loc="upper center", bbox_to_anchor=(0.5, -0.1), ncols=1, fontsize="small")
    return fig

