#!/usr/bin/env python3
"""What the per-page report adds to a batch of 100 A4 300-dpi pages.

Draws 10 pages (scan-like text pages, 8-bit PNG and 1-bit TIFF, and two
nearly blank ones, which take the full count and the component labelling;
--blank 0 draws text pages only), links them in turn into a folder of 100 files, and times one batch on one
worker with and without "-report", alternating run by run so that a change
in the machine's load falls on both alike. Prints the medians and their
ratio; the bar is 1.01.

    bench/report_bench.py [--runs N] [--binary build/release/cli/sheetmend]
"""
import argparse
import glob
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from program_bench import MAGICK, build, quote, run  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--binary", help="a sheetmend already built (else build/bench)")
    parser.add_argument("--maker", help="a make_sample_page already built")
    parser.add_argument("--operation", default="-threshold 0")
    parser.add_argument("--blank", type=int, default=2, choices=(0, 1, 2),
                        help="nearly blank pages among the 10 drawn")
    args = parser.parse_args()
    if args.binary and args.maker:
        sheetmend, draw = os.path.abspath(args.binary), os.path.abspath(args.maker)
    else:
        sheetmend, draw = build()
    work = tempfile.mkdtemp(prefix="sheetmend-report-bench-")
    try:
        drawn, pages = os.path.join(work, "drawn"), os.path.join(work, "pages")
        os.mkdir(drawn)
        os.mkdir(pages)
        names = []
        for i in range(10 - args.blank):
            depth, ext = (8, ".png") if i % 2 == 0 else (1, ".tif")
            names.append(f"p{i}{ext}")
            run([draw, os.path.join(drawn, names[-1]), str(depth), "2480", "3508",
                 f"{0.3 + 0.2 * i:.2f}"], stdout=subprocess.DEVNULL)
        for i, (x, y) in enumerate([(1240, 1754), (300, 3300)][:args.blank]):
            names.append(f"b{i}.png")
            # A scanner edge and a speck.
            run([MAGICK, "-size", "2480x3508", "xc:white", "-fill", "black", "-draw",
                 f"rectangle 0,0 2479,1 circle {x},{y} {x + 3},{y}", "-density", "300",
                 "-units", "PixelsPerInch", "-type", "Grayscale", os.path.join(drawn, names[-1])])
        for k in range(100):
            name = names[k % len(names)]
            # Named "out..": outputs land in the work folder as out000.tif,
            # ..., which hyperfine removes before each run.
            os.symlink(os.path.join(drawn, name), os.path.join(pages, f"out{k:03d}{name[-4:]}"))
        base = (f"SHEETMEND_JOBS=1 {quote(sheetmend)} {args.operation} "
                f"{quote(pages + '/*')} {quote(work + '/x.tif')}")
        commands = [base + " > /dev/null",
                    base.replace(args.operation,
                                 args.operation + " -report " + quote(work + "/out.jsonl"))
                    + " > /dev/null"]
        # Wall time, and the processor time of the batch, which a machine
        # shared with other work disturbs far less.
        times, cpu = [[], []], [[], []]
        for r in range(args.runs + 1):
            # Each goes first in every other round, so neither gains from order.
            for i in (0, 1) if r % 2 else (1, 0):
                command = commands[i]
                for old in glob.glob(os.path.join(work, "out*")):
                    os.remove(old)
                used = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                subprocess.run(command, shell=True, check=False)
                wall = time.perf_counter() - start
                now = resource.getrusage(resource.RUSAGE_CHILDREN)
                if r > 0:  # the first round warms the caches
                    times[i].append(wall)
                    cpu[i].append(now.ru_utime + now.ru_stime - used.ru_utime - used.ru_stime)
        plain, reported = (statistics.median(t) for t in times)
        plain_cpu, reported_cpu = (statistics.median(t) for t in cpu)
        print(f"100 A4 pages at 300 dpi ({args.blank * 10} nearly blank), {args.operation}, "
              f"one worker, median of {args.runs} runs")
        print(f"without report {plain:8.3f}s   with report {reported:8.3f}s   "
              f"ratio {reported / plain:.4f}")
        print(f"processor time {plain_cpu:8.3f}s   with report {reported_cpu:8.3f}s   "
              f"ratio {reported_cpu / plain_cpu:.4f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
