"""report.html in a real browser: headless Chromium loads the report's, the scan's and the
search's page without a console message, finds the title and every picture as an <svg> element,
and draws a screenshot that is not blank.

    report_browser_test.py FIXFIR_REPORT EXAMPLES_DIR OUTPUT_DIR

Exits 77 (skipped) when chromium or gnuplot is missing. The pages and screenshots stay
in OUTPUT_DIR to be looked at.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SKIP = 77
WIDTH = 1200


def decode_png(data):
    """(width, height, rows of RGB(A) bytes) of an 8-bit, non-interlaced RGB or RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    pos, idat = 8, []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG kind"
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    bpp = 3 if colour == 2 else 4
    stride = width * bpp
    raw = zlib.decompress(b"".join(idat))
    rows, prev = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, prev))
        elif kind == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                b, c = prev[i], prev[i - bpp] if i >= bpp else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return width, height, bpp, rows


def chromium(browser, profile, page, *extra):
    """Runs headless Chromium on `page`; its standard output, and the problems it logged."""
    run = subprocess.run(
        [browser, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile,
         "--enable-logging=stderr", "--v=0", *extra, "file://" + page],
        capture_output=True, text=True, timeout=180, check=False)
    # Every console message of the page (an uncaught error, a failed script) is logged as
    # CONSOLE; the page itself writes none.
    problems = [line for line in run.stderr.splitlines() if "CONSOLE" in line]
    if run.returncode != 0:
        problems.append("chromium exited with status %d" % run.returncode)
    return run.stdout, problems


def check_page(browser, profile, page, title, pictures, window_height, shot):
    failures = []
    dom, problems = chromium(browser, profile, page, "--dump-dom")
    failures += problems
    if "<title>%s</title>" % title not in dom or "<h1>%s</h1>" % title not in dom:
        failures.append("the title '%s' is missing" % title)
    if len(re.findall(r"<svg[\s>]", dom)) != pictures:
        failures.append("%d pictures expected as <svg>" % pictures)

    _, problems = chromium(browser, profile, page, "--screenshot=" + shot,
                           "--window-size=%d,%d" % (WIDTH, window_height))
    failures += problems
    if not os.path.exists(shot):
        return failures + ["no screenshot"]
    width, height, bpp, rows = decode_png(open(shot, "rb").read())
    if (width, height) != (WIDTH, window_height):
        return failures + ["the screenshot is %dx%d" % (width, height)]
    inked = coloured = 0
    colours = set()
    title_dark = False
    for y in range(0, height, 2):
        line = rows[y]
        for x in range(0, width * bpp, 2 * bpp):
            r, g, b = line[x], line[x + 1], line[x + 2]
            colours.add((r, g, b))
            if min(r, g, b) < 235:
                inked += 1
            if max(r, g, b) - min(r, g, b) > 100:
                coloured += 1  # a curve: the tables are grey and black
            if y < 70 and max(r, g, b) < 80:
                title_dark = True
    samples = (height // 2) * (width // 2)
    if not 0.02 < inked / samples < 0.9 or len(colours) < 50:
        failures.append("the screenshot looks blank (%d colours, %.1f%% inked)"
                        % (len(colours), 100.0 * inked / samples))
    if not title_dark:
        failures.append("no title drawn at the top of the screenshot")
    if coloured < 200:
        failures.append("no coloured curve drawn in the screenshot")
    return failures


def main():
    report, examples, output = sys.argv[1:4]
    browser = shutil.which("chromium")
    if browser is None:
        print("SKIPPED: chromium is not installed (apt-get install chromium)")
        return SKIP
    if shutil.which("gnuplot") is None:
        print("SKIPPED: gnuplot is not installed (apt-get install gnuplot-nox)")
        return SKIP
    tones = ["--initial", "100", "--step", "50", "--ending", "4000", "--sweep-step", "100"]
    # The window's height takes in the first picture: the search's front (58 rows) comes
    # before it.
    runs = [("report", ["--precision", "15"], "fixfir-report: 63 taps at precision 15", 2, 2000),
            ("scan", ["--scan"], "fixfir-report: which precision for 63 taps", 1, 2000),
            ("explore", ["--explore"], "fixfir-report: which datapath for 63 taps", 1, 3200)]
    failures = []
    with tempfile.TemporaryDirectory() as profile:
        for name, args, title, pictures, height in runs:
            folder = os.path.abspath(os.path.join(output, name))
            os.makedirs(folder, exist_ok=True)
            shutil.copy(os.path.join(examples, "taps.txt"), folder)
            run = subprocess.run([report, *args, *tones, "--dir", folder, "--html"],
                                 capture_output=True, text=True, timeout=300, check=False)
            if run.returncode != 0:
                failures.append("%s: fixfir-report failed: %s" % (name, run.stderr.strip()))
                continue
            page = os.path.join(folder, "report.html")
            shot = os.path.join(folder, "screenshot.png")
            failures += ["%s: %s" % (name, f)
                         for f in check_page(browser, profile, page, title, pictures, height, shot)]
            print("%s: %s, %s" % (name, page, shot))
    for f in failures:
        print("FAILED " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
