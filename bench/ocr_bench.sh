#!/usr/bin/env bash
# Times "sheetmend -ocr" on a text page against tesseract alone on the same
# page, in the same run, and prints how much of the OCR time is the engine.
#
#   bench/ocr_bench.sh [RUNS]        (default 5; uses build/release)
#
# The page is an A4 300-dpi PNG of 40 lines of text rendered by ImageMagick.
# Tesseract alone is run as ocr.exe runs it: hOCR output, the same data
# folder, one page. What is left over is our share: the adapter's rewrite of
# the hOCR file, reading it, the box list and starting the programs; a third
# row times sheetmend with a stand-in engine that returns the hOCR at once.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/release}
RUNS=${1:-5}
MAGICK=/usr/bin/convert-im6.q16
SHEETMEND=$BUILD/cli/sheetmend
if [ ! -x "$SHEETMEND" ] || [ ! -e "$BUILD/cli/ocr.exe" ]; then
  echo "build sheetmend first: cmake --build $BUILD --target sheetmend" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
text="Sheetmend cleans and analyses scanned page images in batches."
lines=$(for i in $(seq 1 40); do echo "$i. $text"; done)
"$MAGICK" -size 2480x3508 -density 300 xc:white -font Liberation-Serif -pointsize 11 \
  -fill black -annotate +200+250 "$lines" -type Grayscale "$work/page.png"

# Wall time in ms and CPU time (user + system, the programs it waited for
# included) in ms of one command, as "wall cpu".
timed() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > /dev/null 2>&1 || true
  tail -n 1 "$work/time" | awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }'
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

ours=() ours_cpu=() engine=() engine_cpu=()
run_ours() {
  rm -f "$work"/out-0.box.txt
  read -r w c < <(timed "$SHEETMEND" -ocr "$work/page.png" "$work/out.png")
  ours+=("$w"); ours_cpu+=("$c")
}
run_engine() {
  read -r w c < <(timed tesseract "$work/page.png" "$work/alone" --tessdata-dir "$BUILD/cli/tessdata" \
    -l eng -c tessedit_create_hocr=1 -c tessedit_create_txt=0)
  engine+=("$w"); engine_cpu+=("$c")
}
# Our own part alone: sheetmend laid out with a stand-in engine that hands
# back the adapter's hOCR file of this page at once.
mkdir "$work/bin"
cp "$SHEETMEND" "$work/bin/sheetmend"
TESSDATA_PREFIX="$BUILD/cli/" "$BUILD/cli/ocr.exe" "$work/page.png" "$work/bin/page" -l eng HOCR \
  > /dev/null 2>&1
printf '#!/bin/sh\ncp "$(dirname "$0")/page.html" "$2.html"\n' > "$work/bin/ocr.exe"
chmod +x "$work/bin/ocr.exe"
own=()
for _ in $(seq 1 "$RUNS"); do
  rm -f "$work"/own-0.box.txt
  read -r w c < <(timed "$work/bin/sheetmend" -ocr "$work/page.png" "$work/own.png")
  own+=("$w")
done

# Alternate which goes first, so neither gains from a warm cache or a quiet moment.
for i in $(seq 1 "$RUNS"); do
  if (( i % 2 )); then run_ours; run_engine; else run_engine; run_ours; fi
done
words=$(tr -cd '\r' < "$work/out-0.box.txt" | wc -c)
o=$(printf '%s\n' "${ours[@]}" | median)
e=$(printf '%s\n' "${engine[@]}" | median)
oc=$(printf '%s\n' "${ours_cpu[@]}" | median)
ec=$(printf '%s\n' "${engine_cpu[@]}" | median)
ow=$(printf '%s\n' "${own[@]}" | median)
cmp -s "$work/out-0.box.txt" "$work/own-0.box.txt" || echo "warning: the stand-in's box list differs" >&2
echo "page: 2480x3508, 40 lines, $words words in the box list; median of $RUNS runs"
printf '%-24s %8s ms wall %8s ms cpu\n' "sheetmend -ocr" "$o" "$oc" "tesseract alone (hOCR)" "$e" "$ec"
printf '%-24s %8s ms wall (reading the hOCR, the box list, starting the engine)\n' \
  "sheetmend, stand-in engine" "$ow"
awk -v o="$o" -v e="$e" -v oc="$oc" -v ec="$ec" 'BEGIN {
  printf "engine share of the OCR time: %.1f %% wall, %.1f %% cpu (ours/engine %.3f wall, %.3f cpu)\n",
         100 * e / o, 100 * ec / oc, o / e, oc / ec }'
