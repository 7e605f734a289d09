#!/usr/bin/env python3
"""Searchable PDFs: "sheetmend -ocr IN out.pdf" against OCRmyPDF on the same
pages, with the same engine and language, one page at a time.

    bench/searchable_pdf_bench.py [SCAN...] [--runs N] [--lang eng]

By default every file of ../shared/scans (beside the repository) is used.
For each page, in one run, it times tesseract alone (hOCR output, as our
engine adapter runs it), sheetmend and OCRmyPDF (-j 1, PDF output without
the PDF/A conversion), all with OMP_THREAD_LIMIT=1, and sheetmend once more
with a stand-in engine that hands back this page's hOCR file at once (our
own part: reading the page, the box list, the PDF). It prints per page the
wall and CPU time (ms, the programs each one waited for included) of each,
the time beyond the engine's own (whole run minus tesseract alone) of ours
and OCRmyPDF's and their ratio, the same ratio with our own part measured
alone (on a busy machine the differences of whole runs are mostly noise),
the two file sizes, how equal the words pdftotext gives are (ours against
the box list, in pdftotext's layout order and with -raw, which keeps the
order of the text in the file; ours against OCRmyPDF's; in layout order
pdftotext joins a word hyphenated at a line's end to its rest, and the box
list's words are joined the same way there), and the share of
the words pdftotext -bbox gives whose left and right edges lie within one
point of the engine's hOCR box of the same word, and whose bottom lies
within a point of their line's baseline in the word's middle (a word that
pdftotext joined or split, such as a word hyphenated at a line's end,
counts as a miss).

OCRmyPDF is a peer for this comparison only (Debian's ocrmypdf package);
the script skips it when it is not installed.
"""
import argparse
import difflib
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import html

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("BUILD", os.path.join(ROOT, "build/release"))
SHEETMEND = os.path.join(BUILD, "cli/sheetmend")
TESSDATA = os.path.join(BUILD, "cli/tessdata")
ENV = dict(os.environ, OMP_THREAD_LIMIT="1")


def timed(args):
    """(wall ms, CPU ms of the children) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(args, env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = (time.monotonic() - start) * 1000
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000
    return wall, cpu


def median_run(args, runs, before=None):
    walls, cpus = [], []
    for _ in range(runs):
        if before:
            before()
        w, c = timed(args)
        walls.append(w)
        cpus.append(c)
    return statistics.median(walls), statistics.median(cpus)


def pdftotext(pdf, *options):
    return subprocess.run(["pdftotext", *options, pdf, "-"], capture_output=True,
                          text=True).stdout


def equal_share(a, b):
    if not a and not b:
        return 1.0
    return difflib.SequenceMatcher(None, a, b, autojunk=False).ratio()


def joined_at_hyphens(words):
    """The words with each one that ends in a hyphen (a word broken at a
    line's end) joined to the next, as plain pdftotext joins them."""
    out = []
    for w in words:
        if out and len(out[-1]) > 1 and out[-1].endswith("-"):
            out[-1] = out[-1][:-1] + w
        else:
            out.append(w)
    return out


def box_list_words(path):
    words = []
    if not os.path.exists(path):  # a page without words has none
        return words
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        for line in f.read().replace("\f", "").split("\r\n"):
            if line:
                words.append(line.split(",", 4)[4])
    return words


def hocr_words(document):
    """(text, x0, x1, baseline in the word's middle, y0, y1, text angle) of
    each word of our adapter's hOCR file, in pixels."""
    words = []
    for chunk in document.split('class="ocr_line" title="')[1:]:
        title = chunk[:chunk.index('"')]
        lx0, _, _, ly1 = map(int, re.match(r"bbox (\d+) (\d+) (\d+) (\d+)", title).groups())
        m = re.search(r"baseline (\S+) ([^;]+)", title)
        slope, offset = (float(m[1]), float(m[2])) if m else (0.0, 0.0)
        turn = re.search(r"textangle (\d+)", title)
        angle = int(turn[1]) if turn else 0
        for x0, y0, x1, y1, text in re.findall(
                r'class="ocr_word" title="bbox (\d+) (\d+) (\d+) (\d+)[^"]*">\s*<span>([^<]*)<',
                chunk):
            middle = (int(x0) + int(x1)) / 2
            words.append((html_unescape(text), int(x0), int(x1),
                          ly1 + offset + slope * (middle - lx0), int(y0), int(y1), angle))
    return words


def html_unescape(text):
    return html.unescape(text)


def placed_within_a_point(pdf, scan, work, lang):
    """Of the words pdftotext -bbox gives, the shares whose left and right
    edges lie within a point of the engine's hOCR box of the same word (the
    one of that text nearest to it), and whose bottom lies within a point of
    the line's baseline in the word's middle."""
    base = os.path.join(work, "hocr")
    env = dict(ENV, TESSDATA_PREFIX=os.path.join(BUILD, "cli") + "/")
    subprocess.run([os.path.join(BUILD, "cli/ocr.exe"), scan, base, "-l", lang, "HOCR"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(base + ".html", encoding="utf-8") as f:
        boxes = hocr_words(f.read())
    dpi = subprocess.run(["pdfimages", "-list", pdf], capture_output=True,
                         text=True).stdout.splitlines()[2].split()[12:14]
    sx, sy = 72 / float(dpi[0]), 72 / float(dpi[1])
    placed = re.findall(
        r'xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)<',
        pdftotext(pdf, "-bbox"))
    if not placed:
        return float("nan"), float("nan")
    across = along = 0
    for a, b, c, d, text in placed:
        a, b, c, d = float(a), float(b), float(c), float(d)
        same = [w for w in boxes if w[0] == html_unescape(text)]
        if not same:
            continue
        _, x0, x1, baseline, y0, y1, angle = min(
            same, key=lambda w: abs(w[1] * sx - a) + abs(w[4] * sy - b))
        if angle in (90, 270):
            # A word running up (or down) the page: its ends are the box's
            # top and bottom, and its baseline the box's right (or left)
            # edge, where the glyphs' feet stand.
            across += abs(b - y0 * sy) <= 1 and abs(d - y1 * sy) <= 1
            along += abs((c if angle == 90 else a) - (x1 if angle == 90 else x0) * sx) <= 1
        else:
            across += abs(a - x0 * sx) <= 1 and abs(c - x1 * sx) <= 1
            along += abs(d - baseline * sy) <= 1
    return across / len(placed), along / len(placed)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scans", nargs="*")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--lang", default="eng")
    args = parser.parse_args()
    scans = args.scans or sorted(
        os.path.join(ROOT, "../shared/scans", n)
        for n in os.listdir(os.path.join(ROOT, "../shared/scans")) if not n.endswith(".md"))
    peer = shutil.which("ocrmypdf")
    if not os.access(SHEETMEND, os.X_OK):
        sys.exit("build sheetmend first: cmake --build build/release --target sheetmend")
    print("page                 | tess ms (cpu)   | ours ms (cpu)   | own part (cpu)  | "
          "OCRmyPDF ms (cpu) | beyond engine: ours, peer, own/peer wall (cpu) | "
          "KB ours/peer | words =box raw =peer | 1pt x / y")
    for scan in scans:
        work = tempfile.mkdtemp()
        try:
            ours = os.path.join(work, "ours.pdf")
            theirs = os.path.join(work, "theirs.pdf")
            bin_dir = os.path.join(work, "bin")
            os.mkdir(bin_dir)
            shutil.copy(SHEETMEND, bin_dir)
            with open(os.path.join(bin_dir, "ocr.exe"), "w") as f:
                f.write('#!/bin/sh\ncp "$(dirname "$0")/page.html" "$2.html"\n')
            os.chmod(os.path.join(bin_dir, "ocr.exe"), 0o755)

            def clear():
                for name in os.listdir(work):
                    if name != "bin":
                        os.unlink(os.path.join(work, name))

            tess = median_run(["tesseract", scan, os.path.join(work, "alone"), "--tessdata-dir",
                               TESSDATA, "-l", args.lang, "-c", "tessedit_create_hocr=1", "-c",
                               "tessedit_create_txt=0"], args.runs, clear)
            mine = median_run([SHEETMEND, "-ocr", "-lang", args.lang, scan, ours], args.runs, clear)
            text = pdftotext(ours).split()
            raw = pdftotext(ours, "-raw").split()
            boxes = box_list_words(os.path.join(work, "ours-0.box.txt"))
            size = os.path.getsize(ours)
            across, along = placed_within_a_point(ours, scan, work, args.lang)
            shutil.copy(os.path.join(work, "hocr.html"), os.path.join(bin_dir, "page.html"))
            own = median_run([os.path.join(bin_dir, "sheetmend"), "-ocr", "-lang", args.lang, scan,
                              ours], args.runs, clear)
            nan = float("nan")
            peer_time, peer_size, peer_equal = (nan, nan), nan, nan
            if peer:
                # The peer refuses an image whose resolution it cannot trust;
                # it is given the one the file claims (or 72, as we read it).
                dpi = subprocess.run(["identify", "-format", "%x", scan + "[0]"],
                                     capture_output=True, text=True).stdout.split()[0]
                peer_time = median_run(
                    [peer, "-j", "1", "-l", args.lang, "--output-type", "pdf", "--image-dpi",
                     str(round(float(dpi))), scan, theirs], args.runs)
                peer_size = os.path.getsize(theirs) if os.path.exists(theirs) else nan
                peer_equal = equal_share(text, pdftotext(theirs).split())
            beyond = [mine[i] - tess[i] for i in (0, 1)]
            peer_beyond = [peer_time[i] - tess[i] for i in (0, 1)]
            print(f"{os.path.basename(scan):20} | {tess[0]:6.0f} ({tess[1]:6.0f}) | "
                  f"{mine[0]:6.0f} ({mine[1]:6.0f}) | {own[0]:6.0f} ({own[1]:6.0f}) | "
                  f"{peer_time[0]:7.0f} ({peer_time[1]:7.0f}) | "
                  f"{beyond[0]:5.0f} ({beyond[1]:5.0f}), {peer_beyond[0]:6.0f} ({peer_beyond[1]:5.0f}), "
                  f"{own[0] / peer_beyond[0]:4.2f} ({own[1] / peer_beyond[1]:4.2f}) | "
                  f"{size / 1024:6.1f} / {peer_size / 1024:6.1f} | "
                  f"{equal_share(joined_at_hyphens(text), joined_at_hyphens(boxes)):5.3f} "
                  f"{equal_share(raw, boxes):5.3f} "
                  f"{peer_equal:5.3f} | {across:5.3f} {along:5.3f}", flush=True)
        finally:
            shutil.rmtree(work)


if __name__ == "__main__":
    main()
