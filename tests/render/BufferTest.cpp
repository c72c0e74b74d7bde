// CMyBuffer growth, limit and text appends; the renderer's reference counting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BaseRender.h"
#include "MyBuffer.h"

using NS_QV_CLASS::CMyBuffer;

namespace {

std::string Content(const CMyBuffer &b)
{
    return std::string(b.GetBuffer(), static_cast<size_t>(b.GetBufferLength()));
}

TEST(MyBuffer, TextAppends)
{
    struct Case {
        void (*append)(CMyBuffer &);
        std::string expected;
    } cases[] = {
        {[](CMyBuffer &b) { b.AddInt(-12); }, "-12"},
        {[](CMyBuffer &b) { b.AddInt(0); }, "0"},
        {[](CMyBuffer &b) { b.AddInt(2147483647); }, "2147483647"},
        {[](CMyBuffer &b) { b.AddInt(-2147483647 - 1); }, "-2147483648"},
        {[](CMyBuffer &b) { b.AddStringA(""); }, ""},
        {[](CMyBuffer &b) { b.AddByte(0); }, std::string(1, '\0')},
        {[](CMyBuffer &b) { b.AddStringA("CLS\r\n"); }, "CLS\r\n"},
    };
    for (const Case &c : cases) {
        CMyBuffer b;
        c.append(b);
        EXPECT_EQ(Content(b), c.expected);
    }
}

TEST(MyBuffer, GrowsToExactlyWhatIsNeeded)
{
    CMyBuffer b;
    EXPECT_EQ(b.GetBufferLength(), 0);
    EXPECT_EQ(b.GetBufferSize(), 1024);
    std::vector<char> data(1100, 'x');
    b.AddBuffer(data.data(), 1000);
    EXPECT_EQ(b.GetBufferSize(), 1024);
    b.AddBuffer(data.data(), 100);
    EXPECT_EQ(b.GetBufferSize(), 1100);
    EXPECT_EQ(b.GetBufferLength(), 1100);

    b.InitBuffer(0);
    EXPECT_EQ(b.GetBufferLength(), 0);
    EXPECT_EQ(b.GetBufferSize(), 1100);
    b.SetBufferSize(10);
    EXPECT_EQ(b.GetBufferSize(), 1100);

    b.InitBuffer(5);
    EXPECT_EQ(Content(b), std::string(5, '\0'));
}

TEST(MyBuffer, LimitDiscardsEarlierContentAndMarksTheBuffer)
{
    CMyBuffer b;
    b.SetMaxBufferSize(2000);
    std::vector<char> a(1500, 'a'), n(600, 'n');
    b.AddBuffer(a.data(), 1500);
    b.SetBufferSize(1500);
    EXPECT_FALSE(b.IsOverflowed());
    b.AddBuffer(n.data(), 600);
    EXPECT_EQ(Content(b), std::string(600, 'n'));
    EXPECT_TRUE(b.IsOverflowed());
    b.InitBuffer(0);
    EXPECT_FALSE(b.IsOverflowed());
}

TEST(MyBuffer, AppendLargerThanClearedStorageGrowsIt)
{
    CMyBuffer b; // 1024 bytes of storage
    b.SetMaxBufferSize(3000);
    std::vector<char> a(1000, 'a'), big(2500, 'b');
    b.AddBuffer(a.data(), 1000);
    b.AddBuffer(big.data(), 2500); // 3500 > max: clear, then 2500 > storage
    EXPECT_EQ(b.GetBufferLength(), 2500);
    EXPECT_GE(b.GetBufferSize(), 2500);
    EXPECT_EQ(Content(b), std::string(2500, 'b'));
    EXPECT_TRUE(b.IsOverflowed());
}

struct CountingRender : CBaseRender {
    explicit CountingRender(int *deaths) : m_deaths(deaths) {}
    ~CountingRender() override { ++*m_deaths; }
    int *m_deaths;
};

TEST(RefPtr, AdoptsTheInitialReferenceAndReleasesOnReplace)
{
    int deaths = 0;
    {
        CStdRefPtr<CBaseRender> p;
        EXPECT_TRUE(p == nullptr);
        auto *first = new CountingRender(&deaths);
        p = MakeRefPtr<CBaseRender>(first);
        EXPECT_EQ(first->GetRefCount(), 1);
        p = MakeRefPtr<CBaseRender>(first); // the held pointer again: nothing
        EXPECT_EQ(deaths, 0);
        EXPECT_EQ(first->GetRefCount(), 1);
        p = MakeRefPtr<CBaseRender>(new CountingRender(&deaths));
        EXPECT_EQ(deaths, 1);
        EXPECT_TRUE(p != first);
        EXPECT_EQ(p->AddRef(), 2);
        EXPECT_EQ(p->Release(), 1);
    }
    EXPECT_EQ(deaths, 2);
}

} // namespace
