// The printed report, checked on the page it produces: the report is painted into a PDF by the
// same code that prints it, and pdftotext (poppler-utils) tells where each word stands. The
// source is compiled to GBK, so its literals are the system's own bytes; what pdftotext gives
// back is Unicode and is compared through Q().

#include "core/resultfile.h"
#include "core/texts.h"
#include "qtgbk.h"
#include "report.h"
#include "support/tempdir.h"

#include <QApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace dielmon {
namespace {

using test::TempDir;

constexpr double kMmPerPoint = 25.4 / 72.0;
// How far a line may stand from where the layout puts it.
constexpr double kToleranceMm = 0.5;

// ---------------------------------------------------------------------------------------------
// Reading the page back

struct Word {
    int Page = 0;                                    // from 0
    double Left = 0, Top = 0, Right = 0, Bottom = 0; // mm from the top left corner of the paper
    QString Text;
};

struct PdfText {
    std::vector<QSizeF> Pages; // mm
    std::vector<Word> Words;
};

// Runs pdftotext -bbox-layout on the file and collects its words. On failure, says why.
bool ReadPdfText(const QString& pdf, PdfText& out, std::string& error) {
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (exe.isEmpty()) {
        error = "pdftotext was not found on PATH: install poppler-utils (scripts/install-deps.sh)";
        return false;
    }
    QProcess run;
    run.start(exe, {QStringLiteral("-bbox-layout"), pdf, QStringLiteral("-")});
    if (!run.waitForFinished(60000) || run.exitStatus() != QProcess::NormalExit ||
        run.exitCode() != 0) {
        error = "pdftotext failed on " + pdf.toStdString() + ": " +
                run.readAllStandardError().toStdString();
        return false;
    }
    QXmlStreamReader xml(run.readAllStandardOutput());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        const auto a = xml.attributes();
        const auto mm = [&](const char* name) {
            return a.value(QLatin1String(name)).toDouble() * kMmPerPoint;
        };
        if (xml.name() == QLatin1String("page")) {
            out.Pages.emplace_back(mm("width"), mm("height"));
        } else if (xml.name() == QLatin1String("word")) {
            Word w;
            w.Page = static_cast<int>(out.Pages.size()) - 1;
            w.Left = mm("xMin");
            w.Top = mm("yMin");
            w.Right = mm("xMax");
            w.Bottom = mm("yMax");
            w.Text = xml.readElementText();
            out.Words.push_back(w);
        }
    }
    if (xml.hasError()) {
        error = "cannot parse the output of pdftotext: " + xml.errorString().toStdString();
        return false;
    }
    return true;
}

// The text without any white space (the ideographic space included), as pdftotext drops it.
QString Compact(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (!c.isSpace()) {
            out += c;
        }
    }
    return out;
}

// One printed line: the words that share a page and a top, left to right.
struct TextRow {
    int Page = 0;
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
    QString Text; // words joined by one space
    double Centre() const { return (Left + Right) / 2; }
};

std::vector<TextRow> Rows(const PdfText& pdf) {
    std::vector<Word> words = pdf.Words;
    std::sort(words.begin(), words.end(), [](const Word& a, const Word& b) {
        if (a.Page != b.Page) {
            return a.Page < b.Page;
        }
        if (std::abs(a.Top - b.Top) > 0.05) {
            return a.Top < b.Top;
        }
        return a.Left < b.Left;
    });
    std::vector<TextRow> rows;
    for (const Word& w : words) {
        if (rows.empty() || rows.back().Page != w.Page ||
            std::abs(rows.back().Top - w.Top) > 0.05) {
            rows.push_back({w.Page, w.Left, w.Top, w.Right, w.Bottom, w.Text});
            continue;
        }
        TextRow& r = rows.back();
        r.Left = std::min(r.Left, w.Left);
        r.Right = std::max(r.Right, w.Right);
        r.Bottom = std::max(r.Bottom, w.Bottom);
        r.Text += QLatin1Char(' ') + w.Text;
    }
    return rows;
}

// ---------------------------------------------------------------------------------------------
// What the layout asks for

QStringList Paragraphs(const std::string& gbk) {
    return Q(gbk).split(QStringLiteral("\r\n"));
}

double CentreOf(const ReportElement& e) {
    return kReportLeftMargin + e.Left + e.Width / 2;
}

const ReportElement& Element(const std::vector<ReportElement>& layout, const std::string& name) {
    for (const ReportElement& e : layout) {
        if (e.Name == name) {
            return e;
        }
    }
    throw std::runtime_error("no element " + name);
}

// Measures of the report's font on a 1200 dpi page, in millimetres: the height of a line and
// the advance of a piece of text.
class FontMeasure {
public:
    explicit FontMeasure(int pointSize)
        : Writer_(std::make_unique<QPdfWriter>(QStringLiteral("/dev/null"))) {
        Writer_->setResolution(1200);
        Font_ = QFont(ReportFont(pointSize), Writer_.get());
    }
    double LineHeight() const { return Mm(QFontMetricsF(Font_, Writer_.get()).height()); }
    double Advance(const QString& text) const {
        return Mm(QFontMetricsF(Font_, Writer_.get()).horizontalAdvance(text));
    }

private:
    double Mm(double px) const { return px / Writer_->resolution() * 25.4; }
    std::unique_ptr<QPdfWriter> Writer_;
    QFont Font_;
};

// Where the ink of a centred line stands: the line is centred with its leading and trailing
// spaces (the padding that makes the result lines one column), the ink without them.
double InkCentre(const ReportElement& e, const QString& line) {
    const FontMeasure font(e.PointSize);
    qsizetype lead = 0;
    while (lead < line.size() && line[lead].isSpace()) {
        ++lead;
    }
    qsizetype trail = 0;
    while (trail < line.size() - lead && line[line.size() - 1 - trail].isSpace()) {
        ++trail;
    }
    return CentreOf(e) + (font.Advance(line.left(lead)) - font.Advance(line.right(trail))) / 2;
}

// ---------------------------------------------------------------------------------------------
// Texts as a test of the instrument leaves them

const std::string kTitle = "反接线\\内标准\\定频\\内高压";
const std::string kMain = "Cx：1.000nF  DF：0.300%  \r\nCg：2.000uF  DF：over    \r\n";
// Each line but the date is padded to 25 bytes, as the result display pads them.
const std::string kDetails = "　U 　　　：10.000kV     \r\n"
                             "　I 　　　：1.2345mA     \r\n"
                             "　F 　　　：50.00Hz      \r\n"
                             "　Cn　　　：50.000pF     \r\n"
                             "　P 　　　：0.0211W      \r\n"
                             "　S 　　　：12.34VA      \r\n"
                             "　试验次数：1            \r\n"
                             "  Date：2016-03-24 15:34:00\r\n";

ResultTexts Standard() {
    return {kTitle, kMain, kDetails};
}

// ---------------------------------------------------------------------------------------------

class ReportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "ui_report";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) {
            // Nothing is shown: run without a display also when started by hand.
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
            }
            App_ = new QApplication(argc, argv);
        }
    }

    enum class Route { PdfFile, Printer };

    // Paints the texts into a PDF, by SaveReportPdf or through the printing routine with a
    // printer that writes PDF, and reads the page back.
    PdfText Paint(const ResultTexts& texts, Route route = Route::PdfFile) {
        const QString path = QString::fromStdString(Dir_.File("report.pdf"));
        QFile::remove(path);
        if (route == Route::PdfFile) {
            EXPECT_TRUE(SaveReportPdf(path, texts));
        } else {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(path);
            EXPECT_EQ(PrintReportOn(printer, texts.Title, texts.Main, texts.Details),
                      PrintOutcome::Printed);
        }
        Keep(path);
        PdfText pdf;
        std::string error;
        if (!ReadPdfText(path, pdf, error)) {
            ADD_FAILURE() << error;
        }
        return pdf;
    }

    // With DIELMON_KEEP_PDF set to a folder, every page painted here is kept there to be looked
    // at, named after the test.
    void Keep(const QString& path) {
        const QString folder = qEnvironmentVariable("DIELMON_KEEP_PDF");
        if (folder.isEmpty()) {
            return;
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const QString copy = QStringLiteral("%1/%2-%3.pdf")
                                 .arg(folder, QString::fromLatin1(info->name()))
                                 .arg(++Painted_);
        QFile::remove(copy);
        QFile::copy(path, copy);
    }

    // The rows of an element's lines that carry text, found in order among the rows.
    static std::vector<TextRow> RowsOf(const std::vector<TextRow>& rows, const QString& first) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (Compact(rows[i].Text) == Compact(first)) {
                return {rows.begin() + static_cast<std::ptrdiff_t>(i), rows.end()};
            }
        }
        return {};
    }

    TempDir Dir_;
    int Painted_ = 0;
    static QApplication* App_;
};

QApplication* ReportTest::App_ = nullptr;

TEST_F(ReportTest, EveryElementStandsWhereTheLayoutPutsIt) {
    const ResultTexts shown = Standard();
    const std::vector<ReportElement> layout = ReportLayout(shown);
    const PdfText pdf = Paint(shown);
    ASSERT_EQ(pdf.Pages.size(), 1u);
    EXPECT_NEAR(pdf.Pages[0].width(), kReportPageWidth, 0.5);
    EXPECT_NEAR(pdf.Pages[0].height(), kReportPageHeight, 0.5);

    // Every line with text, element by element, top to bottom.
    struct Expected {
        const ReportElement* Element;
        int Line;
        QString Text;
    };
    std::vector<Expected> expected;
    for (const ReportElement& e : layout) {
        const QStringList lines = Paragraphs(e.Text);
        for (int i = 0; i < lines.size(); ++i) {
            if (!Compact(lines[i]).isEmpty()) {
                expected.push_back({&e, i, lines[i]});
            }
        }
    }
    const std::vector<TextRow> rows = Rows(pdf);
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Expected& x = expected[i];
        const ReportElement& e = *x.Element;
        const TextRow& r = rows[i];
        SCOPED_TRACE(e.Name + " line " + std::to_string(x.Line));
        EXPECT_EQ(Compact(r.Text), Compact(x.Text));
        const double lineHeight = FontMeasure(e.PointSize).LineHeight();
        EXPECT_NEAR(r.Top, e.Top + x.Line * lineHeight, kToleranceMm);
        EXPECT_NEAR(r.Centre(), InkCentre(e, x.Text), kToleranceMm);
        // The height of the glyph box follows the point size (a pixel size would be a
        // twelfth of it on a 1200 dpi page).
        const double ratio = (r.Bottom - r.Top) / (e.PointSize * kMmPerPoint);
        EXPECT_GT(ratio, 0.9);
        EXPECT_LT(ratio, 1.3);
    }

    // The heading is the largest text and the rules are larger than the result.
    EXPECT_GT(rows[0].Bottom - rows[0].Top, rows[1].Bottom - rows[1].Top);
    EXPECT_GT(rows[1].Bottom - rows[1].Top, rows[3].Bottom - rows[3].Top);
    EXPECT_EQ(rows[0].Text, Q(texts::kReportHeading));
    EXPECT_EQ(rows[1].Text, Q(texts::kReportRule));
    EXPECT_EQ(rows[2].Text, Q(texts::kReportRule));
}

TEST_F(ReportTest, PaddedResultLinesStandAsOneColumn) {
    const std::vector<TextRow> rows = Rows(Paint(Standard()));
    const FontMeasure font(12);
    // Every detail line but the date is padded to 25 bytes: centred with the padding, they
    // start at one place, and their ink starts after the same leading space.
    const std::vector<TextRow> details = RowsOf(rows, Paragraphs(kDetails)[0]);
    ASSERT_EQ(details.size(), 8u);
    const double lineStart = details[0].Left - font.Advance(Q("　"));
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(details[i].Left - font.Advance(Q("　")), lineStart, 0.1);
    }
}

TEST_F(ReportTest, MainResultLosesItsLastLineBreakOnly) {
    const FontMeasure font(12);
    const ReportElement main = Element(ReportLayout({}), "main");
    const ReportElement details = Element(ReportLayout({}), "details");
    const double line = font.LineHeight();
    // Three lines fit in the element and four do not: a line too many or too few shows in
    // where the details start.
    ASSERT_LT(3 * line, main.Height);
    ASSERT_GT(4 * line, main.Height);

    for (const Route route : {Route::PdfFile, Route::Printer}) {
        SCOPED_TRACE(route == Route::PdfFile ? "SaveReportPdf" : "PrintReportOn");
        {
            // Two lines ending with CR LF: two lines, no third empty one.
            const std::vector<TextRow> rows = Rows(Paint({kTitle, kMain, "D"}, route));
            const std::vector<TextRow> m = RowsOf(rows, Paragraphs(kMain)[0]);
            ASSERT_EQ(m.size(), 3u);
            EXPECT_NEAR(m[0].Top, main.Top, kToleranceMm);
            EXPECT_NEAR(m[1].Top, main.Top + line, kToleranceMm);
            EXPECT_NEAR(m[2].Top, details.Top, kToleranceMm);
        }
        {
            // Three lines and a CR LF: still in the element's height, so the details stay.
            const std::vector<TextRow> rows =
                Rows(Paint({kTitle, "M1\r\nM2\r\nM3\r\n", "D"}, route));
            const std::vector<TextRow> d = RowsOf(rows, QStringLiteral("D"));
            ASSERT_EQ(d.size(), 1u);
            EXPECT_NEAR(d[0].Top, details.Top, kToleranceMm);
        }
        {
            // An empty line before the last CR LF is kept: four lines, the details move down.
            const std::vector<TextRow> rows =
                Rows(Paint({kTitle, "M1\r\nM2\r\nM3\r\n\r\n", "D"}, route));
            const std::vector<TextRow> d = RowsOf(rows, QStringLiteral("D"));
            ASSERT_EQ(d.size(), 1u);
            EXPECT_NEAR(d[0].Top, details.Top + 4 * line - main.Height, kToleranceMm);
        }
    }
}

TEST_F(ReportTest, DetailsKeepAllTheirLines) {
    const ReportElement details = Element(ReportLayout({}), "details");
    const double line = FontMeasure(12).LineHeight();
    // An empty line inside the details keeps its place.
    const std::string text = "A1\r\n\r\nA3\r\nA4\r\n";
    const std::vector<TextRow> rows = Rows(Paint({kTitle, kMain, text}));
    const std::vector<TextRow> d = RowsOf(rows, QStringLiteral("A1"));
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[1].Text, QStringLiteral("A3"));
    EXPECT_EQ(d[2].Text, QStringLiteral("A4"));
    EXPECT_NEAR(d[0].Top, details.Top, kToleranceMm);
    EXPECT_NEAR(d[1].Top, details.Top + 2 * line, kToleranceMm);
    EXPECT_NEAR(d[2].Top, details.Top + 3 * line, kToleranceMm);
}

TEST_F(ReportTest, EmptyMainResultPrintsAnEmptyElement) {
    const ReportElement details = Element(ReportLayout({}), "details");
    for (const std::string& body : {std::string(), std::string("\r\n")}) {
        SCOPED_TRACE(body.size());
        const std::vector<TextRow> rows = Rows(Paint({kTitle, body, kDetails}));
        // Heading, two rules, title, then directly the details, where they always are.
        ASSERT_EQ(rows.size(), 4u + 8u);
        EXPECT_EQ(Compact(rows[3].Text), Compact(Q(kTitle)));
        EXPECT_EQ(Compact(rows[4].Text), Compact(Paragraphs(kDetails)[0]));
        EXPECT_NEAR(rows[4].Top, details.Top, kToleranceMm);
    }
}

TEST_F(ReportTest, TitleThatNeedsMoreRoomPushesEverythingBelowDown) {
    const std::vector<ReportElement> layout = ReportLayout({});
    const ReportElement title = Element(layout, "title");
    const ReportElement main = Element(layout, "main");
    const ReportElement details = Element(layout, "details");
    const double line = FontMeasure(12).LineHeight();
    const double growth = 3 * line - title.Height;
    ASSERT_GT(growth, 1.0);

    const std::vector<TextRow> rows = Rows(Paint({"T1\r\nT2\r\nT3", kMain, kDetails}));
    const std::vector<TextRow> t = RowsOf(rows, QStringLiteral("T1"));
    ASSERT_EQ(t.size(), 2u + 8u + 3u);
    EXPECT_NEAR(t[0].Top, title.Top, kToleranceMm);
    EXPECT_NEAR(t[2].Top, title.Top + 2 * line, kToleranceMm);
    EXPECT_NEAR(t[3].Top, main.Top + growth, kToleranceMm);
    EXPECT_NEAR(t[4].Top, main.Top + growth + line, kToleranceMm);
    EXPECT_NEAR(t[5].Top, details.Top + growth, kToleranceMm);
    for (std::size_t i = 1; i < t.size(); ++i) {
        EXPECT_GE(t[i].Top, t[i - 1].Bottom - 0.2) << "rows " << i - 1 << " and " << i;
    }
}

TEST_F(ReportTest, ChineseTextWrapsAnywhereWithinTheElement) {
    const ReportElement title = Element(ReportLayout({}), "title");
    // 150 characters without a space: more than two lines' worth at 12 pt across 209 mm.
    std::string gbk;
    for (int i = 0; i < 30; ++i) {
        gbk += "介质损耗测";
    }
    const QString text = Q(gbk);
    const std::vector<TextRow> rows = Rows(Paint({gbk, "", "D"}));
    std::vector<TextRow> t;
    for (const TextRow& r : rows) {
        if (r.Top > title.Top - kToleranceMm && r.Text != QStringLiteral("D")) {
            t.push_back(r);
        }
    }
    ASSERT_GE(t.size(), 3u);
    QString joined;
    for (const TextRow& r : t) {
        joined += Compact(r.Text);
        EXPECT_GE(r.Left, kReportLeftMargin + title.Left - kToleranceMm);
        EXPECT_LE(r.Right, kReportLeftMargin + title.Left + title.Width + kToleranceMm);
        EXPECT_NEAR(r.Centre(), CentreOf(title), kToleranceMm);
    }
    EXPECT_EQ(joined, text);
    // The lines before the last are full: a line ends only where the next character would
    // not fit.
    const double character = FontMeasure(12).Advance(text.left(1));
    EXPECT_GT(t[0].Right - t[0].Left, title.Width - character);
}

// Lines "第001行 Row001 ..." of the details, enough to fill three pages.
std::string ManyLines(int count, bool endWithBreak) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%03d", i);
        text += std::string("第") + number + "行 Row" + number + " 测试数据";
        if (i < count || endWithBreak) {
            text += "\r\n";
        }
    }
    return text;
}

TEST_F(ReportTest, DetailsTooLongForOnePageContinueOnTheNext) {
    const ReportElement details = Element(ReportLayout({}), "details");
    const double line = FontMeasure(12).LineHeight();
    constexpr int kLines = 150;
    const std::string text = ManyLines(kLines, true);
    const PdfText pdf = Paint({kTitle, kMain, text});
    ASSERT_EQ(pdf.Pages.size(), 3u);
    const std::vector<TextRow> rows = Rows(pdf);
    const std::vector<TextRow> d = RowsOf(rows, Paragraphs(text)[0]);
    ASSERT_EQ(d.size(), static_cast<std::size_t>(kLines));
    const QStringList paragraphs = Paragraphs(text);
    for (int i = 0; i < kLines; ++i) {
        EXPECT_EQ(Compact(d[i].Text), Compact(paragraphs[i])) << "line " << i;
    }
    EXPECT_EQ(d.front().Page, 0);
    EXPECT_NEAR(d.front().Top, details.Top, kToleranceMm);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page + 1));
        std::vector<TextRow> on;
        for (const TextRow& r : d) {
            if (r.Page == page) {
                on.push_back(r);
            }
        }
        ASSERT_FALSE(on.empty());
        if (page > 0) {
            EXPECT_NEAR(on.front().Top, ReportContinuationTop(), kToleranceMm);
            // The continued page holds the details only.
            EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                                    [&](const TextRow& r) { return r.Page == page; }),
                      static_cast<std::ptrdiff_t>(on.size()));
        }
        for (std::size_t i = 1; i < on.size(); ++i) {
            EXPECT_NEAR(on[i].Top - on[i - 1].Top, line, 0.05);
        }
        // Nothing in the footer, and a full page was used before going on.
        EXPECT_LE(on.back().Top + line, kReportPrintBottom + 0.2);
        if (page < 2) {
            EXPECT_GT(on.back().Top + 2 * line, kReportPrintBottom - 0.2);
        }
    }
}

TEST_F(ReportTest, FinalLineBreakOfAFullPageTakesNoFurtherPage) {
    const ReportElement details = Element(ReportLayout({}), "details");
    const double line = FontMeasure(12).LineHeight();
    // As many lines as the first page holds below the details' top, and the CR LF that ends
    // every details text: the empty line after it would be the first of page 2.
    const int fit = static_cast<int>((kReportPrintBottom - details.Top) / line);
    ASSERT_GT((kReportPrintBottom - details.Top) - fit * line, 0.1);
    ASSERT_LT((kReportPrintBottom - details.Top) - fit * line, line - 0.1);
    const PdfText pdf = Paint({kTitle, kMain, ManyLines(fit, true)});
    EXPECT_EQ(pdf.Pages.size(), 1u);
    const std::vector<TextRow> rows = Rows(pdf);
    const std::vector<TextRow> d = RowsOf(rows, Paragraphs(ManyLines(1, false))[0]);
    ASSERT_EQ(d.size(), static_cast<std::size_t>(fit));
    EXPECT_EQ(d.back().Page, 0);

    // One line more goes on to page 2.
    EXPECT_EQ(Paint({kTitle, kMain, ManyLines(fit + 1, true)}).Pages.size(), 2u);
}

TEST_F(ReportTest, LongParagraphContinuesWordForWord) {
    const ReportElement details = Element(ReportLayout({}), "details");
    // One paragraph of 2000 words: it wraps at the element's width and runs onto page 2.
    std::string text;
    for (int i = 1; i <= 2000; ++i) {
        text += 'w';
        text += std::to_string(i);
        text += ' ';
    }
    const PdfText pdf = Paint({kTitle, kMain, text});
    ASSERT_GE(pdf.Pages.size(), 2u);
    // The details are the rows from the first one that starts with "w1" on.
    const std::vector<TextRow> rows = Rows(pdf);
    const auto first = std::find_if(rows.begin(), rows.end(), [](const TextRow& r) {
        return r.Text.startsWith(QStringLiteral("w1 "));
    });
    ASSERT_NE(first, rows.end());
    const std::vector<TextRow> d(first, rows.end());
    EXPECT_NEAR(d.front().Top, details.Top, kToleranceMm);
    QStringList words;
    for (const TextRow& r : d) {
        words += r.Text.split(QLatin1Char(' '));
        EXPECT_GE(r.Left, kReportLeftMargin + details.Left - kToleranceMm);
        EXPECT_LE(r.Right, kReportLeftMargin + details.Left + details.Width + kToleranceMm);
        EXPECT_LE(r.Bottom, kReportPrintBottom + 0.2);
    }
    // Wrapped lines are centred on their words, the space where they wrap left out.
    for (std::size_t i = 0; i + 1 < d.size(); ++i) {
        EXPECT_NEAR(d[i].Centre(), CentreOf(details), kToleranceMm) << "row " << i;
    }
    ASSERT_EQ(words.size(), 2000);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(words[i], QStringLiteral("w%1").arg(i + 1));
    }
    EXPECT_GT(d.back().Page, 0);
}

TEST_F(ReportTest, PrintReportWithoutAPrinterSaysSo) {
    if (!QPrinterInfo::defaultPrinter().isNull()) {
        GTEST_SKIP() << "this machine has a default printer";
    }
    EXPECT_EQ(PrintReport(kTitle, kMain, kDetails), PrintOutcome::NoPrinter);
}

TEST_F(ReportTest, SavingWhereNothingCanBeWrittenFails) {
    const std::string missing = Dir_.File("missing/report.pdf");
    EXPECT_FALSE(SaveReportPdf(QString::fromStdString(missing), Standard()));
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(ReportTest, SavingIntoAReadOnlyFolderFailsAndKeepsTheOldFile) {
    if (!test::PermissionsApply()) {
        GTEST_SKIP() << "permissions do not apply to root";
    }
    const std::string folder = Dir_.File("locked");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/report.pdf";
    test::WriteAll(path, "old");
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    EXPECT_FALSE(SaveReportPdf(QString::fromStdString(path), Standard()));
    EXPECT_EQ(test::ReadAll(path), "old");
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
}

TEST_F(ReportTest, TheFormIsBuiltFromTheLayout) {
    const TfrmReport form({kTitle, "A\r\nB\r\n", kDetails});
    const std::vector<ReportElement>& e = form.Elements();
    ASSERT_EQ(e.size(), ReportLayout({}).size());
    EXPECT_EQ(Element(e, "title").Text, kTitle);
    EXPECT_EQ(Element(e, "main").Text, "A\r\nB");
    EXPECT_EQ(Element(e, "details").Text, kDetails);
}

} // namespace
} // namespace dielmon
