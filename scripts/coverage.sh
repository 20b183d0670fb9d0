#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Line and branch coverage of the driver rooms and of host/ by the whole
# 64-bit suite: builds the coverage preset, runs every test, and has gcovr
# report. Outside the test command; it takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh gcovr
cmake --preset coverage >/dev/null
cmake --build --preset coverage
find build/coverage -name '*.gcda' -delete
# CMake's compiler probe is no code of ours.
find build/coverage/CMakeFiles -path '*CompilerId*' -name '*.gcno' -delete
# The checks of the image file are left out: the instrumentation adds its
# own constructors and imports to the driver image.
ctest --preset coverage -E ElfImage >/dev/null
report() {
  local name="$1"
  shift
  local filters=()
  for dir in "$@"; do filters+=(--filter "$dir/"); done
  echo "== ${name}"
  local options=(--root . --object-directory build/coverage "${filters[@]}" --exclude-throw-branches
    --exclude-unreachable-branches)
  gcovr "${options[@]}" --print-summary --txt "build/coverage/${name}.txt" | tail -2
  gcovr "${options[@]}" --branches --txt "build/coverage/${name}-branches.txt"
}
report driver miniport discovery hardware modes requests include/torvic
report host host
echo "per-file detail: build/coverage/{driver,host}.txt (lines), build/coverage/{driver,host}-branches.txt (branches)"
