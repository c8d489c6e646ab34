// Measured values as numbers: every quantity a result page shows, in SI units, with its over
// flag, named as the page labels it; the measurement's own date stamp; and the test
// configuration a result knows. Read from a live final result, from a stored record, or back
// from the texts of a result (a result file). Frames are read through the same layouts and
// out-of-range rules as the result texts, so a number is over exactly when its text says
// "over", and the numbers read back from the texts agree with the numbers of the frame to the
// digits the texts show.
#pragma once

#include "core/panel.h"
#include "core/results.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

enum class SiUnit { None, Farad, Percent, Volt, Ampere, Hertz, Degree, Watt, Ohm, Henry };

// "F", "%", "V", "A", "Hz", "°", "W", "Ω", "H"; empty for None. GBK, like every core text.
std::string UnitSymbol(SiUnit unit);
SiUnit UnitOf(Quantity q);
// A value as the instrument sends it (nF, kV, kΩ, kW, 0.1 Hz ...) in SI units. The sign stays
// only where the page shows it (the dissipation factor); the others are magnitudes.
double SiValue(Quantity q, double sent);

struct MeasuredQuantity {
    // The page's label without its colon and padding: "Cx", "DF", "U", "Φ" (GBK), "F1" ...
    // The dissipation factor of a pair line is named after its capacitance: "DF" beside Cx,
    // "DFg" beside Cg, "DF1" and "DF2" beside C1 and C2, "DFa" to "DFd" beside Ca to Cd.
    std::string Name;
    Quantity Kind = Quantity::Ratio;
    std::optional<double> Value; // in SI units; nothing when over or unreadable
    bool Over = false;
    SiUnit Unit() const { return UnitOf(Kind); }
    bool operator==(const MeasuredQuantity&) const = default;
};

// Year − 2000, month, day, hour, minute, second, as the instrument stamps a result.
using DateStamp = std::array<std::uint8_t, 6>;

struct Measurement {
    std::vector<MeasuredQuantity> Quantities; // in the order the page shows them
    std::optional<DateStamp> Date;            // nothing when the texts hold no date line
    int WiringMode = 0;                       // 1 to 5; 0 when unknown
    int Channels = 0;  // 2 to 4 for the multi-channel layout, else 1; 0 when unknown
    int Standard = 0;  // 1 internal ("内标准"), 2 external; 0 when unknown
    int Frequency = 0; // 1 fixed ("定频"), 2 variable ("异频"); 0 when unknown
    int Voltage = 0;   // high-voltage source: 1 internal ("内高压"), 2 external; 0 when unknown

    // The quantity of that name, or nothing.
    const MeasuredQuantity* Find(const std::string& name) const;
};

// A final result decoded with the layout of the panel selection it was taken with; the
// configuration is the panel's, as the result's title shows it.
Measurement MeasureFinalResult(const std::uint8_t* frame, int length, const PanelSelection& s);
// One of the five stored-record codes; the configuration comes from the record's header.
Measurement MeasureStoredRecord(std::uint8_t code, const std::uint8_t* frame, int length);
// The numbers the three texts of a result page show, read back from the texts: every
// "label：value unit" the result builders write, "over" as over, the date line and the title's
// configuration. Texts that are not the builders' give what can be read, never an error.
Measurement MeasureTexts(const ResultTexts& t);

// The name of the dissipation factor shown beside a capacitance: "DF" beside Cx, "DFg" beside
// Cg, "DF1" beside C1, "DFa" beside Ca.
std::string DissipationNameOf(const std::string& capacitance);

// "2016-03-24T15:34:00": the stamp as ISO 8601 local time (the instrument's clock knows no
// zone).
std::string DateStampIso(const DateStamp& d);

} // namespace dielmon
