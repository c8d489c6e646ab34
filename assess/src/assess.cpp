#include "assess/assess.h"

#include "assess/correction.h"

#include "core/gbk.h"
#include "core/helpers.h"
#include "core/json.h"
#include "core/measured.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace dielmon::assess {

using archive::Quantity;
using archive::Result;
using archive::Specimen;

namespace {

const archive::Quantity* Find(const Result& r, const std::string& name) {
    for (const Quantity& q : r.Quantities) {
        if (q.Name == name) {
            return &q;
        }
    }
    return nullptr;
}

std::string Day(const std::string& measured) {
    return measured.empty() ? std::string("(no date)") : measured.substr(0, 10);
}

std::string Percent(double v) {
    return JsonNumber(v, 4) + " %";
}

std::string Times(double v) {
    return JsonNumber(v, 3) + "×";
}

std::string Signed(double v, const std::string& unit) {
    return (v > 0 ? "+" : "") + JsonNumber(v, 3) + unit;
}

// A value as a bound sees it: to 10 significant digits, so that the rounding of binary
// arithmetic does not move a value onto the other side of a bound it sits on (1.1 nF against
// 1.0 nF is a change of 10 %, not of 10.000000000000009 %).
double Rounded(double v) {
    const std::string text = JsonNumber(v, 10);
    return DecimalNumber(text).value_or(v);
}

double Change(double now, double then) {
    return (now - then) / then * 100;
}

// What one series was last seen with, to compare the next result of it with.
struct Seen {
    std::string Id;
    std::string Measured;
    std::optional<double> C;
    std::optional<double> Df20;
    const Result* From = nullptr;
};

struct SeriesHistory {
    std::optional<Seen> FirstC;  // the first result with a capacitance
    std::optional<Seen> FirstDf; // the first result with a corrected dissipation factor
    std::optional<Seen> Previous;
};

// The bounds of a rule in words, for a value that reached none of them.
std::string Bounds(const Rule& r) {
    std::string out;
    for (const auto* set : {&r.Investigate, &r.Critical}) {
        std::string part;
        for (const Condition& c : *set) {
            part += (part.empty() ? "" : " or ") + c.Text();
        }
        if (!part.empty()) {
            out += (out.empty() ? "" : ", ") +
                   std::string(set == &r.Investigate ? "investigate at " : "critical at ") + part;
        }
    }
    return out;
}

struct Judged {
    Level Grade = Level::Ok;
    std::string Why;
};

Judged Judge(const Rule& r, double value) {
    for (const Condition& c : r.Critical) {
        if (c.Holds(value)) {
            return {Level::Critical, c.Text()};
        }
    }
    for (const Condition& c : r.Investigate) {
        if (c.Holds(value)) {
            return {Level::Investigate, c.Text()};
        }
    }
    return {Level::Ok, Bounds(r)};
}

// A value of a series for a rule, in words and as a number; nothing when the series has none.
struct Measured {
    double Value = 0;
    std::string Quantity;
    std::string Unit;
    std::string Words;
};

std::string DfWords(const SeriesValues& s, const std::string& method,
                    const std::optional<double>& t) {
    if (method == "none" || !s.Factor || *s.Factor == 1.0) {
        return s.Dissipation + " " + Percent(*s.Df20) +
               (method == "none" ? " (not corrected: method none)" : "");
    }
    return s.Dissipation + " at 20 °C " + Percent(*s.Df20) + " (measured " + Percent(*s.RawDf) +
           (t ? " at " + JsonNumber(*t) + " °C" : std::string()) + ", × " +
           JsonNumber(*s.Factor, 4) + " by " + method + ")";
}

std::optional<Measured> ValueFor(Measure m, const SeriesValues& s, const Specimen& sp,
                                 const std::string& method, const std::optional<double>& t) {
    const std::string c = s.C ? s.Capacitance + " " + CapacitanceText(*s.C) : "";
    switch (m) {
    case Measure::Df20:
        if (!s.Df20) {
            return std::nullopt;
        }
        return Measured{*s.Df20, s.Dissipation, "%", DfWords(s, method, t)};
    case Measure::CapacitanceVsNameplate:
        if (!s.CVsNameplate) {
            return std::nullopt;
        }
        return Measured{*s.CVsNameplate, s.Capacitance, "%",
                        c + " is " + SignedPercent(*s.CVsNameplate) + " from the nameplate " +
                            CapacitanceText(*sp.NameplateC)};
    case Measure::CapacitanceVsReference:
        if (!s.CVsReference) {
            return std::nullopt;
        }
        return Measured{*s.CVsReference, s.Capacitance, "%",
                        c + " is " + SignedPercent(*s.CVsReference) + " from " + s.CReference};
    case Measure::CapacitanceVsPrevious:
        if (!s.CVsPrevious) {
            return std::nullopt;
        }
        return Measured{*s.CVsPrevious, s.Capacitance, "%",
                        c + " is " + SignedPercent(*s.CVsPrevious) + " from the result before (" +
                            Day(s.PreviousMeasured) + ", " + CapacitanceText(*s.PreviousC) + ")"};
    case Measure::DfRatioVsReference:
        if (!s.DfRatioVsReference) {
            return std::nullopt;
        }
        return Measured{*s.DfRatioVsReference, s.Dissipation, "×",
                        DfWords(s, method, t) + " is " + Times(*s.DfRatioVsReference) + " " +
                            s.DfReference};
    case Measure::DfRatioVsPrevious:
        if (!s.DfRatioVsPrevious) {
            return std::nullopt;
        }
        return Measured{*s.DfRatioVsPrevious, s.Dissipation, "×",
                        DfWords(s, method, t) + " is " + Times(*s.DfRatioVsPrevious) +
                            " that of the result before (" + Day(s.PreviousMeasured) + ", " +
                            Percent(*s.PreviousDf20) + ")"};
    case Measure::DfRiseVsReference:
        if (!s.DfRiseVsReference) {
            return std::nullopt;
        }
        return Measured{*s.DfRiseVsReference, s.Dissipation, "percentage points",
                        DfWords(s, method, t) + " is " + Signed(*s.DfRiseVsReference, "") +
                            " percentage points from " + s.DfReference};
    case Measure::DfRiseVsPrevious:
        if (!s.DfRiseVsPrevious) {
            return std::nullopt;
        }
        return Measured{*s.DfRiseVsPrevious, s.Dissipation, "percentage points",
                        DfWords(s, method, t) + " is " + Signed(*s.DfRiseVsPrevious, "") +
                            " percentage points from the result before (" +
                            Day(s.PreviousMeasured) + ", " + Percent(*s.PreviousDf20) + ")"};
    }
    return std::nullopt;
}

bool VoltageFits(const Rule& r, const Specimen& sp) {
    if (!r.VoltageFrom) {
        return true;
    }
    return sp.VoltageClass && *sp.VoltageClass >= *r.VoltageFrom &&
           *sp.VoltageClass <= *r.VoltageTo;
}

// Why a rule that is for the specimen's class can never apply to it, or nothing.
std::optional<std::string> MissingFact(const Rule& r, const Specimen& sp) {
    if (r.VoltageFrom && !sp.VoltageClass) {
        return "it needs the specimen's voltage class";
    }
    if (r.What == Measure::CapacitanceVsNameplate && !sp.NameplateC) {
        return "it needs the nameplate capacitance";
    }
    return std::nullopt;
}

void Warn(ResultAssessment& a, const std::string& code, const std::string& text) {
    for (const Warning& w : a.Warnings) {
        if (w.Code == code && w.Text == text) {
            return;
        }
    }
    a.Warnings.push_back({code, text});
}

} // namespace

const char* LevelName(Level l) {
    switch (l) {
    case Level::Ok:
        return "ok";
    case Level::Investigate:
        return "investigate";
    case Level::Critical:
        return "critical";
    }
    return "ok";
}

const char* LevelColour(Level l) {
    switch (l) {
    case Level::Ok:
        return "#2E7D32";
    case Level::Investigate:
        return "#F9A825";
    case Level::Critical:
        return "#C62828";
    }
    return "#2E7D32";
}

const SeriesValues* ResultAssessment::Main() const {
    for (const SeriesValues& s : Series) {
        if (s.Primary) {
            return &s;
        }
    }
    return nullptr;
}

std::string CapacitanceText(double farads) {
    const double a = std::fabs(farads);
    const char* unit = "pF";
    double scale = 1e-12;
    if (a >= 1e-6) {
        unit = "µF";
        scale = 1e-6;
    } else if (a >= 1e-9) {
        unit = "nF";
        scale = 1e-9;
    }
    return JsonNumber(farads / scale, 5) + " " + unit;
}

std::string SignedPercent(double value) {
    return Signed(value, " %");
}

std::optional<double> TestVoltageOf(const Result& r) {
    if (r.Config.TestVoltage && *r.Config.TestVoltage > 0) {
        return *r.Config.TestVoltage;
    }
    for (const char* name : {"U", "U1", "Ua"}) {
        if (const Quantity* q = Find(r, name); q != nullptr && q->Value) {
            return *q->Value;
        }
    }
    return std::nullopt;
}

std::optional<double> TestFrequencyOf(const Result& r) {
    if (const Quantity* q = Find(r, "F1"); q != nullptr && q->Value && *q->Value > 0) {
        return *q->Value;
    }
    return std::nullopt;
}

std::vector<Warning> ComparedConditions(const Result& now, const Result& then,
                                        const std::string& what, const Defaults& d) {
    std::vector<Warning> out;
    if (now.Config.WiringMode && then.Config.WiringMode &&
        *now.Config.WiringMode != *then.Config.WiringMode) {
        out.push_back({"conditions-differ",
                       "wiring mode " + archive::WiringModeText(now.Config.WiringMode) + ", " +
                           what + " " + archive::WiringModeText(then.Config.WiringMode)});
    }
    const auto u1 = TestVoltageOf(now);
    const auto u2 = TestVoltageOf(then);
    if (u1 && u2 && std::fabs(*u1 - *u2) > d.VoltageTolerance / 100 * std::max(*u1, *u2)) {
        out.push_back({"conditions-differ", "test voltage " + JsonNumber(*u1 / 1000, 4) + " kV, " +
                                                what + " " + JsonNumber(*u2 / 1000, 4) + " kV"});
    }
    const auto f1 = TestFrequencyOf(now);
    const auto f2 = TestFrequencyOf(then);
    if (f1 && f2 && std::fabs(*f1 - *f2) > d.FrequencyTolerance) {
        out.push_back({"conditions-differ", "test frequency " + JsonNumber(*f1, 4) + " Hz, " +
                                                what + " " + JsonNumber(*f2, 4) + " Hz"});
    }
    return out;
}

SpecimenAssessment AssessHistory(const Specimen& sp, const std::vector<Result>& oldestFirst,
                                 const Library& lib, const std::vector<const Profile*>& profiles) {
    SpecimenAssessment out;
    out.Specimen = sp;
    out.Method = lib.MethodFor(sp);
    const Method* method = lib.MethodNamed(out.Method);
    for (const Profile* p : profiles) {
        out.Profiles.push_back(p->Name);
        for (const Rule& r : p->Rules) {
            if (r.AppliesTo(sp.Class)) {
                if (const auto missing = MissingFact(r, sp)) {
                    out.Notes.push_back(p->Name + "/" + r.Name + " (" + r.Title +
                                        ") is not applied: " + *missing);
                }
            }
        }
    }
    const Defaults& d = lib.Settings;
    std::map<std::string, SeriesHistory> histories;
    for (const Result& r : oldestFirst) {
        ResultAssessment a;
        a.Id = r.Id;
        a.Measured = r.Measured;
        a.Specimen = r.Taken.Specimen;
        a.Method = out.Method;
        a.Temperature = r.Taken.Temperature;
        a.Humidity = r.Taken.Humidity;
        if (method == nullptr) {
            Warn(a, "unknown-method",
                 "the correction method " + out.Method +
                     " is not known (no file holds it): the dissipation factor is not corrected");
        }
        if (a.Temperature && (*a.Temperature < d.ReliableFrom || *a.Temperature > d.ReliableTo)) {
            Warn(a, "temperature-range",
                 "tested at " + JsonNumber(*a.Temperature) + " °C, outside " +
                     JsonNumber(d.ReliableFrom) + " to " + JsonNumber(d.ReliableTo) +
                     " °C: a temperature correction is not to be trusted there");
        }
        if (a.Humidity && *a.Humidity > d.HumidityAbove) {
            Warn(a, "humidity",
                 "relative humidity " + JsonNumber(*a.Humidity) + " % is above " +
                     JsonNumber(d.HumidityAbove) +
                     " %: surface leakage may change the dissipation factor");
        }
        bool first = true;
        for (const Quantity& q : r.Quantities) {
            if (q.Unit != "F") {
                continue;
            }
            SeriesValues s;
            s.Capacitance = q.Name;
            s.Dissipation = DissipationNameOf(q.Name);
            s.Primary = first;
            first = false;
            s.C = q.Value;
            s.COver = q.Over;
            if (s.C && *s.C <= 0) {
                s.C.reset(); // a capacitance of nothing compares with nothing
            }
            const Quantity* df = Find(r, s.Dissipation);
            if (df != nullptr) {
                s.RawDf = df->Value;
                s.DfOver = df->Over;
            }
            if (s.COver) {
                Warn(a, "over", s.Capacitance + " is over the range: it is not compared");
            }
            if (s.DfOver) {
                Warn(a, "over", s.Dissipation + " is over the range: it is not judged");
            }
            if (s.RawDf && *s.RawDf < 0) {
                Warn(a, "negative-df",
                     s.Dissipation + " " + Percent(*s.RawDf) +
                         " is negative: kept with its sign; look for surface leakage, the guard, "
                         "interference or the standard capacitor");
            }
            if (s.RawDf && method != nullptr) {
                const Corrected c = Correct(*method, a.Temperature, *s.RawDf);
                s.Factor = c.Factor;
                s.Df20 = c.Value;
                s.NotCorrected = c.Problem;
                if (!c.Problem.empty()) {
                    Warn(a, a.Temperature ? "not-corrected" : "no-temperature",
                         c.Problem + ": " + s.Dissipation + " is not judged at 20 °C");
                }
                if (c.Clamped) {
                    Warn(a, "table-end",
                         "the table of " + method->Name + " ends before " +
                             JsonNumber(*a.Temperature) + " °C: the factor of its end is used");
                }
            } else if (s.RawDf) {
                s.NotCorrected = "the method " + out.Method + " is not known";
            }

            SeriesHistory& h = histories[s.Capacitance];
            // The nameplate values, where given and wanted, for the first capacitance.
            const bool nameplate = s.Primary && sp.ComparedWith == archive::Reference::Nameplate;
            if (s.Primary && sp.NameplateC && s.C) {
                s.CVsNameplate = Change(*s.C, *sp.NameplateC);
            }
            if (nameplate && sp.NameplateC) {
                s.ReferenceC = sp.NameplateC;
                s.CReference = "the nameplate " + CapacitanceText(*sp.NameplateC);
            } else if (h.FirstC) {
                s.ReferenceC = h.FirstC->C;
                s.CReference = "the first result (" + Day(h.FirstC->Measured) + ", " +
                               CapacitanceText(*h.FirstC->C) + ")";
                for (Warning w : ComparedConditions(r, *h.FirstC->From, "the first result", d)) {
                    Warn(a, w.Code, s.Capacitance + ": " + w.Text);
                }
            } else if (s.C) {
                s.ReferenceC = s.C;
                s.CReference = "itself (the first result is the reference)";
            }
            if (nameplate && sp.NameplateDf) {
                s.ReferenceDf20 = sp.NameplateDf;
                s.DfReference = "the nameplate " + Percent(*sp.NameplateDf);
            } else if (h.FirstDf) {
                s.ReferenceDf20 = h.FirstDf->Df20;
                s.DfReference = "the first result (" + Day(h.FirstDf->Measured) + ", " +
                                Percent(*h.FirstDf->Df20) + ")";
                if (!h.FirstC || h.FirstC->Id != h.FirstDf->Id) {
                    for (Warning w :
                         ComparedConditions(r, *h.FirstDf->From, "the first result", d)) {
                        Warn(a, w.Code, s.Dissipation + ": " + w.Text);
                    }
                }
            } else if (s.Df20) {
                s.ReferenceDf20 = s.Df20;
                s.DfReference = "itself (the first result is the reference)";
            }
            if (s.C && s.ReferenceC) {
                s.CVsReference = Change(*s.C, *s.ReferenceC);
            }
            if (s.Df20 && s.ReferenceDf20) {
                s.DfRiseVsReference = *s.Df20 - *s.ReferenceDf20;
                // A ratio of a negative or zero reading means nothing.
                if (*s.Df20 >= 0 && *s.ReferenceDf20 > 0) {
                    s.DfRatioVsReference = *s.Df20 / *s.ReferenceDf20;
                }
            }
            if (h.Previous) {
                const Seen& p = *h.Previous;
                s.PreviousId = p.Id;
                s.PreviousMeasured = p.Measured;
                s.PreviousC = p.C;
                s.PreviousDf20 = p.Df20;
                for (Warning w : ComparedConditions(r, *p.From, "the result before", d)) {
                    Warn(a, w.Code, s.Capacitance + ": " + w.Text);
                }
                if (s.C && p.C) {
                    s.CVsPrevious = Change(*s.C, *p.C);
                }
                if (s.Df20 && p.Df20) {
                    s.DfRiseVsPrevious = *s.Df20 - *p.Df20;
                    if (*s.Df20 >= 0 && *p.Df20 > 0) {
                        s.DfRatioVsPrevious = *s.Df20 / *p.Df20;
                    }
                }
            }
            const Seen now{r.Id, r.Measured, s.C, s.Df20, &r};
            if (!h.FirstC && s.C) {
                h.FirstC = now;
            }
            if (!h.FirstDf && s.Df20) {
                h.FirstDf = now;
            }
            if (s.C || s.Df20) {
                h.Previous = now;
            }
            a.Series.push_back(std::move(s));
        }

        for (const Profile* p : profiles) {
            for (const Rule& rule : p->Rules) {
                if (!rule.AppliesTo(sp.Class) || !VoltageFits(rule, sp)) {
                    continue;
                }
                for (const SeriesValues& s : a.Series) {
                    const auto m = ValueFor(rule.What, s, sp, out.Method, a.Temperature);
                    if (!m) {
                        continue;
                    }
                    const double value = Rounded(rule.Magnitude ? std::fabs(m->Value) : m->Value);
                    const Judged j = Judge(rule, value);
                    Verdict v;
                    v.Profile = p->Name;
                    v.Rule = rule.Name;
                    v.Group = rule.Group;
                    v.Grade = j.Grade;
                    v.Quantity = m->Quantity;
                    v.Value = value;
                    v.Unit = m->Unit;
                    v.Stage = rule.Stage;
                    v.Source = rule.Source;
                    v.Edition = rule.Edition;
                    const std::string shown =
                        rule.Magnitude ? "|" + JsonNumber(m->Value, 4) + "|" : "";
                    v.Text = rule.Title + (rule.Stage.empty() ? "" : " (" + rule.Stage + ")") +
                             ": " + m->Words + "; " +
                             (j.Grade == Level::Ok
                                  ? std::string("ok (") + j.Why + ")"
                                  : std::string(LevelName(j.Grade)) + " (" +
                                        (shown.empty() ? "" : shown + " ") + j.Why + ")") +
                             " [" + rule.Source +
                             (rule.Edition.empty() ? "" : ", " + rule.Edition) + "]";
                    if (!a.Overall || static_cast<int>(j.Grade) > static_cast<int>(*a.Overall)) {
                        a.Overall = j.Grade;
                    }
                    a.Verdicts.push_back(std::move(v));
                }
            }
        }
        out.Results.push_back(std::move(a));
    }
    return out;
}

std::vector<TemperaturePoint> AgainstTemperature(const SpecimenAssessment& a,
                                                 const std::string& capacitance) {
    std::vector<TemperaturePoint> points;
    for (const ResultAssessment& r : a.Results) {
        if (!r.Temperature) {
            continue;
        }
        for (const SeriesValues& s : r.Series) {
            if (s.Capacitance == capacitance) {
                points.push_back(
                    {r.Id, r.Measured, *r.Temperature, s.C, s.RawDf, s.Df20, r.Overall});
            }
        }
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const TemperaturePoint& x, const TemperaturePoint& y) {
                         return x.Temperature < y.Temperature;
                     });
    return points;
}

} // namespace dielmon::assess
