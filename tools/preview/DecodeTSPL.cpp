#include "DecodeTSPL.h"

#include <algorithm>

#include "Inflate.h"

namespace qf::preview {

namespace {

// Widest and tallest bitmap header values accepted; they keep dot counts
// inside int and are far beyond any print head.
constexpr long kMaxWidthBytes = 1L << 20;
constexpr long kMaxRows = 1L << 24;
constexpr long kMaxPlacement = 65535;

class TsplDecoder {
public:
    explicit TsplDecoder(DecodeContext &ctx) : ctx_(ctx) {}

    void Run()
    {
        size_t pos = 0;
        while (pos < ctx_.size()) {
            // A host asks for the printer's status between commands; the
            // query prints nothing.
            if (ctx_.Matches(pos, "\x1B!?")) {
                ctx_.List(pos, "1B 21 3F  ESC ! ? status query");
                pos += 3;
                continue;
            }
            if (!pageOpen_)
                OpenPage(pos);
            size_t next = pos;
            if (ctx_.Matches(pos, "BITMAP ")) {
                if (!Bitmap(pos, next))
                    return;
            } else {
                // Name the command before looking for its line end, so that
                // stray binary data fails where it starts.
                if (!KnownCommand(pos)) {
                    ctx_.Fail(pos, kExpectedCommand);
                    return;
                }
                std::string_view text;
                if (!ctx_.ReadLine(pos, text, next))
                    return;
                if (!Command(pos, text))
                    return;
            }
            pos = next;
        }
        if (pageOpen_)
            ctx_.Fail(ctx_.size(), "PRINT ending the page that starts at byte " + std::to_string(page_.offset));
    }

private:
    static constexpr const char *kExpectedCommand =
        "a TSPL command (SIZE, SET, REFERENCE, GAP, BLINE, OFFSET, DENSITY, SPEED, SETC, CLS, SETCOLOR, BITMAP, "
        "PRINT, SFAYPRINT)";

    bool KnownCommand(size_t pos) const
    {
        for (const char *word : {"SIZE ", "SET ", "REFERENCE ", "GAP ", "BLINE ", "OFFSET ", "DENSITY ", "SPEED ",
                                 "SETC ", "CLS", "SETCOLOR ", "PRINT ", "SFAYPRINT "})
            if (ctx_.Matches(pos, word))
                return true;
        return false;
    }

    void OpenPage(size_t pos)
    {
        page_ = Page();
        page_.offset = pos;
        pageOpen_ = true;
        sawSize_ = sawCls_ = redSelected_ = haveBlack_ = false;
    }

    bool OnOff(Scanner &sc, const char *key, std::string_view text, size_t start)
    {
        std::string word;
        if (!sc.Word({"ON", "OFF"}, word, "switch") || !sc.End(std::string(text.substr(0, text.find(' ', 5)))))
            return false;
        page_.params[key] = word;
        ctx_.List(start, std::string(text));
        return true;
    }

    // Optional unit after a SIZE number: " mm", " dot" or none.
    static std::string Unit(Scanner &sc)
    {
        if (sc.Accept(" mm"))
            return " mm";
        if (sc.Accept(" dot"))
            return " dot";
        return "";
    }

    // "<a> dot,<b> dot" of GAP and BLINE.
    bool DotPair(Scanner &sc, const char *key, std::string_view text, size_t start, const char *name)
    {
        long a = 0, b = 0;
        if (!sc.Int(a, std::string(name) + " distance") || !sc.Expect(" dot,") ||
            !sc.Int(b, std::string(name) + " offset") || !sc.Expect(" dot") || !sc.End(name))
            return false;
        page_.params[key] = std::to_string(a) + " dot," + std::to_string(b) + " dot";
        ctx_.List(start, std::string(text));
        return true;
    }

    bool Command(size_t start, std::string_view text)
    {
        Scanner sc(ctx_, text, start);
        const std::string line(text);
        if (sc.Accept("SIZE ")) {
            std::string w, h;
            if (!sc.Decimal(w, "label width"))
                return false;
            std::string wu = Unit(sc);
            if (!sc.Expect(",") || !sc.Decimal(h, "label height"))
                return false;
            std::string hu = Unit(sc);
            if (!sc.End("SIZE"))
                return false;
            page_.params["size"] = w + wu + "," + h + hu;
            sawSize_ = true;
            ctx_.List(start, line + "  (label " + w + wu + " x " + h + hu + ")");
            return true;
        }
        if (sc.Accept("SET RIBBON "))
            return OnOff(sc, "ribbon", text, start);
        if (sc.Accept("SET PEEL "))
            return OnOff(sc, "peel", text, start);
        if (sc.Accept("SET TEAR "))
            return OnOff(sc, "tear", text, start);
        if (sc.Accept("SET CUTTER ") || sc.Accept("SET PARTIAL_CUTTER ")) {
            bool partial = line.rfind("SET PARTIAL_CUTTER ", 0) == 0;
            std::string value;
            long count = 0;
            if (sc.Accept(partial ? "OFF" : "FALSE"))
                value = partial ? "OFF" : "FALSE";
            else if (sc.Accept("BATCH"))
                value = "BATCH";
            else if (sc.Int(count, partial ? "OFF, BATCH or a count" : "FALSE, BATCH or a count", false))
                value = std::to_string(count);
            else
                return false;
            if (!sc.End(partial ? "SET PARTIAL_CUTTER" : "SET CUTTER"))
                return false;
            page_.params[partial ? "partial-cutter" : "cutter"] = value;
            ctx_.List(start, line);
            return true;
        }
        if (sc.Accept("REFERENCE ")) {
            long x = 0, y = 0;
            if (!sc.Int(x, "reference x") || !sc.Expect(",") || !sc.Int(y, "reference y") || !sc.End("REFERENCE"))
                return false;
            page_.params["reference"] = std::to_string(x) + "," + std::to_string(y);
            ctx_.List(start, line + "  (dots)");
            return true;
        }
        if (sc.Accept("GAP "))
            return DotPair(sc, "gap", text, start, "GAP");
        if (sc.Accept("BLINE "))
            return DotPair(sc, "bline", text, start, "BLINE");
        if (sc.Accept("OFFSET ")) {
            long d = 0;
            if (!sc.Int(d, "offset") || !sc.Expect(" dot") || !sc.End("OFFSET"))
                return false;
            page_.params["offset"] = std::to_string(d) + " dot";
            ctx_.List(start, line);
            return true;
        }
        if (sc.Accept("DENSITY ") || sc.Accept("SPEED ")) {
            bool density = line[0] == 'D';
            long v = 0;
            if (!sc.Int(v, density ? "density" : "speed", false) || !sc.End(density ? "DENSITY" : "SPEED"))
                return false;
            page_.params[density ? "density" : "speed"] = std::to_string(v);
            ctx_.List(start, line);
            return true;
        }
        if (sc.Accept("SETC AUTODOTTED "))
            return OnOff(sc, "autodotted", text, start);
        if (sc.Accept("SETC PAUSEKEY "))
            return OnOff(sc, "pausekey", text, start);
        if (sc.Accept("SETC WATERMARK "))
            return OnOff(sc, "watermark", text, start);
        if (text == "CLS") {
            sawCls_ = true;
            ctx_.List(start, line + "  (clear image buffer)");
            return true;
        }
        if (sc.Accept("SETCOLOR RED ")) {
            long v = 0;
            if (!sc.Int(v, "red parameter", false) || !sc.End("SETCOLOR RED"))
                return false;
            page_.params["red-param"] = std::to_string(v);
            redSelected_ = true;
            ctx_.List(start, line + "  (next BITMAP is the red plane)");
            return true;
        }
        if (text == "SETCOLOR BLACK") {
            redSelected_ = false;
            ctx_.List(start, line + "  (next BITMAP is the black plane)");
            return true;
        }
        if (sc.Accept("PRINT ") || sc.Accept("SFAYPRINT ")) {
            const std::string word = line[0] == 'S' ? "SFAYPRINT" : "PRINT";
            long sets = 0, copies = 1;
            if (!sc.Int(sets, "number of label sets", false))
                return false;
            std::string value = std::to_string(sets);
            if (sc.Accept(",")) {
                if (!sc.Int(copies, "number of copies", false))
                    return false;
                value += "," + std::to_string(copies);
            }
            if (!sc.End(word))
                return false;
            if (!sawSize_)
                return ctx_.Fail(start, "SIZE before " + word + " (every page sets its label size)");
            page_.params["print"] = value;
            page_.params["print-command"] = word;
            ctx_.List(start, line);
            ctx_.AddPage(std::move(page_));
            pageOpen_ = false;
            return true;
        }
        return ctx_.Fail(start, kExpectedCommand);
    }

    // BITMAP x,y,w,h,1,<w*h bytes>CR LF   or   BITMAP x,y,w,h,3,n,<n bytes>CR LF
    bool Bitmap(size_t start, size_t &next)
    {
        // The header is at most about 60 bytes; scanning a bounded window
        // keeps the binary data out of the scanner.
        size_t window = std::min<size_t>(ctx_.Left(start), 96);
        std::string_view head(reinterpret_cast<const char *>(ctx_.data() + start), window);
        // A header cut short by the end of input must fail at the end.
        Scanner sc(ctx_, head, start);
        long x = 0, y = 0, w = 0, h = 0, mode = 0, n = 0;
        if (!sc.Expect("BITMAP ") || !sc.IntIn(x, 0, kMaxPlacement, "bitmap x") || !sc.Expect(",") ||
            !sc.IntIn(y, 0, kMaxPlacement, "bitmap y") || !sc.Expect(","))
            return false;
        size_t widthAt = sc.Offset();
        if (!sc.IntIn(w, 0, kMaxWidthBytes, "bitmap width in bytes") || !sc.Expect(",") ||
            !sc.IntIn(h, 0, kMaxRows, "bitmap height") || !sc.Expect(","))
            return false;
        size_t modeAt = sc.Offset();
        if (!sc.Int(mode, "bitmap mode", false))
            return false;
        if (mode != 1 && mode != 3)
            return ctx_.Fail(modeAt, "bitmap mode 1 (plain) or 3 (zlib), found " + std::to_string(mode));
        if (!sc.Expect(","))
            return false;
        if (mode == 3 && (!sc.Int(n, "compressed length", false) || !sc.Expect(",")))
            return false;
        if (!sawCls_)
            return ctx_.Fail(start, "CLS before the first BITMAP of a page");
        if (redSelected_ ? page_.red.has_value() : haveBlack_)
            return ctx_.Fail(start, std::string("PRINT before a second BITMAP for the ") +
                                        (redSelected_ ? "red" : "black") + " plane (one bitmap per plane and page)");

        const uint64_t bytes = uint64_t(w) * uint64_t(h);
        if (bytes > kMaxPlaneBytes)
            return ctx_.Fail(widthAt, "a bitmap of at most " + std::to_string(kMaxPlaneBytes) + " bytes, found " +
                                          std::to_string(bytes));
        const size_t dataAt = sc.Offset();
        Plane plane;
        plane.x = static_cast<int>(x);
        plane.y = static_cast<int>(y);
        plane.widthBytes = static_cast<int>(w);
        plane.height = static_cast<int>(h);
        size_t end = 0;
        std::string what = std::to_string(w) + " x " + std::to_string(h);
        if (mode == 1) {
            if (!ctx_.Need(dataAt, bytes, "plain bitmap data of " + what + " bytes"))
                return false;
            // Plain bitmaps send 1 for white: flip to 1 = dot.
            plane.bits.assign(ctx_.data() + dataAt, ctx_.data() + dataAt + bytes);
            for (uint8_t &b : plane.bits)
                b = static_cast<uint8_t>(~b);
            end = dataAt + bytes;
        } else {
            if (!ctx_.Need(dataAt, static_cast<uint64_t>(n), "zlib bitmap data"))
                return false;
            CompressedBlock blk;
            blk.offset = dataAt;
            blk.length = static_cast<size_t>(n);
            blk.zlibHeader = true;
            blk.expectedSize = bytes;
            if (!InflateChecked(ctx_, blk, plane.bits))
                return false;
            end = dataAt + static_cast<size_t>(n);
        }
        if (end >= ctx_.size())
            return ctx_.Fail(ctx_.size(), "CR LF after the bitmap data");
        if (ctx_.data()[end] != '\r')
            return ctx_.Fail(end, "CR LF after the bitmap data, found " + HexByte(ctx_.data()[end]));
        if (end + 1 >= ctx_.size())
            return ctx_.Fail(ctx_.size(), "LF after the CR that ends the bitmap data");
        if (ctx_.data()[end + 1] != '\n')
            return ctx_.Fail(end + 1,
                             "LF after the CR that ends the bitmap data, found " + HexByte(ctx_.data()[end + 1]));
        next = end + 2;

        std::string header(head.substr(0, dataAt - start));
        std::string note = mode == 1 ? "plain, 1 = white" : "zlib " + std::to_string(n) + " bytes, 1 = black";
        ctx_.List(start, header + "<data>  (" + (redSelected_ ? "red" : "black") + " plane at " + std::to_string(x) +
                             "," + std::to_string(y) + ": " + std::to_string(w) + " bytes = " + std::to_string(w * 8) +
                             " dots x " + std::to_string(h) + " rows, " + note + ", " +
                             std::to_string(plane.CountDots()) + " dots)");
        page_.params["compressed"] = mode == 3 ? "1" : "0";
        if (redSelected_) {
            page_.red = std::move(plane);
        } else {
            page_.black = std::move(plane);
            haveBlack_ = true;
        }
        return true;
    }

    DecodeContext &ctx_;
    Page page_;
    bool pageOpen_ = false;
    bool sawSize_ = false;
    bool sawCls_ = false;
    bool redSelected_ = false;
    bool haveBlack_ = false;
};

} // namespace

void DecodeTspl(DecodeContext &ctx)
{
    TsplDecoder(ctx).Run();
}

} // namespace qf::preview
