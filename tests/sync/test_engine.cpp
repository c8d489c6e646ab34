// One synchronisation at a time against a real PostgreSQL server: what travels and comes back
// whole, the later edit winning on every laptop, a server that is down, a connection cut in the
// middle, two laptops at once, the server's own schema, and what a connection test says.
#include "lab.h"

#include "schema.h"
#include "sync/server.h"

#include "core/resultfile.h"

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using namespace dielmon::sync;
using namespace dielmon::sync::test;
namespace server = dielmon::sync::detail;

namespace {

TimePoint At(int seconds) {
    return TimePoint(std::chrono::seconds(1'700'000'000 + seconds));
}

void ExpectSame(const Result& a, const Result& b) {
    SCOPED_TRACE(a.Id);
    EXPECT_EQ(a.Id, b.Id);
    EXPECT_EQ(a.Measured, b.Measured);
    EXPECT_EQ(a.Archived, b.Archived);
    EXPECT_EQ(a.From, b.From);
    EXPECT_EQ(a.Record, b.Record);
    EXPECT_EQ(a.Config, b.Config);
    EXPECT_EQ(a.Quantities, b.Quantities);
    EXPECT_EQ(a.Texts, b.Texts);
    EXPECT_EQ(a.Frame, b.Frame);
    EXPECT_EQ(a.Taken, b.Taken);
    EXPECT_EQ(a.Edited, b.Edited);
    EXPECT_EQ(a.Station, b.Station);
    EXPECT_EQ(a.Host, b.Host);
    EXPECT_EQ(a.DedupKey, b.DedupKey);
}

// `n` results with specimens "prefix k".
void Keep(Laptop& l, int n, const std::string& prefix) {
    for (int k = 0; k < n; ++k) {
        ASSERT_TRUE(l.Store
                        ->Add(Live(1 + k % 7, 0.3f, Day(2021, 1 + k % 12, 1 + k % 28),
                                   prefix + " " + std::to_string(k)))
                        .Ok());
    }
}

void ExpectOk(const SyncReport& r) {
    EXPECT_TRUE(r.Ok()) << r.Error;
    EXPECT_TRUE(r.Reached);
}

} // namespace

TEST_F(Lab, EveryResultTravelsWholeAndComesBackOnceEvenWithSpecimensFullOfQuotesAndSql) {
    Laptop a;
    Laptop b;
    const std::vector<std::string> specimens = {
        "'; DROP TABLE dielmon.results; --",
        "O'Brien \"B1\" \\ $1 %s ?",
        "套管 Robert'); DELETE FROM dielmon.quantities WHERE ('1'='1",
        "😀 GBK 装不下的字符 " + std::string(1 << 20, 'x') + "'\"",
        "",
    };
    std::vector<std::string> ids;
    for (std::size_t k = 0; k < specimens.size(); ++k) {
        Result r = Live(1.5f + static_cast<float>(k), 0.25f, Day(2022, 5, 1 + static_cast<int>(k)),
                        specimens[k]);
        r.Taken.Temperature = 21.25 + static_cast<double>(k);
        r.Taken.Humidity = k % 2 == 0 ? std::optional<double>(55.5) : std::nullopt;
        ids.push_back(a.Store->Add(r).Id);
    }
    sim::StoredRecord record;
    record.Data.Values = sim::SingleResult{10, 0.0148f, 500, 500, 1, 3.3f, 0.2f, 89.7f, 0, 0};
    ids.push_back(a.Store->Add(Stored(record, 12)).Id);
    ids.push_back(a.Store->Add(FromFile(Live(4, 0.5f, Day(2019, 2, 3)).Texts)).Id);

    SyncReport r = a.Sync(ConnectionString());
    ExpectOk(r);
    EXPECT_EQ(r.PushedNew, 7);
    EXPECT_EQ(r.Pulled, 0);
    EXPECT_EQ(a.Store->CountUnpushed().Value, 0);
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 7);
    EXPECT_EQ(Value("SELECT specimen FROM dielmon.results WHERE specimen LIKE '''; DROP%'"),
              specimens[0]);
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.quantities"),
              Number("SELECT count(*) FROM dielmon.quantities q JOIN dielmon.results r ON "
                     "r.id = q.result"));

    r = b.Sync(ConnectionString());
    ExpectOk(r);
    EXPECT_EQ(r.Pulled, 7);
    EXPECT_EQ(r.PulledNew, 7);
    EXPECT_EQ(r.Pushed(), 0);
    for (const std::string& id : ids) {
        const auto there = b.Store->Get(id);
        ASSERT_TRUE(there.Value.has_value()) << id;
        ExpectSame(*a.Store->Get(id).Value, *there.Value);
    }
    // The laptop each came from, in the list of the other.
    EXPECT_EQ(b.Store->List({}, std::nullopt, 1).Value.front().Host, a.Store->Host());
    EXPECT_EQ(b.Store->Get(ids[0]).Value->Station, a.Store->Station());

    // Nothing more to do on either side, and nothing doubled.
    for (Laptop* l : {&a, &b}) {
        r = l->Sync(ConnectionString());
        ExpectOk(r);
        EXPECT_EQ(r.Pushed() + r.Pulled, 0);
        EXPECT_EQ(l->Count(), 7);
    }
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 7);
}

TEST_F(Lab, AResultTheServerCannotHoldWaitsHereAndTheOthersGo) {
    Laptop a;
    Keep(a, 2, "fine");
    const std::string zero =
        a.Store->Add(Live(1, 0.3f, Day(2020, 1, 1), std::string("a\0b", 3))).Id;
    Keep(a, 2, "fine too");
    SyncReport r = a.Sync(ConnectionString());
    EXPECT_EQ(r.Kind, Failure::Refused);
    EXPECT_TRUE(r.Reached);
    EXPECT_EQ(r.Refused, 1);
    EXPECT_EQ(r.PushedNew, 4);
    EXPECT_NE(r.Error.find(zero), std::string::npos) << r.Error;
    EXPECT_EQ(a.Store->CountUnpushed().Value, 1);
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 4);
    // Edited into something the server can hold, it goes.
    ASSERT_EQ(a.Store->SetConditions(zero, {"ab", std::nullopt, std::nullopt}), "");
    r = a.Sync(ConnectionString());
    ExpectOk(r);
    EXPECT_EQ(r.PushedNew, 1);
}

TEST_F(Lab, TheLaterEditWinsOnEveryLaptopAndATieGoesToTheGreaterStation) {
    ManualClock clockA(At(0));
    ManualClock clockB(At(0));
    archive::OpenOptions oa;
    oa.Time = &clockA;
    archive::OpenOptions ob;
    ob.Time = &clockB;
    Laptop a(oa);
    Laptop b(ob);
    const std::string id = a.Store->Add(Live(1, 0.3f, Day(2020, 1, 1), "first")).Id;
    ExpectOk(a.Sync(ConnectionString()));
    ExpectOk(b.Sync(ConnectionString()));
    auto specimenOn = [&](Laptop& l) { return l.Store->Get(id).Value->Taken.Specimen; };
    auto syncAll = [&](std::initializer_list<Laptop*> order) {
        for (Laptop* l : order) {
            ExpectOk(l->Sync(ConnectionString()));
        }
    };

    // Edited on B, later on A; B synchronises first: A's later edit wins everywhere.
    clockB.Set(At(100));
    ASSERT_EQ(b.Store->SetConditions(id, {"edited on B", 20, 50}), "");
    clockA.Set(At(200));
    ASSERT_EQ(a.Store->SetConditions(id, {"edited on A", 21, 51}), "");
    syncAll({&b, &a, &b});
    EXPECT_EQ(specimenOn(a), "edited on A");
    EXPECT_EQ(specimenOn(b), "edited on A");
    EXPECT_EQ(b.Store->Get(id).Value->Taken.Temperature, 21);
    // The other way round, the later first.
    clockA.Set(At(300));
    ASSERT_EQ(a.Store->SetConditions(id, {"edited on A again", 20, 50}), "");
    clockB.Set(At(400));
    ASSERT_EQ(b.Store->SetConditions(id, {"edited on B again", 22, 52}), "");
    syncAll({&b, &a, &b});
    EXPECT_EQ(specimenOn(a), "edited on B again");
    EXPECT_EQ(specimenOn(b), "edited on B again");
    syncAll({&a, &b});
    EXPECT_EQ(specimenOn(a), "edited on B again");
    // The same millisecond on both: the greater station id wins, whoever comes first.
    clockA.Set(At(500));
    clockB.Set(At(500));
    ASSERT_EQ(a.Store->SetConditions(id, {"tie A", std::nullopt, std::nullopt}), "");
    ASSERT_EQ(b.Store->SetConditions(id, {"tie B", std::nullopt, std::nullopt}), "");
    const std::string winner = a.Store->Station() > b.Store->Station() ? "tie A" : "tie B";
    syncAll({&a, &b, &a});
    EXPECT_EQ(specimenOn(a), winner);
    EXPECT_EQ(specimenOn(b), winner);
    EXPECT_EQ(Value("SELECT specimen FROM dielmon.results"), winner);
    for (Laptop* l : {&a, &b}) {
        EXPECT_EQ(l->Store->CountUnpushed().Value, 0);
    }
}

TEST_F(Lab, ResultsArrivingWhileTheServerIsDownAreKeptAndPushedOnceItIsBack) {
    Laptop a;
    Keep(a, 3, "before");
    ExpectOk(a.Sync(ConnectionString()));
    ASSERT_TRUE(Server().Stop()) << Server().Error();
    Keep(a, 5, "while down");
    SyncReport r = a.Sync(ConnectionString());
    const bool restarted = Server().Start();
    EXPECT_EQ(r.Kind, Failure::Unreachable);
    EXPECT_FALSE(r.Reached);
    EXPECT_NE(r.Error.find("无法连接档案服务器"), std::string::npos) << r.Error;
    EXPECT_EQ(a.Count(), 8);
    EXPECT_EQ(a.Store->CountUnpushed().Value, 5);
    ASSERT_TRUE(restarted) << Server().Error();

    r = a.Sync(ConnectionString());
    ExpectOk(r);
    EXPECT_EQ(r.PushedNew, 5);
    EXPECT_EQ(r.Pulled, 0) << "its own results are not read back";
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 8);
    r = a.Sync(ConnectionString());
    EXPECT_EQ(r.Pushed(), 0);
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 8);
    EXPECT_EQ(a.Count(), 8);
}

TEST_F(Lab, AConnectionCutInTheMiddleIsTakenUpAgainWithoutLossOrDoubles) {
    Laptop a;
    Laptop b;
    Keep(a, 600, "A");
    const std::string db = Database;
    auto cut = [&] {
        EXPECT_EQ(Server().Admin("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                 "WHERE datname = '" +
                                 db + "' AND application_name = 'dielmon'"),
                  "");
    };
    SyncOptions o;
    o.Batch = 100;
    o.AfterBatch = [&](const char* stage, int batch) {
        if (std::string(stage) == "pushed" && batch == 2) {
            cut();
        }
    };
    SyncReport r = a.Sync(ConnectionString(), o);
    EXPECT_EQ(r.Kind, Failure::Interrupted) << r.Error;
    EXPECT_NE(r.Error.find("与档案服务器的连接中断"), std::string::npos) << r.Error;
    EXPECT_EQ(r.PushedNew, 300);
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 300);
    EXPECT_EQ(a.Store->CountUnpushed().Value, 300);
    r = a.Sync(ConnectionString(), {});
    ExpectOk(r);
    EXPECT_EQ(r.PushedNew, 300);

    // Cut while pulling: what was archived stays, with the cursor after it.
    o.AfterBatch = [&](const char* stage, int batch) {
        if (std::string(stage) == "pulled" && batch == 3) {
            cut();
        }
    };
    r = b.Sync(ConnectionString(), o);
    EXPECT_EQ(r.Kind, Failure::Interrupted) << r.Error;
    EXPECT_EQ(b.Count(), 400);
    r = b.Sync(ConnectionString(), {});
    ExpectOk(r);
    EXPECT_EQ(r.Pulled, 200);
    EXPECT_EQ(b.Count(), 600);

    // The server stopped in the middle of one large transaction: either it went through
    // whole or not at all, and the next synchronisation finishes it.
    Keep(a, 2000, "A more");
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        Server().Stop();
    });
    o.Batch = 2000;
    o.AfterBatch = nullptr;
    r = a.Sync(ConnectionString(), o);
    stopper.join();
    ASSERT_TRUE(Server().Start()) << Server().Error();
    const long long onServer = Number("SELECT count(*) FROM dielmon.results");
    EXPECT_TRUE(onServer == 600 || onServer == 2600) << onServer << " " << r.Error;
    r = a.Sync(ConnectionString());
    ExpectOk(r);
    r = b.Sync(ConnectionString());
    ExpectOk(r);
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 2600);
    EXPECT_EQ(Number("SELECT count(DISTINCT result) FROM dielmon.quantities"), 2600);
    EXPECT_EQ(a.Count(), 2600);
    EXPECT_EQ(b.Count(), 2600);

    // The marks lost after the server took a batch (the program killed in between): pushed
    // again, the server changes nothing, and the marks are back.
    RunSql(a.Path(), "DELETE FROM sync_results");
    const std::string changes = Value("SELECT max(change) FROM dielmon.results");
    r = a.Sync(ConnectionString());
    ExpectOk(r);
    EXPECT_EQ(r.Pushed(), 0);
    EXPECT_EQ(a.Store->CountUnpushed().Value, 0);
    EXPECT_EQ(Value("SELECT max(change) FROM dielmon.results"), changes);
}

TEST_F(Lab, TwoLaptopsSynchronisingAtOnceBothEndWithEveryResult) {
    Laptop a;
    Laptop b;
    Keep(a, 300, "A");
    Keep(b, 300, "B");
    SyncOptions o;
    o.Batch = 40;
    for (int round = 0; round < 2; ++round) {
        SyncReport ra;
        SyncReport rb;
        std::thread ta([&] { ra = a.Sync(ConnectionString(), o); });
        std::thread tb([&] { rb = b.Sync(ConnectionString(), o); });
        ta.join();
        tb.join();
        ExpectOk(ra);
        ExpectOk(rb);
    }
    EXPECT_EQ(a.Count(), 600);
    EXPECT_EQ(b.Count(), 600);
    EXPECT_EQ(Number("SELECT count(*) FROM dielmon.results"), 600);
    EXPECT_EQ(Number("SELECT count(DISTINCT change) FROM dielmon.results"), 600);
    EXPECT_EQ(a.Store->CountUnpushed().Value, 0);
    EXPECT_EQ(b.Store->CountUnpushed().Value, 0);
}

TEST_F(Lab, TheServersSchemaIsMadeOnceAtATimeAndANewerOneIsRefused) {
    // Two laptops meet an empty database at once: one makes the tables, the other waits.
    Laptop a;
    Laptop b;
    Keep(a, 2, "A");
    Keep(b, 2, "B");
    SyncReport ra;
    SyncReport rb;
    std::thread ta([&] { ra = a.Sync(ConnectionString()); });
    std::thread tb([&] { rb = b.Sync(ConnectionString()); });
    ta.join();
    tb.join();
    ExpectOk(ra);
    ExpectOk(rb);
    EXPECT_EQ(Value("SELECT string_agg(version::text, ',') FROM dielmon.version"), "1");
    EXPECT_EQ(Value("SELECT applied_by FROM dielmon.version"), "postgres");

    // A further step of a later program, taken once.
    server::Problem problem;
    std::unique_ptr<server::Connection> c =
        server::Connection::Open(ConnectionString(), {}, -1, problem);
    ASSERT_TRUE(c) << problem.Message;
    std::vector<server::ServerStep> later = server::ServerSteps();
    later.push_back({2, "ALTER TABLE dielmon.results ADD COLUMN note text; "
                        "UPDATE dielmon.results SET note = 'stepped'"});
    ASSERT_TRUE(server::EnsureServerSchema(*c, problem, later)) << problem.Message;
    ASSERT_TRUE(server::EnsureServerSchema(*c, problem, later)) << problem.Message;
    EXPECT_EQ(Value("SELECT string_agg(version::text, ',' ORDER BY version) FROM dielmon.version"),
              "1,2");
    EXPECT_EQ(Value("SELECT count(*) FROM dielmon.results WHERE note = 'stepped'"), "4");

    // This program on the later program's server: refused, nothing touched here.
    Keep(a, 1, "A later");
    const SyncReport r = a.Sync(ConnectionString());
    EXPECT_EQ(r.Kind, Failure::Server);
    EXPECT_NE(r.Error.find("更新版本的程序建立（版本 2，本程序只认识到版本 1）"), std::string::npos)
        << r.Error;
    EXPECT_EQ(a.Store->CountUnpushed().Value, 1);
    EXPECT_EQ(TestConnection(ConnectionString()).Kind, Failure::Server);
}

TEST_F(Lab, AConnectionTestSaysWhatWentWrongInChinese) {
    ASSERT_EQ(Server().Admin("CREATE ROLE keyholder LOGIN PASSWORD 'right horse' "
                             "IN ROLE password_login; "
                             "CREATE ROLE visitor LOGIN"),
              "");
    TempDir home;
    const std::string passfile = home.File("pgpass");
    dielmon::test::WriteAll(passfile, "*:*:*:keyholder:wrong horse\n");
    ::chmod(passfile.c_str(), 0600);
    ::setenv("PGPASSFILE", passfile.c_str(), 1);
    Limits quick;
    quick.Connect = std::chrono::milliseconds(500);
    dielmon::test::SilentServer hanging;
    const struct {
        std::string server;
        Failure kind;
        std::string says;
    } cases[] = {
        {"host=" + home.Home() + " dbname=lab", Failure::Unreachable, "无法连接档案服务器"},
        {ConnectionString() + " dbname=nosuch", Failure::NoDatabase, "档案服务器上没有这个数据库"},
        {ConnectionString("nobody"), Failure::Authentication, "档案服务器拒绝登录"},
        {ConnectionString("keyholder"), Failure::Authentication, "档案服务器拒绝登录"},
        {ConnectionString("visitor"), Failure::Permission, "不能建立 dielmon 模式"},
        {ConnectionString() + " password=secret", Failure::BadString, "不能写密码"},
        {ConnectionString() + " bogus=1", Failure::BadString, "档案服务器的连接串有误"},
        {"service=nosuchservice", Failure::BadString, "档案服务器的连接串有误"},
        {hanging.ConnectionString(), Failure::Unreachable, "1 秒内服务器没有完成登录"},
    };
    for (const auto& c : cases) {
        const std::string& server = c.server;
        SCOPED_TRACE(server);
        const auto started = std::chrono::steady_clock::now();
        const Check check = TestConnection(server, quick);
        EXPECT_EQ(check.Kind, c.kind) << check.Message;
        EXPECT_NE(check.Message.find(c.says), std::string::npos) << check.Message;
        EXPECT_EQ(check.Message.find("secret"), std::string::npos) << check.Message;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
    // No password to be found at all.
    ::setenv("PGPASSFILE", home.File("none").c_str(), 1);
    Check check = TestConnection(ConnectionString("keyholder"), quick);
    EXPECT_EQ(check.Kind, Failure::Authentication);
    EXPECT_NE(check.Message.find("要求密码，但没有找到"), std::string::npos) << check.Message;
    // The right one.
    dielmon::test::WriteAll(passfile, "*:*:*:keyholder:right horse\n");
    ::setenv("PGPASSFILE", passfile.c_str(), 1);
    ASSERT_EQ(Server().Admin("ALTER DATABASE " + Database + " OWNER TO keyholder"), "");
    check = TestConnection(ConnectionString("keyholder"), quick);
    EXPECT_TRUE(check.Ok()) << check.Message;
    EXPECT_NE(check.Message.find("连接正常：PostgreSQL "), std::string::npos) << check.Message;
    EXPECT_NE(check.Message.find("第一次同步时建立档案表"), std::string::npos) << check.Message;
    ::unsetenv("PGPASSFILE");
    check = TestConnection(ConnectionString());
    EXPECT_TRUE(check.Ok()) << check.Message;

    // Once the tables are there, a user with only the right to log in may not use them.
    Laptop a;
    ExpectOk(a.Sync(ConnectionString()));
    EXPECT_NE(TestConnection(ConnectionString()).Message.find("档案表已建立"), std::string::npos);
    check = TestConnection(ConnectionString("visitor"));
    EXPECT_EQ(check.Kind, Failure::Permission) << check.Message;
    const SyncReport r = a.Sync(ConnectionString("visitor"));
    EXPECT_EQ(r.Kind, Failure::Permission) << r.Error;
    EXPECT_NE(r.Error.find("权限不足"), std::string::npos) << r.Error;
}

TEST_F(Lab, TheAdministratorsSetupOfTheDocumentIsAllTheProgramNeeds) {
    // docs/archive-server.md, with the names of this test.
    ASSERT_EQ(Server().Admin("CREATE ROLE lab_program LOGIN; "
                             "REVOKE ALL ON DATABASE " +
                             Database +
                             " FROM PUBLIC; "
                             "GRANT CONNECT ON DATABASE " +
                             Database + " TO lab_program"),
              "");
    ASSERT_EQ(Server().Admin("CREATE SCHEMA dielmon AUTHORIZATION lab_program; "
                             "REVOKE CREATE ON SCHEMA public FROM PUBLIC",
                             Database),
              "");
    const Check check = TestConnection(ConnectionString("lab_program"));
    EXPECT_TRUE(check.Ok()) << check.Message;
    Laptop a;
    ASSERT_TRUE(a.Store->Add(Live(1.25f, 0.3f, Day(2023, 6, 1), "1#主变A相套管")).Ok());
    const SyncReport r = a.Sync(ConnectionString("lab_program"));
    ExpectOk(r);
    EXPECT_EQ(r.PushedNew, 1);
    EXPECT_EQ(Value("SELECT tableowner FROM pg_tables WHERE schemaname = 'dielmon' "
                    "AND tablename = 'results'"),
              "lab_program");

    // Colleagues who only read.
    ASSERT_EQ(Server().Admin("CREATE ROLE lab_reader NOLOGIN; "
                             "GRANT CONNECT ON DATABASE " +
                             Database +
                             " TO lab_reader; "
                             "CREATE ROLE alice LOGIN IN ROLE lab_reader"),
              "");
    ASSERT_EQ(Server().Admin("GRANT USAGE ON SCHEMA dielmon TO lab_reader; "
                             "GRANT SELECT ON ALL TABLES IN SCHEMA dielmon TO lab_reader; "
                             "ALTER DEFAULT PRIVILEGES FOR ROLE lab_program IN SCHEMA dielmon "
                             "GRANT SELECT ON TABLES TO lab_reader",
                             Database),
              "");
    auto asAlice = [&](const std::string& sql) {
        return Server().Admin("SET ROLE alice; " + sql, Database);
    };
    EXPECT_EQ(asAlice("SELECT convert_from(main, 'GBK') FROM dielmon.results "
                      "WHERE specimen = '1#主变A相套管'"),
              "");
    EXPECT_EQ(Value("SELECT convert_from(main, 'GBK') FROM dielmon.results").rfind("Cx：1.25", 0),
              0u);
    EXPECT_NE(asAlice("DELETE FROM dielmon.results").find("permission denied"), std::string::npos);
    // Reading is not enough for the program, even with the sequence.
    ASSERT_EQ(Server().Admin("GRANT USAGE ON SEQUENCE dielmon.changes TO lab_reader", Database),
              "");
    const Check reader = TestConnection(ConnectionString("alice"));
    EXPECT_EQ(reader.Kind, Failure::Permission);
    EXPECT_NE(reader.Message.find("不能读写 dielmon 模式里的档案表"), std::string::npos)
        << reader.Message;
}
