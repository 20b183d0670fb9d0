#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The tree's structure drawing: which room includes which, checked.

A room is a top-level folder, or a folder of host/ or tools/. The drawing
(a Mermaid graph and the same edges as text) lives in docs/architecture.md
between its markers. The checks:

- no include circle between rooms;
- the driver's rooms include downward only, in the order
  platform/ and include/, then miniport/, then discovery/, hardware/ and
  modes/, then requests/; and nothing of the host, tools or tests;
- the host, the tools and the fuzzers include of the driver only platform/
  and include/ (the tests may also read its register names);
- no source file over 500 lines without its reason in its first lines
  ("Why this file is long:");
- every source file names its license (an SPDX line) in its first two.

Usage: scripts/structure.py            print the drawing and the findings
       scripts/structure.py --write    write the drawing into docs/architecture.md
       scripts/structure.py --check    exit 1 on a finding or a stale drawing
"""

import argparse
import os
import re
import sys
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOC = os.path.join(ROOT, "docs", "architecture.md")
BEGIN = "<!-- structure: scripts/structure.py --write -->\n"
END = "<!-- end of structure -->"
SOURCE = re.compile(r"\.(cpp|h|hpp|in)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SKIP = {"build", ".git", ".ci", "docs", "nt", "cmake", "scripts"}
MAX_LINES = 500
LONG_REASON = "Why this file is long:"

# The driver's rooms by level: a room may include its own level's rooms and
# lower ones, never a higher one.
DRIVER_LEVEL = {"platform": 0, "include": 0, "miniport": 1, "discovery": 2, "hardware": 2,
                "modes": 2, "requests": 3}


def room_of(path):
    """The room of a path relative to the root, or None outside every room."""
    parts = path.split("/")
    if parts[0] in ("host", "tools") and len(parts) > 2:
        return f"{parts[0]}/{parts[1]}"
    if parts[0] == "include":
        return "include"
    return parts[0] if len(parts) > 1 else None


def sources():
    for folder, dirs, files in os.walk(ROOT):
        rel = os.path.relpath(folder, ROOT)
        if rel == ".":
            dirs[:] = sorted(d for d in dirs if d not in SKIP)
            continue
        dirs.sort()
        for name in sorted(files):
            if SOURCE.search(name) and "corpus" not in rel.split(os.sep):
                yield os.path.join(rel, name).replace(os.sep, "/")


def resolve(including, target):
    """The file an include names: from the root, from include/, or beside the includer."""
    for candidate in (target, os.path.join("include", target), os.path.join(os.path.dirname(including), target)):
        if os.path.isfile(os.path.join(ROOT, candidate)):
            return os.path.normpath(candidate).replace(os.sep, "/")
    return None


def graph():
    edges, findings = defaultdict(set), []
    for path in sources():
        text = open(os.path.join(ROOT, path), encoding="utf-8").read()
        lines = text.count("\n")
        if lines > MAX_LINES and LONG_REASON not in "\n".join(text.split("\n")[:15]):
            findings.append(f"{path}: {lines} lines, and no '{LONG_REASON}' in its first lines")
        if "SPDX-License-Identifier: MIT" not in "\n".join(text.split("\n")[:2]):
            findings.append(f"{path}: no SPDX license line in its first two lines")
        source_room = room_of(path)
        for target in INCLUDE.findall(text):
            found = resolve(path, target)
            target_room = room_of(found) if found else None
            if target_room and source_room and target_room != source_room:
                edges[source_room].add(target_room)
                check_level(path, source_room, target_room, target, findings)
    findings += circles(edges)
    return edges, findings


def check_level(path, source_room, target_room, target, findings):
    if source_room not in DRIVER_LEVEL:
        # The host, the tools and the fuzzers see the driver through its
        # image and its two contracts; only the tests may read its register
        # names to compare traces.
        if source_room != "tests" and target_room in DRIVER_LEVEL and DRIVER_LEVEL[target_room] > 0:
            findings.append(f"{path}: includes {target}, inside the driver's rooms")
        return
    if target_room not in DRIVER_LEVEL:
        findings.append(f"{path}: the driver includes {target} from outside the driver's rooms")
    elif DRIVER_LEVEL[target_room] > DRIVER_LEVEL[source_room]:
        findings.append(f"{path}: includes {target}, a room above its own ({source_room}/)")


def circles(edges):
    """Every include circle between rooms, once each."""
    found, state = [], {}

    def visit(room, path):
        state[room] = "open"
        for nxt in sorted(edges.get(room, ())):
            if state.get(nxt) == "open":
                found.append("include circle: " + " -> ".join(path[path.index(nxt):] + [nxt]))
            elif nxt not in state:
                visit(nxt, path + [nxt])
        state[room] = "done"

    for room in sorted(edges):
        if room not in state:
            visit(room, [room])
    return found


def drawing(edges):
    rooms = sorted(set(edges) | {t for ts in edges.values() for t in ts})
    ident = {r: re.sub(r"\W", "_", r) for r in rooms}
    out = ["```mermaid", "graph TD"]
    out += [f'  {ident[r]}["{r}/"]' for r in rooms]
    out += [f"  {ident[s]} --> {ident[t]}" for s in sorted(edges) for t in sorted(edges[s])]
    out += ["```", "", "| room | includes from |", "|---|---|"]
    out += [f"| `{s}/` | " + ", ".join(f"`{t}/`" for t in sorted(edges[s])) + " |" for s in sorted(edges)]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description="The rooms' include drawing, checked.")
    parser.add_argument("--write", action="store_true", help="write the drawing into docs/architecture.md")
    parser.add_argument("--check", action="store_true", help="fail on a finding or a stale drawing")
    args = parser.parse_args()
    edges, findings = graph()
    text = drawing(edges)
    doc = open(DOC, encoding="utf-8").read()
    start, stop = doc.index(BEGIN) + len(BEGIN), doc.index(END)
    if args.write:
        open(DOC, "w", encoding="utf-8").write(doc[:start] + text + doc[stop:])
    elif doc[start:stop] != text:
        findings.append("docs/architecture.md: the structure drawing is stale; run scripts/structure.py --write")
    if not args.check and not args.write:
        print(text)
    for f in findings:
        print(f, file=sys.stderr)
    return 1 if findings and (args.check or args.write) else 0


if __name__ == "__main__":
    sys.exit(main())
