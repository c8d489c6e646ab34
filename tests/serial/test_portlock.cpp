// A port is never shared silently: another process that has it open, a lock file of a live
// process, a device the user may not open. Real pseudo-terminals and real processes.
#include "serial/commport.h"
#include "serial/portlock.h"

#include "support/process.h"
#include "support/pty.h"
#include "support/tempdir.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::test;

namespace {

const TCommPort Port;

CommHandle Open(const std::string& path, PortRefusal* refusal) {
    return Port.OpenComm(path, 9600, 8, kParityNone, kOneStopBit, 0, refusal);
}

// Lock files go to a folder of the test's own.
class LockFolder {
public:
    LockFolder() { ::setenv("DIELMON_LOCK_DIR", Dir.Path().c_str(), 1); }
    ~LockFolder() {
        if (Old != nullptr) {
            ::setenv("DIELMON_LOCK_DIR", Old->c_str(), 1);
        } else {
            ::unsetenv("DIELMON_LOCK_DIR");
        }
    }
    TempDir Dir;
    const std::unique_ptr<std::string> Old = [] {
        const char* old = std::getenv("DIELMON_LOCK_DIR");
        return old != nullptr ? std::make_unique<std::string>(old) : nullptr;
    }();
};

std::string LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// The number of a process that has ended.
pid_t EndedProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace

TEST(PortSharing, APortAnotherProcessHasOpenIsRefusedUntilItLetsGo) {
    PseudoTerminal pty;
    PortRefusal refusal;
    {
        DeviceHolder other(pty.Path());
        ASSERT_TRUE(other.Holding());
        EXPECT_EQ(Open(pty.Path(), &refusal), 0);
        EXPECT_EQ(refusal.Why, PortRefusal::Reason::OpenElsewhere);
        EXPECT_EQ(refusal.Holder, other.Pid());
        EXPECT_EQ(ProcessName(other.Pid()), "sleep");
        // The same device under another name is the same device.
        TempDir dir;
        ASSERT_EQ(::symlink(pty.Path().c_str(), dir.File("port").c_str()), 0);
        EXPECT_EQ(Open(dir.File("port"), &refusal), 0);
        EXPECT_EQ(refusal.Holder, other.Pid());
    }
    ASSERT_TRUE(WaitUntil([&] { return !FindPortHolder(pty.Path()); }));
    const CommHandle h = Open(pty.Path(), &refusal);
    EXPECT_GE(h, 3);
    EXPECT_FALSE(refusal);
    Port.CloseComm(h);
}

TEST(PortSharing, TheFarEndOfAPseudoTerminalIsNoSecondUser) {
    // A process holding the master side as well, as a simulated instrument does, is the cable's
    // other end; the master is inherited, the slave opened on top of it.
    PseudoTerminal pty;
    int ready[2] = {-1, -1};
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t farEnd = ::fork();
    if (farEnd == 0) {
        const int slave = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
        const char c = slave >= 0 ? 'y' : 'n';
        if (::write(ready[1], &c, 1) != 1) {
            ::_exit(1);
        }
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    PortRefusal refusal;
    const CommHandle h = Open(pty.Path(), &refusal);
    EXPECT_GE(h, 3);
    EXPECT_FALSE(refusal) << "refused for process " << refusal.Holder;
    Port.CloseComm(h);
    ::kill(farEnd, SIGKILL);
    ::waitpid(farEnd, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(PortSharing, TheProgramKeepsALockFileWhileItHoldsThePortAndHonoursOthers) {
    LockFolder locks;
    PseudoTerminal pty;
    const std::string lock = PortLockPath(pty.Path());
    ASSERT_EQ(pty.Path().rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(lock, locks.Dir.File("LCK..pts_" + pty.Path().substr(9)));
    PortRefusal refusal;

    // Ours while the port is open, gone when it closes.
    CommHandle h = Open(pty.Path(), &refusal);
    ASSERT_GE(h, 3);
    EXPECT_EQ(ReadAll(lock), LockText(::getpid()));
    Port.CloseComm(h);
    EXPECT_FALSE(std::filesystem::exists(lock));

    // A live process's lock file refuses the port and stays as it was.
    {
        Process other("/bin/sleep", {"600"});
        WriteAll(lock, LockText(other.Pid()));
        EXPECT_EQ(Open(pty.Path(), &refusal), 0);
        EXPECT_EQ(refusal.Why, PortRefusal::Reason::LockFile);
        EXPECT_EQ(refusal.Holder, other.Pid());
        EXPECT_EQ(ReadAll(lock), LockText(other.Pid()));
        // Older programs write the number alone, or as a binary int.
        WriteAll(lock, std::to_string(other.Pid()));
        EXPECT_EQ(Open(pty.Path(), &refusal), 0);
        const int binary = other.Pid();
        WriteAll(lock, std::string(reinterpret_cast<const char*>(&binary), sizeof binary));
        EXPECT_EQ(Open(pty.Path(), &refusal), 0);
        EXPECT_EQ(refusal.Holder, other.Pid());
    }

    // Stale files (a process that has ended, garbage, nothing) give way to ours.
    for (const std::string& stale : {LockText(EndedProcess()), std::string("garbage\n"),
                                     std::string(), LockText(::getpid())}) {
        WriteAll(lock, stale);
        h = Open(pty.Path(), &refusal);
        ASSERT_GE(h, 3) << stale;
        EXPECT_FALSE(refusal);
        EXPECT_EQ(ReadAll(lock), LockText(::getpid()));
        Port.CloseComm(h);
        EXPECT_FALSE(std::filesystem::exists(lock));
    }

    // A folder that takes no file: the port opens all the same.
    ::setenv("DIELMON_LOCK_DIR", locks.Dir.File("missing").c_str(), 1);
    h = Open(pty.Path(), &refusal);
    EXPECT_GE(h, 3);
    Port.CloseComm(h);
}

TEST(PortSharing, APortTheUserMayNotOpenSaysSo) {
    PseudoTerminal pty;
    ASSERT_EQ(::chmod(pty.Path().c_str(), 0), 0);
    EXPECT_FALSE(DeviceGroup(pty.Path()).empty());
    const int result = AsUnprivilegedUser([&pty] {
        PortRefusal refusal;
        const CommHandle h = Open(pty.Path(), &refusal);
        return h == 0 && refusal.Why == PortRefusal::Reason::NoPermission && refusal.Error == EACCES
                   ? 0
                   : 1;
    });
    EXPECT_EQ(result, 0);
    // A port that does not exist is no question of permission.
    PortRefusal refusal;
    EXPECT_EQ(Open("/dev/no-such-port", &refusal), 0);
    EXPECT_FALSE(refusal);
}

TEST(PortSharing, AWriteReportsSuccessOnlyForBytesItSent) {
    PseudoTerminal pty;
    const CommHandle h = Open(pty.Path(), nullptr);
    ASSERT_GE(h, 3);
    const std::uint8_t frame[] = {0x24, 0xA1, 0x00, 0xA1, 0x2A};
    EXPECT_TRUE(Port.WriteComm(h, frame, sizeof frame));
    // Nobody drains the line: what does not fit within the time limit is not sent.
    const Bytes lots(1 << 20, 0x55);
    EXPECT_FALSE(Port.WriteComm(h, lots.data(), static_cast<int>(lots.size())));
    // The far end has gone: nothing is sent.
    pty.HangUp();
    EXPECT_FALSE(Port.WriteComm(h, frame, sizeof frame));
    Port.CloseComm(h);
}
