#!/usr/bin/env python3
"""Where a decoded print has ink: reads a grey PNG (quillfeed-preview's
page-N.png, 1 or 8 bits, not interlaced) and prints

    WIDTHxHEIGHT box=X0,Y0,X1,Y1 black=F [region=F ...]

box: the smallest rectangle holding every black dot (inclusive); black: the
fraction of black dots; region=F: the fraction of black dots inside each
rectangle given as X0,Y0,X1,Y1 (inclusive) after the file name.

Usage: inkbox.py PAGE.png [X0,Y0,X1,Y1 ...]
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('not a PNG')
    pos, idat, width = 8, b'', None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            if colour != 0 or depth not in (1, 8) or interlace:
                raise ValueError('only grey 1 or 8-bit PNGs')
        elif kind == b'IDAT':
            idat += body
    raw = zlib.decompress(idat)
    stride = (width * depth + 7) // 8
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        bpp = 1
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        if depth == 1:
            rows.append([0 if not (line[x >> 3] >> (7 - (x & 7))) & 1 else 255 for x in range(width)])
        else:
            rows.append(list(line[:width]))
    return width, height, rows


def main():
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    width, height, rows = read_png(sys.argv[1])
    black = [(x, y) for y in range(height) for x in range(width) if rows[y][x] < 128]
    out = '%dx%d' % (width, height)
    if black:
        xs = [p[0] for p in black]
        ys = [p[1] for p in black]
        out += ' box=%d,%d,%d,%d' % (min(xs), min(ys), max(xs), max(ys))
    else:
        out += ' box=none'
    out += ' black=%.4f' % (len(black) / float(width * height))
    for box in sys.argv[2:]:
        x0, y0, x1, y1 = (int(v) for v in box.split(','))
        n = sum(1 for y in range(y0, y1 + 1) for x in range(x0, x1 + 1) if rows[y][x] < 128)
        out += ' region=%.4f' % (n / float((x1 - x0 + 1) * (y1 - y0 + 1)))
    print(out)
    return 0


if __name__ == '__main__':
    sys.exit(main())
