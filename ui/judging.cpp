#include "judging.h"
#include "qtgbk.h"

#include "assess/library.h"
#include "core/json.h"

#include <QStringList>
#include <cmath>

namespace dielmon {

namespace {

QString Percent(const std::optional<double>& v) {
    return v ? Utf8(JsonNumber(*v, 4)) + QStringLiteral(" %") : QStringLiteral("—");
}

} // namespace

void ResultJudge::Load(const std::string& shipped, const std::string& lab) {
    Forget();
    Lib_ = assess::LoadLibrary(shipped, lab);
    Profiles_.clear();
    Chosen_.clear();
    std::string problem;
    if (!assess::PickProfiles(Lib_, "", Profiles_, problem)) {
        // The default names a profile that is not there: judge by none rather than fail.
        Lib_.Problems.push_back(problem);
    }
}

bool ResultJudge::Choose(const std::string& named) {
    std::string problem;
    if (!assess::PickProfiles(Lib_, named, Profiles_, problem)) {
        Error_ = problem;
        return false;
    }
    Chosen_ = named;
    Forget();
    return true;
}

assess::ArchiveAssessor& ResultJudge::On(archive::Archive& a) {
    if (Archive_ != &a || !Assessor_) {
        Archive_ = &a;
        Assessor_ = std::make_unique<assess::ArchiveAssessor>(a, Lib_, Profiles_);
    }
    return *Assessor_;
}

const assess::ResultAssessment* ResultJudge::Of(archive::Archive& a, const archive::Result& r) {
    assess::ArchiveAssessor& assessor = On(a);
    const assess::ResultAssessment* got = assessor.Of(r);
    if (got == nullptr) {
        Error_ = assessor.Error();
    }
    return got;
}

const assess::ResultAssessment* ResultJudge::Of(archive::Archive& a, const archive::Row& row) {
    if (row.Specimen.empty()) {
        const auto whole = a.Get(row.Id);
        if (!whole.Ok() || !whole.Value) {
            Error_ = whole.Error;
            return nullptr;
        }
        return Of(a, *whole.Value);
    }
    // The assessor finds a result of a specimen by its id in the history it reads once.
    archive::Result r;
    r.Id = row.Id;
    r.Taken.Specimen = row.Specimen;
    return Of(a, r);
}

archive::Outcome<assess::SpecimenAssessment>
ResultJudge::Specimen(archive::Archive& a, const std::string& name,
                      std::vector<archive::Result>* results) {
    return On(a).Specimen(name, results);
}

void ResultJudge::Forget() {
    Assessor_.reset();
    Archive_ = nullptr;
}

QString LevelWord(assess::Level l) {
    switch (l) {
    case assess::Level::Ok:
        return QStringLiteral("合格");
    case assess::Level::Investigate:
        return QStringLiteral("注意");
    case assess::Level::Critical:
        return QStringLiteral("异常");
    }
    return {};
}

QString LevelWord(const std::optional<assess::Level>& l) {
    return l ? LevelWord(*l) : QString();
}

QString LevelColourName(assess::Level l) {
    return QString::fromLatin1(assess::LevelColour(l));
}

QString VerdictLines(const assess::ResultAssessment& a) {
    QStringList lines;
    for (const assess::Verdict& v : a.Verdicts) {
        lines << QStringLiteral("%1　%2/%3：%4")
                     .arg(LevelWord(v.Grade), Utf8(v.Profile), Utf8(v.Rule), Utf8(v.Text));
    }
    for (const assess::Warning& w : a.Warnings) {
        lines << QStringLiteral("提醒　%1").arg(Utf8(w.Text));
    }
    if (lines.isEmpty()) {
        lines << QStringLiteral("没有适用的判断规则");
    }
    return lines.join(QLatin1Char('\n'));
}

QString ShortVerdict(const assess::ResultAssessment& a) {
    if (!a.Overall) {
        return {};
    }
    // The verdict that decided the level: the first of the worst.
    const assess::Verdict* worst = nullptr;
    for (const assess::Verdict& v : a.Verdicts) {
        if (v.Grade == *a.Overall) {
            worst = &v;
            break;
        }
    }
    QString text = QStringLiteral("判断：") + LevelWord(*a.Overall);
    if (worst != nullptr && *a.Overall != assess::Level::Ok) {
        text += QStringLiteral("（%1/%2 %3 = %4%5）")
                    .arg(Utf8(worst->Profile), Utf8(worst->Rule), Utf8(worst->Quantity),
                         Utf8(JsonNumber(worst->Value, 4)),
                         worst->Unit == "%" ? QStringLiteral(" %") : Utf8(worst->Unit));
    } else if (worst != nullptr) {
        text += QStringLiteral("（%1）").arg(Utf8(worst->Profile));
    }
    if (!a.Warnings.empty()) {
        text += QStringLiteral("　提醒%1条").arg(a.Warnings.size());
    }
    return text;
}

QString AssessmentHtml(const assess::ResultAssessment& a, const assess::Library& lib) {
    QString html;
    const assess::Method* m = lib.MethodNamed(a.Method);
    html += QStringLiteral("<p><b>判断：%1</b>　温度校正：%2%3</p>")
                .arg(a.Overall ? LevelWord(*a.Overall) : QStringLiteral("没有适用的规则"),
                     Html(a.Method),
                     m != nullptr && !m->Source.empty()
                         ? QStringLiteral("（") + Html(m->Source) + QStringLiteral("）")
                         : QString());
    html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\" border=\"1\">"
                           "<tr><th>测量项</th><th>电容量</th><th>介质损耗（实测）</th>"
                           "<th>校正系数</th><th>20 °C 介质损耗</th><th>参照</th></tr>");
    for (const assess::SeriesValues& s : a.Series) {
        const QString c = s.COver ? QStringLiteral("超量程")
                          : s.C   ? Html(assess::CapacitanceText(*s.C))
                                  : QStringLiteral("—");
        const QString raw = s.DfOver ? QStringLiteral("超量程") : Percent(s.RawDf);
        QString corrected = Percent(s.Df20);
        if (!s.Df20 && !s.NotCorrected.empty()) {
            corrected = QStringLiteral("未校正：") + Html(s.NotCorrected);
        }
        QString reference = Html(s.CReference);
        if (!s.DfReference.empty() && s.DfReference != s.CReference) {
            reference += QStringLiteral("；") + Html(s.DfReference);
        }
        html += QStringLiteral("<tr><td>%1/%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td>"
                               "<td>%7</td></tr>")
                    .arg(Html(s.Capacitance), Html(s.Dissipation), c, raw,
                         s.Factor ? Utf8(JsonNumber(*s.Factor, 4)) : QStringLiteral("—"), corrected,
                         reference);
    }
    html += QStringLiteral("</table>");
    if (!a.Verdicts.empty()) {
        html += QStringLiteral("<p>");
        for (const assess::Verdict& v : a.Verdicts) {
            const QString colour = LevelColourName(v.Grade);
            html +=
                QStringLiteral("<span style=\"color:%1\"><b>%2</b></span>　%3/%4：%5<br>")
                    .arg(colour, LevelWord(v.Grade), Html(v.Profile), Html(v.Rule), Html(v.Text));
        }
        html += QStringLiteral("</p>");
    }
    if (!a.Warnings.empty()) {
        html += QStringLiteral("<p>");
        for (const assess::Warning& w : a.Warnings) {
            html += QStringLiteral("提醒：") + Html(w.Text) + QStringLiteral("<br>");
        }
        html += QStringLiteral("</p>");
    }
    return html;
}

QString ClassWord(archive::SpecimenClass c) {
    using archive::SpecimenClass;
    switch (c) {
    case SpecimenClass::Winding:
        return QStringLiteral("变压器绕组");
    case SpecimenClass::BushingOip:
        return QStringLiteral("油纸电容式套管");
    case SpecimenClass::BushingRip:
        return QStringLiteral("胶浸纸电容式套管");
    case SpecimenClass::BushingRbp:
        return QStringLiteral("胶粘纸电容式套管");
    case SpecimenClass::Bushing:
        return QStringLiteral("其他套管");
    case SpecimenClass::Cvt:
        return QStringLiteral("电容式电压互感器");
    case SpecimenClass::CouplingCapacitor:
        return QStringLiteral("耦合电容器");
    case SpecimenClass::Cable:
        return QStringLiteral("电缆");
    case SpecimenClass::Other:
        return QStringLiteral("其他");
    }
    return {};
}

QString ReferenceWord(archive::Reference r) {
    return r == archive::Reference::First ? QStringLiteral("第一次试验结果")
                                          : QStringLiteral("铭牌值（没有铭牌值时用第一次结果）");
}

TypedNumber ReadTypedNumber(const QString& text, bool positive) {
    TypedNumber n;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return n;
    }
    n.Value = assess::DecimalNumber(trimmed.toStdString());
    n.Ok = n.Value && std::isfinite(*n.Value) && (positive ? *n.Value > 0 : *n.Value >= 0);
    if (!n.Ok) {
        n.Value.reset();
    }
    return n;
}

} // namespace dielmon
