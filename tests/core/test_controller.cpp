#include "core/controller.h"

#include "core/commands.h"
#include "core/responses.h"
#include "core/texts.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace dielmon;
using namespace std::chrono_literals;
using dielmon::test::Bytes;
using dielmon::test::Len;
using dielmon::test::Payload;

namespace {

Bytes Parameters(int type, int mode, int freq, int volt, int doubleSteps = 0) {
    return dielmon::test::ParametersFrame(type, mode, 1, freq, volt, 50, 0, 2000, 0, doubleSteps);
}

Bytes Short(std::uint8_t code, std::uint8_t record = 0) {
    const auto f = BuildShortCommand(code, record);
    return Bytes(f.begin(), f.end());
}

Bytes Empty(std::uint8_t code) {
    return BuildFrame(code, Bytes{});
}

// The controller as the window holds it: shown, port open, with a clock that tests move.
struct Rig {
    Rig() : Clock(FromLocal(2016, 3, 24, 15, 34, 0)), C(Clock) {
        C.FormShow();
        C.PortOpened(true, "/dev/ttyS0");
    }
    Effects Receive(const Bytes& frame) { return C.Frame(frame.data(), Len(frame)); }
    // Connects and lets the instrument answer.
    void Connect(int type = 4, int mode = 2, int freq = 6, int volt = 10000, int doubles = 0) {
        C.Connect();
        Receive(Parameters(type, mode, freq, volt, doubles));
    }
    Effects After(std::chrono::milliseconds d) {
        Clock.Advance(d);
        return C.Tick();
    }
    const std::string& Text(Label l) const { return C.View().Text(l); }
    bool On(AllStatePage all, SstatePage page) const {
        return C.View().AllState == all && C.View().Sstate == page;
    }

    ManualClock Clock;
    TestController C;
};

bool Has(const Effects& e, const Bytes& frame) {
    for (const auto& f : e.Frames) {
        if (f == frame) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(Controller, ConnectingFillsThePanelOrReportsASilentInstrument) {
    Rig r;
    EXPECT_FALSE(r.C.PanelModel().BBtn_StartTest);
    const Effects e = r.C.Connect();
    ASSERT_EQ(e.Frames.size(), 1u);
    EXPECT_EQ(e.Frames[0], Short(CmdConnect));
    EXPECT_FALSE(r.C.State().InstrumentAnswered);

    // Nothing before 6 s, then "串口错误！" at every tick until the instrument answers.
    r.After(5900ms);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
    r.After(100ms);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::Info));
    EXPECT_EQ(r.Text(Label::Lbl_Info), texts::kPortError);

    const Effects filled = r.Receive(Parameters(5, 1, 6, 10000));
    ASSERT_TRUE(filled.ParametersApplied);
    EXPECT_EQ(filled.ParametersApplied->InstrumentType, 5);
    EXPECT_TRUE(r.C.State().InstrumentAnswered);
    EXPECT_FALSE(r.C.State().CloseAllowed);
    EXPECT_EQ(r.C.State().InstrumentType, 5);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
    EXPECT_TRUE(r.C.PanelModel().BBtn_StartTest);
    EXPECT_TRUE(r.C.PanelModel().CBox_Model.Visible);
    EXPECT_EQ(r.C.PanelModel().Edt_Volt.Text, "10000");
    r.After(10s);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));

    // A failed open names the port in the specified box.
    const Effects failed = r.C.PortOpened(false, "/dev/ttyUSB7");
    ASSERT_EQ(failed.Messages.size(), 1u);
    EXPECT_EQ(failed.Messages[0].Text, std::string("/dev/ttyUSB7") + texts::kOpenPortFailed);
    EXPECT_FALSE(r.C.State().PortOpen);
}

TEST(Controller, ATestFromStartToResult) {
    Rig r;
    r.Connect(4, 1, 6, 10000, 1); // 正接线, doubled steps
    r.C.PanelChoice(PanelCombo::CBox_Model, 2);
    const TestParameters expected = r.C.PanelModel().ReadTestParameters();
    const Effects start = r.C.StartTest();
    ASSERT_EQ(start.Frames.size(), 1u);
    const auto frame = BuildStartTest(expected);
    EXPECT_EQ(start.Frames[0], Bytes(frame.begin(), frame.end()));
    EXPECT_TRUE(r.C.State().TestRunning);
    EXPECT_TRUE(r.C.View().BBtn_StopTest);
    EXPECT_FALSE(r.C.PanelModel().BBtn_StartTest);
    EXPECT_FALSE(r.C.PanelModel().CBox_ConnType.Enabled);
    EXPECT_FALSE(r.C.PanelModel().N6);
    EXPECT_EQ(r.C.View().GaugeMaximum, 60);
    EXPECT_EQ(r.C.View().GaugePosition, 0);

    r.Receive(BuildFrame(RspTestStarted, Bytes(17)));
    EXPECT_EQ(r.Text(Label::Lbl_Guding), "正接线\\内标准\\定频\\内高压");
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
    r.Receive(Payload(8).F(0, 1.5f).F(4, 0.025f).Frame(RspBoosting));
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::UpVolt));
    EXPECT_EQ(r.Text(Label::Lbl_UpInfo), "1.50 kV\r\n\r\n25.00mA");

    // More step frames than the gauge holds: it stops at its maximum, the frames still count.
    for (int k = 0; k < 65; ++k) {
        const Effects step = r.Receive(Payload(12).F(0, 2).F(8, 0.0125f).Frame(RspStepResult));
        EXPECT_TRUE(step.GaugeChanged);
    }
    EXPECT_EQ(r.C.View().GaugePosition, 60);
    EXPECT_EQ(r.C.View().GaugeSteps, 65);
    EXPECT_FALSE(r.C.View().N3);

    const Bytes result = Payload(62).F(0, 1).F(4, 0.1f).Frame(RspFinalResult);
    const Effects done = r.Receive(result);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::ShowState));
    EXPECT_FALSE(r.C.State().TestRunning);
    EXPECT_TRUE(r.C.PanelModel().BBtn_StartTest);
    EXPECT_FALSE(r.C.View().BBtn_StopTest);
    EXPECT_TRUE(r.C.View().N3);
    EXPECT_TRUE(r.C.View().N4);
    EXPECT_EQ(r.C.View().Panel13Height, 220);
    ASSERT_EQ(done.Results.size(), 1u);
    const CompletedResult& kept = done.Results[0];
    EXPECT_EQ(kept.Source, ResultSource::Test);
    EXPECT_EQ(kept.Frame, result);
    ASSERT_TRUE(kept.Parameters);
    EXPECT_EQ(*kept.Parameters, expected);
    EXPECT_EQ(kept.Texts.Main, r.Text(Label::LblCxRx));
    EXPECT_EQ(kept.Texts.Details, r.Text(Label::Label19));
    EXPECT_EQ(r.C.ShownResult(), kept.Texts);

    // The instrument keeps or prints it; the hint goes 3 s later.
    EXPECT_TRUE(Has(r.C.InstrumentSave(), Short(CmdInstrumentSave)));
    EXPECT_TRUE(r.C.View().Pnl_HintVisible);
    EXPECT_EQ(r.Text(Label::Label21), texts::kSaving);
    r.Receive(Empty(RspSaved));
    EXPECT_EQ(r.Text(Label::Label21), texts::kDataSaved);
    r.After(2900ms);
    EXPECT_TRUE(r.C.View().Pnl_HintVisible);
    r.After(100ms);
    EXPECT_FALSE(r.C.View().Pnl_HintVisible);
    const Effects printed = r.Receive(Empty(RspPrinted));
    ASSERT_EQ(printed.DebugOutput.size(), 1u);
    EXPECT_EQ(printed.DebugOutput[0], texts::kDataPrinted);
    const Effects saveDone = r.Receive(Empty(RspSaveDone2));
    ASSERT_EQ(saveDone.Messages.size(), 1u);
    EXPECT_EQ(saveDone.Messages[0].Text, texts::kSaveSucceeded);
    // Any frame hides the hint at once.
    EXPECT_FALSE(r.C.View().Pnl_HintVisible);

    EXPECT_TRUE(Has(r.C.Return(), Short(CmdReturn)));
    r.Receive(Empty(RspReturned));
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
    EXPECT_FALSE(r.C.View().N3);
    EXPECT_FALSE(r.C.ShownResult());
}

TEST(Controller, StoppingAndInstrumentErrors) {
    Rig r;
    r.Connect();
    r.C.StartTest();
    const Effects stop = r.C.StopTest();
    EXPECT_TRUE(Has(stop, Short(CmdStopTest)));
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::Info));
    EXPECT_EQ(r.Text(Label::Lbl_Info), texts::kPowerShuttingDown);
    EXPECT_FALSE(r.C.State().TestRunning);
    // Locked until the instrument says it has stopped.
    EXPECT_FALSE(r.C.PanelModel().CBox_ConnType.Enabled);
    r.Receive(Empty(RspStopped));
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
    EXPECT_TRUE(r.C.PanelModel().CBox_ConnType.Enabled);
    EXPECT_TRUE(r.C.PanelModel().BBtn_StartTest);
    EXPECT_FALSE(r.C.View().BBtn_StopTest);

    // An error ends the test 6 s later on the steady clock, whatever the wall clock does.
    r.C.StartTest();
    r.Receive(Payload(17).B(16, 0xB6).Frame(RspError));
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::Error));
    EXPECT_EQ(r.Text(Label::Lbl_Error), "请检查接地！");
    r.Clock.Set(r.Clock.Now() + 1h); // the clock put forward does not skip the wait
    r.After(5s);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::Error));
    EXPECT_TRUE(r.C.State().TestRunning);
    r.Clock.Set(r.Clock.Now() - 3h); // nor does putting it back freeze it
    r.After(1s);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
    EXPECT_FALSE(r.C.State().TestRunning);
    EXPECT_TRUE(r.C.PanelModel().CBox_ConnType.Enabled);
    // The clock label reads the wall time that was set.
    EXPECT_EQ(r.Text(Label::LblTime), ClockText(ToLocal(r.Clock.Now())));

    // An unknown error code: the page with an empty message.
    r.Receive(Payload(17).B(16, 0x42).Frame(RspError));
    EXPECT_EQ(r.Text(Label::Lbl_Error), "");

    // With external high voltage the stop leaves the pages alone.
    r.C.PanelChoice(PanelCombo::CBox_TestVolt, 0);
    r.After(6s);
    r.C.StartTest();
    r.C.StopTest();
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
}

TEST(Controller, TheCloseProtocol) {
    {
        Rig r; // never connected: closes at once
        EXPECT_TRUE(r.C.CloseRequested().CloseAccepted);
    }
    {
        Rig r; // connected: the disconnect first, the window closes on its answer
        r.Connect();
        const Effects e = r.C.CloseRequested();
        EXPECT_FALSE(e.CloseAccepted);
        EXPECT_TRUE(Has(e, Short(CmdDisconnect)));
        EXPECT_TRUE(r.Receive(Empty(RspDisconnected)).CloseWindow);
        EXPECT_TRUE(r.C.CloseRequested().CloseAccepted);
    }
    {
        Rig r; // no answer: closed 3 s after the request
        r.Connect();
        r.C.CloseRequested();
        EXPECT_FALSE(r.After(2900ms).CloseWindow);
        EXPECT_TRUE(r.After(100ms).CloseWindow);
        EXPECT_TRUE(r.C.State().CloseAllowed);
    }
    {
        Rig r; // an answer with no close pending only allows closing
        r.Connect();
        EXPECT_FALSE(r.Receive(Empty(RspDisconnected)).CloseWindow);
        EXPECT_TRUE(r.C.State().CloseAllowed);
    }
    {
        Rig r; // during a test: refused with the box; "停止测试" cancels the pending close
        r.Connect();
        r.C.StartTest();
        const Effects e = r.C.CloseRequested();
        EXPECT_FALSE(e.CloseAccepted);
        ASSERT_EQ(e.Messages.size(), 1u);
        EXPECT_EQ(e.Messages[0].Text, texts::kStopTestFirst);
        EXPECT_TRUE(e.Frames.empty());
        r.C.StopTest();
        EXPECT_FALSE(r.C.State().CloseRequested);
        EXPECT_FALSE(r.After(10s).CloseWindow);
    }
}

TEST(Controller, StoredRecords) {
    Rig r;
    r.Connect();
    const Effects read = r.C.ReadIndex();
    EXPECT_TRUE(Has(read, Short(CmdReadIndex)));
    EXPECT_EQ(r.C.View().AllState, AllStatePage::HisData);
    EXPECT_EQ(r.C.View().ShowHis, ShowHisPage::ShowInfo);
    for (int k = 1; k <= 3; ++k) {
        const Effects e = r.Receive(Payload(8)
                                        .B(0, 3)
                                        .B(1, static_cast<std::uint8_t>(k))
                                        .Date(2, 16, 3, 24, 15, 34, k)
                                        .Frame(RspIndex));
        ASSERT_TRUE(e.RowAdded);
    }
    ASSERT_EQ(r.C.View().HistoryRows.size(), 3u);
    EXPECT_EQ(r.C.View().SelectedRow, 0);
    EXPECT_EQ(r.C.View().ShowHis, ShowHisPage::ShowAll);
    EXPECT_EQ(r.Text(Label::Lbl_Num), HistoryCountText(3));

    r.C.SelectRecord(2);
    EXPECT_TRUE(Has(r.C.OpenRecord(), Short(CmdReadRecord, 3)));
    EXPECT_EQ(r.C.View().ShowHis, ShowHisPage::ShowInfo);
    const Bytes record = Payload(46).B(0, 5).B(1, 2).F(24, 150.25f).Frame(RspRecordRatio);
    const Effects shown = r.Receive(record);
    EXPECT_EQ(r.C.View().ShowHis, ShowHisPage::ShowOne);
    ASSERT_EQ(shown.Results.size(), 1u);
    EXPECT_EQ(shown.Results[0].Source, ResultSource::Instrument);
    EXPECT_EQ(shown.Results[0].RecordNumber, 3);
    EXPECT_EQ(shown.Results[0].Frame, record);
    EXPECT_EQ(shown.Results[0].Texts.Title, r.Text(Label::Label22));
    EXPECT_EQ(r.C.ShownResult()->Main, r.Text(Label::Label23));
    EXPECT_TRUE(r.C.View().N3);
    r.Receive(Empty(RspReturned)); // from "ShowOne" back to the list, panel untouched
    EXPECT_EQ(r.C.View().ShowHis, ShowHisPage::ShowAll);
    EXPECT_EQ(r.C.View().AllState, AllStatePage::HisData);

    // One deletion at a time: a second press before the answer sends nothing.
    r.C.SelectRecord(1);
    EXPECT_TRUE(Has(r.C.DeleteRecord(), Short(CmdDeleteRecord, 2)));
    EXPECT_EQ(r.Text(Label::LblHis_ShowInfo), texts::kDeletingData);
    EXPECT_TRUE(r.C.DeleteRecord().Frames.empty());
    r.Receive(Empty(RspRecordDeleted));
    ASSERT_EQ(r.C.View().HistoryRows.size(), 2u);
    EXPECT_EQ(r.C.View().HistoryRows[1].Number, "002"); // renumbered
    EXPECT_EQ(r.C.View().HistoryRows[1].Time, "2016-03-24 15:34:03");
    EXPECT_EQ(r.C.View().SelectedRow, -1);
    EXPECT_EQ(r.Text(Label::Lbl_Num), HistoryCountText(2));
    // Nothing selected: "打开" and "删除" send nothing.
    EXPECT_TRUE(r.C.OpenRecord().Frames.empty());
    EXPECT_TRUE(r.C.DeleteRecord().Frames.empty());
    r.C.SelectRecord(7); // no such row
    EXPECT_EQ(r.C.View().SelectedRow, -1);

    r.Receive(Empty(RspReturned)); // from the list back to idle
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));

    EXPECT_TRUE(Has(r.C.ClearHistory(), Short(CmdClearHistory)));
    EXPECT_EQ(r.Text(Label::Lbl_Info), texts::kClearingHistory);
    r.Receive(Empty(RspHistoryCleared));
    EXPECT_TRUE(r.C.View().HistoryRows.empty());
    EXPECT_EQ(r.Text(Label::Lbl_Info), texts::kHistoryCleared);
    EXPECT_EQ(r.Text(Label::Lbl_Num), HistoryCountText(0));
    r.After(3s);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
}

TEST(Controller, FilesFramesOfNoUseAndRanges) {
    Rig r;
    const ResultTexts t{"标题", "Cx：1.000nF", "详细"};
    r.C.ShowFile(t);
    EXPECT_EQ(r.C.View().AllState, AllStatePage::UpHis);
    EXPECT_TRUE(r.C.View().N3);
    EXPECT_EQ(r.C.ShownResult(), t);
    r.C.ReturnFromFile();
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::DefPage));
    r.C.FileOpenCancelled();
    EXPECT_FALSE(r.C.View().N3);

    // A frame too short to carry a code, and a code outside the tables, change nothing.
    const WindowView before = r.C.View();
    const Bytes tiny = {0x24, 0x1A, 0x00, 0x2A};
    EXPECT_TRUE(r.C.Frame(tiny.data(), Len(tiny)).TextsSet.empty());
    const Effects unknown = r.Receive(Empty(0x99));
    EXPECT_TRUE(unknown.Frames.empty());
    EXPECT_TRUE(unknown.Messages.empty());
    EXPECT_EQ(r.C.View().Texts, before.Texts);
    EXPECT_EQ(r.C.View().AllState, before.AllState);

    // The range checks when the operator leaves a field.
    r.Connect(6);
    r.C.PanelEdited(PanelEdit::Edt_Volt, "12500");
    Effects e = r.C.FieldLeft(PanelEdit::Edt_Volt);
    ASSERT_EQ(e.Messages.size(), 1u);
    EXPECT_EQ(e.Messages[0].Text, texts::kVoltRange12000);
    EXPECT_EQ(e.Refocus, PanelEdit::Edt_Volt);
    r.C.PanelEdited(PanelEdit::Edt_Volt, "12000");
    EXPECT_TRUE(r.C.FieldLeft(PanelEdit::Edt_Volt).Messages.empty());
    r.C.PanelEdited(PanelEdit::CBox_VoltUp, "50");
    EXPECT_EQ(r.C.FieldLeft(PanelEdit::CBox_VoltUp).Refocus, PanelEdit::CBox_VoltUp);
    EXPECT_TRUE(r.C.FieldLeft(PanelEdit::Edt_C).Messages.empty());
}

TEST(Controller, AVanishedLineUnderTestKeepsTheTestState) {
    Rig r;
    r.Connect();
    r.C.StartTest();
    const Effects lost = r.C.LineLost();
    EXPECT_TRUE(lost.ClosePort);
    EXPECT_FALSE(r.C.State().PortOpen);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::Info));
    EXPECT_EQ(r.Text(Label::Lbl_Info), texts::kPortError);
    // The instrument may still hold high voltage.
    EXPECT_TRUE(r.C.State().TestRunning);
    EXPECT_TRUE(r.C.View().BBtn_StopTest);
    EXPECT_FALSE(r.C.PanelModel().BBtn_StartTest);
    EXPECT_FALSE(r.C.PanelModel().CBox_ConnType.Enabled);
    EXPECT_TRUE(r.C.PanelModel().N2); // another port may be chosen
    EXPECT_FALSE(r.C.CloseRequested().CloseAccepted);
    // "停止测试" cannot be sent, and says so.
    const Effects stop = r.C.StopTest();
    EXPECT_TRUE(stop.Frames.empty());
    ASSERT_EQ(stop.Messages.size(), 1u);
    EXPECT_EQ(stop.Messages[0].Text, texts::kStopNotSent);
    EXPECT_TRUE(r.C.State().TestRunning);

    // Every tick asks for the port again until it is back; the error then gives way.
    EXPECT_TRUE(r.After(500ms).ReopenPort);
    EXPECT_TRUE(r.C.PortReopened(false).Messages.empty());
    EXPECT_TRUE(r.After(500ms).ReopenPort);
    r.C.PortReopened(true);
    EXPECT_TRUE(r.C.State().PortOpen);
    EXPECT_EQ(r.Text(Label::Lbl_Info), texts::kPortRestored);
    EXPECT_FALSE(r.C.PanelModel().N2);
    EXPECT_FALSE(r.After(500ms).ReopenPort);
    EXPECT_TRUE(Has(r.C.StopTest(), Short(CmdStopTest)));
    r.Receive(Empty(RspStopped));
    EXPECT_TRUE(r.C.PanelModel().BBtn_StartTest);

    // Live frames after the line is back are shown as usual.
    r.C.StartTest();
    r.C.LineLost();
    r.C.PortReopened(true);
    r.Receive(Payload(12).F(0, 2).F(8, 0.0125f).Frame(RspStepResult));
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::UpVolt));
    EXPECT_TRUE(r.C.View().BBtn_StopTest);

    // Another port chosen while the line is gone ends the test; the same port does not.
    r.C.LineLost();
    r.C.PortOpened(true, "/dev/ttyS0");
    EXPECT_TRUE(r.C.State().TestRunning);
    r.C.LineLost();
    r.C.PortOpened(true, "/dev/ttyUSB0");
    EXPECT_FALSE(r.C.State().TestRunning);
    EXPECT_TRUE(r.C.PanelModel().BBtn_StartTest);
    EXPECT_FALSE(r.C.View().BBtn_StopTest);

    // Connected and idle: the panel stays usable. Not connected: it stays empty.
    r.C.LineLost();
    EXPECT_TRUE(r.C.PanelModel().BBtn_StartTest);
    Rig idle;
    idle.C.LineLost();
    EXPECT_FALSE(idle.C.PanelModel().BBtn_StartTest);
    // A port that could not be opened is tried again at every tick, without a box.
    EXPECT_EQ(idle.C.PortOpened(false, "/dev/ttyUSB0").Messages.size(), 1u);
    EXPECT_TRUE(idle.After(500ms).ReopenPort);
}

TEST(Controller, ARefusedCloseIsNotCarriedOutLater) {
    Rig r;
    r.Connect();
    r.C.StartTest();
    EXPECT_FALSE(r.C.CloseRequested().CloseAccepted);
    EXPECT_FALSE(r.C.State().CloseRequested);
    r.Receive(Payload(46).F(24, 1).Frame(RspFinalResult));
    EXPECT_FALSE(r.After(10s).CloseWindow);
    EXPECT_TRUE(r.On(AllStatePage::Default, SstatePage::ShowState));
}

TEST(Controller, TheDeletionWaitEndsWithAnyAnswerOrAfterSixSeconds) {
    Rig r;
    r.Connect();
    auto list = [&] {
        r.C.ReadIndex();
        for (int k = 1; k <= 3; ++k) {
            r.Receive(Payload(8)
                          .B(0, 3)
                          .B(1, static_cast<std::uint8_t>(k))
                          .Date(2, 16, 3, 24, 15, 34, k)
                          .Frame(RspIndex));
        }
    };
    list();
    auto deletes = [&] { return !r.C.DeleteRecord().Frames.empty(); };
    ASSERT_TRUE(deletes());
    EXPECT_FALSE(deletes());
    r.After(5900ms);
    EXPECT_FALSE(deletes());
    r.After(100ms);
    EXPECT_TRUE(deletes()); // no answer in 6 s
    r.Receive(Payload(17).B(16, 0xB3).Frame(RspError));
    r.C.SelectRecord(0);
    EXPECT_TRUE(deletes());
    r.Receive(Empty(RspHistoryCleared));
    list();
    EXPECT_TRUE(deletes());
    list(); // a new listing
    EXPECT_TRUE(deletes());
}

TEST(Controller, ReplayingSentFrames) {
    Rig r;
    r.Connect(4, 2, 0, 10000); // frequency code 0 with a voltage: internal, no frequency
    EXPECT_EQ(r.C.PanelModel().CBox_Freq.ItemIndex, -1);
    const TestParameters p = r.C.PanelModel().ReadTestParameters();
    EXPECT_EQ(p.FrequencyCode, 0);
    EXPECT_EQ(p.TestVoltage, 10000);
    r.C.StartTest();
    r.Receive(BuildFrame(RspTestStarted, Bytes(17)));
    const std::string shown = r.Text(Label::Lbl_Guding);

    // A replay that learns the panel from the start frame alone comes to the same line.
    Rig replay;
    replay.Connect(4, 3, 6, 0); // another mode, external voltage
    const auto frame = BuildStartTest(p);
    const Effects e = replay.C.ReplaySent(frame.data(), static_cast<int>(frame.size()));
    EXPECT_TRUE(e.Frames.empty());
    EXPECT_TRUE(e.GaugeChanged);
    EXPECT_TRUE(replay.C.State().TestRunning);
    replay.Receive(BuildFrame(RspTestStarted, Bytes(17)));
    EXPECT_EQ(replay.Text(Label::Lbl_Guding), shown);
    EXPECT_EQ(replay.C.View().GaugeMaximum, r.C.View().GaugeMaximum);

    // External high voltage is a start frame with neither frequency nor voltage.
    TestParameters external = p;
    external.TestVoltage = 0;
    const auto ext = BuildStartTest(external);
    replay.C.ReplaySent(ext.data(), static_cast<int>(ext.size()));
    EXPECT_EQ(replay.C.PanelModel().CBox_TestVolt.Text(), texts::kExternalHighVoltage);

    // The deletion of a record selects its row, so that the answer removes that row.
    replay.C.ReplaySent(Short(CmdReadIndex).data(), kShortCommandLength);
    for (int k = 1; k <= 3; ++k) {
        replay.Receive(Payload(8)
                           .B(0, 3)
                           .B(1, static_cast<std::uint8_t>(k))
                           .Date(2, 16, 3, 24, 15, 34, k)
                           .Frame(RspIndex));
    }
    replay.C.ReplaySent(Short(CmdDeleteRecord, 3).data(), kShortCommandLength);
    replay.Receive(Empty(RspRecordDeleted));
    ASSERT_EQ(replay.C.View().HistoryRows.size(), 2u);
    EXPECT_EQ(replay.C.View().HistoryRows[1].Time, "2016-03-24 15:34:02");
}
