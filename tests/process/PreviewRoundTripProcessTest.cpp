// raster -> quillfeed -> quillfeed-preview's decoder gives back the prepared
// page bit for bit, for every printer family, compressed and two-colour
// pages included. The expected page is prepared in-process by the same
// preparation the filter runs, so a renderer that drops, shifts or inverts a
// dot, or a stream the decoder can't read, fails here.
#include <gtest/gtest.h>

#include <cstring>

#include "Decode.h"
#include "FilterRun.h"
#include "PagePath.h"
#include "PagePrep.h"

using qf::preview::CompareWithOneBit;
using qf::preview::Decode;
using qf::preview::DecodeResult;

namespace {

// An 8-bit grey page (or 24-bit with red areas) with gradients and a
// deterministic scatter of dots, so every dithering path gets work.
RasterPage TestPage(unsigned w, unsigned h, unsigned bpp, unsigned dpi)
{
    RasterPage p = MakeWhitePage(w, h, bpp, dpi, dpi);
    uint32_t seed = 12345;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            uint8_t grey = static_cast<uint8_t>((x * 255 / w + (seed >> 24) % 40) % 256);
            if (y % 17 == 0)
                grey = 0;
            uint8_t *px = p.data.data() + y * p.header.cupsBytesPerLine + x * (bpp / 8);
            if (bpp == 8)
                px[0] = grey;
            else if (x > w / 2 && y < h / 2)
                px[0] = 255, px[1] = px[2] = static_cast<uint8_t>(grey / 3); // reddish
            else
                px[0] = px[1] = px[2] = grey;
        }
    return p;
}

struct Family {
    const char *name;
    int model;
    std::string options;
    bool twoColour;
    unsigned dpi;
    unsigned width = 200; // a head-wide page for families that centre a narrower one
};

class RoundTrip : public ::testing::TestWithParam<Family> {};

TEST_P(RoundTrip, DecodedPageIsThePreparedPage)
{
    const Family &f = GetParam();
    TempDir dir;
    TestPpd printer;
    printer.modelNumber = f.model;
    printer.options = {{"ImageCompress", {"0", "1"}}, {"zeMediaTracking", {"Continuous", "Gap"}}};
    if (f.twoColour)
        printer.attributes = {{"DoubleColor", "1"}};
    RasterPage page = TestPage(f.width, 60, f.twoColour ? 24 : 8, f.dpi);

    FilterCall call;
    call.ppd = WritePpd(dir.path(), printer);
    call.inputFile = dir.File("page.ras");
    call.options = f.options;
    ASSERT_TRUE(WriteRasterFile(call.inputFile, {page, page}, RasterFormat::Uncompressed));
    FilterResult r = RunFilter(call);
    ASSERT_EQ(r.exitStatus, 0) << r.err;

    DecodeResult decoded = Decode(r.out);
    ASSERT_TRUE(decoded.ok) << decoded.ErrorMessage();
    ASSERT_EQ(decoded.pages.size(), 2u);

    // The same preparation in-process: default settings (Burkes dithering).
    tagREGSTRUCT reg;
    reg.bDoubleColor = f.twoColour;
    CxImage black, red;
    RasterImage raster;
    raster.data = page.data.data();
    raster.width = page.header.cupsWidth;
    raster.height = page.header.cupsHeight;
    raster.bitsPerPixel = page.header.cupsBitsPerPixel;
    raster.bytesPerLine = page.header.cupsBytesPerLine;
    ASSERT_TRUE(MakePageImage(raster, black));
    ASSERT_EQ(PreparePage(black, red, reg, static_cast<int>(f.dpi)), "");

    for (const auto &p : decoded.pages) {
        EXPECT_EQ(CompareWithOneBit(p.black, black.GetBits(0), static_cast<int>(black.GetWidth()),
                                    static_cast<int>(black.GetHeight()), black.GetEffWidth(), true),
                  "")
            << f.name << " page " << p.number;
        ASSERT_EQ(p.red.has_value(), f.twoColour);
        if (f.twoColour) {
            EXPECT_GT(p.red->CountDots(), 0u);
            EXPECT_EQ(CompareWithOneBit(*p.red, red.GetBits(0), static_cast<int>(red.GetWidth()),
                                        static_cast<int>(red.GetHeight()), red.GetEffWidth(), true),
                      "")
                << f.name << " red plane";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamily, RoundTrip,
    ::testing::Values(Family{"TSPL", 20, "", false, 203}, Family{"TSPLCompressed", 20, "ImageCompress=1", false, 203},
                      Family{"TSPLTwoColour", 20, "", true, 203},
                      Family{"TSPLTwoColourCompressed", 20, "ImageCompress=1", true, 300},
                      Family{"CPCL", 22, "zeMediaTracking=Gap", false, 203}, Family{"ESCPOS", 21, "", false, 203},
                      Family{"ESCPOS100dpi", 21, "", false, 100}, Family{"PeriPage", 24, "", false, 203},
                      Family{"PeriPageCompressed", 24, "ImageCompress=1 zeMediaTracking=Gap", false, 203},
                      Family{"Paperang", 23, "zeMediaTracking=Gap", false, 203}, Family{"Cat", 25, "", false, 203},
                      Family{"Niimbot", 26, "zeMediaTracking=Gap", false, 203},
                      Family{"Phomemo", 27, "zeMediaTracking=Gap", false, 203, 384}),
    [](const ::testing::TestParamInfo<Family> &info) { return std::string(info.param.name); });

} // namespace

namespace {

// The bundled test PPDs (tests/data/test-model-20..27.ppd) drive every family:
// a one-bit page passes preparation unchanged, so the decoded page must be
// the raster itself.
TEST(BundledTestPpds, EveryModelPrintsTheRasterItself)
{
    TempDir dir;
    RasterPage page = MakeWhitePage(384, 40, 1, 203, 203);
    uint32_t seed = 7;
    for (uint8_t &b : page.data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    const std::string raster = dir.File("page.ras");
    ASSERT_TRUE(WriteRasterFile(raster, {page}, RasterFormat::Uncompressed));
    for (int model = 20; model <= 27; ++model) {
        for (const char *options : {"", "ImageCompress=1 Darkness=15 zeMediaTracking=BLine"}) {
            FilterCall call;
            call.ppd = std::string(QF_TEST_DATA) + "/test-model-" + std::to_string(model) + ".ppd";
            call.inputFile = raster;
            call.options = options;
            FilterResult r = RunFilter(call);
            ASSERT_EQ(r.exitStatus, 0) << model << " " << r.err;
            DecodeResult decoded = Decode(r.out);
            ASSERT_TRUE(decoded.ok) << model << " " << decoded.ErrorMessage();
            ASSERT_EQ(decoded.pages.size(), 1u) << model;
            EXPECT_EQ(CompareWithOneBit(decoded.pages[0].black, page.data.data(), 384, 40, 48, true), "")
                << model << " " << options;
        }
    }
}

} // namespace
