#!/usr/bin/env bash
# install_test.sh BUILD-DIR SOURCE-DIR CORPUS-DIR WITH-RENDERER(0|1): installs into a temporary prefix
# and uses the component from there as a host would: the layout, the installed command, the README's
# examples built through find_package and pkg-config, and the renderer's plugin loaded from the prefix.
# Exit status 0 passed, 1 failed, 77 skipped (no corpus, except under CI).
set -euo pipefail

[[ $# -eq 4 ]] || { echo "usage: install_test.sh BUILD-DIR SOURCE-DIR CORPUS-DIR WITH-RENDERER" >&2; exit 2; }
build=$(realpath -- "$1")
source=$(realpath -- "$2")
corpus=$(realpath -m -- "${QUORVANE_CORPUS_DIR:-$3}")
with_renderer=$4
deck=$corpus/poi/testPPT.ppsx
if [[ ! -r $deck ]]; then
  why="it needs the corpus, which is not at $corpus (set QUORVANE_CORPUS_DIR)"
  [[ -n ${CI:-} ]] && { echo "install: FAILED: $why"; exit 1; }
  echo "install: skipped: $why"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

library=$(find "$prefix" -name 'libquorvane.so' | head -n 1)
[[ -n $library ]] || { echo "FAIL: no libquorvane.so under $prefix"; exit 1; }
libdir=$(dirname -- "$library")
wanted=(
  "$prefix/bin/quorvane"
  "$libdir/libquorvane.so.4"
  "$prefix/include/quorvane/control.hpp"
  "$prefix/include/quorvane/quorvane.h"
  "$libdir/cmake/quorvane/quorvaneConfig.cmake"
  "$libdir/cmake/quorvane/quorvaneConfigVersion.cmake"
  "$libdir/cmake/quorvane/quorvaneTargets.cmake"
  "$libdir/pkgconfig/quorvane.pc"
  "$prefix/share/man/man1/quorvane.1"
)
[[ $with_renderer == 1 ]] && wanted+=("$libdir/libquorvane-uno.so")
for path in "${wanted[@]}"; do
  [[ -e $path ]] || fail "not installed: ${path#"$prefix"/}"
done
# Only the public headers: nothing of src/ is a host's business.
for header in "$prefix"/include/quorvane/*; do
  [[ -f $source/include/quorvane/$(basename -- "$header") ]] || fail "not a public header: $header"
done
if command -v groff >/dev/null 2>&1; then
  warnings=$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/quorvane.1" 2>&1) || true
  [[ -z $warnings ]] || fail "the manual page has troff warnings: $warnings"
fi

"$prefix/bin/quorvane" version >"$work/version.txt" 2>&1 || fail "the installed command does not run: $(cat "$work/version.txt")"
resolved=$(ldd "$prefix/bin/quorvane" | awk '$1 == "libquorvane.so.4" { print $3 }')
[[ -n $resolved && $(realpath -- "$resolved") == "$(realpath -- "$libdir/libquorvane.so.4")" ]] ||
  fail "the installed command loads '${resolved:-nothing}' instead of $libdir/libquorvane.so.4"

# run_host HOW PROGRAM: the example converts the deck to text through the installed library.
run_host() {
  "$2" "$deck" "$work/$1.txt" 200 2>"$work/$1.err" || fail "$1: the example failed: $(cat "$work/$1.err")"
  grep -qs 'Attachment Test' "$work/$1.txt" || fail "$1: the converted text is missing or wrong"
}

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if cmake -S "$source/tests/install/host" -B "$work/host" "${generator[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
    -DQUORVANE_EXAMPLES_DIR="$source/examples" -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Wpedantic -Werror" "-DCMAKE_C_FLAGS=-Wall -Wextra -Wpedantic -Werror" \
    >"$work/host-configure.log" 2>&1 && cmake --build "$work/host" >"$work/host-build.log" 2>&1; then
  run_host find_package-cpp "$work/host/embed"
  grep -q '^progress 100%$' "$work/find_package-cpp.err" || fail "find_package, C++: no Progress event reached the host"
  run_host find_package-c "$work/host/embed_c"
else
  fail "find_package: the host project does not build"
  cat "$work/host-configure.log" "$work/host-build.log" 2>/dev/null | tail -n 30
fi

# A version the package does not offer is refused by its version file.
if cmake -S "$source/tests/install/host" -B "$work/host-5" -DCMAKE_PREFIX_PATH="$prefix" \
    -DQUORVANE_EXAMPLES_DIR="$source/examples" -DQUORVANE_WANTED_VERSION=5.0 >"$work/host-5.log" 2>&1; then
  fail "find_package(quorvane 5.0) accepted version 4.7"
fi

export PKG_CONFIG_PATH=$libdir/pkgconfig
version=$(pkg-config --modversion quorvane 2>&1) || true
[[ $version == 4.7.0 ]] || fail "pkg-config: version '$version', expected 4.7.0"
read -r -a flags <<<"$(pkg-config --cflags --libs quorvane)"
for example in "c++ -std=c++20 embed.cpp pkg-config-cpp" "cc -std=c99 embed.c pkg-config-c"; do
  read -r compiler standard file how <<<"$example"
  if $compiler "$standard" -Wall -Wextra -Wpedantic -Werror "$source/examples/$file" "${flags[@]}" \
      "-Wl,-rpath,$libdir" -o "$work/$how" 2>"$work/$how.log"; then
    run_host "$how" "$work/$how"
  else
    fail "$how: does not build: $(cat "$work/$how.log")"
  fi
done

if [[ $with_renderer == 1 ]]; then
  if LD_DEBUG=files "$prefix/bin/quorvane" convert "$deck" "$work/deck.pdf" >/dev/null 2>"$work/loader.log"; then
    loaded=$(grep -o 'file=[^ ]*libquorvane-uno\.so' "$work/loader.log" | head -n 1)
    loaded=${loaded#file=}
    [[ -n $loaded && $(realpath -- "$loaded") == "$(realpath -- "$libdir/libquorvane-uno.so")" ]] ||
      fail "the renderer loaded the plugin '${loaded:-nothing}' instead of $libdir/libquorvane-uno.so"
    [[ $(head -c 5 "$work/deck.pdf") == %PDF- ]] || fail "the installed command wrote no PDF"
  else
    fail "the installed command could not convert to PDF: $(grep -v '^ *[0-9]*:' "$work/loader.log" | tail -n 5)"
  fi
fi

[[ $failures -eq 0 ]] || exit 1
echo "install: all checks passed"
