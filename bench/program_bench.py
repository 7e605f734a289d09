#!/usr/bin/env python3
"""Times the sheetmend program as a whole process on drawn A4 pages.

Builds a Release binary (build/bench), generates the pages reproducibly
(24-bit JPEG, 8-bit PNG, 1-bit Group 4 TIFF) and prints three tables:

- floor: on the 300-dpi pages, for every operation the median of several
  runs, the ratio to the codec floor (the same page loaded and saved with no
  work, measured in the same run) and, where a peer tool does the same job,
  the ratio to it (ImageMagick);
- scaling: every operation on the same drawn page at 150, 300 and 600 dpi,
  the three measured in one run, with seconds and the ratio to 300 dpi (four
  times the pixels should cost about four times as much);
- batch: a folder of 200 pages on 1 and 2 workers (SHEETMEND_JOBS), with the
  peak memory (maximum resident set) of each.

Timings are medians of wall-clock time, with ratios of the processor time
(user + system) beside them; on a shared machine compare the ratios, which
are taken within one run, rather than the seconds.

    bench/program_bench.py [--runs N] [--only SUBSTRING,...] [--tables floor,scaling,batch]
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

# Stands for half the page's width in the options of an operation.
HALF_WIDTH = "{half width}"

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
    ("resize half", ["-width", HALF_WIDTH], None, None, ["-resize", "1240x"]),
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
DPIS = [150, 300, 600]
A4_300 = (2480, 3508)

# The batch: 200 pages, half 1-bit Group 4 TIFF and half 24-bit JPEG, each
# with its own skew, and the operations timed on it.
BATCH_PAGES = 200
BATCH_OPERATIONS = [
    ("deskew2 despeckle2", ["-deskew2", "-despeckle2"], ".tif"),
    ("trimmargin white", ["-trimmargin", "-trimcolor", "FFFFFF"], ".tif"),
]
BATCH_JOBS = [1, 2]

UNPAPER = "/usr/bin/unpaper"
SECOND_PEERS = {"deskew": "unpaper", "clean threshold": "unpaper"}
NETPBM = {1: ".pbm", 8: ".pgm", 24: ".ppm"}


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def build():
    launcher = []
    if shutil.which("ccache"):
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
    run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
         "-DSHEETMEND_TESTS=OFF"] + launcher, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", BUILD, "-j", str(os.cpu_count() or 2), "--target", "sheetmend",
         "make_sample_page"], stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, "cli", "sheetmend"), os.path.join(BUILD, "bench", "make_sample_page")


def measure(commands, runs, workdir, shell=True):
    """(median wall seconds, mean user + system seconds) of each command, all
    measured in one hyperfine run. The processor time moves less than the
    wall time when other work shares the machine."""
    out = os.path.join(workdir, "hf.json")
    # -i: sheetmend exits with 1 on success (the result of its last file).
    # The outputs go before every run, without a shell's globbing (-N runs
    # the preparation without a shell too); a peer such as unpaper refuses to
    # overwrite its output and would otherwise fail fast on every later run.
    args = ["hyperfine", "-i", "--style", "none", "--warmup", "1", "--runs", str(runs),
            "--export-json", out, "--prepare", f"find {workdir} -maxdepth 1 -name out* -delete"]
    if not shell:
        args.append("-N")
    args += commands
    run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        return [(r["median"], r["user"] + r["system"]) for r in json.load(f)["results"]]


def hyperfine(commands, runs, workdir):
    """Median seconds of each command, all measured in one hyperfine run."""
    return [wall for wall, _ in measure(commands, runs, workdir)]


def quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


def page_size(dpi):
    return round(A4_300[0] * dpi / 300), round(A4_300[1] * dpi / 300)


def options_for(opts, width):
    return [str(width // 2) if o == HALF_WIDTH else o for o in opts]


def draw_pages(maker, work):
    """The three pages at every resolution: work/page<depth>_<dpi><ext>."""
    for _, depth, name, _ in PAGES:
        stem, ext = os.path.splitext(name)
        for dpi in DPIS:
            w, h = page_size(dpi)
            run([maker, os.path.join(work, f"{stem}_{dpi}{ext}"), str(depth), str(w), str(h), "1.5", str(dpi)])
        shutil.copy(os.path.join(work, f"{stem}_300{ext}"), os.path.join(work, name))
        run([MAGICK, os.path.join(work, name), os.path.join(work, "page" + NETPBM[depth])])


def selected(args, op):
    return not args.only or any(part in op for part in args.only.split(","))


def floor_table(args, sheetmend, work):
    print("Against the floor, A4 at 300 dpi")
    print(f"{'operation':22} {'page':6} {'median':>9} {'x floor':>8} {'x f.cpu':>8} {'x peer':>8} {'x peer 2':>9}")
    for page, depth, name, floor_opts in PAGES:
        src = os.path.join(work, name)
        ext = os.path.splitext(name)[1]
        floor_cmd = " ".join([quote(sheetmend)] + floor_opts + [quote(src), quote(os.path.join(work, "out" + ext))])
        for op, opts, out_ext, pages, peer in OPERATIONS:
            if pages and page not in pages or not selected(args, op):
                continue
            out = os.path.join(work, "out" + (out_ext or ext))
            opts = options_for(opts, A4_300[0])
            cmds = [floor_cmd, " ".join([quote(sheetmend)] + [quote(o) for o in opts] + [quote(src), quote(out)])]
            if peer:
                cmds.append(" ".join([MAGICK, quote(src)] + [quote(p) for p in peer] + [quote(out)]))
            second = SECOND_PEERS.get(op)
            if second == "unpaper":
                pnm = os.path.join(work, "page" + NETPBM[depth])
                cmds.append(" ".join([UNPAPER, quote(pnm), quote(os.path.join(work, "out" + NETPBM[depth]))]))
            base = BASELINES.get(op)
            if base:
                cmds.append(" ".join([quote(sheetmend)] + base + [quote(src), quote(out)]))
            stats = measure(cmds, args.runs, work, shell=False)
            times = [wall for wall, _ in stats]
            cpu = [c for _, c in stats]
            ratio_peer = f"{times[1] / times[2]:8.2f}" if peer else f"{'-':>8}"
            ratio_second = f"{times[1] / times[3 if peer else 2]:9.2f}" + f" ({second})" if second else f"{'-':>9}"
            ratio_base = f"  {times[1] / times[-1]:.2f} x base ({' '.join(base)})" if base else ""
            print(f"{op:22} {page:6} {times[1] * 1000:7.0f}ms {times[1] / times[0]:8.2f} {cpu[1] / cpu[0]:8.2f} "
                  f"{ratio_peer} {ratio_second}" + ratio_base, flush=True)


def scaling_table(args, sheetmend, work):
    print()
    print("Scaling: the same page at 150, 300 and 600 dpi (4x the pixels from 300 to 600), the floor first")
    print(f"{'operation':22} {'page':6} " + " ".join(f"{str(d) + ' dpi':>9}" for d in DPIS) +
          f" {'150/300':>8} {'600/300':>8} {'cpu 600/300':>12}")
    for page, depth, name, floor_opts in PAGES:
        stem, ext = os.path.splitext(name)
        rows = [("(floor)", floor_opts, None)]
        rows += [(op, opts, out_ext) for op, opts, out_ext, pages, _ in OPERATIONS
                 if not (pages and page not in pages) and selected(args, op)]
        for op, opts, out_ext in rows:
            cmds = []
            for dpi in DPIS:
                src = os.path.join(work, f"{stem}_{dpi}{ext}")
                out = os.path.join(work, f"out{dpi}" + (out_ext or ext))
                dpi_opts = options_for(opts, page_size(dpi)[0])
                cmds.append(" ".join([quote(sheetmend)] + [quote(o) for o in dpi_opts] + [quote(src), quote(out)]))
            stats = measure(cmds, args.runs, work, shell=False)
            times = [wall for wall, _ in stats]
            cpu = [c for _, c in stats]
            mid = DPIS.index(300)
            print(f"{op:22} {page:6} " + " ".join(f"{t:8.3f}s" for t in times) +
                  f" {times[0] / times[mid]:8.2f} {times[2] / times[mid]:8.2f} {cpu[2] / cpu[mid]:12.2f}", flush=True)


def peak_memory_kib(command):
    """Maximum resident set of one run of a shell command, in KiB."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M", "sh", "-c", command],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(out.stderr.strip().splitlines()[-1])


def batch_table(args, sheetmend, maker, work):
    batch = os.path.join(work, "batch")
    os.mkdir(batch)
    # Eight distinct pages, each copied 25 times; named "out..." so that the
    # outputs, which land beside the work folder's other files, are removed
    # before each run.
    kinds = []
    for i in range(8):
        depth, ext = (1, ".tif") if i % 2 == 0 else (24, ".jpg")
        path = os.path.join(work, f"kind{i}{ext}")
        run([maker, path, str(depth), str(A4_300[0]), str(A4_300[1]), f"{0.4 + 0.2 * i:.2f}"])
        kinds.append((path, ext))
    for k in range(BATCH_PAGES):
        path, ext = kinds[k % len(kinds)]
        shutil.copy(path, os.path.join(batch, f"out{k:03d}{ext}"))
    print()
    print(f"Batch: {BATCH_PAGES} A4 300-dpi pages (1-bit TIFF and 24-bit JPEG), {os.cpu_count()} processors")
    print(f"{'operation':22} " + " ".join(f"{'jobs=' + str(j):>9} {'peak':>8}" for j in BATCH_JOBS) + "  speedup")
    for name, options, ext in BATCH_OPERATIONS:
        if not selected(args, name):
            continue
        line = " ".join(quote(o) for o in options)
        commands = [f"SHEETMEND_JOBS={j} {quote(sheetmend)} {line} {quote(batch + '/*')} "
                    f"{quote(work + '/x' + ext)} > /dev/null" for j in BATCH_JOBS]
        times = hyperfine(commands, max(1, min(args.runs, 3)), work)
        peaks = []
        for command in commands:
            subprocess.run(f"rm -f {quote(work)}/out*", shell=True)
            peaks.append(peak_memory_kib(command))
        cells = " ".join(f"{t:8.2f}s {p / 1024:6.0f}MB" for t, p in zip(times, peaks))
        print(f"{name:22} {cells}  {times[0] / times[-1]:.2f}x", flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", default="")
    ap.add_argument("--tables", default="floor,scaling,batch")
    args = ap.parse_args()
    tables = set(args.tables.split(","))
    if not shutil.which("hyperfine"):
        sys.exit("hyperfine is missing: run scripts/setup")
    sheetmend, maker = build()
    work = tempfile.mkdtemp(prefix="sheetmend-bench-")
    try:
        draw_pages(maker, work)
        if "floor" in tables:
            floor_table(args, sheetmend, work)
        if "scaling" in tables:
            scaling_table(args, sheetmend, work)
        if "batch" in tables:
            batch_table(args, sheetmend, maker, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
