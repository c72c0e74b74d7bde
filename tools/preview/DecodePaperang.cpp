#include "DecodePaperang.h"

#include <zlib.h>

#include <optional>

namespace qf::preview {

namespace {

uint16_t Le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

class PaperangDecoder {
public:
    explicit PaperangDecoder(DecodeContext &ctx) : ctx_(ctx) {}

    void Run()
    {
        size_t pos = 0;
        while (pos < ctx_.size()) {
            size_t next = pos;
            if (!Frame(pos, next))
                return;
            pos = next;
        }
        FlushRows();
        if (current_) {
            ctx_.Fail(ctx_.size(),
                      "end printing (05 1A) closing the page begun at byte " + std::to_string(current_->offset));
            return;
        }
        FlushFinished();
    }

private:
    bool Frame(size_t pos, size_t &next)
    {
        const uint8_t *d = ctx_.data();
        if (d[pos] != 0xA5)
            return ctx_.Fail(pos, "A5 starting a frame, found " + HexByte(d[pos]));
        if (!ctx_.Need(pos, 4, "frame header A5 01 nL nH"))
            return false;
        if (d[pos + 1] != 0x01)
            return ctx_.Fail(pos + 1, "01 after A5, found " + HexByte(d[pos + 1]));
        const size_t n = Le16(d + pos + 2);
        if (n < 5)
            return ctx_.Fail(pos + 2, "frame length of at least 5 (05 code b2 kL kH), found " + std::to_string(n));
        if (!ctx_.Need(pos, 9, "inner command header 05 code b2 kL kH"))
            return false;
        const size_t inner = pos + 4;
        if (d[inner] != 0x05)
            return ctx_.Fail(inner, "05 starting the inner command, found " + HexByte(d[inner]));
        const size_t k = Le16(d + inner + 3);
        if (k + 5 != n)
            return ctx_.Fail(pos + 2, "frame length " + std::to_string(k + 5) + " (5 + the inner command's " +
                                          std::to_string(k) + " parameter bytes), found " + std::to_string(n));
        if (!ctx_.Need(pos, 9 + n, "frame of " + std::to_string(9 + n) + " bytes"))
            return false;
        const uint32_t want = static_cast<uint32_t>(crc32(kPaperangCrcKey, d + inner, static_cast<uInt>(n)));
        const uint32_t found = Le32(d + inner + n);
        if (want != found)
            return ctx_.Fail(inner + n, "CRC-32 " + HexWord(want) + " of the inner command (key " +
                                            HexWord(kPaperangCrcKey) + "), found " + HexWord(found));
        if (d[inner + n + 4] != 0x5A)
            return ctx_.Fail(inner + n + 4, "5A ending the frame, found " + HexByte(d[inner + n + 4]));
        next = pos + 9 + n;
        return Inner(pos, inner, k);
    }

    // Checks byte 2 and k of a command with fixed parameters.
    bool Shape(size_t inner, uint8_t b2, size_t k, const char *name)
    {
        const uint8_t *d = ctx_.data();
        if (d[inner + 2] != b2)
            return ctx_.Fail(inner + 2, HexByte(b2) + " after the " + name + " code, found " + HexByte(d[inner + 2]));
        if (Le16(d + inner + 3) != k)
            return ctx_.Fail(inner + 3, std::to_string(k) + " parameter bytes for " + name + ", found " +
                                            std::to_string(Le16(d + inner + 3)));
        return true;
    }

    Page &Target()
    {
        if (current_)
            return *current_;
        if (finished_)
            return *finished_;
        return pending_;
    }

    bool Inner(size_t frame, size_t inner, size_t k)
    {
        const uint8_t *d = ctx_.data();
        const uint8_t code = d[inner + 1];
        const uint8_t *param = d + inner + 5;
        if (code != 0x1B)
            FlushRows();
        const std::string head = Hex(d + frame, 4) + " | " + Hex(d + inner, 5);
        switch (code) {
        case 0x19:
            if (!Shape(inner, 0x03, 0, "begin printing"))
                return false;
            if (current_)
                return ctx_.Fail(inner + 1, "end printing (1A) closing the page begun at byte " +
                                                std::to_string(current_->offset));
            FlushFinished();
            current_ = std::move(pending_);
            pending_ = Page();
            current_->offset = frame;
            rows_ = 0;
            rowBytes_ = -1;
            ctx_.List(frame, head + "  begin printing");
            return true;
        case 0x1A:
            if (!Shape(inner, 0x03, 0, "end printing"))
                return false;
            if (!current_)
                return ctx_.Fail(inner + 1, "begin printing (19) before end printing");
            ctx_.List(frame, head + "  end printing, " + std::to_string(rows_) + " rows");
            current_->black.height = rows_;
            current_->black.widthBytes = rowBytes_ < 0 ? 0 : rowBytes_;
            finished_ = std::move(current_);
            current_.reset();
            return true;
        case 0x16: {
            if (!Shape(inner, 0x03, 2, "feed"))
                return false;
            unsigned v = Le16(param);
            Target().params["feed"] = std::to_string(v);
            ctx_.List(frame, head + " | " + Hex(param, 2) + "  feed " + std::to_string(v));
            return true;
        }
        case 0x21: {
            if (!Shape(inner, 0x01, 4, "paper locate"))
                return false;
            uint32_t v = Le32(param);
            Target().params["locate"] = std::to_string(v);
            ctx_.List(frame, head + " | " + Hex(param, 4) + "  paper locate " + std::to_string(v));
            return true;
        }
        case 0x20: {
            if (!Shape(inner, 0x01, 2, "paper type"))
                return false;
            unsigned v = Le16(param);
            if (v != 0 && v != 3)
                return ctx_.Fail(inner + 5, "paper type 00 00 or 03 00, found " + Hex(param, 2));
            Target().params["paper-type"] = std::to_string(v);
            ctx_.List(frame, head + " | " + Hex(param, 2) + "  paper type " + std::to_string(v) +
                                 (v == 3 ? " (perforated)" : " (roll)"));
            return true;
        }
        case 0x1B:
            return Row(frame, inner, k, head);
        }
        return ctx_.Fail(inner + 1, "command code 19, 1A, 16, 21, 20 or 1B, found " + HexByte(code));
    }

    // Parameters: index16 | 8+W 16 | 01 | W16 | 00 00 00 | W16 | W bytes
    bool Row(size_t frame, size_t inner, size_t k, const std::string &head)
    {
        const uint8_t *d = ctx_.data();
        const size_t p = inner + 5;
        if (d[inner + 2] != 0x03)
            return ctx_.Fail(inner + 2, "03 after the bitmap row code, found " + HexByte(d[inner + 2]));
        if (k < 12)
            return ctx_.Fail(inner + 3, "at least 12 parameter bytes for a bitmap row, found " + std::to_string(k));
        const size_t w = k - 12;
        if (!current_)
            return ctx_.Fail(frame, "begin printing (19) before bitmap rows");
        if (Le16(d + p + 2) != k - 4)
            return ctx_.Fail(p + 2, "row length field " + std::to_string(k - 4) + " (8 + row bytes), found " +
                                        std::to_string(Le16(d + p + 2)));
        if (d[p + 4] != 0x01)
            return ctx_.Fail(p + 4, "01 in the bitmap row header, found " + HexByte(d[p + 4]));
        if (Le16(d + p + 5) != w)
            return ctx_.Fail(p + 5, "row width " + std::to_string(w) + " (parameter bytes - 12), found " +
                                        std::to_string(Le16(d + p + 5)));
        for (size_t i = 7; i < 10; ++i)
            if (d[p + i] != 0x00)
                return ctx_.Fail(p + i, "00 00 00 in the bitmap row header, found " + Hex(d + p + 7, 3));
        if (Le16(d + p + 10) != w)
            return ctx_.Fail(p + 10,
                             "second row width " + std::to_string(w) + ", found " + std::to_string(Le16(d + p + 10)));
        const unsigned index = Le16(d + p);
        const unsigned wantIndex = static_cast<unsigned>(rows_) & 0xFFFF;
        if (index != wantIndex)
            return ctx_.Fail(p, "packet index " + std::to_string(wantIndex) + ", found " + std::to_string(index));
        if (rowBytes_ >= 0 && static_cast<size_t>(rowBytes_) != w)
            return ctx_.Fail(p + 5, "row width " + std::to_string(rowBytes_) + " as in the page's first row, found " +
                                        std::to_string(w));
        Plane &plane = current_->black;
        if (plane.bits.size() + w > kMaxPlaneBytes || rows_ >= (1 << 24))
            return ctx_.Fail(frame,
                             "end printing before the page exceeds " + std::to_string(kMaxPlaneBytes) + " bytes");
        rowBytes_ = static_cast<int>(w);
        current_->params["row-bytes"] = std::to_string(w);
        plane.bits.insert(plane.bits.end(), d + p + 12, d + p + 12 + w);
        if (rows_ == 0) {
            ctx_.List(frame,
                      head + " | " + Hex(d + p, 12) + " | <" + std::to_string(w) + " bytes>  bitmap row, packet 0");
        } else {
            if (runRows_ == 0)
                runStart_ = frame;
            ++runRows_;
        }
        ++rows_;
        return true;
    }

    // Rows after the first are summarised in one listing line.
    void FlushRows()
    {
        if (runRows_ == 0)
            return;
        ctx_.List(runStart_, "bitmap rows, packets 1 to " + std::to_string(rows_ - 1) + ", " +
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
    Page pending_;
    std::optional<Page> current_;  // between begin and end printing
    std::optional<Page> finished_; // ended, still taking locate / feed
    int rows_ = 0;
    int rowBytes_ = -1;
    int runRows_ = 0;
    size_t runStart_ = 0;
};

} // namespace

void DecodePaperang(DecodeContext &ctx)
{
    PaperangDecoder(ctx).Run();
}

} // namespace qf::preview
