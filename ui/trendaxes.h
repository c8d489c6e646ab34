// The value axes every trend chart of the program shares: the archive's trend by date and by
// test temperature, and the chart of a specimen's report.
#pragma once

#include <QString>

class QAbstractAxis;
class QChart;
class QValueAxis;
class QXYSeries;

namespace dielmon {

struct TrendAxes {
    QValueAxis* Capacitance = nullptr; // left
    QValueAxis* Dissipation = nullptr; // right
};

// Adds `x` below and the two value axes beside the chart, and attaches the capacitance and the
// dissipation series to theirs and to `x`. The capacitance stands around its values, never
// narrower than ±1 % of them, so that the drift of a measurement does not look like a step;
// the dissipation factor from zero, so that its doubling looks like one (and below zero for a
// negative reading, which keeps its sign).
TrendAxes AttachTrendAxes(QChart* chart, QAbstractAxis* x, QXYSeries* cap, double cLow,
                          double cHigh, const QString& cTitle, QXYSeries* df, double dLow,
                          double dHigh, const QString& dTitle);

} // namespace dielmon
