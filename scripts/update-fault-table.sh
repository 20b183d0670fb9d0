#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes the table of `torvic-sim faults --markdown` into docs/fault-table.md
# between its markers; Cli.FaultTableInTheDocsIsWhatTheDriverDoes checks it is current.
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${1:-build/default/bin/torvic-sim}
table=$(mktemp)
"$sim" faults --markdown > "$table"
python3 - "$table" <<'PY'
import sys
begin = "<!-- fault table: torvic-sim faults --markdown -->\n"
end = "<!-- end of fault table -->"
readme = open("docs/fault-table.md").read()
start, stop = readme.index(begin) + len(begin), readme.index(end)
open("docs/fault-table.md", "w").write(readme[:start] + open(sys.argv[1]).read() + readme[stop:])
PY
rm -f "$table"
