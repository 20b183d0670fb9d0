#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Keeps ReactOS's serial debug log and lets the machine run on.

ReactOS's debug build writes its log to the first serial port, and its
kernel debugger (KDBG) stops the machine there on an assertion or a
breakpoint until someone answers. An unattended run has nobody to answer:
this connects to the emulator's serial socket, writes everything to the
log file, and at each debugger stop pages on through the backtrace and
types "cont"; asked whether to break on a critical process's end (which
ReactOS asks at some shutdowns), it answers "ignore", as a machine without
a debugger would go on. Each stop is counted and named at the end, on
standard output, so that a run that went on past one says so.

Usage: serial_log.py SOCKET LOG
"""

import socket
import sys
import time

PAGER = b"--- Press q to abort"
PROMPT = b"kdb:> "
ENTERED = b"Entered debugger on "
CRITICAL = b"Break, or Ignore (bi)? "


def main(path, log_path):
    client = socket.socket(socket.AF_UNIX)
    for _ in range(600):
        try:
            client.connect(path)
            break
        except OSError:
            time.sleep(0.1)
    else:
        sys.exit(f"serial_log: no serial socket at {path}")
    stops, tail, answer = [], b"", b"cont\r"
    with open(log_path, "wb") as log:
        while True:
            data = client.recv(65536)
            if not data:
                break
            log.write(data)
            log.flush()
            tail = (tail + data)[-4096:]
            if ENTERED in tail:
                line = tail[tail.index(ENTERED):].split(b"\n")[0]
                stops.append(line.decode(errors="replace").strip())
                tail = tail[tail.index(ENTERED) + len(ENTERED):]
            # The question comes first, then the debugger's input prompt:
            # the answer waits for the prompt.
            if CRITICAL in tail:
                stops.append("a critical process ended; answered ignore")
                answer = b"i\r"
                tail = tail[tail.index(CRITICAL) + len(CRITICAL):]
            if PAGER in tail[-200:]:
                client.sendall(b" ")
                tail = b""
            elif tail.endswith(PROMPT):
                client.sendall(answer)
                answer, tail = b"cont\r", b""
    for stop in stops:
        print(f"  note  ReactOS stopped in its debugger and was continued: {stop}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
