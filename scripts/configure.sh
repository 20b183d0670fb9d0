#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures the named presets (default: the default one), side by side,
# since configuring is mostly one process waiting on small probes. A build
# folder written by another CMake generator (the presets once used make) is
# started afresh, since CMake refuses to change a folder's generator.
# Usage: scripts/configure.sh [PRESET...]
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("${@:-default}")
pids=()
for preset in "${presets[@]}"; do
  cache=build/$preset/CMakeCache.txt
  if [[ -f $cache ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
    echo "configure: build/$preset was made by another generator; starting it afresh"
    rm -rf "build/$preset"
  fi
  mkdir -p "build/$preset"
  cmake --preset "$preset" >"build/$preset/configure.log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!presets[@]}"; do
  log=build/${presets[$i]}/configure.log
  if ! wait "${pids[$i]}"; then
    echo "configure: the ${presets[$i]} preset failed:"
    cat "$log"
    failed=1
  fi
  # Whether the 32-bit tests run natively or under qemu-i386.
  grep -E '^-- 32-bit tests run' "$log" || true
done
exit $failed
