#!/usr/bin/env bash
# Builds everything and runs torvic-sim on its embedded default machine.
# Arguments go to torvic-sim (default: boot).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
if (($#)); then exec build/default/bin/torvic-sim "$@"; fi
exec build/default/bin/torvic-sim boot
