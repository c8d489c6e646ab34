// The operator's own mistakes: nonsense typed into every field, buttons pressed twice, the
// window closed in the middle of whatever it is doing.
#include "fixture.h"
#include "support/pty.h"

#include "core/commands.h"
#include "core/history.h"
#include "core/responses.h"
#include "core/texts.h"
#include "sim/payloads.h"

#include <atomic>
#include <thread>

using namespace dielmon;
using namespace dielmon::test;

namespace {

const QString kHuge(10000, QLatin1Char('9'));

int CountSent(const Fixture& f, std::uint8_t code) {
    int n = 0;
    for (const auto& frame : f.SentFrames()) {
        n += frame[1] == code ? 1 : 0;
    }
    return n;
}

// Types into the field as the operator would (the field's own input rules apply), then moves
// the focus on, which runs the field's check.
void TypeAndLeave(Fixture& f, const char* name, const QString& text) {
    QLineEdit* field = f.W<QLineEdit>(name);
    field->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return field->hasFocus(); }));
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    if (text.size() > 100) {
        field->insert(text); // pasted
    } else {
        QTest::keyClicks(field, text);
    }
    f.W<QComboBox>("CBox_EleType")->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    QApplication::processEvents();
}

// A quick second click lands on whatever the first one left under the pointer.
void PressTwice(Fixture& f, const char* name) {
    QPushButton* button = f.W<QPushButton>(name);
    const QPoint at = button->mapTo(f.Window.get(), button->rect().center());
    f.Click(name);
    QTest::qWait(150); // a double click's second press, with the window working meanwhile
    if (auto* now = qobject_cast<QPushButton*>(f.Window->childAt(at));
        now != nullptr && now->isEnabled()) {
        now->click();
    }
}

void FinishTest(Fixture& f) {
    ASSERT_TRUE(WaitUntil(
        [&] { return f.OnPages("Default", "ShowState") || f.OnPages("Default", "Error"); }));
    if (f.OnPages("Default", "Error")) {
        f.Tick(6);
    }
}

} // namespace

TEST(OperatorMistakes, NonsenseInThePanelsFieldsStartsATestWithWhatTheFieldsConvertTo) {
    const struct {
        const char* field;
        const char* mode; // a wiring mode and standard in which the field is in use
        const char* standard;
        QString typed;
        QString shown;
        const char* message; // on leaving the field, or none
        float sent;
    } cases[] = {
        {"Edt_Volt", "反接线", "内标准", "", "", nullptr, 0},
        {"Edt_Volt", "反接线", "内标准", kHuge, kHuge, nullptr, 0},
        {"Edt_Volt", "反接线", "内标准", "-5", "5", texts::kVoltRange10000, 5},
        {"Edt_Volt", "反接线", "内标准", "abc", "", nullptr, 0},
        {"CBox_VoltUp", "CVT自激法", "内标准", "", "", nullptr, 0},
        {"CBox_VoltUp", "CVT自激法", "内标准", kHuge, kHuge, nullptr, 0},
        {"CBox_VoltUp", "CVT自激法", "内标准", "-5", "5", texts::kVoltUpRange, 5},
        {"CBox_VoltUp", "CVT自激法", "内标准", "abc", "", nullptr, 0},
        {"Edt_C", "反接线", "外标准", "", "", nullptr, 0},
        {"Edt_C", "反接线", "外标准", kHuge, kHuge, nullptr, 0},
        {"Edt_C", "反接线", "外标准", "-5", "-5", nullptr, -5},
        {"Edt_C", "反接线", "外标准", "abc", "abc", nullptr, 0},
        {"Edt_JS", "反接线", "外标准", "", "", nullptr, 0},
        {"Edt_JS", "反接线", "外标准", kHuge, kHuge, nullptr, 0},
        {"Edt_JS", "反接线", "外标准", "-5", "-5", nullptr, -5},
        {"Edt_JS", "反接线", "外标准", "1e39", "1e39", nullptr, 0},
        // Blanks around a number do not matter; blanks inside it do.
        {"Edt_C", "反接线", "外标准", " 50.5", " 50.5", nullptr, 50.5f},
        {"Edt_C", "反接线", "外标准", "50 .5", "50 .5", nullptr, 0},
        {"Edt_JS", "反接线", "外标准", "0.5 ", "0.5 ", nullptr, 0.5f},
        {"Edt_Volt", "反接线", "内标准", " 5000 ", "5000", nullptr, 5000}, // digits only
    };
    Fixture f;
    f.Window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.Window.get()));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " '" + c.typed.left(8).toStdString() + "'");
        f.Connect();
        f.Choose("CBox_ConnType", c.mode);
        if (f.W("CBox_U")->isEnabled()) {
            f.Choose("CBox_U", c.standard);
        }
        if (f.W("CBox_TestVolt")->isEnabled()) {
            f.Choose("CBox_TestVolt", "内高压"); // a test before may have left 外高压
        }
        f.Dialogs.Messages.clear();
        TypeAndLeave(f, c.field, c.typed);
        EXPECT_EQ(f.W<QLineEdit>(c.field)->text(), c.shown);
        if (c.message != nullptr) {
            EXPECT_EQ(f.Dialogs.LastText(), Q(c.message));
        } else {
            EXPECT_TRUE(f.Dialogs.Messages.empty()) << f.Dialogs.LastText().toStdString();
        }
        f.Dialogs.Messages.clear();
        f.Click("BBtn_StartTest");
        const TestParameters p = DecodeStartTest(f.SentFrames().back().data(), 26);
        const std::string field = c.field;
        const float sent = field == "Edt_Volt"      ? static_cast<float>(p.TestVoltage)
                           : field == "CBox_VoltUp" ? static_cast<float>(p.CvtVoltageLimit)
                           : field == "Edt_C"       ? p.ExtCapacitance
                                                    : p.ExtDissipation;
        EXPECT_EQ(sent, c.sent);
        FinishTest(f);
        // Starting moves the focus out of the field, which checks it once more.
        for (const auto& m : f.Dialogs.Messages) {
            EXPECT_TRUE(c.message != nullptr && m.Text == Q(c.message)) << m.Text.toStdString();
        }
        EXPECT_FALSE(f.Window->State().TestRunning);
    }
}

TEST(OperatorMistakes, NonsenseInTheSettingsDialogIsRefusedOrReportedWhenThePortOpens) {
    const struct {
        const char* field;
        QString typed;
        QString refusal; // %1 the text; empty: saved, and then the port cannot be opened
    } cases[] = {
        {"Edt_DataNum", "", "'%1' is not a valid integer value"},
        {"Edt_DataNum", kHuge, "'%1' is not a valid integer value"},
        {"Edt_DataNum", "abc", "'%1' is not a valid integer value"},
        {"Edt_DataNum", "-5", ""},
        {"CombBaud", "", "List index out of bounds (-1)"},
        {"CombBaud", kHuge, "List index out of bounds (-1)"},
        {"CombBaud", "-5", "List index out of bounds (-1)"},
        {"CombBaud", "abc", "List index out of bounds (-1)"},
        {"CombComm", "", ""},
        {"CombComm", kHuge, ""},
        {"CombComm", "-5", ""},
        {"CombComm", "abc", ""},
    };
    Fixture f({}, false);
    const QString simPort = QString::fromStdString(f.Sim->DevicePath());
    f.OpenFromSettings(f.Sim->DevicePath());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " '" + c.typed.left(8).toStdString() + "'");
        const Settings before = f.Window->CurrentSettings();
        const std::string file = ReadAll(f.Home.File("Config.ini"));
        f.Dialogs.Messages.clear();
        f.WithSettingsDialog([&](TfrmSetComm& d) {
            const std::string field = c.field;
            if (field == "Edt_DataNum") {
                d.Edt_DataNum->setText(c.typed);
            } else {
                QComboBox* box = field == "CombBaud" ? d.CombBaud : d.CombComm;
                box->setEditText(c.typed);
            }
            d.BitBtn1->click();
        });
        ASSERT_FALSE(f.Dialogs.Messages.empty());
        if (!c.refusal.isEmpty()) {
            EXPECT_EQ(f.Dialogs.Messages.front().Text,
                      c.refusal.contains(QLatin1String("%1")) ? c.refusal.arg(c.typed) : c.refusal);
            EXPECT_EQ(f.Window->CurrentSettings(), before);
            EXPECT_EQ(ReadAll(f.Home.File("Config.ini")), file);
            EXPECT_TRUE(f.Window->State().PortOpen);
            continue;
        }
        EXPECT_EQ(f.Dialogs.Messages.front().Text, Q(texts::kSaveSucceeded));
        EXPECT_TRUE(f.Dialogs.LastText().endsWith(Q(texts::kOpenPortFailed)));
        EXPECT_FALSE(f.Window->State().PortOpen);
        f.Trigger("N7"); // into a closed port: nothing happens but the clock's notice
        f.Tick(6);
        EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortError);
        // The operator puts the settings right and carries on.
        f.WithSettingsDialog([&](TfrmSetComm& d) {
            d.CombComm->setEditText(simPort);
            d.Edt_DataNum->setText(QStringLiteral("8"));
            d.CombBaud->setCurrentIndex(d.CombBaud->findText(QStringLiteral("9600")));
            d.BitBtn1->click();
        });
        EXPECT_TRUE(f.Window->State().PortOpen);
        f.Connect();
    }
}

TEST(OperatorMistakes, ButtonsPressedTwiceQuickly) {
    auto listed = [](int rows) {
        return [rows](Fixture& f) {
            f.Click("BBtn_UpHis");
            ASSERT_TRUE(
                WaitUntil([&] { return f.W<QTableWidget>("LView_History")->rowCount() >= rows; }));
        };
    };
    auto deleted = [](int rows) {
        return [rows](Fixture& f) {
            ASSERT_TRUE(WaitUntil([&] {
                return f.W<QTableWidget>("LView_History")->rowCount() == rows &&
                       Text(f.W("Lbl_Num")) == HistoryCountText(rows);
            }));
        };
    };
    const struct {
        const char* button;
        std::function<void(Fixture&)> before; // brings the window where the button is
        std::uint8_t command;
        int most; // commands that may leave: the second press may find the button gone
        std::function<void(Fixture&)> after; // what the window then shows
        std::vector<std::string> sim = {"--speed", "20"};
    } cases[] = {
        {"BBtn_StartTest", [](Fixture&) {}, CmdStartTest, 1, [](Fixture& f) { FinishTest(f); }},
        {"BBtn_StopTest", [](Fixture& f) { f.Click("BBtn_StartTest"); }, CmdStopTest, 2,
         [](Fixture& f) {
             ASSERT_TRUE(WaitUntil([&] { return f.W("CBox_ConnType")->isEnabled(); }));
             EXPECT_TRUE(f.W("BBtn_StartTest")->isEnabled());
         }},
        {"BitBtn4",
         [](Fixture& f) {
             f.Click("BBtn_StartTest");
             FinishTest(f);
         },
         CmdInstrumentSave, 2,
         [](Fixture& f) { // the result is stored once
             ASSERT_TRUE(WaitUntil([&] { return Text(f.W("Label21")) == texts::kDataSaved; }));
             f.Click("BitBtn6"); // answered after every save before it
             ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
             f.Click("BBtn_UpHis");
             ASSERT_TRUE(WaitUntil([&] { return Text(f.W("Lbl_Num")) == HistoryCountText(10); }));
         }},
        {"BitBtn7", listed(9), CmdReadRecord, 1,
         [](Fixture& f) {
             ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowOne"); }));
         }},
        {"BitBtn8", listed(9), CmdDeleteRecord, 1, deleted(8)},
        // While a long listing still arrives, each entry shows the list again under the pointer.
        {"BitBtn8",
         listed(3),
         CmdDeleteRecord,
         1,
         deleted(99),
         {"--speed", "2", "--records", "100"}},
        {"BBtn_DelHis", [](Fixture&) {}, CmdClearHistory, 2,
         [](Fixture& f) {
             ASSERT_TRUE(
                 WaitUntil([&] { return Text(f.W("Lbl_Info")) == texts::kHistoryCleared; }));
             EXPECT_EQ(f.W<QTableWidget>("LView_History")->rowCount(), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        Fixture f(c.sim);
        f.Connect();
        c.before(f);
        PressTwice(f, c.button);
        const int sent = CountSent(f, c.command);
        EXPECT_GE(sent, 1);
        EXPECT_LE(sent, c.most);
        c.after(f);
        ASSERT_TRUE(WaitUntil([&] {
            return f.Sim->CommandsReceived(c.command) == static_cast<std::uint64_t>(sent);
        }));
    }
}

TEST(OperatorMistakes, ClosingTheWindowInEveryStateNeverHangs) {
    const struct {
        const char* state;
        std::vector<std::string> sim;
        std::function<void(Fixture&)> reach;
        bool refused; // "请先停止测试！"
    } cases[] = {
        {"boosting",
         {},
         [](Fixture& f) {
             f.Click("BBtn_StartTest");
             ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspBoosting) > 0; }));
         },
         true},
        {"steps",
         {},
         [](Fixture& f) {
             f.Click("BBtn_StartTest");
             ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspStepResult) > 0; }));
         },
         true},
        {"result page",
         {"--speed", "50"},
         [](Fixture& f) {
             f.Click("BBtn_StartTest");
             FinishTest(f);
         },
         false},
        {"error page",
         {"--error", "B2@1"},
         [](Fixture& f) {
             f.Click("BBtn_StartTest");
             ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "Error"); }));
         },
         true},
        {"stopping",
         {},
         [](Fixture& f) {
             f.Click("BBtn_StartTest");
             ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspBoosting) > 0; }));
             f.Click("BBtn_StopTest");
         },
         false},
        {"waiting for the index", {}, [](Fixture& f) { f.Click("BBtn_UpHis"); }, false},
        {"waiting for a record",
         {"--speed", "50"},
         [](Fixture& f) {
             f.Click("BBtn_UpHis");
             ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowAll"); }));
             f.Click("BitBtn7");
         },
         false},
        {"deleting",
         {"--speed", "50"},
         [](Fixture& f) {
             f.Click("BBtn_UpHis");
             ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowAll"); }));
             f.Click("BitBtn8");
         },
         false},
        {"clearing", {}, [](Fixture& f) { f.Click("BBtn_DelHis"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        std::vector<std::string> args = {"--speed", "1"};
        args.insert(args.end(), c.sim.begin(), c.sim.end());
        Fixture f(args);
        f.Connect();
        c.reach(f);
        f.Dialogs.Messages.clear();
        EXPECT_FALSE(f.Window->close());
        EXPECT_EQ(f.Dialogs.LastText() == Q(texts::kStopTestFirst), c.refused);
        if (!c.refused) {
            EXPECT_EQ(f.SentFrames().back()[1], CmdDisconnect);
            f.Tick(3); // closes on the answer, or 3 s after the request without one
            ASSERT_TRUE(WaitUntil([&] { return !f.Window->isVisible(); }));
        }
        // The window goes while the instrument may still be sending.
        f.Window.reset();
    }
}

TEST(OperatorMistakes, TheWindowIsDestroyedWhileFramesStreamAsFastAsTheLineTakesThem) {
    PseudoTerminal line;
    Fixture f({}, false);
    f.Open(line.Path());
    std::atomic<bool> stop{false};
    std::atomic<int> bursts{0};
    std::thread streamer([&] {
        std::vector<std::uint8_t> burst;
        for (int k = 0; k < 50; ++k) {
            const auto frame = BuildFrame(RspStepResult, sim::EncodeStep({1.0F + k, 500, 0.01F}));
            burst.insert(burst.end(), frame.begin(), frame.end());
        }
        while (!stop && line.Write(burst.data(), burst.size(), 200)) {
            ++bursts;
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return f.Window->FramesDispatched() > 500; }));
    f.Window.reset();
    stop = true;
    streamer.join();
    EXPECT_GT(bursts.load(), 10);
}
