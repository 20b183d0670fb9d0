#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""What a screen dump (binary PPM, as QEMU's screendump writes it) shows,
in one line for the check's patterns: its size, its most common colour and
that colour's share of the screen, e.g. "1024 768 3a6ea5 87%".

Usage: screen.py DUMP.ppm
"""

import collections
import sys


def main(path):
    with open(path, "rb") as f:
        magic, width, height, depth, pixels = f.read().split(maxsplit=4)
    if magic != b"P6" or depth != b"255":
        sys.exit(f"screen: {path} is not a binary PPM of 8-bit components")
    width, height = int(width), int(height)
    pixels = pixels[:width * height * 3]
    counts = collections.Counter(pixels[i:i + 3] for i in range(0, len(pixels), 3))
    colour, count = counts.most_common(1)[0]
    print(f"{width} {height} {colour.hex()} {100 * count // (width * height)}%")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
