#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the build needs on a Debian machine, if anything is missing;
# packages named as arguments too (scripts/lint.sh: clang-tidy, cppcheck).
set -euo pipefail

packages=(cmake ninja-build g++ binutils pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev libpng-dev libssl-dev
          # torvic.sys: the mingw-w64 cross compiler with its DDK headers and
          # import libraries, and Python for the image checks
          g++-mingw-w64-i686 mingw-w64-i686-dev python3
          # the setup floppy, written and read back without root
          mtools
          # the 32-bit host build, with GoogleTest and torvic-sim's PNG and
          # digest libraries for i386
          gcc-multilib g++-multilib libgtest-dev:i386 libgmock-dev:i386 libpng-dev:i386 libssl-dev:i386
          # the sanitizer build: clang, with its sanitizer runtimes (only
          # recommended by clang, so named)
          clang libclang-rt-14-dev
          "$@")

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# True when this kernel runs i386 programs: some containers and VMs are built
# without 32-bit emulation, and there the 32-bit tests need qemu-i386.
kernel_runs_i386() {
  local dir rc=0
  dir=$(mktemp -d)
  echo 'int main() { return 0; }' > "$dir/probe.c"
  gcc -m32 -o "$dir/probe" "$dir/probe.c" && "$dir/probe" 2>/dev/null || rc=1
  rm -rf "$dir"
  return $rc
}

# The i386 libraries come from Debian's i386 packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 package architecture"
  as_root dpkg --add-architecture i386
fi
install_missing "${packages[@]}"
kernel_runs_i386 || install_missing qemu-user
