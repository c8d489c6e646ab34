// Judging results the way a test engineer does: each dissipation factor corrected to 20 °C by
// the specimen's method, each capacitance and corrected dissipation factor compared with the
// specimen's reference (its nameplate, or its first result) and with the result before, every
// rule of the chosen profiles applied, and the conditions of the test looked at. Pure functions
// of a specimen, its results and the library: the window and the command line call the same.
//
// A result may hold several capacitances (Cx with Cg, C1 with C2, Ca to Cd); each is a series of
// its own, followed through the specimen's results by its name, whatever the wiring mode (a
// change of wiring mode, test voltage or frequency between two results compared is warned of).
// The nameplate belongs to the first capacitance a result shows (Cx, or C1 of a CVT).
#pragma once

#include "archive/archive.h"
#include "assess/library.h"

#include <optional>
#include <string>
#include <vector>

namespace dielmon::assess {

// "ok", "investigate", "critical".
const char* LevelName(Level l);
// The colour a level is shown in, as "#RRGGBB": green, amber, red.
const char* LevelColour(Level l);

// Something about the conditions or the data that the reader must know; it never changes a
// level. Codes: "temperature-range", "humidity", "no-temperature", "table-end", "not-corrected",
// "negative-df", "over", "conditions-differ", "unknown-method".
struct Warning {
    std::string Code;
    std::string Text;
};

// One rule applied to one value of one result.
struct Verdict {
    std::string Profile;
    std::string Rule;
    std::string Group; // "limit" or "trend"
    Level Grade = Level::Ok;
    std::string Quantity; // the quantity judged: "Cx", "DF1" ...
    double Value = 0;     // the number held against the rule's bounds
    std::string Unit;     // "%", "×" or "percentage points"
    std::string Stage;
    std::string Source;
    std::string Edition;
    std::string Text; // the whole verdict: the numbers compared, the bound, the level, the source
};

// One capacitance with its dissipation factor in one result, and what it is compared with.
struct SeriesValues {
    std::string Capacitance; // "Cx"
    std::string Dissipation; // "DF"
    bool Primary = false;    // the first capacitance of the result: the nameplate's
    std::optional<double> C; // F
    bool COver = false;
    std::optional<double> RawDf; // %, as measured, with its sign
    bool DfOver = false;
    std::optional<double> Factor; // raw × factor = corrected
    std::optional<double> Df20;   // %
    std::string NotCorrected;     // why there is no corrected value

    std::string CReference;  // what the capacitance is compared with, in words
    std::string DfReference; // likewise the dissipation factor
    std::optional<double> ReferenceC;
    std::optional<double> ReferenceDf20;
    std::string PreviousId; // the result before in this series; empty for the first
    std::string PreviousMeasured;
    std::optional<double> PreviousC;
    std::optional<double> PreviousDf20;

    std::optional<double> CVsNameplate; // %
    std::optional<double> CVsReference; // %
    std::optional<double> CVsPrevious;  // %
    std::optional<double> DfRatioVsReference;
    std::optional<double> DfRatioVsPrevious;
    std::optional<double> DfRiseVsReference; // percentage points
    std::optional<double> DfRiseVsPrevious;
};

struct ResultAssessment {
    std::string Id;
    std::string Measured;
    std::string Specimen;
    std::string Method; // the correction used
    std::optional<double> Temperature;
    std::optional<double> Humidity;
    std::vector<SeriesValues> Series;
    std::vector<Verdict> Verdicts;
    std::vector<Warning> Warnings;
    std::optional<Level> Overall; // the worst verdict; nothing when no rule applied
    // The first capacitance's series, or nothing.
    const SeriesValues* Main() const;
};

struct SpecimenAssessment {
    archive::Specimen Specimen;
    std::string Method; // the correction its results take
    std::vector<std::string> Profiles;
    // Rules of the profiles that are for this class but could not be applied, and why (a
    // voltage class or a nameplate that is not given).
    std::vector<std::string> Notes;
    std::vector<ResultAssessment> Results; // in the order given
};

// The specimen's results, oldest first, judged by the profiles.
SpecimenAssessment AssessHistory(const archive::Specimen& specimen,
                                 const std::vector<archive::Result>& oldestFirst,
                                 const Library& lib, const std::vector<const Profile*>& profiles);

// What differs between two results compared: their wiring mode, their test voltage (by more
// than the tolerance) or their test frequency (likewise). `what` names the comparison.
std::vector<Warning> ComparedConditions(const archive::Result& now, const archive::Result& then,
                                        const std::string& what, const Defaults& d);

// A result's test voltage (V) and frequency (Hz) as far as it knows them: the test's own
// settings, else the measured U and F1.
std::optional<double> TestVoltageOf(const archive::Result& r);
std::optional<double> TestFrequencyOf(const archive::Result& r);

// One point of a series against the test temperature, for a chart.
struct TemperaturePoint {
    std::string Id;
    std::string Measured;
    double Temperature = 0;
    std::optional<double> C;
    std::optional<double> RawDf;
    std::optional<double> Df20;
    std::optional<Level> Overall;
};
// The results of one series that have a temperature, by rising temperature.
std::vector<TemperaturePoint> AgainstTemperature(const SpecimenAssessment& a,
                                                 const std::string& capacitance);

// Texts the verdicts use: "424.8 pF", "+6.2 %".
std::string CapacitanceText(double farads);
std::string SignedPercent(double value);

} // namespace dielmon::assess
