#!/usr/bin/env bash
# Prints the size of the tests against the size of the component and fails when the tests outgrow
# their bound. Sizes are non-blank, non-comment lines: the component is the C++ of src/ and
# include/; the tests are the C, C++ and shell code of tests/. The declarative command-line cases
# (tests/cli/*.test) and the golden exports are data and are not counted.
#   test_ratio.sh [BOUND]     (default 0.40)
set -euo pipefail
cd "$(dirname "$0")/.."
bound=${1:-0.40}

# Non-blank lines that are not wholly a comment, for files using // and /* */ comments.
c_lines() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.c' \) -print0 |
    xargs -0 -r cat | awk '
      /^[[:space:]]*$/ { next }
      in_block { if (index($0, "*/")) in_block = 0; next }
      /^[[:space:]]*\/\// { next }
      /^[[:space:]]*\/\*/ { if (!index($0, "*/")) in_block = 1; next }
      { n++ }
      END { print n + 0 }'
}
# The same for shell scripts (# comments; the #! line counts as a comment).
sh_lines() {
  find "$@" -type f -name '*.sh' -print0 |
    xargs -0 -r cat | awk '/^[[:space:]]*$/ || /^[[:space:]]*#/ { next } { n++ } END { print n + 0 }'
}

code=$(c_lines src include)
tests=$(( $(c_lines tests) + $(sh_lines tests) ))
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.2f", t / c }')
echo "test-to-code ratio: $ratio (tests $tests lines, component $code lines; bound $bound)"
awk -v r="$ratio" -v b="$bound" 'BEGIN { exit !(r <= b) }' || {
  echo "the tests are larger than the bound allows: fold cases into tables and drop the ones that restate the code" >&2
  exit 1
}
