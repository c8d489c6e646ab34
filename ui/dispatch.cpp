// What each received frame does to the window, and the running of a test.
#include "core/commands.h"
#include "core/history.h"
#include "core/responses.h"
#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <iostream>

namespace dielmon {

void TfrmDielmon::DispatchFrame(const std::uint8_t* frame, int length) {
    if (length < 5) {
        return;
    }
    ++FramesDispatched_;
    const std::uint8_t code = frame[1];
    ShowHint({}, false);
    switch (code) {
    case RspParameters: {
        const InstrumentParameters p = Panel_.ApplyInstrumentParameters(frame, length);
        S_.InstrumentType = p.InstrumentType;
        S_.DoubleSteps = p.DoubleSteps;
        S_.InstrumentAnswered = true;
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
        ApplyPanel();
        S_.CloseAllowed = false;
        break;
    }
    case RspDisconnected:
        S_.CloseAllowed = true;
        if (S_.CloseRequested) {
            close();
        }
        break;
    case RspSaved:
        ShowHint(texts::kDataSaved, true);
        S_.MessageTime = Now();
        S_.InfoShown = true;
        break;
    case RspPrinted:
        ShowHint(texts::kDataPrinted, true);
        if (Trace_) {
            std::cerr << GbkToUtf8(texts::kDataPrinted) << std::endl;
        }
        S_.MessageTime = Now();
        S_.InfoShown = true;
        break;
    case RspReturned:
        if (Nbk_AllState->ActivePage() == QStringLiteral("Default")) {
            Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
            ReturnToIdle();
        } else if (Nbk_ShowHis->ActivePage() == QStringLiteral("ShowOne")) {
            Nbk_ShowHis->SetActivePage(QStringLiteral("ShowAll"));
        } else if (Nbk_ShowHis->ActivePage() == QStringLiteral("ShowAll")) {
            Nbk_AllState->SetActivePage(QStringLiteral("Default"));
            Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
            ReturnToIdle();
        }
        break;
    case RspTestStarted:
        Lbl_Guding->SetGbkText(TestConfigurationLine(Panel_.Selection()));
        break;
    case RspBoosting:
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Nbk_Sstate->SetActivePage(QStringLiteral("UpVolt"));
        Lbl_Guding->SetGbkText(TestConfigurationLine(Panel_.Selection()));
        if (const auto text = ShowBoosting(frame, length, Panel_.Selection(), Excitation_)) {
            Lbl_UpInfo->SetGbkText(*text);
        }
        break;
    case RspStepResult:
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Nbk_Sstate->SetActivePage(QStringLiteral("UpVolt"));
        Lbl_Guding->SetGbkText(TestConfigurationLine(Panel_.Selection()));
        ProgBar_Step->setValue(std::min(ProgBar_Step->value() + 1, ProgBar_Step->maximum()));
        ProgBar_Step->setProperty("steps", ProgBar_Step->property("steps").toInt() + 1);
        Lbl_UpInfo->SetGbkText(ShowStep(frame, length, Panel_.Selection(), Excitation_));
        break;
    case RspFinalResult:
        S_.TestRunning = false;
        ReturnToIdle();
        SetPanelLocked(false);
        ShowFinalResult(frame, length);
        break;
    case RspStopped:
        Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
        S_.TestRunning = false;
        SetPanelLocked(false);
        BBtn_StopTest->setEnabled(false);
        Panel_.BBtn_StartTest = true;
        ApplyPanel();
        break;
    case RspIndex:
        ShowIndexEntry(frame, length);
        break;
    case RspRecord:
    case RspRecordMulti:
    case RspRecordShielded:
    case RspRecordCvt:
    case RspRecordRatio:
        ShowStoredRecord(code, frame, length);
        break;
    case RspRecordDeleted:
        Nbk_AllState->SetActivePage(QStringLiteral("HisData"));
        Nbk_ShowHis->SetActivePage(QStringLiteral("ShowAll"));
        RemoveDeletedRecord();
        break;
    case RspHistoryCleared:
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Lbl_Info->SetGbkText(texts::kHistoryCleared);
        Nbk_Sstate->SetActivePage(QStringLiteral("Info"));
        LView_History->setRowCount(0);
        Lbl_Num->SetGbkText(HistoryCountText(0));
        S_.InfoShown = true;
        S_.MessageTime = Now();
        break;
    case RspError:
        Lbl_Error->SetGbkText(ErrorText(ErrorCodeOf(frame, length)));
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Nbk_Sstate->SetActivePage(QStringLiteral("Error"));
        S_.ErrorShown = true;
        S_.MessageTime = Now();
        break;
    default:
        if (IsSaveDone(code)) {
            // Modal: the reader waits in the hand-over until the operator closes the box.
            Message(texts::kSaveSucceeded, Dialogs::Icon::Information);
        }
        break;
    }
    UpdateFileMenu();
    ArrangeLayout();
}

void TfrmDielmon::ShowHint(const std::string& text, bool show) {
    QWidget* panel = nullptr;
    TextLabel* label = nullptr;
    if (Nbk_AllState->ActivePage() == QStringLiteral("Default")) {
        panel = Pnl_Hint;
        label = Label21;
    } else if (Nbk_AllState->ActivePage() == QStringLiteral("HisData")) {
        panel = Panel33;
        label = Label26;
    } else {
        return;
    }
    QWidget* parent = panel->parentWidget();
    panel->move((parent->width() - panel->width()) / 2, (parent->height() - panel->height()) / 2);
    label->SetGbkText(text);
    panel->setVisible(show);
    if (show) {
        panel->raise();
    }
    S_.HintVisible = show;
}

void TfrmDielmon::BBtn_StartTestClick() {
    const PanelSelection sel = Panel_.Selection();
    ProgBar_Step->setValue(0);
    ProgBar_Step->setProperty("steps", 0);
    ProgBar_Step->setMaximum(GaugeMaximum(sel, S_.DoubleSteps, ProgBar_Step->maximum()));
    S_.TestRunning = true;
    SetPanelLocked(true);
    SendStartTest(Panel_.ReadTestParameters());
    BBtn_StopTest->setEnabled(true);
    Panel_.BBtn_StartTest = false;
    ApplyPanel();
}

void TfrmDielmon::SendStartTest(const TestParameters& parameters) {
    const auto frame = BuildStartTest(parameters);
    Send(frame.data(), static_cast<int>(frame.size()));
}

void TfrmDielmon::BBtn_StopTestClick() {
    SendShortCommand(CmdStopTest);
    if (Panel_.CBox_TestVolt.Text() != texts::kExternalHighVoltage) {
        Lbl_Info->SetGbkText(texts::kPowerShuttingDown);
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Nbk_Sstate->SetActivePage(QStringLiteral("Info"));
    }
    S_.TestRunning = false;
    S_.CloseRequested = false;
}

void TfrmDielmon::ShowFinalResult(const std::uint8_t* frame, int length) {
    Nbk_AllState->SetActivePage(QStringLiteral("Default"));
    Nbk_Sstate->SetActivePage(QStringLiteral("ShowState"));
    const FinalResultView v = dielmon::ShowFinalResult(frame, length, Panel_.Selection());
    Lbl_ShowState->SetGbkText(v.Texts.Title);
    Panel13->setFixedHeight(v.PanelHeight);
    LblCxRx->SetGbkText(v.Texts.Main);
    Label19->SetGbkText(v.Texts.Details);
}

void TfrmDielmon::BitBtn4Click() {
    SendShortCommand(CmdInstrumentSave);
    ShowHint(texts::kSaving, true);
}

void TfrmDielmon::BitBtn5Click() {
    SendShortCommand(CmdInstrumentPrint);
    ShowHint(texts::kPrinting, true);
}

void TfrmDielmon::BitBtn6Click() {
    SendShortCommand(CmdReturn);
}

} // namespace dielmon
