// The result archive in the real window against the simulator: results kept as they come with
// the specimen and conditions typed, the archive's window (list, result, trend, save, print,
// export, deletion), 下载全部记录, and the archive's faults: a full disk, a newer or damaged
// archive, two windows on one archive, specimen names of every kind.
#include "archive/archive.h"
#include "archive/keeper.h"
#include "archivewindow.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "core/resultfile.h"
#include "core/texts.h"
#include "fixture.h"
#include "sim/payloads.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateEdit>
#include <QLineSeries>
#include <QMenuBar>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <csignal>
#include <filesystem>
#include <sqlite3.h>
#include <sys/resource.h>

using namespace dielmon;
using namespace dielmon::test;
namespace fs = std::filesystem;

namespace {

// This file is compiled to GBK: texts meant as UTF-8 are written as QString literals.
std::string U8(const QString& text) {
    return text.toStdString();
}

// As the operator types it: every change reported, the field left at the end.
void Type(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    emit edit->textEdited(text);
    emit edit->editingFinished();
}

void RunTest(Fixture& f) {
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
}

void RunAndReturn(Fixture& f) {
    RunTest(f);
    f.Click("BitBtn6");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
}

archive::Archive& Store(Fixture& f) {
    archive::Archive* a = f.Window->Keeper().Store();
    EXPECT_NE(a, nullptr);
    return *a;
}

archive::Result Newest(archive::Archive& a) {
    const auto rows = a.List({}, std::nullopt, 1);
    EXPECT_EQ(rows.Value.size(), 1u) << rows.Error;
    return a.Get(rows.Value.at(0).Id).Value.value();
}

ResultTexts OnShowState(const Fixture& f) {
    return {Text(f.W("Lbl_ShowState")), Text(f.W("LblCxRx")), Text(f.W("Label19"))};
}

TfrmArchive& OpenArchiveWindow(Fixture& f) {
    f.Trigger("N_ArchiveOpen");
    TfrmArchive* w = f.Window->ArchiveWindow();
    EXPECT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    return *w;
}

template <typename T = QWidget>
T* In(const QWidget* window, const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void Pause(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(5);
    }
}

// Messages shown so far that contain the text.
int Told(const Fixture& f, const QString& part) {
    return static_cast<int>(std::count_if(f.Dialogs.Messages.begin(), f.Dialogs.Messages.end(),
                                          [&](const auto& m) { return m.Text.contains(part); }));
}

} // namespace

TEST(ArchiveWindow, EveryResultIsKeptWithTheConditionsTypedAlsoDuringATest) {
    Fixture f;
    // The additions come after the specified menu items and below the specified groups.
    QStringList menu;
    for (QAction* a : f.Window->menuBar()->actions()) {
        menu << a->objectName();
    }
    EXPECT_EQ(menu, (QStringList{"N1", "N2", "N9", "N3", "N4", "N5", "N6", "N_Archive"}));
    QWidget* cvt = f.W("GroupBox3");
    QWidget* group = f.W("GroupBox_Conditions");
    EXPECT_GE(group->y(), cvt->y() + cvt->height());
    EXPECT_EQ(group->parentWidget(), cvt->parentWidget());

    f.Connect();
    auto* specimen = f.W<QLineEdit>("Edt_Specimen");
    auto* temperature = f.W<QLineEdit>("Edt_Temperature");
    auto* humidity = f.W<QLineEdit>("Edt_Humidity");
    auto* hint = f.W<QLabel>("Lbl_ConditionsHint");
    Type(specimen, QStringLiteral("T1 套管"));
    QTest::keyClicks(temperature, QStringLiteral("23,5"));
    QTest::keyClicks(humidity, QStringLiteral("6l"));
    // A clear mark, and nothing that stops the operator.
    EXPECT_TRUE(humidity->property("invalid").toBool());
    EXPECT_FALSE(temperature->property("invalid").toBool());
    EXPECT_TRUE(hint->text().contains(QStringLiteral("湿度")));
    EXPECT_FALSE(humidity->toolTip().isEmpty());
    EXPECT_TRUE(f.Dialogs.Messages.empty());

    // The fields tell the instrument nothing: they stay usable while the test runs, and the
    // result takes what they hold when it comes.
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "UpVolt"); }));
    EXPECT_FALSE(f.W("CBox_ConnType")->isEnabled());
    for (QLineEdit* e : {specimen, temperature, humidity}) {
        EXPECT_TRUE(e->isEnabled());
        EXPECT_FALSE(e->isReadOnly());
    }
    humidity->clear();
    QTest::keyClicks(humidity, QStringLiteral("61"));
    EXPECT_FALSE(humidity->property("invalid").toBool());
    EXPECT_TRUE(hint->text().isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));

    const archive::Result first = Newest(Store(f));
    EXPECT_EQ(first.Taken, (archive::Conditions{U8(QStringLiteral("T1 套管")), 23.5, 61}));
    EXPECT_EQ(first.From, archive::Source::Test);
    EXPECT_EQ(first.Texts, OnShowState(f));
    EXPECT_EQ(first.Config.InstrumentType, 5);
    EXPECT_TRUE(first.Config.TestVoltage.has_value());
    EXPECT_FALSE(first.Frame.empty());

    // Kept for the following results until changed; blanks are "not given".
    f.Click("BitBtn6");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
    Type(temperature, QString());
    RunTest(f);
    const archive::Result second = Newest(Store(f));
    EXPECT_EQ(second.Taken.Specimen, first.Taken.Specimen);
    EXPECT_EQ(second.Taken.Temperature, std::nullopt);
    EXPECT_EQ(second.Taken.Humidity, 61);
    EXPECT_EQ(Store(f).Count({}).Value, 2);
    EXPECT_TRUE(f.Dialogs.Messages.empty());

    // Remembered for the next run, in a file of our own beside the archive.
    f.Window.reset();
    f.Open(f.Sim->DevicePath());
    EXPECT_EQ(f.W<QLineEdit>("Edt_Specimen")->text(), QStringLiteral("T1 套管"));
    EXPECT_EQ(f.W<QLineEdit>("Edt_Temperature")->text(), QString());
    EXPECT_EQ(f.W<QLineEdit>("Edt_Humidity")->text(), QStringLiteral("61"));
    EXPECT_TRUE(fs::exists(f.Home.File("Conditions.txt")));
    EXPECT_EQ(ReadAll(f.Home.File("Config.ini")).find("T1"), std::string::npos);
}

TEST(ArchiveWindow, ListsNewestFirstOpensAResultAsItsPageShowedItAndFollowsTheTrend) {
    Fixture f;
    f.Connect();
    Type(f.W<QLineEdit>("Edt_Specimen"), QStringLiteral("T2"));
    RunAndReturn(f);
    RunTest(f);
    const ResultTexts last = OnShowState(f);

    TfrmArchive& w = OpenArchiveWindow(f);
    // A window of its own that never blocks the main window.
    EXPECT_TRUE(w.isWindow());
    EXPECT_EQ(w.windowModality(), Qt::NonModal);
    EXPECT_EQ(w.parentWidget(), nullptr);
    EXPECT_EQ(w.Model().Total(), 2);
    ASSERT_EQ(w.Model().rowCount(), 2);
    EXPECT_GE(w.Model().RowAt(0).Measured, w.Model().RowAt(1).Measured);
    const auto cell = [&](int row, int column) {
        return w.Model().data(w.Model().index(row, column), Qt::DisplayRole).toString();
    };
    EXPECT_EQ(cell(0, ArchiveListModel::Specimen), QStringLiteral("T2"));
    EXPECT_EQ(cell(0, ArchiveListModel::Mode), QStringLiteral("反接线"));
    EXPECT_EQ(cell(0, ArchiveListModel::Origin), QStringLiteral("测试"));
    EXPECT_EQ(cell(0, ArchiveListModel::Host), QString::fromStdString(Store(f).Host()));
    EXPECT_TRUE(cell(0, ArchiveListModel::Main).startsWith(QStringLiteral("Cx：")));
    EXPECT_TRUE(w.Lbl_ArchiveCount->text().contains(QStringLiteral("2")));

    // The newest opened: the three texts as its page showed them, on the half-cell grid.
    w.OpenRow(0);
    ASSERT_TRUE(w.Shown().has_value());
    EXPECT_EQ(w.Lbl_ArchiveTitle->GbkText(), last.Title);
    EXPECT_EQ(w.Lbl_ArchiveMain->GbkText(), last.Main);
    EXPECT_EQ(w.Lbl_ArchiveDetails->GbkText(), last.Details);
    EXPECT_TRUE(w.Lbl_ArchiveMain->HalfCellGrid());
    EXPECT_TRUE(w.Lbl_ArchiveDetails->HalfCellGrid());
    EXPECT_EQ(w.Edt_ArchiveSpecimen->text(), QStringLiteral("T2"));

    // The main window goes on with the archive's window open, and the list follows.
    f.Click("BitBtn6");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
    RunTest(f);
    EXPECT_EQ(w.Model().Total(), 3);
    EXPECT_EQ(w.Model().rowCount(), 3);
    // The result on show stays the one the operator opened.
    EXPECT_EQ(w.Lbl_ArchiveTitle->GbkText(), last.Title);

    // Saved and printed exactly as a live result.
    const std::string saved = f.Home.File("saved.txt");
    f.Dialogs.Files.push_back(QString::fromStdString(saved));
    w.Btn_ArchiveSave->click();
    EXPECT_EQ(ReadAll(saved), ResultFileRun(last));
    EXPECT_TRUE(f.Dialogs.Starts.back().endsWith(QStringLiteral(".txt")));
    const std::string pdf = f.Home.File("report.pdf");
    f.Dialogs.Files.push_back(QString::fromStdString(pdf));
    w.Btn_ArchivePrint->click();
    if (Told(f, QStringLiteral("没有安装打印机")) > 0) {
        EXPECT_EQ(ReadAll(pdf).rfind("%PDF", 0), 0u);
    }

    // The trend of the specimen: three results, each with its date.
    w.Btn_ArchiveTrend->click();
    EXPECT_EQ(w.Nbk_Archive->currentIndex(), 1);
    ASSERT_EQ(w.TrendPoints().size(), 3u);
    QChart* chart = w.Chart_Trend->chart();
    ASSERT_EQ(chart->series().size(), 2);
    for (QAbstractSeries* s : chart->series()) {
        EXPECT_EQ(static_cast<QLineSeries*>(s)->count(), 3);
    }
    EXPECT_TRUE(chart->series()[0]->name().contains(QStringLiteral("nF")));
    EXPECT_TRUE(chart->series()[1]->name().contains(QStringLiteral("%")));
    ASSERT_EQ(w.LView_Trend->rowCount(), 3);
    EXPECT_EQ(w.LView_Trend->item(0, 3)->text(), QStringLiteral("+0.00"));
    const archive::TrendPoint& p = w.TrendPoints()[2];
    EXPECT_EQ(w.LView_Trend->item(2, 0)->text(),
              QString::fromStdString(p.Measured).replace(QLatin1Char('T'), QLatin1Char(' ')));
    EXPECT_EQ(w.LView_Trend->item(2, 3)->text(), QString::asprintf("%+.2f", *p.Change));
    EXPECT_TRUE(w.Lbl_TrendSummary->text().contains(QStringLiteral("3")));
    // Each point tells its date, its values and the change when the pointer rests on it.
    QApplication::processEvents();
    auto* cap = static_cast<QLineSeries*>(chart->series()[0]);
    const QPoint at =
        w.Chart_Trend->mapFromScene(chart->mapToScene(chart->mapToPosition(cap->at(2), cap)));
    const QString tip = w.TrendTipAt(at);
    EXPECT_TRUE(tip.startsWith(w.LView_Trend->item(2, 0)->text())) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("比第一次变化 ") + w.LView_Trend->item(2, 3)->text()))
        << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("nF")));
    EXPECT_TRUE(w.TrendTipAt(QPoint(1, 1)).isEmpty());
}

TEST(ArchiveWindow, FiltersEditsExportsAndDeletesAndFillsALongListAsItScrolls) {
    Fixture f({}, false);
    {
        // 700 results of three specimens over two years, in two wiring modes.
        archive::Opened opened = archive::Archive::Open(f.Home.File("Archive.db"));
        ASSERT_NE(opened.Store, nullptr);
        for (int k = 0; k < 700; ++k) {
            const sim::SingleResult v{10,   0.0148f, 500,     500,    1, 4.7f + k * 0.001f,
                                      0.4f, 89.7f,   0.0045f, 0.0007f};
            const sim::DateStamp date{static_cast<std::uint8_t>(15 + k % 2),
                                      static_cast<std::uint8_t>(1 + k % 12),
                                      static_cast<std::uint8_t>(1 + k % 28),
                                      9,
                                      0,
                                      0};
            const auto frame = BuildFrame(RspFinalResult, sim::EncodeFinalResult({v, date}));
            PanelSelection s;
            const int mode = k % 7 == 0 ? 1 : 2;
            s.ConnType = IndexToWiringMode(mode);
            s.Standard = texts::kInternalStandard;
            s.Frequency = "50Hz";
            s.TestVolt = texts::kInternalHighVoltage;
            s.ModelIndex = 0;
            archive::Result r =
                archive::FromTest(frame.data(), static_cast<int>(frame.size()), s, nullptr, 5);
            r.Taken.Specimen = U8(QStringLiteral("套管%1").arg(k % 3));
            ASSERT_TRUE(opened.Store->Add(r).Ok());
        }
    }
    f.Open(f.Sim->DevicePath());
    TfrmArchive& w = OpenArchiveWindow(f);
    EXPECT_EQ(w.Model().Total(), 700);
    EXPECT_EQ(w.Model().rowCount(), ArchiveListModel::kPage);
    // Scrolled to the end, the list fetches on.
    for (int k = 0; k < 10 && w.Model().rowCount() < 700; ++k) {
        w.LView_Archive->scrollToBottom();
        QApplication::processEvents();
    }
    EXPECT_EQ(w.Model().rowCount(), 700);
    for (int r = 1; r < 700; ++r) {
        ASSERT_GE(w.Model().RowAt(r - 1).Measured, w.Model().RowAt(r).Measured) << r;
    }

    // Filters: a part of a name, a date range, a wiring mode.
    w.Edt_FilterSpecimen->setText(QStringLiteral("管1"));
    ASSERT_TRUE(WaitUntil([&] { return w.Model().Total() == 233; }, 3000)) << w.Model().Total();
    w.Chk_Since->setChecked(true);
    w.Dtp_Since->setDate(QDate(2016, 1, 1));
    EXPECT_LT(w.Model().Total(), 233);
    EXPECT_GT(w.Model().Total(), 0);
    for (int r = 0; r < w.Model().rowCount(); ++r) {
        EXPECT_GE(w.Model().RowAt(r).Measured, "2016-01-01");
    }
    w.Chk_Since->setChecked(false);
    w.CBox_FilterMode->setCurrentIndex(w.CBox_FilterMode->findData(1));
    EXPECT_EQ(w.Model().Total(), 33);
    EXPECT_TRUE(w.Lbl_ArchiveCount->text().contains(QStringLiteral("33")));

    // The filtered list to CSV, on a thread of its own.
    const std::string csv = f.Home.File("list.csv");
    f.Dialogs.Files.push_back(QString::fromStdString(csv));
    w.Btn_ArchiveExport->click();
    EXPECT_TRUE(f.Dialogs.Starts.back().endsWith(QStringLiteral(".csv")));
    ASSERT_TRUE(WaitUntil([&] { return !w.Exporting(); }, 10000));
    const std::string table = ReadAll(csv);
    EXPECT_EQ(table.rfind("\xEF\xBB\xBF"
                          "id,measured",
                          0),
              0u);
    std::size_t rows = 0;
    for (auto at = table.find(",test,"); at != std::string::npos;
         at = table.find(",test,", at + 1)) {
        ++rows;
    }
    EXPECT_EQ(rows, 33u);
    EXPECT_TRUE(f.Dialogs.LastText().contains(QStringLiteral("33")));
    EXPECT_FALSE(fs::exists(csv + ".part"));

    // Specimen and conditions changed afterwards; an invalid number is refused with a hint.
    w.OpenRow(0);
    const std::string id = w.Shown()->Id;
    w.Edt_ArchiveSpecimen->setText(QStringLiteral("套管9"));
    w.Edt_ArchiveTemperature->setText(QStringLiteral("-5"));
    w.Edt_ArchiveHumidity->setText(QStringLiteral("200"));
    w.Btn_ArchiveConditions->click();
    EXPECT_FALSE(w.Lbl_ArchiveHint->text().isEmpty());
    EXPECT_EQ(Store(f).Get(id).Value->Taken.Specimen, U8(QStringLiteral("套管1")));
    w.Edt_ArchiveHumidity->setText(QStringLiteral("40"));
    w.Btn_ArchiveConditions->click();
    EXPECT_EQ(Store(f).Get(id).Value->Taken,
              (archive::Conditions{U8(QStringLiteral("套管9")), -5.0, 40.0}));
    EXPECT_EQ(w.Model().data(w.Model().index(0, ArchiveListModel::Specimen), Qt::DisplayRole),
              QStringLiteral("套管9"));

    // Deleted only after the question is answered.
    const auto before = Store(f).Count({}).Value;
    f.Dialogs.Answers.push_back(Dialogs::Answer::Cancel);
    w.Btn_ArchiveDelete->click();
    EXPECT_EQ(Store(f).Count({}).Value, before);
    EXPECT_EQ(f.Dialogs.Messages.back().Choice, Dialogs::Buttons::OkCancel);
    f.Dialogs.Answers.push_back(Dialogs::Answer::Ok);
    w.Btn_ArchiveDelete->click();
    EXPECT_EQ(Store(f).Count({}).Value, before - 1);
    EXPECT_FALSE(Store(f).Get(id).Value.has_value());
    EXPECT_EQ(w.Model().Total(), 32);
    ASSERT_TRUE(w.Shown().has_value());
    EXPECT_NE(w.Shown()->Id, id);
}

TEST(ArchiveWindow, DownloadingEveryRecordKeepsThemOnceWithProgressAndCancel) {
    Fixture f({"--records", "12"});
    // Refused without an instrument.
    f.Trigger("N_ArchiveDownload");
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kConnectFirst));
    EXPECT_FALSE(f.Window->DownloadDialog()->isVisible());
    f.Connect();

    // A record opened on the history page is kept at once.
    f.Click("BBtn_UpHis");
    ASSERT_TRUE(WaitUntil([&] { return f.W<QTableWidget>("LView_History")->rowCount() == 12; }));
    f.W<QTableWidget>("LView_History")->selectRow(2);
    f.Click("BitBtn7");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowOne"); }));
    EXPECT_EQ(Newest(Store(f)).Record, 3);
    EXPECT_EQ(Newest(Store(f)).Taken, archive::Conditions{});
    const std::string label22 = Text(f.W("Label22"));

    // Every record, with its progress; the page stays as it was.
    f.Dialogs.Messages.clear();
    f.Trigger("N_ArchiveDownload");
    QDialog* dialog = f.Window->DownloadDialog();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    int highest = 0;
    ASSERT_TRUE(WaitUntil([&] {
        highest = std::max(highest, f.W<QProgressBar>("ProgBar_Download")->value());
        return !f.Window->Controller().Downloading();
    }));
    EXPECT_GT(highest, 0);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(f.OnPages("HisData", "ShowOne"));
    EXPECT_EQ(Text(f.W("Label22")), label22);
    ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(f.Dialogs.LastText(),
              QStringLiteral("仪器中的12条记录已全部读取：新存入档案11条，档案中已有1条。"));
    EXPECT_EQ(Store(f).Count({}).Value, 12);
    archive::Filter instrument;
    std::set<int> numbers;
    Store(f).ForEach(instrument, [&](const archive::Result& r) {
        EXPECT_EQ(r.From, archive::Source::Instrument);
        numbers.insert(r.Record.value_or(0));
        return true;
    });
    EXPECT_EQ(numbers.size(), 12u);

    // Again: nothing new.
    f.Trigger("N_ArchiveDownload");
    ASSERT_TRUE(WaitUntil([&] { return !f.Window->Controller().Downloading(); }));
    EXPECT_TRUE(f.Dialogs.LastText().contains(QStringLiteral("新存入档案0条，档案中已有12条")));

    // Cancelled: the answers on their way are nobody's, the window is as before.
    f.Click("BitBtn12");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowAll"); }));
    f.Trigger("N_ArchiveDownload");
    f.Click("Btn_DownloadCancel");
    EXPECT_FALSE(f.Window->Controller().Downloading());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(f.Dialogs.LastText().startsWith(QStringLiteral("下载已取消")));
    Pause(1000);
    EXPECT_TRUE(f.OnPages("HisData", "ShowAll"));

    // During a test it is refused.
    f.Click("BitBtn9");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
    f.Click("BBtn_StartTest");
    f.Trigger("N_ArchiveDownload");
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kStopTestFirst));
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
}

TEST(ArchiveFaults, AFullDiskStillShowsAndSavesTheResultAndTellsOnce) {
    Fixture f;
    f.Connect();
    RunAndReturn(f);
    ASSERT_EQ(Store(f).Count({}).Value, 1);
    const std::string wal = f.Home.File("Archive.db-wal");
    ASSERT_TRUE(fs::exists(wal));
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    auto full = [&] {
        // The archive's files may not grow: a full disk for them, room for a small text file.
        const rlimit limit{static_cast<rlim_t>(fs::file_size(wal)), RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    auto room = [] {
        const rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const QString told = QStringLiteral("这个结果没有存入结果档案");
    full();
    RunTest(f);
    EXPECT_EQ(Told(f, told), 1);
    EXPECT_TRUE(f.Dialogs.Messages.back().Text.contains(QStringLiteral("磁盘已满")));
    const ResultTexts shown = OnShowState(f);
    EXPECT_FALSE(shown.Main.empty());
    // Still saved to a text file.
    const std::string saved = f.Home.File("kept.txt");
    f.Dialogs.Files.push_back(QString::fromStdString(saved));
    f.Trigger("N3");
    EXPECT_EQ(ReadAll(saved), ResultFileRun(shown));
    f.Click("BitBtn6");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
    RunAndReturn(f);
    EXPECT_EQ(Told(f, told), 1); // not once per result
    room();
    RunAndReturn(f);
    EXPECT_EQ(Store(f).Count({}).Value, 2);
    full();
    RunAndReturn(f);
    EXPECT_EQ(Told(f, told), 2); // again after a result was kept in between
    room();
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(Store(f).IntegrityCheck(), "ok");
    EXPECT_EQ(Store(f).Count({}).Value, 2);
}

TEST(ArchiveFaults, ANewerArchiveOpensReadOnlyWithAMessage) {
    Fixture f({}, false);
    {
        archive::Opened opened = archive::Archive::Open(f.Home.File("Archive.db"));
        ASSERT_NE(opened.Store, nullptr);
        archive::Result r;
        r.Texts = {"title", "main", "details"};
        r.Measured = "2016-01-01T10:00:00";
        r.Taken.Specimen = "old";
        ASSERT_TRUE(opened.Store->Add(r).Ok());
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(f.Home.File("Archive.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string before = ReadAll(f.Home.File("Archive.db"));

    f.Open(f.Sim->DevicePath());
    ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
    EXPECT_TRUE(f.Dialogs.LastText().contains(QStringLiteral("较新版本的程序")));
    f.Connect();
    RunAndReturn(f);
    RunTest(f);
    EXPECT_EQ(f.Dialogs.Messages.size(), 1u);
    // Nothing read from the instrument could be kept: it is not asked.
    const auto sent = f.SentFrames().size();
    f.Trigger("N_ArchiveDownload");
    EXPECT_TRUE(f.Dialogs.LastText().contains(QStringLiteral("无法下载")));
    EXPECT_FALSE(f.Window->Controller().Downloading());
    EXPECT_EQ(f.SentFrames().size(), sent);
    f.Dialogs.Messages.pop_back();
    TfrmArchive& w = OpenArchiveWindow(f);
    EXPECT_EQ(w.Model().Total(), 1);
    EXPECT_TRUE(w.Lbl_ArchiveState->text().contains(QStringLiteral("只能查看")));
    w.OpenRow(0);
    EXPECT_FALSE(w.Btn_ArchiveDelete->isEnabled());
    EXPECT_FALSE(w.Btn_ArchiveConditions->isEnabled());
    EXPECT_TRUE(w.Btn_ArchiveSave->isEnabled());
    EXPECT_EQ(f.Dialogs.Messages.size(), 1u);
    f.Window.reset();
    EXPECT_EQ(ReadAll(f.Home.File("Archive.db")), before);
}

TEST(ArchiveFaults, ADamagedArchiveIsNeverWrittenAndTheProgramRunsOn) {
    Fixture f({}, false);
    const std::string bytes = std::string("SQLite format 3\0", 16) + std::string(5000, '\x13');
    WriteAll(f.Home.File("Archive.db"), bytes);
    f.Open(f.Sim->DevicePath());
    ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
    EXPECT_TRUE(f.Dialogs.LastText().contains(QStringLiteral("不会被改写")));
    f.Connect();
    RunAndReturn(f);
    RunTest(f);
    EXPECT_FALSE(Text(f.W("LblCxRx")).empty());
    EXPECT_EQ(f.Dialogs.Messages.size(), 1u);
    TfrmArchive& w = OpenArchiveWindow(f);
    EXPECT_EQ(w.Model().Total(), 0);
    EXPECT_TRUE(w.Lbl_ArchiveState->text().contains(QStringLiteral("无法使用")));
    EXPECT_FALSE(w.Btn_ArchiveExport->isEnabled());
    f.Trigger("N_ArchiveOpen");
    EXPECT_EQ(f.Dialogs.Messages.size(), 1u);
    f.Window.reset();
    EXPECT_EQ(ReadAll(f.Home.File("Archive.db")), bytes);
    EXPECT_FALSE(fs::exists(f.Home.File("Archive.db-wal")));
}

TEST(ArchiveFaults, TwoWindowsOnOneArchiveBothKeepEveryResult) {
    Fixture f;
    SimInstrument otherSim(std::vector<std::string>{"--speed", "100"});
    WindowSetup setup;
    setup.AppPath = f.Home.Home();
    setup.Port = otherSim.DevicePath();
    setup.TimeSource = &f.Clock;
    setup.DialogSource = &f.Dialogs;
    auto other = std::make_unique<TfrmDielmon>(setup);
    other->show();
    f.Connect();
    other->N7->trigger();
    ASSERT_TRUE(WaitUntil([&] { return other->BBtn_StartTest->isEnabled(); }));
    for (int round = 0; round < 3; ++round) {
        // Both tests end at about the same time.
        f.Click("BBtn_StartTest");
        other->BBtn_StartTest->click();
        ASSERT_TRUE(WaitUntil([&] {
            return f.OnPages("Default", "ShowState") &&
                   other->Nbk_Sstate->ActivePage() == QLatin1String("ShowState");
        }));
        f.Click("BitBtn6");
        other->BitBtn6->click();
        ASSERT_TRUE(WaitUntil([&] {
            return f.OnPages("Default", "DefPage") &&
                   other->Nbk_Sstate->ActivePage() == QLatin1String("DefPage");
        }));
    }
    EXPECT_TRUE(f.Dialogs.Messages.empty());
    EXPECT_EQ(Store(f).Count({}).Value, 6);
    EXPECT_EQ(other->Keeper().Store()->Count({}).Value, 6);
    EXPECT_EQ(Store(f).IntegrityCheck(), "ok");
}

TEST(ArchiveFaults, SpecimenNamesAreStoredAndShownAsTyped) {
    Fixture f;
    f.Connect();
    RunAndReturn(f);
    const ResultTexts plain = Newest(Store(f)).Texts;
    const QString names[] = {
        QStringLiteral("O'Brien \"套管\" 'B'"),
        QStringLiteral("x'); DROP TABLE results; --"),
        QStringLiteral("한국어 변압기 😀 𠀀 Ελληνικά"),
        QString(1 << 20, QLatin1Char('M')) + QStringLiteral("尾"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.left(30).toStdString());
        Type(f.W<QLineEdit>("Edt_Specimen"), name);
        RunAndReturn(f);
        const archive::Result r = Newest(Store(f));
        EXPECT_EQ(r.Taken.Specimen, U8(name));
        // The specified labels keep their GBK texts, untouched by the name.
        EXPECT_EQ(r.Texts.Title, plain.Title);
    }
    EXPECT_EQ(Store(f).Count({}).Value, 5);
    EXPECT_EQ(Store(f).IntegrityCheck(), "ok");

    TfrmArchive& w = OpenArchiveWindow(f);
    for (int row = 0; row < 4; ++row) {
        const QString& name = names[3 - row];
        w.OpenRow(row);
        EXPECT_EQ(w.Edt_ArchiveSpecimen->text(), name) << row;
        const QString cell =
            w.Model()
                .data(w.Model().index(row, ArchiveListModel::Specimen), Qt::DisplayRole)
                .toString();
        EXPECT_TRUE(name.startsWith(cell.chopped(cell.endsWith(QChar(0x2026)) ? 1 : 0))) << row;
    }
    // Found again by a part of the name, quotes and all.
    w.Edt_FilterSpecimen->setText(QStringLiteral("\"套管\""));
    w.Refresh();
    EXPECT_EQ(w.Model().Total(), 1);
    w.Edt_FilterSpecimen->setText(QStringLiteral("DROP TABLE"));
    w.Refresh();
    EXPECT_EQ(w.Model().Total(), 1);
    // The trend chooser offers the long name shortened, and keeps it whole.
    w.Edt_FilterSpecimen->clear();
    w.Refresh();
    w.ShowTrend(U8(names[3]));
    EXPECT_EQ(w.CBox_TrendSpecimen->currentData().toString(), names[3]);
    EXPECT_LT(w.CBox_TrendSpecimen->currentText().size(), 100);
    EXPECT_EQ(w.TrendPoints().size(), 1u);
    // Remembered as typed for the next run.
    f.Window.reset();
    f.Open(f.Sim->DevicePath());
    EXPECT_EQ(f.W<QLineEdit>("Edt_Specimen")->text(), names[3]);
}
