// The main window: the test parameter panel on the left, the operation buttons and the pages of
// states, results and stored records on the right, the menu and the half-second clock. What a
// frame, a tick or a click does is decided by the test controller; the window mirrors its view
// into the widgets and carries out its effects (sending, message boxes, the port, closing).
#pragma once

#include "archive/keeper.h"
#include "core/clock.h"
#include "core/config.h"
#include "core/controller.h"
#include "core/homefolders.h"
#include "core/log.h"
#include "core/panel.h"
#include "core/results.h"
#include "dialogs.h"
#include "judging.h"
#include "serial/commreceive.h"
#include "serial/serialcomm.h"
#include "widgets.h"

#include <QMainWindow>
#include <array>
#include <memory>
#include <string>

class QAction;
class QComboBox;
class QDialog;
class QGroupBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace dielmon {

class LabSync;
class TfrmArchive;
class TfrmArchiveServer;

struct WindowSetup {
    std::string AppPath;       // one folder for Config.ini, Log/ and the data; empty: Folders
    HomeFolders Folders;       // the folders of this run when AppPath is empty
    std::string ProgramFolder; // where the user's guide is looked for; empty: the executable's
    std::optional<std::string> Port; // overrides the port of Config.ini for this run
    bool Trace = false;              // received chunks to standard error
    const Clock* TimeSource = nullptr;
    Dialogs* DialogSource = nullptr;

    HomeFolders ChosenFolders() const { return AppPath.empty() ? Folders : FoldersIn(AppPath); }
};

class TfrmDielmon : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmDielmon(const WindowSetup& setup, QWidget* parent = nullptr);
    ~TfrmDielmon() override;

    void OpenPort();
    void ArrangeLayout();
    // A received frame, handed over from the reader thread.
    void DispatchFrame(const std::uint8_t* frame, int length);

    // The clock tick; the timer calls it every 500 ms, tests call it after moving the clock.
    void Timer_NowTimer();

    // State read by tests and by the other parts of the window.
    const TestController& Controller() const { return Controller_; }
    const TestControlState& State() const { return Controller_.State(); }
    const HomeFolders& Folders() const { return Folders_; }
    const Panel& PanelModel() const { return Controller_.PanelModel(); }
    const Settings& CurrentSettings() const { return Settings_; }
    std::string PortPath() const;
    TSerialComm* Connection() const { return FComm.get(); }
    DebugLog& Log() { return Log_; }
    // The receive path and the frames it has brought to DispatchFrame, for watching the line
    // from outside (long runs count every frame sent against every frame handled).
    const TCommReceiver& Receiver() const { return Receiver_; }
    std::uint64_t FramesDispatched() const { return FramesDispatched_; }

    // The result archive: the keeper of this window's results, and its window once opened.
    archive::ResultKeeper& Keeper() { return *Keeper_; }
    // The judge of results, for this window's live result and the archive's window.
    ResultJudge& Judge() { return Judge_; }
    TfrmArchive* ArchiveWindow() const { return ArchiveWindow_.get(); }
    // The lab's archive server: the synchronisation (a worker while a server is set) and the
    // dialog 档案服务器 once opened.
    LabSync& Lab() { return *Lab_; }
    TfrmArchiveServer* ArchiveServerDialog() const { return ServerDialog_.get(); }
    QDialog* DownloadDialog() const { return Dlg_Download; }

    // Saving and printing a result, on show here or opened in the archive: the file and print
    // dialogs start where the last one ended, and their messages belong to `parent`.
    void SaveResult(QWidget* parent, const ResultTexts& texts);
    void PrintResult(QWidget* parent, const ResultTexts& texts);
    // A file to write, chosen in the save dialog: `stem`_<today>.<suffix> suggested in the
    // folder used last. Empty when the operator cancels.
    QString AskSaveFile(QWidget* parent, const QString& stem, const QString& suffix,
                        const QString& filter);

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
    QWidget* BuildConditions();

    // Lifecycle.
    void FormShow();

    // Menu.
    void N7Click();
    void N8Click();
    void N2Click();
    void N5Click();
    void N6Click();
    void N_ArchiveOpenClick();
    void N_ArchiveDownloadClick();
    void N_ArchiveServerClick();
    // Saves a connection string 确定 accepted and hands it to the synchronisation.
    QString KeepServer(const std::string& server);

    // The controller's view into the widgets, and its effects carried out.
    void Apply(const Effects& effects);
    void Mirror();
    void MirrorHistory();
    void ReopenPort();
    void LogOpenFailure(bool ok, const std::string& path, bool always);
    // The archive's part of the effects: the completed results kept, the download shown.
    void KeepResults(const Effects& e, std::vector<std::string>& tell);
    void ShowDownload(const DownloadProgress& p);
    void Tell(const std::vector<std::string>& utf8);
    // The verdict on the result just kept, in the label of its page; empty id: none.
    void ShowLiveAssessment(const std::string& id, QLabel* label);

    // The specimen and conditions the next results take, as the operator types them.
    void ConditionsEdited(bool remember);

    // The parameter panel: the model mirrored into the widgets, and the operator's choices.
    void ApplyPanel();
    void PanelChoice(QComboBox* box, int index);
    void CheckField(PanelEdit field, QLineEdit* edit);

    // Test and result page.
    void BBtn_StartTestClick();
    void BBtn_StopTestClick();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();

    // History pages.
    void BBtn_UpHisClick();
    void BBtn_DelHisClick();
    void BitBtn7Click();
    void BitBtn8Click();
    void BitBtn9Click();
    void BitBtn10Click();
    void BitBtn12Click();

    // Result files and the report.
    void N3Click();
    void N4Click();
    void N9Click();
    void BitBtn15Click();

    void Send(const std::uint8_t* frame, int length);
    Dialogs::Answer Message(const std::string& text, Dialogs::Icon icon,
                            Dialogs::Buttons buttons = Dialogs::Buttons::Ok);

    const Clock* Clock_;
    Dialogs* Dialogs_;
    std::unique_ptr<Dialogs> OwnDialogs_;
    HomeFolders Folders_;
    std::string ProgramFolder_;
    std::string ConfigFileName_;
    std::optional<std::string> PortOverride_;
    bool Trace_ = false;

    Settings Settings_;
    TestController Controller_;
    bool Shown_ = false;
    bool CheckingRange_ = false;
    std::uint64_t FramesDispatched_ = 0;
    // The revisions of the controller's panel and list last mirrored into the widgets.
    std::uint64_t PanelMirrored_ = ~std::uint64_t{0};
    std::uint64_t HistoryMirrored_ = ~std::uint64_t{0};
    // The folder of the last result file or report chosen, where the file dialogs start.
    QString LastFolder_;
    std::string LastOpenFailure_; // the reason last written to the log

    // The archive. Declared before its window, which uses it and goes first.
    std::unique_ptr<archive::ResultKeeper> Keeper_;
    std::vector<std::string> StartTell_; // what opening the archive must tell, once shown
    // The lab's server, after the keeper and before the windows that show its state.
    std::unique_ptr<LabSync> Lab_;
    std::unique_ptr<TfrmArchiveServer> ServerDialog_;
    std::unique_ptr<TfrmArchive> ArchiveWindow_;
    ResultJudge Judge_;
    // Records of the download running: new in the archive, there before, not kept.
    int DownloadNew_ = 0;
    int DownloadBefore_ = 0;
    int DownloadLost_ = 0;

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

    // Additions of the result archive: the menu after the specified items, the specimen and
    // conditions below the CVT group, and the download's progress.
    QAction *N_Archive = nullptr, *N_ArchiveOpen = nullptr, *N_ArchiveDownload = nullptr,
            *N_ArchiveServer = nullptr;
    QGroupBox* GroupBox_Conditions = nullptr;
    QLineEdit *Edt_Specimen = nullptr, *Edt_Temperature = nullptr, *Edt_Humidity = nullptr;
    QLabel* Lbl_ConditionsHint = nullptr;
    QDialog* Dlg_Download = nullptr;
    QLabel* Lbl_Download = nullptr;
    QProgressBar* ProgBar_Download = nullptr;
    QPushButton* Btn_DownloadCancel = nullptr;
    // Additions of the assessment: the verdict on the result on show, below its texts, on the
    // pages "ShowState" (a test's result) and "ShowOne" (a record opened).
    QLabel *Lbl_Assessment = nullptr, *Lbl_AssessmentOne = nullptr;

private:
    // Names a row of page buttons, gives it its height and keeps it for the resizing.
    ButtonRow* KeepButtonRow(const QString& name, ButtonRow* row);

    std::vector<ButtonRow*> ButtonRows_;
    std::array<TextLabel*, kLabelCount> Labels_{}; // the controller's labels, by Label
};

// The font of the window: 宋体, with the Song faces of a Linux desktop standing in for it.
QFont SongFont(int pixelSize, bool bold = false);
void InstallFontSubstitutes();
// 宋体 when it is installed, else the first of its stand-ins that is.
QString SongFamily();

} // namespace dielmon
