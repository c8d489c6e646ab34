// Replays the traffic trace of debug logs through the test controller: every command sent,
// every frame received and the clock ticks between them, shown as the window showed them,
// keyed by the objectName of the control.
#pragma once

#include "core/clock.h"
#include "core/controller.h"
#include "core/fields.h"
#include "core/frame.h"
#include "core/history.h"
#include "core/tracelog.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dielmon {

struct TraceEvent {
    enum Direction { Sent, Received, Tick } Dir = Received;
    std::string Time;
    std::vector<std::uint8_t> Frame;
    std::uint8_t Code = 0;
    std::string Name; // "unknown" for codes outside the tables; "Timer_NowTimer" for a tick
    std::vector<DecodedField> Fields;
    std::vector<std::pair<std::string, std::string>> Texts; // control name, GBK text
    std::optional<IndexRow> Row;
    // The pages in view, when the event changed them: notebook name, page name.
    std::vector<std::pair<std::string, std::string>> Pages;
};

class TraceReplay {
public:
    TraceReplay();

    // The events of one trace line: the clock ticks up to its time stamp that changed what
    // the window showed, then a sent frame or the frames a received chunk completes.
    std::vector<TraceEvent> Feed(const TraceLine& line);

    const Panel& PanelState() const { return Controller_.PanelModel(); }
    const WindowView& View() const { return Controller_.View(); }

private:
    struct Before {
        AllStatePage All;
        SstatePage Sstate;
        ShowHisPage ShowHis;
    };
    Before Snapshot() const;
    void Describe(TraceEvent& ev, const Effects& e, const Before& before, bool changedOnly) const;
    void AdvanceTo(TimePoint t, std::vector<TraceEvent>& out);
    TraceEvent Received(const std::string& time, const std::uint8_t* frame, int length);

    ManualClock Clock_;
    TestController Controller_;
    Reassembler Reassembly_;
    bool Started_ = false;
};

// One JSON object (UTF-8) per event, without a line break.
std::string RenderJson(const TraceEvent& e);
// A readable block (UTF-8) for a person.
std::string RenderText(const TraceEvent& e);

} // namespace dielmon
