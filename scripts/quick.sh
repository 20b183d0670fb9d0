#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The developer's loop: rebuilds what changed in the 64-bit host build and
# runs its suite, less the three runs that take seconds each (the sweep of
# every mode and the two fault-table runs); well under a minute after a
# change. scripts/test.sh remains the gate before a commit.
# Usage: scripts/quick.sh [CTEST ARGS...]   e.g. scripts/quick.sh -R ModeSet
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset default -E 'Cli.Sweep|Cli.FaultTable' "$@"
