# SPDX-License-Identifier: MIT
"""A client of QEMU's monitor protocol (QMP) on a unix socket, shared by the
board device's tests and the ReactOS check's machine runner."""

import json
import socket
import time


class Qmp:
    """A client of the emulator's monitor protocol on a unix socket."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX)
        for _ in range(100):  # the emulator makes the socket as it starts
            try:
                self.socket.connect(path)
                break
            except OSError:
                time.sleep(0.05)
        self.reader = self.socket.makefile("r")
        self.reader.readline()  # greeting
        self.command("qmp_capabilities")

    def close(self):
        self.reader.close()
        self.socket.close()

    def command(self, name, **arguments):
        self.socket.sendall(json.dumps({"execute": name, "arguments": arguments}).encode())
        while True:
            answer = json.loads(self.reader.readline())
            if "event" not in answer:
                break
        if "error" in answer:
            raise RuntimeError(f"QMP {name}: {answer['error']}")
        return answer["return"]

    def screen(self, path, device="board"):
        """A display's screen as (width, height, RGB bytes), through a dump to
        path; device None: the first display."""
        self.command("screendump", filename=path, **({"device": device} if device else {}))
        with open(path, "rb") as f:
            magic, width, height, depth, pixels = f.read().split(maxsplit=4)
        assert magic == b"P6" and depth == b"255"
        return int(width), int(height), pixels

    def monitor(self, device="board"):
        """What the board device's monitor shows (its read-only "monitor"
        property), for a device given that QEMU id."""
        return self.command("qom-get", path=f"/machine/peripheral/{device}", property="monitor")
