#!/usr/bin/env bash
# The batch command's throughput: a folder of 40 corpus decks converted to PDF and to text with
# -j 1 and -j 2, total wall time of each run and the speed-up of -j 2.
#
#   bench/batch_bench.sh [QUORVANE-BINARY] [CORPUS-DIR]
#
# Defaults: build/quorvane, and $QUORVANE_CORPUS_DIR or ../shared/corpus beside the repository.
# ROUNDS=n repeats each run n times and keeps the fastest (default 1).
#
# The decks are the list below (Office Open XML, binary .ppt and OpenDocument, 1 to 187 slides, each
# converting to PDF in a few seconds at most), linked into a temporary folder under names of their
# own. A warm-up run to PDF (not timed) drops any deck that does not convert on this machine; decks
# are repeated to make up 40 if some were dropped. Every timed run is a new process that starts its
# own offices, as a user's would, and must convert every deck.
set -euo pipefail

here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
quorvane=$(realpath -- "${1:-$here/../build/quorvane}")
corpus=$(realpath -m -- "${2:-${QUORVANE_CORPUS_DIR:-$here/../../shared/corpus}}")
rounds=${ROUNDS:-1}
wanted=40

decks=(
  docling/docling_ecosystem.pptx docling/powerpoint_malformed_pictures.pptx docling/powerpoint_sample.pptx
  docx4j/AutoShapes.pptx gramex/input2.pptx markitdown/test.pptx odftoolkit/blank.odp officeparser/test.odp
  officeparser/test.pptx openxml-sdk/AllSlidesConverterSC.pptx openxml-sdk/O12Typical.pptx
  openxml-sdk/Table_Large.pptx openxml-sdk/strict-notes-showMasterPhAnim.pptx openxml-sdk/typical.pptx
  poi/37625.ppt poi/41246-1.ppt poi/54880_chinese.ppt poi/57272_corrupted_usereditatom.ppt poi/PPT95.ppt
  poi/SampleShow.ppt poi/SampleShow.pptx poi/aascu.org_hbcu_leadershipsummit_cooper_.pptx
  poi/alterman_security.ppt poi/alterman_security.pptx poi/basic_test_ppt_file.ppt
  poi/ca.ubc.cs.people_~emhill_presentations_HowWeRefactor.pptx poi/customGeo.pptx poi/empty.ppt
  poi/layouts.pptx poi/smartart-simple.pptx poi/stress013.pptx poi/stress021.pptx poi/table_test.ppt
  poi/testPPT.ppsx poi/with_japanese.pptx python-pptx/ph-populated-placeholders.pptx
  python-pptx/shp-shapes.pptx python-pptx/tbl-cell.pptx shapecrawler/002.pptx tika/testPPT_various2.pptx
)

[[ -x $quorvane ]] || { echo "batch_bench: no quorvane program at $quorvane" >&2; exit 2; }
[[ -d $corpus ]] || { echo "batch_bench: no corpus at $corpus (set QUORVANE_CORPUS_DIR)" >&2; exit 2; }
command -v jq >/dev/null || { echo "batch_bench: needs jq (scripts/setup.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

# Links the decks named in the arguments into $1, numbered so that repeated decks get names of their own.
link_decks() {
  local folder=$1 n=0 deck
  shift
  rm -rf -- "$folder" && mkdir -p -- "$folder"
  for deck in "$@"; do
    n=$((n + 1))
    ln -s -- "$corpus/$deck" "$folder/$(printf '%02d' "$n")-$(basename -- "$deck")"
  done
}

link_decks "$work/candidates" "${decks[@]}"
echo "warm-up: ${#decks[@]} decks to PDF with -j 2 (not timed)"
"$quorvane" convert -d "$work/warm" --type pdf -j 2 --json --quiet "$work/candidates"/* >"$work/warm.jsonl" 2>/dev/null || true
good=()
while IFS= read -r index; do good+=("${decks[index]}"); done < <(jq -r 'select(.code == 0) | input_line_number - 1' "$work/warm.jsonl")
[[ ${#good[@]} -gt 0 ]] || { echo "batch_bench: no deck converts" >&2; exit 1; }
chosen=()
while [[ ${#chosen[@]} -lt $wanted ]]; do chosen+=("${good[@]}"); done
chosen=("${chosen[@]:0:wanted}")
link_decks "$work/decks" "${chosen[@]}"
slides=$(jq -s '[.[] | select(.code == 0) | .slides] | add' "$work/warm.jsonl")
echo "decks: $wanted (${#good[@]} distinct that convert; $slides slides among them)"

# CPU ticks of the whole machine so far: "busy total" (busy = neither idle nor waiting for I/O).
machine_ticks() {
  local cpu user nice system idle iowait irq softirq steal rest
  read -r cpu user nice system idle iowait irq softirq steal rest </proc/stat
  echo "$((user + nice + system + irq + softirq + steal)) $((user + nice + system + idle + iowait + irq + softirq + steal))"
}

# Runs one batch; prints its wall time in seconds and the share of the machine's CPU that other
# programs took meanwhile (the machine's busy time less this run's own CPU time, processes of the
# office included, over the wall time of every core). Fails when any deck fails.
timed_run() {  # timed_run TYPE JOBS
  local out=$work/out-$1-$2 before after status
  rm -rf -- "$out"
  before=$(machine_ticks)
  local TIMEFORMAT='%R %U %S'
  { time "$quorvane" convert -d "$out" --type "$1" -j "$2" --quiet "$work/decks"/* 2>"$work/run.err"; } 2>"$work/time.txt" ||
    status=$?
  after=$(machine_ticks)
  if [[ -n ${status:-} ]]; then
    echo "batch_bench: --type $1 -j $2 failed:" >&2
    cat "$work/run.err" >&2
    exit 1
  fi
  read -r wall user sys <"$work/time.txt"
  awk -v b="$before" -v a="$after" -v wall="$wall" -v own="$user $sys" -v hz="$(getconf CLK_TCK)" 'BEGIN {
    split(b, B, " "); split(a, A, " "); split(own, O, " ")
    busy = (A[1] - B[1]) / hz; total = (A[2] - B[2]) / hz
    others = total > 0 ? (busy - O[1] - O[2]) / total : 0
    printf "%.3f %.2f\n", wall, (others < 0 ? 0 : others)
  }'
}

best_of() {  # best_of TYPE JOBS: the fastest run as "wall others"
  local best= run i
  for ((i = 0; i < rounds; i++)); do
    run=$(timed_run "$1" "$2")
    if [[ -z $best ]] || awk -v a="${run%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best=$run; fi
  done
  echo "$best"
}

# What the machine itself gives two conversion streams at the moment: two separate processes with
# -j 1, each converting every other deck, at once. On a machine shared with other work this is the
# ceiling of the -j 2 speed-up; it tells the tool's share of a low figure from the machine's.
two_processes() {  # two_processes TYPE
  local start end half
  rm -rf -- "$work/halfA" "$work/halfB" "$work/out-halves" && mkdir -p -- "$work/halfA" "$work/halfB"
  local n=0 deck
  for deck in "$work/decks"/*; do
    n=$((n + 1))
    half=$([[ $((n % 2)) -eq 0 ]] && echo A || echo B)
    ln -s -- "$(readlink -- "$deck")" "$work/half$half/$(basename -- "$deck")"
  done
  start=$(date +%s.%N)
  "$quorvane" convert -d "$work/out-halves" --type "$1" -j 1 --quiet "$work/halfA"/* 2>/dev/null &
  local first=$!
  "$quorvane" convert -d "$work/out-halves" --type "$1" -j 1 --quiet "$work/halfB"/* 2>/dev/null || exit 1
  wait "$first" || exit 1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

echo "load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '\n%-6s %10s %10s %9s %18s %9s   %s\n' format "-j 1 (s)" "-j 2 (s)" speed-up "2 processes (s)" ceiling \
  "others' CPU share during -j 1 / -j 2"
for type in pdf txt; do
  one=$(best_of "$type" 1)
  two=$(best_of "$type" 2)
  halves=$(two_processes "$type")
  awk -v t="$type" -v a="$one" -v b="$two" -v c="$halves" 'BEGIN {
    split(a, A, " "); split(b, B, " ")
    printf "%-6s %10.2f %10.2f %8.2fx %18.2f %8.2fx   %d%% / %d%%\n", t, A[1], B[1], A[1] / B[1], c, A[1] / c,
      A[2] * 100, B[2] * 100
  }'
done
echo "load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
