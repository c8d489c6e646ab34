#include "labserver.h"

#include "core/config.h"
#include "dialogs.h"
#include "qtgbk.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <fcntl.h>
#include <unistd.h>

namespace dielmon {

namespace {

QString WallText(TimePoint t, const QString& format) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count()).toString(format);
}

} // namespace

// The worker.

LabSync::LabSync(Setup setup, QObject* parent) : QObject(parent), Setup_(std::move(setup)) {}

LabSync::~LabSync() {
    // Stopped before the object goes: no status is reported after this.
    Worker_.reset();
}

void LabSync::SetServer(const std::string& server) {
    if (server == Server_ && (Worker_ != nullptr) == !server.empty()) {
        return;
    }
    Server_ = server;
    if (server.empty()) {
        Worker_.reset();
    } else if (Worker_) {
        Worker_->SetServer(server);
    } else {
        sync::SyncWorker::Options o = Setup_.Worker;
        o.ArchivePath = Setup_.ArchivePath;
        o.Server = server;
        o.Time = Setup_.Time;
        // On the worker's thread: only a flag and an event for the window's thread.
        o.Changed = [this] {
            if (!Posted_.exchange(true)) {
                QMetaObject::invokeMethod(this, &LabSync::Changed, Qt::QueuedConnection);
            }
        };
        SeenAttempts_ = 0;
        Worker_ = std::make_unique<sync::SyncWorker>(std::move(o));
    }
    emit StatusChanged();
}

void LabSync::LocalChange() {
    if (Worker_) {
        Worker_->LocalChange();
    }
}

void LabSync::SyncNow() {
    if (Worker_) {
        Worker_->SyncNow();
    }
}

sync::SyncStatus LabSync::Status() const {
    return Worker_ ? Worker_->Status() : sync::SyncStatus{};
}

void LabSync::Changed() {
    Posted_ = false;
    if (!Worker_) {
        return;
    }
    const sync::SyncStatus s = Worker_->Status();
    const bool finished = s.Attempts != SeenAttempts_ && !s.Running;
    if (finished) {
        SeenAttempts_ = s.Attempts;
    }
    emit StatusChanged();
    if (finished && s.Last.PulledNew + s.Last.PulledEdited > 0) {
        emit Pulled();
    }
}

QString SyncStateText(const sync::SyncStatus& s, TimePoint wallNow, SteadyPoint steadyNow) {
    if (!s.Configured) {
        return QStringLiteral("档案服务器：未设置（菜单“结果档案→档案服务器…”）");
    }
    QStringList parts;
    if (s.Running) {
        parts << QStringLiteral("正在与档案服务器同步……");
    } else if (s.LastSuccess) {
        parts << QStringLiteral("上次同步：%1")
                     .arg(WallText(*s.LastSuccess, QStringLiteral("yyyy-MM-dd hh:mm")));
    } else if (s.Attempts == 0 && s.LastError.empty()) {
        parts << QStringLiteral("档案服务器：等待第一次同步");
    } else {
        parts << QStringLiteral("尚未与档案服务器同步成功");
    }
    if (s.Waiting >= 0) {
        parts << QStringLiteral("待上传%1条").arg(s.Waiting);
    }
    if (!s.LastError.empty()) {
        QString error = QStringLiteral("同步失败：") + Utf8(s.LastError);
        if (s.NextAttempt && !s.Running) {
            const auto wait = std::max(*s.NextAttempt - steadyNow, SteadyPoint::duration::zero());
            const TimePoint at = wallNow + std::chrono::duration_cast<TimePoint::duration>(wait);
            error += QStringLiteral("（%1再试）").arg(WallText(at, QStringLiteral("hh:mm:ss")));
        }
        parts << error;
    }
    return parts.join(QStringLiteral("　"));
}

// The dialog.

TfrmArchiveServer::TfrmArchiveServer(const std::string& server,
                                     std::function<QString(const std::string&)> keep,
                                     QWidget* parent)
    : QDialog(parent), Keep_(std::move(keep)) {
    setObjectName(QStringLiteral("frmArchiveServer"));
    setWindowTitle(QStringLiteral("档案服务器"));
    if (::pipe2(StopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        StopPipe_[0] = StopPipe_[1] = -1;
    }
    auto* v = new QVBoxLayout(this);
    auto* caption = new QLabel(
        QStringLiteral("实验室档案服务器（PostgreSQL）的连接串，例如 service=lab 或\n"
                       "host=db.lab dbname=dielmon user=tester sslmode=verify-full。\n"
                       "密码不写在这里：放在 ~/.pgpass、pg_service.conf 或 PGPASSWORD 中。\n"
                       "留空：不与服务器同步。"),
        this);
    caption->setObjectName(QStringLiteral("Label_ArchiveServer"));
    v->addWidget(caption);
    Edt_ArchiveServer = new QLineEdit(QString::fromStdString(server), this);
    Edt_ArchiveServer->setObjectName(QStringLiteral("Edt_ArchiveServer"));
    Edt_ArchiveServer->setMinimumWidth(460);
    v->addWidget(Edt_ArchiveServer);
    auto* row = new QHBoxLayout;
    Btn_TestServer = new QPushButton(QStringLiteral("测试连接"), this);
    Btn_TestServer->setObjectName(QStringLiteral("Btn_TestServer"));
    Btn_TestServer->setAutoDefault(false);
    row->addWidget(Btn_TestServer);
    Lbl_ServerTest = new QLabel(this);
    Lbl_ServerTest->setObjectName(QStringLiteral("Lbl_ServerTest"));
    Lbl_ServerTest->setWordWrap(true);
    Lbl_ServerTest->setMinimumHeight(48);
    Lbl_ServerTest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(Lbl_ServerTest, 1);
    v->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Btn_ServerOk = new QPushButton(QStringLiteral("确定"), this);
    Btn_ServerOk->setObjectName(QStringLiteral("Btn_ServerOk"));
    Btn_ServerOk->setDefault(true);
    Btn_ServerCancel = new QPushButton(QStringLiteral("取消"), this);
    Btn_ServerCancel->setObjectName(QStringLiteral("Btn_ServerCancel"));
    Btn_ServerCancel->setAutoDefault(false);
    buttons->addWidget(Btn_ServerOk);
    buttons->addWidget(Btn_ServerCancel);
    v->addLayout(buttons);
    connect(Btn_TestServer, &QPushButton::clicked, this, &TfrmArchiveServer::Test);
    connect(Btn_ServerOk, &QPushButton::clicked, this, &TfrmArchiveServer::Ok);
    connect(Btn_ServerCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(Edt_ArchiveServer, &QLineEdit::textEdited, this, [this] {
        if (!Testing_) {
            Lbl_ServerTest->clear();
        }
    });
    // A password written into Config.ini by hand is not shown again: masked, and the rule said.
    if (const std::string problem = ServerStringProblem(server); !problem.empty()) {
        Edt_ArchiveServer->setText(QString::fromStdString(MaskServerSecrets(server, server)));
        Say(Q(problem), true);
    }
    CentreWhenShown(this);
}

TfrmArchiveServer::~TfrmArchiveServer() {
    StopTest();
    for (int fd : StopPipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void TfrmArchiveServer::StopTest() {
    if (!Test_.joinable()) {
        return;
    }
    if (StopPipe_[1] >= 0) {
        const char stop = 1;
        const bool ok = ::write(StopPipe_[1], &stop, 1) == 1;
        static_cast<void>(ok);
    }
    Test_.join();
}

void TfrmArchiveServer::Say(const QString& text, bool bad) {
    Lbl_ServerTest->setStyleSheet(bad ? QStringLiteral("color: #c00000;")
                                      : QStringLiteral("color: #006000;"));
    Lbl_ServerTest->setText(text);
}

void TfrmArchiveServer::Test() {
    if (Testing_) {
        return;
    }
    if (Test_.joinable()) {
        Test_.join(); // ended: its answer has come
    }
    const std::string server = Edt_ArchiveServer->text().trimmed().toStdString();
    if (server.empty()) {
        Say(QStringLiteral("请先填写连接串。"), true);
        return;
    }
    Testing_ = true;
    Btn_TestServer->setEnabled(false);
    Lbl_ServerTest->setStyleSheet(QString());
    Lbl_ServerTest->setText(QStringLiteral("正在连接档案服务器……"));
    const int stopFd = StopPipe_[0];
    Test_ = std::thread([this, server, stopFd] {
        sync::Check check = sync::TestConnection(server, {}, stopFd);
        check.Message = MaskServerSecrets(check.Message, server);
        QMetaObject::invokeMethod(
            this, [this, check] { Tested(check); }, Qt::QueuedConnection);
    });
}

void TfrmArchiveServer::Tested(const sync::Check& check) {
    Testing_ = false;
    Btn_TestServer->setEnabled(true);
    if (check.Ok()) {
        QString text = QStringLiteral("连接成功：PostgreSQL %1").arg(Utf8(check.ServerVersion));
        if (!check.Message.empty()) {
            text += QStringLiteral("\n") + Utf8(check.Message);
        }
        Say(text, false);
    } else {
        Say(QStringLiteral("连接失败：") + Utf8(check.Message), true);
    }
}

void TfrmArchiveServer::Ok() {
    const std::string server = Edt_ArchiveServer->text().trimmed().toStdString();
    // The config's own rule, in its own words: nothing with a password is kept.
    if (const std::string problem = ServerStringProblem(server); !problem.empty()) {
        Say(QStringLiteral("没有保存：") + Q(problem), true);
        return;
    }
    const QString error = Keep_ ? Keep_(server) : QString();
    if (!error.isEmpty()) {
        Say(error, true);
        return;
    }
    accept();
}

} // namespace dielmon
