"""fixfir.export against fixfir-report --export: the same bytes, and the same refusals.

CTest runs this with FIXFIR_REPORT_EXE at the built report.
"""

import errno
import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import fixfir

EXAMPLE_TAPS = Path(__file__).resolve().parents[2] / "examples" / "taps.txt"


def example_taps():
    words = EXAMPLE_TAPS.read_text().split()
    return np.array([float(w) for w in words[1 : 1 + int(words[0])]], dtype=np.float32)


# The report's options for a case, and the same choices as fixfir.export's keywords.
EXPORTS = [
    (["--precision", "15"], {"precision": 15}),
    (["--coefficient-bits", "16", "--rounding", "nearest"],
     {"coefficient_bits": 16, "rounding": "nearest"}),
    (["--coefficient-bits", "8", "--coefficient-precision", "12", "--overflow", "saturate",
      "--rounding", "floor"],
     {"coefficient_bits": 8, "coefficient_precision": 12, "overflow": "saturate",
      "rounding": "floor"}),
]


@pytest.mark.parametrize("extension", [".h", ".mem", ".csv"])
@pytest.mark.parametrize("options,keywords", EXPORTS)
def test_export_writes_the_reports_bytes(tmp_path, extension, options, keywords):
    exe = os.environ.get("FIXFIR_REPORT_EXE")
    if not exe:
        pytest.skip("FIXFIR_REPORT_EXE is not set (CTest sets it to the built fixfir-report)")
    shutil.copy(EXAMPLE_TAPS, tmp_path / "taps.txt")
    name = "coefficients" + extension
    done = subprocess.run([exe, "--export", name, *options], cwd=tmp_path, capture_output=True,
                          text=True, check=True)
    mine = tmp_path / ("mine" + extension)
    got = fixfir.export(example_taps(), mine, **keywords)
    assert mine.read_bytes() == (tmp_path / name).read_bytes()
    words = "%d words of %d bits, %d fractional" % (got["count"], got["bits"],
                                                      got["fraction_bits"])
    assert done.stdout.startswith("coefficients: %s (%s, " % (name, words))
    assert ("overflow: " in done.stdout) == (got["overflows"] > 0)
    assert got["path"] == str(mine) and got["count"] == 63
    assert got["words"].startswith("coefficients %d bits (%d fractional)"
                                   % (got["bits"], got["fraction_bits"]))


ONE = np.array([0.5])
BAD_EXPORTS = [
    ({}, "path needs precision or coefficient_bits"),
    ({"precision": 31}, "precision must be 0 to 30"),
    ({"coefficient_bits": 1}, "coefficient_bits must be 2 to 32"),
    ({"precision": 15, "coefficient_precision": 97}, "coefficient_precision must be -32 to 96"),
    ({"precision": 15, "sample_bits": 40}, "sample_bits must be 2 to 32"),
    ({"precision": 15, "sample_precision": -40}, "sample_precision must be -32 to 96"),
    ({"precision": 15, "accumulator_bits": 65}, "accumulator_bits must be 8 to 64"),
    ({"precision": 15, "accumulator_bits": 2**40}, "accumulator_bits must fit 32 bits"),
    ({"precision": 15, "rounding": "up"}, "rounding must be 'zero', 'nearest' or 'floor'"),
    ({"precision": 15, "overflow": "clip"}, "overflow must be 'wrap' or 'saturate'"),
]


@pytest.mark.parametrize("keywords,message", BAD_EXPORTS)
def test_bad_export_arguments_raise(tmp_path, keywords, message):
    with pytest.raises(ValueError, match=message):
        fixfir.export(ONE, tmp_path / "taps.h", **keywords)
    assert not (tmp_path / "taps.h").exists()


def test_export_refuses_an_unknown_extension_and_keeps_the_earlier_file(tmp_path):
    with pytest.raises(ValueError, match=r"path: '.*taps\.txt' does not end in \.h, \.mem, \.csv, \.v, _tb\.v or \.c"):
        fixfir.export(ONE, tmp_path / "taps.txt", 15)
    (tmp_path / "taps.h").write_text("earlier")
    with pytest.raises(FileNotFoundError) as raised:
        fixfir.export(ONE, tmp_path / "missing" / "taps.h", 15)
    assert raised.value.errno == errno.ENOENT
    assert raised.value.filename == tmp_path / "missing" / "taps.h"
    with pytest.raises(TypeError):
        fixfir.export(ONE, tmp_path / "taps.h", 15, 16)  # the datapath is given by keyword
    assert (tmp_path / "taps.h").read_text() == "earlier"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["taps.h"]


# What lies where the file goes: a regular file is replaced and keeps its permission bits;
# anything else stays as it was. None of them leaves a temporary file beside it.
PLACES = [
    ("taps.h", "0600", None),
    ("taps.csv", "0444", None),
    ("X" * 253 + ".h", "0640", None),  # the longest name a folder holds
    ("dev.h", "fifo", "cannot write .*dev\\.h: not a regular file"),
    ("taps.mem", "link", "cannot write .*taps\\.mem: not a regular file"),
]


@pytest.mark.parametrize("name,earlier,message", PLACES,
                         ids=["private", "read_only", "longest_name", "fifo", "link"])
def test_export_replaces_only_a_regular_file_and_keeps_its_mode(tmp_path, name, earlier, message):
    target = tmp_path / name
    if earlier == "fifo":
        os.mkfifo(target)
    elif earlier == "link":
        (tmp_path / "real.mem").write_text("earlier")
        target.symlink_to("real.mem")
    else:
        target.write_text("earlier")
        target.chmod(int(earlier, 8))
    names = sorted(p.name for p in tmp_path.iterdir())
    if message is None:
        fixfir.export(ONE, target, 15)
        assert target.read_text().startswith("/*" if name.endswith(".h") else "")
        assert target.read_text() != "earlier"
        assert oct(target.stat().st_mode & 0o7777) == oct(int(earlier, 8))
    else:
        with pytest.raises((OSError, RuntimeError), match=message):
            fixfir.export(ONE, target, 15)
        assert target.is_symlink() if earlier == "link" else target.is_fifo()
    assert sorted(p.name for p in tmp_path.iterdir()) == names


def test_export_past_a_file_size_limit_fails_and_leaves_no_temporary(tmp_path):
    # In a child, since the limit holds for every file the process writes. Python ignores
    # SIGXFSZ, so the write fails with EFBIG.
    (tmp_path / "taps.h").write_text("earlier")
    code = (
        "import resource, sys, numpy, fixfir\n"
        "resource.setrlimit(resource.RLIMIT_FSIZE, (512, 512))\n"
        "try:\n"
        "    fixfir.export(numpy.full(200, 0.25), sys.argv[1], 15)\n"
        "except OSError as e:\n"
        "    print(e.errno, e.filename)\n"
    )
    done = subprocess.run([sys.executable, "-c", code, str(tmp_path / "taps.h")],
                          capture_output=True, text=True, check=True)
    assert done.stdout == "%d %s\n" % (errno.EFBIG, tmp_path / "taps.h")
    assert (tmp_path / "taps.h").read_text() == "earlier"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["taps.h"]


# A path as open() takes it: str, bytes (any bytes but NUL, as the file system has them) or
# os.PathLike; the file is written under exactly that name, and the dict gives it back.
PATHS = [
    ("str", lambda d: str(d / "c.h"), b"c.h"),
    ("PathLike", lambda d: d / "c.mem", b"c.mem"),
    ("bytes", lambda d: bytes(d) + b"/c.csv", b"c.csv"),
    ("bytes, not UTF-8", lambda d: bytes(d) + b"/caf\xe9.h", b"caf\xe9.h"),
    ("str, undecodable bytes kept", lambda d: str(d) + "/caf\udce9.h", b"caf\xe9.h"),
]


@pytest.mark.parametrize("name,path,written", PATHS, ids=[p[0] for p in PATHS])
def test_export_writes_the_file_its_path_names(tmp_path, name, path, written):
    given = path(tmp_path)
    assert fixfir.export(ONE, given, 15)["path"] == os.fspath(given)
    assert os.listdir(bytes(tmp_path)) == [written]


# Refused before anything is written: the earlier file named by the part before a NUL is kept.
BAD_PATHS = [
    ("keep.txt\x00.h", ValueError, "^path must not hold a NUL character$"),
    (b"keep.txt\x00.h", ValueError, "^path must not hold a NUL character$"),
    (b"keep.txt\xff", ValueError, r"^path: '.*/keep.txt\\xff' does not end in \.h"),
    (3, TypeError, "^path must be a str, bytes or os.PathLike, not int$"),
]


@pytest.mark.parametrize("path,error,message", BAD_PATHS)
def test_export_refuses_a_path_that_names_no_such_file(tmp_path, path, error, message):
    (tmp_path / "keep.txt").write_text("earlier")
    if isinstance(path, (str, bytes)):
        path = os.path.join(os.fsencode(tmp_path) if isinstance(path, bytes) else tmp_path, path)
    with pytest.raises(error, match=message):
        fixfir.export(ONE, path, 15)
    assert os.listdir(tmp_path) == ["keep.txt"]
    assert (tmp_path / "keep.txt").read_text() == "earlier"
