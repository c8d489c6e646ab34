// The real window with the simulated instrument, run as a process of its own for the archive's
// tests that need one: killed right after a result is shown, run as another user, or started
// again on the same home folder. It connects, runs the tests it is told to, and prints a line
// for everything the tests look at; message boxes are printed and answered with OK.
//
//   ui-archive-run --home DIR [--specimen TEXT] [--tests N] [--save FILE] [--archive-page]
//                  [--linger]
#include "archivewindow.h"
#include "mainwindow.h"
#include "sim/options.h"
#include "sim/simulator.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <clocale>
#include <cstdio>
#include <functional>
#include <string>

using namespace dielmon;

namespace {

void Say(const QString& line) {
    QString one = line;
    one.replace(QLatin1Char('\n'), QStringLiteral(" | "));
    std::printf("%s\n", one.toUtf8().constData());
    std::fflush(stdout);
}

bool WaitUntil(const std::function<bool()>& condition, int ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

int Fail(const char* what) {
    Say(QStringLiteral("failed ") + QString::fromUtf8(what));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    std::string home;
    QString specimen;
    QString save;
    int tests = 1;
    bool linger = false;
    bool page = false;
    const QStringList args = QCoreApplication::arguments();
    for (int k = 1; k < args.size(); ++k) {
        const QString& a = args[k];
        const QString value = k + 1 < args.size() ? args[k + 1] : QString();
        if (a == QLatin1String("--home")) {
            home = value.toStdString();
            ++k;
        } else if (a == QLatin1String("--specimen")) {
            specimen = value;
            ++k;
        } else if (a == QLatin1String("--tests")) {
            tests = value.toInt();
            ++k;
        } else if (a == QLatin1String("--save")) {
            save = value;
            ++k;
        } else if (a == QLatin1String("--linger")) {
            linger = true;
        } else if (a == QLatin1String("--archive-page")) {
            page = true;
        }
    }
    if (!home.empty() && home.back() != '/') {
        home += '/';
    }

    std::string error;
    sim::Simulator simulator(*sim::ParseSimOptions({"--speed", "100"}, &error));
    if (!simulator.Start(&error)) {
        return Fail(error.c_str());
    }
    UnattendedDialogs dialogs;
    dialogs.Seen = [](const QString& text) { Say(QStringLiteral("message ") + text); };
    dialogs.SaveTo = save;
    WindowSetup setup;
    setup.AppPath = home;
    setup.Port = simulator.DevicePath();
    setup.DialogSource = &dialogs;
    int status = 0;
    {
        TfrmDielmon w(setup);
        w.show();
        QApplication::processEvents();
        auto find = [&w](const char* name) {
            return w.findChild<QObject*>(QString::fromLatin1(name));
        };
        if (!specimen.isEmpty()) {
            // As the operator types it.
            w.Edt_Specimen->setText(specimen);
            emit w.Edt_Specimen->textEdited(specimen);
            emit w.Edt_Specimen->editingFinished();
        }
        w.N7->trigger();
        if (!WaitUntil([&] { return w.BBtn_StartTest->isEnabled(); })) {
            return Fail("connect");
        }
        for (int n = 1; n <= tests; ++n) {
            w.BBtn_StartTest->click();
            if (!WaitUntil(
                    [&] { return w.Nbk_Sstate->ActivePage() == QLatin1String("ShowState"); })) {
                return Fail("test");
            }
            QApplication::processEvents();
            Say(QStringLiteral("shown %1 ").arg(n) + w.LblCxRx->text());
            if (!save.isEmpty()) {
                w.N3->trigger();
                Say(QStringLiteral("saved %1").arg(QFileInfo(save).size()));
            }
            w.BitBtn6->click();
            if (!WaitUntil(
                    [&] { return w.Nbk_Sstate->ActivePage() == QLatin1String("DefPage"); })) {
                return Fail("return");
            }
        }
        if (page) {
            static_cast<QAction*>(find("N_ArchiveOpen"))->trigger();
            TfrmArchive* a = w.ArchiveWindow();
            Say(QStringLiteral("archive rows %1").arg(a->Model().Total()));
            if (!specimen.isEmpty()) {
                a->ShowTrend(specimen.toStdString());
                Say(QStringLiteral("trend points %1").arg(a->TrendPoints().size()));
            }
        }
        Say(QStringLiteral("done"));
        while (linger) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(5);
        }
        w.close();
        WaitUntil([&] { return !w.isVisible(); }, 5000);
    }
    simulator.Stop();
    return status;
}
