#include "core/tracelog.h"

#include "core/gbk.h"

#include <gtest/gtest.h>

using namespace dielmon;

TEST(TraceLog, SentAndReceivedLinesWithTheirTimeStamps) {
    const std::string log = "2016-03-24 15:34:00  发出：24 A1 11 B2 2A \r\n"
                            "something else\r\n"
                            "2016-03-24 15:34:01  收到 24 1A 00 1A 2A\r\n"
                            "3/24/2016 3:34:02 PM  收到 24 G1\r\n"
                            "2016-03-24 15:34:03  收到\n"
                            "24/03/2016 15:34:04  收到 2a ff";
    const TraceParse t = ParseTraceLog(log);
    ASSERT_EQ(t.Lines.size(), 4u);
    EXPECT_TRUE(t.Lines[0].Sent);
    EXPECT_EQ(t.Lines[0].Time, "2016-03-24 15:34:00");
    EXPECT_EQ(t.Lines[0].Bytes, (std::vector<std::uint8_t>{0x24, 0xA1, 0x11, 0xB2, 0x2A}));
    EXPECT_EQ(t.Lines[0].LineNumber, 1);
    EXPECT_FALSE(t.Lines[1].Sent);
    EXPECT_EQ(t.Lines[1].LineNumber, 3);
    EXPECT_TRUE(t.Lines[2].Bytes.empty());
    EXPECT_EQ(t.Lines[3].Time, "24/03/2016 15:34:04");
    EXPECT_EQ(t.Lines[3].Bytes, (std::vector<std::uint8_t>{0x2A, 0xFF}));
    ASSERT_EQ(t.Errors.size(), 1u);
    EXPECT_EQ(t.Errors[0], "line 4: broken byte pair 'G1'");
}

TEST(Gbk, ConvertsBothWaysAndReplacesWhatItCannotRead) {
    EXPECT_EQ(GbkToUtf8("介质损耗"), "\xE4\xBB\x8B\xE8\xB4\xA8\xE6\x8D\x9F\xE8\x80\x97");
    EXPECT_EQ(Utf8ToGbk("\xE4\xBB\x8B\xE8\xB4\xA8"), "介质");
    EXPECT_EQ(GbkToUtf8("A\xFF\xFF"
                        "B"),
              "A\xEF\xBF\xBD\xEF\xBF\xBD"
              "B");
    EXPECT_EQ(GbkToUtf8("\xB5"), "\xEF\xBF\xBD");    // a lead byte cut off at the end
    EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80x"), "?x"); // no emoji in GBK
    EXPECT_EQ(Utf8ToGbk("\xFFy"), "?y");
    EXPECT_EQ(GbkToUtf8(""), "");
}
