// The pages of the instrument's stored records: the index list, one opened record, and the
// operations on them.
#include "core/history.h"
#include "core/commands.h"
#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"

#include <QTableWidget>

namespace dielmon {

namespace {

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

} // namespace

void TfrmDielmon::BBtn_UpHisClick() {
    DeletePending_ = false; // a new listing numbers the rows afresh
    LView_History->setRowCount(0);
    SendShortCommand(CmdReadIndex);
    LblHis_ShowInfo->SetGbkText(texts::kReadingData);
    Nbk_AllState->SetActivePage(QStringLiteral("HisData"));
    Nbk_ShowHis->SetActivePage(QStringLiteral("ShowInfo"));
}

void TfrmDielmon::ShowIndexEntry(const std::uint8_t* frame, int length) {
    Nbk_AllState->SetActivePage(QStringLiteral("HisData"));
    Nbk_ShowHis->SetActivePage(QStringLiteral("ShowAll"));
    const IndexUpdate u = dielmon::ShowIndexEntry(frame, length);
    if (u.ClearRows) {
        LView_History->setRowCount(0);
    }
    Lbl_Num->SetGbkText(u.CountText);
    if (!u.Row) {
        return;
    }
    const int row = LView_History->rowCount();
    LView_History->insertRow(row);
    auto* caption = new QTableWidgetItem(QString());
    LView_History->setItem(row, 0, caption);
    LView_History->setItem(row, 1, Cell(Q(u.Row->Number)));
    LView_History->setItem(row, 2, Cell(Q(u.Row->Time)));
    LView_History->selectRow(0);
}

bool TfrmDielmon::HasSelectedRecord() const {
    return LView_History->rowCount() > 0 &&
           !LView_History->selectionModel()->selectedRows().isEmpty();
}

int TfrmDielmon::SelectedRecordNumber() const {
    const auto rows = LView_History->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return 0;
    }
    const QTableWidgetItem* item = LView_History->item(rows.first().row(), 1);
    return item != nullptr ? RecordNumberOf(G(item->text())) : 0;
}

void TfrmDielmon::BitBtn7Click() {
    if (!HasSelectedRecord()) {
        return;
    }
    SendShortCommand(CmdReadRecord, static_cast<std::uint8_t>(SelectedRecordNumber() % 256));
    Nbk_AllState->SetActivePage(QStringLiteral("HisData"));
    Nbk_ShowHis->SetActivePage(QStringLiteral("ShowInfo"));
    LblHis_ShowInfo->SetGbkText(texts::kReadingData);
}

void TfrmDielmon::BitBtn8Click() {
    // A listing still arriving shows the list again before the deletion is answered; a second
    // press there (a double click) would delete the record that has just moved up.
    if (DeletePending_ || !HasSelectedRecord()) {
        return;
    }
    DeletePending_ = true;
    SendShortCommand(CmdDeleteRecord, static_cast<std::uint8_t>(SelectedRecordNumber() % 256));
    Nbk_AllState->SetActivePage(QStringLiteral("HisData"));
    Nbk_ShowHis->SetActivePage(QStringLiteral("ShowInfo"));
    LblHis_ShowInfo->SetGbkText(texts::kDeletingData);
}

void TfrmDielmon::RemoveDeletedRecord() {
    DeletePending_ = false;
    const auto rows = LView_History->selectionModel()->selectedRows();
    if (!rows.isEmpty()) {
        LView_History->removeRow(rows.first().row());
        // The deleted row took the selection with it; nothing is selected until the operator
        // chooses again.
        LView_History->clearSelection();
    }
    const int n = LView_History->rowCount();
    Lbl_Num->SetGbkText(HistoryCountText(n));
    for (int i = 0; i < n; ++i) {
        LView_History->setItem(i, 1, Cell(Q(RecordNumberText(i + 1))));
    }
}

void TfrmDielmon::BitBtn10Click() {
    SendShortCommand(CmdInstrumentPrint);
    ShowHint(texts::kPrinting, true);
}

void TfrmDielmon::BitBtn9Click() {
    SendShortCommand(CmdReturn);
}

void TfrmDielmon::BitBtn12Click() {
    SendShortCommand(CmdReturn);
}

void TfrmDielmon::BBtn_DelHisClick() {
    if (Message(texts::kConfirmClearHistory, Dialogs::Icon::Question, Dialogs::Buttons::OkCancel) !=
        Dialogs::Answer::Ok) {
        return;
    }
    SendShortCommand(CmdClearHistory);
    Lbl_Info->SetGbkText(texts::kClearingHistory);
    Nbk_AllState->SetActivePage(QStringLiteral("Default"));
    Nbk_Sstate->SetActivePage(QStringLiteral("Info"));
}

void TfrmDielmon::ShowStoredRecord(std::uint8_t code, const std::uint8_t* frame, int length) {
    Nbk_AllState->SetActivePage(QStringLiteral("HisData"));
    Nbk_ShowHis->SetActivePage(QStringLiteral("ShowOne"));
    const StoredRecordView v = dielmon::ShowStoredRecord(code, frame, length);
    if (v.PanelHeight) {
        Panel27->setFixedHeight(*v.PanelHeight);
    }
    Label22->SetGbkText(v.Title);
    if (v.Main) {
        Label23->SetGbkText(*v.Main);
    }
    Label24->SetGbkText(v.Details);
}

} // namespace dielmon
