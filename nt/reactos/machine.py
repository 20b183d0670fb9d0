#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs one boot of the emulated machine until the installed system says it
is done, then stops it; or, with DISK "-", until the machine resets (the
emulator runs with -no-reboot, so it exits), as the install's stages end.

The scripts the system runs at logon write what they found to
C:\\TORVIC\\REPORT.TXT and end by writing C:\\TORVIC\\DONE.TXT. The host reads
the system disk's FAT partition with mtools while the machine runs; once
DONE.TXT is there, the machine is given time to write the rest of its
caches back (the registry and files it changed), its screen is saved, and
the emulator is told to quit. The first serial port is ReactOS's debug log,
kept by serial_log.py. The emulator is driven through its monitor protocol
(QMP).

With --board, the board device (QEMU id "board") is asked what its monitor
shows at that moment, into NAME.board. With --shutdown, the system is then
left to shut itself down (the logon script starts that after a delay): the
run waits until the board's CRT controller hands the display back, saves
that monitor line (NAME.shutdown) and the screen (NAME-shutdown.ppm), and
quits; a machine without soft power-off stops there at its "safe to turn
off" screen.

Usage: machine.py [--board] [--shutdown] NAME OUT LIMIT SETTLE DISK QEMU-ARGS...
  writes OUT/logs/NAME.log (debug log), OUT/logs/NAME.ppm (the screen at the
  end); exits 1 when no DONE.TXT (or no reset, or no hand-back) came within
  LIMIT seconds.
"""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "emulator", "qemu"))
from qmp import Qmp  # noqa: E402

SHUTDOWN_SCREEN_SETTLE = 5  # seconds for the shutdown screen to be drawn
SHUTDOWN_LIMIT = 180  # seconds from the desktop's screen dump to the hand-back


def on_disk(disk, path):
    """Whether the system disk's first partition holds the file now."""
    return subprocess.run(["mdir", "-b", "-i", f"{disk}@@1M", f"::/{path}"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def wait(deadline, qemu, ready):
    """Polls ready() until it holds, the emulator exits or the deadline passes."""
    while time.monotonic() < deadline and qemu.poll() is None:
        try:
            if ready():
                return True
        except (OSError, ValueError, RuntimeError):
            return False  # the emulator went away under the question
        time.sleep(2)
    return False


def write(path, text):
    with open(path, "w") as f:
        f.write(text + "\n")


def main(options, name, out, limit, settle, disk, qemu_args):
    logs = os.path.join(out, "logs")
    serial = os.path.join(out, f"{name}.serial")
    sock = os.path.join(out, f"{name}.qmp")
    screen = os.path.join(logs, f"{name}.ppm")
    board = os.path.join(logs, f"{name}.board")
    after = os.path.join(logs, f"{name}.shutdown")
    after_screen = os.path.join(logs, f"{name}-shutdown.ppm")
    until_reset = disk == "-"
    if not until_reset:
        subprocess.run(["mdel", "-i", f"{disk}@@1M", "::/TORVIC/DONE.TXT", "::/TORVIC/REPORT.TXT"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for path in (serial, sock, screen, board, after, after_screen):  # nothing of an earlier run
        if os.path.exists(path):
            os.remove(path)
    qemu = subprocess.Popen(qemu_args + [
        "-serial", f"unix:{serial},server=on,wait=on",
        "-qmp", f"unix:{sock},server=on,wait=off"], stderr=subprocess.DEVNULL)
    logger = subprocess.Popen([sys.executable, os.path.join(HERE, "serial_log.py"), serial,
                               os.path.join(logs, f"{name}.log")])
    qmp = Qmp(sock)
    deadline = time.monotonic() + limit
    failure = None
    if until_reset:
        while time.monotonic() < deadline and qemu.poll() is None:
            time.sleep(5)
        if qemu.poll() is None:
            failure = f"no reset within {limit} s"
    elif not wait(deadline, qemu, lambda: on_disk(disk, "TORVIC/DONE.TXT")):
        failure = f"no DONE.TXT within {limit} s"
    else:
        time.sleep(settle)
        qmp.screen(screen, device=None)
        shown = qmp.monitor() if options else ""
        if "--board" in options:
            write(board, shown)
        if "--shutdown" in options:
            if shown.startswith("VGA"):
                failure = "the CRT controller did not drive the display before the shutdown"
            elif wait(min(deadline, time.monotonic() + SHUTDOWN_LIMIT), qemu,
                      lambda: qmp.monitor().startswith("VGA")):
                time.sleep(SHUTDOWN_SCREEN_SETTLE)
                write(after, qmp.monitor())
                qmp.screen(after_screen, device=None)
            else:
                failure = f"no hand-back to the VGA core within {SHUTDOWN_LIMIT} s of the desktop"
    if qemu.poll() is None:
        try:
            qmp.command("quit")
        except (OSError, ValueError):
            pass  # the emulator went as it was told
    qmp.close()
    qemu.wait()
    logger.wait()
    for path in (serial, sock):
        if os.path.exists(path):
            os.remove(path)
    if failure:
        sys.exit(f"reactos: {name}: {failure}; its debug log: {logs}/{name}.log")


if __name__ == "__main__":
    args = sys.argv[1:]
    flags = []
    while args and args[0] in ("--board", "--shutdown"):
        flags.append(args.pop(0))
    if len(args) < 6:
        sys.exit(__doc__)
    main(flags, args[0], args[1], int(args[2]), int(args[3]), args[4], args[5:])
