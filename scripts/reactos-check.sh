#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The long check: torvic.sys on a real NT-family kernel, ReactOS, in QEMU.
# Installs ReactOS unattended from ../shared/reactos/ onto a disk kept in
# build/reactos/ (once: about 3 minutes of emulation), then on a copy of it
# installs the driver from the setup floppy's files through ReactOS's own
# setup code and boots it, checking through the running system. Every step is timed;
# QEMU runs without KVM (this machine kind's KVM cannot run 32-bit ReactOS).
#
#   no board   the driver loads, finds no board, fails cleanly, and
#              ReactOS keeps its desktop on the standard VGA
#
# Not part of the test command or CI: run it after scripts/test.sh.
# Usage: scripts/reactos-check.sh [--reinstall]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
shared=${TORVIC_REACTOS:-$root/../shared/reactos}
out=$root/build/reactos
here=$root/nt/reactos
source scripts/lib/steps.sh
started=$SECONDS
mkdir -p "$out/logs"

[[ ${1:-} == --reinstall ]] && rm -f "$out/base.img" "$out/base.key"

prerequisites() {
  scripts/setup.sh xorriso
  scripts/configure.sh nt >/dev/null
  cmake --build --preset nt >/dev/null
  scripts/qemu.sh --no-test >"$out/logs/qemu-build.log" || { tail -20 "$out/logs/qemu-build.log"; exit 1; }
}

# ReactOS's install CD with our answer file in it.
install_cd() {
  if [[ ! -f $out/bootcd.iso ]]; then
    (cd "$shared" && sha256sum --check --quiet --ignore-missing SHA256SUMS)
    xz -dc "$shared/bootcd.iso.xz" >"$out/bootcd.iso.part"
    mv "$out/bootcd.iso.part" "$out/bootcd.iso"
  fi
  rm -f "$out/install.iso"
  xorriso -indev "$out/bootcd.iso" -outdev "$out/install.iso" -boot_image any replay \
    -map "$here/unattend.inf" /reactos/unattend.inf -map "$here/firstrun.cmd" /torvic/firstrun.cmd \
    -map "$here/logon.cmd" /torvic/logon.cmd -commit >"$out/logs/xorriso.log" 2>&1 ||
    { cat "$out/logs/xorriso.log"; exit 1; }
}

# A CD for one boot, holding TORVIC.CMD, which the installed system runs at
# logon, and the files it needs. A CD because the system has its drive and
# letter from the install already (D:); the setup floppy itself cannot be
# used: this ReactOS build installs no floppy controller driver (fdc.sys),
# so it has no drive A:.
work_cd() {  # IMAGE FILE:NAME...
  local image=$1 pair
  shift
  rm -rf "$image.d" "$image" && mkdir -p "$image.d"
  for pair in "$@"; do cp "${pair%%:*}" "$image.d/${pair#*:}"; done
  xorriso -as mkisofs -quiet -V TORVIC -J -o "$image" "$image.d" 2>>"$out/logs/xorriso.log" ||
    { cat "$out/logs/xorriso.log"; exit 1; }
  rm -rf "$image.d"
}

# One boot of the emulator (machine.py). The install's first two stages end
# by resetting the machine (every run is -no-reboot, so the emulator exits);
# the later boots end when the system's logon script has written its report
# to the system disk. ReactOS's debug build writes its log to the first
# serial port, kept in logs/NAME.log by serial_log.py, which also continues
# the kernel debugger wherever ReactOS stops in it.
qemu_args=(build/qemu/qemu-system-i386 -L /usr/share/seabios -L /usr/share/qemu
           -machine pc -m 512 -nic none -no-reboot -display none)
emulate() {  # NAME LIMIT QEMU-ARGS...: until the machine resets
  local name=$1 limit=$2
  shift 2
  python3 "$here/machine.py" "$name" "$out" "$limit" 0 - "${qemu_args[@]}" "$@"
}
boot() {  # NAME LIMIT DISK QEMU-ARGS...: until the logon script is done; its report in logs/NAME.txt
  local name=$1 limit=$2 disk=$3
  shift 3
  python3 "$here/machine.py" "$name" "$out" "$limit" 30 "$disk" "${qemu_args[@]}" \
    -drive "file=$disk,format=raw,if=ide,index=0" "$@"
  mtype -i "$disk@@1M" ::/TORVIC/REPORT.TXT 2>/dev/null | tr -d '\r' >"$out/logs/$name.txt" || true
}

# ReactOS installed, its first logon done; kept while the CD and the answer
# file are the same.
install_reactos() {
  local key
  key=$(cat "$shared/SHA256SUMS" "$here/unattend.inf" "$here/firstrun.cmd" "$here/logon.cmd" |
        sha256sum | cut -c1-16)
  if [[ -f $out/base.img && $(cat "$out/base.key" 2>/dev/null) == "$key" ]]; then
    echo "reactos: ReactOS already installed (build/reactos/base.img); --reinstall to start afresh"
    return
  fi
  rm -f "$out/base.img" "$out/base.key" "$out/base.img.part"
  truncate -s 2G "$out/base.img.part"
  local disk=(-drive "file=$out/base.img.part,format=raw,if=ide,index=0"
              -drive "file=$out/install.iso,media=cdrom,if=ide,index=2" -vga std)
  emulate install-1-text-setup 900 "${disk[@]}" -boot d
  emulate install-2-gui-setup 1200 "${disk[@]}" -boot c
  boot install-3-first-logon 900 "$out/base.img.part" \
    -drive "file=$out/install.iso,media=cdrom,if=ide,index=2" -vga std -boot c
  mv "$out/base.img.part" "$out/base.img"
  echo "$key" >"$out/base.key"
}

# A copy of the installed system with the driver installed from the setup
# floppy's files, as a user does it.
install_driver() {  # DISK
  cp --sparse=always "$out/base.img" "$1"
  rm -rf "$out/floppy" && mkdir -p "$out/floppy"
  mcopy -i build/nt/bin/torvic-setup.img '::/*' "$out/floppy/"
  local files=("$here/install.cmd:TORVIC.CMD") f
  for f in "$out/floppy"/*; do files+=("$f:$(basename "$f" | tr a-z A-Z)"); done
  work_cd "$out/driver.iso" "${files[@]}"
  boot driver-install 900 "$1" -drive "file=$out/driver.iso,media=cdrom,if=ide,index=2" -vga std -boot c
}

failures=0
check() {  # WHAT FILE PATTERN: FILE holds a line matching PATTERN
  if grep -qaE "$3" "$2"; then echo "  ok    $1"
  else echo "  FAIL  $1 (no line matching '$3' in $2)"; failures=$((failures + 1)); fi
}

# Milestone: no board. The driver is loaded at boot, its find-adapter finds
# no board of the family, the video port gives it up, and ReactOS carries on
# to its desktop on the standard VGA.
check_no_board() {
  local disk=$out/no-board.img log=$out/logs/no-board.log results=$out/logs/no-board.txt
  install_driver "$disk"
  work_cd "$out/check.iso" "$here/check.cmd:TORVIC.CMD"
  boot no-board 900 "$disk" -drive "file=$out/check.iso,media=cdrom,if=ide,index=2" -vga std -boot c
  echo "reactos: no board:"
  check "installed as a kernel driver" "$out/logs/driver-install.txt" 'TYPE +: 1 +KERNEL_DRIVER'
  check "started by the system" "$out/logs/driver-install.txt" 'START_TYPE +: 1 +SYSTEM_START'
  check "in the Video load-order group" "$out/logs/driver-install.txt" 'LOAD_ORDER_GROUP +: Video'
  check "loaded at boot" "$log" 'Loading: .*torvic\.sys'
  check "find-adapter found no board (0x37)" "$log" 'HwFindAdapter call failed with error 0x37'
  check "the video port gave the driver up" "$log" "'\\\\Driver\\\\torvic' initialization failed"
  check "the system reached the logon and ran the checks" "$results" '^\[done\]'
  check "the service is not running" "$results" 'STATE +: 1 +STOPPED'
  head -c 16 "$out/logs/no-board.ppm" | tr '\n' ' ' >"$out/logs/no-board.screen"
  check "the desktop is up on the standard VGA, 800 x 600" "$out/logs/no-board.screen" '^P6 800 600 '
  rm -f "$disk"
}

step prerequisites prerequisites
step "install CD" install_cd
step "install ReactOS" install_reactos
step "no board" check_no_board
echo "reactos-check: $failures failed, $((SECONDS - started)) s:"
print_steps
((failures == 0))
