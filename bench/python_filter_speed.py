"""fixfir.filter on long signals: speed against numpy, time per sample by length, peak memory.

Run from the repository after a build, with the interpreter the module was built for:

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python_filter_speed.py

Every figure is the best of several runs, made back to back in this one process. The filters
are windowed-sinc low-pass designs (cut-off 2 kHz at 16 kHz, mirrored as a designed filter's
taps are) at precision 15; one row also runs random (unmirrored) taps. The signals are
uniform in [-1, 1). The reference is what a numpy user writes: np.convolve of the same
quantized samples with the coefficients in int64, cut to the signal's length, and wrapped to
32 bits; the quantization itself is left out of its time, and fixfir's includes it. Each
result is checked to be the same array as fixfir's before anything is timed.

Peak memory is measured in a child process per size: the peak resident set while the call
runs (/proc/self/clear_refs resets the peak just before it) less the resident set before it,
which already holds the input. The call must add no more than its output and 32 MB.

On a chosen datapath (int64 accumulators) fixfir.filter must take at most twice the 32-bit
filter's time at the same taps, on 16-bit words into the default 32-bit accumulator and on
32-bit words into a 64-bit one.

--quick runs the smaller sizes only.
"""

import os
import subprocess
import sys
import time

import numpy as np

import fixfir

PRECISION = 15
TAPS = (15, 63, 255, 1023)
SPEED_SIZES = (1_000_000, 16_000_000)
FLAT_SIZES = (100_000, 1_000_000, 4_000_000, 16_000_000)
# A datapath that hardware of 16-bit words would have; its accumulators are int64.
DATAPATH = {"coefficient_bits": 16, "sample_bits": 16}
WIDE_DATAPATH = {"coefficient_bits": 32, "sample_bits": 32, "accumulator_bits": 64}
MEMORY_SLACK = 32 << 20


def low_pass(count):
    """A Hamming-windowed sinc of cut-off 2 kHz at 16 kHz, exactly mirrored."""
    m = np.arange(count) - (count - 1) / 2
    h = np.sinc(m / 4) / 4 * (np.hamming(count) if count > 1 else 1.0)
    return (h + h[::-1]) / 2


def best(call, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def numpy_reference(c64, s, n):
    return np.convolve(s, c64)[:n].astype(np.int32)


def runs_for(work):
    """Fewer runs for the slowest numpy calls (about a second or more each)."""
    return 3 if work > 2e9 else 5


def speed_table(rng, sizes):
    print("fixfir.filter against numpy's int64 np.convolve (best of 3 to 9 runs):")
    print("%6s %11s %12s %9s %12s %8s  %s" % ("taps", "samples", "fixfir", "ns/sample",
                                               "numpy", "ratio", "target"))
    met = True
    rows = [(t, n, "low-pass") for n in sizes for t in TAPS]
    rows.append((63, sizes[0], "random"))
    for count, n, kind in rows:
        taps = low_pass(count) if kind == "low-pass" else rng.uniform(-0.1, 0.1, count)
        x = rng.uniform(-1, 1, n)
        c, scale = fixfir.quantize(taps, PRECISION)
        c64 = c.astype(np.int64)
        s = np.trunc(x * scale).astype(np.int64)
        if not np.array_equal(fixfir.filter(taps, x, PRECISION), numpy_reference(c64, s, n)):
            raise SystemExit("fixfir.filter and numpy differ at %d taps" % count)
        ours = best(lambda: fixfir.filter(taps, x, PRECISION), 9)
        theirs = best(lambda: numpy_reference(c64, s, n), runs_for(count * n))
        want = 2 if count == 15 else 10
        ok = theirs / ours >= want or kind != "low-pass"
        met = met and ok
        print("%6d %11d %9.2f ms %9.2f %9.1f ms %7.1fx  %s" % (
            count, n, ours * 1e3, ours / n * 1e9, theirs * 1e3, theirs / ours,
            ("%dx %s" % (want, "met" if ok else "MISSED")) if kind == "low-pass"
            else "(random taps)"))
        del x, s
    return met


def flat_table(rng, sizes):
    print("\nfixfir.filter, nanoseconds a sample by length (best of 15 runs):")
    print("%6s" % "taps" + "".join("%12d" % n for n in sizes) + "   largest / 10^6")
    met = True
    for count in TAPS:
        taps = low_pass(count)
        per = {}
        for n in sizes:
            x = rng.uniform(-1, 1, n)
            per[n] = best(lambda: fixfir.filter(taps, x, PRECISION), 15) / n * 1e9
            del x
        ratio = per[sizes[-1]] / per[1_000_000] if 1_000_000 in per else float("nan")
        ok = not ratio > 1.5
        met = met and ok
        print("%6d" % count + "".join("%12.2f" % per[n] for n in sizes) +
              "   %.2fx (1.5x %s)" % (ratio, "met" if ok else "MISSED"))
    # What reading the samples and writing a fresh int32 array costs here, on one core: past
    # the caches, memory and the kernel's zeroing of the new array's pages bound every call.
    floor = {}
    for n in sizes:
        x = rng.uniform(-1, 1, n)
        floor[n] = best(lambda: x.astype(np.int32), 9) / n * 1e9
        del x
    print("%6s" % "floor" + "".join("%12.2f" % floor[n] for n in sizes) +
          "   (numpy's x.astype(np.int32), one core)")
    return met


def datapath_table(rng, sizes):
    print("\nOn a chosen datapath (int64 accumulators) against the 32-bit filter "
          "(best of 9 runs):")
    print("%6s %11s %12s %14s %8s %14s %8s" % ("taps", "samples", "32-bit", "16-bit words",
                                               "ratio", "32-bit words", "ratio"))
    met = True
    for n in sizes:
        x = rng.uniform(-1, 1, n)
        for count in TAPS:
            taps = low_pass(count)
            seed = best(lambda: fixfir.filter(taps, x, PRECISION), 9)
            words = best(lambda: fixfir.filter(taps, x, PRECISION, **DATAPATH), 9)
            wide = best(lambda: fixfir.filter(taps, x, PRECISION, **WIDE_DATAPATH), 3)
            verdicts = ["met" if t / seed <= 2 else "MISSED" for t in (words, wide)]
            met = met and verdicts == ["met", "met"]
            print("%6d %11d %9.2f ms %11.2f ms %7.2fx %11.2f ms %7.2fx  2x %s, %s" % (
                count, n, seed * 1e3, words * 1e3, words / seed, wide * 1e3, wide / seed,
                *verdicts))
        del x
    return met


def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(key)


def measure_memory(n, count, datapath):
    """In this (child) process: the bytes one call adds to the peak over the input."""
    x = np.random.default_rng(5).uniform(-1, 1, n)
    taps = low_pass(count)
    keywords = DATAPATH if datapath else {}
    fixfir.filter(taps, x[:100_000], PRECISION, **keywords)  # the threads and code warm
    before = status("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    y = fixfir.filter(taps, x, PRECISION, **keywords)
    print(status("VmHWM") - before, y.nbytes)


def memory_table(sizes):
    print("\nPeak memory a call adds over its input, in a child process per size:")
    print("%6s %11s %10s %11s %11s %9s" % ("taps", "samples", "datapath", "output",
                                          "added", "beyond"))
    met = True
    for n in sizes:
        for count, datapath in ((63, False), (1023, False), (63, True)):
            child = subprocess.run(
                [sys.executable, __file__, "--memory", str(n), str(count), str(int(datapath))],
                capture_output=True, text=True, check=True)
            added, output = map(int, child.stdout.split())
            ok = added <= output + MEMORY_SLACK
            met = met and ok
            print("%6d %11d %10s %8.1f MB %8.1f MB %6.1f MB  (32 MB %s)" % (
                count, n, "16-bit" if datapath else "32-bit", output / 2**20, added / 2**20,
                (added - output) / 2**20, "met" if ok else "MISSED"))
    return met


def main():
    if sys.argv[1:2] == ["--memory"]:
        measure_memory(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4] == "1")
        return
    quick = "--quick" in sys.argv
    rng = np.random.default_rng(2024)
    print("fixfir.filter at precision %d on %d cores, numpy %s, %s" % (
        PRECISION, os.cpu_count(), np.__version__, time.strftime("%Y-%m-%d %H:%M UTC",
                                                                  time.gmtime())))
    print("load average before: %.2f %.2f %.2f\n" % os.getloadavg())
    speed = (SPEED_SIZES[0],) if quick else SPEED_SIZES
    flat = FLAT_SIZES[:2] if quick else FLAT_SIZES
    results = {
        "speed": speed_table(rng, speed),
        "flat": flat_table(rng, flat),
        "datapath": datapath_table(rng, speed),
        "memory": memory_table(speed),
    }
    print("\nload average after: %.2f %.2f %.2f" % os.getloadavg())
    print("targets: " + ", ".join("%s %s" % (k, "met" if v else "MISSED")
                                  for k, v in results.items()))


if __name__ == "__main__":
    main()
