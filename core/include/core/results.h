// Measured values into text: quantities with their units, the out-of-range rule, the line
// builders, and the label texts of the live result page and of a stored record. Every display
// text is a pure function of the frame, the panel selections it depends on and, for the step
// display, the excitation texts kept from the last boosting frame.
#pragma once

#include "core/panel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

enum class Quantity {
    Capacitance, // sent in nF
    Dissipation, // %, signed
    Resistance,  // kΩ
    Inductance,  // H
    Quality,     // no unit
    Voltage,     // kV
    Current,     // A
    Phase,       // degree
    PowerFactor, // no unit
    Power,       // kW
    Frequency,   // 0.1 Hz
    Ratio,       // no unit
};

// Widths of the result lines.
inline constexpr int LineWidth = 24;
inline constexpr int CapColumnWidth = 12;
inline constexpr int PairLineWidth = 24;

// Out of range when |value| / Divisor > Limit (or >= with OrEqual). A value that is not
// finite is always out of range.
struct OverRule {
    double Divisor = 1;
    bool OrEqual = false;
    double Limit = 0;
};
bool IsOver(const OverRule& rule, double value);

// The number in its display unit. For resistance and inductance, spacedUnit chooses "Ω " and
// "H " (with a trailing space) instead of "Ω" and "H".
std::string QuantityText(Quantity q, double value, bool spacedUnit = true);

// The scratch list in which a display assembles a label's lines.
class ResultLines {
public:
    void Clear() { Lines_.clear(); }
    void Add(std::string line) { Lines_.push_back(std::move(line)); }
    // Every line followed by CR LF.
    std::string Text() const;
    const std::vector<std::string>& Lines() const { return Lines_; }

private:
    std::vector<std::string> Lines_;
};

std::string ValueLine(const std::string& label, const std::string& overText, Quantity q,
                      double value, const OverRule& over, bool spacedUnit = true);
std::string PairLine(const std::string& capLabel, const std::string& capOverText,
                     double capacitance, double dissipation);
std::string DateLine(const std::uint8_t* stamp);
std::string RecordTitle(const std::string& modeName, const std::uint8_t* header);

// Payload bytes of a received frame; bytes beyond its payload read as zero.
class PayloadReader {
public:
    PayloadReader(const std::uint8_t* frame, int length);
    std::uint8_t Byte(int offset) const;
    double Float(int offset) const;
    // Six bytes of a date stamp (or any run of bytes) starting at the payload offset.
    void Bytes(int offset, std::uint8_t* out, int count) const;
    int PayloadLength() const { return Available_; }

private:
    const std::uint8_t* Payload_;
    int Available_;
};

enum class LayoutKind { SingleLayout, ShieldedLayout, CvtLayout, RatioLayout, MultiLayout };
struct FinalLayout {
    LayoutKind Kind = LayoutKind::SingleLayout;
    int Channels = 1;
};
FinalLayout FinalLayoutFor(const PanelSelection& s);
// "SingleLayout" ... "MultiLayout".
const char* LayoutName(LayoutKind kind);
// The layout of a stored-record code; nothing for other codes.
std::optional<LayoutKind> StoredLayoutFor(std::uint8_t code);

// The least payload length a layout needs.
int LeastPayloadLength(std::uint8_t code, const PanelSelection& s);

struct ExcitationTexts {
    std::string ExcitationVoltageText;
    std::string ExcitationCurrentText;
};

// The values of a boosting or a step frame; a step frame carries no excitation values.
struct LiveValues {
    double HighVoltage = 0;
    double Current = 0;
    double ExcitationVoltage = 0;
    double ExcitationCurrent = 0;
};
LiveValues DecodeBoosting(const std::uint8_t* frame, int length);
LiveValues DecodeStep(const std::uint8_t* frame, int length);

// The text of Lbl_UpInfo for a boosting frame; nothing when no wiring mode is selected.
std::optional<std::string> ShowBoosting(const std::uint8_t* frame, int length,
                                        const PanelSelection& s, ExcitationTexts& kept);
// The text of Lbl_UpInfo for a step frame (the window also advances its gauge by one).
std::string ShowStep(const std::uint8_t* frame, int length, const PanelSelection& s,
                     const ExcitationTexts& kept);

// The three texts of a result page: title, main result, details.
struct ResultTexts {
    std::string Title;
    std::string Main;
    std::string Details;
    bool operator==(const ResultTexts&) const = default;
};

struct FinalResultView {
    ResultTexts Texts;   // Lbl_ShowState, LblCxRx, Label19
    int PanelHeight = 0; // Panel13
};
FinalResultView ShowFinalResult(const std::uint8_t* frame, int length, const PanelSelection& s);

struct StoredRecordView {
    std::string Title;               // Label22
    std::optional<std::string> Main; // Label23; nothing: left as it was
    std::string Details;             // Label24
    std::optional<int> PanelHeight;  // Panel27; nothing: left as it was
};
// The page "ShowOne" for one of the five stored-record codes.
StoredRecordView ShowStoredRecord(std::uint8_t code, const std::uint8_t* frame, int length);

} // namespace dielmon
