// The cat printer renderer: what it refuses before encoding.
#include <gtest/gtest.h>

#include "PrinterCat.h"
#include "PrinterTestKit.h"

namespace {

using TestCat = CapturingRenderer<CPrinterCat>;

bool White(unsigned, unsigned)
{
    return false;
}

// An MXW01 page's line count, tail feed included, is 16 bits; a classic
// page has no such limit. Rows wider than the head's 48 bytes are refused.
TEST(CatRenderer, RefusesWhatTheModelCannotTake)
{
    struct Case {
        const char *model;
        unsigned width, height;
        bool sent;
    };
    const Case cases[] = {
        {"MXW01", 8, 65535 - 90, true}, {"MXW01", 8, 65535 - 89, false}, {"GB01", 8, 65535 - 89, true},
        {"GB01", 384, 1, true},         {"GB01", 385, 1, false},
    };
    for (const Case &c : cases) {
        TestCat r;
        r.SetModelName(c.model);
        r.m_Image = PreparedPage(c.width, c.height, White);
        std::string refusal;
        r.m_OnRefusal = [&refusal](const std::string &why) { refusal = why; };
        r.OnPaintBmp();
        EXPECT_EQ(r.writes.size(), c.sent ? 1u : 0u) << c.model << " " << c.width << "x" << c.height;
        EXPECT_EQ(refusal.empty(), c.sent) << refusal;
    }
}

} // namespace
