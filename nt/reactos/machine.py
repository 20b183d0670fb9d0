#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs one boot of the emulated machine until the installed system says it
is done, then stops it; or, with DISK "-", until the machine resets (the
emulator runs with -no-reboot, so it exits), as the install's stages end.

The scripts the system runs at logon write what they found to
C:\TORVIC\REPORT.TXT and end by writing C:\TORVIC\DONE.TXT. The host reads
the system disk's FAT partition with mtools while the machine runs; once
DONE.TXT is there, the machine is given time to write the rest of its
caches back (the registry and files it changed), its screen is saved, and
the emulator is told to quit. Shutting ReactOS down from a logon script is
no way out here: this build ends winlogon as a critical process on that
path and stops in its debugger. (Its second serial port is no way to report
either: COM2 answers only at the first logon, when it is installed.) The
first serial port is ReactOS's debug log, kept by serial_log.py.

Usage: machine.py NAME OUT LIMIT SETTLE DISK QEMU-ARGS...
  writes OUT/logs/NAME.log (debug log), OUT/logs/NAME.ppm (the screen at the
  end); exits 1 when no DONE.TXT (or no reset) came within LIMIT seconds.
"""

import os
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def monitor(path, command):
    client = socket.socket(socket.AF_UNIX)
    client.connect(path)
    client.settimeout(10)
    client.recv(65536)  # banner
    client.sendall(command.encode() + b"\n")
    time.sleep(1)
    client.close()


def on_disk(disk, path):
    """Whether the system disk's first partition holds the file now."""
    return subprocess.run(["mdir", "-b", "-i", f"{disk}@@1M", f"::/{path}"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def main(name, out, limit, settle, disk, qemu_args):
    logs = os.path.join(out, "logs")
    serial = os.path.join(out, f"{name}.serial")
    mon = os.path.join(out, f"{name}.monitor")
    screen = os.path.join(logs, f"{name}.ppm")
    until_reset = disk == "-"
    if not until_reset:
        subprocess.run(["mdel", "-i", f"{disk}@@1M", "::/TORVIC/DONE.TXT", "::/TORVIC/REPORT.TXT"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for path in (serial, mon, screen):
        if os.path.exists(path):
            os.remove(path)
    qemu = subprocess.Popen(qemu_args + [
        "-serial", f"unix:{serial},server=on,wait=on",
        "-monitor", f"unix:{mon},server=on,wait=off"], stderr=subprocess.DEVNULL)
    logger = subprocess.Popen([sys.executable, os.path.join(HERE, "serial_log.py"), serial,
                               os.path.join(logs, f"{name}.log")])
    deadline = time.monotonic() + limit
    done = False
    while time.monotonic() < deadline and qemu.poll() is None:
        if not until_reset and on_disk(disk, "TORVIC/DONE.TXT"):
            done = True
            break
        time.sleep(5)
    if until_reset:
        done = qemu.poll() is not None
    if done and not until_reset:
        time.sleep(settle)
        monitor(mon, f"screendump {screen}")
    if qemu.poll() is None:
        monitor(mon, "quit")
    qemu.wait()
    logger.wait()
    for path in (serial, mon):
        if os.path.exists(path):
            os.remove(path)
    if not done:
        what = "no reset" if until_reset else "no DONE.TXT"
        sys.exit(f"reactos: {name}: {what} within {limit} s; its debug log: {logs}/{name}.log")


if __name__ == "__main__":
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6:])
