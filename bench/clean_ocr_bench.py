#!/usr/bin/env python3
"""Word accuracy of the OCR engine after "-clean -threshold 0", against the
page as it was and against unpaper's default chain, and the Group 4 size of
"-clean -threshold 0" against "-threshold 0" alone.

Drawn pages: A4 300-dpi grey pages of known words (Liberation Serif 12 pt),
turned by 0 to 5 degrees onto a black scanner bed (wedges), framed by a dark
border and sprinkled with specks; plus the same text clean and straight.
Real scans from ../shared/scans, turned by known angles onto a black bed;
their truth is the text a reader sees on the scan, typed in
bench/clean_truth/<scan>.txt, or, for a scan without such a file, the
engine's reading of the scan as it was (exact on tess_phototest; on a scan
it misreads, that would score the page as it was at 100 whatever the
engine got wrong). The table's truth holds its words only: in its typeface
a 3 and a 5 cannot be told apart, so its figures have no certain reading.

The "grey" column reads the page after "-clean" alone, still grey. The
engine's line recogniser sees the grey edges of the strokes, so this column
separates what the cleaning does from what the black-and-white result the
user asks for costs.

    bench/clean_ocr_bench.py [--sheetmend PATH] [--only SUBSTRING,...]
"""
import argparse
import collections
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAGICK = "/usr/bin/convert-im6.q16"
UNPAPER = "/usr/bin/unpaper"
SCANS = os.path.join(ROOT, "..", "shared", "scans")
WORDS = ("paper light stone river north market winter letter garden silver number "
         "village morning report account engine station window history table simple "
         "country reading evening harbour summer family picture doctor mountain").split()


def run(cmd, **kw):
    return subprocess.run(cmd, check=False, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, **kw)


def words(text):
    return [w for w in (re.sub(r"[^a-z0-9]", "", t.lower()) for t in text.split()) if w]


def ocr(path):
    return words(run(["tesseract", path, "-", "--psm", "3"], text=True).stdout)


def accuracy(truth, got):
    """Words of the truth found in the reading, each as often as it occurs
    (the engine may read the columns of a table in another order)."""
    found = collections.Counter(got)
    return 100.0 * sum(min(n, found[w]) for w, n in collections.Counter(truth).items()) / max(1, len(truth))


def draw_text(path, seed):
    rng = random.Random(seed)
    lines = [" ".join(rng.choice(WORDS) for _ in range(9)) for _ in range(34)]
    run([MAGICK, "-size", "2480x3508", "-density", "300", "xc:white", "-font", "Liberation-Serif",
         "-pointsize", "12", "-fill", "black", "-annotate", "+300+400", "\n".join(lines),
         "-colorspace", "Gray", "-depth", "8", path])
    return words(" ".join(lines))


def dirty(src, dst, angle, seed, border=True):
    """Turned onto a black bed, a dark frame, and the dust of a dirty
    photocopy: 24000 specks of one to nine pixels (about 2% of the page), all
    below the default speck size."""
    rng = random.Random(seed)
    specks = []
    for _ in range(24000):
        x, y = rng.randrange(150, 2300), rng.randrange(150, 3350)
        specks += ["-draw", f"circle {x},{y} {x + 1},{y}"]
    cmd = [MAGICK, src, "-background", "black", "-rotate", str(angle), "-gravity", "center",
           "-crop", "2480x3508+0+0", "+repage"]
    if border:
        cmd += ["-shave", "70x50", "-bordercolor", "#181818", "-border", "70x50"]
    cmd += ["-fill", "#202020"] + specks + ["-colorspace", "Gray", "-depth", "8", dst]
    run(cmd)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sheetmend", default=os.path.join(ROOT, "build", "bench", "cli", "sheetmend"))
    ap.add_argument("--only", default="", help="comma-separated substrings of the page names to run")
    args = ap.parse_args()
    for tool in ("tesseract", UNPAPER, MAGICK, args.sheetmend):
        if not shutil.which(tool) and not os.path.exists(tool):
            sys.exit(f"{tool} is missing: run scripts/setup and build")
    work = tempfile.mkdtemp(prefix="sheetmend-clean-ocr-")
    rows = []
    try:
        text = os.path.join(work, "text.png")
        truth = draw_text(text, 1)
        cases = [("drawn clean", text, truth, False)]
        for angle in (0.0, 2.0, 5.0, -3.0):
            page = os.path.join(work, f"drawn{angle}.png")
            dirty(text, page, angle, int(angle * 10) + 7)
            cases.append((f"drawn dirty {angle:+.0f}", page, truth, True))
        for name in ("tess_phototest.tif", "lept_table.27.tif", "lept_w91frag.jpg"):
            src = os.path.join(SCANS, name)
            if not os.path.exists(src):
                continue
            grey = os.path.join(work, name + ".png")
            run([MAGICK, src, "-colorspace", "Gray", "-depth", "8", grey])
            typed = os.path.join(ROOT, "bench", "clean_truth", os.path.splitext(name)[0] + ".txt")
            if os.path.exists(typed):
                with open(typed, encoding="utf-8") as f:
                    scan_truth = words(f.read())
            else:
                scan_truth = ocr(grey)
            cases.append((f"{name} as is", grey, scan_truth, False))
            for angle in (1.0, 2.0, 4.0, -1.0, -2.0, -4.0):
                turned = os.path.join(work, f"{name}{angle}.png")
                run([MAGICK, grey, "-background", "black", "-rotate", str(angle), "-depth", "8", turned])
                cases.append((f"{name} {angle:+.0f}", turned, scan_truth, True))
        print(f"{'page':28} {'as is':>6} {'clean':>6} {'unpaper':>8} {'grey':>6} {'G4 plain':>9} {'G4 clean':>9}")
        for name, page, truth_words, is_dirty in cases:
            if args.only and not any(part in name for part in args.only.split(",")):
                continue
            cleaned, plain = os.path.join(work, "clean.tif"), os.path.join(work, "plain.tif")
            greyed = os.path.join(work, "clean-grey.png")
            for f in (cleaned, plain, greyed):
                if os.path.exists(f):
                    os.unlink(f)
            run([args.sheetmend, "-clean", "-threshold", "0", page, cleaned])
            run([args.sheetmend, "-threshold", "0", page, plain])
            run([args.sheetmend, "-clean", page, greyed])
            pgm, unp = os.path.join(work, "in.pgm"), os.path.join(work, "unpaper.pgm")
            run([MAGICK, page, pgm])
            if os.path.exists(unp):
                os.unlink(unp)
            run([UNPAPER, "--overwrite", pgm, unp])
            a, c, u = accuracy(truth_words, ocr(page)), accuracy(truth_words, ocr(cleaned)), \
                accuracy(truth_words, ocr(unp) if os.path.exists(unp) else [])
            g = accuracy(truth_words, ocr(greyed))
            sp, sc = os.path.getsize(plain), os.path.getsize(cleaned)
            rows.append((name, a, c, u, g, sp, sc, is_dirty))
            print(f"{name:28} {a:6.1f} {c:6.1f} {u:8.1f} {g:6.1f} {sp:9d} {sc:9d}  ({100 - 100.0 * sc / sp:.0f}% smaller)",
                  flush=True)
        # The engine's reading of a table swings by several points with a
        # pixel's change anywhere (unpaper's shifting the content of a straight
        # page moves it as much): the means over each kind's turned pages say
        # more than any one row.
        print(f"\n{'mean of the turned pages':28} {'as is':>6} {'clean':>6} {'unpaper':>8} {'grey':>6}")
        kinds = collections.OrderedDict()
        for name, a, c, u, g, _, _, turned in rows:
            if turned:
                kinds.setdefault(name.rsplit(" ", 1)[0], []).append((a, c, u, g))
        for kind, values in kinds.items():
            means = [sum(v[i] for v in values) / len(values) for i in range(4)]
            print(f"{kind + f' ({len(values)})':28} {means[0]:6.1f} {means[1]:6.1f} {means[2]:8.1f} {means[3]:6.1f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
