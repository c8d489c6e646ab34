// The main window: the test parameter panel on the left, the operation buttons and the pages of
// states, results and stored records on the right, the menu and the half-second clock. It
// shows what the core computes and sends what the operator asks for.
#pragma once

#include "core/clock.h"
#include "core/config.h"
#include "core/log.h"
#include "core/panel.h"
#include "core/results.h"
#include "dialogs.h"
#include "serial/commreceive.h"
#include "serial/serialcomm.h"
#include "widgets.h"

#include <QMainWindow>
#include <memory>
#include <string>

class QAction;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace dielmon {

// The program-wide test-control state.
struct TestControlState {
    bool PortOpen = false;
    bool InstrumentAnswered = true;
    bool TestRunning = false;
    TimePoint MessageTime{};
    bool ErrorShown = false;
    bool InfoShown = false;
    bool HintVisible = false;
    bool CloseRequested = false;
    bool CloseAllowed = true;
    TimePoint CloseRequestTime{};
    int InstrumentType = 4;
    int DoubleSteps = 0;
};

struct WindowSetup {
    std::string AppPath;             // folder of Config.ini and Log/, ending with "/"
    std::optional<std::string> Port; // overrides the port of Config.ini for this run
    bool Trace = false;              // received chunks to standard error
    const Clock* TimeSource = nullptr;
    Dialogs* DialogSource = nullptr;
};

class TfrmDielmon : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmDielmon(const WindowSetup& setup, QWidget* parent = nullptr);
    ~TfrmDielmon() override;

    // Routines the pages and the dispatcher share.
    void OpenPort();
    void ReturnToIdle();
    void ArrangeLayout();
    void UpdateFileMenu();
    void DispatchFrame(const std::uint8_t* frame, int length);
    void ShowHint(const std::string& text, bool show);

    // The clock tick; the timer calls it every 500 ms, tests call it after moving the clock.
    void Timer_NowTimer();

    // State read by tests and by the other parts of the window.
    const TestControlState& State() const { return S_; }
    const Panel& PanelModel() const { return Panel_; }
    const Settings& CurrentSettings() const { return Settings_; }
    std::string PortPath() const;
    TSerialComm* Connection() const { return FComm.get(); }
    DebugLog& Log() { return Log_; }
    // The receive path and the frames it has brought to DispatchFrame, for watching the line
    // from outside (long runs count every frame sent against every frame handled).
    const TCommReceiver& Receiver() const { return Receiver_; }
    std::uint64_t FramesDispatched() const { return FramesDispatched_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Building the window.
    void BuildMenu();
    QWidget* BuildParameterPanel();
    QWidget* BuildOperations();
    QWidget* BuildDefaultPage();
    QWidget* BuildHistoryPage();
    QWidget* BuildUploadedPage();

    // Lifecycle.
    void FormShow();
    bool FormCloseQuery();

    // Menu.
    void N7Click();
    void N8Click();
    void N2Click();
    void N5Click();
    void N6Click();

    // The parameter panel: the model mirrored into the widgets, and the operator's choices.
    void ApplyPanel();
    void ResetPanel(bool enabled);
    void SetPanelLocked(bool locked);
    void PanelChoice(QComboBox* box, int index);
    void Edt_VoltExit();
    void CBox_VoltUpExit();

    // Test and result page.
    void BBtn_StartTestClick();
    void BBtn_StopTestClick();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void ShowFinalResult(const std::uint8_t* frame, int length);

    // History pages.
    void BBtn_UpHisClick();
    void BBtn_DelHisClick();
    void BitBtn7Click();
    void BitBtn8Click();
    void BitBtn9Click();
    void BitBtn10Click();
    void BitBtn12Click();
    void ShowIndexEntry(const std::uint8_t* frame, int length);
    void RemoveDeletedRecord();
    void ShowStoredRecord(std::uint8_t code, const std::uint8_t* frame, int length);
    bool HasSelectedRecord() const;
    int SelectedRecordNumber() const;

    // Result files and the report.
    void N3Click();
    void N4Click();
    void N9Click();
    void BitBtn15Click();
    bool ShownResult(ResultTexts& texts) const;

    // A vanished line: the test ends, the port is watched until the device is back.
    void LineLost();

    void SendShortCommand(std::uint8_t code, std::uint8_t record = 0);
    void SendStartTest(const TestParameters& parameters);
    void Send(const std::uint8_t* frame, int length);
    Dialogs::Answer Message(const std::string& text, Dialogs::Icon icon,
                            Dialogs::Buttons buttons = Dialogs::Buttons::Ok);
    TimePoint Now() const { return Clock_->Now(); }
    long long SecondsSince(TimePoint stamp) const { return WholeSecondsBetween(stamp, Now()); }

    const Clock* Clock_;
    Dialogs* Dialogs_;
    std::unique_ptr<Dialogs> OwnDialogs_;
    std::string AppPath_;
    std::string ConfigFileName_;
    std::optional<std::string> PortOverride_;
    bool Trace_ = false;

    TestControlState S_;
    Settings Settings_;
    Panel Panel_;
    ExcitationTexts Excitation_;
    bool Shown_ = false;
    bool CheckingRange_ = false;
    bool LineLost_ = false;
    std::uint64_t FramesDispatched_ = 0;
    // A deletion sent and not yet acknowledged. Records move up a number when one is deleted,
    // so a second "删除" on the same row before the answer would delete another record.
    bool DeletePending_ = false;
    // The folder of the last result file or report chosen, where the file dialogs start.
    QString LastFolder_;

    // The receive path; declared before FComm so that the connection, which uses them, goes
    // first when the window is destroyed.
    DebugLog Log_;
    FrameHandOver HandOver_;
    TCommReceiver Receiver_;
    std::unique_ptr<TSerialComm> FComm;

public:
    // Controls, by the names the operator's manual and the tests use.
    QTimer* Timer_Now = nullptr;
    QAction *N1 = nullptr, *N7 = nullptr, *N8 = nullptr, *N2 = nullptr, *N9 = nullptr,
            *N3 = nullptr, *N4 = nullptr, *N5 = nullptr, *N6 = nullptr;
    QComboBox *CBox_EleType = nullptr, *CBox_ConnType = nullptr, *CBox_Model = nullptr,
              *CBox_U = nullptr, *CBox_Freq = nullptr, *CBox_TestVolt = nullptr,
              *CBox_CurrentUp = nullptr, *CBox_JLVoltUp = nullptr, *CBox_JLCultUp = nullptr;
    QLineEdit *Edt_Volt = nullptr, *Edt_C = nullptr, *Edt_JS = nullptr, *CBox_VoltUp = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton *BBtn_StopTest = nullptr, *BBtn_StartTest = nullptr, *BBtn_UpHis = nullptr,
                *BBtn_DelHis = nullptr;
    TNotebook *Nbk_AllState = nullptr, *Nbk_Sstate = nullptr, *Nbk_ShowHis = nullptr;
    TextLabel *LblTime = nullptr, *Lbl_Default1 = nullptr, *Lbl_Error = nullptr,
              *Lbl_Info = nullptr, *Lbl_Guding = nullptr, *Lbl_UpInfo = nullptr;
    QProgressBar* ProgBar_Step = nullptr;
    QWidget* Panel13 = nullptr;
    TextLabel *Lbl_ShowState = nullptr, *LblCxRx = nullptr, *Label19 = nullptr;
    QWidget* Pnl_Hint = nullptr;
    TextLabel* Label21 = nullptr;
    QPushButton *BitBtn4 = nullptr, *BitBtn5 = nullptr, *BitBtn6 = nullptr;
    TextLabel* Lbl_Num = nullptr;
    QTableWidget* LView_History = nullptr;
    QPushButton *BitBtn7 = nullptr, *BitBtn8 = nullptr, *BitBtn9 = nullptr;
    QWidget* Panel27 = nullptr;
    TextLabel *Label22 = nullptr, *Label23 = nullptr, *Label24 = nullptr;
    QWidget* Panel33 = nullptr;
    TextLabel* Label26 = nullptr;
    QPushButton *BitBtn10 = nullptr, *BitBtn11 = nullptr, *BitBtn12 = nullptr;
    TextLabel* LblHis_ShowInfo = nullptr;
    TextLabel *Label20 = nullptr, *Label25 = nullptr, *Label27 = nullptr;
    QPushButton* BitBtn15 = nullptr;

private:
    // Names a row of page buttons, gives it its height and keeps it for the resizing.
    ButtonRow* KeepButtonRow(const QString& name, ButtonRow* row);

    std::vector<ButtonRow*> ButtonRows_;
};

// The font of the window: 宋体, with the Song faces of a Linux desktop standing in for it.
QFont SongFont(int pixelSize, bool bold = false);
void InstallFontSubstitutes();

} // namespace dielmon
