// The pages of the instrument's stored records: the index list mirrored from the controller,
// and the buttons of the list and of one opened record.
#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"

#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <QTableWidget>

namespace dielmon {

namespace {

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

} // namespace

void TfrmDielmon::MirrorHistory() {
    const WindowView& v = Controller_.View();
    // The list follows the controller; the selection it reports back must not echo.
    const QSignalBlocker block(LView_History);
    const QSignalBlocker blockSelection(LView_History->selectionModel());
    if (HistoryMirrored_ != v.HistoryRevision) {
        HistoryMirrored_ = v.HistoryRevision;
        const int n = static_cast<int>(v.HistoryRows.size());
        if (LView_History->rowCount() > n) {
            LView_History->setRowCount(n);
        }
        for (int row = 0; row < n; ++row) {
            const IndexRow& r = v.HistoryRows[static_cast<std::size_t>(row)];
            if (row >= LView_History->rowCount()) {
                LView_History->insertRow(row);
                LView_History->setItem(row, 0, new QTableWidgetItem(QString()));
            }
            const QString number = Q(r.Number);
            const QString time = Q(r.Time);
            const QTableWidgetItem* shown = LView_History->item(row, 1);
            if (shown == nullptr || shown->text() != number) {
                LView_History->setItem(row, 1, Cell(number));
            }
            shown = LView_History->item(row, 2);
            if (shown == nullptr || shown->text() != time) {
                LView_History->setItem(row, 2, Cell(time));
            }
        }
    }
    const auto selected = LView_History->selectionModel()->selectedRows();
    const int shownRow = selected.isEmpty() ? -1 : selected.first().row();
    if (shownRow != v.SelectedRow) {
        if (v.SelectedRow < 0) {
            LView_History->clearSelection();
        } else {
            LView_History->selectRow(v.SelectedRow);
        }
    }
}

void TfrmDielmon::BBtn_UpHisClick() {
    Apply(Controller_.ReadIndex());
}

void TfrmDielmon::BitBtn7Click() {
    Apply(Controller_.OpenRecord());
}

void TfrmDielmon::BitBtn8Click() {
    Apply(Controller_.DeleteRecord());
}

void TfrmDielmon::BitBtn10Click() {
    Apply(Controller_.InstrumentPrint());
}

void TfrmDielmon::BitBtn9Click() {
    Apply(Controller_.Return());
}

void TfrmDielmon::BitBtn12Click() {
    Apply(Controller_.Return());
}

void TfrmDielmon::BBtn_DelHisClick() {
    if (Message(texts::kConfirmClearHistory, Dialogs::Icon::Question, Dialogs::Buttons::OkCancel) !=
        Dialogs::Answer::Ok) {
        return;
    }
    Apply(Controller_.ClearHistory());
}

} // namespace dielmon
