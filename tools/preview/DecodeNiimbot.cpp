#include "DecodeNiimbot.h"

#include <optional>
#include <vector>

namespace qf::preview {

namespace {

constexpr size_t kPacket = 7;

size_t Be16(const uint8_t *p)
{
    return static_cast<size_t>((p[0] << 8) | p[1]);
}

bool KnownLabelType(uint8_t t)
{
    return t == 1 || t == 2 || t == 3 || t == 5 || t == 10 || t == 11;
}

class NiimbotDecoder {
public:
    explicit NiimbotDecoder(DecodeContext &ctx) : ctx_(ctx) {}

    void Run()
    {
        const uint8_t *d = ctx_.data();
        size_t pos = 0;
        while (pos < ctx_.size()) {
            size_t start = pos;
            if (d[pos] == 0x03) {
                // Only the connect packet has a byte before it.
                if (!ctx_.Need(pos, 4, "03 55 55 C1 (connect)"))
                    return;
                if (d[pos + 1] != 0x55 || d[pos + 2] != 0x55 || d[pos + 3] != 0xC1) {
                    ctx_.Fail(pos + 1, "55 55 C1 after 03 (connect), found " + Hex(d + pos + 1, 3));
                    return;
                }
                start = pos + 1;
            }
            if (!Packet(start, start != pos))
                return;
            pos = start + kPacket + d[start + 3];
        }
        FlushRows();
        if (page_) {
            ctx_.Fail(ctx_.size(), "page end (E3) closing the page begun at byte " + std::to_string(page_->offset));
            return;
        }
        if (finished_) {
            ctx_.Fail(ctx_.size(), "end print (F3) after the page ended at byte " + std::to_string(endAt_));
            return;
        }
        if (step_ != Step::Idle) {
            ctx_.Fail(ctx_.size(), "the rest of the task begun at byte " + std::to_string(taskAt_));
            return;
        }
    }

private:
    enum class Step { Idle, Density, LabelType, Started, PageOpen, Sized };

    bool Packet(size_t pos, bool connect)
    {
        const uint8_t *d = ctx_.data();
        if (d[pos] != 0x55)
            return ctx_.Fail(pos, "55 starting a packet, found " + HexByte(d[pos]));
        if (!ctx_.Need(pos, 4, "packet header 55 55 cmd n"))
            return false;
        if (d[pos + 1] != 0x55)
            return ctx_.Fail(pos + 1, "55 after 55, found " + HexByte(d[pos + 1]));
        const size_t n = d[pos + 3];
        if (!ctx_.Need(pos, kPacket + n, "packet of " + std::to_string(kPacket + n) + " bytes"))
            return false;
        const uint8_t cmd = d[pos + 2];
        const uint8_t *p = d + pos + 4;
        uint8_t x = static_cast<uint8_t>(cmd ^ n);
        for (size_t i = 0; i < n; ++i)
            x ^= p[i];
        if (p[n] != x)
            return ctx_.Fail(pos + 4 + n, "XOR " + HexByte(x) + " of command, length and data, found " + HexByte(p[n]));
        if (p[n + 1] != 0xAA || p[n + 2] != 0xAA)
            return ctx_.Fail(pos + 5 + n, "AA AA ending the packet, found " + Hex(p + n + 1, 2));
        if (connect && cmd != 0xC1)
            return ctx_.Fail(pos + 2, "C1 after 03, found " + HexByte(cmd));
        if (cmd != 0x85 && cmd != 0x84 && cmd != 0x83)
            FlushRows();
        return Command(pos, cmd, p, n);
    }

    std::string Head(size_t pos, const uint8_t *p, size_t n) const
    {
        return Hex(ctx_.data() + pos, 4) + " | " + Hex(p, n);
    }

    bool Size(size_t pos, size_t n, size_t want, const char *name)
    {
        if (n == want)
            return true;
        return ctx_.Fail(pos + 3, std::to_string(want) + " data bytes for " + name + ", found " + std::to_string(n));
    }

    bool One(size_t pos, const uint8_t *p, size_t n, const char *name)
    {
        if (!Size(pos, n, 1, name))
            return false;
        if (p[0] != 0x01)
            return ctx_.Fail(pos + 4, std::string("01 for ") + name + ", found " + HexByte(p[0]));
        return true;
    }

    bool Expect(size_t pos, Step want, const char *what)
    {
        if (step_ == want)
            return true;
        return ctx_.Fail(pos, std::string(what));
    }

    bool Command(size_t pos, uint8_t cmd, const uint8_t *p, size_t n)
    {
        switch (cmd) {
        case 0xC1:
        case 0xDC:
        case 0xA3:
        case 0x1A:
        case 0x59: {
            const char *name = cmd == 0xC1   ? "connect"
                               : cmd == 0xDC ? "heartbeat"
                               : cmd == 0xA3 ? "print status request"
                               : cmd == 0x1A ? "tag request"
                                             : "label info request";
            if (!One(pos, p, n, name))
                return false;
            ctx_.List(pos, Head(pos, p, n) + "  " + name);
            return true;
        }
        case 0x21:
            if (!Size(pos, n, 1, "density"))
                return false;
            if (step_ != Step::Idle)
                return ctx_.Fail(pos, "end print (F3) before the next task's density");
            if (p[0] < 1)
                return ctx_.Fail(pos + 4, "a density of 1 or more, found 0");
            FlushFinished();
            taskAt_ = pos;
            pending_ = Page();
            pending_.params["density"] = std::to_string(p[0]);
            step_ = Step::Density;
            ctx_.List(pos, Head(pos, p, n) + "  density " + std::to_string(p[0]));
            return true;
        case 0x23:
            if (!Size(pos, n, 1, "label type") || !Expect(pos, Step::Density, "density (21) before the label type"))
                return false;
            if (!KnownLabelType(p[0]))
                return ctx_.Fail(pos + 4, "label type 1, 2, 3, 5, 10 or 11, found " + std::to_string(p[0]));
            pending_.params["label-type"] = std::to_string(p[0]);
            step_ = Step::LabelType;
            ctx_.List(pos, Head(pos, p, n) + "  label type " + std::to_string(p[0]));
            return true;
        case 0x01:
            if (!Expect(pos, Step::LabelType, "label type (23) before start print"))
                return false;
            if (n == 1) {
                if (!One(pos, p, n, "start print"))
                    return false;
            } else if (n == 7) {
                if (Be16(p) < 1)
                    return ctx_.Fail(pos + 4, "a page count of 1 or more");
                if (p[2] || p[3] || p[4] || p[5])
                    return ctx_.Fail(pos + 6, "00 00 00 00 after the page count, found " + Hex(p + 2, 4));
            } else {
                return ctx_.Fail(pos + 3, "1 or 7 data bytes for start print, found " + std::to_string(n));
            }
            pending_.params["start"] = std::to_string(n);
            step_ = Step::Started;
            ctx_.List(pos, Head(pos, p, n) + "  start print");
            return true;
        case 0x03:
            if (!One(pos, p, n, "page start") || !Expect(pos, Step::Started, "start print (01) before page start"))
                return false;
            page_ = std::move(pending_);
            pending_ = Page();
            page_->offset = pos;
            step_ = Step::PageOpen;
            ctx_.List(pos, Head(pos, p, n) + "  page start");
            return true;
        case 0x13:
            if (!Expect(pos, Step::PageOpen, "page start (03) before the page size"))
                return false;
            if (n != 4 && n != 6)
                return ctx_.Fail(pos + 3, "4 or 6 data bytes for the page size, found " + std::to_string(n));
            if (n == 6 && Be16(p + 4) < 1)
                return ctx_.Fail(pos + 8, "1 or more copies");
            rows_ = Be16(p);
            cols_ = Be16(p + 2);
            if (cols_ < 1)
                return ctx_.Fail(pos + 6, "1 or more columns");
            if ((cols_ + 7) / 8 * rows_ > kMaxPlaneBytes)
                return ctx_.Fail(pos + 4, "a page of at most " + std::to_string(kMaxPlaneBytes) + " bytes");
            page_->params["rows"] = std::to_string(rows_);
            page_->params["cols"] = std::to_string(cols_);
            page_->params["copies"] = n == 6 ? std::to_string(Be16(p + 4)) : "1";
            page_->params["row-bytes"] = std::to_string((cols_ + 7) / 8);
            page_->black.widthBytes = static_cast<int>((cols_ + 7) / 8);
            page_->black.height = static_cast<int>(rows_);
            page_->black.bits.clear(); // grows with the rows that come
            done_ = 0;
            step_ = Step::Sized;
            ctx_.List(pos, Head(pos, p, n) + "  page size " + std::to_string(rows_) + " rows, " +
                               std::to_string(cols_) + " columns");
            return true;
        case 0x84:
        case 0x85:
        case 0x83:
            return Row(pos, cmd, p, n);
        case 0xE3:
            if (!One(pos, p, n, "page end") || !Expect(pos, Step::Sized, "page size (13) before page end"))
                return false;
            if (done_ != rows_)
                return ctx_.Fail(pos, std::to_string(rows_) + " rows before page end, found " + std::to_string(done_));
            ctx_.List(pos, Head(pos, p, n) + "  page end, " + std::to_string(done_) + " rows");
            finished_ = std::move(page_);
            page_.reset();
            endAt_ = pos;
            step_ = Step::Started;
            return true;
        case 0xF3:
            if (!One(pos, p, n, "end print"))
                return false;
            if (step_ != Step::Started || !finished_)
                return ctx_.Fail(pos, "a page ended (E3) before end print");
            ctx_.List(pos, Head(pos, p, n) + "  end print");
            FlushFinished();
            step_ = Step::Idle;
            return true;
        }
        return ctx_.Fail(pos + 2,
                         "command 01, 03, 13, 1A, 21, 23, 59, 83, 84, 85, A3, C1, DC, E3 or F3, found " + HexByte(cmd));
    }

    bool Row(size_t pos, uint8_t cmd, const uint8_t *p, size_t n)
    {
        if (step_ != Step::Sized)
            return ctx_.Fail(pos, "page size (13) before rows");
        const size_t bytes = (cols_ + 7) / 8;
        size_t count = 0;
        if (cmd == 0x84) {
            if (!Size(pos, n, 3, "white rows"))
                return false;
            count = p[2];
        } else if (cmd == 0x85) {
            if (!Size(pos, n, 6 + bytes, "a bitmap row"))
                return false;
            count = p[5];
        } else {
            if (n < 8 || n > 6 + 12 || (n - 6) % 2)
                return ctx_.Fail(pos + 3, "6 data bytes and 1 to 6 dot indexes, found " + std::to_string(n));
            count = p[5];
        }
        if (Be16(p) != done_)
            return ctx_.Fail(pos + 4, "row number " + std::to_string(done_) + ", found " + std::to_string(Be16(p)));
        if (count < 1)
            return ctx_.Fail(pos + 4 + (cmd == 0x84 ? 2 : 5), "a count of 1 or more");
        if (done_ + count > rows_)
            return ctx_.Fail(pos, "page end (E3) after the size's " + std::to_string(rows_) + " rows");
        std::vector<uint8_t> row(bytes, 0);
        if (cmd == 0x85)
            row.assign(p + 6, p + 6 + bytes);
        if (cmd == 0x83)
            for (size_t i = 6; i < n; i += 2) {
                const size_t x = Be16(p + i);
                if (x >= cols_)
                    return ctx_.Fail(pos + 4 + i,
                                     "a dot index below " + std::to_string(cols_) + ", found " + std::to_string(x));
                row[x / 8] = static_cast<uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
            }
        for (size_t r = 0; r < count; ++r)
            page_->black.bits.insert(page_->black.bits.end(), row.begin(), row.end());
        if (runPackets_ == 0)
            runStart_ = pos;
        ++runPackets_;
        done_ += count;
        return true;
    }

    void FlushRows()
    {
        if (runPackets_ == 0)
            return;
        ctx_.List(runStart_, "rows to " + std::to_string(done_ - 1) + " in " + std::to_string(runPackets_) +
                                 " packets (84 white, 85 bitmap, 83 indexed)");
        runPackets_ = 0;
    }

    void FlushFinished()
    {
        if (!finished_)
            return;
        ctx_.AddPage(std::move(*finished_));
        finished_.reset();
    }

    DecodeContext &ctx_;
    Step step_ = Step::Idle;
    Page pending_;
    std::optional<Page> page_;
    std::optional<Page> finished_;
    size_t rows_ = 0, cols_ = 0, done_ = 0;
    size_t taskAt_ = 0, endAt_ = 0;
    int runPackets_ = 0;
    size_t runStart_ = 0;
};

} // namespace

void DecodeNiimbot(DecodeContext &ctx)
{
    NiimbotDecoder(ctx).Run();
}

bool NiimbotWholePackets(const uint8_t *data, size_t size)
{
    size_t pos = 0;
    while (pos < size) {
        if (data[pos] == 0x03)
            ++pos;
        if (size - pos < kPacket)
            return false;
        const size_t end = pos + kPacket + data[pos + 3];
        if (end > size || data[end - 1] != 0xAA || data[end - 2] != 0xAA)
            return false;
        pos = end;
    }
    return true;
}

} // namespace qf::preview
