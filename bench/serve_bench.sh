#!/usr/bin/env bash
# What a running server buys a single `quorvane convert`: a 10-slide deck converted to PDF, one call
# at a time, four ways side by side in one hyperfine run:
#
#   a. serve    `quorvane convert deck.pptx a.pdf` while `quorvane serve --no-http` runs (same
#               XDG_RUNTIME_DIR, so the command hands the file to the server's warm offices);
#   b. cold     `quorvane convert --no-server deck.pptx b.pdf` (converts in process: starts an office);
#   c. soffice  `soffice --headless --convert-to pdf` with a kept private profile (one office process
#               per file; the profile is made by one untimed run first);
#   d. unoconv  `unoconv -f pdf` per call against one `unoconv --listener` started before (skipped with
#               a message when unoconv is not installed).
#
#   bench/serve_bench.sh [QUORVANE-BINARY]
#
# Defaults: build/quorvane. The deck is the render bench's (`quorvane-sample --generated 10 --seed 7`,
# the tool beside the quorvane binary); without that tool, DECK=path picks another deck.
# RUNS=n timed calls per way (default 10, after one untimed warm-up call each); LIMIT=s ends any one
# call after s seconds (default 120), which fails the run. Needs hyperfine and jq.
#
# Targets: c/a >= 3 (the server against an office process per file), a < d (against a generic warm
# listener), b <= c roughly (a cold call is no slower than the office's own one-shot conversion).
# Everything runs with private XDG_RUNTIME_DIR, XDG_CACHE_HOME, HOME and temporary folders, removed at
# the end; the server is stopped with SIGTERM and must exit 0 and leave nothing in its temporary folder.
set -euo pipefail

here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
quorvane=$(realpath -- "${1:-$here/../build/quorvane}")
runs=${RUNS:-10}
limit=${LIMIT:-120}

[[ -x $quorvane ]] || { echo "serve_bench: no quorvane program at $quorvane" >&2; exit 2; }
for tool in hyperfine jq soffice; do
  command -v "$tool" >/dev/null || { echo "serve_bench: needs $tool" >&2; exit 2; }
done
[[ $("$quorvane" convert --help 2>&1) == *--no-server* ]] ||
  { echo "serve_bench: $quorvane has no convert --no-server (a build without the server?)" >&2; exit 2; }

# unoconv runs under the python it was packaged for: the office's UNO module is installed for the
# system's python3, which a python3 earlier in PATH (pyenv, a virtual environment) does not see.
unoconv=()
uno_python=python3
[[ -x /usr/bin/python3 ]] && uno_python=/usr/bin/python3
command -v unoconv >/dev/null && unoconv=("$uno_python" "$(command -v unoconv)")

work=$(mktemp -d -t quorvane-serve-bench.XXXXXX)
server=
listener=
pipe=quorvane-serve-bench-$$
# Ends the process group of `listener` (unoconv and its office) and, when the script did not get to
# stop it itself, the server; then removes every private folder.
cleanup() {
  if [[ -n $server ]] && kill -0 "$server" 2>/dev/null; then
    kill -TERM "$server" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$server" 2>/dev/null || true
  fi
  if [[ -n $listener ]]; then
    # Asked through UNO, the listener's office ends cleanly and removes its pipes in /tmp (signals
    # leave them behind); the signals only for what did not end in 10 s.
    timeout 20 "$uno_python" - "$pipe" >/dev/null 2>&1 <<'EOF' || true
import sys, uno
local = uno.getComponentContext()
resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
office = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % sys.argv[1])
office.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", office).terminate()
EOF
    for _ in $(seq 1 100); do kill -0 -- "-$listener" 2>/dev/null || break; sleep 0.1; done
    kill -TERM -- "-$listener" 2>/dev/null || true
    sleep 1
    kill -KILL -- "-$listener" 2>/dev/null || true
    rm -f -- "/tmp/OSL_PIPE_$(id -u)_$pipe"
  fi
  rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p -- "$work"/{run,cache,home,out,out-c,tmp-serve,tmp-cold,tmp-office}
chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run XDG_CACHE_HOME=$work/cache HOME=$work/home

# The deck.
deck=$work/deck.pptx
sample=$(dirname -- "$quorvane")/quorvane-sample
if [[ -n ${DECK:-} ]]; then
  cp -- "$DECK" "$deck"
elif [[ -x $sample ]]; then
  "$sample" --generated 10 --seed 7 "$deck"
else
  echo "serve_bench: no deck maker at $sample (build the quorvane_sample target, or set DECK)" >&2
  exit 2
fi

# Process ids below $1 (children first found through /proc/PID/task/*/children).
descendants() {
  local pid child
  for pid in "$@"; do
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
      echo "$child"
      descendants "$child"
    done
  done
}

# --- the server ---------------------------------------------------------------------------------
TMPDIR=$work/tmp-serve "$quorvane" serve --no-http 2>"$work/serve.log" &
server=$!
for _ in $(seq 1 600); do
  grep -q '"event":"listening"' "$work/serve.log" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || { echo "serve_bench: the server ended at start:" >&2; cat "$work/serve.log" >&2; exit 1; }
  sleep 0.1
done
grep -q '"event":"listening"' "$work/serve.log" || { echo "serve_bench: the server did not start in 60 s" >&2; exit 1; }

# One call through the server, checked to have gone there: it leaves a request in the server's log.
before=$(grep -c '"request_id"' "$work/serve.log" || true)
TMPDIR=$work/tmp-serve timeout "$limit" "$quorvane" convert --quiet "$deck" "$work/out/a.pdf"
after=$(grep -c '"request_id"' "$work/serve.log" || true)
if [[ $after -le $before ]]; then
  echo "serve_bench: warning: the server logged no request for a convert call; (a) may not have used it" >&2
fi

# --- the office per file: its profile made by a first run ---------------------------------------
office=(soffice --headless "-env:UserInstallation=file://$work/office-profile")
TMPDIR=$work/tmp-office timeout "$limit" "${office[@]}" --convert-to pdf --outdir "$work/out-c" "$deck" >/dev/null 2>&1 ||
  { echo "serve_bench: soffice failed to convert the deck" >&2; exit 1; }

# --- the generic listener ----------------------------------------------------------------------
if [[ ${#unoconv[@]} -gt 0 ]]; then
  # The listener's office needs an existing profile in HOME (a first start ends with a restart request
  # the listener does not follow).
  TMPDIR=$work/tmp-office timeout "$limit" soffice --headless --terminate_after_init >/dev/null 2>&1 || true
  TMPDIR=$work/tmp-office setsid "${unoconv[@]}" --pipe="$pipe" --listener >"$work/listener.log" 2>&1 &
  listener=$!
  ready=
  for _ in $(seq 1 60); do
    if TMPDIR=$work/tmp-office timeout "$limit" "${unoconv[@]}" -n --pipe="$pipe" -f pdf -o "$work/out/d.pdf" "$deck" \
      >/dev/null 2>&1; then
      ready=1
      break
    fi
    sleep 1
  done
  [[ -n $ready ]] || { echo "serve_bench: the unoconv listener did not answer in 60 s:" >&2; cat "$work/listener.log" >&2; exit 1; }
else
  echo "serve_bench: unoconv is not installed: way (d) is skipped (apt-get install unoconv to measure it)"
fi

# --- the timed calls --------------------------------------------------------------------------
q() { printf '%q' "$1"; }
t="timeout $limit"
commands=(
  --command-name "a. serve" "TMPDIR=$(q "$work/tmp-serve") $t $(q "$quorvane") convert --quiet $(q "$deck") $(q "$work/out/a.pdf")"
  --command-name "b. cold" "TMPDIR=$(q "$work/tmp-cold") $t $(q "$quorvane") convert --no-server --quiet $(q "$deck") $(q "$work/out/b.pdf")"
  --command-name "c. soffice" "TMPDIR=$(q "$work/tmp-office") $t soffice --headless $(q "-env:UserInstallation=file://$work/office-profile") --convert-to pdf --outdir $(q "$work/out-c") $(q "$deck")"
)
if [[ -n $listener ]]; then
  uno=""
  for word in "${unoconv[@]}"; do uno+="$(q "$word") "; done
  commands+=(--command-name "d. unoconv" "TMPDIR=$(q "$work/tmp-office") $t ${uno}-n --pipe=$pipe -f pdf -o $(q "$work/out/d.pdf") $(q "$deck")")
fi
echo "deck: $(basename -- "$deck") ($(stat -c %s "$deck") bytes), $runs calls each after one warm-up call; load average $(cut -d' ' -f1-3 /proc/loadavg)"
hyperfine --runs "$runs" --warmup 1 --style basic --export-json "$work/times.json" "${commands[@]}"

for pdf in "$work/out/a.pdf" "$work/out/b.pdf" "$work/out-c/deck.pdf" ${listener:+"$work/out/d.pdf"}; do
  [[ $(head -c 5 -- "$pdf" 2>/dev/null) == %PDF- ]] || { echo "serve_bench: no PDF at $pdf" >&2; exit 1; }
done

# --- stop the server: SIGTERM, it drains and exits 0 ---------------------------------------------
offices=$(descendants "$server" | xargs)
stop_start=$(date +%s.%N)
kill -TERM "$server"
status=0
wait "$server" || status=$?
stop_end=$(date +%s.%N)
server=
left=""
for pid in $offices; do [[ -d /proc/$pid ]] && left+=" $pid"; done

echo
jq -r '.results[] | "\(.command)\t\(.mean)\t\(.stddev)\t\(.min)\t\(.max)"' "$work/times.json" |
  awk -F'\t' 'BEGIN { printf "%-12s %9s %9s %9s %9s\n", "way", "mean s", "stddev", "min", "max" }
              { printf "%-12s %9.3f %9.3f %9.3f %9.3f\n", $1, $2, $3, $4, $5 }'
mean() { jq -r --arg c "$1" '.results[] | select(.command == $c) | .mean' "$work/times.json"; }
a=$(mean "a. serve") b=$(mean "b. cold") c=$(mean "c. soffice") d=$(mean "d. unoconv")
awk -v a="$a" -v b="$b" -v c="$c" -v d="$d" 'BEGIN {
  printf "\nc/a (soffice per file / serve) %6.2fx   target >= 3: %s\n", c / a, (c / a >= 3 ? "met" : "missed")
  if (d != "") printf "d/a (unoconv / serve)          %6.2fx   target a < d: %s\n", d / a, (a < d ? "met" : "missed")
  else print "d/a (unoconv / serve)               -   unoconv not installed"
  printf "b/c (cold / soffice per file)  %6.2f    target b <= c roughly: %s\n", b / c,
    (b <= c ? "met" : (b <= 1.1 * c ? "roughly met (within 10%)" : "missed"))
}'
printf '\nserver: SIGTERM -> exit status %d after %.2f s; offices before the stop: %s; still running after: %s\n' \
  "$status" "$(awk -v s="$stop_start" -v e="$stop_end" 'BEGIN { print e - s }')" "${offices:-none}" "${left:-none}"
leftovers=$(find "$work/tmp-serve" "$work/tmp-cold" -mindepth 1 -maxdepth 1 | sed "s|^$work/||" | xargs)
echo "left in the server's and the cold calls' temporary folders: ${leftovers:-nothing}"
[[ -e $XDG_RUNTIME_DIR/quorvane/serve.sock ]] && echo "left: the server's socket $XDG_RUNTIME_DIR/quorvane/serve.sock"
[[ $status -eq 0 && -z $left ]] || exit 1
