#include "trace_replay.h"

#include "core/commands.h"
#include "core/frame.h"
#include "core/gbk.h"
#include "core/helpers.h"
#include "core/json.h"
#include "core/responses.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace dielmon {

namespace {

using namespace std::chrono_literals;

// The window's clock runs every half second.
constexpr auto kTickInterval = 500ms;
// After this many ticks without a line every time-out has run out; a longer gap is crossed in
// one step.
constexpr int kTicksBeforeJump = 40;

void AddPanelTexts(TraceEvent& ev, const Panel& q, const InstrumentParameters& p) {
    ev.Texts.emplace_back("CBox_EleType", q.CBox_EleType.Text());
    ev.Texts.emplace_back("CBox_ConnType", q.CBox_ConnType.Text());
    if (q.CBox_Model.Visible) {
        ev.Texts.emplace_back("CBox_Model", q.CBox_Model.Text());
    }
    ev.Texts.emplace_back("CBox_U", q.CBox_U.Text());
    ev.Texts.emplace_back("CBox_Freq", q.CBox_Freq.Text());
    ev.Texts.emplace_back("CBox_TestVolt", q.CBox_TestVolt.Text());
    if (q.Edt_Volt.Visible) {
        ev.Texts.emplace_back("Edt_Volt", q.Edt_Volt.Text);
    }
    ev.Texts.emplace_back("Edt_C", q.Edt_C.Text);
    ev.Texts.emplace_back("Edt_JS", q.Edt_JS.Text);
    ev.Texts.emplace_back("CBox_VoltUp", q.CBox_VoltUp.Text);
    ev.Texts.emplace_back("CBox_CurrentUp", q.CBox_CurrentUp.Text());
    ev.Texts.emplace_back("CBox_JLVoltUp", q.CBox_JLVoltUp.Text());
    ev.Texts.emplace_back("CBox_JLCultUp", q.CBox_JLCultUp.Text());
    ev.Texts.emplace_back("InstrumentType", std::to_string(p.InstrumentType));
    ev.Texts.emplace_back("DoubleSteps", std::to_string(p.DoubleSteps));
}

} // namespace

TraceReplay::TraceReplay() : Controller_(Clock_) {
    // As the window is shown: the frequency list filled, the panel empty until the instrument
    // reports its settings, the port open.
    Controller_.FormShow();
    Controller_.PortOpened(true, {});
}

TraceReplay::Before TraceReplay::Snapshot() const {
    const WindowView& v = Controller_.View();
    return {v.AllState, v.Sstate, v.ShowHis};
}

void TraceReplay::Describe(TraceEvent& ev, const Effects& e, const Before& before,
                           bool changedOnly) const {
    const WindowView& v = Controller_.View();
    // Each label once, with its last text; the clock label changes at every tick and is left
    // out.
    std::vector<Label> labels;
    for (const Label l : e.TextsSet) {
        if (l != Label::LblTime && std::find(labels.begin(), labels.end(), l) == labels.end()) {
            labels.push_back(l);
        }
    }
    for (const Label l : labels) {
        ev.Texts.emplace_back(ControlName(l), v.Text(l));
    }
    if (e.ParametersApplied) {
        AddPanelTexts(ev, v.PanelModel, *e.ParametersApplied);
    }
    ev.Row = e.RowAdded;
    if (v.AllState != before.All || v.Sstate != before.Sstate || v.ShowHis != before.ShowHis ||
        !changedOnly) {
        ev.Pages = {{"Nbk_AllState", PageName(v.AllState)},
                    {"Nbk_Sstate", PageName(v.Sstate)},
                    {"Nbk_ShowHis", PageName(v.ShowHis)}};
    }
}

void TraceReplay::AdvanceTo(TimePoint t, std::vector<TraceEvent>& out) {
    if (!Started_ || t < Clock_.Now()) {
        // The first line, or a log that goes back in time (another day's file): the wall
        // clock is set, no time passes.
        Clock_.Set(t);
        Started_ = true;
        return;
    }
    for (int ticks = 0; Clock_.Now() + kTickInterval <= t; ++ticks) {
        if (ticks == kTicksBeforeJump) {
            Clock_.Advance(std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock_.Now() -
                                                                                 kTickInterval));
        }
        Clock_.Advance(kTickInterval);
        const Before before = Snapshot();
        std::vector<std::string> textsBefore(Controller_.View().Texts.begin(),
                                             Controller_.View().Texts.end());
        const Effects e = Controller_.Tick();
        const WindowView& v = Controller_.View();
        // A tick that only moved the clock shows nothing new.
        Effects changed = e;
        changed.TextsSet.clear();
        for (const Label l : e.TextsSet) {
            if (v.Text(l) != textsBefore[static_cast<std::size_t>(l)]) {
                changed.TextsSet.push_back(l);
            }
        }
        TraceEvent ev;
        ev.Dir = TraceEvent::Tick;
        ev.Time = LogTimeText(ToLocal(Clock_.Now()));
        ev.Name = "Timer_NowTimer";
        Describe(ev, changed, before, true);
        if (!ev.Texts.empty() || !ev.Pages.empty()) {
            out.push_back(std::move(ev));
        }
    }
}

std::vector<TraceEvent> TraceReplay::Feed(const TraceLine& line) {
    std::vector<TraceEvent> events;
    if (const auto t = ParseLogTime(line.Time)) {
        AdvanceTo(*t, events);
    }
    if (line.Sent) {
        TraceEvent ev;
        ev.Dir = TraceEvent::Sent;
        ev.Time = line.Time;
        ev.Frame = line.Bytes;
        const int n = static_cast<int>(line.Bytes.size());
        ev.Code = n > 1 ? line.Bytes[1] : 0;
        ev.Name = CommandName(ev.Code);
        if (ev.Name.empty()) {
            ev.Name = "unknown";
        }
        ev.Fields = SentFrameFields(line.Bytes.data(), n);
        const Before before = Snapshot();
        const Effects e = Controller_.ReplaySent(line.Bytes.data(), n);
        if (e.GaugeChanged) {
            ev.Fields.push_back(
                DecodedField::Int("ProgBar_Step.Max", Controller_.View().GaugeMaximum));
        }
        Describe(ev, e, before, true);
        events.push_back(std::move(ev));
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

TraceEvent TraceReplay::Received(const std::string& time, const std::uint8_t* frame, int length) {
    TraceEvent ev;
    ev.Dir = TraceEvent::Received;
    ev.Time = time;
    ev.Frame.assign(frame, frame + length);
    ev.Code = frame[1];
    ev.Name = ResponseName(ev.Code);
    if (ev.Name.empty()) {
        ev.Name = "unknown";
    }
    const PanelSelection sel = Controller_.PanelModel().Selection();
    const Before before = Snapshot();
    const Effects e = Controller_.Frame(frame, length);
    ev.Fields = ReceivedFrameFields(frame, length, sel);
    if (e.GaugeChanged) {
        ev.Fields.push_back(DecodedField::Int("ProgBar_Step", Controller_.View().GaugePosition));
    }
    Describe(ev, e, before, true);
    return ev;
}

namespace {

std::string JsonValue(const DecodedField& f) {
    switch (f.Type) {
    case DecodedField::Integer:
        return std::to_string(f.IntegerValue);
    case DecodedField::Number:
        return std::isfinite(f.NumberValue) ? Format("%.9g", f.NumberValue) : "null";
    case DecodedField::Text:
        return JsonString(GbkToUtf8(f.TextValue));
    }
    return "null";
}

const char* DirectionName(const TraceEvent& e) {
    switch (e.Dir) {
    case TraceEvent::Sent:
        return "sent";
    case TraceEvent::Received:
        return "received";
    case TraceEvent::Tick:
        break;
    }
    return "tick";
}

} // namespace

std::string RenderJson(const TraceEvent& e) {
    std::string out = "{\"dir\":\"" + std::string(DirectionName(e)) + "\"";
    out += ",\"time\":" + JsonString(GbkToUtf8(e.Time));
    if (e.Dir != TraceEvent::Tick) {
        out += ",\"code\":" + JsonString(Format("0x%02X", e.Code));
    }
    out += ",\"name\":" + JsonString(e.Name);
    if (e.Dir != TraceEvent::Tick) {
        out +=
            ",\"frame\":" + JsonString(HexPairs(e.Frame.data(), static_cast<int>(e.Frame.size())));
    }
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
    out += "]";
    if (!e.Pages.empty()) {
        out += ",\"pages\":{";
        for (std::size_t k = 0; k < e.Pages.size(); ++k) {
            out += k ? "," : "";
            out += JsonString(e.Pages[k].first);
            out += ':';
            out += JsonString(e.Pages[k].second);
        }
        out += "}";
    }
    return out + "}";
}

std::string RenderText(const TraceEvent& e) {
    std::string out = GbkToUtf8(e.Time) + "  " + Format("%-10s", DirectionName(e)) + e.Name;
    if (e.Dir != TraceEvent::Tick) {
        out += Format(" (0x%02X)  ", e.Code) +
               HexPairs(e.Frame.data(), static_cast<int>(e.Frame.size()));
    }
    out += "\n";
    if (!e.Fields.empty()) {
        std::string line = "    ";
        for (const DecodedField& f : e.Fields) {
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
    if (!e.Pages.empty()) {
        std::string line = "    pages:";
        for (const auto& [notebook, page] : e.Pages) {
            line += " " + notebook + "=" + page;
        }
        out += line + "\n";
    }
    return out;
}

} // namespace dielmon
