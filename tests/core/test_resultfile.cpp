#include "core/resultfile.h"

#include "core/gbk.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace dielmon;
using dielmon::test::ReadAll;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;

namespace {
const ResultTexts kLive{"反接线\\内标准\\定频\\内高压", "A\r\nB\r\n", "D"};
const std::string kHeader =
    std::string("     介质损耗测试数据\r\n") + std::string(29, '=') + "\r\n";
} // namespace

TEST(ResultFile, TheRunOfLinesByteForByte) {
    EXPECT_EQ(std::string("     介质损耗测试数据").size(), 21u);
    const std::string run = ResultFileRun(ResultTexts{"T", "A\r\nB", "D"});
    EXPECT_EQ(run, kHeader + "T\r\n\r\nA\r\nB\r\n\r\nD\r\n\r\n");
    // A main result that ends with CR LF adds one more empty line.
    EXPECT_EQ(ResultFileRun(kLive),
              kHeader + "反接线\\内标准\\定频\\内高压\r\n\r\nA\r\nB\r\n\r\n\r\nD\r\n\r\n");
}

TEST(ResultFile, SavedTwiceAndReadBack) {
    TempDir dir;
    const std::string path = dir.File("result.txt");
    ASSERT_EQ(AppendResultRun(path, kLive), "");
    ASSERT_EQ(AppendResultRun(path, ResultTexts{"second", "X\r\n", "Y\r\n"}), "");
    const std::string bytes = ReadAll(path);
    EXPECT_EQ(bytes, ResultFileRun(kLive) + ResultFileRun(ResultTexts{"second", "X\r\n", "Y\r\n"}));
    const ResultFileContent c = ReadResultFile(path);
    ASSERT_EQ(c.State, ResultFileContent::Ok);
    EXPECT_EQ(c.Texts.Title, kLive.Title);
    EXPECT_EQ(c.Texts.Main, "A\r\nB\r\n");
    EXPECT_EQ(c.Texts.Details, "D\r\n");
    // Saving what was read and reading it again gives the same texts.
    const std::string again = dir.File("again.txt");
    ASSERT_EQ(AppendResultRun(again, c.Texts), "");
    EXPECT_EQ(ReadResultFile(again).Texts, c.Texts);
}

TEST(ResultFile, ReadingStepsOfForeignAndBrokenFiles) {
    // The separator is looked for in the first six lines only.
    std::string six = "1\r\n2\r\n3\r\n4\r\n5\r\n============\r\nT\r\n\r\nM\r\n\r\nD\r\n";
    EXPECT_EQ(ParseResultFile(six).State, ResultFileContent::Ok);
    EXPECT_EQ(ParseResultFile(six).Texts, (ResultTexts{"T", "M\r\n", "D\r\n"}));
    EXPECT_EQ(ParseResultFile("0\r\n" + six).State, ResultFileContent::NotOurFile);
    EXPECT_EQ(ParseResultFile("").State, ResultFileContent::NotOurFile);
    EXPECT_EQ(ParseResultFile("\x01\x02\xFF\x00 binary").State, ResultFileContent::NotOurFile);

    // A file that ends after the separator: every text empty, nothing left over.
    const ResultFileContent endsEarly = ParseResultFile(kHeader);
    EXPECT_EQ(endsEarly.State, ResultFileContent::Ok);
    EXPECT_EQ(endsEarly.Texts, ResultTexts{});

    // Blank lines (bytes 0 to 32 only) before a block are skipped; an empty line inside the
    // details cuts them there; LF-only and CR-only line ends read the same.
    const std::string blanks = "============\n \t\nTitle\n\n\x01\nM1\nM2\n\nD1\n\nD2\n";
    EXPECT_EQ(ParseResultFile(blanks).Texts, (ResultTexts{"Title", "M1\r\nM2\r\n", "D1\r\n"}));
    EXPECT_EQ(ParseResultFile("============\rT\r\rM\r\rD").Texts,
              (ResultTexts{"T", "M\r\n", "D\r\n"}));

    // A block that does not end within 51 lines stays empty; reading goes on from there.
    std::string longBlock = "============\r\nT\r\n";
    for (int k = 0; k < 60; ++k) {
        longBlock += "L\r\n";
    }
    const ResultFileContent l = ParseResultFile(longBlock);
    EXPECT_EQ(l.Texts.Title, "T");
    EXPECT_EQ(l.Texts.Main, "");
    EXPECT_EQ(l.Texts.Details, "L\r\nL\r\nL\r\nL\r\nL\r\nL\r\nL\r\nL\r\nL\r\n");

    // Very long lines do not exhaust memory.
    const std::string huge = "============\nT\n\n" + std::string(3 << 20, 'x') + "\n\nD\n";
    const ResultFileContent h = ParseResultFile(huge);
    EXPECT_EQ(h.Texts.Main.size(), (1u << 20) + 2);
    EXPECT_EQ(h.Texts.Details, "D\r\n");

    // Bytes that are not GBK pass through; the window shows replacement characters.
    const ResultFileContent g = ParseResultFile("============\nT\xFF\xFE\n\nM\n\nD\n");
    EXPECT_EQ(g.Texts.Title, "T\xFF\xFE");
    EXPECT_EQ(GbkToUtf8(g.Texts.Title), "T\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ResultFile, FailuresAreReportedAndLeaveNothingHalfWritten) {
    TempDir dir;
    EXPECT_EQ(ReadResultFile(dir.File("missing.txt")).State, ResultFileContent::CannotRead);
    EXPECT_NE(ReadResultFile(dir.File("missing.txt")).Error, "");
    EXPECT_EQ(ReadResultFile(dir.Home()).State, ResultFileContent::CannotRead);
    EXPECT_NE(AppendResultRun(dir.File("no/such/folder/r.txt"), kLive), "");
    // A full disk: /dev/full takes nothing.
    if (::access("/dev/full", W_OK) == 0) {
        EXPECT_NE(AppendResultRun("/dev/full", kLive), "");
    }
    if (dielmon::test::PermissionsApply()) {
        const std::string locked = dir.File("locked");
        ::mkdir(locked.c_str(), 0555);
        EXPECT_NE(AppendResultRun(locked + "/r.txt", kLive), "");
        const std::string unreadable = dir.File("unreadable.txt");
        WriteAll(unreadable, kHeader);
        ::chmod(unreadable.c_str(), 0);
        EXPECT_EQ(ReadResultFile(unreadable).State, ResultFileContent::CannotRead);
    }
}

TEST(ResultFile, EveryRunOfAFileSavedToMoreThanOnce) {
    const ResultTexts gigaohm{"正接线\\内标准\\定频\\内高压", "Cx：1.000nF      Rx：2.000GΩ\r\n",
                              "　U 　　　：10.000kV \r\n  Date：2016-03-24 15:34:00\r\n"};
    const ResultTexts third{"third", "M\r\n", "D1\r\nD2\r\n"};
    // Saved three times, with lines of something else between the second and the third run
    // and blank lines at the end.
    const std::string bytes = ResultFileRun(kLive) + ResultFileRun(gigaohm) +
                              "edited by hand\r\n\r\nx\r\ny\r\nz\r\nw\r\nv\r\n" +
                              ResultFileRun(third) + "\r\n\r\n";
    ResultFileRuns runs = ParseResultRuns(bytes);
    ASSERT_EQ(runs.State, ResultFileContent::Ok);
    ASSERT_EQ(runs.Runs.size(), 3u);
    EXPECT_EQ(runs.Runs[0], (ResultTexts{kLive.Title, "A\r\nB\r\n", "D\r\n"}));
    EXPECT_EQ(runs.Runs[1], gigaohm);
    EXPECT_EQ(runs.Runs[2], third);
    // The first run is what "打开文件" shows.
    EXPECT_EQ(ParseResultFile(bytes).Texts, runs.Runs[0]);

    EXPECT_EQ(ParseResultRuns("just text\r\n").State, ResultFileContent::NotOurFile);
    EXPECT_TRUE(ParseResultRuns("just text\r\n").Runs.empty());
    // A second separator with nothing after it adds no run.
    runs = ParseResultRuns(ResultFileRun(kLive) + kHeader);
    EXPECT_EQ(runs.Runs.size(), 1u);

    TempDir dir;
    WriteAll(dir.File("three.txt"), bytes);
    EXPECT_EQ(ReadResultRuns(dir.File("three.txt")).Runs.size(), 3u);
    const ResultFileRuns missing = ReadResultRuns(dir.File("missing.txt"));
    EXPECT_EQ(missing.State, ResultFileContent::CannotRead);
    EXPECT_EQ(missing.Error, "No such file or directory");
    EXPECT_EQ(ReadResultRuns(dir.Home()).Error, "Is a directory");
}

TEST(Report, MainResultLosesOnlyItsLastLineBreak) {
    EXPECT_EQ(ReportMainText("A\r\nB\r\n"), "A\r\nB");
    EXPECT_EQ(ReportMainText("\r\n"), "");
    EXPECT_EQ(ReportMainText(""), "");
    EXPECT_EQ(ReportMainText("A\n"), "A\n");
    EXPECT_EQ(ReportMainText("A\r\n\r\n"), "A\r\n");
    const auto layout = ReportLayout(ResultTexts{"T", "M\r\n", "D\r\n"});
    ASSERT_EQ(layout.size(), 6u);
    EXPECT_EQ(layout[0].Text, "介质损耗测试报告");
    EXPECT_EQ(layout[1].Text, std::string(32, '-'));
    EXPECT_FALSE(layout[1].Grows);
    EXPECT_EQ(layout[4].Text, "M");
    EXPECT_EQ(layout[5].Text, "D\r\n");
    EXPECT_DOUBLE_EQ(layout[5].Top, 60.85);
    EXPECT_DOUBLE_EQ(layout[4].Left, 1.06);
}
