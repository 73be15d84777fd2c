#!/usr/bin/env bash
# Installs everything Quorvane needs to build, test and run, from Debian's packages.
# Non-interactive and idempotent: packages already present are skipped, and nothing is
# asked. Runs as root (as on CI), or through sudo where that is available.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev libzip-dev libcli11-dev nlohmann-json3-dev
  locales
  jq  # the command-line cases read the tool's --json output back with it
  python3-jsonschema  # the JSON documents are checked against docs/deck.schema.json
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
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for app in impress writer math; do
  installed "libreoffice-$app" || packages+=("libreoffice-$app-nogui")
done

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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
