#include "archivewindow.h"

#include "archive/export.h"
#include "assess/report.h"
#include "core/gbk.h"
#include "core/json.h"
#include "core/texts.h"
#include "labserver.h"
#include "mainwindow.h"
#include "qtgbk.h"
#include "specimenreport.h"
#include "trendaxes.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QScatterSeries>
#include <QScrollArea>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTextBrowser>
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

// The verdict keeps its colour on the selected row too: the level's colour in the cell, the
// selection's as a frame around it.
class VerdictDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QVariant background = index.data(Qt::BackgroundRole);
        if (!(option.state & QStyle::State_Selected) || !background.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, plain, index);
        painter->save();
        QPen frame(option.palette.highlight().color(), 3);
        frame.setJoinStyle(Qt::MiterJoin);
        painter->setPen(frame);
        painter->drawRect(option.rect.adjusted(1, 1, -2, -2));
        painter->restore();
    }
};

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
                     const std::string& target, const assess::Library& lib,
                     const std::vector<const assess::Profile*>& profiles) {
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
        // Each row judged in its specimen's history, as dielmon-archive export judges it.
        assess::ArchiveAssessor assessor(*opened.Store, lib, profiles);
        const archive::CsvColumns verdicts =
            assess::CsvColumnsOf([&assessor](const archive::Result& r) { return assessor.Of(r); });
        error = archive::ExportCsv(*opened.Store, f, out, &verdicts);
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
    Verdicts_.clear();
    Waiting_.clear();
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

void ArchiveListModel::ForgetVerdicts() {
    Verdicts_.clear();
    Waiting_.clear();
    if (rowCount() > 0) {
        emit dataChanged(index(0, Verdict), index(rowCount() - 1, Verdict));
    }
}

const ArchiveListModel::RowVerdict& ArchiveListModel::VerdictOf(const archive::Row& r) const {
    const auto known = Verdicts_.find(r.Id);
    if (known != Verdicts_.end()) {
        return known->second;
    }
    if (r.Specimen.empty() || Judge_ == nullptr || Store_ == nullptr) {
        return Verdicts_.emplace(r.Id, Judged(r)).first->second;
    }
    static const RowVerdict kWaiting{std::nullopt, QStringLiteral("正在判断…")};
    if (std::find(Waiting_.begin(), Waiting_.end(), r.Id) == Waiting_.end()) {
        Waiting_.push_back(r.Id);
    }
    if (!JudgeQueued_) {
        JudgeQueued_ = true;
        QTimer::singleShot(0, const_cast<ArchiveListModel*>(this), &ArchiveListModel::JudgeWaiting);
    }
    return kWaiting;
}

ArchiveListModel::RowVerdict ArchiveListModel::Judged(const archive::Row& r) const {
    RowVerdict v;
    if (r.Specimen.empty()) {
        // Nobody's history and nobody's nameplate: nothing to hold the result against.
        v.Tip = QStringLiteral("没有试品名称，不作判断");
    } else if (Judge_ != nullptr && Store_ != nullptr) {
        const assess::ResultAssessment* a = Judge_->Of(*Store_, r);
        if (a != nullptr) {
            v.Overall = a->Overall;
            v.Tip = VerdictLines(*a);
        } else {
            v.Tip = QStringLiteral("无法判断：") + Utf8(Judge_->Error());
        }
    }
    return v;
}

void ArchiveListModel::JudgeWaiting() {
    JudgeQueued_ = false;
    QElapsedTimer spent;
    spent.start();
    // A slice of work at a time, so that the window answers between them.
    while (!Waiting_.empty() && spent.elapsed() < 20) {
        const std::string id = Waiting_.front();
        Waiting_.pop_front();
        const int row = RowOf(id);
        if (row < 0 || Verdicts_.count(id) > 0) {
            continue;
        }
        Verdicts_.emplace(id, Judged(Rows_[static_cast<std::size_t>(row)]));
        emit dataChanged(index(row, Verdict), index(row, Verdict));
    }
    if (!Waiting_.empty() && !JudgeQueued_) {
        JudgeQueued_ = true;
        QTimer::singleShot(0, this, &ArchiveListModel::JudgeWaiting);
    }
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
    if (index.column() == Verdict &&
        (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::BackgroundRole ||
         role == Qt::ForegroundRole || role == Qt::TextAlignmentRole)) {
        const RowVerdict& v = VerdictOf(r);
        switch (role) {
        case Qt::DisplayRole:
            return LevelWord(v.Overall);
        case Qt::ToolTipRole:
            return v.Tip.isEmpty() ? QVariant() : QVariant(v.Tip);
        case Qt::BackgroundRole:
            return v.Overall ? QVariant(QColor(LevelColourName(*v.Overall))) : QVariant();
        case Qt::ForegroundRole:
            // Dark text on amber, white on green and red.
            return v.Overall
                       ? QVariant(QColor(*v.Overall == assess::Level::Investigate ? Qt::black
                                                                                  : Qt::white))
                       : QVariant();
        default:
            return QVariant(Qt::AlignCenter);
        }
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
    case Verdict:
        return QStringLiteral("判断");
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
    Model_->SetJudge(&Judge());
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
    LView_Archive->setItemDelegateForColumn(ArchiveListModel::Verdict,
                                            new VerdictDelegate(LView_Archive));
    const int widths[] = {140, 140, 96, 48, 230, 84, 90};
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
    Nbk_Archive->addTab(BuildSpecimenPage(), QStringLiteral("试品"));
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
    v->addWidget(ScrollPage(texts), 2);

    // What the result is judged to be, and the numbers behind it.
    Lbl_ArchiveAssessment = new QTextBrowser(page);
    Lbl_ArchiveAssessment->setObjectName(QStringLiteral("Lbl_ArchiveAssessment"));
    Lbl_ArchiveAssessment->setMinimumHeight(110);
    Lbl_ArchiveAssessment->setOpenLinks(false);
    v->addWidget(Lbl_ArchiveAssessment, 1);

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
    choose->addWidget(new QLabel(QStringLiteral("横轴："), page));
    CBox_TrendAxis = new QComboBox(page);
    CBox_TrendAxis->setObjectName(QStringLiteral("CBox_TrendAxis"));
    CBox_TrendAxis->addItems({QStringLiteral("按日期"), QStringLiteral("按温度")});
    choose->addWidget(CBox_TrendAxis);
    v->addLayout(choose);
    connect(CBox_TrendAxis, &QComboBox::currentIndexChanged, this, &TfrmArchive::DrawTrend);
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
    // Results may have come or gone: their specimens' histories are read again.
    Judge().Forget();
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
        ShowAssessment();
        ShowSpecimen();
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
    ShowAssessment();
    ShowSpecimen();
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
    // Another specimen or temperature: another history, another correction.
    Rejudge();
    ShowSpecimen();
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
    Judge().Forget();
    Model_->ForgetVerdicts();
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
    // The library stays as it is while the window lives; the choice of profiles is copied.
    const assess::Library* lib = &Judge().Lib();
    const std::vector<const assess::Profile*> profiles = Judge().Profiles();
    // A long walk through the archive on a thread of its own: the window and the live display
    // go on meanwhile.
    Export_ = std::thread([this, archivePath, f, target, path, count, lib, profiles] {
        const std::string error = ExportTo(archivePath, f, target, *lib, profiles);
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
    TemperaturePoints_.clear();
    const int at = CBox_TrendSeries->currentIndex();
    const std::string specimen = CBox_TrendSpecimen->currentData().toString().toStdString();
    archive::Archive* store = Store();
    if (store == nullptr || at < 0 || at >= static_cast<int>(Series_.size())) {
        chart->setTitle(QStringLiteral("这个试品还没有含电容量的结果。"));
        Lbl_TrendSummary->clear();
        return;
    }
    const archive::Series& s = Series_[static_cast<std::size_t>(at)];
    if (CBox_TrendAxis->currentIndex() == 1) {
        DrawTemperatureTrend(specimen, s);
        return;
    }
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
    const TrendAxes axes = AttachTrendAxes(
        chart, x, cap, cLow, cHigh, QStringLiteral("电容量 %1（%2）").arg(cName, TrendUnit_), df,
        dLow, dHigh, QStringLiteral("介质损耗 %1（%）").arg(dName));
    QValueAxis* yc = axes.Capacitance;
    QValueAxis* yd = axes.Dissipation;
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

// The assessment.

ResultJudge& TfrmArchive::Judge() {
    return Main_.Judge();
}

void TfrmArchive::Rejudge() {
    Judge().Forget();
    Model_->ForgetVerdicts();
    ShowAssessment();
    if (Nbk_Archive->currentIndex() == 1) {
        DrawTrend();
    }
}

void TfrmArchive::ShowAssessment() {
    archive::Archive* store = Store();
    if (!Shown_ || store == nullptr) {
        Lbl_ArchiveAssessment->clear();
        return;
    }
    const assess::ResultAssessment* a = Judge().Of(*store, *Shown_);
    if (a == nullptr) {
        Lbl_ArchiveAssessment->setPlainText(QStringLiteral("无法判断这个结果：") +
                                            Utf8(Judge().Error()));
        return;
    }
    if (Shown_->Taken.Specimen.empty()) {
        // Only its correction: without a specimen there is nothing to hold it against.
        assess::ResultAssessment corrected = *a;
        corrected.Verdicts.clear();
        corrected.Overall.reset();
        Lbl_ArchiveAssessment->setHtml(
            QStringLiteral(
                "<p>这个结果没有试品名称：它不与任何铭牌或历史结果比较，只作温度校正。</p>") +
            AssessmentHtml(corrected, Judge().Lib()));
        return;
    }
    Lbl_ArchiveAssessment->setHtml(AssessmentHtml(*a, Judge().Lib()));
}

QWidget* TfrmArchive::BuildSpecimenPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Pg_ArchiveSpecimen"));
    auto* v = new QVBoxLayout(page);
    Grp_Specimen = new QGroupBox(QStringLiteral("试品资料"), page);
    Grp_Specimen->setObjectName(QStringLiteral("Grp_Specimen"));
    auto* g = new QGridLayout(Grp_Specimen);
    auto caption = [this](const QString& text) { return new QLabel(text, Grp_Specimen); };
    auto edit = [this](const QString& name) {
        auto* e = new QLineEdit(Grp_Specimen);
        e->setObjectName(name);
        e->setPlaceholderText(QStringLiteral("不填"));
        e->setMaximumWidth(140);
        return e;
    };
    auto combo = [this](const QString& name) {
        auto* c = new QComboBox(Grp_Specimen);
        c->setObjectName(name);
        return c;
    };
    Lbl_SpecimenName = new QLabel(Grp_Specimen);
    Lbl_SpecimenName->setObjectName(QStringLiteral("Lbl_SpecimenName"));
    Lbl_SpecimenName->setWordWrap(true);
    Lbl_SpecimenName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CBox_SpecimenClass = combo(QStringLiteral("CBox_SpecimenClass"));
    for (archive::SpecimenClass c : archive::AllClasses()) {
        CBox_SpecimenClass->addItem(ClassWord(c), QString::fromLatin1(archive::ClassName(c)));
    }
    Edt_VoltageClass = edit(QStringLiteral("Edt_VoltageClass"));
    Edt_NameplateC = edit(QStringLiteral("Edt_NameplateC"));
    CBox_NameplateCUnit = combo(QStringLiteral("CBox_NameplateCUnit"));
    CBox_NameplateCUnit->addItem(QStringLiteral("pF"), 1e-12);
    CBox_NameplateCUnit->addItem(QStringLiteral("nF"), 1e-9);
    Edt_NameplateDf = edit(QStringLiteral("Edt_NameplateDf"));
    CBox_Reference = combo(QStringLiteral("CBox_Reference"));
    CBox_Reference->addItem(
        ReferenceWord(archive::Reference::Nameplate),
        QString::fromLatin1(archive::ReferenceName(archive::Reference::Nameplate)));
    CBox_Reference->addItem(ReferenceWord(archive::Reference::First),
                            QString::fromLatin1(archive::ReferenceName(archive::Reference::First)));
    CBox_Method = combo(QStringLiteral("CBox_Method"));
    CBox_Method->addItem(QString(), QString());
    for (const auto& [name, m] : Judge().Lib().Methods) {
        CBox_Method->addItem(Utf8(name) + QStringLiteral("：") + Utf8(m.Title), Utf8(name));
    }
    // The default of the class shown with the class chosen.
    connect(CBox_SpecimenClass, &QComboBox::currentIndexChanged, this, [this] {
        archive::Specimen probe;
        probe.Class =
            archive::ClassNamed(CBox_SpecimenClass->currentData().toString().toStdString())
                .value_or(archive::SpecimenClass::Other);
        CBox_Method->setItemText(
            0, QStringLiteral("类别默认（%1）").arg(Utf8(Judge().Lib().MethodFor(probe))));
    });
    // A specimen nobody described is of the class "other".
    CBox_SpecimenClass->setCurrentIndex(CBox_SpecimenClass->count() - 1);
    Btn_SpecimenSave =
        Button(QStringLiteral("Btn_SpecimenSave"), QStringLiteral("保存试品资料"), Grp_Specimen);
    Lbl_SpecimenHint = new QLabel(Grp_Specimen);
    Lbl_SpecimenHint->setObjectName(QStringLiteral("Lbl_SpecimenHint"));
    Lbl_SpecimenHint->setWordWrap(true);
    g->addWidget(caption(QStringLiteral("试品：")), 0, 0);
    g->addWidget(Lbl_SpecimenName, 0, 1, 1, 2);
    g->addWidget(caption(QStringLiteral("类别：")), 1, 0);
    g->addWidget(CBox_SpecimenClass, 1, 1, 1, 2);
    g->addWidget(caption(QStringLiteral("电压等级（kV）：")), 2, 0);
    g->addWidget(Edt_VoltageClass, 2, 1);
    g->addWidget(caption(QStringLiteral("铭牌电容量：")), 3, 0);
    g->addWidget(Edt_NameplateC, 3, 1);
    g->addWidget(CBox_NameplateCUnit, 3, 2, Qt::AlignLeft);
    g->addWidget(caption(QStringLiteral("铭牌介质损耗（%）：")), 4, 0);
    g->addWidget(Edt_NameplateDf, 4, 1);
    g->addWidget(caption(QStringLiteral("比较对象：")), 5, 0);
    g->addWidget(CBox_Reference, 5, 1, 1, 2);
    g->addWidget(caption(QStringLiteral("温度校正：")), 6, 0);
    g->addWidget(CBox_Method, 6, 1, 1, 2);
    g->addWidget(Btn_SpecimenSave, 7, 1);
    g->addWidget(Lbl_SpecimenHint, 8, 0, 1, 3);
    g->setColumnStretch(2, 1);
    connect(Btn_SpecimenSave, &QPushButton::clicked, this, &TfrmArchive::SaveSpecimen);
    v->addWidget(Grp_Specimen);

    // The profiles hold for every result in the window, whatever its specimen.
    auto* judging = new QHBoxLayout;
    judging->addWidget(new QLabel(QStringLiteral("判断依据（所有结果）："), page));
    CBox_Profile = new QComboBox(page);
    CBox_Profile->setObjectName(QStringLiteral("CBox_Profile"));
    for (const auto& [name, p] : Judge().Lib().Profiles) {
        CBox_Profile->addItem(Utf8(name) + QStringLiteral("：") + Utf8(p.Title), Utf8(name));
    }
    CBox_Profile->addItem(QStringLiteral("全部规则"), QStringLiteral("all"));
    const std::string chosen =
        Judge().Chosen().empty() ? Judge().Lib().Settings.Profile : Judge().Chosen();
    CBox_Profile->setCurrentIndex(std::max(0, CBox_Profile->findData(Utf8(chosen))));
    connect(CBox_Profile, &QComboBox::currentIndexChanged, this, [this] {
        if (Judge().Choose(CBox_Profile->currentData().toString().toStdString())) {
            Rejudge();
        }
    });
    judging->addWidget(CBox_Profile, 1);
    v->addLayout(judging);

    auto* report = new QHBoxLayout;
    Btn_SpecimenReport =
        Button(QStringLiteral("Btn_SpecimenReport"), QStringLiteral("试品报告…"), page);
    report->addWidget(Btn_SpecimenReport);
    report->addStretch(1);
    v->addLayout(report);
    connect(Btn_SpecimenReport, &QPushButton::clicked, this, &TfrmArchive::SpecimenReportClicked);

    // Data files of the lab's that were left out, and why.
    auto* files = new QLabel(page);
    files->setObjectName(QStringLiteral("Lbl_AssessmentFiles"));
    files->setWordWrap(true);
    files->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QStringList problems;
    for (const std::string& p : Judge().Problems()) {
        problems << Utf8(p);
    }
    if (!problems.isEmpty()) {
        files->setStyleSheet(QStringLiteral("color: #c00000;"));
        files->setText(QStringLiteral("以下判断规则文件有错，未使用：\n") +
                       problems.join(QLatin1Char('\n')));
    }
    v->addWidget(files);
    v->addStretch(1);
    return page;
}

void TfrmArchive::ShowSpecimen() {
    Lbl_SpecimenHint->clear();
    archive::Archive* store = Store();
    const std::string name = Shown_ ? Shown_->Taken.Specimen : std::string();
    const bool named = Shown_ && !name.empty() && store != nullptr;
    for (QWidget* w : std::initializer_list<QWidget*>{
             CBox_SpecimenClass, Edt_VoltageClass, Edt_NameplateC, CBox_NameplateCUnit,
             Edt_NameplateDf, CBox_Reference, CBox_Method, Btn_SpecimenReport}) {
        w->setEnabled(named);
    }
    Btn_SpecimenSave->setEnabled(named && !store->ReadOnly());
    if (!named) {
        Lbl_SpecimenName->setText(
            Shown_ ? QStringLiteral("这个结果没有试品名称：先在“结果”页填写试品。")
                   : QStringLiteral("在左边的列表中选择一个结果。"));
        for (QLineEdit* e : {Edt_VoltageClass, Edt_NameplateC, Edt_NameplateDf}) {
            e->clear();
        }
        return;
    }
    const auto got = store->SpecimenNamed(name);
    if (!got.Ok()) {
        Lbl_SpecimenName->setText(Shortened(name, 200));
        Lbl_SpecimenHint->setText(QStringLiteral("无法读取这个试品的资料：") + Utf8(got.Error));
        Btn_SpecimenSave->setEnabled(false);
        return;
    }
    const archive::Specimen& sp = got.Value;
    Lbl_SpecimenName->setText(Shortened(name, 200));
    CBox_SpecimenClass->setCurrentIndex(std::max(
        0, CBox_SpecimenClass->findData(QString::fromLatin1(archive::ClassName(sp.Class)))));
    Edt_VoltageClass->setText(sp.VoltageClass ? Utf8(JsonNumber(*sp.VoltageClass)) : QString());
    // Below 10 nF in picofarads, as a bushing's nameplate gives it.
    const bool pico = !sp.NameplateC || *sp.NameplateC < 1e-8;
    CBox_NameplateCUnit->setCurrentIndex(pico ? 0 : 1);
    Edt_NameplateC->setText(
        sp.NameplateC ? Utf8(JsonNumber(*sp.NameplateC / (pico ? 1e-12 : 1e-9), 6)) : QString());
    Edt_NameplateDf->setText(sp.NameplateDf ? Utf8(JsonNumber(*sp.NameplateDf)) : QString());
    CBox_Reference->setCurrentIndex(sp.ComparedWith == archive::Reference::First ? 1 : 0);
    CBox_Method->setCurrentIndex(
        sp.Method.empty() ? 0 : std::max(0, CBox_Method->findData(Utf8(sp.Method))));
}

void TfrmArchive::SaveSpecimen() {
    archive::Archive* store = Store();
    if (!Shown_ || Shown_->Taken.Specimen.empty() || store == nullptr || store->ReadOnly()) {
        return;
    }
    Lbl_SpecimenHint->setStyleSheet(QStringLiteral("color: #c00000;"));
    const TypedNumber kv = ReadTypedNumber(Edt_VoltageClass->text(), true);
    const TypedNumber c = ReadTypedNumber(Edt_NameplateC->text(), true);
    const TypedNumber df = ReadTypedNumber(Edt_NameplateDf->text(), false);
    QStringList wrong;
    if (!kv.Ok) {
        wrong << QStringLiteral("电压等级应是大于0的数（kV），或者不填。");
    }
    if (!c.Ok) {
        wrong << QStringLiteral("铭牌电容量应是大于0的数，或者不填。");
    }
    if (!df.Ok) {
        wrong << QStringLiteral("铭牌介质损耗应是不小于0的数（%），或者不填。");
    }
    MarkInvalid(Edt_VoltageClass, !kv.Ok, QString());
    MarkInvalid(Edt_NameplateC, !c.Ok, QString());
    MarkInvalid(Edt_NameplateDf, !df.Ok, QString());
    if (!wrong.isEmpty()) {
        Lbl_SpecimenHint->setText(QStringLiteral("试品资料没有保存：") +
                                  wrong.join(QLatin1Char(' ')));
        return;
    }
    auto got = store->SpecimenNamed(Shown_->Taken.Specimen);
    if (!got.Ok()) {
        Message(QStringLiteral("试品资料没有保存：") + Utf8(got.Error), Dialogs::Icon::Warning);
        return;
    }
    archive::Specimen sp = got.Value;
    sp.Class = archive::ClassNamed(CBox_SpecimenClass->currentData().toString().toStdString())
                   .value_or(archive::SpecimenClass::Other);
    sp.VoltageClass = kv.Value;
    sp.NameplateC =
        c.Value ? std::optional<double>(*c.Value * CBox_NameplateCUnit->currentData().toDouble())
                : std::nullopt;
    sp.NameplateDf = df.Value;
    sp.ComparedWith =
        archive::ReferenceNamed(CBox_Reference->currentData().toString().toStdString())
            .value_or(archive::Reference::Nameplate);
    sp.Method = CBox_Method->currentData().toString().toStdString();
    const std::string error = store->SetSpecimen(sp);
    if (!error.empty()) {
        Message(QStringLiteral("试品资料没有保存：") + Utf8(error), Dialogs::Icon::Warning);
        return;
    }
    // The kept values stay as measured; every result of the specimen is judged again.
    Rejudge();
    Lbl_SpecimenHint->setStyleSheet(QString());
    Lbl_SpecimenHint->setText(QStringLiteral("已保存，这个试品的结果已重新判断。"));
}

void TfrmArchive::DrawTemperatureTrend(const std::string& specimen, const archive::Series& s) {
    QChart* chart = Chart_Trend->chart();
    archive::Archive* store = Store();
    const auto whole = Judge().Specimen(*store, specimen);
    if (!whole.Ok()) {
        chart->setTitle(QStringLiteral("无法判断这个试品的结果：") + Utf8(whole.Error));
        Lbl_TrendSummary->clear();
        return;
    }
    // The results of the series chosen: its wiring mode's.
    const auto trend = store->Trend(specimen, s);
    std::vector<std::string> ids;
    for (const archive::TrendPoint& p : trend.Value) {
        ids.push_back(p.Id);
    }
    for (const assess::TemperaturePoint& p :
         assess::AgainstTemperature(whole.Value, s.Capacitance)) {
        if (std::find(ids.begin(), ids.end(), p.Id) != ids.end()) {
            TemperaturePoints_.push_back(p);
        }
    }
    double largest = 0;
    for (const assess::TemperaturePoint& p : TemperaturePoints_) {
        largest = std::max(largest, p.C ? std::abs(*p.C) : 0.0);
    }
    TrendScale_ = largest < 1e-9 ? 1e12 : largest < 1e-6 ? 1e9 : 1e6;
    TrendUnit_ = largest < 1e-9   ? QStringLiteral("pF")
                 : largest < 1e-6 ? QStringLiteral("nF")
                                  : QStringLiteral("µF");
    const QString cName = Utf8(s.Capacitance);
    const QString dName = Utf8(s.Dissipation);
    auto* cap = new QScatterSeries;
    cap->setName(QStringLiteral("电容量 %1（%2）").arg(cName, TrendUnit_));
    cap->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    cap->setMarkerSize(11);
    auto* df = new QScatterSeries;
    df->setName(QStringLiteral("20 °C介质损耗 %1（%）").arg(dName));
    df->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    df->setMarkerSize(10);
    chart->addSeries(cap);
    chart->addSeries(df);

    LView_Trend->setColumnCount(6);
    LView_Trend->setHorizontalHeaderLabels(
        {QStringLiteral("温度（°C）"), QStringLiteral("测量时间"),
         QStringLiteral("%1（%2）").arg(cName, TrendUnit_),
         QStringLiteral("%1实测（%）").arg(dName), QStringLiteral("%1 20 °C（%）").arg(dName),
         QStringLiteral("判断")});
    LView_Trend->setRowCount(static_cast<int>(TemperaturePoints_.size()));
    double tLow = 0, tHigh = 0, cLow = 0, cHigh = 0, dLow = 0, dHigh = 0;
    bool anyC = false, anyD = false;
    const QColor none(QStringLiteral("#9E9E9E"));
    for (std::size_t k = 0; k < TemperaturePoints_.size(); ++k) {
        const assess::TemperaturePoint& p = TemperaturePoints_[k];
        const int row = static_cast<int>(k);
        tLow = k == 0 ? p.Temperature : std::min(tLow, p.Temperature);
        tHigh = k == 0 ? p.Temperature : std::max(tHigh, p.Temperature);
        const QColor colour = p.Overall ? QColor(LevelColourName(*p.Overall)) : none;
        auto cell = [&](int column, const QString& text) {
            auto* item = new QTableWidgetItem(text);
            item->setTextAlignment(column == 1 ? Qt::AlignLeft | Qt::AlignVCenter
                                               : Qt::AlignRight | Qt::AlignVCenter);
            LView_Trend->setItem(row, column, item);
            return item;
        };
        cell(0, Utf8(JsonNumber(p.Temperature)));
        cell(1, MeasuredText(p.Measured));
        cell(2, p.C ? QString::number(*p.C * TrendScale_, 'g', 6) : QString());
        cell(3, p.RawDf ? QString::number(*p.RawDf, 'f', 4) : QString());
        cell(4, p.Df20 ? QString::number(*p.Df20, 'f', 4) : QString());
        QTableWidgetItem* level = cell(5, LevelWord(p.Overall));
        if (p.Overall) {
            level->setBackground(colour);
        }
        if (p.C) {
            const double y = *p.C * TrendScale_;
            cap->append(p.Temperature, y);
            cap->setPointConfiguration(cap->count() - 1, QXYSeries::PointConfiguration::Color,
                                       colour);
            cLow = anyC ? std::min(cLow, y) : y;
            cHigh = anyC ? std::max(cHigh, y) : y;
            anyC = true;
        }
        if (p.Df20) {
            df->append(p.Temperature, *p.Df20);
            df->setPointConfiguration(df->count() - 1, QXYSeries::PointConfiguration::Color,
                                      colour);
            dLow = anyD ? std::min(dLow, *p.Df20) : *p.Df20;
            dHigh = anyD ? std::max(dHigh, *p.Df20) : *p.Df20;
            anyD = true;
        }
    }
    LView_Trend->resizeColumnsToContents();

    auto* x = new QValueAxis;
    x->setTitleText(QStringLiteral("试验温度（°C）"));
    x->setLabelFormat(QStringLiteral("%.0f"));
    x->setRange(tLow - 5, tHigh + 5);
    x->applyNiceNumbers();
    AttachTrendAxes(chart, x, cap, cLow, cHigh,
                    QStringLiteral("电容量 %1（%2）").arg(cName, TrendUnit_), df, dLow, dHigh,
                    QStringLiteral("20 °C介质损耗 %1（%）").arg(dName));
    chart->setTitle(QStringLiteral("%1　%2 %3/%4　按试验温度")
                        .arg(Shortened(specimen, 40), ModeText(s.WiringMode), cName, dName));
    const std::size_t without =
        trend.Value.size() - std::min(trend.Value.size(), TemperaturePoints_.size());
    Lbl_TrendSummary->setText(
        QStringLiteral("共%1个有温度的结果%2；点的颜色：绿＝合格，黄＝注意，红＝异常，灰＝无规则")
            .arg(QString::number(TemperaturePoints_.size()),
                 without > 0 ? QStringLiteral("（%1个没有温度，未画出）").arg(without)
                             : QString()));
}

bool TfrmArchive::BuildReport(assess::SpecimenReport& report, QString& error) {
    archive::Archive* store = Store();
    if (!Shown_ || Shown_->Taken.Specimen.empty() || store == nullptr) {
        error = QStringLiteral("这个结果没有试品名称，无法生成试品报告。");
        return false;
    }
    std::vector<archive::Result> results;
    const auto whole = Judge().Specimen(*store, Shown_->Taken.Specimen, &results);
    if (!whole.Ok()) {
        error = QStringLiteral("无法读取这个试品的结果：") + Utf8(whole.Error);
        return false;
    }
    report = assess::BuildSpecimenReport(whole.Value, results, Judge().Lib());
    return true;
}

QString TfrmArchive::WriteSpecimenReport(const QString& path) {
    assess::SpecimenReport report;
    QString error;
    if (!BuildReport(report, error)) {
        return error;
    }
    if (!SaveSpecimenReportPdf(path, report)) {
        return QStringLiteral("无法保存试品报告到文件“%1”。").arg(path);
    }
    return {};
}

void TfrmArchive::SpecimenReportClicked() {
    if (!Shown_ || Shown_->Taken.Specimen.empty()) {
        return;
    }
    const int how =
        Dialogs_.ChooseItem(this, QStringLiteral("试品报告"), QStringLiteral("试品报告："),
                            {QStringLiteral("保存为PDF文件"), QStringLiteral("打印")});
    if (how < 0) {
        return;
    }
    if (how == 1) {
        assess::SpecimenReport report;
        QString error;
        if (!BuildReport(report, error)) {
            Message(error, Dialogs::Icon::Warning);
            return;
        }
        QPrinter printer(QPrinter::HighResolution);
        if (!Dialogs_.ChoosePrinter(this, printer)) {
            return;
        }
        if (!PaintSpecimenReport(printer, report)) {
            Message(QStringLiteral("打印失败，报告没有打印出来。"), Dialogs::Icon::Warning);
        }
        return;
    }
    const QString path = Main_.AskSaveFile(this, QStringLiteral("试品报告"), QStringLiteral("pdf"),
                                           QStringLiteral("*.pdf(PDF文件) (*.pdf)"));
    if (path.isEmpty()) {
        return;
    }
    const QString error = WriteSpecimenReport(path);
    if (!error.isEmpty()) {
        Message(error, Dialogs::Icon::Warning);
        return;
    }
    Message(QStringLiteral("试品报告已保存到文件“%1”。").arg(path), Dialogs::Icon::Information);
}

} // namespace dielmon
