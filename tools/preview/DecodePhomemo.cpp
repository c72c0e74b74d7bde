#include "DecodePhomemo.h"

#include <optional>

namespace qf::preview {

namespace {

constexpr int kMaxBandRows = 255;

class PhomemoDecoder {
public:
    explicit PhomemoDecoder(DecodeContext &ctx) : ctx_(ctx) {}

    void Run()
    {
        size_t pos = 0;
        while (pos < ctx_.size()) {
            size_t next = 0;
            if (!Command(pos, next))
                return;
            pos = next;
        }
        if (current_)
            ctx_.Fail(ctx_.size(),
                      "1F F0 05 00 or 1B 64 n closing the page begun at byte " + std::to_string(current_->offset));
    }

private:
    const uint8_t *At(size_t pos) const { return ctx_.data() + pos; }

    // A setting before a page's first band belongs to it.
    Page &Target() { return current_ ? *current_ : pending_; }

    bool Setting(size_t pos, size_t n, const char *key, const std::string &value, const std::string &what)
    {
        Target().params[key] = value;
        ctx_.List(pos, Hex(At(pos), n) + "  " + what);
        return true;
    }

    bool Command(size_t pos, size_t &next)
    {
        if (!ctx_.Need(pos, 2, "a command"))
            return false;
        const uint8_t a = At(pos)[0], b = At(pos)[1];
        if (a == 0x1B && b == 0x40) {
            next = pos + 2;
            ctx_.List(pos, "1B 40  initialise");
            return true;
        }
        if (a == 0x1B && (b == 0x61 || b == 0x64)) {
            if (!ctx_.Need(pos, 3, b == 0x61 ? "1B 61 n" : "1B 64 n"))
                return false;
            next = pos + 3;
            const uint8_t n = At(pos)[2];
            if (b == 0x61) {
                if (n > 2)
                    return ctx_.Fail(pos + 2, "alignment 0, 1 or 2, found " + HexByte(n));
                return Setting(pos, 3, "align", std::to_string(n), "align " + std::to_string(n));
            }
            return Feed(pos, n);
        }
        if (a == 0x1B && b == 0x4E)
            return Level(pos, next);
        if (a == 0x1F && b == 0x11)
            return Eleven(pos, next);
        if (a == 0x1F && b == 0xF0)
            return Footer(pos, next);
        if (a == 0x1D && b == 0x76)
            return Band(pos, next);
        return ctx_.Fail(pos, "1B 40, 1B 61, 1B 64, 1B 4E, 1F 11, 1F F0 or 1D 76, found " + Hex(At(pos), 2));
    }

    bool Level(size_t pos, size_t &next)
    {
        if (!ctx_.Need(pos, 4, "1B 4E k n"))
            return false;
        next = pos + 4;
        const uint8_t k = At(pos)[2], n = At(pos)[3];
        if (k == 0x0D) {
            if (n < 1 || n > 5)
                return ctx_.Fail(pos + 3, "speed 1 to 5, found " + std::to_string(n));
            return Setting(pos, 4, "speed", std::to_string(n), "speed " + std::to_string(n));
        }
        if (k == 0x04) {
            if (n < 1 || n > 15)
                return ctx_.Fail(pos + 3, "density 1 to 15, found " + std::to_string(n));
            return Setting(pos, 4, "density", std::to_string(n), "density " + std::to_string(n));
        }
        return ctx_.Fail(pos + 2, "0D (speed) or 04 (density) after 1B 4E, found " + HexByte(k));
    }

    bool Eleven(size_t pos, size_t &next)
    {
        if (!ctx_.Need(pos, 3, "1F 11 t"))
            return false;
        const uint8_t t = At(pos)[2];
        next = pos + 3;
        switch (t) {
        case 0x02:
            if (!ctx_.Need(pos, 4, "1F 11 02 n"))
                return false;
            next = pos + 4;
            return Setting(pos, 4, "header", std::to_string(At(pos)[3]), "header " + HexByte(At(pos)[3]));
        case 0x0A:
            return Setting(pos, 3, "media", "gap", "media: labels with gaps");
        case 0x0B:
            return Setting(pos, 3, "media", "continuous", "media: continuous");
        case 0x26:
            return Setting(pos, 3, "media", "marks", "media: black marks");
        case 0x08:
        case 0x11:
        case 0x12:
            ctx_.List(pos, Hex(At(pos), 3) + "  status query");
            return true;
        }
        return ctx_.Fail(pos + 2, "02, 0A, 0B, 26, 08, 11 or 12 after 1F 11, found " + HexByte(t));
    }

    bool Footer(size_t pos, size_t &next)
    {
        if (!ctx_.Need(pos, 4, "1F F0 k 00"))
            return false;
        next = pos + 4;
        const uint8_t k = At(pos)[2];
        if ((k != 0x05 && k != 0x03) || At(pos)[3] != 0x00)
            return ctx_.Fail(pos + 2, "05 00 or 03 00 after 1F F0, found " + Hex(At(pos) + 2, 2));
        if (k == 0x05) {
            if (!current_)
                return ctx_.Fail(pos, "a raster (1D 76 30) before 1F F0 05 00");
            ctx_.List(pos, "1F F0 05 00  next label");
            current_->params["end"] = "label";
            Close();
            return true;
        }
        if (current_ || !closed_)
            return ctx_.Fail(pos, "1F F0 05 00 before 1F F0 03 00");
        ctx_.List(pos, "1F F0 03 00  end of the print");
        return true;
    }

    // 1B 64 n: the M02's feed ends its page; a second adds to the first.
    bool Feed(size_t pos, uint8_t n)
    {
        ctx_.List(pos, "1B 64 " + HexByte(n) + "  feed " + std::to_string(n) + " lines");
        if (current_) {
            current_->params["end"] = "feed";
            current_->params["feed"] = std::to_string(n);
            Close();
            return true;
        }
        if (!closed_ || last_.Param("end") != "feed")
            return ctx_.Fail(pos, "a raster (1D 76 30) before 1B 64");
        Page &page = ctx_.result().pages.back();
        page.params["feed"] = std::to_string(std::stoul(page.Param("feed", "0")) + n);
        return true;
    }

    bool Band(size_t pos, size_t &next)
    {
        if (!ctx_.Need(pos, 8, "1D 76 30 00 xL xH yL yH"))
            return false;
        const uint8_t *p = At(pos);
        if (p[2] != 0x30)
            return ctx_.Fail(pos + 2, "30 after 1D 76, found " + HexByte(p[2]));
        if (p[3] != 0x00)
            return ctx_.Fail(pos + 3, "raster mode 00, found " + HexByte(p[3]));
        const int w = p[4] | (p[5] << 8), h = p[6] | (p[7] << 8);
        if (w == 0)
            return ctx_.Fail(pos + 4, "a row of at least one byte");
        if (h > kMaxBandRows)
            return ctx_.Fail(pos + 6, "at most 255 rows a band, found " + std::to_string(h));
        const uint64_t n = uint64_t(w) * h;
        if (!ctx_.Need(pos + 8, n, std::to_string(n) + " bytes of raster data"))
            return false;
        if (!current_) {
            current_ = std::move(pending_);
            pending_ = Page();
            current_->offset = pos;
            current_->black.widthBytes = w;
        } else if (current_->black.widthBytes != w) {
            return ctx_.Fail(pos + 4, "rows of " + std::to_string(current_->black.widthBytes) +
                                          " bytes as the page's first band, found " + std::to_string(w));
        }
        Plane &plane = current_->black;
        if (plane.bits.size() + n > kMaxPlaneBytes)
            return ctx_.Fail(pos, "the end of the page before it exceeds " + std::to_string(kMaxPlaneBytes) + " bytes");
        plane.bits.insert(plane.bits.end(), p + 8, p + 8 + n);
        plane.height += h;
        ++bands_;
        current_->params["row-bytes"] = std::to_string(w);
        current_->params["bands"] = std::to_string(bands_);
        ctx_.List(pos, Hex(p, 8) + " <" + std::to_string(n) + " bytes>  raster " + std::to_string(w) + " bytes x " +
                           std::to_string(h) + " rows");
        next = pos + 8 + static_cast<size_t>(n);
        return true;
    }

    void Close()
    {
        last_.params = current_->params;
        ctx_.AddPage(std::move(*current_));
        current_.reset();
        closed_ = true;
        bands_ = 0;
    }

    DecodeContext &ctx_;
    Page pending_;
    std::optional<Page> current_;
    Page last_; // the params of the last page closed
    bool closed_ = false;
    int bands_ = 0;
};

} // namespace

void DecodePhomemo(DecodeContext &ctx)
{
    PhomemoDecoder(ctx).Run();
}

} // namespace qf::preview
