// The connection's life: sending while closed, closing twice, reopening on the same reader.
#include "link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace dielmon;
using namespace dielmon::link;

namespace {

TEST(Connection, SendsOnlyWhileOpenTracesEverySendAndReopensOnTheSameReader) {
    SimInstrument instrument(FastOptions());
    ASSERT_TRUE(instrument.Started());
    Program program;
    TSerialComm& comm = program.Comm();
    const Bytes connect = ToBytes(BuildShortCommand(CmdConnect));
    const Bytes index = ToBytes(BuildShortCommand(CmdReadIndex));

    EXPECT_FALSE(program.Send(connect)) << "sent before any open";
    EXPECT_FALSE(comm.Close());
    ASSERT_TRUE(program.Open(instrument.DevicePath()));
    const std::thread::id reader = comm.Thread().ThreadId();
    EXPECT_TRUE(comm.Close());
    EXPECT_FALSE(comm.Close()) << "a second close";
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(program.Send(index)) << "sent after the close";
    // Nonsense arguments sent while closed send nothing and trace an empty line of bytes.
    EXPECT_FALSE(comm.Send(nullptr, 5));
    EXPECT_FALSE(comm.Send(connect.data(), -3));

    ASSERT_TRUE(program.Open(instrument.DevicePath()));
    EXPECT_EQ(comm.Thread().ThreadId(), reader);
    const Bytes answer = Connect(program);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[1], RspParameters);

    // Only the command sent while open went out; every send was traced.
    EXPECT_EQ(instrument.Heard(), connect);
    EXPECT_EQ(instrument.CommandsReceived(), 1u);
    std::vector<std::string> sent;
    for (const std::string& text : LogTexts(program.Log().LogFileName())) {
        if (text.rfind(SentTraceText(nullptr, 0), 0) == 0) {
            sent.push_back(text);
        }
    }
    EXPECT_EQ(sent, (std::vector<std::string>{SentTraceText(connect.data(), 22),
                                              SentTraceText(index.data(), 22),
                                              SentTraceText(nullptr, 0), SentTraceText(nullptr, 0),
                                              SentTraceText(connect.data(), 22)}));

    EXPECT_TRUE(comm.Close());
    EXPECT_TRUE(program.Open(instrument.DevicePath()));
    EXPECT_EQ(comm.Thread().ThreadId(), reader);
}

} // namespace
