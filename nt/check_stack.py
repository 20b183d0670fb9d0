#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks that the driver's deepest call chain fits its stack budget.

A video miniport runs on the kernel stack of whoever called the video port,
with little to spare. The compiler reports, beside each object (-fstack-usage
with -fcallgraph-info=su), every routine's frame (return address, saved
registers, locals and outgoing arguments) and the calls it makes. This sums
the frames along every call chain from the routines nothing in the driver
calls (the entry point and the callbacks) and fails (exit status 1) when the
deepest chain exceeds the limit, or when a chain cannot be bounded: a
recursive call, a call through a pointer, or a frame whose size is not known
when compiling. The video port services are the platform's and count 0.

Usage: check_stack.py --limit BYTES OBJECT...
"""

import argparse
import os
import re
import sys

NODE = re.compile(r'node: \{ title: "([^"]+)" label: "([^"]*)"')
EDGE = re.compile(r'edge: \{ sourcename: "([^"]+)" targetname: "([^"]+)"')
FRAME = re.compile(r"\\n(\d+) bytes \(([a-z,]+)\)")
INDIRECT = "__indirect_call"
# The entry point and the callbacks, which carry the platform's names.
ENTRY_POINT = re.compile(r"^(DriverEntry|Torvic_[A-Z]\w*)$")


def routine(label):
    """The routine's name from its signature."""
    return label.split("(")[0].split()[-1].replace("{anonymous}::", "")


def is_local(title):
    """Internal linkage: names of the same spelling in two objects differ."""
    return title.startswith("_ZL") or "_GLOBAL__N_" in title


def read_graph(objects):
    """{key: (label, bytes, qualifier)} and {key: [callee key]} for all objects."""
    frames, calls, faults = {}, {}, []
    edges = []
    for obj in objects:
        ci = os.path.splitext(obj)[0] + ".ci"
        try:
            with open(ci, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            faults.append(f"no call graph {ci}: compile with -fstack-usage -fcallgraph-info=su")
            continue
        defined = set()
        for title, label in NODE.findall(text):
            m = FRAME.search(label)
            if m:
                key = (ci, title) if is_local(title) else title
                frames[key] = (label.split("\\n")[0], int(m.group(1)), m.group(2))
                defined.add(title)
        for source, target in EDGE.findall(text):
            edges.append((ci, defined, source, target))
    for ci, defined, source, target in edges:
        calls.setdefault(resolve(ci, defined, source), []).append(resolve(ci, defined, target))
    return frames, calls, faults


def resolve(ci, defined, title):
    """The graph key of a routine named in one object's call graph."""
    return (ci, title) if is_local(title) and title in defined else title


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=int, required=True)
    parser.add_argument("objects", nargs="+")
    args = parser.parse_args()

    frames, calls, faults = read_graph(args.objects)
    for key, (label, size, qualifier) in frames.items():
        if "dynamic" in qualifier and "bounded" not in qualifier:
            faults.append(f"{label}: frame of unknown size")

    deepest = {}  # key -> (bytes, chain)
    active = set()

    def depth(key, chain):
        if key in deepest:
            return deepest[key]
        if key not in frames:
            return (0, [])  # a video port service
        if key in active:
            faults.append("recursion: " + " -> ".join(frames[k][0] for k in chain + [key]))
            return (0, [])
        active.add(key)
        best = (0, [])
        for callee in calls.get(key, []):
            if callee == INDIRECT:
                faults.append(f"{frames[key][0]}: call through a pointer cannot be bounded")
                continue
            below = depth(callee, chain + [key])
            if below[0] > best[0]:
                best = below
        active.discard(key)
        deepest[key] = (frames[key][1] + best[0], [key] + best[1])
        return deepest[key]

    called = {callee for callees in calls.values() for callee in callees}
    roots = sorted((k for k in frames if k not in called), key=str)
    results = sorted(((depth(k, []), k) for k in roots), key=lambda r: -r[0][0])
    if not results:
        faults.append("no routines found")

    if results:
        (worst, chain), _ = results[0]
        path = " -> ".join(f"{routine(frames[k][0])} ({frames[k][1]})" for k in chain)
        verdict = "exceeds" if worst > args.limit else "within"
        print(f"stack: deepest chain {worst} bytes, {verdict} {args.limit}: {path}")
        for (size, _), k in results[1:]:
            if ENTRY_POINT.match(routine(frames[k][0])):
                print(f"  from {routine(frames[k][0])}: {size} bytes")
        if worst > args.limit:
            faults.append(f"deepest call chain uses {worst} bytes of stack, "
                          f"more than {args.limit}")
    for fault in faults:
        print(f"check_stack: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
