#!/usr/bin/env python3
"""Writes the sample inputs of the print-server test: sample.png and sample.pdf.

Both show the same 40 x 30 mm picture: a black frame, a black square at the
top left, a pure red square at the top right (the red plane of a two-colour
label) and two grey patches at the bottom (what brightness and dithering act
on).  The PDF has a second page with three black bars, so that page counting
is checked.  Only the Python standard library is used; the output is
byte-for-byte reproducible.

Usage: make_samples.py [output-directory]
"""
import os
import struct
import sys
import zlib

W, H = 320, 240          # 40 x 30 mm at 203.2 dpi
PX_PER_M = 8000          # 203.2 dpi, stored in the PNG's pHYs chunk


def picture():
    """Rows of RGB pixels of the first page's picture."""
    rows = []
    for y in range(H):
        row = bytearray()
        for x in range(W):
            c = (255, 255, 255)
            if x < 6 or x >= W - 6 or y < 6 or y >= H - 6:
                c = (0, 0, 0)
            elif 20 <= x < 100 and 20 <= y < 100:
                c = (0, 0, 0)
            elif 220 <= x < 300 and 20 <= y < 100:
                c = (255, 0, 0)
            elif 140 <= y < 220 and 20 <= x < 160:
                c = (96, 96, 96)
            elif 140 <= y < 220 and 160 <= x < 300:
                c = (192, 192, 192)
            row += bytes(c)
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def make_png():
    raw = b"".join(b"\x00" + r for r in picture())
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
            + png_chunk(b"pHYs", struct.pack(">IIB", PX_PER_M, PX_PER_M, 1))
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def make_pdf():
    # Page size in points: 40 x 30 mm.
    pw, ph = 40 * 72 / 25.4, 30 * 72 / 25.4
    s = 72 / 203.2      # one pixel of the PNG picture in points

    def box(x0, y0, x1, y1):
        # picture coordinates (top-left origin, pixels) to a PDF rectangle
        return "%.3f %.3f %.3f %.3f re" % (x0 * s, ph - y1 * s, (x1 - x0) * s, (y1 - y0) * s)

    page1 = "\n".join([
        "0 g", box(0, 0, W, 6), "f", box(0, H - 6, W, H), "f",
        box(0, 0, 6, H), "f", box(W - 6, 0, W, H), "f",
        box(20, 20, 100, 100), "f",
        "1 0 0 rg", box(220, 20, 300, 100), "f",
        "0.376 g", box(20, 140, 160, 220), "f",
        "0.753 g", box(160, 140, 300, 220), "f", ""])
    page2 = "\n".join(["0 g"] + ["%s f" % box(x, 30, x + 40, 210) for x in (40, 140, 240)] + [""])

    objs = [
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.3f %.3f] /Contents 5 0 R >>" % (pw, ph),
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.3f %.3f] /Contents 6 0 R >>" % (pw, ph),
        "<< /Length %d >>\nstream\n%sendstream" % (len(page1), page1),
        "<< /Length %d >>\nstream\n%sendstream" % (len(page2), page2),
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += ("%d 0 obj\n%s\nendobj\n" % (i, o)).encode()
    xref = len(out)
    out += ("xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)).encode()
    for off in offsets:
        out += ("%010d 00000 n \n" % off).encode()
    out += ("trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n"
            % (len(objs) + 1, xref)).encode()
    return bytes(out)


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(outdir, "sample.png"), "wb") as f:
        f.write(make_png())
    with open(os.path.join(outdir, "sample.pdf"), "wb") as f:
        f.write(make_pdf())


if __name__ == "__main__":
    main()
