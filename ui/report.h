// The printed report: one A4 page of positioned, centred, word-wrapped text, built by the
// report form TfrmReport, which exists only while a report is printed.
#pragma once

#include "core/resultfile.h"
#include "core/results.h"

#include <QFont>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QPagedPaintDevice;
class QPrinter;

namespace dielmon {

// The report form: the elements of the page with their texts, and the painting of them. It
// holds nothing of the printer's, so it can paint on a printer and on a PDF writer alike.
class TfrmReport {
public:
    // The main result loses one trailing CR LF here (through ReportLayout), and only here.
    explicit TfrmReport(const ResultTexts& texts);

    const std::vector<ReportElement>& Elements() const { return Elements_; }

    // Sets the device's page layout to A4 portrait with a left margin of 1 mm and paints the
    // elements; text that does not fit above the footer continues on further pages. False
    // when the device cannot be painted on.
    bool Paint(QPagedPaintDevice& device) const;

private:
    std::vector<ReportElement> Elements_;
};

// Draws the report of the three texts on the device (a printer or a PDF writer), whose page
// layout it sets to A4 portrait with a left margin of 1 mm. Text that does not fit on the
// page continues on the next one. False when the device cannot be painted on.
bool PaintReport(QPagedPaintDevice& device, const ResultTexts& texts);

enum class PrintOutcome {
    Printed,
    NoPrinter,        // the system lists no printer at all
    NoDefaultPrinter, // printers are installed, but none is the default: one must be chosen
    Failed,
};

// PrintReport: one copy on the default printer at once, without preview or dialog.
PrintOutcome PrintReport(const std::string& title, const std::string& body,
                         const std::string& details);

// The printing of PrintReport on a printer chosen by the caller (one copy, no dialog).
// Printed, or Failed when the printer cannot be painted on.
PrintOutcome PrintReportOn(QPrinter& printer, const std::string& title, const std::string& body,
                           const std::string& details);

// The same report as a PDF file at 1200 dpi. False when the file cannot be written; a file
// that was there before is then left as it was.
bool SaveReportPdf(const QString& path, const ResultTexts& texts);

// A PDF file painted by `paint` at `dpi` with the document's title. Written beside the target
// and renamed at the end: false when the file cannot be written or painted on, and a file that
// was there before is then left as it was.
bool SavePdf(const QString& path, const QString& title, int dpi,
             const std::function<bool(QPagedPaintDevice&)>& paint);

// The face of the report: 宋体 (or what stands in for it here) at the given point size.
QFont ReportFont(int pointSize);

// Geometry of the page in millimetres, for the painting and for those who check it.
inline constexpr double kReportPrintBottom = kReportPageHeight - kReportFooterHeight;

// Top of the text on pages after the first: the height at which the heading starts on the
// first, so that a continued page looks like the first one without its heading.
double ReportContinuationTop();

} // namespace dielmon
