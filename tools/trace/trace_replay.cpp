#include "trace_replay.h"

#include "core/commands.h"
#include "core/frame.h"
#include "core/gbk.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "core/texts.h"

#include <cmath>

namespace dielmon {

namespace {

TraceField Int(const std::string& name, long long v) {
    TraceField f;
    f.Name = name;
    f.Type = TraceField::Integer;
    f.IntegerValue = v;
    return f;
}

TraceField Num(const std::string& name, double v) {
    TraceField f;
    f.Name = name;
    f.Type = TraceField::Number;
    f.NumberValue = v;
    return f;
}

TraceField Str(const std::string& name, const std::string& v) {
    TraceField f;
    f.Name = name;
    f.Type = TraceField::Text;
    f.TextValue = v;
    return f;
}

const char* LayoutName(LayoutKind k) {
    switch (k) {
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

const char* StoredLayoutName(std::uint8_t code) {
    switch (code) {
    case RspRecord:
        return "SingleLayout";
    case RspRecordMulti:
        return "MultiLayout";
    case RspRecordShielded:
        return "ShieldedLayout";
    case RspRecordCvt:
        return "CvtLayout";
    case RspRecordRatio:
        return "RatioLayout";
    default:
        return "";
    }
}

// The fields a start command and the instrument's parameters have in common, in frame order.
template <class Parameters>
void AddSharedParameterFields(TraceEvent& e, const Parameters& p) {
    e.Fields.push_back(Int("WiringMode", p.WiringMode));
    e.Fields.push_back(Int("Standard", p.Standard));
    e.Fields.push_back(Int("FrequencyCode", p.FrequencyCode));
    e.Fields.push_back(Int("TestVoltage", p.TestVoltage));
    e.Fields.push_back(Num("ExtCapacitance", p.ExtCapacitance));
    e.Fields.push_back(Num("ExtDissipation", p.ExtDissipation));
    e.Fields.push_back(Int("CvtVoltageLimit", p.CvtVoltageLimit));
    e.Fields.push_back(Int("CvtCurrentCode", p.CvtCurrentCode));
    e.Fields.push_back(Int("ExcitationVoltageCode", p.ExcitationVoltageCode));
    e.Fields.push_back(Int("ExcitationCurrentCode", p.ExcitationCurrentCode));
    e.Fields.push_back(Int("Supply", p.Supply));
}

void AddTestParameterFields(TraceEvent& e, const TestParameters& p) {
    e.Fields.push_back(Int("Channels", p.Channels));
    AddSharedParameterFields(e, p);
}

} // namespace

TraceReplay::TraceReplay() {
    // As the window is shown: the frequency list filled, the panel empty until the instrument
    // reports its settings.
    Panel_.ResetPanel(false);
    Panel_.FillFrequencyList();
}

std::vector<TraceEvent> TraceReplay::Feed(const TraceLine& line) {
    std::vector<TraceEvent> events;
    if (line.Sent) {
        events.push_back(Sent(line));
        return events;
    }
    struct Collect : FrameSink {
        TraceReplay* Self;
        const std::string* Time;
        std::vector<TraceEvent>* Out;
        void FrameReady(const std::uint8_t* f, int n) override {
            Out->push_back(Self->Received(*Time, f, n));
        }
    } sink;
    sink.Self = this;
    sink.Time = &line.Time;
    sink.Out = &events;
    // The program hands the reassembly chunks of at most its buffer's size.
    for (std::size_t at = 0; at < line.Bytes.size(); at += kRecvBufSize) {
        const std::size_t n = std::min<std::size_t>(kRecvBufSize, line.Bytes.size() - at);
        Reassembly_.Feed(line.Bytes.data() + at, static_cast<int>(n), sink);
    }
    return events;
}

void TraceReplay::ApplyStartTest(const TestParameters& p) {
    Panel_.CBox_ConnType.Select(p.WiringMode - 1);
    Panel_.CBox_ConnTypeChange();
    if (Panel_.CBox_Model.Visible) {
        Panel_.CBox_Model.Select(p.Channels - 1);
    }
    Panel_.CBox_U.Select(p.Standard - 1);
    if (p.FrequencyCode == 0) {
        Panel_.CBox_TestVolt.Select(0);
        Panel_.CBox_TestVoltChange();
    } else {
        Panel_.CBox_TestVolt.Select(1);
        Panel_.CBox_TestVoltChange();
        Panel_.CBox_Freq.SelectText(FrequencyCodeText(p.FrequencyCode));
        Panel_.Edt_Volt.Text = std::to_string(p.TestVoltage);
    }
}

TraceEvent TraceReplay::Sent(const TraceLine& line) {
    TraceEvent e;
    e.Sent = true;
    e.Time = line.Time;
    e.Frame = line.Bytes;
    const int n = static_cast<int>(line.Bytes.size());
    e.Code = n > 1 ? line.Bytes[1] : 0;
    e.Name = CommandName(e.Code);
    if (e.Name.empty()) {
        e.Name = "unknown";
    }
    if (e.Code == CmdStartTest) {
        const TestParameters p = DecodeStartTest(line.Bytes.data(), n);
        AddTestParameterFields(e, p);
        ApplyStartTest(p);
        GaugeMaximum_ = GaugeMaximum(Panel_.Selection(), DoubleSteps_, GaugeMaximum_);
        GaugePosition_ = 0;
        e.Fields.push_back(Int("ProgBar_Step.Max", GaugeMaximum_));
    } else if ((e.Code == CmdReadRecord || e.Code == CmdDeleteRecord) && n > 3) {
        e.Fields.push_back(Int("record", line.Bytes[3]));
    }
    return e;
}

TraceEvent TraceReplay::Received(const std::string& time, const std::uint8_t* frame, int length) {
    TraceEvent e;
    e.Time = time;
    e.Frame.assign(frame, frame + length);
    e.Code = frame[1];
    e.Name = ResponseName(e.Code);
    if (e.Name.empty()) {
        e.Name = "unknown";
    }
    const PanelSelection sel = Panel_.Selection();
    switch (e.Code) {
    case RspParameters: {
        const InstrumentParameters p = Panel_.ApplyInstrumentParameters(frame, length);
        InstrumentType_ = p.InstrumentType;
        DoubleSteps_ = p.DoubleSteps;
        e.Fields.push_back(Int("InstrumentType", p.InstrumentType));
        AddSharedParameterFields(e, p);
        e.Fields.push_back(Int("DoubleSteps", p.DoubleSteps));
        const Panel& q = Panel_;
        e.Texts = {{"CBox_EleType", q.CBox_EleType.Text()},
                   {"CBox_ConnType", q.CBox_ConnType.Text()}};
        if (q.CBox_Model.Visible) {
            e.Texts.emplace_back("CBox_Model", q.CBox_Model.Text());
        }
        e.Texts.emplace_back("CBox_U", q.CBox_U.Text());
        e.Texts.emplace_back("CBox_Freq", q.CBox_Freq.Text());
        e.Texts.emplace_back("CBox_TestVolt", q.CBox_TestVolt.Text());
        if (q.Edt_Volt.Visible) {
            e.Texts.emplace_back("Edt_Volt", q.Edt_Volt.Text);
        }
        e.Texts.emplace_back("Edt_C", q.Edt_C.Text);
        e.Texts.emplace_back("Edt_JS", q.Edt_JS.Text);
        e.Texts.emplace_back("CBox_VoltUp", q.CBox_VoltUp.Text);
        e.Texts.emplace_back("CBox_CurrentUp", q.CBox_CurrentUp.Text());
        e.Texts.emplace_back("CBox_JLVoltUp", q.CBox_JLVoltUp.Text());
        e.Texts.emplace_back("CBox_JLCultUp", q.CBox_JLCultUp.Text());
        e.Texts.emplace_back("InstrumentType", std::to_string(p.InstrumentType));
        e.Texts.emplace_back("DoubleSteps", std::to_string(p.DoubleSteps));
        break;
    }
    case RspTestStarted:
        e.Texts.emplace_back("Lbl_Guding", TestConfigurationLine(sel));
        break;
    case RspBoosting: {
        e.Texts.emplace_back("Lbl_Guding", TestConfigurationLine(sel));
        if (auto text = ShowBoosting(frame, length, sel, Excitation_)) {
            e.Texts.emplace_back("Lbl_UpInfo", *text);
        }
        const PayloadReader r(frame, length);
        e.Fields.push_back(Num("HighVoltage", r.Float(0)));
        e.Fields.push_back(Num("Current", r.Float(4)));
        if (WiringModeToIndex(sel.ConnType) == 4) {
            e.Fields.push_back(Num("ExcitationVoltage", r.Float(8)));
            e.Fields.push_back(Num("ExcitationCurrent", r.Float(12)));
        }
        break;
    }
    case RspStepResult: {
        e.Texts.emplace_back("Lbl_Guding", TestConfigurationLine(sel));
        e.Texts.emplace_back("Lbl_UpInfo", ShowStep(frame, length, sel, Excitation_));
        ++GaugePosition_;
        const PayloadReader r(frame, length);
        e.Fields.push_back(Num("HighVoltage", r.Float(0)));
        e.Fields.push_back(Num("Current", r.Float(8)));
        e.Fields.push_back(Int("ProgBar_Step", GaugePosition_));
        break;
    }
    case RspFinalResult: {
        const FinalResultView v = ShowFinalResult(frame, length, sel);
        const FinalLayout layout = FinalLayoutFor(sel);
        e.Fields.push_back(Str("layout", LayoutName(layout.Kind)));
        e.Fields.push_back(Int("channels", layout.Channels));
        e.Fields.push_back(Int("Panel13.Height", v.PanelHeight));
        e.Texts = {{"Lbl_ShowState", v.Texts.Title},
                   {"LblCxRx", v.Texts.Main},
                   {"Label19", v.Texts.Details}};
        break;
    }
    case RspRecord:
    case RspRecordMulti:
    case RspRecordShielded:
    case RspRecordCvt:
    case RspRecordRatio: {
        const StoredRecordView v = ShowStoredRecord(e.Code, frame, length);
        e.Fields.push_back(Str("layout", StoredLayoutName(e.Code)));
        if (v.PanelHeight) {
            e.Fields.push_back(Int("Panel27.Height", *v.PanelHeight));
        }
        e.Texts.emplace_back("Label22", v.Title);
        if (v.Main) {
            e.Texts.emplace_back("Label23", *v.Main);
        }
        e.Texts.emplace_back("Label24", v.Details);
        break;
    }
    case RspIndex: {
        const IndexEntry entry = DecodeIndexEntry(frame, length);
        const IndexUpdate u = ShowIndexEntry(frame, length);
        e.Fields.push_back(Int("used", entry.Used));
        e.Fields.push_back(Int("number", entry.Number));
        e.Fields.push_back(Int("clearsList", u.ClearRows ? 1 : 0));
        e.Texts.emplace_back("Lbl_Num", u.CountText);
        e.Row = u.Row;
        break;
    }
    case RspError: {
        const std::uint8_t code = ErrorCodeOf(frame, length);
        e.Fields.push_back(Str("error", Format("0x%02X", code)));
        e.Texts.emplace_back("Lbl_Error", ErrorText(code));
        break;
    }
    case RspHistoryCleared:
        e.Texts = {{"Lbl_Info", texts::kHistoryCleared}, {"Lbl_Num", HistoryCountText(0)}};
        break;
    default:
        break;
    }
    return e;
}

namespace {

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                out += Format("\\u%04X", c);
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string JsonValue(const TraceField& f) {
    switch (f.Type) {
    case TraceField::Integer:
        return std::to_string(f.IntegerValue);
    case TraceField::Number:
        return std::isfinite(f.NumberValue) ? Format("%.9g", f.NumberValue) : "null";
    case TraceField::Text:
        return JsonString(GbkToUtf8(f.TextValue));
    }
    return "null";
}

} // namespace

std::string RenderJson(const TraceEvent& e) {
    std::string out = "{\"dir\":";
    out += e.Sent ? "\"sent\"" : "\"received\"";
    out += ",\"time\":" + JsonString(GbkToUtf8(e.Time));
    out += ",\"code\":" + JsonString(Format("0x%02X", e.Code));
    out += ",\"name\":" + JsonString(e.Name);
    out += ",\"frame\":" + JsonString(HexPairs(e.Frame.data(), static_cast<int>(e.Frame.size())));
    out += ",\"fields\":{";
    // Each part appended on its own: "," + text would insert at the front, where GCC 12 at -O3
    // warns of an overlapping copy that cannot happen (-Wrestrict).
    for (std::size_t k = 0; k < e.Fields.size(); ++k) {
        out += k ? "," : "";
        out += JsonString(e.Fields[k].Name);
        out += ":";
        out += JsonValue(e.Fields[k]);
    }
    out += "},\"texts\":{";
    for (std::size_t k = 0; k < e.Texts.size(); ++k) {
        out += k ? "," : "";
        out += JsonString(e.Texts[k].first);
        out += ":";
        out += JsonString(GbkToUtf8(e.Texts[k].second));
    }
    out += "},\"rows\":[";
    if (e.Row) {
        out += JsonString(e.Row->Number) + "," + JsonString(e.Row->Time);
    }
    return out + "]}";
}

std::string RenderText(const TraceEvent& e) {
    std::string out = GbkToUtf8(e.Time) + (e.Sent ? "  sent      " : "  received  ") + e.Name +
                      Format(" (0x%02X)  ", e.Code) +
                      HexPairs(e.Frame.data(), static_cast<int>(e.Frame.size())) + "\n";
    if (!e.Fields.empty()) {
        std::string line = "    ";
        for (const TraceField& f : e.Fields) {
            line += f.Name + "=" + JsonValue(f) + " ";
        }
        line.pop_back();
        out += line + "\n";
    }
    for (const auto& [name, text] : e.Texts) {
        const std::string utf8 = GbkToUtf8(text);
        if (utf8.find('\n') == std::string::npos) {
            out += "    " + name + ": " + utf8 + "\n";
            continue;
        }
        out += "    " + name + ":\n";
        for (const std::string& part : SplitLines(utf8)) {
            out += "      |" + part + "\n";
        }
    }
    if (e.Row) {
        out += "    row: " + e.Row->Number + "  " + e.Row->Time + "\n";
    }
    return out;
}

} // namespace dielmon
