#include "core/panel.h"

#include "core/helpers.h"
#include "core/texts.h"

#include <cmath>

namespace dielmon {

namespace {

const char* const kConnTypes[] = {"正接线", "反接线", "反接线低压屏蔽", "CVT自激法", "变比"};
const char* const kDirect = "正接线";
const char* const kCvt = "CVT自激法";
const char* const kRatio = "变比";

void DeleteItem(ComboModel& c, int index) {
    if (index < 0 || index >= static_cast<int>(c.Items.size())) {
        return;
    }
    c.Items.erase(c.Items.begin() + index);
    if (c.ItemIndex == index) {
        c.ItemIndex = -1;
    } else if (c.ItemIndex > index) {
        --c.ItemIndex;
    }
}

void InsertFirst(ComboModel& c, const std::string& text) {
    c.Items.insert(c.Items.begin(), text);
    if (c.ItemIndex >= 0) {
        ++c.ItemIndex;
    }
}

// The texts the external standard's fields hold before any instrument has reported.
const char* const kDefaultCapacitanceText = "50.000";
const char* const kDefaultDissipationText = "0.000";

// A reported value that is no number leaves the field as it was, or gives it its first text
// when it is empty: an empty field would send 0 for itself and for every field after it.
void KeepOrDefault(EditModel& field, const char* defaultText) {
    if (field.Text.empty()) {
        field.Text = defaultText;
    }
}

} // namespace

std::string ComboModel::Text() const {
    if (ItemIndex < 0 || ItemIndex >= static_cast<int>(Items.size())) {
        return {};
    }
    return Items[static_cast<std::size_t>(ItemIndex)];
}

void ComboModel::Select(int index) {
    ItemIndex = (index >= 0 && index < static_cast<int>(Items.size())) ? index : -1;
}

int ComboModel::IndexOf(const std::string& text) const {
    for (std::size_t k = 0; k < Items.size(); ++k) {
        if (Items[k] == text) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

void ComboModel::SelectText(const std::string& text) {
    Select(IndexOf(text));
}

std::vector<std::string> FrequencyItems() {
    std::vector<std::string> items;
    for (int hz = 45; hz <= 65; ++hz) {
        items.push_back(std::to_string(hz) + "Hz");
    }
    for (const char* range : {"50±1Hz", "50±2Hz", "60±1Hz", "60±2Hz"}) {
        items.emplace_back(range);
    }
    return items;
}

Panel::Panel() {
    CBox_EleType.Items = {"市电", "发电机"};
    CBox_EleType.Width = kConnTypeWide;
    CBox_ConnType.Items.assign(std::begin(kConnTypes), std::end(kConnTypes));
    CBox_ConnType.Width = kConnTypeNarrow;
    CBox_ConnType.ItemIndex = 2;
    CBox_Model.Items = {"CH-A", "CH-A/B", "CH-A/B/C", "CH-A/B/C/D"};
    CBox_Model.Width = 97;
    CBox_Model.ItemIndex = 3;
    CBox_U.Items = {texts::kInternalStandard, texts::kExternalStandard};
    CBox_U.Width = kConnTypeWide;
    CBox_Freq.Width = kConnTypeWide;
    CBox_TestVolt.Items = {texts::kExternalHighVoltage, texts::kInternalHighVoltage};
    CBox_TestVolt.Width = kConnTypeNarrow;
    CBox_CurrentUp.Items = {"10mA", "15mA", "20mA", "25mA", "30mA",  "35mA",  "40mA",  "45mA",
                            "50mA", "60mA", "70mA", "80mA", "100mA", "120mA", "140mA", "200mA"};
    CBox_JLVoltUp.Items = {"3V",  "4V",  "5V",  "6V",  "7V",  "8V",  "9V",  "10V",
                           "12V", "15V", "20V", "25V", "30V", "35V", "40V", "50V"};
    CBox_JLCultUp.Items = {"3A",  "4A",  "5A",  "6A",  "7A",  "8A",  "9A",  "10A",
                           "11A", "12A", "13A", "14A", "15A", "16A", "20A", "30A"};
    Edt_C.Text = kDefaultCapacitanceText;
    Edt_JS.Text = kDefaultDissipationText;
}

std::vector<ComboModel*> Panel::Combos() {
    return {&CBox_EleType,  &CBox_ConnType,  &CBox_Model,    &CBox_U,       &CBox_Freq,
            &CBox_TestVolt, &CBox_CurrentUp, &CBox_JLVoltUp, &CBox_JLCultUp};
}

std::vector<EditModel*> Panel::Edits() {
    return {&Edt_Volt, &Edt_C, &Edt_JS, &CBox_VoltUp};
}

void Panel::ResetPanel(bool enabled) {
    if (!enabled) {
        for (ComboModel* c : Combos()) {
            c->ItemIndex = -1;
        }
        for (EditModel* e : Edits()) {
            e->Text.clear();
        }
    }
    for (ComboModel* c : Combos()) {
        c->Enabled = enabled;
    }
    for (EditModel* e : Edits()) {
        e->Enabled = enabled;
    }
    BBtn_StartTest = enabled;
    BBtn_UpHis = enabled;
    BBtn_DelHis = enabled;
}

void Panel::SetPanelLocked(bool locked) {
    const bool on = !locked;
    CBox_EleType.Enabled = on;
    CBox_ConnType.Enabled = on;
    CBox_U.Enabled = on;
    CBox_Freq.Enabled = on;
    CBox_TestVolt.Enabled = on;
    Edt_Volt.Enabled = on;
    CBox_Model.Enabled = on && CBox_Model.Visible;
    Edt_C.Enabled = false;
    Edt_JS.Enabled = false;
    CBox_VoltUp.Enabled = false;
    CBox_CurrentUp.Enabled = false;
    CBox_JLVoltUp.Enabled = false;
    CBox_JLCultUp.Enabled = false;
    BBtn_UpHis = on;
    BBtn_DelHis = on;
    N1 = on;
    N2 = on;
    N9 = on;
    N6 = on;
    if (!locked) {
        if (CBox_U.Text() == texts::kExternalStandard) {
            SetExternalStandardEnabled(true);
        }
        if (CBox_ConnType.Text() == kCvt) {
            SetCvtMode(true);
        }
    }
}

void Panel::SetExternalStandardEnabled(bool enabled) {
    Edt_C.Enabled = enabled;
    Edt_JS.Enabled = enabled;
}

void Panel::SetCvtMode(bool on) {
    if (on) {
        CBox_U.Select(CBox_U.IndexOf(texts::kInternalStandard));
        CBox_UChange();
    }
    CBox_U.Enabled = !on;
    CBox_TestVolt.Enabled = !on;
    CBox_VoltUp.Enabled = on;
    CBox_CurrentUp.Enabled = on;
    CBox_JLVoltUp.Enabled = on;
    CBox_JLCultUp.Enabled = on;
}

void Panel::FillFrequencyList() {
    CBox_Freq.Items = FrequencyItems();
    CBox_Freq.ItemIndex = -1;
}

void Panel::CBox_ConnTypeChange() {
    const std::string mode = CBox_ConnType.Text();
    if (mode == kDirect) {
        // Unlocking after a test leaves a hidden selector disabled; shown again, it is usable
        // exactly when the wiring mode it belongs to can be chosen.
        CBox_Model.Visible = true;
        CBox_Model.Enabled = CBox_ConnType.Enabled;
        CBox_Model.Select(0);
        CBox_ConnType.Width = kConnTypeNarrow;
    } else {
        CBox_Model.Visible = false;
        CBox_ConnType.Width = CBox_EleType.Width;
    }
    SetCvtMode(mode == kCvt);
    if (mode == kCvt || mode == kRatio) {
        CBox_TestVolt.Select(1);
        CBox_TestVoltChange();
        CBox_TestVolt.Enabled = false;
    } else {
        CBox_TestVolt.Enabled = true;
    }
}

void Panel::CBox_UChange() {
    SetExternalStandardEnabled(CBox_U.Text() == texts::kExternalStandard);
}

void Panel::CBox_TestVoltChange() {
    if (CBox_TestVolt.ItemIndex == 0) {
        if (CBox_Freq.IndexOf(texts::kAutoDetect) < 0) {
            InsertFirst(CBox_Freq, texts::kAutoDetect);
        }
        CBox_Freq.Select(CBox_Freq.IndexOf(texts::kAutoDetect));
        CBox_Freq.Enabled = false;
        FAutoFreqInserted = 0;
        Edt_Volt.Visible = false;
        Label2Visible = false;
    } else {
        if (FAutoFreqInserted == 0) {
            DeleteItem(CBox_Freq, 0);
            CBox_Freq.Select(5); // "50Hz"
            CBox_Freq.Enabled = true;
        }
        FAutoFreqInserted = -1;
        for (int k; (k = CBox_Freq.IndexOf(texts::kAutoDetect)) >= 0;) {
            DeleteItem(CBox_Freq, k);
        }
        Edt_Volt.Visible = true;
        Label2Visible = true;
    }
}

InstrumentParameters Panel::ApplyInstrumentParameters(const std::uint8_t* frame, int length) {
    const InstrumentParameters p = DecodeParameters(frame, length);
    CBox_ConnType.Select(p.WiringMode - 1);

    CBox_Model.Select(0);
    CBox_Model.Enabled = false;
    CBox_Model.Visible = false;
    CBox_ConnType.Width = CBox_EleType.Width;
    if ((p.InstrumentType == 5 || p.InstrumentType == 6) && CBox_ConnType.Text() == kDirect) {
        CBox_Model.Enabled = true;
        CBox_Model.Select(0);
        CBox_Model.Visible = true;
        CBox_ConnType.Width = kConnTypeNarrow;
    }

    CBox_U.Select(p.Standard - 1);

    // The reported frequency is chosen by its item text, so that the "自动检测" placeholder of an
    // earlier external-voltage setting does not shift it to the neighbouring item.
    const std::string reportedFrequency = FrequencyCodeText(p.FrequencyCode);
    if (p.FrequencyCode != 0) {
        CBox_Freq.SelectText(reportedFrequency);
    }

    if (p.TestVoltage == 0) {
        CBox_TestVolt.Select(0);
        CBox_TestVoltChange();
        Edt_Volt.Visible = false;
        Label2Visible = false;
    } else {
        CBox_TestVolt.Select(1);
        CBox_TestVoltChange();
        // Removing the placeholder falls back to 50 Hz; the instrument's own frequency wins.
        if (!reportedFrequency.empty()) {
            CBox_Freq.SelectText(reportedFrequency);
        }
        Edt_Volt.Visible = true;
        Label2Visible = true;
        Edt_Volt.Text = std::to_string(p.TestVoltage);
    }

    // The capacitance rounded to a whole number with halves to even.
    if (std::isfinite(p.ExtCapacitance)) {
        Edt_C.Text = Format("%.0f", std::nearbyint(p.ExtCapacitance) + 0.0);
    } else {
        KeepOrDefault(Edt_C, kDefaultCapacitanceText);
    }
    if (std::isfinite(p.ExtDissipation)) {
        Edt_JS.Text = FormatFixed(3, 0, p.ExtDissipation);
    } else {
        KeepOrDefault(Edt_JS, kDefaultDissipationText);
    }
    CBox_VoltUp.Text = std::to_string(p.CvtVoltageLimit);

    CBox_CurrentUp.Select(p.CvtCurrentCode - 1);
    CBox_JLVoltUp.Select(p.ExcitationVoltageCode - 1);
    CBox_JLCultUp.Select(p.ExcitationCurrentCode - 1);
    CBox_EleType.Select(p.Supply);

    ResetPanel(true);
    SetExternalStandardEnabled(CBox_U.Text() == texts::kExternalStandard);
    SetCvtMode(CBox_ConnType.Text() == kCvt);
    return p;
}

TestParameters Panel::ReadTestParameters() const {
    TestParameters p;
    p.Channels = CBox_Model.Visible ? static_cast<std::uint8_t>(CBox_Model.ItemIndex + 1) : 1;
    p.WiringMode = static_cast<std::uint8_t>(WiringModeToIndex(CBox_ConnType.Text()));
    p.Standard = static_cast<std::uint8_t>(CBox_U.ItemIndex + 1);
    if (CBox_TestVolt.ItemIndex == 0) {
        p.FrequencyCode = 0;
        p.TestVoltage = 0;
    } else {
        const int i = CBox_Freq.ItemIndex;
        p.FrequencyCode = static_cast<std::uint8_t>(i < 0 ? 0 : (i < 21 ? i + 1 : i + 29));
        p.TestVoltage = ParseInt(Edt_Volt.Text).value_or(0);
    }
    // The first text that does not convert leaves itself and the fields after it at 0.
    if (const auto c = ParseDecimal(Edt_C.Text)) {
        p.ExtCapacitance = static_cast<float>(*c);
        if (const auto js = ParseDecimal(Edt_JS.Text)) {
            p.ExtDissipation = static_cast<float>(*js);
            p.CvtVoltageLimit = ParseInt(CBox_VoltUp.Text).value_or(0);
        }
    }
    p.CvtCurrentCode = static_cast<std::uint8_t>(CBox_CurrentUp.ItemIndex + 1);
    p.ExcitationVoltageCode = static_cast<std::uint8_t>(CBox_JLVoltUp.ItemIndex + 1);
    p.ExcitationCurrentCode = static_cast<std::uint8_t>(CBox_JLCultUp.ItemIndex + 1);
    p.Supply = static_cast<std::uint8_t>(CBox_EleType.ItemIndex);
    return p;
}

void Panel::AdoptTestParameters(const TestParameters& p) {
    CBox_ConnType.Select(p.WiringMode - 1);
    CBox_ConnTypeChange();
    if (CBox_Model.Visible) {
        CBox_Model.Select(p.Channels - 1);
    }
    CBox_U.Select(p.Standard - 1);
    const bool external = p.FrequencyCode == 0 && p.TestVoltage == 0;
    CBox_TestVolt.Select(external ? 0 : 1);
    CBox_TestVoltChange();
    if (!external) {
        CBox_Freq.SelectText(FrequencyCodeText(p.FrequencyCode));
        Edt_Volt.Text = std::to_string(p.TestVoltage);
    }
}

PanelSelection Panel::Selection() const {
    PanelSelection s;
    s.ConnType = CBox_ConnType.Text();
    s.Standard = CBox_U.Text();
    s.Frequency = CBox_Freq.Text();
    s.TestVolt = CBox_TestVolt.Text();
    s.ModelIndex = CBox_Model.ItemIndex;
    return s;
}

std::string TestConfigurationLine(const PanelSelection& s) {
    const bool fixed = s.Frequency.size() < 5;
    return s.ConnType + "\\" + s.Standard + (fixed ? "\\定频\\" : "\\异频\\") + s.TestVolt;
}

int GaugeMaximum(const PanelSelection& s, int doubleSteps, int previous) {
    int steps = 0;
    if (s.ConnType == kDirect) {
        steps = s.ModelIndex >= 1 && s.ModelIndex <= 3 ? 10 * (s.ModelIndex + 1) : 10;
    } else if (s.ConnType == kCvt) {
        steps = 20;
    } else if (s.ConnType == kConnTypes[1] || s.ConnType == kConnTypes[2] || s.ConnType == kRatio) {
        steps = 10;
    } else {
        return previous;
    }
    return doubleSteps == 1 ? steps * 2 : steps;
}

std::optional<std::string> TestVoltageRangeMessage(const std::string& text, int instrumentType) {
    const auto v = ParseInt(text);
    if (!v) {
        return std::nullopt;
    }
    const bool high = instrumentType == 6 || instrumentType == 7;
    const int max = high ? 12000 : 10000;
    if (*v >= 100 && *v <= max) {
        return std::nullopt;
    }
    return std::string(high ? texts::kVoltRange12000 : texts::kVoltRange10000);
}

std::optional<std::string> VoltageLimitRangeMessage(const std::string& text) {
    const auto v = ParseInt(text);
    if (!v || (*v >= 100 && *v <= 4000)) {
        return std::nullopt;
    }
    return std::string(texts::kVoltUpRange);
}

} // namespace dielmon
