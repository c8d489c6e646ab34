#include "assessing.h"

#include "archive/export.h"
#include "assess/assess.h"
#include "assess/correction.h"

#include "core/gbk.h"
#include "core/json.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <set>

namespace dielmon::tool {

using namespace dielmon::archive;
using namespace dielmon::assess;

namespace {

int Failed(const std::string& problem) {
    std::cerr << "dielmon-archive: " << problem << "\n";
    return 2;
}

std::string Or(const std::string& text, const std::string& otherwise) {
    return text.empty() ? otherwise : text;
}

std::string Spaced(std::string iso) {
    if (iso.size() > 10 && iso[10] == 'T') {
        iso[10] = ' ';
    }
    return iso.empty() ? "(no date)" : iso;
}

std::string Percent(const std::optional<double>& v) {
    return v ? JsonNumber(*v, 4) + " %" : "-";
}

// The classes' names parted by `separator`.
std::string ClassWords(const std::vector<SpecimenClass>& classes, const char* separator) {
    std::string out;
    for (SpecimenClass c : classes) {
        if (!out.empty()) {
            out += separator;
        }
        out += ClassName(c);
    }
    return out;
}

std::string ClassList() {
    return ClassWords(AllClasses(), ", ");
}

std::string Names(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) {
        out += (out.empty() ? "" : ", ") + n;
    }
    return out;
}

// An optional number of a specimen: "none" clears it.
bool OptionalValue(const std::optional<std::string>& typed, std::optional<double>& value,
                   const std::string& what, bool positive, std::string& problem) {
    if (!typed) {
        return true;
    }
    if (*typed == "none") {
        value.reset();
        return true;
    }
    const auto v = DecimalNumber(*typed);
    if (!v || (positive && *v <= 0)) {
        problem = "not " + what + ": " + *typed;
        return false;
    }
    value = v;
    return true;
}

std::string MethodLine(const Library& lib, const Specimen& s) {
    const std::string name = lib.MethodFor(s);
    const Method* m = lib.MethodNamed(name);
    std::string line =
        name + (s.Method.empty() ? " (the default of class " + std::string(ClassName(s.Class)) + ")"
                                 : std::string());
    if (m == nullptr) {
        return line + ": not known, the results are not corrected";
    }
    return line + ": " + m->Title + " [" + m->Source + "]";
}

std::string TemperatureLine(const Library& lib, const Specimen& s) {
    if (!s.TemperatureOf.empty()) {
        return s.TemperatureOf;
    }
    const Method* m = lib.MethodNamed(lib.MethodFor(s));
    if (m == nullptr || m->Kind == MethodKind::None) {
        return "(none needed)";
    }
    return Or(m->Temperature, "(the method does not say)") + " (as the method says)";
}

void PrintSpecimen(const Specimen& s, const Library& lib) {
    std::cout << "specimen: " << s.Name << "\n"
              << "class: " << ClassName(s.Class) << "\n"
              << "voltage class: "
              << (s.VoltageClass ? JsonNumber(*s.VoltageClass) + " kV" : std::string("-")) << "\n"
              << "nameplate C: "
              << (s.NameplateC ? CapacitanceText(*s.NameplateC) : std::string("-")) << "\n"
              << "nameplate DF: " << Percent(s.NameplateDf) << "\n"
              << "reference: "
              << (s.ComparedWith == Reference::First
                      ? "first (the first result, whatever the nameplate says)"
                      : "nameplate (the nameplate values where given, else the first result)")
              << "\n"
              << "correction: " << MethodLine(lib, s) << "\n"
              << "temperature taken: " << TemperatureLine(lib, s) << "\n"
              << "stored: " << (s.Stored ? "yes" : "no (the defaults)") << "\n";
}

std::string SpecimenJson(const Specimen& s, const Library& lib) {
    return "{\"name\":" + JsonString(s.Name) + ",\"class\":" + JsonString(ClassName(s.Class)) +
           ",\"voltage_class\":" + JsonNumber(s.VoltageClass) +
           ",\"nameplate_c\":" + JsonNumber(s.NameplateC) +
           ",\"nameplate_df\":" + JsonNumber(s.NameplateDf) +
           ",\"reference\":" + JsonString(ReferenceName(s.ComparedWith)) +
           ",\"method\":" + JsonString(lib.MethodFor(s)) +
           ",\"method_is_default\":" + (s.Method.empty() ? "true" : "false") +
           ",\"temperature_of\":" + JsonString(s.TemperatureOf) +
           ",\"stored\":" + (s.Stored ? "true" : "false") + "}";
}

std::string ValueLine(const SeriesValues& s, const ResultAssessment& a) {
    std::string line = s.Capacitance + " " +
                       (s.COver ? std::string("over")
                        : s.C   ? CapacitanceText(*s.C)
                                : "-");
    if (!s.RawDf && !s.DfOver) {
        return line;
    }
    line += "  " + s.Dissipation + " " + (s.DfOver ? std::string("over") : Percent(s.RawDf));
    if (s.Df20 && a.Method != "none") {
        line += " → " + Percent(s.Df20) + " at 20 °C (× " + JsonNumber(*s.Factor, 4) + ", " +
                a.Method + (a.Temperature ? ", " + JsonNumber(*a.Temperature) + " °C" : "") + ")";
    } else if (s.Df20) {
        line += " (not corrected)";
    } else if (!s.NotCorrected.empty()) {
        line += " (not corrected: " + s.NotCorrected + ")";
    }
    return line;
}

void PrintAssessment(const ResultAssessment& a, const Result& r) {
    std::cout << Spaced(a.Measured) << "  " << Or(WiringModeText(r.Config.WiringMode), "-");
    for (const SeriesValues& s : a.Series) {
        std::cout << "  " << ValueLine(s, a);
    }
    std::cout << "  " << (a.Overall ? LevelName(*a.Overall) : "(no rule applies)") << "  " << a.Id
              << "\n";
    for (const Verdict& v : a.Verdicts) {
        std::string level = LevelName(v.Grade);
        level.resize(12, ' ');
        std::cout << "    " << level << v.Profile << "/" << v.Rule << ": " << v.Text << "\n";
    }
    for (const Warning& w : a.Warnings) {
        std::cout << "    warning     " << w.Text << "\n";
    }
}

void PrintSpecimenHeader(const SpecimenAssessment& s, const Library& lib) {
    const Specimen& sp = s.Specimen;
    std::cout << "# " << Or(sp.Name, "(no specimen)") << ": " << ClassName(sp.Class);
    if (sp.VoltageClass) {
        std::cout << ", " << JsonNumber(*sp.VoltageClass) << " kV";
    }
    if (sp.NameplateC || sp.NameplateDf) {
        std::cout << "; nameplate"
                  << (sp.NameplateC ? " C " + CapacitanceText(*sp.NameplateC) : std::string())
                  << (sp.NameplateDf ? " DF " + Percent(sp.NameplateDf) : std::string());
    }
    std::cout << "; compared with "
              << (sp.ComparedWith == Reference::First ? "the first result"
                                                      : "the nameplate, else the first result")
              << "\n# correction: " << MethodLine(lib, sp) << "\n"
              << "# temperature taken: " << TemperatureLine(lib, sp) << "\n"
              << "# profiles: " << Names(s.Profiles) << "\n";
    for (const std::string& n : s.Notes) {
        std::cout << "# note: " << n << "\n";
    }
}

} // namespace

bool LoadJudging(const std::string& shipped, const std::string& lab, const std::string& profiles,
                 Judging& j, std::string& problem) {
    j.Lib = LoadLibrary(shipped, lab);
    for (const std::string& p : j.Lib.Problems) {
        std::cerr << "dielmon-archive: " << p << "\n";
    }
    return PickProfiles(j.Lib, profiles, j.Profiles, problem);
}

bool ApplyChange(Specimen& s, const SpecimenChange& c, const Library& lib, std::string& problem) {
    if (c.Class) {
        const auto cls = ClassNamed(*c.Class);
        if (!cls) {
            problem = "unknown class " + *c.Class + " (classes: " + ClassList() + ")";
            return false;
        }
        s.Class = *cls;
    }
    if (!OptionalValue(c.VoltageClass, s.VoltageClass, "a voltage class in kV", true, problem) ||
        !OptionalValue(c.NameplateC, s.NameplateC, "a capacitance in farads", true, problem) ||
        !OptionalValue(c.NameplateDf, s.NameplateDf, "a dissipation factor in %", false, problem)) {
        return false;
    }
    if (c.Reference) {
        const auto r = ReferenceNamed(*c.Reference);
        if (!r) {
            problem = "the reference is nameplate or first, not " + *c.Reference;
            return false;
        }
        s.ComparedWith = *r;
    }
    if (c.Method) {
        if (*c.Method == "default") {
            s.Method.clear();
        } else if (lib.MethodNamed(*c.Method) == nullptr) {
            std::vector<std::string> names;
            for (const auto& [name, m] : lib.Methods) {
                names.push_back(name);
            }
            problem = "there is no correction method " + *c.Method + " (methods: " + Names(names) +
                      ", or default)";
            return false;
        } else {
            s.Method = *c.Method;
        }
    }
    if (c.TemperatureOf) {
        if (!IsUtf8(*c.TemperatureOf)) {
            problem = "the temperature's description is not UTF-8 text";
            return false;
        }
        s.TemperatureOf = *c.TemperatureOf;
    }
    return true;
}

int SpecimenCommand(Archive& a, const std::string& name, const SpecimenChange& c, bool json,
                    const Library& lib) {
    auto s = a.SpecimenNamed(name);
    if (!s.Ok()) {
        return Failed(s.Error);
    }
    if (c.Any()) {
        std::string problem;
        if (!ApplyChange(s.Value, c, lib, problem)) {
            return Failed(problem);
        }
        if (const std::string error = a.SetSpecimen(s.Value); !error.empty()) {
            return Failed(error);
        }
        s = a.SpecimenNamed(name);
        if (!s.Ok()) {
            return Failed(s.Error);
        }
    }
    if (json) {
        std::cout << SpecimenJson(s.Value, lib) << "\n";
    } else {
        PrintSpecimen(s.Value, lib);
        archive::Filter f;
        f.Specimen = name;
        f.ExactSpecimen = true;
        const auto count = a.Count(f);
        if (count.Ok()) {
            std::cout << "results: " << count.Value << "\n";
        }
    }
    return 0;
}

int AssessCommand(Archive& a, const archive::Filter& f, bool json, const Judging& j) {
    ArchiveAssessor assessor(a, j.Lib, j.Profiles);
    if (json) {
        std::string failure;
        const std::string error = a.ForEach(f, [&](const Result& r) {
            const ResultAssessment* judged = assessor.Of(r);
            if (judged == nullptr && !assessor.Error().empty()) {
                failure = assessor.Error();
                return false;
            }
            std::cout << JsonLine(r, JsonMembers(judged)) << "\n";
            return static_cast<bool>(std::cout);
        });
        return !error.empty() ? Failed(error) : !failure.empty() ? Failed(failure) : 0;
    }
    // Grouped by specimen, each history oldest first.
    std::set<std::string> ids;
    std::set<std::string> specimens;
    std::vector<Result> loose;
    const std::string error = a.ForEach(f, [&](const Result& r) {
        ids.insert(r.Id);
        if (r.Taken.Specimen.empty()) {
            loose.push_back(r);
        } else {
            specimens.insert(r.Taken.Specimen);
        }
        return true;
    });
    if (!error.empty()) {
        return Failed(error);
    }
    int ok = 0;
    int investigate = 0;
    int critical = 0;
    auto count = [&](const ResultAssessment& r) {
        if (r.Overall) {
            ++(*r.Overall == Level::Ok            ? ok
               : *r.Overall == Level::Investigate ? investigate
                                                  : critical);
        }
    };
    for (const std::string& name : specimens) {
        std::vector<Result> history;
        const auto s = assessor.Specimen(name, &history);
        if (!s.Ok()) {
            return Failed(s.Error);
        }
        PrintSpecimenHeader(s.Value, j.Lib);
        for (std::size_t k = 0; k < s.Value.Results.size(); ++k) {
            if (ids.count(history[k].Id) > 0) {
                PrintAssessment(s.Value.Results[k], history[k]);
                count(s.Value.Results[k]);
            }
        }
        std::cout << "\n";
    }
    if (!loose.empty()) {
        std::reverse(loose.begin(), loose.end());
        SpecimenAssessment header = AssessHistory(Specimen{}, {}, j.Lib, j.Profiles);
        PrintSpecimenHeader(header, j.Lib);
        for (const Result& r : loose) {
            const ResultAssessment* judged = assessor.Of(r);
            if (judged != nullptr) {
                PrintAssessment(*judged, r);
                count(*judged);
            }
        }
        std::cout << "\n";
    }
    std::cout << ok << " ok, " << investigate << " to investigate, " << critical << " critical\n";
    return 0;
}

int RulesCommand(const Library& lib) {
    std::cout << "# correction methods\n";
    for (const auto& [name, m] : lib.Methods) {
        std::cout << name << ": " << m.Title << "\n";
        std::cout << "    meant for: " << Or(ClassWords(m.Classes, " "), "any class") << "\n";
        if (m.Kind == MethodKind::Exponential) {
            std::cout << "    factor " << JsonNumber(m.Base) << " ^ ((" << JsonNumber(m.Reference)
                      << " − t) / " << JsonNumber(m.Step) << ")\n";
        } else if (m.Kind == MethodKind::Table) {
            std::cout << "    table of " << m.Points.size() << " points, "
                      << JsonNumber(m.Points.front().first) << " to "
                      << JsonNumber(m.Points.back().first) << " °C, beyond them: "
                      << (m.Outside == Beyond::Clamp ? "the end's factor" : "no correction")
                      << "\n";
        }
        if (m.Kind != MethodKind::None) {
            std::cout << "    temperature: " << Or(m.Temperature, "(not said)") << "\n";
        }
        std::cout << "    source: " << m.Source << "\n"
                  << "    file: " << Or(m.File, "(built in)") << "\n";
    }
    std::cout << "\n# profiles (the default: " << lib.Settings.Profile << ")\n";
    for (const auto& [name, p] : lib.Profiles) {
        std::cout << name << ": " << p.Title << "\n    file: " << p.File << "\n";
        for (const Rule& r : p.Rules) {
            const std::string classes = ClassWords(r.Classes, " ");
            std::string bounds;
            for (const auto* set : {&r.Investigate, &r.Critical}) {
                for (const Condition& c : *set) {
                    if (!bounds.empty()) {
                        bounds += ", ";
                    }
                    bounds += set == &r.Investigate ? "investigate " : "critical ";
                    bounds += c.Text();
                }
            }
            std::cout << "  " << r.Name << ": " << r.Title << "\n"
                      << "      " << r.Group << ", " << Or(classes, "every class")
                      << (r.VoltageFrom ? ", " + JsonNumber(*r.VoltageFrom) + ".." +
                                              JsonNumber(*r.VoltageTo) + " kV"
                                        : std::string())
                      << (r.Stage.empty() ? "" : ", " + r.Stage) << "\n"
                      << "      " << (r.Magnitude ? "|" : "") << MeasureName(r.What)
                      << (r.Magnitude ? "|" : "") << ": " << bounds << "\n"
                      << "      source: " << r.Source
                      << (r.Edition.empty() ? "" : " (" + r.Edition + ")") << "\n";
        }
    }
    const Defaults& d = lib.Settings;
    std::cout << "\n# defaults (" << Or(d.File, "built in") << ")\n";
    for (SpecimenClass c : AllClasses()) {
        std::cout << "method of " << ClassName(c) << ": " << d.MethodOf(c) << "\n";
    }
    std::cout << "reliable temperatures: " << JsonNumber(d.ReliableFrom) << " to "
              << JsonNumber(d.ReliableTo) << " °C\n"
              << "humidity above: " << JsonNumber(d.HumidityAbove) << " %\n"
              << "test voltages differ by more than: " << JsonNumber(d.VoltageTolerance) << " %\n"
              << "test frequencies differ by more than: " << JsonNumber(d.FrequencyTolerance)
              << " Hz\n";
    if (!lib.Problems.empty()) {
        std::cout << "\n# files left out\n";
        for (const std::string& p : lib.Problems) {
            std::cout << p << "\n";
        }
        return 1;
    }
    return 0;
}

std::optional<double> TemperatureValue(const std::string& text) {
    const auto v = DecimalNumber(text);
    return v && *v >= -60 && *v <= 150 ? v : std::nullopt;
}

std::optional<double> HumidityValue(const std::string& text) {
    const auto v = DecimalNumber(text);
    return v && *v >= 0 && *v <= 100 ? v : std::nullopt;
}

} // namespace dielmon::tool
