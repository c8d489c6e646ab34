// The main window's part of the result archive: every completed result kept, the specimen and
// conditions the next results take, the menu 结果档案 and the progress of 下载全部记录. What is
// kept and what the operator is told is the keeper's decision; what the download asks of the
// instrument is the controller's.
#include "archivewindow.h"
#include "core/config.h"
#include "core/texts.h"
#include "labserver.h"
#include "mainwindow.h"
#include "qtgbk.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace dielmon {

namespace {

QLabel* Caption(const QString& text, QWidget* parent, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

} // namespace

QWidget* TfrmDielmon::BuildConditions() {
    // Below the CVT group, where the column had room: nothing of the panel moves. These fields
    // tell the instrument nothing, so they stay usable during a test; a result takes what they
    // hold when it comes.
    auto* box = new QGroupBox(QStringLiteral("试品与环境"));
    box->setObjectName(QStringLiteral("GroupBox_Conditions"));
    box->setFixedHeight(140);
    Caption(QStringLiteral("试品名称："), box, 16, 34)
        ->setObjectName(QStringLiteral("Label_Specimen"));
    Edt_Specimen = new QLineEdit(box);
    Edt_Specimen->setObjectName(QStringLiteral("Edt_Specimen"));
    Edt_Specimen->setGeometry(96, 30, 216, 24);
    // A name is kept as typed, however long; the archive and the list cut nothing of it.
    Edt_Specimen->setMaxLength(1 << 22);
    Edt_Specimen->setPlaceholderText(QStringLiteral("例如：1号主变 高压套管A相"));
    Edt_Specimen->setToolTip(
        QStringLiteral("以后的每个测试结果都记上这个试品名称和环境，直到修改为止"));
    Caption(QStringLiteral("温度："), box, 16, 74)
        ->setObjectName(QStringLiteral("Label_Temperature"));
    Edt_Temperature = new QLineEdit(box);
    Edt_Temperature->setObjectName(QStringLiteral("Edt_Temperature"));
    Edt_Temperature->setGeometry(60, 70, 70, 24);
    Edt_Temperature->setPlaceholderText(QStringLiteral("未测"));
    Caption(QStringLiteral("°C"), box, 134, 74);
    Caption(QStringLiteral("相对湿度："), box, 166, 74)
        ->setObjectName(QStringLiteral("Label_Humidity"));
    Edt_Humidity = new QLineEdit(box);
    Edt_Humidity->setObjectName(QStringLiteral("Edt_Humidity"));
    Edt_Humidity->setGeometry(240, 70, 56, 24);
    Edt_Humidity->setPlaceholderText(QStringLiteral("未测"));
    Caption(QStringLiteral("%"), box, 300, 74);
    Lbl_ConditionsHint = new QLabel(box);
    Lbl_ConditionsHint->setObjectName(QStringLiteral("Lbl_ConditionsHint"));
    Lbl_ConditionsHint->setGeometry(16, 100, 305, 34);
    Lbl_ConditionsHint->setWordWrap(true);
    Lbl_ConditionsHint->setStyleSheet(QStringLiteral("color: #c00000;"));

    const archive::Conditions& given = Keeper_->Next();
    Edt_Specimen->setText(Utf8(given.Specimen));
    Edt_Temperature->setText(Utf8(archive::ReadingText(given.Temperature)));
    Edt_Humidity->setText(Utf8(archive::ReadingText(given.Humidity)));
    for (QLineEdit* edit : {Edt_Specimen, Edt_Temperature, Edt_Humidity}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { ConditionsEdited(false); });
        connect(edit, &QLineEdit::editingFinished, this, [this] { ConditionsEdited(true); });
    }

    Dlg_Download = new QDialog(this);
    Dlg_Download->setObjectName(QStringLiteral("Dlg_Download"));
    Dlg_Download->setWindowTitle(QStringLiteral("下载全部记录"));
    // The main window waits for it; the archive's own window stays usable.
    Dlg_Download->setWindowModality(Qt::WindowModal);
    auto* v = new QVBoxLayout(Dlg_Download);
    Lbl_Download = new QLabel(Dlg_Download);
    Lbl_Download->setObjectName(QStringLiteral("Lbl_Download"));
    Lbl_Download->setMinimumWidth(420);
    ProgBar_Download = new QProgressBar(Dlg_Download);
    ProgBar_Download->setObjectName(QStringLiteral("ProgBar_Download"));
    Btn_DownloadCancel = new QPushButton(QStringLiteral("取消"), Dlg_Download);
    Btn_DownloadCancel->setObjectName(QStringLiteral("Btn_DownloadCancel"));
    v->addWidget(Lbl_Download);
    v->addWidget(ProgBar_Download);
    v->addWidget(Btn_DownloadCancel, 0, Qt::AlignHCenter);
    connect(Btn_DownloadCancel, &QPushButton::clicked, this,
            [this] { Apply(Controller_.CancelDownload()); });
    // Closed by its title bar or Esc: the same as 取消.
    connect(Dlg_Download, &QDialog::rejected, this, [this] {
        if (Controller_.Downloading()) {
            Apply(Controller_.CancelDownload());
        }
    });
    CentreWhenShown(Dlg_Download);
    return box;
}

void TfrmDielmon::ConditionsEdited(bool remember) {
    const archive::Reading t = archive::ReadTemperature(Edt_Temperature->text().toStdString());
    const archive::Reading h = archive::ReadHumidity(Edt_Humidity->text().toStdString());
    MarkInvalid(Edt_Temperature, !t.Valid, Utf8(archive::TemperatureHint()));
    MarkInvalid(Edt_Humidity, !h.Valid, Utf8(archive::HumidityHint()));
    QStringList hints;
    if (!t.Valid) {
        hints << Utf8(archive::TemperatureHint());
    }
    if (!h.Valid) {
        hints << Utf8(archive::HumidityHint());
    }
    // Not blocking: the results keep coming, an invalid value counts as not given.
    Lbl_ConditionsHint->setText(hints.join(QLatin1Char('\n')));
    Keeper_->SetNext({Edt_Specimen->text().toStdString(), t.Value, h.Value}, remember);
}

void TfrmDielmon::KeepResults(const Effects& e, std::vector<std::string>& tell) {
    bool changed = false;
    std::optional<std::string> live, opened;
    for (const CompletedResult& r : e.Results) {
        const archive::ResultKeeper::Kept kept = Keeper_->Keep(r);
        tell.insert(tell.end(), kept.Tell.begin(), kept.Tell.end());
        changed = changed || kept.New;
        if (r.Downloaded) {
            ++(kept.New ? DownloadNew_ : kept.Archived ? DownloadBefore_ : DownloadLost_);
        } else {
            // A test's result without a specimen is not judged: not even read back.
            const bool named = r.Source != ResultSource::Test || !Keeper_->Next().Specimen.empty();
            (r.Source == ResultSource::Test ? live : opened) =
                kept.Archived && named ? kept.Id : std::string();
        }
    }
    if (live) {
        ShowLiveAssessment(*live, Lbl_Assessment);
    }
    if (opened) {
        ShowLiveAssessment(*opened, Lbl_AssessmentOne);
    }
    if (changed) {
        // Every result this window keeps goes to the lab's server after it.
        Lab_->LocalChange();
        if (ArchiveWindow_) {
            ArchiveWindow_->ResultsChanged();
        }
    }
}

void TfrmDielmon::ShowLiveAssessment(const std::string& id, QLabel* label) {
    // Hidden without a verdict, so that the page is laid out exactly as without one.
    label->clear();
    label->hide();
    label->setToolTip(QString());
    label->setStyleSheet(QString());
    archive::Archive* store = id.empty() ? nullptr : Keeper_->Store();
    if (store == nullptr) {
        return;
    }
    const auto got = store->Get(id);
    if (!got.Ok() || !got.Value || got.Value->Taken.Specimen.empty()) {
        return; // no specimen, no history to judge it in
    }
    // Read afresh: the specimen or its results may have been changed by another program (or
    // another window on the same archive) since they were judged.
    Judge_.Forget();
    const assess::ResultAssessment* a = Judge_.Of(*store, *got.Value);
    if (a == nullptr || !a->Overall) {
        return;
    }
    label->setText(ShortVerdict(*a));
    label->show();
    label->setToolTip(VerdictLines(*a));
    // As the archive's list shows a level: its colour behind, dark text on amber.
    label->setStyleSheet(
        QStringLiteral("background: %1; color: %2;")
            .arg(LevelColourName(*a->Overall), *a->Overall == assess::Level::Investigate
                                                   ? QStringLiteral("black")
                                                   : QStringLiteral("white")));
}

void TfrmDielmon::Tell(const std::vector<std::string>& utf8) {
    for (const std::string& text : utf8) {
        Dialogs_->Message(this, Utf8(text), Q(texts::kPrompt), Dialogs::Icon::Warning,
                          Dialogs::Buttons::Ok);
    }
}

void TfrmDielmon::N_ArchiveOpenClick() {
    std::vector<std::string> tell;
    Keeper_->Store(&tell);
    if (!ArchiveWindow_) {
        ArchiveWindow_ = std::make_unique<TfrmArchive>(*this, *Keeper_, *Dialogs_, *Clock_);
    } else {
        ArchiveWindow_->Refresh();
    }
    ArchiveWindow_->show();
    ArchiveWindow_->raise();
    ArchiveWindow_->activateWindow();
    Tell(tell);
}

void TfrmDielmon::N_ArchiveServerClick() {
    if (!ServerDialog_ || !ServerDialog_->isVisible()) {
        ServerDialog_ = std::make_unique<TfrmArchiveServer>(
            Lab_->Server(), [this](const std::string& s) { return KeepServer(s); }, this);
        // The main window waits for it; the archive's own window and the test go on.
        ServerDialog_->setWindowModality(Qt::WindowModal);
    }
    ServerDialog_->show();
    ServerDialog_->raise();
    ServerDialog_->activateWindow();
}

QString TfrmDielmon::KeepServer(const std::string& server) {
    const std::string error = SaveArchiveServer(ConfigFileName_, server);
    if (!error.empty()) {
        return Q(MaskServerSecrets(error, server));
    }
    Lab_->SetServer(server);
    return {};
}

void TfrmDielmon::N_ArchiveDownloadClick() {
    if (!Keeper_->Writable()) {
        // Nothing read would be kept: the instrument is not asked.
        Dialogs_->Message(this,
                          QStringLiteral("结果档案不能写入，无法下载仪器中的记录。\n") +
                              Utf8(Keeper_->StateText()),
                          Q(texts::kPrompt), Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        return;
    }
    DownloadNew_ = 0;
    DownloadBefore_ = 0;
    DownloadLost_ = 0;
    Apply(Controller_.StartDownload());
}

void TfrmDielmon::ShowDownload(const DownloadProgress& p) {
    const QString kept =
        QStringLiteral("新存入档案%1条，档案中已有%2条").arg(DownloadNew_).arg(DownloadBefore_);
    if (!p.Finished) {
        if (p.Total < 0) {
            ProgBar_Download->setRange(0, 0);
            Lbl_Download->setText(QStringLiteral("正在读取仪器的记录索引……"));
        } else {
            ProgBar_Download->setRange(0, std::max(p.Total, 1));
            ProgBar_Download->setValue(p.Read);
            Lbl_Download->setText(
                QStringLiteral("正在读取仪器中的记录：已读%1条，共%2条\n%3")
                    .arg(QString::number(p.Read), QString::number(p.Total), kept));
        }
        if (!Dlg_Download->isVisible()) {
            Dlg_Download->show();
        }
        return;
    }
    const QSignalBlocker quiet(Dlg_Download);
    Dlg_Download->hide();
    QString text;
    if (DownloadLost_ > 0) {
        text = QStringLiteral("下载中止：记录无法存入结果档案。\n已读取%1条记录：%2。")
                   .arg(QString::number(p.Read), kept);
    } else if (p.Cancelled) {
        text =
            QStringLiteral("下载已取消。\n已读取%1条记录：%2。").arg(QString::number(p.Read), kept);
    } else if (!p.Failure.empty()) {
        text = QStringLiteral("下载中止：%1\n已读取%2条记录：%3。")
                   .arg(Q(p.Failure), QString::number(p.Read), kept);
    } else {
        text =
            QStringLiteral("仪器中的%1条记录已全部读取：%2。").arg(QString::number(p.Read), kept);
    }
    Dialogs_->Message(this, text, Q(texts::kPrompt), Dialogs::Icon::Information,
                      Dialogs::Buttons::Ok);
}

} // namespace dielmon
