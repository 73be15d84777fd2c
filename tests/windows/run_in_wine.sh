#!/bin/bash
# Runs Windows programs of the test suite under Wine, in the build folder's own prefix (made on
# first use), with Quorvane.ocx registered. Arguments that are absolute paths are handed to the
# programs as Windows paths. Several commands are separated by "--"; the first that fails ends the
# run with its status.
#   run_in_wine.sh <prefix> <ocx> <program> [args...] [-- <program> [args...]]...
set -u
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
ocx=$2
shift 2
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -e "$WINEPREFIX/system.reg" ]; then
    wine wineboot --init >/dev/null 2>&1
    # No display here: Wine's null graphics driver still gives windows (for the container test).
    # It is read when the prefix's processes start, so they are ended once it is set.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -k; wineserver -w
  fi
) 9>"$WINEPREFIX.lock"

windows_path() { if [[ $1 == /* && $1 != //* ]]; then winepath -w "$1" 2>/dev/null; else printf '%s\n' "$1"; fi; }

wine regsvr32 /s "$(windows_path "$ocx")" || { echo "regsvr32 failed for $ocx" >&2; exit 1; }
command=()
run() {
  [ ${#command[@]} -eq 0 ] && return 0
  wine "${command[@]}" || exit $?
  command=()
}
for arg in "$@"; do
  if [ "$arg" = "--" ]; then run; else command+=("$(windows_path "$arg")"); fi
done
run
