#include "core/controller.h"

#include "core/commands.h"
#include "core/responses.h"
#include "core/texts.h"

#include <algorithm>

namespace dielmon {

const char* PageName(AllStatePage page) {
    switch (page) {
    case AllStatePage::Default:
        return "Default";
    case AllStatePage::HisData:
        return "HisData";
    case AllStatePage::UpHis:
        return "UpHis";
    }
    return "";
}

const char* PageName(SstatePage page) {
    switch (page) {
    case SstatePage::DefPage:
        return "DefPage";
    case SstatePage::Error:
        return "Error";
    case SstatePage::Info:
        return "Info";
    case SstatePage::UpVolt:
        return "UpVolt";
    case SstatePage::ShowState:
        return "ShowState";
    }
    return "";
}

const char* PageName(ShowHisPage page) {
    switch (page) {
    case ShowHisPage::ShowAll:
        return "ShowAll";
    case ShowHisPage::ShowOne:
        return "ShowOne";
    case ShowHisPage::ShowInfo:
        return "ShowInfo";
    }
    return "";
}

const char* ControlName(Label label) {
    static const char* const names[kLabelCount] = {
        "LblTime",         "Lbl_Default1",  "Lbl_Error", "Lbl_Info", "Lbl_Guding",
        "Lbl_UpInfo",      "Lbl_ShowState", "LblCxRx",   "Label19",  "Label21",
        "Lbl_Num",         "Label22",       "Label23",   "Label24",  "Label26",
        "LblHis_ShowInfo", "Label20",       "Label25",   "Label27",
    };
    return names[static_cast<int>(label)];
}

TestController::TestController(const Clock& clock) : Clock_(clock) {
    S_.MessageTime = Clock_.Steady();
    View_.Texts[static_cast<int>(Label::Lbl_Default1)] = texts::kIdleText;
    View_.Texts[static_cast<int>(Label::Lbl_UpInfo)] = texts::kBoostingWait;
    View_.Texts[static_cast<int>(Label::Lbl_Num)] = texts::kInitialHistoryCount;
    View_.Texts[static_cast<int>(Label::LblHis_ShowInfo)] = texts::kReadingData;
}

Panel& TestController::EditPanel() {
    ++View_.PanelRevision;
    return View_.PanelModel;
}

std::vector<IndexRow>& TestController::EditHistory() {
    ++View_.HistoryRevision;
    return View_.HistoryRows;
}

void TestController::SetText(Effects& e, Label label, const std::string& text) {
    View_.Texts[static_cast<int>(label)] = text;
    e.TextsSet.push_back(label);
}

void TestController::ShowPage(AllStatePage all) {
    View_.AllState = all;
}

void TestController::ShowPage(SstatePage page) {
    View_.Sstate = page;
}

void TestController::ShowPage(ShowHisPage page) {
    View_.ShowHis = page;
}

long long TestController::SecondsSince(SteadyPoint stamp) const {
    return WholeSecondsBetween(stamp, Clock_.Steady());
}

std::vector<std::uint8_t> TestController::Command(std::uint8_t code, std::uint8_t record) const {
    const auto frame = BuildShortCommand(code, record);
    return {frame.begin(), frame.end()};
}

void TestController::ShowHint(Effects& e, const std::string& text, bool show) {
    Label label;
    if (View_.AllState == AllStatePage::Default) {
        View_.Pnl_HintVisible = show;
        label = Label::Label21;
    } else if (View_.AllState == AllStatePage::HisData) {
        View_.Panel33Visible = show;
        label = Label::Label26;
    } else {
        return;
    }
    View_.Texts[static_cast<int>(label)] = text;
    // A hidden hint shows nothing, so only a hint put on show counts as a text written.
    if (show) {
        e.TextsSet.push_back(label);
    }
    S_.HintVisible = show;
}

void TestController::ResetPanel(bool enabled) {
    EditPanel().ResetPanel(enabled);
}

void TestController::SetPanelLocked(bool locked) {
    EditPanel().SetPanelLocked(locked);
}

void TestController::ReturnToIdle() {
    S_.InstrumentAnswered = true;
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::DefPage);
    Panel& p = EditPanel();
    p.ResetPanel(true);
    p.SetExternalStandardEnabled(p.CBox_U.Text() == texts::kExternalStandard);
    p.SetCvtMode(p.CBox_ConnType.Text() == texts::kWiringCvt);
    View_.BBtn_StopTest = false;
    p.BBtn_StartTest = true;
}

void TestController::UpdateFileMenu() {
    const bool result =
        View_.AllState == AllStatePage::UpHis ||
        (View_.AllState == AllStatePage::HisData && View_.ShowHis == ShowHisPage::ShowOne) ||
        (View_.AllState == AllStatePage::Default && View_.Sstate == SstatePage::ShowState);
    View_.N3 = result;
    View_.N4 = result;
}

std::optional<ResultTexts> TestController::ShownResult() const {
    auto texts = [this](Label title, Label main, Label details) {
        return ResultTexts{View_.Text(title), View_.Text(main), View_.Text(details)};
    };
    if (View_.AllState == AllStatePage::UpHis) {
        return texts(Label::Label20, Label::Label25, Label::Label27);
    }
    if (View_.AllState == AllStatePage::HisData && View_.ShowHis == ShowHisPage::ShowOne) {
        return texts(Label::Label22, Label::Label23, Label::Label24);
    }
    if (View_.AllState == AllStatePage::Default && View_.Sstate == SstatePage::ShowState) {
        return texts(Label::Lbl_ShowState, Label::LblCxRx, Label::Label19);
    }
    return std::nullopt;
}

int TestController::SelectedRecordNumber() const {
    const int row = View_.SelectedRow;
    if (row < 0 || row >= static_cast<int>(View_.HistoryRows.size())) {
        return 0;
    }
    return RecordNumberOf(View_.HistoryRows[static_cast<std::size_t>(row)].Number);
}

// The window and its port.

Effects TestController::FormShow() {
    Effects e;
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::DefPage);
    Panel& p = EditPanel();
    p.ResetPanel(false);
    p.FillFrequencyList();
    View_.BBtn_StopTest = false;
    View_.Pnl_HintVisible = false;
    View_.Panel33Visible = false;
    return e;
}

bool TestController::TestInProgress() const {
    // Until the instrument confirms the stop, the panel stays locked and "停止测试" usable.
    return S_.TestRunning || View_.BBtn_StopTest;
}

void TestController::EndTest() {
    S_.TestRunning = false;
    ReturnToIdle();
    SetPanelLocked(false);
}

Effects TestController::PortOpened(bool ok, const std::string& path, const std::string& why) {
    Effects e;
    if (Download_ && path != PortPath_) {
        EndDownload(e, texts::kPortError, false);
    }
    if (path != PortPath_ && TestInProgress() && !PortPath_.empty()) {
        // The instrument under test is on the old port: nothing on this one can stop it, and
        // waiting for its answer would keep the panel locked for ever.
        EndTest();
    }
    PortPath_ = path;
    S_.PortOpen = ok;
    PortDown_ = !ok;
    if (!ok) {
        e.Messages.push_back({MessageRequest::Icon::None, path + texts::kOpenPortFailed + why});
    }
    return e;
}

Effects TestController::LineLost() {
    Effects e;
    if (Download_) {
        EndDownload(e, texts::kPortError, false);
    }
    PortDown_ = true;
    DeletePending_ = false;
    e.ClosePort = true;
    S_.PortOpen = false;
    if (TestInProgress()) {
        // The operator may choose another port; everything else stays as during the test.
        EditPanel().N2 = true;
    } else if (View_.PanelModel.BBtn_StartTest) {
        // Connected and idle: the panel stays usable. A panel that no instrument has filled
        // (not connected yet, or waiting for the answer to "连接") stays empty and disabled.
        ReturnToIdle();
        SetPanelLocked(false);
    }
    ShowPage(AllStatePage::Default);
    SetText(e, Label::Lbl_Info, texts::kPortError);
    ShowPage(SstatePage::Info);
    UpdateFileMenu();
    return e;
}

Effects TestController::PortReopened(bool ok) {
    Effects e;
    if (!ok) {
        return e;
    }
    S_.PortOpen = true;
    PortDown_ = false;
    if (TestInProgress()) {
        EditPanel().N2 = false;
    }
    // The port error gives way, as a notice that goes after 3 s.
    ShowPage(AllStatePage::Default);
    SetText(e, Label::Lbl_Info, texts::kPortRestored);
    ShowPage(SstatePage::Info);
    S_.InfoShown = true;
    S_.MessageTime = Clock_.Steady();
    UpdateFileMenu();
    return e;
}

// The clock.

Effects TestController::Tick() {
    Effects e;
    // 1. An instrument error has been on show for 6 s: the test is over.
    if (S_.ErrorShown && SecondsSince(S_.MessageTime) > 5) {
        S_.ErrorShown = false;
        EndTest();
    }
    // 2. A transient notice has been on show for 3 s.
    if (S_.InfoShown && SecondsSince(S_.MessageTime) > 2) {
        if (S_.HintVisible) {
            ShowHint(e, {}, false);
        } else if (View_.AllState == AllStatePage::Default) {
            ShowPage(SstatePage::DefPage);
        }
        S_.InfoShown = false;
    }
    // 3. No answer to "连接" within 6 s.
    if (!S_.InstrumentAnswered && SecondsSince(S_.MessageTime) > 5) {
        ShowPage(AllStatePage::Default);
        SetText(e, Label::Lbl_Info, texts::kPortError);
        ShowPage(SstatePage::Info);
    }
    // 4. The clock, in the operator's time.
    SetText(e, Label::LblTime, ClockText(ToLocal(Clock_.Now())));
    // 5. A close that the instrument did not answer within 3 s.
    if (S_.CloseRequested && !S_.TestRunning && SecondsSince(S_.CloseRequestTime) > 2) {
        S_.CloseAllowed = true;
        e.CloseWindow = true;
    }
    // A deletion the instrument never answered does not block the next one.
    if (DeletePending_ && SecondsSince(DeleteTime_) > 5) {
        DeletePending_ = false;
    }
    if (Download_) {
        TakeDownloadStep(e, Download_->Tick(Clock_.Steady()));
    }
    // A port that is down is opened again as soon as its device is there.
    e.ReopenPort = PortDown_;
    return e;
}

// Received frames.

Effects TestController::Frame(const std::uint8_t* frame, int length) {
    Effects e;
    if (length < 5) {
        return e;
    }
    const std::uint8_t code = frame[1];
    if (Download_ && (code == RspIndex || code == RspError || IsStoredRecord(code))) {
        // The download's answers: the pages and the list stay as the operator left them.
        TakeDownloadStep(e, Download_->Frame(frame, length, Clock_.Steady()));
        return e;
    }
    if (DrainUntil_ && (code == RspIndex || IsStoredRecord(code))) {
        // A late answer to a download that was stopped: nobody asked for it on the pages.
        if (Clock_.Steady() < *DrainUntil_) {
            return e;
        }
        DrainUntil_.reset();
    }
    ShowHint(e, {}, false);
    switch (code) {
    case RspParameters:
        OnParameters(frame, length);
        e.ParametersApplied = DecodeParameters(frame, length);
        S_.CloseAllowed = false;
        break;
    case RspDisconnected:
        S_.CloseAllowed = true;
        if (S_.CloseRequested) {
            e.CloseWindow = true;
        }
        break;
    case RspSaved:
        ShowHint(e, texts::kDataSaved, true);
        S_.MessageTime = Clock_.Steady();
        S_.InfoShown = true;
        break;
    case RspPrinted:
        ShowHint(e, texts::kDataPrinted, true);
        e.DebugOutput.emplace_back(texts::kDataPrinted);
        S_.MessageTime = Clock_.Steady();
        S_.InfoShown = true;
        break;
    case RspReturned:
        OnReturned();
        break;
    case RspTestStarted:
        SetText(e, Label::Lbl_Guding, TestConfigurationLine(View_.PanelModel.Selection()));
        break;
    case RspBoosting:
    case RspStepResult:
        OnLiveValues(e, code, frame, length);
        break;
    case RspFinalResult:
        OnFinalResult(e, frame, length);
        break;
    case RspStopped:
        ShowPage(SstatePage::DefPage);
        S_.TestRunning = false;
        SetPanelLocked(false);
        View_.BBtn_StopTest = false;
        EditPanel().BBtn_StartTest = true;
        break;
    case RspIndex:
        OnIndexEntry(e, frame, length);
        break;
    case RspRecord:
    case RspRecordMulti:
    case RspRecordShielded:
    case RspRecordCvt:
    case RspRecordRatio:
        OnStoredRecord(e, code, frame, length);
        break;
    case RspRecordDeleted:
        OnRecordDeleted(e);
        break;
    case RspHistoryCleared:
        OnHistoryCleared(e);
        break;
    case RspError:
        OnError(e, frame, length);
        break;
    default:
        if (IsSaveDone(code)) {
            // Modal: the reader waits in the hand-over until the operator closes the box.
            e.Messages.push_back({MessageRequest::Icon::Information, texts::kSaveSucceeded});
        }
        break;
    }
    UpdateFileMenu();
    return e;
}

void TestController::OnParameters(const std::uint8_t* frame, int length) {
    const InstrumentParameters p = EditPanel().ApplyInstrumentParameters(frame, length);
    S_.InstrumentType = p.InstrumentType;
    S_.DoubleSteps = p.DoubleSteps;
    S_.InstrumentAnswered = true;
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::DefPage);
}

void TestController::OnReturned() {
    if (View_.AllState == AllStatePage::Default) {
        ShowPage(SstatePage::DefPage);
        ReturnToIdle();
    } else if (View_.ShowHis == ShowHisPage::ShowOne) {
        ShowPage(ShowHisPage::ShowAll);
    } else if (View_.ShowHis == ShowHisPage::ShowAll) {
        ShowPage(AllStatePage::Default);
        ShowPage(SstatePage::DefPage);
        ReturnToIdle();
    }
}

void TestController::OnLiveValues(Effects& e, std::uint8_t code, const std::uint8_t* frame,
                                  int length) {
    const PanelSelection sel = View_.PanelModel.Selection();
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::UpVolt);
    SetText(e, Label::Lbl_Guding, TestConfigurationLine(sel));
    if (code == RspBoosting) {
        if (const auto text = ShowBoosting(frame, length, sel, Excitation_)) {
            SetText(e, Label::Lbl_UpInfo, *text);
        }
        return;
    }
    // The gauge stops at its maximum, as a progress bar does, when the instrument takes more
    // steps than the wiring mode promised.
    View_.GaugePosition = std::min(View_.GaugePosition + 1, View_.GaugeMaximum);
    ++View_.GaugeSteps;
    e.GaugeChanged = true;
    SetText(e, Label::Lbl_UpInfo, ShowStep(frame, length, sel, Excitation_));
}

void TestController::OnFinalResult(Effects& e, const std::uint8_t* frame, int length) {
    S_.TestRunning = false;
    ReturnToIdle();
    SetPanelLocked(false);
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::ShowState);
    const PanelSelection sel = View_.PanelModel.Selection();
    const FinalResultView v = ShowFinalResult(frame, length, sel);
    SetText(e, Label::Lbl_ShowState, v.Texts.Title);
    View_.Panel13Height = v.PanelHeight;
    SetText(e, Label::LblCxRx, v.Texts.Main);
    SetText(e, Label::Label19, v.Texts.Details);

    CompletedResult r;
    r.Source = ResultSource::Test;
    r.Code = RspFinalResult;
    r.Frame.assign(frame, frame + length);
    r.Selection = sel;
    r.Parameters = TestStart_;
    r.InstrumentType = S_.InstrumentType;
    r.Texts = v.Texts;
    e.Results.push_back(std::move(r));
}

void TestController::OnIndexEntry(Effects& e, const std::uint8_t* frame, int length) {
    ShowPage(AllStatePage::HisData);
    ShowPage(ShowHisPage::ShowAll);
    const IndexUpdate u = ShowIndexEntry(frame, length);
    if (u.ClearRows) {
        DeletePending_ = false; // a new listing numbers the rows afresh
        EditHistory().clear();
        View_.SelectedRow = -1;
    }
    SetText(e, Label::Lbl_Num, u.CountText);
    if (!u.Row) {
        return;
    }
    EditHistory().push_back(*u.Row);
    View_.SelectedRow = 0;
    e.RowAdded = u.Row;
}

void TestController::OnStoredRecord(Effects& e, std::uint8_t code, const std::uint8_t* frame,
                                    int length) {
    ShowPage(AllStatePage::HisData);
    ShowPage(ShowHisPage::ShowOne);
    const StoredRecordView v = ShowStoredRecord(code, frame, length);
    if (v.PanelHeight) {
        View_.Panel27Height = *v.PanelHeight;
    }
    SetText(e, Label::Label22, v.Title);
    if (v.Main) {
        SetText(e, Label::Label23, *v.Main);
    }
    SetText(e, Label::Label24, v.Details);

    CompletedResult r;
    r.Source = ResultSource::Instrument;
    r.RecordNumber = RequestedRecord_;
    r.Code = code;
    r.Frame.assign(frame, frame + length);
    r.InstrumentType = S_.InstrumentType;
    r.Texts = {View_.Text(Label::Label22), View_.Text(Label::Label23), View_.Text(Label::Label24)};
    e.Results.push_back(std::move(r));
}

void TestController::OnRecordDeleted(Effects& e) {
    ShowPage(AllStatePage::HisData);
    ShowPage(ShowHisPage::ShowAll);
    DeletePending_ = false;
    std::vector<IndexRow>& rows = EditHistory();
    const int selected = View_.SelectedRow;
    if (selected >= 0 && selected < static_cast<int>(rows.size())) {
        rows.erase(rows.begin() + selected);
    }
    // The deleted row took the selection with it; nothing is selected until the operator
    // chooses again.
    View_.SelectedRow = -1;
    const int n = static_cast<int>(rows.size());
    SetText(e, Label::Lbl_Num, HistoryCountText(n));
    for (int i = 0; i < n; ++i) {
        rows[static_cast<std::size_t>(i)].Number = RecordNumberText(i + 1);
    }
}

void TestController::OnHistoryCleared(Effects& e) {
    DeletePending_ = false;
    ShowPage(AllStatePage::Default);
    SetText(e, Label::Lbl_Info, texts::kHistoryCleared);
    ShowPage(SstatePage::Info);
    EditHistory().clear();
    View_.SelectedRow = -1;
    SetText(e, Label::Lbl_Num, HistoryCountText(0));
    S_.InfoShown = true;
    S_.MessageTime = Clock_.Steady();
}

void TestController::OnError(Effects& e, const std::uint8_t* frame, int length) {
    DeletePending_ = false;
    SetText(e, Label::Lbl_Error, ErrorText(ErrorCodeOf(frame, length)));
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::Error);
    S_.ErrorShown = true;
    S_.MessageTime = Clock_.Steady();
}

// The operator's actions. Each sends its frame and then does what the log's replay does.

Effects TestController::Connect() {
    Effects e;
    e.Frames.push_back(Command(CmdConnect));
    AfterConnect();
    return e;
}

void TestController::AfterConnect() {
    DeletePending_ = false;
    ResetPanel(false);
    S_.MessageTime = Clock_.Steady();
    S_.InstrumentAnswered = false;
}

Effects TestController::Disconnect() {
    Effects e;
    if (Download_) {
        EndDownload(e, {}, true);
    }
    e.Frames.push_back(Command(CmdDisconnect));
    AfterDisconnect();
    return e;
}

void TestController::AfterDisconnect() {
    ResetPanel(false);
}

Effects TestController::StartTest() {
    Effects e;
    if (DownloadRefused(e)) {
        return e;
    }
    const PanelSelection sel = View_.PanelModel.Selection();
    View_.GaugePosition = 0;
    View_.GaugeSteps = 0;
    View_.GaugeMaximum = GaugeMaximum(sel, S_.DoubleSteps, View_.GaugeMaximum);
    const TestParameters p = View_.PanelModel.ReadTestParameters();
    S_.TestRunning = true;
    SetPanelLocked(true);
    const auto frame = BuildStartTest(p);
    e.Frames.emplace_back(frame.begin(), frame.end());
    AfterStartTest(p);
    e.GaugeChanged = true;
    return e;
}

void TestController::AfterStartTest(const TestParameters& p) {
    TestStart_ = p;
    S_.TestRunning = true;
    View_.BBtn_StopTest = true;
    EditPanel().BBtn_StartTest = false;
}

Effects TestController::StopTest() {
    Effects e;
    if (PortDown_) {
        // Nothing would reach the instrument: the operator must know the test goes on.
        e.Messages.push_back({MessageRequest::Icon::Warning, texts::kStopNotSent});
        return e;
    }
    e.Frames.push_back(Command(CmdStopTest));
    AfterStopTest(e);
    return e;
}

void TestController::AfterStopTest(Effects& e) {
    if (View_.PanelModel.CBox_TestVolt.Text() != texts::kExternalHighVoltage) {
        SetText(e, Label::Lbl_Info, texts::kPowerShuttingDown);
        ShowPage(AllStatePage::Default);
        ShowPage(SstatePage::Info);
    }
    S_.TestRunning = false;
    S_.CloseRequested = false;
}

Effects TestController::InstrumentSave() {
    Effects e;
    if (DownloadRefused(e)) {
        return e;
    }
    e.Frames.push_back(Command(CmdInstrumentSave));
    ShowHint(e, texts::kSaving, true);
    return e;
}

Effects TestController::InstrumentPrint() {
    Effects e;
    if (DownloadRefused(e)) {
        return e;
    }
    e.Frames.push_back(Command(CmdInstrumentPrint));
    ShowHint(e, texts::kPrinting, true);
    return e;
}

Effects TestController::Return() {
    Effects e;
    e.Frames.push_back(Command(CmdReturn));
    return e;
}

Effects TestController::ReadIndex() {
    Effects e;
    if (DownloadRefused(e)) {
        return e;
    }
    e.Frames.push_back(Command(CmdReadIndex));
    AfterReadIndex(e);
    return e;
}

void TestController::AfterReadIndex(Effects& e) {
    DrainUntil_.reset();
    DeletePending_ = false; // a new listing numbers the rows afresh
    EditHistory().clear();
    View_.SelectedRow = -1;
    SetText(e, Label::LblHis_ShowInfo, texts::kReadingData);
    ShowPage(AllStatePage::HisData);
    ShowPage(ShowHisPage::ShowInfo);
}

Effects TestController::OpenRecord() {
    Effects e;
    if (DownloadRefused(e)) {
        return e;
    }
    if (View_.HistoryRows.empty() || View_.SelectedRow < 0) {
        return e;
    }
    const int number = SelectedRecordNumber();
    e.Frames.push_back(Command(CmdReadRecord, static_cast<std::uint8_t>(number % 256)));
    AfterOpenRecord(e, number);
    return e;
}

void TestController::AfterOpenRecord(Effects& e, int number) {
    DrainUntil_.reset();
    RequestedRecord_ = number;
    ShowPage(AllStatePage::HisData);
    ShowPage(ShowHisPage::ShowInfo);
    SetText(e, Label::LblHis_ShowInfo, texts::kReadingData);
}

Effects TestController::DeleteRecord() {
    Effects e;
    if (DownloadRefused(e)) {
        return e;
    }
    // A listing still arriving shows the list again before the deletion is answered; a second
    // press there (a double click) would delete the record that has just moved up.
    if (DeletePending_ || View_.HistoryRows.empty() || View_.SelectedRow < 0) {
        return e;
    }
    e.Frames.push_back(
        Command(CmdDeleteRecord, static_cast<std::uint8_t>(SelectedRecordNumber() % 256)));
    AfterDeleteRecord(e);
    return e;
}

void TestController::AfterDeleteRecord(Effects& e) {
    DeletePending_ = true;
    DeleteTime_ = Clock_.Steady();
    ShowPage(AllStatePage::HisData);
    ShowPage(ShowHisPage::ShowInfo);
    SetText(e, Label::LblHis_ShowInfo, texts::kDeletingData);
}

Effects TestController::ClearHistory() {
    Effects e;
    if (DownloadRefused(e)) {
        return e;
    }
    e.Frames.push_back(Command(CmdClearHistory));
    AfterClearHistory(e);
    return e;
}

void TestController::AfterClearHistory(Effects& e) {
    SetText(e, Label::Lbl_Info, texts::kClearingHistory);
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::Info);
}

Effects TestController::SelectRecord(int row) {
    Effects e;
    View_.SelectedRow = row >= 0 && row < static_cast<int>(View_.HistoryRows.size()) ? row : -1;
    return e;
}

Effects TestController::ShowFile(const ResultTexts& t) {
    Effects e;
    ShowPage(AllStatePage::UpHis);
    // Every label is replaced, so no text of an earlier file stays under this one.
    SetText(e, Label::Label20, t.Title);
    SetText(e, Label::Label25, t.Main);
    SetText(e, Label::Label27, t.Details);
    UpdateFileMenu();
    return e;
}

Effects TestController::FileOpenCancelled() {
    UpdateFileMenu();
    return {};
}

Effects TestController::ReturnFromFile() {
    Effects e;
    ShowPage(AllStatePage::Default);
    ShowPage(SstatePage::DefPage);
    return e;
}

Effects TestController::CloseRequested() {
    Effects e;
    if (Download_) {
        // Nothing of the instrument's store is lost by stopping: what was read is kept.
        EndDownload(e, {}, true);
    }
    S_.CloseRequestTime = Clock_.Steady();
    S_.CloseRequested = true;
    if (S_.TestRunning) {
        // Refused for good: the window must not close by itself later and take the test's
        // result off the screen.
        S_.CloseRequested = false;
        e.Messages.push_back({MessageRequest::Icon::Information, texts::kStopTestFirst});
        return e;
    }
    if (!S_.CloseAllowed) {
        e.Frames.push_back(Command(CmdDisconnect));
        return e;
    }
    e.CloseAccepted = true;
    return e;
}

// The panel.

Effects TestController::PanelChoice(PanelCombo combo, int index) {
    Effects e;
    Panel& p = EditPanel();
    ComboModel* const boxes[] = {&p.CBox_EleType,   &p.CBox_ConnType, &p.CBox_Model,
                                 &p.CBox_U,         &p.CBox_Freq,     &p.CBox_TestVolt,
                                 &p.CBox_CurrentUp, &p.CBox_JLVoltUp, &p.CBox_JLCultUp};
    boxes[static_cast<int>(combo)]->Select(index);
    switch (combo) {
    case PanelCombo::CBox_ConnType:
        p.CBox_ConnTypeChange();
        break;
    case PanelCombo::CBox_U:
        p.CBox_UChange();
        break;
    case PanelCombo::CBox_TestVolt:
        p.CBox_TestVoltChange();
        break;
    default:
        break;
    }
    return e;
}

namespace {

EditModel& FieldOf(Panel& p, PanelEdit field) {
    switch (field) {
    case PanelEdit::Edt_Volt:
        return p.Edt_Volt;
    case PanelEdit::Edt_C:
        return p.Edt_C;
    case PanelEdit::Edt_JS:
        return p.Edt_JS;
    case PanelEdit::CBox_VoltUp:
        break;
    }
    return p.CBox_VoltUp;
}

} // namespace

Effects TestController::PanelEdited(PanelEdit field, const std::string& text) {
    FieldOf(EditPanel(), field).Text = text;
    return {};
}

Effects TestController::FieldLeft(PanelEdit field) {
    Effects e;
    std::optional<std::string> message;
    if (field == PanelEdit::Edt_Volt) {
        message = TestVoltageRangeMessage(View_.PanelModel.Edt_Volt.Text, S_.InstrumentType);
    } else if (field == PanelEdit::CBox_VoltUp) {
        message = VoltageLimitRangeMessage(View_.PanelModel.CBox_VoltUp.Text);
    }
    if (message) {
        e.Messages.push_back({MessageRequest::Icon::Information, *message});
        e.Refocus = field;
    }
    return e;
}

// "下载全部记录".

bool TestController::DownloadRefused(Effects& e) const {
    if (!Download_) {
        return false;
    }
    // The instrument answers one request at a time: a second one would take the download's
    // answers for its own.
    e.Messages.push_back({MessageRequest::Icon::Information, texts::kDownloadBusy});
    return true;
}

Effects TestController::StartDownload() {
    Effects e;
    if (Download_) {
        return e;
    }
    if (TestInProgress()) {
        e.Messages.push_back({MessageRequest::Icon::Information, texts::kStopTestFirst});
        return e;
    }
    // Connected and idle: the instrument has reported its settings, has not said goodbye, and
    // the port is up; the store's own buttons are usable then.
    const bool connected = S_.PortOpen && !PortDown_ && S_.InstrumentAnswered && !S_.CloseAllowed &&
                           View_.PanelModel.BBtn_UpHis;
    if (!connected) {
        e.Messages.push_back({MessageRequest::Icon::Information, texts::kConnectFirst});
        return e;
    }
    RecordDownload::Options options;
    options.Session = false; // the program is connected already
    Download_.emplace(options);
    TakeDownloadStep(e, Download_->Start(Clock_.Steady()));
    e.Download = DownloadState();
    return e;
}

Effects TestController::CancelDownload() {
    Effects e;
    if (Download_) {
        TakeDownloadStep(e, Download_->Cancel());
    }
    return e;
}

DownloadProgress TestController::DownloadState() const {
    DownloadProgress p;
    if (Download_) {
        p.Read = Download_->Read();
        p.Total = Download_->Total();
    }
    return p;
}

void TestController::TakeDownloadStep(Effects& e, const RecordDownload::Step& s) {
    if (!Download_) {
        return;
    }
    if (!s.Send.empty()) {
        e.Frames.push_back(s.Send);
    }
    if (s.Completed) {
        const RecordDownload::Record& rec = *s.Completed;
        const int length = static_cast<int>(rec.Frame.size());
        const StoredRecordView v = ShowStoredRecord(rec.Code, rec.Frame.data(), length);
        CompletedResult r;
        r.Source = ResultSource::Instrument;
        r.RecordNumber = rec.Number;
        r.Code = rec.Code;
        r.Frame = rec.Frame;
        r.InstrumentType = S_.InstrumentType;
        r.Texts = {v.Title, v.Main.value_or(std::string()), v.Details};
        r.Downloaded = true;
        e.Results.push_back(std::move(r));
    }
    if (s.Progressed) {
        e.Download = DownloadState();
    }
    if (!Download_->Finished()) {
        return;
    }
    switch (Download_->Current()) {
    case RecordDownload::State::Cancelled:
        EndDownload(e, {}, true);
        break;
    case RecordDownload::State::Failed:
        if (Download_->Failed() == RecordDownload::Failure::InstrumentError) {
            const std::string text = ErrorText(Download_->ErrorCode());
            EndDownload(e, text.empty() ? texts::kDownloadError : text, false);
        } else {
            EndDownload(e, texts::kDownloadNoReply, false);
        }
        break;
    default:
        EndDownload(e, {}, false);
        break;
    }
}

void TestController::EndDownload(Effects& e, const std::string& failure, bool cancelled) {
    DownloadProgress p = DownloadState();
    p.Finished = true;
    p.Cancelled = cancelled;
    p.Failure = failure;
    e.Download = p;
    if (cancelled || !failure.empty()) {
        DrainUntil_ = Clock_.Steady() + RecordDownload::Options{}.AnswerTimeout;
    }
    Download_.reset();
}

// Replaying a log.

Effects TestController::ReplaySent(const std::uint8_t* frame, int length) {
    Effects e;
    if (length < 5) {
        return e;
    }
    const std::uint8_t record = length > 3 ? frame[3] : 0;
    switch (frame[1]) {
    case CmdConnect:
        AfterConnect();
        break;
    case CmdDisconnect:
        AfterDisconnect();
        break;
    case CmdStartTest: {
        const TestParameters p = DecodeStartTest(frame, length);
        EditPanel().AdoptTestParameters(p);
        const PanelSelection sel = View_.PanelModel.Selection();
        View_.GaugePosition = 0;
        View_.GaugeSteps = 0;
        View_.GaugeMaximum = GaugeMaximum(sel, S_.DoubleSteps, View_.GaugeMaximum);
        SetPanelLocked(true);
        AfterStartTest(p);
        e.GaugeChanged = true;
        break;
    }
    case CmdStopTest:
        AfterStopTest(e);
        break;
    case CmdInstrumentSave:
        ShowHint(e, texts::kSaving, true);
        break;
    case CmdInstrumentPrint:
        ShowHint(e, texts::kPrinting, true);
        break;
    case CmdReadIndex:
        AfterReadIndex(e);
        break;
    case CmdReadRecord:
        AfterOpenRecord(e, record);
        break;
    case CmdDeleteRecord:
        // The operator's row is the one that carries the record's number.
        View_.SelectedRow = -1;
        for (std::size_t k = 0; k < View_.HistoryRows.size(); ++k) {
            if (RecordNumberOf(View_.HistoryRows[k].Number) == record) {
                View_.SelectedRow = static_cast<int>(k);
            }
        }
        AfterDeleteRecord(e);
        break;
    case CmdClearHistory:
        AfterClearHistory(e);
        break;
    default:
        break;
    }
    return e;
}

} // namespace dielmon
