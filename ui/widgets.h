// Small widgets the window is built from: notebooks whose pages are addressed by name, labels
// that keep the exact GBK text they show, rows of three buttons centred on the middle one, pages
// that scroll, and combo boxes that a passing mouse wheel leaves alone.
#pragma once

#include <QLabel>
#include <QStackedWidget>
#include <QWidget>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QScrollArea;

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
//
// The result texts are padded for 宋体, in which every GBK byte is half a Chinese cell wide. On
// the half-cell grid the label draws them that way whatever widths the installed face gives its
// letters, digits and symbols: each character takes as many half cells as it has bytes (a Chinese
// character, Φ or Ω one full cell), and the lines are centred as one block, the widest line
// (trailing blanks included) deciding the left edge, so that colons and values stand in columns.
class TextLabel : public QLabel {
    Q_OBJECT
public:
    explicit TextLabel(const QString& objectName, QWidget* parent = nullptr);
    void SetGbkText(const std::string& text);
    const std::string& GbkText() const { return Gbk_; }

    void SetHalfCellGrid(bool on);
    bool HalfCellGrid() const { return Grid_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // One character of the text: its bytes' place on its line, counted in half cells.
    struct GridChar {
        QString Text;
        int Column = 0;
        int Bytes = 0;
        bool AfterLatin = false; // right after a letter or digit, as a unit after its number
    };
    struct GridLine {
        std::vector<GridChar> Chars;
        int Bytes = 0;
    };
    void BuildGrid();
    double HalfCell() const;
    QSize GridBlockSize() const;

    std::string Gbk_;
    bool Grid_ = false;
    std::vector<GridLine> Lines_;
    int WidestLine_ = 0;
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

// A page that scrolls when the window is too small for it rather than cutting its lines. The
// scroll area stands in the notebook as the page; `content` keeps its own objectName.
QScrollArea* ScrollPage(QWidget* content);

// The mouse wheel over a combo box that does not have the focus leaves its choice alone and
// scrolls whatever holds it; a combo box the operator has clicked or tabbed into takes the
// wheel as usual. Applied to every combo box under `root`, those there now.
void GuardComboWheel(QWidget* root);

// A field whose text cannot be taken is tinted, and says why when the pointer rests on it.
void MarkInvalid(QLineEdit* edit, bool invalid, const QString& why);

} // namespace dielmon
