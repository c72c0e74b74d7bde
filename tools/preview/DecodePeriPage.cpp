#include "DecodePeriPage.h"

#include "DecodeESCPOS.h"
#include "Inflate.h"

namespace qf::preview {

namespace {

// The printer inflates with a 1 KiB window; data reaching further back is
// refused as the printer would.
constexpr int kPeriPageWindowBits = 10;
// Band form of the compressed raster (GS v 0 uses its mode byte, 0 to 3).
constexpr int kCompressedForm = 0x100;

class PeriPageDecoder : public EscPosDecoder {
public:
    using EscPosDecoder::EscPosDecoder;

protected:
    std::string Expected() const override
    {
        return inFrame_ ? "a PeriPage command (10 FF FE 45, 10 FF 10 03, 10 FF 10 00, 10 50, 1D 0C, 1F 00, "
                          "1B 40, 1B 61, 1B 4A, 1D 76 30)"
                        : "10 FF FE 01 starting a page";
    }

    bool InitEndsPage() const override { return false; }

    bool Admit(size_t pos) override
    {
        if (!inFrame_)
            return ctx_.Fail(pos, "10 FF FE 01 starting a page");
        return true;
    }

    bool AdmitRaster(size_t pos) override
    {
        if (current_)
            return ctx_.Fail(pos, "10 FF FE 45 before a second raster (one image per page)");
        return true;
    }

    void Finish() override
    {
        if (inFrame_)
            ctx_.Fail(ctx_.size(), "10 FF FE 45 ending the page that starts at byte " + std::to_string(frameStart_));
    }

    bool Extra(size_t pos, size_t &next, bool &handled) override
    {
        handled = true;
        const uint8_t *d = ctx_.data();
        static const Form forms[] = {
            {{0x10, 0xFF, 0xFE, 0x01}, 4, 4, "start of page (10 FF FE 01)"},
            {{0x10, 0xFF, 0xFE, 0x45}, 4, 4, "end of page (10 FF FE 45)"},
            {{0x10, 0xFF, 0x10, 0x03}, 4, 5, "paper type (10 FF 10 03 p)"},
            {{0x10, 0xFF, 0x10, 0x00}, 4, 5, "density (10 FF 10 00 n)"},
            {{0x10, 0x50}, 2, 2, "cut line (10 50)"},
            {{0x1D, 0x0C}, 2, 2, "feed to mark (1D 0C)"},
            {{0x1F, 0x00}, 2, 10, "compressed raster header (1F 00 wH wL hH hL L3 L2 L1 L0)"},
        };
        const Form *form = nullptr;
        if (!FindForm(pos, forms, sizeof forms / sizeof forms[0], form))
            return false;
        if (!form) {
            handled = false;
            return true;
        }
        if (!ctx_.Has(pos, form->length))
            return Truncated(pos, form->name);
        next = pos + form->length;
        const std::string hex = Hex(d + pos, form->length);
        const int which = static_cast<int>(form - forms);
        if (which == 0) {
            if (inFrame_)
                return ctx_.Fail(pos, "10 FF FE 45 ending the page that starts at byte " + std::to_string(frameStart_));
            inFrame_ = true;
            frameStart_ = pos;
            pendingStarted_ = false;
            StartPending(pos);
            ctx_.List(pos, hex + "  start of page");
            return true;
        }
        if (!Admit(pos))
            return false;
        switch (which) {
        case 1: // end of page
            ctx_.List(pos, hex + "  end of page");
            if (!current_) {
                // A frame whose image was dropped is still a page.
                TakeRaster(Plane(), "");
            }
            FinishPage();
            inFrame_ = false;
            return true;
        case 2: {
            uint8_t p = d[pos + 4];
            if (p > 5)
                return ctx_.Fail(pos + 4, "paper type 00 to 05, found " + HexByte(p));
            static const char *names[] = {"black mark", "continuous", "gap label",
                                          "perforated", "tattoo",     "tattoo with guide lines"};
            SetParam("paper", std::to_string(p));
            ctx_.List(pos, hex + "  paper type " + std::to_string(p) + " (" + names[p] + ")");
            return true;
        }
        case 3: {
            uint8_t n = d[pos + 4];
            if (n > 15)
                return ctx_.Fail(pos + 4, "density 00 to 0F, found " + HexByte(n));
            SetParam("density", std::to_string(n));
            ctx_.List(pos, hex + "  density " + std::to_string(n));
            return true;
        }
        case 4:
            SetParam("cut-line", "1");
            ctx_.List(pos, hex + "  cut line");
            return true;
        case 5:
            SetParam("locate", "1");
            ctx_.List(pos, hex + "  feed to the print start mark");
            return true;
        case 6:
            return Compressed(pos, hex, next);
        }
        return ctx_.Fail(pos, Expected());
    }

private:
    bool Compressed(size_t pos, const std::string &hex, size_t &next)
    {
        const uint8_t *d = ctx_.data();
        unsigned w = (d[pos + 2] << 8) | d[pos + 3];
        unsigned h = (d[pos + 4] << 8) | d[pos + 5];
        uint32_t length = (uint32_t(d[pos + 6]) << 24) | (uint32_t(d[pos + 7]) << 16) | (uint32_t(d[pos + 8]) << 8) |
                          uint32_t(d[pos + 9]);
        uint64_t bytes = uint64_t(w) * h;
        if (bytes > kMaxPlaneBytes)
            return ctx_.Fail(pos + 2, "a raster of at most " + std::to_string(kMaxPlaneBytes) + " bytes");
        // Compressed rasters are one form of their own, apart from GS v 0.
        const bool band = IsBand(pos, static_cast<int>(w), kCompressedForm);
        if (!band && !AdmitRaster(pos))
            return false;
        if (!ctx_.Need(pos + 10, length, "compressed raster data"))
            return false;
        CompressedBlock blk;
        blk.offset = pos + 10;
        blk.length = length;
        blk.zlibHeader = false;
        blk.rawWindowBits = kPeriPageWindowBits;
        blk.expectedSize = bytes;
        Plane plane;
        plane.widthBytes = static_cast<int>(w);
        plane.height = static_cast<int>(h);
        if (!InflateChecked(ctx_, blk, plane.bits))
            return false;
        next = pos + 10 + length;
        ctx_.List(pos, hex + "  compressed raster, " + std::to_string(w) + " bytes = " + std::to_string(w * 8) +
                           " dots x " + std::to_string(h) + " rows, " + std::to_string(length) +
                           " bytes of deflate data and Adler-32 inflating to " + std::to_string(bytes) + ", " +
                           std::to_string(plane.CountDots()) + " dots" + (band ? ", continuing the page" : ""));
        return TakeBandOrRaster(band, next, kCompressedForm, std::move(plane), "1");
    }

    bool inFrame_ = false;
    size_t frameStart_ = 0;
};

} // namespace

void DecodePeriPage(DecodeContext &ctx)
{
    PeriPageDecoder(ctx).Run();
}

} // namespace qf::preview
