#include "assess/library.h"

#include "core/helpers.h"

#include "core/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace dielmon::assess {

namespace {

// A data file is a few hundred lines; anything much larger is not one of ours.
constexpr std::uintmax_t kLargestFile = 1 << 20;

struct MeasureNaming {
    Measure What;
    const char* Name;
};

const MeasureNaming kMeasures[] = {
    {Measure::Df20, "df20"},
    {Measure::CapacitanceVsNameplate, "capacitance-vs-nameplate"},
    {Measure::CapacitanceVsReference, "capacitance-vs-reference"},
    {Measure::CapacitanceVsPrevious, "capacitance-vs-previous"},
    {Measure::DfRatioVsReference, "df-ratio-vs-reference"},
    {Measure::DfRatioVsPrevious, "df-ratio-vs-previous"},
    {Measure::DfRiseVsReference, "df-rise-vs-reference"},
    {Measure::DfRiseVsPrevious, "df-rise-vs-previous"},
};

std::vector<std::string> Words(const std::string& s) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : s + " ") {
        if (c == ' ' || c == '\t' || c == ',') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

// A decimal number in the C locale's form, whole text; nothing otherwise.
std::optional<double> Number(const std::string& text) {
    const std::string t = TrimBlanks(text);
    if (t.empty()) {
        return std::nullopt;
    }
    const char* begin = t.data() + (t[0] == '+' ? 1 : 0);
    double v = 0;
    const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

// "66..110": a range of two numbers, the first not above the second.
std::optional<std::pair<double, double>> Range(const std::string& text) {
    const auto dots = text.find("..");
    if (dots == std::string::npos) {
        return std::nullopt;
    }
    const auto from = Number(text.substr(0, dots));
    const auto to = Number(text.substr(dots + 2));
    if (!from || !to || *from > *to) {
        return std::nullopt;
    }
    return std::make_pair(*from, *to);
}

std::optional<Condition> ConditionOf(const std::string& text) {
    static const std::pair<const char*, Compare> kOperators[] = {
        {">=", Compare::AtLeast},  {"<=", Compare::AtMost},        {">", Compare::Above},
        {"<", Compare::Below},     {"at least", Compare::AtLeast}, {"at most", Compare::AtMost},
        {"above", Compare::Above}, {"below", Compare::Below},
    };
    const std::string t = TrimBlanks(text);
    for (const auto& [op, how] : kOperators) {
        const std::string o = op;
        if (t.compare(0, o.size(), o) == 0) {
            const auto bound = Number(t.substr(o.size()));
            if (!bound) {
                return std::nullopt;
            }
            return Condition{how, *bound};
        }
    }
    return std::nullopt;
}

// "winding bushing-oip", or "all" for every class.
bool ClassesOf(const std::string& text, std::vector<SpecimenClass>& out, std::string& problem) {
    out.clear();
    const std::vector<std::string> words = Words(text);
    if (words.size() == 1 && words[0] == "all") {
        return true;
    }
    if (words.empty()) {
        problem = "no class named (write \"all\" for every class)";
        return false;
    }
    for (const std::string& w : words) {
        const auto c = archive::ClassNamed(w);
        if (!c) {
            problem = "unknown class \"" + w + "\"";
            return false;
        }
        out.push_back(*c);
    }
    return true;
}

// The lines of a file: "key = value" under an optional "[section NAME]", comments (a line
// whose first character that is not a blank is "#") and blank lines left out.
struct Line {
    int Number = 0;
    std::string Section; // "" at the top, "rule NAME" below a section line
    std::string Key;
    std::string Value;
};

bool ReadLines(const std::string& text, const std::string& file, bool sections,
               std::vector<Line>& lines, std::vector<Problem>& problems) {
    if (!IsUtf8(text)) {
        problems.push_back({file, 0, "the file is not UTF-8 text"});
        return false;
    }
    std::istringstream in(text);
    std::string raw;
    std::string section;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
        }
        if (number == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            raw.erase(0, 3); // a byte-order mark that an editor put in
        }
        const std::string t = TrimBlanks(raw);
        if (t.empty() || t[0] == '#') {
            continue;
        }
        if (t.front() == '[') {
            if (!sections) {
                problems.push_back({file, number, "this file has no sections"});
                return false;
            }
            if (t.back() != ']') {
                problems.push_back({file, number, "a section line ends with \"]\""});
                return false;
            }
            section = TrimBlanks(t.substr(1, t.size() - 2));
            const std::vector<std::string> w = Words(section);
            if (w.size() != 2 || w[0] != "rule") {
                problems.push_back({file, number, "a section is \"[rule NAME]\""});
                return false;
            }
            section = "rule " + w[1];
            lines.push_back({number, section, "", ""});
            continue;
        }
        const auto eq = t.find('=');
        if (eq == std::string::npos) {
            problems.push_back({file, number, "not \"key = value\": " + t});
            return false;
        }
        const std::string key = TrimBlanks(t.substr(0, eq));
        if (key.empty()) {
            problems.push_back({file, number, "a line without a key"});
            return false;
        }
        lines.push_back({number, section, key, TrimBlanks(t.substr(eq + 1))});
    }
    return true;
}

// Keys that may be given once only, per section.
class Once {
public:
    bool Take(const Line& l, const std::string& file, std::vector<Problem>& problems) {
        if (!Seen_.insert(l.Section + "\n" + l.Key).second) {
            problems.push_back({file, l.Number, "\"" + l.Key + "\" is given twice"});
            return false;
        }
        return true;
    }

private:
    std::set<std::string> Seen_;
};

bool NameIsFine(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

std::string DefaultGroup(Measure m) {
    return m == Measure::Df20 || m == Measure::CapacitanceVsNameplate ? "limit" : "trend";
}

} // namespace

std::optional<double> DecimalNumber(const std::string& text) {
    return Number(text);
}

std::string Problem::Text() const {
    return File + ":" + std::to_string(Line) + ": " + Message;
}

const char* MeasureName(Measure m) {
    for (const MeasureNaming& n : kMeasures) {
        if (n.What == m) {
            return n.Name;
        }
    }
    return "df20";
}

std::optional<Measure> MeasureNamed(const std::string& name) {
    for (const MeasureNaming& n : kMeasures) {
        if (name == n.Name) {
            return n.What;
        }
    }
    return std::nullopt;
}

bool Condition::Holds(double value) const {
    switch (How) {
    case Compare::Below:
        return value < Bound;
    case Compare::AtMost:
        return value <= Bound;
    case Compare::Above:
        return value > Bound;
    case Compare::AtLeast:
        return value >= Bound;
    }
    return false;
}

std::string Condition::Text() const {
    static const char* const kSigns[] = {"<", "≤", ">", "≥"};
    return std::string(kSigns[static_cast<int>(How)]) + " " + JsonNumber(Bound);
}

bool Rule::AppliesTo(SpecimenClass c) const {
    return Classes.empty() || std::find(Classes.begin(), Classes.end(), c) != Classes.end();
}

std::string Defaults::MethodOf(SpecimenClass c) const {
    const auto at = Methods.find(c);
    return at != Methods.end() ? at->second : "none";
}

Defaults BuiltInDefaults() {
    Defaults d;
    d.Methods[SpecimenClass::Winding] = "exponential-1.3";
    return d;
}

Parsed<Method> ParseMethod(const std::string& name, const std::string& text,
                           const std::string& file) {
    Parsed<Method> out;
    Method& m = out.Value;
    m.Name = name;
    m.File = file;
    std::vector<Line> lines;
    if (!ReadLines(text, file, false, lines, out.Problems)) {
        return out;
    }
    auto fail = [&](const Line& l, const std::string& message) {
        out.Problems.push_back({file, l.Number, message});
        return out;
    };
    Once once;
    bool kind = false;
    std::optional<Line> outside;
    for (const Line& l : lines) {
        if (l.Key != "point" && !once.Take(l, file, out.Problems)) {
            return out;
        }
        if (l.Key == "title") {
            m.Title = l.Value;
        } else if (l.Key == "source") {
            m.Source = l.Value;
        } else if (l.Key == "temperature") {
            m.Temperature = l.Value;
        } else if (l.Key == "classes") {
            std::string problem;
            if (!ClassesOf(l.Value, m.Classes, problem)) {
                return fail(l, problem);
            }
        } else if (l.Key == "kind") {
            kind = true;
            if (l.Value == "none") {
                m.Kind = MethodKind::None;
            } else if (l.Value == "exponential") {
                m.Kind = MethodKind::Exponential;
            } else if (l.Value == "table") {
                m.Kind = MethodKind::Table;
            } else {
                return fail(l, "kind is none, exponential or table, not \"" + l.Value + "\"");
            }
        } else if (l.Key == "base" || l.Key == "step" || l.Key == "reference") {
            const auto v = Number(l.Value);
            if (!v || (l.Key != "reference" && *v <= 0)) {
                return fail(l, l.Key +
                                   (l.Key == "reference" ? " is a temperature in °C"
                                                         : " is a number above 0") +
                                   ", not \"" + l.Value + "\"");
            }
            (l.Key == "base" ? m.Base : l.Key == "step" ? m.Step : m.Reference) = *v;
        } else if (l.Key == "outside") {
            if (l.Value != "clamp" && l.Value != "refuse") {
                return fail(l, "outside is clamp or refuse, not \"" + l.Value + "\"");
            }
            m.Outside = l.Value == "clamp" ? Beyond::Clamp : Beyond::Refuse;
            outside = l;
        } else if (l.Key == "point") {
            const std::vector<std::string> w = Words(l.Value);
            const auto t = w.size() == 2 ? Number(w[0]) : std::nullopt;
            const auto f = w.size() == 2 ? Number(w[1]) : std::nullopt;
            if (!t || !f || *f <= 0) {
                return fail(l, "a point is a temperature in °C and a factor above 0, not \"" +
                                   l.Value + "\"");
            }
            if (!m.Points.empty() && *t <= m.Points.back().first) {
                return fail(l, "the points' temperatures must rise from line to line");
            }
            m.Points.emplace_back(*t, *f);
        } else {
            return fail(l, "unknown key \"" + l.Key + "\"");
        }
    }
    const Line whole{0, "", "", ""};
    if (!kind) {
        return fail(whole, "the method has no kind (none, exponential or table)");
    }
    if (m.Source.empty()) {
        return fail(whole, "the method names no source");
    }
    if (m.Kind == MethodKind::Table && m.Points.size() < 2) {
        return fail(whole, "a table needs two points at least");
    }
    if (m.Kind != MethodKind::Table && !m.Points.empty()) {
        return fail(whole, "only a table has points");
    }
    if (m.Kind != MethodKind::Table && outside) {
        return fail(*outside, "only a table has an outside rule");
    }
    if (m.Title.empty()) {
        m.Title = name;
    }
    return out;
}

Parsed<Profile> ParseProfile(const std::string& name, const std::string& text,
                             const std::string& file) {
    Parsed<Profile> out;
    Profile& p = out.Value;
    p.Name = name;
    p.File = file;
    std::vector<Line> lines;
    if (!ReadLines(text, file, true, lines, out.Problems)) {
        return out;
    }
    auto fail = [&](int line, const std::string& message) {
        out.Problems.push_back({file, line, message});
        return out;
    };
    Once once;
    std::set<std::string> ruleNames;
    std::vector<bool> hasMeasure;
    std::vector<std::optional<std::string>> groups;
    for (const Line& l : lines) {
        if (l.Key.empty()) {
            // A new section.
            const std::string ruleName = l.Section.substr(5);
            if (!ruleNames.insert(ruleName).second) {
                return fail(l.Number, "rule " + ruleName + " is given twice");
            }
            Rule r;
            r.Name = ruleName;
            r.Line = l.Number;
            p.Rules.push_back(r);
            hasMeasure.push_back(false);
            groups.emplace_back();
            continue;
        }
        if (l.Key != "investigate" && l.Key != "critical" && !once.Take(l, file, out.Problems)) {
            return out;
        }
        if (l.Section.empty()) {
            if (l.Key == "title") {
                p.Title = l.Value;
            } else if (l.Key == "source") {
                p.Source = l.Value;
            } else if (l.Key == "edition") {
                p.Edition = l.Value;
            } else {
                return fail(l.Number, "unknown key \"" + l.Key + "\" before the first rule");
            }
            continue;
        }
        Rule& r = p.Rules.back();
        if (l.Key == "title") {
            r.Title = l.Value;
        } else if (l.Key == "source") {
            r.Source = l.Value;
        } else if (l.Key == "edition") {
            r.Edition = l.Value;
        } else if (l.Key == "stage") {
            r.Stage = l.Value;
        } else if (l.Key == "group") {
            if (l.Value != "limit" && l.Value != "trend") {
                return fail(l.Number, "group is limit or trend, not \"" + l.Value + "\"");
            }
            groups.back() = l.Value;
        } else if (l.Key == "classes") {
            std::string problem;
            if (!ClassesOf(l.Value, r.Classes, problem)) {
                return fail(l.Number, problem);
            }
        } else if (l.Key == "voltage") {
            const auto range = Range(l.Value);
            if (!range) {
                return fail(l.Number,
                            "voltage is a range of kV such as 66..110, not \"" + l.Value + "\"");
            }
            r.VoltageFrom = range->first;
            r.VoltageTo = range->second;
        } else if (l.Key == "measure") {
            std::string what = l.Value;
            r.Magnitude = what.size() > 5 && what.compare(0, 4, "abs(") == 0 && what.back() == ')';
            if (r.Magnitude) {
                what = TrimBlanks(what.substr(4, what.size() - 5));
            }
            const auto m = MeasureNamed(what);
            if (!m) {
                return fail(l.Number, "unknown measure \"" + l.Value + "\"");
            }
            r.What = *m;
            hasMeasure.back() = true;
        } else if (l.Key == "investigate" || l.Key == "critical") {
            const auto c = ConditionOf(l.Value);
            if (!c) {
                return fail(l.Number, l.Key +
                                          " is a comparison and a number, such as \"> 10\" "
                                          "or \"at least 5\", not \"" +
                                          l.Value + "\"");
            }
            (l.Key == "investigate" ? r.Investigate : r.Critical).push_back(*c);
        } else {
            return fail(l.Number, "unknown key \"" + l.Key + "\" in rule " + r.Name);
        }
    }
    if (p.Rules.empty()) {
        return fail(0, "the profile has no rule");
    }
    for (std::size_t k = 0; k < p.Rules.size(); ++k) {
        Rule& r = p.Rules[k];
        if (!hasMeasure[k]) {
            return fail(r.Line, "rule " + r.Name + " has no measure");
        }
        if (r.Investigate.empty() && r.Critical.empty()) {
            return fail(r.Line, "rule " + r.Name + " has no investigate or critical condition");
        }
        if (r.Source.empty()) {
            r.Source = p.Source;
        }
        if (r.Edition.empty()) {
            r.Edition = p.Edition;
        }
        if (r.Source.empty()) {
            return fail(r.Line, "rule " + r.Name + " names no source (nor does the profile)");
        }
        if (r.Title.empty()) {
            r.Title = r.Name;
        }
        r.Group = groups[k].value_or(DefaultGroup(r.What));
    }
    if (p.Title.empty()) {
        p.Title = name;
    }
    return out;
}

Parsed<Defaults> ParseDefaults(const std::string& text, const std::string& file) {
    Parsed<Defaults> out;
    Defaults& d = out.Value;
    d = BuiltInDefaults();
    d.File = file;
    std::vector<Line> lines;
    if (!ReadLines(text, file, false, lines, out.Problems)) {
        return out;
    }
    auto fail = [&](int line, const std::string& message) {
        out.Problems.push_back({file, line, message});
        return out;
    };
    Once once;
    for (const Line& l : lines) {
        if (!once.Take(l, file, out.Problems)) {
            return out;
        }
        if (l.Key == "profile") {
            if (!NameIsFine(l.Value)) {
                return fail(l.Number, "not a profile name: \"" + l.Value + "\"");
            }
            d.Profile = l.Value;
        } else if (l.Key.compare(0, 7, "method.") == 0) {
            const auto c = archive::ClassNamed(l.Key.substr(7));
            if (!c) {
                return fail(l.Number, "unknown class \"" + l.Key.substr(7) + "\"");
            }
            if (!NameIsFine(l.Value)) {
                return fail(l.Number, "not a method name: \"" + l.Value + "\"");
            }
            d.Methods[*c] = l.Value;
        } else if (l.Key == "reliable-temperature") {
            const auto range = Range(l.Value);
            if (!range) {
                return fail(l.Number, "reliable-temperature is a range of °C such as 10..40, "
                                      "not \"" +
                                          l.Value + "\"");
            }
            d.ReliableFrom = range->first;
            d.ReliableTo = range->second;
        } else if (l.Key == "humidity-above" || l.Key == "voltage-tolerance" ||
                   l.Key == "frequency-tolerance") {
            const auto v = Number(l.Value);
            if (!v || *v < 0) {
                return fail(l.Number, l.Key + " is a number not below 0, not \"" + l.Value + "\"");
            }
            (l.Key == "humidity-above"      ? d.HumidityAbove
             : l.Key == "voltage-tolerance" ? d.VoltageTolerance
                                            : d.FrequencyTolerance) = *v;
        } else {
            return fail(l.Number, "unknown key \"" + l.Key + "\"");
        }
    }
    return out;
}

const Method* Library::MethodNamed(const std::string& name) const {
    const auto at = Methods.find(name);
    return at != Methods.end() ? &at->second : nullptr;
}

const Profile* Library::ProfileNamed(const std::string& name) const {
    const auto at = Profiles.find(name);
    return at != Profiles.end() ? &at->second : nullptr;
}

std::string Library::MethodFor(const archive::Specimen& s) const {
    return s.Method.empty() ? Settings.MethodOf(s.Class) : s.Method;
}

namespace {

struct FileText {
    std::string Text;
    std::string Error;
};

FileText ReadFile(const fs::path& path) {
    FileText out;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) {
        out.Error = ec.message();
        return out;
    }
    if (size > kLargestFile) {
        out.Error = "the file is larger than 1 MiB: not a data file";
        return out;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) {
        out.Error = "the file cannot be read";
    }
    out.Text = text.str();
    return out;
}

// The data files of a folder, by name; nothing when there is no such folder.
std::vector<fs::path> DataFiles(const std::string& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        return files;
    }
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        const std::string ext = p.extension().string();
        if (ext == ".method" || ext == ".profile" || p.filename() == "defaults.conf") {
            files.push_back(p);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void Report(Library& lib, const std::vector<Problem>& problems, bool lab, bool shippedOne) {
    for (const Problem& p : problems) {
        lib.Problems.push_back(p.Text() + (lab && shippedOne ? "; the shipped file is used instead"
                                                             : "; the file is left out"));
    }
}

void LoadFolder(Library& lib, const std::string& folder, bool lab) {
    for (const fs::path& p : DataFiles(folder)) {
        const std::string file = p.string();
        const std::string ext = p.extension().string();
        const std::string name = p.stem().string();
        const bool isMethod = ext == ".method";
        const bool isProfile = ext == ".profile";
        const bool shippedOne = isMethod    ? lib.Methods.count(name) > 0
                                : isProfile ? lib.Profiles.count(name) > 0
                                            : !lib.Settings.File.empty();
        if ((isMethod || isProfile) && !NameIsFine(name)) {
            Report(lib, {{file, 0, "a name of letters, digits, \"-\", \"_\" and \".\" only"}}, lab,
                   shippedOne);
            continue;
        }
        const FileText read = ReadFile(p);
        if (!read.Error.empty()) {
            Report(lib, {{file, 0, read.Error}}, lab, shippedOne);
            continue;
        }
        if (isMethod) {
            Parsed<Method> m = ParseMethod(name, read.Text, file);
            if (m.Ok()) {
                lib.Methods[name] = std::move(m.Value);
            } else {
                Report(lib, m.Problems, lab, shippedOne);
            }
        } else if (isProfile) {
            Parsed<Profile> pr = ParseProfile(name, read.Text, file);
            if (pr.Ok()) {
                lib.Profiles[name] = std::move(pr.Value);
            } else {
                Report(lib, pr.Problems, lab, shippedOne);
            }
        } else {
            Parsed<Defaults> d = ParseDefaults(read.Text, file);
            if (d.Ok()) {
                lib.Settings = std::move(d.Value);
            } else {
                Report(lib, d.Problems, lab, shippedOne);
            }
        }
    }
}

} // namespace

Library LoadLibrary(const std::string& shipped, const std::string& lab) {
    Library lib;
    Method none;
    none.Name = "none";
    none.Title = "No correction: the value as measured";
    none.Kind = MethodKind::None;
    none.Source = "the program (no temperature correction)";
    lib.Methods["none"] = none;
    LoadFolder(lib, shipped, false);
    LoadFolder(lib, lab, true);
    // A class's method that no file holds is named once, and that class goes uncorrected.
    for (auto& [c, method] : lib.Settings.Methods) {
        if (lib.MethodNamed(method) == nullptr) {
            lib.Problems.push_back((lib.Settings.File.empty()
                                        ? std::string("the program's defaults")
                                        : lib.Settings.File) +
                                   ": the method " + method + " of class " + archive::ClassName(c) +
                                   " is not known; its results are not corrected");
            method = "none";
        }
    }
    return lib;
}

bool PickProfiles(const Library& lib, const std::string& named, std::vector<const Profile*>& chosen,
                  std::string& problem) {
    std::vector<std::string> wanted;
    const std::string names = named.empty() ? lib.Settings.Profile : named;
    if (names == "all") {
        for (const auto& [name, p] : lib.Profiles) {
            wanted.push_back(name);
        }
    } else {
        std::string part;
        for (const char c : names + ",") {
            if (c == ',') {
                if (!part.empty()) {
                    wanted.push_back(part);
                }
                part.clear();
            } else {
                part += c;
            }
        }
    }
    std::vector<const Profile*> picked;
    for (const std::string& w : wanted) {
        const Profile* p = lib.ProfileNamed(w);
        if (p == nullptr) {
            std::string known;
            for (const auto& [name, profile] : lib.Profiles) {
                known += (known.empty() ? "" : ", ") + name;
            }
            problem = "there is no profile " + w + " (profiles: " + known + ")";
            return false;
        }
        if (std::find(picked.begin(), picked.end(), p) == picked.end()) {
            picked.push_back(p);
        }
    }
    chosen = std::move(picked);
    return true;
}

std::string ShippedFolder(const std::string& exeFolder) {
    std::string folder = exeFolder;
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return (fs::path(folder) / "../share/dielmon/assessment/").lexically_normal().string();
}

std::string LabFolder(const HomeFolders& folders) {
    return folders.DataFolder + "assessment/";
}

} // namespace dielmon::assess
