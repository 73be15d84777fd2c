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
# A build folder reused across a move of sources keeps the notes of objects the build no longer
# makes; merged with today's they make gcovr fail. Only the objects of today's build count.
ninja -C "$build" -t targets all | sed -n 's/\.o: .*$/.gcno/p' | sort >"$build/objects.txt"
find "$build" -name '*.gcno' -printf '%P\n' | sort | comm -13 "$build/objects.txt" - |
  while read -r stale; do rm -f -- "$build/$stale"; done
(cd "$build" && ctest -j "$(nproc)" --timeout 900 >ctest.log 2>&1) || echo "coverage.sh: some tests failed (see $build/ctest.log)" >&2

# Every line of every source file, folded into folders: src/engines/pptx/zip.cpp counts for
# src/engines/pptx, src/engines/provider.cpp for src/engines. A layer sees its headers through the
# links of $build/layers/<target>/, so a header's lines are gathered from every path it was seen by.
gcovr --root . --filter 'src/' --filter "$build/layers/" --object-directory "$build" --json "$build/coverage.json" \
  --gcov-ignore-parse-errors >/dev/null 2>"$build/gcovr.log"
python3 - "$build/coverage.json" <<'PY'
import json, os, re, sys, collections
lines = collections.defaultdict(dict)  # source file -> line -> runs
for f in json.load(open(sys.argv[1]))["files"]:
    name = re.sub(r"^.*?/layers/[^/]+/", "src/", f["file"])
    for line in f["lines"]:
        if not line.get("gcovr/noncode"):
            lines[name][line["line_number"]] = lines[name].get(line["line_number"], 0) + line["count"]
totals = collections.defaultdict(lambda: [0, 0])
for name, runs in lines.items():
    totals[os.path.dirname(name)][0] += len(runs)
    totals[os.path.dirname(name)][1] += sum(1 for count in runs.values() if count > 0)
print(f"{'folder':32} {'lines':>7} {'run':>7} {'percent':>8}")
all_lines = all_run = 0
for folder in sorted(totals):
    total, run = totals[folder]
    all_lines += total; all_run += run
    print(f"{folder:32} {total:7} {run:7} {100.0 * run / max(total, 1):7.1f}%")
print(f"{'all of src/':32} {all_lines:7} {all_run:7} {100.0 * all_run / max(all_lines, 1):7.1f}%")
PY
