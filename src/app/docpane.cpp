// The documentation pane over a read-only plain text control.
#include "app/docpane.h"

#include <QPalette>
#include <QPlainTextEdit>

TDocPane::TDocPane(QWidget* parent, int left, int top, int width, int height)
    : FEdit(new QPlainTextEdit(parent)) {
    FEdit->setObjectName(QStringLiteral("txtDoc"));
    FEdit->setGeometry(left, top, width, height);
    FEdit->setReadOnly(true);
    FEdit->setFrameShape(QFrame::NoFrame);
    FEdit->setFocusPolicy(Qt::ClickFocus);
    FEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FEdit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    FEdit->document()->setDocumentMargin(0);
    QPalette p = FEdit->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Button));
    FEdit->setPalette(p);
}

QWidget* TDocPane::Widget() const { return FEdit; }

void TDocPane::Clear() {
    FLines.clear();
    FEdit->clear();
}

void TDocPane::Add(const QString& line) {
    FLines << line;
    Show();
}

void TDocPane::SetText(const QString& text) {
    FLines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    Show();
}

QString TDocPane::Text() const { return FLines.join(QLatin1Char('\n')); }

void TDocPane::Show() { FEdit->setPlainText(FLines.join(QLatin1Char('\n'))); }
