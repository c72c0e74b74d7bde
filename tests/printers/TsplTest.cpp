// TSPL renderer: golden bytes of the command builders, the bitmap forms and
// the page streams that no PPD choice reaches.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

#include "PrinterTSPL.h"
#include "PrinterTestKit.h"

namespace {

class TestTSPL : public CapturingRenderer<CPrinterTSPL> {
public:
    TestTSPL() { m_Reg.iDensity = m_Reg.iSpeed = -1; } // as from a PPD without Darkness and zePrintRate
    // TSPL is text: the builders are checked as a string.
    std::string Built() const { return std::string(m_CmdBuffer.GetBuffer(), m_CmdBuffer.GetBufferLength()); }

    int compressResult = Z_OK; // anything else makes compression fail so

protected:
    int Compress(Bytef *dest, uLongf *destLen, const Bytef *src, uLong srcLen) override
    {
        return compressResult != Z_OK ? compressResult : CPrinterTSPL::Compress(dest, destLen, src, srcLen);
    }
};

// A one-bit image whose stored bytes, padding included, run through a pattern.
CxImage Pattern(unsigned width, unsigned height, uint8_t seed)
{
    CxImage img(width, height, 1, 0);
    for (size_t i = 0; i < static_cast<size_t>(img.GetEffWidth()) * height; ++i)
        img.GetBits(0)[i] = static_cast<uint8_t>(seed + i * 37 + (i >> 8));
    return img;
}

// A BITMAP command: its text up to the data, the data, CR LF.
ByteVec Bitmap(const std::string &head, const ByteVec &data)
{
    return Cat({Bytes(head), data, Bytes("\r\n")});
}

void SendBitmap(TestTSPL &r, CxImage &img, int x = 0, int y = 0)
{
    r.cmdBITMAP(img, x, y, static_cast<int>(img.GetEffWidth()), static_cast<int>(img.GetHeight()), img.GetBits(0),
                static_cast<int>(Storage(img).size()));
}

TEST(TsplBuilders, GoldenBytes)
{
    using Build = std::function<void(TestTSPL &)>;
    const std::pair<Build, std::string> cases[] = {
        {[](TestTSPL &r) { r.cmdSIZE(10, 20.5, 2); }, "SIZE 10.00 dot,20.50 dot"},
        {[](TestTSPL &r) { r.cmdSIZE(7.5, 0.125, 3); }, "SIZE 7.50,0.12"},
        {[](TestTSPL &r) { r.cmdSetCutter(1, 5); }, "SET CUTTER BATCH"},
        {[](TestTSPL &r) { r.cmdSetCutter(-1, 12); }, "SET CUTTER 12"},
        {[](TestTSPL &r) { r.cmdSetPartialCutter(1, 5); }, "SET PARTIAL_CUTTER BATCH"},
        {[](TestTSPL &r) { r.cmdSetPartialCutter(7, 3); }, "SET PARTIAL_CUTTER 3"},
        {[](TestTSPL &r) { r.cmdBLINE(3, 2); }, "BLINE 24 dot,16 dot"},
        {[](TestTSPL &r) { r.cmdDENSITY(-1); }, ""},
        {[](TestTSPL &r) { r.cmdDENSITY(99); }, "DENSITY 99"},
        {[](TestTSPL &r) { r.cmdSPEED(-1); }, ""},
        {[](TestTSPL &r) { r.cmdSetColorRed(8); }, "SETCOLOR RED 8"},
        {[](TestTSPL &r) { r.cmdPRINT(2, 3); }, "PRINT 2,3"},
        {[](TestTSPL &r) {
             r.SetModelName("do-zidivoz ");
             r.cmdPRINT(1, 1);
         },
         "PRINT 1,1"},
        {[](TestTSPL &r) {
             r.SetModelName("do-zidivo");
             r.cmdPRINT(1, 1);
         },
         "PRINT 1,1"},
    };
    for (const auto &c : cases) {
        TestTSPL r;
        c.first(r);
        EXPECT_EQ(r.Built(), c.second.empty() ? "" : c.second + "\r\n");
        EXPECT_TRUE(r.writes.empty()) << c.second << ": a builder never writes by itself";
    }
}

TEST(TsplBuilders, BitmapForms)
{
    struct Case {
        unsigned width, height;
        int x, y;
        bool compress;
        const char *head;
    } cases[] = {
        {16, 2, 0, 0, false, "BITMAP 0,0,4,2,1,"},
        {33, 3, 5, 7, false, "BITMAP 5,7,8,3,1,"},
        {16, 2, 0, 0, true, "BITMAP 0,0,4,2,3,"},
        {300, 17, 0, 0, true, "BITMAP 0,0,40,17,3,"},
    };
    for (const Case &c : cases) {
        TestTSPL r;
        r.m_Reg.bImageCompress = c.compress;
        CxImage img = Pattern(c.width, c.height, static_cast<uint8_t>(c.width));
        const ByteVec plain = Storage(img);
        SendBitmap(r, img, c.x, c.y);
        if (!c.compress) {
            EXPECT_EQ(Bytes(r.Built()), Bitmap(c.head, plain)) << c.head;
            continue;
        }
        // A 1 bit is a dot in the compressed form: one zlib stream of the
        // inverted bytes, preceded by its exact length.
        const ByteVec z = Zlib(Inverted(plain));
        EXPECT_EQ(Bytes(r.Built()), Bitmap(c.head + std::to_string(z.size()) + ",", z)) << c.head;
    }
}

TEST(TsplBuilders, FailedCompressionSendsThePreparedBitsPlain)
{
    for (int rc : {Z_MEM_ERROR, Z_BUF_ERROR, Z_STREAM_ERROR}) {
        TestTSPL r;
        r.m_Reg.bImageCompress = true;
        r.compressResult = rc;
        CxImage img = Pattern(40, 3, 1);
        const ByteVec plain = Storage(img);
        SendBitmap(r, img);
        EXPECT_EQ(Bytes(r.Built()), Bitmap("BITMAP 0,0,8,3,1,", plain)) << rc;
        EXPECT_EQ(Storage(img), plain) << rc;
        EXPECT_NE(r.log.find("compress failed (" + std::to_string(rc) + ": "), std::string::npos) << r.log;
        EXPECT_NE(r.log.find("sending the plain bitmap"), std::string::npos) << r.log;
    }
}

// The lines of a 32 x 3 page before any SETC line.
const std::vector<std::string> kSmall = {"SIZE 4.00 mm,0.38 mm", "SET RIBBON OFF"};
const std::vector<std::string> kSmallTail = {"REFERENCE 0,0", "GAP 0 dot,0 dot", "OFFSET 0 dot"};
const std::vector<std::string> kSetc = {"SETC AUTODOTTED OFF", "SETC PAUSEKEY ON", "SETC WATERMARK ON", "CLS"};

// What the renderer adds to the encoder's label: one write per page, the red
// plane only in two-colour mode, and nothing carried from page to page. The
// label's lines by setting are the encoder's (TsplEncoderTest).
TEST(TsplPage, OneWritePerPageAndTheRedPlaneOnlyInTwoColours)
{
    CxImage black = Pattern(32, 3, 1), red = Pattern(64, 2, 99);
    const ByteVec blackBits = Storage(black), redBits = Storage(red);
    const ByteVec plainEnd = Cat({Bitmap("BITMAP 0,0,4,3,1,", blackBits), Lines({"PRINT 1,1"})});
    struct Case {
        const char *name;
        std::function<void(TestTSPL &)> setup;
        ByteVec expected;
    };
    const std::vector<Case> cases = {
        {"defaults", [](TestTSPL &) {}, Cat({Lines(Join({kSmall, kSmallTail, kSetc})), plainEnd})},
        {"two colour: each plane with its own size",
         [&](TestTSPL &r) {
             r.m_Reg.bDoubleColor = true;
             r.m_ImageRed = red;
         },
         Cat({Lines(Join({kSmall, kSmallTail, kSetc, {"SETCOLOR RED 8"}})), Bitmap("BITMAP 0,0,8,2,1,", redBits),
              Lines({"SETCOLOR BLACK"}), plainEnd})},
        {"red plane ignored in one colour", [&](TestTSPL &r) { r.m_ImageRed = red; },
         Cat({Lines(Join({kSmall, kSmallTail, kSetc})), plainEnd})},
    };
    for (const Case &c : cases) {
        TestTSPL r;
        r.m_Image = black;
        c.setup(r);
        r.OnPaintBmp();
        r.m_Image = black; // the planes are built anew for every page
        c.setup(r);
        r.OnPaintBmp(); // and nothing else carries over
        ASSERT_EQ(r.writes.size(), 2u) << c.name << ": one write per page";
        EXPECT_EQ(r.writes[0], c.expected) << c.name << "\n" << Printable(r.writes[0], 400);
        EXPECT_EQ(r.writes[1], r.writes[0]) << c.name;
        EXPECT_EQ(r.m_CmdBuffer.GetBufferLength(), 0) << c.name;
    }
}

TEST(TsplPage, PagesThatCannotBeSentWholeAreRefused)
{
    const std::pair<std::function<void(TestTSPL &)>, std::string> cases[] = {
        {[](TestTSPL &r) { r.m_iResolution = 0; }, "ERROR: The page has no valid resolution (0 dpi)"},
        {[](TestTSPL &r) { r.m_iResolution = -203; }, "ERROR: The page has no valid resolution (-203 dpi)"},
        {[](TestTSPL &r) { r.m_CmdBuffer.SetMaxBufferSize(4096); },
         "ERROR: The printer data of this page exceeds 4096 bytes"},
    };
    for (const auto &c : cases) {
        TestTSPL r;
        r.m_Image = Pattern(320, 240, 1);
        c.first(r);
        testing::internal::CaptureStderr();
        r.OnPaintBmp();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(r.writes.empty()) << c.second;
        EXPECT_EQ(err.rfind(c.second, 0), 0u) << err;
        EXPECT_EQ(r.m_CmdBuffer.GetBufferLength(), 0) << c.second;
    }
}

} // namespace
