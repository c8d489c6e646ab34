// The test parameter panel: the core's Panel model mirrored into the widgets, and the
// operator's choices fed back into it.
#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"

#include <QAction>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

namespace dielmon {

namespace {

void MirrorCombo(QComboBox* box, const ComboModel& m) {
    const QSignalBlocker block(box);
    QStringList items;
    for (const std::string& item : m.Items) {
        items << Q(item);
    }
    QStringList shown;
    for (int k = 0; k < box->count(); ++k) {
        shown << box->itemText(k);
    }
    if (items != shown) {
        box->clear();
        box->addItems(items);
    }
    box->setCurrentIndex(m.ItemIndex);
    box->setEnabled(m.Enabled);
    box->setVisible(m.Visible);
    if (m.Width > 0) {
        box->setFixedWidth(m.Width);
    }
}

void MirrorEdit(QLineEdit* edit, const EditModel& m) {
    const QString text = Q(m.Text);
    if (edit->text() != text) {
        const QSignalBlocker block(edit);
        edit->setText(text);
    }
    edit->setEnabled(m.Enabled);
    edit->setVisible(m.Visible);
}

} // namespace

void TfrmDielmon::ApplyPanel() {
    const Panel& p = Controller_.PanelModel();
    MirrorCombo(CBox_EleType, p.CBox_EleType);
    MirrorCombo(CBox_ConnType, p.CBox_ConnType);
    MirrorCombo(CBox_Model, p.CBox_Model);
    MirrorCombo(CBox_U, p.CBox_U);
    MirrorCombo(CBox_Freq, p.CBox_Freq);
    MirrorCombo(CBox_TestVolt, p.CBox_TestVolt);
    MirrorCombo(CBox_CurrentUp, p.CBox_CurrentUp);
    MirrorCombo(CBox_JLVoltUp, p.CBox_JLVoltUp);
    MirrorCombo(CBox_JLCultUp, p.CBox_JLCultUp);
    MirrorEdit(Edt_Volt, p.Edt_Volt);
    MirrorEdit(Edt_C, p.Edt_C);
    MirrorEdit(Edt_JS, p.Edt_JS);
    MirrorEdit(CBox_VoltUp, p.CBox_VoltUp);
    Label2->setVisible(p.Label2Visible);
    if (BBtn_StartTest != nullptr) {
        BBtn_StartTest->setEnabled(p.BBtn_StartTest);
        BBtn_UpHis->setEnabled(p.BBtn_UpHis);
        BBtn_DelHis->setEnabled(p.BBtn_DelHis);
    }
    N1->setEnabled(p.N1);
    N2->setEnabled(p.N2);
    N9->setEnabled(p.N9);
    N6->setEnabled(p.N6);
}

void TfrmDielmon::PanelChoice(QComboBox* box, int index) {
    const std::pair<QComboBox*, PanelCombo> combos[] = {
        {CBox_EleType, PanelCombo::CBox_EleType},     {CBox_ConnType, PanelCombo::CBox_ConnType},
        {CBox_Model, PanelCombo::CBox_Model},         {CBox_U, PanelCombo::CBox_U},
        {CBox_Freq, PanelCombo::CBox_Freq},           {CBox_TestVolt, PanelCombo::CBox_TestVolt},
        {CBox_CurrentUp, PanelCombo::CBox_CurrentUp}, {CBox_JLVoltUp, PanelCombo::CBox_JLVoltUp},
        {CBox_JLCultUp, PanelCombo::CBox_JLCultUp},
    };
    for (const auto& [widget, combo] : combos) {
        if (widget == box) {
            Apply(Controller_.PanelChoice(combo, index));
        }
    }
}

bool TfrmDielmon::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !CheckingRange_) {
        // Leaving the field for another control of the window; a window that loses the
        // focus, or a menu that opens, is not leaving it.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            // Checked once the focus has moved on: a message box shown inside the focus change
            // would fight it for the focus.
            if (watched == Edt_Volt) {
                QTimer::singleShot(0, this, [this] { CheckField(PanelEdit::Edt_Volt, Edt_Volt); });
            } else if (watched == CBox_VoltUp) {
                QTimer::singleShot(0, this,
                                   [this] { CheckField(PanelEdit::CBox_VoltUp, CBox_VoltUp); });
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmDielmon::CheckField(PanelEdit field, QLineEdit* edit) {
    if (CheckingRange_) {
        return;
    }
    const Effects e = Controller_.FieldLeft(field);
    if (e.Messages.empty()) {
        return;
    }
    CheckingRange_ = true;
    Apply(e);
    CheckingRange_ = false;
    if (e.Refocus) {
        edit->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace dielmon
