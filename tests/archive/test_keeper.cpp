// The keeper of results: every completed result archived with the conditions given for it, the
// conditions remembered across runs, and what the operator is told when the archive cannot
// take a result, on real files (a full disk by a file size limit in a child process).
#include "archive/keeper.h"
#include "results.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using dielmon::test::ReadAll;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;
namespace fs = std::filesystem;

namespace {

CompletedResult TestResult(float nf, float df = 0.3f, int day = 1) {
    CompletedResult c;
    c.Source = ResultSource::Test;
    c.Code = RspFinalResult;
    c.Frame = LiveFrame(nf, df, Day(2016, 3, day));
    c.Selection = PanelOf(2);
    TestParameters p;
    p.WiringMode = 2;
    p.TestVoltage = 10000;
    c.Parameters = p;
    c.InstrumentType = 5;
    c.Texts = ShowFinalResult(c.Frame.data(), static_cast<int>(c.Frame.size()), c.Selection).Texts;
    return c;
}

CompletedResult RecordResult(float nf, int number) {
    const sim::StoredRecord rec{
        {2, 1, 1, 1},
        {sim::SingleResult{10, 0.01f, 500, 500, 1, nf, 0.3f, 89, 0.005f, 0.001f}, Day(2015, 5, 5)}};
    CompletedResult c;
    c.Source = ResultSource::Instrument;
    c.Frame = RecordFrame(rec);
    c.Code = c.Frame[1];
    c.RecordNumber = number;
    c.InstrumentType = 5;
    return c;
}

ResultKeeper::Options In(const std::string& folder) {
    ResultKeeper::Options o;
    o.DataFolder = folder;
    return o;
}

Result Only(Archive& a) {
    const auto rows = a.List({}, std::nullopt, 10);
    EXPECT_EQ(rows.Value.size(), 1u);
    return a.Get(rows.Value.at(0).Id).Value.value();
}

bool Mentions(const std::vector<std::string>& tell, const char* part) {
    return tell.size() == 1 && tell[0].find(part) != std::string::npos;
}

} // namespace

TEST(Keeper, KeepsEveryResultWithTheConditionsGivenForItAndRemembersThem) {
    TempDir dir;
    const std::string data = dir.File("data/");
    {
        ResultKeeper k(In(data));
        EXPECT_TRUE(k.Start().empty());
        // Nothing is made before there is something to keep.
        EXPECT_FALSE(fs::exists(data));
        EXPECT_NE(k.StateText().find("还没有结果"), std::string::npos);
        EXPECT_TRUE(k.Writable());

        ResultKeeper::Kept kept = k.Keep(TestResult(4.7f));
        EXPECT_TRUE(kept.Archived);
        EXPECT_TRUE(kept.New);
        EXPECT_TRUE(kept.Tell.empty());
        EXPECT_TRUE(fs::exists(data + kArchiveFileName));
        EXPECT_EQ(k.StateText(), "结果档案：" + data + kArchiveFileName);

        // Given once, kept for the following results until changed.
        const Conditions given{"1号主变 高压套管A相", 23.5, 61};
        EXPECT_EQ(k.SetNext(given), "");
        EXPECT_EQ(k.Next(), given);
        kept = k.Keep(TestResult(4.8f, 0.31f, 2));
        ASSERT_TRUE(kept.New);
        const auto second = k.Store()->Get(kept.Id).Value.value();
        EXPECT_EQ(second.Taken, given);
        EXPECT_EQ(second.From, Source::Test);
        EXPECT_EQ(second.Config.TestVoltage, 10000);
        EXPECT_EQ(k.Store()->Get(k.Keep(TestResult(4.9f, 0.32f, 3)).Id).Value->Taken, given);
        // Blanks are "not given".
        EXPECT_EQ(k.SetNext({"1号主变 高压套管A相", std::nullopt, std::nullopt}), "");
        EXPECT_EQ(k.Store()->Get(k.Keep(TestResult(5.0f, 0.3f, 4)).Id).Value->Taken.Temperature,
                  std::nullopt);

        // A record read from the instrument takes no conditions of today's; read twice, it is
        // one result.
        kept = k.Keep(RecordResult(2.2f, 3));
        EXPECT_TRUE(kept.New);
        const auto record = k.Store()->Get(kept.Id).Value.value();
        EXPECT_EQ(record.From, Source::Instrument);
        EXPECT_EQ(record.Record, 3);
        EXPECT_EQ(record.Taken, Conditions{});
        const ResultKeeper::Kept again = k.Keep(RecordResult(2.2f, 5));
        EXPECT_TRUE(again.Archived);
        EXPECT_FALSE(again.New);
        EXPECT_EQ(again.Id, kept.Id);
        EXPECT_EQ(k.Store()->Count({}).Value, 5);
        EXPECT_EQ(k.SetNext(given), "");
    }
    // The next run starts with the conditions given last.
    ResultKeeper next(In(data));
    EXPECT_TRUE(next.Start().empty());
    EXPECT_EQ(next.Next(), (Conditions{"1号主变 高压套管A相", 23.5, 61}));
    EXPECT_EQ(next.Store()->Count({}).Value, 5);
    // A conditions file that is damaged or edited by hand gives what it can.
    WriteAll(next.ConditionsPath(), "specimen=\xFF\xFE\ntemperature=hot\nhumidity=200\nx\n=1\n");
    ResultKeeper damaged(In(data));
    damaged.Start();
    EXPECT_EQ(damaged.Next(), Conditions{});
}

TEST(Keeper, SpecimenNamesAreKeptAndRememberedAsTyped) {
    TempDir dir;
    const std::string data = dir.Home();
    const std::string names[] = {
        "O'Brien \"套管\" 'B'",
        "x'); DROP TABLE results; --",
        "%_\\ LIKE *",
        "한국어 변압기 😀 𠀀 Ελληνικά",
        "line\nbreak\r\nand \\n backslash",
        std::string(1 << 20, 'M') + "尾",
    };
    for (const std::string& name : names) {
        ResultKeeper k(In(data));
        k.Start();
        ASSERT_EQ(k.SetNext({name, -4.5, 0}), "");
        const ResultKeeper::Kept kept = k.Keep(TestResult(4.7f));
        ASSERT_TRUE(kept.New);
        EXPECT_EQ(k.Store()->Get(kept.Id).Value->Taken.Specimen, name);
        Filter f;
        f.Specimen = name;
        f.ExactSpecimen = true;
        EXPECT_EQ(k.Store()->Count(f).Value, 1);
        ResultKeeper later(In(data));
        later.Start();
        EXPECT_EQ(later.Next(), (Conditions{name, -4.5, 0})) << name.substr(0, 40);
    }
    ResultKeeper k(In(data));
    k.Start();
    EXPECT_EQ(k.Store()->Count({}).Value, static_cast<long long>(std::size(names)));
    EXPECT_EQ(k.Store()->IntegrityCheck(), "ok");
    // Text that is no UTF-8 is refused, and the conditions stay as they were.
    EXPECT_NE(k.SetNext({"\xC0\xAF", 1, 1}), "");
}

TEST(Keeper, TemperatureAndHumidityAsTyped) {
    const struct {
        const char* text;
        std::optional<double> value;
        bool valid;
    } temperatures[] = {
        {"", std::nullopt, true},     {"  ", std::nullopt, true},   {"23.5", 23.5, true},
        {"23,5", 23.5, true},         {" +5 ", 5.0, true},          {"-4", -4.0, true},
        {"-60", -60.0, true},         {"80", 80.0, true},           {"80.1", std::nullopt, false},
        {"-61", std::nullopt, false}, {"abc", std::nullopt, false}, {"12abc", std::nullopt, false},
        {"nan", std::nullopt, false}, {"inf", std::nullopt, false}, {"+", std::nullopt, false},
        {"1e1", 10.0, true},          {"--1", std::nullopt, false}, {"23.5°C", std::nullopt, false},
    };
    for (const auto& t : temperatures) {
        const Reading r = ReadTemperature(t.text);
        EXPECT_EQ(r.Valid, t.valid) << t.text;
        EXPECT_EQ(r.Value, t.value) << t.text;
    }
    EXPECT_EQ(ReadHumidity("0").Value, 0.0);
    EXPECT_EQ(ReadHumidity("100").Value, 100.0);
    EXPECT_FALSE(ReadHumidity("100.5").Valid);
    EXPECT_FALSE(ReadHumidity("-1").Valid);
    EXPECT_EQ(ReadingText(23.5), "23.5");
    EXPECT_EQ(ReadingText(-4.0), "-4");
    EXPECT_EQ(ReadingText(std::nullopt), "");
    EXPECT_EQ(MainInOneLine("Cx\xA3\xBA"
                            "4.753nF      \r\nDF\xA3\xBA"
                            "0.430%  \r\n\r\n"),
              "Cx：4.753nF  DF：0.430%");
}

TEST(Keeper, AFailingWriteIsToldOnceAndAgainOnlyAfterAResultWasKept) {
    TempDir dir;
    const std::string data = dir.Home();
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        std::string report;
        ResultKeeper k(In(data));
        k.Start();
        auto wal = [&] { return fs::file_size(data + kArchiveFileName + "-wal"); };
        auto full = [&] {
            // The archive's files may not grow any more: a full disk for them.
            const rlimit limit{static_cast<rlim_t>(wal()), RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        };
        auto room = [] {
            const rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        };
        auto keep = [&](float nf) {
            const ResultKeeper::Kept kept = k.Keep(TestResult(nf));
            report += kept.Archived ? "kept" : "lost";
            report += " " + std::to_string(kept.Tell.size()) + "\n";
            if (!kept.Tell.empty()) {
                std::string told = kept.Tell[0];
                std::replace(told.begin(), told.end(), '\n', ' ');
                report += "told " + told + "\n";
            }
        };
        keep(1);
        full();
        keep(2);
        keep(3);
        keep(4);
        room();
        keep(5);
        full();
        keep(6);
        keep(7);
        room();
        [[maybe_unused]] const auto n = ::write(pipeFds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> lines;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("kept ", 0) == 0 || line.rfind("lost ", 0) == 0) {
            lines.push_back(line);
        } else if (line.rfind("told ", 0) == 0) {
            EXPECT_NE(line.find("这个结果没有存入结果档案（磁盘已满"), std::string::npos) << line;
            EXPECT_NE(line.find("保存"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"kept 0", "lost 1", "lost 0", "lost 0", "kept 0",
                                               "lost 1", "lost 0"}))
        << report;
    // What was kept stays whole.
    ResultKeeper k(In(data));
    EXPECT_TRUE(k.Start().empty());
    EXPECT_EQ(k.Store()->Count({}).Value, 2);
    EXPECT_EQ(k.Store()->IntegrityCheck(), "ok");
}

TEST(Keeper, NewerDamagedOrForeignArchivesAreToldOnceAndNeverWritten) {
    // A newer program's archive: read-only, told once at start, its results still there.
    {
        TempDir dir;
        const std::string path = dir.File(kArchiveFileName);
        OpenOk(path)->Add(Live(4.7f, 0.3f, Day(2016, 1, 1), "old"));
        RunSql(path, "PRAGMA user_version = 99");
        const std::string before = ReadAll(path);
        ResultKeeper k(In(dir.Home()));
        const auto tell = k.Start();
        EXPECT_TRUE(Mentions(tell, "较新版本的程序")) << (tell.empty() ? "" : tell[0]);
        EXPECT_TRUE(Mentions(tell, "第99版"));
        EXPECT_FALSE(k.Writable());
        for (int n = 0; n < 3; ++n) {
            const ResultKeeper::Kept kept = k.Keep(TestResult(4.8f));
            EXPECT_FALSE(kept.Archived);
            EXPECT_TRUE(kept.Tell.empty());
            EXPECT_NE(kept.Error, "");
        }
        ASSERT_NE(k.Store(), nullptr);
        EXPECT_EQ(Only(*k.Store()).Taken.Specimen, "old");
        EXPECT_NE(k.StateText().find("只能查看"), std::string::npos);
        EXPECT_EQ(ReadAll(path), before);
    }
    // Damaged, cut short, another program's database, a folder in its place: nothing is opened,
    // the file is left as it was, told once, and the keeper goes on without an archive.
    const std::string header("SQLite format 3\0", 16);
    const std::string cases[] = {
        header + std::string(84, '\0') + std::string(8000, '\x5A'),
        header + std::string(10, '\x01'),
        "name,value\r\nnot,an archive\r\n",
    };
    for (const std::string& bytes : cases) {
        TempDir dir;
        const std::string path = dir.File(kArchiveFileName);
        WriteAll(path, bytes);
        ResultKeeper k(In(dir.Home()));
        const auto tell = k.Start();
        EXPECT_TRUE(Mentions(tell, "结果档案无法使用（档案文件已损坏")) << tell.size();
        EXPECT_TRUE(Mentions(tell, "不会被改写"));
        for (int n = 0; n < 3; ++n) {
            const ResultKeeper::Kept kept = k.Keep(TestResult(4.8f));
            EXPECT_FALSE(kept.Archived);
            EXPECT_TRUE(kept.Tell.empty());
        }
        std::vector<std::string> more;
        EXPECT_EQ(k.Store(&more), nullptr);
        EXPECT_TRUE(more.empty());
        EXPECT_NE(k.StateText().find("无法使用"), std::string::npos);
        EXPECT_EQ(ReadAll(path), bytes);
        EXPECT_FALSE(fs::exists(path + "-wal"));
    }
    {
        TempDir dir;
        RunSql(dir.File(kArchiveFileName), "CREATE TABLE other(x)");
        const std::string before = ReadAll(dir.File(kArchiveFileName));
        ResultKeeper k(In(dir.Home()));
        EXPECT_TRUE(Mentions(k.Start(), "不是本程序的档案"));
        EXPECT_FALSE(k.Keep(TestResult(1)).Archived);
        EXPECT_EQ(ReadAll(dir.File(kArchiveFileName)), before);
    }
    {
        TempDir dir;
        fs::create_directory(dir.File(kArchiveFileName));
        ResultKeeper k(In(dir.Home()));
        EXPECT_TRUE(Mentions(k.Start(), "结果档案无法使用"));
        EXPECT_FALSE(k.Keep(TestResult(1)).Archived);
        EXPECT_TRUE(fs::is_directory(dir.File(kArchiveFileName)));
    }
}

TEST(Keeper, AnArchiveThatCannotBeMadeIsToldOnceAndMadeWhenItCanBe) {
    TempDir dir;
    // A file where the data folder should be: the folder cannot be made.
    WriteAll(dir.File("data"), "in the way");
    ResultKeeper k(In(dir.File("data/")));
    EXPECT_TRUE(k.Start().empty());
    ResultKeeper::Kept kept = k.Keep(TestResult(1));
    EXPECT_FALSE(kept.Archived);
    ASSERT_EQ(kept.Tell.size(), 1u);
    EXPECT_NE(kept.Tell[0].find("无法建立结果档案"), std::string::npos) << kept.Tell[0];
    EXPECT_TRUE(k.Keep(TestResult(2)).Tell.empty());
    // Once the way is clear, the next result makes the archive.
    fs::remove(dir.File("data"));
    kept = k.Keep(TestResult(3));
    EXPECT_TRUE(kept.New);
    EXPECT_TRUE(kept.Tell.empty());
    EXPECT_EQ(k.Store()->Count({}).Value, 1);
    EXPECT_TRUE(k.Writable());
}
