// Status queries a host sends between pages print nothing: the stream still
// decodes to its pages, and the listing names each query.
#include <gtest/gtest.h>

#include "StreamKit.h"

namespace qf::preview::test {
namespace {

struct QueryCase {
    const char *name;
    Bytes page;
    Bytes query;
    const char *listed;
};

class StatusQueries : public ::testing::TestWithParam<QueryCase> {};

TEST_P(StatusQueries, BetweenPagesDecodeToThePages)
{
    const QueryCase &c = GetParam();
    Bytes stream = c.query;
    Put(stream, c.page);
    Put(stream, c.query);
    Put(stream, c.page);
    const DecodeResult r = Decode(stream);
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    EXPECT_EQ(r.pages.size(), 2u);
    EXPECT_NE(FormatListing(r).find(c.listed), std::string::npos);
}

const Prepared &Small()
{
    static const Prepared p = RandomPage(64, 8, 7);
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Families, StatusQueries,
    ::testing::Values(QueryCase{"tspl", TsplPage(Small(), false), {0x1B, '!', '?'}, "ESC ! ? status query"},
                      QueryCase{"cpcl", CpclPage(Small(), false), {0x1B, 'h'}, "ESC h status query"},
                      QueryCase{"escpos", EscPosPage(Small(), 0, true), {0x10, 0x04, 4}, "DLE EOT 4 status query"}),
    [](const ::testing::TestParamInfo<QueryCase> &info) { return std::string(info.param.name); });

TEST(StatusQueries, DleEotOutsideOneToFourIsNotAQuery)
{
    Bytes stream = EscPosPage(Small(), 0, true);
    Put(stream, {0x10, 0x04, 0x05});
    EXPECT_FALSE(Decode(stream).ok);
}

} // namespace
} // namespace qf::preview::test
