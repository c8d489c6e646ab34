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

void Mirror(QComboBox* box, const ComboModel& m) {
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

void Mirror(QLineEdit* edit, const EditModel& m) {
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
    Mirror(CBox_EleType, Panel_.CBox_EleType);
    Mirror(CBox_ConnType, Panel_.CBox_ConnType);
    Mirror(CBox_Model, Panel_.CBox_Model);
    Mirror(CBox_U, Panel_.CBox_U);
    Mirror(CBox_Freq, Panel_.CBox_Freq);
    Mirror(CBox_TestVolt, Panel_.CBox_TestVolt);
    Mirror(CBox_CurrentUp, Panel_.CBox_CurrentUp);
    Mirror(CBox_JLVoltUp, Panel_.CBox_JLVoltUp);
    Mirror(CBox_JLCultUp, Panel_.CBox_JLCultUp);
    Mirror(Edt_Volt, Panel_.Edt_Volt);
    Mirror(Edt_C, Panel_.Edt_C);
    Mirror(Edt_JS, Panel_.Edt_JS);
    Mirror(CBox_VoltUp, Panel_.CBox_VoltUp);
    Label2->setVisible(Panel_.Label2Visible);
    if (BBtn_StartTest != nullptr) {
        BBtn_StartTest->setEnabled(Panel_.BBtn_StartTest);
        BBtn_UpHis->setEnabled(Panel_.BBtn_UpHis);
        BBtn_DelHis->setEnabled(Panel_.BBtn_DelHis);
    }
    N1->setEnabled(Panel_.N1);
    N2->setEnabled(Panel_.N2);
    N9->setEnabled(Panel_.N9);
    N6->setEnabled(Panel_.N6);
}

void TfrmDielmon::ResetPanel(bool enabled) {
    Panel_.ResetPanel(enabled);
    ApplyPanel();
}

void TfrmDielmon::SetPanelLocked(bool locked) {
    Panel_.SetPanelLocked(locked);
    ApplyPanel();
}

void TfrmDielmon::PanelChoice(QComboBox* box, int index) {
    const struct {
        QComboBox* box;
        ComboModel* model;
    } combos[] = {
        {CBox_EleType, &Panel_.CBox_EleType},     {CBox_ConnType, &Panel_.CBox_ConnType},
        {CBox_Model, &Panel_.CBox_Model},         {CBox_U, &Panel_.CBox_U},
        {CBox_Freq, &Panel_.CBox_Freq},           {CBox_TestVolt, &Panel_.CBox_TestVolt},
        {CBox_CurrentUp, &Panel_.CBox_CurrentUp}, {CBox_JLVoltUp, &Panel_.CBox_JLVoltUp},
        {CBox_JLCultUp, &Panel_.CBox_JLCultUp},
    };
    for (const auto& c : combos) {
        if (c.box == box) {
            c.model->Select(index);
        }
    }
    if (box == CBox_ConnType) {
        Panel_.CBox_ConnTypeChange();
    } else if (box == CBox_U) {
        Panel_.CBox_UChange();
    } else if (box == CBox_TestVolt) {
        Panel_.CBox_TestVoltChange();
    }
    ApplyPanel();
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
                QTimer::singleShot(0, this, [this] { Edt_VoltExit(); });
            } else if (watched == CBox_VoltUp) {
                QTimer::singleShot(0, this, [this] { CBox_VoltUpExit(); });
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmDielmon::Edt_VoltExit() {
    if (CheckingRange_) {
        return;
    }
    if (const auto message = TestVoltageRangeMessage(Panel_.Edt_Volt.Text, S_.InstrumentType)) {
        CheckingRange_ = true;
        Message(*message, Dialogs::Icon::Information);
        CheckingRange_ = false;
        Edt_Volt->setFocus(Qt::OtherFocusReason);
    }
}

void TfrmDielmon::CBox_VoltUpExit() {
    if (CheckingRange_) {
        return;
    }
    if (const auto message = VoltageLimitRangeMessage(Panel_.CBox_VoltUp.Text)) {
        CheckingRange_ = true;
        Message(*message, Dialogs::Icon::Information);
        CheckingRange_ = false;
        CBox_VoltUp->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace dielmon
