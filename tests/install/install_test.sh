#!/usr/bin/env bash
# Installs the component into a temporary prefix and uses it from there, as a host would:
#   install_test.sh BUILD-DIR SOURCE-DIR CORPUS-DIR WITH-RENDERER(0|1)
#
# Checks that `cmake --install` lays out the library, the public headers, the CMake package (with
# its version file), the pkg-config file, the command, its manual page and, with the renderer, the
# UNO plugin; builds the README's C++ and C examples against the installed tree twice, through
# find_package(quorvane) and through pkg-config, with warnings as errors, and runs them; runs the
# installed command, and checks that the renderer loads the plugin installed beside the library
# rather than the one in the build tree. Exit status 0 when all holds, else 1.
set -euo pipefail

if [[ $# -ne 4 ]]; then
  echo "usage: install_test.sh BUILD-DIR SOURCE-DIR CORPUS-DIR WITH-RENDERER" >&2
  exit 2
fi
build=$(realpath -- "$1")
source=$(realpath -- "$2")
corpus=$(realpath -m -- "$3")
with_renderer=$4
deck=$corpus/poi/testPPT.ppsx

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
prefix=$work/prefix
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# ---- the layout ----------------------------------------------------------------------------------
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

# ---- the installed command -----------------------------------------------------------------------
if ! "$prefix/bin/quorvane" version >"$work/version.txt" 2>&1; then
  fail "the installed command does not run: $(cat "$work/version.txt")"
fi
resolved=$(ldd "$prefix/bin/quorvane" | awk '$1 == "libquorvane.so.4" { print $3 }')
[[ -n $resolved && $(realpath -- "$resolved") == "$(realpath -- "$libdir/libquorvane.so.4")" ]] ||
  fail "the installed command loads '${resolved:-nothing}' instead of $libdir/libquorvane.so.4"

# ---- hosts built against the installed tree ------------------------------------------------------
check_output() {  # check_output HOW TEXT-FILE
  if [[ ! -s $2 ]] || ! grep -q 'Attachment Test' "$2"; then fail "$1: the converted text is missing or wrong"; fi
}

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if cmake -S "$source/tests/install/host" -B "$work/host" "${generator[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
    -DQUORVANE_EXAMPLES_DIR="$source/examples" -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Wpedantic -Werror" "-DCMAKE_C_FLAGS=-Wall -Wextra -Wpedantic -Werror" \
    >"$work/host-configure.log" 2>&1 && cmake --build "$work/host" >"$work/host-build.log" 2>&1; then
  "$work/host/embed" "$deck" "$work/cmake-cpp.txt" 200 2>"$work/cmake-cpp.err" || fail "find_package, C++: the example failed: $(cat "$work/cmake-cpp.err")"
  check_output "find_package, C++" "$work/cmake-cpp.txt"
  grep -q '^progress 100%$' "$work/cmake-cpp.err" || fail "find_package, C++: no Progress event reached the host"
  "$work/host/embed_c" "$deck" "$work/cmake-c.txt" 200 || fail "find_package, C: the example failed"
  check_output "find_package, C" "$work/cmake-c.txt"
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
if c++ -std=c++20 -Wall -Wextra -Wpedantic -Werror "$source/examples/embed.cpp" "${flags[@]}" \
    "-Wl,-rpath,$libdir" -o "$work/pc-embed" 2>"$work/pc-cpp.log"; then
  "$work/pc-embed" "$deck" "$work/pc-cpp.txt" 200 2>/dev/null || fail "pkg-config, C++: the example failed"
  check_output "pkg-config, C++" "$work/pc-cpp.txt"
else
  fail "pkg-config, C++: does not build: $(cat "$work/pc-cpp.log")"
fi
if cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$source/examples/embed.c" "${flags[@]}" \
    "-Wl,-rpath,$libdir" -o "$work/pc-embed-c" 2>"$work/pc-c.log"; then
  "$work/pc-embed-c" "$deck" "$work/pc-c.txt" 200 || fail "pkg-config, C: the example failed"
  check_output "pkg-config, C" "$work/pc-c.txt"
else
  fail "pkg-config, C: does not build: $(cat "$work/pc-c.log")"
fi

# ---- the renderer's plugin from the installed tree -----------------------------------------------
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

if [[ $failures -gt 0 ]]; then exit 1; fi
echo "install: all checks passed"
