#include "core/measured.h"

#include "layouts.h"

#include "core/helpers.h"
#include "core/responses.h"
#include "core/texts.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace dielmon {

using namespace detail;

std::string UnitSymbol(SiUnit unit) {
    switch (unit) {
    case SiUnit::None:
        return {};
    case SiUnit::Farad:
        return "F";
    case SiUnit::Percent:
        return "%";
    case SiUnit::Volt:
        return "V";
    case SiUnit::Ampere:
        return "A";
    case SiUnit::Hertz:
        return "Hz";
    case SiUnit::Degree:
        return "°";
    case SiUnit::Watt:
        return "W";
    case SiUnit::Ohm:
        return "Ω";
    case SiUnit::Henry:
        return "H";
    }
    return {};
}

SiUnit UnitOf(Quantity q) {
    switch (q) {
    case Quantity::Capacitance:
        return SiUnit::Farad;
    case Quantity::Dissipation:
        return SiUnit::Percent;
    case Quantity::Resistance:
        return SiUnit::Ohm;
    case Quantity::Inductance:
        return SiUnit::Henry;
    case Quantity::Voltage:
        return SiUnit::Volt;
    case Quantity::Current:
        return SiUnit::Ampere;
    case Quantity::Phase:
        return SiUnit::Degree;
    case Quantity::Power:
        return SiUnit::Watt;
    case Quantity::Frequency:
        return SiUnit::Hertz;
    case Quantity::Quality:
    case Quantity::PowerFactor:
    case Quantity::Ratio:
        return SiUnit::None;
    }
    return SiUnit::None;
}

double SiValue(Quantity q, double sent) {
    const double a = std::fabs(sent);
    switch (q) {
    case Quantity::Capacitance:
        return a * 1e-9;
    case Quantity::Dissipation:
        return sent;
    case Quantity::Resistance:
    case Quantity::Voltage:
    case Quantity::Power:
        return a * 1e3;
    case Quantity::Frequency:
        return a / 10;
    case Quantity::Inductance:
    case Quantity::Quality:
    case Quantity::Current:
    case Quantity::Phase:
    case Quantity::PowerFactor:
    case Quantity::Ratio:
        return a;
    }
    return a;
}

const MeasuredQuantity* Measurement::Find(const std::string& name) const {
    for (const MeasuredQuantity& q : Quantities) {
        if (q.Name == name) {
            return &q;
        }
    }
    return nullptr;
}

std::string DissipationNameOf(const std::string& capacitance) {
    if (capacitance.size() == 2 && capacitance[0] == 'C' && capacitance != "Cx") {
        return "DF" + capacitance.substr(1);
    }
    return "DF";
}

std::string DateStampIso(const DateStamp& d) {
    return Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", d[0] + 2000, d[1], d[2], d[3], d[4], d[5]);
}

namespace {

const char* const kChannelNames[4] = {"a", "b", "c", "d"};

// Appends the quantities of one payload, each read and judged as its result line is.
class FrameQuantities {
public:
    FrameQuantities(const PayloadReader& r, Measurement& m) : R_(r), M_(m) {}

    void Add(const std::string& name, Quantity q, int offset, const OverRule& rule) {
        const double sent = R_.Float(offset);
        const bool over = IsOver(rule, sent);
        MeasuredQuantity mq{name, q, std::nullopt, over};
        if (!over) {
            mq.Value = SiValue(q, sent);
        }
        M_.Quantities.push_back(std::move(mq));
    }
    void Pair(const std::string& cap, int capOffset, int dfOffset) {
        Add(cap, Quantity::Capacitance, capOffset, kCapacitanceOver);
        Add(DissipationNameOf(cap), Quantity::Dissipation, dfOffset, kDissipationOver);
    }
    void Frequencies(int f1, int f2) {
        Add("F1", Quantity::Frequency, f1, kFrequencyOver);
        Add("F2", Quantity::Frequency, f2, kFrequencyOver);
    }
    void Date(int offset) {
        DateStamp d{};
        R_.Bytes(offset, d.data(), kDateStampLength);
        M_.Date = d;
    }

private:
    const PayloadReader& R_;
    Measurement& M_;
};

void Single(FrameQuantities& q, const PayloadReader& r, const SingleLayout& f, bool live) {
    const int kind = r.Byte(f.ResultKind);
    switch (kind) {
    case 1:
    case 2:
        q.Add("Cx", Quantity::Capacitance, f.X, SingleCapacitanceOver(kind, live));
        break;
    case 3:
    case 4:
        q.Add("Lx", Quantity::Inductance, f.X, SingleInductanceOver(kind, live));
        break;
    default:
        break;
    }
    switch (kind) {
    case 1:
        q.Add("DF", Quantity::Dissipation, f.Y, kDissipationOver);
        break;
    case 2:
    case 4:
        q.Add("Rx", Quantity::Resistance, f.Y, kResistanceOver);
        break;
    case 3:
        q.Add("Q", Quantity::Quality, f.Y, kQualityOver);
        break;
    default:
        break;
    }
    q.Add("U", Quantity::Voltage, f.U, kVoltage1000Over);
    q.Add("I", Quantity::Current, f.I, SingleCurrentOver(live));
    q.Add("Φ", Quantity::Phase, f.Phi, kPhaseOver);
    q.Add("PF", Quantity::PowerFactor, f.PF, kPowerFactorOver);
    q.Add("P", Quantity::Power, f.P, kPowerOver);
    q.Frequencies(f.F1, f.F2);
    q.Date(f.Date);
}

void Shielded(FrameQuantities& q, const ShieldedLayout& f) {
    q.Pair("Cx", f.Cx, f.DFx);
    q.Pair("Cg", f.Cg, f.DFg);
    q.Add("U", Quantity::Voltage, f.U, kVoltage999Over);
    q.Add("Ix", Quantity::Current, f.Ix, kCurrentOver);
    q.Add("Ig", Quantity::Current, f.Ig, kCurrentOver);
    q.Frequencies(f.F1, f.F2);
    q.Date(f.Date);
}

void Cvt(FrameQuantities& q, const CvtLayout& f) {
    q.Pair("C1", f.C1, f.DF1);
    q.Pair("C2", f.C2, f.DF2);
    q.Add("U1", Quantity::Voltage, f.U1, kVoltage999Over);
    q.Add("U2", Quantity::Voltage, f.U2, kVoltage999Over);
    q.Add("I1", Quantity::Current, f.I1, kCurrentOver);
    q.Add("I2", Quantity::Current, f.I2, kCurrentOver);
    q.Frequencies(f.F1, f.F2);
    q.Date(f.Date);
}

void Ratio(FrameQuantities& q, const RatioLayout& f) {
    q.Add("K", Quantity::Ratio, f.K, kRatioOver);
    q.Add("Cx", Quantity::Capacitance, f.Cx, kCapacitanceOver);
    q.Add("DF", Quantity::Dissipation, f.DF, kDissipationOver);
    q.Add("U1", Quantity::Voltage, f.U1, kVoltage999Over);
    q.Add("U2", Quantity::Voltage, f.U2, kVoltage999Over);
    q.Add("I", Quantity::Current, f.I, kCurrentOver);
    q.Add("Φ", Quantity::Phase, f.Phi, kPhaseOver);
    q.Frequencies(f.F1, f.F2);
    q.Date(f.Date);
}

// `pairs` channels with their pair lines, `voltages` of them with their voltage lines (a stored
// record with a channel count the instrument does not send shows pairs a and b and no voltage).
void Multi(FrameQuantities& q, const MultiLayout& f, int pairs, int voltages) {
    for (int c = 0; c < pairs; ++c) {
        q.Pair(std::string("C") + kChannelNames[c], f.C[c], f.DF[c]);
    }
    for (int c = 0; c < voltages; ++c) {
        q.Add(std::string("U") + kChannelNames[c], Quantity::Voltage, f.U[c], kVoltage1000Over);
    }
    q.Frequencies(f.F1, f.F2);
    q.Date(f.Date);
}

int WiringModeOf(const std::string& name) {
    const int index = WiringModeToIndex(name);
    return IndexToWiringMode(index) == name ? index : 0;
}

int ChoiceOf(const std::string& text, const char* first, const char* second) {
    return text == first ? 1 : (text == second ? 2 : 0);
}

} // namespace

Measurement MeasureFinalResult(const std::uint8_t* frame, int length, const PanelSelection& s) {
    const PayloadReader r(frame, length);
    Measurement m;
    m.WiringMode = WiringModeOf(s.ConnType);
    m.Standard = ChoiceOf(s.Standard, texts::kInternalStandard, texts::kExternalStandard);
    // As the title line decides it.
    m.Frequency = s.Frequency.size() < 5 ? 1 : 2;
    m.Voltage = ChoiceOf(s.TestVolt, texts::kInternalHighVoltage, texts::kExternalHighVoltage);
    FrameQuantities q(r, m);
    const FinalLayout layout = FinalLayoutFor(s);
    m.Channels = layout.Channels;
    switch (layout.Kind) {
    case LayoutKind::SingleLayout:
        Single(q, r, kSingleLive, true);
        break;
    case LayoutKind::ShieldedLayout:
        Shielded(q, kShieldedLive);
        break;
    case LayoutKind::CvtLayout:
        Cvt(q, kCvtLive);
        break;
    case LayoutKind::RatioLayout:
        Ratio(q, kRatioLive);
        break;
    case LayoutKind::MultiLayout:
        Multi(q, kMultiLive, layout.Channels, layout.Channels);
        break;
    }
    return m;
}

Measurement MeasureStoredRecord(std::uint8_t code, const std::uint8_t* frame, int length) {
    const PayloadReader r(frame, length);
    Measurement m;
    std::uint8_t header[kRecordHeaderLength];
    r.Bytes(0, header, kRecordHeaderLength);
    m.Standard = header[1] == 1 ? 1 : 2;
    m.Frequency = header[2] == 1 ? 1 : 2;
    m.Voltage = header[3] == 1 ? 1 : 2;
    m.Channels = 1;
    const int namedMode = header[0] >= 1 && header[0] <= 5 ? header[0] : 0;
    FrameQuantities q(r, m);
    switch (code) {
    case RspRecord:
        m.WiringMode = namedMode;
        Single(q, r, kSingleStored, false);
        break;
    case RspRecordShielded:
        m.WiringMode = 3;
        Shielded(q, kShieldedStored);
        break;
    case RspRecordCvt:
        m.WiringMode = 4;
        Cvt(q, kCvtStored);
        break;
    case RspRecordRatio:
        m.WiringMode = 5;
        Ratio(q, kRatioStored);
        break;
    case RspRecordMulti: {
        m.WiringMode = namedMode;
        const int channels = r.Byte(kRecordChannels);
        m.Channels = channels;
        if (channels >= 2 && channels <= 4) {
            Multi(q, kMultiStored, channels, channels);
        } else {
            Multi(q, kMultiStored, 2, 0);
        }
        break;
    }
    default:
        m = Measurement{};
        break;
    }
    return m;
}

namespace {

// Reading the builders' texts back. GBK characters are walked whole, so that the second byte
// of a character is never taken for an ASCII byte.
std::size_t CharLength(const std::string& s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) >= 0x81 && at + 1 < s.size() ? 2 : 1;
}

const std::string kColon = "：";
const std::string kWideSpace = "　";

bool At(const std::string& s, std::size_t at, const std::string& what) {
    return s.compare(at, what.size(), what) == 0;
}

// Without the ASCII and full-width spaces around it.
std::string Trimmed(const std::string& s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end) {
        if (s[begin] == ' ') {
            ++begin;
        } else if (At(s, begin, kWideSpace)) {
            begin += kWideSpace.size();
        } else {
            break;
        }
    }
    while (end > begin) {
        if (s[end - 1] == ' ') {
            --end;
        } else if (end - begin >= kWideSpace.size() &&
                   s.compare(end - kWideSpace.size(), kWideSpace.size(), kWideSpace) == 0) {
            end -= kWideSpace.size();
        } else {
            break;
        }
    }
    return s.substr(begin, end - begin);
}

struct LabelKind {
    const char* Name;
    Quantity Kind;
};

const LabelKind kLabels[] = {
    {"Cx", Quantity::Capacitance}, {"Cg", Quantity::Capacitance}, {"C1", Quantity::Capacitance},
    {"C2", Quantity::Capacitance}, {"Ca", Quantity::Capacitance}, {"Cb", Quantity::Capacitance},
    {"Cc", Quantity::Capacitance}, {"Cd", Quantity::Capacitance}, {"Lx", Quantity::Inductance},
    {"DF", Quantity::Dissipation}, {"Rx", Quantity::Resistance},  {"Q", Quantity::Quality},
    {"U", Quantity::Voltage},      {"U1", Quantity::Voltage},     {"U2", Quantity::Voltage},
    {"Ua", Quantity::Voltage},     {"Ub", Quantity::Voltage},     {"Uc", Quantity::Voltage},
    {"Ud", Quantity::Voltage},     {"I", Quantity::Current},      {"I1", Quantity::Current},
    {"I2", Quantity::Current},     {"Ix", Quantity::Current},     {"Ig", Quantity::Current},
    {"Φ", Quantity::Phase},        {"PF", Quantity::PowerFactor}, {"P", Quantity::Power},
    {"F1", Quantity::Frequency},   {"F2", Quantity::Frequency},   {"K", Quantity::Ratio},
};

const LabelKind* LabelOf(const std::string& label) {
    for (const LabelKind& l : kLabels) {
        if (label == l.Name) {
            return &l;
        }
    }
    return nullptr;
}

struct UnitScale {
    const char* Text;
    double Factor;
};

// The display units of a quantity with their factors to SI, longest text first where one
// ends another ("kV" before "V").
std::vector<UnitScale> DisplayUnits(Quantity q) {
    switch (q) {
    case Quantity::Capacitance:
        return {{"pF", 1e-12}, {"nF", 1e-9}, {"uF", 1e-6}};
    case Quantity::Dissipation:
        return {{"%", 1}};
    case Quantity::Resistance:
        return {{"GΩ", 1e9}, {"MΩ", 1e6}, {"kΩ", 1e3}, {"Ω", 1}};
    case Quantity::Inductance:
        return {{"mH", 1e-3}, {"H", 1}};
    case Quantity::Voltage:
        return {{"kV", 1e3}, {"V", 1}};
    case Quantity::Current:
        return {{"uA", 1e-6}, {"mA", 1e-3}, {"A", 1}};
    case Quantity::Phase:
        return {{"°", 1}};
    case Quantity::Power:
        return {{"kW", 1e3}, {"W", 1}};
    case Quantity::Frequency:
        return {{"Hz", 1}};
    case Quantity::Quality:
    case Quantity::PowerFactor:
    case Quantity::Ratio:
        return {{"", 1}};
    }
    return {};
}

// The decimal number FormatValue3/4 writes ("-0.012", "1234"), from `at`; its length, 0 when
// there is none.
std::size_t NumberAt(const std::string& s, std::size_t at, double& value) {
    std::size_t end = at;
    if (end < s.size() && s[end] == '-') {
        ++end;
    }
    const std::size_t digits = end;
    while (end < s.size() && ((s[end] >= '0' && s[end] <= '9') || s[end] == '.')) {
        ++end;
    }
    if (end == digits) {
        return 0;
    }
    const auto parsed = std::from_chars(s.data() + at, s.data() + end, value);
    if (parsed.ec != std::errc() || parsed.ptr != s.data() + end || !std::isfinite(value)) {
        return 0;
    }
    return end - at;
}

std::optional<DateStamp> DateOf(const std::string& text) {
    int v[6] = {};
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) !=
        6) {
        return std::nullopt;
    }
    if (v[0] < 2000 || v[0] > 2255) {
        return std::nullopt;
    }
    DateStamp d{};
    d[0] = static_cast<std::uint8_t>(v[0] - 2000);
    for (int k = 1; k < 6; ++k) {
        if (v[k] < 0 || v[k] > 255) {
            return std::nullopt;
        }
        d[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v[k]);
    }
    return d;
}

// Every "label：value unit" of one line.
void ReadLine(const std::string& line, Measurement& m) {
    std::size_t labelStart = 0;
    std::string lastCapacitance;
    std::size_t at = 0;
    while (at < line.size()) {
        if (!At(line, at, kColon)) {
            at += CharLength(line, at);
            continue;
        }
        const std::string label = Trimmed(line.substr(labelStart, at - labelStart));
        const std::size_t value = at + kColon.size();
        if (label == "Date") {
            if (const auto d = DateOf(line.substr(value))) {
                m.Date = d;
            }
            return;
        }
        at = value;
        labelStart = value;
        const LabelKind* kind = LabelOf(label);
        if (kind == nullptr) {
            continue;
        }
        std::string name = kind->Name;
        if (kind->Kind == Quantity::Dissipation && !lastCapacitance.empty()) {
            name = DissipationNameOf(lastCapacitance);
        }
        lastCapacitance = kind->Kind == Quantity::Capacitance ? name : std::string();
        if (At(line, value, "over")) {
            m.Quantities.push_back({name, kind->Kind, std::nullopt, true});
            at = labelStart = value + 4;
            continue;
        }
        double number = 0;
        const std::size_t length = NumberAt(line, value, number);
        MeasuredQuantity q{name, kind->Kind, std::nullopt, false};
        if (length > 0) {
            for (const UnitScale& u : DisplayUnits(kind->Kind)) {
                if (At(line, value + length, u.Text)) {
                    q.Value = number * u.Factor;
                    at = labelStart = value + length + std::strlen(u.Text);
                    break;
                }
            }
        }
        m.Quantities.push_back(std::move(q));
    }
}

void ReadBlock(const std::string& text, Measurement& m) {
    for (const std::string& line : SplitLines(text)) {
        ReadLine(line, m);
    }
}

// "反接线低压屏蔽\内标准\异频\内高压": the four parts between the backslashes.
void ReadTitle(const std::string& title, Measurement& m) {
    std::vector<std::string> parts(1);
    for (std::size_t at = 0; at < title.size();) {
        const std::size_t n = CharLength(title, at);
        if (n == 1 && title[at] == '\\') {
            parts.emplace_back();
        } else {
            parts.back() += title.substr(at, n);
        }
        at += n;
    }
    if (parts.size() != 4) {
        return;
    }
    m.WiringMode = WiringModeOf(parts[0]);
    m.Standard = ChoiceOf(parts[1], texts::kInternalStandard, texts::kExternalStandard);
    m.Frequency = ChoiceOf(parts[2], texts::kFixedFrequency, texts::kVariableFrequency);
    m.Voltage = ChoiceOf(parts[3], texts::kInternalHighVoltage, texts::kExternalHighVoltage);
}

} // namespace

Measurement MeasureTexts(const ResultTexts& t) {
    Measurement m;
    ReadTitle(t.Title, m);
    ReadBlock(t.Main, m);
    ReadBlock(t.Details, m);
    int channels = 0;
    for (const char* c : {"Ca", "Cb", "Cc", "Cd"}) {
        channels += m.Find(c) != nullptr ? 1 : 0;
    }
    if (channels > 0) {
        m.Channels = channels;
    } else if (m.WiringMode != 0) {
        m.Channels = 1;
    }
    return m;
}

} // namespace dielmon
