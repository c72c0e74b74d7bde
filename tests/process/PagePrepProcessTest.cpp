// Page preparation seen from outside: raster pages of every depth, and the
// two-colour split, with the job's options marked in the PPD, checked on the
// TSPL bitmaps the real filter sends. What each setting does to the page is
// tested on the preparation functions themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FilterRun.h"

namespace {

struct Bitmap {
    int widthBytes = 0, height = 0;
    std::vector<uint8_t> bits; // as sent: plain form, 1 = white
};

// The plain BITMAP payloads of a TSPL stream, in order.
std::vector<Bitmap> Bitmaps(const std::vector<uint8_t> &out)
{
    std::vector<Bitmap> maps;
    const std::string head = "BITMAP 0,0,";
    auto it = out.begin();
    while ((it = std::search(it, out.end(), head.begin(), head.end())) != out.end()) {
        it += static_cast<long>(head.size());
        Bitmap b;
        int mode = 0;
        std::string rest(it, std::min(it + 40, out.end()));
        int consumed = 0;
        if (sscanf(rest.c_str(), "%d,%d,%d,%n", &b.widthBytes, &b.height, &mode, &consumed) != 3 || mode != 1)
            break;
        it += consumed;
        const long n = static_cast<long>(b.widthBytes) * b.height;
        if (out.end() - it < n)
            break;
        b.bits.assign(it, it + n);
        it += n;
        maps.push_back(b);
    }
    return maps;
}

// "#" for a printed dot, "." for white, of the first `width` pixels per row.
std::vector<std::string> Rows(const Bitmap &b, int width)
{
    std::vector<std::string> rows;
    for (int y = 0; y < b.height; ++y) {
        std::string row;
        for (int x = 0; x < width; ++x)
            row += (b.bits[static_cast<size_t>(y * b.widthBytes + x / 8)] & (0x80 >> (x % 8))) ? '.' : '#';
        rows.push_back(row);
    }
    return rows;
}

// A raster page whose pixel (x, y) has grey level level(x, y), at any depth.
template <class F> RasterPage GreyPage(unsigned w, unsigned h, unsigned bpp, F level)
{
    RasterPage p = MakeWhitePage(w, h, bpp, 203, 203);
    const size_t bpl = p.header.cupsBytesPerLine;
    for (unsigned y = 0; y < h; ++y) {
        uint8_t *row = p.data.data() + y * bpl;
        for (unsigned x = 0; x < w; ++x) {
            const uint8_t v = static_cast<uint8_t>(level(x, y));
            switch (bpp) {
            case 1:
                if (v < 128)
                    row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
                break;
            case 4:
                row[x / 2] = static_cast<uint8_t>(x % 2 ? (row[x / 2] & 0xF0) | (v / 17)
                                                        : (row[x / 2] & 0x0F) | ((v / 17) << 4));
                break;
            case 8:
                row[x] = v;
                break;
            case 24:
                memset(row + 3 * x, v, 3);
                break;
            case 32:
                memset(row + 4 * x, v, 3);
                row[4 * x + 3] = 255;
                break;
            }
        }
    }
    return p;
}

class PagePrep : public ::testing::Test {
protected:
    TempDir dir;

    FilterResult Print(const std::vector<RasterPage> &pages, const std::string &options,
                       std::vector<std::pair<std::string, std::string>> attributes = {})
    {
        TestPpd printer;
        // Every option the tests use, with the choices they use.
        printer.options = {
            {"ImageFilter", {"3", "0", "2", "8"}}, {"Threshold", {"175", "100", "128", "150"}},
            {"Brightness", {"0", "50"}},           {"Contrast", {"0", "100"}},
            {"ImageEnhance", {"10", "20"}},        {"ImageOffsetX", {"0", "8", "-3"}},
            {"ImageOffsetY", {"0", "3", "-2"}},    {"CropEdgeTop", {"0", "1", "-1"}},
            {"CropEdgeBottom", {"0", "1"}},        {"CropEdgeLeft", {"0", "1"}},
            {"CropEdgeRight", {"0", "1"}},         {"Rotate", {"0", "1", "2", "3"}},
        };
        printer.attributes = attributes;
        FilterCall call;
        call.ppd = WritePpd(dir.path(), printer);
        call.inputFile = dir.File("page.ras");
        EXPECT_TRUE(WriteRasterFile(call.inputFile, pages, RasterFormat::Uncompressed));
        call.options = options;
        FilterResult r = RunFilter(call);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return r;
    }
};

TEST_F(PagePrep, EveryDepthThresholds)
{
    // Left half grey 102, right half 204: black and white at threshold 128.
    auto level = [](unsigned x, unsigned) { return x < 32 ? 102 : 204; };
    for (unsigned bpp : {1u, 4u, 8u, 24u, 32u}) {
        FilterResult r = Print({GreyPage(64, 3, bpp, level)}, "ImageFilter=0 Threshold=128");
        std::vector<Bitmap> maps = Bitmaps(r.out);
        ASSERT_EQ(maps.size(), 1u) << bpp;
        EXPECT_EQ(maps[0].widthBytes, 8);
        EXPECT_EQ(Rows(maps[0], 64), std::vector<std::string>(3, std::string(32, '#') + std::string(32, '.'))) << bpp;
    }
}

TEST_F(PagePrep, TwoColourSplit)
{
    // Columns 0..7 pure red, 8..15 dark red (140, 0, 0), 16..23 grey-ish
    // (100, 120, 125), 24..31 white; threshold printing so the planes are exact.
    RasterPage page = MakeWhitePage(32, 2, 24, 203, 203);
    const uint8_t colours[4][3] = {{255, 0, 0}, {140, 0, 0}, {100, 120, 125}, {255, 255, 255}};
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 32; ++x)
            memcpy(&page.data[y * page.header.cupsBytesPerLine + 3 * x], colours[x / 8], 3);
    FilterResult r = Print({page}, "ImageFilter=0 Threshold=150", {{"DoubleColor", "1"}});
    std::string text(r.out.begin(), r.out.end());
    size_t cls = text.find("CLS\r\n"), red = text.find("SETCOLOR RED 8\r\n"), black = text.find("SETCOLOR BLACK\r\n");
    ASSERT_NE(red, std::string::npos);
    ASSERT_NE(black, std::string::npos);
    EXPECT_LT(cls, red);
    EXPECT_LT(red, black);
    std::vector<Bitmap> maps = Bitmaps(r.out);
    ASSERT_EQ(maps.size(), 2u);
    const std::string redRow = std::string(8, '#') + std::string(24, '.');
    const std::string blackRow = std::string(8, '.') + std::string(16, '#') + std::string(8, '.');
    EXPECT_EQ(Rows(maps[0], 32), std::vector<std::string>(2, redRow));
    EXPECT_EQ(Rows(maps[1], 32), std::vector<std::string>(2, blackRow));
}

} // namespace
