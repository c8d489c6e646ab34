#include "widgets.h"

#include "qtgbk.h"

#include <QPushButton>

namespace dielmon {

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
    QString shown = Q(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setText(shown);
    setProperty("gbkText", QByteArray::fromStdString(text));
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

} // namespace dielmon
