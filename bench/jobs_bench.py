#!/usr/bin/env python3
"""Times one batch of 16 A4 300-dpi pages serially and on several workers.

Builds the Release binary (build/bench), draws 16 scan-like pages (8-bit PNG
and 24-bit JPEG, each with its own skew), and for each operation prints the
median time with SHEETMEND_JOBS=1, 2, ... up to the processors of this
machine, and the speedup over one worker, all measured in one hyperfine run.

    bench/jobs_bench.py [--runs N] [--jobs 1,2,4]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from program_bench import build, hyperfine, quote, run  # noqa: E402

OPERATIONS = [
    ("deskew2 despeckle2", ["-deskew2", "-despeckle2"], ".tif"),
    ("threshold 0 to G4 TIFF", ["-threshold", "0"], ".tif"),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--jobs", default=None, help="worker counts, e.g. 1,2,4")
    args = parser.parse_args()
    cores = os.cpu_count() or 1
    jobs = [int(j) for j in args.jobs.split(",")] if args.jobs else sorted({1, 2, cores})

    sheetmend, draw = build()
    work = tempfile.mkdtemp(prefix="sheetmend-jobs-bench-")
    try:
        pages = os.path.join(work, "pages")
        os.mkdir(pages)
        for i in range(16):
            depth, ext = (8, ".png") if i % 2 == 0 else (24, ".jpg")
            skew = f"{0.4 + 0.15 * i:.2f}"
            # Named "out..": the outputs land beside the work folder's other
            # files as out00.tif, ..., which hyperfine removes before each run.
            run([draw, os.path.join(pages, f"out{i:02d}{ext}"), str(depth), "2480", "3508", skew],
                stdout=subprocess.DEVNULL)
        print(f"16 A4 pages at 300 dpi, {cores} processors, median of {args.runs} runs")
        print(f"{'operation':24} " + " ".join(f"{'jobs=' + str(j):>9}" for j in jobs) + "   speedup")
        for name, options, ext in OPERATIONS:
            line = " ".join(quote(o) for o in options)
            commands = [
                f"SHEETMEND_JOBS={j} {quote(sheetmend)} {line} {quote(pages + '/*')} "
                f"{quote(work + '/x' + ext)} > /dev/null"
                for j in jobs
            ]
            times = hyperfine(commands, args.runs, work)
            speedups = " ".join(f"{times[0] / t:.2f}x(j={j})" for j, t in zip(jobs[1:], times[1:]))
            print(f"{name:24} " + " ".join(f"{t:8.2f}s" for t in times) + "   " + speedups)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
