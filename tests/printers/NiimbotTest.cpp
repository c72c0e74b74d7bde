// The Niimbot renderer: what it refuses before encoding.
#include <gtest/gtest.h>

#include "PrinterNiimbot.h"
#include "PrinterTestKit.h"

namespace {

using TestNiimbot = CapturingRenderer<CPrinterNiimbot>;

bool White(unsigned, unsigned)
{
    return false;
}

// Pages are checked as sent: a wide page on a 96-dot model turned (its
// height across the head, its width the rows), row numbers 16 bits.
TEST(NiimbotRenderer, RefusesWhatTheModelCannotTake)
{
    struct Case {
        const char *model;
        unsigned width, height;
        bool sent;
    };
    const Case cases[] = {
        {"B21", 384, 1, true},   {"B21", 385, 1, false},   {"B1", 8, 65535, true},
        {"B1", 8, 65536, false}, {"D110", 200, 96, true},  {"D110", 200, 97, false},
        {"D11", 96, 300, true},  {"B18", 65536, 8, false}, {"D110", 65535, 8, true},
    };
    for (const Case &c : cases) {
        TestNiimbot r;
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
