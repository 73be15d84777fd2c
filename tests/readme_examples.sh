#!/usr/bin/env bash
# Every code block of README.md marked "<!-- example: PATH -->" must be the repository's file PATH,
# byte for byte, so that the README shows the code the build compiles:  readme_examples.sh SOURCE-DIR
set -u
source=$1
work=$(mktemp -d) || exit 2
trap 'rm -rf -- "$work"' EXIT
checked=0 failures=0 path=
fail() { echo "FAIL README.md: $1"; failures=$((failures + 1)); }
while IFS= read -r line || [[ -n $line ]]; do
  if [[ -z $path && $line =~ ^'<!-- example: '(.+)' -->'$ ]]; then
    path=${BASH_REMATCH[1]}
    IFS= read -r line && [[ $line == '```'* ]] || { fail "the marker of $path is not followed by a code block"; path=; }
    : >"$work/block"
  elif [[ -n $path && $line == '```' ]]; then
    checked=$((checked + 1))
    if ! cmp -s "$work/block" "$source/$path"; then
      fail "the block of $path differs from the file:"
      diff -u --label "$path" --label "README.md block" "$source/$path" "$work/block" | head -n 40
    fi
    path=
  elif [[ -n $path ]]; then
    printf '%s\n' "$line" >>"$work/block"
  fi
done <"$source/README.md"
[[ -z $path ]] || fail "the block of $path is not closed"
[[ $checked -gt 0 ]] || fail "no marked example"
[[ $failures -eq 0 ]] || exit 1
echo "readme_examples: $checked blocks match their files"
