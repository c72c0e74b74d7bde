// Streams and PPDs a hostile or broken job may bring, each run through the
// real filter: every one ends within seconds, in bounded memory, with its
// own exit status and message, and what reaches the printer is whole pages
// only (the decoder reads the output to its end).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>

#include "Decode.h"
#include "FilterRun.h"

namespace {

using Bytes = std::vector<uint8_t>;

#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxRssKb = 1536 * 1024; // shadow memory and quarantine on top
constexpr double kMaxSeconds = 30;
#else
constexpr long kMaxRssKb = 256 * 1024;
constexpr double kMaxSeconds = 10;
#endif

Bytes ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

RasterPage Pattern(unsigned w, unsigned h, unsigned bpp = 1, unsigned dpi = 203)
{
    RasterPage p = MakeWhitePage(w, h, bpp, dpi, dpi);
    for (size_t i = 0; i < p.data.size(); i += 5)
        p.data[i] = 0x0F;
    return p;
}

// A page whose header promises rows that never come.
RasterPage HeaderOnly(unsigned w, unsigned h, unsigned bpp)
{
    RasterPage p;
    p.header = MakePageHeader(w, h, bpp, 203, 203);
    p.rowsToWrite = 0;
    return p;
}

class Hostile : public ::testing::Test {
protected:
    TempDir dir;

    Bytes Stream(const std::vector<RasterPage> &pages)
    {
        const std::string path = dir.File("job.ras");
        EXPECT_TRUE(WriteRasterFile(path, pages, RasterFormat::Uncompressed));
        return ReadAll(path);
    }

    FilterResult Run(const Bytes &input, const TestPpd &printer = {}, const std::string &options = "")
    {
        const std::string path = dir.File("in.ras");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(input.data()), static_cast<std::streamsize>(input.size()));
        FilterCall call;
        call.ppd = WritePpd(dir.path(), printer);
        call.inputFile = path;
        call.options = options;
        FilterResult r = RunFilter(call);
        EXPECT_LT(r.seconds, kMaxSeconds);
        EXPECT_LT(r.maxRssKb, kMaxRssKb);
        return r;
    }
};

bool HasLineStarting(const FilterResult &r, const std::string &prefix)
{
    for (const std::string &l : r.errLines)
        if (l.rfind(prefix, 0) == 0)
            return true;
    return false;
}

// Pages the printer received, every one complete; -1 when the output is cut
// or malformed.
int WholePages(const FilterResult &r)
{
    if (r.out.empty())
        return 0;
    const qf::preview::DecodeResult d = qf::preview::Decode(r.out);
    return d.ok ? static_cast<int>(d.pages.size()) : -1;
}

TEST_F(Hostile, BrokenStreams)
{
    const Bytes valid = Stream({Pattern(64, 8)});
    // libcups won't write such a header: patch the stream, which holds the
    // header as the structure after a 4-byte sync word.
    Bytes enums = valid;
    for (auto [offset, value] : {std::pair<size_t, int>{offsetof(cups_page_header2_t, cupsColorOrder), 7},
                                 {offsetof(cups_page_header2_t, cupsColorSpace), 100},
                                 {offsetof(cups_page_header2_t, Duplex), 2}})
        std::memcpy(enums.data() + 4 + offset, &value, sizeof value);
    RasterPage farDpi = Pattern(8, 8, 1, 1833500875u);
    RasterPage cutGrey = Pattern(64, 10, 8);
    cutGrey.header.cupsColorSpace = CUPS_CSPACE_K;
    cutGrey.rowsToWrite = 2;
    RasterPage twoBit = Pattern(64, 8, 2), sixteen = Pattern(64, 8, 16);
    twoBit.rowsToWrite = sixteen.rowsToWrite = 0;
    Bytes cutHeader = Stream({Pattern(64, 8), Pattern(64, 8)});
    cutHeader.resize(valid.size() + 100);
    Bytes garbage = valid;
    garbage.insert(garbage.end(), 3000, 0xA5);
    Bytes wrongSync = valid;
    std::memcpy(wrongSync.data(), "RaZ3", 4);

    struct Case {
        const char *name;
        Bytes input;
        int exitStatus;
        const char *message; // the start of a stderr line; "" for none
        int pages;           // whole pages printed
    } cases[] = {
        {"one-bit page two billion dots wide", Stream({HeaderOnly(2147483647u, 1, 1)}), 0,
         "ERROR: Page 1 is too large to print", 0},
        {"page a billion dots wide, to be rotated", Stream({HeaderOnly(1073741760u, 1, 1)}), 0,
         "ERROR: Page 1 is too large to print", 0},
        {"header only", Stream({HeaderOnly(64, 8, 1)}), 0, "ERROR: Page 1 has no raster data", 0},
        {"resolution of 1833500875 dpi", Stream({farDpi}), 0, "ERROR: Page 1 has a resolution of", 0},
        {"header fields no enumerator names", enums, 0, "", 1},
        {"black-ink grey page cut after 2 rows", Stream({cutGrey}), 0, "WARNING: Page 1 ends after 2 of its 10 rows",
         1},
        {"2-bit page", Stream({twoBit}), 0, "ERROR: Page 1 has 2 bits per pixel", 0},
        {"16-bit page", Stream({sixteen}), 0, "ERROR: Page 1 has 16 bits per pixel", 0},
        {"stream cut inside the second header", cutHeader, 0, "", 1},
        {"garbage after a valid page", garbage, 0, "", 1},
        {"wrong sync word", wrongSync, 1, "ERROR: No pages were found.", 0},
        {"empty file", {}, 1, "ERROR: No pages were found.", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const FilterResult r = Run(c.input);
        EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
        if (*c.message) {
            EXPECT_TRUE(HasLineStarting(r, c.message)) << r.err;
        }
        EXPECT_EQ(WholePages(r), c.pages) << Printable(r.out);
    }
}

TEST_F(Hostile, CutPageIsWhiteWhereRowsAreMissing)
{
    // Half the rows black, the rest missing: the printed page is half black.
    RasterPage half = MakeWhitePage(64, 8, 8, 203, 203);
    std::fill(half.data.begin(), half.data.end(), 0);
    half.rowsToWrite = 4;
    const FilterResult r = Run(Stream({half}), {}, "ImageFilter=0");
    const qf::preview::DecodeResult d = qf::preview::Decode(r.out);
    ASSERT_TRUE(d.ok && d.pages.size() == 1) << d.ErrorMessage();
    std::string rows;
    for (int y = 0; y < 8; ++y)
        rows += d.pages[0].black.Dot(0, y) ? '#' : '.';
    EXPECT_EQ(rows, "####....");
}

TEST_F(Hostile, AbsurdPpdSettingsPrintEveryModel)
{
    const Bytes job = Stream({Pattern(64, 16)});
    for (int model = 20; model <= 24; ++model)
        for (const char *offset : {"99999", "-99999"}) {
            SCOPED_TRACE(std::to_string(model) + " offset " + offset);
            TestPpd printer;
            printer.modelNumber = model;
            for (const char *key : {"ImageOffsetX", "ImageOffsetY", "FeedOffset", "AdjustHoriaontal", "AdjustVertical"})
                printer.options.push_back({key, {offset}});
            for (const char *key : {"CropEdgeTop", "CropEdgeBottom", "CropEdgeLeft", "CropEdgeRight"})
                printer.options.push_back({key, {"-1"}});
            printer.options.push_back({"Darkness", {"99999"}});
            printer.options.push_back({"zePrintRate", {"99999"}});
            const FilterResult r = Run(job, printer);
            EXPECT_EQ(r.exitStatus, 0) << r.err;
            EXPECT_EQ(WholePages(r), 1) << r.err << Printable(r.out);
        }
}

TEST_F(Hostile, TallNarrowPagesFinishInSeconds)
{
    // Each row of such a page costs the encoders their per-row commands; a
    // command buffer that outgrows its reservation is copied once per row.
    struct Case {
        int model;
        unsigned width, height;
    } cases[] = {{20, 1, 131072}, {21, 1, 131072}, {22, 1, 131072}, {23, 1, 131072}, {24, 1, 131072}, {23, 8, 100000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.model) + ": " + std::to_string(c.width) + " x " + std::to_string(c.height));
        TestPpd printer;
        printer.modelNumber = c.model;
        const FilterResult r = Run(Stream({Pattern(c.width, c.height)}), printer);
        EXPECT_LT(r.seconds, 10);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(WholePages(r), 1) << r.err;
    }
}

// Jobs that once printed wrongly, each with the dots or the commands it must
// give now.
TEST_F(Hostile, OnceMisprintedJobsPrintWhatTheyShow)
{
    auto dots = [](const FilterResult &r) -> long {
        const qf::preview::DecodeResult d = qf::preview::Decode(r.out);
        return d.ok && d.pages.size() == 1 ? static_cast<long>(d.pages[0].black.CountDots()) : -1;
    };
    auto colour = [](unsigned bpp, uint8_t red, uint8_t green, uint8_t blue, uint8_t fourth) {
        RasterPage p = MakeWhitePage(64, 32, bpp, 203, 203);
        for (size_t i = 0; i < p.data.size(); i += bpp / 8) {
            p.data[i] = red;
            p.data[i + 1] = green;
            p.data[i + 2] = blue;
            if (bpp == 32)
                p.data[i + 3] = fourth;
        }
        return p;
    };
    TestPpd printer;
    printer.options = {{"Rotate", {"0", "2", "3"}},
                       {"ImageFilter", {"3", "0"}},
                       {"ImageOffsetX", {"0", "8"}},
                       {"zeMediaTracking", {"Gap", "BLine"}},
                       {"GapHeight", {"3", "2147483648"}}};

    // One dot at (7, 0), turned either way: still one dot.
    RasterPage dot = MakeWhitePage(64, 2, 1, 203, 203);
    dot.data[0] = 0xFE;
    for (const char *rotate : {"Rotate=2", "Rotate=3"})
        EXPECT_EQ(dots(Run(Stream({dot}), printer, rotate)), 1) << rotate;

    // Sky blue is darker than the threshold, orange lighter.
    EXPECT_EQ(dots(Run(Stream({colour(24, 0, 200, 255, 0)}), printer, "ImageFilter=0")), 64 * 32);
    EXPECT_EQ(dots(Run(Stream({colour(24, 255, 200, 0, 0)}), printer, "ImageFilter=0")), 0);

    // A black 32-bit page whose fourth bytes are 0, shifted by 8 dots.
    for (const char *filter : {"ImageFilter=0", "ImageFilter=3"})
        EXPECT_EQ(dots(Run(Stream({colour(32, 0, 0, 0, 0)}), printer, std::string(filter) + " ImageOffsetX=8")),
                  56 * 32)
            << filter;

    // A black-mark height of 2^31 mm: the longest mark TSPL takes.
    const FilterResult mark = Run(Stream({Pattern(64, 16)}), printer, "zeMediaTracking=BLine GapHeight=2147483648");
    EXPECT_NE(std::string(mark.out.begin(), mark.out.end()).find("BLINE 200 dot,0 dot\r\n"), std::string::npos);
    EXPECT_TRUE(mark.HasErrLine("WARNING: GapHeight 2147483647 is outside 0 to 25.4 mm: 25.4 used")) << mark.err;

    // A feed of 2^31 mm after a receipt page: at most 100 mm of ESC J.
    TestPpd receipt;
    receipt.modelNumber = 21;
    receipt.options = {{"FeedOffset", {"0", "2147483648"}}};
    const FilterResult fed = Run(Stream({Pattern(64, 16)}), receipt, "FeedOffset=2147483648");
    EXPECT_EQ(WholePages(fed), 1);
    EXPECT_LT(fed.out.size(), 64u / 8 * 16 + 64);
}

} // namespace
