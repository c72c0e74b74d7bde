// The page path in this process, without a PPD, a raster file or a child:
// the settings and up to three pages come from the input, every family.
//
// Input: one byte for the family (and two colours), one selector byte per
// settings keyword (plus the number it may name), one byte for the model
// name and one for where the printer connection breaks, then the pages: a
// page count byte, a header of ten bytes per page and the rest of the
// input as the pages' rows, shared out in order. Each page goes through the
// page intake as a front end's would (rows the input lacks are white, as a
// cut stream's are).
#include <cups/raster.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "PageCheck.h"
#include "PageIntake.h"
#include "PagePath.h"
#include "SettingsReader.h"

namespace {

// 128 x 64 dots: room for every feature of a page at a thousand inputs a
// second under the sanitizers; the hostile-input tests print pages at the
// limits.
constexpr uint64_t kMaxFuzzPixels = 1u << 13;
constexpr unsigned kMaxPages = 3;

// The settings reader asks for its keywords in a fixed order; a source that
// records them keeps this fuzzer in step with the settings table.
class KeywordRecorder : public SettingsSource {
public:
    std::vector<std::string> keywords;
    std::string Choice(const char *keyword) override
    {
        keywords.push_back(keyword);
        return "";
    }
    std::string Attribute(const char *name) override
    {
        keywords.push_back(name);
        return "";
    }
};

const std::vector<std::string> &Keywords()
{
    static const std::vector<std::string> keywords = [] {
        KeywordRecorder recorder;
        tagREGSTRUCT reg;
        ReadSettings(recorder, reg, [](const std::string &) {});
        return recorder.keywords;
    }();
    return keywords;
}

// The choices that are words, not numbers; the last of each is one no PPD
// offers.
const std::map<std::string, std::vector<const char *>> kWordChoices = {
    {"zeMediaTracking",
     {"Gap", "Continuous", "BLine", "BLine_Fold", "Perforated", "Roll", "Recording", "Tattoo", "TattooWrinkle",
      "TattooGuidelines", "ContinuousRoll", "UsLetterFold", "A4Fold", "A4Stock", "Stock", "Transparent", "BLineGap",
      "Tube", "Nonsense"}},
    {"MediaMethod", {"Direct", "Transfer", "Normal", "Nonsense"}},
    {"MediaAlign", {"Center", "Left", "Right", "Nonsense"}},
    {"Darkness", {"Default"}},
    {"zePrintRate", {"Default"}},
    {"qfBrightness", {"Default"}},
};

class Reader {
public:
    Reader(const uint8_t *data, size_t size) : m_data(data), m_left(size) {}
    uint8_t Byte()
    {
        if (!m_left)
            return 0;
        --m_left;
        return *m_data++;
    }
    uint32_t Bytes(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 8 | Byte();
        return v;
    }
    const uint8_t *Rest() const { return m_data; }
    size_t Left() const { return m_left; }

private:
    const uint8_t *m_data;
    size_t m_left;
};

// The chosen settings: a keyword absent from the map is not offered.
class InputSource : public SettingsSource {
public:
    std::map<std::string, std::string> choices;
    std::string Choice(const char *keyword) override { return Find(keyword); }
    std::string Attribute(const char *name) override { return Find(name); }
    bool Offers(const char *keyword) override { return choices.count(keyword) != 0; }

private:
    std::string Find(const char *keyword)
    {
        auto it = choices.find(keyword);
        return it == choices.end() ? "" : it->second;
    }
};

// A selector byte: 0 no choice; below 0x80 a word choice where the keyword
// has words, else the number itself; then small negative numbers, 16-bit
// and 32-bit numbers from the bytes that follow.
std::string PickChoice(const std::string &keyword, uint8_t s, Reader &in)
{
    auto words = kWordChoices.find(keyword);
    if (s < 0x80) {
        if (words != kWordChoices.end() && s % 2)
            return words->second[(s / 2) % words->second.size()];
        return std::to_string(s - 1);
    }
    if (s < 0xC0)
        return std::to_string(static_cast<int>(s) - 0xC0);
    if (s < 0xF0)
        return std::to_string(static_cast<int16_t>(in.Bytes(2)));
    return std::to_string(static_cast<int32_t>(in.Bytes(4)));
}

const unsigned kBitsPerPixel[] = {1, 8, 24, 32};
const int kColorSpaces[] = {CUPS_CSPACE_W,    CUPS_CSPACE_K,   CUPS_CSPACE_RGB,  CUPS_CSPACE_SW,
                            CUPS_CSPACE_SRGB, CUPS_CSPACE_CMY, CUPS_CSPACE_CMYK, CUPS_CSPACE_RGBA};
const unsigned kResolutions[] = {203, 300, 100, 200, 600, 150, 72, 0};

// A page header from ten bytes of input; bytes per line usually as the
// pixels need, sometimes a little more or fewer.
cups_page_header2_t Header(Reader &in)
{
    cups_page_header2_t h;
    memset(&h, 0, sizeof h);
    h.cupsWidth = in.Bytes(2) % 1024;
    h.cupsHeight = in.Bytes(2) % 4096;
    const uint8_t depth = in.Byte();
    h.cupsBitsPerPixel = depth & 0x80 ? depth & 0x3F : kBitsPerPixel[depth % 4];
    h.cupsBitsPerColor = h.cupsBitsPerPixel >= 24 ? 8 : h.cupsBitsPerPixel;
    const uint8_t space = in.Byte();
    const int cspace = space & 0x80 ? space & 0x7F : kColorSpaces[space % 8];
    memcpy(&h.cupsColorSpace, &cspace, sizeof cspace);
    const uint8_t res = in.Byte();
    h.HWResolution[0] = kResolutions[res % 8];
    h.HWResolution[1] = kResolutions[(res / 8) % 8];
    const uint64_t need = NeededBytesPerLine(h);
    const int8_t slack = static_cast<int8_t>(in.Byte());
    h.cupsBytesPerLine = static_cast<unsigned>(std::max<int64_t>(0, static_cast<int64_t>(need) + slack % 5));
    in.Bytes(2); // room for more header fields
    h.PageSize[0] = h.cupsWidth * 72 / std::max(1u, h.HWResolution[0]);
    h.PageSize[1] = h.cupsHeight * 72 / std::max(1u, h.HWResolution[1]);
    return h;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader in(data, size);
    const uint8_t family = in.Byte();
    InputSource source;
    for (const std::string &keyword : Keywords())
        if (const uint8_t s = in.Byte())
            source.choices[keyword] = PickChoice(keyword, s, in);
    if (family & 0x80)
        source.choices["DoubleColor"] = "1";
    const uint8_t name = in.Byte();
    // A model name each family with models picks its model by: the cat printers' MXW01, Niimbot's D110, Phomemo's D30.
    const std::string modelName = (name & 1)   ? "Fuzz"
                                  : (name & 2) ? "MXW01"
                                  : (name & 4) ? "D110"
                                  : (name & 8) ? "D30"
                                               : "";
    // Where the connection breaks: 0 never, else after that many kilobytes.
    const uint32_t breakAt = in.Byte() * 1024u;

    cups_page_header2_t headers[kMaxPages];
    const unsigned pages = 1 + in.Byte() % kMaxPages;
    for (unsigned i = 0; i < pages; ++i)
        headers[i] = Header(in);

    size_t written = 0;
    PagePath::Sink sink = [&written, breakAt](const void *, size_t n) {
        written += n;
        return breakAt == 0 || written < breakAt;
    };
    const PageNotes notes = [](NoteKind, const std::string &) {};
    PagePath path(
        20 + family % 8, [&source](tagREGSTRUCT &reg) { ReadSettings(source, reg, [](const std::string &) {}); },
        modelName, sink);
    path.SetNotes(notes);
    if (!path.Known())
        __builtin_trap();
    path.StartJob();
    const uint8_t *rows = in.Rest();
    size_t left = in.Left();
    for (unsigned i = 0; i < pages && !path.OutputFailed(); ++i) {
        const cups_page_header2_t &h = headers[i];
        if (CheckPageHeader(h) == PageVerdict::Ok && uint64_t{h.cupsWidth} * h.cupsHeight > kMaxFuzzPixels)
            return -1; // slow and teaches nothing new: kept out of the corpus
        PageIntake intake(notes);
        if (!intake.Begin(h, static_cast<int>(i + 1)))
            continue;
        // The page's share of the rows; the intake makes the rest white.
        const size_t bytes = static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight;
        const size_t take = std::min(bytes, i + 1 == pages ? left : left / 2);
        for (size_t at = 0; h.cupsBytesPerLine && at + h.cupsBytesPerLine <= take; at += h.cupsBytesPerLine)
            intake.AddRow(rows + at);
        rows += take;
        left -= take;
        RasterImage page;
        if (intake.Finish(page))
            path.PrintPage(page, static_cast<int>(i + 1));
    }
    path.EndJob();
    return 0;
}
