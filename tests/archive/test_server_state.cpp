// The archive's side of the lab synchronisation on real SQLite files, without a server: the
// schema step that adds it to an older archive, which results wait to be pushed, and how
// results and edits read from the server are taken in (the later edit wins, ties by station).
#include "results.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using dielmon::test::TempDir;

namespace {

TimePoint At(int seconds) {
    return TimePoint(std::chrono::seconds(1'700'000'000 + seconds));
}

std::vector<std::string> Ids(const std::vector<Result>& results) {
    std::vector<std::string> ids;
    for (const Result& r : results) {
        ids.push_back(r.Id);
    }
    return ids;
}

// A result as another laptop's archive made it, read back from the server.
PulledResult FromElsewhere(const std::string& id, const std::string& station, int editedAt,
                           const std::string& specimen) {
    PulledResult p;
    p.Value = Live(2.2f, 0.4f, Day(2020, 3, 4), specimen);
    p.Value.Id = id;
    p.Value.Station = station;
    p.Value.Host = "laptop-b";
    p.Value.Archived = At(editedAt);
    p.Value.Edited = At(editedAt);
    p.EditedBy = station;
    return p;
}

} // namespace

TEST(ServerState, AnOlderArchiveGainsTheSyncStateWithEveryResultWaiting) {
    TempDir dir;
    const std::string path = dir.File(kArchiveFileName);
    static const std::vector<Migration> first = {Migrations().front()};
    OpenOptions old;
    old.Steps = &first;
    std::string id;
    {
        auto a = OpenOk(path, old);
        ASSERT_EQ(a->SchemaVersion(), 1);
        id = a->Add(Live(1, 0.3f, Day(2016, 1, 1), "T1")).Id;
        a->Add(Live(1, 0.3f, Day(2016, 1, 2), "T2"));
    }
    auto a = OpenOk(path);
    EXPECT_EQ(a->SchemaVersion(), kSchemaVersion);
    EXPECT_EQ(a->CountUnpushed().Value, 2);
    EXPECT_EQ(a->Position().Value.Lab, "");
    EXPECT_EQ(a->Position().Value.Cursor, 0);
    EXPECT_EQ(a->Get(id).Value->Taken.Specimen, "T1");
    EXPECT_EQ(a->IntegrityCheck(), "ok");
}

TEST(ServerState, WaitingResultsAreThoseNeverPushedOrEditedSince) {
    TempDir dir;
    ManualClock clock(At(0));
    OpenOptions o;
    o.Time = &clock;
    auto a = OpenOk(dir.File(kArchiveFileName), o);
    std::vector<std::string> ids;
    for (int k = 0; k < 5; ++k) {
        clock.Advance(std::chrono::seconds(1));
        ids.push_back(a->Add(Live(1 + k, 0.3f, Day(2016, 1, 1 + k), "S")).Id);
    }
    ASSERT_EQ(a->CountUnpushed().Value, 5);
    // Pages in the order of archiving.
    auto page = a->Unpushed(0, 3);
    ASSERT_TRUE(page.Ok()) << page.Error;
    EXPECT_EQ(Ids(page.Value), (std::vector<std::string>{ids[0], ids[1], ids[2]}));
    EXPECT_EQ(page.Value[0].Quantities.size(), Live(1, 0.3f, Day(2016, 1, 1)).Quantities.size());
    EXPECT_EQ(Ids(a->Unpushed(page.Value.back().Seq, 3).Value),
              (std::vector<std::string>{ids[3], ids[4]}));

    std::vector<ServerMark> marks;
    for (const Result& r : a->Unpushed(0, 10).Value) {
        marks.push_back({r.Id, r.Edited, a->Station()});
    }
    ASSERT_EQ(a->MarkPushed(marks, 42), "");
    EXPECT_EQ(a->CountUnpushed().Value, 0);
    EXPECT_EQ(a->Position().Value.Cursor, 42);
    // An edit here makes it wait again; a deleted result takes its mark with it.
    clock.Advance(std::chrono::seconds(5));
    ASSERT_EQ(a->SetConditions(ids[1], {"S edited", 21.5, 40}), "");
    EXPECT_EQ(Ids(a->Unpushed(0, 10).Value), std::vector<std::string>{ids[1]});
    ASSERT_EQ(a->Delete(ids[1]), "");
    EXPECT_EQ(a->CountUnpushed().Value, 0);
    EXPECT_EQ(Scalar(dir.File(kArchiveFileName), "SELECT count(*) FROM sync_results"), 4);
    // A mark for a result deleted meanwhile is not kept.
    ASSERT_EQ(a->MarkPushed({{ids[1], At(0), a->Station()}}, std::nullopt), "");
    EXPECT_EQ(Scalar(dir.File(kArchiveFileName), "SELECT count(*) FROM sync_results"), 4);
    EXPECT_EQ(a->Position().Value.Cursor, 42);

    // Another server: everything is pushed to it again, everything read from its start.
    ASSERT_EQ(a->StartWithServer("lab-2"), "");
    EXPECT_EQ(a->Position().Value.Lab, "lab-2");
    EXPECT_EQ(a->Position().Value.Cursor, 0);
    EXPECT_EQ(a->CountUnpushed().Value, 4);
}

TEST(ServerState, PulledResultsAreTakenInOnceAndTheLaterEditWins) {
    TempDir dir;
    ManualClock clock(At(100));
    OpenOptions o;
    o.Time = &clock;
    auto a = OpenOk(dir.File(kArchiveFileName), o);
    const std::string other = "ffffffff-0000-4000-8000-000000000000"; // greater than any
    const std::string lesser = "00000000-0000-4000-8000-000000000000";

    // New results of another laptop: archived with their own station, host and times, and
    // not waiting to be pushed back.
    PulledResult b1 = FromElsewhere("b1", other, 10, "套管 '; DROP TABLE results; --");
    const auto merged = a->MergePulled({b1, FromElsewhere("b2", lesser, 11, "B2")}, 7);
    ASSERT_TRUE(merged.Ok()) << merged.Error;
    EXPECT_EQ(merged.Value.Added, 2);
    EXPECT_EQ(a->Position().Value.Cursor, 7);
    EXPECT_EQ(a->CountUnpushed().Value, 0);
    Result got = *a->Get("b1").Value;
    EXPECT_EQ(got.Station, other);
    EXPECT_EQ(got.Host, "laptop-b");
    EXPECT_EQ(got.Archived, At(10));
    EXPECT_EQ(got.Taken.Specimen, b1.Value.Taken.Specimen);
    EXPECT_EQ(got.Quantities, b1.Value.Quantities);
    EXPECT_EQ(got.Texts.Main, b1.Value.Texts.Main);
    EXPECT_EQ(got.Frame, b1.Value.Frame);
    std::optional<Cursor> none;
    EXPECT_EQ(a->List({}, none, 10).Value.front().Host, "laptop-b");

    // The same again: nothing changes.
    EXPECT_EQ(a->MergePulled({b1}, 8).Value.Known, 1);
    EXPECT_EQ(a->Count({}).Value, 2);

    // An older edit from the server loses against a later one here, which waits to be pushed.
    clock.Set(At(50));
    ASSERT_EQ(a->SetConditions("b1", {"edited here", 20, 50}), "");
    PulledResult older = b1;
    older.Value.Taken.Specimen = "edited there first";
    older.Value.Edited = At(40);
    EXPECT_EQ(a->MergePulled({older}, 9).Value.Known, 1);
    EXPECT_EQ(a->Get("b1").Value->Taken.Specimen, "edited here");
    EXPECT_EQ(Ids(a->Unpushed(0, 10).Value), std::vector<std::string>{"b1"});
    // A later one from the server wins and is no longer waiting here.
    PulledResult later = b1;
    later.Value.Taken = {"edited there later", 19.5, 61};
    later.Value.Edited = At(60);
    EXPECT_EQ(a->MergePulled({later}, 10).Value.Updated, 1);
    got = *a->Get("b1").Value;
    EXPECT_EQ(got.Taken, later.Value.Taken);
    EXPECT_EQ(got.Edited, At(60));
    EXPECT_EQ(a->CountUnpushed().Value, 0);

    // The same millisecond: the greater station id wins, here and there alike.
    EXPECT_TRUE(LaterEdit(At(70), other, At(70), lesser));
    EXPECT_FALSE(LaterEdit(At(70), lesser, At(70), other));
    EXPECT_TRUE(LaterEdit(At(71), lesser, At(70), other));
    clock.Set(At(70));
    ASSERT_EQ(a->SetConditions("b1", {"tie here", std::nullopt, std::nullopt}), "");
    ASSERT_EQ(a->SetConditions("b2", {"tie here", std::nullopt, std::nullopt}), "");
    PulledResult tieOther = b1;
    tieOther.Value.Taken = {"tie there", std::nullopt, std::nullopt};
    tieOther.Value.Edited = At(70);
    PulledResult tieLesser = FromElsewhere("b2", lesser, 70, "tie there");
    const bool hereIsGreater = a->Station() > lesser;
    const auto tie = a->MergePulled({tieOther, tieLesser}, 11);
    ASSERT_TRUE(tie.Ok()) << tie.Error;
    EXPECT_EQ(a->Get("b1").Value->Taken.Specimen, "tie there"); // "ffff..." beats any station
    EXPECT_EQ(a->Get("b2").Value->Taken.Specimen, hereIsGreater ? "tie here" : "tie there");
    EXPECT_EQ(Ids(a->Unpushed(0, 10).Value),
              hereIsGreater ? std::vector<std::string>{"b2"} : std::vector<std::string>{});
}

TEST(ServerState, TheSameRecordUnderAnotherIdIsNotArchivedTwice) {
    TempDir dir;
    auto a = OpenOk(dir.File(kArchiveFileName));
    sim::StoredRecord record;
    record.Data.Values = sim::SingleResult{10, 0.0148f, 500, 500, 1, 3.3f, 0.2f, 89.7f, 0, 0};
    const Added here = a->Add(Stored(record, 4));
    ASSERT_TRUE(here.New);
    // The same record read by another laptop from the same instrument.
    PulledResult there;
    there.Value = Stored(record, 9);
    there.Value.Id = "read-elsewhere";
    there.Value.Station = "other";
    there.Value.Host = "laptop-b";
    there.Value.Edited = there.Value.Archived = At(1);
    there.EditedBy = "other";
    const auto merged = a->MergePulled({there}, 3);
    ASSERT_TRUE(merged.Ok()) << merged.Error;
    EXPECT_EQ(merged.Value.Known, 1);
    EXPECT_EQ(a->Count({}).Value, 1);
    EXPECT_EQ(a->Position().Value.Cursor, 3);

    // A batch that cannot be kept is not kept at all, cursor included.
    PulledResult bad = FromElsewhere("bad", "other", 2, std::string("\xFF\xFE", 2));
    const auto refused = a->MergePulled({FromElsewhere("fine", "other", 2, "x"), bad}, 99);
    EXPECT_FALSE(refused.Ok());
    EXPECT_FALSE(a->Get("fine").Value.has_value());
    EXPECT_EQ(a->Position().Value.Cursor, 3);
}
