#include "sim/instrument.h"

#include "frames.h"

#include "core/clock.h"
#include "core/commands.h"
#include "core/responses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <set>
#include <tuple>

using namespace dielmon;
using namespace dielmon::sim;
using namespace dielmon::test;
using namespace simtest;
using std::chrono::milliseconds;

namespace {

// Some moment of the steady clock; the instrument only compares times.
const SteadyTime kT0 = SteadyTime{} + std::chrono::hours(1);
const SteadyTime kLater = kT0 + std::chrono::hours(10);

// The wall clock of every result: 2024-05-17 14:03:09.
const Bytes kNowStamp = {24, 5, 17, 14, 3, 9};

double Omega(double hertz) {
    return 2 * std::numbers::pi * hertz;
}

class InstrumentTest : public testing::Test {
protected:
    InstrumentTest() : Clock_(FromLocal(2024, 5, 17, 14, 3, 9)) {}

    Instrument& Make() {
        Instrument_ = std::make_unique<Instrument>(Options_, Clock_);
        return *Instrument_;
    }

    // Sends a command at `at` and returns every frame that follows, whenever due.
    std::vector<Output> Exchange(const Bytes& command, SteadyTime at = kT0) {
        Instrument_->Receive(command.data(), static_cast<int>(command.size()), at);
        return Instrument_->Poll(kLater);
    }

    static std::vector<Bytes> Frames(const std::vector<Output>& out) {
        std::vector<Bytes> frames;
        for (const Output& o : out) {
            if (!o.Hangup) {
                frames.push_back(o.Frame);
            }
        }
        return frames;
    }

    static std::vector<std::uint8_t> Codes(const std::vector<Output>& out) {
        std::vector<std::uint8_t> codes;
        for (const Output& o : out) {
            codes.push_back(o.Hangup ? 0 : o.Frame.at(1));
        }
        return codes;
    }

    // Runs a whole test and returns its final result frame.
    Bytes FinalResultOf(const StartValues& v) {
        const auto frames = Frames(Exchange(StartTest(v)));
        EXPECT_FALSE(frames.empty());
        if (frames.empty()) {
            return {};
        }
        EXPECT_EQ(frames.back().at(1), RspFinalResult);
        return frames.back();
    }

    std::vector<Bytes> IndexFrames() { return Frames(Exchange(Command(CmdReadIndex))); }

    Bytes Record(int number) {
        const auto frames =
            Frames(Exchange(Command(CmdReadRecord, static_cast<std::uint8_t>(number))));
        EXPECT_EQ(frames.size(), 1u) << "record " << number;
        return frames.empty() ? Bytes{} : frames.front();
    }

    ManualClock Clock_;
    SimOptions Options_;
    std::unique_ptr<Instrument> Instrument_;
};

#define EXPECT_RELATIVE(value, nominal, share)                                                     \
    EXPECT_NEAR((value), (nominal), std::abs((nominal) * (share))) << #value

// ---------------------------------------------------------------------------------------------

struct CommandCase {
    Bytes Frame;
    std::uint8_t Reply;
    int Length;
};

class EveryCommand : public InstrumentTest, public testing::WithParamInterface<CommandCase> {};

TEST_P(EveryCommand, IsAnsweredFirstWithItsCodeDigitsExchangedAndItsPayloadLength) {
    Make();
    const CommandCase& c = GetParam();
    const std::uint8_t command = c.Frame.at(1);
    const auto frames = Frames(Exchange(c.Frame));
    ASSERT_FALSE(frames.empty());
    const Bytes& first = frames.front();
    EXPECT_EQ(first.at(1), c.Reply);
    EXPECT_EQ(PayloadLength(first), c.Length);
    for (const Bytes& f : frames) {
        EXPECT_TRUE(WellFormed(f));
    }
    // Every first answer but a stored record's repeats the command code with its digits
    // exchanged; a stored record names its layout instead.
    const std::uint8_t swapped = static_cast<std::uint8_t>((command << 4) | (command >> 4));
    if (command != CmdReadRecord) {
        EXPECT_EQ(first.at(1), swapped);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EveryCommand,
    testing::Values(CommandCase{Command(CmdConnect), RspParameters, 22},
                    CommandCase{Command(CmdDisconnect), RspDisconnected, 17},
                    CommandCase{Command(CmdInstrumentSave), RspSaved, 17},
                    CommandCase{Command(CmdInstrumentPrint), RspPrinted, 17},
                    CommandCase{Command(CmdReturn), RspReturned, 17},
                    CommandCase{StartTest(StartValues{}), RspTestStarted, 17},
                    CommandCase{Command(CmdStopTest), RspStopped, 17},
                    CommandCase{Command(CmdReadIndex), RspIndex, 8},
                    CommandCase{Command(CmdReadRecord, 1), RspRecord, 47},
                    CommandCase{Command(CmdReadRecord, 2), RspRecordMulti, 67},
                    CommandCase{Command(CmdReadRecord, 3), RspRecordShielded, 47},
                    CommandCase{Command(CmdReadRecord, 4), RspRecordCvt, 50},
                    CommandCase{Command(CmdReadRecord, 5), RspRecordRatio, 46},
                    CommandCase{Command(CmdDeleteRecord, 1), RspRecordDeleted, 17},
                    CommandCase{Command(CmdClearHistory), RspHistoryCleared, 17}));

TEST_F(InstrumentTest, TheShortStartCommandWithoutAWiringModeIsRefusedAsAWiringFault) {
    Make();
    const auto frames = Frames(Exchange(Command(CmdStartTest)));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].at(1), RspError);
    EXPECT_EQ(U8(frames[0], 16), 0xB3);
}

TEST_F(InstrumentTest, UnknownCodesAndDamagedCommandsAreNotAnswered) {
    Make();
    EXPECT_TRUE(Exchange(Command(0x55)).empty());
    Bytes damaged = Command(CmdConnect);
    damaged[20] ^= 0x01;
    EXPECT_TRUE(Exchange(damaged).empty());
    EXPECT_EQ(Instrument_->Counters().Unknown, 1u);
    EXPECT_EQ(Instrument_->Counters().BadCheck, 1u);
    EXPECT_EQ(Instrument_->Counters().Commands[CmdConnect], 1u);
}

// ---------------------------------------------------------------------------------------------

struct RunCase {
    std::uint8_t WiringMode;
    std::uint8_t Channels;
    bool DoubleSteps;
    int Steps;
    int FinalLength;
};

class ATest : public InstrumentTest, public testing::WithParamInterface<RunCase> {};

TEST_P(ATest, SendsStartedThenTenBoostingFramesThenItsStepsThenTheResult) {
    const RunCase& c = GetParam();
    Options_.DoubleSteps = c.DoubleSteps;
    Make();
    StartValues v;
    v.WiringMode = c.WiringMode;
    v.Channels = c.Channels;
    const auto out = Exchange(StartTest(v));
    EXPECT_EQ(Codes(out), Sequence({{RspTestStarted, 1},
                                    {RspBoosting, 10},
                                    {RspStepResult, c.Steps},
                                    {RspFinalResult, 1}}));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const Bytes& f = out[i].Frame;
        EXPECT_TRUE(WellFormed(f));
        const int expected = f[1] == RspTestStarted  ? 17
                             : f[1] == RspBoosting   ? 16
                             : f[1] == RspStepResult ? 12
                                                     : c.FinalLength;
        EXPECT_EQ(PayloadLength(f), expected) << "frame " << i;
        if (i > 0) {
            EXPECT_LT(out[i - 1].Due, out[i].Due);
        }
    }
    EXPECT_FALSE(Instrument_->TestRunning());
    EXPECT_FALSE(Instrument_->NextDue().has_value());
}

INSTANTIATE_TEST_SUITE_P(StepsByWiringModeAndChannels, ATest,
                         testing::Values(RunCase{1, 1, false, 10, 46}, RunCase{1, 0, false, 10, 46},
                                         RunCase{1, 2, false, 20, 62}, RunCase{1, 3, false, 30, 62},
                                         RunCase{1, 4, false, 40, 62}, RunCase{1, 1, true, 20, 46},
                                         RunCase{1, 2, true, 40, 62}, RunCase{1, 3, true, 60, 62},
                                         RunCase{1, 4, true, 80, 62}, RunCase{2, 1, false, 10, 46},
                                         RunCase{2, 4, false, 10, 46}, RunCase{2, 1, true, 20, 46},
                                         RunCase{3, 1, false, 10, 46}, RunCase{3, 1, true, 20, 46},
                                         RunCase{4, 1, false, 20, 46}, RunCase{4, 1, true, 40, 46},
                                         RunCase{5, 1, false, 10, 46},
                                         RunCase{5, 3, true, 20, 46}));

TEST_F(InstrumentTest, SpeedDividesEveryDelayOfATest) {
    for (const double speed : {1.0, 4.0, 50.0}) {
        Options_.Speed = speed;
        Make();
        const auto out = Exchange(StartTest(StartValues{}));
        ASSERT_EQ(out.size(), 22u);
        auto gap = [&](std::size_t i) {
            return std::chrono::duration<double, std::milli>(out[i].Due -
                                                             (i == 0 ? kT0 : out[i - 1].Due))
                .count();
        };
        EXPECT_NEAR(gap(0), 50 / speed, 1e-3) << speed;  // RspTestStarted
        EXPECT_NEAR(gap(1), 200 / speed, 1e-3) << speed; // first boosting frame
        EXPECT_NEAR(gap(10), 200 / speed, 1e-3) << speed;
        EXPECT_NEAR(gap(11), 300 / speed, 1e-3) << speed; // first step
        EXPECT_NEAR(gap(20), 300 / speed, 1e-3) << speed;
        EXPECT_NEAR(gap(21), 300 / speed, 1e-3) << speed; // the result
    }
}

TEST_F(InstrumentTest, PollHandsOutOnlyWhatIsDue) {
    Make();
    const Bytes start = StartTest(StartValues{});
    Instrument_->Receive(start.data(), static_cast<int>(start.size()), kT0);
    EXPECT_EQ(Instrument_->NextDue(), kT0 + milliseconds(50));
    EXPECT_TRUE(Instrument_->Poll(kT0 + milliseconds(49)).empty());
    EXPECT_EQ(Codes(Instrument_->Poll(kT0 + milliseconds(450))),
              Sequence({{RspTestStarted, 1}, {RspBoosting, 2}}));
    EXPECT_EQ(Instrument_->NextDue(), kT0 + milliseconds(650));
    EXPECT_TRUE(Instrument_->TestRunning());
}

TEST_F(InstrumentTest, AnswersKeepTheOrderOfTheirCommands) {
    Make();
    const Bytes print = Command(CmdInstrumentPrint);
    Instrument_->Receive(print.data(), static_cast<int>(print.size()), kT0);
    EXPECT_EQ(Codes(Exchange(Command(CmdReturn), kT0 + milliseconds(10))),
              (std::vector<std::uint8_t>{RspPrinted, RspReturned}));
}

// ---------------------------------------------------------------------------------------------

TEST_F(InstrumentTest, BoostingRaisesTheVoltageToTheSetValueAndStepsHoldIt) {
    Make();
    StartValues v;
    v.WiringMode = 2;
    v.Volts = 8000;
    const auto frames = Frames(Exchange(StartTest(v)));
    ASSERT_EQ(frames.size(), 22u);
    float previous = 0;
    for (int k = 1; k <= 10; ++k) {
        const Bytes& f = frames[static_cast<std::size_t>(k)];
        const float kv = F32(f, 0);
        EXPECT_GT(kv, previous) << "boosting frame " << k;
        previous = kv;
        // Current through the winding's 4.7 nF at the present voltage.
        EXPECT_RELATIVE(F32(f, 4), Omega(50) * 4.7e-9 * kv * 1e3, 0.05);
        EXPECT_EQ(F32(f, 8), 0.0F);
        EXPECT_EQ(F32(f, 12), 0.0F);
    }
    EXPECT_RELATIVE(previous, 8.0, 0.01);
    for (int k = 11; k <= 20; ++k) {
        const Bytes& f = frames[static_cast<std::size_t>(k)];
        EXPECT_RELATIVE(F32(f, 0), 8.0, 0.01) << "step " << k - 10;
        EXPECT_EQ(F32(f, 4), 500.0F);
        EXPECT_RELATIVE(F32(f, 8), Omega(50) * 4.7e-9 * 8000, 0.05);
    }
}

TEST_F(InstrumentTest, TheCvtMethodBoostsTheExcitationToTheCvtLimit) {
    Make();
    StartValues v;
    v.WiringMode = 4;
    v.CvtLimit = 3000;
    v.ExcitationVoltageCode = 8;  // 10 V
    v.ExcitationCurrentCode = 16; // 30 A
    const auto frames = Frames(Exchange(StartTest(v)));
    ASSERT_EQ(frames.size(), 32u);
    const Bytes& last = frames[10];
    EXPECT_RELATIVE(F32(last, 0), 3.0, 0.01);
    EXPECT_RELATIVE(F32(last, 4), Omega(50) * 10e-9 * 3000, 0.05);
    EXPECT_GT(F32(last, 8), 0.0F);
    EXPECT_LE(F32(last, 8), 10.0F);
    EXPECT_GT(F32(last, 12), 0.0F);
    EXPECT_LE(F32(last, 12), 30.0F);
    EXPECT_LT(F32(frames[1], 8), F32(last, 8));
    EXPECT_LT(F32(frames[1], 12), F32(last, 12));
    // The high-voltage current stays within the milliampere display of the CVT method.
    EXPECT_LT(F32(frames[15], 8) * 1000, 999.0F);
}

// ---------------------------------------------------------------------------------------------

TEST_F(InstrumentTest, TheDirectConnectionWithOneChannelGivesTheSingleLayout) {
    Make();
    const Bytes f = FinalResultOf(StartValues{});
    ASSERT_EQ(PayloadLength(f), 46);
    const float u = F32(f, 0), i = F32(f, 4), pf = F32(f, 29);
    EXPECT_RELATIVE(u, 10.0, 0.005);
    EXPECT_RELATIVE(i, Omega(50) * 1.0e-9 * 10000, 0.03);
    EXPECT_EQ(F32(f, 8), 500.0F);
    EXPECT_EQ(F32(f, 12), 500.0F);
    EXPECT_EQ(U8(f, 16), 1);
    EXPECT_RELATIVE(F32(f, 17), 1.0, 0.03);
    EXPECT_RELATIVE(F32(f, 21), 0.30, 0.06);
    EXPECT_NEAR(F32(f, 25), 90.0 - std::atan(F32(f, 21) / 100.0) * 180 / std::numbers::pi, 1e-3);
    EXPECT_NEAR(pf, std::sin(std::atan(F32(f, 21) / 100.0)), 1e-6);
    EXPECT_RELATIVE(F32(f, 33), u * i * pf, 1e-4);
    EXPECT_EQ(PayloadSlice(f, 37, 40), (Bytes{0, 0, 0}));
    EXPECT_EQ(PayloadSlice(f, 40, 46), kNowStamp);
}

TEST_F(InstrumentTest, TheReverseConnectionGivesTheSingleLayoutOfAWinding) {
    Make();
    StartValues v;
    v.WiringMode = 2;
    v.Channels = 3; // not a choice of this connection
    v.FrequencyCode = 21;
    const Bytes f = FinalResultOf(v);
    ASSERT_EQ(PayloadLength(f), 46);
    EXPECT_EQ(F32(f, 8), 650.0F);
    EXPECT_EQ(F32(f, 12), 650.0F);
    EXPECT_RELATIVE(F32(f, 4), Omega(65) * 4.7e-9 * 10000, 0.03);
    EXPECT_EQ(U8(f, 16), 1);
    EXPECT_RELATIVE(F32(f, 17), 4.7, 0.03);
    EXPECT_RELATIVE(F32(f, 21), 0.45, 0.06);
}

TEST_F(InstrumentTest, EveryFifthTestReportsCxWithItsParallelResistance) {
    Make();
    for (int test = 1; test <= 5; ++test) {
        const Bytes f = FinalResultOf(StartValues{});
        ASSERT_EQ(PayloadLength(f), 46);
        EXPECT_EQ(U8(f, 16), test == 5 ? 2 : 1) << "test " << test;
        if (test == 5) {
            // Rx = 1 / (ωC tan δ) in kΩ, with tan δ = PF / cos φ... about 1.06 GΩ here.
            const double tanDelta = std::tan((90.0 - F32(f, 25)) * std::numbers::pi / 180);
            EXPECT_RELATIVE(F32(f, 21), 1.0 / (Omega(50) * F32(f, 17) * 1e-9 * tanDelta) / 1000,
                            0.001);
            EXPECT_GT(F32(f, 21), 9e5F);
        }
    }
}

TEST_F(InstrumentTest, TheShieldedConnectionGivesTheShieldedLayout) {
    Make();
    StartValues v;
    v.WiringMode = 3;
    v.FrequencyCode = 50; // 50±1 Hz
    const Bytes f = FinalResultOf(v);
    ASSERT_EQ(PayloadLength(f), 46);
    EXPECT_RELATIVE(F32(f, 0), 10.0, 0.005);
    EXPECT_RELATIVE(F32(f, 4), Omega(50) * 2.2e-9 * 10000, 0.03);
    EXPECT_RELATIVE(F32(f, 8), Omega(50) * 0.8e-9 * 10000, 0.03);
    EXPECT_EQ(F32(f, 12), 490.0F);
    EXPECT_EQ(F32(f, 16), 510.0F);
    EXPECT_RELATIVE(F32(f, 20), 2.2, 0.03);
    EXPECT_RELATIVE(F32(f, 24), 0.35, 0.06);
    EXPECT_RELATIVE(F32(f, 28), 0.8, 0.03);
    EXPECT_RELATIVE(F32(f, 32), 0.50, 0.06);
    EXPECT_EQ(PayloadSlice(f, 36, 40), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(PayloadSlice(f, 40, 46), kNowStamp);
}

TEST_F(InstrumentTest, TheCvtMethodGivesTheCvtLayout) {
    Make();
    StartValues v;
    v.WiringMode = 4;
    v.CvtLimit = 3000;
    v.FrequencyCode = 51; // 50±2 Hz
    const Bytes f = FinalResultOf(v);
    ASSERT_EQ(PayloadLength(f), 46);
    const float c1 = F32(f, 24), c2 = F32(f, 32);
    EXPECT_RELATIVE(F32(f, 0), 3.0, 0.01);
    EXPECT_RELATIVE(F32(f, 4), F32(f, 0) * c1 / c2, 1e-4);
    EXPECT_RELATIVE(F32(f, 8), Omega(50) * c1 * 1e-9 * 3000, 0.01);
    EXPECT_RELATIVE(F32(f, 12), F32(f, 8), 0.005);
    EXPECT_EQ(F32(f, 16), 480.0F);
    EXPECT_EQ(F32(f, 20), 520.0F);
    EXPECT_RELATIVE(c1, 10.0, 0.03);
    EXPECT_RELATIVE(F32(f, 28), 0.08, 0.1);
    EXPECT_RELATIVE(c2, 50.0, 0.03);
    EXPECT_RELATIVE(F32(f, 36), 0.10, 0.1);
    EXPECT_EQ(PayloadSlice(f, 40, 46), kNowStamp);
}

TEST_F(InstrumentTest, TheRatioMethodGivesTheRatioLayout) {
    Make();
    StartValues v;
    v.WiringMode = 5;
    v.FrequencyCode = 16; // 60 Hz
    const Bytes f = FinalResultOf(v);
    ASSERT_EQ(PayloadLength(f), 46);
    const float u1 = F32(f, 0), k = F32(f, 20);
    EXPECT_RELATIVE(u1, 10.0, 0.005);
    EXPECT_RELATIVE(F32(f, 4), u1 / k, 1e-4);
    EXPECT_EQ(F32(f, 8), 600.0F);
    EXPECT_EQ(F32(f, 12), 600.0F);
    EXPECT_RELATIVE(F32(f, 16), 0.05, 0.25);
    EXPECT_RELATIVE(k, 1100.0, 0.005);
    EXPECT_RELATIVE(F32(f, 24), 10.0, 0.03);
    EXPECT_RELATIVE(F32(f, 28), 0.08, 0.1);
    EXPECT_RELATIVE(F32(f, 32), Omega(60) * 10e-9 * 10000, 0.03);
    EXPECT_EQ(PayloadSlice(f, 36, 40), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(PayloadSlice(f, 40, 46), kNowStamp);
}

class TheMultiLayout : public InstrumentTest, public testing::WithParamInterface<int> {};

TEST_P(TheMultiLayout, CarriesTheConfiguredChannelsAndZeroForTheOthers) {
    const int channels = GetParam();
    Make();
    StartValues v;
    v.Channels = static_cast<std::uint8_t>(channels);
    v.Volts = 5000;
    const Bytes f = FinalResultOf(v);
    ASSERT_EQ(PayloadLength(f), 62);
    const double c[4] = {1.00, 1.20, 0.85, 1.10};
    const double df[4] = {0.30, 0.35, 0.28, 0.40};
    for (int ch = 0; ch < 4; ++ch) {
        if (ch < channels) {
            EXPECT_RELATIVE(F32(f, 8 * ch), c[ch], 0.03) << "channel " << ch;
            EXPECT_RELATIVE(F32(f, 8 * ch + 4), df[ch], 0.06) << "channel " << ch;
            EXPECT_RELATIVE(F32(f, 32 + 4 * ch), 5.0, 0.005) << "channel " << ch;
        } else {
            EXPECT_EQ(F32(f, 8 * ch), 0.0F) << "channel " << ch;
            EXPECT_EQ(F32(f, 8 * ch + 4), 0.0F) << "channel " << ch;
            EXPECT_EQ(F32(f, 32 + 4 * ch), 0.0F) << "channel " << ch;
        }
    }
    EXPECT_EQ(F32(f, 48), 500.0F);
    EXPECT_EQ(F32(f, 52), 500.0F);
    EXPECT_EQ(PayloadSlice(f, 56, 62), kNowStamp);
}

INSTANTIATE_TEST_SUITE_P(Channels, TheMultiLayout, testing::Values(2, 3, 4));

TEST_F(InstrumentTest, ExternalHighVoltageGivesAPlausibleVoltageAtTheMainsFrequency) {
    Make();
    StartValues v;
    v.Volts = 0;
    v.FrequencyCode = 0;
    const auto frames = Frames(Exchange(StartTest(v)));
    ASSERT_EQ(frames.size(), 22u);
    EXPECT_RELATIVE(F32(frames[10], 0), 10.0, 0.05); // the last boosting frame
    const Bytes& f = frames.back();
    EXPECT_RELATIVE(F32(f, 0), 10.0, 0.05);
    EXPECT_NEAR(F32(f, 8), 500.0F, 0.5F);
    EXPECT_NEAR(F32(f, 12), 500.0F, 0.5F);
}

TEST_F(InstrumentTest, ValuesVaryALittleFromOneTestToTheNext) {
    Make();
    const Bytes a = FinalResultOf(StartValues{});
    const Bytes b = FinalResultOf(StartValues{});
    EXPECT_NE(F32(a, 17), F32(b, 17));
    EXPECT_NE(F32(a, 21), F32(b, 21));
}

// ---------------------------------------------------------------------------------------------

TEST_F(InstrumentTest, ConnectingReportsTheDefaultSettingsTypeAndDoubleSteps) {
    for (const int type : {4, 5, 6, 7}) {
        Options_.InstrumentType = type;
        Options_.DoubleSteps = type == 6;
        Make();
        const auto frames = Frames(Exchange(Command(CmdConnect)));
        ASSERT_EQ(frames.size(), 1u);
        const Bytes& f = frames[0];
        ASSERT_EQ(PayloadLength(f), 22);
        EXPECT_EQ(f[3], type);
        EXPECT_EQ(f[4], 0);
        EXPECT_EQ(f[5], 2); // reverse connection
        EXPECT_EQ(f[6], 1); // internal standard
        EXPECT_EQ(f[7], 6); // 50 Hz
        EXPECT_EQ(f[8], 0x27);
        EXPECT_EQ(f[9], 0x10); // 10000 V
        EXPECT_EQ(F32(f, 7), 50.0F);
        EXPECT_EQ(F32(f, 11), 0.0F);
        EXPECT_EQ(f[18], 0x07);
        EXPECT_EQ(f[19], 0xD0); // 2000 V
        EXPECT_EQ(f[20], 1);
        EXPECT_EQ(f[21], 1);
        EXPECT_EQ(f[22], 1);
        EXPECT_EQ(f[23], 0); // mains
        EXPECT_EQ(f[24], type == 6 ? 1 : 0);
    }
}

TEST_F(InstrumentTest, ConnectingReportsTheSettingsOfTheLastStartedTest) {
    Make();
    StartValues v;
    v.Channels = 3;
    v.WiringMode = 4;
    v.Standard = 2;
    v.FrequencyCode = 53;
    v.Volts = 8000;
    v.Capacitance = 123.5F;
    v.Dissipation = 0.25F;
    v.CvtLimit = 3500;
    v.CvtCurrentCode = 5;
    v.ExcitationVoltageCode = 9;
    v.ExcitationCurrentCode = 16;
    v.Supply = 1;
    Exchange(StartTest(v));
    // A refused test leaves them as they were.
    StartValues refused;
    refused.WiringMode = 7;
    Exchange(StartTest(refused));

    const auto frames = Frames(Exchange(Command(CmdConnect)));
    ASSERT_EQ(frames.size(), 1u);
    const Bytes& f = frames[0];
    EXPECT_EQ(f[5], 4);
    EXPECT_EQ(f[6], 2);
    EXPECT_EQ(f[7], 53);
    EXPECT_EQ(f[8], 0x1F);
    EXPECT_EQ(f[9], 0x40);
    EXPECT_EQ(F32(f, 7), 123.5F);
    EXPECT_EQ(F32(f, 11), 0.25F);
    EXPECT_EQ(f[18], 0x0D);
    EXPECT_EQ(f[19], 0xAC);
    EXPECT_EQ(f[20], 5);
    EXPECT_EQ(f[21], 9);
    EXPECT_EQ(f[22], 16);
    EXPECT_EQ(f[23], 1);
}

TEST_F(InstrumentTest, ConnectingReportsExternalHighVoltageAsVoltageZero) {
    Make();
    StartValues v;
    v.Volts = 0;
    v.FrequencyCode = 0;
    Exchange(StartTest(v));
    const Bytes f = Frames(Exchange(Command(CmdConnect))).at(0);
    EXPECT_EQ(f[7], 0);
    EXPECT_EQ(f[8], 0);
    EXPECT_EQ(f[9], 0);
}

struct RefusalCase {
    int Type;
    std::uint8_t WiringMode;
    std::uint16_t Volts;
    std::uint16_t CvtLimit;
    int Error; // 0: the test runs
};

class StartingATest : public InstrumentTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(StartingATest, IsRefusedWithAnErrorWhenTheInstrumentCannotRunIt) {
    const RefusalCase& c = GetParam();
    Options_.InstrumentType = c.Type;
    Make();
    StartValues v;
    v.WiringMode = c.WiringMode;
    v.Volts = c.Volts;
    v.CvtLimit = c.CvtLimit;
    const auto frames = Frames(Exchange(StartTest(v)));
    ASSERT_FALSE(frames.empty());
    if (c.Error == 0) {
        EXPECT_EQ(frames.front().at(1), RspTestStarted);
        EXPECT_EQ(frames.back().at(1), RspFinalResult);
    } else {
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].at(1), RspError);
        EXPECT_EQ(frames[0].at(frames[0].size() - 3), c.Error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, StartingATest,
    testing::Values(RefusalCase{5, 0, 10000, 2000, 0xB3}, RefusalCase{5, 6, 10000, 2000, 0xB3},
                    RefusalCase{4, 1, 10000, 2000, 0}, RefusalCase{4, 1, 10001, 2000, 0xB1},
                    RefusalCase{5, 2, 12000, 2000, 0xB1}, RefusalCase{6, 2, 12000, 2000, 0},
                    RefusalCase{7, 3, 12001, 2000, 0xB1}, RefusalCase{5, 4, 30000, 4000, 0},
                    RefusalCase{5, 4, 10000, 4001, 0xB1}));

TEST_F(InstrumentTest, AStartWhileATestRunsIsIgnored) {
    Make();
    const Bytes start = StartTest(StartValues{});
    Instrument_->Receive(start.data(), static_cast<int>(start.size()), kT0);
    const auto out = Exchange(start, kT0 + milliseconds(500));
    EXPECT_EQ(
        Codes(out),
        Sequence(
            {{RspTestStarted, 1}, {RspBoosting, 10}, {RspStepResult, 10}, {RspFinalResult, 1}}));
    EXPECT_EQ(Instrument_->Counters().Unanswered, 1u);
}

// ---------------------------------------------------------------------------------------------

TEST_F(InstrumentTest, StopEndsATestAtOnce) {
    Make();
    const Bytes start = StartTest(StartValues{});
    Instrument_->Receive(start.data(), static_cast<int>(start.size()), kT0);
    EXPECT_EQ(Codes(Instrument_->Poll(kT0 + milliseconds(700))),
              Sequence({{RspTestStarted, 1}, {RspBoosting, 3}}));
    EXPECT_EQ(Codes(Exchange(Command(CmdStopTest), kT0 + milliseconds(700))),
              (std::vector<std::uint8_t>{RspStopped}));
    EXPECT_FALSE(Instrument_->TestRunning());
    EXPECT_FALSE(Instrument_->NextDue().has_value());
    // Nothing to save: the test gave no result.
    EXPECT_EQ(Codes(Exchange(Command(CmdInstrumentSave))), (std::vector<std::uint8_t>{RspSaved}));
    EXPECT_EQ(Instrument_->Store().size(), 9u);
}

TEST_F(InstrumentTest, StopWithoutATestIsAcknowledged) {
    Make();
    EXPECT_EQ(Codes(Exchange(Command(CmdStopTest))), (std::vector<std::uint8_t>{RspStopped}));
}

struct FaultCase {
    int Step;
    int StepFramesBefore; // RspStepResult frames sent before the fault
    int BoostsBefore;
};

class AnErrorAtAStep : public InstrumentTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(AnErrorAtAStep, EndsTheTestWithoutAResultAndStrikesOnce) {
    const FaultCase& c = GetParam();
    Options_.Error = ErrorFault{0xB4, c.Step};
    Make();
    const auto frames = Frames(Exchange(StartTest(StartValues{})));
    EXPECT_EQ(Codes(Exchange(Command(CmdConnect))).size(), 1u);
    std::vector<std::uint8_t> codes;
    for (const Bytes& f : frames) {
        codes.push_back(f[1]);
    }
    EXPECT_EQ(codes, Sequence({{RspTestStarted, 1},
                               {RspBoosting, c.BoostsBefore},
                               {RspStepResult, c.StepFramesBefore},
                               {RspError, 1}}));
    const Bytes& error = frames.back();
    ASSERT_EQ(PayloadLength(error), 17);
    EXPECT_EQ(U8(error, 16), 0xB4);
    EXPECT_EQ(PayloadSlice(error, 0, 16), Bytes(16, 0));
    EXPECT_FALSE(Instrument_->TestRunning());

    // The next test runs to its result.
    EXPECT_EQ(Frames(Exchange(StartTest(StartValues{}))).back().at(1), RspFinalResult);
}

INSTANTIATE_TEST_SUITE_P(Steps, AnErrorAtAStep,
                         testing::Values(FaultCase{0, 0, 0}, FaultCase{1, 0, 10},
                                         FaultCase{3, 2, 10}, FaultCase{10, 9, 10},
                                         FaultCase{11, 10, 10}, FaultCase{500, 10, 10}));

TEST_F(InstrumentTest, AnErrorWaitsForATestThatReachesItsStep) {
    Options_.Error = ErrorFault{0xB1, 5};
    Make();
    const Bytes start = StartTest(StartValues{});
    Instrument_->Receive(start.data(), static_cast<int>(start.size()), kT0);
    Instrument_->Poll(kT0 + milliseconds(2400)); // all boosting frames and the first step
    Exchange(Command(CmdStopTest), kT0 + milliseconds(2400));
    const auto frames = Frames(Exchange(start, kT0 + milliseconds(3000)));
    EXPECT_EQ(frames.back().at(1), RspError);
    EXPECT_EQ(frames.size(), 1u + 10u + 4u + 1u);
}

TEST_F(InstrumentTest, AHangUpAtAStepClosesTheLineAfterWhatCameBefore) {
    Options_.HangupAt = 2;
    Make();
    const auto out = Exchange(StartTest(StartValues{}));
    EXPECT_EQ(Codes(out),
              Sequence({{RspTestStarted, 1}, {RspBoosting, 10}, {RspStepResult, 1}, {0, 1}}));
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.back().Hangup);
    EXPECT_TRUE(out.back().Frame.empty());
    EXPECT_TRUE(Instrument_->LineClosed());
    EXPECT_TRUE(Exchange(Command(CmdConnect)).empty());
}

TEST_F(InstrumentTest, AnErrorAndAHangUpAtTheSameStepSendTheErrorFirst) {
    Options_.Error = ErrorFault{0xB7, 0};
    Options_.HangupAt = 0;
    Make();
    EXPECT_EQ(Codes(Exchange(StartTest(StartValues{}))),
              (std::vector<std::uint8_t>{RspTestStarted, RspError, 0}));
}

// ---------------------------------------------------------------------------------------------

TEST_F(InstrumentTest, SilentAnswersNothingButCountsWhatItHears) {
    Options_.Silent = true;
    Make();
    for (const std::uint8_t code : {CmdConnect, CmdReadIndex, CmdStopTest, CmdClearHistory}) {
        EXPECT_TRUE(Exchange(Command(code)).empty());
    }
    EXPECT_TRUE(Exchange(StartTest(StartValues{})).empty());
    EXPECT_EQ(Instrument_->Counters().Commands[CmdConnect], 1u);
    EXPECT_EQ(Instrument_->Store().size(), 9u);
}

TEST_F(InstrumentTest, BadCheckSpoilsTheCheckByteOfEveryFrameAndNothingElse) {
    Options_.BadCheck = true;
    Make();
    auto out = Exchange(StartTest(StartValues{}));
    const auto index = Exchange(Command(CmdReadIndex));
    out.insert(out.end(), index.begin(), index.end());
    ASSERT_EQ(out.size(), 22u + 9u);
    for (const Output& o : out) {
        const Bytes& f = o.Frame;
        EXPECT_EQ(f.front(), 0x24);
        EXPECT_EQ(f.back(), 0x2A);
        EXPECT_EQ(f.size(), f[2] + 5u);
        EXPECT_NE(f[f.size() - 2], CalcCheckCode(f.data(), static_cast<int>(f.size())));
    }
}

// ---------------------------------------------------------------------------------------------

TEST_F(InstrumentTest, TheIndexListsEveryRecordFromNumberOneWithTheUsedCount) {
    Make();
    const auto frames = IndexFrames();
    ASSERT_EQ(frames.size(), 9u);
    std::tuple<int, int, int, int, int, int> previous{};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Bytes& f = frames[i];
        ASSERT_EQ(PayloadLength(f), 8);
        EXPECT_EQ(U8(f, 0), 9);
        EXPECT_EQ(U8(f, 1), i + 1);
        const auto date =
            std::make_tuple(U8(f, 2), U8(f, 3), U8(f, 4), U8(f, 5), U8(f, 6), U8(f, 7));
        EXPECT_GT(date, previous) << "entry " << i + 1;
        previous = date;
        EXPECT_GE(U8(f, 3), 1);
        EXPECT_LE(U8(f, 3), 12);
        EXPECT_GE(U8(f, 4), 1);
        EXPECT_LE(U8(f, 4), 31);
        EXPECT_LE(U8(f, 5), 23);
        EXPECT_LE(U8(f, 6), 59);
        EXPECT_LE(U8(f, 7), 59);
    }
    // The first sample record was measured on 2023-10-09 at 08:15:00.
    EXPECT_EQ(PayloadSlice(frames[0], 2, 8), (Bytes{23, 10, 9, 8, 15, 0}));
}

TEST_F(InstrumentTest, AnEmptyStoreListsOneEntryWithUsedZero) {
    Options_.Records = 0;
    Make();
    const auto frames = IndexFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(PayloadLength(frames[0]), 8);
    EXPECT_EQ(U8(frames[0], 0), 0);
    EXPECT_EQ(U8(frames[0], 1), 1);
}

TEST_F(InstrumentTest, SampleRecordsCycleThroughTheLayoutsKindsAndHeaders) {
    Options_.Records = 10;
    Make();
    const auto index = IndexFrames();
    ASSERT_EQ(index.size(), 10u);
    const std::uint8_t codes[10] = {RspRecord,      RspRecordMulti, RspRecordShielded, RspRecordCvt,
                                    RspRecordRatio, RspRecord,      RspRecordMulti,    RspRecord,
                                    RspRecord,      RspRecordMulti};
    std::set<int> kinds, channels, standards, frequencyKinds, sources;
    for (int n = 1; n <= 10; ++n) {
        const Bytes f = Record(n);
        ASSERT_FALSE(f.empty());
        const std::uint8_t code = f[1];
        EXPECT_EQ(code, codes[n - 1]) << "record " << n;
        EXPECT_TRUE(WellFormed(f));
        int dateAt = 0;
        switch (code) {
        case RspRecord:
            EXPECT_EQ(PayloadLength(f), 47);
            EXPECT_TRUE(U8(f, 0) == 1 || U8(f, 0) == 2) << "record " << n;
            kinds.insert(U8(f, 20));
            dateAt = 41;
            break;
        case RspRecordMulti:
            EXPECT_EQ(PayloadLength(f), 67);
            EXPECT_EQ(U8(f, 0), 1);
            channels.insert(U8(f, 4));
            dateAt = 61;
            break;
        case RspRecordShielded:
            EXPECT_EQ(PayloadLength(f), 47);
            dateAt = 41;
            break;
        case RspRecordCvt:
            EXPECT_EQ(PayloadLength(f), 50);
            dateAt = 44;
            break;
        default:
            EXPECT_EQ(PayloadLength(f), 46);
            dateAt = 40;
            break;
        }
        standards.insert(U8(f, 1));
        frequencyKinds.insert(U8(f, 2));
        sources.insert(U8(f, 3));
        EXPECT_EQ(PayloadSlice(f, dateAt, dateAt + 6),
                  PayloadSlice(index[static_cast<std::size_t>(n - 1)], 2, 8))
            << "record " << n;
    }
    EXPECT_EQ(kinds, (std::set<int>{1, 2, 3, 4}));
    EXPECT_EQ(channels, (std::set<int>{2, 3, 4}));
    EXPECT_EQ(standards, (std::set<int>{1, 2}));
    EXPECT_EQ(frequencyKinds, (std::set<int>{1, 2}));
    EXPECT_EQ(sources, (std::set<int>{1, 2}));
}

TEST_F(InstrumentTest, StoredInductancesCarryTheirQualityFactorOrResistance) {
    Make();
    const Bytes lq = Record(6); // a reactor: Lx and Q
    ASSERT_EQ(U8(lq, 20), 3);
    EXPECT_RELATIVE(F32(lq, 21), 2.5, 0.03);
    EXPECT_RELATIVE(F32(lq, 25), 25.0, 0.06);
    const Bytes lr = Record(9); // Lx and Rx
    ASSERT_EQ(U8(lr, 20), 4);
    EXPECT_RELATIVE(F32(lr, 21), 0.25, 0.03);
    EXPECT_GT(F32(lr, 25), 0.0F);
    EXPECT_LT(F32(lr, 25), 1.0F); // a few ohms, in kΩ
}

class ANumberNotInTheStore : public InstrumentTest, public testing::WithParamInterface<int> {};

TEST_P(ANumberNotInTheStore, IsNeitherReadNorDeletedAndGetsNoAnswer) {
    Make();
    const auto number = static_cast<std::uint8_t>(GetParam());
    EXPECT_TRUE(Exchange(Command(CmdReadRecord, number)).empty());
    EXPECT_TRUE(Exchange(Command(CmdDeleteRecord, number)).empty());
    EXPECT_EQ(Instrument_->Store().size(), 9u);
    EXPECT_EQ(Instrument_->Counters().Unanswered, 2u);
}

INSTANTIATE_TEST_SUITE_P(Numbers, ANumberNotInTheStore, testing::Values(0, 10, 100, 255));

TEST_F(InstrumentTest, DeletingARecordRenumbersTheOnesAfterIt) {
    Make();
    std::vector<Bytes> before;
    for (int n = 1; n <= 9; ++n) {
        before.push_back(Record(n));
    }
    const auto dates = IndexFrames();
    EXPECT_EQ(Codes(Exchange(Command(CmdDeleteRecord, 4))),
              (std::vector<std::uint8_t>{RspRecordDeleted}));
    const auto after = IndexFrames();
    ASSERT_EQ(after.size(), 8u);
    const std::size_t kept[8] = {0, 1, 2, 4, 5, 6, 7, 8};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(U8(after[i], 0), 8);
        EXPECT_EQ(U8(after[i], 1), i + 1);
        EXPECT_EQ(PayloadSlice(after[i], 2, 8), PayloadSlice(dates[kept[i]], 2, 8));
        EXPECT_EQ(Record(static_cast<int>(i + 1)), before[kept[i]]) << "record " << i + 1;
    }
    EXPECT_TRUE(Exchange(Command(CmdReadRecord, 9)).empty());
}

TEST_F(InstrumentTest, DeletingTheOnlyRecordLeavesAnEmptyStore) {
    Options_.Records = 1;
    Make();
    Exchange(Command(CmdDeleteRecord, 1));
    const auto index = IndexFrames();
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(U8(index[0], 0), 0);
}

TEST_F(InstrumentTest, ClearingEmptiesTheStore) {
    Make();
    EXPECT_EQ(Codes(Exchange(Command(CmdClearHistory))),
              (std::vector<std::uint8_t>{RspHistoryCleared}));
    const auto index = IndexFrames();
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(U8(index[0], 0), 0);
    EXPECT_TRUE(Exchange(Command(CmdReadRecord, 1)).empty());
}

// ---------------------------------------------------------------------------------------------

struct SaveCase {
    StartValues Start;
    std::uint8_t Code;
    int Length;
    RecordHeader Header;
    // Where the measured values stand in the live result and in the stored record.
    int LiveFrom, LiveTo, StoredFrom, LiveDate, StoredDate;
};

StartValues Start(std::uint8_t mode, std::uint8_t channels, std::uint8_t standard,
                  std::uint8_t frequency, std::uint16_t volts) {
    StartValues v;
    v.WiringMode = mode;
    v.Channels = channels;
    v.Standard = standard;
    v.FrequencyCode = frequency;
    v.Volts = volts;
    return v;
}

class SavingAResult : public InstrumentTest, public testing::WithParamInterface<SaveCase> {};

TEST_P(SavingAResult, StoresItInTheRecordLayoutOfItsWiringMode) {
    const SaveCase& c = GetParam();
    Make();
    const Bytes live = FinalResultOf(c.Start);
    EXPECT_EQ(Codes(Exchange(Command(CmdInstrumentSave))), (std::vector<std::uint8_t>{RspSaved}));
    const auto index = IndexFrames();
    ASSERT_EQ(index.size(), 10u);
    EXPECT_EQ(U8(index.back(), 0), 10);
    EXPECT_EQ(PayloadSlice(index.back(), 2, 8), kNowStamp);

    const Bytes stored = Record(10);
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored[1], c.Code);
    EXPECT_EQ(PayloadLength(stored), c.Length);
    EXPECT_EQ(PayloadSlice(stored, 0, 4), (Bytes{c.Header.WiringMode, c.Header.Standard,
                                                 c.Header.FrequencyKind, c.Header.HighVoltage}));
    EXPECT_EQ(PayloadSlice(stored, c.StoredFrom, c.StoredFrom + (c.LiveTo - c.LiveFrom)),
              PayloadSlice(live, c.LiveFrom, c.LiveTo));
    EXPECT_EQ(PayloadSlice(stored, c.StoredDate, c.StoredDate + 6),
              PayloadSlice(live, c.LiveDate, c.LiveDate + 6));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SavingAResult,
    testing::Values(
        SaveCase{Start(1, 1, 1, 6, 10000), RspRecord, 47, {1, 1, 1, 1}, 0, 37, 4, 40, 41},
        SaveCase{Start(2, 1, 2, 6, 10000), RspRecord, 47, {2, 2, 1, 1}, 0, 37, 4, 40, 41},
        SaveCase{Start(2, 1, 1, 0, 0), RspRecord, 47, {2, 1, 2, 2}, 0, 37, 4, 40, 41},
        SaveCase{Start(1, 3, 1, 52, 10000), RspRecordMulti, 67, {1, 1, 2, 1}, 0, 56, 5, 56, 61},
        SaveCase{Start(3, 1, 1, 50, 10000), RspRecordShielded, 47, {3, 1, 2, 1}, 0, 36, 4, 40, 41},
        SaveCase{Start(4, 1, 1, 51, 10000), RspRecordCvt, 50, {4, 1, 2, 1}, 0, 40, 4, 40, 44},
        SaveCase{Start(5, 1, 1, 6, 10000), RspRecordRatio, 46, {5, 1, 1, 1}, 0, 36, 4, 40, 40}));

TEST_F(InstrumentTest, TheChannelCountOfAStoredMultiRecordFollowsTheTest) {
    Make();
    FinalResultOf(Start(1, 4, 1, 6, 10000));
    Exchange(Command(CmdInstrumentSave));
    EXPECT_EQ(U8(Record(10), 4), 4);
}

TEST_F(InstrumentTest, SavingTheSameResultTwiceStoresItOnce) {
    Make();
    FinalResultOf(StartValues{});
    Exchange(Command(CmdInstrumentSave));
    EXPECT_EQ(Codes(Exchange(Command(CmdInstrumentSave))), (std::vector<std::uint8_t>{RspSaved}));
    EXPECT_EQ(Instrument_->Store().size(), 10u);
    EXPECT_EQ(Instrument_->Counters().NothingSaved, 1u);
}

TEST_F(InstrumentTest, SaveDoneFollowsASaveThatStoredSomething) {
    Options_.SaveDone = true;
    Make();
    EXPECT_EQ(Codes(Exchange(Command(CmdInstrumentSave))), (std::vector<std::uint8_t>{RspSaved}));
    FinalResultOf(StartValues{});
    const auto frames = Frames(Exchange(Command(CmdInstrumentSave)));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][1], RspSaved);
    EXPECT_EQ(frames[1][1], RspSaveDone1);
    EXPECT_EQ(PayloadLength(frames[1]), 17);
}

TEST_F(InstrumentTest, AFullStoreTakesNoMoreRecords) {
    Options_.Records = 100;
    Make();
    FinalResultOf(StartValues{});
    EXPECT_EQ(Codes(Exchange(Command(CmdInstrumentSave))), (std::vector<std::uint8_t>{RspSaved}));
    EXPECT_EQ(Instrument_->Store().size(), 100u);
    EXPECT_EQ(IndexFrames().size(), 100u);
}

} // namespace
