// ESC/POS renderer: command bytes, feed splitting, raster bands and the page
// sequence with its cut and cash-drawer placements.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PrinterESCPOS.h"
#include "PrinterTestKit.h"

namespace {

using namespace escpos;
using TestEscPos = CapturingRenderer<CPrinterESCPOS>;

const ByteVec kDrawer = {0x1B, 0x70, 0x00, 0xFF, 0xFF};
const ByteVec kFullCut = {0x1D, 0x56, 0x30};
const ByteVec kPartialCut = {0x1D, 0x56, 0x31};

// A page with a diagonal-ish pattern that differs per row and column.
bool Pattern(unsigned x, unsigned y)
{
    return ((x * 7 + y * 3) % 11) < 4;
}

std::function<void(CPrinterESCPOS &)> Raster(int xdpi, int ydpi, int w, int h)
{
    return [=](CPrinterESCPOS &r) { r.PrintBMP(xdpi, ydpi, w, h, nullptr, 0); };
}

struct BuilderCase {
    const char *name;
    std::function<void(CPrinterESCPOS &)> build;
    ByteVec expected;
};

TEST(EscPosCommands, BuildersAppendTheirBytes)
{
    const std::vector<BuilderCase> cases = {
        {"init", [](CPrinterESCPOS &r) { r.cmdInit(); }, {0x1B, 0x40, 0x00}},
        {"align left", [](CPrinterESCPOS &r) { r.cmdAlign(0); }, {0x1B, 0x61, 0x00}},
        {"align centre", [](CPrinterESCPOS &r) { r.cmdAlign(1); }, {0x1B, 0x61, 0x01}},
        {"align right", [](CPrinterESCPOS &r) { r.cmdAlign(2); }, {0x1B, 0x61, 0x02}},
        {"align 3 centres", [](CPrinterESCPOS &r) { r.cmdAlign(3); }, {0x1B, 0x61, 0x01}},
        {"align -1 centres", [](CPrinterESCPOS &r) { r.cmdAlign(-1); }, {0x1B, 0x61, 0x01}},
        {"full cut", [](CPrinterESCPOS &r) { r.cmdCutPaper(0); }, {0x1D, 0x56, 0x30}},
        {"partial cut", [](CPrinterESCPOS &r) { r.cmdCutPaper(1); }, {0x1D, 0x56, 0x31}},
        {"cut kind 7 is partial", [](CPrinterESCPOS &r) { r.cmdCutPaper(7); }, {0x1D, 0x56, 0x31}},
        {"end print", [](CPrinterESCPOS &r) { r.cmdEndPrint(); }, {}},
        {"drawer", [](CPrinterESCPOS &r) { r.cmdOpenMoneyBox(); }, {0x1B, 0x70, 0x00, 0xFF, 0xFF}},
        {"raster 2x3",
         [](CPrinterESCPOS &r) {
             const uint8_t d[] = {1, 2, 3, 4, 5, 6};
             r.PrintBMP(203, 203, 2, 3, d, 6);
         },
         {0x1D, 0x76, 0x30, 0x00, 0x02, 0x00, 0x03, 0x00, 1, 2, 3, 4, 5, 6}},
        {"raster little-endian sizes", Raster(203, 203, 0x0130, 0x0102), RasterHead(0x00, 0x0130, 0x0102)},
        {"raster 65535 wide", Raster(203, 203, 65535, 0), RasterHead(0x00, 65535, 0)},
        {"raster 65536 wide is refused", Raster(203, 203, 65536, 0), {}},
        // Mode byte: 3 = double width and height, for 100 dpi pages.
        {"raster 100 dpi", Raster(100, 100, 1, 0), RasterHead(0x03, 1, 0)},
        {"raster 300 dpi", Raster(300, 300, 1, 0), RasterHead(0x00, 1, 0)},
        {"raster 150 dpi", Raster(150, 150, 1, 0), RasterHead(0x00, 1, 0)},
        {"raster 203 x 100 dpi", Raster(203, 100, 1, 0), RasterHead(0x01, 1, 0)},
        {"raster 100 x 300 dpi", Raster(100, 300, 1, 0), RasterHead(0x02, 1, 0)},
        {"raster 150 x 100 dpi", Raster(150, 100, 1, 0), RasterHead(0x00, 1, 0)},
    };
    for (const BuilderCase &c : cases) {
        TestEscPos r;
        c.build(r);
        EXPECT_EQ(r.Built(), c.expected) << c.name;
        EXPECT_TRUE(r.writes.empty()) << c.name;
    }
}

// The feed's split into ESC J commands is the encoder's (EscPosEncoderTest);
// the builder takes millimetres at the page's resolution, and sends a feed
// of nothing as one.
TEST(EscPosCommands, FeedBuilderTakesMillimetresAtThePageResolution)
{
    struct Case {
        int dpi;
        float mm;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        {300, 10, Feed(0x76)},                         // 118.11 dots
        {203, 10, Feed(0x50)},                         // 79.92 dots
        {203, 0.01f, Feed(0x00)},                      // under half a dot
        {203, 0, Feed(0x00)},     {0, 10, Feed(0x00)}, // no resolution known
        {203, -2, Feed(0x00)},                         // never a backward feed
    };
    for (const Case &c : cases) {
        TestEscPos r;
        r.m_iResolution = c.dpi;
        r.PrintAndFeedPaper(c.mm);
        EXPECT_EQ(r.Built(), c.expected) << c.mm << " mm at " << c.dpi << " dpi";
    }
}

// Row counts above 65535 do not fit GS v 0: the rows go out in bands.
TEST(EscPosCommands, TallRasterIsSentInBandsOf65535Rows)
{
    struct Case {
        int h;
        std::vector<int> bands;
    };
    const Case cases[] = {
        {65535, {65535}},
        {65536, {65535, 1}},
        {65537, {65535, 2}},
        {131070, {65535, 65535}},
        {140000, {65535, 65535, 8930}},
    };
    for (const Case &c : cases) {
        const int w = 3;
        ByteVec data(size_t(w) * c.h);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8_t(i * 7 + i / 251);
        ByteVec expected;
        size_t offset = 0;
        for (int rows : c.bands) {
            const size_t n = size_t(rows) * w;
            expected = Cat({expected, RasterHead(0, w, rows),
                            ByteVec(data.begin() + long(offset), data.begin() + long(offset + n))});
            offset += n;
        }
        TestEscPos r;
        r.PrintBMP(203, 203, w, c.h, data.data(), int(data.size()));
        EXPECT_EQ(r.Built(), expected) << c.h << " rows";
    }
}

// Each page in one write, the end-of-job cut in its own; the placements by
// setting are the encoder's (EscPosEncoderTest).
TEST(EscPosPage, CutAndDrawerPlacements)
{
    const ByteVec raster = Cat({RasterHead(0, 2, 2), PrinterRows(16, 2, Pattern)});
    const ByteVec feed = Feed(0x50);
    struct Case {
        int moneyBox;
        int cutMode;
        ByteVec page;
        std::vector<ByteVec> endOfJob;
    };
    const std::vector<Case> cases = {
        {0, 0, Cat({kInit, kCentre, raster, feed}), {}},
        {0, 1, Cat({kInit, kCentre, raster, feed}), {kFullCut}},
        {0, 3, Cat({kInit, kCentre, raster, feed, kFullCut}), {}},
        {2, 3, Cat({kInit, kCentre, raster, feed, kFullCut, kDrawer}), {}},
        {1, 1, Cat({kDrawer, kInit, kCentre, raster, feed}), {kFullCut}},
    };
    for (const Case &c : cases) {
        TestEscPos r;
        r.m_Reg.iMoneyBox = c.moneyBox;
        r.m_Reg.iCutMode = c.cutMode;
        r.m_Reg.fFeedAfter = 10;
        for (int page = 0; page < 2; ++page) {
            r.m_Image = PreparedPage(16, 2, Pattern);
            r.OnPaintBmp();
        }
        ASSERT_EQ(r.writes.size(), 2u);
        EXPECT_EQ(r.writes[0], c.page) << c.moneyBox << "/" << c.cutMode;
        EXPECT_EQ(r.writes[1], c.page) << c.moneyBox << "/" << c.cutMode;
        r.OnEndDoc();
        EXPECT_EQ(std::vector<ByteVec>(r.writes.begin() + 2, r.writes.end()), c.endOfJob)
            << c.moneyBox << "/" << c.cutMode;
    }
}

// Receipt mode: the renderer knows whether the receipt has begun, from page
// to page and at the end of the job; the bytes by setting are the encoder's.
TEST(EscPosReceipt, PagesJoinIntoOneReceipt)
{
    // Pages of 6 rows, 16 dots wide, with ink in their first `ink` rows.
    auto page = [](unsigned ink) {
        return PreparedPage(16, 6, [ink](unsigned x, unsigned y) { return y < ink && Pattern(x, y); });
    };
    const ByteVec rows = PrinterRows(16, 6, Pattern);
    auto band = [&](unsigned from, unsigned to) {
        return Cat({RasterHead(0, 2, to - from), Slice(rows, from * 2, to * 2)});
    };
    const ByteVec start = Cat({kInit, kCentre}), end = Cat({Feed(96), kFullCut}); // 12 mm at 203 dpi
    struct Case {
        const char *name;
        int cutMode, moneyBox, bandRows;
        std::vector<unsigned> inkRows; // per page; 0 = a white page
        std::vector<ByteVec> writes;   // the pages', then the end of job's
    };
    const std::vector<Case> cases = {
        {"end cut", 1, 0, 256, {3, 5}, {Cat({start, band(0, 3)}), band(0, 5), end}},
        {"white page adds nothing", 2, 0, 256, {0, 2, 0}, {Cat({start, band(0, 2)}), Cat({Feed(96), kPartialCut})}},
        {"cut after every page", 3, 0, 256, {4, 1}, {Cat({start, band(0, 4), end}), Cat({band(0, 1), end})}},
        {"drawer after the cut", 1, 2, 256, {6}, {Cat({start, band(0, 6)}), Cat({end, kDrawer})}},
        {"blank job: drawer, no cut", 1, 1, 256, {0}, {kDrawer}},
    };
    for (const Case &c : cases) {
        TestEscPos r;
        r.m_Reg.bReceipt = true;
        r.m_Reg.fCutterFeed = 12;
        r.m_Reg.iCutMode = c.cutMode;
        r.m_Reg.iMoneyBox = c.moneyBox;
        r.m_Reg.iBandRows = c.bandRows;
        for (unsigned ink : c.inkRows) {
            r.m_Image = page(ink);
            r.OnPaintBmp();
        }
        r.OnEndDoc();
        EXPECT_EQ(r.writes, c.writes) << c.name;
    }
}

TEST(EscPosPage, JobWithoutPagesStillGetsItsEndCut)
{
    TestEscPos r;
    r.m_Reg.iCutMode = 1;
    r.OnEndDoc();
    EXPECT_EQ(r.writes, std::vector<ByteVec>{kFullCut});
}

TEST(EscPosPage, EmptyPageSendsAZeroRowRaster)
{
    TestEscPos r;
    r.m_Image = CxImage();
    r.OnPaintBmp();
    ASSERT_EQ(r.writes.size(), 1u);
    EXPECT_EQ(r.writes[0], Cat({kInit, kCentre, RasterHead(0, 0, 0)}));
}

// A page whose printer data would not fit the page buffer is not sent cut short.
TEST(EscPosPage, PageOverTheBufferLimitIsRefused)
{
    struct Case {
        int limit;
        bool printed;
        const char *error;
    };
    // 48 x 100 raster bytes, 14 bytes of commands around them.
    const Case cases[] = {
        {4799, false, "ERROR: The image of this page needs 4800 bytes"},
        {4813, false, "ERROR: The printer data of this page exceeds 4813 bytes"},
        {4814, true, nullptr},
    };
    for (const Case &c : cases) {
        TestEscPos r;
        r.m_CmdBuffer.SetMaxBufferSize(c.limit);
        r.m_Image = PreparedPage(384, 100, Pattern);
        testing::internal::CaptureStderr();
        r.OnPaintBmp();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.writes.size(), c.printed ? 1u : 0u) << c.limit;
        if (c.error)
            EXPECT_NE(err.find(c.error), std::string::npos) << err;
        else
            EXPECT_EQ(err, "");
        EXPECT_EQ(r.m_CmdBuffer.GetBufferLength(), 0);
    }
}

} // namespace
