#!/usr/bin/env bash
# Builds everything and runs every test: the 64-bit host build and its suite,
# the NT kernel image torvic.sys (building it runs the image checks), and the
# 32-bit host build and its suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset default

cmake --preset nt >/dev/null
cmake --build --preset nt

cmake --preset m32 >/dev/null
cmake --build --preset m32
ctest --preset m32
