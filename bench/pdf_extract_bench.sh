#!/usr/bin/env bash
# PDF page extraction speed and memory: a 100-page CCITT G4 PDF (A4 at 300 dpi,
# made by tiff2pdf) read into one multi-page Group 4 TIFF by the program
# ("-bitcount 1" leaves the 1-bit pages as they are), against pdfimages
# writing the same pages as TIFF files. Then the peak memory of the 100-page
# run against that of a 1-page document.
#   bench/pdf_extract_bench.sh [build-dir]
set -euo pipefail
build=${1:-build/release}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/make_sample_page" "$work/page.tif" 1 > /dev/null
tiffcp -c g4 "$work/page.tif" "$work/g4.tif"
pages=()
for i in $(seq 100); do pages+=("$work/g4.tif"); done
tiffcp -c g4 "${pages[@]}" "$work/doc.tif"
tiff2pdf -o "$work/doc.pdf" "$work/doc.tif"
tiff2pdf -o "$work/one.pdf" "$work/g4.tif"
sheetmend="$build/cli/sheetmend"
mkdir "$work/pi"
best() {  # the best of five runs, in milliseconds
  local best=999999 t0 t1 ms
  for _ in 1 2 3 4 5; do
    rm -rf "$work/pi"/* "$work"/out*.tif
    t0=$(date +%s%N); "$@" > /dev/null; t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 )); [ "$ms" -lt "$best" ] && best=$ms
  done
  echo "$best"
}
ours=$(best "$sheetmend" -bitcount 1 "$work/doc.pdf" "$work/out.tif")
theirs=$(best pdfimages -tiff "$work/doc.pdf" "$work/pi/p")
echo "100 CCITT pages: sheetmend ${ours} ms, pdfimages -tiff ${theirs} ms, ratio $(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
rss() { { /usr/bin/time -f %M "$@" 2>&1 > /dev/null || true; } | tail -1; }
rm -f "$work"/out*.tif
all=$(rss "$sheetmend" -bitcount 1 "$work/doc.pdf" "$work/out.tif")
one=$(rss "$sheetmend" -bitcount 1 "$work/one.pdf" "$work/out1.tif")
echo "peak memory: 100 pages ${all} KiB, 1 page ${one} KiB, ratio $(awk -v a="$all" -v b="$one" 'BEGIN { printf "%.2f", a / b }')"
