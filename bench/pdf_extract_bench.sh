#!/usr/bin/env bash
# PDF page extraction speed and memory: a 100-page CCITT G4 PDF (A4 at 300 dpi,
# made by tiff2pdf) read into one multi-page TIFF by pdf_extract, against
# pdfimages writing the same pages as TIFF files. Then the peak memory of all
# 100 pages against that of the first page alone.
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
mkdir "$work/pi"
best() {  # the best of five runs, in milliseconds
  local best=999999 t0 t1 ms
  for _ in 1 2 3 4 5; do
    rm -rf "$work/pi"/* "$work/out.tif"
    t0=$(date +%s%N); "$@" > /dev/null; t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 )); [ "$ms" -lt "$best" ] && best=$ms
  done
  echo "$best"
}
ours=$(best "$build/bench/pdf_extract" "$work/doc.pdf" "$work/out.tif")
theirs=$(best pdfimages -tiff "$work/doc.pdf" "$work/pi/p")
echo "100 CCITT pages: pdf_extract ${ours} ms, pdfimages -tiff ${theirs} ms, ratio $(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
rss() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -1; }
all=$(rss "$build/bench/pdf_extract" "$work/doc.pdf" "$work/out.tif")
one=$(rss "$build/bench/pdf_extract" "$work/doc.pdf" "$work/out.tif" 1)
echo "peak memory: 100 pages ${all} KiB, 1 page ${one} KiB, ratio $(awk -v a="$all" -v b="$one" 'BEGIN { printf "%.2f", a / b }')"
