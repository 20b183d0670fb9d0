#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The long check: torvic.sys on a real NT-family kernel, ReactOS, in QEMU.
# Installs ReactOS unattended from ../shared/reactos/ onto a disk kept in
# build/reactos/ (once: about 3 minutes of emulation), then on copies of it
# installs the driver from the setup floppy's files through ReactOS's own
# setup code and boots it, checking through the running system. Every step
# is timed; QEMU runs without KVM (this machine kind's KVM cannot run 32-bit
# ReactOS).
#
#   no board      the driver loads, finds no board, fails cleanly, and
#                 ReactOS keeps its desktop on the standard VGA
#   board N       for the variants 0 (RGB526, video RAM), 8 (DRAM) and 10
#                 (RGB528, video RAM): the driver installed on the board,
#                 ReactOS's desktop drawn through it and framebuf at the
#                 INF's default mode, compared with what our simulator
#                 makes of the same board, and the display handed back to
#                 the board's VGA core at shutdown
#   board refused the driver installed as a service only, the board left to
#                 ReactOS's VGA driver: ReactOS refuses our claim, the
#                 driver reports no board and leaves it working as it was
#
# The pictures land in build/reactos/screens/ as PNG.
#
# Not part of the test command or CI: run it after scripts/test.sh.
# Usage: scripts/reactos-check.sh [--reinstall] [STAGE...]
#   STAGE: no-board, board-0, board-8, board-10, board-refused (default:
#   all; the board stages compare with the no-board run's desktop)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
shared=${TORVIC_REACTOS:-$root/../shared/reactos}
out=$root/build/reactos
here=$root/nt/reactos
source scripts/lib/steps.sh
started=$SECONDS
mkdir -p "$out/logs"

if [[ ${1:-} == --reinstall ]]; then
  rm -f "$out/base.img" "$out/base.key"
  shift
fi
stages=("$@")
want() { ((${#stages[@]} == 0)) || [[ " ${stages[*]} " == *" $1 "* ]]; }

prerequisites() {
  scripts/setup.sh xorriso netpbm
  scripts/configure.sh nt >/dev/null
  cmake --build --preset nt >/dev/null
  scripts/configure.sh default >/dev/null
  cmake --build --preset default --target torvic-sim >/dev/null
  guest_tool update_driver UPDATE.EXE -lnewdev
  guest_tool halt HALT.EXE -lntdll
}

build_qemu() {
  scripts/qemu.sh --no-test >"$out/logs/qemu-build.log" || { tail -20 "$out/logs/qemu-build.log"; exit 1; }
}

# A small Win32 console program of ours for the guest, from nt/reactos/.
guest_tool() {  # SOURCE EXE LIBRARIES...
  local source=$1 exe=$2
  shift 2
  i686-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Werror -s -o "$out/$exe" "$here/$source.c" "$@"
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
#
# The machine has no ACPI, as the machines of NT 4.0's day: ReactOS then
# installs its standard PC HAL and cannot power off, so a shutdown ends with
# the HAL taking the display back from the video driver (the reset
# callback) for its "safe to turn off" screen. With ACPI, ReactOS enters
# the soft-off state first and the display is never handed back.
qemu_args=(build/qemu/qemu-system-i386 -L /usr/share/seabios -L /usr/share/qemu
           -machine pc,acpi=off -m 512 -nic none -no-reboot -display none)
boot_times=()
timed() {  # NAME COMMAND...: notes how long one boot of the machine took
  local name=$1 started=$SECONDS status=0
  shift
  "$@" || status=$?
  boot_times+=("$(printf '%-24s %4d s' "$name" $((SECONDS - started)))")
  return $status
}
emulate() {  # NAME LIMIT QEMU-ARGS...: until the machine resets
  local name=$1 limit=$2
  shift 2
  timed "$name" python3 "$here/machine.py" "$name" "$out" "$limit" 0 - "${qemu_args[@]}" "$@"
}
boot() {  # [--board] [--shutdown] NAME LIMIT DISK QEMU-ARGS...: until the logon
          # script is done (and, with --shutdown, the system down); its report in logs/NAME.txt
  local watch=()
  while [[ $1 == --* ]]; do watch+=("$1"); shift; done
  local name=$1 limit=$2 disk=$3
  shift 3
  timed "$name" python3 "$here/machine.py" "${watch[@]}" "$name" "$out" "$limit" 25 "$disk" \
    "${qemu_args[@]}" -drive "file=$disk,format=raw,if=ide,index=0" "$@"
  mtype -i "$disk@@1M" ::/TORVIC/REPORT.TXT 2>/dev/null | tr -d '\r' >"$out/logs/$name.txt" || true
}

# ReactOS installed, its first logon done; kept while the CD and the answer
# file are the same.
install_reactos() {
  local key
  key=$( (cat "$shared/SHA256SUMS" "$here/unattend.inf" "$here/firstrun.cmd" "$here/logon.cmd"
          echo "${qemu_args[*]}") | sha256sum | cut -c1-16)
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

# The setup floppy's files, each as SOURCE:NAME for work_cd.
floppy_files() {
  rm -rf "$out/floppy" && mkdir -p "$out/floppy"
  mcopy -i build/nt/bin/torvic-setup.img '::/*' "$out/floppy/"
  local f
  for f in "$out/floppy"/*; do echo "$f:$(basename "$f" | tr a-z A-Z)"; done
}

# A copy of the installed system with the driver installed from the setup
# floppy's files, as a user does it where there is no board to install it
# on: the INF's install section through the system's setup code.
install_driver() {  # DISK
  cp --sparse=always "$out/base.img" "$1"
  local files
  mapfile -t files < <(floppy_files)
  work_cd "$out/driver.iso" "$here/install.cmd:TORVIC.CMD" "${files[@]}"
  boot driver-install 900 "$1" -drive "file=$out/driver.iso,media=cdrom,if=ide,index=2" -vga std -boot c
}

failures=0
pass() { echo "  ok    $1"; }
fail() { echo "  FAIL  $1 ($2)"; failures=$((failures + 1)); }
check() {  # WHAT FILE PATTERN: FILE holds a line matching PATTERN
  if grep -qaE "$3" "$2" 2>/dev/null; then pass "$1"; else fail "$1" "no line matching '$3' in $2"; fi
}
check_not() {  # WHAT FILE PATTERN: FILE holds no line matching PATTERN
  if [[ -f $2 ]] && ! grep -qaE "$3" "$2"; then pass "$1"; else fail "$1" "a line matches '$3' in $2, or no $2"; fi
}
check_same() {  # WHAT EXPECTED-FILE ACTUAL-FILE: every line of the first (one at least) is in the second
  local missing
  missing=$(grep -vxFf "$3" "$2" || true)
  if [[ ! -s $2 ]]; then fail "$1" "nothing expected in $2"
  elif [[ -z $missing ]]; then pass "$1"
  else fail "$1" "not in $3: ${missing//$'\n'/; }"; fi
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
  python3 "$here/screen.py" "$out/logs/no-board.ppm" >"$out/logs/no-board.screen" 2>/dev/null || true
  check "the desktop is up on the standard VGA, 800 x 600" "$out/logs/no-board.screen" '^800 600 '
  save_screens no-board
  rm -f "$disk"
}

# Milestone: the desktop on the board. The board is the machine's only
# display. Its driver is installed as a user installs one for a board the
# system shows as a display adapter: the device manager's "update driver"
# with our INF (UPDATE.EXE calls the same function), which makes torvic the
# board's service and has the display class installer write the INF's
# settings into the driver's device key. The next boot then runs the
# driver on the board, and the checks compare what ReactOS reports and what
# the board's monitor shows with what our simulator makes of the same board
# (logs/board-N.expected), ending with the system's shutdown.
check_board() {  # VARIANT MEMORY-MIB
  local variant=$1 memory=$2 name=board-$1
  local disk=$out/$name.img log=$out/logs/$name.log results=$out/logs/$name.txt files
  local board=(-vga none -device "torvic,id=board,variant=$variant,memory=$memory")
  python3 "$here/board_values.py" expected build/default/bin/torvic-sim nt/torvic.inf \
    "$variant" "$memory" "$out/logs/$name-sim.png" >"$out/logs/$name.expected"
  cp --sparse=always "$out/base.img" "$disk"
  mapfile -t files < <(floppy_files)
  work_cd "$out/driver.iso" "$here/update.cmd:TORVIC.CMD" "$out/UPDATE.EXE:UPDATE.EXE" "${files[@]}"
  boot "$name-install" 900 "$disk" -drive "file=$out/driver.iso,media=cdrom,if=ide,index=2" \
    "${board[@]}" -boot c
  work_cd "$out/check.iso" "$here/check-then-halt.cmd:TORVIC.CMD" "$here/check.cmd:CHECK.CMD" \
    "$out/HALT.EXE:HALT.EXE"
  boot --board --shutdown "$name" 900 "$disk" -drive "file=$out/check.iso,media=cdrom,if=ide,index=2" \
    "${board[@]}" -boot c || true
  python3 "$here/board_values.py" reported "$results" >"$out/logs/$name.reported"
  grep '^HardwareInformation' "$out/logs/$name.expected" >"$out/logs/$name.expected-registry"
  sed -n 's/^monitor //p' "$out/logs/$name.expected" >"$out/logs/$name.expected-monitor"
  local desktop shutdown
  desktop=$(python3 "$here/screen.py" "$out/logs/$name.ppm" 2>/dev/null || echo none)
  shutdown=$(python3 "$here/screen.py" "$out/logs/$name-shutdown.ppm" 2>/dev/null || echo none)
  local mode
  mode=$(sed -n 's/^mode //p' "$out/logs/$name.expected")
  echo "reactos: board, variant $variant, $memory MiB ($mode from the INF):"
  check "installed on the board by the device installer" "$out/logs/$name-install.txt" ': installed'
  local width height bits hertz setting
  IFS='x@' read -r width height bits hertz <<<"$mode"
  for setting in BitsPerPel:$bits XResolution:$width YResolution:$height VRefresh:$hertz; do
    check "the class installer wrote DefaultSettings.${setting%%:*} = ${setting#*:}" \
      "$out/logs/$name-install.txt" "DefaultSettings\.${setting%%:*} +REG_DWORD +$(printf '%#x' "${setting#*:}")\$"
  done
  check "loaded at boot" "$log" 'Loading: .*torvic\.sys'
  check_not "find-adapter took the board" "$log" 'HwFindAdapter call failed'
  check "the service is running" "$results" 'STATE +: 4 +RUNNING'
  check "the board is the first video device" "$results" '\\Device\\Video0 +REG_SZ +.*\\TORVIC\\Device0'
  check_same "HardwareInformation as the simulator's" "$out/logs/$name.expected-registry" \
    "$out/logs/$name.reported"
  check "framebuf drew the desktop" "$log" 'Loading: .*framebuf\.dll'
  check_same "the monitor shows the mode as the simulator's monitor does" \
    "$out/logs/$name.expected-monitor" "$out/logs/$name.board"
  desktop_like "the screen shows ReactOS's desktop, $width x $height" "$desktop" "$width $height"
  check "at shutdown the board's VGA core has the display back" "$out/logs/$name.shutdown" '^VGA'
  echo "$shutdown" >"$out/logs/$name.shutdown-screen"
  check "and shows the closing screen (640 x 480)" "$out/logs/$name.shutdown-screen" '^640 480 '
  save_screens "$name" "$name-shutdown" "$name-sim"
  rm -f "$disk"
}

# Failure path: a board the driver cannot have. Installed as a service only
# (the no-board run's install), the driver leaves the board to ReactOS's
# own VGA driver, whose PnP device node holds the board's ranges: ReactOS
# refuses our claim of them, and the driver must report no board and leave
# the board as it found it, so that the VGA driver goes on showing the
# desktop on the board's VGA core.
check_refused() {
  local name=board-refused disk=$out/board-refused.img log=$out/logs/board-refused.log
  local results=$out/logs/board-refused.txt
  local board=(-vga none -device "torvic,id=board,variant=10,memory=8")
  install_driver "$disk"
  work_cd "$out/check.iso" "$here/check.cmd:TORVIC.CMD"
  boot --board "$name" 900 "$disk" -drive "file=$out/check.iso,media=cdrom,if=ide,index=2" \
    "${board[@]}" -boot c
  python3 "$here/screen.py" "$out/logs/$name.ppm" >"$out/logs/$name.screen" 2>/dev/null || true
  echo "reactos: a board the driver cannot have (variant 10, left to ReactOS's VGA driver):"
  check "loaded at boot" "$log" 'Loading: .*torvic\.sys'
  check "ReactOS refused the claim of the board's ranges" "$log" \
    'Denying an attempt to claim resources currently in use by another device'
  check "find-adapter reported no board (0x37)" "$log" 'HwFindAdapter call failed with error 0x37'
  check "the service is not running" "$results" 'STATE +: 1 +STOPPED'
  check "the board's VGA core still has the display" "$out/logs/$name.board" '^VGA'
  check "and shows the desktop ReactOS's VGA driver draws, 640 x 480" "$out/logs/$name.screen" '^640 480 '
  save_screens "$name"
  rm -f "$disk"
}

# The run's pictures as PNG, in build/reactos/screens/ (the docs' come from there).
save_screens() {  # PICTURE...: logs/PICTURE.ppm, or .png as it is
  local picture
  mkdir -p "$out/screens"
  for picture in "$@"; do
    if [[ -f $out/logs/$picture.ppm ]]; then pnmtopng "$out/logs/$picture.ppm" >"$out/screens/$picture.png"
    elif [[ -f $out/logs/$picture.png ]]; then cp "$out/logs/$picture.png" "$out/screens/"; fi
  done 2>/dev/null || true
}

# The screen (screen.py's line) has the size and the colour that
# covers most of ReactOS's desktop on the standard VGA (logs/no-board.screen),
# to within what the mode's pixel format keeps of it.
desktop_like() {  # WHAT SCREEN-LINE "WIDTH HEIGHT"
  local size=$3 want got
  want=$(cut -d' ' -f3 "$out/logs/no-board.screen" 2>/dev/null)
  got=$(cut -d' ' -f3 <<<"$2")
  if [[ $2 == "$size "* ]] && python3 - "$want" "$got" <<'PY'
import sys
a, b = (bytes.fromhex(c) for c in sys.argv[1:3])
sys.exit(0 if len(a) == len(b) == 3 and all(abs(x - y) < 8 for x, y in zip(a, b)) else 1)
PY
  then pass "$1"
  else fail "$1" "screen $2, the desktop's colour on the standard VGA is $want"
  fi
}

step prerequisites prerequisites
step "QEMU build" build_qemu
step "install CD" install_cd
step "install ReactOS" install_reactos
want no-board && step "no board" check_no_board
want board-0 && step "board, variant 0" check_board 0 2
want board-8 && step "board, variant 8" check_board 8 4
want board-10 && step "board, variant 10" check_board 10 8
want board-refused && step "board refused" check_refused
echo "reactos-check: $failures failed, $((SECONDS - started)) s:"
print_steps
echo "each boot of the machine:"
printf '  %s\n' "${boot_times[@]}"
((failures == 0))
