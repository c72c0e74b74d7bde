#include "DecodeCat.h"

#include <optional>
#include <vector>

namespace qf::preview {

namespace {

constexpr size_t kFrame = 8;
constexpr size_t kMxLine = 48;

const std::vector<uint8_t> kLatticeStart = {0xAA, 0x55, 0x17, 0x38, 0x44, 0x5F, 0x5F, 0x5F, 0x44, 0x38, 0x2C};
const std::vector<uint8_t> kLatticeEnd = {0xAA, 0x55, 0x17, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17};

size_t Le16(const uint8_t *p)
{
    return static_cast<size_t>(p[0] | (p[1] << 8));
}

uint8_t Reverse(uint8_t b)
{
    uint8_t r = 0;
    for (int k = 0; k < 8; ++k)
        r = static_cast<uint8_t>(r | (((b >> k) & 1) << (7 - k)));
    return r;
}

class CatDecoder {
public:
    explicit CatDecoder(DecodeContext &ctx) : ctx_(ctx) {}

    void Run()
    {
        const uint8_t *d = ctx_.data();
        if (ctx_.Has(0, 2))
            mx_ = d[0] == 0x22 && d[1] == 0x21;
        size_t pos = 0;
        while (pos < ctx_.size()) {
            if (!Frame(pos))
                return;
            pos += kFrame + Le16(d + pos + 4);
        }
        FlushRows();
        if (current_) {
            ctx_.Fail(ctx_.size(), std::string(mx_ ? "flush (AD)" : "lattice end (A6)") +
                                       " closing the page begun at byte " + std::to_string(current_->offset));
            return;
        }
        FlushFinished();
    }

private:
    bool Frame(size_t pos)
    {
        const uint8_t *d = ctx_.data();
        const uint8_t p0 = mx_ ? 0x22 : 0x51, p1 = mx_ ? 0x21 : 0x78;
        if (d[pos] != p0)
            return ctx_.Fail(pos, HexByte(p0) + " starting a frame, found " + HexByte(d[pos]));
        if (!ctx_.Need(pos, 6, "frame header " + HexByte(p0) + " " + HexByte(p1) + " cmd 00 nL nH"))
            return false;
        if (d[pos + 1] != p1)
            return ctx_.Fail(pos + 1, HexByte(p1) + " after " + HexByte(p0) + ", found " + HexByte(d[pos + 1]));
        if (d[pos + 3] != 0x00)
            return ctx_.Fail(pos + 3, "00 after the command byte, found " + HexByte(d[pos + 3]));
        const size_t n = Le16(d + pos + 4);
        if (!ctx_.Need(pos, kFrame + n, "frame of " + std::to_string(kFrame + n) + " bytes"))
            return false;
        const uint8_t want = CatCrc8(d + pos + 6, n);
        if (d[pos + 6 + n] != want)
            return ctx_.Fail(pos + 6 + n,
                             "CRC-8 " + HexByte(want) + " of the payload, found " + HexByte(d[pos + 6 + n]));
        if (d[pos + 7 + n] != 0xFF)
            return ctx_.Fail(pos + 7 + n, "FF ending the frame, found " + HexByte(d[pos + 7 + n]));
        const uint8_t cmd = d[pos + 2];
        if (cmd != (mx_ ? 0xFE : 0xA2))
            FlushRows();
        return mx_ ? Mx(pos, cmd, d + pos + 6, n) : Classic(pos, cmd, d + pos + 6, n);
    }

    bool Size(size_t pos, size_t n, size_t want, const char *name)
    {
        if (n == want)
            return true;
        return ctx_.Fail(pos + 4, std::to_string(want) + " payload bytes for " + name + ", found " + std::to_string(n));
    }

    std::string Head(size_t pos, const uint8_t *p, size_t n) const
    {
        return Hex(ctx_.data() + pos, 6) + " | " + Hex(p, n);
    }

    Page &Target()
    {
        if (current_)
            return *current_;
        if (finished_)
            return *finished_;
        return pending_;
    }

    // A setting before a page belongs to the next page.
    Page &Before()
    {
        FlushFinished();
        return current_ ? *current_ : pending_;
    }

    bool Classic(size_t pos, uint8_t cmd, const uint8_t *p, size_t n)
    {
        switch (cmd) {
        case 0xA4:
            if (!Size(pos, n, 1, "quality"))
                return false;
            Before().params["quality"] = std::to_string(p[0]);
            ctx_.List(pos, Head(pos, p, n) + "  quality " + std::to_string(p[0]));
            return true;
        case 0xBD:
            if (!Size(pos, n, 1, "speed"))
                return false;
            Before().params["speed"] = std::to_string(p[0]);
            ctx_.List(pos, Head(pos, p, n) + "  speed " + std::to_string(p[0]));
            return true;
        case 0xAF: {
            if (n < 1 || n > 4)
                return ctx_.Fail(pos + 4, "1 to 4 payload bytes for energy, found " + std::to_string(n));
            uint32_t v = 0;
            for (size_t i = 0; i < n; ++i)
                v |= uint32_t(p[i]) << (8 * i);
            Before().params["energy"] = std::to_string(v);
            ctx_.List(pos, Head(pos, p, n) + "  energy " + std::to_string(v));
            return true;
        }
        case 0xA6:
            return Lattice(pos, p, n);
        case 0xA2:
            return Row(pos, p, n);
        case 0xA1:
        case 0xA0: {
            const char *name = cmd == 0xA1 ? "feed" : "retract";
            if (!Size(pos, n, 2, name))
                return false;
            if (current_)
                return ctx_.Fail(pos + 2, std::string("lattice end (A6) before a ") + name);
            Page &t = Target();
            const size_t v = Le16(p) + std::stoul(t.Param(name, "0"));
            t.params[name] = std::to_string(v);
            ctx_.List(pos, Head(pos, p, n) + "  " + name + " " + std::to_string(Le16(p)));
            return true;
        }
        case 0xA3:
            if (!Size(pos, n, 1, "state request"))
                return false;
            ctx_.List(pos, Head(pos, p, n) + "  state request");
            return true;
        }
        return ctx_.Fail(pos + 2, "command A0, A1, A2, A3, A4, A6, AF or BD, found " + HexByte(cmd));
    }

    bool Lattice(size_t pos, const uint8_t *p, size_t n)
    {
        const std::vector<uint8_t> got(p, p + n);
        if (got == kLatticeStart) {
            if (current_)
                return ctx_.Fail(pos,
                                 "lattice end (A6) closing the page begun at byte " + std::to_string(current_->offset));
            Open(pos);
            ctx_.List(pos, Head(pos, p, 3) + " ...  lattice start");
            return true;
        }
        if (got == kLatticeEnd) {
            if (!current_)
                return ctx_.Fail(pos, "lattice start (A6) before lattice end");
            ctx_.List(pos, Head(pos, p, 3) + " ...  lattice end, " + std::to_string(rows_) + " rows");
            Close();
            return true;
        }
        return ctx_.Fail(pos + 6, "the lattice start or end payload, found " + Hex(p, n));
    }

    void Open(size_t pos)
    {
        FlushFinished();
        current_ = std::move(pending_);
        pending_ = Page();
        current_->offset = pos;
        rows_ = 0;
        rowBytes_ = -1;
    }

    void Close()
    {
        current_->black.height = rows_;
        current_->black.widthBytes = rowBytes_ < 0 ? 0 : rowBytes_;
        finished_ = std::move(current_);
        current_.reset();
    }

    bool AddRow(size_t pos, const uint8_t *p, size_t n)
    {
        if (rowBytes_ >= 0 && static_cast<size_t>(rowBytes_) != n)
            return ctx_.Fail(pos + 4, "row of " + std::to_string(rowBytes_) + " bytes as the page's first, found " +
                                          std::to_string(n));
        Plane &plane = current_->black;
        if (plane.bits.size() + n > kMaxPlaneBytes || rows_ >= (1 << 24))
            return ctx_.Fail(pos, "the end of the page before it exceeds " + std::to_string(kMaxPlaneBytes) + " bytes");
        rowBytes_ = static_cast<int>(n);
        current_->params["row-bytes"] = std::to_string(n);
        for (size_t i = 0; i < n; ++i)
            plane.bits.push_back(Reverse(p[i]));
        if (rows_ == 0) {
            ctx_.List(pos, Hex(ctx_.data() + pos, 6) + " | <" + std::to_string(n) + " bytes>  row 0");
        } else {
            if (runRows_ == 0)
                runStart_ = pos;
            ++runRows_;
        }
        ++rows_;
        return true;
    }

    bool Row(size_t pos, const uint8_t *p, size_t n)
    {
        if (!current_)
            return ctx_.Fail(pos, "lattice start (A6) before rows");
        if (n == 0)
            return ctx_.Fail(pos + 4, "a row of at least one byte");
        return AddRow(pos, p, n);
    }

    bool Mx(size_t pos, uint8_t cmd, const uint8_t *p, size_t n)
    {
        switch (cmd) {
        case 0xA2:
            if (!Size(pos, n, 1, "intensity"))
                return false;
            Before().params["intensity"] = std::to_string(p[0]);
            ctx_.List(pos, Head(pos, p, n) + "  intensity " + std::to_string(p[0]));
            return true;
        case 0xA9:
            if (!Size(pos, n, 4, "print request"))
                return false;
            if (p[2] != 0x30 || p[3] != 0x00)
                return ctx_.Fail(pos + 8, "30 00 after the line count, found " + Hex(p + 2, 2));
            if (current_)
                return ctx_.Fail(pos, "flush (AD) closing the page begun at byte " + std::to_string(current_->offset));
            Open(pos);
            lines_ = Le16(p);
            current_->params["lines"] = std::to_string(lines_);
            ctx_.List(pos, Head(pos, p, n) + "  print request, " + std::to_string(lines_) + " lines");
            return true;
        case 0xFE:
            if (!current_)
                return ctx_.Fail(pos, "print request (A9) before lines");
            if (n == 0 || n % kMxLine != 0)
                return ctx_.Fail(pos + 4, "whole lines of 48 bytes, found " + std::to_string(n) + " bytes");
            if (static_cast<size_t>(rows_) + n / kMxLine > lines_)
                return ctx_.Fail(pos, "flush (AD) after the " + std::to_string(lines_) + " lines requested");
            for (size_t i = 0; i < n; i += kMxLine)
                if (!AddRow(pos, p + i, kMxLine))
                    return false;
            return true;
        case 0xAD:
            if (!Size(pos, n, 1, "flush"))
                return false;
            if (p[0] != 0x00)
                return ctx_.Fail(pos + 6, "00 after flush, found " + HexByte(p[0]));
            if (!current_)
                return ctx_.Fail(pos, "print request (A9) before flush");
            if (static_cast<size_t>(rows_) != lines_)
                return ctx_.Fail(pos, std::to_string(lines_) + " lines before flush, found " + std::to_string(rows_));
            ctx_.List(pos, Head(pos, p, n) + "  flush, " + std::to_string(rows_) + " lines");
            Close();
            return true;
        case 0xA1:
            if (!Size(pos, n, 1, "status request"))
                return false;
            ctx_.List(pos, Head(pos, p, n) + "  status request");
            return true;
        }
        return ctx_.Fail(pos + 2, "command A1, A2, A9, AD or FE, found " + HexByte(cmd));
    }

    void FlushRows()
    {
        if (runRows_ == 0)
            return;
        ctx_.List(runStart_, std::string(mx_ ? "lines" : "rows") + " 1 to " + std::to_string(rows_ - 1) + ", " +
                                 std::to_string(rowBytes_) + " bytes each");
        runRows_ = 0;
    }

    void FlushFinished()
    {
        if (!finished_)
            return;
        ctx_.AddPage(std::move(*finished_));
        finished_.reset();
    }

    DecodeContext &ctx_;
    bool mx_ = false;
    Page pending_;
    std::optional<Page> current_;
    std::optional<Page> finished_;
    int rows_ = 0;
    int rowBytes_ = -1;
    size_t lines_ = 0;
    int runRows_ = 0;
    size_t runStart_ = 0;
};

} // namespace

uint8_t CatCrc8(const uint8_t *data, size_t size)
{
    uint8_t c = 0;
    for (size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k)
            c = static_cast<uint8_t>((c & 0x80) ? (c << 1) ^ 0x07 : c << 1);
    }
    return c;
}

void DecodeCat(DecodeContext &ctx)
{
    CatDecoder(ctx).Run();
}

bool CatWholeFrames(const uint8_t *data, size_t size)
{
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < kFrame)
            return false;
        const size_t end = pos + kFrame + Le16(data + pos + 4);
        if (end > size || data[end - 1] != 0xFF)
            return false;
        pos = end;
    }
    return true;
}

} // namespace qf::preview
