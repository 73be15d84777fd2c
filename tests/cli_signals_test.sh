#!/usr/bin/env bash
# cli_signals_test.sh QUORVANE-BINARY CORPUS-FOLDER: SIGINT and SIGTERM end `quorvane convert` while an
# office is at work with 128 + the signal's number, and leave nothing behind: no office process, no
# private folder in $TMPDIR, no staging folder beside the output, no socket file. Exit status 0
# passed, 1 failed, 77 skipped (no office; no corpus, except under CI).
set -u

binary=$1
corpus=$(realpath -m -- "${QUORVANE_CORPUS_DIR:-$2}")
for deck in poi/2411-Performance_Up.pptx odftoolkit/Presentation5.odp; do
  [[ -r $corpus/$deck ]] && continue
  why="it needs the corpus, which is not at $corpus (set QUORVANE_CORPUS_DIR)"
  [[ -n ${CI:-} ]] && { echo "cli_signals: FAILED: $why"; exit 1; }
  echo "cli_signals: skipped: $why"
  exit 77
done
office=/usr/lib/libreoffice/program/soffice.bin
[[ -x $office ]] || { echo "cli_signals: skipped: no office at $office"; exit 77; }

work=$(mktemp -d) || exit 1
# Whatever still runs from this case's folders (only after a failure) is ended by its process id.
trap 'for p in $(pgrep -f -- "$work/"); do kill -KILL "$p" 2>/dev/null; done; rm -rf -- "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$work/out"
cd "$work" || exit 1
uid=$(id -u)
failed=0

fail() { echo "FAILED: $*"; failed=1; }

# The socket an office makes for its profile folder: "SingleOfficeIPC_" and the MD5 of the profile's
# URL in UTF-16LE, each byte in hex without its leading zero.
single_instance_socket() {
  local hash out=
  hash=$(printf '%s' "file://$1" | iconv -f UTF-8 -t UTF-16LE | md5sum | cut -c1-32)
  for ((i = 0; i < 32; i += 2)); do out+=$(printf '%x' $((16#${hash:i:2}))); done
  echo "/tmp/OSL_PIPE_${uid}_SingleOfficeIPC_$out"
}

# Rows: deck, output, signal: a PDF the office writes from a staged copy, and a web page whose
# pictures the office draws from the OpenDocument deck.
rows=(
  "poi/2411-Performance_Up.pptx deck.pdf INT"
  "poi/2411-Performance_Up.pptx deck.pdf TERM"
  "odftoolkit/Presentation5.odp deck.htm INT"
  "odftoolkit/Presentation5.odp deck.htm TERM"
)
for row in "${rows[@]}"; do
  read -r deck output signal <<<"$row"
  name="$deck -> $output, SIG$signal"
  "$binary" convert --quiet "$corpus/$deck" "$work/out/$output" &
  command=$!
  profiles=()
  # Mid-way: the office has started and has been at work for a moment.
  for ((tick = 0; tick < 600; ++tick)); do
    pgrep -f -- "$TMPDIR/quorvane-office-" >/dev/null || ! kill -0 "$command" 2>/dev/null && break
    sleep 0.1
  done
  sleep 1.5
  for profile in "$TMPDIR"/quorvane-office-*; do [[ -d $profile ]] && profiles+=("$profile"); done
  if ! kill -0 "$command" 2>/dev/null; then
    fail "$name: the command ended before the signal"
    wait "$command"
    continue
  fi
  [[ ${#profiles[@]} -gt 0 ]] || fail "$name: no office was started"
  kill "-$signal" "$command"
  wait "$command"
  status=$?
  expected=$((128 + $(kill -l "$signal")))
  [[ $status -eq $expected ]] || fail "$name: exit status $status, expected $expected"

  leftovers=$(pgrep -a -f -- "$work/") && fail "$name: processes left running: $leftovers"
  leftovers=$(ls -A "$TMPDIR") && [[ -n $leftovers ]] && fail "$name: left in \$TMPDIR: $leftovers"
  leftovers=$(ls -A "$work/out" | grep '^\.quorvane-') && fail "$name: staging left beside the output: $leftovers"
  leftovers=$(ls /tmp | grep "^OSL_PIPE_${uid}_quorvane-$command-") && fail "$name: sockets left: $leftovers"
  for profile in "${profiles[@]}"; do
    socket=$(single_instance_socket "$profile")
    [[ -e $socket ]] && fail "$name: socket left: $socket"
  done
  rm -rf -- "$TMPDIR" "$work/out"
  mkdir -p "$TMPDIR" "$work/out"
done

[[ $failed -eq 0 ]] && echo "passed: ${#rows[@]} interrupted conversions left nothing behind"
exit $failed
