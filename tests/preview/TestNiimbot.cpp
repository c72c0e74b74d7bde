#include <gtest/gtest.h>

#include <functional>

#include "DecodeNiimbot.h"
#include "StreamKit.h"

namespace qf::preview::test {
namespace {

Bytes NPacket(uint8_t cmd, const Bytes &data)
{
    // Byte by byte: GCC 12 at -O3 takes an insert after a short list for an overflow.
    Bytes b = {0x55, 0x55, cmd, uint8_t(data.size())};
    uint8_t x = uint8_t(cmd ^ data.size());
    for (uint8_t v : data) {
        b.push_back(v);
        x ^= v;
    }
    Put(b, {x, 0xAA, 0xAA});
    return b;
}

const Bytes kRow = {0xA5, 0x00, 0x10};

// Connect, then a task of the current kind: 6 rows of 20 dots, two white
// (84), three equal (85, repeat 3), one with a dot at 19 (83); a heartbeat
// between rows. Offsets: connect 0 (9), density 9, type 17, start 25 (14),
// page start 39, size 47 (13), rows from 60: 84 (10), 85 (16), DC (8), 83
// (15), then E3 at 109, F3 at 117.
Bytes Task()
{
    Bytes b = {0x03};
    Put(b, NPacket(0xC1, {1}));
    Put(b, NPacket(0x21, {3}));
    Put(b, NPacket(0x23, {1}));
    Put(b, NPacket(0x01, {0, 1, 0, 0, 0, 0, 0}));
    Put(b, NPacket(0x03, {1}));
    Put(b, NPacket(0x13, {0, 6, 0, 20, 0, 1}));
    Put(b, NPacket(0x84, {0, 0, 2}));
    Bytes row = {0, 2, 4, 0, 0, 3};
    Put(row, kRow);
    Put(b, NPacket(0x85, row));
    Put(b, NPacket(0xDC, {1}));
    Put(b, NPacket(0x83, {0, 5, 1, 0, 0, 1, 0, 19}));
    Put(b, NPacket(0xE3, {1}));
    Put(b, NPacket(0xF3, {1}));
    return b;
}

TEST(Niimbot, TaskDecodesToItsRows)
{
    const Bytes task = Task();
    Bytes b = task;
    Put(b, Bytes(task.begin() + 9, task.end()));
    const DecodeResult r = Decode(b);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.lang, Lang::Niimbot);
    ASSERT_EQ(r.pages.size(), 2u);
    const Bytes want = {0, 0, 0, 0, 0, 0, 0xA5, 0, 0x10, 0xA5, 0, 0x10, 0xA5, 0, 0x10, 0, 0, 0x10};
    for (const Page &page : r.pages) {
        EXPECT_EQ(page.black.bits, want);
        EXPECT_EQ(page.black.widthBytes, 3);
        EXPECT_EQ(page.Param("density"), "3");
        EXPECT_EQ(page.Param("label-type"), "1");
        EXPECT_EQ(page.Param("start"), "7");
        EXPECT_EQ(page.Param("cols"), "20");
        EXPECT_EQ(page.Param("copies"), "1");
    }
}

struct Corruption {
    const char *name;
    std::function<size_t(Bytes &)> mutate; // returns the offset the error must name
    const char *expected;
};

size_t Swap(Bytes &b, size_t at, size_t len, const Bytes &with)
{
    b.erase(b.begin() + long(at), b.begin() + long(at + len));
    b.insert(b.begin() + long(at), with.begin(), with.end());
    return at;
}

const Corruption kCorruptions[] = {
    {"XOR", [](Bytes &b) { return b[65] ^= 1, size_t(67); }, "XOR"},
    {"tail", [](Bytes &b) { return b[60 + 9] = 0xAB, size_t(60 + 8); }, "AA AA ending"},
    {"03 not before C1",
     [](Bytes &b) {
         return Swap(b, 0, 9, Bytes{0x03, 0x55, 0x55, 0xDC}), size_t(1);
     },
     "55 55 C1"},
    {"row skipped",
     [](Bytes &b) {
         return Swap(b, 60, 10, NPacket(0x84, {0, 0, 1})) + 14;
     },
     "row number 1"},
    {"rows past the size",
     [](Bytes &b) {
         return Swap(b, 60, 10, NPacket(0x84, {0, 0, 7}));
     },
     "after the size's 6"},
    {"rows short", [](Bytes &b) { return Swap(b, 94, 15, Bytes()); }, "6 rows before page end"},
    {"row of the wrong width",
     [](Bytes &b) {
         return Swap(b, 70, 16, NPacket(0x85, {0, 2, 0, 0, 0, 3, 1, 2})) + 3;
     },
     "a bitmap row"},
    {"dot past the columns",
     [](Bytes &b) {
         return Swap(b, 94, 15, NPacket(0x83, {0, 5, 0, 0, 0, 1, 0, 20})) + 10;
     },
     "dot index below 20"},
    {"page past the plane limit",
     [](Bytes &b) {
         return Swap(b, 47, 13, NPacket(0x13, {0xFF, 0xFF, 0xFF, 0xFF, 0, 1})) + 4;
     },
     "a page of at most"},
    {"unknown label type", [](Bytes &b) { return Swap(b, 17, 8, NPacket(0x23, {4})) + 4; }, "label type 1, 2"},
    {"cut inside the page", [](Bytes &b) { return b.resize(94), size_t(94); }, "page end (E3) closing"},
    {"no end print", [](Bytes &b) { return b.resize(117), size_t(117); }, "end print (F3) after"},
    {"unknown command", [](Bytes &b) { return Swap(b, 86, 8, NPacket(0x40, {1})) + 2; }, "command 01, 03"},
};

TEST(Niimbot, CorruptionsAreFoundWhereTheyAre)
{
    for (const Corruption &c : kCorruptions) {
        SCOPED_TRACE(c.name);
        Bytes b = Task();
        const size_t at = c.mutate(b);
        const DecodeResult r = Decode(b, Lang::Niimbot);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, at) << r.ErrorMessage();
        EXPECT_NE(r.expected.find(c.expected), std::string::npos) << r.expected;
    }
}

} // namespace
} // namespace qf::preview::test
