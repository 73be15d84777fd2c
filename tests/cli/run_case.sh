#!/usr/bin/env bash
# Runs one declarative command-line case: run_case.sh QUORVANE-BINARY CASE-FILE
#
# A case file holds directives, one a line ("#" lines and blank lines are ignored). Values may name
# $TMP (an empty folder of the case's own) and $CORPUS ($QUORVANE_CORPUS_DIR, else shared/corpus
# beside the repository; a case naming it is skipped with 77 when it is missing, and fails under CI).
#   args: a b        arguments split on blanks      arg: a b       one argument, verbatim
#   arg-escaped: x   one argument with printf %b escapes           stdin: FILE  (else /dev/null)
#   copy: FROM TO    copy before the runs (TO may hold %b escapes)
#   before: a b      an earlier run; run k leaves $TMP/before<k>.stdout, .stderr and .exit
#   immutable: DIR   chattr +i during the runs (skipped with 77 when that cannot be done)
#   exit: N          required
#   stdout: / stderr:              the stream byte for byte: the lines up to a line "end"
#   stdout-lines: / stderr-lines:  lines up to "end" that appear whole (in stderr a carriage return
#                                  also ends a line, so a line a progress bar ran into does not count)
#   stdout-count: N, stdout-contains: T, stderr-contains: T, stdout-json: JQ-EXPRESSION (on the array)
#   same-bytes: A B, same-pdf: A B (same pages and text)
#   file: F, then file-absent:, file-nonempty:, file-contains: T (NUL bytes dropped), file-lacks: T,
#   file-contains-utf16le: T, file-pdf-pages: N, file-entries: N
# The program runs in an empty folder with LC_ALL=C.UTF-8, for at most 60 seconds a run. Exit status:
# 0 passed, 1 failed (the differences are printed), 2 malformed case, 77 skipped.
set -u

[[ $# -eq 2 ]] || { echo "usage: run_case.sh QUORVANE-BINARY CASE-FILE" >&2; exit 2; }
binary=$1 case_file=$2
case_name=$(basename -- "$case_file")
[[ -x $binary ]] || { echo "$case_name: program not found or not executable: $binary" >&2; exit 2; }
[[ -r $case_file ]] || { echo "$case_name: cannot read case file" >&2; exit 2; }

work=$(mktemp -d) || exit 2
immutable=()  # folders made immutable, made mutable again on exit before anything is removed
cleanup() {
  local folder
  for folder in "${immutable[@]}"; do chattr -i -- "$folder" 2>/dev/null; done
  rm -rf -- "$work"
}
trap cleanup EXIT
mkdir "$work/tmp" "$work/cwd" || exit 2
script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd) || exit 2
corpus=$(realpath -m -- "${QUORVANE_CORPUS_DIR:-$script_dir/../../../shared/corpus}")

malformed() { echo "$case_name:$line_no: $1" >&2; exit 2; }

# Replaces $TMP and $CORPUS in $1; the result is in $substituted.
substitute() {
  substituted=$1
  if [[ $substituted == *'$CORPUS'* && ! -d $corpus ]]; then
    [[ -n ${CI:-} ]] && malformed "the case needs the corpus, which is not at $corpus (set QUORVANE_CORPUS_DIR)"
    echo "$case_name: skipped: it needs the corpus, which is not at $corpus (set QUORVANE_CORPUS_DIR)"
    exit 77
  fi
  substituted=${substituted//'$TMP'/$work/tmp}
  substituted=${substituted//'$CORPUS'/$corpus}
}

# Splits $1 on blanks and substitutes each word, into the array $words.
split_words() {
  local word
  read -r -a split <<<"$1"
  words=()
  for word in "${split[@]}"; do substitute "$word"; words+=("$substituted"); done
}

# Copies the lines of a block, up to its "end" line, from the case file (on fd 3) into the file $1,
# with $TMP and $CORPUS replaced.
read_block() {
  local start=$line_no line
  : >"$1"
  while IFS= read -r line <&3 || [[ -n $line ]]; do
    line_no=$((line_no + 1))
    [[ $line == end ]] && return 0
    substitute "$line"
    printf '%s\n' "$substituted" >>"$1"
  done
  line_no=$start
  malformed "block has no closing \"end\" line"
}

number() {  # the value without blanks, which must be a number
  value=${value//[[:blank:]]/}
  [[ $value =~ ^[0-9]+$ ]] || malformed "$directive needs a number: $value"
}

indent() { local line; while IFS= read -r line || [[ -n $line ]]; do printf '    %s\n' "$line"; done; }

# ---- read the case ------------------------------------------------------------------------------

args=() copies=() befores=() immutable_wanted=() json_checks=() stdout_contains=() stderr_contains=()
same_checks=()  # triples: kind (bytes, pdf), file A, file B
file_checks=()  # triples: file, check, value
exact=()        # streams given byte for byte: their text is in $work/expected.<stream>
stdin_file=/dev/null expected_exit= stdout_count= current_file= line_no=0
: >"$work/wanted.stdout" >"$work/wanted.stderr"  # the lines of stdout-lines and stderr-lines

exec 3<"$case_file"
while IFS= read -r line <&3 || [[ -n $line ]]; do
  line_no=$((line_no + 1))
  [[ -z ${line//[[:blank:]]/} || $line == \#* ]] && continue
  [[ $line == *:* ]] || malformed "expected \"directive: value\", got: $line"
  directive=${line%%:*}
  value=${line#*:}
  value=${value# }
  case $directive in
    args) split_words "$value"; args+=("${words[@]}") ;;
    arg) substitute "$value"; args+=("$substituted") ;;
    arg-escaped) substitute "$value"; printf -v escaped '%b' "$substituted"; args+=("$escaped") ;;
    copy | same-bytes | same-pdf)
      split_words "$value"
      [[ ${#words[@]} -eq 2 ]] || malformed "$directive needs two files"
      if [[ $directive == copy ]]; then
        printf -v escaped '%b' "${words[1]}"
        copies+=("${words[0]}" "$escaped")
      else
        same_checks+=("${directive#same-}" "${words[@]}")
      fi
      ;;
    before)
      [[ -n ${value//[[:blank:]]/} ]] || malformed "before: needs arguments"
      befores+=("$value")
      ;;
    stdin | immutable | stdout-json | file)
      [[ -n $value ]] || malformed "$directive: needs a value"
      substitute "$value"
      case $directive in
        stdin) stdin_file=$substituted ;;
        immutable) immutable_wanted+=("$substituted") ;;
        stdout-json) json_checks+=("$substituted") ;;
        file) current_file=$substituted ;;
      esac
      ;;
    exit) number; expected_exit=$value ;;
    stdout-count) number; stdout_count=$value ;;
    stdout | stderr) exact+=("$directive"); read_block "$work/expected.$directive" ;;
    stdout-lines | stderr-lines) read_block "$work/block"; cat "$work/block" >>"$work/wanted.${directive%-lines}" ;;
    stdout-contains) substitute "$value"; stdout_contains+=("$substituted") ;;
    stderr-contains) substitute "$value"; stderr_contains+=("$substituted") ;;
    file-*)
      check=${directive#file-}
      [[ -n $current_file ]] || malformed "$directive comes before any \"file:\" directive"
      case $check in
        pdf-pages | entries) number ;;
        absent | nonempty) [[ -z ${value//[[:blank:]]/} ]] || malformed "$directive takes no value" ;;
        contains | lacks | contains-utf16le) [[ -n $value ]] || malformed "$directive needs a text" ;;
        *) malformed "unknown directive \"$directive\"" ;;
      esac
      substitute "$value"
      file_checks+=("$current_file" "$check" "$substituted")
      ;;
    *) malformed "unknown directive \"$directive\"" ;;
  esac
done
exec 3<&-
[[ -n $expected_exit ]] || malformed "no \"exit:\" directive"

# ---- run the program ----------------------------------------------------------------------------

binary_path=$(realpath -- "$binary")
for folder in "${immutable_wanted[@]}"; do
  mkdir -p -- "$folder" || exit 2
  if ! chattr +i -- "$folder" 2>/dev/null; then
    echo "SKIP $case_name: cannot make $folder immutable (chattr +i needs root and a file system with the flag)"
    exit 77
  fi
  immutable+=("$folder")
done
for ((k = 0; k < ${#copies[@]}; k += 2)); do cp -- "${copies[k]}" "${copies[k + 1]}" || exit 2; done

run_program() {  # run_program STDIN OUTPUT-PREFIX ARGS...; the exit status is the program's
  local in=$1 out=$2
  shift 2
  (cd "$work/cwd" && LC_ALL=C.UTF-8 timeout 60 "$binary_path" "$@" <"$in" >"$out.stdout" 2>"$out.stderr")
}
for ((k = 0; k < ${#befores[@]}; k++)); do
  split_words "${befores[k]}"
  run_program /dev/null "$work/tmp/before$((k + 1))" "${words[@]}"
  echo $? >"$work/tmp/before$((k + 1)).exit"
done
run_program "$stdin_file" "$work/actual" "${args[@]}"
actual_exit=$?

# ---- compare ------------------------------------------------------------------------------------

failures=0
fail() { echo "FAIL $case_name: $1"; failures=$((failures + 1)); }

# Byte-for-byte equality, NUL bytes and final line feeds included, with coreutils only.
same_bytes() { [[ $(sha256sum <"$1") == "$(sha256sum <"$2")" ]]; }

# Shows how two files differ, with tabs as ^I and line ends as $ so that white space is visible.
show_difference() {
  cat -ET -- "$1" >"$1.shown"
  cat -ET -- "$2" >"$2.shown"
  if command -v diff >/dev/null 2>&1; then
    diff -u --label expected --label actual -- "$1.shown" "$2.shown" | indent
  else
    { echo "--- expected"; cat "$1.shown"; echo "--- actual"; cat "$2.shown"; } | indent
  fi
}

# The 16-bit code units of the UTF-8 text $1 as od prints little-endian words (" 0041 d83d de80"),
# in $units.
utf16_units() {
  local LC_ALL=C.UTF-8  # characters, not bytes
  local text=$1 cp i
  units=
  for ((i = 0; i < ${#text}; i++)); do
    printf -v cp '%d' "'${text:i:1}"
    if ((cp > 0xFFFF)); then
      cp=$((cp - 0x10000))
      printf -v units '%s %04x %04x' "$units" $((0xD800 + (cp >> 10))) $((0xDC00 + (cp & 0x3FF)))
    else
      printf -v units '%s %04x' "$units" "$cp"
    fi
  done
}

# The number of pages of a PDF, or nothing when it is not one.
pdf_pages() { pdfinfo -- "$1" 2>/dev/null | while read -r key value; do [[ $key == Pages: ]] && echo "$value"; done; }

if [[ $actual_exit -eq 124 ]]; then
  fail "timed out after 60 seconds"
elif [[ $actual_exit -ne $expected_exit ]]; then
  fail "exit status $actual_exit, expected $expected_exit"
fi

declare -A label=([stdout]="standard output" [stderr]="standard error")
for stream in "${exact[@]}"; do
  if ! same_bytes "$work/expected.$stream" "$work/actual.$stream"; then
    fail "${label[$stream]} differs"
    show_difference "$work/expected.$stream" "$work/actual.$stream"
  fi
done

# Lines wanted whole: in standard error a line also ends at a carriage return, so that a line a
# progress bar drawn in place ran into does not count.
for stream in stdout stderr; do
  [[ -s $work/wanted.$stream ]] || continue
  tr '\r' '\n' <"$work/actual.$stream" >"$work/lines"
  [[ $stream == stdout ]] && cp "$work/actual.stdout" "$work/lines"
  mapfile -t actual_lines <"$work/lines"
  while IFS= read -r wanted; do
    found=0
    for got in "${actual_lines[@]}"; do [[ $got == "$wanted" ]] && { found=1; break; }; done
    [[ $found -eq 1 ]] || fail "${label[$stream]} lacks the whole line: $(printf '%s' "$wanted" | cat -T)"
  done <"$work/wanted.$stream"
done
if [[ -n $stdout_count ]]; then
  mapfile -t actual_lines <"$work/actual.stdout"
  [[ ${#actual_lines[@]} -eq $stdout_count ]] || fail "standard output has ${#actual_lines[@]} lines, expected $stdout_count"
fi

stdout_text=$(<"$work/actual.stdout")
for wanted in "${stdout_contains[@]}"; do [[ $stdout_text == *"$wanted"* ]] || fail "standard output lacks: $wanted"; done
stderr_text=$(<"$work/actual.stderr")
for wanted in "${stderr_contains[@]}"; do [[ $stderr_text == *"$wanted"* ]] || fail "standard error lacks: $wanted"; done

for expression in "${json_checks[@]}"; do
  command -v jq >/dev/null 2>&1 || { fail "stdout-json needs jq (scripts/setup.sh installs it)"; break; }
  verdict=$(jq -e -s "$expression" <"$work/actual.stdout" 2>&1) ||
    fail "standard output does not satisfy: $expression (jq: $verdict)"
done

for ((i = 0; i < ${#same_checks[@]}; i += 3)); do
  kind=${same_checks[i]} a=${same_checks[i + 1]} b=${same_checks[i + 2]}
  [[ -f $a && -f $b ]] || { fail "same-$kind: $a or $b does not exist"; continue; }
  if [[ $kind == pdf ]]; then
    pages_a=$(pdf_pages "$a") pages_b=$(pdf_pages "$b")
    [[ -n $pages_a && $pages_a == "$pages_b" ]] || fail "$a has ${pages_a:-no} pages, $b ${pages_b:-no}"
    pdftotext -q -- "$a" "$work/a.txt"
    pdftotext -q -- "$b" "$work/b.txt"
    a=$work/a.txt b=$work/b.txt
  fi
  if ! same_bytes "$a" "$b"; then
    fail "${same_checks[i + 1]} and ${same_checks[i + 2]} differ"
    show_difference "$a" "$b"
  fi
done

for ((i = 0; i < ${#file_checks[@]}; i += 3)); do
  file=${file_checks[i]} check=${file_checks[i + 1]} wanted=${file_checks[i + 2]}
  case $check in
    absent) [[ ! -e $file && ! -L $file ]] || fail "$file exists, expected no such file" ;;
    entries)
      [[ -d $file ]] || { fail "$file is not a folder (wanted for file-entries)"; continue; }
      count=$(shopt -s nullglob dotglob; entries=("$file"/*); echo "${#entries[@]}")
      [[ $count -eq $wanted ]] || fail "$file has $count entries, expected $wanted: $(ls -A -- "$file" | tr '\n' ' ')"
      ;;
    *)
      [[ -f $file ]] || { fail "$file does not exist (wanted for file-$check)"; continue; }
      [[ $check == contains || $check == lacks ]] && content=$(tr -d '\000' <"$file")
      case $check in
        nonempty) [[ -s $file ]] || fail "$file is empty" ;;
        contains) [[ $content == *"$wanted"* ]] || fail "$file lacks: $wanted" ;;
        lacks) [[ $content != *"$wanted"* ]] || fail "$file contains: $wanted" ;;
        pdf-pages)
          pages=$(pdf_pages "$file")
          [[ $pages == "$wanted" ]] || fail "$file has ${pages:-no} pages, expected $wanted"
          ;;
        contains-utf16le)
          utf16_units "$wanted"
          [[ "$(od -An -v -tx2 --endian=little -- "$file" | tr -d '\n') " == *"$units "* ]] ||
            fail "$file lacks, as UTF-16LE: $wanted"
          ;;
      esac
      ;;
  esac
done

if [[ $failures -gt 0 ]]; then
  printf '  command: %q' "$binary"
  [[ ${#args[@]} -eq 0 ]] || printf ' %q' "${args[@]}"
  printf '\n'
  if [[ ! " ${exact[*]} " == *" stderr "* && -s $work/actual.stderr ]]; then
    echo "  standard error:"
    indent <"$work/actual.stderr"
  fi
  exit 1
fi
echo "PASS $case_name"
exit 0
