#!/usr/bin/env python3
"""Barcode labels and a photo through the filter, by dithering method.

Generates labels at 203 dpi: Code 128 and EAN-13 (bar widths from GNU
barcode) and QR (modules from qrencode), at 1 to 4 dots per module, each
vector-sharp and anti-aliased half a dot off the dot grid, plus a synthetic
photo (ImageMagick plasma).  Each label is written as CUPS raster
(quillfeed-rastergen), printed by the filter with the given PPDs and
ImageFilter choices, decoded by quillfeed-preview and then:

  scans     codes that zbarimg reads back from the printed picture (the
            preview PNG enlarged 4 times, each dot a 4 x 4 square, as a
            scanner would see the print)
  ragged    columns along the bars of the 1-D codes that are partly black,
            at 1 dot per module + at 2 to 4
  tone      photo: mean and largest difference of the mean grey of 16 x 16
            dot blocks between print and source, in grey levels

Usage: dither_labels.py BUILD_DIR [--ppd PPD ...] [--methods 0,1,3,11]
                        [--keep DIR]
Needs barcode, qrencode, zbarimg (zbar-tools) and ImageMagick's convert.
Exit status 1 when the new method (11) scans fewer codes than threshold (0)
for some code family.
"""
import argparse
import os
import subprocess
import sys
import tempfile

DPI = 203
CODES = [("code128", "QF-12345"), ("ean13", "400638133393"), ("qr", "QF-12345 LABEL")]
NAMES = {0: "threshold", 1: "Floyd-Steinberg", 3: "Burkes", 11: "text+barcodes"}


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


# ------------------------------------------------------------ the codes
def modules_1d(kind, data):
    """Module row of a 1-D code, 1 = bar, from barcode's width string."""
    eps = run(["barcode", "-b", data, "-e", kind, "-E", "-n"]).stdout.decode()
    line = next(l for l in eps.splitlines() if l.startswith("% ") and l[2:].strip().isdigit())
    row, bar = [], 0
    for w in line[2:].strip():
        row += [bar] * int(w)
        bar ^= 1
    return [0] * 10 + row + [0] * 10          # quiet zones


def modules_qr(data):
    text = run(["qrencode", "-t", "ASCII", "-m", "4", data]).stdout.decode()
    return [[1 if line[i] == "#" else 0 for i in range(0, len(line), 2)]
            for line in text.splitlines() if line]


def render(grid, k, shift):
    """Grey picture of a module grid (rows of 0/1) at k dots per module;
    shifted by half a dot the edge dots are grey by their coverage."""
    h, w = len(grid) * k, len(grid[0]) * k
    if not shift:
        return [[0 if grid[y // k][x // k] else 255 for x in range(w)] for y in range(h)]
    # twice the resolution, one fine pixel (half a dot) later, then 2 x 2 means
    fine = lambda y, x: grid[y // (2 * k)][x // (2 * k)] if 0 <= y < 2 * h and 0 <= x < 2 * w else 0
    out = []
    for y in range(h + 1):
        row = []
        for x in range(w + 1):
            ink = sum(fine(2 * y + dy - 1, 2 * x + dx - 1) for dy in (0, 1) for dx in (0, 1))
            row.append(round(255 * (4 - ink) / 4))
        out.append(row)
    return out


def label(pic):
    """The picture on a white label, 40 dots of margin around it."""
    w, h = len(pic[0]) + 80, len(pic) + 80
    page = [[255] * w for _ in range(h)]
    for y, row in enumerate(pic):
        page[40 + y][40:40 + len(row)] = row
    return page


# ------------------------------------------------------------ PGM files
def write_pgm(path, rows):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (len(rows[0]), len(rows)))
        for r in rows:
            f.write(bytes(r))


def read_pgm(path):
    data = open(path, "rb").read()
    parts, pos = [], 0
    while len(parts) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        parts.append(data[pos:end])
        pos = end
    w, h = int(parts[1]), int(parts[2])
    pos += 1
    return [list(data[pos + y * w:pos + (y + 1) * w]) for y in range(h)]


# ------------------------------------------------------------ printing
def print_label(tools, ppd, method, pgm, work):
    """The printed picture (0 dot, 255 no dot) and its PNG path."""
    ras, out, prev = pgm + ".ras", "%s.%d.bin" % (pgm, method), "%s.%d.d" % (pgm, method)
    if not os.path.exists(ras):
        run([tools["rastergen"], "--pnm", pgm, "--dpi", str(DPI), ras])
    with open(out, "wb") as f:
        subprocess.run([tools["filter"], "1", "me", "t", "1", "ImageFilter=%d" % method, ras],
                       check=True, stdout=f, stderr=subprocess.DEVNULL, env=dict(os.environ, PPD=ppd))
    run([tools["preview"], "-o", prev, out])
    png = os.path.join(prev, "page-1.png")
    grey = png + ".pgm"
    run(["convert", png, "-colorspace", "gray", "-depth", "8", grey])
    return read_pgm(grey), png


def scans(png, data):
    big = png + ".x4.png"
    run(["convert", png, "-filter", "point", "-resize", "400%", big])
    r = subprocess.run(["zbarimg", "-q", "--raw", big], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return data in r.stdout.decode()


def ragged(printed, page_w_modules, k, shift):
    """Columns of the bar area holding both dots and no dots."""
    x0, x1 = 40, 40 + page_w_modules * k + (1 if shift else 0)
    rows = printed[45:130]                 # inside the bars, 97 to 100 dots high
    return sum(1 for x in range(x0, x1) if len({r[x] for r in rows}) > 1)


def tone(printed, source):
    diffs = []
    for by in range(0, len(source) - 15, 16):
        for bx in range(0, len(source[0]) - 15, 16):
            s = p = 0
            for y in range(by, by + 16):
                s += sum(source[y][bx:bx + 16])
                p += sum(printed[y][bx:bx + 16])
            diffs.append(abs(s - p) / 256)
    return sum(diffs) / len(diffs), max(diffs)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--ppd", action="append")
    ap.add_argument("--methods", default="0,1,3,11")
    ap.add_argument("--keep")
    a = ap.parse_args()
    b = os.path.abspath(a.build)
    tools = {"filter": b + "/filter/quillfeed", "rastergen": b + "/tools/rastergen/quillfeed-rastergen",
             "preview": b + "/tools/preview/quillfeed-preview"}
    ppds = a.ppd or [b + "/ppd/ppd/quillfeed-tspl-203.ppd", b + "/ppd/ppd/quillfeed-cpcl-203.ppd"]
    methods = [int(m) for m in a.methods.split(",")]
    work = a.keep or tempfile.mkdtemp(prefix="qf-dither-")
    os.makedirs(work, exist_ok=True)

    labels = []   # (family, name, pgm, data, modules wide or None)
    for kind, data in CODES:
        for k in (1, 2, 3, 4):
            # 1-D codes: the module row, about 100 dots high
            grid = modules_qr(data) if kind == "qr" else [modules_1d(kind, data)] * (100 // k)
            for shift in (False, True):
                name = "%s-%d%s" % (kind, k, "-aa" if shift else "")
                pgm = os.path.join(work, name + ".pgm")
                write_pgm(pgm, label(render(grid, k, shift)))
                labels.append((kind, name, pgm, data, None if kind == "qr" else (len(grid[0]), k, shift)))
    photo = os.path.join(work, "photo.pgm")
    run(["convert", "-size", "320x240", "-seed", "7", "plasma:fractal", "-blur", "0x3",
         "-colorspace", "gray", "-depth", "8", photo])

    failed = False
    for ppd in ppds:
        print("== %s" % os.path.basename(ppd))
        print("%-16s %8s %8s %8s %11s %14s" % ("method", "code128", "ean13", "qr", "ragged", "photo tone"))
        counts = {}
        for m in methods:
            got = {kind: 0 for kind, _ in CODES}
            rag = [0, 0]   # at 1 dot per module, at 2 to 4
            for kind, name, pgm, data, bars in labels:
                printed, png = print_label(tools, ppd, m, pgm, work)
                got[kind] += scans(png, data)
                if bars:
                    rag[bars[1] > 1] += ragged(printed, *bars)
            printed, _ = print_label(tools, ppd, m, photo, work)
            mean, worst = tone(printed, read_pgm(photo))
            counts[m] = got
            print("%-16s %6d/8 %6d/8 %6d/8 %5d +%4d %6.1f (max %.0f)" % (
                "%d %s" % (m, NAMES.get(m, "")), got["code128"], got["ean13"], got["qr"], rag[0], rag[1],
                mean, worst))
        if 0 in counts and 11 in counts:
            for kind, _ in CODES:
                if counts[11][kind] < counts[0][kind]:
                    print("FAIL: method 11 reads fewer %s codes than threshold" % kind)
                    failed = True
    print("labels and prints in %s" % work)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
