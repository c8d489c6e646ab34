// The printed report: one A4 page of positioned, centred, word-wrapped text, built by the
// report form TfrmReport, which exists only while a report is printed.
#pragma once

#include "core/results.h"

#include <QString>

class QPagedPaintDevice;

namespace dielmon {

// Draws the report of the three texts on the device (a printer or a PDF writer), whose page
// layout it sets to A4 portrait with a left margin of 1 mm. Text that does not fit on the
// page continues on the next one. False when the device cannot be painted on.
bool PaintReport(QPagedPaintDevice& device, const ResultTexts& texts);

enum class PrintOutcome { Printed, NoPrinter, Failed };

// PrintReport: one copy on the default printer at once, without preview or dialog.
PrintOutcome PrintReport(const std::string& title, const std::string& body,
                         const std::string& details);

// The same report as a PDF file.
bool SaveReportPdf(const QString& path, const ResultTexts& texts);

} // namespace dielmon
