// The CPCL encoder as a function: the label's lines by setting and page
// size, the graphic's rows inverted with blank padding, exact bytes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CpclEncoder.h"
#include "PrinterTestKit.h"

namespace {

bool Pattern(unsigned x, unsigned y)
{
    return (x * 3 + y * 5) % 7 < 3;
}

ByteVec Encoded(const CxImage &page, const tagREGSTRUCT &reg, int dpi)
{
    NS_QV_CLASS::CMyBuffer out;
    cpcl::EncodePage(page, reg, dpi, out);
    const auto *p = reinterpret_cast<const uint8_t *>(out.GetBuffer());
    return ByteVec(p, p + out.GetBufferLength());
}

// "! offset 200 200 height 1", PAGE-WIDTH, CG with the stride, the rows,
// FORM on gap and black-mark media only, PRINT.
TEST(CpclEncoder, LabelLinesBySettingAndPage)
{
    struct Case {
        const char *name;
        unsigned width;
        int dpi;
        std::function<void(tagREGSTRUCT &)> setup;
        std::vector<std::string> head; // up to the rows
        bool form;
    };
    const std::vector<Case> cases = {
        {"defaults", 320, 203, [](tagREGSTRUCT &) {}, {"! 0 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"}, false},
        // Millimetres to dots: add 0.5, truncate toward zero.
        {"offset 2 mm",
         320,
         203,
         [](tagREGSTRUCT &r) { r.fReference[0] = 2; },
         {"! 16 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         false},
        {"offset -3 mm",
         320,
         203,
         [](tagREGSTRUCT &r) { r.fReference[0] = -3; },
         {"! -23 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         false},
        {"offset 10 mm at 300 dpi",
         320,
         300,
         [](tagREGSTRUCT &r) { r.fReference[0] = 10; },
         {"! 118 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         false},
        {"the vertical reference moves nothing",
         320,
         203,
         [](tagREGSTRUCT &r) { r.fReference[1] = 5; },
         {"! 0 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         false},
        // The graphic's width is the padded stride, PAGE-WIDTH the dots.
        {"300 dots in a 40-byte stride",
         300,
         203,
         [](tagREGSTRUCT &) {},
         {"! 0 200 200 3 1", "PAGE-WIDTH 300", "CG 40 3 0 0"},
         false},
        {"33 dots", 33, 203, [](tagREGSTRUCT &) {}, {"! 0 200 200 3 1", "PAGE-WIDTH 33", "CG 8 3 0 0"}, false},
        {"1 dot", 1, 203, [](tagREGSTRUCT &) {}, {"! 0 200 200 3 1", "PAGE-WIDTH 1", "CG 4 3 0 0"}, false},
        {"gap labels",
         320,
         203,
         [](tagREGSTRUCT &r) { r.iMediaType = kMediaGap; },
         {"! 0 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         true},
        {"black marks",
         320,
         203,
         [](tagREGSTRUCT &r) { r.iMediaType = kMediaBLine; },
         {"! 0 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         true},
        {"perforated",
         320,
         203,
         [](tagREGSTRUCT &r) { r.iMediaType = kMediaPerforated; },
         {"! 0 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         false},
        {"A4 fold",
         320,
         203,
         [](tagREGSTRUCT &r) { r.iMediaType = kMediaA4Fold; },
         {"! 0 200 200 3 1", "PAGE-WIDTH 320", "CG 40 3 0 0"},
         false},
    };
    for (const Case &c : cases) {
        tagREGSTRUCT reg;
        c.setup(reg);
        const CxImage page = PreparedPage(c.width, 3, Pattern);
        const ByteVec rows = PrinterRows(c.width, 3, Pattern, page.GetEffWidth());
        EXPECT_EQ(Encoded(page, reg, c.dpi),
                  Cat({Lines(c.head), rows, c.form ? Lines({"FORM"}) : ByteVec{}, Lines({"PRINT"})}))
            << c.name;
    }
}

// The rows are the stored rows inverted (1 = dot), the padding after the
// last dot blank; the page itself stays as it was.
TEST(CpclEncoder, GraphicRowsAreInvertedWithBlankPadding)
{
    const CxImage page = PreparedPage(300, 2, Pattern);
    const ByteVec before = Storage(page);
    const ByteVec got = Encoded(page, tagREGSTRUCT(), 203);
    const ByteVec head = Lines({"! 0 200 200 2 1", "PAGE-WIDTH 300", "CG 40 2 0 0"});
    ASSERT_EQ(Slice(got, 0, head.size()), head);
    const ByteVec dots = Slice(got, head.size(), head.size() + 80);
    EXPECT_EQ(dots, Inverted(before));
    // 300 = 37 * 8 + 4: the low 4 bits of byte 37 and bytes 38 and 39 are blank.
    for (size_t row = 0; row < 2; ++row)
        EXPECT_EQ((dots[row * 40 + 37] & 0x0F) | dots[row * 40 + 38] | dots[row * 40 + 39], 0);
    EXPECT_EQ(Storage(page), before);
}

} // namespace
