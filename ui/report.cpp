#include "report.h"

#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextLayout>
#include <QTextLine>
#include <QTextOption>
#include <algorithm>
#include <memory>

namespace dielmon {

namespace {

constexpr double kMillimetresPerInch = 25.4;
// Slack for comparing millimetres that went through pixel rounding.
constexpr double kEpsilonMm = 1e-6;
constexpr int kPdfResolution = 1200;

QPageLayout ReportPageLayout() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(kReportLeftMargin, 0, 0, 0), QPageLayout::Millimeter);
}

// Metrics of the device, not of the screen: the PDF writer counts 1200 dots an inch.
QFont DeviceFont(int pointSize, QPaintDevice* device) {
    return QFont(ReportFont(pointSize), device);
}

// The labels of the window break lines at CR LF (and at a bare LF); the page does the same.
QStringList Paragraphs(const std::string& gbk) {
    static const QRegularExpression kBreak(QStringLiteral("\r\n|\n"));
    return Q(gbk).split(kBreak);
}

// One printed line of an element, placed in the flow of the report.
struct Row {
    const QTextLayout* Layout = nullptr; // null for an empty paragraph
    int Line = 0;
    double Top = 0;    // mm from the top of the first page, as if the paper never ended
    double Height = 0; // mm
};

struct LaidOutElement {
    const ReportElement* Element = nullptr;
    double WidthPx = 0;
    std::vector<std::unique_ptr<QTextLayout>> Layouts;
    std::vector<Row> Rows;
};

// Wraps the element's paragraphs at its width. Rows get tops relative to the element's top.
void LayOut(LaidOutElement& out, QPaintDevice* device, double pxPerMmX, double pxPerMmY) {
    const ReportElement& e = *out.Element;
    const QFont font = DeviceFont(e.PointSize, device);
    const double emptyLineMm = QFontMetricsF(font, device).height() / pxPerMmY;
    out.WidthPx = e.Width * pxPerMmX;

    QTextOption option;
    // CJK text breaks between any two characters; Latin words only where they must.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Centring counts the spaces at the end of a paragraph (the result lines are padded to a
    // common length so that, centred, they stand as one aligned column) but not the space at
    // which a line wraps: that is what QTextLine's natural width measures without the option
    // IncludeTrailingSpaces.

    double top = 0;
    for (const QString& paragraph : Paragraphs(e.Text)) {
        if (paragraph.isEmpty()) {
            out.Rows.push_back({nullptr, 0, top, emptyLineMm});
            top += emptyLineMm;
            continue;
        }
        auto layout = std::make_unique<QTextLayout>(paragraph, font, device);
        layout->setTextOption(option);
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(out.WidthPx);
            const double heightMm = line.height() / pxPerMmY;
            out.Rows.push_back({layout.get(), line.lineNumber(), top, heightMm});
            top += heightMm;
        }
        layout->endLayout();
        out.Layouts.push_back(std::move(layout));
    }
}

// Where the continuous flow of the report meets the paper: page k (from 0) holds the flow
// from PageStart(k) on, its text running from the top of the text area down to the footer.
double TextAreaTop(int page) {
    return page == 0 ? 0.0 : ReportContinuationTop();
}
double PageStart(int page) {
    if (page == 0) {
        return 0.0;
    }
    return kReportPrintBottom + (page - 1) * (kReportPrintBottom - ReportContinuationTop());
}
double OnPage(int page, double flow) {
    return TextAreaTop(page) + (flow - PageStart(page));
}

struct PlacedRow {
    const LaidOutElement* Owner = nullptr;
    const Row* Line = nullptr;
    int Page = 0;
    double Top = 0; // mm from the top edge of that page
};

// Cuts the flow into pages line by line: a line that would reach into the footer moves to the
// next page with everything after it, so no line is ever split or dropped.
std::vector<PlacedRow> Paginate(const std::vector<LaidOutElement>& elements) {
    std::vector<PlacedRow> placed;
    double pushed = 0;
    int page = 0;
    for (const LaidOutElement& element : elements) {
        for (const Row& row : element.Rows) {
            double flow = row.Top + pushed;
            if (flow < PageStart(page)) {
                // Only elements that overlap one another by design (the two rules) get here.
                pushed += PageStart(page) - flow;
                flow = PageStart(page);
            }
            for (;;) {
                const double top = OnPage(page, flow);
                const bool fits = top + row.Height <= kReportPrintBottom + kEpsilonMm;
                // A line taller than a whole text area stays at the top of its page.
                const bool atTop = top <= TextAreaTop(page) + kEpsilonMm;
                if (fits || atTop) {
                    break;
                }
                const double next = PageStart(page + 1);
                if (flow < next) {
                    pushed += next - flow;
                    flow = next;
                }
                ++page;
            }
            placed.push_back({&element, &row, page, OnPage(page, flow)});
        }
    }
    return placed;
}

} // namespace

QFont ReportFont(int pointSize) {
    InstallFontSubstitutes();
    QFont font(QStringLiteral("宋体"));
    font.setPointSize(pointSize);
    return font;
}

double ReportContinuationTop() {
    static const double kTop = [] {
        double top = kReportPageHeight;
        for (const ReportElement& e : ReportLayout(ResultTexts{})) {
            top = std::min(top, e.Top);
        }
        return top;
    }();
    return kTop;
}

TfrmReport::TfrmReport(const ResultTexts& texts) : Elements_(ReportLayout(texts)) {}

bool TfrmReport::Paint(QPagedPaintDevice& device) const {
    if (!device.setPageLayout(ReportPageLayout())) {
        // A printer that cannot print this close to the edge keeps its own margins; the
        // elements are still placed from the edge of the paper below.
        device.setPageSize(QPageSize(QPageSize::A4));
        device.setPageOrientation(QPageLayout::Portrait);
    }

    QPainter painter;
    if (!painter.begin(&device)) {
        return false;
    }
    painter.setPen(Qt::black);
    const double pxPerMmX = device.logicalDpiX() / kMillimetresPerInch;
    const double pxPerMmY = device.logicalDpiY() / kMillimetresPerInch;
    // The painter starts at the corner of the printable area; the page is measured from the
    // edge of the paper.
    const QPointF origin = device.pageLayout().paintRect(QPageLayout::Millimeter).topLeft();

    std::vector<LaidOutElement> elements(Elements_.size());
    double growth = 0;
    for (std::size_t i = 0; i < Elements_.size(); ++i) {
        LaidOutElement& laid = elements[i];
        laid.Element = &Elements_[i];
        LayOut(laid, &device, pxPerMmX, pxPerMmY);
        const ReportElement& e = *laid.Element;
        const double needed =
            laid.Rows.empty() ? 0.0 : laid.Rows.back().Top + laid.Rows.back().Height;
        if (!e.Grows) {
            // The rules keep their height: what would not fit in it is not printed.
            const auto past = std::find_if(
                laid.Rows.begin() + (laid.Rows.empty() ? 0 : 1), laid.Rows.end(),
                [&](const Row& r) { return r.Top + r.Height > e.Height + kEpsilonMm; });
            laid.Rows.erase(past, laid.Rows.end());
        }
        for (Row& row : laid.Rows) {
            row.Top += e.Top + growth;
        }
        // Everything below a grown element moves down by as much, so nothing overlaps.
        if (e.Grows && needed > e.Height) {
            growth += needed - e.Height;
        }
    }

    int page = 0;
    for (const PlacedRow& placed : Paginate(elements)) {
        if (placed.Line->Layout == nullptr) {
            // An empty line takes its room but never starts a page of its own: details that
            // end with CR LF and fill the first page exactly do not cost a blank sheet.
            continue;
        }
        while (page < placed.Page) {
            if (!device.newPage()) {
                painter.end();
                return false;
            }
            ++page;
        }
        const ReportElement& e = *placed.Owner->Element;
        const QTextLine line = placed.Line->Layout->lineAt(placed.Line->Line);
        const double left = (kReportLeftMargin + e.Left - origin.x()) * pxPerMmX;
        const double x = left + (placed.Owner->WidthPx - line.naturalTextWidth()) / 2;
        const double y = (placed.Top - origin.y()) * pxPerMmY;
        line.draw(&painter, QPointF(x - line.x(), y - line.y()));
    }
    return painter.end();
}

bool PaintReport(QPagedPaintDevice& device, const ResultTexts& texts) {
    return TfrmReport(texts).Paint(device);
}

PrintOutcome PrintReportOn(QPrinter& printer, const std::string& title, const std::string& body,
                           const std::string& details) {
    printer.setCopyCount(1);
    printer.setDocName(Q(texts::kReportHeading));
    // The form lives for this printing only and goes when it ends, printed or not.
    const TfrmReport form(ResultTexts{title, body, details});
    return form.Paint(printer) ? PrintOutcome::Printed : PrintOutcome::Failed;
}

PrintOutcome PrintReport(const std::string& title, const std::string& body,
                         const std::string& details) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        return QPrinterInfo::availablePrinterNames().isEmpty() ? PrintOutcome::NoPrinter
                                                               : PrintOutcome::NoDefaultPrinter;
    }
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::NativeFormat);
    return PrintReportOn(printer, title, body, details);
}

bool SavePdf(const QString& path, const QString& title, int dpi,
             const std::function<bool(QPagedPaintDevice&)>& paint) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    bool painted = false;
    {
        QPdfWriter writer(&file);
        writer.setResolution(dpi);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("dielmon"));
        painted = paint(writer);
    }
    if (!painted) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool SaveReportPdf(const QString& path, const ResultTexts& texts) {
    return SavePdf(path, Q(texts::kReportHeading), kPdfResolution,
                   [&](QPagedPaintDevice& device) { return PaintReport(device, texts); });
}

} // namespace dielmon
