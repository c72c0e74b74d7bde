#!/usr/bin/env python3
"""Writes a PWG raster file (sgray_8, srgb_8 or black_1) with a test pattern.

usage: pwgraster.py OUT --width W --height H --dpi D [--type sgray_8]
                    [--pages N] [--truncate BYTES] [--bytes-per-line N]
                    [--pattern label|grey]

The label pattern: a 4-pixel black frame, a diagonal, a grey ramp in the
lower right quarter (red in its upper half for srgb_8), the page number as
that many bars at the top. The grey pattern: rows 300 to 899 a grey ramp from
black on the left to white on the right, a checkerboard of 20-pixel squares
elsewhere (a label half picture, half line art). --truncate cuts the file
after so many bytes (a damaged document).
"""
import argparse
import struct

SPACES = {'black_1': (3, 1, 1), 'sgray_8': (18, 8, 8), 'srgb_8': (19, 8, 24)}


def grey_pixel(x, y, w):
    if 300 <= y < 900:
        v = x * 255 // max(1, w - 1)
        return (v, v, v)
    return (0, 0, 0) if (x // 20 + y // 20) % 2 else (255, 255, 255)


def pixel(x, y, w, h, page, pattern='label'):
    """(r, g, b) luminance of one pixel."""
    if pattern == 'grey':
        return grey_pixel(x, y, w)
    if x < 4 or y < 4 or x + 4 >= w or y + 4 >= h:
        return (0, 0, 0)
    if x == y * w // h:
        return (0, 0, 0)
    if 8 <= y < 24 and x < 16 + page * 12 and (x - 16) % 12 < 6 and x >= 16:
        return (0, 0, 0)
    if x > w // 2 and y > h // 2:
        v = (x - w // 2) * 255 // max(1, w - w // 2)
        if y < h * 3 // 4:
            return (255, v // 3, v // 3)
        return (v, v, v)
    return (255, 255, 255)


def row_bytes(kind, y, w, h, page, pattern='label'):
    px = [pixel(x, y, w, h, page, pattern) for x in range(w)]
    if kind == 'srgb_8':
        return bytes(c for p in px for c in p)
    grey = [(p[0] * 30 + p[1] * 59 + p[2] * 11) // 100 for p in px]
    if kind == 'sgray_8':
        return bytes(grey)
    out = bytearray((w + 7) // 8)
    for x, g in enumerate(grey):
        if g < 128:  # black_1: a set bit is ink
            out[x // 8] |= 0x80 >> (x % 8)
    return bytes(out)


def encode(line, bpp_bytes):
    """PWG line: repeat count 0, then runs of equal pixels and literal runs,
    up to 128 pixels each."""
    unit = max(1, bpp_bytes)
    px = [line[i * unit:(i + 1) * unit] for i in range(len(line) // unit)]
    out = bytearray([0])
    i, n = 0, len(px)
    while i < n:
        j = i + 1
        while j < n and j - i < 128 and px[j] == px[i]:
            j += 1
        if j - i >= 2:
            out.append(j - i - 1)
            out += px[i]
            i = j
            continue
        j = i + 1
        while j < n and j - i < 128 and not (j + 1 < n and px[j] == px[j + 1]):
            j += 1
        count = j - i
        out.append(0 if count == 1 else 257 - count)
        for p in px[i:j]:
            out += p
        i = j
    return bytes(out)


def header(kind, w, h, dpi, pages):
    cs, bpc, bpp = SPACES[kind]
    bpl = (w * bpp + 7) // 8
    b = bytearray(1796)
    b[0:9] = b'PwgRaster'
    u = lambda off, v: struct.pack_into('>I', b, off, v)
    u(276, dpi)
    u(280, dpi)
    u(340, 1)
    u(352, round(w * 72 / dpi))
    u(356, round(h * 72 / dpi))
    u(372, w)
    u(376, h)
    u(384, bpc)
    u(388, bpp)
    u(392, bpl)
    u(396, 0)
    u(400, cs)
    u(420, 3 if kind == 'srgb_8' else 1)
    u(452, pages)
    u(456, 1)
    u(460, 1)
    struct.pack_into('>I', b, 480, 0xFFFFFF)
    return bytes(b), bpl, bpp


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('out')
    ap.add_argument('--width', type=int, required=True)
    ap.add_argument('--height', type=int, required=True)
    ap.add_argument('--dpi', type=int, default=203)
    ap.add_argument('--type', default='sgray_8', choices=sorted(SPACES))
    ap.add_argument('--pages', type=int, default=1)
    ap.add_argument('--truncate', type=int, default=0)
    ap.add_argument('--bytes-per-line', type=int, default=0,
                    help='write this cupsBytesPerLine into the header (a damaged page)')
    ap.add_argument('--pattern', default='label', choices=['label', 'grey'])
    a = ap.parse_args()
    data = bytearray(b'RaS2')
    rows = {}
    for page in range(1, a.pages + 1):
        hdr, bpl, bpp = header(a.type, a.width, a.height, a.dpi, a.pages)
        if a.bytes_per_line:
            hdr = bytearray(hdr)
            struct.pack_into('>I', hdr, 392, a.bytes_per_line)
            hdr = bytes(hdr)
        data += hdr
        for y in range(a.height):
            # Only the bars at the top tell the pages apart.
            if (8 <= y < 24 and a.pattern == 'label') or y not in rows:
                rows[y] = encode(row_bytes(a.type, y, a.width, a.height, page, a.pattern), bpp // 8)
            data += rows[y]
    if a.truncate:
        data = data[:a.truncate]
    with open(a.out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
