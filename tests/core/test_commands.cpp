#include "core/commands.h"

#include "core/frame.h"
#include "core/panel.h"
#include "core/responses.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace dielmon;

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> b) {
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

template <std::size_t N>
std::vector<std::uint8_t> Vec(const std::array<std::uint8_t, N>& a) {
    return std::vector<std::uint8_t>(a.begin(), a.end());
}

// A connected panel: the window's items with every list filled.
Panel Connected() {
    Panel p;
    p.FillFrequencyList();
    p.ResetPanel(true);
    return p;
}

} // namespace

TEST(ShortCommands, WorkedFrames) {
    std::vector<std::uint8_t> connect = {0x24, 0xA1, 0x11};
    connect.resize(20, 0);
    connect.push_back(0xB2);
    connect.push_back(0x2A);
    EXPECT_EQ(Vec(BuildShortCommand(CmdConnect)), connect);

    const auto stop = BuildShortCommand(CmdStopTest);
    EXPECT_EQ(stop[1], 0xCC);
    EXPECT_EQ(stop[20], 0xDD);
    EXPECT_EQ(stop[21], 0x2A);

    const auto read7 = BuildShortCommand(CmdReadRecord, 7);
    EXPECT_EQ(read7[3], 0x07);
    EXPECT_EQ(read7[20], 0xEA);
    EXPECT_EQ(CalcCheckCode(read7.data(), 22), 0xEA);
    EXPECT_EQ(CommandName(CmdDeleteRecord), "CmdDeleteRecord");
    EXPECT_EQ(CommandName(0x00), "");
}

TEST(StartTest, FrameFieldsAndCheckByte) {
    TestParameters p;
    p.Channels = 1;
    p.WiringMode = 4;
    p.Standard = 1;
    p.FrequencyCode = 6;
    p.TestVoltage = 10000;
    p.ExtCapacitance = 1.0f;
    p.ExtDissipation = 10.0f;
    p.CvtVoltageLimit = 4000;
    p.CvtCurrentCode = 16;
    p.ExcitationVoltageCode = 2;
    p.ExcitationCurrentCode = 3;
    p.Supply = 1;
    const auto f = BuildStartTest(p);
    EXPECT_EQ(Vec(f), Bytes({0x24, 0xC1, 0x15, 1,    4,
                             1,    6,    0x27, 0x10, 0x00,
                             0x00, 0x80, 0x3F, 0x00, 0x00,
                             0x20, 0x41, 0x0F, 0xA0, 16,
                             2,    3,    1,    0,    CalcCheckCode(f.data(), 26),
                             0x2A}));
    unsigned sum = 0;
    for (int k = 1; k <= 23; ++k) {
        sum += f[static_cast<std::size_t>(k)];
    }
    EXPECT_EQ(f[24], sum % 256);
    EXPECT_EQ(DecodeStartTest(f.data(), 26), p);
    // Negative and oversized numbers keep their low 16 bits.
    p.TestVoltage = -300;
    p.CvtVoltageLimit = 70000;
    const auto g = BuildStartTest(p);
    EXPECT_EQ(g[7], 0xFF);
    EXPECT_EQ(g[8], 0xD4);
    EXPECT_EQ(g[17], (70000 / 256) & 0xFF);
    EXPECT_EQ(g[18], 70000 & 0xFF);
}

TEST(StartTest, PanelChoicesBecomeTheRecord) {
    Panel p = Connected();
    p.CBox_EleType.Select(1);
    p.CBox_ConnType.Select(0);
    p.CBox_ConnTypeChange(); // 正接线: channel selector on "CH-A"
    p.CBox_Model.Select(2);
    p.CBox_U.Select(1);
    p.CBox_TestVolt.Select(1);
    p.CBox_TestVoltChange();
    p.CBox_Freq.Select(24); // "60±2Hz"
    p.Edt_Volt.Text = "10000";
    p.Edt_C.Text = "50.5";
    p.Edt_JS.Text = "0.1";
    p.CBox_VoltUp.Text = "4000";
    p.CBox_CurrentUp.Select(0);
    p.CBox_JLVoltUp.Select(15);
    TestParameters t = p.ReadTestParameters();
    EXPECT_EQ(t.Channels, 3);
    EXPECT_EQ(t.WiringMode, 1);
    EXPECT_EQ(t.Standard, 2);
    EXPECT_EQ(t.FrequencyCode, 53);
    EXPECT_EQ(t.TestVoltage, 10000);
    EXPECT_EQ(t.ExtCapacitance, 50.5f);
    EXPECT_EQ(t.ExtDissipation, 0.1f);
    EXPECT_EQ(t.CvtVoltageLimit, 4000);
    EXPECT_EQ(t.CvtCurrentCode, 1);
    EXPECT_EQ(t.ExcitationVoltageCode, 16);
    EXPECT_EQ(t.ExcitationCurrentCode, 0); // no selection
    EXPECT_EQ(t.Supply, 1);

    p.CBox_Freq.Select(20); // "65Hz"
    EXPECT_EQ(p.ReadTestParameters().FrequencyCode, 21);
    p.Edt_Volt.Text = "abc";
    EXPECT_EQ(p.ReadTestParameters().TestVoltage, 0);

    // The first text that does not convert zeroes itself and the fields after it.
    p.Edt_C.Text = "x";
    t = p.ReadTestParameters();
    EXPECT_EQ(t.ExtCapacitance, 0);
    EXPECT_EQ(t.ExtDissipation, 0);
    EXPECT_EQ(t.CvtVoltageLimit, 0);
    EXPECT_EQ(Vec(BuildStartTest(t))[9], 0);
    p.Edt_C.Text = "1";
    p.Edt_JS.Text = "";
    t = p.ReadTestParameters();
    EXPECT_EQ(t.ExtCapacitance, 1);
    EXPECT_EQ(t.CvtVoltageLimit, 0);

    // External high voltage sends frequency and voltage 0 whatever the fields hold.
    p.CBox_TestVolt.Select(0);
    p.CBox_TestVoltChange();
    p.Edt_Volt.Text = "5000";
    t = p.ReadTestParameters();
    EXPECT_EQ(t.FrequencyCode, 0);
    EXPECT_EQ(t.TestVoltage, 0);

    // A hidden channel selector sends one channel; no supply selected sends 0xFF.
    p.CBox_ConnType.Select(1);
    p.CBox_ConnTypeChange();
    p.CBox_EleType.Select(-1);
    t = p.ReadTestParameters();
    EXPECT_EQ(t.Channels, 1);
    EXPECT_EQ(t.WiringMode, 2);
    EXPECT_EQ(t.Supply, 0xFF);
    // Shown without a selection: 0.
    p.CBox_ConnType.Select(0);
    p.CBox_ConnTypeChange();
    p.CBox_Model.Select(-1);
    EXPECT_EQ(p.ReadTestParameters().Channels, 0);
}

TEST(StartTest, BlanksAroundTypedNumbersAreIgnored) {
    Panel p = Connected();
    p.CBox_ConnType.Select(3);
    p.CBox_ConnTypeChange();
    p.CBox_TestVolt.Select(1);
    p.CBox_TestVoltChange();
    p.Edt_Volt.Text = " 10000 ";
    p.Edt_C.Text = " 50.5";
    p.Edt_JS.Text = "0.1\t";
    p.CBox_VoltUp.Text = "4000 ";
    TestParameters t = p.ReadTestParameters();
    EXPECT_EQ(t.TestVoltage, 10000);
    EXPECT_EQ(t.ExtCapacitance, 50.5f);
    EXPECT_EQ(t.ExtDissipation, 0.1f);
    EXPECT_EQ(t.CvtVoltageLimit, 4000);
    const auto f = BuildStartTest(t);
    EXPECT_EQ(f[7], 0x27);  // 10000
    EXPECT_EQ(f[17], 0x0F); // 4000
    EXPECT_EQ(f[18], 0xA0);
    // Other junk keeps the rule: the field and the fields after it send 0.
    p.Edt_C.Text = "50 .5";
    t = p.ReadTestParameters();
    EXPECT_EQ(t.ExtCapacitance, 0);
    EXPECT_EQ(t.ExtDissipation, 0);
    EXPECT_EQ(t.CvtVoltageLimit, 0);
    // The range checks on leaving the fields read the same numbers.
    EXPECT_EQ(TestVoltageRangeMessage(" 99", 4), "只能输入100-10000的数字");
    EXPECT_FALSE(TestVoltageRangeMessage("100 ", 4).has_value());
    EXPECT_EQ(VoltageLimitRangeMessage("4001 "), "只能输入100-4000的数字");
}

TEST(FrequencyCodes, EveryItemSendsItsOwnCodeWhichReadsBackAsTheItem) {
    Panel p = Connected();
    p.CBox_ConnType.Select(1);
    p.CBox_ConnTypeChange();
    p.CBox_TestVolt.Select(1);
    p.CBox_TestVoltChange();
    const std::vector<std::string> items = FrequencyItems();
    ASSERT_EQ(items.size(), 25u);
    ASSERT_EQ(p.CBox_Freq.Items, items);
    std::set<int> codes;
    for (std::size_t k = 0; k < items.size(); ++k) {
        p.CBox_Freq.Select(static_cast<int>(k));
        const TestParameters t = p.ReadTestParameters();
        const auto frame = BuildStartTest(t);
        const int code = frame[6];
        EXPECT_EQ(code, t.FrequencyCode);
        EXPECT_TRUE(codes.insert(code).second) << items[k] << " shares code " << code;
        EXPECT_EQ(FrequencyCodeText(code), items[k]) << code;
        // The instrument reporting that code selects the same item again.
        const auto reported = dielmon::test::Payload(22)
                                  .B(0, 4)
                                  .B(2, 2)
                                  .B(3, 1)
                                  .B(4, static_cast<std::uint8_t>(code))
                                  .B(5, 0x0B)
                                  .B(6, 0xB8)
                                  .Frame(RspParameters);
        Panel back = Connected();
        back.ApplyInstrumentParameters(reported.data(), dielmon::test::Len(reported));
        EXPECT_EQ(back.CBox_Freq.Text(), items[k]) << code;
    }
    EXPECT_EQ(*codes.begin(), 1);
    EXPECT_EQ(*codes.rbegin(), 53);
}

TEST(FrequencyCodes, ItemTexts) {
    EXPECT_EQ(FrequencyCodeText(1), "45Hz");
    EXPECT_EQ(FrequencyCodeText(21), "65Hz");
    EXPECT_EQ(FrequencyCodeText(6), "50Hz");
    EXPECT_EQ(FrequencyCodeText(50), "50±1Hz");
    EXPECT_EQ(FrequencyCodeText(53), "60±2Hz");
    EXPECT_EQ(FrequencyCodeText(22), "");
    EXPECT_EQ(FrequencyCodeText(0), "");
    const auto items = FrequencyItems();
    ASSERT_EQ(items.size(), 25u);
    for (int code = 1; code <= 21; ++code) {
        EXPECT_EQ(items[static_cast<std::size_t>(code) - 1], FrequencyCodeText(code));
    }
    for (int code = 50; code <= 53; ++code) {
        EXPECT_EQ(items[static_cast<std::size_t>(code) - 29], FrequencyCodeText(code));
    }
}
