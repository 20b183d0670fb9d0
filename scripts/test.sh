#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything and runs every test: the 64-bit host build and its suite,
# the NT kernel image torvic.sys (building it runs the image checks), the
# 32-bit host build and its suite, and the suite under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset default

cmake --preset nt >/dev/null
cmake --build --preset nt

# Says whether the 32-bit tests run natively or under qemu-i386.
cmake --preset m32 | { grep -E '^-- 32-bit tests run' || true; }
cmake --build --preset m32
ctest --preset m32

# The 64-bit suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# less what the plain build has checked in seconds and would take minutes
# here (the sweep of every mode and the fault table), and less the checks of
# the image file, whose imports and constructors the sanitizer runtime changes.
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -E 'Cli.Sweep|Cli.FaultTable|ElfImage'
