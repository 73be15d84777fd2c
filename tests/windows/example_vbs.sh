#!/bin/bash
# The README's script host, examples/convert.vbs, under Wine: it converts a real deck (a corpus deck
# where the corpus is, else the sample deck) to Unicode text with its notes, and the text is the
# one the Linux build writes, byte for byte.
#   example_vbs.sh <run_in_wine.sh> <prefix> <ocx> <example.vbs> <quorvane-sample.exe> <work>
#                  <linux quorvane or ""> <default corpus folder>
# The corpus is $QUORVANE_CORPUS_DIR, else the default; with CI set it must be there.
set -u
runner=$1 prefix=$2 ocx=$3 script=$4 sample=$5 work=$6 linux=$7
corpus=${QUORVANE_CORPUS_DIR:-$8}
deck="$corpus/openxml-sdk/typical.pptx"
if [ ! -f "$deck" ]; then
  [ -n "${CI:-}" ] && { echo "example_vbs: the corpus deck $deck is missing"; exit 1; }
  echo "example_vbs: no corpus at $corpus; converting the sample deck"
  deck="$work/sample.pptx"
  bash "$runner" "$prefix" "$ocx" "$sample" "$deck" || exit 1
fi
rm -f "$work/windows.txt" "$work/linux.txt"
bash "$runner" "$prefix" "$ocx" cscript //nologo "$script" "$deck" "$work/windows.txt" 107 || exit 1
[ -s "$work/windows.txt" ] || { echo "example_vbs: the script wrote nothing"; exit 1; }
if [ -x "$linux" ]; then
  "$linux" convert "$deck" "$work/linux.txt" --type utf16 --notes >/dev/null || exit 1
  cmp "$work/linux.txt" "$work/windows.txt" || { echo "example_vbs: the text differs from the Linux build's"; exit 1; }
  echo "example_vbs: $(basename "$deck"): the same text as the Linux build's"
fi
