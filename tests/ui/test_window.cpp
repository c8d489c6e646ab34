#include "fixture.h"

#include "core/commands.h"
#include "core/config.h"
#include "core/helpers.h"
#include "core/panel.h"
#include "core/responses.h"
#include "core/results.h"
#include "core/texts.h"
#include "setcomm.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTimer>

using namespace dielmon;
using namespace dielmon::test;

namespace {

const char* const kControls[] = {
    "CBox_EleType",   "CBox_ConnType",   "CBox_Model",    "CBox_U",        "CBox_Freq",
    "CBox_TestVolt",  "Edt_Volt",        "Label2",        "Edt_C",         "Edt_JS",
    "CBox_VoltUp",    "CBox_CurrentUp",  "CBox_JLVoltUp", "CBox_JLCultUp", "BBtn_StopTest",
    "BBtn_StartTest", "BBtn_UpHis",      "BBtn_DelHis",   "Nbk_AllState",  "Nbk_Sstate",
    "Nbk_ShowHis",    "LblTime",         "Lbl_Default1",  "Lbl_Error",     "Lbl_Info",
    "Lbl_Guding",     "Lbl_UpInfo",      "ProgBar_Step",  "Panel13",       "Lbl_ShowState",
    "LblCxRx",        "Label19",         "Pnl_Hint",      "Label21",       "BitBtn4",
    "BitBtn5",        "BitBtn6",         "Lbl_Num",       "LView_History", "BitBtn7",
    "BitBtn8",        "BitBtn9",         "Panel27",       "Label22",       "Label23",
    "Label24",        "Panel33",         "Label26",       "BitBtn10",      "BitBtn11",
    "BitBtn12",       "LblHis_ShowInfo", "Label20",       "Label25",       "Label27",
    "BitBtn15",
};

// Chooses the wiring mode and channels, starts a test and waits for its result page.
void RunTest(Fixture& f, const char* mode, int model = -1) {
    f.Choose("CBox_ConnType", mode);
    if (model >= 0) {
        f.Choose("CBox_Model",
                 Utf8ToGbk(f.W<QComboBox>("CBox_Model")->itemText(model).toStdString()));
    }
    const auto results = f.Sim->FramesSent(RspFinalResult);
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspFinalResult) > results; }));
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
}

} // namespace

TEST(Window, StartsEmptyWithEveryControlAndAChineseFont) {
    Fixture f;
    EXPECT_EQ(f.Window->windowTitle(), Q(texts::kCaption));
    for (const char* name : kControls) {
        EXPECT_NE(f.Window->findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
    }
    for (const char* action : {"N1", "N7", "N8", "N2", "N9", "N3", "N4", "N5", "N6"}) {
        EXPECT_NE(f.Window->findChild<QAction*>(QString::fromLatin1(action)), nullptr) << action;
    }
    EXPECT_EQ(f.W("Pnl_Left")->width(), 337);
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    EXPECT_EQ(Text(f.W("Lbl_Default1")), texts::kIdleText);
    for (const char* page : {"Default", "HisData", "UpHis"}) {
        EXPECT_NE(f.W<TNotebook>("Nbk_AllState")->Page(QString::fromLatin1(page)), nullptr);
    }
    for (const char* page : {"DefPage", "Error", "Info", "UpVolt", "ShowState"}) {
        EXPECT_NE(f.W<TNotebook>("Nbk_Sstate")->Page(QString::fromLatin1(page)), nullptr);
    }
    for (const char* page : {"ShowAll", "ShowOne", "ShowInfo"}) {
        EXPECT_NE(f.W<TNotebook>("Nbk_ShowHis")->Page(QString::fromLatin1(page)), nullptr);
    }
    // The panel is empty and disabled until the instrument reports its settings.
    for (const char* combo : {"CBox_EleType", "CBox_ConnType", "CBox_U", "CBox_Freq",
                              "CBox_TestVolt", "CBox_CurrentUp"}) {
        EXPECT_EQ(f.W<QComboBox>(combo)->currentIndex(), -1) << combo;
        EXPECT_FALSE(f.W<QComboBox>(combo)->isEnabled()) << combo;
    }
    EXPECT_EQ(f.W<QComboBox>("CBox_Freq")->count(), 25);
    EXPECT_EQ(f.W<QLineEdit>("Edt_C")->text(), QString());
    for (const char* button : {"BBtn_StopTest", "BBtn_StartTest", "BBtn_UpHis", "BBtn_DelHis"}) {
        EXPECT_FALSE(f.W<QPushButton>(button)->isEnabled()) << button;
    }
    EXPECT_FALSE(f.Menu("N3")->isEnabled());
    EXPECT_FALSE(f.Menu("N4")->isEnabled());
    EXPECT_TRUE(f.Window->State().PortOpen);
    EXPECT_TRUE(f.Dialogs.Messages.empty());
    EXPECT_TRUE(f.SentFrames().empty()); // nothing is sent before "连接"

    // Missing glyphs would show as empty boxes and nothing else would notice.
    const QFont font = SongFont(13);
    const QFontInfo info(font);
    EXPECT_TRUE(
        QFontDatabase::writingSystems(info.family()).contains(QFontDatabase::SimplifiedChinese))
        << info.family().toStdString() << ": install fonts-arphic-uming";
    const QFontMetrics metrics(font);
    for (const QChar c : QStringLiteral("抗干扰精密介质损耗测量仪Φ°Ω")) {
        EXPECT_TRUE(metrics.inFont(c)) << QString(c).toStdString();
    }
}

TEST(Window, ConnectFillsThePanelForEveryInstrumentType) {
    for (int type : {4, 5, 6, 7}) {
        Fixture f({"--type", std::to_string(type)});
        f.Connect();
        EXPECT_EQ(f.Window->State().InstrumentType, type);
        EXPECT_EQ(G(f.W<QComboBox>("CBox_ConnType")->currentText()), "反接线");
        EXPECT_FALSE(f.W("CBox_Model")->isVisible());
        EXPECT_EQ(f.W("CBox_ConnType")->width(), 216);
        EXPECT_EQ(G(f.W<QComboBox>("CBox_U")->currentText()), "内标准");
        EXPECT_EQ(G(f.W<QComboBox>("CBox_Freq")->currentText()), "50Hz");
        EXPECT_EQ(G(f.W<QComboBox>("CBox_TestVolt")->currentText()), "内高压");
        EXPECT_EQ(f.W<QLineEdit>("Edt_Volt")->text(), QStringLiteral("10000"));
        EXPECT_TRUE(f.W("Edt_Volt")->isVisible());
        EXPECT_EQ(f.W<QLineEdit>("Edt_C")->text(), QStringLiteral("50"));
        EXPECT_EQ(f.W<QLineEdit>("Edt_JS")->text(), QStringLiteral("0.000"));
        EXPECT_EQ(f.W<QLineEdit>("CBox_VoltUp")->text(), QStringLiteral("2000"));
        EXPECT_EQ(G(f.W<QComboBox>("CBox_EleType")->currentText()), "市电");
        EXPECT_FALSE(f.W("Edt_C")->isEnabled()); // internal standard
        EXPECT_FALSE(f.W("CBox_VoltUp")->isEnabled());
        EXPECT_TRUE(f.W("BBtn_UpHis")->isEnabled());
        EXPECT_FALSE(f.W("BBtn_StopTest")->isEnabled());

        // 正接线 shows the channel selector on instrument types 5 and 6 only, also after the
        // instrument reports it on connecting.
        RunTest(f, "正接线");
        f.Connect();
        const bool selector = type == 5 || type == 6;
        EXPECT_EQ(f.W("CBox_Model")->isVisible(), selector) << type;
        EXPECT_EQ(f.W("CBox_ConnType")->width(), selector ? 118 : 216) << type;
        if (selector) {
            EXPECT_EQ(f.W<QComboBox>("CBox_Model")->currentText(), QStringLiteral("CH-A"));
        }
    }
}

TEST(Window, TheLastTestsSettingsComeBackOnConnect) {
    Fixture f;
    f.Connect();
    f.Choose("CBox_U", "外标准");
    EXPECT_TRUE(f.W("Edt_C")->isEnabled());
    QLineEdit* c = f.W<QLineEdit>("Edt_C");
    c->clear();
    QTest::keyClicks(c, QStringLiteral("50.5"));
    QLineEdit* js = f.W<QLineEdit>("Edt_JS");
    js->clear();
    QTest::keyClicks(js, QStringLiteral("0.1"));
    f.Choose("CBox_TestVolt", "外高压");
    EXPECT_EQ(G(f.W<QComboBox>("CBox_Freq")->currentText()), "自动检测");
    EXPECT_FALSE(f.W("CBox_Freq")->isEnabled());
    EXPECT_FALSE(f.W("Edt_Volt")->isVisible());
    EXPECT_FALSE(f.W("Label2")->isVisible());
    RunTest(f, "反接线低压屏蔽");
    // The start frame carried the panel's choices.
    const TestParameters sent = DecodeStartTest(f.SentFrames().back().data(), 26);
    EXPECT_EQ(sent.ExtCapacitance, 50.5f);
    EXPECT_EQ(sent.ExtDissipation, 0.1f);
    EXPECT_EQ(sent.FrequencyCode, 0);
    EXPECT_EQ(sent.TestVoltage, 0);
    EXPECT_EQ(sent.WiringMode, 3);
    EXPECT_EQ(sent.Standard, 2);

    f.Connect();
    EXPECT_EQ(G(f.W<QComboBox>("CBox_TestVolt")->currentText()), "外高压");
    EXPECT_FALSE(f.W("Edt_Volt")->isVisible());
    EXPECT_EQ(G(f.W<QComboBox>("CBox_Freq")->currentText()), "自动检测");
    EXPECT_EQ(f.W<QLineEdit>("Edt_C")->text(), QStringLiteral("50")); // 50.5: halves to even
    EXPECT_EQ(f.W<QLineEdit>("Edt_JS")->text(), QStringLiteral("0.100"));
    EXPECT_EQ(G(f.W<QComboBox>("CBox_U")->currentText()), "外标准");
    EXPECT_TRUE(f.W("Edt_C")->isEnabled());

    // Back to internal voltage at 60±2Hz, 51.5 pF: both come back as set.
    f.Choose("CBox_TestVolt", "内高压");
    EXPECT_EQ(G(f.W<QComboBox>("CBox_Freq")->currentText()), "50Hz");
    f.Choose("CBox_Freq", "60±2Hz");
    EXPECT_EQ(f.W<QLineEdit>("Edt_Volt")->text(), QString()); // nothing reported for it
    QTest::keyClicks(f.W<QLineEdit>("Edt_Volt"), QStringLiteral("8000"));
    c->clear();
    QTest::keyClicks(c, QStringLiteral("51.5"));
    RunTest(f, "反接线");
    EXPECT_EQ(DecodeStartTest(f.SentFrames().back().data(), 26).FrequencyCode, 53);
    f.Connect();
    EXPECT_EQ(G(f.W<QComboBox>("CBox_Freq")->currentText()), "60±2Hz");
    EXPECT_EQ(f.W<QLineEdit>("Edt_C")->text(), QStringLiteral("52"));
    EXPECT_EQ(f.W<QComboBox>("CBox_Freq")->findText(Q(texts::kAutoDetect)), -1);
    EXPECT_EQ(f.W<QLineEdit>("Edt_Volt")->text(), QStringLiteral("8000"));
}

TEST(Window, PanelDependenciesAndLocks) {
    Fixture f;
    f.Connect();
    f.Choose("CBox_ConnType", "CVT自激法");
    EXPECT_EQ(G(f.W<QComboBox>("CBox_U")->currentText()), "内标准");
    EXPECT_EQ(G(f.W<QComboBox>("CBox_TestVolt")->currentText()), "内高压");
    EXPECT_FALSE(f.W("CBox_U")->isEnabled());
    EXPECT_FALSE(f.W("CBox_TestVolt")->isEnabled());
    EXPECT_FALSE(f.W("Edt_C")->isEnabled());
    for (const char* name : {"CBox_VoltUp", "CBox_CurrentUp", "CBox_JLVoltUp", "CBox_JLCultUp"}) {
        EXPECT_TRUE(f.W(name)->isEnabled()) << name;
    }
    f.Choose("CBox_ConnType", "变比");
    EXPECT_FALSE(f.W("CBox_TestVolt")->isEnabled());
    f.Choose("CBox_ConnType", "反接线");
    EXPECT_TRUE(f.W("CBox_TestVolt")->isEnabled());
    EXPECT_EQ(G(f.W<QComboBox>("CBox_TestVolt")->currentText()), "内高压");
    f.Choose("CBox_ConnType", "正接线");
    EXPECT_TRUE(f.W("CBox_Model")->isVisible());
    EXPECT_EQ(f.W("CBox_ConnType")->width(), 118);
    f.Choose("CBox_TestVolt", "外高压");
    f.Choose("CBox_TestVolt", "外高压");
    EXPECT_EQ(f.W<QComboBox>("CBox_Freq")->itemText(0), Q(texts::kAutoDetect));
    EXPECT_NE(f.W<QComboBox>("CBox_Freq")->itemText(1), Q(texts::kAutoDetect));

    // Locked while a test runs: the panel, the history buttons and four menus.
    f.Choose("CBox_TestVolt", "内高压");
    f.Click("BBtn_StartTest");
    EXPECT_TRUE(f.Window->State().TestRunning);
    for (const char* name : {"CBox_ConnType", "CBox_Model", "CBox_U", "CBox_Freq", "Edt_Volt",
                             "Edt_C", "BBtn_UpHis", "BBtn_DelHis", "BBtn_StartTest"}) {
        EXPECT_FALSE(f.W(name)->isEnabled()) << name;
    }
    for (const char* menu : {"N1", "N2", "N9", "N6"}) {
        EXPECT_FALSE(f.Menu(menu)->isEnabled()) << menu;
    }
    EXPECT_TRUE(f.W("BBtn_StopTest")->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    for (const char* name : {"CBox_ConnType", "CBox_Model", "BBtn_UpHis", "BBtn_StartTest"}) {
        EXPECT_TRUE(f.W(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(f.Menu("N9")->isEnabled());
    EXPECT_FALSE(f.W("BBtn_StopTest")->isEnabled());
}

TEST(Window, TheChannelSelectorIsUsableWhenDirectWiringIsChosenAfterATestInAnotherMode) {
    Fixture f({"--type", "5"});
    f.Connect();
    RunTest(f, "反接线");
    EXPECT_FALSE(f.W("CBox_Model")->isVisible());
    f.Choose("CBox_ConnType", "正接线");
    EXPECT_TRUE(f.W("CBox_Model")->isVisible());
    EXPECT_TRUE(f.W("CBox_Model")->isEnabled());
    RunTest(f, "正接线", 1);
    EXPECT_EQ(DecodeStartTest(f.SentFrames().back().data(), 26).Channels, 2);
}

TEST(Window, RangeChecksWhenLeavingTheVoltageFields) {
    Fixture f({"--type", "4"});
    f.Connect();
    f.Window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.Window.get()));
    QLineEdit* volt = f.W<QLineEdit>("Edt_Volt");
    QLineEdit* c = f.W<QLineEdit>("Edt_C");
    auto leaveWith = [&](QLineEdit* field, const QString& text) {
        f.Dialogs.Messages.clear();
        field->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return field->hasFocus(); }));
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
        f.W<QComboBox>("CBox_EleType")->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    };
    leaveWith(volt, QStringLiteral("99"));
    ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kVoltRange10000));
    EXPECT_EQ(f.Dialogs.Messages[0].Caption, Q(texts::kPrompt));
    EXPECT_TRUE(volt->hasFocus());
    EXPECT_EQ(volt->text(), QStringLiteral("99")); // left as typed
    leaveWith(volt, QStringLiteral("10001"));
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kVoltRange10000));
    leaveWith(volt, QStringLiteral("10000"));
    EXPECT_TRUE(f.Dialogs.Messages.empty())
        << f.Dialogs.LastText().toStdString() << " / " << volt->text().toStdString();
    leaveWith(volt, QStringLiteral("12a")); // the field takes digits only
    EXPECT_EQ(volt->text(), QStringLiteral("12"));
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kVoltRange10000));
    leaveWith(volt, QString());
    EXPECT_TRUE(f.Dialogs.Messages.empty()); // not an integer: no check
    (void)c;

    f.Choose("CBox_ConnType", "CVT自激法");
    QLineEdit* limit = f.W<QLineEdit>("CBox_VoltUp");
    leaveWith(limit, QStringLiteral("4001"));
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kVoltUpRange));
    EXPECT_TRUE(limit->hasFocus());
    leaveWith(limit, QStringLiteral("100"));
    EXPECT_TRUE(f.Dialogs.Messages.empty()) << limit->text().toStdString();
}

TEST(Window, ATestInEveryWiringModeEndsOnItsResultPage) {
    const struct {
        const char* mode;
        int model;
        bool doubled;
        int gauge;
        int pairs;
        int height;
    } cases[] = {
        {"正接线", 0, false, 10, 0, 157},     {"正接线", 1, false, 20, 2, 157},
        {"正接线", 2, true, 60, 3, 220},      {"正接线", 3, false, 40, 4, 220},
        {"反接线", -1, false, 10, 0, 157},    {"反接线低压屏蔽", -1, true, 20, 2, 157},
        {"CVT自激法", -1, false, 20, 2, 157}, {"变比", -1, false, 10, 1, 157},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(GbkToUtf8(c.mode)) + " " + std::to_string(c.model));
        std::vector<std::string> args = {"--type", "5"};
        if (c.doubled) {
            args.push_back("--double-steps");
        }
        Fixture f(args);
        f.Connect();
        if (c.model >= 0) {
            RunTest(f, "正接线"); // the instrument then reports 正接线 and shows the selector
            f.Connect();
        }
        RunTest(f, c.mode, c.model);
        QProgressBar* gauge = f.W<QProgressBar>("ProgBar_Step");
        EXPECT_EQ(gauge->maximum(), c.gauge);
        EXPECT_EQ(gauge->value(), c.gauge);
        EXPECT_EQ(gauge->property("steps").toInt(), c.gauge);
        EXPECT_FALSE(f.Window->State().TestRunning);
        EXPECT_TRUE(f.Menu("N3")->isEnabled());
        EXPECT_TRUE(f.Menu("N4")->isEnabled());

        // The labels hold exactly what the core makes of the frame with the panel's choices.
        const auto frame = f.LastReceived(RspFinalResult);
        ASSERT_FALSE(frame.empty());
        const FinalResultView v = ShowFinalResult(frame.data(), static_cast<int>(frame.size()),
                                                  f.Window->PanelModel().Selection());
        EXPECT_EQ(Text(f.W("Lbl_ShowState")), v.Texts.Title);
        EXPECT_EQ(Text(f.W("LblCxRx")), v.Texts.Main);
        EXPECT_EQ(Text(f.W("Label19")), v.Texts.Details);
        EXPECT_EQ(f.W("Panel13")->height(), c.height);
        EXPECT_EQ(Text(f.W("Lbl_ShowState")).substr(0, std::string(c.mode).size()), c.mode);
        const std::string main = Text(f.W("LblCxRx"));
        if (c.pairs > 0) {
            EXPECT_EQ(main.size(), static_cast<std::size_t>(c.pairs) * 27) << GbkToUtf8(main);
        } else {
            EXPECT_EQ(main.rfind("Cx：", 0), 0u) << GbkToUtf8(main);
        }
        EXPECT_EQ(main.find("over"), std::string::npos) << GbkToUtf8(main);
        EXPECT_NE(Text(f.W("Label19")).find("  Date：20"), std::string::npos);
        EXPECT_FALSE(Text(f.W("Lbl_UpInfo")).empty());
        EXPECT_EQ(Text(f.W("Lbl_Guding")), v.Texts.Title);

        // "返回" goes back to the idle page when the instrument answers.
        f.Click("BitBtn6");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
        EXPECT_FALSE(f.Menu("N3")->isEnabled());
    }
}

TEST(Window, ExactLabelsOfAResultFrame) {
    Fixture f;
    f.Connect();
    const auto frame = Payload(46)
                           .F(0, 10)
                           .F(4, 0.0123f)
                           .F(8, 500)
                           .F(12, 500)
                           .B(16, 1)
                           .F(17, 1.0f)
                           .F(21, 0.3f)
                           .Date(40, 16, 3, 24, 15, 34, 0)
                           .Frame(RspFinalResult);
    f.Window->DispatchFrame(frame.data(), static_cast<int>(frame.size()));
    EXPECT_TRUE(f.OnPages("Default", "ShowState"));
    EXPECT_EQ(Text(f.W("Lbl_ShowState")), "反接线\\内标准\\定频\\内高压");
    EXPECT_EQ(Text(f.W("LblCxRx")), "Cx：1.000nF      DF：0.300%");
    const std::string details = Text(f.W("Label19"));
    EXPECT_EQ(details.substr(0, 27), "　U 　　　：10.000kV     \r\n");
    EXPECT_EQ(details.substr(details.size() - 29), "  Date：2016-03-24 15:34:00\r\n");
    // What the window shows: CR LF as a line break.
    EXPECT_EQ(f.W<QLabel>("Label19")->text().count(QLatin1Char('\n')), 8);
}

TEST(Window, StoppingWithInternalAndExternalVoltage) {
    Fixture f({"--speed", "2"});
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "UpVolt"); }));
    f.Click("BBtn_StopTest");
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPowerShuttingDown);
    EXPECT_FALSE(f.Window->State().TestRunning);
    EXPECT_FALSE(f.W("CBox_ConnType")->isEnabled()); // locked until the instrument has stopped
    ASSERT_TRUE(WaitUntil([&] { return f.W("CBox_ConnType")->isEnabled(); }));
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    EXPECT_TRUE(f.W("BBtn_StartTest")->isEnabled());
    EXPECT_FALSE(f.W("BBtn_StopTest")->isEnabled());
    EXPECT_EQ(f.SentFrames().back()[1], CmdStopTest);

    f.Choose("CBox_TestVolt", "外高压");
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "UpVolt"); }));
    f.Click("BBtn_StopTest");
    EXPECT_TRUE(f.OnPages("Default", "UpVolt")); // external voltage: no shutdown notice
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
}

TEST(Window, AnInstrumentErrorIsShownAndExpiresAfterSixSeconds) {
    Fixture f({"--error", "B1@3"});
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "Error"); }));
    EXPECT_EQ(Text(f.W("Lbl_Error")), "过电压保护！");
    EXPECT_TRUE(f.Window->State().TestRunning);
    f.Tick(5);
    EXPECT_TRUE(f.OnPages("Default", "Error"));
    EXPECT_FALSE(f.W("CBox_ConnType")->isEnabled());
    f.Tick(1);
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    EXPECT_FALSE(f.Window->State().TestRunning);
    EXPECT_TRUE(f.W("CBox_ConnType")->isEnabled());
    EXPECT_TRUE(f.W("BBtn_StartTest")->isEnabled());
    EXPECT_FALSE(f.W("BBtn_StopTest")->isEnabled());
}

TEST(Window, ASilentInstrumentShowsThePortErrorAfterSixSeconds) {
    Fixture f({"--silent"});
    f.Trigger("N7");
    f.Tick(5);
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    f.Tick(1);
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortError);
    f.Window->findChild<TNotebook*>(QStringLiteral("Nbk_Sstate"))->SetActivePage("DefPage");
    f.Tick(0);
    EXPECT_TRUE(f.OnPages("Default", "Info")); // shown again at every tick
    EXPECT_FALSE(f.W("CBox_ConnType")->isEnabled());
}

TEST(Window, TransientHintsAndTheSaveNotice) {
    {
        Fixture f;
        f.Connect();
        RunTest(f, "反接线");
        f.Click("BitBtn4");
        EXPECT_TRUE(f.W("Pnl_Hint")->isVisible());
        EXPECT_EQ(Text(f.W("Label21")), texts::kSaving);
        ASSERT_TRUE(WaitUntil([&] { return Text(f.W("Label21")) == texts::kDataSaved; }));
        EXPECT_TRUE(f.W("Pnl_Hint")->isVisible());
        f.Tick(2);
        EXPECT_TRUE(f.W("Pnl_Hint")->isVisible());
        f.Tick(1);
        EXPECT_FALSE(f.W("Pnl_Hint")->isVisible());
        EXPECT_TRUE(f.OnPages("Default", "ShowState"));
        f.Click("BitBtn5");
        EXPECT_EQ(Text(f.W("Label21")), texts::kPrinting);
        ASSERT_TRUE(WaitUntil([&] { return Text(f.W("Label21")) == texts::kDataPrinted; }));
        const QWidget* hint = f.W("Pnl_Hint");
        EXPECT_EQ(hint->size(), QSize(270, 161));
        EXPECT_EQ(hint->x(), (hint->parentWidget()->width() - 270) / 2);
        // Any next frame hides the hint at once.
        f.Click("BitBtn6");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
        EXPECT_FALSE(f.W("Pnl_Hint")->isVisible());
    }
    {
        // The instrument's own notice that it saved is a message box; while it is open the
        // reader waits in the hand-over and nothing else is dispatched.
        Fixture f({"--save-done"});
        f.Connect();
        RunTest(f, "反接线");
        bool hintShownDuringBox = true;
        f.Dialogs.DuringMessage = [&] { hintShownDuringBox = f.W("Pnl_Hint")->isVisible(); };
        f.Click("BitBtn4");
        ASSERT_TRUE(WaitUntil([&] { return f.Dialogs.LastText() == Q(texts::kSaveSucceeded); }));
        EXPECT_FALSE(hintShownDuringBox); // the frame hid the hint first
        EXPECT_EQ(f.Dialogs.Messages.back().Kind, Dialogs::Icon::Information);
    }
}

TEST(Window, CloseProtocolInEachState) {
    { // Not connected: closes at once.
        Fixture f;
        EXPECT_TRUE(f.Window->close());
    }
    { // Connected: disconnect first, close on the answer.
        Fixture f;
        f.Connect();
        EXPECT_FALSE(f.Window->close());
        EXPECT_EQ(f.SentFrames().back()[1], CmdDisconnect);
        ASSERT_TRUE(WaitUntil([&] { return !f.Window->isVisible(); }));
    }
    { // During a test: refused with a notice; stopping cancels the request.
        Fixture f({"--speed", "2"});
        f.Connect();
        f.Click("BBtn_StartTest");
        EXPECT_FALSE(f.Window->close());
        EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kStopTestFirst));
        EXPECT_EQ(f.Dialogs.Messages.back().Kind, Dialogs::Icon::Information);
        f.Click("BBtn_StopTest");
        EXPECT_FALSE(f.Window->State().CloseRequested);
        ASSERT_TRUE(WaitUntil([&] { return f.W("BBtn_StartTest")->isEnabled(); }));
        f.Tick(5);
        EXPECT_TRUE(f.Window->isVisible());
    }
    { // A close refused during a test is not carried out later: the result stays on screen.
        Fixture f;
        f.Connect();
        f.Click("BBtn_StartTest");
        EXPECT_FALSE(f.Window->close());
        EXPECT_FALSE(f.Window->State().CloseRequested);
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
        f.Tick(2);
        f.Tick(5);
        EXPECT_TRUE(f.Window->isVisible());
        EXPECT_TRUE(f.OnPages("Default", "ShowState"));
        // Asked again once the test is over, the specified protocol runs.
        EXPECT_FALSE(f.Window->close());
        EXPECT_EQ(f.SentFrames().back()[1], CmdDisconnect);
        ASSERT_TRUE(WaitUntil([&] { return !f.Window->isVisible(); }));
    }
    { // Connected, then the instrument falls silent: closes 3 s after the request.
        Fixture f;
        f.Connect();
        f.Sim->Stop();
        EXPECT_FALSE(f.Window->close());
        f.Tick(2);
        EXPECT_TRUE(f.Window->isVisible());
        f.Tick(1);
        EXPECT_FALSE(f.Window->isVisible());
    }
    { // "退出" follows the same protocol.
        Fixture f;
        f.Trigger("N6");
        EXPECT_FALSE(f.Window->isVisible());
    }
}

TEST(Window, APortThatCannotBeOpenedIsReported) {
    Fixture f({}, false);
    f.Open("/dev/no-such-port");
    ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(f.Dialogs.LastText(),
              QStringLiteral("/dev/no-such-port") + Q(texts::kOpenPortFailed));
    EXPECT_EQ(f.Dialogs.Messages[0].Kind, Dialogs::Icon::None);
    EXPECT_FALSE(f.Window->State().PortOpen);
    f.Trigger("N7"); // sent to a closed connection: traced, nothing received
    EXPECT_EQ(f.SentFrames().size(), 1u);
}

TEST(SettingsDialog, SaveValidatesEveryFieldFirstAndKeepsTheHelpFile) {
    TempDir dir;
    const std::string ini = dir.File("Config.ini");
    WriteAll(ini, "[Config]\r\nHelpFileName=/opt/manual.pdf\r\nBaud=19200\r\n");
    Settings settings = LoadConfig(ini);
    ScriptedDialogs dialogs;
    TfrmSetComm dialog(settings, ini, dialogs, nullptr, dir.File("no-sysfs"));
    EXPECT_EQ(dialog.size(), QSize(255, 232));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("通讯设置"));
    EXPECT_EQ(dialog.CombComm->count(), 0); // no serial ports on this machine
    EXPECT_EQ(dialog.CombComm->currentText(), QStringLiteral("COM1"));
    EXPECT_EQ(dialog.CombBaud->currentIndex(), -1); // 19200 is not offered
    EXPECT_EQ(dialog.CombBaud->currentText(), QString());
    EXPECT_EQ(dialog.Edt_StopNum->itemText(1), QStringLiteral("1.5"));

    dialog.CombComm->setEditText(QStringLiteral("ttyUSB0"));
    dialog.Edt_DataNum->setText(QStringLiteral("8x"));
    dialog.BitBtn1->click();
    EXPECT_EQ(dialogs.LastText(), QStringLiteral("'8x' is not a valid integer value"));
    EXPECT_EQ(settings.ComName, "COM1"); // nothing changed before the refusal
    dialog.Edt_DataNum->setText(QStringLiteral("7"));
    dialog.BitBtn1->click();
    EXPECT_EQ(dialogs.LastText(), QStringLiteral("List index out of bounds (-1)"));
    EXPECT_EQ(settings.ComName, "COM1");
    EXPECT_EQ(settings.DataNum, 8);
    EXPECT_EQ(ReadAll(ini), "[Config]\r\nHelpFileName=/opt/manual.pdf\r\nBaud=19200\r\n");

    dialog.CombBaud->setCurrentIndex(dialog.CombBaud->findText(QStringLiteral("115200")));
    dialog.Edt_StopNum->setCurrentIndex(2);
    dialog.CBx_Mark->setCurrentIndex(1);
    dialog.BitBtn1->click();
    EXPECT_EQ(dialogs.LastText(), Q(texts::kSaveSucceeded));
    EXPECT_EQ(settings.ComName, "ttyUSB0");
    EXPECT_EQ(settings.Baud, 115200);
    EXPECT_EQ(settings.StopNum, 2);
    EXPECT_EQ(settings.Mark, 1);
    EXPECT_EQ(settings.DataNum, 7);
    EXPECT_EQ(ReadAll(ini), "[Config]\r\nHelpFileName=/opt/manual.pdf\r\nBaud=115200\r\n"
                            "ComName=ttyUSB0\r\nDataNum=7\r\nStopNum=2\r\nMark=1\r\n");
    EXPECT_EQ(LoadConfig(ini).HelpFileName, "/opt/manual.pdf");

    // A typed rate that is in the list counts as chosen.
    dialog.CombBaud->setEditText(QStringLiteral("9600"));
    dialog.BitBtn1->click();
    EXPECT_EQ(settings.Baud, 9600);
}

TEST(SettingsDialog, EnterInATypedTextAddsNoItemAndBlanksAroundNumbersDoNotMatter) {
    TempDir dir;
    const std::string ini = dir.File("Config.ini");
    Settings settings;
    ScriptedDialogs dialogs;
    TfrmSetComm dialog(settings, ini, dialogs, nullptr, dir.File("no-sysfs"));
    dialog.show();
    for (QComboBox* box : {dialog.CombComm, dialog.CombBaud}) {
        const int items = box->count();
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, box == dialog.CombComm ? QStringLiteral("ttyUSB9")
                                                     : QStringLiteral(" 9600 "));
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(box->count(), items) << box->objectName().toStdString();
    }
    EXPECT_TRUE(dialog.isVisible());
    dialog.Edt_DataNum->setText(QStringLiteral(" 7\t"));
    dialog.BitBtn1->click();
    EXPECT_EQ(dialogs.LastText(), Q(texts::kSaveSucceeded));
    EXPECT_EQ(settings.ComName, "ttyUSB9");
    EXPECT_EQ(settings.Baud, 9600);
    EXPECT_EQ(settings.DataNum, 7);
}

TEST(SettingsDialog, ClosingItAlwaysReopensThePort) {
    Fixture f;
    const auto thread = f.Window->Connection()->Thread().ThreadId();
    // Answer the modal dialog from inside its own loop: close it at once.
    QTimer::singleShot(50, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<TfrmSetComm*>(w)) {
                d->BitBtn2->click();
            }
        }
    });
    f.Trigger("N2");
    EXPECT_TRUE(f.Window->State().PortOpen);
    EXPECT_EQ(f.Window->Connection()->Thread().ThreadId(), thread);
    f.Connect(); // the reopened port works
}

TEST(Window, APortGivenForThisRunIsShownFixedInTheSettingsDialog) {
    Fixture f({}, false); // started with --port, as --simulate does
    WriteAll(f.Home.File("Config.ini"), "[Config]\r\nComName=COM3\r\n");
    f.Open(f.Sim->DevicePath());
    f.WithSettingsDialog([&](TfrmSetComm& d) {
        EXPECT_EQ(d.CombComm->currentText(), QString::fromStdString(f.Sim->DevicePath()));
        EXPECT_FALSE(d.CombComm->isEnabled());
        EXPECT_TRUE(d.Lbl_FixedPort->isVisible());
        d.CombBaud->setCurrentIndex(d.CombBaud->findText(QStringLiteral("57600")));
        d.BitBtn1->click();
    });
    // The other settings are saved; the settings file keeps its own port.
    const std::string saved = ReadAll(f.Home.File("Config.ini"));
    EXPECT_NE(saved.find("ComName=COM3"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Baud=57600"), std::string::npos) << saved;
    EXPECT_EQ(f.Window->PortPath(), f.Sim->DevicePath());
    EXPECT_TRUE(f.Window->State().PortOpen);

    // Without a port given, the settings file's port is shown and may be changed.
    Fixture field({}, false);
    field.OpenFromSettings(field.Sim->DevicePath());
    field.WithSettingsDialog([&](TfrmSetComm& d) {
        EXPECT_TRUE(d.CombComm->isEnabled());
        EXPECT_FALSE(d.Lbl_FixedPort->isVisible());
    });
}

TEST(Window, HelpOpensTheDocumentWhenItExists) {
    Fixture f({}, false);
    WriteAll(f.Home.File("manual.pdf"), "%PDF-1.4");
    WriteAll(f.Home.File("Config.ini"),
             "[Config]\r\nHelpFileName=" + f.Home.File("manual.pdf") + "\r\n");
    f.Open(f.Sim->DevicePath());
    f.Trigger("N5");
    ASSERT_EQ(f.Dialogs.Opened.size(), 1u);
    EXPECT_EQ(f.Dialogs.Opened[0].toStdString(), f.Home.File("manual.pdf"));
    WriteAll(f.Home.File("Config.ini"), "[Config]\r\nHelpFileName=\r\n");
    Fixture g({}, false);
    g.Open(g.Sim->DevicePath());
    g.Trigger("N5");
    EXPECT_TRUE(g.Dialogs.Opened.empty());
}
