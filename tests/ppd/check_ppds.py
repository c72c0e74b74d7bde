#!/usr/bin/env python3
"""Checks every generated PPD against what the quillfeed filter reads.

The filter picks its printer language by cupsModelNumber and reads a fixed
set of option keywords by their exact name, turning the marked choice into a
number with atoi() or comparing it with a few words.  A PPD that misspells a
keyword, offers a choice the filter does not recognise, offers an option its
printer family never reads, or makes the roll page one dot narrower than the
print head passes cupstestppd and CUPS alike and then silently prints wrong.

Usage: check_ppds.py PPD-DIRECTORY
"""
import glob
import math
import os
import re
import sys

# ------------------------------------------------- the filter's side
INT = re.compile(r"^-?\d+$")
MEDIA_TYPES = {  # zeMediaTracking choices the filter knows, and their type
    "Continuous": 0, "A4Stock": 0, "Stock": 0, "Gap": 1, "BLine": 2,
    "BLine_Fold": 2, "Perforated": 3, "Roll": 4, "Recording": 5, "Tattoo": 6,
    "TattooWrinkle": 7, "TattooGuidelines": 7, "ContinuousRoll": 8,
    "UsLetterFold": 9, "A4Fold": 10, "Transparent": 11, "BLineGap": 12, "Tube": 13,
}


def ints(lo=None, hi=None):
    def check(choice):
        if not INT.match(choice):
            return "is not a whole number"
        v = int(choice)
        if (lo is not None and v < lo) or (hi is not None and v > hi):
            return "is outside %s..%s" % (lo, hi)
        return None
    return check


def default_or(check):
    return lambda c: None if c == "Default" else check(c)


def words(*allowed):
    return lambda c: None if c in allowed else "is not one of %s" % (allowed,)


def media(c):
    return None if c in MEDIA_TYPES else "is not a media type the filter knows"


# Options of the page preparation, read for every family, with the choice
# that leaves the page as it is (the filter's own default).
COMMON = {
    "Rotate": (words("0", "1", "2", "3"), "0"),
    "ImageOffsetX": (ints(), "0"),
    "ImageOffsetY": (ints(), "0"),
    "Brightness": (ints(-255, 255), "0"),
    "qfBrightness": (default_or(ints(-255, 255)), "Default"),  # overrides Brightness
    "Contrast": (ints(-100), "0"),
    "ImageEnhance": (ints(1), "10"),
    "ImageFilter": (ints(0, 10), "3"),
    "Threshold": (ints(0, 255), "175"),
    "CropEdgeTop": (ints(), "0"),
    "CropEdgeLeft": (ints(), "0"),
    "CropEdgeRight": (ints(), "0"),
    "CropEdgeBottom": (ints(), None),       # rolls trim their white tail
}
# The label printers offer one more dithering method and default to it.
LABEL_DITHER = {"ImageFilter": (ints(0, 11), "11")}
# Options each family reads; default None: any default the choices allow.
FAMILY = {
    20: dict(LABEL_DITHER, **{  # TSPL
        "MediaMethod": (words("Direct", "Normal", "Ribbon"), "Direct"),
        # Ranges of numbers in printer commands: the settings reader holds
        # choices outside them at their ends.
        "AdjustHoriaontal": (ints(0, 152), "0"),
        "AdjustVertical": (ints(0, 152), "0"),
        "zeMediaTracking": (media, "Gap"),
        "FeedOffset": (ints(-25, 100), "0"),
        "Darkness": (default_or(ints(0, 15)), "Default"),
        "zePrintRate": (default_or(ints(1, 12)), "Default"),
        "AutoDotted": (words("0", "1"), "0"),
        "ImageCompress": (words("0", "1"), "0"),
        "GapHeight": (ints(0, 25), "3"),
        "GapOffset": (ints(-152, 152), "0"),
        "PostAction": (words("0", "1", "2", "3", "4"), "0"),
        "SendSetc": (words("0", "1"), "1"),
        "qfStatusQuery": (words("0", "1"), "1"),
    }),
    21: {  # ESC/POS: a feed only acts when it is above 0
        "MediaAlign": (words("Left", "Center", "Right"), "Center"),
        "FeedOffset": (ints(0, 100), "0"),  # no gap inside a receipt
        # Receipts: one per job, fed past the cutter and cut at its end.
        "ReceiptMode": (words("0", "1"), "1"),
        "CutMode": (words("0", "1", "2", "3", "4"), "1"),
        "CashDrawer": (words("0", "1", "2"), "0"),
        "BandRows": (ints(1, 65535), "256"),
        "CutterFeed": (ints(0, 100), None),
        "qfStatusQuery": (words("0", "1"), "1"),
    },
    22: dict(LABEL_DITHER, **{  # CPCL
        "AdjustHoriaontal": (ints(0, 152), "0"),
        "zeMediaTracking": (media, "Gap"),
        "qfStatusQuery": (words("0", "1"), "1"),
    }),
    23: {  # Paperang
        "zeMediaTracking": (media, "Continuous"),
    },
    24: {  # PeriPage
        "zeMediaTracking": (media, "Continuous"),
        "Darkness": (default_or(ints(0, 15)), "Default"),
        "MediaAlign": (words("Left", "Center", "Right"), "Center"),
        "FeedOffset": (ints(0, 100), "0"),
        "ImageCompress": (words("0", "1"), "0"),
    },
    25: {  # cat printers: steps of the energy table, speed bytes
        "FeedOffset": (ints(0, 100), "0"),
        "Darkness": (ints(1, 5), "3"),
        "zePrintRate": (default_or(ints(1, 2)), "Default"),
        "qfStatusQuery": (words("0", "1"), "1"),  # the app asks over Bluetooth LE
    },
    26: dict(LABEL_DITHER, **{  # Niimbot: the density byte, the label type
        "zeMediaTracking": (media, "Gap"),
        "Darkness": (default_or(ints(1, 5)), "Default"),
    }),
    27: {  # Phomemo: density and speed bytes; media per model
        "zeMediaTracking": (words("Gap", "Continuous", "BLine"), None),
        "Darkness": (ints(1, 15), "8"),
        "zePrintRate": (default_or(ints(1, 5)), "Default"),
        "qfStatusQuery": (words("0", "1"), "0"),  # replies not yet seen on our printers
    },
}
CUPS_OPTIONS = {"PageSize", "PageRegion", "Resolution", "ColorModel"}
# Print heads of the roll printers, in dots: the page must be exactly that
# wide, so that every dot of the head is used and none is cut off.
HEAD_DOTS = {
    "quillfeed-escpos-58.ppd": 384, "quillfeed-escpos-80.ppd": 576,
    "quillfeed-paperang-p1.ppd": 384, "quillfeed-paperang-p2.ppd": 576,
    "quillfeed-peripage-a6.ppd": 384, "quillfeed-peripage-a6plus.ppd": 576,
}
HEAD_DOTS.update({"quillfeed-cat-%s.ppd" % m: 384 for m in (
    "gb01", "gb02", "gb03", "gt01", "mx05", "mx06", "mx08", "mx09", "mx10", "mx11", "mxw01")})
BITS_PER_PIXEL_READ = {1, 4, 8, 24, 32}


# --------------------------------------------------------------- PPD
class Ppd:
    def __init__(self, path):
        self.attrs = {}        # keyword -> list of (qualifier, value)
        self.options = {}      # keyword -> {"choices": {name: code}, "default": ...}
        text = open(path, encoding="latin-1").read()
        # Values may span lines inside quotes.
        for m in re.finditer(r'^\*([^\s:%]+)(?:\s+([^:/\n]+)(?:/[^:\n]*)?)?:\s*'
                             r'("(?:[^"]*)"|[^\n]*)', text, re.M):
            key, qualifier, value = m.group(1), (m.group(2) or "").strip(), m.group(3).strip()
            if value.startswith('"'):
                value = value[1:-1]
            elif key not in ("OpenUI", "CloseUI", "OrderDependency") and \
                    not key.startswith(("Default", "Param")) and qualifier:
                value = None    # an option choice's code is always quoted
            self.attrs.setdefault(key, []).append((qualifier, value))
        for qualifier, value in self.attrs.get("OpenUI", []):
            name = qualifier.lstrip("*")
            self.options[name] = {"choices": {}, "default": None}
        for name, opt in self.options.items():
            opt["choices"] = {s: v for s, v in self.attrs.get(name, [])}
            d = self.attrs.get("Default" + name)
            opt["default"] = d[0][1] if d else None

    def attr(self, key):
        v = self.attrs.get(key)
        return v[0][1] if v else None


def check(path):
    errors = []
    name = os.path.basename(path)
    ppd = Ppd(path)

    model = ppd.attr("cupsModelNumber")
    if model is None or not INT.match(model) or int(model) not in FAMILY:
        return ["cupsModelNumber %r is not one the filter knows (20 to 27)" % model]
    model = int(model)
    wanted = dict(COMMON)
    wanted.update(FAMILY[model])

    # Exactly the options the filter reads, plus CUPS's own.
    offered = set(ppd.options) - CUPS_OPTIONS
    for kw in sorted(offered - set(wanted)):
        errors.append("offers %s, which the filter does not read for model %d" % (kw, model))
    for kw in sorted(set(wanted) - offered):
        errors.append("does not offer %s" % kw)
    for kw in sorted(offered & set(wanted)):
        valid, neutral = wanted[kw]
        opt = ppd.options[kw]
        for choice, code in opt["choices"].items():
            if code is None:
                errors.append("%s choice %r: its line does not parse (a ':' in the "
                              "text?)" % (kw, choice))
            why = valid(choice)
            if why:
                errors.append("%s choice %r %s" % (kw, choice, why))
        if opt["default"] not in opt["choices"]:
            errors.append("%s default %r is not a choice" % (kw, opt["default"]))
        elif neutral is not None and opt["default"] != neutral:
            errors.append("%s defaults to %r, not %r" % (kw, opt["default"], neutral))
    # A cut by default must come with a feed that brings the last line past
    # the cutter, or it cuts through the receipt's last lines.
    cut = ppd.options.get("CutMode", {}).get("default")
    if cut not in (None, "0"):
        feed = ppd.options.get("CutterFeed", {}).get("default") or ""
        if not INT.match(feed) or int(feed) <= 0:
            errors.append("CutMode %s by default, but CutterFeed %r feeds nothing first" % (cut, feed))
    if "zeMediaTracking" in ppd.options:
        types = [MEDIA_TYPES.get(c) for c in ppd.options["zeMediaTracking"]["choices"]]
        if len(types) != len(set(types)):
            errors.append("zeMediaTracking offers two choices of the same media type")

    # The filter behind the queue, and the route that keeps pictures whole:
    # the raster input must cost more than the PWG-labelled one by more than
    # imagetopdf + gstoraster - imagetoraster (164 - 100) and by less than
    # rastertopwg (100).
    filters = {}
    for _, v in ppd.attrs.get("cupsFilter2", []):
        src, dst, cost, prog = v.split()
        if prog != "quillfeed":
            errors.append("cupsFilter2 runs %s, not quillfeed" % prog)
        filters[src] = int(cost)
    if "application/vnd.cups-raster" not in filters or "image/pwg-raster" not in filters:
        errors.append("cupsFilter2 lines for CUPS raster and PWG raster expected, got %s"
                      % sorted(filters))
    else:
        gap = filters["application/vnd.cups-raster"] - filters["image/pwg-raster"]
        if not 64 < gap < 100:
            errors.append("filter costs send pictures through imagetoraster "
                          "or raster files through rastertopwg")

    # Resolution: one, square (the filter converts with the horizontal one).
    res = ppd.options.get("Resolution", {}).get("choices", {})
    if len(res) != 1:
        errors.append("%d resolutions, expected one" % len(res))
    dpi = None
    for choice, code in res.items():
        m = re.search(r"HWResolution\[(\d+) (\d+)\]", code)
        if not m or m.group(1) != m.group(2) or choice != m.group(1) + "dpi":
            errors.append("resolution %s has code %r" % (choice, code))
        else:
            dpi = int(m.group(1))

    # Colour models produce a raster depth the filter reads; grey 8 bits by
    # default (the filter dithers), colour by default on two-colour models.
    two_colour = ppd.attr("DoubleColor")
    cm = ppd.options.get("ColorModel")
    if not cm:
        errors.append("no ColorModel")
    else:
        for choice, code in cm["choices"].items():
            space = re.search(r"/cupsColorSpace (\d+)", code)
            bits = re.search(r"/cupsBitsPerColor (\d+)", code)
            if not space or not bits:
                errors.append("ColorModel %s does not set colour space and depth" % choice)
                continue
            channels = {0: 1, 1: 3}.get(int(space.group(1)))
            if channels is None or channels * int(bits.group(1)) not in BITS_PER_PIXEL_READ:
                errors.append("ColorModel %s gives a raster the filter cannot read" % choice)
        default_code = cm["choices"].get(cm["default"], "")
        want = "/cupsColorSpace 1" if two_colour else "/cupsColorSpace 0"
        if want not in default_code or "/cupsBitsPerColor 8" not in default_code:
            errors.append("ColorModel default %s is not 8-bit %s"
                          % (cm["default"], "colour" if two_colour else "grey"))
    if two_colour not in (None, "1"):
        errors.append("DoubleColor is %r" % two_colour)
    if two_colour and ppd.attr("ColorDevice") != "True":
        errors.append("two-colour model is not a colour device")

    # Pages print edge to edge: the filter sends the whole page as the label.
    for size, area in ppd.attrs.get("ImageableArea", []):
        dims = dict(ppd.attrs.get("PaperDimension", [])).get(size)
        if dims is None or area.split()[:2] != ["0", "0"] or area.split()[2:] != dims.split():
            errors.append("page size %s has margins (%s of %s)" % (size, area, dims))

    # Roll printers: every page, and the widest custom page, is exactly as
    # wide as the head, whether the raster filter rounds or truncates.
    head = HEAD_DOTS.get(name)
    if model in (21, 23, 24, 25) and head is None:
        errors.append("no print head width known for this roll printer")
    if head and dpi:
        widths = [(s, float(v.split()[0])) for s, v in ppd.attrs.get("PaperDimension", [])]
        for qualifier, value in ppd.attrs.get("ParamCustomPageSize", []):
            if qualifier == "Width":
                widths.append(("custom maximum", float(value.split()[3])))
        for size, wpt in widths:
            dots = wpt * dpi / 72
            if math.floor(dots) != head or round(dots) != head:
                errors.append("page %s is %.3f dots wide, the head %d" % (size, dots, head))

    # The head width the filter checks pages against: on roll printers the
    # width of the roll; on label printers every page fits across the head,
    # or, turned by 90 degrees, along it.
    hw = ppd.attr("qfHeadWidth")
    if hw is None or not INT.match(hw) or int(hw) <= 0:
        errors.append("qfHeadWidth %r is not a width in dots" % hw)
    elif head is not None and int(hw) != head:
        errors.append("qfHeadWidth %s, but the head is %d dots" % (hw, head))
    elif dpi:
        rotatable = 0
        for size, dims in ppd.attrs.get("PaperDimension", []):
            w, h = (float(v) * dpi / 72 for v in dims.split())
            if round(w) > int(hw):
                rotatable += 1
                if round(h) > int(hw):
                    errors.append("page %s fits the head of %s dots neither way" % (size, hw))
        if model in (20, 22) and not rotatable:
            errors.append("no landscape page size to rotate into")

    # Brightness presets: each must mark a Brightness choice that exists.
    bright = ppd.options.get("Brightness", {}).get("choices", {})
    for qualifier, value in ppd.attrs.get("APPrinterPreset", []):
        marks = re.findall(r"\*(\S+)\s+(\S+)", value)
        if not marks:
            errors.append("preset %s marks nothing" % qualifier)
        for kw, choice in marks:
            if kw != "Brightness" or choice not in bright:
                errors.append("preset %s marks %s %s, which is not offered" % (qualifier, kw, choice))
    return errors


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    ppds = sorted(glob.glob(os.path.join(sys.argv[1], "*.ppd")))
    if not ppds:
        print("no PPD files in %s" % sys.argv[1])
        return 1
    families = set()
    failed = 0
    for path in ppds:
        errors = check(path)
        model = Ppd(path).attr("cupsModelNumber")
        families.add(model)
        if errors:
            failed += 1
            for e in errors:
                print("%s: %s" % (os.path.basename(path), e))
        else:
            print("%s: ok (model %s)" % (os.path.basename(path), model))
    missing = {str(m) for m in FAMILY} - families
    if missing:
        print("no PPD for model number(s) %s" % ", ".join(sorted(missing)))
    print("check_ppds: %d PPD files, %d with errors" % (len(ppds), failed))
    return 1 if failed or missing else 0

if __name__ == "__main__":
    sys.exit(main())
