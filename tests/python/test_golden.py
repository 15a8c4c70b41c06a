"""Every number the module returns on the committed fixtures, held to stored digests.

tests/golden/python.json keeps, for each fixture and call, one SHA-256 per returned key of
the value's exact form (floats by repr, arrays by dtype, shape and bytes). Rewrite it with
FIXFIR_GOLDEN_UPDATE=1 after a change meant to alter figures, and review the diff.
"""

import hashlib
import json
import os
from pathlib import Path

import numpy as np
import pytest

import fixfir

ROOT = Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "golden" / "python.json"
FIXTURES = sorted((ROOT / "tests" / "fixtures").glob("*.txt")) + [ROOT / "examples" / "taps.txt"]
QUESTIONS = (100, 50, 4000)


def load_taps(path):
    words = path.read_text().split()
    return np.array([float(w) for w in words[1 : 1 + int(words[0])]], dtype=np.float32)


def canonical(value):
    """A text that differs whenever any number or string in `value` differs."""
    if isinstance(value, np.ndarray):
        return "array %s %s %s" % (value.dtype, value.shape, hashlib.sha256(
            np.ascontiguousarray(value).tobytes()).hexdigest())
    if isinstance(value, dict):
        return "{" + ",".join("%r:%s" % (k, canonical(value[k])) for k in sorted(value)) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ",".join(canonical(v) for v in value) + "]"
    return repr(value)


def digests(result):
    if not isinstance(result, dict):
        result = {"value": result}
    return {k: hashlib.sha256(canonical(v).encode()).hexdigest()[:16]
            for k, v in result.items() if k != "arguments"}


def calls(taps):
    initial, step, ending = QUESTIONS
    yield "quantize 15", lambda: fixfir.quantize(taps, 15)
    yield "waveform_test 15", lambda: fixfir.waveform_test(taps, 15, initial, step, ending)
    yield "sweep 15", lambda: fixfir.sweep(taps, 15, 8)
    for p in (10, 15, 20):
        yield "report %d" % p, lambda p=p: fixfir.report(taps, p, initial, step, ending, 8)
    yield "scan", lambda: fixfir.scan(taps, initial, step, ending, 8)


def measured():
    out = {}
    for path in FIXTURES:
        taps = load_taps(path)
        name = "example" if path.parent.name == "examples" else path.stem
        out[name] = {call: digests(run()) for call, run in calls(taps)}
    return out


def test_every_returned_number_is_as_stored():
    now = measured()
    if os.environ.get("FIXFIR_GOLDEN_UPDATE"):
        GOLDEN.write_text(json.dumps(now, indent=1, sort_keys=True) + "\n")
        pytest.skip("rewrote " + str(GOLDEN))
    stored = json.loads(GOLDEN.read_text())
    changed = [(fixture, call, key)
               for fixture, by_call in now.items() for call, keys in by_call.items()
               for key, digest in keys.items()
               if stored.get(fixture, {}).get(call, {}).get(key) != digest]
    assert not changed, "values changed: %s" % changed[:20]
