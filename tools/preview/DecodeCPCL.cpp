#include "DecodeCPCL.h"

namespace qf::preview {

namespace {

constexpr long kMaxWidthBytes = 1L << 20;
constexpr long kMaxRows = 1L << 24;
constexpr long kMaxPlacement = 65535;

class CpclDecoder {
public:
    explicit CpclDecoder(DecodeContext &ctx) : ctx_(ctx) {}

    void Run()
    {
        size_t pos = 0;
        while (pos < ctx_.size()) {
            size_t next = pos;
            // A status query between labels prints nothing.
            if (!pageOpen_ && ctx_.Matches(pos, "\x1Bh")) {
                ctx_.List(pos, "1B 68  ESC h status query");
                pos += 2;
                continue;
            }
            if (!pageOpen_) {
                if (!ctx_.Matches(pos, "! ")) {
                    ctx_.Fail(pos, "\"! \" starting a label");
                    return;
                }
                if (!Header(pos, next))
                    return;
            } else if (!Command(pos, next)) {
                return;
            }
            pos = next;
        }
        if (pageOpen_)
            ctx_.Fail(ctx_.size(), "PRINT ending the label that starts at byte " + std::to_string(page_.offset));
    }

private:
    bool Header(size_t start, size_t &next)
    {
        std::string_view text;
        if (!ctx_.ReadLine(start, text, next))
            return false;
        Scanner sc(ctx_, text, start);
        long offset = 0, hres = 0, vres = 0, height = 0, qty = 0;
        if (!sc.Expect("! ") || !sc.Int(offset, "horizontal offset") || !sc.Expect(" ") ||
            !sc.IntIn(hres, 1, 100000, "horizontal resolution") || !sc.Expect(" ") ||
            !sc.IntIn(vres, 1, 100000, "vertical resolution") || !sc.Expect(" ") ||
            !sc.IntIn(height, 0, kMaxRows, "label height") || !sc.Expect(" ") ||
            !sc.IntIn(qty, 1, 100000, "quantity") || !sc.End("label header"))
            return false;
        page_ = Page();
        page_.offset = start;
        page_.params["offset"] = std::to_string(offset);
        page_.params["hres"] = std::to_string(hres);
        page_.params["vres"] = std::to_string(vres);
        page_.params["label-height"] = std::to_string(height);
        page_.params["quantity"] = std::to_string(qty);
        labelHeight_ = height;
        pageOpen_ = true;
        haveGraphics_ = false;
        ctx_.List(start, std::string(text) + "  (label: offset " + std::to_string(offset) + ", " +
                             std::to_string(hres) + " x " + std::to_string(vres) + " dpi, " + std::to_string(height) +
                             " rows high, quantity " + std::to_string(qty) + ")");
        return true;
    }

    bool Command(size_t start, size_t &next)
    {
        if (!(ctx_.Matches(start, "PAGE-WIDTH ") || ctx_.Matches(start, "CG ") || ctx_.Matches(start, "FORM") ||
              ctx_.Matches(start, "PRINT")))
            return ctx_.Fail(start, "a CPCL command (PAGE-WIDTH, CG, FORM, PRINT)");
        std::string_view text;
        if (!ctx_.ReadLine(start, text, next))
            return false;
        Scanner sc(ctx_, text, start);
        const std::string line(text);
        if (sc.Accept("PAGE-WIDTH ")) {
            long w = 0;
            if (!sc.IntIn(w, 0, kMaxWidthBytes * 8, "page width in dots") || !sc.End("PAGE-WIDTH"))
                return false;
            page_.params["page-width"] = std::to_string(w);
            ctx_.List(start, line);
            return true;
        }
        if (sc.Accept("CG "))
            return Graphics(start, sc, line, next);
        if (text == "FORM") {
            page_.params["form"] = "1";
            ctx_.List(start, line + "  (feed to the next label)");
            return true;
        }
        if (text == "PRINT") {
            ctx_.List(start, line);
            ctx_.AddPage(std::move(page_));
            pageOpen_ = false;
            return true;
        }
        return ctx_.Fail(start, "a CPCL command (PAGE-WIDTH, CG, FORM, PRINT)");
    }

    bool Graphics(size_t start, Scanner &sc, const std::string &line, size_t &next)
    {
        long w = 0, h = 0, x = 0, y = 0;
        if (!sc.IntIn(w, 0, kMaxWidthBytes, "graphics width in bytes") || !sc.Expect(" "))
            return false;
        size_t rowsAt = sc.Offset();
        if (!sc.IntIn(h, 0, kMaxRows, "graphics height in rows") || !sc.Expect(" ") ||
            !sc.IntIn(x, 0, kMaxPlacement, "graphics x") || !sc.Expect(" ") ||
            !sc.IntIn(y, 0, kMaxPlacement, "graphics y") || !sc.End("CG"))
            return false;
        if (haveGraphics_)
            return ctx_.Fail(start, "PRINT before a second CG (one image per label)");
        if (y + h > labelHeight_)
            return ctx_.Fail(rowsAt, "at most " + std::to_string(labelHeight_ - y < 0 ? 0 : labelHeight_ - y) +
                                         " rows, to fit the label height " + std::to_string(labelHeight_) +
                                         " of the header at byte " + std::to_string(page_.offset));
        const uint64_t bytes = uint64_t(w) * uint64_t(h);
        if (bytes > kMaxPlaneBytes)
            return ctx_.Fail(start + 3, "graphics of at most " + std::to_string(kMaxPlaneBytes) + " bytes");
        const size_t dataAt = next;
        if (!ctx_.Need(dataAt, bytes, "graphics data of " + std::to_string(w) + " x " + std::to_string(h) + " bytes"))
            return false;
        Plane &plane = page_.black;
        plane.x = static_cast<int>(x);
        plane.y = static_cast<int>(y);
        plane.widthBytes = static_cast<int>(w);
        plane.height = static_cast<int>(h);
        plane.bits.assign(ctx_.data() + dataAt, ctx_.data() + dataAt + bytes);
        haveGraphics_ = true;
        next = dataAt + static_cast<size_t>(bytes);
        ctx_.List(start, line + "  (" + std::to_string(w) + " bytes = " + std::to_string(w * 8) + " dots x " +
                             std::to_string(h) + " rows at " + std::to_string(x) + "," + std::to_string(y) + ", " +
                             std::to_string(bytes) + " data bytes from byte " + std::to_string(dataAt) + ", " +
                             std::to_string(plane.CountDots()) + " dots)");
        // No line end follows the data: the next command starts right after it.
        if (next < ctx_.size() && !(ctx_.Matches(next, "FORM") || ctx_.Matches(next, "PRINT") ||
                                    ctx_.Matches(next, "PAGE-WIDTH ") || ctx_.Matches(next, "CG ")))
            return ctx_.Fail(next, "FORM or PRINT right after the " + std::to_string(bytes) + " bytes of CG data");
        return true;
    }

    DecodeContext &ctx_;
    Page page_;
    bool pageOpen_ = false;
    bool haveGraphics_ = false;
    long labelHeight_ = 0;
};

} // namespace

void DecodeCpcl(DecodeContext &ctx)
{
    CpclDecoder(ctx).Run();
}

} // namespace qf::preview
