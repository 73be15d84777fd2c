#!/usr/bin/env python3
"""Mutation run: applies each mutant of mutants.txt to a clone of the code, rebuilds, runs the tests.

    python3 scripts/mutation/run.py --source DIR --work DIR --out RESULTS.tsv [--only M01,M02]
                                    [--rev COMMIT] [--exclude CASE,...] [--reuse-baseline]
                                    [--mutants FILE]

--source is a git checkout; its committed HEAD is cloned into --work once (a later run reuses the
clone and its build, so --work must not be shared by two runs at once). The clone is built with
Ninja and ccache at -O1 without debug information and without -Werror, and the unmodified suite
is run once: the run stops if it fails. Then, for every mutant not yet in RESULTS.tsv (so an
interrupted run resumes where it stopped): apply it (its find text must occur exactly once, else it
"does not apply"), build (a failed build is "stillborn"), run the GoogleTest cases that took under
3 s unmodified with --gtest_fail_fast, then, if none failed, the whole suite with ctest
--stop-on-failure; restore the file. A mutant is "killed" when a test fails, times out or crashes,
else it "survived" (a case that fails but passes when run alone again is taken for the machine's
load, not the mutant: the pass goes on without it and the result names it "flaky"). One line per
mutant is appended to RESULTS.tsv as soon as it is done: id, folder, verdict, first failing test,
seconds; --only runs the ids it names even when they are
in RESULTS.tsv already, and replaces their lines. The mutants file is read again before each
mutant, so mutants edited or added during a run are picked up.
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FAST_LIMIT = 3.0          # seconds: a GoogleTest case under this runs in the quick first pass
CTEST_TIMEOUT = 300       # seconds per test in the whole-suite pass

current_child = None      # the process group running now, ended on a signal


class Mutant:
    def __init__(self, ident, folder, title, path, find, replace, line):
        self.ident, self.folder, self.title = ident, folder, title
        self.path, self.find, self.replace, self.line = path, find, replace, line


def parse_mutants(filename):
    """Reads the blocks of the mutants file; raises ValueError naming the line of a malformed one."""
    with open(filename, encoding="utf-8") as f:
        lines = f.read().split("\n")
    mutants, i = [], 0
    while i < len(lines):
        line = lines[i]
        if not line.startswith("## "):
            i += 1
            continue
        head = line[3:].split(None, 2)
        if len(head) < 2:
            raise ValueError(f"{filename}:{i + 1}: header needs an id and a folder")
        start = i + 1
        ident, folder, title = head[0], head[1], head[2] if len(head) > 2 else ""
        i += 1
        path = None
        while i < len(lines) and not lines[i].startswith("--- find"):
            if lines[i].startswith("file:"):
                path = lines[i][5:].strip()
            i += 1
        find, i = collect(lines, i + 1, "--- replace", filename)
        replace, i = collect(lines, i, "---", filename)
        if path is None or not find:
            raise ValueError(f"{filename}:{start}: mutant {ident} needs a file: line and find text")
        if any(m.ident == ident for m in mutants):
            raise ValueError(f"{filename}:{start}: mutant {ident} appears twice")
        mutants.append(Mutant(ident, folder, title, path, find, replace, start))
    return mutants


def collect(lines, i, end, filename):
    """The lines from i up to the line that is exactly `end`, joined, and the index after it."""
    body = []
    while i < len(lines) and lines[i] != end:
        body.append(lines[i])
        i += 1
    if i >= len(lines):
        raise ValueError(f"{filename}: a block does not end with a line '{end}'")
    return ("\n".join(body) + "\n" if body else ""), i + 1


def run(cmd, cwd, log, timeout=None, env=None):
    """Runs cmd in its own process group, its output appended to log; returns (status, timed_out).
    A timeout or a signal to this script ends the whole group."""
    global current_child
    with open(log, "ab") as out:
        out.write(("\n$ " + " ".join(cmd) + "\n").encode())
        out.flush()
        current_child = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                         env=env, start_new_session=True)
        try:
            return current_child.wait(timeout=timeout), False
        except subprocess.TimeoutExpired:
            kill_group(current_child)
            return None, True
        finally:
            if current_child.poll() is None:
                kill_group(current_child)
            current_child = None


def kill_group(child):
    try:
        os.killpg(child.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    child.wait()


def build_env():
    env = dict(os.environ)
    env.update(CCACHE_BASEDIR="/work", CCACHE_DIR="/work/.ccache")
    return env


def prepare(args, build, log):
    head = subprocess.check_output(["git", "-C", args.source, "rev-parse", args.rev + "^{commit}"],
                                   text=True).strip()
    if not os.path.isdir(os.path.join(args.work, ".git")):
        print(f"cloning {args.source} at {head[:10]} into {args.work}", flush=True)
        subprocess.check_call(["git", "clone", "-q", args.source, args.work])
    # A run killed hard may have left a mutant in place: the clone always starts clean.
    subprocess.check_call(["git", "-C", args.work, "checkout", "-q", "--", "."])
    # A clone made for another commit (the suite before a change, say) moves to this one and
    # keeps its build, so that only what changed is rebuilt.
    if subprocess.check_output(["git", "-C", args.work, "rev-parse", "HEAD"], text=True).strip() != head:
        print(f"moving the clone to {args.source} at {head[:10]}", flush=True)
        subprocess.check_call(["git", "-C", args.work, "fetch", "-q", args.source, head])
        subprocess.check_call(["git", "-C", args.work, "checkout", "-q", "--detach", head])
    if not os.path.exists(os.path.join(build, "build.ninja")):
        status, _ = run(["cmake", "-S", args.work, "-B", build, "-G", "Ninja",
                         "-DCMAKE_BUILD_TYPE=", "-DCMAKE_C_FLAGS=-O1 -g0", "-DCMAKE_CXX_FLAGS=-O1 -g0",
                         "-DQUORVANE_WARNINGS_AS_ERRORS=OFF",
                         "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"],
                        args.work, log, env=build_env())
        if status != 0:
            sys.exit(f"configuring the clone failed: see {log}")
    print("building the unmodified clone", flush=True)
    if build_tree(build, log) != 0:
        sys.exit(f"the unmodified clone does not build: see {log}")
    return head


def build_tree(build, log):
    status, _ = run(["cmake", "--build", build, "-j2"], build, log, env=build_env())
    return status


def baseline(args, build, log, head):
    """Runs the unmodified suite once (or reuses a previous run's figures) and returns the
    GoogleTest cases too slow for the quick pass and the quick pass's duration."""
    excluded = sorted(args.exclude)
    saved = os.path.join(build, f"mutation-baseline-{head[:12]}.json")
    if os.path.exists(saved):
        with open(saved) as f:
            figures = json.load(f)
        if sorted(figures.get("excluded", [])) == excluded:
            return figures
    cost = os.path.join(build, "Testing", "Temporary", "CTestCostData.txt")
    failed_list = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    started = time.time()
    if args.reuse_baseline and os.path.exists(cost):
        print("taking the unmodified case times from the build's last ctest run", flush=True)
    else:
        print("running the unmodified suite", flush=True)
        for name in (cost, failed_list):
            if os.path.exists(name):
                os.remove(name)
        run(["ctest", "-j2", "--timeout", str(CTEST_TIMEOUT)] + exclude_args(excluded), build, log)
    # Once more, one at a time, the ones that failed, in case the machine's load made one miss a
    # deadline; a case still failing stops the run unless --exclude names it.
    failed = []
    if os.path.exists(failed_list):
        with open(failed_list) as f:
            failed = [line.strip().split(":", 1)[1] for line in f if ":" in line]
    again = [name for name in failed if name not in excluded]
    if again:
        status, _ = run(["ctest", "--timeout", str(CTEST_TIMEOUT), "-R", "|".join(ctest_pattern(n) for n in again)],
                        build, log)
        if status != 0:
            sys.exit(f"the unmodified suite fails ({', '.join(again)}): see {log}")
    times = {}
    with open(cost) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                times[parts[0]] = float(parts[2])
    listing = subprocess.check_output([os.path.join(build, "tests", "quorvane_tests"),
                                       "--gtest_list_tests"], text=True)
    cases, suite = [], None
    for line in listing.splitlines():
        if not line.strip() or line.startswith("Running main"):
            continue
        name = line.split("#")[0].strip()
        if not line.startswith(" "):
            suite = name
        else:
            cases.append(suite + name)
    slow = sorted(c for c in cases if times.get(c, FAST_LIMIT) >= FAST_LIMIT)
    quick = sum(times.get(c, 0) for c in cases if c not in slow)
    slow = sorted(set(slow) | set(excluded))
    figures = {"slow": slow, "quick_seconds": quick, "suite_seconds": time.time() - started,
               "left_out": [], "excluded": excluded}
    # The quick pass runs its cases in one process, where ctest runs each alone: a case that
    # fails only in company is left to the whole-suite pass.
    for _ in range(10):
        began = time.time()
        killed, failing = quick_pass(build, figures, log, timeout=max(600, 10 * quick))
        if not killed:
            figures["quick_seconds"] = time.time() - began
            break
        name = failing.split(" ")[0]
        print(f"the unmodified quick pass fails at {failing}: left to the whole-suite pass", flush=True)
        if name in figures["slow"] or "." not in name:
            sys.exit(f"the unmodified quick pass fails at {failing}: see {log}")
        figures["slow"].append(name)
        figures["left_out"].append(name)
    else:
        sys.exit(f"the unmodified quick pass keeps failing: see {log}")
    with open(saved, "w") as f:
        json.dump(figures, f, indent=1)
    print(f"unmodified suite passed in {figures['suite_seconds']:.0f} s; "
          f"{len(cases) - len(slow)} quick cases ({quick:.0f} s), {len(slow)} slow ones", flush=True)
    return figures


def first_gtest_failure(log, offset):
    with open(log, "rb") as f:
        f.seek(offset)
        text = f.read().decode("utf-8", "replace")
    m = re.search(r"^\[  FAILED  \] (\S+)", text, re.M)
    if m:
        return m.group(1)
    m = re.search(r"^\[ RUN      \] (\S+)(?![\s\S]*^\[ RUN)", text, re.M)
    return f"{m.group(1)} (crashed)" if m else "quorvane_tests (crashed)"


def first_ctest_failure(log, offset):
    with open(log, "rb") as f:
        f.seek(offset)
        text = f.read().decode("utf-8", "replace")
    m = re.search(r"Test +#\d+: (\S+) \.*\s*\*+([A-Za-z][\w: ]*?)\s+[\d.]+ sec", text)
    if m:
        return f"{m.group(1)} ({m.group(2)})"
    m = re.search(r"^\s+\d+ - (\S+) \(([^)]*)\)", text, re.M)
    return f"{m.group(1)} ({m.group(2)})" if m else "ctest (failed)"


def quick_pass(build, figures, log, timeout, also_out=()):
    """The GoogleTest cases that are quick, in one process, up to the first failure.
    Returns (failed, first failing test)."""
    binary = os.path.join(build, "tests", "quorvane_tests")
    offset = os.path.getsize(log)
    cmd = [binary, "--gtest_fail_fast"]
    out = list(figures["slow"]) + list(also_out)
    if out:
        cmd.append("--gtest_filter=-" + ":".join(out))
    status, timed_out = run(cmd, os.path.join(build, "tests"), log, timeout=timeout)
    if timed_out:
        return True, first_gtest_failure(log, offset).replace("(crashed)", "(timeout)")
    if status != 0:
        return True, first_gtest_failure(log, offset)
    return False, ""


def exclude_args(names):
    return ["-E", "|".join(ctest_pattern(n) for n in names)] if names else []


def ctest_pattern(name):
    return "^" + re.sub(r"([.\[\]()*+?^$|\\])", r"\\\1", name) + "$"


def test_mutant(build, figures, log):
    """Returns (killed, first failing test). A case that fails and then passes when run alone
    (a deadline missed on the loaded machine, say) does not count: the pass is run again
    without it, and the case is named in the result ("flaky: ...")."""
    binary = os.path.join(build, "tests", "quorvane_tests")
    flaky = []
    for _ in range(3):
        killed, failing = quick_pass(build, figures, log, max(300, 4 * figures["quick_seconds"]), flaky)
        if not killed:
            break
        name = failing.split(" ")[0]
        if "." not in name or "(crashed)" in failing:
            return True, failing
        status, timed_out = run([binary, "--gtest_filter=" + name], os.path.join(build, "tests"), log,
                                timeout=CTEST_TIMEOUT)
        if timed_out or status != 0:
            return True, failing
        flaky.append(name)
    else:
        return True, failing
    cost = os.path.join(build, "Testing", "Temporary", "CTestCostData.txt")
    skipped = []
    for _ in range(3):
        if os.path.exists(cost):
            os.remove(cost)
        offset = os.path.getsize(log)
        cmd = ["ctest", "-j2", "--stop-on-failure", "--timeout", str(CTEST_TIMEOUT)]
        cmd += exclude_args(figures.get("excluded", []) + skipped)
        status, timed_out = run(cmd, build, log, timeout=3 * 3600)
        if timed_out:
            return True, "ctest (whole suite timed out)"
        if status == 0:
            break
        failing = first_ctest_failure(log, offset)
        name = failing.split(" ")[0]
        if name == "ctest":
            return True, failing
        status, timed_out = run(["ctest", "-R", ctest_pattern(name), "--timeout", str(CTEST_TIMEOUT)], build, log,
                                timeout=2 * CTEST_TIMEOUT)
        if timed_out or status != 0:
            return True, failing
        skipped.append(name)
    else:
        return True, failing
    flaky += skipped
    return False, ("flaky: " + ",".join(flaky)) if flaky else ""


def done_ids(out):
    if not os.path.exists(out):
        return set()
    with open(out) as f:
        return {line.split("\t")[0] for line in f if line.strip() and not line.startswith("#")}


def record(out, fields):
    new = not os.path.exists(out)
    if not new:     # a mutant run again replaces its earlier line
        with open(out) as f:
            lines = f.readlines()
        kept = [line for line in lines if line.split("\t")[0] != fields[0]]
        if len(kept) != len(lines):
            with open(out + ".tmp", "w") as f:
                f.writelines(kept)
            os.replace(out + ".tmp", out)
    with open(out, "a") as f:
        if new:
            f.write("# id\tfolder\tverdict\tfirst failing test\tseconds\n")
        f.write("\t".join(str(x) for x in fields) + "\n")
        f.flush()


def summary(out, mutants):
    if not os.path.exists(out):
        return
    rows = [line.rstrip("\n").split("\t") for line in open(out) if not line.startswith("#")]
    per = {}
    for r in rows:
        d = per.setdefault(r[1], {"killed": 0, "total": 0, "other": 0})
        if r[2] in ("killed", "survived"):
            d["total"] += 1
            d["killed"] += r[2] == "killed"
        else:
            d["other"] += 1
    print("\nfolder                   killed/total   (stillborn or not applying)")
    k = t = 0
    for folder in sorted(per):
        d = per[folder]
        k, t = k + d["killed"], t + d["total"]
        print(f"{folder:24} {d['killed']:3}/{d['total']:<3}          {d['other'] or ''}")
    print(f"{'all':24} {k:3}/{t:<3}")
    for r in rows:
        if r[2] == "survived":
            print(f"survived: {r[0]} {r[1]}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--source", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--only", default="")
    ap.add_argument("--rev", default="HEAD",
                    help="the commit of --source to test (default its HEAD, read when the run starts)")
    ap.add_argument("--mutants", default=os.path.join(HERE, "mutants.txt"))
    ap.add_argument("--exclude", default="",
                    help="cases (ctest names, comma-separated) left out of every pass: ones that fail "
                         "unmodified on this machine, such as a deadline its load makes a case miss")
    ap.add_argument("--reuse-baseline", action="store_true",
                    help="take the unmodified case times from the build's last ctest run instead of "
                         "running the suite again (its failures are still run again)")
    args = ap.parse_args()
    args.work, args.out = os.path.abspath(args.work), os.path.abspath(args.out)
    only = {x.strip() for x in args.only.split(",") if x.strip()}
    args.exclude = [x.strip() for x in args.exclude.split(",") if x.strip()]
    build = os.path.join(args.work, "build")
    log = os.path.abspath(args.out) + ".log"
    parse_mutants(args.mutants)     # a malformed file stops the run before the long build

    def on_signal(signum, _frame):
        # Only the kill here: the interrupted wait holds the child's lock; run() reaps it.
        if current_child is not None:
            try:
                os.killpg(current_child.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        raise KeyboardInterrupt(f"signal {signum}")
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    head = prepare(args, build, log)
    figures = baseline(args, build, log, head)
    tried = set()
    while True:
        mutants = None
        for _ in range(5):      # the file may be caught half-saved by an editor
            try:
                mutants = parse_mutants(args.mutants)
                break
            except ValueError as e:
                print(f"waiting for a readable mutants file: {e}", flush=True)
                time.sleep(10)
        if mutants is None:
            sys.exit("the mutants file stays malformed")
        # Ids named by --only run again (a mutant mended after it did not build, say); others once.
        done = (set() if only else done_ids(args.out)) | tried
        todo = [m for m in mutants if m.ident not in done and (not only or m.ident in only)]
        if not todo:
            break
        m = todo[0]
        tried.add(m.ident)
        started = time.time()
        verdict, failing = mutate_and_test(m, args.work, build, figures, log)
        seconds = round(time.time() - started)
        record(args.out, (m.ident, m.folder, verdict, failing, seconds))
        print(f"{m.ident:5} {m.folder:22} {verdict:15} {seconds:5} s  {failing}", flush=True)
    summary(args.out, mutants)


def mutate_and_test(m, work, build, figures, log):
    target = os.path.join(work, m.path)
    try:
        with open(target, encoding="utf-8") as f:
            original = f.read()
    except OSError:
        return "does-not-apply", "no such file"
    count = original.count(m.find)
    if count != 1:
        return "does-not-apply", f"find text occurs {count} times"
    with open(log, "ab") as f:
        f.write(f"\n===== {m.ident} {m.folder} {m.title}\n".encode())
    try:
        with open(target, "w", encoding="utf-8") as f:
            f.write(original.replace(m.find, m.replace))
        if build_tree(build, log) != 0:
            return "stillborn", "build failed"
        killed, failing = test_mutant(build, figures, log)
        return ("killed" if killed else "survived"), failing
    finally:
        subprocess.check_call(["git", "-C", work, "checkout", "-q", "--", m.path])


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt as e:
        sys.exit(f"interrupted ({e}); the clone is restored")
