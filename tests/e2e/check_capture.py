#!/usr/bin/env python3
"""Checks the printer bytes that one print job produced.

Usage: check_capture.py CAPTURE LANGUAGE [KEY=VALUE ...]

LANGUAGE is tspl, escpos, cpcl, paperang or peripage.  The stream is decoded
by the rules of that language (a stream that does not decode is an error),
then the expectations are compared:

  ppd=FILE        the queue's PPD: gives the resolution and the page sizes
  size=NAME       PageSize the job printed on: the bitmap must be as wide and
                  as high as that page at the PPD's resolution (within the
                  rounding of one dot)
  cropped=1       the bitmap must be lower than the page (white trimmed)
  rotated=1       the page was turned by 90 degrees: as wide as the page is
                  high, and as high as it is wide
  pages=N         number of printed pages (labels, receipts)
  picture=1       the first page shows the sample picture unscaled: black
                  square at the top left, white beside it, grey at the bottom
  TSPL:     density=N|none speed=N|none media=gap|bline|continuous
            ribbon=on|off compressed=0|1 offset=DOTS red=1
            gapheight=MM gapoffset=MM (gap or mark, default 3 and 0)
            setc=0|1 (the SETC lines sent)  post=0..4 (the SET lines after
            printing: none, tear, cutter, peel, partial cutter)
  ESC/POS:  align=0|1|2 feed=DOTS (ESC J total after each page)
  Receipt:  receipt=1 reads the whole job as one receipt: one ESC @ at the
            start, then only GS v 0 commands of one width (no feed or cut
            between pages), then exactly one feed-then-cut.  With it:
            band=ROWS (no GS v 0 taller), cutfeed=DOTS (the ESC J total of
            the end), cut=full|partial, drawer=none|before|after,
            maxwhite=ROWS (longest white run inside the receipt),
            lead=ROWS (most white rows before the first printed one),
            lines=N (runs of printed rows: the text lines of a text job)
  CPCL:     form=0|1 offset=DOTS
  Paperang: end=feed|locate papertype=N|none
  PeriPage: density=N|none paper=BYTE compressed=0|1 align=0|1|2

On success it prints one line with what it found, ending in "black=F": the
fraction of printed dots on the first page, which the caller compares between
jobs.  Exit status 0 when everything matches, 1 otherwise.
"""
import re
import struct
import sys
import zlib


class Bad(Exception):
    pass


# ------------------------------------------------------------------ pages
class Page:
    """One printed page: a 1-bit picture, set bit = dot, plus its settings."""

    def __init__(self, width, height, stride, rows, info=None):
        self.width, self.height, self.stride = width, height, stride
        self.rows = rows                  # list of bytes, stride bytes each
        self.info = info or {}

    def dot(self, x, y):
        return (self.rows[y][x >> 3] >> (7 - (x & 7))) & 1

    def black_fraction(self, x0=0, y0=0, x1=None, y1=None):
        x1 = self.width if x1 is None else x1
        y1 = self.height if y1 is None else y1
        total = black = 0
        for y in range(y0, y1):
            row = self.rows[y]
            for x in range(x0, x1):
                black += (row[x >> 3] >> (7 - (x & 7))) & 1
            total += x1 - x0
        return black / total if total else 0.0


def rows_of(data, stride, height, invert=False):
    if len(data) != stride * height:
        raise Bad("bitmap of %d bytes, expected %d x %d" % (len(data), stride, height))
    if invert:
        data = bytes(b ^ 0xFF for b in data)
    return [data[i * stride:(i + 1) * stride] for i in range(height)]


# ------------------------------------------------------------------- TSPL
def decode_tspl(d):
    pages, cur, pos = [], None, 0
    while pos < len(d):
        if d.startswith(b"BITMAP ", pos):
            m = re.compile(rb"BITMAP (-?\d+),(-?\d+),(\d+),(\d+),([13]),").match(d, pos)
            if not m:
                raise Bad("bad BITMAP header at byte %d" % pos)
            w, h, mode = int(m.group(3)), int(m.group(4)), int(m.group(5))
            pos = m.end()
            if mode == 1:
                data = d[pos:pos + w * h]
                pos += w * h
                rows = rows_of(data, w, h, invert=True)   # plain form: 0 = dot
            else:
                m2 = re.compile(rb"(\d+),").match(d, pos)
                if not m2:
                    raise Bad("BITMAP mode 3 without a length at byte %d" % pos)
                n = int(m2.group(1))
                pos = m2.end()
                try:
                    data = zlib.decompress(d[pos:pos + n])
                except zlib.error as e:
                    raise Bad("BITMAP mode 3 data does not inflate: %s" % e)
                pos += n
                rows = rows_of(data, w, h)                 # compressed form: 1 = dot
            if not d.startswith(b"\r\n", pos):
                raise Bad("BITMAP data not followed by CR LF at byte %d" % pos)
            pos += 2
            if cur is None:
                raise Bad("BITMAP outside a label")
            cur["bitmaps"].append((mode, w, h, rows, cur.get("color", "black")))
            continue
        end = d.find(b"\r\n", pos)
        if end < 0:
            raise Bad("command without CR LF at byte %d" % pos)
        line = d[pos:end].decode("latin-1")
        pos = end + 2
        if line.startswith("SIZE "):
            if cur is not None:
                raise Bad("SIZE inside a label, before its PRINT")
            cur = {"lines": [], "bitmaps": []}
        if cur is None:
            raise Bad("%r before any SIZE" % line)
        cur["lines"].append(line)
        if line == "SETCOLOR BLACK":
            cur["color"] = "black"
        elif line.startswith("SETCOLOR RED"):
            cur["color"] = "red"
        elif re.fullmatch(r"(SFAY)?PRINT \d+,\d+", line):
            pages.append(cur)
            cur = None
        elif not re.fullmatch(r"(SIZE [0-9.]+ mm,[0-9.]+ mm|SET RIBBON (ON|OFF)|"
                              r"SET (PEEL|TEAR) (ON|OFF)|SET CUTTER (FALSE|BATCH|\d+)|"
                              r"SET PARTIAL_CUTTER (OFF|BATCH|\d+)|"
                              r"REFERENCE -?\d+,-?\d+|GAP -?\d+ dot,-?\d+ dot|"
                              r"BLINE -?\d+ dot,-?\d+ dot|OFFSET -?\d+ dot|"
                              r"DENSITY \d+|SPEED \d+|SETC (AUTODOTTED|PAUSEKEY|"
                              r"WATERMARK) (ON|OFF)|CLS|SETCOLOR RED \d+)", line):
            raise Bad("unexpected TSPL line %r" % line)
    if cur is not None:
        raise Bad("label without PRINT at the end of the stream")
    return pages


def check_tspl(d, exp, dpi, page_dots, out):
    labels = decode_tspl(d)
    pages = []
    for i, lab in enumerate(labels, 1):
        lines = lab["lines"]
        m = re.fullmatch(r"SIZE ([0-9.]+) mm,([0-9.]+) mm", lines[0])
        wmm, hmm = float(m.group(1)), float(m.group(2))
        blacks = [b for b in lab["bitmaps"] if b[4] == "black"]
        reds = [b for b in lab["bitmaps"] if b[4] == "red"]
        if len(blacks) != 1:
            raise Bad("label %d has %d black bitmaps" % (i, len(blacks)))
        mode, wb, h, rows, _ = blacks[0]
        width = round(wmm * dpi / 25.4)
        # SIZE is the picture in millimetres, BITMAP the same picture in dots
        # with rows padded to 32 dots.
        if abs(hmm * dpi / 25.4 - h) > 0.6:
            raise Bad("label %d: SIZE height %.2f mm but BITMAP has %d rows" % (i, hmm, h))
        if wb != (width + 31) // 32 * 4:
            raise Bad("label %d: SIZE width %.2f mm (%d dots) but BITMAP rows of %d bytes"
                      % (i, wmm, width, wb))
        page = Page(width, h, wb, rows, {"lines": lines, "mode": mode})
        if reds:
            page.info["red"] = Page(width, reds[0][2], reds[0][1], reds[0][3])
        pages.append(page)
        want = {
            "density": ("DENSITY", lambda v: "DENSITY %s" % v),
            "speed": ("SPEED", lambda v: "SPEED %s" % v),
        }
        for key, (word, fmt) in want.items():
            if key in exp:
                found = [l for l in lines if l.startswith(word + " ")]
                expect = [] if exp[key] == "none" else [fmt(exp[key])]
                if found != expect:
                    raise Bad("label %d: %s lines %s, expected %s" % (i, word, found, expect))
        if "ribbon" in exp and "SET RIBBON %s" % exp["ribbon"].upper() not in lines:
            raise Bad("label %d: no SET RIBBON %s" % (i, exp["ribbon"].upper()))
        if "media" in exp:
            def dots(mm):
                return int(dpi * float(mm) / 25.4 + 0.5)
            gap = dots(exp.get("gapheight", 3))
            goff = dots(exp.get("gapoffset", 0))
            media_lines = [l for l in lines if l.startswith(("GAP ", "BLINE "))]
            expect = {"gap": ["GAP %d dot,%d dot" % (gap, goff)], "bline": ["BLINE %d dot,%d dot" % (gap, goff)],
                      "continuous": ["GAP 0 dot,0 dot"], "none": []}[exp["media"]]
            if media_lines != expect:
                raise Bad("label %d: media lines %s, expected %s" % (i, media_lines, expect))
        if "setc" in exp:
            setc = [l for l in lines if l.startswith("SETC ")]
            if len(setc) != (3 if exp["setc"] == "1" else 0):
                raise Bad("label %d: SETC lines %s" % (i, setc))
        if "post" in exp:
            post = [l for l in lines if l.startswith(("SET PEEL", "SET CUTTER", "SET PARTIAL_CUTTER", "SET TEAR"))]
            want_post = {"0": [], "1": ["SET PEEL OFF", "SET CUTTER FALSE", "SET PARTIAL_CUTTER OFF", "SET TEAR ON"],
                         "2": ["SET PEEL OFF", "SET CUTTER 1", "SET PARTIAL_CUTTER OFF", "SET TEAR OFF"],
                         "3": ["SET PEEL ON", "SET CUTTER FALSE", "SET PARTIAL_CUTTER OFF", "SET TEAR OFF"],
                         "4": ["SET PEEL OFF", "SET CUTTER FALSE", "SET PARTIAL_CUTTER 1", "SET TEAR OFF"]}
            if post != want_post[exp["post"]]:
                raise Bad("label %d: post-print lines %s" % (i, post))
        if "offset" in exp and "OFFSET %s dot" % exp["offset"] not in lines:
            raise Bad("label %d: no OFFSET %s dot in %s" % (i, exp["offset"], lines))
        if "compressed" in exp and mode != (3 if exp["compressed"] == "1" else 1):
            raise Bad("label %d: BITMAP mode %d" % (i, mode))
        if exp.get("red") == "1":
            if not reds:
                raise Bad("label %d: two-colour label without a red bitmap" % i)
            order = [b[4] for b in lab["bitmaps"]]
            if order != ["red", "black"]:
                raise Bad("label %d: bitmaps in the order %s" % (i, order))
        elif reds:
            raise Bad("label %d: unexpected red bitmap" % i)
    out.append("labels=%d" % len(labels))
    return pages


# ---------------------------------------------------------------- ESC/POS
def decode_escpos_page(d, pos, start_word=b"\x1b\x40\x00"):
    """Parses ESC/POS commands from pos; returns the raster and the extras."""
    info = {"align": None, "feed": 0, "cut": None, "rasters": []}
    while pos < len(d):
        if d.startswith(start_word, pos) and info["rasters"]:
            break
        c = d[pos:pos + 2]
        if d.startswith(b"\x1b\x40\x00", pos):
            pos += 3
        elif c == b"\x1b\x61":
            info["align"] = d[pos + 2]
            pos += 3
        elif c == b"\x1b\x4a":
            info["feed"] += d[pos + 2]
            pos += 3
        elif c == b"\x1d\x56":
            info["cut"] = d[pos + 2]
            pos += 3
        elif c == b"\x1b\x70":
            pos += 5
        elif d.startswith(b"\x1d\x76\x30", pos):
            if pos + 8 > len(d):
                raise Bad("truncated GS v 0 header at byte %d" % pos)
            m, w, h = d[pos + 3], d[pos + 4] | d[pos + 5] << 8, d[pos + 6] | d[pos + 7] << 8
            data = d[pos + 8:pos + 8 + w * h]
            if len(data) != w * h:
                raise Bad("GS v 0 of %d x %d with only %d bytes" % (w, h, len(data)))
            info["rasters"].append((m, w, h, rows_of(data, w, h)))
            pos += 8 + w * h
        else:
            return info, pos
    return info, pos


def check_escpos(d, exp, dpi, page_dots, out):
    pages, pos = [], 0
    while pos < len(d):
        if not d.startswith(b"\x1b\x40\x00", pos):
            raise Bad("page does not start with ESC @ NUL at byte %d" % pos)
        info, pos = decode_escpos_page(d, pos)
        if pos < len(d) and not d.startswith(b"\x1b\x40\x00", pos):
            raise Bad("unknown ESC/POS command %s at byte %d" % (d[pos:pos + 3].hex(), pos))
        if not info["rasters"]:
            raise Bad("page without a raster image")
        w = info["rasters"][0][1]
        rows = [r for ras in info["rasters"] for r in ras[3]]
        if any(ras[1] != w for ras in info["rasters"]):
            raise Bad("raster bands of different widths")
        page = Page(w * 8, len(rows), w, rows, info)
        page.width = page_dots[0] if page_dots and (page_dots[0] + 7) // 8 == w else w * 8
        pages.append(page)
        n = len(pages)
        if "align" in exp and info["align"] != int(exp["align"]):
            raise Bad("page %d: alignment %s, expected %s" % (n, info["align"], exp["align"]))
        if "feed" in exp and info["feed"] != int(exp["feed"]):
            raise Bad("page %d: feeds %d dots, expected %s" % (n, info["feed"], exp["feed"]))
    out.append("receipts=%d" % len(pages))
    return pages


def check_receipt(d, exp, dpi, page_dots, out):
    """The job as one receipt: prologue, bands, then one feed-then-cut."""
    seq, pos = [], 0
    sizes = {b"\x1b\x40": 3, b"\x1b\x61": 3, b"\x1b\x4a": 3, b"\x1d\x56": 3, b"\x1b\x70": 5}
    while pos < len(d):
        c = d[pos:pos + 2]
        if d.startswith(b"\x1d\x76\x30", pos):
            w, h = d[pos + 4] | d[pos + 5] << 8, d[pos + 6] | d[pos + 7] << 8
            data = d[pos + 8:pos + 8 + w * h]
            if len(data) != w * h:
                raise Bad("GS v 0 of %d x %d cut short" % (w, h))
            seq.append(("raster", (w, h, rows_of(data, w, h))))
            pos += 8 + w * h
        elif c in sizes:
            seq.append((c.hex(), d[pos + 2] if c != b"\x1b\x70" else None))
            pos += sizes[c]
        else:
            raise Bad("unknown ESC/POS command %s at byte %d" % (d[pos:pos + 3].hex(), pos))
    kinds = [k for k, _ in seq]
    drawer = {"none": [], "before": [0], "after": [len(seq) - 1]}
    pulses = [i for i, k in enumerate(kinds) if k == "1b70"]
    if pulses != drawer[exp.get("drawer", "none")]:
        raise Bad("drawer pulses at commands %s, expected %s" % (pulses, exp.get("drawer", "none")))
    body = [k for k in kinds if k != "1b70"]
    first = body.index("raster") if "raster" in body else len(body)
    last = len(body) - 1 - body[::-1].index("raster") if "raster" in body else -1
    if body[:first] != ["1b40", "1b61"]:
        raise Bad("receipt starts with %s, not ESC @ and ESC a" % body[:first])
    between = sorted(set(body[first:last + 1]) - {"raster"})
    if between:
        raise Bad("commands %s between the pages of the receipt" % between)
    tail = body[last + 1:]
    if not tail or tail[-1] != "1d56" or set(tail[:-1]) != {"1b4a"}:
        raise Bad("receipt ends with %s, not one feed then one cut" % tail)
    values = [v for k, v in seq if k in ("1b4a", "1d56")]
    feed, cut = sum(values[:-1]), {0x30: "full", 0x31: "partial"}.get(values[-1])
    bands = [v for k, v in seq if k == "raster"]
    w = bands[0][0]
    if any(b[0] != w for b in bands):
        raise Bad("raster bands of different widths")
    tallest = max(b[1] for b in bands)
    if "band" in exp and tallest > int(exp["band"]):
        raise Bad("a GS v 0 of %d rows, more than %s" % (tallest, exp["band"]))
    if "cutfeed" in exp and feed != int(exp["cutfeed"]):
        raise Bad("feeds %d dots before the cut, expected %s" % (feed, exp["cutfeed"]))
    if "cut" in exp and cut != exp["cut"]:
        raise Bad("%s cut, expected %s" % (cut, exp["cut"]))
    rows = [r for b in bands for r in b[2]]
    ink = [any(r) for r in rows]
    runs, white, longest = 0, 0, 0
    for i, dot in enumerate(ink):
        if dot:
            runs += i == 0 or not ink[i - 1]
            longest = max(longest, white if runs > 1 else 0)
            white = 0
        else:
            white += 1
    if not ink or not ink[-1]:
        raise Bad("the receipt ends in white rows")
    if "maxwhite" in exp and longest > int(exp["maxwhite"]):
        raise Bad("a white run of %d rows inside the receipt, more than %s"
                  % (longest, exp["maxwhite"]))
    lead = ink.index(True)
    if "lead" in exp and lead > int(exp["lead"]):
        raise Bad("%d white rows before the first printed one, more than %s" % (lead, exp["lead"]))
    if "lines" in exp and runs != int(exp["lines"]):
        raise Bad("%d printed lines, expected %s" % (runs, exp["lines"]))
    page = Page(w * 8, len(rows), w, rows)
    page.width = page_dots[0] if page_dots and (page_dots[0] + 7) // 8 == w else w * 8
    out.append("receipt=%d rows bands=%d tallest=%d lead=%d white<=%d lines=%d feed=%d cut=%s"
               % (len(rows), len(bands), tallest, lead, longest, runs, feed, cut))
    return [page]


# ------------------------------------------------------------------- CPCL
def check_cpcl(d, exp, dpi, page_dots, out):
    pages, pos = [], 0
    line_re = re.compile(rb"([^\r\n]*)\r\n")

    def line():
        nonlocal pos
        m = line_re.match(d, pos)
        if not m:
            raise Bad("CPCL line without CR LF at byte %d" % pos)
        pos = m.end()
        return m.group(1).decode("latin-1")

    while pos < len(d):
        head = line()
        m = re.fullmatch(r"! (-?\d+) 200 200 (\d+) 1", head)
        if not m:
            raise Bad("label does not start with a '! ' header: %r" % head)
        offset, h = int(m.group(1)), int(m.group(2))
        m = re.fullmatch(r"PAGE-WIDTH (\d+)", line())
        if not m:
            raise Bad("no PAGE-WIDTH after the header")
        width = int(m.group(1))
        m = re.fullmatch(r"CG (\d+) (\d+) 0 0", line())
        if not m:
            raise Bad("no CG after PAGE-WIDTH")
        wb, gh = int(m.group(1)), int(m.group(2))
        if gh != h or wb != (width + 31) // 32 * 4:
            raise Bad("CG %d x %d does not fit the label %d x %d" % (wb, gh, width, h))
        rows = rows_of(d[pos:pos + wb * h], wb, h)
        pos += wb * h
        rest = line()
        form = rest == "FORM"
        if form:
            rest = line()
        if rest != "PRINT":
            raise Bad("label ends with %r, not PRINT" % rest)
        pages.append(Page(width, h, wb, rows))
        n = len(pages)
        if "offset" in exp and offset != int(exp["offset"]):
            raise Bad("label %d: offset %d, expected %s" % (n, offset, exp["offset"]))
        if "form" in exp and form != (exp["form"] == "1"):
            raise Bad("label %d: FORM %s" % (n, "sent" if form else "missing"))
    out.append("labels=%d" % len(pages))
    return pages


# --------------------------------------------------------------- Paperang
def check_paperang(d, exp, dpi, page_dots, out):
    frames, pos = [], 0
    while pos < len(d):
        if d[pos] != 0xA5 or d[pos + 1] != 0x01:
            raise Bad("frame does not start with A5 01 at byte %d" % pos)
        n = d[pos + 2] | d[pos + 3] << 8
        inner = d[pos + 4:pos + 4 + n]
        if len(inner) != n or pos + 9 + n > len(d) or d[pos + 8 + n] != 0x5A:
            raise Bad("frame at byte %d is cut short or does not end with 5A" % pos)
        crc = struct.unpack_from("<I", d, pos + 4 + n)[0]
        if inner[0] != 0x05 or len(inner) < 5:
            raise Bad("inner command at byte %d does not start with 05" % (pos + 4))
        k = inner[3] | inner[4] << 8
        if k != n - 5:
            raise Bad("inner command at byte %d: %d parameter bytes announced, %d present"
                      % (pos + 4, k, n - 5))
        frames.append((inner[1], inner, crc))
        pos += 9 + n
    # The CRC key is the printer's; whatever it is, the CRC is affine in the
    # data, so two frames of equal length differ in CRC by exactly what
    # their contents differ by.  This catches a CRC over the wrong bytes.
    by_len = {}
    for code, inner, crc in frames:
        by_len.setdefault(len(inner), []).append((inner, crc))
    for group in by_len.values():
        a, ca = group[0]
        for b, cb in group[1:4]:
            if ca ^ cb != zlib.crc32(a, 0xFFFFFFFF) ^ zlib.crc32(b, 0xFFFFFFFF):
                raise Bad("frame CRCs do not follow their inner commands")
    pages, i = [], 0
    while i < len(frames):
        if frames[i][0] != 0x19:
            raise Bad("page does not start with begin-printing (frame %d is %02x)"
                      % (i, frames[i][0]))
        i += 1
        papertype = None
        if i < len(frames) and frames[i][0] == 0x20:
            papertype = frames[i][1][5] | frames[i][1][6] << 8
            i += 1
        rows, width = [], None
        while i < len(frames) and frames[i][0] == 0x1B:
            inner = frames[i][1]
            index, w = inner[5] | inner[6] << 8, inner[15] | inner[16] << 8
            if index != len(rows) & 0xFFFF:
                raise Bad("row frame with index %d, expected %d" % (index, len(rows)))
            if width not in (None, w) or len(inner) != 17 + w:
                raise Bad("row frames of different or wrong widths")
            width = w
            rows.append(bytes(inner[17:]))
            i += 1
        if i >= len(frames) or frames[i][0] != 0x1A:
            raise Bad("page rows not followed by end-printing")
        i += 1
        end = None
        if i < len(frames) and frames[i][0] in (0x16, 0x21):
            end = "feed" if frames[i][0] == 0x16 else "locate"
            i += 1
        width = width or 0
        page = Page(page_dots[0] if page_dots and (page_dots[0] + 31) // 32 * 4 == width
                    else width * 8, len(rows), width, rows)
        pages.append(page)
        n = len(pages)
        if "end" in exp and end != exp["end"]:
            raise Bad("page %d ends with %s, expected %s" % (n, end, exp["end"]))
        if "papertype" in exp:
            want = None if exp["papertype"] == "none" else int(exp["papertype"])
            if papertype != want:
                raise Bad("page %d: paper type %s, expected %s" % (n, papertype, want))
    out.append("pages=%d frames=%d" % (len(pages), len(frames)))
    return pages


# --------------------------------------------------------------- PeriPage
def check_peripage(d, exp, dpi, page_dots, out):
    pages, pos = [], 0

    def take(prefix):
        nonlocal pos
        if d.startswith(prefix, pos):
            pos += len(prefix)
            return True
        return False

    def feeds():
        nonlocal pos
        total = 0
        while d.startswith(b"\x1b\x4a", pos):
            total += d[pos + 2]
            pos += 3
        return total

    while pos < len(d):
        if not take(b"\x10\xff\xfe\x01"):
            raise Bad("page does not start with 10 FF FE 01 at byte %d" % pos)
        paper = density = align = None
        if take(b"\x10\xff\x10\x03"):
            paper = d[pos]
            pos += 1
        if not take(b"\x1b\x40\x00"):
            raise Bad("no ESC @ NUL at byte %d" % pos)
        if take(b"\x10\xff\x10\x00"):
            density = d[pos]
            pos += 1
        if take(b"\x1b\x61"):
            align = d[pos]
            pos += 1
        feeds()
        compressed = take(b"\x1f\x00")
        if compressed:
            w, h, n = struct.unpack_from(">HHI", d, pos)
            body = d[pos + 8:pos + 8 + n]
            if len(body) != n or n < 4:
                raise Bad("compressed raster cut short")
            try:
                raw = zlib.decompressobj(-15).decompress(body[:-4])
            except zlib.error as e:
                raise Bad("compressed raster does not inflate: %s" % e)
            if struct.unpack(">I", body[-4:])[0] != zlib.adler32(raw):
                raise Bad("compressed raster: Adler-32 does not match")
            rows = rows_of(raw, w, h)
            pos += 8 + n
        elif take(b"\x1d\x76\x30"):
            w, h = d[pos + 1] | d[pos + 2] << 8, d[pos + 3] | d[pos + 4] << 8
            rows = rows_of(d[pos + 5:pos + 5 + w * h], w, h)
            pos += 5 + w * h
        else:
            raise Bad("no raster image at byte %d (%s)" % (pos, d[pos:pos + 3].hex()))
        marked = take(b"\x1d\x0c")
        feed = feeds()
        cutline = take(b"\x10\x50")
        if not take(b"\x10\xff\xfe\x45"):
            raise Bad("page does not end with 10 FF FE 45 at byte %d (%s)"
                      % (pos, d[pos:pos + 4].hex()))
        width = page_dots[0] if page_dots and (page_dots[0] + 7) // 8 == w else w * 8
        pages.append(Page(width, h, w, rows, {"feed": feed, "marked": marked,
                                             "cutline": cutline}))
        n = len(pages)
        if "paper" in exp and paper != int(exp["paper"]):
            raise Bad("page %d: paper type %s, expected %s" % (n, paper, exp["paper"]))
        if "density" in exp:
            want = None if exp["density"] == "none" else int(exp["density"])
            if density != want:
                raise Bad("page %d: density %s, expected %s" % (n, density, want))
        if "compressed" in exp and compressed != (exp["compressed"] == "1"):
            raise Bad("page %d: raster %scompressed" % (n, "" if compressed else "not "))
        if "align" in exp and align != int(exp["align"]):
            raise Bad("page %d: alignment %s, expected %s" % (n, align, exp["align"]))
        if "feed" in exp and feed != int(exp["feed"]):
            raise Bad("page %d: feeds %d dots, expected %s" % (n, feed, exp["feed"]))
        if "cutline" in exp and cutline != (exp["cutline"] == "1"):
            raise Bad("page %d: cut line %s" % (n, "sent" if cutline else "missing"))
        if "marked" in exp and marked != (exp["marked"] == "1"):
            raise Bad("page %d: GS FF %s" % (n, "sent" if marked else "missing"))
    out.append("pages=%d" % len(pages))
    return pages


# -------------------------------------------------------------------- PPD
def read_ppd(path):
    """Resolution and page sizes (in points) of a PPD."""
    text = open(path, encoding="latin-1").read()
    m = re.search(r"^\*DefaultResolution:\s*(\d+)dpi", text, re.M)
    dpi = int(m.group(1)) if m else None
    sizes = {}
    for m in re.finditer(r'^\*PaperDimension ([^/:]+)(?:/[^:]*)?:\s*"([0-9.]+) ([0-9.]+)"',
                         text, re.M):
        sizes[m.group(1)] = (float(m.group(2)), float(m.group(3)))
    return dpi, sizes


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    path, lang = argv[1], argv[2]
    exp = dict(a.split("=", 1) for a in argv[3:])
    d = open(path, "rb").read()
    out = []
    dpi, page_dots, page_exact = int(exp.get("dpi", 0)) or None, None, None
    if "ppd" in exp:
        ppd_dpi, sizes = read_ppd(exp["ppd"])
        if dpi and ppd_dpi != dpi:
            raise Bad("PPD resolution %s, expected %s" % (ppd_dpi, dpi))
        dpi = ppd_dpi
        if "size" in exp:
            if exp["size"] not in sizes:
                raise Bad("page size %s is not in the PPD" % exp["size"])
            wpt, hpt = sizes[exp["size"]]
            page_exact = (wpt * dpi / 72, hpt * dpi / 72)
            if exp.get("rotated") == "1":
                page_exact = page_exact[::-1]
            page_dots = (round(page_exact[0]), round(page_exact[1]))
    if lang == "escpos" and exp.get("receipt") == "1":
        lang = "receipt"
    checker = {"tspl": check_tspl, "escpos": check_escpos, "receipt": check_receipt, "cpcl": check_cpcl,
               "paperang": check_paperang, "peripage": check_peripage}[lang]
    pages = checker(d, exp, dpi, page_dots, out)
    if "pages" in exp and len(pages) != int(exp["pages"]):
        raise Bad("%d pages, expected %s" % (len(pages), exp["pages"]))
    if not pages:
        raise Bad("no page")
    for n, p in enumerate(pages, 1):
        if page_exact:
            # One dot of rounding either way is the raster filter's business.
            if abs(p.width - page_exact[0]) >= 1:
                raise Bad("page %d is %d dots wide, the page size gives %.2f"
                          % (n, p.width, page_exact[0]))
            if exp.get("cropped") == "1":
                if not 0 < p.height < page_exact[1] - 1:
                    raise Bad("page %d: %d rows, expected fewer than the page's %.2f"
                              % (n, p.height, page_exact[1]))
            elif abs(p.height - page_exact[1]) >= 1:
                raise Bad("page %d is %d rows high, the page size gives %.2f"
                          % (n, p.height, page_exact[1]))
        elif exp.get("cropped") == "1" and not 0 < p.height:
            raise Bad("page %d is empty" % n)
        if "width" in exp and p.width != int(exp["width"]):
            raise Bad("page %d is %d dots wide, expected %s" % (n, p.width, exp["width"]))
    first = pages[0]
    if exp.get("picture") == "1":
        # The sample picture in 320 x 240 dots at 203 dpi: black square at
        # (20..100, 20..100), white from x 110 to 210 beside it, the dark
        # grey patch (20..160, 140..220) below, lighter grey beside that.
        sq = first.black_fraction(24, 24, 96, 96)
        gap = first.black_fraction(110, 24, 210, 96)
        dark = first.black_fraction(24, 144, 156, 216)
        light = first.black_fraction(164, 144, 296, 216)
        if not (sq > 0.97 and gap < 0.03 and 0.1 < light < dark < 0.97):
            raise Bad("the picture is not where it belongs: square %.2f, white %.2f, "
                      "dark grey %.2f, light grey %.2f" % (sq, gap, dark, light))
    if exp.get("red") == "1":
        red = first.info["red"]
        # The red square sits at (220..300, 20..100) of the picture.  Pure
        # red is a dark grey to the dithering of the red plane, so it is not
        # solid there; nothing else is red, and nothing black lies under it.
        inside = red.black_fraction(224, 24, 296, 96)
        outside = red.black_fraction(0, 110, red.width, red.height)
        black_there = first.black_fraction(224, 24, 296, 96)
        if not (inside > 0.6 and outside < 0.01 and black_there < 0.03):
            raise Bad("red plane wrong: red square %.2f, red elsewhere %.2f, "
                      "black under the red square %.2f" % (inside, outside, black_there))
        out.append("red=%.3f" % red.black_fraction())
    out.append("first=%dx%d" % (first.width, first.height))
    out.append("black=%.4f" % first.black_fraction())
    print(" ".join(out))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except Bad as e:
        print(str(e))
        sys.exit(1)
    except (IndexError, struct.error) as e:
        print("stream ends in the middle of a command (%s)" % e)
        sys.exit(1)
