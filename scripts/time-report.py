#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Where the test command's time went, from what its builds leave behind.

For each build folder under build/ (default: default, nt, m32, asan) it reads
Ninja's log (.ninja_log: the start and end of each compile and link, the
last time it ran) and CTest's record of each test's time
(Testing/Temporary/CTestCostData.txt: the mean over the runs it has seen),
and prints, as Markdown tables: compiler seconds by target, the ten slowest
compiles, and the ten slowest tests with each set's total. Run it after
scripts/test.sh in a fresh clone, where each holds one run.

Usage: scripts/time-report.py [BUILD...]
"""
import collections
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def ninja_entries(folder):
    """(seconds, output) for each step of FOLDER's build, its last run."""
    log = folder / ".ninja_log"
    if not log.exists():
        return []
    newest = {}
    for line in log.read_text().splitlines()[1:]:
        start, end, _, output, command_hash = line.split("\t")
        newest[output] = (int(start), int(end), command_hash)
    # A step with several outputs is logged once per output, with the same
    # times and command: count it once, named by its first output.
    steps = {}
    for output, step in newest.items():
        steps.setdefault(step, output.removeprefix(f"{folder}/"))
    return [((end - start) / 1000, output) for (start, end, _), output in steps.items()]


def target_of(output):
    match = re.match(r"CMakeFiles/([^/]+)\.dir/", output)
    if match:
        header = output.endswith((".gch", ".pch"))
        return match.group(1) + (" (precompiled header)" if header else "")
    return "links and generated files"


def test_costs(folder):
    """(seconds, name) for each test CTest has run in FOLDER."""
    data = folder / "Testing/Temporary/CTestCostData.txt"
    if not data.exists():
        return []
    costs = []
    for line in data.read_text().splitlines():
        fields = line.split()
        if len(fields) == 3:
            costs.append((float(fields[2]), fields[0]))
    return costs


def main(builds):
    for build in builds:
        folder = ROOT / "build" / build
        entries = ninja_entries(folder)
        tests = test_costs(folder)
        if not entries and not tests:
            continue
        print(f"## build/{build}\n")
        if entries:
            by_target = collections.Counter()
            for seconds, output in entries:
                by_target[target_of(output)] += seconds
            total = sum(by_target.values())
            print(f"Compiler and linker seconds: {total:.0f}\n")
            print("| target | seconds |\n|---|---|")
            for target, seconds in by_target.most_common():
                if seconds >= 0.5:
                    print(f"| {target} | {seconds:.1f} |")
            print("\n| slowest steps | seconds |\n|---|---|")
            for seconds, output in sorted(entries, reverse=True)[:10]:
                print(f"| {output} | {seconds:.1f} |")
            print()
        if tests:
            print(f"Tests: {len(tests)}, {sum(s for s, _ in tests):.0f} s in all\n")
            print("| slowest tests | seconds |\n|---|---|")
            for seconds, name in sorted(tests, reverse=True)[:10]:
                print(f"| {name} | {seconds:.1f} |")
            print()


if __name__ == "__main__":
    main(sys.argv[1:] or ["default", "nt", "m32", "asan"])
