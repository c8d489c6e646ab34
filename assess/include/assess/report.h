// The assessment where it leaves the program: the members it adds to a result's JSON object,
// the columns it adds to the CSV table, the archive-backed assessor that judges a result in its
// specimen's history, and the content of a specimen report (what a printed or PDF report of one
// specimen shows, without its layout).
#pragma once

#include "archive/archive.h"
#include "archive/export.h"
#include "assess/assess.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dielmon::assess {

// The members a result's JSON object gains: "correction" ({"method", "factor", "df20",
// "quantity", "raw", "temperature", "values": {name: df20}}, or null without a dissipation
// factor), "verdicts" ([{"profile", "rule", "group", "level", "quantity", "value", "unit",
// "source", "edition", "text"}]), "level" (the worst, or null), "warnings" ([{"code", "text"}])
// and "trend" ([{"capacitance", "dissipation", "c_vs_reference", "c_vs_previous",
// "df_ratio_vs_reference", "df_ratio_vs_previous", "df_rise_vs_reference",
// "df_rise_vs_previous", "c_reference", "df_reference"}]). Without an assessment (a result the
// assessor could not judge) the same members, empty.
std::string JsonMembers(const ResultAssessment* a);

// The CSV columns: the correction of the first dissipation factor (quantity, raw value, method,
// factor, value at 20 °C), the worst level, the verdicts and the warnings (each on a line of
// its own in its cell).
archive::CsvColumns
CsvColumnsOf(std::function<const ResultAssessment*(const archive::Result&)> assessmentOf);

// Judges archived results in their specimen's history, reading each specimen's results once.
class ArchiveAssessor {
public:
    ArchiveAssessor(archive::Archive& a, const Library& lib, std::vector<const Profile*> profiles);

    // The assessment of a result; nothing when its specimen cannot be read (Error() says why).
    const ResultAssessment* Of(const archive::Result& r);
    // A specimen's whole history, oldest first, with its results.
    archive::Outcome<SpecimenAssessment> Specimen(const std::string& name,
                                                  std::vector<archive::Result>* results = nullptr);
    const std::string& Error() const { return Error_; }

private:
    archive::Archive& Archive_;
    const Library& Lib_;
    std::vector<const Profile*> Profiles_;
    std::map<std::string, std::map<std::string, ResultAssessment>> Cache_; // specimen → id →
    std::unique_ptr<ResultAssessment> Alone_;
    std::string Error_;
};

// One line of a specimen report's table.
struct ReportRow {
    std::string Id;
    std::string Measured;
    std::string Mode;   // the wiring mode's text, UTF-8
    std::string Source; // "test", "instrument", "file"
    std::string Capacitance;
    std::optional<double> C;
    std::string Dissipation;
    std::optional<double> RawDf;
    std::string Method;
    std::optional<double> Factor;
    std::optional<double> Df20;
    std::optional<double> Temperature;
    std::optional<double> Humidity;
    std::optional<double> TestVoltage;   // V
    std::optional<double> TestFrequency; // Hz
    std::optional<Level> Overall;
    std::vector<std::string> Verdicts;
    std::vector<std::string> Warnings;
};

// One point of the trend chart by date.
struct DatePoint {
    std::string Measured;
    std::optional<double> C;
    std::optional<double> Df20;
    std::optional<double> CVsReference; // %
};

// Everything a specimen report shows: the specimen, its class and nameplate, what its results
// are compared with and how they are corrected, its results with raw and corrected values,
// conditions and verdicts, the points of the trend charts (by date and against temperature),
// every source the verdicts name, and the fields the operator fills in and signs.
struct SpecimenReport {
    archive::Specimen Specimen;
    std::string ClassName;
    std::string Method;
    std::string MethodTitle;
    std::string MethodSource;
    std::string TemperatureOf;                            // which temperature the correction takes
    std::vector<std::string> Profiles;                    // "name: title"
    std::vector<ReportRow> Rows;                          // oldest first
    std::map<std::string, std::vector<DatePoint>> ByDate; // per capacitance
    std::map<std::string, std::vector<TemperaturePoint>> ByTemperature; // per capacitance
    std::vector<std::string> Sources;
    std::vector<std::string> Notes;
    int Ok = 0;
    int Investigate = 0;
    int Critical = 0;
    std::vector<std::string> SignatureFields{"Tested by", "Checked by", "Date", "Signature"};
};

SpecimenReport BuildSpecimenReport(const SpecimenAssessment& a,
                                   const std::vector<archive::Result>& oldestFirst,
                                   const Library& lib);

} // namespace dielmon::assess
