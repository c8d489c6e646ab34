#include "serial/commport.h"
#include "serial/portlock.h"

#include "core/config.h"
#include "support/pty.h"
#include "support/termios.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace dielmon;
using namespace dielmon::test;

namespace {

using Buffer = std::array<std::uint8_t, kRecvBufSize>;

const TCommPort Port;

CommHandle Open8N1(const std::string& path, std::uint32_t baud = 9600) {
    return Port.OpenComm(path, baud, 8, kParityNone, kOneStopBit, 0);
}

} // namespace

TEST(CommPort, EveryBaudRateAndStopSettingIsSetExactlyAndTheLineIsRaw) {
    // The rates the settings dialog offers, then one it does not, each with its speed code.
    const std::pair<std::uint32_t, unsigned> rates[] = {
        {300, B300},     {600, B600},     {1200, B1200},     {2400, B2400},     {9600, B9600},
        {28800, BOTHER}, {57600, B57600}, {115200, B115200}, {230400, B230400}, {31250, BOTHER}};
    ASSERT_EQ(BaudItems().size(), std::size(rates) - 1);
    for (std::size_t k = 0; k < BaudItems().size(); ++k) {
        EXPECT_EQ(BaudItems()[k], std::to_string(rates[k].first));
    }
    PseudoTerminal pty;
    for (const auto& [baud, code] : rates) {
        for (const std::uint8_t stopBits : {kOneStopBit, kTwoStopBits}) {
            SCOPED_TRACE(std::to_string(baud) + " baud, stop code " + std::to_string(stopBits));
            const CommHandle h = Port.OpenComm(pty.Path(), baud, 8, kParityNone, stopBits, 0);
            ASSERT_GE(h, 3);
            const termios2 t = LineSettings(pty.Master());
            EXPECT_EQ(t.c_ospeed, baud);
            EXPECT_EQ(t.c_ispeed, baud);
            EXPECT_EQ(t.c_cflag & CBAUD, code);
            EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
            EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stopBits == kTwoStopBits);
            EXPECT_EQ(t.c_cflag & (PARENB | CMSPAR), 0u);
            EXPECT_NE(t.c_cflag & CLOCAL, 0u);
            EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
            EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT), 0u);
            EXPECT_EQ(t.c_oflag & OPOST, 0u);
            EXPECT_EQ(Port.CloseComm(h), 0);
        }
    }
}

TEST(CommPort, SettingsTheLineCannotTakeAreRefusedAndLeaveItAsItWas) {
    struct Row {
        const char* what;
        std::uint32_t baud;
        std::uint8_t byteSize, parity, stopBits;
    };
    const Row rows[] = {
        // a pseudo-terminal forces 8 data bits without parity: refused on reading back
        {"7 data bits", 9600, 7, kParityNone, kOneStopBit},
        {"5 data bits", 9600, 5, kParityNone, kOneStopBit},
        {"1.5 stop bits with 5 data bits", 9600, 5, kParityNone, kOne5StopBits},
        {"odd parity", 9600, 8, kParityOdd, kOneStopBit},
        {"even parity", 9600, 8, kParityEven, kOneStopBit},
        {"mark parity", 9600, 8, kParityMark, kOneStopBit},
        {"space parity", 9600, 8, kParitySpace, kOneStopBit},
        // combinations no UART has, and codes out of range
        {"1.5 stop bits with 8 data bits", 9600, 8, kParityNone, kOne5StopBits},
        {"1.5 stop bits with 6 data bits", 9600, 6, kParityNone, kOne5StopBits},
        {"2 stop bits with 5 data bits", 9600, 5, kParityNone, kTwoStopBits},
        {"stop code 3", 9600, 8, kParityNone, 3},
        {"parity code 5", 9600, 8, 5, kOneStopBit},
        {"4 data bits", 9600, 4, kParityNone, kOneStopBit},
        {"9 data bits", 9600, 9, kParityNone, kOneStopBit},
        {"baud 0", 0, 8, kParityNone, kOneStopBit},
    };
    PseudoTerminal pty;
    termios2 before = LineSettings(pty.Master());
    before.c_cflag = (before.c_cflag & ~(CBAUD | CIBAUD)) | B1200 | (B1200 << IBSHIFT);
    before.c_ispeed = before.c_ospeed = 1200;
    before.c_lflag |= ICANON;
    SetLineSettings(pty.Master(), before);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(Port.OpenComm(pty.Path(), r.baud, r.byteSize, r.parity, r.stopBits, 0), 0);
        const termios2 after = LineSettings(pty.Master());
        EXPECT_EQ(after.c_ospeed, 1200u);
        EXPECT_EQ(after.c_cflag & CBAUD, static_cast<tcflag_t>(B1200));
        EXPECT_NE(after.c_lflag & ICANON, 0u);
        // the refused open holds nothing: the port opens at once with settings it takes
        const CommHandle h = Open8N1(pty.Path());
        EXPECT_GE(h, 3);
        Port.CloseComm(h);
        SetLineSettings(pty.Master(), before);
    }
}

TEST(CommPort, FlowKindsSetHandshakeAndXonXoffAndNothingElse) {
    constexpr tcflag_t kAll = IXON | IXOFF;
    struct Row {
        bool presetOn; // CRTSCTS, IXON and IXOFF all set before the open, otherwise all clear
        std::uint8_t flowKind;
        bool crtscts;
        tcflag_t ixonIxoff;
        std::uint8_t start, stop;
    };
    const Row rows[] = {
        {true, 0, false, 0, 1, 2},
        {false, 0, false, 0, 1, 2},
        {true, 1, true, kAll, 1, 2},
        {false, 1, true, 0, 1, 2},
        {true, 2, true, 0, 1, 2},
        {false, 2, true, 0, 1, 2},
        {true, 3, true, 0, 1, 2},
        {true, 4, true, 0, 1, 2},
        {false, 4, true, 0, 1, 2},
        {true, 5, false, kAll, 0x11, 0x13},
        {false, 5, false, kAll, 0x11, 0x13},
        {true, 6, true, kAll, 1, 2},
        {false, 255, false, 0, 1, 2},
    };
    PseudoTerminal pty;
    for (const Row& r : rows) {
        SCOPED_TRACE("flow kind " + std::to_string(r.flowKind) + (r.presetOn ? ", preset on" : ""));
        termios2 t = LineSettings(pty.Master());
        t.c_cflag = r.presetOn ? (t.c_cflag | CRTSCTS) : (t.c_cflag & ~CRTSCTS);
        t.c_iflag = r.presetOn ? (t.c_iflag | kAll) : (t.c_iflag & ~kAll);
        t.c_cc[VSTART] = 1;
        t.c_cc[VSTOP] = 2;
        SetLineSettings(pty.Master(), t);

        const CommHandle h =
            Port.OpenComm(pty.Path(), 9600, 8, kParityNone, kOneStopBit, r.flowKind);
        ASSERT_GE(h, 3);
        const termios2 got = LineSettings(pty.Master());
        EXPECT_EQ((got.c_cflag & CRTSCTS) != 0, r.crtscts);
        EXPECT_EQ(got.c_iflag & kAll, r.ixonIxoff);
        EXPECT_EQ(got.c_cc[VSTART], r.start);
        EXPECT_EQ(got.c_cc[VSTOP], r.stop);
        Port.CloseComm(h);
    }
}

TEST(CommPort, OnlyAnExistingTerminalOpens) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string plainFile =
        (dir / ("dielmon-not-a-port-" + std::to_string(::getpid()))).string();
    std::ofstream(plainFile) << "x";
    // Each refusal says which step failed and why, for the debug log.
    const struct {
        std::string path;
        PortRefusal::Step step;
        int error;
    } cases[] = {
        {"/dev/ttyDIELMON-missing", PortRefusal::Step::Open, ENOENT},
        {plainFile, PortRefusal::Step::Exclusive, ENOTTY},
        {dir.string(), PortRefusal::Step::Open, EISDIR},
        {std::string(), PortRefusal::Step::Open, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        PortRefusal why;
        EXPECT_EQ(Port.OpenComm(c.path, 9600, 8, kParityNone, kOneStopBit, 0, &why), 0);
        EXPECT_EQ(why.Failed, c.step);
        EXPECT_EQ(why.Error, c.error);
        EXPECT_NE(DescribeOpenFailure(why).find("(errno " + std::to_string(c.error) + ")"),
                  std::string::npos)
            << DescribeOpenFailure(why);
    }
    PseudoTerminal pty;
    PortRefusal why;
    EXPECT_EQ(Port.OpenComm(pty.Path(), 9600, 9, kParityNone, kOneStopBit, 0, &why), 0);
    EXPECT_EQ(why.Failed, PortRefusal::Step::Settings);
    std::filesystem::remove(plainFile);
}

TEST(CommPort, APortIsHeldExclusivelyUntilClosed) {
    PseudoTerminal pty;
    const CommHandle first = Open8N1(pty.Path());
    ASSERT_GE(first, 3);
    PortRefusal why;
    EXPECT_EQ(Port.OpenComm(pty.Path(), 9600, 8, kParityNone, kOneStopBit, 0, &why), 0);
    EXPECT_EQ(why.Failed, PortRefusal::Step::Lock) << DescribeOpenFailure(why);
    EXPECT_EQ(why.Error, EWOULDBLOCK);
    EXPECT_EQ(Open8N1(pty.Path(), 115200), 0);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(first, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    // the refusals left the holder's line as it was
    ASSERT_TRUE(pty.Write(Bytes{1, 2, 3}));
    ASSERT_TRUE(WaitUntil([&] { return Waiting(first) == 3; }));
    Buffer buf{};
    int count = 0;
    ASSERT_TRUE(Port.ReadComm(first, buf, count));
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + count), (Bytes{1, 2, 3}));

    EXPECT_EQ(Port.CloseComm(first), 0);
    // the exclusive flag went with the close, though the master keeps the terminal alive
    const int plain = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(plain, 0);
    ASSERT_EQ(::ioctl(plain, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(plain);

    const CommHandle again = Open8N1(pty.Path());
    EXPECT_GE(again, 3);
    Port.CloseComm(again);
}

TEST(CommPort, HandlesAreNeverTheStandardStreamNumbers) {
    PseudoTerminal pty;
    const int savedIn = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    const bool hadIn = savedIn >= 0;
    ::close(0);
    const CommHandle h = Open8N1(pty.Path());
    const int zeroAfter = ::fcntl(0, F_GETFD);
    if (hadIn) {
        ::dup2(savedIn, 0);
        ::close(savedIn);
    }
    EXPECT_GE(h, 3);
    EXPECT_EQ(zeroAfter, -1) << "descriptor 0 was left holding the port";
    Port.CloseComm(h);
}

TEST(CommPort, HandleZeroReadsWritesAndClosesNothing) {
    const int stdinFlags = ::fcntl(0, F_GETFD);
    Buffer buf{};
    int count = -7;
    EXPECT_FALSE(Port.ReadComm(0, buf, count));
    EXPECT_EQ(Port.ReadCommStatus(0, buf, count), ReadStatus::Nothing);
    EXPECT_EQ(count, -7);
    const std::uint8_t byte = 0x24;
    EXPECT_FALSE(Port.WriteComm(0, &byte, 1));
    EXPECT_EQ(Port.CloseComm(0), -1);
    EXPECT_EQ(::fcntl(0, F_GETFD), stdinFlags) << "descriptor 0 was touched";
}

TEST(CommPort, ReadsWhatIsWaitingAtMost2048AtATimeAndLosesNothing) {
    PseudoTerminal pty;
    const CommHandle h = Open8N1(pty.Path());
    ASSERT_GE(h, 3);
    Buffer buf{};
    int count = -7;
    EXPECT_FALSE(Port.ReadComm(h, buf, count));
    EXPECT_EQ(count, -7);

    for (const std::size_t total :
         {std::size_t{1}, std::size_t{2048}, std::size_t{2049}, std::size_t{3000}}) {
        SCOPED_TRACE(std::to_string(total) + " bytes waiting");
        const Bytes sent = Pattern(total, static_cast<std::uint8_t>(total));
        pty.Write(sent);
        ASSERT_TRUE(WaitUntil([&] { return Waiting(h) == static_cast<int>(total); }));
        Bytes got;
        std::vector<int> counts;
        while (Port.ReadComm(h, buf, count)) {
            counts.push_back(count);
            got.insert(got.end(), buf.begin(), buf.begin() + count);
        }
        ASSERT_FALSE(counts.empty());
        EXPECT_EQ(counts[0], static_cast<int>(std::min<std::size_t>(total, 2048)));
        EXPECT_EQ(counts.size(), total > 2048 ? 2u : 1u);
        EXPECT_EQ(got, sent);
    }
    Port.CloseComm(h);
}

TEST(CommPort, WritesEveryByteEvenWhenTheLineTakesThemInParts) {
    PseudoTerminal pty;
    const CommHandle h = Open8N1(pty.Path(), 115200);
    ASSERT_GE(h, 3);
    // more than the pseudo-terminal buffers, so that the write must wait for room
    const Bytes sent = Pattern(65536, 3);
    Bytes got;
    std::thread reader([&] { got = pty.Read(sent.size()); });
    EXPECT_TRUE(Port.WriteComm(h, sent.data(), static_cast<int>(sent.size())));
    reader.join();
    EXPECT_EQ(got, sent);
    EXPECT_TRUE(Port.WriteComm(h, sent.data(), 0));
    EXPECT_TRUE(Port.WriteComm(h, nullptr, 5));
    Port.CloseComm(h);
}

TEST(CommPort, AWriteToALineNobodyDrainsGivesUp) {
    PseudoTerminal pty;
    const CommHandle h = Open8N1(pty.Path());
    ASSERT_GE(h, 3);
    const Bytes lots(1 << 20, 0x55);
    // returns (after its time limit) although the far end takes nothing, and says so
    EXPECT_FALSE(Port.WriteComm(h, lots.data(), static_cast<int>(lots.size())));
    Port.CloseComm(h);
}

TEST(CommPort, AVanishedLineReadsAsVanishedNotAsSilence) {
    PseudoTerminal pty;
    const CommHandle h = Open8N1(pty.Path());
    ASSERT_GE(h, 3);
    Buffer buf{};
    int count = -7;
    EXPECT_EQ(Port.ReadCommStatus(h, buf, count), ReadStatus::Nothing);
    pty.Write(Bytes{1, 2, 3});
    pty.HangUp();
    EXPECT_EQ(Port.ReadCommStatus(h, buf, count), ReadStatus::Vanished);
    EXPECT_FALSE(Port.ReadComm(h, buf, count));
    EXPECT_EQ(count, -7);
    const std::uint8_t byte = 0x24;
    EXPECT_FALSE(Port.WriteComm(h, &byte, 1)) << "a byte into a vanished line was not sent";
    EXPECT_EQ(Port.CloseComm(h), 0);
}

TEST(CommPort, ALineThatEndedWhileCountedEmptyReadsAsVanished) {
    // A stream whose far end has closed, while the byte count still answers 0 without an
    // error, as a terminal may just after its far end has gone: a pipe behaves so for good.
    int fds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    const int readEnd = ::fcntl(fds[0], F_DUPFD_CLOEXEC, 3);
    ::close(fds[0]);
    ASSERT_GE(readEnd, 3);
    Buffer buf{};
    int count = -7;
    EXPECT_EQ(Port.ReadCommStatus(readEnd, buf, count), ReadStatus::Nothing);
    EXPECT_EQ(count, -7);

    const Bytes last = {1, 2, 3};
    ASSERT_EQ(::write(fds[1], last.data(), last.size()), 3);
    ::close(fds[1]);
    // What came before the end is delivered first, then the end is told from silence.
    ASSERT_EQ(Port.ReadCommStatus(readEnd, buf, count), ReadStatus::Data);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + count), last);
    EXPECT_EQ(Waiting(readEnd), 0) << "the count answers without an error";
    count = -7;
    EXPECT_EQ(Port.ReadCommStatus(readEnd, buf, count), ReadStatus::Vanished);
    EXPECT_FALSE(Port.ReadComm(readEnd, buf, count));
    EXPECT_EQ(count, -7);
    ::close(readEnd);
}

TEST(CommPort, BytesStillOnTheirWayIntoTheInputQueueAreReadAtOnce) {
    // The kernel moves what the far end writes into the input queue a moment later; the byte
    // count does not see it until then. A read right after the write still gets every byte.
    PseudoTerminal pty;
    const CommHandle h = Open8N1(pty.Path());
    ASSERT_GE(h, 3);
    Buffer buf{};
    for (int k = 0; k < 200; ++k) {
        const Bytes frame = Pattern(21, static_cast<std::uint8_t>(k));
        pty.Write(frame);
        int count = 0;
        ASSERT_EQ(Port.ReadCommStatus(h, buf, count), ReadStatus::Data) << "write " << k;
        ASSERT_EQ(Bytes(buf.begin(), buf.begin() + count), frame) << "write " << k;
    }
    Port.CloseComm(h);
}
