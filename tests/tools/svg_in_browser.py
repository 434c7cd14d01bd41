#!/usr/bin/env python3
"""voxactl's SVG pictures as a real browser draws them.

usage: svg_in_browser.py VOXACTL CHROMIUM WORKDIR

Writes a recording of a square with a diagonal, draws its XY path and its
time panels with `voxactl plot`, has headless chromium take a screenshot of
each, and checks the PNG: its size, that it is not blank, and that the
series' colour is there.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SERIES_BLUE = (0x1F, 0x77, 0xB4)


def read_png(path):
    """Width, height and rows of (r, g, b) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, (depth, colour, interlace)
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        ftype, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = prev[i], prev[i - channels] if i >= channels else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 255
            elif ftype == 2:
                line[i] = (line[i] + b) & 255
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        prev = line
    return width, height, rows


def screenshot(chromium, svg, png, size):
    profile = tempfile.mkdtemp(prefix="voxa-chromium-")
    try:
        subprocess.run(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--hide-scrollbars", f"--user-data-dir={profile}", f"--window-size={size[0]},{size[1]}",
             f"--screenshot={png}", "file://" + os.path.abspath(svg)],
            check=True, timeout=90, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def check(png, size):
    width, height, rows = read_png(png)
    assert (width, height) == size, f"{png}: {width}x{height}, expected {size}"
    pixels = [p for row in rows for p in row]
    ink = sum(1 for p in pixels if p != (255, 255, 255))
    blue = sum(1 for p in pixels if all(abs(p[k] - SERIES_BLUE[k]) <= 40 for k in range(3)))
    assert ink > width * height // 200, f"{png}: blank ({ink} pixels not white)"
    assert blue > 200, f"{png}: the series is missing ({blue} blue pixels)"
    print(f"{png}: {width}x{height}, {ink} pixels drawn, {blue} of the series")


def main():
    voxactl, chromium, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    csv = os.path.join(work, "square.csv")
    with open(csv, "w") as f:
        f.write("time_s,pos0,pos1,vel0,vel1\n")
        corners = [(0, 0), (4000, 0), (4000, 4000), (0, 4000), (0, 0), (4000, 4000)]
        t = 0.0
        for (x0, y0), (x1, y1) in zip(corners, corners[1:]):
            for k in range(20):
                x, y = x0 + (x1 - x0) * k // 20, y0 + (y1 - y0) * k // 20
                f.write(f"{t:.6f},{x},{y},{(x1 - x0) // 2},{(y1 - y0) // 2}\n")
                t += 0.025
        f.write(f"{t:.6f},4000,4000,0,0\n")
    for name, extra, size in (("xy", ["--xy", "0,1"], (800, 800)), ("time", [], (900, 700))):
        svg, png = os.path.join(work, name + ".svg"), os.path.join(work, name + ".png")
        subprocess.run([voxactl, "plot", csv, "--svg", svg] + extra, check=True, stdout=subprocess.DEVNULL)
        if os.path.exists(png):
            os.remove(png)
        screenshot(chromium, svg, png, size)
        check(png, size)


if __name__ == "__main__":
    main()
