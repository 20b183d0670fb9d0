#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything and runs torvic-sim, by default its demo on the embedded
# default machine; the pictures land in the current folder. Arguments go to
# torvic-sim.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
(cd "$root" && scripts/build.sh >/dev/null)
exec "$root/build/default/bin/torvic-sim" "$@"
