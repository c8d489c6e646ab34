// Every message box, file dialog and document the window opens goes through Dialogs, so that
// tests can answer them without a modal loop holding a test up.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

class QPrinter;
class QWidget;

namespace dielmon {

class Dialogs {
public:
    enum class Icon { None, Information, Question, Warning };
    enum class Buttons { Ok, OkCancel };
    enum class Answer { Ok, Cancel };

    virtual ~Dialogs() = default;
    virtual Answer Message(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                           Buttons buttons) = 0;
    // The chosen file, or an empty string when the operator cancels. A save dialog starts at
    // `start` (a folder and a suggested file name), an open dialog in the folder `start`.
    virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& start,
                                 const QString& filter, const QString& defaultSuffix) = 0;
    virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& start,
                                 const QString& filter) = 0;
    // One of the items, chosen from a list (the first is chosen at the start): its index, or
    // -1 when the operator cancels.
    virtual int ChooseItem(QWidget* parent, const QString& caption, const QString& label,
                           const QStringList& items) = 0;
    // The print dialog on the printer: false when the operator cancels.
    virtual bool ChoosePrinter(QWidget* parent, QPrinter& printer) = 0;
    // Opens a document with the desktop's default viewer.
    virtual bool OpenDocument(const QString& path) = 0;
};

// The real dialogs of the desktop.
class QtDialogs : public Dialogs {
public:
    Answer Message(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                   Buttons buttons) override;
    QString SaveFileName(QWidget* parent, const QString& title, const QString& start,
                         const QString& filter, const QString& defaultSuffix) override;
    QString OpenFileName(QWidget* parent, const QString& title, const QString& start,
                         const QString& filter) override;
    int ChooseItem(QWidget* parent, const QString& caption, const QString& label,
                   const QStringList& items) override;
    bool ChoosePrinter(QWidget* parent, QPrinter& printer) override;
    bool OpenDocument(const QString& path) override;
};

// For runs with nobody at the screen (measuring programs, long runs, a window driven by another
// process): each message is counted, handed to `Seen` and answered Ok; the file dialogs give
// `SaveTo` (empty: cancelled) or nothing, list choices and print dialogs are cancelled, and no
// document is opened.
class UnattendedDialogs : public Dialogs {
public:
    int Shown = 0;
    QString SaveTo;
    std::function<void(const QString& text)> Seen;

    Answer Message(QWidget* parent, const QString& text, const QString& caption, Icon icon,
                   Buttons buttons) override;
    QString SaveFileName(QWidget* parent, const QString& title, const QString& start,
                         const QString& filter, const QString& defaultSuffix) override;
    QString OpenFileName(QWidget* parent, const QString& title, const QString& start,
                         const QString& filter) override;
    int ChooseItem(QWidget* parent, const QString& caption, const QString& label,
                   const QStringList& items) override;
    bool ChoosePrinter(QWidget* parent, QPrinter& printer) override;
    bool OpenDocument(const QString& path) override;
};

// Where a dialog whose frame is `frameSize` stands centred on `window`'s frame, kept on the
// window's screen: the position to move() it to.
QPoint CentredOn(const QWidget* window, QSize frameSize);
// Centres the dialog on its parent's window each time it is shown.
void CentreWhenShown(QWidget* dialog);

} // namespace dielmon
