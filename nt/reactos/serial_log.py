#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Keeps ReactOS's serial debug log and lets the machine run on.

ReactOS's debug build writes its log to the first serial port, and its
kernel debugger (KDBG) stops the machine there on an assertion or a
breakpoint until someone answers. An unattended run has nobody to answer:
this connects to the emulator's serial socket, writes everything to the
log file, and at each debugger stop pages on through the backtrace and
types "cont"; asked whether to break on a critical process's end or on a
failed assertion, it answers "ignore", as a machine without a debugger
would go on. Each kind of stop is counted and named at the end, on
standard output, so that a run that went on past one says so.

Usage: serial_log.py SOCKET LOG
"""

import collections
import os
import socket
import sys
import time

PAGER = b"--- Press q to abort"
PROMPT = b"kdb:> "
ENTERED = b"Entered debugger on "
# The debugger's questions, at a critical process's end and at a failed
# assertion; "ignore" is what a machine without a debugger does.
QUESTIONS = {b"Break, or Ignore (bi)? ": "a critical process ended",
             b"terminate Process or terminate Thread (boipt)? ": "an assertion failed"}
SILENCE = 5  # seconds


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
    stops, tail, answer, sent = [], b"", b"cont\r", b""
    last = b""  # the log's last bytes, whatever was answered
    client.settimeout(SILENCE)
    with open(log_path, "wb") as log:
        while True:
            try:
                data = client.recv(65536)
            except socket.timeout:
                # Still at the prompt after an answer: the debugger did not
                # take it (this happens at its last question of a
                # shutdown); say it again.
                if sent and last.endswith(PROMPT):
                    client.sendall(sent)
                continue
            if not data:
                break
            last = (last + data)[-64:]
            log.write(data)
            log.flush()
            tail = (tail + data)[-4096:]
            if ENTERED in tail and b"\n" in tail[tail.index(ENTERED):]:
                line = tail[tail.index(ENTERED):].split(b"\n")[0]
                stops.append(line.decode(errors="replace").strip())
                tail = tail[tail.index(ENTERED) + len(ENTERED):]
            # The question comes first, then the debugger's input prompt:
            # the answer waits for the prompt.
            for question, what in QUESTIONS.items():
                if question in tail:
                    stops.append(f"{what}; answered ignore")
                    answer = b"i\r"
                    tail = tail[tail.index(question) + len(question):]
            if PAGER in tail[-200:]:
                client.sendall(b" ")
                tail = b""
            elif tail.endswith(PROMPT):
                client.sendall(answer)
                sent, answer, tail = answer, b"cont\r", b""
    boot = os.path.splitext(os.path.basename(log_path))[0]
    for stop, times in collections.Counter(stops).items():
        again = f" ({times} times)" if times > 1 else ""
        print(f"  note  {boot}: ReactOS stopped in its debugger and was continued: {stop}{again}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
