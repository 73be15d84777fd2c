#!/usr/bin/env bash
# Line coverage of the component by the whole test suite, per folder of src/.
#   coverage.sh [BUILD-DIR]      (default build-coverage; needs gcovr)
# Builds with --coverage and no optimisation into BUILD-DIR, runs every test, and prints one row per
# folder: lines, lines run, percent. The tests run as `make check` runs them (the corpus beside the
# repository, or $QUORVANE_CORPUS_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-coverage}
command -v gcovr >/dev/null || { echo "coverage.sh: gcovr is not installed (apt-get install gcovr)" >&2; exit 2; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic -O0" \
  -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DCMAKE_MODULE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$(nproc)"
find "$build" -name '*.gcda' -delete
(cd "$build" && ctest -j "$(nproc)" --timeout 900 >ctest.log 2>&1) || echo "coverage.sh: some tests failed (see $build/ctest.log)" >&2

# One summary per source file, folded into folders: src/engines/pptx/zip.cpp counts for
# src/engines/pptx, src/engines/provider.cpp for src/engines.
gcovr --root . --filter 'src/' --object-directory "$build" --json-summary "$build/coverage.json" --gcov-ignore-parse-errors >/dev/null 2>"$build/gcovr.log"
python3 - "$build/coverage.json" <<'PY'
import json, os, sys, collections
totals = collections.defaultdict(lambda: [0, 0])
for f in json.load(open(sys.argv[1]))["files"]:
    folder = os.path.dirname(f["filename"])
    totals[folder][0] += f["line_total"]
    totals[folder][1] += f["line_covered"]
print(f"{'folder':32} {'lines':>7} {'run':>7} {'percent':>8}")
all_lines = all_run = 0
for folder in sorted(totals):
    lines, run = totals[folder]
    all_lines += lines; all_run += run
    print(f"{folder:32} {lines:7} {run:7} {100.0 * run / max(lines, 1):7.1f}%")
print(f"{'all of src/':32} {all_lines:7} {all_run:7} {100.0 * all_run / max(all_lines, 1):7.1f}%")
PY
