// The documentation pane over the colour memo: read-only, borderless, in the button-face
// colour, with the phrases between "<" and ">" shown as green hot spots whose markers are
// painted in the background colour.
#include "app/docpane.h"

#include "components/ColMemo/colmemo.h"

TDocPane::TDocPane(QWidget* parent, int left, int top, int width, int height)
    : FEdit(new TColorMemo(parent)) {
    FEdit->setObjectName(QStringLiteral("txtDoc"));
    FEdit->setGeometry(left, top, width, height);
    FEdit->setReadOnly(true);
    FEdit->setFrameShape(QFrame::NoFrame);
    FEdit->setFocusPolicy(Qt::ClickFocus);
    FEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FEdit->SetColor(clBtnFace);
    THotSpot hotSpot;
    hotSpot.BeginChar = QLatin1Char('<');
    hotSpot.EndChar = QLatin1Char('>');
    hotSpot.Color = clGreen;
    hotSpot.MarkerColor = clBtnFace;
    hotSpot.Active = true;
    FEdit->SetHotSpot(hotSpot);
    FEdit->OnHotSpotClick = [this](TColorMemo*, const QString& phrase) {
        if (OnHotSpotClick) OnHotSpotClick(phrase);
    };
    // The pane lives exactly as long as its control, which its parent window owns.
    QObject::connect(FEdit, &QObject::destroyed, [this] { delete this; });
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

void TDocPane::Show() { FEdit->setText(FLines.join(QLatin1Char('\n'))); }
