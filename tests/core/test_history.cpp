#include "core/history.h"

#include "core/responses.h"
#include "support/frames.h"

#include <gtest/gtest.h>

using namespace dielmon;
using dielmon::test::Len;
using dielmon::test::Payload;

namespace {
std::vector<std::uint8_t> Entry(int used, int number, int y, int mo, int d, int h, int mi, int s) {
    return Payload(8)
        .B(0, static_cast<std::uint8_t>(used))
        .B(1, static_cast<std::uint8_t>(number))
        .Date(2, y, mo, d, h, mi, s)
        .Frame(RspIndex);
}
} // namespace

TEST(HistoryIndex, EntriesRowsAndCounts) {
    auto f = Entry(9, 7, 16, 3, 24, 15, 34, 0);
    IndexUpdate u = ShowIndexEntry(f.data(), Len(f));
    EXPECT_FALSE(u.ClearRows);
    EXPECT_EQ(u.CountText, "可用数据91条，已用9条");
    ASSERT_TRUE(u.Row.has_value());
    EXPECT_EQ(u.Row->Number, "007");
    EXPECT_EQ(u.Row->Time, "2016-03-24 15:34:00");

    f = Entry(3, 1, 5, 1, 2, 3, 4, 5);
    u = ShowIndexEntry(f.data(), Len(f));
    EXPECT_TRUE(u.ClearRows);
    EXPECT_EQ(u.Row->Number, "001");
    EXPECT_EQ(u.Row->Time, "2005-01-02 03:04:05");

    f = Entry(0, 1, 9, 9, 9, 9, 9, 9);
    u = ShowIndexEntry(f.data(), Len(f));
    EXPECT_EQ(u.CountText, "可用数据100条，已用0条");
    EXPECT_FALSE(u.Row.has_value());

    f = Entry(100, 255, 123, 12, 31, 23, 59, 59);
    u = ShowIndexEntry(f.data(), Len(f));
    EXPECT_EQ(u.Row->Number, "255");
    EXPECT_EQ(u.Row->Time, "20123-12-31 23:59:59");
    EXPECT_EQ(u.CountText, "可用数据0条，已用100条");

    EXPECT_EQ(HistoryCountText(105), "可用数据-5条，已用105条");
    EXPECT_EQ(RecordNumberText(100), "100");
    EXPECT_EQ(RecordNumberOf("007"), 7);
    EXPECT_EQ(RecordNumberOf(""), 0);

    // A payload shorter than an entry reads the missing bytes as zero.
    const std::uint8_t shortEntry[] = {0x24, 0x1D, 0x02, 0x05, 0x02, 0x26, 0x2A};
    u = ShowIndexEntry(shortEntry, 7);
    EXPECT_EQ(u.CountText, "可用数据95条，已用5条");
    EXPECT_EQ(u.Row->Time, "2000-00-00 00:00:00");
}
