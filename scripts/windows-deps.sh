#!/usr/bin/env bash
# Builds the libraries the Windows component links (libzip with zlib, pugixml) and the test
# framework (GoogleTest) with mingw-w64, from Debian's own sources, into one folder:
#   scripts/windows-deps.sh PREFIX
# The sources are Debian's source packages of the versions the Linux build links, fetched with
# apt-get source (setup.sh enables the source lists), and the googletest sources that
# libgtest-dev installs. Nothing is rebuilt when PREFIX already holds this version of the set.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath -m "${1:?usage: windows-deps.sh PREFIX}")
stamp="$prefix/.built-1"
# nlohmann/json is headers only: Debian's own serve every platform.
mkdir -p "$prefix/include" && ln -sfn /usr/include/nlohmann "$prefix/include/nlohmann"
[[ -f $stamp ]] && exit 0
toolchain="$here/cmake/mingw-w64-x86_64.cmake"
work="$prefix/src"
rm -rf "$work" && mkdir -p "$work" && cd "$work"

echo "windows-deps: fetching Debian's sources of libzip and pugixml" >&2
apt-get source --download-only -qq libzip pugixml 2>&1 | grep -v 'unsandboxed as root' >&2 || true
tar xf libzip_*.orig.tar.*
tar xf pugixml_*.orig.tar.*
cross() {  # cross SOURCE NAME CMAKE-ARGS...
  local src=$1 name=$2; shift 2
  echo "windows-deps: building $name" >&2
  cmake -S "$src" -B "build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQUORVANE_WINDOWS_DEPS="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -Wno-dev "$@" >/dev/null
  cmake --build "build-$name" >/dev/null
  cmake --install "build-$name" >/dev/null
}
cross libzip-*/ libzip -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_GNUTLS=OFF \
  -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
cross pugixml-*/ pugixml -DPUGIXML_BUILD_TESTS=OFF
cross /usr/src/googletest googletest -Dgtest_disable_pthreads=OFF
rm -rf "$work"
touch "$stamp"
