// Faults on the line and in the file system, end to end: the real window against an
// instrument that misbehaves, a line that vanishes, and files and folders that refuse.
#include "fixture.h"
#include "portrefusal.h"
#include "support/process.h"
#include "support/pty.h"

#include "core/commands.h"
#include "core/config.h"
#include "core/history.h"
#include "core/responses.h"
#include "core/resultfile.h"
#include "core/results.h"
#include "core/texts.h"
#include "serial/commport.h"
#include "serial/portlist.h"
#include "sim/payloads.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace dielmon;
using namespace dielmon::test;

namespace {

// Points `link` at `target`, replacing what it pointed at in one step.
void Repoint(const std::string& link, const std::string& target) {
    const std::string fresh = link + ".new";
    std::remove(fresh.c_str());
    ASSERT_EQ(::symlink(target.c_str(), fresh.c_str()), 0);
    ASSERT_EQ(std::rename(fresh.c_str(), link.c_str()), 0);
}

bool PanelLocked(const Fixture& f) {
    return !f.W("CBox_ConnType")->isEnabled() && !f.W("BBtn_UpHis")->isEnabled() &&
           !f.Menu("N1")->isEnabled();
}

void ExpectIdleAndUnlocked(const Fixture& f) {
    EXPECT_FALSE(f.Window->State().TestRunning);
    for (const char* name : {"CBox_ConnType", "BBtn_StartTest", "BBtn_UpHis", "BBtn_DelHis"}) {
        EXPECT_TRUE(f.W(name)->isEnabled()) << name;
    }
    for (const char* menu : {"N1", "N2", "N9", "N6"}) {
        EXPECT_TRUE(f.Menu(menu)->isEnabled()) << menu;
    }
    EXPECT_FALSE(f.W("BBtn_StopTest")->isEnabled());
}

} // namespace

TEST(LineFaults, AnInstrumentSlowToConnectAndSilentAfterwardsKeepsStopUsable) {
    PseudoTerminal line;
    Fixture f({}, false);
    f.Open(line.Path());
    f.Trigger("N7");
    std::vector<std::vector<std::uint8_t>> heard;
    ASSERT_TRUE(WaitUntil([&] {
        for (auto& frame : line.ReadFrames()) {
            heard.push_back(frame);
        }
        return !heard.empty();
    }));
    EXPECT_EQ(heard[0][1], CmdConnect);
    f.Tick(6);
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortError);
    // The instrument answers late after all: the panel fills.
    ASSERT_TRUE(line.Write(BuildFrame(RspParameters, sim::EncodeParameters(5, {}, false))));
    ASSERT_TRUE(WaitUntil([&] { return f.W("BBtn_StartTest")->isEnabled(); }));

    // Nothing answers the test start: nothing times out, the panel stays locked and the
    // operator can send the stop command again and again.
    f.Click("BBtn_StartTest");
    for (int k = 0; k < 4; ++k) {
        f.Tick(30);
        QApplication::processEvents();
        EXPECT_TRUE(f.Window->State().TestRunning);
        EXPECT_TRUE(PanelLocked(f));
        EXPECT_TRUE(f.W("BBtn_StopTest")->isEnabled());
    }
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    f.Click("BBtn_StopTest");
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    f.Tick(30);
    EXPECT_TRUE(PanelLocked(f)); // until the instrument says it has stopped
    f.Click("BBtn_StopTest");
    int stops = 0;
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& frame : line.ReadFrames()) {
            stops += frame[1] == CmdStopTest ? 1 : 0;
        }
        return stops == 2;
    }));
    ASSERT_TRUE(line.Write(BuildFrame(RspStopped, sim::EncodeAck())));
    ASSERT_TRUE(WaitUntil([&] { return f.W("CBox_ConnType")->isEnabled(); }));
    ExpectIdleAndUnlocked(f);
    EXPECT_TRUE(f.Dialogs.Messages.empty());
}

TEST(LineFaults, NoiseSplitFramesAndWrongCheckBytesStillGiveTheExactResult) {
    const std::vector<std::vector<std::string>> lines = {
        {"--noise", "--split"}, {"--bad-check"}, {"--noise", "--split", "--bad-check"}};
    for (const auto& args : lines) {
        SCOPED_TRACE(args.front() + " ...");
        Fixture f(args);
        f.Connect();
        f.Click("BBtn_StartTest");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
        // Every frame the instrument sent was handled, none twice.
        ASSERT_TRUE(WaitUntil([&] { return f.Window->FramesDispatched() == f.Sim->FramesSent(); }));
        EXPECT_EQ(f.W<QProgressBar>("ProgBar_Step")->property("steps").toInt(),
                  static_cast<int>(f.Sim->FramesSent(RspStepResult)));
        const auto frame = f.LastReceived(RspFinalResult);
        ASSERT_FALSE(frame.empty());
        const bool badCheck = args.back() == "--bad-check";
        EXPECT_EQ(frame[frame.size() - 2] != CalcCheckCode(frame.data(), int(frame.size())),
                  badCheck);
        const FinalResultView v = ShowFinalResult(frame.data(), static_cast<int>(frame.size()),
                                                  f.Window->PanelModel().Selection());
        EXPECT_EQ(Text(f.W("Lbl_ShowState")), v.Texts.Title);
        EXPECT_EQ(Text(f.W("LblCxRx")), v.Texts.Main);
        EXPECT_EQ(Text(f.W("Label19")), v.Texts.Details);
        EXPECT_EQ(Text(f.W("LblCxRx")).rfind("Cx：4.", 0), 0u) << GbkToUtf8(Text(f.W("LblCxRx")));
        EXPECT_EQ(f.Window->Receiver().Reassembly().OverflowDropped(), 0u);
        EXPECT_TRUE(f.Dialogs.Messages.empty());
    }
}

TEST(LineFaults, AnInstrumentErrorAtEveryStageOfATestShowsAndExpires) {
    const struct {
        const char* fault;
        const char* text;
    } cases[] = {
        {"A1@0", "请检查接地！"}, // in place of the first boosting frame
        {"B4@5", "过电流保护！"}, // between two steps
        {"B7@11", "电源故障！"},  // after the last step, before the result
        {"C3@2", ""},             // a code the program does not know
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Fixture f({"--error", c.fault});
        f.Connect();
        f.Click("BBtn_StartTest");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "Error"); }));
        EXPECT_EQ(Text(f.W("Lbl_Error")), c.text);
        EXPECT_TRUE(f.Window->State().TestRunning);
        EXPECT_TRUE(PanelLocked(f));
        f.Tick(5);
        EXPECT_TRUE(f.OnPages("Default", "Error"));
        f.Tick(1);
        EXPECT_TRUE(f.OnPages("Default", "DefPage"));
        ExpectIdleAndUnlocked(f);
        EXPECT_EQ(f.Sim->FramesSent(RspFinalResult), 0u);
        // A new test after the error runs to its result.
        f.Click("BBtn_StartTest");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    }
}

TEST(LineFaults, ABurstLargerThanTheReceiveBufferWaitsBehindAModalBoxAndArrivesWhole) {
    // The save of a 100th record makes the instrument send its modal notice; while the box is
    // open five index listings (5 x 100 entries of 13 bytes) pile up on the line.
    Fixture f({"--save-done", "--records", "99"});
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    const int kListings = 5;
    std::uint64_t dispatchedDuringBox = 0;
    std::uint64_t readBeforeBurst = 0;
    std::uint64_t readAfterBurst = 0;
    f.Dialogs.DuringMessage = [&] {
        if (f.Dialogs.LastText() != Q(texts::kSaveSucceeded)) {
            return;
        }
        dispatchedDuringBox = f.Window->FramesDispatched();
        readBeforeBurst = f.Window->Connection()->Thread().BytesRead();
        const auto command = BuildShortCommand(CmdReadIndex);
        for (int k = 0; k < kListings; ++k) {
            f.Window->Connection()->Send(command.data(), static_cast<int>(command.size()));
        }
        ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspIndex) == 100u * kListings; }));
        readAfterBurst = f.Window->Connection()->Thread().BytesRead();
        EXPECT_EQ(f.Window->FramesDispatched(), dispatchedDuringBox);
    };
    f.Click("BitBtn4");
    ASSERT_TRUE(WaitUntil([&] { return f.Dialogs.LastText() == Q(texts::kSaveSucceeded); }));
    EXPECT_EQ(readAfterBurst, readBeforeBurst); // the reader waited in the hand-over

    ASSERT_TRUE(WaitUntil(
        [&] { return f.Window->FramesDispatched() == dispatchedDuringBox + 100u * kListings; }));
    EXPECT_EQ(f.Window->Receiver().Reassembly().OverflowDropped(), 0u);
    EXPECT_TRUE(f.OnPages("HisData", "ShowAll"));
    const QTableWidget* list = f.W<QTableWidget>("LView_History");
    ASSERT_EQ(list->rowCount(), 100);
    for (int row = 0; row < 100; ++row) {
        EXPECT_EQ(G(list->item(row, 1)->text()), RecordNumberText(row + 1));
    }
    EXPECT_EQ(Text(f.W("Lbl_Num")), HistoryCountText(100));
}

TEST(LineFaults, AVanishedLineUnderTestKeepsStopUsableUntilTheDeviceIsBack) {
    // The configured port is a link, as udev makes for an adapter, so that the device can
    // "come back" under the same name on a new pseudo-terminal.
    Fixture f({"--hangup-at", "3"}, false);
    const std::string port = f.Home.File("ttyInstrument");
    Repoint(port, f.Sim->DevicePath());
    ASSERT_TRUE(DeviceExists(port)); // followed to the character device
    f.Open(port);
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.Sim->HungUp(); }));
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "Info"); }));
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortError);
    EXPECT_FALSE(f.Window->State().PortOpen);
    EXPECT_FALSE(f.Window->Connection()->IsOpen());
    EXPECT_TRUE(f.Dialogs.Messages.empty());

    // The instrument may still hold high voltage: the test state stays.
    auto expectTestState = [&] {
        EXPECT_TRUE(f.Window->State().TestRunning);
        EXPECT_TRUE(f.W("BBtn_StopTest")->isEnabled());
        EXPECT_FALSE(f.W("BBtn_StartTest")->isEnabled());
        EXPECT_TRUE(PanelLocked(f));
        EXPECT_TRUE(f.Menu("N2")->isEnabled()); // another port may be chosen
    };
    expectTestState();
    EXPECT_FALSE(f.Window->close());
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kStopTestFirst));
    // "停止测试" cannot reach the instrument: the operator is told, nothing changes.
    f.Click("BBtn_StopTest");
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kStopNotSent));
    expectTestState();

    // The dead handle is not polled: the reader goes on passing without reading.
    const TCommThread& reader = f.Window->Connection()->Thread();
    const auto reads = reader.Reads();
    const auto passes = reader.Passes();
    ASSERT_TRUE(WaitUntil([&] { return reader.Passes() > passes + 5; }));
    EXPECT_EQ(reader.Reads(), reads);

    // Not back yet: a dangling link or one to a plain file is no device.
    f.Sim->Stop();
    Repoint(port, f.Home.File("gone"));
    EXPECT_FALSE(DeviceExists(port));
    f.Tick(1);
    EXPECT_FALSE(f.Window->State().PortOpen);
    WriteAll(f.Home.File("plain"), "");
    Repoint(port, f.Home.File("plain"));
    EXPECT_FALSE(DeviceExists(port));
    f.Tick(1);
    EXPECT_FALSE(f.Window->State().PortOpen);
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    expectTestState();

    // Back: the next tick reopens the port by itself and says so; "停止测试" works as usual.
    const auto boxes = f.Dialogs.Messages.size();
    f.Sim = std::make_unique<SimInstrument>(std::vector<std::string>{"--speed", "100"});
    ASSERT_TRUE(f.Sim->Started());
    Repoint(port, f.Sim->DevicePath());
    f.Tick(1);
    EXPECT_TRUE(f.Window->State().PortOpen);
    EXPECT_TRUE(f.Window->Connection()->IsOpen());
    EXPECT_EQ(f.Dialogs.Messages.size(), boxes);
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortRestored);
    EXPECT_FALSE(f.Menu("N2")->isEnabled());
    f.Click("BBtn_StopTest");
    ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspStopped) > 0; }));
    ASSERT_TRUE(WaitUntil([&] { return f.W("BBtn_StartTest")->isEnabled(); }));
    ExpectIdleAndUnlocked(f);
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
}

TEST(LineFaults, AnotherPortChosenAfterTheLineWentEndsTheTest) {
    PseudoTerminal other; // opened first: the hung-up line's name is free again afterwards
    Fixture f({"--hangup-at", "3"}, false);
    f.OpenFromSettings(f.Sim->DevicePath());
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.Sim->HungUp(); }));
    ASSERT_TRUE(WaitUntil([&] { return !f.Window->State().PortOpen; }));
    EXPECT_TRUE(f.Window->State().TestRunning);
    f.WithSettingsDialog([&](TfrmSetComm& d) {
        d.CombComm->setEditText(Q(other.Path()));
        d.BitBtn1->click();
    });
    EXPECT_TRUE(f.Window->State().PortOpen);
    EXPECT_EQ(f.Window->PortPath(), other.Path());
    ExpectIdleAndUnlocked(f);
}

TEST(LineFaults, APortMissingAtStartIsOpenedWhenItsDeviceAppears) {
    Fixture f({}, false);
    const std::string port = f.Home.File("ttyLater");
    f.Open(port);
    ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(f.Dialogs.LastText(), Q(port) + Q(texts::kOpenPortFailed));
    f.Tick(1);
    EXPECT_FALSE(f.Window->State().PortOpen);
    Repoint(port, f.Sim->DevicePath());
    f.Tick(1);
    EXPECT_TRUE(f.Window->State().PortOpen);
    EXPECT_EQ(f.Dialogs.Messages.size(), 1u); // no box per attempt
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortRestored);
    f.Tick(3);
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    f.Connect();
}

TEST(LineFaults, APortHeldElsewhereIsLoggedWithItsReasonOnceAndOpenedWhenFree) {
    PseudoTerminal line;
    TCommPort port;
    const CommHandle held = port.OpenComm(line.Path(), 9600, 8, kParityNone, kOneStopBit, 0);
    ASSERT_GE(held, 3);
    Fixture f({}, false);
    f.Open(line.Path());
    ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
    EXPECT_FALSE(f.Window->State().PortOpen);
    auto failures = [&] {
        const std::string log = ReadAll(f.Window->Log().LogFileName());
        const std::string mark = line.Path() + " 打开失败：flock";
        int n = 0;
        for (std::size_t at = 0; (at = log.find(mark, at)) != std::string::npos; ++at) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(failures(), 1);
    // The clock tries again at every tick; the same reason is not written again.
    for (int k = 0; k < 5; ++k) {
        f.Tick(1);
    }
    EXPECT_FALSE(f.Window->State().PortOpen);
    EXPECT_EQ(failures(), 1);
    EXPECT_EQ(f.Dialogs.Messages.size(), 1u);
    port.CloseComm(held);
    f.Tick(1);
    EXPECT_TRUE(f.Window->State().PortOpen);
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortRestored);
}

TEST(LineFaults, ALineLostBeforeConnectingLeavesThePanelEmptyAndDisabled) {
    PseudoTerminal line;
    Fixture f({}, false);
    f.Open(line.Path());
    line.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !f.Window->State().PortOpen; }));
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kPortError);
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    // Nothing was connected: there is nothing to start a test with.
    for (const char* name : {"CBox_ConnType", "BBtn_StartTest", "BBtn_UpHis", "BBtn_DelHis"}) {
        EXPECT_FALSE(f.W(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(f.Menu("N1")->isEnabled());
}

TEST(PortFaults, APortSomeoneElseHoldsIsRefusedAndTheBoxSaysWho) {
    Fixture f({}, false);
    PseudoTerminal pty;
    const QString firstLine = QString::fromStdString(pty.Path()) + Q(texts::kOpenPortFailed);
    {
        DeviceHolder other(pty.Path());
        ASSERT_TRUE(other.Holding());
        f.Open(pty.Path());
        ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
        const QStringList lines = f.Dialogs.LastText().split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[0], firstLine);
        EXPECT_EQ(lines[1],
                  QStringLiteral("该串口正被另一个程序（sleep，进程号%1）使用，请先关闭那个程序。")
                      .arg(other.Pid()));
        EXPECT_EQ(f.Dialogs.Messages[0].Kind, Dialogs::Icon::None);
        EXPECT_FALSE(f.Window->State().PortOpen);
    }

    // A lock file of a live process refuses it too; while the window holds the port, the lock
    // file names the window's process.
    TempDir locks;
    const QByteArray oldLocks = qgetenv("DIELMON_LOCK_DIR");
    qputenv("DIELMON_LOCK_DIR", QByteArray::fromStdString(locks.Path().string()));
    const std::string lock = PortLockPath(pty.Path());
    {
        Process other("/bin/sleep", {"600"});
        WriteAll(lock, std::to_string(other.Pid()) + "\n");
        f.Window.reset();
        f.Dialogs.Messages.clear();
        f.Open(pty.Path());
        ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
        EXPECT_EQ(f.Dialogs.LastText(),
                  firstLine + QStringLiteral("\n该串口已被另一个程序（进程号%1）锁定：%2")
                                  .arg(other.Pid())
                                  .arg(QString::fromStdString(lock)));
    }
    f.Window.reset();
    f.Dialogs.Messages.clear();
    f.Open(pty.Path()); // the lock file's process has ended
    EXPECT_TRUE(f.Dialogs.Messages.empty()) << f.Dialogs.LastText().toStdString();
    EXPECT_TRUE(f.Window->State().PortOpen);
    EXPECT_EQ(std::atoi(ReadAll(lock).c_str()), ::getpid());
    f.Window.reset();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(lock))) << "left behind at the close";
    qputenv("DIELMON_LOCK_DIR", oldLocks);

    // A device the user may not open: the group to join.
    const QString permission =
        Q(PortRefusalSecondLine({PortRefusal::Reason::NoPermission, EACCES, 0}, pty.Path()));
    EXPECT_TRUE(permission.startsWith(QStringLiteral("\n当前用户没有使用该串口的权限")));
    // The device's group, or dialout where the device belongs to root's group alone.
    const std::string group = DeviceGroup(pty.Path());
    EXPECT_TRUE(permission.contains(
        QStringLiteral("用户须属于设备所属的组 ") +
        QString::fromStdString(group.empty() || group == "root" ? "dialout" : group)))
        << permission.toStdString();
    EXPECT_TRUE(permission.contains(QStringLiteral("usermod -aG")));
}

TEST(FileFaults, WithoutAWritableLogTheProgramRunsOnUnchanged) {
    // "Log" is a file, or today's log file is a folder: nothing can be written there.
    for (const bool logIsAFile : {true, false}) {
        SCOPED_TRACE(logIsAFile);
        Fixture f({}, false);
        if (logIsAFile) {
            WriteAll(f.Home.File("Log"), "not a folder");
        } else {
            ::mkdir(f.Home.File("Log").c_str(), 0777);
            ::mkdir(f.Home.File("Log/LogFile24.txt").c_str(), 0777);
        }
        f.Open(f.Sim->DevicePath());
        f.Connect();
        f.Click("BBtn_StartTest");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
        EXPECT_GT(f.Window->Log().FailedWrites(), 0u);
        EXPECT_TRUE(f.Dialogs.Messages.empty());
        EXPECT_FALSE(Text(f.W("LblCxRx")).empty());
    }
}

TEST(FileFaults, SettingsFilesOfGarbageOrWithAByteOrderMarkStartTheProgram) {
    const struct {
        std::string content;
        Settings expected;
    } cases[] = {
        {std::string("\x00\xFF\xFE garbage \x01\r\n[[[\r\n==\r\n", 22), Settings{}},
        {std::string(100000, '\xFF'), Settings{}},
        {"\xEF\xBB\xBF[Config]\r\nComName=ttyUSB3\r\nStopNum=2\r\nBaud=115200\r\n"
         "HelpFileName=/opt/help.pdf\r\n",
         Settings{"ttyUSB3", 8, 2, 0, 115200, "/opt/help.pdf"}},
        {"[Config]\r\nDataNum=eight\r\nBaud=\r\nMark=99999999999999999999\r\n", Settings{}},
    };
    for (const auto& c : cases) {
        Fixture f({}, false);
        WriteAll(f.Home.File("Config.ini"), c.content);
        f.Open(f.Sim->DevicePath());
        EXPECT_EQ(f.Window->CurrentSettings(), c.expected);
        EXPECT_TRUE(f.Window->State().PortOpen);
        f.Connect();
    }
}

TEST(FileFaults, ASettingsFileThatCannotBeWrittenIsReportedAndNothingChanges) {
    Fixture f({}, false);
    ::mkdir(f.Home.File("Config.ini").c_str(), 0777); // a folder where the file should be
    f.Open(f.Sim->DevicePath());
    const Settings before = f.Window->CurrentSettings();
    f.WithSettingsDialog([](TfrmSetComm& d) {
        d.Edt_DataNum->setText(QStringLiteral("7"));
        d.BitBtn1->click();
    });
    EXPECT_EQ(f.Dialogs.LastText(), QStringLiteral("Unable to write to %1")
                                        .arg(QString::fromStdString(f.Home.File("Config.ini"))));
    // A path with Chinese in it reads as the operator typed it.
    const QString chinese =
        QString::fromStdString(f.Home.File("")) + QStringLiteral("设置/Config.ini");
    ScriptedDialogs dialogs;
    Settings settings;
    TfrmSetComm dialog(settings, QFile::encodeName(chinese).toStdString(), dialogs, nullptr,
                       f.Home.File("no-sysfs"));
    dialog.BitBtn1->click();
    EXPECT_EQ(dialogs.LastText(), QStringLiteral("Unable to write to ") + chinese);
    EXPECT_EQ(f.Window->CurrentSettings(), before);
    EXPECT_TRUE(f.Window->State().PortOpen); // reopened after the dialog as always
}

TEST(FileFaults, AResultFileThatFillsUpHalfWayIsLeftAsItWas) {
    Fixture f;
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    const std::string path = f.Home.File("results.txt");
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N3");
    const std::string first = ReadAll(path);
    ASSERT_FALSE(first.empty());
    // The disk is full a few bytes into the second run.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = first.size() + 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N3");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(f.Dialogs.LastText().contains(QString::fromStdString(path)));
    EXPECT_EQ(ReadAll(path), first);
}

TEST(FileFaults, BrokenResultFilesOpenWithoutHarm) {
    const std::string sep = std::string(texts::kFileSeparator) + "\r\n";
    static const char kBinary[] = "T\0\x01\x02\r\n\r\n\0\0\0M\r\n\r\n\x7F\x80\xFF";
    enum Seen { Shown, NotOurs, Unreadable };
    const struct {
        const char* what;
        std::string content;
        Seen seen;
    } cases[] = {
        {"one line of 5 MB", sep + "T\r\n\r\n" + std::string(5 << 20, '8') + "\r\n\r\nD\r\n",
         Unreadable},
        {"binary with NULs", sep + std::string(kBinary, sizeof kBinary - 1), Shown},
        {"invalid GBK everywhere", sep + "\x81\r\n\r\n\xFF\xFF\x80\r\n\r\n\xA1", Shown},
        {"a separator line of 5 MB", std::string(5 << 20, '='), Unreadable},
        {"no separator at all", std::string(4096, '\0'), NotOurs},
        {"20 MB of results", std::string(20 << 20, '\n'), Unreadable},
    };
    Fixture f;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = f.Home.File("broken.txt");
        WriteAll(path, c.content);
        f.Dialogs.Messages.clear();
        f.W<TNotebook>("Nbk_AllState")->SetActivePage("Default");
        f.Dialogs.Files.push_back(QString::fromStdString(path));
        f.Trigger("N9");
        if (c.seen == Shown) {
            EXPECT_TRUE(f.OnPages("UpHis"));
            EXPECT_TRUE(f.Dialogs.Messages.empty()) << f.Dialogs.LastText().toStdString();
        } else if (c.seen == NotOurs) {
            EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kNotOurFile));
            EXPECT_TRUE(f.OnPages("Default"));
        } else {
            EXPECT_TRUE(f.Dialogs.LastText().startsWith(QStringLiteral("无法读取文件")))
                << f.Dialogs.LastText().toStdString();
            EXPECT_TRUE(f.OnPages("Default"));
        }
    }
}
