// The assessment's data: temperature correction methods, limit profiles and the defaults, each
// read from a small line-based text file (docs/assessment.md describes the format). Files come
// from two folders: the ones shipped with the program, then the lab's own in the data folder,
// where a file of the same name replaces the shipped one. A file that cannot be read is named
// with its line and left out; the shipped file of that name stays in use.
//
// Nothing here knows the archive's file or a window: the library is plain data for the pure
// functions of assess.h.
#pragma once

#include "archive/specimen.h"
#include "core/homefolders.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dielmon::assess {

using archive::SpecimenClass;

// Where a file's fault is: its path, its line (0: the file as a whole) and what is wrong.
struct Problem {
    std::string File;
    int Line = 0;
    std::string Message;
    // "path:line: message"
    std::string Text() const;
};

// What a data file gave, or the problems that kept it out.
template <typename T>
struct Parsed {
    T Value{};
    std::vector<Problem> Problems;
    bool Ok() const { return Problems.empty(); }
};

enum class MethodKind {
    None,        // the measured value as it is
    Exponential, // factor = base ^ ((reference − t) / step)
    Table,       // (temperature, factor) points, straight lines between them
};

// What a table does with a temperature beyond its first or last point.
enum class Beyond {
    Refuse, // no correction: the result is judged without one and says why
    Clamp,  // the factor of the nearest end, with a warning
};

// A temperature correction. Its factor multiplies the measured dissipation factor to give the
// value at the reference temperature: a factor below 1 above 20 °C, above 1 below it.
struct Method {
    std::string Name; // the file's name without ".method"
    std::string Title;
    MethodKind Kind = MethodKind::None;
    double Base = 1.3;                             // exponential
    double Step = 10;                              // exponential: °C per power of the base
    double Reference = 20;                         // °C the values are corrected to
    std::vector<std::pair<double, double>> Points; // table: (°C, factor), rising temperature
    Beyond Outside = Beyond::Refuse;
    std::vector<SpecimenClass> Classes; // what it is meant for; empty: any
    std::string Temperature;            // which temperature it takes ("top oil")
    std::string Source;
    std::string File;
};

// What a rule compares. Changes are in % of the value compared with; ratios are plain numbers;
// rises are in percentage points of dissipation factor.
enum class Measure {
    Df20,                   // the corrected dissipation factor, %
    CapacitanceVsNameplate, // capacitance change from the nameplate, %
    CapacitanceVsReference, // ... from the reference (nameplate or first result), %
    CapacitanceVsPrevious,  // ... from the result before, %
    DfRatioVsReference,     // corrected DF ÷ the reference's
    DfRatioVsPrevious,      // corrected DF ÷ that of the result before
    DfRiseVsReference,      // corrected DF − the reference's, percentage points
    DfRiseVsPrevious,       // corrected DF − that of the result before
};
// "df20", "capacitance-vs-nameplate" ... as the files name them.
const char* MeasureName(Measure m);
std::optional<Measure> MeasureNamed(const std::string& name);

enum class Compare { Below, AtMost, Above, AtLeast }; // <, <=, >, >=

struct Condition {
    Compare How = Compare::Above;
    double Bound = 0;
    bool Holds(double value) const;
    // "> 10", "≥ 5"
    std::string Text() const;
};

enum class Level { Ok, Investigate, Critical };

// One rule of a profile: which specimens it is for, what it compares and where each level
// begins. A value that meets a critical condition is critical, else one that meets an
// investigate condition is to be investigated, else it is ok.
struct Rule {
    std::string Name;
    std::string Title;
    std::string Group; // "limit": against fixed numbers; "trend": against the specimen's history
    std::vector<SpecimenClass> Classes; // empty: every class
    std::optional<double> VoltageFrom;  // kV, inclusive; a rule with a range needs the
    std::optional<double> VoltageTo;    // specimen's voltage class
    std::string Stage;                  // "in service", "after overhaul" ... as the code says
    Measure What = Measure::Df20;
    bool Magnitude = false; // compares the value without its sign
    std::vector<Condition> Investigate;
    std::vector<Condition> Critical;
    std::string Source;
    std::string Edition;
    int Line = 0; // of its section in the file
    bool AppliesTo(SpecimenClass c) const;
};

struct Profile {
    std::string Name; // the file's name without ".profile"
    std::string Title;
    std::string Source;  // the rules' source unless a rule names its own
    std::string Edition; // likewise
    std::vector<Rule> Rules;
    std::string File;
};

// The defaults: the profile used when none is named, the correction of each class, and where
// the conditions of a test start to matter.
struct Defaults {
    std::string Profile = "nameplate";
    std::map<SpecimenClass, std::string> Methods; // classes not named use "none"
    double ReliableFrom = 10; // °C: outside this range a correction is not to be trusted
    double ReliableTo = 40;
    double HumidityAbove = 80;     // %: above it surface leakage may show in the result
    double VoltageTolerance = 10;  // %: test voltages further apart than this differ
    double FrequencyTolerance = 1; // Hz: test frequencies further apart than this differ
    std::string File;
    // The class's correction method.
    std::string MethodOf(SpecimenClass c) const;
};

// The program's defaults when no file says otherwise: windings by the exponential rule.
Defaults BuiltInDefaults();

// One file's text, read. `name` is the file's name without its extension.
Parsed<Method> ParseMethod(const std::string& name, const std::string& text,
                           const std::string& file);
Parsed<Profile> ParseProfile(const std::string& name, const std::string& text,
                             const std::string& file);
Parsed<Defaults> ParseDefaults(const std::string& text, const std::string& file);

struct Library {
    std::map<std::string, Method> Methods;
    std::map<std::string, Profile> Profiles;
    Defaults Settings = BuiltInDefaults();
    // Every file left out, and why, ready to show: "path:line: message; ...".
    std::vector<std::string> Problems;

    const Method* MethodNamed(const std::string& name) const;
    const Profile* ProfileNamed(const std::string& name) const;
    // The method a specimen's results are corrected by: its own, else its class's.
    std::string MethodFor(const archive::Specimen& s) const;
};

// A decimal number as the data files and the command line write it ("0.5", "-5", "4.2e-10"),
// the whole text and finite; nothing otherwise. Independent of the locale.
std::optional<double> DecimalNumber(const std::string& text);

// The shipped files (*.method, *.profile, defaults.conf) of `shipped`, then the lab's of `lab`
// (a missing folder holds nothing). The method "none" is always there.
Library LoadLibrary(const std::string& shipped, const std::string& lab);

// The profiles `named` asks for: a name, names parted by commas, "all", or the library's
// default profile when empty; each once, in the order named. An unknown name leaves `chosen`
// as it was and says why in `problem`.
bool PickProfiles(const Library& lib, const std::string& named, std::vector<const Profile*>& chosen,
                  std::string& problem);

// The shipped files, installed beside the executable: <exe>/../share/dielmon/assessment/.
std::string ShippedFolder(const std::string& exeFolder);
// The lab's own files: the data folder's assessment/.
std::string LabFolder(const HomeFolders& folders);

} // namespace dielmon::assess
