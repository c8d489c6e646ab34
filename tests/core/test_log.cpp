#include "core/log.h"

#include "core/tracelog.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>

using namespace dielmon;
using dielmon::test::ReadAll;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;

TEST(DebugLog, OneFileADayReplacedWhenTheDayComesRoundAgain) {
    TempDir dir;
    ManualClock clock(FromLocal(2016, 3, 8, 23, 59, 58));
    ::mkdir((dir.Home() + "Log").c_str(), 0777);
    // Today's file from an earlier run is appended to; the 9th holds last month's lines.
    WriteAll(dir.Home() + "Log/LogFile8.txt", "earlier\r\n");
    WriteAll(dir.Home() + "Log/LogFile9.txt", "a month old\r\n");
    DebugLog log(dir.Home(), clock);
    EXPECT_EQ(log.LogFileName(), dir.Home() + "Log/LogFile8.txt");
    log.WriteLog("发出：24 A1 ");
    EXPECT_EQ(ReadAll(dir.Home() + "Log/LogFile8.txt"),
              "earlier\r\n2016-03-08 23:59:58  发出：24 A1 \r\n");
    clock.Advance(std::chrono::seconds(3));
    log.WriteLog("收到 24 1A");
    EXPECT_EQ(log.LogFileName(), dir.Home() + "Log/LogFile9.txt");
    EXPECT_EQ(ReadAll(dir.Home() + "Log/LogFile9.txt"), "2016-03-09 00:00:01  收到 24 1A\r\n");
    EXPECT_EQ(log.FailedWrites(), 0u);
}

TEST(DebugLog, CreatesItsFolderAndRunsOnWithoutOne) {
    TempDir dir;
    ManualClock clock(FromLocal(2026, 12, 5, 10, 0, 0));
    DebugLog log(dir.Home() + "deep/er/", clock);
    log.WriteLog("x");
    EXPECT_EQ(ReadAll(dir.Home() + "deep/er/Log/LogFile5.txt"), "2026-12-05 10:00:00  x\r\n");

    // A home that is a file: no folder can be made there; nothing is thrown.
    WriteAll(dir.File("blocked"), "");
    DebugLog broken(dir.File("blocked") + "/", clock);
    broken.WriteLog("lost");
    EXPECT_EQ(broken.FailedWrites(), 1u);
}

TEST(DebugLog, TwoThreadsNeverInterleaveTheirLines) {
    TempDir dir;
    DebugLog log(dir.Home());
    const int kLines = 2000;
    auto writer = [&log](const char* text) {
        for (int k = 0; k < kLines; ++k) {
            log.WriteLog(text);
        }
    };
    std::thread reader(writer,
                       "收到 24 1C 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 2D 2A");
    writer("发出：24 C1 15 01 02 01 06 27 10 00 00 48 42 00 00 00 00 07 D0 01 01 01 00 00 4F 2A ");
    reader.join();
    const std::string bytes = ReadAll(log.LogFileName());
    const TraceParse t = ParseTraceLog(bytes);
    EXPECT_TRUE(t.Errors.empty());
    ASSERT_EQ(t.Lines.size(), 2u * kLines);
    int sent = 0;
    for (const TraceLine& line : t.Lines) {
        sent += line.Sent ? 1 : 0;
        EXPECT_EQ(line.Bytes.size(), line.Sent ? 26u : 22u);
    }
    EXPECT_EQ(sent, kLines);
}
