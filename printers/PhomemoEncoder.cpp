#include "PhomemoEncoder.h"

#include <algorithm>
#include <initializer_list>

#include "EscPosEncoder.h"
#include "ModelName.h"

using NS_QV_CLASS::CMyBuffer;

namespace phomemo {

namespace {

const std::vector<Model> kModels = {
    {"M110", Variant::Label, 384}, {"M120", Variant::Label, 384}, {"M220", Variant::Label, 576},
    {"M221", Variant::Label, 576}, {"M02", Variant::M02, 384},    {"M02S", Variant::M02, 384},
    {"D30", Variant::D30, 96},
};

void Add(CMyBuffer &out, std::initializer_list<unsigned char> bytes)
{
    out.AddBuffer(bytes.begin(), static_cast<int>(bytes.size()));
}

// The fixed commands around the raster, in bytes.
constexpr int64_t kM02Header = 9 + 4;
constexpr int64_t kM02Footer = 6;
constexpr int64_t kLabelHeader = 4 + 4 + 3;
constexpr int64_t kD30Header = 4 + 3;
constexpr int64_t kLabelFooter = 8;

} // namespace

const std::vector<Model> &Models()
{
    return kModels;
}

Model ModelFor(const std::string &name)
{
    for (const Model &m : kModels)
        if (NamesModel(name, m.name))
            return m;
    return kModels.front();
}

uint8_t DensityByte(int darkness)
{
    if (darkness == -1)
        return kDefaultDensity;
    return static_cast<uint8_t>(std::clamp(darkness, kMinDensity, kMaxDensity));
}

uint8_t SpeedByte(int rate)
{
    if (rate == -1)
        return kDefaultSpeed;
    return static_cast<uint8_t>(std::clamp(rate, kMinSpeed, kMaxSpeed));
}

uint8_t MediaByte(int mediaType)
{
    switch (mediaType) {
    case ::kMediaGap:
        return kMediaByteGap;
    case ::kMediaBLine:
        return kMediaByteMark;
    default:
        return kMediaByteContinuous;
    }
}

void AddM02Header(CMyBuffer &out)
{
    Add(out, {0x1B, 0x40, 0x1B, 0x61, 0x01, 0x1F, 0x11, 0x02, 0x04});
}

void AddM02Footer(CMyBuffer &out)
{
    Add(out, {0x1B, 0x64, 0x02, 0x1B, 0x64, 0x02});
}

void AddSpeed(CMyBuffer &out, uint8_t speed)
{
    Add(out, {0x1B, 0x4E, 0x0D, speed});
}

void AddDensity(CMyBuffer &out, uint8_t density)
{
    Add(out, {0x1B, 0x4E, 0x04, density});
}

void AddMedia(CMyBuffer &out, uint8_t media)
{
    Add(out, {0x1F, 0x11, media});
}

void AddLabelFooter(CMyBuffer &out)
{
    Add(out, {0x1F, 0xF0, 0x05, 0x00, 0x1F, 0xF0, 0x03, 0x00});
}

void AddStatusQuery(CMyBuffer &out)
{
    Add(out, {0x1F, 0x11, kQueryPaper, 0x1F, 0x11, kQueryCover});
}

std::vector<uint8_t> HeadRows(const CxImage &page, int headBytes)
{
    const size_t head = static_cast<size_t>(std::max(headBytes, 0));
    const size_t rows = page.GetHeight();
    const size_t pageBytes = std::min<size_t>((static_cast<size_t>(page.GetWidth()) + 7) / 8, page.GetEffWidth());
    const size_t n = std::min(pageBytes, head);
    const size_t left = (head - n) / 2;
    std::vector<uint8_t> out(head * rows, 0);
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t *bits = const_cast<CxImage &>(page).GetBits(static_cast<uint32_t>(y));
        uint8_t *row = out.data() + y * head + left;
        for (size_t x = 0; x < n; ++x)
            row[x] = static_cast<uint8_t>(~bits[x]);
    }
    return out;
}

int64_t PageBytes(const Model &model, int64_t rows)
{
    const int w = model.dots / 8;
    // Rows of a checked page (at most kMaxPageHeight) and their bytes fit an int.
    const int64_t raster = escpos::RasterBytes(w, static_cast<int>(rows), static_cast<int>(w * rows), kBandRows);
    switch (model.variant) {
    case Variant::M02:
        return kM02Header + raster + kM02Footer;
    case Variant::D30:
        return kD30Header + raster + kLabelFooter;
    default:
        return kLabelHeader + raster + kLabelFooter;
    }
}

void EncodePage(const CxImage &page, const tagREGSTRUCT &reg, const Model &model, CMyBuffer &out)
{
    const int w = model.dots / 8;
    const int rows = static_cast<int>(page.GetHeight());
    const std::vector<uint8_t> raster = HeadRows(page, w);
    out.Reserve(out.GetBufferLength() + PageBytes(model, rows));
    switch (model.variant) {
    case Variant::M02:
        AddM02Header(out);
        AddDensity(out, DensityByte(reg.iDensity));
        break;
    case Variant::Label:
        AddSpeed(out, SpeedByte(reg.iSpeed));
        // fall through
    case Variant::D30:
        AddDensity(out, DensityByte(reg.iDensity));
        AddMedia(out, MediaByte(reg.iMediaType));
        break;
    }
    // The raster is at most a checked page's pixels over eight: an int.
    escpos::AddRaster(out, 203, 203, w, rows, raster.data(), static_cast<int>(raster.size()), kBandRows);
    if (model.variant == Variant::M02)
        AddM02Footer(out);
    else
        AddLabelFooter(out);
}

// --- replies -------------------------------------------------------------------

Replies ParseReplies(const uint8_t *data, size_t size)
{
    Replies r;
    if (!data)
        return r;
    auto fail = [&r](const std::string &why) {
        r.ok = false;
        r.error = why;
        return r;
    };
    while (size - r.used >= 3) {
        const uint8_t *p = data + r.used;
        if (p[0] != 0x1A)
            return fail("1A starting a reply at byte " + std::to_string(r.used));
        Reply one;
        one.key = p[1];
        one.value = p[2];
        switch (one.key) {
        case kReplyBattery:
            one.kind = ReplyKind::Battery;
            break;
        case kReplyCover:
            if (one.value != kCoverClosed && one.value != kCoverOpen)
                return fail("cover reply 98 or 99 at byte " + std::to_string(r.used));
            one.kind = ReplyKind::Cover;
            break;
        case kReplyPaper:
            if (one.value != kPaperOut && one.value != kPaperIn)
                return fail("paper reply 88 or 89 at byte " + std::to_string(r.used));
            one.kind = ReplyKind::Paper;
            break;
        case kReplyPrinted:
            one.kind = one.value == kPrinted ? ReplyKind::Printed : ReplyKind::Other;
            break;
        default:
            one.kind = ReplyKind::Other;
            break;
        }
        r.replies.push_back(one);
        r.used += 3;
    }
    if (size > r.used && data[r.used] != 0x1A)
        return fail("1A starting a reply at byte " + std::to_string(r.used));
    return r;
}

} // namespace phomemo
