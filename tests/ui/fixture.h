// The real main window, offscreen, against the simulated instrument on a pseudo-terminal.
// Dialogs are answered by the test; the window's clock stands still until a test moves it.
#pragma once

#include "core/clock.h"
#include "core/frame.h"
#include "core/gbk.h"
#include "core/tracelog.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "qtgbk.h"
#include "setcomm.h"
#include "sim/simulator.h"
#include "support/frames.h"
#include "support/sim.h"
#include "support/tempdir.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <vector>

namespace dielmon::test {

class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        QString Text;
        QString Caption;
        Icon Kind;
        Buttons Choice;
    };
    std::vector<Shown> Messages;
    std::deque<Answer> Answers;   // answered in turn; Ok when empty
    std::deque<QString> Files;    // names given to the file dialogs in turn; "" cancels
    std::vector<QString> Opened;  // documents opened
    std::vector<QString> Filters; // filters the file dialogs were shown with
    std::vector<QString> Titles;
    std::vector<QString> Starts;          // where the file dialogs started
    std::deque<int> Choices;              // answers of the list choices in turn; 0 when empty
    std::vector<QStringList> ChoiceLists; // the items each list choice offered
    std::vector<QString> ChoiceLabels;
    int PrinterDialogs = 0;              // print dialogs shown; each is cancelled
    std::function<void()> DuringMessage; // runs while a message is "on show"

    Answer Message(QWidget*, const QString& text, const QString& caption, Icon icon,
                   Buttons buttons) override {
        Messages.push_back({text, caption, icon, buttons});
        if (DuringMessage) {
            DuringMessage();
        }
        if (Answers.empty()) {
            return Answer::Ok;
        }
        const Answer a = Answers.front();
        Answers.pop_front();
        return a;
    }
    QString SaveFileName(QWidget*, const QString& title, const QString& start,
                         const QString& filter, const QString&) override {
        return Next(title, start, filter);
    }
    QString OpenFileName(QWidget*, const QString& title, const QString& start,
                         const QString& filter) override {
        return Next(title, start, filter);
    }
    int ChooseItem(QWidget*, const QString&, const QString& label,
                   const QStringList& items) override {
        ChoiceLists.push_back(items);
        ChoiceLabels.push_back(label);
        if (Choices.empty()) {
            return 0;
        }
        const int choice = Choices.front();
        Choices.pop_front();
        return choice;
    }
    bool ChoosePrinter(QWidget*, QPrinter&) override {
        ++PrinterDialogs;
        return false;
    }
    bool OpenDocument(const QString& path) override {
        Opened.push_back(path);
        return true;
    }
    QString LastText() const { return Messages.empty() ? QString() : Messages.back().Text; }

private:
    QString Next(const QString& title, const QString& start, const QString& filter) {
        Titles.push_back(title);
        Starts.push_back(start);
        Filters.push_back(filter);
        if (Files.empty()) {
            return {};
        }
        QString f = Files.front();
        Files.pop_front();
        return f;
    }
};

// Runs the event loop until the condition holds; false after `ms` milliseconds.
inline bool WaitUntil(const std::function<bool()>& condition, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(2);
    }
    return true;
}

inline std::string Text(const QWidget* w) {
    return w->property("gbkText").toByteArray().toStdString();
}

struct Fixture {
    explicit Fixture(std::vector<std::string> simArgs = {}, bool start = true) {
        simArgs.insert(simArgs.begin(), {"--speed", "100"});
        Sim = std::make_unique<SimInstrument>(simArgs);
        Clock.Set(FromLocal(2016, 3, 24, 15, 34, 0));
        if (start) {
            Open(Sim->DevicePath());
        }
    }

    void Open(const std::string& port) {
        WindowSetup setup;
        setup.AppPath = Home.Home();
        setup.Port = port;
        setup.TimeSource = &Clock;
        setup.DialogSource = &Dialogs;
        Window = std::make_unique<TfrmDielmon>(setup);
        Window->show();
        QApplication::processEvents();
    }

    // The window with the port of its settings file, as in the field, set to `port`.
    void OpenFromSettings(const std::string& port) {
        WriteAll(Home.File("Config.ini"), "[Config]\r\nComName=" + port + "\r\n");
        WindowSetup setup;
        setup.AppPath = Home.Home();
        setup.TimeSource = &Clock;
        setup.DialogSource = &Dialogs;
        Window = std::make_unique<TfrmDielmon>(setup);
        Window->show();
        QApplication::processEvents();
    }

    template <typename T = QWidget>
    T* W(const char* name) const {
        T* w = Window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QAction* Menu(const char* name) const { return W<QAction>(name); }

    void Choose(const char* combo, const std::string& gbkItem) {
        QComboBox* box = W<QComboBox>(combo);
        const int index = box->findText(Q(gbkItem));
        ASSERT_GE(index, 0) << combo << " has no item " << GbkToUtf8(gbkItem);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    void Click(const char* button) {
        QPushButton* b = W<QPushButton>(button);
        ASSERT_TRUE(b->isEnabled()) << button;
        b->click();
    }
    void Trigger(const char* action) {
        QAction* a = Menu(action);
        ASSERT_TRUE(a->isEnabled()) << action;
        a->trigger();
    }
    QString Page(const char* notebook) const { return W<TNotebook>(notebook)->ActivePage(); }
    bool OnPages(const char* all, const char* sub = nullptr) const {
        if (Page("Nbk_AllState") != QLatin1String(all)) {
            return false;
        }
        if (sub == nullptr) {
            return true;
        }
        const char* nb =
            QLatin1String(all) == QLatin1String("Default") ? "Nbk_Sstate" : "Nbk_ShowHis";
        return Page(nb) == QLatin1String(sub);
    }

    // Connects and waits until the instrument's settings are in the panel.
    void Connect() {
        const auto before = Sim->FramesSent(0x1A);
        Trigger("N7");
        ASSERT_TRUE(WaitUntil([&] { return Sim->FramesSent(0x1A) > before; }));
        ASSERT_TRUE(WaitUntil([&] { return Window->State().InstrumentAnswered; }));
        ASSERT_TRUE(WaitUntil([&] { return W<QPushButton>("BBtn_StartTest")->isEnabled(); }));
    }

    // Every frame received so far, as the log traced it.
    std::vector<std::vector<std::uint8_t>> ReceivedFrames() const {
        FrameCollector sink;
        Reassembler r;
        const TraceParse t = ParseTraceLog(ReadAll(Window->Log().LogFileName()));
        for (const TraceLine& line : t.Lines) {
            if (!line.Sent && !line.Bytes.empty()) {
                r.Feed(line.Bytes.data(), static_cast<int>(line.Bytes.size()), sink);
            }
        }
        return sink.Frames;
    }
    std::vector<std::vector<std::uint8_t>> SentFrames() const {
        std::vector<std::vector<std::uint8_t>> frames;
        for (const TraceLine& line : ParseTraceLog(ReadAll(Window->Log().LogFileName())).Lines) {
            if (line.Sent) {
                frames.push_back(line.Bytes);
            }
        }
        return frames;
    }
    std::vector<std::uint8_t> LastReceived(std::uint8_t code) const {
        const auto frames = ReceivedFrames();
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            if ((*it)[1] == code) {
                return *it;
            }
        }
        return {};
    }
    // Runs `during` while the modal settings dialog is open, then closes it.
    void WithSettingsDialog(const std::function<void(TfrmSetComm&)>& during) {
        QTimer::singleShot(0, [during] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* d = qobject_cast<TfrmSetComm*>(w); d != nullptr && d->isVisible()) {
                    during(*d);
                    d->BitBtn2->click();
                }
            }
        });
        Trigger("N2");
    }
    void Tick(int seconds) {
        Clock.Advance(std::chrono::seconds(seconds));
        Window->Timer_NowTimer();
    }

    TempDir Home;
    ManualClock Clock;
    ScriptedDialogs Dialogs;
    std::unique_ptr<SimInstrument> Sim;
    std::unique_ptr<TfrmDielmon> Window;
};

} // namespace dielmon::test
