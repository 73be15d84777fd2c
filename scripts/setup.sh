#!/usr/bin/env bash
# Installs everything Quorvane needs to build, test and run, from Debian's packages.
# Non-interactive and idempotent: packages already present are skipped, and nothing is
# asked. Runs as root (as on CI), or through sudo where that is available.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev libzip-dev libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
  locales
  jq  # the command-line cases read the tool's --json output back with it
  curl  # the server's cases talk to it over HTTP
  python3-jsonschema  # the JSON documents are checked against docs/deck.schema.json
  python3-yaml  # tests/deploy_test.sh reads the deployment's manifests back
)

# The renderer: LibreOffice (run as separate processes), its SDK (cppumaker, UNO headers and
# libraries), poppler's tools for the tests, and fonts metric-compatible with the usual office fonts,
# with Hebrew, Arabic and CJK coverage. The variants without a GUI are taken unless the full ones
# are installed already (they conflict; replacing a desktop's office is not this script's business).
packages+=(
  libreoffice-dev poppler-utils
  # XPS is made from the renderer's PDF by Ghostscript, the slide show video by ffmpeg (both run as
  # separate processes); libgxps's tools read XPS back in the tests.
  ghostscript ffmpeg libgxps-utils
  fonts-crosextra-carlito fonts-crosextra-caladea fonts-liberation2 fonts-dejavu fonts-noto-cjk fonts-noto-core
)
# The browser the tests open the web page and the web archive in.
packages+=(chromium)
# The Windows component: mingw-w64's compilers with POSIX threads, widl for the type library,
# zlib built for Windows, and Wine to test it. libzip and pugixml for Windows are built from
# Debian's source packages (scripts/windows-deps.sh), for which the source lists are enabled below.
packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64 libwine-dev)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for app in impress writer math; do
  installed "libreoffice-$app" || packages+=("libreoffice-$app-nogui")
done

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Debian's source lists, beside the binary ones and from the same mirrors (deb822 or one-line form).
need_update=0
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      as_root tee /etc/apt/sources.list.d/quorvane-src.sources >/dev/null
  else
    grep -hE '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' |
      as_root tee /etc/apt/sources.list.d/quorvane-src.list >/dev/null
  fi
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Locales the tests use to check regional number and text handling. Generated once.
need_locales=()
for l in de_DE.UTF-8 en_US.UTF-8 de_DE.ISO-8859-1; do
  name=${l%%.*}; enc=${l#*.}
  norm=$(echo "$enc" | tr 'A-Z' 'a-z' | tr -d '-')
  locale -a 2>/dev/null | grep -qix "$name.$norm" || need_locales+=("$l")
done
if [ ${#need_locales[@]} -gt 0 ]; then
  for l in "${need_locales[@]}"; do
    name=${l%%.*}; enc=${l#*.}
    line="$name.$enc $enc"
    [ "$enc" = "ISO-8859-1" ] && line="$name ISO-8859-1"
    grep -qxF "$line" /etc/locale.gen 2>/dev/null || echo "$line" | as_root tee -a /etc/locale.gen >/dev/null
  done
  as_root locale-gen >/dev/null
fi
echo "setup: ok"
