// The archive of the real window as processes see it: a window killed right after a result is
// on screen, a window run by a user who may not write the archive, and the first steps of a new
// user who finds a test's result with dielmon-archive and on the archive page.
#include "archive/archive.h"
#include "archive/export.h"

#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::test;
namespace fs = std::filesystem;

namespace {

const std::string kRun = DIELMON_ARCHIVE_RUN;
const std::string kTool = DIELMON_ARCHIVE_TOOL;

int Count(const std::vector<std::string>& lines, const std::string& start) {
    int n = 0;
    for (const std::string& l : lines) {
        n += l.rfind(start, 0) == 0 ? 1 : 0;
    }
    return n;
}

std::unique_ptr<archive::Archive> OpenArchive(const std::string& home) {
    archive::Opened opened = archive::Archive::Open(home + archive::kArchiveFileName);
    EXPECT_NE(opened.Store, nullptr) << opened.Error;
    return std::move(opened.Store);
}

// The helper's output lines and its exit status.
struct HelperRan {
    int Status = -1;
    std::vector<std::string> Out;
};

HelperRan Helper(const std::vector<std::string>& args) {
    const Ran r = RunToEnd(kRun, args);
    return {r.Status, Lines(r.Out)};
}

} // namespace

TEST(ArchiveProcess, AResultOnScreenIsInTheArchiveAfterTheProgramIsKilled) {
    TempDir home;
    std::string shown;
    for (int run = 1; run <= 4; ++run) {
        Process p(kRun, {"--home", home.Home(), "--tests", "1", "--linger"});
        std::string line;
        do {
            line = p.ReadLine();
        } while (!line.empty() && line.rfind("shown ", 0) != 0);
        ASSERT_EQ(line.rfind("shown 1 ", 0), 0u) << "run " << run << ": " << p.ReadErr();
        // At once, as a power switch or the task manager would.
        ASSERT_TRUE(p.Signal(SIGKILL));
        p.Wait();
        shown = line.substr(8);
        auto a = OpenArchive(home.Home());
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->Count({}).Value, run);
        EXPECT_EQ(a->IntegrityCheck(), "ok");
        // The newest is the result that was on screen.
        const auto rows = a->List({}, std::nullopt, 1);
        ASSERT_EQ(rows.Value.size(), 1u);
        const auto kept = a->Get(rows.Value[0].Id).Value.value();
        const std::string cx = shown.substr(0, shown.find(' '));
        EXPECT_NE(archive::JsonLine(kept).find(cx), std::string::npos) << shown;
    }
}

TEST(ArchiveProcess, AnArchiveTheUserMayNotWriteStillLetsEveryResultBeShownAndSaved) {
    TempDir dir;
    // The folders are entered by the unprivileged user (the test drops to one as root).
    fs::permissions(dir.Path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path home = dir.Path() / "home";
    const fs::path out = dir.Path() / "out";
    fs::create_directories(home);
    fs::create_directories(out);
    {
        auto a = OpenArchive(home.string() + "/");
        ASSERT_NE(a, nullptr);
    }
    const std::string path = (home / archive::kArchiveFileName).string();
    const std::string before = ReadAll(path);
    const auto readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(path, readable);
    fs::permissions(home, readable | fs::perms::owner_exec | fs::perms::group_exec |
                              fs::perms::others_exec);
    fs::permissions(out, fs::perms::all);
    const std::string log = (out / "run.txt").string();
    const std::string saved = (out / "results.txt").string();
    const int status = AsUnprivilegedUser([&] {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0) {
            return 2;
        }
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::setenv("HOME", out.c_str(), 1);
        ::execl(kRun.c_str(), kRun.c_str(), "--home", (home.string() + "/").c_str(), "--tests", "2",
                "--save", saved.c_str(), static_cast<char*>(nullptr));
        return 3;
    });
    fs::permissions(home, fs::perms::owner_all);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    if (status < 0) {
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    }
    const std::vector<std::string> lines = Lines(ReadAll(log));
    EXPECT_EQ(status, 0) << ReadAll(log);
    EXPECT_EQ(Count(lines, "shown "), 2) << ReadAll(log);
    EXPECT_EQ(Count(lines, "saved "), 2);
    // Told once, at start, that the archive takes nothing; not again for each result.
    ASSERT_EQ(Count(lines, "message "), 1) << ReadAll(log);
    for (const std::string& l : lines) {
        if (l.rfind("message ", 0) == 0) {
            EXPECT_NE(l.find("只能查看"), std::string::npos) << l;
        }
    }
    // Both results are in the text file, the archive as it was.
    const std::string text = ReadAll(saved);
    EXPECT_GT(text.size(), 200u);
    EXPECT_EQ(ReadAll(path), before);
}

TEST(ArchiveProcess, ANewUserFindsATestsResultWithTheToolAndOnTheArchivePage) {
    TempDir home;
    const std::string specimen = "1号主变 高压套管A相";
    HelperRan first = Helper({"--home", home.Home(), "--specimen", specimen, "--tests", "1"});
    ASSERT_EQ(first.Status, 0);
    ASSERT_EQ(Count(first.Out, "shown 1"), 1);
    EXPECT_EQ(Count(first.Out, "message"), 0);

    auto tool = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all{"--home", home.Home()};
        all.insert(all.end(), args.begin(), args.end());
        const Ran r = RunToEnd(kTool, all);
        return HelperRan{r.Status, Lines(r.Out)};
    };
    HelperRan listed = tool({"list"});
    ASSERT_EQ(listed.Status, 0);
    ASSERT_EQ(listed.Out.size(), 1u);
    EXPECT_NE(listed.Out[0].find(specimen), std::string::npos) << listed.Out[0];
    EXPECT_NE(listed.Out[0].find("反接线"), std::string::npos);
    EXPECT_NE(listed.Out[0].find("test"), std::string::npos);

    // The same specimen measured again, the program closed and opened once more.
    HelperRan second = Helper({"--home", home.Home(), "--tests", "1"});
    ASSERT_EQ(second.Status, 0);
    listed = tool({"list", "--specimen", specimen});
    EXPECT_EQ(listed.Out.size(), 2u);
    HelperRan trend = tool({"trend", specimen});
    ASSERT_EQ(trend.Status, 0);
    EXPECT_EQ(trend.Out.size(), 3u); // the series' heading and two points

    HelperRan page =
        Helper({"--home", home.Home(), "--tests", "0", "--archive-page", "--specimen", specimen});
    ASSERT_EQ(page.Status, 0);
    EXPECT_EQ(Count(page.Out, "archive rows 2"), 1);
    EXPECT_EQ(Count(page.Out, "trend points 2"), 1);
}
