// Results judged in the window: the archive's list with each result's level in its colour and
// the verdicts on hover, the result page's numbers behind a verdict, the specimen's facts
// edited and every result judged again, the trend against test temperature, the specimen's
// report as a PDF, the assessment columns of the CSV, and the live result's verdict.
#include "archive/archive.h"
#include "archive/keeper.h"
#include "archivewindow.h"
#include "core/measured.h"
#include "fixture.h"

#include <QChart>
#include <QChartView>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QScatterSeries>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <filesystem>

using namespace dielmon;
using namespace dielmon::test;
namespace fs = std::filesystem;

namespace {

// This file is compiled to GBK: texts meant as UTF-8 are written as QString literals.
std::string U8(const QString& text) {
    return text.toStdString();
}

// A result of one capacitance and its dissipation factor, tested at 10 kV and 50 Hz.
archive::Result Make(const std::string& specimen, const std::string& day, double nf,
                     std::optional<double> df, std::optional<double> t = 20.0,
                     std::optional<double> rh = 50.0) {
    archive::Result r;
    r.Measured = day + "T10:00:00";
    r.Config.WiringMode = 1;
    r.Config.TestVoltage = 10000;
    r.Quantities.push_back({"Cx", "F", nf * 1e-9, false});
    if (df) {
        r.Quantities.push_back({DissipationNameOf("Cx"), "%", df, false});
    }
    r.Quantities.push_back({"F1", "Hz", 50.0, false});
    r.Taken.Specimen = specimen;
    r.Taken.Temperature = t;
    r.Taken.Humidity = rh;
    return r;
}

// An oil-paper bushing with its nameplate: 1 nF, 0.3 %.
archive::Specimen Bushing(const std::string& name) {
    archive::Specimen s;
    s.Name = name;
    s.Class = archive::SpecimenClass::BushingOip;
    s.VoltageClass = 110;
    s.NameplateC = 1e-9;
    s.NameplateDf = 0.3;
    return s;
}

// The archive of the fixture's home, filled before the window opens.
std::unique_ptr<archive::Archive> Seed(Fixture& f) {
    archive::Opened opened = archive::Archive::Open(f.Home.File("Archive.db"));
    EXPECT_NE(opened.Store, nullptr) << opened.Error;
    return std::move(opened.Store);
}

std::string Add(archive::Archive& a, const archive::Result& r) {
    const archive::Added added = a.Add(r);
    EXPECT_TRUE(added.Ok());
    return added.Id;
}

TfrmArchive& OpenArchiveWindow(Fixture& f) {
    f.Trigger("N_ArchiveOpen");
    TfrmArchive* w = f.Window->ArchiveWindow();
    EXPECT_NE(w, nullptr);
    QApplication::processEvents();
    return *w;
}

archive::Archive& Store(Fixture& f) {
    return *f.Window->Keeper().Store();
}

// A verdict cell once its row is judged: asking for it shows the row, the judging follows.
QVariant Cell(TfrmArchive& w, int row, int role) {
    const QModelIndex cell = w.Model().index(row, ArchiveListModel::Verdict);
    w.Model().data(cell, role);
    EXPECT_TRUE(WaitUntil([&] { return !w.Model().Judging(); }));
    return w.Model().data(cell, role);
}

int RowOf(TfrmArchive& w, const std::string& id) {
    while (w.Model().RowOf(id) < 0 && w.Model().canFetchMore({})) {
        w.Model().fetchMore({});
    }
    return w.Model().RowOf(id);
}

// What pdftotext reads in a PDF file, as UTF-8; empty when it cannot.
QString PdfText(const QString& path) {
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    EXPECT_FALSE(exe.isEmpty()) << "install poppler-utils";
    QProcess run;
    run.start(exe, {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!run.waitForFinished(60000) || run.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(run.readAllStandardOutput());
}

// A screenshot for those who look at the window, where they keep them; none without the folder.
void Shot(QWidget* w, const char* name) {
    const QByteArray folder = qgetenv("DIELMON_SHOTS");
    if (!folder.isEmpty()) {
        w->grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') +
                       QString::fromLatin1(name));
    }
}

} // namespace

TEST(Assessment, TheListShowsEachLevelInItsColourWithTheVerdictsAndJudgesOnlyWhatIsShown) {
    Fixture f({}, false);
    std::string ok, five, ten, over, alone;
    {
        auto a = Seed(f);
        ASSERT_EQ(a->SetSpecimen(Bushing("B1")), "");
        // Against the nameplate 1 nF: below 5 % ok, 5 % and 10 % to investigate, above critical.
        ok = Add(*a, Make("B1", "2016-05-01", 1.0499, 0.3));
        five = Add(*a, Make("B1", "2017-05-01", 1.05, 0.3));
        ten = Add(*a, Make("B1", "2018-05-01", 1.1, 0.3));
        over = Add(*a, Make("B1", "2019-05-01", 1.1001, 0.3));
        alone = Add(*a, Make("", "2020-05-01", 1.5, 0.3));
        // A long list of another specimen, older than these.
        for (int k = 0; k < 450; ++k) {
            Add(*a, Make("S2", "2010-01-" + std::to_string(10 + k % 18), 2.0 + k * 1e-4, 0.2));
        }
    }
    f.Open(f.Sim->DevicePath());
    TfrmArchive& w = OpenArchiveWindow(f);
    w.resize(1500, 800);
    QApplication::processEvents();
    // The view asks for the rows it shows; the rest of the first page is not judged.
    EXPECT_GT(w.Model().rowCount(), 100);
    EXPECT_LT(w.Model().JudgedRows(), 60);
    EXPECT_EQ(w.Model().headerData(ArchiveListModel::Verdict, Qt::Horizontal, Qt::DisplayRole),
              QStringLiteral("判断"));

    const struct {
        const std::string& id;
        QString word;
        const char* colour;
        QString value;
    } rows[] = {
        {ok, QStringLiteral("合格"), "#2E7D32", QStringLiteral("ok (investigate at ≥ 5")},
        {five, QStringLiteral("注意"), "#F9A825", QStringLiteral("investigate (|5| ≥ 5)")},
        {ten, QStringLiteral("注意"), "#F9A825", QStringLiteral("investigate (|10| ≥ 5)")},
        {over, QStringLiteral("异常"), "#C62828", QStringLiteral("critical (|10.01| > 10)")},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.word.toStdString());
        const int row = RowOf(w, r.id);
        ASSERT_GE(row, 0);
        EXPECT_EQ(Cell(w, row, Qt::DisplayRole).toString(), r.word);
        EXPECT_EQ(Cell(w, row, Qt::BackgroundRole).value<QColor>(),
                  QColor(QString::fromLatin1(r.colour)));
        const QString tip = Cell(w, row, Qt::ToolTipRole).toString();
        // Every verdict with its profile, rule, numbers and source.
        EXPECT_TRUE(tip.contains(QStringLiteral("nameplate/capacitance"))) << tip.toStdString();
        EXPECT_TRUE(tip.contains(QStringLiteral("nameplate/dissipation"))) << tip.toStdString();
        EXPECT_TRUE(tip.contains(r.value)) << tip.toStdString();
        EXPECT_TRUE(tip.contains(QStringLiteral("IEEE Std 62"))) << tip.toStdString();
    }
    // A result of no specimen has no history and no nameplate: no level, no colour.
    const int single = RowOf(w, alone);
    EXPECT_EQ(Cell(w, single, Qt::DisplayRole).toString(), QString());
    EXPECT_FALSE(Cell(w, single, Qt::BackgroundRole).isValid());
    EXPECT_TRUE(Cell(w, single, Qt::ToolTipRole).toString().contains(QStringLiteral("试品")));
    Shot(&w, "archive-list-verdicts.png");

    // The result page names the numbers behind the verdict.
    w.OpenRow(RowOf(w, over));
    const QString page = w.Lbl_ArchiveAssessment->toPlainText();
    EXPECT_TRUE(page.contains(QStringLiteral("异常"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("1.1001 nF"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("0.3 %"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("USBR FIST"))) << page.toStdString();
    Shot(&w, "result-page-assessment.png");

    // The CSV carries the correction and the verdicts of each row.
    const std::string csv = f.Home.File("judged.csv");
    f.Dialogs.Files.push_back(QString::fromStdString(csv));
    w.Btn_ArchiveExport->click();
    ASSERT_TRUE(WaitUntil([&] { return !w.Exporting(); }, 20000));
    const std::string table = ReadAll(csv);
    EXPECT_NE(table.find("DF raw (%),correction method,correction factor"), std::string::npos);
    const auto line = [&table](const std::string& id) {
        const auto at = table.find(id);
        return at == std::string::npos ? std::string()
                                       : table.substr(at, table.find("\r\n", at) - at);
    };
    EXPECT_NE(line(over).find(",none,1,0.3,critical,"), std::string::npos) << line(over);
    EXPECT_NE(line(ok).find(",none,1,0.3,ok,"), std::string::npos) << line(ok);
}

TEST(Assessment, EditingTheSpecimenJudgesAgainKeepsTheMeasuredValuesAndRefusesBadNumbers) {
    Fixture f({}, false);
    std::string warm, cold;
    {
        auto a = Seed(f);
        warm = Add(*a, Make("W1", "2019-07-01", 1.0, 0.5, 30.0));
        cold = Add(*a, Make("W1", "2020-07-01", 1.2, 0.5, 10.0));
    }
    // A lab's profile that cannot be read is left out and named on the page.
    fs::create_directories(f.Home.File("assessment"));
    WriteAll(f.Home.File("assessment/broken.profile"), "title = x\n[rule r]\nmeasure = nonsense\n");
    f.Open(f.Sim->DevicePath());
    TfrmArchive& w = OpenArchiveWindow(f);
    w.OpenRow(RowOf(w, warm));
    w.Nbk_Archive->setCurrentIndex(2);
    ASSERT_TRUE(w.Grp_Specimen->isVisible());
    EXPECT_EQ(w.Lbl_SpecimenName->text(), QStringLiteral("W1"));
    EXPECT_EQ(w.CBox_SpecimenClass->currentData().toString(), QStringLiteral("other"));
    EXPECT_EQ(w.CBox_Method->itemText(0), QStringLiteral("类别默认（none）"));
    const QString files = w.findChild<QLabel*>(QStringLiteral("Lbl_AssessmentFiles"))->text();
    EXPECT_TRUE(files.contains(QStringLiteral("broken.profile"))) << files.toStdString();
    EXPECT_LT(w.CBox_Profile->findData(QStringLiteral("broken")), 0);
    EXPECT_TRUE(w.Lbl_ArchiveAssessment->toPlainText().contains(QStringLiteral("none")));

    const auto stored = [&] { return Store(f).SpecimenNamed("W1").Value; };
    // Junk, not finite, negative or zero: a message, and nothing saved.
    const struct {
        QLineEdit* edit;
        QString text;
        QString told;
    } bad[] = {
        {w.Edt_NameplateC, QStringLiteral("abc"), QStringLiteral("铭牌电容量")},
        {w.Edt_NameplateC, QStringLiteral("nan"), QStringLiteral("铭牌电容量")},
        {w.Edt_NameplateC, QStringLiteral("1e999"), QStringLiteral("铭牌电容量")},
        {w.Edt_NameplateC, QStringLiteral("-1000"), QStringLiteral("铭牌电容量")},
        {w.Edt_NameplateC, QStringLiteral("0"), QStringLiteral("铭牌电容量")},
        {w.Edt_NameplateC, QStringLiteral("1,5"), QStringLiteral("铭牌电容量")},
        {w.Edt_VoltageClass, QStringLiteral("-110"), QStringLiteral("电压等级")},
        {w.Edt_NameplateDf, QStringLiteral("-0.1"), QStringLiteral("铭牌介质损耗")},
        {w.Edt_NameplateDf, QStringLiteral("0.3%"), QStringLiteral("铭牌介质损耗")},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.text.toStdString());
        w.Edt_VoltageClass->clear();
        w.Edt_NameplateC->clear();
        w.Edt_NameplateDf->clear();
        b.edit->setText(b.text);
        w.Btn_SpecimenSave->click();
        EXPECT_TRUE(w.Lbl_SpecimenHint->text().contains(QStringLiteral("没有保存")));
        EXPECT_TRUE(w.Lbl_SpecimenHint->text().contains(b.told))
            << w.Lbl_SpecimenHint->text().toStdString();
        EXPECT_FALSE(stored().Stored);
    }

    // Blanks around a number are fine; the class and a method of its own.
    w.CBox_SpecimenClass->setCurrentIndex(
        w.CBox_SpecimenClass->findData(QStringLiteral("bushing-oip")));
    w.Edt_VoltageClass->setText(QStringLiteral(" 110 "));
    w.Edt_NameplateC->setText(QStringLiteral("  1000  "));
    w.CBox_NameplateCUnit->setCurrentIndex(w.CBox_NameplateCUnit->findText(QStringLiteral("pF")));
    w.Edt_NameplateDf->setText(QStringLiteral("0.3 "));
    w.CBox_Method->setCurrentIndex(w.CBox_Method->findData(QStringLiteral("exponential-1.3")));
    w.Btn_SpecimenSave->click();
    EXPECT_TRUE(w.Lbl_SpecimenHint->text().contains(QStringLiteral("已保存")));
    const archive::Specimen s = stored();
    ASSERT_TRUE(s.Stored);
    EXPECT_EQ(s.Class, archive::SpecimenClass::BushingOip);
    EXPECT_EQ(s.VoltageClass, 110.0);
    ASSERT_TRUE(s.NameplateC.has_value());
    EXPECT_NEAR(*s.NameplateC, 1e-9, 1e-21);
    EXPECT_EQ(s.NameplateDf, 0.3);
    EXPECT_EQ(s.Method, "exponential-1.3");

    // Judged again at once: 0.5 % at 30 °C is 0.3846 % at 20 °C; 1.2 nF is +20 % critical.
    const QString page = w.Lbl_ArchiveAssessment->toPlainText();
    EXPECT_TRUE(page.contains(QStringLiteral("0.3846 %"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("0.7692"))) << page.toStdString();
    EXPECT_EQ(Cell(w, RowOf(w, cold), Qt::DisplayRole).toString(), QStringLiteral("异常"));
    // The kept values are the measured ones, whatever the method.
    for (const std::string& id : {warm, cold}) {
        const archive::Result kept = *Store(f).Get(id).Value;
        EXPECT_EQ(kept.Quantities[1].Value, 0.5);
    }
    Shot(&w, "specimen-panel.png");

    // Back to the class's default: the measured value again, nothing corrected.
    w.CBox_Method->setCurrentIndex(0);
    EXPECT_TRUE(w.CBox_Method->currentText().contains(QStringLiteral("none")));
    w.Btn_SpecimenSave->click();
    EXPECT_EQ(stored().Method, "");
    EXPECT_FALSE(w.Lbl_ArchiveAssessment->toPlainText().contains(QStringLiteral("0.3846")));

    // The panel shows what is stored when the result is opened again; in nanofarads above 10 nF.
    archive::Archive& store = Store(f);
    archive::Specimen big = stored();
    big.NameplateC = 22e-9;
    ASSERT_EQ(store.SetSpecimen(big), "");
    w.OpenRow(RowOf(w, cold));
    EXPECT_EQ(w.Edt_NameplateC->text(), QStringLiteral("22"));
    EXPECT_EQ(w.CBox_NameplateCUnit->currentText(), QStringLiteral("nF"));
    EXPECT_EQ(w.Edt_VoltageClass->text(), QStringLiteral("110"));

    // The profiles judge every result: by all, the code's limits join the nameplate's.
    w.CBox_Profile->setCurrentIndex(w.CBox_Profile->findData(QStringLiteral("all")));
    EXPECT_TRUE(w.Lbl_ArchiveAssessment->toPlainText().contains(QStringLiteral("dlt596/")))
        << w.Lbl_ArchiveAssessment->toPlainText().toStdString();
}

TEST(Assessment, TheTrendAgainstTemperaturePlotsEachJudgedPointInItsLevelsColour) {
    Fixture f({}, false);
    std::string first;
    {
        auto a = Seed(f);
        ASSERT_EQ(a->SetSpecimen(Bushing("B1")), ""); // compared with the nameplate 1 nF
        first = Add(*a, Make("B1", "2016-05-01", 1.0, 0.3, 35.0));
        Add(*a, Make("B1", "2017-05-01", 1.07, 0.3, 12.0));
        Add(*a, Make("B1", "2018-05-01", 1.2, 0.3, 25.0));
        Add(*a, Make("B1", "2019-05-01", 1.0, 0.3, std::nullopt));
    }
    f.Open(f.Sim->DevicePath());
    TfrmArchive& w = OpenArchiveWindow(f);
    w.resize(1400, 800);
    w.OpenRow(RowOf(w, first));
    w.Btn_ArchiveTrend->click();
    ASSERT_EQ(w.Nbk_Archive->currentIndex(), 1);
    EXPECT_EQ(w.TrendPoints().size(), 4u);
    w.CBox_TrendAxis->setCurrentIndex(w.CBox_TrendAxis->findText(QStringLiteral("按温度")));

    // Three results have a temperature: by rising temperature, each in its level's colour.
    ASSERT_EQ(w.TemperaturePoints().size(), 3u);
    EXPECT_EQ(w.TemperaturePoints()[0].Temperature, 12.0);
    EXPECT_EQ(w.TemperaturePoints()[1].Temperature, 25.0);
    EXPECT_EQ(w.TemperaturePoints()[2].Temperature, 35.0);
    QChart* chart = w.Chart_Trend->chart();
    ASSERT_EQ(chart->series().size(), 2);
    auto* cap = qobject_cast<QScatterSeries*>(chart->series()[0]);
    ASSERT_NE(cap, nullptr);
    ASSERT_EQ(cap->count(), 3);
    EXPECT_DOUBLE_EQ(cap->at(0).x(), 12.0);
    EXPECT_NEAR(cap->at(1).y(), 1.2, 1e-9);                    // nF
    const char* colours[] = {"#F9A825", "#C62828", "#2E7D32"}; // +7 %, +20 %, 0 %
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(
            cap->pointConfiguration(k).value(QXYSeries::PointConfiguration::Color).value<QColor>(),
            QColor(QString::fromLatin1(colours[k])))
            << k;
    }
    ASSERT_EQ(w.LView_Trend->rowCount(), 3);
    EXPECT_EQ(w.LView_Trend->item(1, 5)->text(), QStringLiteral("异常"));
    EXPECT_TRUE(w.Lbl_TrendSummary->text().contains(QStringLiteral("1个没有温度")));
    QApplication::processEvents();
    Shot(&w, "trend-temperature.png");

    // By date again: every result.
    w.CBox_TrendAxis->setCurrentIndex(0);
    EXPECT_EQ(w.TrendPoints().size(), 4u);
    EXPECT_TRUE(w.TemperaturePoints().empty());
}

TEST(Assessment, TheSpecimenReportNamesTheSpecimenItsValuesTheSourcesAndTheSignatureFields) {
    Fixture f({}, false);
    std::string id, alone;
    {
        auto a = Seed(f);
        archive::Specimen s = Bushing(U8(QStringLiteral("2#主变 高压套管A相")));
        s.Method = "exponential-1.3";
        ASSERT_EQ(a->SetSpecimen(s), "");
        id = Add(*a, Make(s.Name, "2016-05-01", 1.0, 0.5, 30.0));
        Add(*a, Make(s.Name, "2018-05-01", 1.12, 0.4, 20.0));
        alone = Add(*a, Make("", "2019-05-01", 1.0, 0.5));
    }
    f.Open(f.Sim->DevicePath());
    TfrmArchive& w = OpenArchiveWindow(f);
    w.OpenRow(RowOf(w, alone));
    EXPECT_FALSE(w.Btn_SpecimenReport->isEnabled());
    w.OpenRow(RowOf(w, id));
    ASSERT_TRUE(w.Btn_SpecimenReport->isEnabled());

    // Printing asks for the printer; cancelled there, nothing more happens.
    f.Dialogs.Choices.push_back(1);
    w.Btn_SpecimenReport->click();
    EXPECT_EQ(f.Dialogs.PrinterDialogs, 1);

    const std::string pdf = f.Home.File("specimen.pdf");
    f.Dialogs.Choices.push_back(0);
    f.Dialogs.Files.push_back(QString::fromStdString(pdf));
    w.Btn_SpecimenReport->click();
    ASSERT_TRUE(fs::exists(pdf)) << f.Dialogs.LastText().toStdString();
    const QString text = PdfText(QString::fromStdString(pdf));
    if (!qgetenv("DIELMON_SHOTS").isEmpty()) {
        fs::copy_file(pdf, qgetenv("DIELMON_SHOTS").toStdString() + "/specimen-report.pdf",
                      fs::copy_options::overwrite_existing);
    }
    for (const QString& part :
         {QStringLiteral("2#主变 高压套管A相"), QStringLiteral("油纸电容式套管"),
          QStringLiteral("110 kV"), QStringLiteral("1 nF"), QStringLiteral("0.5"),
          QStringLiteral("0.3846"), QStringLiteral("0.7692"), QStringLiteral("异常"),
          QStringLiteral("IEEE Std 62"), QStringLiteral("exponential-1.3"),
          QStringLiteral("试验人员"), QStringLiteral("审核"), QStringLiteral("签字"),
          QStringLiteral("日期")}) {
        EXPECT_TRUE(text.contains(part)) << part.toStdString() << "\n" << text.toStdString();
    }
    // A file that cannot be written: a message, no crash.
    EXPECT_FALSE(
        w.WriteSpecimenReport(QString::fromStdString(f.Home.File("no/such/dir/r.pdf"))).isEmpty());
}

TEST(Assessment, TheLiveResultIsJudgedInItsSpecimensHistoryBesideTheSpecifiedTexts) {
    Fixture f;
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    QLabel* label = f.W<QLabel>("Lbl_Assessment");
    // No specimen: nothing to judge by, and the page as it was without the label.
    EXPECT_TRUE(label->text().isEmpty());
    EXPECT_TRUE(label->isHidden());
    f.Click("BitBtn6");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));

    // A specimen whose nameplate lies well below what the instrument measures.
    auto* specimen = f.W<QLineEdit>("Edt_Specimen");
    specimen->setText(QStringLiteral("T1"));
    emit specimen->textEdited(specimen->text());
    emit specimen->editingFinished();
    const auto rows = Store(f).List({}, std::nullopt, 1).Value;
    ASSERT_EQ(rows.size(), 1u);
    const archive::Result before = *Store(f).Get(rows[0].Id).Value;
    ASSERT_FALSE(before.Quantities.empty());
    ASSERT_TRUE(before.Quantities[0].Value.has_value());
    archive::Specimen s;
    s.Name = "T1";
    s.Class = archive::SpecimenClass::BushingOip;
    s.NameplateC = *before.Quantities[0].Value / 1.2;
    ASSERT_EQ(Store(f).SetSpecimen(s), "");

    const std::string title = Text(f.W("Lbl_ShowState"));
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    EXPECT_TRUE(label->text().contains(QStringLiteral("异常"))) << label->text().toStdString();
    EXPECT_TRUE(label->text().contains(QStringLiteral("nameplate/capacitance")))
        << label->text().toStdString();
    EXPECT_TRUE(label->toolTip().contains(QStringLiteral("IEEE Std 62")));
    EXPECT_TRUE(label->styleSheet().contains(QStringLiteral("#C62828")));
    EXPECT_TRUE(label->isVisible());
    // The specified texts are as they were.
    EXPECT_EQ(Text(f.W("Lbl_ShowState")), title);
    Shot(f.Window.get(), "live-assessment.png");
    f.Click("BitBtn6");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));

    // A record opened from the instrument takes no specimen: nothing to judge on "ShowOne".
    QLabel* one = f.W<QLabel>("Lbl_AssessmentOne");
    const auto open = [&f] {
        f.Click("BBtn_UpHis");
        ASSERT_TRUE(WaitUntil([&] {
            return f.OnPages("HisData", "ShowAll") &&
                   f.W<QTableWidget>("LView_History")->rowCount() > 2;
        }));
        f.W<QTableWidget>("LView_History")->selectRow(2);
        f.Click("BitBtn7");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowOne"); }));
    };
    open();
    EXPECT_TRUE(one->text().isEmpty()) << one->text().toStdString();
    EXPECT_TRUE(label->text().contains(QStringLiteral("异常"))); // the test's stays its own
    // Given the specimen in the archive, the record opened again is judged in its history.
    std::string record;
    for (const archive::Row& r : Store(f).List({}, std::nullopt, 10).Value) {
        if (r.From == archive::Source::Instrument) {
            record = r.Id;
        }
    }
    ASSERT_FALSE(record.empty());
    ASSERT_EQ(Store(f).SetConditions(record, {"T1", 20.0, 50.0}), "");
    f.Click("BitBtn12");
    ASSERT_TRUE(WaitUntil([&] { return !f.OnPages("HisData", "ShowOne"); }));
    open();
    EXPECT_TRUE(one->text().startsWith(QStringLiteral("判断："))) << one->text().toStdString();
    EXPECT_TRUE(one->toolTip().contains(QStringLiteral("nameplate/capacitance")));
}
