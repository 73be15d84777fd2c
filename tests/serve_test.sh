#!/usr/bin/env bash
# serve_test.sh QUORVANE-BINARY CORPUS-FOLDER: `quorvane serve` through a real HTTP client (curl) and
# through the command: the endpoints, the limits, hostile uploads, the command reusing the server and
# converting itself when it is gone, and the drain on SIGTERM. Exit status 0 passed, 1 failed,
# 77 skipped (no office; no corpus, except under CI).
set -u

binary=$1
corpus=$(realpath -m -- "${QUORVANE_CORPUS_DIR:-$2}")
deck=$corpus/openxml-sdk/typical.pptx
slow=$corpus/poi/2411-Performance_Up.pptx
encrypted=$corpus/openxml-sdk/encrypted_pptx.pptx
hidden=$corpus/shapecrawler/036.pptx  # its only slide is hidden: the office writes no PDF
for file in "$deck" "$slow" "$encrypted" "$hidden"; do
  [[ -r $file ]] && continue
  why="it needs the corpus, which is not at $corpus (set QUORVANE_CORPUS_DIR)"
  [[ -n ${CI:-} ]] && { echo "serve: FAILED: $why"; exit 1; }
  echo "serve: skipped: $why"
  exit 77
done
[[ -x /usr/lib/libreoffice/program/soffice.bin ]] || { echo "serve: skipped: no office"; exit 77; }

work=$(mktemp -d) || exit 1
servers=()
trap 'for p in "${servers[@]}"; do kill -KILL "$p" 2>/dev/null; done; for p in $(pgrep -f -- "$work/"); do kill -KILL "$p" 2>/dev/null; done; rm -rf -- "$work"' EXIT
export TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/run
mkdir -m 700 -p "$TMPDIR" "$XDG_RUNTIME_DIR"
cd "$work" || exit 1
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# start NAME ARGS...: starts a server logging to NAME.log; sets $url from its "listening" line.
start() {
  local name=$1
  shift
  "$binary" serve --port 0 "$@" 2>"$name.log" &
  servers+=($!)
  pid=$!
  for ((i = 0; i < 300; ++i)); do
    url=$(jq -r 'select(.event == "listening") | "http://" + .http' "$name.log" 2>/dev/null | head -1)
    [[ -n $url ]] && return 0
    sleep 0.1
  done
  fail "$name did not start: $(cat "$name.log")"
  exit 1
}
wait_ready() {
  for ((i = 0; i < 1800; ++i)); do
    [[ $(curl -s -o /dev/null -w '%{http_code}' "$1/ready") == 200 ]] && return 0
    sleep 0.1
  done
  fail "$1 never became ready"
}
# expect LABEL STATUS CODE CURL-ARGS...: the status, and for a failure the JSON's result code.
expect() {
  local label=$1 status=$2 code=$3
  shift 3
  local got
  got=$(curl -s -o answer -D headers -w '%{http_code}' "$@")
  [[ $got == "$status" ]] || { fail "$label: status $got, not $status: $(head -c 300 answer)"; return; }
  grep -qi '^x-request-id: [0-9a-z]' headers || fail "$label: no X-Request-Id"
  [[ $code == - ]] || [[ $(jq .code answer) == "$code" ]] || fail "$label: code $(jq .code answer), not $code"
}

printf 'sesame\n' >token
start main --token-file token
main=$url
main_pid=$pid
auth=(-H 'Authorization: Bearer sesame')
wait_ready "$main"

# Rows: label, status, result code ('-' for a file), curl arguments.
expect "health, no token needed" 200 - "$main/health"
expect "formats without the token" 401 0 "$main/formats"
expect "formats with a wrong token" 401 0 -H 'Authorization: Bearer sesam' "$main/formats"
expect "formats" 200 - "${auth[@]}" "$main/formats"
[[ $(jq length answer) == $(($("$binary" formats | wc -l) - 1)) ]] || fail "formats: not the command's list"
expect "errors" 200 - "${auth[@]}" "$main/errors"
[[ $(jq length answer) == $(($("$binary" errors | wc -l) - 1)) ]] || fail "errors: not the command's list"
expect "no such endpoint" 404 0 "${auth[@]}" "$main/convert/x"
expect "pdf by name" 200 - "${auth[@]}" -F "file=@$deck" -F type=pdf "$main/convert"
[[ $(head -c 5 answer) == %PDF- ]] || fail "pdf by name: not a PDF"
grep -qi 'filename="typical.pdf"' headers || fail "pdf by name: $(grep -i disposition headers)"
expect "text by code, notes and labels" 200 - "${auth[@]}" -F "file=@$deck" -F type=24 -F notes=true -F labels=1 "$main/convert"
"$binary" convert --no-server -q "$deck" local.txt --type 24 --notes --numbers
cmp -s answer local.txt || fail "text: not what the command writes"
expect "markdown" 200 - "${auth[@]}" -F "file=@$deck" -F type=md "$main/convert"
"$binary" convert -q "$deck" local.md && cmp -s answer local.md || fail "markdown: not what the command writes"
expect "pictures as a zip" 200 - "${auth[@]}" -F "file=@$deck" -F type=png -F start=2 -F end=3 "$main/convert"
[[ $(unzip -Z1 answer 2>/dev/null | grep -c '\.PNG$') == 2 ]] || fail "pictures: $(unzip -Z1 answer 2>&1)"
expect "unknown type" 400 0 "${auth[@]}" -F "file=@$deck" -F type=pfd "$main/convert"
expect "no deck" 400 0 "${auth[@]}" -F type=pdf "$main/convert"
expect "unknown field" 400 0 "${auth[@]}" -F "file=@$deck" -F type=pdf -F output=/etc/passwd "$main/convert"
expect "two decks" 400 0 "${auth[@]}" -F "file=@$deck" -F "file=@$deck" -F type=pdf "$main/convert"
expect "not multipart" 400 0 "${auth[@]}" --data-binary "@$deck" "$main/convert"
expected=$("$binary" convert --no-server -q "$encrypted" x.pdf 2>/dev/null; echo $?)
expect "encrypted deck" 422 "-$expected" "${auth[@]}" -F "file=@$encrypted" -F type=pdf "$main/convert"
jq -e '.cause | test("encrypted_pptx.pptx") and (test("/tmp|quorvane-") | not)' answer >/dev/null ||
  fail "encrypted deck: the cause names a private folder or not the deck: $(jq .cause answer)"
expect "nothing for the office to write" 422 -16 "${auth[@]}" -F "file=@$hidden" -F type=pdf "$main/convert"
jq -e '.cause | test("impress_pdf_Export") and (test("/tmp|quorvane-") | not)' answer >/dev/null ||
  fail "nothing to write: the cause names a private folder: $(jq .cause answer)"
# A name with a path in it names nothing here: the answer carries its last part, made safe.
expect "name with a path" 200 - "${auth[@]}" -F "file=@$deck;filename=../../x/\"evil\" deck.pptx" -F type=txt "$main/convert"
grep -qi 'filename="[a-z0-9_.-]*evil[a-z0-9_.-]*deck.txt"' headers || fail "name with a path: $(grep -i disposition headers)"
[[ -e $work/x || -e $TMPDIR/x ]] && fail "name with a path: something was written outside"

# A client that trickles its upload holds one connection, not the server.
head -c 3000000 /dev/urandom >big.bin
curl -s -o /dev/null --limit-rate 20k "${auth[@]}" -F file=@big.bin -F type=pdf "$main/convert" &
trickle=$!
sleep 1
expect "health beside a slow client" 200 - "$main/health"
expect "convert beside a slow client" 200 - "${auth[@]}" -F "file=@$deck" -F type=txt "$main/convert"
kill "$trickle" 2>/dev/null

# The command hands its conversion to the server, and converts itself with --no-server.
"$binary" convert -q "$deck" by-server.pdf && [[ -s by-server.pdf ]] || fail "command through the server"
[[ $(grep -c '"local_convert"' main.log) == 1 ]] || fail "the command did not use the server"
"$binary" convert -q --no-server "$deck" by-itself.pdf && [[ $(grep -c '"local_convert"' main.log) == 1 ]] ||
  fail "--no-server used the server"

curl -s "${auth[@]}" "$main/metrics" >metrics
grep -q '^quorvane_conversions_total{type="32",code="0"} [1-9]' metrics || fail "metrics: no PDF counted"
grep -q '^quorvane_queue_depth 0$' metrics || fail "metrics: no queue depth"

# Limits: one worker, no queue, a 1 MiB upload, a 2 s deadline.
start tight -j 1 --queue 0 --max-upload-mib 1 --deadline 2 --socket -
tight=$url
wait_ready "$tight"
expect "too large" 413 0 -F file=@big.bin -F type=pdf "$tight/convert"
curl -s -o late.json -w '%{http_code}' -F "file=@$slow" -F type=pdf "$tight/convert" >late.status &
late=$!
sleep 0.5
expect "queue full" 503 0 -F "file=@$deck" -F type=txt "$tight/convert"
grep -qi '^retry-after: [1-9]' headers || fail "queue full: no Retry-After"
wait "$late"
[[ $(cat late.status) == 504 ]] && jq -e '.cause | test("deadline")' late.json >/dev/null ||
  fail "deadline: $(cat late.status) $(cat late.json)"
# A client that goes away stops its conversion.
curl -s -m 1 -o /dev/null -F "file=@$slow" -F type=pdf "$tight/convert"
for ((i = 0; i < 100; ++i)); do grep -q '"client_gone":true' tight.log && break; sleep 0.1; done
grep -q '"client_gone":true' tight.log || fail "a client that went away was not noticed"
kill -TERM "$pid"
wait "$pid" || fail "tight server: exit status $?"

# SIGTERM drains: /ready says no, the conversion under way is answered, then the server ends
# and leaves nothing; the command then converts by itself.
curl -s -o drained.pdf -w '%{http_code}' "${auth[@]}" -F "file=@$deck" -F type=pdf "$main/convert" >drained.status &
drained=$!
for ((i = 0; i < 100; ++i)); do
  curl -s "${auth[@]}" "$main/metrics" | grep -q '^quorvane_running_conversions 1' && break
  sleep 0.05
done
kill -TERM "$main_pid"
sleep 0.3
[[ $(curl -s -o /dev/null -w '%{http_code}' "$main/ready") =~ ^(503|000)$ ]] || fail "ready while draining"
wait "$drained"
[[ $(cat drained.status) == 200 && $(head -c 5 drained.pdf) == %PDF- ]] || fail "drain: $(cat drained.status)"
wait "$main_pid" || fail "main server: exit status $?"
[[ -e $XDG_RUNTIME_DIR/quorvane/serve.sock ]] && fail "the socket is left behind"
leftovers=$(find "$TMPDIR" -mindepth 1 -maxdepth 1 -name 'quorvane-*' | head -3)
[[ -z $leftovers ]] || fail "left behind: $leftovers"
"$binary" convert -q "$deck" after.txt && [[ -s after.txt ]] || fail "the command without a server"

((failed)) && tail -n 20 main.log tight.log
exit "$failed"
