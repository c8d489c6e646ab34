// Small widgets the window is built from: notebooks whose pages are addressed by name, labels
// that keep the exact GBK text they show, and rows of three buttons centred on the middle one.
#pragma once

#include <QLabel>
#include <QStackedWidget>
#include <QWidget>
#include <string>

class QPushButton;

namespace dielmon {

class TNotebook : public QStackedWidget {
    Q_OBJECT
public:
    explicit TNotebook(const QString& objectName, QWidget* parent = nullptr);
    // The page gets the page name as its objectName.
    void AddPage(const QString& name, QWidget* page);
    void SetActivePage(const QString& name);
    QString ActivePage() const;
    QWidget* Page(const QString& name) const;
};

// A label holding a GBK text. The display turns CR LF into line breaks; GbkText() gives the
// text back byte for byte for saving and printing.
class TextLabel : public QLabel {
    Q_OBJECT
public:
    explicit TextLabel(const QString& objectName, QWidget* parent = nullptr);
    void SetGbkText(const std::string& text);
    const std::string& GbkText() const { return Gbk_; }

private:
    std::string Gbk_;
};

// Buttons laid out around the middle one: its left edge at half the row's width minus half
// its own width, the left button ending 20 pixels before it, the right one starting 20 after.
// With a single button it is centred.
class ButtonRow : public QWidget {
    Q_OBJECT
public:
    ButtonRow(QPushButton* left, QPushButton* middle, QPushButton* right, QWidget* parent);
    explicit ButtonRow(QPushButton* single, QWidget* parent);
    void Arrange();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPushButton* Left_ = nullptr;
    QPushButton* Middle_ = nullptr;
    QPushButton* Right_ = nullptr;
};

// A button of the window: 75 × 25 pixels unless the caller changes it.
QPushButton* MakeButton(const QString& objectName, const QString& caption, QWidget* parent);

} // namespace dielmon
