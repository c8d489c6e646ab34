#include "serial/serialcomm.h"

#include "core/log.h"
#include "support/pty.h"
#include "support/tempdir.h"
#include "support/termios.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

using namespace dielmon;
using namespace dielmon::test;

namespace {

struct Recorder : ReceiveHandler {
    void Receive(const std::uint8_t* data, int count) override {
        std::lock_guard<std::mutex> guard(lock);
        bytes.insert(bytes.end(), data, data + count);
    }
    void LineLost() override { ++lost; }
    Bytes Got() {
        std::lock_guard<std::mutex> guard(lock);
        return bytes;
    }

    std::mutex lock;
    Bytes bytes;
    std::atomic<int> lost{0};
};

std::size_t ThreadCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++n;
    }
    return n;
}

bool Open8N1(TSerialComm& comm, const std::string& path) {
    return comm.Open(path, 9600, 8, kParityNone, kOneStopBit, 0);
}

} // namespace

TEST(SerialComm, TheReaderIsMadeOnceStartedByTheFirstOpenAndKeptAcrossReopens) {
    TempDir home;
    DebugLog log(home.Home());
    Recorder recorder;
    // ThreadSanitizer starts a thread of its own along with the first one the process makes;
    // let that happen before counting.
    std::thread([] {}).join();
    const std::size_t threadsBefore = ThreadCount();
    auto comm = std::make_unique<TSerialComm>(log);
    EXPECT_EQ(ThreadCount(), threadsBefore + 1);
    comm->SetReceiveCallback(&recorder);
    const std::thread::id reader = comm->Thread().ThreadId();
    EXPECT_EQ(comm->Thread().Passes(), 0u) << "polling before the first Open";

    EXPECT_FALSE(Open8N1(*comm, "/dev/ttyDIELMON-missing"));
    EXPECT_FALSE(comm->IsOpen());
    EXPECT_TRUE(WaitUntil([&] { return comm->Thread().Passes() >= 2; }))
        << "the failed open did not start the reader";

    PseudoTerminal first;
    ASSERT_TRUE(Open8N1(*comm, first.Path()));
    first.Write(Bytes{1, 2, 3});
    EXPECT_TRUE(WaitUntil([&] { return recorder.Got() == Bytes{1, 2, 3}; }));
    EXPECT_TRUE(comm->Close());

    PseudoTerminal second;
    ASSERT_TRUE(comm->Open(second.Path(), 115200, 8, kParityNone, kTwoStopBits, 0));
    EXPECT_EQ(LineSettings(second.Master()).c_ospeed, 115200u);
    second.Write(Bytes{4, 5});
    EXPECT_TRUE(WaitUntil([&] { return recorder.Got() == Bytes{1, 2, 3, 4, 5}; }));

    // opening again without closing lets the old handle go, or its lock would refuse the port
    ASSERT_TRUE(Open8N1(*comm, second.Path()));
    second.Write(Bytes{6});
    EXPECT_TRUE(WaitUntil([&] { return recorder.Got() == Bytes{1, 2, 3, 4, 5, 6}; }));

    EXPECT_EQ(comm->Thread().ThreadId(), reader);
    EXPECT_EQ(ThreadCount(), threadsBefore + 1);
    comm.reset();
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threadsBefore; }));
}

TEST(SerialComm, BytesArrivingWithoutAHandlerAreReadAndDropped) {
    TempDir home;
    DebugLog log(home.Home());
    PseudoTerminal pty;
    Recorder recorder; // outlives the connection, as a handler must
    TSerialComm comm(log);
    ASSERT_TRUE(Open8N1(comm, pty.Path()));
    pty.Write(Pattern(10));
    ASSERT_TRUE(WaitUntil([&] { return comm.Thread().BytesRead() == 10; }));

    comm.SetReceiveCallback(&recorder);
    pty.Write(Bytes{0x24, 0x2A, 0x55});
    EXPECT_TRUE(WaitUntil([&] { return comm.Thread().BytesRead() == 13; }));
    EXPECT_EQ(recorder.Got(), (Bytes{0x24, 0x2A, 0x55}));
}

TEST(SerialComm, ALostLineIsReportedOnceAndThenLeftAloneUntilTheNextOpen) {
    TempDir home;
    DebugLog log(home.Home());
    Recorder recorder;
    TSerialComm comm(log);
    comm.SetReceiveCallback(&recorder);
    auto pty = std::make_unique<PseudoTerminal>();
    ASSERT_TRUE(Open8N1(comm, pty->Path()));
    pty.reset();
    ASSERT_TRUE(WaitUntil([&] { return recorder.lost.load() == 1; }));

    const TCommThread& reader = comm.Thread();
    const std::uint64_t reads = reader.Reads();
    const std::uint64_t passes = reader.Passes();
    const auto since = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return reader.Passes() >= passes + 6; }));
    const std::uint64_t passesMade = reader.Passes() - passes;
    const auto elapsed = std::chrono::steady_clock::now() - since;
    EXPECT_EQ(reader.Reads(), reads) << "the vanished handle is still polled";
    EXPECT_EQ(recorder.lost.load(), 1);
    // Each pass waits out the poll interval first, so a loaded machine makes fewer passes,
    // never more: this bound holds however slow the run.
    EXPECT_LE(passesMade, static_cast<std::uint64_t>(elapsed / TCommThread::kPollInterval) + 1);

    PseudoTerminal replugged;
    ASSERT_TRUE(Open8N1(comm, replugged.Path()));
    replugged.Write(Bytes{7, 8});
    EXPECT_TRUE(WaitUntil([&] { return recorder.Got() == Bytes{7, 8}; }));
    replugged.HangUp();
    EXPECT_TRUE(WaitUntil([&] { return recorder.lost.load() == 2; }));
    EXPECT_TRUE(comm.Close());
}
