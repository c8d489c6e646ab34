// The simulator as the operator runs it, dielmon-sim in a process of its own, with the program's
// connection on the port it prints; and the simulator serving a device it is given.
#include "link.h"

#include "serial/portlist.h"
#include "support/process.h"
#include "support/pty.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

using namespace dielmon;
using namespace dielmon::link;

namespace {

TEST(SimProgram, ThePortItPrintsCarriesAWholeTestAndSigtermEndsItCleanly) {
    Process sim(SimProgram(), {"--speed", "100", "--type", "6", "--double-steps", "--trace"});
    ASSERT_TRUE(sim.Running());
    const std::string path = sim.ReadLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    EXPECT_TRUE(DeviceExists(path));

    Program program;
    ASSERT_TRUE(program.Open(path));
    Operator op;
    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty()) << "no answer to the connect";
    ASSERT_EQ(answer[1], RspParameters);
    op.Apply(answer);
    EXPECT_EQ(op.instrumentType, 6);
    EXPECT_EQ(op.doubleSteps, 1);
    op.ChooseWiring(5);
    const std::vector<Bytes> frames = RunTest(program, op);
    EXPECT_EQ(Codes(frames), TestFrames(20));
    for (const Bytes& f : frames) {
        EXPECT_TRUE(WellFormed(f));
    }

    ASSERT_TRUE(sim.Signal(SIGTERM));
    EXPECT_EQ(sim.Wait(), 0);
    // Its line went with it, and the program noticed.
    EXPECT_TRUE(WaitUntil([&] { return program.LinesLost() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return !DeviceExists(path); }));
    EXPECT_TRUE(program.Comm().Close());
    // --trace showed each command and each answer.
    const std::string trace = sim.ReadErr();
    EXPECT_NE(trace.find("<- 24 A1 11"), std::string::npos) << trace;
    EXPECT_NE(trace.find("-> 24 1A 16"), std::string::npos) << trace;
}

TEST(SimProgram, EndsByItselfAfterHangingUp) {
    Process sim(SimProgram(), {"--speed", "100", "--hangup-at", "0"});
    ASSERT_TRUE(sim.Running());
    Program program;
    ASSERT_TRUE(program.Open(sim.ReadLine()));
    Operator op;
    op.Apply(Connect(program));
    ASSERT_TRUE(program.SendStartTest(op.panel.ReadTestParameters()));
    EXPECT_TRUE(WaitUntil([&] { return program.LinesLost() == 1; }));
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProgram, HelpListsTheOptionsAndExitsWithZero) {
    Process sim(SimProgram(), {"--help"});
    EXPECT_EQ(sim.Wait(), 0);
    const std::string text = sim.ReadOut();
    EXPECT_NE(text.find("--hangup-at STEP"), std::string::npos) << text;
}

class SimProgramRejects : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SimProgramRejects, ABadOptionWithAMessageAndStatusTwo) {
    Process sim(SimProgram(), GetParam());
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_TRUE(sim.ReadOut().empty());
    const std::string message = sim.ReadErr();
    EXPECT_EQ(message.rfind("dielmon-sim: ", 0), 0u) << message;
}

INSTANTIATE_TEST_SUITE_P(BadOptions, SimProgramRejects,
                         testing::Values(std::vector<std::string>{"--bogus"},
                                         std::vector<std::string>{"--type", "9"},
                                         std::vector<std::string>{"--error", "B1"},
                                         std::vector<std::string>{"--records"},
                                         std::vector<std::string>{"--speed", "0"},
                                         std::vector<std::string>{"--hangup-at", "soon"}));

TEST(SimDevice, IsServedInPlaceOfAPseudoTerminalOfItsOwn) {
    // The test's own pseudo-terminal plays the cable: the simulator opens its far end.
    PseudoTerminal cable;
    sim::SimOptions options = FastOptions();
    options.Device = cable.Path();
    options.Baud = 19200;
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    EXPECT_EQ(instrument.DevicePath(), cable.Path());
    ASSERT_TRUE(cable.Write(ToBytes(BuildShortCommand(CmdConnect))));
    std::vector<Bytes> frames;
    ASSERT_TRUE(WaitUntil([&] {
        for (Bytes& f : cable.ReadFrames()) {
            frames.push_back(std::move(f));
        }
        return !frames.empty();
    }));
    EXPECT_EQ(Codes(frames), Sequence({{RspParameters, 1}}));
}

TEST(SimDevice, AMissingOneFailsToStartWithAMessage) {
    sim::SimOptions options = FastOptions();
    options.Device = "/nonexistent/ttyS9";
    sim::Simulator sim(options);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find("/nonexistent/ttyS9"), std::string::npos) << error;
    EXPECT_FALSE(sim.Running());
}

} // namespace
