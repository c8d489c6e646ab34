// Replays the traffic trace of debug logs: every command sent and every frame received,
// decoded into the texts the window shows, keyed by the objectName of the control.
#pragma once

#include "core/frame.h"
#include "core/history.h"
#include "core/panel.h"
#include "core/results.h"
#include "core/tracelog.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dielmon {

struct TraceField {
    std::string Name;
    enum Kind { Integer, Number, Text } Type = Integer;
    long long IntegerValue = 0;
    double NumberValue = 0;
    std::string TextValue; // GBK
};

struct TraceEvent {
    bool Sent = false;
    std::string Time;
    std::vector<std::uint8_t> Frame;
    std::uint8_t Code = 0;
    std::string Name; // "unknown" for codes outside the tables
    std::vector<TraceField> Fields;
    std::vector<std::pair<std::string, std::string>> Texts; // control name, GBK text
    std::optional<IndexRow> Row;
};

class TraceReplay {
public:
    TraceReplay();

    // The events of one trace line: a sent frame, or the frames a received chunk completes.
    std::vector<TraceEvent> Feed(const TraceLine& line);

    const Panel& PanelState() const { return Panel_; }

private:
    TraceEvent Sent(const TraceLine& line);
    TraceEvent Received(const std::string& time, const std::uint8_t* frame, int length);
    void ApplyStartTest(const TestParameters& p);

    Panel Panel_;
    ExcitationTexts Excitation_;
    Reassembler Reassembly_;
    int InstrumentType_ = 4;
    int DoubleSteps_ = 0;
    int GaugePosition_ = 0;
    int GaugeMaximum_ = 0;
};

// One JSON object (UTF-8) per event, without a line break.
std::string RenderJson(const TraceEvent& e);
// A readable block (UTF-8) for a person.
std::string RenderText(const TraceEvent& e);

} // namespace dielmon
