// The synchronisation's thread against a real PostgreSQL server: its status, requests, a
// refused login retried with growing waits and never more often, and a stop that never waits
// on the network.
#include "lab.h"

#include "sync/worker.h"

#include "support/wait.h"

#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using namespace dielmon::sync;
using namespace dielmon::sync::test;
using dielmon::test::WaitUntil;
using std::chrono::milliseconds;

namespace {

SyncWorker::Options Quick(const std::string& archivePath, const std::string& server) {
    SyncWorker::Options o;
    o.ArchivePath = archivePath;
    o.Server = server;
    o.Period = std::chrono::hours(1);
    o.AfterChange = milliseconds(50);
    o.FirstRetry = milliseconds(200);
    o.LongestRetry = milliseconds(800);
    return o;
}

} // namespace

TEST_F(Lab, TheWorkerSynchronisesAtStartOnRequestAndSoonAfterLocalChanges) {
    Laptop a;
    Laptop b;
    for (int k = 0; k < 3; ++k) {
        ASSERT_TRUE(a.Store->Add(Live(1 + k, 0.3f, Day(2021, 1, 1 + k), "A")).Ok());
    }
    std::atomic<int> changed{0};
    SyncWorker::Options o = Quick(a.Path(), "");
    o.Changed = [&] { ++changed; };
    auto worker = std::make_unique<SyncWorker>(o);
    // Without a server it says so, and counts what waits.
    ASSERT_TRUE(WaitUntil([&] { return worker->Status().Waiting == 3; }));
    SyncStatus s = worker->Status();
    EXPECT_FALSE(s.Configured);
    EXPECT_EQ(s.LastFailure, Failure::NotConfigured);
    EXPECT_NE(s.LastError.find("没有设置档案服务器"), std::string::npos) << s.LastError;
    EXPECT_EQ(s.Attempts, 0);

    worker->SetServer(ConnectionString());
    ASSERT_TRUE(WaitUntil([&] { return worker->Status().LastSuccess.has_value(); }));
    s = worker->Status();
    EXPECT_TRUE(s.Configured);
    EXPECT_FALSE(s.Running);
    EXPECT_EQ(s.Waiting, 0);
    EXPECT_EQ(s.LastError, "");
    EXPECT_EQ(s.Last.PushedNew, 3);
    EXPECT_EQ(s.Attempts, 1);
    ASSERT_TRUE(s.NextAttempt.has_value());
    EXPECT_GT(*s.NextAttempt, std::chrono::steady_clock::now() + std::chrono::minutes(50));
    EXPECT_GT(changed.load(), 0);

    // A result archived here goes soon after the window says so.
    ASSERT_TRUE(a.Store->Add(Live(9, 0.3f, Day(2021, 2, 1), "A later")).Ok());
    worker->LocalChange();
    ASSERT_TRUE(WaitUntil([&] { return worker->Status().Attempts == 2; }));
    EXPECT_EQ(worker->Status().Last.PushedNew, 1);
    // Another laptop's result comes on request.
    ASSERT_TRUE(b.Store->Add(Live(7, 0.3f, Day(2021, 3, 1), "B")).Ok());
    ASSERT_TRUE(b.Sync(ConnectionString()).Ok());
    worker->SyncNow();
    ASSERT_TRUE(WaitUntil([&] { return worker->Status().Attempts == 3; }));
    EXPECT_EQ(worker->Status().Last.PulledNew, 1);
    EXPECT_EQ(a.Count(), 5);

    worker.reset();
    const int after = changed.load();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(changed.load(), after) << "no call once the worker is gone";
}

TEST_F(Lab, AWrongPasswordIsSaidInChineseAndRetriedWithGrowingWaits) {
    ASSERT_EQ(Server().Admin("CREATE ROLE lab_tester LOGIN PASSWORD 'correct horse' "
                             "IN ROLE password_login"),
              "");
    ASSERT_EQ(Server().Admin("ALTER DATABASE " + Database + " OWNER TO lab_tester"), "");
    TempDir home;
    const std::string passfile = home.File("pgpass");
    dielmon::test::WriteAll(passfile, "*:*:*:lab_tester:battery staple\n");
    ::chmod(passfile.c_str(), 0600);
    ::setenv("PGPASSFILE", passfile.c_str(), 1);
    Laptop a;
    ASSERT_TRUE(a.Store->Add(Live(1, 0.3f, Day(2021, 1, 1), "A")).Ok());

    const auto started = std::chrono::steady_clock::now();
    auto worker = std::make_unique<SyncWorker>(Quick(a.Path(), ConnectionString("lab_tester")));
    // Tries at 0, then about 0.2, 0.6, 1.4 and 2.2 s (each wait ±20 %): no storm.
    std::this_thread::sleep_for(milliseconds(2000));
    SyncStatus s = worker->Status();
    EXPECT_EQ(s.LastFailure, Failure::Authentication);
    EXPECT_NE(s.LastError.find("档案服务器拒绝登录"), std::string::npos) << s.LastError;
    EXPECT_NE(s.LastError.find("password authentication failed"), std::string::npos);
    EXPECT_EQ(s.LastError.find("battery"), std::string::npos);
    EXPECT_GE(s.Attempts, 3);
    EXPECT_LE(s.Attempts, 5);
    EXPECT_EQ(s.FailuresInARow, s.Attempts);
    EXPECT_FALSE(s.LastSuccess.has_value());
    EXPECT_EQ(s.Waiting, 1);
    ASSERT_TRUE(s.NextAttempt.has_value());
    // The waits grow to the longest and stay there.
    EXPECT_LE(*s.NextAttempt - started, milliseconds(2000 + 960 + 300));
    std::this_thread::sleep_for(milliseconds(2000));
    const SyncStatus later = worker->Status();
    EXPECT_LE(later.Attempts - s.Attempts, 4);

    // The right password: 立即同步 goes at once, in the middle of a wait.
    dielmon::test::WriteAll(passfile, "*:*:*:lab_tester:correct horse\n");
    worker->SyncNow();
    ASSERT_TRUE(WaitUntil([&] { return worker->Status().LastSuccess.has_value(); }));
    s = worker->Status();
    EXPECT_EQ(s.LastError, "");
    EXPECT_EQ(s.FailuresInARow, 0);
    EXPECT_EQ(s.Waiting, 0);
    worker.reset();
    ::unsetenv("PGPASSFILE");
}

TEST_F(Lab, StoppingTheWorkerNeverWaitsOnAServerThatDoesNotAnswer) {
    // A port that takes the connection and then says nothing.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const std::string silent =
        "host=127.0.0.1 port=" + std::to_string(ntohs(addr.sin_port)) + " dbname=lab user=x";

    Laptop a;
    SyncWorker::Options o = Quick(a.Path(), silent);
    o.Sync.Wait.Connect = std::chrono::minutes(5);
    auto worker = std::make_unique<SyncWorker>(o);
    ASSERT_TRUE(WaitUntil([&] { return worker->Status().Running; }));
    // The window's thread reads the status while the worker waits on the network.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(worker->Status().Running);
    worker->SyncNow();
    worker->LocalChange();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, milliseconds(50));
    const auto stopping = std::chrono::steady_clock::now();
    worker.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, milliseconds(500));
    ::close(fd);
}
