// The test parameter panel as plain data: every control's items, selection, text, enabled and
// visible state, and the rules that tie them together. The window mirrors this model into its
// widgets; the trace tool uses it to know what the program's panel held.
#pragma once

#include "core/commands.h"
#include "core/responses.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

struct ComboModel {
    std::vector<std::string> Items;
    int ItemIndex = -1; // -1: no selection
    bool Enabled = true;
    bool Visible = true;
    int Width = 0;

    // The selected item's text, empty without a selection.
    std::string Text() const;
    // Selects an item; an index outside the list leaves nothing selected.
    void Select(int index);
    // Selects the item with this text; none when it is not in the list.
    void SelectText(const std::string& text);
    int IndexOf(const std::string& text) const;
};

struct EditModel {
    std::string Text;
    bool Enabled = true;
    bool Visible = true;
};

// The panel selections that the live displays and the test-configuration line read.
struct PanelSelection {
    std::string ConnType;  // selected text of CBox_ConnType
    std::string Standard;  // of CBox_U
    std::string Frequency; // of CBox_Freq
    std::string TestVolt;  // of CBox_TestVolt
    int ModelIndex = -1;   // selected index of CBox_Model
};

inline constexpr int kConnTypeNarrow = 118;
inline constexpr int kConnTypeWide = 216; // the width of CBox_EleType

class Panel {
public:
    Panel();

    ComboModel CBox_EleType, CBox_ConnType, CBox_Model, CBox_U, CBox_Freq, CBox_TestVolt;
    ComboModel CBox_CurrentUp, CBox_JLVoltUp, CBox_JLCultUp;
    EditModel Edt_Volt, Edt_C, Edt_JS, CBox_VoltUp;
    bool Label2Visible = true; // the "V" beside Edt_Volt
    int FAutoFreqInserted = -1;

    // Controls outside the panel whose enabled state the panel's routines set.
    bool BBtn_StartTest = true;
    bool BBtn_UpHis = true;
    bool BBtn_DelHis = true;
    bool N1 = true; // menu "连接设备"
    bool N2 = true; // menu "通讯设置"
    bool N9 = true; // menu "打开文件"
    bool N6 = true; // menu "退出"

    void ResetPanel(bool enabled);
    void SetPanelLocked(bool locked);
    void SetExternalStandardEnabled(bool enabled);
    void SetCvtMode(bool on);
    void FillFrequencyList();

    // Handlers of the operator's choices; the caller has already changed the selection.
    void CBox_ConnTypeChange();
    void CBox_UChange();
    void CBox_TestVoltChange();

    // Writes the instrument's reported settings into the panel and enables it. The caller
    // keeps InstrumentType and DoubleSteps from the returned record.
    InstrumentParameters ApplyInstrumentParameters(const std::uint8_t* frame, int length);

    TestParameters ReadTestParameters() const;
    // The choices a sent test-start frame stands for, taken into the panel: what a replay of
    // the line knows of the panel when the operator's clicks are not in the log. A frequency
    // code 0 means external high voltage only when the voltage is 0 as well; with a voltage it
    // is an internal test with no frequency chosen.
    void AdoptTestParameters(const TestParameters& p);
    PanelSelection Selection() const;

    // The controls in the order the window lists them, for code that walks all of them.
    std::vector<ComboModel*> Combos();
    std::vector<EditModel*> Edits();
};

// The 25 items of the frequency list: "45Hz" .. "65Hz", "50±1Hz", "50±2Hz", "60±1Hz", "60±2Hz".
std::vector<std::string> FrequencyItems();

// The test configuration "反接线低压屏蔽\内标准\异频\内高压": wiring mode, standard, "定频" when
// the frequency text is shorter than 5 bytes (else "异频"), high-voltage source.
std::string TestConfigurationLine(const PanelSelection& s);

// The number of steps a test takes, for the progress gauge; `previous` when no wiring mode
// is selected.
int GaugeMaximum(const PanelSelection& s, int doubleSteps, int previous);

// The message for a test voltage outside its range when the operator leaves Edt_Volt;
// nothing when the text is no integer or the value is allowed.
std::optional<std::string> TestVoltageRangeMessage(const std::string& text, int instrumentType);
// The same for the CVT high-voltage limit CBox_VoltUp.
std::optional<std::string> VoltageLimitRangeMessage(const std::string& text);

} // namespace dielmon
