#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything and runs every test: the 64-bit host build and its suite,
# the NT kernel image torvic.sys (building it runs the image checks), the
# 32-bit host build and its suite, and the suite under the sanitizers. Ends
# with the time each step took.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/steps.sh

started=$SECONDS
step setup scripts/setup.sh
step configure scripts/configure.sh default nt m32 asan
step "build default" cmake --build --preset default
step "test default" ctest --preset default
step "build nt" cmake --build --preset nt
step "build m32" cmake --build --preset m32
step "test m32" ctest --preset m32
# The 64-bit suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# less what the plain build has checked in seconds and would take minutes
# here (the sweep of every mode and the fault table), and less the checks of
# the image file, whose imports and constructors the sanitizer runtime changes.
step "build asan" cmake --build --preset asan
step "test asan" ctest --preset asan -E 'Cli.Sweep|Cli.FaultTable|ElfImage'

echo "test: every step passed in $((SECONDS - started)) s:"
print_steps
