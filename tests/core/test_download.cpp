#include "core/download.h"

#include "core/commands.h"
#include "core/frame.h"
#include "core/responses.h"
#include "sim/payloads.h"
#include "support/frames.h"

#include <gtest/gtest.h>

using namespace dielmon;
using dielmon::test::Bytes;
using namespace std::chrono_literals;

namespace {

using Steady = RecordDownload::SteadyTime;

Bytes Short(std::uint8_t code, int record = 0) {
    const auto f = BuildShortCommand(code, static_cast<std::uint8_t>(record));
    return {f.begin(), f.end()};
}

Bytes Entry(int used, int number) {
    return BuildFrame(RspIndex, sim::EncodeIndexEntry(used, number, {23, 10, 9, 8, 15, 0}));
}

Bytes Record(float nf) {
    const sim::StoredRecord r{
        {2, 1, 1, 1},
        {sim::SingleResult{10, 0.01f, 500, 500, 1, nf, 0.3f, 89, 0.005f, 0.001f}, {23, 1, 1}}};
    return BuildFrame(sim::StoredRecordCode(r.Data.Values), sim::EncodeStoredRecord(r));
}

// The download on a line: a steady clock the test moves, and everything it asked to send.
struct Line {
    explicit Line(RecordDownload::Options o = {}) : D(o) {}

    void Take(RecordDownload::Step s) {
        if (!s.Send.empty()) {
            Sent.push_back(s.Send);
        }
        if (s.Completed) {
            Records.push_back(*s.Completed);
        }
    }
    void Start() { Take(D.Start(Now)); }
    void Feed(const Bytes& f) { Take(D.Frame(f.data(), static_cast<int>(f.size()), Now)); }
    void Wait(std::chrono::milliseconds d) {
        Now += d;
        Take(D.Tick(Now));
    }

    RecordDownload D;
    Steady Now{std::chrono::seconds(1000)};
    std::vector<Bytes> Sent;
    std::vector<RecordDownload::Record> Records;
};

} // namespace

TEST(Download, ASessionReadsTheIndexThenEveryRecordInOrder) {
    RecordDownload::Options o;
    o.Session = true;
    Line run(o);
    run.Start();
    EXPECT_EQ(run.D.Current(), RecordDownload::State::Connecting);
    sim::InstrumentSettings settings;
    run.Feed(BuildFrame(RspParameters, sim::EncodeParameters(6, settings, false)));
    EXPECT_EQ(run.D.InstrumentType(), 6);
    EXPECT_EQ(run.D.Total(), -1);
    for (int n = 1; n <= 3; ++n) {
        run.Feed(Entry(3, n));
    }
    EXPECT_EQ(run.D.Total(), 3);
    const Bytes records[] = {Record(1), Record(2), Record(3)};
    for (const Bytes& r : records) {
        run.Wait(100ms); // no time-out between answers
        run.Feed(r);
    }
    run.Feed(BuildFrame(RspDisconnected, Bytes(17, 0)));
    EXPECT_EQ(run.D.Current(), RecordDownload::State::Done);
    EXPECT_EQ(run.D.Read(), 3);
    EXPECT_EQ(run.Sent, (std::vector<Bytes>{Short(CmdConnect), Short(CmdReadIndex),
                                            Short(CmdReadRecord, 1), Short(CmdReadRecord, 2),
                                            Short(CmdReadRecord, 3), Short(CmdDisconnect)}));
    ASSERT_EQ(run.Records.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(run.Records[k].Number, k + 1);
        EXPECT_EQ(run.Records[k].Code, RspRecord);
        EXPECT_EQ(run.Records[k].Frame, records[k]);
    }
    // Nothing more happens once done.
    run.Wait(1h);
    run.Feed(Record(4));
    EXPECT_EQ(run.Sent.size(), 6u);
    EXPECT_EQ(run.Records.size(), 3u);
    EXPECT_FALSE(run.D.Deadline().has_value());
}

TEST(Download, AnEmptyStoreAndAListingThatStartsAgain) {
    Line empty;
    empty.Start();
    empty.Feed(Entry(0, 1));
    EXPECT_EQ(empty.D.Current(), RecordDownload::State::Done);
    EXPECT_EQ(empty.D.Total(), 0);
    EXPECT_EQ(empty.Sent, (std::vector<Bytes>{Short(CmdReadIndex)}));

    // Entries arrive out of order, and a new listing (number 1) begins half way: the records
    // are asked for once the listing is whole.
    Line run;
    run.Start();
    run.Feed(Entry(3, 2));
    run.Feed(Entry(3, 1));
    run.Feed(Entry(2, 1));
    EXPECT_EQ(run.Sent.size(), 1u);
    run.Feed(Entry(2, 2));
    EXPECT_EQ(run.D.Total(), 2);
    EXPECT_EQ(run.Sent.back(), Short(CmdReadRecord, 1));
    // Frames that answer nothing asked are passed over.
    run.Feed(Entry(2, 2));
    run.Feed(BuildFrame(RspBoosting, Bytes(16, 0)));
    run.Feed(Record(1));
    run.Feed(Record(2));
    EXPECT_EQ(run.D.Current(), RecordDownload::State::Done);
    EXPECT_EQ(run.Records.size(), 2u);
}

TEST(Download, AnInstrumentThatStopsAnsweringIsAskedOnceMoreThenGivenUp) {
    Line run;
    run.Start();
    run.Feed(Entry(2, 1));
    run.Feed(Entry(2, 2));
    run.Feed(Record(1));
    ASSERT_EQ(run.Sent.back(), Short(CmdReadRecord, 2));
    run.Wait(2999ms);
    EXPECT_EQ(run.Sent.size(), 3u);
    run.Wait(1ms);
    EXPECT_EQ(run.Sent.back(), Short(CmdReadRecord, 2)); // asked once more
    EXPECT_EQ(run.Sent.size(), 4u);
    run.Wait(3s);
    EXPECT_EQ(run.D.Current(), RecordDownload::State::Failed);
    EXPECT_EQ(run.D.Failed(), RecordDownload::Failure::NoAnswer);
    EXPECT_EQ(run.D.Error(), "the instrument did not send record 2 of 2 (asked twice)");
    EXPECT_EQ(run.D.Read(), 1);
    EXPECT_EQ(run.Sent.size(), 4u);

    // An instrument that never answers at all.
    RecordDownload::Options o;
    o.Session = true;
    o.AnswerTimeout = 500ms;
    Line silent(o);
    silent.Start();
    silent.Wait(500ms);
    silent.Wait(500ms);
    EXPECT_EQ(silent.D.Failed(), RecordDownload::Failure::NoAnswer);
    EXPECT_EQ(silent.D.Error(), "the instrument did not answer the connect request (asked twice)");
    // Two connect requests, then goodbye.
    EXPECT_EQ(silent.Sent,
              (std::vector<Bytes>{Short(CmdConnect), Short(CmdConnect), Short(CmdDisconnect)}));
}

TEST(Download, ALateAnswerIsNeverTakenForTheNextRecord) {
    Line run;
    run.Start();
    for (int n = 1; n <= 3; ++n) {
        run.Feed(Entry(3, n));
    }
    run.Wait(3s); // record 1 is late: asked again
    EXPECT_EQ(run.Sent.back(), Short(CmdReadRecord, 1));
    const Bytes first = Record(1);
    run.Feed(first);
    EXPECT_EQ(run.D.Current(), RecordDownload::State::Settling);
    run.Feed(first); // the answer to the second request
    run.Wait(2s);
    EXPECT_EQ(run.Sent.size(), 3u);
    run.Wait(1s);
    EXPECT_EQ(run.Sent.back(), Short(CmdReadRecord, 2));
    run.Feed(Record(2));
    run.Feed(Record(3));
    EXPECT_EQ(run.D.Current(), RecordDownload::State::Done);
    ASSERT_EQ(run.Records.size(), 3u);
    EXPECT_EQ(run.Records[1].Frame, Record(2));
    EXPECT_EQ(run.Records[2].Frame, Record(3));

    // Entries lost twice: the count still says which records there are.
    Line lost;
    lost.Start();
    lost.Feed(Entry(3, 1));
    lost.Feed(Entry(3, 3));
    lost.Wait(3s);
    EXPECT_EQ(lost.Sent.back(), Short(CmdReadIndex));
    lost.Feed(Entry(3, 2));
    lost.Wait(3s);
    EXPECT_EQ(lost.Sent.back(), Short(CmdReadRecord, 1));
    EXPECT_EQ(lost.D.Total(), 3);
}

TEST(Download, AnInstrumentErrorOrACancelEndsIt) {
    RecordDownload::Options o;
    o.Session = true;
    Line run(o);
    run.Start();
    run.Feed(BuildFrame(RspParameters, Bytes(22, 0)));
    run.Feed(Entry(5, 1));
    Bytes error(17, 0);
    error[16] = 0xB3;
    run.Feed(BuildFrame(RspError, error));
    EXPECT_EQ(run.D.Failed(), RecordDownload::Failure::InstrumentError);
    EXPECT_EQ(run.D.ErrorCode(), 0xB3);
    EXPECT_EQ(run.D.Error(), "the instrument reported error 0xB3");
    EXPECT_EQ(run.Sent.back(), Short(CmdDisconnect));

    Line cancelled(o);
    cancelled.Start();
    cancelled.Feed(BuildFrame(RspParameters, Bytes(22, 0)));
    cancelled.Feed(Entry(2, 1));
    cancelled.Feed(Entry(2, 2));
    cancelled.Feed(Record(1));
    cancelled.Take(cancelled.D.Cancel());
    EXPECT_EQ(cancelled.D.Current(), RecordDownload::State::Cancelled);
    EXPECT_EQ(cancelled.Sent.back(), Short(CmdDisconnect));
    cancelled.Feed(Record(2));
    cancelled.Wait(1h);
    EXPECT_EQ(cancelled.Records.size(), 1u);
    EXPECT_TRUE(cancelled.D.Cancel().Send.empty());

    // Without a session nothing is sent on cancel, and nothing before the start.
    Line plain;
    EXPECT_TRUE(plain.D.Cancel().Send.empty());
    plain.Start();
    EXPECT_TRUE(plain.Sent.empty());
}
