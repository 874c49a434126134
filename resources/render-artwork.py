#!/usr/bin/env python3
"""Renders Varlo's artwork from the SVG sources in svg/ to the PNGs and the ICO that are
compiled into the program (images/) or installed beside it (icons/).

The PNGs are committed, so a build never needs this script; run it after changing an SVG:

    resources/render-artwork.py            render everything
    resources/render-artwork.py --check    render into a temporary folder and report every
                                           committed image whose size or pixels differ

Needs rsvg-convert (Debian package librsvg2-bin).
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

TIERS = (96, 120, 144, 192)
# Pixel size per DPI tier: the panel's close/settings buttons and the settings window's
# corner buttons are drawn at 19, 24, 28 and 38 px; check box indicators at 14, 18, 21, 28 px.
BUTTON_PX = {96: 19, 120: 24, 144: 28, 192: 38}


def artwork():
    """(output path relative to resources/, SVG source, pixel size) for every image."""
    rows = []
    for px in (16, 20, 24):
        rows.append((f"images/varlo_{px}.png", f"varlo_{px}.svg", px))
    for px in (32, 64, 80, 96, 128):
        rows.append((f"images/varlo_{px}.png", "varlo.svg", px))
    for tier in TIERS:
        # The tray images are named after the DPI tier and are that many pixels wide: the
        # tray scales down whichever suits its own slot size.
        rows.append((f"images/varlo_tray_{tier}.png", "varlo.svg", tier))
        rows.append((f"images/varlo_tray_white_{tier}.png", "varlo_tray_white.svg", tier))
        rows.append((f"images/frame_{tier}.png", f"frame_{tier}.svg", None))
        rows.append((f"images/checkbox_{tier}.png", f"checkbox_{tier}.svg", None))
        rows.append((f"images/checkbox_checked_{tier}.png", f"checkbox_checked_{tier}.svg", None))
        for glyph in ("close", "gear", "flip"):
            rows.append((f"images/{glyph}_{tier}.png", f"{glyph}.svg", BUTTON_PX[tier]))
    for direction in ("up", "down"):
        for variant, source in (("", "spin"), ("_hover", "spin_hover"),
                                ("_pressed", "spin_pressed"), ("_off", "spin_off")):
            rows.append((f"images/spin{direction}{variant}.png", f"{source}.svg", None))
        rows.append((f"images/{direction}_arrow.png", f"{direction}_arrow.svg", None))
        rows.append((f"images/{direction}_arrow_disabled.png", f"{direction}_arrow_disabled.svg", None))
    rows.append(("images/shortcut_clear.png", "shortcut_clear.svg", None))
    # Only installed (hicolor theme sizes the program does not carry).
    for px in (22, 48, 256):
        rows.append((f"icons/varlo_{px}.png", "varlo_24.svg" if px == 22 else "varlo.svg", px))
    return rows


# Entries of Varlo.ico: the pixel-fitted small renderings plus the large ones.
ICO_SIZES = (16, 20, 24, 32, 48, 64, 128, 256)


def render(source, px, target):
    cmd = ["rsvg-convert", "--format=png", "--background-color=none", "-o", target]
    if px is not None:
        cmd[1:1] = ["-w", str(px), "-h", str(px)]
    subprocess.run(cmd + [os.path.join(HERE, "svg", source)], check=True)


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise ValueError("not a PNG file")
    return struct.unpack(">II", data[16:24])


def write_ico(pngs, target):
    """Writes an icon file whose entries are the given PNG files, stored as PNG (as icon
    files have allowed since 2006; Qt's reader and every current desktop read them)."""
    blobs = [open(p, "rb").read() for p in pngs]
    header = struct.pack("<HHH", 0, 1, len(blobs))
    offset = len(header) + 16 * len(blobs)
    entries, payload = b"", b""
    for blob in blobs:
        w, h = png_size(blob)
        # A stored 0 means 256, the largest size the directory can describe.
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        payload += blob
        offset += len(blob)
    with open(target, "wb") as f:
        f.write(header + entries + payload)


def png_pixels(path):
    """Width, height and the unfiltered rows of an 8-bit RGB or RGBA PNG (what rsvg-convert
    writes), so that two renderings compare by pixels rather than by compressed bytes."""
    data = open(path, "rb").read()
    w, h = png_size(data)
    pos, idat, depth, colour = 8, b"", None, None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            depth, colour = body[8], body[9]
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if depth != 8 or colour not in (2, 6):
        raise ValueError(f"{path}: not 8-bit RGB or RGBA")
    bpp = 4 if colour == 6 else 3
    raw, stride, rows = zlib.decompress(idat), bpp * w, []
    prev = bytearray(stride)
    for y in range(h):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                row[i] = (row[i] + a) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + b) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(row))
        prev = row
    return w, h, colour, b"".join(rows)


def render_all(dest):
    for sub in ("images", "icons"):
        os.makedirs(os.path.join(dest, sub), exist_ok=True)
    for target, source, px in artwork():
        render(source, px, os.path.join(dest, target))
    ico_pngs = []
    for px in ICO_SIZES:
        name = f"images/varlo_{px}.png"
        if not os.path.exists(os.path.join(dest, name)):
            name = f"icons/varlo_{px}.png"
        ico_pngs.append(os.path.join(dest, name))
    write_ico(ico_pngs, os.path.join(dest, "images", "Varlo.ico"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare the committed images with a fresh rendering")
    args = parser.parse_args()
    if shutil.which("rsvg-convert") is None:
        sys.exit("rsvg-convert is missing: apt-get install librsvg2-bin")
    if not args.check:
        render_all(HERE)
        return 0
    with tempfile.TemporaryDirectory() as tmp:
        render_all(tmp)
        stale = []
        for target, _, _ in artwork():
            fresh, committed = os.path.join(tmp, target), os.path.join(HERE, target)
            if not os.path.exists(committed) or png_pixels(fresh) != png_pixels(committed):
                stale.append(target)
        for name in stale:
            print(f"out of date: resources/{name}")
        if stale:
            print("run resources/render-artwork.py and commit the images")
            return 1
        print(f"{len(artwork())} images match their sources")
        return 0


if __name__ == "__main__":
    sys.exit(main())
