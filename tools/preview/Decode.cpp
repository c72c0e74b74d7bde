#include "Decode.h"

#include <cstring>

#include "DecodeCPCL.h"
#include "DecodeCat.h"
#include "DecodeContext.h"
#include "DecodeESCPOS.h"
#include "DecodeNiimbot.h"
#include "DecodePaperang.h"
#include "DecodePeriPage.h"
#include "DecodePhomemo.h"
#include "DecodeTSPL.h"

namespace qf::preview {

std::string DecodeResult::ErrorMessage() const
{
    if (ok)
        return "";
    return "error at byte " + std::to_string(errorOffset) + ": expected " + expected;
}

static bool StartsWith(const uint8_t *data, size_t size, const char *lit, size_t n)
{
    return size >= n && std::memcmp(data, lit, n) == 0;
}

Lang DetectLang(const uint8_t *data, size_t size)
{
    // Status queries a host sent before the first page tell nothing.
    for (;;) {
        if (StartsWith(data, size, "\x1B!?", 3) || (size >= 3 && data[0] == 0x10 && data[1] == 0x04)) {
            data += 3;
            size -= 3;
        } else if (StartsWith(data, size, "\x1Bh", 2)) {
            data += 2;
            size -= 2;
        } else {
            break;
        }
    }
    if (StartsWith(data, size, "\x51\x78", 2) || StartsWith(data, size, "\x22\x21", 2))
        return Lang::Cat;
    if (StartsWith(data, size, "\x55\x55", 2) || StartsWith(data, size, "\x03\x55\x55", 3))
        return Lang::Niimbot;
    if (size >= 1 && data[0] == 0xA5)
        return Lang::Paperang;
    if (StartsWith(data, size, "\x10\xFF\xFE\x01", 4))
        return Lang::PeriPage;
    // Phomemo: the label models start with their speed or density (1B 4E),
    // the M02 with 1B 40 1B 61 01 and its 1F 11 02 header.
    if (StartsWith(data, size, "\x1B\x4E", 2) || StartsWith(data, size, "\x1B\x40\x1B\x61\x01\x1F\x11\x02", 8))
        return Lang::Phomemo;
    if (StartsWith(data, size, "\x1B\x40", 2) || StartsWith(data, size, "\x1B\x70", 2) ||
        StartsWith(data, size, "\x1D\x56", 2))
        return Lang::ESCPOS;
    if (StartsWith(data, size, "! ", 2))
        return Lang::CPCL;
    if (StartsWith(data, size, "SIZE ", 5))
        return Lang::TSPL;
    return Lang::Auto;
}

DecodeResult Decode(const std::vector<uint8_t> &bytes, Lang lang)
{
    return Decode(bytes.data(), bytes.size(), lang);
}

DecodeResult Decode(const uint8_t *data, size_t size, Lang lang)
{
    DecodeResult result;
    result.ok = true;
    if (!data)
        size = 0;
    DecodeContext ctx(data, size, result);
    if (size == 0) {
        result.lang = lang;
        ctx.Fail(0, "printer data, the input is empty");
        return result;
    }
    if (lang == Lang::Auto)
        lang = DetectLang(data, size);
    result.lang = lang;
    switch (lang) {
    case Lang::TSPL:
        DecodeTspl(ctx);
        break;
    case Lang::CPCL:
        DecodeCpcl(ctx);
        break;
    case Lang::ESCPOS:
        DecodeEscPos(ctx);
        break;
    case Lang::PeriPage:
        DecodePeriPage(ctx);
        break;
    case Lang::Paperang:
        DecodePaperang(ctx);
        break;
    case Lang::Cat:
        DecodeCat(ctx);
        break;
    case Lang::Niimbot:
        DecodeNiimbot(ctx);
        break;
    case Lang::Phomemo:
        DecodePhomemo(ctx);
        break;
    case Lang::Auto:
        ctx.Fail(0, "the start of a TSPL (\"SIZE \"), CPCL (\"! \"), ESC/POS (1B 40, 1B 70, 1D 56), "
                    "PeriPage (10 FF FE 01), Paperang (A5), cat printer (51 78, 22 21), Niimbot (55 55) or "
                    "Phomemo (1B 4E) stream, found " +
                        Hex(data, size < 4 ? size : 4));
        break;
    }
    return result;
}

const char *LangName(Lang lang)
{
    switch (lang) {
    case Lang::TSPL:
        return "tspl";
    case Lang::CPCL:
        return "cpcl";
    case Lang::ESCPOS:
        return "escpos";
    case Lang::PeriPage:
        return "peripage";
    case Lang::Paperang:
        return "paperang";
    case Lang::Cat:
        return "cat";
    case Lang::Niimbot:
        return "niimbot";
    case Lang::Phomemo:
        return "phomemo";
    case Lang::Auto:
        break;
    }
    return "auto";
}

bool ParseLang(const std::string &name, Lang &lang)
{
    for (Lang l : {Lang::Auto, Lang::TSPL, Lang::CPCL, Lang::ESCPOS, Lang::PeriPage, Lang::Paperang, Lang::Cat,
                   Lang::Niimbot, Lang::Phomemo}) {
        if (name == LangName(l)) {
            lang = l;
            return true;
        }
    }
    return false;
}

std::string FormatListing(const DecodeResult &result)
{
    std::string text;
    for (const std::string &line : result.listing) {
        text += line;
        text += '\n';
    }
    return text;
}

} // namespace qf::preview
