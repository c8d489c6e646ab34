// The window and the trace tool show the same: the window runs a session against frames
// written into its port, then the tool replays the window's own log.
#include "core/commands.h"
#include "core/responses.h"
#include "fixture.h"
#include "support/pty.h"
#include "trace_replay.h"

#include <map>

using namespace dielmon;
using namespace dielmon::test;

namespace {

// What the replay shows last of each control, page and gauge.
struct Replayed {
    std::map<std::string, std::string> Texts;
    std::map<std::string, std::string> Pages;
    std::map<std::string, long long> Fields;
    std::vector<TraceEvent> Events;
};

Replayed Replay(const std::string& logFile) {
    Replayed r;
    TraceReplay replay;
    for (const TraceLine& line : ParseTraceLog(ReadAll(logFile)).Lines) {
        for (TraceEvent& e : replay.Feed(line)) {
            for (const auto& [name, text] : e.Texts) {
                r.Texts[name] = text;
            }
            for (const auto& [notebook, page] : e.Pages) {
                r.Pages[notebook] = page;
            }
            for (const DecodedField& f : e.Fields) {
                if (f.Type == DecodedField::Integer) {
                    r.Fields[f.Name] = f.IntegerValue;
                }
            }
            r.Events.push_back(std::move(e));
        }
    }
    return r;
}

} // namespace

TEST(Agreement, WindowAndTraceToolShowTheSameSession) {
    PseudoTerminal line;
    Fixture f({}, false);
    f.Open(line.Path());
    ASSERT_TRUE(f.Window->State().PortOpen);
    auto receive = [&](const Bytes& frame) {
        const auto before = f.Window->FramesDispatched();
        ASSERT_TRUE(line.Write(frame));
        ASSERT_TRUE(WaitUntil([&] { return f.Window->FramesDispatched() > before; }));
        f.Clock.Advance(std::chrono::seconds(1));
    };

    f.Trigger("N7");
    ASSERT_EQ(line.Read(kShortCommandLength)[1], CmdConnect);
    // 反接线 with internal high voltage and no frequency: the start frame carries frequency
    // code 0 with a voltage.
    receive(ParametersFrame(4, 2, 1, 0, 10000));
    f.Click("BBtn_StartTest");
    const auto sent = line.Read(kStartTestLength);
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kStartTestLength));
    ASSERT_EQ(sent[1], CmdStartTest);
    ASSERT_EQ(sent[6], 0);                      // frequency code
    ASSERT_EQ((sent[7] << 8) | sent[8], 10000); // with a voltage
    receive(BuildFrame(RspTestStarted, std::vector<std::uint8_t>(17)));
    receive(Payload(8).F(0, 1.5f).F(4, 0.025f).Frame(RspBoosting));
    // Fifteen steps where the gauge holds ten.
    for (int k = 0; k < 15; ++k) {
        receive(Payload(12).F(0, 2 + k).F(8, 0.0125f).Frame(RspStepResult));
    }
    QProgressBar* gauge = f.W<QProgressBar>("ProgBar_Step");
    EXPECT_EQ(gauge->maximum(), 10);
    EXPECT_EQ(gauge->value(), 10);

    Replayed r = Replay(f.Window->Log().LogFileName());
    EXPECT_EQ(r.Fields["ProgBar_Step.Max"], gauge->maximum());
    EXPECT_EQ(r.Fields["ProgBar_Step"], gauge->value());
    for (const char* name : {"Lbl_Guding", "Lbl_UpInfo"}) {
        EXPECT_EQ(r.Texts[name], Text(f.W(name))) << name;
    }
    EXPECT_EQ(Text(f.W("Lbl_Guding")), "反接线\\内标准\\定频\\内高压");
    EXPECT_EQ(r.Pages["Nbk_Sstate"], "UpVolt");

    // An instrument error, then nothing on the line for 7 s: the window's clock ends the test,
    // and the tool crosses the same gap in the log.
    receive(Payload(17).B(16, 0xB3).Frame(RspError));
    for (int k = 0; k < 14; ++k) {
        f.Clock.Advance(std::chrono::milliseconds(500));
        f.Window->Timer_NowTimer();
    }
    ASSERT_TRUE(f.OnPages("Default", "DefPage"));
    ASSERT_FALSE(f.Window->State().TestRunning);
    receive(BuildFrame(0x99, std::vector<std::uint8_t>{}));
    r = Replay(f.Window->Log().LogFileName());
    EXPECT_EQ(r.Texts["Lbl_Error"], Text(f.W("Lbl_Error")));
    EXPECT_EQ(r.Pages["Nbk_AllState"], "Default");
    EXPECT_EQ(r.Pages["Nbk_Sstate"], "DefPage");
    bool expiryShown = false;
    for (const TraceEvent& e : r.Events) {
        expiryShown = expiryShown || (e.Dir == TraceEvent::Tick && !e.Pages.empty());
    }
    EXPECT_TRUE(expiryShown);
}
