// The archive's faults with real files and real processes: damaged files, a full disk, a
// read-only file or folder, two programs writing at once, and programs killed at random moments.
#include "results.h"

#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using dielmon::test::Process;
using dielmon::test::ReadAll;
using dielmon::test::TempDir;
using dielmon::test::WriteAll;

namespace {

const std::string kWriter = DIELMON_ARCHIVE_WRITER;

// An archive of `n` results, closed again (its log checkpointed into the file).
void MakeArchive(const std::string& path, int n) {
    auto a = OpenOk(path);
    for (int k = 0; k < n; ++k) {
        std::string specimen = "T";
        specimen += std::to_string(k % 5);
        ASSERT_TRUE(a->Add(Live(1.0f + static_cast<float>(k) / 100, 0.3f, Day(2016, 1, 1 + k % 28),
                                specimen))
                        .Ok());
    }
}

// Runs `child` in a forked process and returns its exit status (-1 when it died of a signal).
int InChild(const std::function<int()>& child) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(child());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The ids a writer reported as kept, from its output.
std::vector<std::string> KeptIds(const std::string& output) {
    std::vector<std::string> ids;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("kept ", 0) == 0 && line.size() == 5 + 36) {
            ids.push_back(line.substr(5));
        }
    }
    return ids;
}

} // namespace

TEST(ArchiveFaults, DamagedFilesOpenNothingAndAreLeftAsTheyWere) {
    TempDir dir;
    std::mt19937 random(14);
    std::string garbage(8192, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    std::string archive;
    {
        const std::string path = dir.File("whole.db");
        MakeArchive(path, 200);
        archive = ReadAll(path);
        ASSERT_GT(archive.size(), 16384u);
        ASSERT_FALSE(std::filesystem::exists(path + "-wal"));
    }
    const std::string header = archive.substr(0, 50);
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } files[] = {
        {"garbage.db", garbage, "not an SQLite database"},
        {"text.db", "     介质损耗测试数据\r\n=====\r\n", "not an SQLite database"},
        {"truncated.db", archive.substr(0, archive.size() / 2), "cut short"},
        {"header-only.db", header, "cut short"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = dir.File(f.name);
        WriteAll(path, f.bytes);
        const Opened opened = Archive::Open(path);
        EXPECT_EQ(opened.Store, nullptr);
        EXPECT_NE(opened.Error.find(f.reason), std::string::npos) << opened.Error;
        EXPECT_NE(opened.Error.find("left as it is"), std::string::npos) << opened.Error;
        EXPECT_NE(opened.Error.find(path), std::string::npos) << opened.Error;
        EXPECT_EQ(ReadAll(path), f.bytes);
        EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    }

    // Another program's database.
    const std::string foreign = dir.File("foreign.db");
    RunSql(foreign, "CREATE TABLE accounts(name TEXT); INSERT INTO accounts VALUES ('x');");
    const std::string before = ReadAll(foreign);
    const Opened other = Archive::Open(foreign);
    EXPECT_EQ(other.Store, nullptr);
    EXPECT_NE(other.Error.find("not a result archive"), std::string::npos) << other.Error;
    EXPECT_EQ(ReadAll(foreign), before);

    // Damage inside the file, behind a sound header: reading reports it, nothing is written.
    const std::string inside = dir.File("inside.db");
    std::string spoilt = archive;
    for (std::size_t k = 3 * 4096; k < 6 * 4096; ++k) {
        spoilt[k] = static_cast<char>(random());
    }
    WriteAll(inside, spoilt);
    Opened damaged = Archive::Open(inside);
    ASSERT_NE(damaged.Store, nullptr) << damaged.Error;
    EXPECT_NE(damaged.Store->IntegrityCheck(), "ok");
    const std::string walked = damaged.Store->ForEach({}, [](const Result&) { return true; });
    EXPECT_NE(walked.find("the archive file is damaged"), std::string::npos) << walked;
    EXPECT_NE(damaged.Store->Count({}).Error.find("damaged"), std::string::npos);
    // Once damage is seen, nothing more is written.
    const Added added = damaged.Store->Add(Live(1, 0.3f, Day(2016, 1, 1)));
    EXPECT_NE(added.Error.find("damaged; nothing more is written"), std::string::npos)
        << added.Error;
    damaged.Store.reset();
    EXPECT_EQ(ReadAll(inside), spoilt);

    // A folder where the file should be.
    std::filesystem::create_directory(dir.File("folder.db"));
    EXPECT_NE(Archive::Open(dir.File("folder.db")).Error.find("a folder"), std::string::npos);
}

TEST(ArchiveFaults, AFullDiskFailsTheWriteWithAClearErrorAndKeepsWhatWasKept) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    MakeArchive(path, 10);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int status = InChild([&] {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        Opened opened = Archive::Open(path);
        if (!opened.Store) {
            return 3;
        }
        // Room for a few results more, then the files may not grow.
        const rlimit limit{static_cast<rlim_t>(std::filesystem::file_size(path) + 40000),
                           RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string report;
        int kept = 0;
        for (int k = 0; k < 5000; ++k) {
            const Added added = opened.Store->Add(Live(2, 0.3f, Day(2017, 1, 1), "full"));
            if (!added.Ok()) {
                report = std::to_string(kept) + "\n" + added.Error;
                // The archive stays usable for reading.
                if (!opened.Store->Count({}).Ok()) {
                    report += "\ncannot count";
                }
                break;
            }
            ++kept;
        }
        [[maybe_unused]] const auto ignored = ::write(pipeFds[1], report.data(), report.size());
        ::close(pipeFds[1]);
        return 0;
    });
    ::close(pipeFds[1]);
    std::string report;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    ASSERT_EQ(status, 0);
    ASSERT_FALSE(report.empty()) << "the archive never filled up";
    const int kept = std::stoi(report);
    const std::string error = report.substr(report.find('\n') + 1);
    EXPECT_GT(kept, 0);
    EXPECT_NE(error.find("the result was not archived"), std::string::npos) << error;
    EXPECT_TRUE(error.find("writing to the disk failed: full") != std::string::npos ||
                error.find("disk is full") != std::string::npos)
        << error;
    EXPECT_EQ(error.find("cannot count"), std::string::npos) << error;

    auto a = OpenOk(path);
    EXPECT_EQ(a->IntegrityCheck(), "ok");
    EXPECT_EQ(a->Count({}).Value, 10 + kept);
}

TEST(ArchiveFaults, AReadOnlyFileOrFolderRefusesWritesClearly) {
    TempDir dir;
    const std::filesystem::path folder = dir.Path() / "home";
    std::filesystem::create_directory(folder);
    const std::string path = (folder / kArchiveFileName).string();
    MakeArchive(path, 5);
    const std::string before = ReadAll(path);
    namespace fs = std::filesystem;
    // The folder is entered by an unprivileged user; as root the test becomes one.
    fs::permissions(dir.Path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    auto asUser = [&](const std::function<int()>& body) {
        return InChild([&] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                return 90;
            }
            return body();
        });
    };

    // Opened read-only with the reason, read, never written.
    auto readOnly = [&](const std::string& reason) {
        return asUser([&] {
            Opened opened = Archive::Open(path);
            if (!opened.Store) {
                std::fprintf(stderr, "%s\n", opened.Error.c_str());
                return 1;
            }
            if (!opened.Store->ReadOnly() ||
                opened.Notice != "The archive is opened read-only: " + reason + " (" + path + ")") {
                std::fprintf(stderr, "%s\n", opened.Notice.c_str());
                return 2;
            }
            const Added added = opened.Store->Add(Live(1, 0.3f, Day(2016, 1, 1)));
            if (added.Ok() ||
                added.Error != "the archive is open read-only: " + reason + " (" + path + ")") {
                std::fprintf(stderr, "%s\n", added.Error.c_str());
                return 3;
            }
            if (opened.Store->Delete(opened.Store->List({}, std::nullopt, 1).Value.at(0).Id)
                    .empty()) {
                return 4;
            }
            return opened.Store->Count({}).Value == 5 ? 0 : 5;
        });
    };
    const auto readable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::others_read;
    const auto writable = readable | fs::perms::group_write | fs::perms::others_write;
    const auto enterable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(folder, enterable);
    fs::permissions(path, readable);
    EXPECT_EQ(readOnly("neither the file nor its folder can be written"), 0);
    fs::permissions(path, writable);
    EXPECT_EQ(readOnly("its folder cannot be written"), 0);
    fs::permissions(folder, enterable | fs::perms::group_write | fs::perms::others_write);
    fs::permissions(path, readable);
    EXPECT_EQ(readOnly("the file cannot be written"), 0);
    fs::permissions(folder, enterable);

    // A new archive in a folder that may not be written.
    EXPECT_EQ(asUser([&] {
                  const Opened opened = Archive::Open((folder / "new.db").string());
                  return opened.Store == nullptr && opened.Error.find("cannot") != std::string::npos
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_EQ(ReadAll(path), before);
    fs::permissions(folder, fs::perms::owner_all);
    fs::permissions(path, writable);
    EXPECT_EQ(OpenOk(path)->IntegrityCheck(), "ok");
}

TEST(ArchiveFaults, TwoProgramsOnOneArchiveBothKeepEveryResult) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    MakeArchive(path, 1);
    constexpr int kEach = 300;
    Process first(kWriter, {path, std::to_string(kEach), "first"});
    Process second(kWriter, {path, std::to_string(kEach), "second"});
    const std::string out1 = first.ReadOut();
    const std::string out2 = second.ReadOut();
    EXPECT_EQ(first.Wait(), 0) << first.ReadErr() << out1.substr(out1.rfind("kept") + 41);
    EXPECT_EQ(second.Wait(), 0) << second.ReadErr();
    EXPECT_EQ(KeptIds(out1).size(), static_cast<std::size_t>(kEach));
    EXPECT_EQ(KeptIds(out2).size(), static_cast<std::size_t>(kEach));
    auto a = OpenOk(path);
    Filter f;
    f.ExactSpecimen = true;
    f.Specimen = "first";
    EXPECT_EQ(a->Count(f).Value, kEach);
    f.Specimen = "second";
    EXPECT_EQ(a->Count(f).Value, kEach);
    for (const std::string& id : KeptIds(out1 + out2)) {
        EXPECT_TRUE(a->Get(id).Value.has_value()) << id;
    }
    EXPECT_EQ(a->IntegrityCheck(), "ok");
}

TEST(ArchiveFaults, AProgramKilledAtRandomMomentsLosesNoResultItReportedKept) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    std::mt19937 random(2016);
    std::set<std::string> reported;
    constexpr int kKills = 20;
    int killedRightAfterReport = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        Process writer(kWriter, {path, "0", "killed"});
        // Half the kills follow the report of a result at once; the others come at any moment,
        // also while the archive is being created or a result is half written.
        const bool afterReport = kill % 2 == 0;
        if (afterReport) {
            const int reports = std::uniform_int_distribution<int>(1, 40)(random);
            for (int k = 0; k < reports; ++k) {
                const std::string line = writer.ReadLine();
                ASSERT_EQ(line.rfind("kept ", 0), 0u) << line;
                reported.insert(line.substr(5));
            }
            ++killedRightAfterReport;
        } else {
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(0, 150000)(random)));
        }
        ASSERT_TRUE(writer.Signal(SIGKILL));
        writer.Wait();
        for (const std::string& id : KeptIds(writer.ReadOut())) {
            reported.insert(id);
        }
        // After every kill the file is whole and holds every result reported as kept.
        auto a = OpenOk(path);
        ASSERT_TRUE(a);
        ASSERT_EQ(a->IntegrityCheck(), "ok") << "after kill " << kill + 1;
        for (const std::string& id : reported) {
            ASSERT_TRUE(a->Get(id).Value.has_value()) << id << " lost by kill " << kill + 1;
        }
    }
    RecordProperty("kills", kKills);
    RecordProperty("results_reported_kept", static_cast<int>(reported.size()));
    std::printf("%d kills (%d right after a result was reported kept), %zu results reported "
                "kept, none lost, integrity ok after each\n",
                kKills, killedRightAfterReport, reported.size());
    EXPECT_GT(reported.size(), 20u);
}
