// The far end going away in the middle of a test, and the connection going away while the
// instrument streams and the window holds the hand-over.
#include "link.h"

#include "serial/portlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace dielmon;
using namespace dielmon::link;

namespace {

struct HangUp {
    int Step;
    int StepFramesBefore; // -1: not even the boosting frames
};

class FarEndHangsUp : public testing::TestWithParam<HangUp> {};

TEST_P(FarEndHangsUp, TheReaderReportsTheLostLineOnceStopsReadingAndTheConnectionMovesOn) {
    const HangUp param = GetParam();
    sim::SimOptions options = FastOptions();
    options.HangupAt = param.Step;
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    const std::string path = instrument.DevicePath();
    Program program;
    ASSERT_TRUE(program.Open(path));
    Operator op;
    op.Apply(Connect(program));
    ASSERT_EQ(op.Gauge(), 10);

    const std::size_t mark = program.FrameCount();
    ASSERT_TRUE(program.SendStartTest(op.panel.ReadTestParameters()));
    ASSERT_TRUE(WaitUntil([&] { return program.LinesLost() >= 1; }))
        << "the hang-up went unnoticed";
    EXPECT_TRUE(instrument.HungUp());
    EXPECT_TRUE(WaitUntil([&] { return !instrument.Running(); })) << "the simulator ran on";

    // Everything sent before the hang-up arrived.
    const std::vector<std::uint8_t> before =
        param.StepFramesBefore < 0 ? Sequence({{RspTestStarted, 1}})
                                   : Sequence({{RspTestStarted, 1},
                                               {RspBoosting, 10},
                                               {RspStepResult, param.StepFramesBefore}});
    EXPECT_EQ(Codes(program.Frames(mark)), before);
    EXPECT_EQ(program.Comm().Thread().BytesRead(), instrument.Written().size());

    // The reader leaves the dead handle alone: its passes go on, its reads do not.
    const TCommThread& reader = program.Comm().Thread();
    const std::uint64_t reads = reader.Reads();
    const std::uint64_t passes = reader.Passes();
    ASSERT_TRUE(WaitUntil([&] { return reader.Passes() >= passes + 5; }));
    EXPECT_EQ(reader.Reads(), reads) << "the lost line is still being read";
    EXPECT_EQ(program.LinesLost(), 1);
    // Stopping the test still returns at once, and says that nothing went out.
    FinishesWithin([&] { EXPECT_FALSE(program.SendCommand(CmdStopTest)); },
                   "a send on the lost line");

    // The device is gone from the system; the port is closed and the same connection opens
    // the next instrument.
    EXPECT_TRUE(WaitUntil([&] { return !DeviceExists(path); }));
    EXPECT_TRUE(program.Comm().IsOpen());
    EXPECT_TRUE(program.Comm().Close());
    SimInstrument next(FastOptions());
    ASSERT_TRUE(next.Started());
    ASSERT_TRUE(DeviceExists(next.DevicePath()));
    ASSERT_TRUE(program.Open(next.DevicePath()));
    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[1], RspParameters);
    EXPECT_EQ(program.LinesLost(), 1);
    EXPECT_GT(reader.Reads(), reads);
}

INSTANTIATE_TEST_SUITE_P(AtStep, FarEndHangsUp,
                         testing::Values(HangUp{0, -1}, HangUp{1, 0}, HangUp{4, 3}, HangUp{11, 10}),
                         [](const testing::TestParamInfo<HangUp>& info) {
                             return "Step" + std::to_string(info.param.Step);
                         });

// ---------------------------------------------------------------------------------------------

enum class Held { SinkBlocked, WindowBusy };

class DestroyedWhileHeld : public testing::TestWithParam<Held> {};

TEST_P(DestroyedWhileHeld, TheConnectionGoesWithoutDeadlockWhileTheInstrumentStreams) {
    sim::SimOptions options = FastOptions();
    options.Records = 100;
    options.Split = true; // a frame cut in pieces may be half in at the time
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));
    Operator op;
    op.Apply(Connect(program));

    // A long test and long listings keep the instrument writing.
    if (GetParam() == Held::SinkBlocked) {
        program.SinkGate().Close();
    } else {
        program.Window().Pause();
    }
    op.ChooseWiring(1, 4);
    const auto start = BuildStartTest(op.panel.ReadTestParameters());
    ASSERT_TRUE(program.Send(Bytes(start.begin(), start.end())));
    for (int k = 0; k < 3; ++k) {
        ASSERT_TRUE(program.SendCommand(CmdReadIndex));
    }
    ASSERT_TRUE(WaitUntil([&] {
        return GetParam() == Held::SinkBlocked ? program.SinkGate().Holding()
                                               : program.Window().Queued() >= 1;
    }));
    ASSERT_TRUE(WaitUntil([&] { return instrument.FramesSent() >= 5; }));
    EXPECT_TRUE(instrument.Running()) << "the instrument had stopped streaming";

    FinishesWithin([&] { program.DestroyConnection(); }, "destroying the connection");
    EXPECT_TRUE(program.HandOver().Cancelled());
    const std::size_t handed = program.FrameCount();

    // Whatever was waiting goes nowhere now; the instrument streams on into a closed port.
    program.SinkGate().Open();
    program.Window().Resume();
    ASSERT_TRUE(WaitUntil([&] { return program.Window().Queued() == 0; }));
    EXPECT_LE(program.FrameCount(), handed + 1) << "frames reached the window after the close";
    const Bytes received = Concat(program.Frames());
    const Bytes written = instrument.Written();
    ASSERT_LE(received.size(), written.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), written.begin()))
        << "frames lost, repeated or torn";
    EXPECT_TRUE(instrument.Running());
}

INSTANTIATE_TEST_SUITE_P(Holds, DestroyedWhileHeld,
                         testing::Values(Held::SinkBlocked, Held::WindowBusy),
                         [](const testing::TestParamInfo<Held>& info) {
                             return std::string(info.param == Held::SinkBlocked ? "SinkBlocked"
                                                                                : "WindowBusy");
                         });

} // namespace
