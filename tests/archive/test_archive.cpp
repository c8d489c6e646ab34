// The archive on real SQLite files in temporary folders: what a result keeps, what is archived
// once, the list with its filters and pages, trends, conditions, deletion, and the schema steps.
#include "results.h"

#include "core/gbk.h"
#include "core/resultfile.h"
#include "support/tempdir.h"
#include "support/wait.h"

#include <gtest/gtest.h>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using dielmon::test::TempDir;

namespace {

// xxxxxxxx-xxxx-4xxx-[89ab]xxx-xxxxxxxxxxxx in lower-case hex. (No std::regex: GCC 12 warns
// falsely inside it under the sanitizers, and the warnings are errors.)
bool IsUuid4(const std::string& id) {
    if (id.size() != 36) {
        return false;
    }
    for (std::size_t k = 0; k < id.size(); ++k) {
        const char c = id[k];
        if (k == 8 || k == 13 || k == 18 || k == 23) {
            if (c != '-') {
                return false;
            }
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return id[14] == '4' && std::string("89ab").find(id[19]) != std::string::npos;
}

std::vector<std::string> Measured(const std::vector<Row>& rows) {
    std::vector<std::string> m;
    for (const Row& r : rows) {
        m.push_back(r.Measured);
    }
    return m;
}

const archive::Quantity* Find(const Result& r, const std::string& name) {
    for (const archive::Quantity& q : r.Quantities) {
        if (q.Name == name) {
            return &q;
        }
    }
    return nullptr;
}

} // namespace

TEST(Archive, ANewFileWithItsSchemaJournalAndStation) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    std::string station;
    {
        auto a = OpenOk(path);
        ASSERT_TRUE(a);
        EXPECT_FALSE(a->ReadOnly());
        EXPECT_EQ(a->SchemaVersion(), kSchemaVersion);
        EXPECT_TRUE(IsUuid4(a->Station())) << a->Station();
        EXPECT_FALSE(a->Host().empty());
        station = a->Station();
        EXPECT_EQ(a->IntegrityCheck(), "ok");
    }
    EXPECT_EQ(Scalar(path, "PRAGMA user_version"), kSchemaVersion);
    EXPECT_EQ(ScalarText(path, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Scalar(path, "PRAGMA application_id"), 0x444C4D41);
    // The station is made once and kept.
    EXPECT_EQ(OpenOk(path)->Station(), station);

    // A missing archive is created only when asked to.
    OpenOptions noCreate;
    noCreate.Create = false;
    const Opened missing = Archive::Open(dir.File("other.db"), noCreate);
    EXPECT_EQ(missing.Store, nullptr);
    EXPECT_NE(missing.Error.find("there is no archive"), std::string::npos) << missing.Error;
    EXPECT_FALSE(std::filesystem::exists(dir.File("other.db")));
    const Opened noFolder = Archive::Open(dir.File("gone/Archive.db"));
    EXPECT_EQ(noFolder.Store, nullptr);
    EXPECT_NE(noFolder.Error.find("cannot be created: there is no such folder"), std::string::npos)
        << noFolder.Error;
}

TEST(Archive, AResultKeepsEverythingItWasShownWith) {
    TempDir dir;
    ManualClock clock(FromLocal(2024, 5, 6, 7, 8, 9));
    OpenOptions o;
    o.Time = &clock;
    auto a = OpenOk(dir.File(kArchiveFileName), o);
    Result r = Live(4.7f, 0.45f, Day(2016, 3, 24, 15, 34), "T1 \"高压\" 套管");
    r.Taken.Temperature = 21.5;
    r.Taken.Humidity = 65;
    const Added added = a->Add(r);
    ASSERT_TRUE(added.Ok()) << added.Error;
    EXPECT_TRUE(added.New);
    EXPECT_TRUE(IsUuid4(added.Id));

    const auto got = a->Get(added.Id);
    ASSERT_TRUE(got.Ok()) << got.Error;
    ASSERT_TRUE(got.Value.has_value());
    const Result& k = *got.Value;
    EXPECT_EQ(k.Id, added.Id);
    EXPECT_EQ(k.Measured, "2016-03-24T15:34:00");
    EXPECT_EQ(k.Archived, clock.Now());
    EXPECT_EQ(k.Edited, clock.Now());
    EXPECT_EQ(k.From, Source::Test);
    EXPECT_FALSE(k.Record.has_value());
    EXPECT_TRUE(k.DedupKey.empty());
    EXPECT_EQ(k.Station, a->Station());
    EXPECT_EQ(k.Host, a->Host());
    EXPECT_EQ(k.Taken, r.Taken);
    EXPECT_EQ(k.Texts, r.Texts);
    EXPECT_EQ(k.Frame, r.Frame);
    EXPECT_EQ(k.Quantities, r.Quantities);
    EXPECT_EQ(k.Config, r.Config);
    // What the live test knew of its configuration, in SI units.
    EXPECT_EQ(k.Config.InstrumentType, 5);
    EXPECT_EQ(k.Config.WiringMode, 2);
    EXPECT_EQ(k.Config.Channels, 1);
    EXPECT_EQ(k.Config.Standard, 1);
    EXPECT_EQ(k.Config.Frequency, 1);
    EXPECT_EQ(k.Config.FrequencyCode, 6);
    EXPECT_EQ(k.Config.VoltageSource, 1);
    EXPECT_EQ(k.Config.TestVoltage, 10000);
    EXPECT_DOUBLE_EQ(*k.Config.ExtCapacitance, 50e-12);
    EXPECT_EQ(k.Config.CvtVoltageLimit, 2000);
    EXPECT_EQ(k.Config.ExcitationCurrentCode, 3);
    // Quantities named as the page labels them, in UTF-8, with SI units.
    ASSERT_NE(Find(k, "Cx"), nullptr);
    EXPECT_NEAR(*Find(k, "Cx")->Value, 4.7e-9, 1e-15);
    EXPECT_EQ(Find(k, "Cx")->Unit, "F");
    ASSERT_NE(Find(k, "Φ"), nullptr);
    EXPECT_EQ(Find(k, "Φ")->Unit, "°");
    EXPECT_EQ(Find(k, "U")->Unit, "V");
    EXPECT_NEAR(*Find(k, "U")->Value, 10000, 1e-6);
    EXPECT_EQ(Find(k, "PF")->Unit, "");
    // The texts stay GBK bytes, as shown.
    EXPECT_EQ(GbkToUtf8(k.Texts.Title), "反接线\\内标准\\定频\\内高压");

    EXPECT_FALSE(a->Get("no-such-id").Value.has_value());
}

TEST(Archive, TheSameRecordOrFileRunIsArchivedOnceAndLiveResultsAlwaysAnew) {
    TempDir dir;
    auto a = OpenOk(dir.File(kArchiveFileName));
    const sim::StoredRecord record{
        {2, 1, 1, 1},
        {sim::SingleResult{10, 0.0148f, 500, 500, 1, 4.7f, 0.45f, 89.7f, 0.0045f, 0.0007f},
         Day(2023, 10, 9, 8, 15)}};
    const Added first = a->Add(Stored(record, 7));
    ASSERT_TRUE(first.Ok()) << first.Error;
    EXPECT_TRUE(first.New);
    // Opened again, now under another number (a record before it was deleted).
    const Added again = a->Add(Stored(record, 6));
    ASSERT_TRUE(again.Ok()) << again.Error;
    EXPECT_FALSE(again.New);
    EXPECT_EQ(again.Id, first.Id);
    EXPECT_EQ(a->Get(first.Id).Value->Record, 7);
    // A check byte spoilt on the line is no other record.
    Bytes f = RecordFrame(record);
    f[f.size() - 2] ^= 0xFF;
    EXPECT_FALSE(a->Add(FromRecord(f[1], f.data(), static_cast<int>(f.size()), 7, 5)).New);
    // A record measured a second later is another one.
    sim::StoredRecord later = record;
    later.Data.Date.Second = 1;
    EXPECT_TRUE(a->Add(Stored(later, 8)).New);

    const ResultTexts run{Utf8ToGbk("反接线\\内标准\\定频\\内高压"),
                          Utf8ToGbk("Cx：4.700nF      DF：0.450%"),
                          Utf8ToGbk("  Date：2016-03-24 15:34:00\r\n")};
    EXPECT_TRUE(a->Add(FromFile(run)).New);
    const Added imported = a->Add(FromFile(run));
    EXPECT_FALSE(imported.New);
    EXPECT_TRUE(imported.Ok());
    ResultTexts edited = run;
    edited.Main = Utf8ToGbk("Cx：4.701nF      DF：0.450%");
    EXPECT_TRUE(a->Add(FromFile(edited)).New);

    const Result live = Live(4.7f, 0.45f, Day(2016, 3, 24));
    EXPECT_TRUE(a->Add(live).New);
    EXPECT_TRUE(a->Add(live).New);
    // A result already known by its id (as a synchronisation brings it back) is not doubled.
    Result withId = live;
    withId.Id = "00000000-0000-4000-8000-000000000001";
    EXPECT_TRUE(a->Add(withId).New);
    const Added known = a->Add(withId);
    EXPECT_FALSE(known.New);
    EXPECT_EQ(known.Id, withId.Id);
    EXPECT_EQ(a->Count({}).Value, 7);
}

TEST(Archive, TheListFiltersAndPagesNewestFirst) {
    TempDir dir;
    auto a = OpenOk(dir.File(kArchiveFileName));
    // 30 results over three specimens, one a day in March 2016, every third one in mode 1.
    for (int k = 0; k < 30; ++k) {
        const std::string specimen = std::vector<std::string>{"T1", "T10", "套管 B"}[k % 3];
        Result r = Live(1.0f + 0.01f * static_cast<float>(k), 0.3f, Day(2016, 3, k + 1), specimen,
                        k % 3 == 2 ? 1 : 2);
        ASSERT_TRUE(a->Add(r).Ok());
    }
    // A result whose date is unknown comes last.
    Result undated = FromFile({"t", "m", "d"});
    ASSERT_TRUE(a->Add(undated).Ok());

    EXPECT_EQ(a->Count({}).Value, 31);
    std::vector<Row> all;
    std::optional<Cursor> after;
    for (;;) {
        const auto page = a->List({}, after, 7);
        ASSERT_TRUE(page.Ok()) << page.Error;
        if (page.Value.empty()) {
            break;
        }
        EXPECT_LE(page.Value.size(), 7u);
        all.insert(all.end(), page.Value.begin(), page.Value.end());
        after = CursorAfter(page.Value.back());
    }
    ASSERT_EQ(all.size(), 31u);
    EXPECT_EQ(all.front().Measured, "2016-03-30T10:00:00");
    EXPECT_EQ(all[29].Measured, "2016-03-01T10:00:00");
    EXPECT_EQ(all.back().Measured, "");
    EXPECT_EQ(GbkToUtf8(all.front().Main).rfind("Cx：1.28", 0), 0u) << GbkToUtf8(all.front().Main);
    EXPECT_EQ(all.front().Specimen, "套管 B");
    EXPECT_EQ(all.front().WiringMode, 1);
    EXPECT_EQ(all.front().From, Source::Test);

    Filter contains;
    contains.Specimen = "T1";
    EXPECT_EQ(a->Count(contains).Value, 20); // T1 and T10
    Filter exact = contains;
    exact.ExactSpecimen = true;
    EXPECT_EQ(a->Count(exact).Value, 10);
    Filter chinese;
    chinese.Specimen = "套管";
    EXPECT_EQ(a->Count(chinese).Value, 10);

    Filter days;
    days.Since = "2016-03-05";
    days.Until = "2016-03-07";
    EXPECT_EQ(Measured(a->List(days, std::nullopt, 10).Value),
              (std::vector<std::string>{"2016-03-07T10:00:00", "2016-03-06T10:00:00",
                                        "2016-03-05T10:00:00"}));
    Filter mode;
    mode.WiringMode = 1;
    EXPECT_EQ(a->Count(mode).Value, 10);
    mode.Specimen = "T1";
    EXPECT_EQ(a->Count(mode).Value, 0);

    Filter bad;
    bad.Since = "2016-3-5";
    EXPECT_FALSE(a->List(bad, std::nullopt, 10).Ok());
    EXPECT_NE(a->Count(bad).Error.find("YYYY-MM-DD"), std::string::npos);

    // ForEach walks the same order with the whole results.
    std::vector<std::string> walked;
    EXPECT_EQ(a->ForEach(days,
                         [&](const Result& r) {
                             walked.push_back(r.Measured);
                             EXPECT_FALSE(r.Quantities.empty());
                             return walked.size() < 2;
                         }),
              "");
    EXPECT_EQ(walked, (std::vector<std::string>{"2016-03-07T10:00:00", "2016-03-06T10:00:00"}));

    EXPECT_EQ(a->Specimens().Value, (std::vector<std::string>{"T1", "T10", "套管 B"}));

    // A part of a name is taken as it is written: its % and _ are no wildcards; ASCII letters
    // match in either case.
    ASSERT_TRUE(a->Add(Live(1, 0.3f, Day(2016, 4, 1), "CVT 50%_A")).Ok());
    ASSERT_TRUE(a->Add(Live(1, 0.3f, Day(2016, 4, 2), "CVT 500xA")).Ok());
    ASSERT_TRUE(a->Add(Live(1, 0.3f, Day(2016, 4, 3), "back\\slash")).Ok());
    Filter literal;
    literal.Specimen = "50%_";
    EXPECT_EQ(a->Count(literal).Value, 1);
    literal.Specimen = "0%";
    EXPECT_EQ(a->Count(literal).Value, 1);
    literal.Specimen = "k\\s";
    EXPECT_EQ(a->Count(literal).Value, 1);
    literal.Specimen = "t10";
    EXPECT_EQ(a->Count(literal).Value, 10);
    literal.Specimen = "cvt 50";
    EXPECT_EQ(a->List(literal, std::nullopt, 10).Value.size(), 2u);
}

TEST(Archive, ASpecimensTrendOldestFirstWithTheChangeFromTheFirst) {
    TempDir dir;
    auto a = OpenOk(dir.File(kArchiveFileName));
    // Added out of order; the trend sorts by the measurement's date.
    ASSERT_TRUE(a->Add(Live(1.10f, 0.60f, Day(2018, 5, 1), "B1")).Ok());
    ASSERT_TRUE(a->Add(Live(1.00f, 0.30f, Day(2016, 5, 1), "B1")).Ok());
    ASSERT_TRUE(a->Add(Live(1.05f, 0.40f, Day(2017, 5, 1), "B1")).Ok());
    ASSERT_TRUE(a->Add(Live(9.00f, 0.10f, Day(2017, 6, 1), "B2")).Ok());
    ASSERT_TRUE(a->Add(Live(2.00f, 0.20f, Day(2017, 7, 1), "B1", 1)).Ok());
    const sim::StoredRecord multi{
        {1, 1, 1, 1},
        {sim::MultiResult{2, {1, 1.2f, 0, 0}, {0.3f, 0.35f, 0, 0}, {10, 10, 0, 0}, 500, 500},
         Day(2019, 1, 1)}};
    Result channels = Stored(multi, 1);
    channels.Taken.Specimen = "B1";
    ASSERT_TRUE(a->Add(channels).Ok());

    const auto series = a->SeriesOf("B1");
    ASSERT_TRUE(series.Ok()) << series.Error;
    EXPECT_EQ(series.Value,
              (std::vector<Series>{
                  {1, "Cx", "DF"}, {1, "Ca", "DFa"}, {1, "Cb", "DFb"}, {2, "Cx", "DF"}}));

    const auto trend = a->Trend("B1", {2, "Cx", "DF"});
    ASSERT_TRUE(trend.Ok()) << trend.Error;
    ASSERT_EQ(trend.Value.size(), 3u);
    EXPECT_EQ(trend.Value[0].Measured, "2016-05-01T10:00:00");
    EXPECT_EQ(trend.Value[2].Measured, "2018-05-01T10:00:00");
    EXPECT_NEAR(*trend.Value[0].Capacitance, 1.0e-9, 1e-15);
    EXPECT_NEAR(*trend.Value[1].Dissipation, 0.40, 1e-6);
    EXPECT_NEAR(*trend.Value[0].Change, 0, 1e-9);
    EXPECT_NEAR(*trend.Value[1].Change, 5, 1e-4);
    EXPECT_NEAR(*trend.Value[2].Change, 10, 1e-4);

    const auto channelB = a->Trend("B1", {1, "Cb", "DFb"});
    ASSERT_EQ(channelB.Value.size(), 1u);
    EXPECT_NEAR(*channelB.Value[0].Capacitance, 1.2e-9, 1e-15);
    EXPECT_TRUE(a->Trend("nobody", {2, "Cx", "DF"}).Value.empty());
}

TEST(Archive, SpecimenAndConditionsAreKeptAsTypedAndEditedLater) {
    TempDir dir;
    ManualClock clock(FromLocal(2024, 1, 1, 0, 0, 0));
    OpenOptions o;
    o.Time = &clock;
    const std::string path = dir.File(kArchiveFileName);
    auto a = OpenOk(path, o);
    const std::string names[] = {
        "O'Brien \"B\" ; DROP TABLE results; --",
        "Robert'); DELETE FROM quantities WHERE ('1'='1",
        "主变 #1 高压侧 A相 套管 🔌 ẞ ﷽",   // emoji and letters GBK cannot hold
        std::string(1 << 20, 'x') + "end", // one megabyte
        "",
    };
    std::vector<std::string> ids;
    for (const std::string& name : names) {
        const Added added = a->Add(Live(1, 0.3f, Day(2016, 1, 1), name));
        ASSERT_TRUE(added.Ok()) << added.Error;
        ids.push_back(added.Id);
    }
    for (std::size_t k = 0; k < ids.size(); ++k) {
        EXPECT_EQ(a->Get(ids[k]).Value->Taken.Specimen, names[k]);
        Filter f;
        f.Specimen = names[k];
        f.ExactSpecimen = true;
        EXPECT_EQ(a->Count(f).Value, names[k].empty() ? 5 : 1);
    }
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM quantities"), 5 * 9);

    clock.Advance(std::chrono::hours(1));
    ASSERT_EQ(a->SetConditions(ids[0], {"变压器 2", 18.5, 40}), "");
    const Result edited = *a->Get(ids[0]).Value;
    EXPECT_EQ(edited.Taken, (Conditions{"变压器 2", 18.5, 40}));
    EXPECT_EQ(edited.Edited, clock.Now());
    EXPECT_LT(edited.Archived, edited.Edited);
    EXPECT_EQ(a->SetConditions(ids[0], {"\xC0\xAF", {}, {}}),
              "the specimen name is not UTF-8 text");
    EXPECT_EQ(a->Get(ids[0]).Value->Taken.Specimen, "变压器 2");
    EXPECT_FALSE(a->Add(Live(1, 0.3f, Day(2016, 1, 1), "\xFF")).Ok());
    EXPECT_NE(a->SetConditions("no-such-id", {}).find("no result"), std::string::npos);

    // Deleting takes the quantities and texts along.
    ASSERT_EQ(a->Delete(ids[1]), "");
    EXPECT_FALSE(a->Get(ids[1]).Value.has_value());
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM quantities"), 4 * 9);
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM texts"), 4);
    EXPECT_NE(a->Delete(ids[1]).find("no result"), std::string::npos);
    EXPECT_EQ(a->IntegrityCheck(), "ok");
}

TEST(Archive, AnOlderFileIsBroughtUpToDateOneStepAtATime) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    std::string id;
    {
        auto a = OpenOk(path);
        id = a->Add(Live(1, 0.3f, Day(2016, 1, 1), "T1")).Id;
    }
    // The program after this one: a further step that adds to the ones before.
    constexpr int kNext = kSchemaVersion + 1;
    static const std::vector<Migration> withStep2 = [] {
        std::vector<Migration> steps = Migrations();
        steps.push_back({kNext, [](sqlite3* db) -> std::string {
                             return sqlite3_exec(db,
                                                 "ALTER TABLE results ADD COLUMN note TEXT; "
                                                 "UPDATE results SET note = 'migrated'",
                                                 nullptr, nullptr, nullptr) == SQLITE_OK
                                        ? ""
                                        : sqlite3_errmsg(db);
                         }});
        return steps;
    }();
    OpenOptions newer;
    newer.Steps = &withStep2;
    {
        auto a = OpenOk(path, newer);
        EXPECT_EQ(a->SchemaVersion(), kNext);
        EXPECT_EQ(a->Get(id).Value->Taken.Specimen, "T1");
        EXPECT_TRUE(a->Add(Live(2, 0.3f, Day(2016, 1, 2))).Ok());
    }
    EXPECT_EQ(Scalar(path, "PRAGMA user_version"), kNext);
    EXPECT_EQ(ScalarText(path, "SELECT note FROM results LIMIT 1"), "migrated");

    // A step that fails leaves the file at the version before it, whole.
    TempDir other;
    const std::string older = other.File(kArchiveFileName);
    OpenOk(older)->Add(Live(1, 0.3f, Day(2016, 1, 1)));
    static const std::vector<Migration> failing = [] {
        std::vector<Migration> steps = Migrations();
        steps.push_back({kNext, [](sqlite3* db) -> std::string {
                             sqlite3_exec(db, "CREATE TABLE half(x)", nullptr, nullptr, nullptr);
                             return "the step failed on purpose";
                         }});
        return steps;
    }();
    OpenOptions broken;
    broken.Steps = &failing;
    const Opened failed = Archive::Open(older, broken);
    EXPECT_EQ(failed.Store, nullptr);
    EXPECT_NE(failed.Error.find("schema " + std::to_string(kNext) + ": the step failed on purpose"),
              std::string::npos)
        << failed.Error;
    EXPECT_EQ(Scalar(older, "PRAGMA user_version"), kSchemaVersion);
    EXPECT_EQ(Scalar(older, "SELECT count(*) FROM sqlite_schema WHERE name = 'half'"), 0);
    EXPECT_EQ(OpenOk(older)->Count({}).Value, 1);

    // This program opens the newer file read-only, and reads what it knows of it.
    const Opened readOnly = Archive::Open(path);
    ASSERT_NE(readOnly.Store, nullptr) << readOnly.Error;
    EXPECT_TRUE(readOnly.Store->ReadOnly());
    EXPECT_NE(readOnly.Notice.find("newer version of the program (schema " + std::to_string(kNext) +
                                   ", this one knows " + std::to_string(kSchemaVersion) + ")"),
              std::string::npos)
        << readOnly.Notice;
    EXPECT_EQ(readOnly.Store->Count({}).Value, 2);
    EXPECT_EQ(readOnly.Store->Get(id).Value->Taken.Specimen, "T1");
    const Added refused = readOnly.Store->Add(Live(3, 0.3f, Day(2016, 1, 3)));
    EXPECT_FALSE(refused.Ok());
    EXPECT_NE(refused.Error.find("read-only"), std::string::npos) << refused.Error;
    EXPECT_FALSE(readOnly.Store->SetConditions(id, {}).empty());
    EXPECT_FALSE(readOnly.Store->Delete(id).empty());
    EXPECT_EQ(Scalar(path, "SELECT count(*) FROM results"), 2);
}

TEST(Archive, TheLogIsCopiedBackIntoTheFileWhileResultsAreKept) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    auto a = OpenOk(path);
    const auto before = std::filesystem::file_size(path);
    // Enough results for the log to pass its limit twice.
    for (int k = 0; k < 1000; ++k) {
        ASSERT_TRUE(a->Add(Live(1, 0.3f, Day(2016, 1, 1 + k % 28), "T")).Ok());
    }
    // A thread of the archive's own copies the log back; the commits never wait for it.
    EXPECT_TRUE(dielmon::test::WaitUntil([&] {
        return std::filesystem::file_size(path) > before + 100000;
    })) << std::filesystem::file_size(path);
    EXPECT_EQ(a->IntegrityCheck(), "ok");
    a.reset();
    // The last connection closed copies the rest and removes the log.
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    EXPECT_EQ(OpenOk(path)->Count({}).Value, 1000);
}
