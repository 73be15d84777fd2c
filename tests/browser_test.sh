#!/usr/bin/env bash
# The web page (12) and the web archive (20) as a browser shows them: headless Chromium prints each
# to PDF, and every slide picture must be there at its size (a picture the browser could not load
# prints as its small broken-picture icon, or not at all).   browser_test.sh QUORVANE CORPUS-DIR
set -u
quorvane=$1
corpus=${QUORVANE_CORPUS_DIR:-$2}
browser=$(command -v chromium || command -v chromium-browser) || { echo "SKIP: no chromium"; exit 77; }
[[ -d $corpus ]] || { echo "SKIP: no corpus at $corpus"; exit 77; }
work=$(mktemp -d) || exit 2
trap 'rm -rf -- "$work"' EXIT
decks=(docling/powerpoint_sample.pptx markitdown/test.pptx openxml-sdk/O12Typical.pptx openxml-sdk/typical.pptx
       poi/SampleShow.pptx poi/customGeo.pptx docx4j/AutoShapes.pptx gramex/input2.pptx odftoolkit/Presentation1.odp)
inputs=()
for deck in "${decks[@]}"; do inputs+=("$corpus/$deck"); done
failures=0
for type in htm mht; do
  "$quorvane" convert -q -d "$work/$type" --type "$type" "${inputs[@]}" || { echo "FAIL: convert to $type"; exit 1; }
  for deck in "${decks[@]}"; do
    stem=$(basename "${deck%.*}")
    page="$work/$type/$stem.$type"
    # The slides the writer drew: the pictures beside the page, or the picture parts of the archive.
    if [[ $type == htm ]]; then
      drawn=$(find "$work/$type/${stem}_files" -name '*.png' | wc -l)
    else
      drawn=$(grep -c '^Content-Type: image/png' "$page")
    fi
    timeout 120 "$browser" --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir="$work/profile" \
      --print-to-pdf="$work/printed.pdf" "file://$page" >/dev/null 2>&1
    # Images wider than an icon, as pdfimages lists them (smasks are their transparency).
    shown=$(pdfimages -list "$work/printed.pdf" 2>/dev/null | awk 'NR > 2 && $3 == "image" && $4 > 64' | wc -l)
    if [[ $drawn -eq 0 || $shown -ne $drawn ]]; then
      echo "FAIL $type $deck: $drawn slide pictures, the browser shows $shown"
      failures=$((failures + 1))
    fi
  done
done
[[ $failures -eq 0 ]] || exit 1
echo "browser_test: every slide picture of ${#decks[@]} pages and archives loads"
