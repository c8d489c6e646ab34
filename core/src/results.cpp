#include "core/results.h"

#include "layouts.h"

#include "core/helpers.h"
#include "core/responses.h"
#include "core/texts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dielmon {

using namespace detail;

bool IsOver(const OverRule& rule, double value) {
    if (!std::isfinite(value)) {
        return true;
    }
    const double x = std::fabs(value) / rule.Divisor;
    return rule.OrEqual ? x >= rule.Limit : x > rule.Limit;
}

std::string QuantityText(Quantity q, double value, bool spacedUnit) {
    const double a = std::fabs(value);
    switch (q) {
    case Quantity::Capacitance:
        if (a >= 1000) {
            return FormatValue3(a / 1000) + "uF";
        }
        if (a >= 1) {
            return FormatValue3(a) + "nF";
        }
        return FormatValue3(a * 1000) + "pF";
    case Quantity::Dissipation:
        return FormatValue3(value) + "%";
    case Quantity::Resistance:
        if (a >= 1000000) {
            return FormatValue3(a / 1000000) + "GΩ\r\n";
        }
        if (a >= 1000) {
            return FormatValue3(a / 1000) + "MΩ";
        }
        if (a >= 1) {
            return FormatValue3(a) + "kΩ";
        }
        return FormatValue3(a * 1000) + (spacedUnit ? "Ω " : "Ω");
    case Quantity::Inductance:
        if (a >= 1) {
            return FormatValue3(a) + (spacedUnit ? "H " : "H");
        }
        return FormatValue3(a * 1000) + "mH";
    case Quantity::Quality:
        return FormatValue3(a);
    case Quantity::Voltage:
        if (a >= 1) {
            return FormatValue3(a) + "kV";
        }
        return FormatValue3(a * 1000) + "V ";
    case Quantity::Current:
        if (a >= 1) {
            return FormatValue3(a) + "A ";
        }
        if (a >= 0.001) {
            return FormatValue3(a * 1000) + "mA";
        }
        return FormatValue3(a * 1000000) + "uA";
    case Quantity::Phase:
        return FormatValue4(a) + "°";
    case Quantity::PowerFactor:
        return FormatValue4(a);
    case Quantity::Power:
        if (a >= 1) {
            return FormatValue3(a) + "kW";
        }
        return FormatValue3(a * 1000) + "W";
    case Quantity::Frequency:
        return FormatValue3(a / 10) + "Hz";
    case Quantity::Ratio:
        return FormatValue4(a);
    }
    return {};
}

std::string ResultLines::Text() const {
    std::string text;
    for (const std::string& line : Lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

namespace {

const std::string kOver = "over   ";

std::string Over(const std::string& label) {
    return label + kOver;
}

} // namespace

std::string ValueLine(const std::string& label, const std::string& overText, Quantity q,
                      double value, const OverRule& over, bool spacedUnit) {
    const std::string text =
        IsOver(over, value) ? overText : label + QuantityText(q, value, spacedUnit);
    return PadRight(text, LineWidth);
}

std::string PairLine(const std::string& capLabel, const std::string& capOverText,
                     double capacitance, double dissipation) {
    std::string first = IsOver(kCapacitanceOver, capacitance)
                            ? capOverText
                            : capLabel + QuantityText(Quantity::Capacitance, capacitance);
    first = PadRight(first, CapColumnWidth);
    const std::string second = IsOver(kDissipationOver, dissipation)
                                   ? Over("DF：")
                                   : "DF：" + QuantityText(Quantity::Dissipation, dissipation);
    return PadRight(first + second, PairLineWidth);
}

std::string DateLine(const std::uint8_t* stamp) {
    return PadRight("  Date：" + Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", stamp[0] + 2000, stamp[1],
                                        stamp[2], stamp[3], stamp[4], stamp[5]),
                    LineWidth);
}

std::string RecordTitle(const std::string& modeName, const std::uint8_t* header) {
    return modeName + "\\" +
           (header[1] == 1 ? texts::kInternalStandard : texts::kExternalStandard) +
           (header[2] == 1 ? "\\定频\\" : "\\异频\\") +
           (header[3] == 1 ? texts::kInternalHighVoltage : texts::kExternalHighVoltage);
}

PayloadReader::PayloadReader(const std::uint8_t* frame, int length)
    : Payload_(frame + 3), Available_(0) {
    if (length > 3) {
        Available_ = std::min<int>(frame[2], length - 3);
    }
}

std::uint8_t PayloadReader::Byte(int offset) const {
    return offset >= 0 && offset < Available_ ? Payload_[offset] : 0;
}

void PayloadReader::Bytes(int offset, std::uint8_t* out, int count) const {
    for (int k = 0; k < count; ++k) {
        out[k] = Byte(offset + k);
    }
}

double PayloadReader::Float(int offset) const {
    std::uint8_t b[4];
    Bytes(offset, b, 4);
    return BytesToFloat(b);
}

FinalLayout FinalLayoutFor(const PanelSelection& s) {
    switch (WiringModeToIndex(s.ConnType)) {
    case 1:
        if (s.ModelIndex >= 1 && s.ModelIndex <= 3) {
            return {LayoutKind::MultiLayout, s.ModelIndex + 1};
        }
        return {LayoutKind::SingleLayout, 1};
    case 3:
        return {LayoutKind::ShieldedLayout, 1};
    case 4:
        return {LayoutKind::CvtLayout, 1};
    case 5:
        return {LayoutKind::RatioLayout, 1};
    default:
        return {LayoutKind::SingleLayout, 1};
    }
}

const char* LayoutName(LayoutKind kind) {
    switch (kind) {
    case LayoutKind::SingleLayout:
        return "SingleLayout";
    case LayoutKind::ShieldedLayout:
        return "ShieldedLayout";
    case LayoutKind::CvtLayout:
        return "CvtLayout";
    case LayoutKind::RatioLayout:
        return "RatioLayout";
    case LayoutKind::MultiLayout:
        return "MultiLayout";
    }
    return "";
}

std::optional<LayoutKind> StoredLayoutFor(std::uint8_t code) {
    switch (code) {
    case RspRecord:
        return LayoutKind::SingleLayout;
    case RspRecordMulti:
        return LayoutKind::MultiLayout;
    case RspRecordShielded:
        return LayoutKind::ShieldedLayout;
    case RspRecordCvt:
        return LayoutKind::CvtLayout;
    case RspRecordRatio:
        return LayoutKind::RatioLayout;
    default:
        return std::nullopt;
    }
}

int LeastPayloadLength(std::uint8_t code, const PanelSelection& s) {
    const int mode = WiringModeToIndex(s.ConnType);
    switch (code) {
    case RspBoosting:
        return mode == 4 ? 16 : (mode == 5 ? 4 : 8);
    case RspStepResult:
        return mode == 5 ? 4 : 12;
    case RspFinalResult:
        return FinalLayoutFor(s).Kind == LayoutKind::MultiLayout ? 62 : 46;
    case RspRecord:
    case RspRecordShielded:
        return 47;
    case RspRecordCvt:
        return 50;
    case RspRecordRatio:
        return 46;
    case RspRecordMulti:
        return 67;
    case RspIndex:
        return 8;
    case RspParameters:
        return 22;
    default:
        return 0;
    }
}

namespace {

// The high voltage of a boosting or step frame: rounded to two decimals, width 5.
std::string HighVoltageText(double value) {
    const double v = std::fabs(value);
    if (std::isfinite(v) && v <= 999.9) {
        return FormatFixed(2, 5, v) + "kV\r\n\r\n";
    }
    return "over   \r\n\r\n";
}

std::string CurrentItem(double value) {
    const double c = std::fabs(value);
    if (!std::isfinite(c) || c > 99.99) {
        return kOver;
    }
    return c >= 1 ? FormatValue3(c) + "A " : FormatValue3(c * 1000) + "mA";
}

std::string MilliampereItem(double current) {
    const double m = std::fabs(current * 1000);
    if (!std::isfinite(m) || m > 999) {
        return "[over] ";
    }
    return Format("[%.0fmA] ", std::trunc(m) + 0.0);
}

std::string ExcitationItem(double value, const char* unit) {
    if (!std::isfinite(value) || value > 99.9) {
        return "[over] ";
    }
    // Built front to back: "[" + text would insert at the front, where GCC 12 at -O3 warns of
    // an overlapping copy that cannot happen (-Wrestrict).
    std::string item = "[";
    item += Format("%.1f", TruncScaled(value, 1) / 10);
    item += unit;
    return item;
}

} // namespace

LiveValues DecodeBoosting(const std::uint8_t* frame, int length) {
    const PayloadReader r(frame, length);
    return {r.Float(BoostLayout::HighVoltage), r.Float(BoostLayout::Current),
            r.Float(BoostLayout::ExcitationVoltage), r.Float(BoostLayout::ExcitationCurrent)};
}

LiveValues DecodeStep(const std::uint8_t* frame, int length) {
    const PayloadReader r(frame, length);
    return {r.Float(StepLayout::HighVoltage), r.Float(StepLayout::Current), 0, 0};
}

std::optional<std::string> ShowBoosting(const std::uint8_t* frame, int length,
                                        const PanelSelection& s, ExcitationTexts& kept) {
    if (s.ConnType.empty()) {
        return std::nullopt;
    }
    const PayloadReader r(frame, length);
    std::string text = HighVoltageText(r.Float(BoostLayout::HighVoltage));
    switch (WiringModeToIndex(s.ConnType)) {
    case 1:
    case 2:
    case 3:
        text += CurrentItem(r.Float(BoostLayout::Current));
        break;
    case 4:
        text += MilliampereItem(r.Float(BoostLayout::Current));
        kept.ExcitationVoltageText = ExcitationItem(r.Float(BoostLayout::ExcitationVoltage), "V] ");
        kept.ExcitationCurrentText = ExcitationItem(r.Float(BoostLayout::ExcitationCurrent), "A] ");
        text += kept.ExcitationVoltageText + kept.ExcitationCurrentText;
        break;
    default:
        break;
    }
    return text;
}

std::string ShowStep(const std::uint8_t* frame, int length, const PanelSelection& s,
                     const ExcitationTexts& kept) {
    const PayloadReader r(frame, length);
    std::string text = HighVoltageText(r.Float(StepLayout::HighVoltage));
    switch (WiringModeToIndex(s.ConnType)) {
    case 1:
    case 2:
    case 3:
        text += CurrentItem(r.Float(StepLayout::Current));
        break;
    case 4:
        text += MilliampereItem(r.Float(StepLayout::Current)) + kept.ExcitationVoltageText +
                kept.ExcitationCurrentText;
        break;
    default:
        break;
    }
    return text;
}

namespace {

constexpr int kPanelLow = 157;
constexpr int kPanelHigh = 220;

// Detail labels: a full-width space, the name in two bytes, three full-width spaces and the
// full-width colon; 12 bytes.
const std::string kLabelU = "　U 　　　：";
const std::string kLabelI = "　I 　　　：";
const std::string kLabelPhi = "　Φ　　　：";
const std::string kLabelPF = "　PF　　　：";
const std::string kOverPF = "　PF  　　：over   ";
const std::string kLabelP = "　P 　　　：";
const std::string kLabelF1 = "　F1　　　：";
const std::string kLabelF2 = "　F2　　　：";
const std::string kLabelIx = "　Ix　　　：";
const std::string kLabelIg = "　Ig　　　：";
const std::string kLabelU1 = "　U1　　　：";
const std::string kLabelU2 = "　U2　　　：";
const std::string kLabelI1 = "　I1　　　：";
const std::string kLabelI2 = "　I2　　　：";
const std::string kLabelCx = "　Cx　　　：";
const std::string kLabelDF = "　DF　　　：";
const std::string kChannelLabels[4] = {"Ca：", "Cb：", "Cc：", "Cd："};
const std::string kChannelVoltageLabels[4] = {"　Ua　　　：", "　Ub　　　：", "　Uc　　　：",
                                              "　Ud　　　："};

std::string Line(const PayloadReader& r, const std::string& label, Quantity q, int offset,
                 const OverRule& over) {
    return ValueLine(label, Over(label), q, r.Float(offset), over);
}

std::string Date(const PayloadReader& r, int offset) {
    std::uint8_t stamp[kDateStampLength];
    r.Bytes(offset, stamp, kDateStampLength);
    return DateLine(stamp);
}

void AddFrequencies(ResultLines& lines, const PayloadReader& r, int f1, int f2) {
    lines.Add(Line(r, kLabelF1, Quantity::Frequency, f1, kFrequencyOver));
    lines.Add(Line(r, kLabelF2, Quantity::Frequency, f2, kFrequencyOver));
}

// The main result of the single-channel layout: one line of two parts, neither padded.
std::string SingleMain(const PayloadReader& r, const SingleLayout& f, bool live) {
    const int kind = r.Byte(f.ResultKind); // which pair the main result holds
    const double x = r.Float(f.X);
    const double y = r.Float(f.Y);
    std::string first;
    std::string second;
    switch (kind) {
    case 1:
    case 2:
        first = IsOver(SingleCapacitanceOver(kind, live), x)
                    ? Over("Cx：")
                    : "Cx：" + QuantityText(Quantity::Capacitance, x);
        break;
    case 3:
    case 4: {
        const bool spaced = live || kind == 4;
        first = IsOver(SingleInductanceOver(kind, live), x)
                    ? Over("Lx：")
                    : "Lx：" + QuantityText(Quantity::Inductance, x, spaced);
        break;
    }
    default:
        return {};
    }
    switch (kind) {
    case 1:
        second = IsOver(kDissipationOver, y)
                     ? Over("      DF：")
                     : "      DF：" + QuantityText(Quantity::Dissipation, y);
        break;
    case 2:
    case 4:
        second = IsOver(kResistanceOver, y)
                     ? Over("      Rx：") + "\r\n"
                     : "      Rx：" + QuantityText(Quantity::Resistance, y, kind == 4);
        break;
    case 3:
        second = IsOver(kQualityOver, y) ? (live ? Over("      Q：") : "      Q：over ")
                                         : "      Q：" + QuantityText(Quantity::Quality, y);
        break;
    }
    return first + second;
}

std::string SingleDetails(const PayloadReader& r, const SingleLayout& f, bool live) {
    ResultLines lines;
    lines.Add(Line(r, kLabelU, Quantity::Voltage, f.U, kVoltage1000Over));
    lines.Add(Line(r, kLabelI, Quantity::Current, f.I, SingleCurrentOver(live)));
    lines.Add(Line(r, kLabelPhi, Quantity::Phase, f.Phi, kPhaseOver));
    lines.Add(ValueLine(kLabelPF, kOverPF, Quantity::PowerFactor, r.Float(f.PF), kPowerFactorOver));
    lines.Add(Line(r, kLabelP, Quantity::Power, f.P, kPowerOver));
    AddFrequencies(lines, r, f.F1, f.F2);
    lines.Add(Date(r, f.Date));
    return lines.Text();
}

ResultTexts Shielded(const PayloadReader& r, const ShieldedLayout& f) {
    ResultTexts t;
    ResultLines lines;
    lines.Add(PairLine("Cx：", Over("Cx："), r.Float(f.Cx), r.Float(f.DFx)));
    lines.Add(PairLine("Cg：", Over("Cg："), r.Float(f.Cg), r.Float(f.DFg)));
    t.Main = lines.Text();
    lines.Clear();
    lines.Add(Line(r, kLabelU, Quantity::Voltage, f.U, kVoltage999Over));
    lines.Add(Line(r, kLabelIx, Quantity::Current, f.Ix, kCurrentOver));
    lines.Add(Line(r, kLabelIg, Quantity::Current, f.Ig, kCurrentOver));
    AddFrequencies(lines, r, f.F1, f.F2);
    lines.Add(Date(r, f.Date));
    t.Details = lines.Text();
    return t;
}

ResultTexts Cvt(const PayloadReader& r, const CvtLayout& f, const std::string& c1,
                const std::string& c2) {
    ResultTexts t;
    ResultLines lines;
    lines.Add(PairLine(c1, Over(c1), r.Float(f.C1), r.Float(f.DF1)));
    lines.Add(PairLine(c2, Over(c2), r.Float(f.C2), r.Float(f.DF2)));
    t.Main = lines.Text();
    lines.Clear();
    lines.Add(Line(r, kLabelU1, Quantity::Voltage, f.U1, kVoltage999Over));
    lines.Add(Line(r, kLabelU2, Quantity::Voltage, f.U2, kVoltage999Over));
    lines.Add(Line(r, kLabelI1, Quantity::Current, f.I1, kCurrentOver));
    lines.Add(Line(r, kLabelI2, Quantity::Current, f.I2, kCurrentOver));
    AddFrequencies(lines, r, f.F1, f.F2);
    lines.Add(Date(r, f.Date));
    t.Details = lines.Text();
    return t;
}

std::string RatioLine(const PayloadReader& r, const RatioLayout& f, const std::string& label,
                      const std::string& overText) {
    const double k = r.Float(f.K);
    return PadRight(IsOver(kRatioOver, k) ? overText : label + FormatValue4(std::fabs(k)),
                    PairLineWidth);
}

std::string RatioDetails(const PayloadReader& r, const RatioLayout& f) {
    ResultLines lines;
    lines.Add(Line(r, kLabelCx, Quantity::Capacitance, f.Cx, kCapacitanceOver));
    lines.Add(Line(r, kLabelDF, Quantity::Dissipation, f.DF, kDissipationOver));
    lines.Add(Line(r, kLabelU1, Quantity::Voltage, f.U1, kVoltage999Over));
    lines.Add(Line(r, kLabelU2, Quantity::Voltage, f.U2, kVoltage999Over));
    lines.Add(Line(r, kLabelI, Quantity::Current, f.I, kCurrentOver));
    lines.Add(Line(r, kLabelPhi, Quantity::Phase, f.Phi, kPhaseOver));
    AddFrequencies(lines, r, f.F1, f.F2);
    lines.Add(Date(r, f.Date));
    return lines.Text();
}

std::string MultiPairs(const PayloadReader& r, const MultiLayout& f, int channels) {
    ResultLines lines;
    for (int c = 0; c < channels; ++c) {
        lines.Add(PairLine(kChannelLabels[c], Over(kChannelLabels[c]), r.Float(f.C[c]),
                           r.Float(f.DF[c])));
    }
    return lines.Text();
}

std::string MultiDetails(const PayloadReader& r, const MultiLayout& f, int channels) {
    ResultLines lines;
    for (int c = 0; c < channels; ++c) {
        lines.Add(Line(r, kChannelVoltageLabels[c], Quantity::Voltage, f.U[c], kVoltage1000Over));
    }
    AddFrequencies(lines, r, f.F1, f.F2);
    lines.Add(Date(r, f.Date));
    return lines.Text();
}

} // namespace

FinalResultView ShowFinalResult(const std::uint8_t* frame, int length, const PanelSelection& s) {
    const PayloadReader r(frame, length);
    FinalResultView v;
    v.Texts.Title = TestConfigurationLine(s);
    v.PanelHeight = kPanelLow;
    const FinalLayout layout = FinalLayoutFor(s);
    switch (layout.Kind) {
    case LayoutKind::SingleLayout:
        v.Texts.Main = SingleMain(r, kSingleLive, true);
        v.Texts.Details = SingleDetails(r, kSingleLive, true);
        break;
    case LayoutKind::ShieldedLayout: {
        const ResultTexts t = Shielded(r, kShieldedLive);
        v.Texts.Main = t.Main;
        v.Texts.Details = t.Details;
        break;
    }
    case LayoutKind::CvtLayout: {
        const ResultTexts t = Cvt(r, kCvtLive, "C1：", "C2：");
        v.Texts.Main = t.Main;
        v.Texts.Details = t.Details;
        break;
    }
    case LayoutKind::RatioLayout:
        v.Texts.Main = RatioLine(r, kRatioLive, "   K    　：", "   K    　：over   ") + "\r\n";
        v.Texts.Details = RatioDetails(r, kRatioLive);
        break;
    case LayoutKind::MultiLayout:
        if (layout.Channels >= 3) {
            v.PanelHeight = kPanelHigh;
        }
        v.Texts.Main = MultiPairs(r, kMultiLive, layout.Channels);
        v.Texts.Details = MultiDetails(r, kMultiLive, layout.Channels);
        break;
    }
    return v;
}

StoredRecordView ShowStoredRecord(std::uint8_t code, const std::uint8_t* frame, int length) {
    const PayloadReader r(frame, length);
    std::uint8_t header[kRecordHeaderLength];
    r.Bytes(0, header, kRecordHeaderLength);
    StoredRecordView v;
    v.PanelHeight = kPanelLow;
    switch (code) {
    case RspRecord:
        v.Title = RecordTitle(IndexToWiringMode(header[0]), header);
        v.Main = SingleMain(r, kSingleStored, false);
        v.Details = SingleDetails(r, kSingleStored, false);
        break;
    case RspRecordShielded: {
        v.Title = RecordTitle("反接线低压屏蔽", header);
        const ResultTexts t = Shielded(r, kShieldedStored);
        v.Main = t.Main;
        v.Details = t.Details;
        break;
    }
    case RspRecordCvt: {
        v.Title = RecordTitle("CVT自激法", header);
        const ResultTexts t = Cvt(r, kCvtStored, "C1　：", "C2　：");
        v.Main = t.Main;
        v.Details = t.Details;
        break;
    }
    case RspRecordRatio:
        v.Title = RecordTitle("变比", header);
        v.Main = RatioLine(r, kRatioStored, "　K 　　　：", "　K 　　　：over");
        v.Details = RatioDetails(r, kRatioStored);
        break;
    case RspRecordMulti: {
        v.Title = RecordTitle(IndexToWiringMode(header[0]), header);
        const int channels = r.Byte(kRecordChannels);
        if (channels >= 2 && channels <= 4) {
            v.PanelHeight = channels == 2 ? kPanelLow : kPanelHigh;
            v.Main = MultiPairs(r, kMultiStored, channels);
            v.Details = MultiDetails(r, kMultiStored, channels);
        } else {
            // A channel count the instrument does not send: the main result and the height
            // stay as they were, the pair lines of channels a and b head the details.
            v.Main.reset();
            v.PanelHeight.reset();
            v.Details = MultiPairs(r, kMultiStored, 2) + MultiDetails(r, kMultiStored, 0);
        }
        break;
    }
    default:
        v.PanelHeight.reset();
        break;
    }
    return v;
}

} // namespace dielmon
