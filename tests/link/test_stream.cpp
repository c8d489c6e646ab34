// The byte stream itself: frames cut into pieces, noise between frames and wrong check bytes
// on the line; the debug log's lines for what was sent and received; more bytes waiting than
// one read takes while the window holds the hand-over.
#include "link.h"

#include "core/history.h"
#include "core/panel.h"
#include "core/responses.h"
#include "core/results.h"

#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace dielmon;
using namespace dielmon::link;

namespace {

// Whether `written` is the frames in order, each after a gap of noise without "$" (or no gap
// at all); the gap bytes are counted into *noise.
bool FramesAmidNoise(const Bytes& written, const std::vector<Bytes>& frames, std::size_t* noise) {
    std::size_t at = 0;
    *noise = 0;
    for (const Bytes& f : frames) {
        const auto found = std::search(written.begin() + static_cast<std::ptrdiff_t>(at),
                                       written.end(), f.begin(), f.end());
        if (found == written.end()) {
            return false;
        }
        const auto gapEnd = static_cast<std::size_t>(found - written.begin());
        if (std::find(written.begin() + static_cast<std::ptrdiff_t>(at), found, kFrameStart) !=
            found) {
            return false;
        }
        *noise += gapEnd - at;
        at = gapEnd + f.size();
    }
    *noise += written.size() - at;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Faults of the line

struct LineFaults {
    const char* Name;
    bool Split;
    bool Noise;
    bool BadCheck;
};

class WithLineFaults : public testing::TestWithParam<LineFaults> {};

TEST_P(WithLineFaults, EveryFrameStillArrivesWholeAndInOrder) {
    const LineFaults faults = GetParam();
    sim::SimOptions options = FastOptions();
    options.Split = faults.Split;
    options.Noise = faults.Noise;
    options.BadCheck = faults.BadCheck;
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));

    Operator op;
    const Bytes parameters = Connect(program);
    ASSERT_FALSE(parameters.empty());
    ASSERT_EQ(parameters[1], RspParameters);
    op.Apply(parameters);
    EXPECT_EQ(op.instrumentType, 5) << "the panel took a frame with a wrong check byte";
    op.ChooseWiring(1, 4);
    const std::vector<Bytes> test = RunTest(program, op);
    ASSERT_EQ(Codes(test), TestFrames(40));
    const std::vector<Bytes> index = program.Exchange(CmdReadIndex, 9);
    ASSERT_EQ(Codes(index), Sequence({{RspIndex, 9}}));
    const std::vector<Bytes> record = program.Exchange(CmdReadRecord, 1, 2);
    ASSERT_EQ(Codes(record), Sequence({{RspRecordMulti, 1}}));

    const std::vector<Bytes> frames = program.Frames();
    for (const Bytes& f : frames) {
        ASSERT_TRUE(Framed(f)) << HexPairs(f.data(), static_cast<int>(f.size()));
        const std::uint8_t check = CalcCheckCode(f.data(), static_cast<int>(f.size()));
        EXPECT_EQ(f[f.size() - 2], faults.BadCheck ? static_cast<std::uint8_t>(~check) : check);
    }
    ASSERT_TRUE(WaitUntil([&] { return instrument.FramesSent() == frames.size(); }));
    const Bytes written = instrument.Written();
    if (faults.Noise) {
        std::size_t noise = 0;
        EXPECT_TRUE(FramesAmidNoise(written, frames, &noise));
        EXPECT_EQ(noise, instrument.NoiseBytesSent());
        EXPECT_GE(noise, frames.size());
    } else {
        EXPECT_EQ(Concat(frames), written);
    }
    if (faults.Split) {
        EXPECT_GT(instrument.WritesMade(), 2 * frames.size()) << "the frames were not cut";
    }
    EXPECT_EQ(program.Comm().Thread().BytesRead(), written.size());
    EXPECT_TRUE(program.AllOnWindowThread());

    // What the frames carry is used whatever their check byte.
    const Bytes& last = test.back();
    const ResultTexts texts =
        ShowFinalResult(last.data(), static_cast<int>(last.size()), op.panel.Selection()).Texts;
    EXPECT_EQ(texts.Main.find("over"), std::string::npos) << texts.Main;
    EXPECT_EQ(std::count(texts.Main.begin(), texts.Main.end(), '\n'), 4);
    const IndexUpdate entry = ShowIndexEntry(index[8].data(), static_cast<int>(index[8].size()));
    ASSERT_TRUE(entry.Row);
    EXPECT_EQ(entry.Row->Number, "009");
    EXPECT_EQ(entry.CountText, HistoryCountText(9));
}

INSTANTIATE_TEST_SUITE_P(Faults, WithLineFaults,
                         testing::Values(LineFaults{"Split", true, false, false},
                                         LineFaults{"Noise", false, true, false},
                                         LineFaults{"SplitAndNoise", true, true, false},
                                         LineFaults{"BadCheck", false, false, true},
                                         LineFaults{"All", true, true, true}),
                         [](const testing::TestParamInfo<LineFaults>& info) {
                             return std::string(info.param.Name);
                         });

// ---------------------------------------------------------------------------------------------
// The debug log

TEST(DebugLog, TracesEachCommandSentAndEachChunkReceivedBeforeItsFramesAreHandedOver) {
    sim::SimOptions options = FastOptions();
    options.Split = true; // many small chunks
    options.Noise = true; // and bytes outside any frame
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    Program program;
    const std::string logFile = program.Log().LogFileName();

    // At each hand-over the log must already hold the frame among the bytes received.
    std::size_t searchFrom = 0; // used on the window's thread only
    std::vector<std::string> late;
    program.SetFrameHook([&](const Bytes& frame) {
        const Bytes logged = LoggedBytes(logFile);
        const auto found = std::search(logged.begin() + static_cast<std::ptrdiff_t>(searchFrom),
                                       logged.end(), frame.begin(), frame.end());
        if (found == logged.end()) {
            late.push_back(HexPairs(frame.data(), static_cast<int>(frame.size())));
            return;
        }
        searchFrom = static_cast<std::size_t>(found - logged.begin()) + frame.size();
    });
    ASSERT_TRUE(program.Open(instrument.DevicePath()));

    Operator op;
    op.Apply(Connect(program));
    op.ChooseWiring(4);
    const std::vector<Bytes> test = RunTest(program, op);
    ASSERT_EQ(Codes(test), TestFrames(op.Gauge()));
    ASSERT_EQ(Codes(program.Exchange(CmdReadIndex, 9)), Sequence({{RspIndex, 9}}));
    const std::size_t frames = program.FrameCount();
    ASSERT_TRUE(WaitUntil([&] { return instrument.FramesSent() == frames; }));
    ASSERT_TRUE(WaitUntil(
        [&] { return program.Comm().Thread().BytesRead() == instrument.Written().size(); }));
    program.Comm().Close();
    EXPECT_TRUE(late.empty()) << "frames handed over before their chunk was logged: " << late.size()
                              << ", first " << late.front();

    std::vector<std::string> sent;
    std::vector<std::string> received;
    Bytes receivedBytes;
    for (const std::string& text : LogTexts(logFile)) {
        if (IsSentText(text)) {
            sent.push_back(text);
        } else if (const std::optional<Bytes> bytes = ReceivedBytes(text)) {
            received.push_back(text);
            receivedBytes.insert(receivedBytes.end(), bytes->begin(), bytes->end());
        } else {
            ADD_FAILURE() << "a line of neither kind: " << text;
        }
    }

    // One "sent" line for each command, with its exact bytes and a space after each.
    const auto start = BuildStartTest(op.panel.ReadTestParameters());
    const auto index = BuildShortCommand(CmdReadIndex);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "发出：24 A1 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 B2 2A ");
    EXPECT_EQ(sent[1], SentTraceText(start.data(), static_cast<int>(start.size())));
    EXPECT_EQ(sent[2], SentTraceText(index.data(), static_cast<int>(index.size())));
    Bytes commands = ToBytes(BuildShortCommand(CmdConnect));
    commands.insert(commands.end(), start.begin(), start.end());
    commands.insert(commands.end(), index.begin(), index.end());
    EXPECT_EQ(instrument.Heard(), commands);

    // One "received" line for each chunk the reader took, the same as on the trace channel;
    // together they are every byte the instrument wrote, noise included.
    EXPECT_EQ(received, program.Traced());
    EXPECT_GT(received.size(), 1u);
    EXPECT_EQ(receivedBytes, instrument.Written());
}

// ---------------------------------------------------------------------------------------------
// More than one read's worth waiting

int Waiting(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

TEST(HeldHandOver, MoreThan2048BytesWaitingArriveWholeAndInOrderOnceReleased) {
    sim::SimOptions options = FastOptions();
    options.Records = 100;
    SimInstrument instrument(options);
    ASSERT_TRUE(instrument.Started());
    Program program;
    ASSERT_TRUE(program.Open(instrument.DevicePath()));

    // The window holds the first frame while the instrument lists its store twice and sends
    // thirty records.
    program.SinkGate().Close();
    ASSERT_TRUE(program.SendCommand(CmdConnect));
    ASSERT_TRUE(WaitUntil([&] { return program.SinkGate().Holding(); }));
    constexpr int kRecords = 30;
    for (int listing = 0; listing < 2; ++listing) {
        ASSERT_TRUE(program.SendCommand(CmdReadIndex));
    }
    for (int k = 1; k <= kRecords; ++k) {
        ASSERT_TRUE(program.SendCommand(CmdReadRecord, static_cast<std::uint8_t>(k)));
    }
    const std::size_t total = 1 + 2 * 100 + kRecords;
    ASSERT_TRUE(WaitUntil([&] { return instrument.FramesSent() == total; }));
    EXPECT_TRUE(WaitUntil([&] { return Waiting(program.Comm().Handle()) > 2048; }))
        << Waiting(program.Comm().Handle()) << " bytes waiting";
    EXPECT_EQ(program.FrameCount(), 0u);

    program.SinkGate().Open();
    ASSERT_TRUE(program.WaitForFrames(total));
    const std::vector<Bytes> frames = program.Frames();
    ASSERT_EQ(frames.size(), total);
    EXPECT_EQ(Concat(frames), instrument.Written()) << "bytes lost or out of order";
    EXPECT_EQ(frames[0][1], RspParameters);
    for (int listing = 0; listing < 2; ++listing) {
        for (int k = 0; k < 100; ++k) {
            const Bytes& f = frames[1 + static_cast<std::size_t>(listing * 100 + k)];
            ASSERT_EQ(f[1], RspIndex);
            const IndexEntry e = DecodeIndexEntry(f.data(), static_cast<int>(f.size()));
            EXPECT_EQ(e.Number, k + 1);
            EXPECT_EQ(e.Used, 100);
        }
    }
    for (int k = 0; k < kRecords; ++k) {
        EXPECT_TRUE(IsStoredRecord(frames[201 + static_cast<std::size_t>(k)][1]));
    }
    EXPECT_EQ(program.Receiver().Reassembly().OverflowDropped(), 0u);
}

} // namespace
