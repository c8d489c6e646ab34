// The simulator as the operator runs it, dielmon-sim in a process of its own, with the program's
// connection on the port it prints.
#include "link.h"

#include "serial/portlist.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace dielmon;
using namespace dielmon::link;

namespace {

// dielmon-sim with its standard output on a pipe; killed and reaped if still running at the end.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        const char* program = std::getenv("DIELMON_SIM");
        if (program == nullptr) {
            ADD_FAILURE() << "DIELMON_SIM names no program";
            return;
        }
        int out[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "no pipe";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> all = {program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&Pid_, program, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        Out_ = out[0];
        if (rc != 0) {
            Pid_ = -1;
            ADD_FAILURE() << "cannot run " << program;
        }
    }
    ~SimProcess() {
        if (Out_ >= 0) {
            ::close(Out_);
        }
        if (Pid_ > 0) {
            ::kill(Pid_, SIGKILL);
            ::waitpid(Pid_, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Running() const { return Pid_ > 0; }

    // The first line of its standard output, without the line break.
    std::string FirstLine() {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{Out_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            char c = 0;
            if (::read(Out_, &c, 1) != 1 || c == '\n') {
                break;
            }
            line += c;
        }
        return line;
    }

    bool Signal(int signal) const { return Pid_ > 0 && ::kill(Pid_, signal) == 0; }

    // Its exit status, or -1 when it did not exit normally within the deadline.
    int Wait() {
        int status = 0;
        if (!WaitUntil([&] { return ::waitpid(Pid_, &status, WNOHANG) == Pid_; })) {
            return -1;
        }
        Pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t Pid_ = -1;
    int Out_ = -1;
};

TEST(SimProgram, ThePortItPrintsCarriesAWholeTestAndSigtermEndsItCleanly) {
    SimProcess sim({"--speed", "100", "--type", "6", "--double-steps"});
    ASSERT_TRUE(sim.Running());
    const std::string path = sim.FirstLine();
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
}

} // namespace
