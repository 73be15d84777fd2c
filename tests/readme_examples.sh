#!/usr/bin/env bash
# Checks that every code block of README.md marked "<!-- example: PATH -->" is the file PATH of the
# repository, byte for byte, so that the README shows the code the build compiles and the install
# test runs:  readme_examples.sh SOURCE-DIR
# Exit status 0 when every marked block matches (and there is at least one), else 1.
set -u
source=$1
readme=$source/README.md
work=$(mktemp -d) || exit 2
trap 'rm -rf -- "$work"' EXIT

checked=0
failures=0
state=outside  # outside, fence (the next line opens the block), inside
while IFS= read -r line || [[ -n $line ]]; do
  case $state in
    outside)
      if [[ $line =~ ^'<!-- example: '(.+)' -->'$ ]]; then
        path=${BASH_REMATCH[1]}
        state=fence
      fi
      ;;
    fence)
      if [[ $line != '```'* ]]; then
        echo "FAIL README.md: the example marker for $path is not followed by a code block"
        failures=$((failures + 1))
        state=outside
        continue
      fi
      : >"$work/block"
      state=inside
      ;;
    inside)
      if [[ $line == '```' ]]; then
        checked=$((checked + 1))
        if ! cmp -s "$work/block" "$source/$path"; then
          echo "FAIL README.md: the block of $path differs from the file:"
          diff -u --label "$path" --label "README.md block" "$source/$path" "$work/block" | head -n 40
          failures=$((failures + 1))
        fi
        state=outside
      else
        printf '%s\n' "$line" >>"$work/block"
      fi
      ;;
  esac
done <"$readme"

[[ $state == outside ]] || { echo "FAIL README.md: the block of $path is not closed"; failures=$((failures + 1)); }
[[ $checked -gt 0 ]] || { echo "FAIL README.md: no marked example"; failures=$((failures + 1)); }
[[ $failures -eq 0 ]] || exit 1
echo "readme_examples: $checked blocks match their files"
