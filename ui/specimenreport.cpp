#include "specimenreport.h"
#include "qtgbk.h"

#include "core/json.h"
#include "judging.h"
#include "report.h"
#include "trendaxes.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QValueAxis>
#include <QVariant>
#include <algorithm>
#include <cmath>

namespace dielmon {

namespace {

QString Number(const std::optional<double>& v, int digits = 4) {
    return v ? Utf8(JsonNumber(*v, digits)) : QString();
}

QString Spaced(const std::string& iso) {
    QString t = Utf8(iso);
    if (t.size() > 10 && t[10] == QLatin1Char('T')) {
        t[10] = QLatin1Char(' ');
    }
    return t.isEmpty() ? QStringLiteral("（无日期）") : t;
}

QString SourceWord(const std::string& source) {
    if (source == "instrument") {
        return QStringLiteral("仪器记录");
    }
    if (source == "file") {
        return QStringLiteral("文件");
    }
    return QStringLiteral("测试");
}

// The Chinese caption of a field the report leaves for the operator.
QString FieldWord(const std::string& field) {
    if (field == "Tested by") {
        return QStringLiteral("试验人员");
    }
    if (field == "Checked by") {
        return QStringLiteral("审核");
    }
    if (field == "Signature") {
        return QStringLiteral("签字");
    }
    if (field == "Date") {
        return QStringLiteral("日期");
    }
    return Html(field);
}

constexpr int kPdfResolution = 300;

} // namespace

QString SpecimenReportHtml(const assess::SpecimenReport& r) {
    const archive::Specimen& sp = r.Specimen;
    QString h;
    h += QStringLiteral("<h2 align=\"center\">试品介质损耗试验报告</h2>");
    h += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"3\" border=\"1\" width=\"100%\">");
    auto line = [&h](const QString& caption, const QString& value) {
        h += QStringLiteral("<tr><td width=\"22%\">%1</td><td>%2</td></tr>").arg(caption, value);
    };
    line(QStringLiteral("试品"), Html(sp.Name));
    line(QStringLiteral("类别"),
         ClassWord(sp.Class) + QStringLiteral("（") + Html(r.ClassName) + QStringLiteral("）"));
    line(QStringLiteral("电压等级"),
         sp.VoltageClass ? Number(sp.VoltageClass) + QStringLiteral(" kV") : QStringLiteral("—"));
    line(QStringLiteral("铭牌值"),
         QStringLiteral("C1 %1，介质损耗 %2")
             .arg(sp.NameplateC ? Html(assess::CapacitanceText(*sp.NameplateC))
                                : QStringLiteral("—"),
                  sp.NameplateDf ? Number(sp.NameplateDf) + QStringLiteral(" %")
                                 : QStringLiteral("—")));
    line(QStringLiteral("比较对象"), ReferenceWord(sp.ComparedWith));
    line(QStringLiteral("温度校正"),
         Html(r.Method) +
             (r.MethodTitle.empty() ? QString() : QStringLiteral("：") + Html(r.MethodTitle)) +
             (r.TemperatureOf.empty()
                  ? QString()
                  : QStringLiteral("（温度取：") + Html(r.TemperatureOf) + QStringLiteral("）")));
    QStringList profiles;
    for (const std::string& p : r.Profiles) {
        profiles << Html(p);
    }
    line(QStringLiteral("判断依据"), profiles.join(QStringLiteral("<br>")));
    line(QStringLiteral("结论"), QStringLiteral("合格 %1 个，注意 %2 个，异常 %3 个")
                                     .arg(r.Ok)
                                     .arg(r.Investigate)
                                     .arg(r.Critical));
    h += QStringLiteral("</table>");

    h += QStringLiteral("<h3>试验结果</h3>");
    h += QStringLiteral(
        "<table cellspacing=\"0\" cellpadding=\"2\" border=\"1\" width=\"100%\" "
        "style=\"font-size:8pt\"><tr><th>测量时间</th><th>接线方式</th><th>来源</th>"
        "<th>测量项</th><th>电容量</th><th>介质损耗实测（%）</th><th>校正系数</th>"
        "<th>20 °C介质损耗（%）</th><th>温度（°C）</th><th>湿度（%）</th><th>试验电压（kV）</th>"
        "<th>判断</th></tr>");
    for (const assess::ReportRow& row : r.Rows) {
        const QString level = row.Overall
                                  ? QStringLiteral("<span style=\"color:%1\"><b>%2</b></span>")
                                        .arg(LevelColourName(*row.Overall), LevelWord(*row.Overall))
                                  : QString();
        h += QStringLiteral("<tr><td "
                            "style=\"white-space:nowrap\">%1</td><td>%2</td><td>%3</td><td>%4/%5</"
                            "td><td>%6</td>"
                            "<td align=\"right\">%7</td><td align=\"right\">%8</td>"
                            "<td align=\"right\">%9</td><td align=\"right\">%10</td>"
                            "<td align=\"right\">%11</td><td align=\"right\">%12</td>"
                            "<td>%13</td></tr>")
                 .arg(Spaced(row.Measured), Html(row.Mode), SourceWord(row.Source),
                      Html(row.Capacitance), Html(row.Dissipation),
                      row.C ? Html(assess::CapacitanceText(*row.C)) : QString(), Number(row.RawDf),
                      Number(row.Factor), Number(row.Df20))
                 .arg(Number(row.Temperature), Number(row.Humidity),
                      row.TestVoltage ? Number(*row.TestVoltage / 1000.0, 3) : QString(), level);
        if (!row.Verdicts.empty() || !row.Warnings.empty()) {
            QStringList notes;
            for (const std::string& v : row.Verdicts) {
                notes << Html(v);
            }
            for (const std::string& w : row.Warnings) {
                notes << QStringLiteral("提醒：") + Html(w);
            }
            h += QStringLiteral(
                     "<tr><td></td><td colspan=\"11\" style=\"font-size:7pt\">%1</td></tr>")
                     .arg(notes.join(QStringLiteral("<br>")));
        }
    }
    h += QStringLiteral("</table>");
    h += QStringLiteral(
        "<h3>趋势</h3><p align=\"center\"><img src=\"trend.png\" width=\"540\"></p>");
    if (!r.Notes.empty()) {
        h += QStringLiteral("<h3>未能使用的规则</h3><p>");
        for (const std::string& n : r.Notes) {
            h += Html(n) + QStringLiteral("<br>");
        }
        h += QStringLiteral("</p>");
    }
    h += QStringLiteral("<h3>依据</h3><p>");
    for (const std::string& s : r.Sources) {
        h += Html(s) + QStringLiteral("<br>");
    }
    h += QStringLiteral("</p><br><table cellspacing=\"0\" cellpadding=\"8\" width=\"100%\"><tr>");
    // The operator's fields in the order they are filled in: tested, checked, signed, dated.
    std::vector<std::string> fields = r.SignatureFields;
    const std::vector<std::string> order{"Tested by", "Checked by", "Signature", "Date"};
    std::stable_sort(fields.begin(), fields.end(), [&order](const auto& a, const auto& b) {
        return std::find(order.begin(), order.end(), a) < std::find(order.begin(), order.end(), b);
    });
    for (const std::string& f : fields) {
        h += QStringLiteral("<td>%1：＿＿＿＿＿＿</td>").arg(FieldWord(f));
    }
    h += QStringLiteral("</tr></table>");
    return h;
}

QImage SpecimenTrendImage(const assess::SpecimenReport& r, const QSize& size) {
    if (r.Rows.empty()) {
        return {};
    }
    const std::string first = r.Rows.front().Capacitance;
    const auto points = r.ByDate.find(first);
    if (points == r.ByDate.end()) {
        return {};
    }
    auto* cap = new QLineSeries;
    auto* df = new QLineSeries;
    double largest = 0;
    for (const assess::DatePoint& p : points->second) {
        largest = std::max(largest, p.C ? std::abs(*p.C) : 0.0);
    }
    const double scale = largest < 1e-9 ? 1e12 : largest < 1e-6 ? 1e9 : 1e6;
    const QString unit = largest < 1e-9   ? QStringLiteral("pF")
                         : largest < 1e-6 ? QStringLiteral("nF")
                                          : QStringLiteral("µF");
    qint64 tLow = 0, tHigh = 0;
    double cLow = 0, cHigh = 0, dLow = 0, dHigh = 0;
    int dated = 0;
    for (const assess::DatePoint& p : points->second) {
        const QDateTime when = QDateTime::fromString(Utf8(p.Measured), Qt::ISODate);
        if (!when.isValid()) {
            continue;
        }
        const qint64 ms = when.toMSecsSinceEpoch();
        tLow = dated == 0 ? ms : std::min(tLow, ms);
        tHigh = dated == 0 ? ms : std::max(tHigh, ms);
        if (p.C) {
            const double c = *p.C * scale;
            cLow = cap->count() == 0 ? c : std::min(cLow, c);
            cHigh = cap->count() == 0 ? c : std::max(cHigh, c);
            cap->append(static_cast<double>(ms), c);
        }
        if (p.Df20) {
            dLow = std::min(dLow, *p.Df20);
            dHigh = std::max(dHigh, *p.Df20);
            df->append(static_cast<double>(ms), *p.Df20);
        }
        ++dated;
    }
    if (dated < 2) {
        delete cap;
        delete df;
        return {};
    }
    cap->setName(QStringLiteral("电容量 %1（%2）").arg(Utf8(first), unit));
    cap->setPointsVisible(true);
    df->setName(QStringLiteral("20 °C介质损耗（%）"));
    df->setPointsVisible(true);
    QPen dashed = df->pen();
    dashed.setStyle(Qt::DashLine);
    df->setPen(dashed);
    auto* chart = new QChart;
    chart->addSeries(cap);
    chart->addSeries(df);
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("yyyy-MM-dd"));
    const qint64 pad = std::max<qint64>((tHigh - tLow) / 12, 3600000);
    x->setRange(QDateTime::fromMSecsSinceEpoch(tLow - pad),
                QDateTime::fromMSecsSinceEpoch(tHigh + pad));
    x->setTickCount(5);
    AttachTrendAxes(chart, x, cap, cLow, cHigh, QStringLiteral("电容量（%1）").arg(unit), df, dLow,
                    dHigh, QStringLiteral("20 °C介质损耗（%）"));
    QChartView view(chart);
    view.setRenderHint(QPainter::Antialiasing);
    view.resize(size);
    return view.grab().toImage();
}

bool PaintSpecimenReport(QPagedPaintDevice& device, const assess::SpecimenReport& r) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
    QTextDocument doc;
    doc.setDefaultFont(ReportFont(9));
    const QImage trend = SpecimenTrendImage(r, QSize(900, 420));
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("trend.png")),
                    QVariant(trend.isNull() ? QImage(1, 1, QImage::Format_RGB32) : trend));
    QString html = SpecimenReportHtml(r);
    if (trend.isNull()) {
        html.replace(QStringLiteral("<img src=\"trend.png\" width=\"540\">"),
                     QStringLiteral("（少于两个有日期的结果，没有趋势图）"));
    }
    doc.setHtml(html);
    doc.print(&device);
    return true;
}

bool SaveSpecimenReportPdf(const QString& path, const assess::SpecimenReport& r) {
    return SavePdf(path, QStringLiteral("试品介质损耗试验报告"), kPdfResolution,
                   [&](QPagedPaintDevice& device) { return PaintSpecimenReport(device, r); });
}

} // namespace dielmon
