#include "DecodeESCPOS.h"

namespace qf::preview {

EscPosDecoder::Match EscPosDecoder::Prefix(size_t pos, const uint8_t *prefix, size_t length) const
{
    for (size_t i = 0; i < length; ++i) {
        if (pos + i >= ctx_.size())
            return Match::Truncated;
        if (ctx_.data()[pos + i] != prefix[i])
            return Match::No;
    }
    return Match::Yes;
}

EscPosDecoder::Match EscPosDecoder::Prefix(size_t pos, std::initializer_list<uint8_t> prefix) const
{
    return Prefix(pos, prefix.begin(), prefix.size());
}

bool EscPosDecoder::FindForm(size_t pos, const Form *forms, size_t count, const Form *&found)
{
    found = nullptr;
    for (size_t i = 0; i < count; ++i) {
        Match m = Prefix(pos, forms[i].prefix, forms[i].prefixLength);
        if (m == Match::Truncated)
            return Truncated(pos, "the command");
        if (m == Match::Yes) {
            found = &forms[i];
            return true;
        }
    }
    return true;
}

bool EscPosDecoder::Truncated(size_t pos, const std::string &name)
{
    return ctx_.Fail(ctx_.size(), "the rest of " + name + " that starts at byte " + std::to_string(pos));
}

bool EscPosDecoder::Extra(size_t, size_t &, bool &handled)
{
    handled = false;
    return true;
}

bool EscPosDecoder::Admit(size_t)
{
    return true;
}

bool EscPosDecoder::AdmitRaster(size_t)
{
    return true;
}

std::string EscPosDecoder::Expected() const
{
    return "an ESC/POS command (1B 40, 1B 61, 1B 4A, 1B 70, 1D 76 30, 1D 56)";
}

void EscPosDecoder::AddToParam(const std::string &key, long value)
{
    auto &params = Target().params;
    auto it = params.find(key);
    long sum = value + (it == params.end() ? 0 : std::stol(it->second));
    params[key] = std::to_string(sum);
}

void EscPosDecoder::StartPending(size_t pos)
{
    if (!pendingStarted_) {
        pending_ = Page();
        pending_.offset = pos;
        pendingStarted_ = true;
    }
}

void EscPosDecoder::TakeRaster(Plane plane, const std::string &compressed)
{
    if (current_)
        FinishPage();
    current_ = std::move(pending_);
    current_->black = std::move(plane);
    current_->params["bands"] = "1";
    current_->params["band-rows"] = std::to_string(current_->black.height);
    if (!compressed.empty())
        current_->params["compressed"] = compressed;
    pending_ = Page();
    pendingStarted_ = false;
}

bool EscPosDecoder::IsBand(size_t pos, int widthBytes, int form) const
{
    return current_ && rasterEnd_ != 0 && pos == rasterEnd_ && form == rasterForm_ &&
           widthBytes == current_->black.widthBytes;
}

bool EscPosDecoder::TakeBandOrRaster(bool band, size_t end, int form, Plane plane, const std::string &compressed)
{
    rasterEnd_ = end;
    rasterForm_ = form;
    if (!band) {
        TakeRaster(std::move(plane), compressed);
        return true;
    }
    Plane &black = current_->black;
    if (black.bits.size() + plane.bits.size() > kMaxPlaneBytes)
        return ctx_.Fail(end, "a page of at most " + std::to_string(kMaxPlaneBytes) + " bytes of raster");
    black.bits.insert(black.bits.end(), plane.bits.begin(), plane.bits.end());
    black.height += plane.height;
    AddToParam("bands", 1);
    if (plane.height > std::stol(current_->Param("band-rows", "0")))
        current_->params["band-rows"] = std::to_string(plane.height);
    return true;
}

void EscPosDecoder::FinishPage()
{
    if (!current_)
        return;
    ctx_.AddPage(std::move(*current_));
    current_.reset();
}

void EscPosDecoder::FlushFeedRun()
{
    if (feedRun_ >= 2)
        ctx_.Note("feed total " + std::to_string(feedRunTotal_) + " dots in " + std::to_string(feedRun_) + " ESC J");
    feedRun_ = 0;
    feedRunTotal_ = 0;
}

void EscPosDecoder::Run()
{
    size_t pos = 0;
    while (pos < ctx_.size()) {
        if (Prefix(pos, {0x1B, 0x4A}) != Match::Yes)
            FlushFeedRun();
        size_t next = pos;
        // DLE EOT n (n = 1 to 4) asks for the printer's status; it prints
        // nothing.
        if (Prefix(pos, {0x10, 0x04}) == Match::Yes && ctx_.Has(pos, 3) && ctx_.data()[pos + 2] >= 1 &&
            ctx_.data()[pos + 2] <= 4) {
            ctx_.List(pos, Hex(ctx_.data() + pos, 3) + "  DLE EOT " + std::to_string(ctx_.data()[pos + 2]) +
                               " status query");
            pos += 3;
            continue;
        }
        bool handled = false;
        if (!Extra(pos, next, handled))
            return;
        if (!handled) {
            if (!Admit(pos))
                return;
            if (!Command(pos, next))
                return;
        }
        pos = next;
    }
    FlushFeedRun();
    Finish();
}

void EscPosDecoder::Finish()
{
    FinishPage();
}

bool EscPosDecoder::Command(size_t pos, size_t &next)
{
    const uint8_t *d = ctx_.data();
    static const Form forms[] = {
        {{0x1B, 0x40}, 2, 3, "ESC @ 00 (1B 40 00)"},
        {{0x1B, 0x61}, 2, 3, "ESC a (1B 61 n)"},
        {{0x1B, 0x4A}, 2, 3, "ESC J (1B 4A n)"},
        {{0x1B, 0x70}, 2, 5, "ESC p (1B 70 m t1 t2)"},
        {{0x1D, 0x76, 0x30}, 3, 8, "GS v 0 header (1D 76 30 m xL xH yL yH)"},
        {{0x1D, 0x56}, 2, 3, "GS V (1D 56 m)"},
    };
    const Form *form = nullptr;
    if (!FindForm(pos, forms, sizeof forms / sizeof forms[0], form))
        return false;
    if (!form)
        return ctx_.Fail(pos, Expected());
    if (!ctx_.Has(pos, form->length))
        return Truncated(pos, form->name);
    next = pos + form->length;
    StartPending(pos);
    const std::string hex = Hex(d + pos, form->length);
    switch (form - forms) {
    case 0: // initialise
        if (d[pos + 2] != 0x00)
            return ctx_.Fail(pos + 2, "00 after ESC @ (1B 40 00), found " + HexByte(d[pos + 2]));
        if (InitEndsPage() && current_) {
            FinishPage();
            pendingStarted_ = false;
            StartPending(pos);
        }
        ctx_.List(pos, hex + "  ESC @ initialise");
        return true;
    case 1: { // justification
        uint8_t a = d[pos + 2];
        if (a > 2)
            return ctx_.Fail(pos + 2, "justification 00, 01 or 02, found " + HexByte(a));
        static const char *names[] = {"left", "centre", "right"};
        SetParam("align", std::to_string(a));
        ctx_.List(pos, hex + "  ESC a justify " + names[a]);
        return true;
    }
    case 2: { // feed
        uint8_t n = d[pos + 2];
        AddToParam(current_ ? "feed" : "feed-before", n);
        ++feedRun_;
        feedRunTotal_ += n;
        ctx_.List(pos, hex + "  ESC J print and feed " + std::to_string(n) + " dots");
        return true;
    }
    case 3: { // drawer pulse
        uint8_t m = d[pos + 2];
        if (m != 0x00 && m != 0x01 && m != 0x30 && m != 0x31)
            return ctx_.Fail(pos + 2, "drawer pin 00, 01, 30 or 31, found " + HexByte(m));
        std::string when = current_ ? "after" : "before";
        std::string &drawer = Target().params["drawer"];
        drawer += (drawer.empty() ? "" : ",") + when;
        ctx_.List(pos, hex + "  ESC p drawer pulse pin " + std::to_string(m & 1) + ", on " +
                           std::to_string(d[pos + 3] * 2) + " ms, off " + std::to_string(d[pos + 4] * 2) + " ms");
        return true;
    }
    case 4: { // raster
        uint8_t m = d[pos + 3];
        if (m > 3)
            return ctx_.Fail(pos + 3, "raster mode 00 to 03, found " + HexByte(m));
        unsigned w = d[pos + 4] | (d[pos + 5] << 8);
        unsigned h = d[pos + 6] | (d[pos + 7] << 8);
        uint64_t bytes = uint64_t(w) * h;
        if (bytes > kMaxPlaneBytes)
            return ctx_.Fail(pos + 4, "a raster of at most " + std::to_string(kMaxPlaneBytes) + " bytes");
        if (!ctx_.Need(pos + 8, bytes, "raster data of " + std::to_string(w) + " x " + std::to_string(h) + " bytes"))
            return false;
        Plane plane;
        plane.widthBytes = static_cast<int>(w);
        plane.height = static_cast<int>(h);
        next = pos + 8 + static_cast<size_t>(bytes);
        const bool band = IsBand(pos, static_cast<int>(w), m);
        if (!band && !AdmitRaster(pos))
            return false;
        plane.bits.assign(d + pos + 8, d + pos + 8 + bytes);
        static const char *modes[] = {"normal", "double width", "double height", "quadruple"};
        ctx_.List(pos, hex + "  GS v 0 raster, mode " + std::to_string(m) + " (" + modes[m] + "), " +
                           std::to_string(w) + " bytes = " + std::to_string(w * 8) + " dots x " + std::to_string(h) +
                           " rows, " + std::to_string(bytes) + " data bytes, " + std::to_string(plane.CountDots()) +
                           " dots" + (band ? ", continuing the page" : ""));
        if (!band)
            SetParam("mode", std::to_string(m));
        return TakeBandOrRaster(band, next, m, std::move(plane), InitEndsPage() ? "" : "0");
    }
    case 5: { // cut
        uint8_t m = d[pos + 2];
        if (m != 0x30 && m != 0x31)
            return ctx_.Fail(pos + 2, "cut mode 30 (full) or 31 (partial), found " + HexByte(m));
        SetParam("cut", m == 0x30 ? "full" : "partial");
        ctx_.List(pos, hex + "  GS V " + (m == 0x30 ? "full cut" : "partial cut"));
        return true;
    }
    }
    return ctx_.Fail(pos, Expected());
}

void DecodeEscPos(DecodeContext &ctx)
{
    EscPosDecoder(ctx).Run();
}

} // namespace qf::preview
