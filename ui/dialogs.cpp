#include "dialogs.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
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

QString QtDialogs::SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                const QString& defaultSuffix) {
    QFileDialog dialog(parent, title, QString(), filter);
    CentreWhenShown(&dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    // Saving appends to an existing file, so choosing one needs no warning.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

QString QtDialogs::OpenFileName(QWidget* parent, const QString& title, const QString& filter) {
    QFileDialog dialog(parent, title, QString(), filter);
    CentreWhenShown(&dialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

bool QtDialogs::OpenDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace dielmon
