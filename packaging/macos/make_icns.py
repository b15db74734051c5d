#!/usr/bin/env python3
"""Writes a macOS icon file (.icns) from square PNG images.

    make_icns.py OUT.icns IMAGE.png...

Each image goes in under every icon type of its pixel size (16, 32, 64, 128,
256, 512 or 1024), as PNG data, which macOS reads since 10.7. The file is an
"icns" header (magic, total length) followed by one entry per type (type,
length with its 8-byte header, data), lengths big-endian.
"""
import struct
import sys

# Pixel size -> the icon types that hold an image of that many pixels.
TYPES = {
    16: [b"icp4"],
    32: [b"icp5", b"ic11"],
    64: [b"icp6", b"ic12"],
    128: [b"ic07"],
    256: [b"ic08", b"ic13"],
    512: [b"ic09", b"ic14"],
    1024: [b"ic10"],
}
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_size(data, path):
    if data[:8] != PNG_SIGNATURE or data[12:16] != b"IHDR":
        sys.exit(f"make_icns: {path} is not a PNG image")
    width, height = struct.unpack(">II", data[16:24])
    if width != height or width not in TYPES:
        sys.exit(f"make_icns: {path} is {width}x{height}; wanted a square of {sorted(TYPES)} pixels")
    return width


def main(out, paths):
    entries = b""
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        for kind in TYPES[png_size(data, path)]:
            entries += kind + struct.pack(">I", 8 + len(data)) + data
    with open(out, "wb") as f:
        f.write(b"icns" + struct.pack(">I", 8 + len(entries)) + entries)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
