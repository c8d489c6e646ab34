// dielmon-archive sync as a process: two homes on one machine, each with its own archive and
// Config.ini naming one PostgreSQL server, each archiving a result of its own; after a sync in
// each, the list in each shows both. And its exit statuses.
#include "lab.h"

#include "core/config.h"
#include "core/resultfile.h"
#include "support/process.h"

#include <sstream>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using namespace dielmon::sync::test;
using dielmon::test::Lines;
using dielmon::test::Process;
using dielmon::test::Ran;
using dielmon::test::RunToEnd;

namespace {

Ran Tool(const std::vector<std::string>& args) {
    return RunToEnd(DIELMON_ARCHIVE_EXE, args);
}

// A home with a result file of its own imported, and the server in its Config.ini.
void Home(const TempDir& home, const std::string& server, float nf, const std::string& specimen) {
    if (!server.empty()) {
        ASSERT_EQ(SaveArchiveServer(home.File("Config.ini"), server), "");
    }
    const Bytes f = LiveFrame(nf, 0.3f, Day(2024, 4, static_cast<int>(nf)));
    const ResultTexts shown =
        ShowFinalResult(f.data(), static_cast<int>(f.size()), PanelOf(2)).Texts;
    ASSERT_EQ(AppendResultRun(home.File("result.txt"), shown), "");
    const Ran r =
        Tool({"--home", home.Home(), "import", "--specimen", specimen, home.File("result.txt")});
    ASSERT_EQ(r.Status, 0) << r.Err;
}

} // namespace

TEST_F(Lab, TwoHomesEachSeeBothResultsAfterASyncInEach) {
    TempDir one;
    TempDir two;
    Home(one, ConnectionString(), 1, "T1 'one'");
    Home(two, ConnectionString(), 2, "T2 \"two\"");

    Ran r = Tool({"--home", one.Home(), "sync"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out),
              (std::vector<std::string>{
                  "pulled 0 results: 0 new, 0 with a later edit of specimen or conditions",
                  "pushed 1 result: 1 new, 0 with a later edit of specimen or conditions"}));
    r = Tool({"--home", two.Home(), "sync"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out),
              (std::vector<std::string>{
                  "pulled 1 result: 1 new, 0 with a later edit of specimen or conditions",
                  "pushed 1 result: 1 new, 0 with a later edit of specimen or conditions"}));
    // The first home learns of the second's result at its next sync.
    r = Tool({"--home", one.Home(), "sync"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).front(),
              "pulled 1 result: 1 new, 0 with a later edit of specimen or conditions");

    for (const TempDir* home : {&one, &two}) {
        r = Tool({"--home", home->Home(), "list"});
        EXPECT_EQ(r.Status, 0) << r.Err;
        const std::vector<std::string> rows = Lines(r.Out);
        ASSERT_EQ(rows.size(), 2u) << r.Out;
        EXPECT_NE(rows[0].find("\tT2 \"two\"\t"), std::string::npos) << rows[0];
        EXPECT_NE(rows[1].find("\tT1 'one'\t"), std::string::npos) << rows[1];
        r = Tool({"--home", home->Home(), "list", "--json"});
        const std::vector<std::string> json = Lines(r.Out);
        ASSERT_EQ(json.size(), 2u);
        // Each from the laptop it was born on.
        const auto station = [](const std::string& line) {
            const std::size_t at = line.find("\"station\":\"");
            return at == std::string::npos ? std::string() : line.substr(at + 11, 36);
        };
        EXPECT_NE(station(json[0]), station(json[1]));
        EXPECT_NE(json[0].find("\"host\":\""), std::string::npos);
    }
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 2);
}

TEST_F(Lab, SyncSaysWhenThereIsNoServerOrItCannotBeReached) {
    TempDir home;
    Home(home, "", 3, "T3");
    Ran r = Tool({"--home", home.Home(), "sync"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("no lab server is set: put Server=<libpq connection string> into "
                         "section [Archive] of " +
                         home.File("Config.ini")),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(Tool({"--home", home.Home(), "sync", "now"}).Status, 2);

    // A password written into Config.ini by hand is neither used nor shown.
    dielmon::test::WriteAll(home.File("Config.ini"),
                            "[Archive]\r\nServer=" + ConnectionString() + " password=hunter2\r\n");
    r = Tool({"--home", home.Home(), "sync"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("服务器连接串中不能写密码"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("hunter2"), std::string::npos) << r.Err;

    ASSERT_EQ(SaveArchiveServer(home.File("Config.ini"),
                                "host=" + home.Home() + " dbname=lab connect_timeout=2"),
              "");
    r = Tool({"--home", home.Home(), "sync"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_NE(r.Err.find("dielmon-archive: 无法连接档案服务器"), std::string::npos) << r.Err;
    // A login the server refuses.
    ASSERT_EQ(SaveArchiveServer(home.File("Config.ini"), ConnectionString("nobody")), "");
    r = Tool({"--home", home.Home(), "sync"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("dielmon-archive: 档案服务器拒绝登录"), std::string::npos) << r.Err;
    // Still kept here, waiting.
    EXPECT_EQ(Lines(Tool({"--home", home.Home(), "list"}).Out).size(), 1u);
}
