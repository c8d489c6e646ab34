#include "trendaxes.h"

#include <QAbstractAxis>
#include <QChart>
#include <QValueAxis>
#include <QXYSeries>
#include <algorithm>
#include <cmath>

namespace dielmon {

TrendAxes AttachTrendAxes(QChart* chart, QAbstractAxis* x, QXYSeries* cap, double cLow,
                          double cHigh, const QString& cTitle, QXYSeries* df, double dLow,
                          double dHigh, const QString& dTitle) {
    TrendAxes axes;
    axes.Capacitance = new QValueAxis;
    axes.Capacitance->setTitleText(cTitle);
    axes.Capacitance->setLabelFormat(QStringLiteral("%.5g"));
    const double middle = (cLow + cHigh) / 2;
    const double half = std::max({(cHigh - cLow) / 2 * 1.2, std::abs(middle) * 0.01, 1e-6});
    axes.Capacitance->setRange(middle - half, middle + half);
    axes.Capacitance->applyNiceNumbers();
    axes.Dissipation = new QValueAxis;
    axes.Dissipation->setTitleText(dTitle);
    axes.Dissipation->setLabelFormat(QStringLiteral("%.3f"));
    const double top = std::max(dHigh, 0.0) * 1.25;
    axes.Dissipation->setRange(std::min(dLow * 1.25, 0.0), top > 0 ? top : 0.1);
    axes.Dissipation->applyNiceNumbers();
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(axes.Capacitance, Qt::AlignLeft);
    chart->addAxis(axes.Dissipation, Qt::AlignRight);
    cap->attachAxis(x);
    cap->attachAxis(axes.Capacitance);
    df->attachAxis(x);
    df->attachAxis(axes.Dissipation);
    return axes;
}

} // namespace dielmon
