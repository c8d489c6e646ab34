// The simulator on a real pseudo-terminal, and the dielmon-sim program. Every wait is on a
// condition with a generous deadline; the simulator runs at a high speed factor.
#include "sim/simulator.h"

#include "frames.h"

#include "core/commands.h"
#include "core/frame.h"
#include "core/responses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <thread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

using namespace dielmon;
using namespace dielmon::sim;
using namespace simtest;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 20s;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = kDeadline) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The program's end of the line, opened as the program opens it: raw and non-blocking.
class Port : FrameSink {
public:
    explicit Port(const std::string& path)
        : Fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (Fd_ >= 0) {
            termios t{};
            tcgetattr(Fd_, &t);
            cfmakeraw(&t);
            tcsetattr(Fd_, TCSANOW, &t);
        }
    }
    // Takes an open descriptor over.
    explicit Port(int fd) : Fd_(fd) {}
    ~Port() override { Close(); }

    bool Open() const { return Fd_ >= 0; }
    void Close() {
        if (Fd_ >= 0) {
            ::close(Fd_);
            Fd_ = -1;
        }
    }

    bool Send(const Bytes& frame) {
        return ::write(Fd_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    }

    // Reads until `done` holds or the limit passes; returns whether it holds.
    bool ReadUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kDeadline) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            pollfd p{Fd_, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0) {
                continue;
            }
            std::uint8_t buffer[kRecvBufSize];
            const ssize_t n = ::read(Fd_, buffer, sizeof buffer);
            if (n > 0) {
                Raw.insert(Raw.end(), buffer, buffer + n);
                ++Reads;
                Reassembly_.Feed(buffer, static_cast<int>(n), *this);
            } else if ((n == 0 && (p.revents & POLLHUP) != 0) || (n < 0 && errno == EIO)) {
                EndOfLine = true;
            }
        }
        return true;
    }

    bool ReadFrames(std::size_t count) {
        return ReadUntil([&] { return Frames.size() >= count; });
    }

    std::vector<std::uint8_t> Codes() const {
        std::vector<std::uint8_t> codes;
        for (const Bytes& f : Frames) {
            codes.push_back(f[1]);
        }
        return codes;
    }

    int Fd() const { return Fd_; }

    std::vector<Bytes> Frames;
    Bytes Raw;
    int Reads = 0;
    bool EndOfLine = false;

private:
    void FrameReady(const std::uint8_t* frame, int length) override {
        Frames.emplace_back(frame, frame + length);
    }

    int Fd_;
    Reassembler Reassembly_;
};

class LineTest : public testing::Test {
protected:
    LineTest() { Options_.Speed = 1000; }

    Simulator& Start() {
        Sim_ = std::make_unique<Simulator>(Options_);
        std::string error;
        EXPECT_TRUE(Sim_->Start(&error)) << error;
        return *Sim_;
    }

    SimOptions Options_;
    std::unique_ptr<Simulator> Sim_;
};

const std::vector<std::uint8_t> kOneChannelTest =
    Sequence({{RspTestStarted, 1}, {RspBoosting, 10}, {RspStepResult, 10}, {RspFinalResult, 1}});

TEST_F(LineTest, ConnectIsAnsweredWithTheParametersOverThePseudoTerminal) {
    Simulator& sim = Start();
    EXPECT_EQ(sim.DevicePath().rfind("/dev/pts/", 0), 0u) << sim.DevicePath();
    Port port(sim.DevicePath());
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.Send(Command(CmdConnect)));
    ASSERT_TRUE(port.ReadFrames(1));
    const Bytes& f = port.Frames[0];
    EXPECT_EQ(f[1], RspParameters);
    EXPECT_EQ(PayloadLength(f), 22);
    EXPECT_TRUE(WellFormed(f));
    EXPECT_EQ(port.Raw, f);
    EXPECT_TRUE(WaitFor([&] { return sim.FramesSent(RspParameters) == 1; }));
    EXPECT_EQ(sim.CommandsReceived(CmdConnect), 1u);
    EXPECT_EQ(sim.CommandsReceived(), 1u);
}

TEST_F(LineTest, AWholeTestArrivesFrameByFrame) {
    Options_.DoubleSteps = true;
    Simulator& sim = Start();
    Port port(sim.DevicePath());
    StartValues v;
    v.Channels = 2;
    ASSERT_TRUE(port.Send(StartTest(v)));
    ASSERT_TRUE(port.ReadFrames(52));
    EXPECT_EQ(
        port.Codes(),
        Sequence(
            {{RspTestStarted, 1}, {RspBoosting, 10}, {RspStepResult, 40}, {RspFinalResult, 1}}));
    EXPECT_EQ(PayloadLength(port.Frames.back()), 62);
    for (const Bytes& f : port.Frames) {
        EXPECT_TRUE(WellFormed(f));
    }
    EXPECT_TRUE(WaitFor([&] { return sim.FramesSent() == 52; }));
    EXPECT_EQ(sim.FramesSent(RspStepResult), 40u);
    EXPECT_EQ(sim.CommandsReceived(CmdStartTest), 1u);
}

TEST_F(LineTest, TheProgramMayCloseAndReopenThePort) {
    Simulator& sim = Start();
    {
        Port first(sim.DevicePath());
        ASSERT_TRUE(first.Send(Command(CmdConnect)));
        ASSERT_TRUE(first.ReadFrames(1));
    }
    Port again(sim.DevicePath());
    ASSERT_TRUE(again.Open());
    ASSERT_TRUE(again.Send(Command(CmdReadIndex)));
    ASSERT_TRUE(again.ReadFrames(9));
    EXPECT_EQ(again.Codes(), Sequence({{RspIndex, 9}}));
    EXPECT_TRUE(sim.Running());
}

struct LineFaults {
    bool Split;
    bool Noise;
};

class WithLineFaults : public LineTest, public testing::WithParamInterface<LineFaults> {};

TEST_P(WithLineFaults, EveryFrameStillArrivesWholeAndInOrder) {
    Options_.Split = GetParam().Split;
    Options_.Noise = GetParam().Noise;
    Simulator& sim = Start();
    Port port(sim.DevicePath());
    ASSERT_TRUE(port.Send(StartTest(StartValues{})));
    ASSERT_TRUE(port.ReadFrames(22));
    ASSERT_TRUE(port.Send(Command(CmdReadIndex)));
    ASSERT_TRUE(port.ReadFrames(31));
    auto expected = kOneChannelTest;
    expected.insert(expected.end(), 9, RspIndex);
    EXPECT_EQ(port.Codes(), expected);
    std::size_t frameBytes = 0;
    for (const Bytes& f : port.Frames) {
        EXPECT_TRUE(WellFormed(f));
        frameBytes += f.size();
    }
    if (GetParam().Noise) {
        // Noise stands before every frame and holds no "$".
        EXPECT_GE(sim.NoiseBytesSent(), port.Frames.size());
        EXPECT_EQ(port.Raw.size(), frameBytes + sim.NoiseBytesSent());
        EXPECT_EQ(std::count(port.Raw.begin(), port.Raw.end(), kFrameStart),
                  std::accumulate(port.Frames.begin(), port.Frames.end(), std::ptrdiff_t{0},
                                  [](std::ptrdiff_t n, const Bytes& f) {
                                      return n + std::count(f.begin(), f.end(), kFrameStart);
                                  }));
    } else {
        EXPECT_EQ(port.Raw.size(), frameBytes);
    }
    if (GetParam().Split) {
        EXPECT_TRUE(WaitFor([&] { return sim.FramesSent() == 31; }));
        EXPECT_GT(sim.WritesMade(), 2 * sim.FramesSent());
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, WithLineFaults,
                         testing::Values(LineFaults{true, false}, LineFaults{false, true},
                                         LineFaults{true, true}));

TEST_F(LineTest, BadCheckFramesCarryAWrongCheckByte) {
    Options_.BadCheck = true;
    Simulator& sim = Start();
    Port port(sim.DevicePath());
    ASSERT_TRUE(port.Send(Command(CmdConnect)));
    ASSERT_TRUE(port.Send(StartTest(StartValues{})));
    ASSERT_TRUE(port.ReadFrames(23));
    for (const Bytes& f : port.Frames) {
        EXPECT_NE(f[f.size() - 2], CalcCheckCode(f.data(), static_cast<int>(f.size())));
    }
}

TEST_F(LineTest, AHangUpEndsTheProgramsLineAfterWhatWasSentBefore) {
    Options_.HangupAt = 2;
    Simulator& sim = Start();
    Port port(sim.DevicePath());
    ASSERT_TRUE(port.Send(StartTest(StartValues{})));
    ASSERT_TRUE(port.ReadUntil([&] { return port.EndOfLine; }));
    EXPECT_EQ(port.Codes(), Sequence({{RspTestStarted, 1}, {RspBoosting, 10}, {RspStepResult, 1}}));
    EXPECT_TRUE(WaitFor([&] { return !sim.Running(); }));
    EXPECT_TRUE(sim.HungUp());
    // Reads find the end of the line; writes fail.
    std::uint8_t byte = 0;
    EXPECT_LE(::read(port.Fd(), &byte, 1), 0);
    errno = 0;
    EXPECT_EQ(::write(port.Fd(), "$", 1), -1);
    EXPECT_EQ(errno, EIO);
}

TEST_F(LineTest, SilentAnswersNothing) {
    Options_.Silent = true;
    Simulator& sim = Start();
    Port port(sim.DevicePath());
    ASSERT_TRUE(port.Send(Command(CmdConnect)));
    ASSERT_TRUE(port.Send(StartTest(StartValues{})));
    EXPECT_TRUE(WaitFor([&] { return sim.CommandsReceived() == 2; }));
    // A short grace period: at speed 1000 every answer would be due within a few ms.
    port.ReadUntil([] { return false; }, 300ms);
    EXPECT_TRUE(port.Raw.empty());
    EXPECT_EQ(sim.FramesSent(), 0u);
}

TEST_F(LineTest, StopEndsTheSimulatorDuringATestAtNormalSpeed) {
    Options_.Speed = 1;
    Simulator& sim = Start();
    Port port(sim.DevicePath());
    ASSERT_TRUE(port.Send(StartTest(StartValues{})));
    ASSERT_TRUE(port.ReadFrames(1));
    sim.Stop();
    EXPECT_FALSE(sim.Running());
    sim.Stop();
}

TEST_F(LineTest, ADeviceIsServedInPlaceOfAPseudoTerminal) {
    // The test's own pseudo-terminal plays the cable: the simulator opens its far end.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    Port port(master);
    Options_.Device = ptsname(master);
    Options_.Baud = 19200;
    Simulator& sim = Start();
    EXPECT_EQ(sim.DevicePath(), Options_.Device);
    ASSERT_TRUE(port.Send(Command(CmdConnect)));
    ASSERT_TRUE(port.ReadFrames(1));
    EXPECT_EQ(port.Frames[0][1], RspParameters);
}

TEST_F(LineTest, AMissingDeviceFailsToStartWithAMessage) {
    Options_.Device = "/nonexistent/ttyS9";
    Simulator sim(Options_);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find("/nonexistent/ttyS9"), std::string::npos) << error;
    EXPECT_FALSE(sim.Running());
}

// ---------------------------------------------------------------------------------------------

struct Child {
    pid_t Pid = -1;
    int Out = -1; // standard output
    int Err = -1; // standard error

    ~Child() {
        if (Out >= 0) {
            ::close(Out);
        }
        if (Err >= 0) {
            ::close(Err);
        }
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }

    // Reads from fd until a line ends, the stream ends or the deadline passes.
    static std::string ReadLine(int fd) {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            char c = 0;
            if (::read(fd, &c, 1) != 1 || c == '\n') {
                break;
            }
            text += c;
        }
        return text;
    }

    static std::string ReadAll(int fd) {
        std::string text;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    // The exit status, or -1 when it did not end normally within the deadline.
    int Wait() {
        int status = 0;
        const bool ended = WaitFor([&] { return ::waitpid(Pid, &status, WNOHANG) == Pid; });
        if (!ended) {
            return -1;
        }
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

std::unique_ptr<Child> Spawn(const std::vector<std::string>& args) {
    const char* program = std::getenv("DIELMON_SIM");
    if (program == nullptr) {
        ADD_FAILURE() << "DIELMON_SIM names no program";
        return nullptr;
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipes";
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    auto child = std::make_unique<Child>();
    const int rc = posix_spawn(&child->Pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    child->Out = out[0];
    child->Err = err[0];
    if (rc != 0) {
        child->Pid = -1;
        ADD_FAILURE() << "cannot run " << program;
        return nullptr;
    }
    return child;
}

TEST(SimProgram, PrintsItsPortFirstAnswersOnItAndEndsOnSigterm) {
    auto child = Spawn({"--speed", "1000", "--trace"});
    ASSERT_TRUE(child);
    const std::string path = Child::ReadLine(child->Out);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    Port port(path);
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.Send(Command(CmdConnect)));
    ASSERT_TRUE(port.ReadFrames(1));
    EXPECT_EQ(port.Frames[0][1], RspParameters);
    ASSERT_EQ(::kill(child->Pid, SIGTERM), 0);
    EXPECT_EQ(child->Wait(), 0);
    // --trace showed the command and the answer.
    const std::string trace = Child::ReadAll(child->Err);
    EXPECT_NE(trace.find("<- 24 A1 11"), std::string::npos) << trace;
    EXPECT_NE(trace.find("-> 24 1A 16"), std::string::npos) << trace;
}

TEST(SimProgram, EndsByItselfAfterHangingUp) {
    auto child = Spawn({"--speed", "1000", "--hangup-at", "0"});
    ASSERT_TRUE(child);
    Port port(Child::ReadLine(child->Out));
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.Send(StartTest(StartValues{})));
    EXPECT_TRUE(port.ReadUntil([&] { return port.EndOfLine; }));
    EXPECT_EQ(child->Wait(), 0);
}

TEST(SimProgram, HelpListsTheOptionsAndExitsWithZero) {
    auto child = Spawn({"--help"});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Wait(), 0);
    const std::string text = Child::ReadAll(child->Out);
    EXPECT_NE(text.find("--hangup-at STEP"), std::string::npos) << text;
}

class SimProgramRejects : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SimProgramRejects, ABadOptionWithAMessageAndStatusTwo) {
    auto child = Spawn(GetParam());
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Wait(), 2);
    EXPECT_TRUE(Child::ReadAll(child->Out).empty());
    const std::string message = Child::ReadAll(child->Err);
    EXPECT_EQ(message.rfind("dielmon-sim: ", 0), 0u) << message;
}

INSTANTIATE_TEST_SUITE_P(BadOptions, SimProgramRejects,
                         testing::Values(std::vector<std::string>{"--bogus"},
                                         std::vector<std::string>{"--type", "9"},
                                         std::vector<std::string>{"--error", "B1"},
                                         std::vector<std::string>{"--records"},
                                         std::vector<std::string>{"--speed", "0"},
                                         std::vector<std::string>{"--hangup-at", "soon"}));

} // namespace
