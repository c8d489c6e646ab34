#include "assess/report.h"

#include "core/json.h"

#include <algorithm>
#include <set>

namespace dielmon::assess {

using archive::Result;

namespace {

std::string Text(const std::string& s) {
    return JsonString(s);
}

std::string Number(const std::optional<double>& v) {
    return JsonNumber(v);
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) {
        out += (out.empty() ? "" : "\n") + l;
    }
    return out;
}

} // namespace

std::string JsonMembers(const ResultAssessment* a) {
    const SeriesValues* main = a != nullptr ? a->Main() : nullptr;
    // The first series with a dissipation factor is the one the correction shows.
    if (a != nullptr && (main == nullptr || !main->RawDf)) {
        for (const SeriesValues& s : a->Series) {
            if (s.RawDf) {
                main = &s;
                break;
            }
        }
    }
    std::string out = "\"correction\":{\"method\":";
    out += a != nullptr ? Text(a->Method) : "null";
    out += ",\"factor\":" + Number(main != nullptr ? main->Factor : std::nullopt);
    out += ",\"df20\":" + Number(main != nullptr ? main->Df20 : std::nullopt);
    out += ",\"quantity\":" + (main != nullptr ? Text(main->Dissipation) : "null");
    out += ",\"raw\":" + Number(main != nullptr ? main->RawDf : std::nullopt);
    out += ",\"temperature\":" + Number(a != nullptr ? a->Temperature : std::nullopt);
    out += ",\"values\":{";
    bool firstValue = true;
    if (a != nullptr) {
        for (const SeriesValues& s : a->Series) {
            if (s.RawDf) {
                out += (firstValue ? "" : ",") + Text(s.Dissipation) + ":" + Number(s.Df20);
                firstValue = false;
            }
        }
    }
    out += "}}";
    out += ",\"verdicts\":[";
    if (a != nullptr) {
        for (std::size_t k = 0; k < a->Verdicts.size(); ++k) {
            const Verdict& v = a->Verdicts[k];
            out += (k > 0 ? "," : "") + std::string("{\"profile\":") + Text(v.Profile) +
                   ",\"rule\":" + Text(v.Rule) + ",\"group\":" + Text(v.Group) +
                   ",\"level\":" + Text(LevelName(v.Grade)) + ",\"quantity\":" + Text(v.Quantity) +
                   ",\"value\":" + JsonNumber(v.Value) + ",\"unit\":" + Text(v.Unit) +
                   ",\"source\":" + Text(v.Source) + ",\"edition\":" + Text(v.Edition) +
                   ",\"text\":" + Text(v.Text) + "}";
        }
    }
    out += "],\"level\":";
    out += a != nullptr && a->Overall ? Text(LevelName(*a->Overall)) : "null";
    out += ",\"warnings\":[";
    if (a != nullptr) {
        for (std::size_t k = 0; k < a->Warnings.size(); ++k) {
            out += (k > 0 ? "," : "") + std::string("{\"code\":") + Text(a->Warnings[k].Code) +
                   ",\"text\":" + Text(a->Warnings[k].Text) + "}";
        }
    }
    out += "],\"trend\":[";
    if (a != nullptr) {
        for (std::size_t k = 0; k < a->Series.size(); ++k) {
            const SeriesValues& s = a->Series[k];
            out += (k > 0 ? "," : "") + std::string("{\"capacitance\":") + Text(s.Capacitance) +
                   ",\"dissipation\":" + Text(s.Dissipation) +
                   ",\"c_vs_reference\":" + JsonNumber(s.CVsReference, 6) +
                   ",\"c_vs_previous\":" + JsonNumber(s.CVsPrevious, 6) +
                   ",\"df_ratio_vs_reference\":" + JsonNumber(s.DfRatioVsReference, 6) +
                   ",\"df_ratio_vs_previous\":" + JsonNumber(s.DfRatioVsPrevious, 6) +
                   ",\"df_rise_vs_reference\":" + JsonNumber(s.DfRiseVsReference, 6) +
                   ",\"df_rise_vs_previous\":" + JsonNumber(s.DfRiseVsPrevious, 6) +
                   ",\"c_reference\":" + Text(s.CReference) +
                   ",\"df_reference\":" + Text(s.DfReference) + "}";
        }
    }
    return out + "]";
}

archive::CsvColumns
CsvColumnsOf(std::function<const ResultAssessment*(const archive::Result&)> assessmentOf) {
    archive::CsvColumns c;
    c.Headers = {"corrected quantity", "DF raw (%)", "correction method", "correction factor",
                 "DF at 20 °C (%)",    "level",      "verdicts",          "warnings"};
    c.Cells = [assessmentOf](const Result& r) {
        std::vector<std::string> cells(8);
        const ResultAssessment* a = assessmentOf(r);
        if (a == nullptr) {
            return cells;
        }
        for (const SeriesValues& s : a->Series) {
            if (s.RawDf) {
                cells[0] = s.Dissipation;
                cells[1] = JsonNumber(s.RawDf);
                cells[3] = s.Factor ? JsonNumber(s.Factor) : std::string();
                cells[4] = s.Df20 ? JsonNumber(s.Df20) : std::string();
                break;
            }
        }
        cells[2] = a->Method;
        cells[5] = a->Overall ? LevelName(*a->Overall) : "";
        std::vector<std::string> verdicts;
        for (const Verdict& v : a->Verdicts) {
            verdicts.push_back(std::string(LevelName(v.Grade)) + ": " + v.Profile + "/" + v.Rule +
                               ": " + v.Text);
        }
        std::vector<std::string> warnings;
        for (const Warning& w : a->Warnings) {
            warnings.push_back(w.Text);
        }
        cells[6] = Lines(verdicts);
        cells[7] = Lines(warnings);
        return cells;
    };
    return c;
}

ArchiveAssessor::ArchiveAssessor(archive::Archive& a, const Library& lib,
                                 std::vector<const Profile*> profiles)
    : Archive_(a), Lib_(lib), Profiles_(std::move(profiles)) {}

archive::Outcome<SpecimenAssessment>
ArchiveAssessor::Specimen(const std::string& name, std::vector<archive::Result>* results) {
    archive::Outcome<SpecimenAssessment> out;
    const auto sp = Archive_.SpecimenNamed(name);
    if (!sp.Ok()) {
        out.Error = sp.Error;
        return out;
    }
    std::vector<Result> history;
    archive::Filter f;
    f.Specimen = name;
    f.ExactSpecimen = true;
    if (name.empty()) {
        // Results without a specimen are nobody's history: each stands alone.
        out.Value = AssessHistory(sp.Value, {}, Lib_, Profiles_);
        return out;
    }
    const std::string error = Archive_.ForEach(f, [&history](const Result& r) {
        history.push_back(r);
        return true;
    });
    if (!error.empty()) {
        out.Error = error;
        return out;
    }
    std::reverse(history.begin(), history.end());
    out.Value = AssessHistory(sp.Value, history, Lib_, Profiles_);
    if (results != nullptr) {
        *results = std::move(history);
    }
    return out;
}

const ResultAssessment* ArchiveAssessor::Of(const Result& r) {
    const std::string& name = r.Taken.Specimen;
    if (name.empty()) {
        const auto sp = Archive_.SpecimenNamed(name);
        SpecimenAssessment alone = AssessHistory(sp.Value, {r}, Lib_, Profiles_);
        Alone_ = std::make_unique<ResultAssessment>(std::move(alone.Results.front()));
        return Alone_.get();
    }
    auto at = Cache_.find(name);
    if (at == Cache_.end()) {
        const auto whole = Specimen(name);
        if (!whole.Ok()) {
            Error_ = whole.Error;
            return nullptr;
        }
        std::map<std::string, ResultAssessment> byId;
        for (const ResultAssessment& a : whole.Value.Results) {
            byId.emplace(a.Id, a);
        }
        at = Cache_.emplace(name, std::move(byId)).first;
    }
    const auto found = at->second.find(r.Id);
    return found != at->second.end() ? &found->second : nullptr;
}

SpecimenReport BuildSpecimenReport(const SpecimenAssessment& a,
                                   const std::vector<Result>& oldestFirst, const Library& lib) {
    SpecimenReport rep;
    rep.Specimen = a.Specimen;
    rep.ClassName = archive::ClassName(a.Specimen.Class);
    rep.Method = a.Method;
    const Method* m = lib.MethodNamed(a.Method);
    if (m != nullptr) {
        rep.MethodTitle = m->Title;
        rep.MethodSource = m->Source;
        rep.TemperatureOf = m->Temperature;
    }
    if (!a.Specimen.TemperatureOf.empty()) {
        rep.TemperatureOf = a.Specimen.TemperatureOf;
    }
    for (const std::string& p : a.Profiles) {
        const Profile* profile = lib.ProfileNamed(p);
        rep.Profiles.push_back(p + (profile != nullptr ? ": " + profile->Title : std::string()));
    }
    rep.Notes = a.Notes;
    std::set<std::string> sources;
    for (std::size_t k = 0; k < a.Results.size() && k < oldestFirst.size(); ++k) {
        const ResultAssessment& ra = a.Results[k];
        const Result& r = oldestFirst[k];
        for (const SeriesValues& s : ra.Series) {
            ReportRow row;
            row.Id = ra.Id;
            row.Measured = ra.Measured;
            row.Mode = archive::WiringModeText(r.Config.WiringMode);
            row.Source = archive::SourceName(r.From);
            row.Capacitance = s.Capacitance;
            row.C = s.C;
            row.Dissipation = s.Dissipation;
            row.RawDf = s.RawDf;
            row.Method = ra.Method;
            row.Factor = s.Factor;
            row.Df20 = s.Df20;
            row.Temperature = ra.Temperature;
            row.Humidity = ra.Humidity;
            row.TestVoltage = TestVoltageOf(r);
            row.TestFrequency = TestFrequencyOf(r);
            row.Overall = ra.Overall;
            for (const Verdict& v : ra.Verdicts) {
                if (v.Quantity == s.Capacitance || v.Quantity == s.Dissipation) {
                    row.Verdicts.push_back(std::string(LevelName(v.Grade)) + ": " + v.Text);
                    sources.insert(v.Source + (v.Edition.empty() ? "" : ", " + v.Edition));
                }
            }
            for (const Warning& w : ra.Warnings) {
                row.Warnings.push_back(w.Text);
            }
            rep.Rows.push_back(std::move(row));
            rep.ByDate[s.Capacitance].push_back({ra.Measured, s.C, s.Df20, s.CVsReference});
        }
        if (ra.Overall) {
            ++(*ra.Overall == Level::Ok            ? rep.Ok
               : *ra.Overall == Level::Investigate ? rep.Investigate
                                                   : rep.Critical);
        }
    }
    for (const auto& [capacitance, points] : rep.ByDate) {
        rep.ByTemperature[capacitance] = AgainstTemperature(a, capacitance);
    }
    rep.Sources.assign(sources.begin(), sources.end());
    if (!rep.MethodSource.empty()) {
        rep.Sources.insert(rep.Sources.begin(), rep.MethodSource);
    }
    return rep;
}

} // namespace dielmon::assess
