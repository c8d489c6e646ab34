#include "core/fields.h"

#include "core/commands.h"
#include "core/helpers.h"
#include "core/history.h"
#include "core/responses.h"
#include "core/results.h"

namespace dielmon {

DecodedField DecodedField::Int(std::string name, long long value) {
    DecodedField f;
    f.Name = std::move(name);
    f.Type = Integer;
    f.IntegerValue = value;
    return f;
}

DecodedField DecodedField::Num(std::string name, double value) {
    DecodedField f;
    f.Name = std::move(name);
    f.Type = Number;
    f.NumberValue = value;
    return f;
}

DecodedField DecodedField::Str(std::string name, std::string value) {
    DecodedField f;
    f.Name = std::move(name);
    f.Type = Text;
    f.TextValue = std::move(value);
    return f;
}

namespace {

using F = DecodedField;

// The fields a start command and the instrument's parameters have in common, in frame order.
template <class Parameters>
void AddSharedParameterFields(std::vector<F>& out, const Parameters& p) {
    out.push_back(F::Int("WiringMode", p.WiringMode));
    out.push_back(F::Int("Standard", p.Standard));
    out.push_back(F::Int("FrequencyCode", p.FrequencyCode));
    out.push_back(F::Int("TestVoltage", p.TestVoltage));
    out.push_back(F::Num("ExtCapacitance", p.ExtCapacitance));
    out.push_back(F::Num("ExtDissipation", p.ExtDissipation));
    out.push_back(F::Int("CvtVoltageLimit", p.CvtVoltageLimit));
    out.push_back(F::Int("CvtCurrentCode", p.CvtCurrentCode));
    out.push_back(F::Int("ExcitationVoltageCode", p.ExcitationVoltageCode));
    out.push_back(F::Int("ExcitationCurrentCode", p.ExcitationCurrentCode));
    out.push_back(F::Int("Supply", p.Supply));
}

} // namespace

std::vector<DecodedField> SentFrameFields(const std::uint8_t* frame, int length) {
    std::vector<F> out;
    if (length < 2) {
        return out;
    }
    const std::uint8_t code = frame[1];
    if (code == CmdStartTest) {
        const TestParameters p = DecodeStartTest(frame, length);
        out.push_back(F::Int("Channels", p.Channels));
        AddSharedParameterFields(out, p);
    } else if ((code == CmdReadRecord || code == CmdDeleteRecord) && length > 3) {
        out.push_back(F::Int("record", frame[3]));
    }
    return out;
}

std::vector<DecodedField> ReceivedFrameFields(const std::uint8_t* frame, int length,
                                              const PanelSelection& s) {
    std::vector<F> out;
    if (length < 2) {
        return out;
    }
    const std::uint8_t code = frame[1];
    switch (code) {
    case RspParameters: {
        const InstrumentParameters p = DecodeParameters(frame, length);
        out.push_back(F::Int("InstrumentType", p.InstrumentType));
        AddSharedParameterFields(out, p);
        out.push_back(F::Int("DoubleSteps", p.DoubleSteps));
        break;
    }
    case RspBoosting: {
        const LiveValues v = DecodeBoosting(frame, length);
        out.push_back(F::Num("HighVoltage", v.HighVoltage));
        out.push_back(F::Num("Current", v.Current));
        if (WiringModeToIndex(s.ConnType) == 4) {
            out.push_back(F::Num("ExcitationVoltage", v.ExcitationVoltage));
            out.push_back(F::Num("ExcitationCurrent", v.ExcitationCurrent));
        }
        break;
    }
    case RspStepResult: {
        const LiveValues v = DecodeStep(frame, length);
        out.push_back(F::Num("HighVoltage", v.HighVoltage));
        out.push_back(F::Num("Current", v.Current));
        break;
    }
    case RspFinalResult: {
        const FinalLayout layout = FinalLayoutFor(s);
        out.push_back(F::Str("layout", LayoutName(layout.Kind)));
        out.push_back(F::Int("channels", layout.Channels));
        out.push_back(F::Int("Panel13.Height", ShowFinalResult(frame, length, s).PanelHeight));
        break;
    }
    case RspIndex: {
        const IndexEntry entry = DecodeIndexEntry(frame, length);
        out.push_back(F::Int("used", entry.Used));
        out.push_back(F::Int("number", entry.Number));
        out.push_back(F::Int("clearsList", ShowIndexEntry(frame, length).ClearRows ? 1 : 0));
        break;
    }
    case RspError:
        out.push_back(F::Str("error", Format("0x%02X", ErrorCodeOf(frame, length))));
        break;
    default:
        if (const auto layout = StoredLayoutFor(code)) {
            out.push_back(F::Str("layout", LayoutName(*layout)));
            if (const auto height = ShowStoredRecord(code, frame, length).PanelHeight) {
                out.push_back(F::Int("Panel27.Height", *height));
            }
        }
        break;
    }
    return out;
}

} // namespace dielmon
