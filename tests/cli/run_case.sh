#!/usr/bin/env bash
# Runs one declarative command-line case: run_case.sh QUORVANE-BINARY CASE-FILE
#
# A case file is a list of directives, one a line; blank lines and lines starting with "#" between
# directives are ignored:
#
#   args: formats --short      arguments, split on blanks (repeatable, appends)
#   arg: some text             one argument, taken verbatim with its blanks (repeatable, appends)
#   arg-escaped: a\nb\xFF       one argument in which the escapes of printf %b (\n, \e, \xHH, ...)
#                              stand for their bytes (repeatable, appends)
#   copy: FROM TO              copies the file FROM to TO before the runs, where TO may hold the
#                              escapes of printf %b, for names with control characters or bytes that
#                              are not UTF-8 (repeatable)
#   stdin: FILE                the checked run reads standard input from FILE (else /dev/null)
#   before: convert a b        a run of the program before the checked one, arguments split on
#                              blanks (repeatable, run in order); run k leaves its standard output,
#                              standard error and exit status in $TMP/before<k>.stdout, .stderr and
#                              .exit, for the file-... and same-... directives
#   immutable: $TMP/locked     the folder (made when missing) is immutable (chattr +i) during the
#                              runs and made mutable again afterwards, whatever happens; when that
#                              cannot be done (not root, a file system without the flag) the case is
#                              skipped with exit status 77
#   exit: 0                    expected exit status (required)
#   stdout:                    expected standard output, byte for byte: every line up to a line
#   ...                        that is exactly "end", each line ending in a line feed; "stdout:"
#   end                        directly followed by "end" expects no output at all
#   stdout-lines:              lines that must each appear as a whole line of standard output,
#   ...                        in any order
#   end
#   stdout-count: 25           expected number of lines of standard output
#   stdout-contains: text      standard output contains this text (repeatable)
#   stderr:                    expected standard error, byte for byte, as for stdout
#   ...
#   end
#   stderr-contains: text      standard error contains this text (repeatable)
#   stderr-lines:              lines that must each appear whole in standard error, where a line
#   ...                        ends at a line feed or a carriage return (so a line that a progress
#   end                        bar drawn in place ran into does not count)
#   stdout-json: EXPRESSION    standard output is JSON objects (one a line) and the jq expression,
#                              given the array of them, yields true (repeatable; needs jq)
#   same-bytes: A B            the files A and B are equal byte for byte (repeatable)
#   same-pdf: A B              the PDF files A and B have the same number of pages and the same
#                              text (repeatable; needs pdfinfo and pdftotext)
#   file: $TMP/out.txt         the file that the file-... directives after it check (repeatable:
#                              each one switches to another file)
#   file-absent:               the file does not exist
#   file-nonempty:             the file exists and holds at least one byte
#   file-contains: text        the file, with its NUL bytes dropped, contains the UTF-8 bytes of
#                              this text (repeatable)
#   file-lacks: text           the file does not contain them (repeatable)
#   file-contains-utf16le: text  the file contains this text as UTF-16LE code units, at an even
#                              offset (repeatable)
#   file-pdf-pages: 3          the file is a PDF of this many pages (needs pdfinfo)
#   file-entries: 2            the file is a folder with this many entries
#
# In the values of every directive but exit and stdout-count, and in the lines of blocks, $TMP stands for an empty folder of
# the case's own and $CORPUS for the test corpus: $QUORVANE_CORPUS_DIR when it is set, else the
# folder shared/corpus three levels above this script (tests/cli/ of the repository). A case that
# names $CORPUS when the corpus is missing is skipped (exit 77), except under CI (CI set), where the
# corpus must be there and the case fails.
#
# Lines inside a block are taken verbatim but for $TMP and $CORPUS: tabs are real tabs. The program runs in an empty
# temporary directory, with standard input from /dev/null (or the stdin: file) and LC_ALL=C.UTF-8, for at most 60
# seconds (each run). Exit status: 0 the case passed, 1 it failed (what differs is printed), 2 the
# case file or the command line of this script is malformed, 77 the case was skipped. Needs bash and
# coreutils, and the tools named above for the directives that need them.
set -u

if [[ $# -ne 2 ]]; then
  echo "usage: run_case.sh QUORVANE-BINARY CASE-FILE" >&2
  exit 2
fi
binary=$1
case_file=$2
case_name=$(basename -- "$case_file")
if [[ ! -x $binary ]]; then
  echo "$case_name: program not found or not executable: $binary" >&2
  exit 2
fi
if [[ ! -r $case_file ]]; then
  echo "$case_name: cannot read case file" >&2
  exit 2
fi

work=$(mktemp -d) || exit 2
immutable=()  # folders made immutable, made mutable again on exit before anything is removed
cleanup() {
  local folder
  for folder in "${immutable[@]}"; do chattr -i -- "$folder" 2>/dev/null; done
  rm -rf -- "$work"
}
trap cleanup EXIT
mkdir "$work/tmp" || exit 2

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd) || exit 2
corpus=${QUORVANE_CORPUS_DIR:-$script_dir/../../../shared/corpus}
corpus=$(realpath -m -- "$corpus")

malformed() {
  echo "$case_name:$1: $2" >&2
  exit 2
}

# ---- read the case ------------------------------------------------------------------------------

args=()
copies=()           # pairs: from, to (escapes expanded)
stdin_file=/dev/null
befores=()           # the before: lines, each still to be split
immutable_wanted=()
stderr_lines=()
json_checks=()
same_checks=()       # triples: kind (bytes, pdf), file A, file B
expected_exit=
stdout_exact=0        # 1 when a "stdout:" block was given; its text is in $work/expected.stdout
stderr_exact=0        # the same for "stderr:"
stdout_lines=()
stdout_count=
stdout_contains=()
stderr_contains=()
file_checks=()        # triples: file, check (absent, nonempty, contains, lacks, utf16le), text
current_file=

# Copies the lines of a block, up to its "end" line, from the case file (on fd 3) into the file $1,
# with $TMP and $CORPUS replaced.
line_no=0
read_block() {
  local start=$line_no line
  : >"$1"
  while IFS= read -r line <&3 || [[ -n $line ]]; do
    line_no=$((line_no + 1))
    if [[ $line == end ]]; then return 0; fi
    substitute "$line"
    printf '%s\n' "$substituted" >>"$1"
  done
  malformed "$start" "block has no closing \"end\" line"
}

# Replaces $TMP and $CORPUS in $1; the result is in $substituted.
substitute() {
  substituted=$1
  if [[ $substituted == *'$CORPUS'* && ! -d $corpus ]]; then
    [[ -n ${CI:-} ]] && malformed "$line_no" "the case needs the corpus, which is not at $corpus (set QUORVANE_CORPUS_DIR)"
    echo "$case_name: skipped: it needs the corpus, which is not at $corpus (set QUORVANE_CORPUS_DIR)"
    exit 77
  fi
  substituted=${substituted//'$TMP'/$work/tmp}
  substituted=${substituted//'$CORPUS'/$corpus}
}

# Writes standard input indented by four spaces (sed is not in coreutils).
indent() {
  local line
  while IFS= read -r line || [[ -n $line ]]; do printf '    %s\n' "$line"; done
}

exec 3<"$case_file"
while IFS= read -r line <&3 || [[ -n $line ]]; do
  line_no=$((line_no + 1))
  [[ -z ${line//[[:blank:]]/} || $line == \#* ]] && continue
  [[ $line == *:* ]] || malformed "$line_no" "expected \"directive: value\", got: $line"
  directive=${line%%:*}
  value=${line#*:}
  value=${value# }
  case $directive in
    args)
      read -r -a words <<<"$value"
      for word in "${words[@]}"; do
        substitute "$word"
        args+=("$substituted")
      done
      ;;
    arg)
      substitute "$value"
      args+=("$substituted")
      ;;
    arg-escaped)
      substitute "$value"
      printf -v escaped '%b' "$substituted"
      args+=("$escaped")
      ;;
    copy)
      read -r -a pair <<<"$value"
      [[ ${#pair[@]} -eq 2 ]] || malformed "$line_no" "copy: needs two files"
      substitute "${pair[0]}"
      from=$substituted
      substitute "${pair[1]}"
      printf -v escaped '%b' "$substituted"
      copies+=("$from" "$escaped")
      ;;
    stdin)
      [[ -n $value ]] || malformed "$line_no" "stdin: needs a file"
      substitute "$value"
      stdin_file=$substituted
      ;;
    before)
      [[ -n ${value//[[:blank:]]/} ]] || malformed "$line_no" "before: needs arguments"
      befores+=("$value")
      ;;
    immutable)
      [[ -n $value ]] || malformed "$line_no" "immutable: needs a folder"
      substitute "$value"
      immutable_wanted+=("$substituted")
      ;;
    stderr-lines)
      read_block "$work/wanted.stderr.lines"
      mapfile -t -O "${#stderr_lines[@]}" stderr_lines <"$work/wanted.stderr.lines"
      ;;
    stdout-json)
      [[ -n $value ]] || malformed "$line_no" "stdout-json: needs a jq expression"
      substitute "$value"
      json_checks+=("$substituted")
      ;;
    same-bytes | same-pdf)
      read -r -a pair <<<"$value"
      [[ ${#pair[@]} -eq 2 ]] || malformed "$line_no" "$directive needs two files"
      substitute "${pair[0]}"
      first=$substituted
      substitute "${pair[1]}"
      same_checks+=("${directive#same-}" "$first" "$substituted")
      ;;
    exit)
      value=${value//[[:blank:]]/}
      [[ $value =~ ^[0-9]+$ ]] || malformed "$line_no" "exit status is not a number: $value"
      expected_exit=$value
      ;;
    stdout) stdout_exact=1; read_block "$work/expected.stdout" ;;
    stderr) stderr_exact=1; read_block "$work/expected.stderr" ;;
    stdout-lines)
      read_block "$work/wanted.lines"
      mapfile -t -O "${#stdout_lines[@]}" stdout_lines <"$work/wanted.lines"
      ;;
    stdout-count)
      value=${value//[[:blank:]]/}
      [[ $value =~ ^[0-9]+$ ]] || malformed "$line_no" "line count is not a number: $value"
      stdout_count=$value
      ;;
    stdout-contains) substitute "$value"; stdout_contains+=("$substituted") ;;
    stderr-contains) substitute "$value"; stderr_contains+=("$substituted") ;;
    file)
      [[ -n $value ]] || malformed "$line_no" "file: needs a path"
      substitute "$value"
      current_file=$substituted
      ;;
    file-pdf-pages | file-entries)
      [[ -n $current_file ]] || malformed "$line_no" "$directive comes before any \"file:\" directive"
      value=${value//[[:blank:]]/}
      [[ $value =~ ^[0-9]+$ ]] || malformed "$line_no" "$directive needs a number: $value"
      file_checks+=("$current_file" "${directive#file-}" "$value")
      ;;
    file-absent | file-nonempty | file-contains | file-lacks | file-contains-utf16le)
      [[ -n $current_file ]] || malformed "$line_no" "$directive comes before any \"file:\" directive"
      check=${directive#file-}
      [[ $check == contains-utf16le ]] && check=utf16le
      if [[ $check == absent || $check == nonempty ]]; then
        [[ -z ${value//[[:blank:]]/} ]] || malformed "$line_no" "$directive takes no value"
      else
        [[ -n $value ]] || malformed "$line_no" "$directive needs a text"
      fi
      substitute "$value"
      file_checks+=("$current_file" "$check" "$substituted")
      ;;
    *) malformed "$line_no" "unknown directive \"$directive\"" ;;
  esac
done
exec 3<&-
[[ -n $expected_exit ]] || malformed "$line_no" "no \"exit:\" directive"

# ---- run the program ----------------------------------------------------------------------------

mkdir "$work/cwd"
binary_path=$(realpath -- "$binary")

for folder in "${immutable_wanted[@]}"; do
  mkdir -p -- "$folder" || exit 2
  if ! chattr +i -- "$folder" 2>/dev/null; then
    echo "SKIP $case_name: cannot make $folder immutable (chattr +i needs root and a file system with the flag)"
    exit 77
  fi
  immutable+=("$folder")
done

for ((k = 0; k < ${#copies[@]}; k += 2)); do
  cp -- "${copies[k]}" "${copies[k + 1]}" || exit 2
done

run_program() {  # run_program STDIN STDOUT STDERR ARGS...; the exit status is the program's
  local in=$1 out=$2 err=$3
  shift 3
  (cd "$work/cwd" && LC_ALL=C.UTF-8 timeout 60 "$binary_path" "$@" <"$in" >"$out" 2>"$err")
}

for ((k = 0; k < ${#befores[@]}; k++)); do
  read -r -a words <<<"${befores[k]}"
  before_args=()
  for word in "${words[@]}"; do
    substitute "$word"
    before_args+=("$substituted")
  done
  run_program /dev/null "$work/tmp/before$((k + 1)).stdout" "$work/tmp/before$((k + 1)).stderr" "${before_args[@]}"
  echo $? >"$work/tmp/before$((k + 1)).exit"
done

run_program "$stdin_file" "$work/actual.stdout" "$work/actual.stderr" "${args[@]}"
actual_exit=$?

# ---- compare ------------------------------------------------------------------------------------

failures=0
fail() {
  echo "FAIL $case_name: $1"
  failures=$((failures + 1))
}

# Byte-for-byte equality, NUL bytes and final line feeds included, with coreutils only.
same_bytes() {
  [[ $(sha256sum <"$1") == "$(sha256sum <"$2")" ]]
}

# The 16-bit code units of the UTF-8 text $1 as od prints little-endian words (" 0041 d83d de80"),
# in $units.
utf16_units() {
  local LC_ALL=C.UTF-8  # characters, not bytes
  local text=$1 ch cp i
  units=
  for ((i = 0; i < ${#text}; i++)); do
    ch=${text:i:1}
    printf -v cp '%d' "'$ch"
    if ((cp > 0xFFFF)); then
      cp=$((cp - 0x10000))
      printf -v units '%s %04x %04x' "$units" $((0xD800 + (cp >> 10))) $((0xDC00 + (cp & 0x3FF)))
    else
      printf -v units '%s %04x' "$units" "$cp"
    fi
  done
}

# Shows how two files differ, with tabs as ^I and line ends as $ so that white space is visible.
show_difference() {
  cat -ET -- "$1" >"$1.shown"
  cat -ET -- "$2" >"$2.shown"
  if command -v diff >/dev/null 2>&1; then
    diff -u --label expected --label actual -- "$1.shown" "$2.shown" | indent
  else
    echo "    --- expected"
    indent <"$1.shown"
    echo "    --- actual"
    indent <"$2.shown"
  fi
}

if [[ $actual_exit -eq 124 ]]; then
  fail "timed out after 60 seconds"
elif [[ $actual_exit -ne $expected_exit ]]; then
  fail "exit status $actual_exit, expected $expected_exit"
fi

if [[ $stdout_exact -eq 1 ]] && ! same_bytes "$work/expected.stdout" "$work/actual.stdout"; then
  fail "standard output differs"
  show_difference "$work/expected.stdout" "$work/actual.stdout"
fi
if [[ $stderr_exact -eq 1 ]] && ! same_bytes "$work/expected.stderr" "$work/actual.stderr"; then
  fail "standard error differs"
  show_difference "$work/expected.stderr" "$work/actual.stderr"
fi

if [[ ${#stdout_lines[@]} -gt 0 || -n $stdout_count ]]; then
  mapfile -t actual_lines <"$work/actual.stdout"
  for wanted in "${stdout_lines[@]}"; do
    found=0
    for got in "${actual_lines[@]}"; do
      if [[ $got == "$wanted" ]]; then found=1; break; fi
    done
    [[ $found -eq 1 ]] || fail "standard output lacks the line: $(printf '%s' "$wanted" | cat -T)"
  done
  if [[ -n $stdout_count && ${#actual_lines[@]} -ne $stdout_count ]]; then
    fail "standard output has ${#actual_lines[@]} lines, expected $stdout_count"
  fi
fi

stdout_text=$(<"$work/actual.stdout")
for wanted in "${stdout_contains[@]}"; do
  [[ $stdout_text == *"$wanted"* ]] || fail "standard output lacks: $wanted"
done
stderr_text=$(<"$work/actual.stderr")
for wanted in "${stderr_contains[@]}"; do
  [[ $stderr_text == *"$wanted"* ]] || fail "standard error lacks: $wanted"
done

if [[ ${#stderr_lines[@]} -gt 0 ]]; then
  mapfile -t actual_lines < <(tr '\r' '\n' <"$work/actual.stderr")
  for wanted in "${stderr_lines[@]}"; do
    found=0
    for got in "${actual_lines[@]}"; do
      if [[ $got == "$wanted" ]]; then found=1; break; fi
    done
    [[ $found -eq 1 ]] || fail "standard error lacks the whole line: $(printf '%s' "$wanted" | cat -T)"
  done
fi

for expression in "${json_checks[@]}"; do
  if ! command -v jq >/dev/null 2>&1; then
    fail "stdout-json needs jq (scripts/setup.sh installs it)"
    break
  fi
  if ! verdict=$(jq -e -s "$expression" <"$work/actual.stdout" 2>&1); then
    fail "standard output does not satisfy: $expression (jq: $verdict)"
  fi
done

# The number of pages of a PDF, or nothing when it is not one.
pdf_pages() { pdfinfo -- "$1" 2>/dev/null | while read -r key value; do [[ $key == Pages: ]] && echo "$value"; done; }

for ((i = 0; i < ${#same_checks[@]}; i += 3)); do
  kind=${same_checks[i]}
  a=${same_checks[i + 1]}
  b=${same_checks[i + 2]}
  if [[ ! -f $a || ! -f $b ]]; then
    fail "same-$kind: $a or $b does not exist"
    continue
  fi
  case $kind in
    bytes)
      if ! same_bytes "$a" "$b"; then
        fail "$a and $b differ"
        show_difference "$a" "$b"
      fi
      ;;
    pdf)
      pages_a=$(pdf_pages "$a")
      pages_b=$(pdf_pages "$b")
      if [[ -z $pages_a || $pages_a != "$pages_b" ]]; then
        fail "$a has ${pages_a:-no} pages, $b ${pages_b:-no}"
      fi
      pdftotext -q -- "$a" "$work/a.pdf.txt"
      pdftotext -q -- "$b" "$work/b.pdf.txt"
      if ! same_bytes "$work/a.pdf.txt" "$work/b.pdf.txt"; then
        fail "the text of $a and $b differs"
        show_difference "$work/a.pdf.txt" "$work/b.pdf.txt"
      fi
      ;;
  esac
done

for ((i = 0; i < ${#file_checks[@]}; i += 3)); do
  file=${file_checks[i]}
  check=${file_checks[i + 1]}
  wanted=${file_checks[i + 2]}
  if [[ $check == absent ]]; then
    [[ ! -e $file && ! -L $file ]] || fail "$file exists, expected no such file"
    continue
  fi
  if [[ $check == entries ]]; then
    if [[ ! -d $file ]]; then
      fail "$file is not a folder (wanted for file-entries)"
      continue
    fi
    entries=("$file"/* "$file"/.[!.]* "$file"/..?*)
    count=0
    for entry in "${entries[@]}"; do [[ -e $entry || -L $entry ]] && count=$((count + 1)); done
    [[ $count -eq $wanted ]] || fail "$file has $count entries, expected $wanted: $(ls -A -- "$file" | tr '\n' ' ')"
    continue
  fi
  if [[ ! -f $file ]]; then
    fail "$file does not exist (wanted for file-$check)"
    continue
  fi
  case $check in
    nonempty) [[ -s $file ]] || fail "$file is empty" ;;
    contains | lacks)
      content=$(tr -d '\000' <"$file")
      if [[ $check == contains ]]; then
        [[ $content == *"$wanted"* ]] || fail "$file lacks: $wanted"
      else
        [[ $content != *"$wanted"* ]] || fail "$file contains: $wanted"
      fi
      ;;
    pdf-pages)
      pages=$(pdf_pages "$file")
      [[ $pages == "$wanted" ]] || fail "$file has ${pages:-no} pages, expected $wanted"
      ;;
    utf16le)
      words=$(od -An -v -tx2 --endian=little -- "$file" | tr -d '\n')
      utf16_units "$wanted"
      [[ "$words " == *"$units "* ]] || fail "$file lacks, as UTF-16LE: $wanted"
      ;;
  esac
done

if [[ $failures -gt 0 ]]; then
  printf '  command: %q' "$binary"
  [[ ${#args[@]} -eq 0 ]] || printf ' %q' "${args[@]}"
  printf '\n'
  if [[ $stderr_exact -eq 0 && -s $work/actual.stderr ]]; then
    echo "  standard error:"
    indent <"$work/actual.stderr"
  fi
  exit 1
fi
echo "PASS $case_name"
exit 0
