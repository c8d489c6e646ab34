#include "core/panel.h"

#include "core/responses.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace dielmon;
using dielmon::test::Len;
using dielmon::test::Payload;

namespace {

Panel Shown() {
    Panel p;
    p.ResetPanel(false);
    p.FillFrequencyList();
    return p;
}

std::vector<std::uint8_t> Parameters(int type, int mode, int standard, int freq, int volt,
                                     float c = 50, float js = 0, int cvt = 2000, int supply = 0,
                                     int doubleSteps = 0) {
    return dielmon::test::ParametersFrame(type, mode, standard, freq, volt, c, js, cvt, supply,
                                          doubleSteps);
}

int Count(const ComboModel& c, const std::string& text) {
    return static_cast<int>(std::count(c.Items.begin(), c.Items.end(), text));
}

} // namespace

TEST(Panel, ShownClearedAndDisabled) {
    Panel p = Shown();
    for (ComboModel* c : p.Combos()) {
        EXPECT_EQ(c->ItemIndex, -1);
        EXPECT_FALSE(c->Enabled);
    }
    for (EditModel* e : p.Edits()) {
        EXPECT_EQ(e->Text, "");
        EXPECT_FALSE(e->Enabled);
    }
    EXPECT_FALSE(p.BBtn_StartTest);
    EXPECT_FALSE(p.BBtn_UpHis);
    EXPECT_FALSE(p.BBtn_DelHis);
    EXPECT_EQ(p.CBox_Freq.Items.size(), 25u);
}

TEST(Panel, InstrumentParametersFillAndEnableThePanel) {
    Panel p = Shown();
    auto f = Parameters(4, 2, 1, 6, 0x2710, 50.5f, 0.1f, 4000, 1, 1);
    InstrumentParameters r = p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(r.InstrumentType, 4);
    EXPECT_EQ(r.DoubleSteps, 1);
    EXPECT_EQ(p.CBox_ConnType.Text(), "反接线");
    EXPECT_FALSE(p.CBox_Model.Visible);
    EXPECT_EQ(p.CBox_ConnType.Width, 216);
    EXPECT_EQ(p.CBox_U.Text(), "内标准");
    EXPECT_EQ(p.CBox_Freq.Text(), "50Hz");
    EXPECT_EQ(p.CBox_TestVolt.Text(), "内高压");
    EXPECT_TRUE(p.Edt_Volt.Visible);
    EXPECT_TRUE(p.Label2Visible);
    EXPECT_EQ(p.Edt_Volt.Text, "10000");
    EXPECT_EQ(p.Edt_C.Text, "50"); // halves to even
    EXPECT_EQ(p.Edt_JS.Text, "0.100");
    EXPECT_EQ(p.CBox_VoltUp.Text, "4000");
    EXPECT_EQ(p.CBox_CurrentUp.Text(), "20mA");
    EXPECT_EQ(p.CBox_JLVoltUp.Text(), "6V");
    EXPECT_EQ(p.CBox_JLCultUp.Text(), "7A");
    EXPECT_EQ(p.CBox_EleType.Text(), "发电机");
    EXPECT_TRUE(p.BBtn_StartTest);
    EXPECT_TRUE(p.CBox_ConnType.Enabled);
    EXPECT_FALSE(p.Edt_C.Enabled); // internal standard
    EXPECT_FALSE(p.CBox_VoltUp.Enabled);

    f = Parameters(4, 2, 2, 0, 0, 51.5f);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(p.CBox_TestVolt.Text(), "外高压");
    EXPECT_FALSE(p.Edt_Volt.Visible);
    EXPECT_EQ(p.CBox_Freq.Text(), "自动检测");
    EXPECT_EQ(p.CBox_Freq.Items[0], "自动检测");
    EXPECT_EQ(p.Edt_C.Text, "52");
    EXPECT_TRUE(p.Edt_C.Enabled); // external standard

    // After an external-voltage setting, the reported frequency is not shifted by the
    // placeholder and survives its removal.
    f = Parameters(4, 2, 1, 5, 3000);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(p.CBox_Freq.Text(), "49Hz");
    EXPECT_EQ(Count(p.CBox_Freq, "自动检测"), 0);
    EXPECT_EQ(p.CBox_Freq.Items.size(), 25u);
    // Frequency code 0 leaves the choice alone.
    f = Parameters(4, 2, 1, 0, 3000);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(p.CBox_Freq.Text(), "49Hz");
    f = Parameters(4, 2, 1, 53, 3000);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(p.CBox_Freq.Text(), "60±2Hz");
}

TEST(Panel, ChannelSelectorByInstrumentType) {
    for (int type : {4, 5, 6, 7}) {
        Panel p = Shown();
        const auto f = Parameters(type, 1, 1, 6, 10000);
        p.ApplyInstrumentParameters(f.data(), Len(f));
        const bool shown = type == 5 || type == 6;
        EXPECT_EQ(p.CBox_Model.Visible, shown) << type;
        EXPECT_EQ(p.CBox_Model.Text(), "CH-A") << type;
        EXPECT_EQ(p.CBox_ConnType.Width, shown ? 118 : 216) << type;
    }
}

TEST(Panel, CvtModeAndNonFiniteParameters) {
    Panel p = Shown();
    const auto f = Parameters(4, 4, 2, 6, 10000, NAN, INFINITY);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(p.CBox_ConnType.Text(), "CVT自激法");
    EXPECT_EQ(p.CBox_U.Text(), "内标准");
    EXPECT_FALSE(p.CBox_U.Enabled);
    EXPECT_FALSE(p.CBox_TestVolt.Enabled);
    EXPECT_FALSE(p.Edt_C.Enabled);
    EXPECT_TRUE(p.CBox_VoltUp.Enabled);
    EXPECT_TRUE(p.CBox_JLCultUp.Enabled);
    // No number reported: the fields, emptied at the connection, get their first texts.
    EXPECT_EQ(p.Edt_C.Text, "50.000");
    EXPECT_EQ(p.Edt_JS.Text, "0.000");
    // An envelope without payload selects nothing and fails nothing.
    const std::uint8_t empty[] = {0x24, 0x1A, 0x00, 0x1A, 0x2A};
    const InstrumentParameters r = p.ApplyInstrumentParameters(empty, 5);
    EXPECT_EQ(r.InstrumentType, 0);
    EXPECT_EQ(p.CBox_ConnType.ItemIndex, -1);
    EXPECT_EQ(p.CBox_TestVolt.Text(), "外高压");
}

TEST(Panel, ValuesThatAreNoNumberLeaveTheFieldsAsTheyWere) {
    Panel p = Shown();
    auto f = Parameters(4, 2, 2, 6, 10000, 1234.5f, 0.25f, 3000);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(p.Edt_C.Text, "1234");
    EXPECT_EQ(p.Edt_JS.Text, "0.250");
    for (const auto& [c, js] : {std::pair{NAN, 0.5f}, std::pair{INFINITY, 0.5f},
                                std::pair{50.0f, -INFINITY}, std::pair{NAN, NAN}}) {
        Panel q = p;
        f = Parameters(4, 2, 2, 6, 10000, c, js, 3000);
        q.ApplyInstrumentParameters(f.data(), Len(f));
        EXPECT_EQ(q.Edt_C.Text, std::isfinite(c) ? "50" : "1234");
        EXPECT_EQ(q.Edt_JS.Text, std::isfinite(js) ? "0.500" : "0.250");
        // The start frame carries the kept values, and the CVT limit after them.
        const TestParameters t = q.ReadTestParameters();
        EXPECT_EQ(t.ExtCapacitance, std::isfinite(c) ? 50.0f : 1234.0f);
        EXPECT_EQ(t.ExtDissipation, std::isfinite(js) ? 0.5f : 0.25f);
        EXPECT_EQ(t.CvtVoltageLimit, 3000);
    }
    // Typed text stays too, whatever it holds.
    p.Edt_C.Text = "x";
    f = Parameters(4, 2, 2, 6, 10000, NAN, NAN);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_EQ(p.Edt_C.Text, "x");
    EXPECT_EQ(p.Edt_JS.Text, "0.250");
}

TEST(Panel, ChannelSelectorUsableWhenChosenAfterATestInAnotherMode) {
    Panel p = Shown();
    const auto f = Parameters(5, 2, 1, 6, 10000);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    EXPECT_FALSE(p.CBox_Model.Visible);
    p.SetPanelLocked(true);
    p.SetPanelLocked(false);
    EXPECT_FALSE(p.CBox_Model.Enabled); // hidden, so left as the lock put it
    p.CBox_ConnType.Select(0);
    p.CBox_ConnTypeChange();
    EXPECT_TRUE(p.CBox_Model.Visible);
    EXPECT_TRUE(p.CBox_Model.Enabled);
    EXPECT_EQ(p.CBox_Model.Text(), "CH-A");
    // A test in 正接线 locks and unlocks it with the rest.
    p.SetPanelLocked(true);
    EXPECT_FALSE(p.CBox_Model.Enabled);
    p.SetPanelLocked(false);
    EXPECT_TRUE(p.CBox_Model.Enabled);
    // While nothing can be chosen (no instrument yet), showing it does not enable it.
    Panel idle = Shown();
    idle.CBox_ConnType.Select(0);
    idle.CBox_ConnTypeChange();
    EXPECT_TRUE(idle.CBox_Model.Visible);
    EXPECT_FALSE(idle.CBox_Model.Enabled);
}

TEST(Panel, DependenciesBetweenTheChoices) {
    Panel p = Shown();
    const auto f = Parameters(4, 2, 1, 6, 10000);
    p.ApplyInstrumentParameters(f.data(), Len(f));

    // External voltage twice: exactly one placeholder, selected, list disabled.
    p.CBox_TestVolt.Select(0);
    p.CBox_TestVoltChange();
    p.CBox_TestVoltChange();
    EXPECT_EQ(Count(p.CBox_Freq, "自动检测"), 1);
    EXPECT_EQ(p.CBox_Freq.ItemIndex, 0);
    EXPECT_FALSE(p.CBox_Freq.Enabled);
    EXPECT_EQ(p.FAutoFreqInserted, 0);

    // Back to internal: "50Hz" and enabled; internal again keeps the frequency.
    p.CBox_TestVolt.Select(1);
    p.CBox_TestVoltChange();
    EXPECT_EQ(p.CBox_Freq.Text(), "50Hz");
    EXPECT_TRUE(p.CBox_Freq.Enabled);
    p.CBox_Freq.Select(10);
    p.CBox_TestVoltChange();
    EXPECT_EQ(p.CBox_Freq.Text(), "55Hz");

    // CVT: internal standard and voltage, both selectors disabled, the four limits enabled.
    p.CBox_ConnType.Select(3);
    p.CBox_ConnTypeChange();
    EXPECT_EQ(p.CBox_U.Text(), "内标准");
    EXPECT_EQ(p.CBox_TestVolt.Text(), "内高压");
    EXPECT_FALSE(p.CBox_U.Enabled);
    EXPECT_FALSE(p.CBox_TestVolt.Enabled);
    EXPECT_FALSE(p.Edt_C.Enabled);
    EXPECT_FALSE(p.Edt_JS.Enabled);
    for (bool on : {p.CBox_VoltUp.Enabled, p.CBox_CurrentUp.Enabled, p.CBox_JLVoltUp.Enabled,
                    p.CBox_JLCultUp.Enabled}) {
        EXPECT_TRUE(on);
    }

    // Ratio: internal voltage, selector disabled; then 反接线 enables it and keeps 内高压.
    p.CBox_TestVolt.Select(0);
    p.CBox_TestVoltChange();
    p.CBox_ConnType.Select(4);
    p.CBox_ConnTypeChange();
    EXPECT_EQ(p.CBox_TestVolt.Text(), "内高压");
    EXPECT_FALSE(p.CBox_TestVolt.Enabled);
    EXPECT_EQ(p.CBox_Freq.Text(), "50Hz");
    p.CBox_ConnType.Select(1);
    p.CBox_ConnTypeChange();
    EXPECT_TRUE(p.CBox_TestVolt.Enabled);
    EXPECT_EQ(p.CBox_TestVolt.Text(), "内高压");
    EXPECT_TRUE(p.CBox_U.Enabled);

    // 正接线 shows the selector on "CH-A" and narrows the wiring list.
    p.CBox_ConnType.Select(0);
    p.CBox_ConnTypeChange();
    EXPECT_TRUE(p.CBox_Model.Visible);
    EXPECT_EQ(p.CBox_Model.Text(), "CH-A");
    EXPECT_EQ(p.CBox_ConnType.Width, 118);
    p.CBox_ConnType.Select(2);
    p.CBox_ConnTypeChange();
    EXPECT_FALSE(p.CBox_Model.Visible);
    EXPECT_EQ(p.CBox_ConnType.Width, 216);

    // External standard enables its two fields.
    p.CBox_U.Select(1);
    p.CBox_UChange();
    EXPECT_TRUE(p.Edt_C.Enabled);
    EXPECT_TRUE(p.Edt_JS.Enabled);
}

TEST(Panel, LockedForATestAndUnlockedAfter) {
    Panel p = Shown();
    const auto f = Parameters(5, 1, 2, 6, 10000);
    p.ApplyInstrumentParameters(f.data(), Len(f));
    p.SetPanelLocked(true);
    for (ComboModel* c : p.Combos()) {
        EXPECT_FALSE(c->Enabled);
    }
    for (EditModel* e : p.Edits()) {
        EXPECT_FALSE(e->Enabled);
    }
    EXPECT_FALSE(p.BBtn_UpHis || p.BBtn_DelHis || p.N1 || p.N2 || p.N9 || p.N6);
    EXPECT_TRUE(p.BBtn_StartTest); // the start and stop buttons are the dispatcher's
    p.SetPanelLocked(false);
    EXPECT_TRUE(p.CBox_Model.Enabled);
    EXPECT_TRUE(p.Edt_C.Enabled); // external standard
    EXPECT_FALSE(p.CBox_VoltUp.Enabled);
    EXPECT_TRUE(p.N1 && p.N2 && p.N9 && p.N6 && p.BBtn_UpHis && p.BBtn_DelHis);

    // After a test in 变比 the voltage selector is enabled; in CVT it stays disabled.
    p.CBox_ConnType.Select(4);
    p.CBox_ConnTypeChange();
    p.SetPanelLocked(true);
    p.SetPanelLocked(false);
    EXPECT_TRUE(p.CBox_TestVolt.Enabled);
    p.CBox_ConnType.Select(3);
    p.CBox_ConnTypeChange();
    p.SetPanelLocked(true);
    p.SetPanelLocked(false);
    EXPECT_FALSE(p.CBox_TestVolt.Enabled);
    EXPECT_TRUE(p.CBox_JLVoltUp.Enabled);
}

TEST(Panel, ConfigurationLineAndGauge) {
    EXPECT_EQ(TestConfigurationLine({"反接线低压屏蔽", "内标准", "50±1Hz", "内高压", -1}),
              "反接线低压屏蔽\\内标准\\异频\\内高压");
    EXPECT_EQ(TestConfigurationLine({"反接线", "外标准", "65Hz", "内高压", -1}),
              "反接线\\外标准\\定频\\内高压");
    EXPECT_EQ(TestConfigurationLine({"反接线", "外标准", "自动检测", "外高压", -1}),
              "反接线\\外标准\\异频\\外高压");
    EXPECT_EQ(TestConfigurationLine({}), "\\\\定频\\");

    const struct {
        const char* conn;
        int model;
        int single;
    } cases[] = {{"正接线", 0, 10},          {"正接线", -1, 10}, {"正接线", 1, 20},
                 {"正接线", 2, 30},          {"正接线", 3, 40},  {"反接线", 3, 10},
                 {"反接线低压屏蔽", -1, 10}, {"变比", -1, 10},   {"CVT自激法", 2, 20}};
    for (const auto& c : cases) {
        const PanelSelection s{c.conn, "", "", "", c.model};
        EXPECT_EQ(GaugeMaximum(s, 0, 99), c.single) << c.conn << c.model;
        EXPECT_EQ(GaugeMaximum(s, 1, 99), 2 * c.single) << c.conn << c.model;
    }
    EXPECT_EQ(GaugeMaximum({}, 1, 37), 37);
}

TEST(Panel, RangeChecksWhenLeavingTheVoltageFields) {
    EXPECT_EQ(TestVoltageRangeMessage("99", 4), "只能输入100-10000的数字");
    EXPECT_EQ(TestVoltageRangeMessage("10001", 4), "只能输入100-10000的数字");
    EXPECT_FALSE(TestVoltageRangeMessage("10000", 5).has_value());
    EXPECT_FALSE(TestVoltageRangeMessage("12000", 6).has_value());
    EXPECT_EQ(TestVoltageRangeMessage("12001", 7), "只能输入100-12000的数字");
    EXPECT_FALSE(TestVoltageRangeMessage("", 4).has_value());
    EXPECT_FALSE(TestVoltageRangeMessage("99999999999", 4).has_value()); // no integer
    EXPECT_EQ(VoltageLimitRangeMessage("4001"), "只能输入100-4000的数字");
    EXPECT_FALSE(VoltageLimitRangeMessage("100").has_value());
    EXPECT_FALSE(VoltageLimitRangeMessage("4000").has_value());
    EXPECT_EQ(VoltageLimitRangeMessage("-5"), "只能输入100-4000的数字");
}
