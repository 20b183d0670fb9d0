#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Mutation score of the driver rooms against the 64-bit suite.

Each mutant in scripts/mutants.toml is one small fault put into one driver
source: the text to find (exactly once in the file, or the occurrence given),
what replaces it, and what a user of the board would suffer from it. For each
mutant the script applies the change to a scratch copy of the tree, rebuilds
the driver image, runs the suite and reports the mutant killed (a test
failed), killed by the compiler (the driver no longer builds), survived (every
test passed) or stale (its text is no longer in the file). Mutants marked
equivalent, with the reason, change nothing a test could see; they are
listed, not run, unless --check-equivalent asks for it.

The suite is the oracle and is built once, from the unchanged tree, in a
scratch copy under build/mutation: every test, torvic-sim and the fuzz
replays load the driver image at run time, so a mutant rebuilds that image
alone. Tests that take a register offset or a record size from a driver
header keep the unchanged value, as an independent check should.

Exit status: 0 when every mutant not marked equivalent was killed and none is
stale, 1 otherwise, 2 when the scratch build or the unchanged suite fails.
Only the Python standard library is used.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
import tomllib
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# The driver rooms, and the public headers the driver is compiled with.
DRIVER_ROOMS = ("miniport", "discovery", "hardware", "modes", "requests", "include/torvic")
# The CMake target of the driver image that the suite loads.
DRIVER_TARGET = "torvic_driver"
# Left out of the scratch copy: build folders and version control.
SKIPPED_AT_TOP = {"build", ".git"}
SKIPPED_ANYWHERE = {".git", "__pycache__"}


@dataclass
class Mutant:
    id: str
    file: str
    find: str
    replace: str
    why: str
    occurrence: int | None = None
    equivalent: str | None = None
    # Filled in when the mutant is checked against the tree and run.
    stale: str | None = None
    outcome: str = ""
    detail: str = ""
    seconds: float = 0.0


@dataclass
class Outcomes:
    killed: list = field(default_factory=list)
    build_failed: list = field(default_factory=list)
    survived: list = field(default_factory=list)
    stale: list = field(default_factory=list)
    equivalent: list = field(default_factory=list)
    equivalent_killed: list = field(default_factory=list)


def fail(message, status=2):
    print(f"mutation: {message}", file=sys.stderr)
    sys.exit(status)


def load_mutants(path):
    try:
        with open(path, "rb") as f:
            data = tomllib.load(f)
    except (OSError, tomllib.TOMLDecodeError) as e:
        fail(f"cannot read {path}: {e}")
    mutants, seen = [], set()
    allowed = {"id", "file", "find", "replace", "why", "occurrence", "equivalent"}
    for n, entry in enumerate(data.get("mutant", []), 1):
        where = f"{path.name}, mutant {n}"
        unknown = set(entry) - allowed
        missing = {"id", "file", "find", "replace", "why"} - set(entry)
        if unknown or missing:
            fail(f"{where}: unknown fields {sorted(unknown)}, missing fields {sorted(missing)}")
        m = Mutant(**entry)
        if not re.fullmatch(r"[a-z0-9][a-z0-9-]*", m.id) or m.id in seen:
            fail(f"{where}: id {m.id!r} is not a unique lower-case name")
        if Path(m.file).parent.as_posix() not in DRIVER_ROOMS:
            fail(f"{where} ({m.id}): {m.file} is not in a driver room")
        if m.find == m.replace or not m.find:
            fail(f"{where} ({m.id}): the replacement must differ from a non-empty text")
        if m.occurrence is not None and m.occurrence < 1:
            fail(f"{where} ({m.id}): occurrence counts from 1")
        seen.add(m.id)
        mutants.append(m)
    return mutants


def locate(mutant, text):
    """Index of the text the mutant replaces, or None with mutant.stale set."""
    count = text.count(mutant.find)
    wanted = mutant.occurrence or 1
    if count == 0:
        mutant.stale = "its text is not in the file"
    elif mutant.occurrence is None and count > 1:
        mutant.stale = f"its text occurs {count} times; give an occurrence"
    elif count < wanted:
        mutant.stale = f"its text occurs {count} times, not {wanted}"
    else:
        start = -1
        for _ in range(wanted):
            start = text.index(mutant.find, start + 1)
        return start
    return None


def check_against(mutants, tree):
    for m in mutants:
        path = tree / m.file
        m.stale = None if path.is_file() else "the file does not exist"
        if m.stale is None:
            locate(m, path.read_text())


def driver_files():
    return sorted(p.relative_to(ROOT).as_posix() for room in DRIVER_ROOMS
                  for p in (ROOT / room).iterdir() if p.suffix in (".cpp", ".h"))


def print_list(mutants):
    per_file = {}
    for m in mutants:
        per_file.setdefault(m.file, []).append(m)
    total_lines = 0
    print(f"{'file':32} {'lines':>5} {'mutants':>7}  (equivalent)")
    for name in driver_files():
        lines = len((ROOT / name).read_text().splitlines())
        total_lines += lines
        ms = per_file.get(name, [])
        eq = sum(1 for m in ms if m.equivalent)
        print(f"{name:32} {lines:5} {len(ms):7}  {f'({eq})' if eq else ''}")
    print(f"{'total':32} {total_lines:5} {len(mutants):7}\n")
    for m in mutants:
        state = f"STALE: {m.stale}" if m.stale else ("equivalent" if m.equivalent else "")
        print(f"{m.id:34} {m.file:30} {state}")
        print(f"    {m.why}")
        if m.equivalent:
            print(f"    equivalent: {m.equivalent}")


# ---- The scratch copy and its build --------------------------------------------------------

def sync_tree(src, dst):
    """Makes dst a copy of src, writing only the files whose bytes differ so
    that an earlier scratch build stays valid for the rest."""
    kept = set()
    for dirpath, dirnames, filenames in os.walk(src):
        rel = Path(dirpath).relative_to(src)
        dirnames[:] = [d for d in dirnames if d not in SKIPPED_ANYWHERE and
                       not (rel == Path(".") and d in SKIPPED_AT_TOP)]
        (dst / rel).mkdir(parents=True, exist_ok=True)
        for name in filenames:
            s, d = Path(dirpath) / name, dst / rel / name
            kept.add(d)
            data = s.read_bytes()
            if not d.is_file() or d.is_symlink() or d.read_bytes() != data:
                if d.is_symlink():
                    d.unlink()
                d.write_bytes(data)
                shutil.copymode(s, d)
    for dirpath, _, filenames in os.walk(dst):
        for name in filenames:
            if Path(dirpath) / name not in kept:
                (Path(dirpath) / name).unlink()


def default_preset_arguments():
    """The default configure preset's generator and cache variables, so that
    the scratch build is configured as the project's own."""
    presets = json.loads((ROOT / "CMakePresets.json").read_text())["configurePresets"]
    preset = next(p for p in presets if p["name"] == "default")
    args = ["-G", preset["generator"]]
    args += [f"-D{k}={v}" for k, v in preset.get("cacheVariables", {}).items()]
    return args


def run_logged(command, log, timeout=None):
    """Runs command with its output in log; returns (exit status, seconds)."""
    start = time.monotonic()
    with open(log, "w") as out:
        try:
            status = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT,
                                    timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            status = -1
    return status, time.monotonic() - start


def first_error(log):
    for line in Path(log).read_text(errors="replace").splitlines():
        if "error:" in line:
            return line.split("error:", 1)[1].strip()
    return "the build failed"


TEST_LINE = re.compile(r"Test\s+#\d+: (\S+) \.*\s*(.*?)\s+([\d.]+) sec$")


def test_results(log):
    """(name, result, seconds) of every test a ctest log reports."""
    results = []
    for line in Path(log).read_text(errors="replace").splitlines():
        match = TEST_LINE.search(line)
        if match:
            text = match.group(2)
            result = ("passed" if text.startswith("Passed") else "timed out" if "Timeout" in text
                      else "crashed" if "Exception" in text else "failed")
            results.append((match.group(1), result, float(match.group(3))))
    return results


def failed_tests(log):
    return [f"{name} ({result})" for name, result, _ in test_results(log) if result != "passed"]


def names_pattern(names):
    return "^(" + "|".join(re.escape(n) for n in sorted(names)) + ")$"


class Scratch:
    def __init__(self, root, jobs, timeout):
        self.root = root
        self.src = root / "src"
        self.bin = root / "bin"
        self.logs = root / "logs"
        self.jobs = jobs
        self.timeout = timeout
        self.slow = []
        # The times of the sources a mutant changed, as they were before.
        self.times = {}

    def prepare(self):
        # What the build needs (the compilers, Ninja), as the other commands do.
        if subprocess.run([str(ROOT / "scripts" / "setup.sh")]).returncode != 0:
            fail("scripts/setup.sh could not install what the build needs")
        self.logs.mkdir(parents=True, exist_ok=True)
        print(f"scratch copy: {self.src}")
        sync_tree(ROOT, self.src)
        if not (self.bin / "CMakeCache.txt").is_file():
            status, _ = run_logged(["cmake", "-S", str(self.src), "-B", str(self.bin)] +
                                   default_preset_arguments(), self.logs / "configure.log")
            if status != 0:
                fail(f"configuring the scratch build failed; see {self.logs / 'configure.log'}")
        print(f"building the suite from the unchanged tree (-j{self.jobs}) ...", flush=True)
        status, seconds = run_logged(["cmake", "--build", str(self.bin), "-j", str(self.jobs)],
                                     self.logs / "build.log")
        if status != 0:
            fail(f"the unchanged tree does not build; see {self.logs / 'build.log'}")
        print(f"  built in {seconds:.0f} s")

    def mutate(self, path, text):
        if path not in self.times:
            stat = path.stat()
            self.times[path] = (stat.st_atime_ns, stat.st_mtime_ns)
        path.write_text(text)

    def restore_times(self):
        """Leaves the scratch tree as the unchanged build knows it: the
        changed sources get their old times back, so that the next run does
        not rebuild every test that includes a driver header, and the driver
        image is rebuilt from scratch, since its objects are now newer than
        sources they were not compiled from."""
        for path, times in self.times.items():
            os.utime(path, ns=times)
        if self.times:
            for obj in (self.bin / "CMakeFiles" / f"{DRIVER_TARGET}.dir").rglob("*.o"):
                obj.unlink()
            self.build_driver(self.logs / "restore.log")
        self.times.clear()

    def build_driver(self, log):
        status, seconds = run_logged(["cmake", "--build", str(self.bin), "--target", DRIVER_TARGET,
                                      "-j", str(self.jobs)], log)
        return status == 0, seconds

    def ctest(self, log, *options):
        command = ["ctest", "--test-dir", str(self.bin), "-j", str(self.jobs),
                   "--timeout", str(self.timeout), *options]
        # A mutant that hangs every test is stopped by ctest's own timeout;
        # this one only guards against ctest itself never returning.
        status, seconds = run_logged(command, log, timeout=self.timeout * 20)
        return status == 0, seconds

    def run_baseline(self):
        """Runs the whole suite on the unchanged driver and splits it in two:
        the longest tests, which together take half the time, run after the
        others, so that most mutants are killed within the quick half."""
        log = self.logs / "baseline.log"
        passed, seconds = self.ctest(log)
        results = test_results(log)
        if not passed or not results:
            return False, seconds
        results.sort(key=lambda r: r[2], reverse=True)
        half, total = sum(r[2] for r in results) / 2, 0.0
        self.slow = []
        for name, _, test_seconds in results:
            if total >= half:
                break
            self.slow.append(name)
            total += test_seconds
        return True, seconds

    def run_suite(self, log):
        """True when every test passed; stops at the first failure."""
        slow = names_pattern(self.slow)
        passed, _ = self.ctest(log, "--stop-on-failure", "-E", slow)
        if passed:
            passed, _ = self.ctest(log.with_suffix(".slow.log"), "--stop-on-failure", "-R", slow)
            if not passed:
                log.write_text(log.read_text() + log.with_suffix(".slow.log").read_text())
        return passed


# ---- Running the mutants --------------------------------------------------------------------

def run_mutant(scratch, m):
    path = scratch.src / m.file
    original = path.read_text()
    start = locate(m, original)
    if start is None:
        m.outcome = "stale"
        m.detail = m.stale
        return
    log = scratch.logs / f"{m.id}.log"
    mutated = original[:start] + m.replace + original[start + len(m.find):]
    began = time.monotonic()
    try:
        scratch.mutate(path, mutated)
        built, _ = scratch.build_driver(log)
        if not built:
            m.outcome, m.detail = "build failed", first_error(log)
            return
        if scratch.run_suite(log):
            m.outcome = "survived"
        else:
            m.outcome = "killed"
            failed = failed_tests(log)
            m.detail = ", ".join(failed[:2]) if failed else f"the suite failed; see {log}"
    finally:
        # Written anew, so the next build compiles it again.
        path.write_text(original)
        m.seconds = time.monotonic() - began


def summarise(mutants, outcomes, elapsed, report_path, progress):
    lines = []
    considered = len(mutants) - len(outcomes.equivalent) - len(outcomes.stale)
    killed = len(outcomes.killed) + len(outcomes.build_failed)
    score = killed / considered if considered else 1.0
    lines.append("")
    lines.append(f"mutants:     {len(mutants)}")
    lines.append(f"killed:      {killed} ({len(outcomes.build_failed)} of them by the compiler)")
    lines.append(f"survived:    {len(outcomes.survived)}")
    for m in outcomes.survived:
        lines.append(f"  {m.id} ({m.file}): {m.why}")
    lines.append(f"stale:       {len(outcomes.stale)}")
    for m in outcomes.stale:
        lines.append(f"  {m.id} ({m.file}): {m.stale}")
    lines.append(f"equivalent:  {len(outcomes.equivalent)}")
    for m in outcomes.equivalent:
        lines.append(f"  {m.id} ({m.file}): {m.equivalent}")
    for m in outcomes.equivalent_killed:
        lines.append(f"  MARKED EQUIVALENT BUT KILLED: {m.id} by {m.detail}")
    for m in outcomes.build_failed:
        lines.append(f"  does not build: {m.id}: {m.detail}")
    lines.append(f"score:       {killed}/{considered} = {100 * score:.1f}%"
                 " (killed / (mutants - equivalent - stale))")
    minutes, seconds = divmod(round(elapsed), 60)
    lines.append(f"time:        {minutes} min {seconds} s")
    text = "\n".join(lines)
    print(text)
    report_path.write_text("\n".join(progress) + "\n" + text + "\n")
    print(f"report: {report_path}")


def main():
    parser = argparse.ArgumentParser(
        description="Mutation score of the driver rooms against the 64-bit suite.")
    parser.add_argument("--list", action="store_true",
                        help="list the mutants, their spread over the driver files and which "
                             "are stale, and run nothing")
    parser.add_argument("--only", nargs="+", metavar="ID", help="run only these mutants")
    parser.add_argument("-j", "--jobs", type=int, default=2,
                        help="build jobs and tests run at once (default 2)")
    parser.add_argument("--timeout", type=int, default=60,
                        help="seconds one test may take before it counts as failed (default 60)")
    parser.add_argument("--check-equivalent", action="store_true",
                        help="run the mutants marked equivalent too; any that a test kills "
                             "is not equivalent and fails the run")
    parser.add_argument("--mutants", type=Path, default=ROOT / "scripts" / "mutants.toml",
                        help="the mutant list (default scripts/mutants.toml)")
    parser.add_argument("--scratch", type=Path, default=ROOT / "build" / "mutation",
                        help="scratch folder for the copy and its build (default build/mutation)")
    args = parser.parse_args()

    mutants = load_mutants(args.mutants)
    check_against(mutants, ROOT)
    if args.list:
        print_list(mutants)
        return 1 if any(m.stale for m in mutants) else 0
    if args.only:
        unknown = set(args.only) - {m.id for m in mutants}
        if unknown:
            fail(f"no mutant named {', '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m.id in args.only]

    began = time.monotonic()
    scratch = Scratch(args.scratch.resolve(), args.jobs, args.timeout)
    scratch.prepare()
    print("running the suite on the unchanged driver ...", flush=True)
    passed, seconds = scratch.run_baseline()
    if not passed:
        failed = ", ".join(failed_tests(scratch.logs / "baseline.log")) or "see the log"
        fail(f"the suite fails without any mutant: {failed}")
    print(f"  passed in {seconds:.0f} s; {len(scratch.slow)} tests that take half the time "
          "run after the others\n")

    outcomes = Outcomes()
    progress = []
    width = len(str(len(mutants)))
    try:
        for n, m in enumerate(mutants, 1):
            if m.stale:
                m.outcome, m.detail = "stale", m.stale
            elif m.equivalent and not args.check_equivalent:
                m.outcome = "equivalent"
            else:
                run_mutant(scratch, m)
            if m.outcome in ("killed", "build failed") and m.equivalent:
                outcomes.equivalent_killed.append(m)
            if m.equivalent and m.outcome != "stale":
                outcomes.equivalent.append(m)
            else:
                {"killed": outcomes.killed, "build failed": outcomes.build_failed,
                 "survived": outcomes.survived, "stale": outcomes.stale}[m.outcome].append(m)
            shown = m.outcome
            if m.equivalent and m.outcome not in ("equivalent", "stale"):
                shown = f"equivalent, {m.outcome}"
            timing = f" {m.seconds:5.1f} s" if m.seconds else " " * 8
            detail = f"  {m.detail}" if m.detail else ""
            progress.append(f"[{n:{width}}/{len(mutants)}] {shown:22} {m.id:34}{timing}{detail}")
            print(progress[-1], flush=True)
    finally:
        scratch.restore_times()

    summarise(mutants, outcomes, time.monotonic() - began, args.scratch / "report.txt", progress)
    bad = outcomes.survived or outcomes.stale or outcomes.equivalent_killed
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
