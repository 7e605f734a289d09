#!/usr/bin/env python3
"""Times the sheetmend program as a whole process on three A4 300-dpi pages.

Builds a Release binary (build/bench), generates the pages reproducibly
(24-bit JPEG, 8-bit PNG, 1-bit Group 4 TIFF), and for every operation prints
the median of several runs, the ratio to the codec floor (the same page
loaded and saved with no work, measured in the same run) and, where a peer
tool does the same job, the ratio to it (ImageMagick).

    bench/program_bench.py [--runs N] [--only SUBSTRING]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
MAGICK = "/usr/bin/convert-im6.q16"

PAGES = [
    # name, depth, file, floor options (load and save, no work)
    ("rgb24", 24, "page24.jpg", ["-bitcount", "24"]),
    ("grey8", 8, "page8.png", ["-bitcount", "8"]),
    ("bw1", 1, "page1.tif", ["-bitcount", "1"]),
]

# name, sheetmend options, output extension (None: the input's), pages, ImageMagick peer options
OPERATIONS = [
    ("threshold auto", ["-threshold", "0"], ".png", None, None),
    ("threshold 128", ["-threshold", "128"], ".png", None, ["-threshold", "50%"]),
    ("bitcount 8", ["-bitcount", "8"], ".png", ["rgb24"], None),
    ("dither 0", ["-dither", "0"], ".png", ["rgb24", "grey8"], ["-dither", "FloydSteinberg", "-monochrome"]),
    ("dither 1", ["-dither", "1"], ".png", ["rgb24", "grey8"], ["-ordered-dither", "o4x4"]),
    ("resize half", ["-width", "1240"], None, None, ["-resize", "1240x"]),
    ("rotate 90", ["-rotate", "90"], None, None, ["-rotate", "90"]),
    ("rotate 5", ["-rotate", "5"], None, None, ["-rotate", "5"]),
    ("flip", ["-flip"], None, None, ["-flip"]),
    ("mirror", ["-mirror"], None, None, ["-flop"]),
    ("bitcount 1", ["-bitcount", "1"], ".png", ["rgb24", "grey8"], None),
    ("bitcount 24", ["-bitcount", "24"], ".png", ["grey8", "bw1"], None),
    ("removelongline 0", ["-removelongline", "0"], None, None, None),
    ("removeshortline 3", ["-removeshortline", "3"], None, None, None),
    ("boxobjects", ["-boxobjects"], ".png", None, None),
    ("trimmargin white", ["-trimmargin", "-trimcolor", "FFFFFF"], None, None, ["-trim", "+repage"]),
    ("removeborder", ["-removeborder"], None, None,
     ["-bordercolor", "black", "-border", "1", "-fuzz", "80%", "-fill", "white", "-draw",
      "color 0,0 floodfill", "-alpha", "off", "-shave", "1x1"]),
    ("deskew", ["-deskew"], ".png", None, ["-deskew", "40%"]),
    ("layout", ["-layout"], None, None, None),
    # The program's own deskew and despeckle, which save the page black and white.
    ("deskew2", ["-deskew2"], None, ["grey8", "bw1"], ["-deskew", "40%"]),
    ("despeckle2", ["-despeckle2"], None, ["grey8", "bw1"], ["-despeckle"]),
    ("deskew2 despeckle2", ["-deskew2", "-despeckle2"], None, ["grey8", "bw1"],
     ["-despeckle", "-deskew", "40%"]),
    # The whole-page straightening step (the sample page lies 1.5 degrees
    # askew), against ImageMagick's deskew of the same page.
    ("straighten", ["-straighten"], None, None, ["-deskew", "40%"]),
    # PDF output: the 1-bit page's floor is the same page to Group 4 TIFF, so
    # "x floor" is the cost of PDF against Group 4 TIFF; the JPEG page's data
    # is passed through.
    ("to pdf", ["-bitcount", "1"], ".pdf", ["bw1"], None),
    ("to pdf", ["-bitcount", "24"], ".pdf", ["rgb24"], None),
    # Local threshold against the global one (see BASELINES), and background
    # flattening against the codec floor.
    # (ImageMagick's -lat with the same 187-pixel window takes tens of
    # seconds per page, so it is left out as a peer.)
    ("adaptive threshold", ["-adaptive", "-threshold", "0"], ".png", ["rgb24", "grey8"], None),
    ("flatten", ["-flatten"], None, ["rgb24", "grey8"], None),
    # The whole cleaning in one pass to Group 4, against the plain threshold
    # (see BASELINES) and unpaper's default chain.
    ("clean threshold", ["-clean", "-threshold", "0"], ".tif", ["grey8"], None),
]

# Operations also timed against another run of ours in the same measurement,
# printed as "x base": what the option costs over the plain operation.
BASELINES = {"adaptive threshold": ["-threshold", "0"], "clean threshold": ["-threshold", "0"]}

# Operations that a second peer does alone: unpaper on the page as Netpbm, the
# file kind the deskew step hands it.
UNPAPER = "/usr/bin/unpaper"
SECOND_PEERS = {"deskew": "unpaper", "clean threshold": "unpaper"}
NETPBM = {1: ".pbm", 8: ".pgm", 24: ".ppm"}


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def build():
    run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
         "-DSHEETMEND_TESTS=OFF"], stdout=subprocess.DEVNULL)
    run(["cmake", "--build", BUILD, "-j", str(os.cpu_count() or 2), "--target", "sheetmend",
         "make_sample_page"], stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, "cli", "sheetmend"), os.path.join(BUILD, "bench", "make_sample_page")


def hyperfine(commands, runs, workdir):
    """Median seconds of each command, all measured in one hyperfine run."""
    out = os.path.join(workdir, "hf.json")
    # -i: sheetmend exits with 1 on success (the result of its last file).
    args = ["hyperfine", "-i", "--style", "none", "--warmup", "1", "--runs", str(runs),
            "--export-json", out, "--prepare", f"rm -f {workdir}/out*"]
    args += commands
    run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        return [r["median"] for r in json.load(f)["results"]]


def quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", default="")
    args = ap.parse_args()
    if not shutil.which("hyperfine"):
        sys.exit("hyperfine is missing: run scripts/setup")
    sheetmend, maker = build()
    work = tempfile.mkdtemp(prefix="sheetmend-bench-")
    try:
        for _, depth, name, _ in PAGES:
            run([maker, os.path.join(work, name), str(depth)])
            run([MAGICK, os.path.join(work, name), os.path.join(work, "page" + NETPBM[depth])])
        print(f"{'operation':22} {'page':6} {'median':>9} {'x floor':>8} {'x peer':>8} {'x peer 2':>9}")
        for page, depth, name, floor_opts in PAGES:
            src = os.path.join(work, name)
            ext = os.path.splitext(name)[1]
            floor_cmd = " ".join([quote(sheetmend)] + floor_opts + [quote(src), quote(os.path.join(work, "out" + ext))])
            for op, opts, out_ext, pages, peer in OPERATIONS:
                if pages and page not in pages:
                    continue
                if args.only and args.only not in op:
                    continue
                out = os.path.join(work, "out" + (out_ext or ext))
                cmds = [floor_cmd, " ".join([quote(sheetmend)] + opts + [quote(src), quote(out)])]
                if peer:
                    cmds.append(" ".join([MAGICK, quote(src)] + [quote(p) for p in peer] + [quote(out)]))
                second = SECOND_PEERS.get(op)
                if second == "unpaper":
                    pnm = os.path.join(work, "page" + NETPBM[depth])
                    cmds.append(" ".join([UNPAPER, quote(pnm), quote(os.path.join(work, "out" + NETPBM[depth]))]))
                base = BASELINES.get(op)
                if base:
                    cmds.append(" ".join([quote(sheetmend)] + base + [quote(src), quote(out)]))
                times = hyperfine(cmds, args.runs, work)
                ratio_peer = f"{times[1] / times[2]:8.2f}" if peer else f"{'-':>8}"
                ratio_second = f"{times[1] / times[3 if peer else 2]:9.2f}" + f" ({second})" if second else f"{'-':>9}"
                ratio_base = f"  {times[1] / times[-1]:.2f} x base ({' '.join(base)})" if base else ""
                print(f"{op:22} {page:6} {times[1] * 1000:7.0f}ms {times[1] / times[0]:8.2f} {ratio_peer} {ratio_second}"
                      + ratio_base, flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
