#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The values the ReactOS check compares, one "NAME VALUE" a line, from our
side and from ReactOS's side, so that the script can compare them line by
line.

  board_values.py expected SIM INF VARIANT MEMORY PNG
      what our own simulator (torvic-sim) makes of a machine with one board
      of that variant and memory size: the mode the INF's DefaultSettings
      ask for ("mode"), what the monitor model decodes once the driver has
      set it ("monitor"; the monitor's picture goes to PNG), and the
      HardwareInformation values the driver writes into the registry
  board_values.py reported REPORT
      the HardwareInformation values in a report of the check's logon
      script (the "reg query" of the driver's device key), decoded: the
      driver writes its strings as REG_BINARY in UTF-16
"""

import json
import os
import re
import subprocess
import sys

SETTINGS = ("BitsPerPel", "XResolution", "YResolution", "VRefresh")


def inf_default_mode(inf):
    """WIDTHxHEIGHTxBPP@HZ from the INF's DefaultSettings lines."""
    values = {}
    with open(inf, encoding="latin-1") as f:
        for line in f:
            m = re.match(r"\s*HKR\s*,\s*,\s*DefaultSettings\.(\w+)\s*,[^,]*,\s*(\d+)", line)
            if m:
                values[m.group(1)] = int(m.group(2))
    missing = [s for s in SETTINGS if s not in values]
    if missing:
        sys.exit(f"board_values: {inf} has no DefaultSettings.{', .'.join(missing)}")
    return "{XResolution}x{YResolution}x{BitsPerPel}@{VRefresh}".format(**values)


def show(name, value):
    if isinstance(value, int):
        value = f"{value:#x}"
    print(f"{name} {value}")


def expected(sim, inf, variant, memory, png):
    machine = json.loads(subprocess.check_output([sim, "machine", "--default"]))
    board = machine["boards"][0]
    board.update(variant_code=int(variant), memory_mib=int(memory))
    machine["boards"] = [board]
    path = os.path.splitext(png)[0] + ".machine.json"
    with open(path, "w") as f:
        json.dump(machine, f)
    mode = inf_default_mode(inf)
    show("mode", mode)
    out = subprocess.check_output([sim, "--machine", path, "set-mode", mode, "--png", png], text=True)
    monitor = re.search(r"^\s*monitor: (.*)$", out, re.M)
    show("monitor", monitor.group(1) if monitor else "(none)")
    boot = json.loads(subprocess.check_output([sim, "--machine", path, "--json", "boot"]))
    for name, value in boot["boards"][0]["registry"].items():
        show(name, value)


def reported(report):
    with open(report, encoding="latin-1") as f:
        for line in f:
            m = re.match(r"\s*(HardwareInformation\.\w+)\s+REG_BINARY\s+([0-9A-Fa-f]*)\s*$", line)
            if not m:
                continue
            data = bytes.fromhex(m.group(2))
            if m.group(1).endswith("MemorySize"):
                show(m.group(1), int.from_bytes(data, "little"))
            else:
                show(m.group(1), data.decode("utf-16-le").rstrip("\0"))


if __name__ == "__main__":
    if len(sys.argv) == 7 and sys.argv[1] == "expected":
        expected(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "reported":
        reported(sys.argv[2])
    else:
        sys.exit(__doc__)
