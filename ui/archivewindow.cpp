#include "archivewindow.h"

#include "archive/export.h"
#include "core/gbk.h"
#include "core/texts.h"
#include "labserver.h"
#include "mainwindow.h"
#include "qtgbk.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace dielmon {

namespace {

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A name as a cell or a choice shows it: very long names end in "…", the whole name is kept.
QString Shortened(const std::string& utf8, int characters) {
    const QString text = Utf8(utf8);
    return text.size() > characters ? text.left(characters) + QChar(0x2026) : text;
}

QString MeasuredText(const std::string& iso) {
    if (iso.empty()) {
        return QStringLiteral("（无日期）");
    }
    QString t = Utf8(iso);
    if (t.size() > 10 && t[10] == QLatin1Char('T')) {
        t[10] = QLatin1Char(' ');
    }
    return t;
}

QString ModeText(const std::optional<int>& mode) {
    const std::string text = archive::WiringModeText(mode);
    return text.empty() ? QStringLiteral("（未知）") : Utf8(text);
}

QString OriginText(archive::Source from, const std::optional<int>& record) {
    switch (from) {
    case archive::Source::Test:
        return QStringLiteral("测试");
    case archive::Source::Instrument:
        return record ? QStringLiteral("仪器记录 %1").arg(*record) : QStringLiteral("仪器记录");
    case archive::Source::File:
        return QStringLiteral("文件");
    }
    return {};
}

QDateTime MeasuredTime(const std::string& iso) {
    return QDateTime::fromString(Utf8(iso), Qt::ISODate);
}

TextLabel* ResultLabel(const QString& name, Qt::Alignment align, QWidget* parent,
                       bool bold = false) {
    auto* l = new TextLabel(name, parent);
    l->setFont(SongFont(27, bold));
    l->setAlignment(align);
    l->setWordWrap(false);
    return l;
}

QPushButton* Button(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setMinimumSize(88, 28);
    return b;
}

// The filtered list as a CSV file, read with a connection of its own on the exporting thread;
// written beside the file and moved into place, so that a failed export leaves no half table.
std::string ExportTo(const std::string& archivePath, const archive::Filter& f,
                     const std::string& target) {
    archive::OpenOptions o;
    o.Create = false;
    o.ReadOnly = true;
    archive::Opened opened = archive::Archive::Open(archivePath, o);
    if (!opened.Store) {
        return opened.Error;
    }
    const std::string part = target + ".part";
    std::string error;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        if (!out) {
            return std::strerror(errno);
        }
        error = archive::ExportCsv(*opened.Store, f, out);
        out.close();
        if (error.empty() && !out) {
            error = std::strerror(errno);
        }
    }
    std::error_code ec;
    if (error.empty()) {
        std::filesystem::rename(part, target, ec);
        if (ec) {
            error = ec.message();
        }
    }
    if (!error.empty()) {
        std::filesystem::remove(part, ec);
    }
    return error;
}

} // namespace

// The list.

ArchiveListModel::ArchiveListModel(QObject* parent) : QAbstractTableModel(parent) {}

std::string ArchiveListModel::Query(archive::Archive* store, const archive::Filter& f) {
    beginResetModel();
    Store_ = store;
    Filter_ = f;
    Rows_.clear();
    Total_ = 0;
    End_ = true;
    std::string error;
    if (store != nullptr) {
        const auto count = store->Count(f);
        const auto page = count.Ok() ? store->List(f, std::nullopt, kPage)
                                     : archive::Outcome<std::vector<archive::Row>>{};
        if (!count.Ok()) {
            error = count.Error;
        } else if (!page.Ok()) {
            error = page.Error;
        } else {
            Total_ = count.Value;
            Rows_ = page.Value;
            End_ = static_cast<int>(Rows_.size()) < kPage;
        }
    }
    endResetModel();
    return error;
}

int ArchiveListModel::RowOf(const std::string& id) const {
    for (std::size_t k = 0; k < Rows_.size(); ++k) {
        if (Rows_[k].Id == id) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

void ArchiveListModel::SetSpecimen(int row, const std::string& specimen) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    Rows_[static_cast<std::size_t>(row)].Specimen = specimen;
    emit dataChanged(index(row, Specimen), index(row, Specimen));
}

void ArchiveListModel::Remove(int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    beginRemoveRows({}, row, row);
    Rows_.erase(Rows_.begin() + row);
    --Total_;
    endRemoveRows();
}

int ArchiveListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
}

int ArchiveListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ArchiveListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const auto row = static_cast<std::size_t>(index.row());
    const archive::Row& r = Rows_[row];
    if (role == Qt::ToolTipRole && index.column() == Specimen) {
        return Shortened(r.Specimen, 2000);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case Measured:
        return MeasuredText(r.Measured);
    case Specimen:
        return Shortened(r.Specimen, 200);
    case Mode:
        return ModeText(r.WiringMode);
    case Main:
        return Utf8(archive::MainInOneLine(r.Main));
    case Origin:
        return OriginText(r.From, r.Record);
    case Host:
        return Utf8(r.Host);
    default:
        return {};
    }
}

QVariant ArchiveListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case Measured:
        return QStringLiteral("测量时间");
    case Specimen:
        return QStringLiteral("试品");
    case Mode:
        return QStringLiteral("接线方式");
    case Main:
        return QStringLiteral("主要结果");
    case Origin:
        return QStringLiteral("来源");
    case Host:
        return QStringLiteral("计算机");
    default:
        return {};
    }
}

bool ArchiveListModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !End_ && Store_ != nullptr && !Rows_.empty();
}

void ArchiveListModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) {
        return;
    }
    const auto page = Store_->List(Filter_, archive::CursorAfter(Rows_.back()), kPage);
    if (!page.Ok() || page.Value.empty()) {
        End_ = true;
        return;
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(page.Value.size()) - 1);
    Rows_.insert(Rows_.end(), page.Value.begin(), page.Value.end());
    endInsertRows();
    End_ = static_cast<int>(page.Value.size()) < kPage;
}

// The window.

TfrmArchive::TfrmArchive(TfrmDielmon& main, archive::ResultKeeper& keeper, Dialogs& dialogs,
                         const Clock& clock)
    : QWidget(nullptr, Qt::Window), Main_(main), Keeper_(keeper), Dialogs_(dialogs), Clock_(clock) {
    setObjectName(QStringLiteral("frmArchive"));
    setWindowTitle(QStringLiteral("结果档案"));
    setFont(SongFont(13));
    resize(1240, 720);

    auto* v = new QVBoxLayout(this);
    v->addWidget(BuildFilters());

    Model_ = new ArchiveListModel(this);
    LView_Archive = new QTableView(this);
    LView_Archive->setObjectName(QStringLiteral("LView_Archive"));
    LView_Archive->setModel(Model_);
    LView_Archive->setSelectionBehavior(QAbstractItemView::SelectRows);
    LView_Archive->setSelectionMode(QAbstractItemView::SingleSelection);
    LView_Archive->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LView_Archive->setWordWrap(false);
    LView_Archive->setTextElideMode(Qt::ElideRight);
    LView_Archive->verticalHeader()->hide();
    LView_Archive->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    LView_Archive->verticalHeader()->setDefaultSectionSize(24);
    LView_Archive->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {140, 140, 96, 230, 84, 90};
    for (int c = 0; c < ArchiveListModel::ColumnCount; ++c) {
        LView_Archive->setColumnWidth(c, widths[c]);
    }
    connect(LView_Archive->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    OpenRow(current.row());
                }
            });
    connect(LView_Archive, &QTableView::doubleClicked, this,
            [this] { Nbk_Archive->setCurrentIndex(0); });

    Nbk_Archive = new QTabWidget(this);
    Nbk_Archive->setObjectName(QStringLiteral("Nbk_Archive"));
    Nbk_Archive->addTab(BuildResultPage(), QStringLiteral("结果"));
    Nbk_Archive->addTab(BuildTrendPage(), QStringLiteral("趋势"));
    connect(Nbk_Archive, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == 1 && SpecimensStale_) {
            if (Shown_ && !Shown_->Taken.Specimen.empty()) {
                ShowTrend(Shown_->Taken.Specimen);
            } else {
                FillTrendSpecimens();
            }
        }
    });

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("Spl_Archive"));
    split->addWidget(LView_Archive);
    split->addWidget(Nbk_Archive);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({600, 600});
    v->addWidget(split, 1);

    Pnl_ArchiveState = new QWidget(this);
    Pnl_ArchiveState->setObjectName(QStringLiteral("Pnl_ArchiveState"));
    auto* state = new QHBoxLayout(Pnl_ArchiveState);
    state->setContentsMargins(0, 0, 0, 0);
    Lbl_ArchiveState = new QLabel(Pnl_ArchiveState);
    Lbl_ArchiveState->setObjectName(QStringLiteral("Lbl_ArchiveState"));
    Lbl_ArchiveState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    state->addWidget(Lbl_ArchiveState, 1);
    Lbl_SyncState = new QLabel(Pnl_ArchiveState);
    Lbl_SyncState->setObjectName(QStringLiteral("Lbl_SyncState"));
    Lbl_SyncState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Lbl_SyncState->setWordWrap(true);
    state->addWidget(Lbl_SyncState, 2);
    Btn_SyncNow = new QPushButton(QStringLiteral("立即同步"), Pnl_ArchiveState);
    Btn_SyncNow->setObjectName(QStringLiteral("Btn_SyncNow"));
    state->addWidget(Btn_SyncNow);
    v->addWidget(Pnl_ArchiveState);
    LabSync& lab = Main_.Lab();
    connect(Btn_SyncNow, &QPushButton::clicked, this, [&lab] { lab.SyncNow(); });
    connect(&lab, &LabSync::StatusChanged, this, &TfrmArchive::ShowSyncState);
    // The whole lab's results, as soon as a synchronisation has brought others.
    connect(&lab, &LabSync::Pulled, this, &TfrmArchive::ResultsChanged);
    ShowSyncState();

    FilterDelay_ = new QTimer(this);
    FilterDelay_->setSingleShot(true);
    FilterDelay_->setInterval(250);
    connect(FilterDelay_, &QTimer::timeout, this, &TfrmArchive::Refresh);

    ShowResult(std::nullopt);
    Refresh();
}

TfrmArchive::~TfrmArchive() {
    if (Export_.joinable()) {
        Export_.join();
    }
}

QWidget* TfrmArchive::BuildFilters() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("Pnl_ArchiveFilters"));
    auto* h = new QHBoxLayout(bar);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(new QLabel(QStringLiteral("试品："), bar));
    Edt_FilterSpecimen = new QLineEdit(bar);
    Edt_FilterSpecimen->setObjectName(QStringLiteral("Edt_FilterSpecimen"));
    Edt_FilterSpecimen->setPlaceholderText(QStringLiteral("名称中含有的文字"));
    Edt_FilterSpecimen->setClearButtonEnabled(true);
    Edt_FilterSpecimen->setMinimumWidth(160);
    connect(Edt_FilterSpecimen, &QLineEdit::textChanged, this, [this] { FilterDelay_->start(); });
    h->addWidget(Edt_FilterSpecimen);

    const QDate today =
        QDate(ToLocal(Clock_.Now()).year, ToLocal(Clock_.Now()).month, ToLocal(Clock_.Now()).day);
    auto date = [&](const QString& check, const QString& name, QCheckBox*& box, QDateEdit*& edit,
                    const QString& caption, const QDate& start) {
        box = new QCheckBox(caption, bar);
        box->setObjectName(check);
        edit = new QDateEdit(start, bar);
        edit->setObjectName(name);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
        connect(box, &QCheckBox::toggled, edit, &QWidget::setEnabled);
        connect(box, &QCheckBox::toggled, this, &TfrmArchive::Refresh);
        connect(edit, &QDateEdit::dateChanged, this, [this, box] {
            if (box->isChecked()) {
                Refresh();
            }
        });
        h->addWidget(box);
        h->addWidget(edit);
    };
    date(QStringLiteral("Chk_Since"), QStringLiteral("Dtp_Since"), Chk_Since, Dtp_Since,
         QStringLiteral("从"), today.addYears(-1));
    date(QStringLiteral("Chk_Until"), QStringLiteral("Dtp_Until"), Chk_Until, Dtp_Until,
         QStringLiteral("到"), today);

    h->addWidget(new QLabel(QStringLiteral("接线方式："), bar));
    CBox_FilterMode = new QComboBox(bar);
    CBox_FilterMode->setObjectName(QStringLiteral("CBox_FilterMode"));
    CBox_FilterMode->addItem(QStringLiteral("全部"), 0);
    for (int mode = 1; mode <= 5; ++mode) {
        CBox_FilterMode->addItem(Utf8(archive::WiringModeText(mode)), mode);
    }
    connect(CBox_FilterMode, &QComboBox::currentIndexChanged, this, &TfrmArchive::Refresh);
    h->addWidget(CBox_FilterMode);

    Lbl_ArchiveCount = new QLabel(bar);
    Lbl_ArchiveCount->setObjectName(QStringLiteral("Lbl_ArchiveCount"));
    h->addWidget(Lbl_ArchiveCount, 1);
    Btn_ArchiveExport =
        Button(QStringLiteral("Btn_ArchiveExport"), QStringLiteral("导出CSV…"), bar);
    connect(Btn_ArchiveExport, &QPushButton::clicked, this, &TfrmArchive::Export);
    h->addWidget(Btn_ArchiveExport);
    return bar;
}

QWidget* TfrmArchive::BuildResultPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Pg_ArchiveResult"));
    auto* v = new QVBoxLayout(page);
    Lbl_ArchiveInfo = new QLabel(page);
    Lbl_ArchiveInfo->setObjectName(QStringLiteral("Lbl_ArchiveInfo"));
    Lbl_ArchiveInfo->setWordWrap(true);
    Lbl_ArchiveInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->addWidget(Lbl_ArchiveInfo);

    // The three texts as the pages "ShowOne" and "UpHis" show them.
    auto* texts = new QWidget;
    texts->setObjectName(QStringLiteral("Pnl_ArchiveTexts"));
    auto* t = new QVBoxLayout(texts);
    t->setContentsMargins(0, 0, 0, 0);
    t->setSpacing(0);
    Lbl_ArchiveTitle = ResultLabel(QStringLiteral("Lbl_ArchiveTitle"), Qt::AlignCenter, texts);
    Lbl_ArchiveTitle->setFixedHeight(35);
    Lbl_ArchiveMain = ResultLabel(QStringLiteral("Lbl_ArchiveMain"),
                                  Qt::AlignHCenter | Qt::AlignBottom, texts, true);
    Lbl_ArchiveMain->setMinimumHeight(122);
    Lbl_ArchiveMain->SetHalfCellGrid(true);
    Lbl_ArchiveDetails =
        ResultLabel(QStringLiteral("Lbl_ArchiveDetails"), Qt::AlignHCenter | Qt::AlignTop, texts);
    Lbl_ArchiveDetails->SetHalfCellGrid(true);
    t->addWidget(Lbl_ArchiveTitle);
    t->addWidget(Lbl_ArchiveMain);
    t->addWidget(Lbl_ArchiveDetails, 1);
    v->addWidget(ScrollPage(texts), 1);

    auto* conditions = new QWidget(page);
    conditions->setObjectName(QStringLiteral("Pnl_ArchiveConditions"));
    auto* g = new QGridLayout(conditions);
    g->setContentsMargins(0, 0, 0, 0);
    Edt_ArchiveSpecimen = new QLineEdit(conditions);
    Edt_ArchiveSpecimen->setObjectName(QStringLiteral("Edt_ArchiveSpecimen"));
    Edt_ArchiveSpecimen->setMaxLength(1 << 22);
    Edt_ArchiveTemperature = new QLineEdit(conditions);
    Edt_ArchiveTemperature->setObjectName(QStringLiteral("Edt_ArchiveTemperature"));
    Edt_ArchiveTemperature->setPlaceholderText(QStringLiteral("未测"));
    Edt_ArchiveTemperature->setMaximumWidth(80);
    Edt_ArchiveHumidity = new QLineEdit(conditions);
    Edt_ArchiveHumidity->setObjectName(QStringLiteral("Edt_ArchiveHumidity"));
    Edt_ArchiveHumidity->setPlaceholderText(QStringLiteral("未测"));
    Edt_ArchiveHumidity->setMaximumWidth(80);
    Btn_ArchiveConditions =
        Button(QStringLiteral("Btn_ArchiveConditions"), QStringLiteral("保存修改"), conditions);
    g->addWidget(new QLabel(QStringLiteral("试品："), conditions), 0, 0);
    g->addWidget(Edt_ArchiveSpecimen, 0, 1, 1, 5);
    g->addWidget(new QLabel(QStringLiteral("温度（°C）："), conditions), 1, 0);
    g->addWidget(Edt_ArchiveTemperature, 1, 1);
    g->addWidget(new QLabel(QStringLiteral("相对湿度（%）："), conditions), 1, 2);
    g->addWidget(Edt_ArchiveHumidity, 1, 3);
    g->addWidget(Btn_ArchiveConditions, 1, 5);
    g->setColumnStretch(4, 1);
    Lbl_ArchiveHint = new QLabel(conditions);
    Lbl_ArchiveHint->setObjectName(QStringLiteral("Lbl_ArchiveHint"));
    Lbl_ArchiveHint->setStyleSheet(QStringLiteral("color: #c00000;"));
    g->addWidget(Lbl_ArchiveHint, 2, 0, 1, 6);
    connect(Btn_ArchiveConditions, &QPushButton::clicked, this, &TfrmArchive::SaveConditions);
    connect(Edt_ArchiveSpecimen, &QLineEdit::returnPressed, this, &TfrmArchive::SaveConditions);
    v->addWidget(conditions);

    auto* buttons = new QHBoxLayout;
    Btn_ArchivePrint = Button(QStringLiteral("Btn_ArchivePrint"), QStringLiteral("打印"), page);
    Btn_ArchiveSave = Button(QStringLiteral("Btn_ArchiveSave"), QStringLiteral("保存"), page);
    Btn_ArchiveTrend = Button(QStringLiteral("Btn_ArchiveTrend"), QStringLiteral("趋势"), page);
    Btn_ArchiveDelete = Button(QStringLiteral("Btn_ArchiveDelete"), QStringLiteral("删除"), page);
    buttons->addStretch(1);
    for (QPushButton* b :
         {Btn_ArchivePrint, Btn_ArchiveSave, Btn_ArchiveTrend, Btn_ArchiveDelete}) {
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    v->addLayout(buttons);
    // Printed and saved exactly as a result on show in the main window.
    connect(Btn_ArchivePrint, &QPushButton::clicked, this, [this] {
        if (Shown_) {
            Main_.PrintResult(this, Shown_->Texts);
        }
    });
    connect(Btn_ArchiveSave, &QPushButton::clicked, this, [this] {
        if (Shown_) {
            Main_.SaveResult(this, Shown_->Texts);
        }
    });
    connect(Btn_ArchiveTrend, &QPushButton::clicked, this, [this] {
        if (Shown_) {
            ShowTrend(Shown_->Taken.Specimen);
        }
    });
    connect(Btn_ArchiveDelete, &QPushButton::clicked, this, &TfrmArchive::DeleteShown);
    return page;
}

QWidget* TfrmArchive::BuildTrendPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Pg_ArchiveTrend"));
    auto* v = new QVBoxLayout(page);
    auto* choose = new QHBoxLayout;
    choose->addWidget(new QLabel(QStringLiteral("试品："), page));
    CBox_TrendSpecimen = new QComboBox(page);
    CBox_TrendSpecimen->setObjectName(QStringLiteral("CBox_TrendSpecimen"));
    CBox_TrendSpecimen->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    CBox_TrendSpecimen->setMinimumContentsLength(16);
    choose->addWidget(CBox_TrendSpecimen, 2);
    choose->addWidget(new QLabel(QStringLiteral("测量项："), page));
    CBox_TrendSeries = new QComboBox(page);
    CBox_TrendSeries->setObjectName(QStringLiteral("CBox_TrendSeries"));
    CBox_TrendSeries->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    CBox_TrendSeries->setMinimumContentsLength(14);
    choose->addWidget(CBox_TrendSeries, 1);
    v->addLayout(choose);
    connect(CBox_TrendSpecimen, &QComboBox::currentIndexChanged, this, &TfrmArchive::FillSeries);
    connect(CBox_TrendSeries, &QComboBox::currentIndexChanged, this, &TfrmArchive::DrawTrend);

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    Chart_Trend = new QChartView(chart, page);
    Chart_Trend->setObjectName(QStringLiteral("Chart_Trend"));
    Chart_Trend->setRenderHint(QPainter::Antialiasing);
    Chart_Trend->setMinimumHeight(260);
    // Each point tells its date and values when the pointer rests on it.
    Chart_Trend->setMouseTracking(true);
    Chart_Trend->viewport()->setMouseTracking(true);
    Chart_Trend->viewport()->installEventFilter(this);
    v->addWidget(Chart_Trend, 3);
    Lbl_TrendSummary = new QLabel(page);
    Lbl_TrendSummary->setObjectName(QStringLiteral("Lbl_TrendSummary"));
    v->addWidget(Lbl_TrendSummary);

    LView_Trend = new QTableWidget(0, 6, page);
    LView_Trend->setObjectName(QStringLiteral("LView_Trend"));
    LView_Trend->verticalHeader()->hide();
    LView_Trend->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LView_Trend->setSelectionBehavior(QAbstractItemView::SelectRows);
    LView_Trend->horizontalHeader()->setStretchLastSection(true);
    LView_Trend->verticalHeader()->setDefaultSectionSize(22);
    v->addWidget(LView_Trend, 2);
    return page;
}

void TfrmArchive::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    LView_Archive->setFocus();
}

archive::Archive* TfrmArchive::Store() {
    return Keeper_.Store();
}

void TfrmArchive::Message(const QString& text, Dialogs::Icon icon) {
    Dialogs_.Message(this, text, Q(texts::kPrompt), icon, Dialogs::Buttons::Ok);
}

archive::Filter TfrmArchive::CurrentFilter() const {
    archive::Filter f;
    f.Specimen = Edt_FilterSpecimen->text().trimmed().toStdString();
    if (Chk_Since->isChecked()) {
        f.Since = Dtp_Since->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    }
    if (Chk_Until->isChecked()) {
        f.Until = Dtp_Until->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    }
    const int mode = CBox_FilterMode->currentData().toInt();
    if (mode > 0) {
        f.WiringMode = mode;
    }
    return f;
}

void TfrmArchive::Refresh() {
    FilterDelay_->stop();
    archive::Archive* store = Store();
    const archive::Filter f = CurrentFilter();
    const std::string error = Model_->Query(store, f);
    Filtered_ =
        !f.Specimen.empty() || !f.Since.empty() || !f.Until.empty() || f.WiringMode.has_value();
    ShowCount();
    Lbl_ArchiveState->setText(error.empty() ? Utf8(Keeper_.StateText())
                                            : QStringLiteral("档案无法读取：") + Utf8(error));
    Btn_ArchiveExport->setEnabled(store != nullptr && !Exporting_.load());
    SpecimensStale_ = true;
    // The result on show stays selected where the list still holds it.
    if (Shown_) {
        const int row = Model_->RowOf(Shown_->Id);
        if (row >= 0) {
            const QSignalBlocker quiet(LView_Archive->selectionModel());
            LView_Archive->selectionModel()->setCurrentIndex(Model_->index(row, 0),
                                                             QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
        }
    }
    if (Nbk_Archive->currentIndex() == 1) {
        FillTrendSpecimens();
    }
}

void TfrmArchive::ShowSyncState() {
    const LabSync& lab = Main_.Lab();
    const sync::SyncStatus s = lab.Status();
    Lbl_SyncState->setText(SyncStateText(s, Clock_.Now(), std::chrono::steady_clock::now()));
    Lbl_SyncState->setStyleSheet(s.LastError.empty() ? QString()
                                                     : QStringLiteral("color: #c00000;"));
    Btn_SyncNow->setEnabled(lab.Configured() && !s.Running);
}

void TfrmArchive::ShowCount() {
    Lbl_ArchiveCount->setText(Filtered_
                                  ? QStringLiteral("符合条件的结果：%1条").arg(Model_->Total())
                                  : QStringLiteral("共%1条结果").arg(Model_->Total()));
}

void TfrmArchive::ResultsChanged() {
    // A closed window is filled again when it is opened.
    if (isVisible()) {
        Refresh();
    }
}

void TfrmArchive::OpenRow(int row) {
    if (row < 0 || row >= Model_->rowCount()) {
        ShowResult(std::nullopt);
        return;
    }
    const QModelIndex index = Model_->index(row, 0);
    if (LView_Archive->selectionModel()->currentIndex().row() != row) {
        const QSignalBlocker quiet(LView_Archive->selectionModel());
        LView_Archive->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        LView_Archive->scrollTo(index);
    }
    archive::Archive* store = Store();
    if (store == nullptr) {
        return;
    }
    auto got = store->Get(Model_->RowAt(row).Id);
    if (!got.Ok()) {
        Message(QStringLiteral("无法读取这个结果：") + Utf8(got.Error), Dialogs::Icon::Warning);
        return;
    }
    ShowResult(std::move(got.Value));
}

void TfrmArchive::ShowResult(std::optional<archive::Result> r) {
    Shown_ = std::move(r);
    Lbl_ArchiveHint->clear();
    const bool shown = Shown_.has_value();
    for (QWidget* w : std::initializer_list<QWidget*>{
             Btn_ArchivePrint, Btn_ArchiveSave, Btn_ArchiveTrend, Edt_ArchiveSpecimen,
             Edt_ArchiveTemperature, Edt_ArchiveHumidity}) {
        w->setEnabled(shown);
    }
    const bool writable = shown && Store() != nullptr && !Store()->ReadOnly();
    Btn_ArchiveConditions->setEnabled(writable);
    Btn_ArchiveDelete->setEnabled(writable);
    for (QLineEdit* e : {Edt_ArchiveSpecimen, Edt_ArchiveTemperature, Edt_ArchiveHumidity}) {
        e->setReadOnly(!writable);
    }
    if (!shown) {
        Lbl_ArchiveInfo->setText(QStringLiteral("在左边的列表中选择一个结果。"));
        Lbl_ArchiveTitle->SetGbkText({});
        Lbl_ArchiveMain->SetGbkText({});
        Lbl_ArchiveDetails->SetGbkText({});
        Edt_ArchiveSpecimen->clear();
        Edt_ArchiveTemperature->clear();
        Edt_ArchiveHumidity->clear();
        return;
    }
    const archive::Result& res = *Shown_;
    Lbl_ArchiveInfo->setText(
        QStringLiteral("测量时间：%1　　接线方式：%2　　来源：%3\n存档时间：%4　　计算机：%5")
            .arg(MeasuredText(res.Measured), ModeText(res.Config.WiringMode),
                 OriginText(res.From, res.Record), MeasuredText(archive::LocalIso(res.Archived)),
                 Utf8(res.Host)));
    Lbl_ArchiveTitle->SetGbkText(res.Texts.Title);
    Lbl_ArchiveMain->SetGbkText(res.Texts.Main);
    Lbl_ArchiveDetails->SetGbkText(res.Texts.Details);
    Edt_ArchiveSpecimen->setText(Utf8(res.Taken.Specimen));
    Edt_ArchiveSpecimen->setCursorPosition(0);
    Edt_ArchiveTemperature->setText(Utf8(archive::ReadingText(res.Taken.Temperature)));
    Edt_ArchiveHumidity->setText(Utf8(archive::ReadingText(res.Taken.Humidity)));
}

void TfrmArchive::SaveConditions() {
    archive::Archive* store = Store();
    if (!Shown_ || store == nullptr || store->ReadOnly()) {
        return;
    }
    const archive::Reading t =
        archive::ReadTemperature(Edt_ArchiveTemperature->text().toStdString());
    const archive::Reading h = archive::ReadHumidity(Edt_ArchiveHumidity->text().toStdString());
    if (!t.Valid || !h.Valid) {
        Lbl_ArchiveHint->setText(
            Utf8(!t.Valid ? archive::TemperatureHint() : archive::HumidityHint()));
        return;
    }
    const archive::Conditions c{Edt_ArchiveSpecimen->text().toStdString(), t.Value, h.Value};
    const std::string error = store->SetConditions(Shown_->Id, c);
    if (!error.empty()) {
        Message(QStringLiteral("修改没有保存：") + Utf8(error), Dialogs::Icon::Warning);
        return;
    }
    Shown_->Taken = c;
    Main_.Lab().LocalChange();
    Model_->SetSpecimen(Model_->RowOf(Shown_->Id), c.Specimen);
    SpecimensStale_ = true;
    Lbl_ArchiveHint->setText(QStringLiteral("已保存。"));
}

void TfrmArchive::DeleteShown() {
    archive::Archive* store = Store();
    if (!Shown_ || store == nullptr || store->ReadOnly()) {
        return;
    }
    const QString what =
        QStringLiteral("%1　%2　%3")
            .arg(MeasuredText(Shown_->Measured), Shortened(Shown_->Taken.Specimen, 60),
                 Utf8(archive::MainInOneLine(Shown_->Texts.Main)));
    if (Dialogs_.Message(
            this, QStringLiteral("确定要从结果档案中删除这个结果吗？删除后不能恢复。\n\n") + what,
            Q(texts::kPrompt), Dialogs::Icon::Question,
            Dialogs::Buttons::OkCancel) != Dialogs::Answer::Ok) {
        return;
    }
    const std::string error = store->Delete(Shown_->Id);
    if (!error.empty()) {
        Message(QStringLiteral("结果没有删除：") + Utf8(error), Dialogs::Icon::Warning);
        return;
    }
    const int row = Model_->RowOf(Shown_->Id);
    Model_->Remove(row);
    ShowCount();
    SpecimensStale_ = true;
    ShowResult(std::nullopt);
    if (row >= 0 && Model_->rowCount() > 0) {
        OpenRow(std::min(row, Model_->rowCount() - 1));
    }
}

void TfrmArchive::Export() {
    if (Exporting_.load() || Store() == nullptr) {
        return;
    }
    const QString path =
        Main_.AskSaveFile(this, QStringLiteral("介质损耗结果档案"), QStringLiteral("csv"),
                          QStringLiteral("*.csv(CSV表格) (*.csv)"));
    if (path.isEmpty()) {
        return;
    }
    // The table replaces the file: ask first.
    if (QFileInfo::exists(path) &&
        Dialogs_.Message(this, QStringLiteral("文件“%1”已经存在。\n要替换它吗？").arg(path),
                         Q(texts::kPrompt), Dialogs::Icon::Question,
                         Dialogs::Buttons::OkCancel) != Dialogs::Answer::Ok) {
        return;
    }
    if (Export_.joinable()) {
        Export_.join();
    }
    Exporting_ = true;
    Btn_ArchiveExport->setEnabled(false);
    Lbl_ArchiveState->setText(QStringLiteral("正在导出……"));
    const std::int64_t count = Model_->Total();
    const std::string archivePath = Keeper_.ArchivePath();
    const archive::Filter f = CurrentFilter();
    const std::string target = QFile::encodeName(path).toStdString();
    // A long walk through the archive on a thread of its own: the window and the live display
    // go on meanwhile.
    Export_ = std::thread([this, archivePath, f, target, path, count] {
        const std::string error = ExportTo(archivePath, f, target);
        QMetaObject::invokeMethod(
            this,
            [this, error, path, count] {
                Exporting_ = false;
                Btn_ArchiveExport->setEnabled(Store() != nullptr);
                Lbl_ArchiveState->setText(Utf8(Keeper_.StateText()));
                if (error.empty()) {
                    Message(QStringLiteral("已把%1条结果导出到文件“%2”。")
                                .arg(QString::number(count), path),
                            Dialogs::Icon::Information);
                } else {
                    Message(QStringLiteral("无法导出到文件“%1”：%2").arg(path, Utf8(error)),
                            Dialogs::Icon::Warning);
                }
            },
            Qt::QueuedConnection);
    });
}

// The trend.

void TfrmArchive::ShowTrend(const std::string& specimen) {
    Nbk_Archive->setCurrentIndex(1); // fills the choices when they are stale
    if (SpecimensStale_) {
        FillTrendSpecimens();
    }
    const int at = CBox_TrendSpecimen->findData(Utf8(specimen));
    if (at >= 0 && at != CBox_TrendSpecimen->currentIndex()) {
        CBox_TrendSpecimen->setCurrentIndex(at);
    }
    // The series of the result on show, when it has one.
    if (Shown_ && Shown_->Taken.Specimen == specimen) {
        for (std::size_t k = 0; k < Series_.size(); ++k) {
            if (Series_[k].WiringMode == Shown_->Config.WiringMode) {
                CBox_TrendSeries->setCurrentIndex(static_cast<int>(k));
                break;
            }
        }
    }
}

void TfrmArchive::FillTrendSpecimens() {
    SpecimensStale_ = false;
    archive::Archive* store = Store();
    const QString current = CBox_TrendSpecimen->currentData().toString();
    const QSignalBlocker quiet(CBox_TrendSpecimen);
    CBox_TrendSpecimen->clear();
    if (store != nullptr) {
        const auto names = store->Specimens();
        for (const std::string& name : names.Value) {
            CBox_TrendSpecimen->addItem(Shortened(name, 80), Utf8(name));
        }
    }
    const int at = CBox_TrendSpecimen->findData(current);
    CBox_TrendSpecimen->setCurrentIndex(at >= 0 ? at : 0);
    FillSeries();
}

void TfrmArchive::FillSeries() {
    archive::Archive* store = Store();
    const std::string specimen = CBox_TrendSpecimen->currentData().toString().toStdString();
    const int previous = CBox_TrendSeries->currentIndex();
    const std::optional<archive::Series> was =
        previous >= 0 && previous < static_cast<int>(Series_.size())
            ? std::optional<archive::Series>(Series_[static_cast<std::size_t>(previous)])
            : std::nullopt;
    Series_.clear();
    if (store != nullptr && !specimen.empty()) {
        Series_ = store->SeriesOf(specimen).Value;
    }
    const QSignalBlocker quiet(CBox_TrendSeries);
    CBox_TrendSeries->clear();
    int keep = 0;
    for (std::size_t k = 0; k < Series_.size(); ++k) {
        const archive::Series& s = Series_[k];
        CBox_TrendSeries->addItem(ModeText(s.WiringMode) + QLatin1Char(' ') + Utf8(s.Capacitance) +
                                  QLatin1Char('/') + Utf8(s.Dissipation));
        if (was && *was == s) {
            keep = static_cast<int>(k);
        }
    }
    CBox_TrendSeries->setCurrentIndex(Series_.empty() ? -1 : keep);
    DrawTrend();
}

void TfrmArchive::DrawTrend() {
    QChart* chart = Chart_Trend->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    LView_Trend->setRowCount(0);
    Points_.clear();
    const int at = CBox_TrendSeries->currentIndex();
    const std::string specimen = CBox_TrendSpecimen->currentData().toString().toStdString();
    archive::Archive* store = Store();
    if (store == nullptr || at < 0 || at >= static_cast<int>(Series_.size())) {
        chart->setTitle(QStringLiteral("这个试品还没有含电容量的结果。"));
        Lbl_TrendSummary->clear();
        return;
    }
    const archive::Series& s = Series_[static_cast<std::size_t>(at)];
    Points_ = store->Trend(specimen, s).Value;

    // The capacitance in the unit its size reads best in.
    double largest = 0;
    for (const archive::TrendPoint& p : Points_) {
        if (p.Capacitance && !p.CapacitanceOver) {
            largest = std::max(largest, std::abs(*p.Capacitance));
        }
    }
    if (largest < 1e-9) {
        TrendScale_ = 1e12;
        TrendUnit_ = QStringLiteral("pF");
    } else if (largest < 1e-6) {
        TrendScale_ = 1e9;
        TrendUnit_ = QStringLiteral("nF");
    } else {
        TrendScale_ = 1e6;
        TrendUnit_ = QStringLiteral("µF");
    }
    const QString cName = Utf8(s.Capacitance);
    const QString dName = Utf8(s.Dissipation);
    auto* cap = new QLineSeries;
    cap->setName(QStringLiteral("电容量 %1（%2）").arg(cName, TrendUnit_));
    cap->setPointsVisible(true);
    auto* df = new QLineSeries;
    df->setName(QStringLiteral("介质损耗 %1（%）").arg(dName));
    df->setPointsVisible(true);
    double cLow = 0, cHigh = 0, dLow = 0, dHigh = 0;
    qint64 tLow = 0, tHigh = 0;
    bool anyC = false, anyD = false, anyT = false;

    LView_Trend->setColumnCount(6);
    LView_Trend->setHorizontalHeaderLabels(
        {QStringLiteral("测量时间"), QStringLiteral("%1（%2）").arg(cName, TrendUnit_),
         QStringLiteral("%1（%）").arg(dName), QStringLiteral("%1变化（%）").arg(cName),
         QStringLiteral("温度（°C）"), QStringLiteral("湿度（%）")});
    LView_Trend->setRowCount(static_cast<int>(Points_.size()));
    for (std::size_t k = 0; k < Points_.size(); ++k) {
        const archive::TrendPoint& p = Points_[k];
        const QDateTime when = MeasuredTime(p.Measured);
        const int row = static_cast<int>(k);
        auto cell = [&](int column, const QString& text) {
            auto* item = new QTableWidgetItem(text);
            item->setTextAlignment(column == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                               : Qt::AlignRight | Qt::AlignVCenter);
            LView_Trend->setItem(row, column, item);
        };
        cell(0, MeasuredText(p.Measured));
        cell(1, p.CapacitanceOver ? QStringLiteral("超量程")
                : p.Capacitance   ? QString::number(*p.Capacitance * TrendScale_, 'g', 6)
                                  : QString());
        cell(2, p.DissipationOver ? QStringLiteral("超量程")
                : p.Dissipation   ? QString::number(*p.Dissipation, 'f', 4)
                                  : QString());
        cell(3, p.Change ? QString::asprintf("%+.2f", *p.Change) : QString());
        cell(4, Utf8(archive::ReadingText(p.Temperature)));
        cell(5, Utf8(archive::ReadingText(p.Humidity)));
        if (!when.isValid()) {
            continue; // no date to stand at: in the table only
        }
        const qint64 ms = when.toMSecsSinceEpoch();
        tLow = anyT ? std::min(tLow, ms) : ms;
        tHigh = anyT ? std::max(tHigh, ms) : ms;
        anyT = true;
        if (p.Capacitance && !p.CapacitanceOver) {
            const double v = *p.Capacitance * TrendScale_;
            cap->append(static_cast<double>(ms), v);
            cLow = anyC ? std::min(cLow, v) : v;
            cHigh = anyC ? std::max(cHigh, v) : v;
            anyC = true;
        }
        if (p.Dissipation && !p.DissipationOver) {
            const double v = *p.Dissipation;
            df->append(static_cast<double>(ms), v);
            dLow = anyD ? std::min(dLow, v) : v;
            dHigh = anyD ? std::max(dHigh, v) : v;
            anyD = true;
        }
    }
    LView_Trend->resizeColumnsToContents();
    LView_Trend->scrollToBottom();

    chart->addSeries(cap);
    chart->addSeries(df);
    // Told apart without colour as well: the dissipation factor dashed.
    QPen dashed = df->pen();
    dashed.setStyle(Qt::DashLine);
    df->setPen(dashed);
    auto* x = new QDateTimeAxis;
    x->setTitleText(QStringLiteral("测量日期"));
    // Years of results read by their dates; a morning's by their times.
    const qint64 minute = 60LL * 1000;
    const qint64 day = 24 * 60 * minute;
    const qint64 span = tHigh - tLow;
    x->setFormat(span < 2 * day     ? QStringLiteral("MM-dd hh:mm")
                 : span < 120 * day ? QStringLiteral("yyyy-MM-dd")
                                    : QStringLiteral("yyyy-MM"));
    const qint64 pad = span > 0 ? std::max<qint64>(span / 12, minute) : 30 * minute;
    x->setRange(QDateTime::fromMSecsSinceEpoch(tLow - pad),
                QDateTime::fromMSecsSinceEpoch(tHigh + pad));
    x->setTickCount(std::clamp(static_cast<int>(Points_.size()) + 1, 3, 6));
    // The capacitance around its values, never narrower than ±1 % of them, so that the drift
    // of a measurement does not look like a step; the dissipation factor from zero, so that
    // its doubling looks like one.
    auto* yc = new QValueAxis;
    yc->setTitleText(QStringLiteral("电容量 %1（%2）").arg(cName, TrendUnit_));
    yc->setLabelFormat(QStringLiteral("%.5g"));
    const double middle = (cLow + cHigh) / 2;
    const double half = std::max({(cHigh - cLow) / 2 * 1.2, std::abs(middle) * 0.01, 1e-6});
    yc->setRange(middle - half, middle + half);
    yc->applyNiceNumbers();
    auto* yd = new QValueAxis;
    yd->setTitleText(QStringLiteral("介质损耗 %1（%）").arg(dName));
    yd->setLabelFormat(QStringLiteral("%.3f"));
    const double top = std::max(dHigh, 0.0) * 1.25;
    yd->setRange(std::min(dLow * 1.25, 0.0), top > 0 ? top : 0.1);
    yd->applyNiceNumbers();
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(yc, Qt::AlignLeft);
    chart->addAxis(yd, Qt::AlignRight);
    cap->attachAxis(x);
    cap->attachAxis(yc);
    df->attachAxis(x);
    df->attachAxis(yd);
    yc->setLinePenColor(cap->color());
    yc->setLabelsColor(cap->color());
    yd->setLinePenColor(df->color());
    yd->setLabelsColor(df->color());

    const QString name = Shortened(specimen, 40);
    chart->setTitle(QStringLiteral("%1　%2 %3/%4").arg(name, ModeText(s.WiringMode), cName, dName));
    std::optional<double> last;
    for (const archive::TrendPoint& p : Points_) {
        if (p.Change) {
            last = p.Change;
        }
    }
    Lbl_TrendSummary->setText(
        last ? QStringLiteral("共%1个结果；最近一次的%2比第一次变化%3%")
                   .arg(QString::number(Points_.size()), cName, QString::asprintf("%+.2f", *last))
             : QStringLiteral("共%1个结果").arg(Points_.size()));
}

QString TfrmArchive::TrendTipAt(const QPoint& at) const {
    // The result whose point is nearest to the pointer, within a few pixels of it.
    QChart* chart = Chart_Trend->chart();
    const int series = CBox_TrendSeries->currentIndex();
    if (chart->series().size() < 2 || series < 0 || series >= static_cast<int>(Series_.size())) {
        return {};
    }
    const QPointF scene = Chart_Trend->mapToScene(at);
    const archive::TrendPoint* nearest = nullptr;
    double distance = 12;
    for (const archive::TrendPoint& p : Points_) {
        const QDateTime when = MeasuredTime(p.Measured);
        if (!when.isValid()) {
            continue;
        }
        const double x = static_cast<double>(when.toMSecsSinceEpoch());
        const std::pair<QAbstractSeries*, std::optional<double>> values[] = {
            {chart->series()[0], p.Capacitance && !p.CapacitanceOver
                                     ? std::optional<double>(*p.Capacitance * TrendScale_)
                                     : std::nullopt},
            {chart->series()[1], p.DissipationOver ? std::nullopt : p.Dissipation}};
        for (const auto& [s, y] : values) {
            if (!y) {
                continue;
            }
            const QPointF dot = chart->mapToScene(chart->mapToPosition(QPointF(x, *y), s));
            const double d = std::hypot(dot.x() - scene.x(), dot.y() - scene.y());
            if (d < distance) {
                distance = d;
                nearest = &p;
            }
        }
    }
    if (nearest == nullptr) {
        return {};
    }
    const archive::Series& s = Series_[static_cast<std::size_t>(series)];
    QStringList lines{MeasuredText(nearest->Measured)};
    if (nearest->Capacitance) {
        lines << QStringLiteral("%1 = %2 %3")
                     .arg(Utf8(s.Capacitance),
                          QString::number(*nearest->Capacitance * TrendScale_, 'g', 6), TrendUnit_);
    }
    if (nearest->Change) {
        lines
            << QStringLiteral("比第一次变化 %1%").arg(QString::asprintf("%+.2f", *nearest->Change));
    }
    if (nearest->Dissipation) {
        lines << QStringLiteral("%1 = %2%")
                     .arg(Utf8(s.Dissipation), QString::number(*nearest->Dissipation, 'f', 4));
    }
    if (nearest->Temperature || nearest->Humidity) {
        lines << QStringLiteral("温度 %1 °C，湿度 %2 %")
                     .arg(Utf8(archive::ReadingText(nearest->Temperature)),
                          Utf8(archive::ReadingText(nearest->Humidity)));
    }
    return lines.join(QLatin1Char('\n'));
}

bool TfrmArchive::eventFilter(QObject* watched, QEvent* event) {
    const bool move = event->type() == QEvent::MouseMove;
    // The chart's scene answers a resting pointer with no tooltip of its own and would hide
    // this one: the help event is answered here.
    const bool help = event->type() == QEvent::ToolTip;
    if (watched == Chart_Trend->viewport() && (move || help)) {
        const QPoint at = move ? static_cast<QMouseEvent*>(event)->position().toPoint()
                               : static_cast<QHelpEvent*>(event)->pos();
        const QString tip = TrendTipAt(at);
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(Chart_Trend->viewport()->mapToGlobal(at), tip, Chart_Trend);
        }
        if (help) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace dielmon
