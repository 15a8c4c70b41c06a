#!/usr/bin/env python3
"""fixfir-report's whole output on the committed fixtures, held to the stored copies.

    report_golden_test.py FIXFIR_REPORT FIXTURES EXAMPLES GOLDEN [--update]

For every design fixture and the shipped example: the summary at precisions 10, 15 and 20
and the scan, all with the waveform test 100 to 4000 Hz a 50 Hz step apart and a sweep step
of 8 Hz, gnuplot kept off the PATH. Standard output and status are compared line for line
with GOLDEN/<taps>.txt; --update rewrites those files (review the diff before committing).
"""
import difflib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

QUESTIONS = ["--initial", "100", "--step", "50", "--ending", "4000", "--sweep-step", "8"]
RUNS = [["--precision", "10"], ["--precision", "15"], ["--precision", "20"], ["--scan"]]


def transcript(report, taps):
    out = []
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(taps, pathlib.Path(work) / "taps.txt")
        env = dict(os.environ, PATH="/nonexistent")
        for run in RUNS:
            done = subprocess.run([report] + run + QUESTIONS, env=env, cwd=work,
                                  capture_output=True, text=True, timeout=600)
            out.append("$ fixfir-report " + " ".join(run + QUESTIONS) + "\n")
            out.append(done.stdout)
            out.append("status %d\n" % done.returncode)
    return "".join(out)


def main():
    report, fixtures, examples, golden = (os.path.abspath(a) for a in sys.argv[1:5])
    update = "--update" in sys.argv[5:]
    taps_files = sorted(pathlib.Path(fixtures).glob("*.txt")) + [pathlib.Path(examples) / "taps.txt"]
    failed = 0
    for taps in taps_files:
        name = ("example" if taps.parent == pathlib.Path(examples) else taps.stem) + ".txt"
        stored = pathlib.Path(golden) / name
        now = transcript(report, taps)
        if update:
            stored.write_text(now)
            continue
        before = stored.read_text() if stored.exists() else ""
        if now != before:
            failed += 1
            sys.stdout.writelines(difflib.unified_diff(
                before.splitlines(True), now.splitlines(True), str(stored), "now"))
    print("%d of %d transcripts differ" % (failed, len(taps_files)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
