#include "core/resultfile.h"

#include "core/gbk.h"
#include "core/json.h"
#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // A line longer than 64 KiB makes the file unreadable; one of 64 KiB is read.
    const std::string huge = "============\nT\n\n" + std::string(3 << 20, 'x') + "\n\nD\n";
    const ResultFileContent h = ParseResultFile(huge);
    EXPECT_EQ(h.State, ResultFileContent::CannotRead);
    EXPECT_EQ(h.Error, "有一行超过64 KiB");
    EXPECT_EQ(h.Texts, ResultTexts{});
    const std::string longest = "============\nT\n\n" + std::string(65536, 'x') + "\n\nD\n";
    EXPECT_EQ(ParseResultFile(longest).Texts.Main.size(), 65536u + 2);
    EXPECT_EQ(ParseResultFile("============\nT\n\nM\n\n" + std::string(65537, 'y')).State,
              ResultFileContent::CannotRead);

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
    EXPECT_EQ(missing.Error, "文件或文件夹不存在（No such file or directory）");
    EXPECT_EQ(ReadResultRuns(dir.Home()).Error, "这是一个文件夹（Is a directory）");
}

TEST(ResultFile, WhatIsNoRegularFileIsRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = dir.File("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Without a writer the FIFO would block an open for reading; with one it would never end.
    ResultFileContent c = ReadResultFile(fifo);
    EXPECT_EQ(c.State, ResultFileContent::CannotRead);
    EXPECT_EQ(c.Error, "不是普通文件（可能是管道或设备）");
    c = ReadResultFile("/dev/zero");
    EXPECT_EQ(c.State, ResultFileContent::CannotRead);
    EXPECT_EQ(c.Error, "不是普通文件（可能是管道或设备）");
    EXPECT_EQ(ReadResultFile(dir.Home()).Error, "这是一个文件夹（Is a directory）");
    // A file too large to be a result file is not read into memory.
    const std::string large = dir.File("large.txt");
    WriteAll(large, kHeader);
    ASSERT_EQ(::truncate(large.c_str(), static_cast<off_t>(kMaxResultFileBytes) + 1), 0);
    EXPECT_EQ(ReadResultFile(large).Error, "文件超过16 MiB");
    ASSERT_EQ(::truncate(large.c_str(), static_cast<off_t>(kMaxResultFileBytes)), 0);
    EXPECT_EQ(ReadResultFile(large).Error, "有一行超过64 KiB") << "read up to its limit";
    // Saving into a FIFO without a reader fails at once instead of waiting for one.
    EXPECT_EQ(AppendResultRun(fifo, kLive), "No such device or address");
}

TEST(ResultFile, ReasonsAreChineseForTheCommonCausesWithTheSystemsWordsAfter) {
    EXPECT_EQ(FileErrorText(EACCES), "没有权限（Permission denied）");
    EXPECT_EQ(FileErrorText(EPERM), "没有权限（Operation not permitted）");
    EXPECT_EQ(FileErrorText(ENOSPC), "磁盘已满（No space left on device）");
    EXPECT_EQ(FileErrorText(EROFS), "文件系统是只读的（Read-only file system）");
    EXPECT_EQ(FileErrorText(ENOENT), "文件或文件夹不存在（No such file or directory）");
    EXPECT_EQ(FileErrorText(EIO), "Input/output error");
    TempDir dir;
    EXPECT_EQ(AppendResultRun(dir.File("none/r.txt"), kLive),
              "文件或文件夹不存在（No such file or directory）");
    EXPECT_EQ(ReadResultFile(dir.File("none.txt")).Error,
              "文件或文件夹不存在（No such file or directory）");
    if (::access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(AppendResultRun("/dev/full", kLive), "磁盘已满（No space left on device）");
    }
    const int denied = dielmon::test::AsUnprivilegedUser([&dir] {
        return AppendResultRun(dir.File("r.txt"), kLive) == "没有权限（Permission denied）" ? 0 : 1;
    });
    EXPECT_EQ(denied, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("r.txt")));
}

TEST(ResultFile, AFailedSaveLeavesNoNewFileAndNoHalfResult) {
    TempDir dir;
    // The process may write no file longer than 50 bytes: every run is longer.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 50;
    const std::string fresh = dir.File("fresh.txt");
    const std::string kept = dir.File("kept.txt");
    WriteAll(kept, "already here\r\n");
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string freshError = AppendResultRun(fresh, kLive);
    const std::string keptError = AppendResultRun(kept, kLive);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    EXPECT_EQ(freshError, "File too large");
    EXPECT_EQ(keptError, "File too large");
    EXPECT_FALSE(std::filesystem::exists(fresh)) << "an empty file was left behind";
    EXPECT_EQ(ReadAll(kept), "already here\r\n");
}

TEST(ResultFile, EveryResultOfAFileIsRead) {
    const ResultTexts older{"反接线\\内标准\\定频\\内高压", "A\r\n",
                            "  Date：2016-03-24 15:34:00\r\n"};
    const ResultTexts noDetails{"变比\\内标准\\定频\\内高压", "K\r\n", ""};
    const ResultTexts newer{"正接线\\外标准\\异频\\外高压", "B\r\nC\r\n",
                            "U\r\n  Date：2017-01-02 03:04:05   \r\n"};
    const std::string file = ResultFileRun(older) + ResultFileRun(noDetails) + ResultFileRun(newer);
    const ResultFileContent c = ParseResultFile(file);
    ASSERT_EQ(c.State, ResultFileContent::Ok);
    ASSERT_EQ(c.All.size(), 3u);
    EXPECT_EQ(c.All[0], older);
    // A result without details does not take the next result's heading for them.
    EXPECT_EQ(c.All[1], noDetails);
    EXPECT_EQ(c.All[2], newer);
    EXPECT_EQ(c.Texts, older);
    // A heading and separator with nothing under them adds no result.
    EXPECT_EQ(ParseResultFile(ResultFileRun(older) + ResultFileRun({})).All.size(), 1u);
    EXPECT_EQ(ParseResultFile(ResultFileRun({}) + ResultFileRun(older)).All,
              (std::vector<ResultTexts>{{}, older}));
    // One result is read as it always was, to the end of the file.
    EXPECT_EQ(ParseResultFile(ResultFileRun(noDetails) + "tail\r\n").All,
              (std::vector<ResultTexts>{{noDetails.Title, noDetails.Main, "tail\r\n"}}));

    EXPECT_EQ(ResultDate(older), "2016-03-24 15:34:00");
    EXPECT_EQ(ResultDate(newer), "2017-01-02 03:04:05");
    EXPECT_EQ(ResultDate(noDetails), "");
    // Newest first by date; without a date last; equal dates: the one saved last first.
    const std::vector<ResultTexts> all = {older, noDetails, newer, older, {"", "M\r\n", ""}};
    const std::vector<ResultChoice> choices = ResultChoices(all);
    ASSERT_EQ(choices.size(), 5u);
    EXPECT_EQ(choices[0].Index, 2u);
    EXPECT_EQ(choices[0].Text, newer.Title + "    2017-01-02 03:04:05");
    EXPECT_EQ(choices[1].Index, 3u);
    EXPECT_EQ(choices[2].Index, 0u);
    EXPECT_EQ(choices[3].Index, 4u);
    EXPECT_EQ(choices[3].Text, "（无标题）");
    EXPECT_EQ(choices[4].Index, 1u);
    EXPECT_EQ(choices[4].Text, noDetails.Title);
}

TEST(ResultFile, FilesInUtf8OpenWithTheirTexts) {
    const ResultTexts texts{kLive.Title, kLive.Main, "D\r\n"}; // as reading yields them
    const std::string gbk = ResultFileRun(texts);
    const std::string utf8 = GbkToUtf8(gbk);
    ASSERT_NE(utf8, gbk);
    for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8}) {
        const ResultFileContent c = ParseResultFile(bytes);
        ASSERT_EQ(c.State, ResultFileContent::Ok);
        EXPECT_EQ(c.Texts, texts);
    }
    // A byte-order mark before a file of plain ASCII; GBK files stay GBK.
    EXPECT_EQ(ParseResultFile("\xEF\xBB\xBF============\nT\n\nM\n\nD\n").Texts,
              (ResultTexts{"T", "M\r\n", "D\r\n"}));
    EXPECT_EQ(ParseResultFile(gbk).Texts, texts);
    EXPECT_TRUE(IsUtf8(utf8));
    EXPECT_FALSE(IsUtf8(gbk));
    for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xBD"}) {
        EXPECT_FALSE(IsUtf8(bad)) << bad;
    }
    // Saving still writes GBK.
    TempDir dir;
    ASSERT_EQ(AppendResultRun(dir.File("r.txt"), ParseResultFile(utf8).Texts), "");
    EXPECT_EQ(ReadAll(dir.File("r.txt")), gbk);
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
