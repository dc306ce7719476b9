#!/usr/bin/env python3
"""Wraps a PNG in an .ico file with one entry (Windows Vista and later read
PNG-compressed icon images), so windres can make an icon group of it.

    png_to_ico.py icon.png icon.ico
"""
import struct
import sys


def main(src, dst):
    with open(src, "rb") as f:
        png = f.read()
    if png[:8] != b"\x89PNG\r\n\x1a\n" or png[12:16] != b"IHDR":
        sys.exit(f"png_to_ico: {src} is not a PNG")
    width, height = struct.unpack(">II", png[16:24])
    if not (0 < width <= 256 and 0 < height <= 256):
        sys.exit(f"png_to_ico: {src} is {width}x{height}; an icon is at most 256x256")
    # In the directory entry a size of 256 is written as 0.
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16)
    with open(dst, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + entry + png)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
