// "下载全部记录" in the test controller: the download's frames, records and progress, what it
// refuses, and the pages it leaves alone.
#include "core/controller.h"

#include "core/commands.h"
#include "core/responses.h"
#include "core/texts.h"
#include "sim/payloads.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace dielmon;
using namespace std::chrono_literals;
using dielmon::test::Bytes;
using dielmon::test::Len;

namespace {

Bytes Short(std::uint8_t code, std::uint8_t record = 0) {
    const auto f = BuildShortCommand(code, record);
    return Bytes(f.begin(), f.end());
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

Bytes ErrorFrame(std::uint8_t code) {
    return BuildFrame(RspError, Bytes{code});
}

// The controller as the window holds it, connected to an instrument that has answered.
struct Rig {
    Rig() : Clock(FromLocal(2016, 3, 24, 15, 34, 0)), C(Clock) {
        C.FormShow();
        C.PortOpened(true, "/dev/ttyS0");
    }
    Effects Receive(const Bytes& frame) { return C.Frame(frame.data(), Len(frame)); }
    void Connect() {
        C.Connect();
        Receive(dielmon::test::ParametersFrame(5, 2, 1, 6, 10000));
    }
    Effects After(std::chrono::milliseconds d) {
        Clock.Advance(d);
        return C.Tick();
    }

    ManualClock Clock;
    TestController C;
};

// What the operator sees, without the clock label that every tick rewrites.
struct Seen {
    explicit Seen(const TestController& c) : V(c.View()) { V.Texts[0].clear(); }
    bool operator==(const Seen& o) const {
        return V.AllState == o.V.AllState && V.Sstate == o.V.Sstate && V.ShowHis == o.V.ShowHis &&
               V.Texts == o.V.Texts && V.HistoryRows.size() == o.V.HistoryRows.size() &&
               V.SelectedRow == o.V.SelectedRow && V.N3 == o.V.N3 &&
               V.HistoryRevision == o.V.HistoryRevision &&
               V.PanelModel.BBtn_StartTest == o.V.PanelModel.BBtn_StartTest;
    }
    WindowView V;
};

bool Sent(const Effects& e, const Bytes& frame) {
    return e.Frames.size() == 1 && e.Frames[0] == frame;
}

} // namespace

TEST(ControllerDownload, RefusedWithoutAnInstrumentDuringATestAndWhileOneRuns) {
    Rig r;
    // Not connected yet: the operator is told, nothing is sent.
    Effects e = r.C.StartDownload();
    EXPECT_TRUE(e.Frames.empty());
    ASSERT_EQ(e.Messages.size(), 1u);
    EXPECT_EQ(e.Messages[0].Text, texts::kConnectFirst);
    EXPECT_FALSE(r.C.Downloading());
    // Asked to connect, no answer yet.
    r.C.Connect();
    EXPECT_EQ(r.C.StartDownload().Messages.at(0).Text, texts::kConnectFirst);
    r.Receive(dielmon::test::ParametersFrame(5, 2, 1, 6, 10000));

    // During a test, and until the instrument has confirmed its stop.
    r.C.StartTest();
    e = r.C.StartDownload();
    EXPECT_TRUE(e.Frames.empty());
    EXPECT_EQ(e.Messages.at(0).Text, texts::kStopTestFirst);
    r.C.StopTest();
    EXPECT_EQ(r.C.StartDownload().Messages.at(0).Text, texts::kStopTestFirst);
    r.Receive(BuildFrame(RspStopped, Bytes{}));

    // Connected and idle: it starts with the index.
    e = r.C.StartDownload();
    EXPECT_TRUE(e.Messages.empty());
    EXPECT_TRUE(Sent(e, Short(CmdReadIndex)));
    ASSERT_TRUE(e.Download);
    EXPECT_EQ(e.Download->Total, -1);
    EXPECT_TRUE(r.C.Downloading());
    // A second start does nothing; the instrument's other operations wait for the end.
    EXPECT_TRUE(r.C.StartDownload().Frames.empty());
    for (auto action :
         {&TestController::StartTest, &TestController::ReadIndex, &TestController::ClearHistory,
          &TestController::InstrumentSave, &TestController::InstrumentPrint}) {
        e = (r.C.*action)();
        EXPECT_TRUE(e.Frames.empty());
        ASSERT_EQ(e.Messages.size(), 1u);
        EXPECT_EQ(e.Messages[0].Text, texts::kDownloadBusy);
    }
    EXPECT_TRUE(r.C.PanelModel().BBtn_StartTest);

    // Disconnecting ends it.
    e = r.C.Disconnect();
    ASSERT_TRUE(e.Download);
    EXPECT_TRUE(e.Download->Finished);
    EXPECT_TRUE(e.Download->Cancelled);
    EXPECT_FALSE(r.C.Downloading());
    EXPECT_TRUE(Sent(e, Short(CmdDisconnect)));
    r.Receive(BuildFrame(RspDisconnected, Bytes{}));
    EXPECT_EQ(r.C.StartDownload().Messages.at(0).Text, texts::kConnectFirst);
}

TEST(ControllerDownload, ReadsEveryRecordAsACompletedResultAndLeavesThePagesAlone) {
    Rig r;
    r.Connect();
    // The operator is looking at the instrument's list, one row chosen.
    r.C.ReadIndex();
    r.Receive(Entry(2, 1));
    r.Receive(Entry(2, 2));
    r.C.SelectRecord(1);
    const Seen before(r.C);
    ASSERT_EQ(before.V.AllState, AllStatePage::HisData);

    Effects e = r.C.StartDownload();
    ASSERT_TRUE(Sent(e, Short(CmdReadIndex)));
    e = r.Receive(Entry(3, 1));
    EXPECT_TRUE(e.Frames.empty());
    ASSERT_TRUE(e.Download);
    EXPECT_EQ(e.Download->Total, 3);
    EXPECT_FALSE(e.Download->Finished);
    EXPECT_TRUE(e.TextsSet.empty());
    r.Receive(Entry(3, 2));
    e = r.Receive(Entry(3, 3));
    EXPECT_TRUE(Sent(e, Short(CmdReadRecord, 1)));

    const Bytes records[] = {Record(1.5f), Record(2.5f), Record(3.5f)};
    for (int n = 1; n <= 3; ++n) {
        // A tick between answers asks for nothing again before the time-out.
        EXPECT_TRUE(r.After(500ms).Frames.empty());
        const Bytes& rec = records[n - 1];
        e = r.Receive(rec);
        ASSERT_EQ(e.Results.size(), 1u);
        const CompletedResult& got = e.Results[0];
        EXPECT_TRUE(got.Downloaded);
        EXPECT_EQ(got.Source, ResultSource::Instrument);
        EXPECT_EQ(got.RecordNumber, n);
        EXPECT_EQ(got.Code, rec[1]);
        EXPECT_EQ(got.Frame, rec);
        EXPECT_EQ(got.InstrumentType, 5);
        const StoredRecordView v = ShowStoredRecord(rec[1], rec.data(), Len(rec));
        EXPECT_EQ(got.Texts.Title, v.Title);
        EXPECT_EQ(got.Texts.Main, v.Main.value_or(""));
        EXPECT_EQ(got.Texts.Details, v.Details);
        ASSERT_TRUE(e.Download);
        EXPECT_EQ(e.Download->Read, n);
        if (n < 3) {
            EXPECT_TRUE(Sent(e, Short(CmdReadRecord, static_cast<std::uint8_t>(n + 1))));
            EXPECT_FALSE(e.Download->Finished);
        } else {
            EXPECT_TRUE(e.Frames.empty());
            EXPECT_TRUE(e.Download->Finished);
            EXPECT_FALSE(e.Download->Cancelled);
            EXPECT_TRUE(e.Download->Failure.empty());
        }
    }
    EXPECT_FALSE(r.C.Downloading());
    EXPECT_TRUE(Seen(r.C) == before);

    // Afterwards the store's pages work as before, and an opened record is not "downloaded".
    e = r.C.OpenRecord();
    EXPECT_TRUE(Sent(e, Short(CmdReadRecord, 2)));
    e = r.Receive(records[1]);
    ASSERT_EQ(e.Results.size(), 1u);
    EXPECT_FALSE(e.Results[0].Downloaded);
    EXPECT_EQ(r.C.View().ShowHis, ShowHisPage::ShowOne);

    // An empty store ends at once.
    r.C.Return();
    e = r.C.StartDownload();
    e = r.Receive(Entry(0, 1));
    ASSERT_TRUE(e.Download);
    EXPECT_TRUE(e.Download->Finished);
    EXPECT_EQ(e.Download->Total, 0);
    EXPECT_TRUE(e.Results.empty());
}

TEST(ControllerDownload, AnErrorASilentInstrumentOrALostLineEndItWithTheReason) {
    Rig r;
    r.Connect();
    const Seen idle(r.C);

    // The instrument's error goes to the download, not to the error page.
    r.C.StartDownload();
    r.Receive(Entry(2, 1));
    r.Receive(Entry(2, 2));
    Effects e = r.Receive(ErrorFrame(0xB1));
    ASSERT_TRUE(e.Download);
    EXPECT_TRUE(e.Download->Finished);
    EXPECT_EQ(e.Download->Failure, ErrorText(0xB1));
    EXPECT_FALSE(e.Download->Failure.empty());
    EXPECT_FALSE(r.C.State().ErrorShown);
    EXPECT_TRUE(Seen(r.C) == idle);
    // An error code without a message of its own still says why.
    r.C.StartDownload();
    e = r.Receive(ErrorFrame(0x77));
    EXPECT_EQ(e.Download->Failure,
              ErrorText(0x77).empty() ? texts::kDownloadError : ErrorText(0x77));

    // Silence: asked once more after the time-out, then given up.
    r.After(4s);
    e = r.C.StartDownload();
    r.Receive(Entry(1, 1));
    EXPECT_TRUE(r.After(2500ms).Frames.empty());
    e = r.After(1000ms);
    EXPECT_TRUE(Sent(e, Short(CmdReadRecord, 1)));
    e = r.After(3000ms);
    ASSERT_TRUE(e.Download);
    EXPECT_TRUE(e.Download->Finished);
    EXPECT_EQ(e.Download->Failure, texts::kDownloadNoReply);
    EXPECT_EQ(e.Download->Read, 0);
    // Its answer coming late is nobody's: no page, no result.
    e = r.Receive(Record(1));
    EXPECT_TRUE(e.Results.empty());
    EXPECT_TRUE(Seen(r.C) == idle);
    // The operator's own listing ends that wait at once.
    r.C.ReadIndex();
    r.Receive(Entry(1, 1));
    EXPECT_EQ(r.C.View().HistoryRows.size(), 1u);
    r.C.Return();
    r.Receive(BuildFrame(RspReturned, Bytes{}));

    // The line going: the download ends with the port error.
    r.C.StartDownload();
    e = r.C.LineLost();
    ASSERT_TRUE(e.Download);
    EXPECT_TRUE(e.Download->Finished);
    EXPECT_EQ(e.Download->Failure, texts::kPortError);
    EXPECT_FALSE(r.C.Downloading());
}

TEST(ControllerDownload, CancellingSendsNothingDropsTheLateAnswerAndLetsTheWindowClose) {
    Rig r;
    r.Connect();
    const Seen idle(r.C);
    r.C.StartDownload();
    r.Receive(Entry(2, 1));
    r.Receive(Entry(2, 2));
    Effects e = r.C.CancelDownload();
    EXPECT_TRUE(e.Frames.empty());
    ASSERT_TRUE(e.Download);
    EXPECT_TRUE(e.Download->Finished);
    EXPECT_TRUE(e.Download->Cancelled);
    EXPECT_TRUE(e.Download->Failure.empty());
    EXPECT_TRUE(r.C.CancelDownload().Frames.empty());
    // The record asked for before the cancel arrives: dropped.
    e = r.Receive(Record(2));
    EXPECT_TRUE(e.Results.empty());
    EXPECT_TRUE(Seen(r.C) == idle);
    // Later, a record is the operator's again.
    r.After(3500ms);
    e = r.Receive(Record(2));
    EXPECT_EQ(e.Results.size(), 1u);
    EXPECT_EQ(r.C.View().ShowHis, ShowHisPage::ShowOne);

    // Closing during a download stops it and goes on as a close does.
    r.C.Return();
    r.Receive(BuildFrame(RspReturned, Bytes{}));
    r.C.StartDownload();
    e = r.C.CloseRequested();
    ASSERT_TRUE(e.Download);
    EXPECT_TRUE(e.Download->Cancelled);
    EXPECT_TRUE(Sent(e, Short(CmdDisconnect)));
    EXPECT_FALSE(r.C.Downloading());
}
