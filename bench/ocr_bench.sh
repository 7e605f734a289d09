#!/usr/bin/env bash
# Times "sheetmend -ocr" on a text page against tesseract alone on the same
# page, in the same run, and prints how much of the OCR time is the engine.
#
#   bench/ocr_bench.sh [RUNS]        (default 5; uses build/release)
#
# The page is an A4 300-dpi PNG of 40 lines of text rendered by ImageMagick.
# Tesseract alone is run as ocr.exe runs it: hOCR output, the same data
# folder, one page. What is left over is our share: the adapter's rewrite of
# the hOCR file, reading it, the box list and starting the programs.
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

ms() { echo $(( $(date +%s%N) / 1000000 )); }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

ours=()
engine=()
for _ in $(seq 1 "$RUNS"); do
  rm -f "$work"/out-0.box.txt
  t=$(ms); "$SHEETMEND" -ocr "$work/page.png" "$work/out.png" > /dev/null 2>&1 || true; ours+=($(( $(ms) - t )))
  t=$(ms)
  tesseract "$work/page.png" "$work/alone" --tessdata-dir "$BUILD/cli/tessdata" -l eng \
    -c tessedit_create_hocr=1 -c tessedit_create_txt=0 > /dev/null 2>&1
  engine+=($(( $(ms) - t )))
done
words=$(tr -cd '\r' < "$work/out-0.box.txt" | wc -c)
o=$(printf '%s\n' "${ours[@]}" | median)
e=$(printf '%s\n' "${engine[@]}" | median)
echo "page: 2480x3508, 40 lines, $words words in the box list; median of $RUNS runs"
printf '%-28s %8s ms\n' "sheetmend -ocr" "$o" "tesseract alone (hOCR)" "$e"
awk -v o="$o" -v e="$e" 'BEGIN { printf "engine share %.1f %%, our overhead %.0f ms (ratio %.3f)\n", 100 * e / o, o - e, o / e }'
