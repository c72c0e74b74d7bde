// The Phomemo renderer: what it refuses before encoding.
#include <gtest/gtest.h>

#include "PhomemoEncoder.h"
#include "PrinterPhomemo.h"
#include "PrinterTestKit.h"

namespace {

using TestPhomemo = CapturingRenderer<CPrinterPhomemo>;

bool White(unsigned, unsigned)
{
    return false;
}

// A page wider than the model's head is refused; one as wide is sent.
TEST(PhomemoRenderer, RefusesPagesWiderThanTheHead)
{
    struct Case {
        const char *model;
        unsigned width;
        bool sent;
    };
    const Case cases[] = {
        {"D30", 96, true},    {"D30", 97, false},  {"M110", 384, true},
        {"M110", 385, false}, {"M220", 576, true}, {"M220", 577, false},
    };
    for (const Case &c : cases) {
        TestPhomemo r;
        r.SetModelName(c.model);
        r.m_Image = PreparedPage(c.width, 4, White);
        std::string refusal;
        r.m_OnRefusal = [&refusal](const std::string &why) { refusal = why; };
        r.OnPaintBmp();
        EXPECT_EQ(r.writes.size(), c.sent ? 1u : 0u) << c.model << " " << c.width;
        EXPECT_EQ(refusal.empty(), c.sent) << refusal;
    }
}

} // namespace
