// The lab's archive server in the window: the synchronisation the main window runs while a
// server is set, the dialog 档案服务器 that sets the connection string and tests it, and the
// line the archive window's state strip shows. The network is only ever waited on by the
// worker's thread and the test's own thread; the window's thread reads a copy of the status.
#pragma once

#include "core/clock.h"
#include "sync/server.h"
#include "sync/worker.h"

#include <QDialog>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QLabel;
class QLineEdit;
class QPushButton;

namespace dielmon {

// The one synchronisation worker of a window: there while a connection string is set, none
// while it is empty.
class LabSync : public QObject {
    Q_OBJECT
public:
    struct Setup {
        std::string ArchivePath;     // the window's Archive.db
        const Clock* Time = nullptr; // wall time of the last synchronisation
        // The worker's timing; the archive path, server, Changed and Time are filled in here.
        sync::SyncWorker::Options Worker;
    };

    explicit LabSync(Setup setup, QObject* parent = nullptr);
    ~LabSync() override;

    const std::string& Server() const { return Server_; }
    bool Configured() const { return Worker_ != nullptr; }
    // Another string: the worker made, told or dropped (empty string).
    void SetServer(const std::string& server);
    // Results archived or edited here (nothing without a server).
    void LocalChange();
    // 立即同步.
    void SyncNow();
    sync::SyncStatus Status() const;

signals:
    // The status changed; on the window's thread.
    void StatusChanged();
    // A synchronisation that went through brought results or edits into the archive.
    void Pulled();

private:
    void Changed();

    Setup Setup_;
    std::string Server_;
    std::unique_ptr<sync::SyncWorker> Worker_;
    std::int64_t SeenAttempts_ = 0;
    // A status change posted and not yet handled: the worker's bursts make one event.
    std::atomic<bool> Posted_{false};
};

// The state strip's line (Chinese): no server; a synchronisation running; the last one that
// went through (local wall time, minutes), the results waiting, the last error and when the
// worker tries again. `wallNow` and `steadyNow` place the next attempt on the wall clock.
QString SyncStateText(const sync::SyncStatus& s, TimePoint wallNow, SteadyPoint steadyNow);

// 档案服务器: the libpq connection string, 测试连接 on a thread of its own, 确定 and 取消.
class TfrmArchiveServer : public QDialog {
    Q_OBJECT
public:
    // `keep` saves an accepted string and hands it on; it returns why it could not (empty:
    // done), and the dialog stays open with the reason.
    TfrmArchiveServer(const std::string& server, std::function<QString(const std::string&)> keep,
                      QWidget* parent);
    ~TfrmArchiveServer() override;

    bool Testing() const { return Testing_; }

    QLineEdit* Edt_ArchiveServer = nullptr;
    QPushButton* Btn_TestServer = nullptr;
    QLabel* Lbl_ServerTest = nullptr;
    QPushButton *Btn_ServerOk = nullptr, *Btn_ServerCancel = nullptr;

private:
    void Test();
    void Tested(const sync::Check& check);
    void Ok();
    void Say(const QString& text, bool bad);
    void StopTest();

    std::function<QString(const std::string&)> Keep_;
    std::thread Test_;
    int StopPipe_[2] = {-1, -1};
    bool Testing_ = false;
};

} // namespace dielmon
