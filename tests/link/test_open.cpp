// Opening the simulated instrument's port with the settings the operator can choose, and the
// connection's life: sending while closed, closing twice, reopening, a port held by another.
#include "link.h"

#include "core/config.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace dielmon;
using namespace dielmon::link;

namespace {

struct LineSetting {
    std::uint32_t Baud;
    std::uint8_t StopBits;
};

// Every line the settings dialog offers that a pseudo-terminal takes: each baud rate of its
// list with 8 data bits, no parity, and one or two stop bits (one and a half needs 5 data bits).
std::vector<LineSetting> DialogLines() {
    std::vector<LineSetting> lines;
    for (const std::string& baud : BaudItems()) {
        for (const std::uint8_t stop : {kOneStopBit, kTwoStopBits}) {
            lines.push_back({static_cast<std::uint32_t>(std::stoul(baud)), stop});
        }
    }
    return lines;
}

std::string LineName(const testing::TestParamInfo<LineSetting>& info) {
    return std::to_string(info.param.Baud) + "_8N" +
           (info.param.StopBits == kTwoStopBits ? "2" : "1");
}

class OnEachDialogLine : public testing::TestWithParam<LineSetting> {};

TEST_P(OnEachDialogLine, TheInstrumentsPortOpensWithItAndAnswersTheConnect) {
    const LineSetting line = GetParam();
    Instrument instrument(FastOptions());
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.Path(), line.Baud, 8, kParityNone, line.StopBits));

    termios2 t{};
    ASSERT_EQ(::ioctl(program.Comm().Handle(), TCGETS2, &t), 0);
    EXPECT_EQ(t.c_ospeed, line.Baud);
    EXPECT_EQ(t.c_ispeed, line.Baud);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, line.StopBits == kTwoStopBits);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty()) << "no answer to the connect";
    EXPECT_EQ(answer[1], RspParameters);
    EXPECT_TRUE(WellFormed(answer));
    EXPECT_EQ(instrument.Sim().CommandsReceived(CmdConnect), 1u);
    EXPECT_EQ(instrument.Heard(), ToBytes(BuildShortCommand(CmdConnect)));
    EXPECT_TRUE(program.Comm().Close());
}

INSTANTIATE_TEST_SUITE_P(SettingsDialog, OnEachDialogLine, testing::ValuesIn(DialogLines()),
                         LineName);

TEST(OpenPort, SevenDataBitsAreRefusedAndTheSameConnectionThenOpensWithEight) {
    Instrument instrument(FastOptions());
    ASSERT_TRUE(instrument.Started());
    Program program;
    EXPECT_FALSE(program.Open(instrument.Path(), 9600, 7, kParityNone, kOneStopBit));
    EXPECT_FALSE(program.Comm().IsOpen());
    // the refusal left the port free
    ASSERT_TRUE(program.Open(instrument.Path()));
    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[1], RspParameters);
}

TEST(Connection, SendsOnlyWhileOpenTracesEverySendAndReopensOnTheSameReader) {
    Instrument instrument(FastOptions());
    ASSERT_TRUE(instrument.Started());
    Program program;
    TSerialComm& comm = program.Comm();
    const Bytes connect = ToBytes(BuildShortCommand(CmdConnect));
    const Bytes index = ToBytes(BuildShortCommand(CmdReadIndex));

    EXPECT_FALSE(program.Send(connect)) << "sent before any open";
    EXPECT_FALSE(comm.Close());
    ASSERT_TRUE(program.Open(instrument.Path()));
    const std::thread::id reader = comm.Thread().ThreadId();
    EXPECT_TRUE(comm.Close());
    EXPECT_FALSE(comm.Close()) << "a second close";
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(program.Send(index)) << "sent after the close";

    ASSERT_TRUE(program.Open(instrument.Path()));
    EXPECT_EQ(comm.Thread().ThreadId(), reader);
    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[1], RspParameters);

    // Only the command sent while open went out; all three were traced.
    EXPECT_EQ(instrument.Heard(), connect);
    EXPECT_EQ(instrument.Sim().CommandsReceived(), 1u);
    std::vector<std::string> sent;
    for (const std::string& text : test::LogTexts(program.Log().LogFileName())) {
        if (text.rfind(SentTraceText(nullptr, 0), 0) == 0) {
            sent.push_back(text);
        }
    }
    EXPECT_EQ(sent, (std::vector<std::string>{SentTraceText(connect.data(), 22),
                                              SentTraceText(index.data(), 22),
                                              SentTraceText(connect.data(), 22)}));

    EXPECT_TRUE(comm.Close());
    EXPECT_TRUE(program.Open(instrument.Path()));
    EXPECT_EQ(comm.Thread().ThreadId(), reader);
}

TEST(Connection, APortTheProgramHoldsCannotBeOpenedAgainUntilItIsClosed) {
    Instrument instrument(FastOptions());
    ASSERT_TRUE(instrument.Started());
    Program holder;
    ASSERT_TRUE(holder.Open(instrument.Path()));

    Program other;
    EXPECT_FALSE(other.Open(instrument.Path()));
    EXPECT_FALSE(other.Comm().IsOpen());
    EXPECT_EQ(TCommPort().OpenComm(instrument.Path(), 9600, 8, kParityNone, kOneStopBit, 0), 0);

    // The holder still talks to the instrument.
    Bytes answer = Connect(holder);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[1], RspParameters);

    // Once let go, the other connection gets the port, with the reader its failed open started.
    EXPECT_TRUE(holder.Comm().Close());
    ASSERT_TRUE(other.Open(instrument.Path()));
    answer = Connect(other);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[1], RspParameters);
    EXPECT_EQ(holder.FrameCount(), 1u);
    EXPECT_EQ(instrument.Sim().CommandsReceived(CmdConnect), 2u);
}

} // namespace
