#include "dialogs.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPrintDialog>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace dielmon {

namespace {

// Qt places a dialog by a guess at the window frame (40 pixels of title bar where the desktop
// reports none) and a message box by the size it had before it was laid out for its text; placed
// again as it is shown, a dialog stands in the middle of the window it belongs to.
void Centre(QWidget* dialog) {
    if (dialog->parentWidget() != nullptr) {
        dialog->move(CentredOn(dialog->parentWidget()->window(), dialog->frameGeometry().size()));
    }
}

class CentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        Centre(this);
    }
};

class CentreOnShow : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            Centre(static_cast<QWidget*>(watched));
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

QPoint CentredOn(const QWidget* window, QSize frameSize) {
    const QRect frame = window->frameGeometry();
    QPoint topLeft = frame.center() - QPoint(frameSize.width() / 2, frameSize.height() / 2);
    if (const QScreen* screen = window->screen()) {
        // Never off the screen, where a window larger than it would otherwise put the dialog.
        const QRect area = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), area.left(),
                                std::max(area.left(), area.right() + 1 - frameSize.width())));
        topLeft.setY(std::clamp(topLeft.y(), area.top(),
                                std::max(area.top(), area.bottom() + 1 - frameSize.height())));
    }
    return topLeft;
}

void CentreWhenShown(QWidget* dialog) {
    dialog->installEventFilter(new CentreOnShow(dialog));
}

Dialogs::Answer QtDialogs::Message(QWidget* parent, const QString& text, const QString& caption,
                                   Icon icon, Buttons buttons) {
    CentredMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    }
    if (buttons == Buttons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

QString QtDialogs::SaveFileName(QWidget* parent, const QString& title, const QString& start,
                                const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent, title, start, filter);
    CentreWhenShown(&dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    // Saving a result appends to an existing file, so choosing one needs no warning; a file
    // that would be replaced is asked about by the caller.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

QString QtDialogs::OpenFileName(QWidget* parent, const QString& title, const QString& start,
                                const QString& filter) {
    QFileDialog dialog(parent, title, start, filter);
    CentreWhenShown(&dialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

int QtDialogs::ChooseItem(QWidget* parent, const QString& caption, const QString& label,
                          const QStringList& items) {
    QDialog dialog(parent);
    dialog.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(label, &dialog));
    auto* list = new QListWidget(&dialog);
    list->addItems(items);
    list->setCurrentRow(0);
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() + 24);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
    CentreWhenShown(&dialog);
    if (dialog.exec() != QDialog::Accepted) {
        return -1;
    }
    return list->currentRow();
}

bool QtDialogs::ChoosePrinter(QWidget* parent, QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool QtDialogs::OpenDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

Dialogs::Answer UnattendedDialogs::Message(QWidget*, const QString& text, const QString&, Icon,
                                           Buttons) {
    ++Shown;
    if (Seen) {
        Seen(text);
    }
    return Answer::Ok;
}

QString UnattendedDialogs::SaveFileName(QWidget*, const QString&, const QString&, const QString&,
                                        const QString&) {
    return SaveTo;
}

QString UnattendedDialogs::OpenFileName(QWidget*, const QString&, const QString&, const QString&) {
    return {};
}

int UnattendedDialogs::ChooseItem(QWidget*, const QString&, const QString&, const QStringList&) {
    return -1;
}

bool UnattendedDialogs::ChoosePrinter(QWidget*, QPrinter&) {
    return false;
}

bool UnattendedDialogs::OpenDocument(const QString&) {
    return false;
}

} // namespace dielmon
