// The test controller: what a received frame, a clock tick or an operator's action does to the
// program, decided in one place without a window. It holds the test-control state, the panel
// model, the pages, the label texts, the progress gauge and the list of stored records, and
// every call returns the effects its caller carries out: frames to send, message boxes,
// closing the window or the port, and the results that are complete. The window mirrors the
// view into its widgets; the trace tool replays logs through the same calls; the archive takes
// the completed results.
#pragma once

#include "core/clock.h"
#include "core/commands.h"
#include "core/download.h"
#include "core/history.h"
#include "core/panel.h"
#include "core/results.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dielmon {

// The pages of the three notebooks, by the names the window gives them.
enum class AllStatePage { Default, HisData, UpHis };               // Nbk_AllState
enum class SstatePage { DefPage, Error, Info, UpVolt, ShowState }; // Nbk_Sstate
enum class ShowHisPage { ShowAll, ShowOne, ShowInfo };             // Nbk_ShowHis
const char* PageName(AllStatePage page);
const char* PageName(SstatePage page);
const char* PageName(ShowHisPage page);

// The labels whose texts the controller writes, named by their controls.
enum class Label {
    LblTime,
    Lbl_Default1,
    Lbl_Error,
    Lbl_Info,
    Lbl_Guding,
    Lbl_UpInfo,
    Lbl_ShowState,
    LblCxRx,
    Label19,
    Label21,
    Lbl_Num,
    Label22,
    Label23,
    Label24,
    Label26,
    LblHis_ShowInfo,
    Label20,
    Label25,
    Label27,
};
inline constexpr int kLabelCount = static_cast<int>(Label::Label27) + 1;
const char* ControlName(Label label);

// The panel's controls that the operator changes.
enum class PanelCombo {
    CBox_EleType,
    CBox_ConnType,
    CBox_Model,
    CBox_U,
    CBox_Freq,
    CBox_TestVolt,
    CBox_CurrentUp,
    CBox_JLVoltUp,
    CBox_JLCultUp,
};
enum class PanelEdit { Edt_Volt, Edt_C, Edt_JS, CBox_VoltUp };

// The program-wide test-control state. Time stamps are on the steady clock.
struct TestControlState {
    bool PortOpen = false;
    bool InstrumentAnswered = true;
    bool TestRunning = false;
    SteadyPoint MessageTime{};
    bool ErrorShown = false;
    bool InfoShown = false;
    bool HintVisible = false;
    bool CloseRequested = false;
    bool CloseAllowed = true;
    SteadyPoint CloseRequestTime{};
    int InstrumentType = 4;
    int DoubleSteps = 0;
};

inline constexpr int kResultPanelLow = 157;

// Everything the window shows that the controller decides.
struct WindowView {
    AllStatePage AllState = AllStatePage::Default;
    SstatePage Sstate = SstatePage::DefPage;
    ShowHisPage ShowHis = ShowHisPage::ShowAll;
    std::array<std::string, kLabelCount> Texts;
    int GaugePosition = 0;
    int GaugeMaximum = 10;
    int GaugeSteps = 0;           // step frames since the test started, also those past the maximum
    bool Pnl_HintVisible = false; // the hint panel of "ShowState" (Label21)
    bool Panel33Visible = false;  // the hint panel of "ShowOne" (Label26)
    int Panel13Height = kResultPanelLow;
    int Panel27Height = kResultPanelLow;
    bool BBtn_StopTest = false;
    bool N3 = false;  // "保存": a result is on show
    bool N4 = false;  // "打印"
    Panel PanelModel; // with the enabled states of the buttons and menus it governs
    std::vector<IndexRow> HistoryRows;
    int SelectedRow = -1; // of LView_History; -1: none
    // Raised whenever the panel or the list changes, so that a mirror can skip them otherwise.
    std::uint64_t PanelRevision = 0;
    std::uint64_t HistoryRevision = 0;

    const std::string& Text(Label label) const { return Texts[static_cast<int>(label)]; }
};

// A message box the caller shows, captioned "提示".
struct MessageRequest {
    enum class Icon { None, Information, Question, Warning };
    Icon Kind = Icon::None;
    std::string Text; // GBK
};

enum class ResultSource { Test, Instrument, File };

// A result that has come to the screen: a final result of a test or a stored record opened.
struct CompletedResult {
    ResultSource Source = ResultSource::Test;
    int RecordNumber = 0; // the instrument's record number; 0 for a test
    std::uint8_t Code = 0;
    std::vector<std::uint8_t> Frame;
    PanelSelection Selection;                 // the panel the result was decoded with
    std::optional<TestParameters> Parameters; // of the test-start frame that began the test
    int InstrumentType = 0;
    ResultTexts Texts;
    bool Downloaded = false; // read by "下载全部记录", not opened by the operator
};

// How far "下载全部记录" has come: reading every record the instrument keeps.
struct DownloadProgress {
    int Read = 0;          // records read so far
    int Total = -1;        // records the instrument keeps; -1 until its index has said
    bool Finished = false; // the download is over (done, failed or cancelled)
    bool Cancelled = false;
    std::string Failure; // GBK: why it stopped before the end; empty otherwise
};

// What a call asks its caller to do, in this order: send the frames, show the boxes, then the
// rest.
struct Effects {
    std::vector<std::vector<std::uint8_t>> Frames;
    std::vector<MessageRequest> Messages;
    std::vector<Label> TextsSet; // labels written by this call, in order (a label may repeat)
    std::vector<CompletedResult> Results;
    std::vector<std::string> DebugOutput; // developer trace (GBK)
    bool CloseWindow = false;             // close the window now (the close is allowed)
    bool CloseAccepted = false;           // the answer to CloseRequested
    bool ClosePort = false;               // the line has gone: close the connection
    bool ReopenPort = false;              // try to open the same port again if its device is there
    std::optional<PanelEdit> Refocus;     // put the focus back into this field
    bool GaugeChanged = false;            // the gauge was reset or advanced
    std::optional<InstrumentParameters>
        ParametersApplied;                    // the instrument's report is in the panel
    std::optional<IndexRow> RowAdded;         // a row appended to the list
    std::optional<DownloadProgress> Download; // the download went on, or ended
};

class TestController {
public:
    explicit TestController(const Clock& clock = DefaultClock());

    const WindowView& View() const { return View_; }
    const TestControlState& State() const { return S_; }
    const Panel& PanelModel() const { return View_.PanelModel; }

    // The window is shown: idle page, the panel cleared and disabled, the frequency list
    // filled. The window opens the port next and reports with PortOpened.
    Effects FormShow();
    // The port was (re)opened, or could not be; `path` names it in the operator's message, and
    // `why` (a line break and a line, GBK) says why when the port layer could tell. Opening
    // another port than before ends a test whose line had gone.
    Effects PortOpened(bool ok, const std::string& path, const std::string& why = {});
    // The reader found the line gone. A test keeps its state: the instrument may still hold
    // high voltage, so "停止测试" stays usable and closing stays refused.
    Effects LineLost();
    // The automatic reopen of a port that is down (lost, or not opened) has run.
    Effects PortReopened(bool ok);

    // One complete received frame.
    Effects Frame(const std::uint8_t* frame, int length);
    // The half-second clock: time-outs on the steady clock, the clock label in wall time.
    Effects Tick();

    // The operator's actions.
    Effects Connect();             // "连接"
    Effects Disconnect();          // "断开连接"
    Effects StartTest();           // "开始测试"
    Effects StopTest();            // "停止测试"
    Effects InstrumentSave();      // "仪器保存"
    Effects InstrumentPrint();     // "仪器打印" on a result or on a stored record
    Effects Return();              // "返回" on the result page, the list or a stored record
    Effects ReadIndex();           // "上传历史数据索引"
    Effects OpenRecord();          // "打开"
    Effects DeleteRecord();        // "删除"
    Effects ClearHistory();        // "清空历史数据", once the operator has confirmed it
    Effects SelectRecord(int row); // a row of the list chosen
    Effects ShowFile(const ResultTexts& texts); // a result read from a file, on "UpHis"
    Effects FileOpenCancelled();                // the file dialog of "打开文件" cancelled
    Effects ReturnFromFile();                   // "返回" on "UpHis"
    Effects CloseRequested(); // the window is asked to close; see Effects::CloseAccepted
    Effects PanelChoice(PanelCombo combo, int index);
    Effects PanelEdited(PanelEdit field, const std::string& text);
    // The operator has left a field for another control: the range checks.
    Effects FieldLeft(PanelEdit field);

    // "下载全部记录": every record the instrument keeps, its index first, then record by
    // record, each reported as a completed result. Refused with a message when the instrument
    // is not connected or a test runs. While it runs, the index entries, the records and the
    // instrument's errors are the download's: the pages, the list and the labels stay as they
    // were. It ends by itself, on CancelDownload, when the line goes, or on a close request.
    Effects StartDownload();
    Effects CancelDownload();
    bool Downloading() const { return Download_.has_value(); }

    // A frame the program sent, as a log records it: what the operator's action that sent it
    // did, for replaying a log where the clicks themselves are not recorded. A sent test start
    // also takes its choices into the panel.
    Effects ReplaySent(const std::uint8_t* frame, int length);

    // The three texts of the result on show, if one is.
    std::optional<ResultTexts> ShownResult() const;

    // The record number shown in a row of the list; 0 without one.
    int SelectedRecordNumber() const;

private:
    Panel& EditPanel();
    std::vector<IndexRow>& EditHistory();
    void SetText(Effects& e, Label label, const std::string& text);
    void ShowPage(AllStatePage all);
    void ShowPage(SstatePage page);
    void ShowPage(ShowHisPage page);
    void ShowHint(Effects& e, const std::string& text, bool show);
    void ReturnToIdle();
    void SetPanelLocked(bool locked);
    void ResetPanel(bool enabled);
    void UpdateFileMenu();
    long long SecondsSince(SteadyPoint stamp) const;
    std::vector<std::uint8_t> Command(std::uint8_t code, std::uint8_t record = 0) const;

    // What each action does besides sending its frame; shared with the replay of a log.
    void AfterConnect();
    void AfterDisconnect();
    void AfterStartTest(const TestParameters& p);
    void AfterStopTest(Effects& e);
    void AfterReadIndex(Effects& e);
    void AfterOpenRecord(Effects& e, int number);
    void AfterDeleteRecord(Effects& e);
    void AfterClearHistory(Effects& e);

    // The responses that take more than a line.
    void OnParameters(const std::uint8_t* frame, int length);
    void OnReturned();
    void OnLiveValues(Effects& e, std::uint8_t code, const std::uint8_t* frame, int length);
    void OnFinalResult(Effects& e, const std::uint8_t* frame, int length);
    void OnIndexEntry(Effects& e, const std::uint8_t* frame, int length);
    void OnStoredRecord(Effects& e, std::uint8_t code, const std::uint8_t* frame, int length);
    void OnRecordDeleted(Effects& e);
    void OnHistoryCleared(Effects& e);
    void OnError(Effects& e, const std::uint8_t* frame, int length);

    bool TestInProgress() const;
    void EndTest();
    // A step of the download carried out: its frame, its record, its progress; the end.
    void TakeDownloadStep(Effects& e, const RecordDownload::Step& s);
    void EndDownload(Effects& e, const std::string& failure, bool cancelled);
    DownloadProgress DownloadState() const;
    bool DownloadRefused(Effects& e) const;

    const Clock& Clock_;
    TestControlState S_;
    WindowView View_;
    ExcitationTexts Excitation_;
    // The port should be open and is not: lost, or it could not be opened. Every tick asks for
    // it again.
    bool PortDown_ = false;
    std::string PortPath_;
    // A deletion sent and not yet acknowledged. Records move up a number when one is deleted,
    // so a second "删除" on the same row before the answer would delete another record. The
    // wait ends with any answer that ends it, or after 6 s.
    bool DeletePending_ = false;
    SteadyPoint DeleteTime_{};
    std::optional<TestParameters> TestStart_; // the start frame of the test on the line
    int RequestedRecord_ = 0;                 // the record "打开" asked for
    std::optional<RecordDownload> Download_;  // "下载全部记录" while it runs
    // Until then, after a download stopped halfway, the answer it was waiting for is dropped
    // when it comes late; the operator's own request to the store ends the wait.
    std::optional<SteadyPoint> DrainUntil_;
};

} // namespace dielmon
