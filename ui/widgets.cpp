#include "widgets.h"

#include "qtgbk.h"

#include <QComboBox>
#include <QEvent>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace dielmon {

namespace {

// The bytes of the GBK character at `p`, with `left` bytes left in the text. A byte that
// starts no valid character stands alone; GB18030's four-byte forms are taken whole.
int GbkCharBytes(const unsigned char* p, std::size_t left) {
    if (p[0] < 0x81 || p[0] == 0xFF || left < 2) {
        return 1;
    }
    if (p[1] >= 0x30 && p[1] <= 0x39) {
        return left >= 4 ? 4 : 1;
    }
    return p[1] >= 0x40 && p[1] != 0x7F && p[1] != 0xFF ? 2 : 1;
}

} // namespace

TNotebook::TNotebook(const QString& objectName, QWidget* parent) : QStackedWidget(parent) {
    setObjectName(objectName);
}

void TNotebook::AddPage(const QString& name, QWidget* page) {
    page->setObjectName(name);
    addWidget(page);
}

void TNotebook::SetActivePage(const QString& name) {
    if (QWidget* page = Page(name)) {
        setCurrentWidget(page);
    }
}

QString TNotebook::ActivePage() const {
    return currentWidget() != nullptr ? currentWidget()->objectName() : QString();
}

QWidget* TNotebook::Page(const QString& name) const {
    for (int k = 0; k < count(); ++k) {
        if (widget(k)->objectName() == name) {
            return widget(k);
        }
    }
    return nullptr;
}

TextLabel::TextLabel(const QString& objectName, QWidget* parent) : QLabel(parent) {
    setObjectName(objectName);
    setTextFormat(Qt::PlainText);
}

void TextLabel::SetGbkText(const std::string& text) {
    Gbk_ = text;
    if (Grid_) {
        BuildGrid();
    }
    QString shown = Q(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setText(shown);
    setProperty("gbkText", QByteArray::fromStdString(text));
    updateGeometry();
    update();
}

void TextLabel::SetHalfCellGrid(bool on) {
    Grid_ = on;
    BuildGrid();
    updateGeometry();
    update();
}

void TextLabel::BuildGrid() {
    Lines_.clear();
    WidestLine_ = 0;
    if (!Grid_ || Gbk_.empty()) {
        return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(Gbk_.data());
    const std::size_t size = Gbk_.size();
    Lines_.emplace_back();
    for (std::size_t k = 0; k < size;) {
        if (bytes[k] == '\n' || (bytes[k] == '\r' && k + 1 < size && bytes[k + 1] == '\n')) {
            k += bytes[k] == '\r' ? 2 : 1;
            Lines_.emplace_back();
            continue;
        }
        const int n = GbkCharBytes(bytes + k, size - k);
        GridLine& line = Lines_.back();
        GridChar c;
        c.Column = line.Bytes;
        c.Bytes = n;
        c.AfterLatin = k > 0 && bytes[k - 1] > 0x20 && bytes[k - 1] < 0x7F && !line.Chars.empty();
        // Blanks and control bytes take their place and draw nothing.
        if (bytes[k] > 0x20 && bytes[k] < 0x7F) {
            // Live values come many times a second and are mostly ASCII: no conversion.
            c.Text = QChar(bytes[k]);
        } else if (bytes[k] > 0x7F) {
            c.Text = Q(Gbk_.substr(k, static_cast<std::size_t>(n)));
            if (c.Text == QStringLiteral("\u3000")) {
                c.Text.clear();
            }
        }
        line.Chars.push_back(std::move(c));
        line.Bytes += n;
        WidestLine_ = std::max(WidestLine_, line.Bytes);
        k += static_cast<std::size_t>(n);
    }
}

double TextLabel::HalfCell() const {
    const QFontMetricsF metrics(font());
    const double cell = metrics.horizontalAdvance(QChar(0x4E2D));
    if (cell > 0) {
        return cell / 2;
    }
    return font().pixelSize() > 0 ? font().pixelSize() / 2.0 : metrics.height() / 2;
}

QSize TextLabel::GridBlockSize() const {
    const QFontMetricsF metrics(font());
    return QSize(
        static_cast<int>(std::ceil(WidestLine_ * HalfCell())),
        static_cast<int>(std::ceil(static_cast<double>(Lines_.size()) * metrics.lineSpacing())));
}

QSize TextLabel::sizeHint() const {
    if (!Grid_) {
        return QLabel::sizeHint();
    }
    const QMargins m = contentsMargins();
    return GridBlockSize() +
           QSize(m.left() + m.right() + 2 * margin(), m.top() + m.bottom() + 2 * margin());
}

QSize TextLabel::minimumSizeHint() const {
    return Grid_ ? sizeHint() : QLabel::minimumSizeHint();
}

void TextLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (Grid_ && event->type() == QEvent::FontChange) {
        updateGeometry();
    }
}

void TextLabel::paintEvent(QPaintEvent* event) {
    if (!Grid_) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const QRectF area = QRectF(contentsRect()).adjusted(margin(), margin(), -margin(), -margin());
    const QFontMetricsF metrics(font());
    const double half = HalfCell();
    const double width = WidestLine_ * half;
    const double height = static_cast<double>(Lines_.size()) * metrics.lineSpacing();
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    double left = area.left() + (area.width() - width) / 2;
    if (align & Qt::AlignLeft) {
        left = area.left();
    } else if (align & Qt::AlignRight) {
        left = area.right() - width;
    }
    double top = area.top();
    if (align & Qt::AlignBottom) {
        top = area.bottom() - height;
    } else if (align & Qt::AlignVCenter) {
        top = area.top() + (area.height() - height) / 2;
    }
    painter.setFont(font());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    for (std::size_t row = 0; row < Lines_.size(); ++row) {
        const double baseline =
            top + static_cast<double>(row) * metrics.lineSpacing() + metrics.ascent();
        for (const GridChar& c : Lines_[row].Chars) {
            if (c.Text.isEmpty()) {
                continue;
            }
            const double span = c.Bytes * half;
            const double x = left + c.Column * half;
            const double advance = metrics.horizontalAdvance(c.Text);
            if (advance <= span + 0.01) {
                // A narrower glyph (a face's own °, Φ or Ω) sits in the middle of its cells,
                // or at their start when it is the unit of the number before it (89.753°).
                const double inset = c.AfterLatin ? 0 : (span - advance) / 2;
                painter.drawText(QPointF(x + inset, baseline), c.Text);
            } else {
                // A wider one is narrowed to its cells rather than pushing the line along.
                painter.save();
                painter.translate(x, baseline);
                painter.scale(span / advance, 1.0);
                painter.drawText(QPointF(0, 0), c.Text);
                painter.restore();
            }
        }
    }
}

ButtonRow::ButtonRow(QPushButton* left, QPushButton* middle, QPushButton* right, QWidget* parent)
    : QWidget(parent), Left_(left), Middle_(middle), Right_(right) {
    for (QPushButton* b : {left, middle, right}) {
        b->setParent(this);
    }
}

ButtonRow::ButtonRow(QPushButton* single, QWidget* parent) : QWidget(parent), Middle_(single) {
    single->setParent(this);
}

void ButtonRow::Arrange() {
    const int top = (height() - Middle_->height()) / 2;
    const int middle = width() / 2 - Middle_->width() / 2;
    Middle_->move(middle, top);
    if (Left_ != nullptr) {
        Left_->move(middle - 20 - Left_->width(), top);
    }
    if (Right_ != nullptr) {
        Right_->move(middle + Middle_->width() + 20, top);
    }
}

void ButtonRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Arrange();
}

QPushButton* MakeButton(const QString& objectName, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(objectName);
    b->setFixedSize(75, 25);
    return b;
}

QScrollArea* ScrollPage(QWidget* content) {
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(content);
    // The page shows the window's own background, as it did before it could scroll.
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return area;
}

namespace {

class ComboWheelGuard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel) {
            auto* box = qobject_cast<QComboBox*>(watched);
            if (box != nullptr && !box->hasFocus()) {
                // Not taken by the box, the wheel goes on to what holds it (a scroll area).
                event->ignore();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void GuardComboWheel(QWidget* root) {
    auto* guard = new ComboWheelGuard(root);
    for (QComboBox* box : root->findChildren<QComboBox*>()) {
        // A wheel turned over a box must not give it the focus on the way.
        box->setFocusPolicy(Qt::StrongFocus);
        box->installEventFilter(guard);
    }
}

void MarkInvalid(QLineEdit* edit, bool invalid, const QString& why) {
    if (edit->property("invalid").toBool() == invalid) {
        return;
    }
    edit->setProperty("invalid", invalid);
    if (invalid) {
        QPalette p = edit->palette();
        p.setColor(QPalette::Base, QColor(255, 214, 214));
        edit->setPalette(p);
        edit->setToolTip(why);
    } else {
        edit->setPalette(QPalette());
        edit->setToolTip(QString());
    }
}

} // namespace dielmon
