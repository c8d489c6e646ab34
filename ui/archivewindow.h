// The window of the result archive: every kept result, newest first, found by specimen, date
// and wiring mode; one result opened with the texts its page showed, printed and saved as a
// live one, its specimen and conditions changed, deleted after a question; a specimen's trend;
// the list exported as CSV. A top-level window of its own and never modal, so that the
// operator browses while a test runs. The list is filled page by page as it is scrolled, so
// that an archive of any size opens at once.
#pragma once

#include "archive/archive.h"
#include "archive/keeper.h"
#include "assess/assess.h"
#include "assess/report.h"
#include "core/clock.h"
#include "dialogs.h"
#include "judging.h"
#include "widgets.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <atomic>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QChartView;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTextBrowser;
class QTimer;

namespace dielmon {

class TfrmDielmon;

// The archive's list for a view: the filter's count, and its rows fetched a page at a time
// through the archive's cursor as the view asks for more. A row's verdict is judged when the
// view first asks for it, that is when the row is shown, and kept until ForgetVerdicts. The
// judging itself follows the paint, a few rows at a time between the window's other events: a
// row's specimen history is read for it, and the list must show at once however many
// specimens its first rows hold.
class ArchiveListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Measured, Specimen, Mode, Verdict, Main, Origin, Host, ColumnCount };
    static constexpr int kPage = 200;

    explicit ArchiveListModel(QObject* parent = nullptr);

    // Who judges the rows' results; nobody: the verdict column stays empty.
    void SetJudge(ResultJudge* judge) { Judge_ = judge; }
    // The verdicts are judged again as they are shown.
    void ForgetVerdicts();
    // How many rows have been judged since the list was filled or the verdicts forgotten.
    int JudgedRows() const { return static_cast<int>(Verdicts_.size()); }
    // Rows shown whose verdict is still to come.
    bool Judging() const { return !Waiting_.empty(); }

    // The results the filter leaves: counted, and the first page read. Empty text: done.
    std::string Query(archive::Archive* store, const archive::Filter& f);
    std::int64_t Total() const { return Total_; }
    const archive::Row& RowAt(int row) const { return Rows_.at(static_cast<std::size_t>(row)); }
    int RowOf(const std::string& id) const; // -1 when it is not fetched
    void SetSpecimen(int row, const std::string& specimen);
    void Remove(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct RowVerdict {
        std::optional<assess::Level> Overall;
        QString Tip;
    };
    const RowVerdict& VerdictOf(const archive::Row& r) const;
    RowVerdict Judged(const archive::Row& r) const;
    void JudgeWaiting();

    archive::Archive* Store_ = nullptr;
    ResultJudge* Judge_ = nullptr;
    mutable std::map<std::string, RowVerdict> Verdicts_; // by result id
    mutable std::deque<std::string> Waiting_;            // ids shown, not judged yet
    mutable bool JudgeQueued_ = false;
    archive::Filter Filter_;
    std::vector<archive::Row> Rows_;
    std::int64_t Total_ = 0;
    bool End_ = true;
};

class TfrmArchive : public QWidget {
    Q_OBJECT
public:
    TfrmArchive(TfrmDielmon& main, archive::ResultKeeper& keeper, Dialogs& dialogs,
                const Clock& clock);
    ~TfrmArchive() override;

    // The list again with the filters; the result on show stays selected where it is listed.
    void Refresh();
    // A result has been kept meanwhile.
    void ResultsChanged();
    // Shows the result of a row of the list on the page "结果".
    void OpenRow(int row);
    // The trend of a specimen on the page "趋势".
    void ShowTrend(const std::string& specimen);

    ArchiveListModel& Model() { return *Model_; }
    const std::optional<archive::Result>& Shown() const { return Shown_; }
    // The points of the trend on show, oldest first.
    const std::vector<archive::TrendPoint>& TrendPoints() const { return Points_; }
    bool Exporting() const { return Exporting_.load(); }
    // What the trend chart tells of the point under `at` (the chart's viewport coordinates):
    // its date and values; empty away from every point.
    QString TrendTipAt(const QPoint& at) const;
    // The points of the trend against temperature on show, by rising temperature.
    const std::vector<assess::TemperaturePoint>& TemperaturePoints() const {
        return TemperaturePoints_;
    }
    // The specimen report of the result on show as a PDF file; empty text: written.
    QString WriteSpecimenReport(const QString& path);

    // Controls, by objectName.
    QLineEdit* Edt_FilterSpecimen = nullptr;
    QCheckBox *Chk_Since = nullptr, *Chk_Until = nullptr;
    QDateEdit *Dtp_Since = nullptr, *Dtp_Until = nullptr;
    QComboBox* CBox_FilterMode = nullptr;
    QLabel* Lbl_ArchiveCount = nullptr;
    QPushButton* Btn_ArchiveExport = nullptr;
    QTableView* LView_Archive = nullptr;
    QTabWidget* Nbk_Archive = nullptr;
    QLabel* Lbl_ArchiveInfo = nullptr;
    TextLabel *Lbl_ArchiveTitle = nullptr, *Lbl_ArchiveMain = nullptr,
              *Lbl_ArchiveDetails = nullptr;
    QLineEdit *Edt_ArchiveSpecimen = nullptr, *Edt_ArchiveTemperature = nullptr,
              *Edt_ArchiveHumidity = nullptr;
    QLabel* Lbl_ArchiveHint = nullptr;
    QPushButton *Btn_ArchiveConditions = nullptr, *Btn_ArchivePrint = nullptr,
                *Btn_ArchiveSave = nullptr, *Btn_ArchiveTrend = nullptr,
                *Btn_ArchiveDelete = nullptr;
    QComboBox *CBox_TrendSpecimen = nullptr, *CBox_TrendSeries = nullptr;
    QChartView* Chart_Trend = nullptr;
    QLabel* Lbl_TrendSummary = nullptr;
    QTableWidget* LView_Trend = nullptr;
    QWidget* Pnl_ArchiveState = nullptr; // the strip at the bottom: the archive's state
    QLabel* Lbl_ArchiveState = nullptr;
    // The assessment: the verdicts of the result on show, its specimen's facts, the trend
    // against temperature and the specimen's report.
    QTextBrowser* Lbl_ArchiveAssessment = nullptr;
    QGroupBox* Grp_Specimen = nullptr;
    QLabel* Lbl_SpecimenName = nullptr;
    QComboBox *CBox_SpecimenClass = nullptr, *CBox_NameplateCUnit = nullptr,
              *CBox_Reference = nullptr, *CBox_Method = nullptr, *CBox_Profile = nullptr;
    QLineEdit *Edt_VoltageClass = nullptr, *Edt_NameplateC = nullptr, *Edt_NameplateDf = nullptr;
    QPushButton *Btn_SpecimenSave = nullptr, *Btn_SpecimenReport = nullptr;
    QLabel* Lbl_SpecimenHint = nullptr;
    QComboBox* CBox_TrendAxis = nullptr;
    QLabel* Lbl_SyncState = nullptr; // the lab's server: last synchronisation, waiting, error
    QPushButton* Btn_SyncNow = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildFilters();
    QWidget* BuildResultPage();
    QWidget* BuildTrendPage();
    QWidget* BuildSpecimenPage();
    ResultJudge& Judge();
    // Everything judged again: a specimen, a result or the profiles changed.
    void Rejudge();
    void ShowAssessment();
    void ShowSpecimen();
    void SaveSpecimen();
    void SpecimenReportClicked();
    bool BuildReport(assess::SpecimenReport& report, QString& error);
    void DrawTemperatureTrend(const std::string& specimen, const archive::Series& s);
    archive::Filter CurrentFilter() const;
    void ShowCount();
    void ShowResult(std::optional<archive::Result> r);
    void SaveConditions();
    void DeleteShown();
    void Export();
    void FillTrendSpecimens();
    void FillSeries();
    void DrawTrend();
    void Message(const QString& text, Dialogs::Icon icon);
    void ShowSyncState();
    archive::Archive* Store();

    TfrmDielmon& Main_;
    archive::ResultKeeper& Keeper_;
    Dialogs& Dialogs_;
    const Clock& Clock_;
    ArchiveListModel* Model_ = nullptr;
    QTimer* FilterDelay_ = nullptr;
    std::optional<archive::Result> Shown_;
    std::vector<archive::Series> Series_;
    std::vector<archive::TrendPoint> Points_;
    std::vector<assess::TemperaturePoint> TemperaturePoints_;
    double TrendScale_ = 1e9; // farads to the unit the chart shows
    QString TrendUnit_;
    bool SpecimensStale_ = true;
    bool Filtered_ = false;
    std::thread Export_;
    std::atomic<bool> Exporting_{false};
};

} // namespace dielmon
