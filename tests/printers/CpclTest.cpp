// CPCL renderer: golden bytes of each command, written as the separate
// writes the printer receives. The label's lines by setting and page size are
// held down on the encoder (CpclEncoderTest).
#include <gtest/gtest.h>

#include <functional>

#include "PrinterCPCL.h"
#include "PrinterTestKit.h"

namespace {

using TestCPCL = CapturingRenderer<CPrinterCPCL>;

// A prepared one-bit page: patterned pixels, white (1) row padding.
CxImage PreparedPage(unsigned width, unsigned height)
{
    CxImage img(width, height, 1, 0);
    for (size_t i = 0; i < static_cast<size_t>(img.GetEffWidth()) * height; ++i)
        img.GetBits(0)[i] = static_cast<uint8_t>(i * 29 + 11);
    CBaseRender().AdjustEffWidthBits(img);
    return img;
}

TEST(CpclCommands, GoldenWrites)
{
    using Step = std::function<void(TestCPCL &)>;
    const std::pair<Step, std::vector<std::string>> cases[] = {
        {[](TestCPCL &r) { r.cmdBegin(); }, {"! 0 200 200 240 1\r\n"}},
        {[](TestCPCL &r) { r.cmdPageWidth(); }, {"PAGE-WIDTH 300\r\n"}},
        {[](TestCPCL &r) {
             r.m_Reg.iMediaType = 1;
             r.cmdFORM();
         },
         {"FORM\r\n"}},
        {[](TestCPCL &r) {
             r.m_Reg.iMediaType = 0;
             r.cmdFORM();
         },
         {}},
        {[](TestCPCL &r) { r.cmdPrint(); }, {"PRINT\r\n"}},
    };
    for (const auto &c : cases) {
        TestCPCL r;
        r.m_Image = PreparedPage(300, 240);
        c.first(r);
        std::vector<ByteVec> expected;
        for (const std::string &w : c.second)
            expected.push_back(Bytes(w));
        EXPECT_EQ(r.writes, expected) << (c.second.empty() ? "(nothing)" : c.second[0]);
    }
}

// The graphic is the stride in bytes, then the storage, no line end.
TEST(CpclCommands, GraphicWidthIsTheStride)
{
    const std::pair<unsigned, const char *> cases[] = {{300, "CG 40 3 0 0\r\n"}};
    for (const auto &c : cases) {
        TestCPCL r;
        r.m_Image = PreparedPage(c.first, 3);
        r.cmdCG();
        EXPECT_EQ(r.writes, (std::vector<ByteVec>{Bytes(c.second), Storage(r.m_Image)})) << c.second;
    }
}

TEST(CpclPage, InvertedPageBetweenHeaderAndPrint)
{
    for (int media : {0, 1}) {
        TestCPCL r;
        r.m_Reg.iMediaType = media;
        r.m_Reg.bDoubleColor = true; // only the black plane is printed
        r.m_ImageRed = PreparedPage(300, 2);
        r.m_Image = PreparedPage(300, 2);
        ByteVec dots = Storage(r.m_Image);
        for (uint8_t &b : dots)
            b = static_cast<uint8_t>(~b);
        r.OnPaintBmp();
        std::vector<ByteVec> expected = {Bytes("! 0 200 200 2 1\r\n"), Bytes("PAGE-WIDTH 300\r\n"),
                                         Bytes("CG 40 2 0 0\r\n"), dots};
        if (media == 1)
            expected.push_back(Bytes("FORM\r\n"));
        expected.push_back(Bytes("PRINT\r\n"));
        ByteVec page; // assembled and written in one piece
        for (const ByteVec &part : expected)
            page.insert(page.end(), part.begin(), part.end());
        EXPECT_EQ(r.writes, std::vector<ByteVec>{page}) << media;
        // 300 = 37 * 8 + 4: the padding (low 4 bits of byte 37, bytes 38 and 39) is blank.
        for (size_t row = 0; row < 2; ++row)
            EXPECT_EQ((dots[row * 40 + 37] & 0x0F) | dots[row * 40 + 38] | dots[row * 40 + 39], 0);
    }
}

} // namespace
