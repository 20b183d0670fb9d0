#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds QEMU with the board as a device (-device torvic) and runs the
# device's own tests: Debian's QEMU 7.2 source with Debian's patches, the
# device from emulator/qemu/, the board model from the project's own build.
#   build/qemu/qemu-system-i386   the emulator (run it with
#                                 -L /usr/share/seabios -L /usr/share/qemu:
#                                 Debian's source leaves the firmware out)
# The first run fetches the source and builds QEMU, about 4 minutes on two
# cores; after a change to the device or the board model, seconds.
# Usage: scripts/qemu.sh [--no-test]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/qemu
started=$SECONDS
source scripts/lib/steps.sh

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

# QEMU's build needs and the firmware a PC boots with (SeaBIOS and its VGA
# BIOS, which the board's expansion ROM carries).
install_packages() {
  scripts/setup.sh dpkg-dev meson libglib2.0-dev libpixman-1-dev libfdt-dev zlib1g-dev \
    seabios qemu-system-data
}

# Debian's source for the QEMU it ships; apt needs a deb-src line for that.
fetch_source() {
  [[ -f $out/src/configure ]] && return
  if ! apt-get source --print-uris qemu >/dev/null 2>&1; then
    echo "qemu: adding Debian's source lists (deb-src) for apt-get source"
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    as_root tee /etc/apt/sources.list.d/torvic-deb-src.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: $keyring

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: $keyring
EOF
    as_root apt-get update -qq
  fi
  rm -rf "$out/download" && mkdir -p "$out/download"
  (cd "$out/download" && apt-get source -qq qemu >/dev/null)
  mv "$out/download"/qemu-*/ "$out/src"
  rm -rf "$out/download"
}

# The board model as a static library with a C interface, from the
# project's 64-bit configuration with only that target built.
build_board_library() {
  cmake --preset default -B "$out/board" -DTORVIC_QEMU_BOARD=ON -DBUILD_TESTING=OFF \
    -DTORVIC_BUILD_SIM=OFF >"$out/board.configure.log" || { cat "$out/board.configure.log"; exit 1; }
  cmake --build "$out/board" --target torvic_qemu_board
}

# The device goes into QEMU's tree as hw/display/torvic, with the library
# beside it; files are copied only when they changed, so that Ninja
# rebuilds only what did.
add_device() {
  local dir=$out/src/hw/display/torvic f
  mkdir -p "$dir"
  for f in torvic.c board_bridge.h meson.build Kconfig; do
    install -C -m 644 "emulator/qemu/$f" "$dir/$f"
  done
  install -C -m 644 "$out/board/libtorvic_qemu_board.a" "$dir/libtorvic_qemu_board.a"
  grep -qx "subdir('torvic')" "$out/src/hw/display/meson.build" ||
    echo "subdir('torvic')" >>"$out/src/hw/display/meson.build"
  grep -qx "source torvic/Kconfig" "$out/src/hw/display/Kconfig" ||
    echo "source torvic/Kconfig" >>"$out/src/hw/display/Kconfig"
}

build_qemu() {
  mkdir -p "$out/build"
  if [[ ! -f $out/build/build.ninja ]]; then
    (cd "$out/build" && ../src/configure --target-list=i386-softmmu --disable-docs --disable-werror \
      --without-default-features --enable-fdt=system >"$out/configure.log") ||
      { tail -30 "$out/configure.log"; exit 1; }
  fi
  # The library is an input QEMU's build does not know of: relink whenever
  # it is newer than the emulator.
  if [[ -f $out/build/qemu-system-i386 &&
        $out/src/hw/display/torvic/libtorvic_qemu_board.a -nt $out/build/qemu-system-i386 ]]; then
    rm -f "$out/build/qemu-system-i386"
  fi
  ninja -C "$out/build" qemu-system-i386 >"$out/build.log" || { tail -40 "$out/build.log"; exit 1; }
  ln -sfn build/qemu-system-i386 "$out/qemu-system-i386"
}

step packages install_packages
step source fetch_source
step "board library" build_board_library
step device add_device
step "build QEMU" build_qemu
if [[ ${1:-} != --no-test ]]; then
  step "device tests" python3 emulator/qemu/device_test.py "$out/qemu-system-i386"
fi
echo "qemu: $out/qemu-system-i386 ready in $((SECONDS - started)) s:"
print_steps
