#!/usr/bin/env python3
"""Checks the property list and the icon of Calorim.app as the build made them.

    app_bundle.py Info.plist Calorim.icns VERSION
"""
import plistlib
import struct
import sys

info_path, icns_path, version = sys.argv[1:4]

with open(info_path, "rb") as f:
    info = plistlib.load(f)
expected = {
    "CFBundleIdentifier": "org.calorim.Calorim",
    "CFBundleName": "Calorim",
    "CFBundleExecutable": "Calorim",
    "CFBundlePackageType": "APPL",
    "CFBundleIconFile": "Calorim",
    "CFBundleShortVersionString": version,
    "CFBundleVersion": version,
    "LSMinimumSystemVersion": "13.3",
    "LSUIElement": True,
    "NSHighResolutionCapable": True,
}
for key, value in expected.items():
    assert info.get(key) == value, f"{key}: {info.get(key)!r}, wanted {value!r}"

# The icon: every entry a PNG of its type's size, the lengths adding up.
with open(icns_path, "rb") as f:
    icns = f.read()
assert icns[:4] == b"icns" and struct.unpack(">I", icns[4:8])[0] == len(icns), "icns header"
sizes = {b"icp4": 16, b"icp5": 32, b"icp6": 64, b"ic07": 128, b"ic08": 256, b"ic09": 512,
         b"ic10": 1024, b"ic11": 32, b"ic12": 64, b"ic13": 256, b"ic14": 512}
seen = set()
at = 8
while at < len(icns):
    kind, length = icns[at:at + 4], struct.unpack(">I", icns[at + 4:at + 8])[0]
    data = icns[at + 8:at + length]
    assert kind in sizes and length > 8 and at + length <= len(icns), f"entry {kind!r} at {at}"
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{kind!r} is not a PNG"
    assert struct.unpack(">II", data[16:24]) == (sizes[kind], sizes[kind]), f"{kind!r} has the wrong size"
    seen.add(kind)
    at += length
assert seen == set(sizes), f"icon types missing: {sorted(set(sizes) - seen)}"
print("Info.plist and icon of Calorim.app valid")
