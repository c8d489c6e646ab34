// The report of one specimen, on paper or as a PDF: its class and nameplate, how its results
// are corrected and judged, the table of its results with raw and corrected dissipation
// factor, conditions and verdicts, its trend chart, the sources named, and the fields the
// operator fills in and signs. The content comes from assess::BuildSpecimenReport; this is the
// layout only. The report of one result stays as report.h paints it.
#pragma once

#include "assess/report.h"

#include <QImage>
#include <QString>

class QPagedPaintDevice;
class QPrinter;

namespace dielmon {

// The report as rich text; the trend chart is the image resource "trend.png".
QString SpecimenReportHtml(const assess::SpecimenReport& r);
// The trend of the first capacitance by date (capacitance and corrected dissipation factor),
// drawn at the given size; a null image without two dated points.
QImage SpecimenTrendImage(const assess::SpecimenReport& r, const QSize& size);
// Paints the report on A4 pages of the device. False when it cannot be painted on.
bool PaintSpecimenReport(QPagedPaintDevice& device, const assess::SpecimenReport& r);
// The report as a PDF file, written beside and renamed, so that a failed save leaves what was
// there. False when the file cannot be written.
bool SaveSpecimenReportPdf(const QString& path, const assess::SpecimenReport& r);

} // namespace dielmon
